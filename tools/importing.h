// What `vellora stage` and `vellora convert` share on the way into an
// importer: the importer a file's extension chooses, the check that the
// file can be read, and the settings the importer reads. The name a sync
// would give the document comes from conduit/convert_file.h.
#pragma once

#include <filesystem>
#include <string>

#include "conduit/document_types.h"
#include "hosts/linux/dl_text_converters.h"
#include "hosts/linux/registry_file.h"
#include "hosts/linux/xdg_paths.h"
#include "importers/import_file.h"
#include "platform/text_codec.h"

namespace vellora::cli {

// The importer for a file, chosen by its extension in any case; null with
// the reason otherwise.
const DocumentType* importer_for(const std::filesystem::path& file, std::string& why_not);

// Whether `file` is a regular file that can be read; the reason if not.
bool is_readable_file(const std::filesystem::path& file, std::string& why_not);

// What an importer gets from the command line: the registry file's text
// converters, announced on the terminal when one takes the file.
struct Importing {
  bool load(const std::string& registry_file, const std::string& encoding, std::string& why_not);

  linux_host::RegistryFile registry{linux_host::bundled_office_converter()};
  linux_host::DlTextConverterLibrary converters;
  ImportOptions options;
};

}  // namespace vellora::cli
