// The staging files' encoding, written to a folder or kept in memory as an
// importer stages, and read back and checked for the packer.
#include "docmodel/staging.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/byte_order.h"
#include "base/files.h"

namespace vellora {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kIoChunkBytes = 1 << 20;

}  // namespace

std::array<char, kNameRecordBytes> name_record(std::string_view name) {
  std::array<char, kNameRecordBytes> record{};
  std::memcpy(record.data(), name.data(), std::min(name.size(), kMaxHandheldNameChars));
  return record;
}

StagingResult check_staged_cells(std::span<const std::uint8_t> cells, std::size_t number, std::string_view where) {
  const std::size_t n = cells.size() / kCellBytes;
  if (n == 0) return {};
  const std::int32_t first_kind = read_cell_kind(cells.data());
  if (n == 1 && (first_kind == kEmptyParagraphCell || first_kind == kRuleCell)) return {};
  // Most paragraphs carry one cell throughout; the first failing cell of
  // such a paragraph is its first.
  const bool is_uniform = are_cells_uniform(cells.data(), n);
  for (std::size_t i = 0; i < (is_uniform ? 1 : n); ++i) {
    const auto fail = [&](StagingError error, const std::string& why) {
      return StagingResult{error, std::string(where) + ": paragraph " + std::to_string(number) + ", character " +
                                      std::to_string(i + 1) + ": " + why};
    };
    const std::uint8_t* cell = cell_at(cells.data(), i);
    const std::int32_t kind = read_cell_kind(cell);
    if (kind != kCharacterCell)
      return fail(StagingError::bad_kind,
                  "cell kind " + std::to_string(kind) +
                      (kind == kEmptyParagraphCell || kind == kRuleCell ? " is only allowed alone in a paragraph"
                                                                        : " is unknown"));
    const std::int32_t font = read_cell_font(cell);
    if (!is_text_font(font)) return fail(StagingError::bad_font, "font " + std::to_string(font) + " is not 0, 1 or 2");
  }
  return {};
}

// ---------------------------------------------------------------- writers

namespace {

// The encoding both writers share: each call's bytes appended to the data
// and sizes files' bytes.
void append_name(std::vector<std::uint8_t>& data, const std::array<char, kNameRecordBytes>& record) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(record.data());
  data.insert(data.end(), bytes, bytes + record.size());
}

void append_paragraph(std::vector<std::uint8_t>& data, std::vector<std::uint8_t>& sizes, std::int32_t alignment,
                      std::span<const std::uint8_t> text, std::span<const std::uint8_t> cells) {
  std::uint8_t field[4];
  put_le16(field, static_cast<std::uint16_t>(text.size()));
  sizes.insert(sizes.end(), field, field + 2);
  put_le32(field, static_cast<std::uint32_t>(alignment));
  data.insert(data.end(), field, field + 4);
  data.insert(data.end(), text.begin(), text.end());
  data.insert(data.end(), cells.begin(), cells.end());
}

}  // namespace

// One staging file: its bytes gather in `buffer` and go to the file a
// megabyte at a time.
struct StagingFiles::Output {
  fs::path path;
  UniqueFile file;
  std::vector<std::uint8_t> buffer;
  int error = EBADF;  // first errno seen, sticky; nothing is written before a successful open

  bool open(const fs::path& at) {
    path = at;
    file = open_file(at, "wb");
    error = file ? 0 : errno;
    if (!file) return false;
    buffer.reserve(kIoChunkBytes + kMaxParagraphChars * (kCellBytes + 1) + 8);
    return true;
  }
  void flush_when_full() {
    if (buffer.size() >= kIoChunkBytes) flush();
  }
  void flush() {
    if (error == 0 && !buffer.empty() && std::fwrite(buffer.data(), 1, buffer.size(), file.get()) != buffer.size())
      error = errno != 0 ? errno : EIO;
    buffer.clear();
  }
  bool close() {
    if (!file) return error == 0;
    flush();
    if (std::fclose(file.release()) != 0 && error == 0) error = errno != 0 ? errno : EIO;
    return error == 0;
  }
  StagingResult failure() const { return {StagingError::cannot_write, path.string() + ": " + errno_text(error)}; }
};

StagingFiles::StagingFiles() : data_(std::make_unique<Output>()), sizes_(std::make_unique<Output>()) {}
StagingFiles::~StagingFiles() = default;

StagingResult StagingFiles::open(const fs::path& folder) {
  if (!data_->open(folder / kStagingDataFile)) return data_->failure();
  if (!sizes_->open(folder / kStagingSizesFile)) return sizes_->failure();
  return {};
}

void StagingFiles::take_name(const std::array<char, kNameRecordBytes>& record) {
  append_name(data_->buffer, record);
  data_->flush_when_full();
}

void StagingFiles::take_paragraph(std::int32_t alignment, std::span<const std::uint8_t> text,
                                  std::span<const std::uint8_t> cells) {
  append_paragraph(data_->buffer, sizes_->buffer, alignment, text, cells);
  data_->flush_when_full();
  sizes_->flush_when_full();
}

void StagingFiles::take_background(std::uint8_t background) {
  data_->buffer.push_back(background);
  data_->flush_when_full();
}

StagingResult StagingFiles::finish() {
  const bool data_ok = data_->close();
  const bool sizes_ok = sizes_->close();
  if (!data_ok) return data_->failure();
  if (!sizes_ok) return sizes_->failure();
  return {};
}

void StagingMemory::take_name(const std::array<char, kNameRecordBytes>& record) { append_name(bytes_.data, record); }

void StagingMemory::take_paragraph(std::int32_t alignment, std::span<const std::uint8_t> text,
                                   std::span<const std::uint8_t> cells) {
  append_paragraph(bytes_.data, bytes_.sizes, alignment, text, cells);
}

void StagingMemory::take_background(std::uint8_t background) { bytes_.data.push_back(background); }

// ---------------------------------------------------------------- reader

StagingReader::StagingReader() = default;

StagingReader::~StagingReader() {
  if (data_ != nullptr) std::fclose(data_);
}

StagingResult StagingReader::fail(StagingError error, const std::string& what) const {
  return {error, data_path_.string() + ": " + what};
}

bool StagingReader::read_exact(std::uint8_t* into, std::size_t count) {
  if (data_ != nullptr) return std::fread(into, 1, count, data_) == count;
  if (memory_.size() < count) return false;
  std::memcpy(into, memory_.data(), count);
  memory_ = memory_.subspan(count);
  return true;
}

StagingResult StagingReader::read_lengths(std::span<const std::uint8_t> raw, const std::string& sizes_name) {
  // An odd trailing byte of the sizes file is not a length.
  std::size_t count = raw.size() / 2;
  was_cut_ = count > kMaxParagraphs;
  count = std::min(count, kMaxParagraphs);
  lengths_.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    lengths_[i] = get_le16(raw.data() + 2 * i);
    if (lengths_[i] == 0 || lengths_[i] > kMaxParagraphChars)
      return {StagingError::bad_length, sizes_name + ": paragraph " + std::to_string(i + 1) + " has length " +
                                            std::to_string(lengths_[i]) + " (must be 1 to 1024)"};
    total_chars_ += lengths_[i];
  }
  return {};
}

StagingResult StagingReader::check_data_size(std::uint64_t data_bytes) {
  std::uint64_t needed_bytes = kNameRecordBytes + 1;  // name record and background byte
  for (const std::uint16_t length : lengths_) needed_bytes += 4 + std::uint64_t{length} * (1 + kCellBytes);
  if (data_bytes < needed_bytes)
    return fail(StagingError::truncated, "holds " + std::to_string(data_bytes) + " bytes, but " +
                                             std::to_string(lengths_.size()) + " paragraphs need " +
                                             std::to_string(needed_bytes));
  return {};
}

StagingResult StagingReader::read_name() {
  if (!read_exact(reinterpret_cast<std::uint8_t*>(name_.data()), name_.size()))
    return fail(StagingError::truncated, "name record cut short");
  if (name_[0] == '\0') return fail(StagingError::bad_name, "the document name is empty");
  return {};
}

// A reader whose open failed holds no file, so the staging files can be
// removed while it lives (Windows refuses to remove an open file).
StagingResult StagingReader::open(const fs::path& folder) {
  StagingResult opened = open_files(folder);
  if (!opened && data_ != nullptr) {
    std::fclose(data_);
    data_ = nullptr;
  }
  return opened;
}

StagingResult StagingReader::open_files(const fs::path& folder) {
  const fs::path sizes_path = folder / kStagingSizesFile;
  data_path_ = folder / kStagingDataFile;

  UniqueFile sizes = open_file(sizes_path, "rb");
  if (!sizes) return {StagingError::cannot_open, sizes_path.string() + ": " + errno_text(errno)};
  std::vector<std::uint8_t> raw;
  std::uint8_t chunk[1 << 14];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, sizes.get())) > 0;)
    raw.insert(raw.end(), chunk, chunk + got);
  if (std::ferror(sizes.get()) != 0) return {StagingError::cannot_open, sizes_path.string() + ": read error"};
  sizes.reset();
  if (auto read = read_lengths(raw, sizes_path.string()); !read) return read;

  UniqueFile data = open_file(data_path_, "rb");
  if (!data) return fail(StagingError::cannot_open, errno_text(errno));
  data_ = data.release();
  std::error_code error;
  const auto data_bytes = fs::file_size(data_path_, error);
  if (error) return fail(StagingError::cannot_open, error.message());
  if (auto checked = check_data_size(data_bytes); !checked) return checked;

  // The background is the file's last byte however many paragraphs it has.
  if (std::fseek(data_, -1, SEEK_END) != 0 || !read_exact(&background_, 1) || std::fseek(data_, 0, SEEK_SET) != 0)
    return fail(StagingError::cannot_open, "read error");
  std::setvbuf(data_, nullptr, _IOFBF, kIoChunkBytes);
  return read_name();
}

StagingResult StagingReader::open(const StagingBytes& bytes) {
  data_path_ = kStagingDataFile;
  if (auto read = read_lengths(bytes.sizes, kStagingSizesFile); !read) return read;
  if (auto checked = check_data_size(bytes.data.size()); !checked) return checked;
  background_ = bytes.data.back();
  memory_ = std::span<const std::uint8_t>(bytes.data).first(bytes.data.size() - 1);
  return read_name();
}

StagingResult StagingReader::next(StagedParagraph& out) {
  if (next_ >= lengths_.size()) return fail(StagingError::truncated, "no paragraph left");
  const std::size_t index = next_++;
  const std::size_t n = lengths_[index];
  std::uint8_t alignment[4];
  out.text.resize(n);
  out.cells.resize(n * kCellBytes);
  if (!read_exact(alignment, 4) || !read_exact(out.text.data(), n) || !read_exact(out.cells.data(), out.cells.size()))
    return fail(StagingError::truncated, "paragraph " + std::to_string(index + 1) + " cut short");
  out.alignment = static_cast<std::int32_t>(get_le32(alignment));

  return check_staged_cells(out.cells, index + 1, data_path_.string());
}

void remove_staging_files(const fs::path& folder) {
  std::error_code ignored;
  fs::remove(folder / kStagingSizesFile, ignored);
  fs::remove(folder / kStagingDataFile, ignored);
}

}  // namespace vellora
