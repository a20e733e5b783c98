// Staging file writer (used by every importer) and reader (used by the
// document builder), and the handheld name rule.
#include "docmodel/staging.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "docmodel/byte_order.h"

namespace vellora {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kIoChunkBytes = 1 << 20;

std::string errno_text(int error) { return std::generic_category().message(error); }

}  // namespace

CellBytes encode_cell(const AttributeCell& cell) {
  CellBytes bytes{};
  put_le32(bytes.data(), static_cast<std::uint32_t>(cell.kind));
  bytes[4] = cell.colour;
  bytes[5] = cell.highlight;
  put_le32(bytes.data() + 6, static_cast<std::uint32_t>(cell.font));
  return bytes;
}

AttributeCell decode_cell(const std::uint8_t* bytes) {
  return AttributeCell{static_cast<std::int32_t>(get_le32(bytes)), bytes[4], bytes[5],
                       static_cast<std::int32_t>(get_le32(bytes + 6))};
}

std::int32_t StagedParagraph::cell_kind(std::size_t i) const {
  return static_cast<std::int32_t>(get_le32(cell(i)));
}

std::int32_t StagedParagraph::cell_font(std::size_t i) const {
  return static_cast<std::int32_t>(get_le32(cell(i) + 6));
}

std::string handheld_name(std::string_view file_name) {
  if (file_name.size() <= kMaxHandheldNameChars) return std::string(file_name);
  const auto dot = file_name.rfind('.');
  if (dot == std::string_view::npos) return std::string(file_name.substr(0, kMaxHandheldNameChars));
  const std::string_view extension = file_name.substr(dot);
  // An extension of 31 characters or more leaves no room for the front;
  // the name is then the extension's own first 31 characters.
  if (extension.size() >= kMaxHandheldNameChars)
    return std::string(extension.substr(0, kMaxHandheldNameChars));
  return std::string(file_name.substr(0, kMaxHandheldNameChars - extension.size())) +
         std::string(extension);
}

// ---------------------------------------------------------------- writer

struct StagingWriter::Output {
  fs::path path;
  std::FILE* file = nullptr;
  std::vector<std::uint8_t> buffer;
  int error = 0;  // first errno seen; sticky

  ~Output() {
    if (file != nullptr) std::fclose(file);
  }
  bool open(const fs::path& at) {
    path = at;
    file = std::fopen(at.c_str(), "wb");
    if (file == nullptr) error = errno;
    buffer.reserve(kIoChunkBytes + kMaxParagraphChars * (kCellBytes + 1) + 8);
    return file != nullptr;
  }
  void append(const std::uint8_t* bytes, std::size_t count) {
    buffer.insert(buffer.end(), bytes, bytes + count);
    if (buffer.size() >= kIoChunkBytes) flush();
  }
  void flush() {
    if (file != nullptr && error == 0 && !buffer.empty() &&
        std::fwrite(buffer.data(), 1, buffer.size(), file) != buffer.size())
      error = errno != 0 ? errno : EIO;
    buffer.clear();
  }
  bool close() {
    flush();
    if (file != nullptr && std::fclose(file) != 0 && error == 0) error = errno != 0 ? errno : EIO;
    file = nullptr;
    return error == 0;
  }
};

StagingWriter::StagingWriter() = default;
StagingWriter::~StagingWriter() = default;

StagingResult StagingWriter::open(const fs::path& folder, std::string_view file_name) {
  data_ = std::make_unique<Output>();
  sizes_ = std::make_unique<Output>();
  for (Output* output : {data_.get(), sizes_.get()}) {
    const fs::path path = folder / (output == data_.get() ? kStagingDataFile : kStagingSizesFile);
    if (!output->open(path))
      return {StagingError::cannot_write, path.string() + ": " + errno_text(output->error)};
  }
  std::array<std::uint8_t, kNameRecordBytes> name_record{};
  const std::string name = handheld_name(file_name);
  std::memcpy(name_record.data(), name.data(), name.size());
  data_->append(name_record.data(), name_record.size());
  return {};
}

void StagingWriter::write_paragraph(std::int32_t alignment, std::span<const std::uint8_t> text,
                                    std::span<const std::uint8_t> cells) {
  std::uint8_t field[4];
  put_le16(field, static_cast<std::uint16_t>(text.size()));
  sizes_->append(field, 2);
  put_le32(field, static_cast<std::uint32_t>(alignment));
  data_->append(field, 4);
  data_->append(text.data(), text.size());
  data_->append(cells.data(), text.size() * kCellBytes);
}

StagingResult StagingWriter::finish(std::uint8_t background) {
  data_->append(&background, 1);
  const bool data_ok = data_->close();
  const bool sizes_ok = sizes_->close();
  if (!data_ok) return {StagingError::cannot_write, data_->path.string() + ": " + errno_text(data_->error)};
  if (!sizes_ok) return {StagingError::cannot_write, sizes_->path.string() + ": " + errno_text(sizes_->error)};
  return {};
}

// ---------------------------------------------------------------- reader

StagingReader::StagingReader() = default;

StagingReader::~StagingReader() {
  if (data_ != nullptr) std::fclose(data_);
}

StagingResult StagingReader::fail(StagingError error, const std::string& what) const {
  return {error, data_path_.string() + ": " + what};
}

bool StagingReader::read_exact(std::uint8_t* into, std::size_t count) {
  return std::fread(into, 1, count, data_) == count;
}

StagingResult StagingReader::open(const fs::path& folder) {
  const fs::path sizes_path = folder / kStagingSizesFile;
  data_path_ = folder / kStagingDataFile;

  std::FILE* sizes = std::fopen(sizes_path.c_str(), "rb");
  if (sizes == nullptr) return {StagingError::cannot_open, sizes_path.string() + ": " + errno_text(errno)};
  std::vector<std::uint8_t> raw;
  std::uint8_t chunk[1 << 14];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, sizes)) > 0;)
    raw.insert(raw.end(), chunk, chunk + got);
  const bool sizes_read = std::ferror(sizes) == 0;
  std::fclose(sizes);
  if (!sizes_read) return {StagingError::cannot_open, sizes_path.string() + ": read error"};

  // An odd trailing byte of the sizes file is not a length.
  std::size_t count = raw.size() / 2;
  was_cut_ = count > kMaxParagraphs;
  count = std::min(count, kMaxParagraphs);
  lengths_.resize(count);
  std::uint64_t needed_bytes = kNameRecordBytes + 1;  // name record and background byte
  for (std::size_t i = 0; i < count; ++i) {
    lengths_[i] = get_le16(raw.data() + 2 * i);
    if (lengths_[i] == 0 || lengths_[i] > kMaxParagraphChars)
      return {StagingError::bad_length, sizes_path.string() + ": paragraph " + std::to_string(i + 1) +
                                            " has length " + std::to_string(lengths_[i]) +
                                            " (must be 1 to 1024)"};
    total_chars_ += lengths_[i];
    needed_bytes += 4 + std::uint64_t{lengths_[i]} * (1 + kCellBytes);
  }

  data_ = std::fopen(data_path_.c_str(), "rb");
  if (data_ == nullptr) return fail(StagingError::cannot_open, errno_text(errno));
  std::error_code error;
  const auto data_bytes = fs::file_size(data_path_, error);
  if (error) return fail(StagingError::cannot_open, error.message());
  if (data_bytes < needed_bytes)
    return fail(StagingError::truncated, "holds " + std::to_string(data_bytes) + " bytes, but " +
                                             std::to_string(count) + " paragraphs need " +
                                             std::to_string(needed_bytes));

  // The background is the file's last byte however many paragraphs it has.
  if (std::fseek(data_, -1, SEEK_END) != 0 || !read_exact(&background_, 1) ||
      std::fseek(data_, 0, SEEK_SET) != 0)
    return fail(StagingError::cannot_open, "read error");
  std::setvbuf(data_, nullptr, _IOFBF, kIoChunkBytes);
  if (!read_exact(reinterpret_cast<std::uint8_t*>(name_.data()), name_.size()))
    return fail(StagingError::truncated, "name record cut short");
  if (name_[0] == '\0') return fail(StagingError::bad_name, "the document name is empty");
  return {};
}

StagingResult StagingReader::next(StagedParagraph& out) {
  if (next_ >= lengths_.size()) return fail(StagingError::truncated, "no paragraph left");
  const std::size_t index = next_++;
  const std::size_t n = lengths_[index];
  std::uint8_t alignment[4];
  out.text.resize(n);
  out.cells.resize(n * kCellBytes);
  if (!read_exact(alignment, 4) || !read_exact(out.text.data(), n) ||
      !read_exact(out.cells.data(), out.cells.size()))
    return fail(StagingError::truncated, "paragraph " + std::to_string(index + 1) + " cut short");
  out.alignment = static_cast<std::int32_t>(get_le32(alignment));

  const auto where = [&](std::size_t cell) {
    return "paragraph " + std::to_string(index + 1) + ", character " + std::to_string(cell + 1);
  };
  const std::int32_t first_kind = out.cell_kind(0);
  if (n == 1 && (first_kind == kEmptyParagraphCell || first_kind == kRuleCell)) return {};
  for (std::size_t i = 0; i < n; ++i) {
    const std::int32_t kind = out.cell_kind(i);
    if (kind != kCharacterCell)
      return fail(StagingError::bad_kind, where(i) + ": cell kind " + std::to_string(kind) +
                                              (kind == kEmptyParagraphCell || kind == kRuleCell
                                                   ? " is only allowed alone in a paragraph"
                                                   : " is unknown"));
    const std::int32_t font = out.cell_font(i);
    if (font < 0 || font > 2)
      return fail(StagingError::bad_font, where(i) + ": font " + std::to_string(font) +
                                              " is not 0, 1 or 2");
  }
  return {};
}

void remove_staging_files(const fs::path& folder) {
  std::error_code ignored;
  fs::remove(folder / kStagingSizesFile, ignored);
  fs::remove(folder / kStagingDataFile, ignored);
}

}  // namespace vellora
