// `vellora export` (a database file through an exporter, without a session)
// and `vellora mark` (what the user does on the handheld: mark a document
// in the catalog for the next sync to bring to the PC).
#include <cstdio>
#include <system_error>
#include <vector>

#include "conduit/catalog.h"
#include "conduit/document_types.h"
#include "docmodel/records.h"
#include "hosts/linux/pdb_file.h"
#include "hosts/linux/pdb_folder_handheld.h"
#include "hosts/linux/terminal_text.h"
#include "hosts/linux/xdg_paths.h"
#include "tools/commands.h"
#include "tools/document_type_choices.h"
#include "tools/encoding_option.h"
#include "tools/export_options.h"
#include "tools/output_file.h"
#include "tools/scratch_folder.h"

namespace vellora::cli {

namespace fs = std::filesystem;

int export_command(const fs::path& database, const std::string& to, const fs::path& output,
                   const ExportCommandOptions& command_options) {
  const DocumentType* type = export_type_named(to);
  if (type == nullptr) return fail(to, "not an export type (" + names_in_words(export_type_names(), "or") + ")");
  if (is_same_file(database, output)) return fail_same_file(database, output);
  ExportOptions options;
  if (std::string why_not; !resolve_export_options(command_options, posix::default_registry_file(), options, why_not))
    return fail(why_not);
  posix::PdbHeader header;
  std::uint16_t records = 0;
  if (auto read = posix::read_pdb_header_file(database, header, records); !read) return fail(read.reason);
  if (header.type != kDocumentType || header.creator != kDocumentCreator)
    return fail(database.string(), "not a handheld document (type " + four_cc_text(header.type) + ", creator " + four_cc_text(header.creator) + ")");
  fs::path output_folder = output.parent_path();
  if (output_folder.empty()) output_folder = ".";
  if (!fs::is_directory(output_folder)) return fail(output.string(), "its folder does not exist");
  if (fs::is_directory(output)) return fail(output.string(), "is a folder; name the file to write");

  // The exporter reads through the handheld interface, so the file is
  // served by a handheld folder of its own; the output is written beside
  // its final name and renamed into place only when complete.
  remove_stale_scratch_folders(fs::temp_directory_path());
  ScratchFolder store(fs::temp_directory_path());
  if (!store) return fail(fs::temp_directory_path().string(), "cannot make a working folder: " + store.error());
  // A hard link serves the file without copying it, however large; the
  // handheld only reads it, and would replace rather than rewrite it. A
  // copy is the fallback when the scratch folder is on another file system
  // or linking is refused.
  std::error_code error;
  const fs::path served = store.path() / "document.pdb";
  // Linking does not follow a symbolic link; the file it names is linked.
  const fs::path target = fs::canonical(database, error);
  if (!error) fs::create_hard_link(target, served, error);
  if (error) {
    error.clear();
    fs::copy_file(database, served, error);
  }
  if (error) return fail(database.string(), error.message());
  remove_stale_scratch_folders(output_folder);
  ScratchFolder staging(output_folder);
  if (!staging) return fail(output_folder.string(), "cannot make a working folder: " + staging.error());
  const fs::path temporary = staging.path() / "export";
  posix::PdbFolderHandheld handheld(store.path());
  const ExportResult exported = type->export_to(handheld, header.name, temporary, options);
  if (!exported) return fail(database.string(), exported.reason);
  rename_over_output(temporary, output, error);
  if (error) return fail(output.string(), error.message());
  std::printf("%s -> %s\n", posix::terminal_safe(database.string()).c_str(), posix::terminal_safe(output.string()).c_str());
  return 0;
}

int mark_command(const fs::path& handheld_folder, const std::string& typed_name, const std::string& as,
                 const std::string& encoding) {
  if (!fs::is_directory(handheld_folder)) return fail(handheld_folder.string(), "no such handheld folder");
  // The name is typed on the PC; the catalog holds it in the handheld's characters.
  std::string why_not;
  const TextCodec* codec = choose_codec(encoding, why_not);
  if (codec == nullptr) return fail(why_not);
  const std::string name = codec->name_to_handheld(typed_name);
  if (name.empty() || name.size() > kCatalogNameBytes - 1) return fail(typed_name, "a document name has 1 to 37 characters");
  const std::string extension = as.empty() ? to_lower_ascii(fs::path(name).extension().string()) : "." + to_lower_ascii(as);
  const DocumentType* type = find_document_type(extension);
  if (type == nullptr)
    return fail(typed_name, "say which type to receive it as: --as " + names_in_words(document_type_names(), "or"));

  posix::PdbFolderHandheld handheld(handheld_folder);
  ConduitHandle session = 0;
  if (handheld.SyncRegisterConduit(session) != kSyncOk) return fail(handheld_folder.string(), handheld.last_error());
  std::vector<CatalogEntry> entries;
  const CatalogResult read = read_catalog(handheld, entries);
  // A catalog that is there but unusable is never replaced by a second one.
  if (read.status == CatalogStatus::failed || read.status == CatalogStatus::foreign)
    return fail((handheld_folder / posix::database_file_name(kCatalogName)).string(), read.reason);
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
  std::printf("marked \"%s\" to come to the PC as %s at the next sync%s\n", posix::terminal_safe(typed_name).c_str(),
              std::string(type->extension).c_str(), present ? "" : " (no such document on the handheld yet)");
  return 0;
}

}  // namespace vellora::cli
