// Writing, finishing and discarding an exporter's output file.
#include "exporters/export_file.h"

#include <cerrno>
#include <system_error>

namespace vellora {

ExportFile::~ExportFile() {
  if (is_finished_) return;
  file_.reset();
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

ExportResult ExportFile::open() {
  // Whatever is at the path (a leftover, a link, a FIFO) is replaced, never
  // written through; one that appears meanwhile makes the open fail.
  std::error_code ignored;
  if (!std::filesystem::is_directory(std::filesystem::symlink_status(path_, ignored)))
    std::filesystem::remove(path_, ignored);
  file_ = create_new_file(path_);
  if (!file_) {
    const ExportResult result = failure();
    is_finished_ = true;  // nothing of ours to remove: the path may be someone else's
    return result;
  }
  return {};
}

bool ExportFile::write(std::string_view bytes) {
  return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) == bytes.size();
}

ExportResult ExportFile::finish() {
  if (leaves_flush_pending_) {
    const bool written = std::fflush(file_.get()) == 0 && std::ferror(file_.get()) == 0;
    const int error = errno;
    if (std::fclose(file_.release()) != 0 || !written) {
      if (!written) errno = error;
      return failure();
    }
  } else if (!flush_and_close(file_)) {
    return failure();
  }
  is_finished_ = true;
  return {};
}

ExportResult ExportFile::failure() const {
  const int error = errno != 0 ? errno : EIO;
  return {ExportStatus::cannot_write, path_.string() + ": " + errno_text(error)};
}

}  // namespace vellora
