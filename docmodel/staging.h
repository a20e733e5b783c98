// The staging files: the neutral paragraph form that every importer writes
// and the packer reads. Two files in one folder:
//   data  "$$!!temp_file_data!!$$.tmp":  32-byte name record, then per
//         paragraph an int32 alignment, n text bytes and n 10-byte attribute
//         cells, then one background byte;
//   sizes "$$!!temp_file_sizes!!$$.tmp": one uint16 length per paragraph.
// All integers are little-endian. The reader validates everything before a
// byte reaches the handheld; it never trusts the sizes file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/byte_vector.h"
#include "docmodel/cell.h"

namespace vellora {

inline constexpr char kStagingDataFile[] = "$$!!temp_file_data!!$$.tmp";
inline constexpr char kStagingSizesFile[] = "$$!!temp_file_sizes!!$$.tmp";

constexpr std::size_t kNameRecordBytes = 32;
constexpr std::size_t kMaxHandheldNameChars = 31;
constexpr std::size_t kMaxParagraphChars = 1024;
constexpr std::size_t kMaxParagraphs = 32765;  // a database holds at most 32766 records

// Paragraph alignment codes.
constexpr std::int32_t kAlignLeft = 0;
constexpr std::int32_t kAlignRight = 1;
constexpr std::int32_t kAlignJustified = 2;
constexpr std::int32_t kAlignCentred = 3;

// A paragraph as staged: `cells` holds 10 bytes per text byte, exactly as
// in the file, so runs can be compared byte for byte.
struct StagedParagraph {
  std::int32_t alignment = kAlignLeft;
  ByteVector text;
  ByteVector cells;

  std::size_t size() const { return text.size(); }
  const std::uint8_t* cell(std::size_t i) const { return cell_at(cells.data(), i); }
  std::int32_t cell_kind(std::size_t i) const { return read_cell_kind(cell(i)); }
  std::int32_t cell_font(std::size_t i) const { return read_cell_font(cell(i)); }
};

enum class StagingError {
  none,
  cannot_open,   // a staging file is missing or unreadable
  cannot_write,  // creating or writing a staging file failed
  truncated,     // the data file is shorter than the sizes file announces
  bad_name,      // the name record is empty
  bad_length,    // a paragraph of length 0 or above 1024
  bad_kind,      // an unknown cell kind, or a special cell where text belongs
  bad_font,      // a text cell whose font is not 0, 1 or 2
};

struct StagingResult {
  StagingError error = StagingError::none;
  std::string reason;  // one line, names the file
  explicit operator bool() const { return error == StagingError::none; }
};

// The bytes of both staging files, for conversions that never touch the
// disk (tests and fuzzing).
struct StagingBytes {
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> sizes;
};

// The name record of the document named `name`: its first 31 characters,
// zero-filled, so the record always holds a terminating zero.
std::array<char, kNameRecordBytes> name_record(std::string_view name);

// Where an importer's output goes: a document's name record, then each
// paragraph in its staged form, then the background. The staging files
// (StagingFiles), the same bytes in memory (StagingMemory) and the packer,
// which lays the document out as it is read, take it alike.
class StagingSink {
 public:
  virtual ~StagingSink() = default;
  virtual void take_name(const std::array<char, kNameRecordBytes>& record) = 0;
  // `cells` holds 10 bytes per text byte. An importer stages 1 to 1024
  // text bytes; a sink that must not trust its caller checks.
  virtual void take_paragraph(std::int32_t alignment, std::span<const std::uint8_t> text,
                              std::span<const std::uint8_t> cells) = 0;
  virtual void take_background(std::uint8_t background) = 0;
};

// The checks the reader makes of every staged paragraph's cells: in a
// paragraph of one character the cell may mark it empty or a rule;
// otherwise every cell is a character cell of font 0, 1 or 2. `number`
// counts paragraphs from 1; a failure reads "WHERE: paragraph N, character
// M: why".
StagingResult check_staged_cells(std::span<const std::uint8_t> cells, std::size_t number, std::string_view where);

// The two staging files in a folder, written as they are staged. Output is
// buffered; the first failure sticks, and finish() reports it.
class StagingFiles final : public StagingSink {
 public:
  StagingFiles();
  ~StagingFiles() override;
  StagingFiles(const StagingFiles&) = delete;
  StagingFiles& operator=(const StagingFiles&) = delete;

  // Creates (truncating) both files in `folder`.
  StagingResult open(const std::filesystem::path& folder);
  void take_name(const std::array<char, kNameRecordBytes>& record) override;
  void take_paragraph(std::int32_t alignment, std::span<const std::uint8_t> text,
                      std::span<const std::uint8_t> cells) override;
  void take_background(std::uint8_t background) override;
  // Closes both files. A write or close that failed, the data file's
  // before the sizes file's, is reported naming the file.
  StagingResult finish();

 private:
  struct Output;
  std::unique_ptr<Output> data_;
  std::unique_ptr<Output> sizes_;
};

// The same bytes as the staging files, kept in memory: for conversions that
// never touch the disk (tests and fuzzing).
class StagingMemory final : public StagingSink {
 public:
  void take_name(const std::array<char, kNameRecordBytes>& record) override;
  void take_paragraph(std::int32_t alignment, std::span<const std::uint8_t> text,
                      std::span<const std::uint8_t> cells) override;
  void take_background(std::uint8_t background) override;
  // Both files' bytes as taken so far; the sink is left empty.
  StagingBytes take_bytes() { return std::exchange(bytes_, {}); }

 private:
  StagingBytes bytes_;
};

// Reads and validates the staging files, one paragraph at a time, so memory
// stays bounded by one paragraph whatever the document's size.
class StagingReader {
 public:
  StagingReader();
  ~StagingReader();
  StagingReader(const StagingReader&) = delete;
  StagingReader& operator=(const StagingReader&) = delete;

  // Reads the sizes file, the name record and the background byte, and
  // checks that the data file holds every announced paragraph.
  StagingResult open(const std::filesystem::path& folder);
  // The same over bytes in memory, which must outlive the reader.
  StagingResult open(const StagingBytes& bytes);

  const std::array<char, kNameRecordBytes>& name_record() const { return name_; }
  std::size_t paragraph_count() const { return lengths_.size(); }
  // More paragraphs were staged than a database can hold; only the first
  // kMaxParagraphs are read.
  bool was_cut() const { return was_cut_; }
  std::uint8_t background() const { return background_; }
  std::size_t total_chars() const { return total_chars_; }

  // Reads the next paragraph into `out` and checks its cells.
  StagingResult next(StagedParagraph& out);

 private:
  StagingResult open_files(const std::filesystem::path& folder);
  StagingResult fail(StagingError error, const std::string& what) const;
  StagingResult read_lengths(std::span<const std::uint8_t> raw, const std::string& sizes_name);
  StagingResult check_data_size(std::uint64_t data_bytes);
  StagingResult read_name();
  bool read_exact(std::uint8_t* into, std::size_t count);

  std::filesystem::path data_path_;
  std::FILE* data_ = nullptr;
  std::span<const std::uint8_t> memory_;  // the data file's bytes not yet read, in memory mode
  std::vector<std::uint16_t> lengths_;
  std::size_t next_ = 0;
  std::array<char, kNameRecordBytes> name_{};
  std::uint8_t background_ = 0;
  bool was_cut_ = false;
  std::size_t total_chars_ = 0;
};

// Deletes the sizes file, then the data file; missing files are fine.
void remove_staging_files(const std::filesystem::path& folder);

}  // namespace vellora
