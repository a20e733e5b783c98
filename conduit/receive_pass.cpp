// Receive pass. An existing PC file is replaced only once its new content is
// complete: the exporter writes a temporary file in the receive folder that
// is renamed over the target when the export succeeded.
#include "conduit/receive_pass.h"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/files.h"
#include "conduit/catalog.h"
#include "conduit/document_types.h"

namespace vellora {

namespace fs = std::filesystem;

namespace {

bool may_overwrite(Conduit& conduit, const std::string& target) {
  const std::uint32_t policy = conduit.settings.receive_policy;
  if (policy == kNeverOverwrite) return false;
  if (policy != kAskBeforeOverwrite) return true;
  const std::string question = "File " + target + " already exists on your PC! Overwrite?";
  return conduit.platform.message_box.show(question, kQuestionCaption, kStyleYesNoWarning) == kAnswerYes;
}

// Files of this pass written without a flush: each pass flushes them at
// once before the catalog clears their marks.
struct PendingFlush {
  std::vector<fs::path> files;
  std::vector<CatalogEntry*> entries;
  bool has_renames = false;  // files replaced in place, whose folder entries still need a flush
};

void export_entry(Conduit& conduit, const fs::path& folder, CatalogEntry& entry, PendingFlush& pending) {
  const TextCodec& codec = conduit.platform.codec;
  const std::string handheld_name = entry.name();
  // The file name comes through the codec, and the checks apply to what
  // it made.
  const std::optional<std::string> pc_name = codec.name_to_pc(handheld_name);
  const std::string name = pc_name.value_or(handheld_name);
  const DocumentType* type = document_type_number(entry.category);
  if (type == nullptr) {
    conduit.report(SessionEventKind::skipped, name, "unknown document type " + std::to_string(entry.category));
    return;
  }
  const auto target = pc_name ? receive_file_name(*pc_name, type->extension) : std::nullopt;
  if (!target) {
    conduit.report(SessionEventKind::skipped, name, "its name cannot be a file name in the receive folder");
    return;
  }
  const fs::path path = folder / host_path(*target);
  std::error_code error;
  const auto status = fs::symlink_status(path, error);
  const bool replaces = fs::exists(status) && !fs::is_directory(status);
  if (replaces && !may_overwrite(conduit, *target)) {
    conduit.report(SessionEventKind::skipped, name, *target + " already exists and was not overwritten");
    return;
  }

  const fs::path temporary = folder / host_path(".vellora-receive-" + *target + ".tmp");
  fs::remove(temporary, error);
  // A file that replaces another is flushed before its rename, so a power
  // cut leaves the old or the new one; a new file is flushed with the rest.
  const ExportOptions options{conduit.settings.font_name, conduit.settings.font_size, !replaces, &codec};
  const ExportResult exported = type->export_to(conduit.platform.sync, handheld_name, temporary, options);
  if (!exported) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    conduit.report(SessionEventKind::skipped, name, exported.reason);
    return;
  }
  // A file replaced keeps its permissions, as one rewritten in place would.
  error.clear();
  if (replaces) {
    std::error_code no_status;
    const fs::file_status old = fs::status(path, no_status);
    if (!no_status && fs::is_regular_file(old))
      fs::permissions(temporary, old.permissions(), fs::perm_options::replace, error);
  }
  if (!error) fs::rename(temporary, path, error);
  if (error) {
    // The rename's error is the reason; the clean-up must not replace it.
    std::error_code ignored;
    fs::remove(temporary, ignored);
    conduit.report(SessionEventKind::skipped, name, "cannot replace " + host_text(path) + ": " + error.message());
    return;
  }
  if (replaces) {
    pending.has_renames = true;
  } else {
    pending.files.push_back(path);
    pending.entries.push_back(&entry);
  }
  conduit.received_files.insert(*target);
  conduit.report(SessionEventKind::received, name, host_text(path));
}

}  // namespace

std::optional<std::string> receive_file_name(std::string_view document_name, std::string_view extension) {
  for (unsigned char c : document_name)
    if (c == '/' || c == '\\' || c == ':' || c < 0x20 || c == 0x7F) return std::nullopt;
  const std::string_view base = document_name.substr(0, document_name.rfind('.'));
  if (base.empty() || base == "." || base == "..") return std::nullopt;
  return std::string(base) + std::string(extension);
}

void run_receive_pass(Conduit& conduit) {
  const std::string& folder_text = conduit.settings.receive_folder;
  if (const std::string why = folder_problem(folder_text, conduit.settings.receive_folder_problem); !why.empty()) {
    conduit.report(SessionEventKind::idle, "receive pass", why);
    return;
  }
  const fs::path folder = host_path(folder_text);
  SyncManager& sync = conduit.platform.sync;

  std::vector<CatalogEntry> entries;
  const CatalogResult read = read_catalog(sync, entries);
  if (read.status == CatalogStatus::failed || read.status == CatalogStatus::foreign) {
    conduit.report(SessionEventKind::problem, std::string(kCatalogName), read.reason + "; nothing was received");
    return;
  }
  if (!read) return;

  PendingFlush pending;
  for (CatalogEntry& entry : entries) {
    if (!entry.is_marked()) continue;
    // A request is consumed once seen, whatever becomes of it.
    entry.set_mark(0);
    contain_failure(conduit, entry.name(), [&] { export_entry(conduit, folder, entry, pending); });
  }
  // The marks are cleared when the catalog is rebuilt, so the files must be
  // durable before then. Files that cannot be made so keep their marks and
  // come again next time. A folder that cannot be flushed still has them.
  if (!flush_files(pending.files, folder)) {
    const std::string why = errno_text(errno);
    for (CatalogEntry* entry : pending.entries) entry->set_mark(1);
    conduit.report(SessionEventKind::problem, "receive pass",
                   folder_text + ": the received files could not be flushed to disk (" + why +
                       "); they stay marked on the handheld");
  } else if (pending.files.empty() && pending.has_renames) {
    flush_folder(folder);
  }
  if (const CatalogResult rebuilt = rebuild_catalog(sync, entries); !rebuilt)
    conduit.report(SessionEventKind::problem, std::string(kCatalogName), rebuilt.reason);
}

}  // namespace vellora
