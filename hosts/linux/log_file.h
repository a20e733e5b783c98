// The HotSync log of the Linux host: one line per entry appended to a text
// file,
//   YYYY-MM-DD HH:MM:SS<TAB>activity<TAB>text
// with the local time of the entry. Control characters in the text become
// spaces so that an entry stays on its line. The file and its folders are
// created on the first entry.
//
// Each entry opens the file in append mode and writes its line in one
// write, so entries of concurrent sessions never interleave inside a line
// and a log rotated between sessions is picked up. A failed write is
// never an error of the session: it is kept in last_error() for the
// command line to show as a warning.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/hotsync_log.h"

namespace vellora::linux_host {

// The line for one entry, newline included.
std::string log_line(std::time_t when, std::string_view text, std::int32_t activity);

class LogFile : public HotSyncLog {
 public:
  explicit LogFile(std::filesystem::path path);

  void add_entry(std::string_view text, std::int32_t activity) override;

  const std::filesystem::path& path() const { return path_; }
  // "path: reason" for the last entry that could not be written; empty
  // when every entry so far was written.
  const std::string& last_error() const { return last_error_; }

 private:
  std::filesystem::path path_;
  std::string last_error_;
};

}  // namespace vellora::linux_host
