// PDB files on disk: the format itself is pdb_format.h. A file is either
// read whole, for callers that change it, or opened for reading record by
// record, which keeps only its record list in memory whatever its size.
// Writing goes through a temporary file in the same folder that is fsync'ed
// and renamed into place, so a killed process leaves either the old file or
// the new one, never half.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "docmodel/pdb_format.h"
#include "hosts/linux/posix_io.h"

namespace vellora::linux_host {

// Temporary files are written under this prefix in the destination folder;
// they never end in ".pdb", so database lookups cannot mistake one for a
// database.
constexpr std::string_view kPdbTempPrefix = ".vellora-tmp-";

// `file_stat`, when given, receives the fstat of the file that was opened
// (zeroed when it could not be opened), so a caller caching the header knows
// exactly which file it came from even if the path was replaced meanwhile.
PdbResult read_pdb_header_file(const std::filesystem::path& path, PdbHeader& header, std::uint16_t& record_count,
                               struct stat* file_stat = nullptr);
PdbResult read_pdb_file(const std::filesystem::path& path, PdbDatabase& out);

// A database file opened for reading one record at a time. Opening reads
// the header and the record list alone and checks them exactly as
// parse_pdb does, so the same files are accepted and rejected; record data
// is read from the file when asked for, so a reader costs 16 bytes a
// record whatever the file's size. App-info and sort-info blocks are
// never read.
//
// The file stays open until the reader is closed or destroyed. A file
// renamed over the path meanwhile goes unseen; one shortened in place
// makes reads fail with cannot_read instead of returning short data, and
// no read ever goes past the record it was asked for.
class PdbReader {
 public:
  PdbReader() = default;
  ~PdbReader() { close(); }
  PdbReader(const PdbReader&) = delete;
  PdbReader& operator=(const PdbReader&) = delete;

  // Closes any file open before. On failure the reader stays closed and
  // the result is the one read_pdb_file gives for the same file.
  PdbResult open(const std::filesystem::path& path);
  void close();
  bool is_open() const { return fd_.is_open(); }

  const std::filesystem::path& path() const { return path_; }
  const PdbHeader& header() const { return header_; }
  std::size_t record_count() const { return entries_.size(); }
  const PdbRecordEntry& entry(std::size_t index) const { return entries_[index]; }  // index < record_count()

  // Reads the first out.size() bytes of record `index`. Fails with
  // no_record when the index is past the count or `out` is larger than
  // the record, and with cannot_read ("path: why", one line) when the file
  // cannot supply them; `out` may then hold part of the record.
  PdbResult read_record(std::size_t index, std::span<std::uint8_t> out) const;
  // The whole record, with `out` resized to it.
  PdbResult read_record(std::size_t index, std::vector<std::uint8_t>& out) const;

 private:
  UniqueFd fd_;
  std::filesystem::path path_;
  PdbHeader header_;
  std::vector<PdbRecordEntry> entries_;
};

enum class PdbWriteMode {
  replace,     // rename over whatever is at the path
  create_new,  // fail with file_exists if the path is taken
};

enum class PdbFlush {
  now,      // fsync the file before the rename, and the folder after it
  pending,  // leave the flush to flush_pdb_files
};

// Writes the database to a temporary file in the path's folder, fsyncs it
// and renames it to `path` (then fsyncs the folder). On any failure the
// temporary file is removed and whatever was at `path` is untouched. A
// replaced file keeps its permission bits; a new one gets 0666 less the
// umask.
PdbResult write_pdb_file(const std::filesystem::path& path, const PdbDatabase& db,
                         PdbWriteMode mode = PdbWriteMode::replace, PdbFlush flush = PdbFlush::now);

// Makes files written with PdbFlush::pending durable, and their
// folder's entries, as flush_files does (base/files.h).
PdbResult flush_pdb_files(const std::vector<std::filesystem::path>& files, const std::filesystem::path& folder);

// Removes temporary files that a killed writer left in `folder`. A live
// writer holds a lock on its temporary file, so its file is left alone.
void remove_stale_pdb_temp_files(const std::filesystem::path& folder);

}  // namespace vellora::linux_host
