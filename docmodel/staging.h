// The staging files: the neutral paragraph form that every importer writes
// and the document builder reads. Two files in one folder:
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

// "32,765": a count as people read it in messages.
std::string with_thousands(std::size_t count);

// The handheld name of a file: at most 31 characters. A longer name keeps
// its last extension and as much of the front as fits before it; a longer
// name without '.' is cut to 31.
std::string handheld_name(std::string_view file_name);

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

// Takes a document's paragraphs in their staged form as an importer stages
// them, so that a conversion can be laid out while it is read instead of
// going through the staging files and back.
class StagingSink {
 public:
  virtual ~StagingSink() = default;
  virtual void take_name(const std::array<char, kNameRecordBytes>& record) = 0;
  // As StagingWriter::write_paragraph receives them.
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

// Where a StagingWriter puts what it is given; each open call chooses one.
enum class StagingTarget {
  none,    // not opened yet
  files,   // the two staging files in a folder
  memory,  // the same bytes, kept for take_bytes()
  sink,    // handed to a StagingSink as they come
};

// Writes the staging files. Output is buffered; failures are sticky and
// reported by finish().
class StagingWriter {
 public:
  StagingWriter();
  ~StagingWriter();
  StagingWriter(const StagingWriter&) = delete;
  StagingWriter& operator=(const StagingWriter&) = delete;

  // Creates (truncating) both files in `folder` and writes the name record
  // of `handheld_name(file_name)`.
  StagingResult open(const std::filesystem::path& folder, std::string_view file_name);
  // The same into memory; finish() then leaves the bytes for take_bytes().
  void open_in_memory(std::string_view file_name);
  // Hands everything to `sink` instead, which must outlive the writer.
  void open_into(StagingSink& sink, std::string_view file_name);
  StagingTarget target() const { return target_; }
  // `cells` holds 10 bytes per text byte; text.size() is 1 to 1024.
  void write_paragraph(std::int32_t alignment, std::span<const std::uint8_t> text, std::span<const std::uint8_t> cells);
  std::size_t paragraphs() const { return paragraphs_; }
  // Stop staging once `paragraphs()` reaches this; importers ask is_full()
  // and end early, so a source far bigger than any handheld document
  // cannot fill the disk with staging data.
  void set_paragraph_limit(std::size_t limit) { paragraph_limit_ = limit; }
  bool is_full() const { return paragraphs_ >= paragraph_limit_; }
  // Writes the background byte and closes both files.
  StagingResult finish(std::uint8_t background);
  // After finish() of an in-memory writer: both files' bytes.
  StagingBytes take_bytes();

 private:
  struct Output;
  void start(StagingTarget target, StagingSink* sink);
  void write_name_record(std::string_view file_name);
  StagingTarget target_ = StagingTarget::none;
  // Both set for the files and memory targets, neither for a sink.
  std::unique_ptr<Output> data_;
  std::unique_ptr<Output> sizes_;
  StagingSink* sink_ = nullptr;  // set for the sink target only
  std::size_t paragraphs_ = 0;
  std::size_t paragraph_limit_ = SIZE_MAX;
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
