// PDB files on disk: reading whole files, the record-by-record reader and
// the atomic writer, over the byte codec of pdb_format.h. Lookups and
// PdbReader read only the header and record list before record data.
#include "hosts/linux/pdb_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "base/files.h"

namespace vellora::linux_host {

namespace {

std::string num(std::uint64_t value) { return std::to_string(value); }

PdbResult io_failure(PdbStatus status, const std::filesystem::path& path, std::string_view what, int error) {
  return pdb_failure(status, 0, path.string() + ": " + std::string(what) + ": " + errno_text(error));
}

PdbResult with_path(const std::filesystem::path& path, PdbResult result) {
  if (!result) result.reason = path.string() + ": " + result.reason;
  return result;
}

struct OpenedFile {
  UniqueFd fd;
  std::uint64_t size_bytes = 0;
  struct stat st {};
};

PdbResult open_for_reading(const std::filesystem::path& path, OpenedFile& out) {
  out.fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!out.fd.is_open()) return io_failure(PdbStatus::cannot_read, path, "cannot open", errno);
  struct stat& st = out.st;
  if (::fstat(out.fd.get(), &st) != 0) return io_failure(PdbStatus::cannot_read, path, "cannot stat", errno);
  if (!S_ISREG(st.st_mode)) return pdb_failure(PdbStatus::cannot_read, 0, path.string() + ": not a regular file");
  out.size_bytes = static_cast<std::uint64_t>(st.st_size);
  if (out.size_bytes > kPdbMaxFileBytes)
    return pdb_failure(PdbStatus::too_large, 0,
                       path.string() + ": file is " + num(out.size_bytes) + " bytes, more than a database can hold");
  return {};
}

// The header and as much of the record list as the file holds: what
// parse_pdb_layout needs, and all that lookups and record-by-record
// readers ever read before record data.
PdbResult read_prefix(const std::filesystem::path& path, const OpenedFile& file, std::vector<std::uint8_t>& prefix) {
  prefix.resize(std::min<std::uint64_t>(file.size_bytes, kPdbHeaderBytes));
  long got = read_fully(file.fd.get(), prefix);
  if (got < 0) return io_failure(PdbStatus::cannot_read, path, "cannot read", errno);
  prefix.resize(static_cast<std::size_t>(got));
  if (prefix.size() == kPdbHeaderBytes) {
    const std::uint64_t list_end = pdb_prefix_bytes(std::span(prefix).first<kPdbHeaderBytes>());
    prefix.resize(std::min(file.size_bytes, list_end));
    got = read_fully(file.fd.get(), std::span(prefix).subspan(kPdbHeaderBytes));
    if (got < 0) return io_failure(PdbStatus::cannot_read, path, "cannot read", errno);
    prefix.resize(kPdbHeaderBytes + static_cast<std::size_t>(got));
  }
  return {};
}

// The words of write_pdb_file's messages, by the step that failed.
std::string_view write_step_text(AtomicWriteResult::Failure failure) {
  using Failure = AtomicWriteResult::Failure;
  switch (failure) {
    case Failure::cannot_create_temp: return "cannot create a temporary file";
    case Failure::cannot_set_permissions: return "cannot set permissions";
    case Failure::cannot_write: return "cannot write";
    case Failure::cannot_flush: return "cannot flush";
    case Failure::none:
    case Failure::cannot_rename:
    case Failure::exists: break;
  }
  return "cannot rename";
}

}  // namespace

PdbResult read_pdb_header_file(const std::filesystem::path& path, PdbHeader& header, std::uint16_t& record_count,
                               struct stat* file_stat) {
  OpenedFile file;
  const auto opened = open_for_reading(path, file);
  if (file_stat != nullptr) *file_stat = file.st;
  if (!opened) return opened;
  std::vector<std::uint8_t> prefix;
  if (auto r = read_prefix(path, file, prefix); !r) return r;
  return with_path(path, parse_pdb_header(prefix, file.size_bytes, header, record_count));
}

PdbResult read_pdb_file(const std::filesystem::path& path, PdbDatabase& out) {
  OpenedFile file;
  if (auto r = open_for_reading(path, file); !r) return r;
  std::vector<std::uint8_t> bytes(file.size_bytes);
  const long got = read_fully(file.fd.get(), bytes);
  if (got < 0) return io_failure(PdbStatus::cannot_read, path, "cannot read", errno);
  // A file that shrank while being read is parsed as what was read, so its
  // offsets are checked against the bytes actually in hand.
  bytes.resize(static_cast<std::size_t>(got));
  return with_path(path, parse_pdb(bytes, out));
}

void PdbReader::close() {
  fd_.reset();
  path_.clear();
  header_ = PdbHeader{};
  entries_.clear();
}

PdbResult PdbReader::open(const std::filesystem::path& path) {
  close();
  OpenedFile file;
  if (auto r = open_for_reading(path, file); !r) return r;
  std::vector<std::uint8_t> prefix;
  if (auto r = read_prefix(path, file, prefix); !r) return r;
  PdbLayout layout;
  if (auto r = parse_pdb_layout(prefix, file.size_bytes, layout); !r) return with_path(path, r);
  entries_ = std::move(layout.records);
  header_ = std::move(layout.header);
  path_ = path;
  fd_ = std::move(file.fd);
  return {};
}

PdbResult PdbReader::read_record(std::size_t index, std::span<std::uint8_t> out) const {
  if (index >= entries_.size())
    return pdb_failure(
        PdbStatus::no_record, 0,
        path_.string() + ": no record " + num(index) + " (the database holds " + num(entries_.size()) + ")");
  const PdbRecordEntry& entry = entries_[index];
  if (out.size() > entry.size_bytes)
    return pdb_failure(PdbStatus::no_record, entry.offset,
                       path_.string() + ": " + num(out.size()) + " bytes asked of record " + num(index) +
                           ", which holds " + num(entry.size_bytes));
  if (out.empty()) return {};
  if (!fd_.is_open()) return pdb_failure(PdbStatus::cannot_read, 0, path_.string() + ": not open");
  const long got = pread_fully(fd_.get(), out, entry.offset);
  if (got < 0)
    return pdb_failure(PdbStatus::cannot_read, entry.offset,
                       path_.string() + ": cannot read record " + num(index) + ": " + errno_text(errno));
  if (static_cast<std::size_t>(got) < out.size())
    return pdb_failure(PdbStatus::cannot_read, entry.offset + static_cast<std::size_t>(got),
                       path_.string() + ": record " + num(index) + " cut short at byte " +
                           num(entry.offset + static_cast<std::uint64_t>(got)) +
                           ": the file shrank after it was opened");
  return {};
}

PdbResult PdbReader::read_record(std::size_t index, std::vector<std::uint8_t>& out) const {
  if (index >= entries_.size()) return read_record(index, std::span<std::uint8_t>());
  out.resize(entries_[index].size_bytes);
  return read_record(index, std::span<std::uint8_t>(out));
}

PdbResult write_pdb_file(const std::filesystem::path& path, const PdbDatabase& db, PdbWriteMode mode, PdbFlush flush) {
  if (auto r = check_pdb_encodable(db); !r) return with_path(path, std::move(r));
  const std::vector<std::uint8_t> prefix = serialize_pdb_prefix(db);
  std::vector<std::span<const std::uint8_t>> parts = {prefix, db.app_info, db.sort_info};
  for (const auto piece : db.record_data()) parts.push_back(piece);
  const auto written = write_file_atomically(
      path, kPdbTempPrefix, parts, mode == PdbWriteMode::replace ? RenameMode::replace : RenameMode::create_new,
      flush == PdbFlush::now);
  if (written) return {};
  if (written.failure == AtomicWriteResult::Failure::exists)
    return pdb_failure(PdbStatus::file_exists, 0, path.string() + ": exists");
  return io_failure(PdbStatus::cannot_write, path, write_step_text(written.failure), written.error);
}

PdbResult flush_pdb_files(const std::vector<std::filesystem::path>& files, const std::filesystem::path& folder) {
  if (!flush_files(files, folder)) return io_failure(PdbStatus::cannot_write, folder, "cannot flush", errno);
  return {};
}

void remove_stale_pdb_temp_files(const std::filesystem::path& folder) {
  remove_stale_temp_files(folder, kPdbTempPrefix);
}

}  // namespace vellora::linux_host
