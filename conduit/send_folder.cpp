// The send folder's listing and the per-file facts the send pass's steps
// share. Nothing here writes to the handheld; a conversion reads the file
// it names and nothing else in the folder but its own work files.
#include "conduit/send_folder.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "base/ascii.h"

namespace vellora {

namespace fs = std::filesystem;

namespace {

std::string_view describe_type(fs::file_type type) {
  const std::string_view kind = special_file_kind(type);
  return kind.empty() ? "not a regular file" : kind;
}

}  // namespace

bool list_files(const fs::path& folder, std::vector<FolderEntry>& out) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) return false;
  fs::directory_iterator it(folder, error);
  if (error) return false;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) return false;
    const auto status = it->symlink_status(error);
    if (error || fs::is_directory(status)) continue;
    std::string name = host_text(it->path().filename());
    if (!fs::is_regular_file(status)) {
      out.push_back({std::move(name), 0, {}, describe_type(status.type())});
      continue;
    }
    FileStamp stamp;
    if (!stamp_entry(it->path(), stamp)) continue;
    if (!stamp.is_regular) {
      out.push_back({std::move(name), 0, {}, "not a regular file"});
      continue;
    }
    out.push_back({std::move(name), stamp.size_bytes, stamp, {}});
  }
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  return true;
}

const DocumentType* document_type_of(std::string_view lower_name) {
  const auto dot = lower_name.rfind('.');
  return dot == std::string_view::npos ? nullptr : find_document_type(lower_name.substr(dot));
}

SendFolder::SendFolder(Conduit& conduit, fs::path folder) : conduit_(conduit), folder_(std::move(folder)) {
  std::error_code error;
  const auto& receive = conduit.settings.receive_folder;
  is_receive_folder_ = !receive.empty() && fs::equivalent(folder_, host_path(receive), error);
}

std::string SendFolder::shown(const std::string& name) const { return codec().name_to_pc(name).value_or(name); }

std::string SendFolder::quoted(const std::string& name) const {
  std::string text = "\"";
  text += shown(name);
  text += '"';
  return text;
}

FileConversion SendFolder::convert(const FolderEntry& entry, const DocumentType& type) const {
  ImportOptions options;
  options.registry = &conduit_.platform.registry;
  options.converters = &conduit_.platform.converters;
  options.on_converter = [&](const std::string& converter) {
    conduit_.report(SessionEventKind::converting, entry.name, "with the text converter " + converter);
  };
  options.codec = &codec();
  options.listed_source = &entry.stamp;
  return convert_file(type, file_path(entry.name), entry.name, folder_, std::move(options),
                      static_cast<std::size_t>(entry.bytes));
}

void SendFolder::keep(const std::string& file, const std::string& why, bool warn) const {
  if (warn) conduit_.not_all_sent = true;
  conduit_.report(SessionEventKind::kept, file, why);
}

}  // namespace vellora
