// `vellora mark`: what the user does on the handheld, marking a document
// in the catalog for the next sync to bring to the PC.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "conduit/catalog.h"
#include "conduit/document_types.h"
#include "docmodel/records.h"
#include "hosts/linux/pdb_folder_handheld.h"
#include "hosts/linux/terminal_text.h"
#include "hosts/linux/xdg_paths.h"
#include "tools/document_type_choices.h"
#include "tools/encoding_option.h"
#include "tools/fail.h"
#include "tools/subcommand.h"

namespace vellora::cli {

namespace {

namespace fs = std::filesystem;

struct MarkOptions {
  std::string name;
  std::string handheld;  // empty: the default handheld folder
  std::string as;        // empty: the type the name's extension says
  std::string encoding;  // empty: TextEncoding from the registry file, else the locale
};

int mark(const fs::path& handheld_folder, const std::string& typed_name, const std::string& as,
         const std::string& encoding) {
  if (!fs::is_directory(handheld_folder)) return fail(handheld_folder.string(), "no such handheld folder");
  // The name is typed on the PC; the catalog holds it in the handheld's characters.
  std::string why_not;
  const TextCodec* codec = choose_codec(encoding, why_not);
  if (codec == nullptr) return fail(why_not);
  const std::string name = codec->name_to_handheld(typed_name);
  if (name.empty() || name.size() > kCatalogNameBytes - 1)
    return fail(typed_name, "a document name has 1 to 37 characters");
  std::string extension = ".";
  extension += to_lower_ascii(as);
  if (as.empty()) extension = to_lower_ascii(fs::path(name).extension().string());
  const DocumentType* type = find_document_type(extension);
  if (type == nullptr)
    return fail(typed_name, "say which type to receive it as: --as " + names_in_words(document_type_names(), "or"));

  linux_host::PdbFolderHandheld handheld(handheld_folder);
  ConduitHandle session = 0;
  if (handheld.SyncRegisterConduit(session) != kSyncOk) return fail(handheld_folder.string(), handheld.last_error());
  std::vector<CatalogEntry> entries;
  const CatalogResult read = read_catalog(handheld, entries);
  // A catalog that is there but unusable is never replaced by a second one.
  if (read.status == CatalogStatus::failed || read.status == CatalogStatus::foreign)
    return fail((handheld_folder / database_file_name(kCatalogName)).string(), read.reason);
  CatalogEntry* entry = nullptr;
  for (auto& candidate : entries)
    if (candidate.name() == name) entry = &candidate;
  if (entry == nullptr) {
    entry = &entries.emplace_back();
    std::copy(name.begin(), name.end(), entry->bytes.begin());
  }
  entry->category = static_cast<std::uint16_t>(type->number);
  entry->set_mark(1);
  if (const CatalogResult written = rebuild_catalog(handheld, entries); !written)
    return fail(handheld_folder.string(), handheld.last_error().empty() ? written.reason : handheld.last_error());
  handheld.SyncUnRegisterConduit(session);
  DbInfo info;
  FindDbRequest request;
  request.name = name;
  const bool present = handheld.SyncFindDbByName(request, info) == kSyncOk;
  std::printf("marked \"%s\" to come to the PC as %s at the next sync%s\n",
              linux_host::terminal_safe(typed_name).c_str(), std::string(type->extension).c_str(),
              present ? "" : " (no such document on the handheld yet)");
  return 0;
}

}  // namespace

Subcommand add_mark(CLI::App& app) {
  auto options = std::make_shared<MarkOptions>();
  auto* command = app.add_subcommand("mark", "Mark a handheld document for the PC, as the user does on the handheld");
  command->add_option("NAME", options->name, "Document name on the handheld, e.g. notes.txt")->required();
  command->add_option("--handheld", options->handheld,
                      "Handheld folder of .pdb files (default: $XDG_DATA_HOME/vellora/handheld)");
  command->add_option(
      "--as", options->as,
      "Type to receive it as: " + names_in_words(document_type_names(), "or") + " (default: from the name)");
  command
      ->add_option("--encoding", options->encoding,
                   "How the name is typed: utf-8 or cp1252 (default: TextEncoding from the settings, else the locale)")
      ->check(encoding_choices());
  return {command, [options, command] {
            std::string folder = options->handheld;
            if (command->count("--handheld") == 0) {
              const auto default_folder = linux_host::default_handheld_folder();
              folder = default_folder ? default_folder->string() : std::string();
            }
            return mark(folder, options->name, options->as, options->encoding);
          }};
}

}  // namespace vellora::cli
