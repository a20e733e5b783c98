// Staging file writer (used by every importer) and reader (used by the
// document builder), and the handheld name rule.
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

std::string with_thousands(std::size_t count) {
  std::string digits = std::to_string(count);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
  return digits;
}

std::string handheld_name(std::string_view file_name) {
  if (file_name.size() <= kMaxHandheldNameChars) return std::string(file_name);
  const auto dot = file_name.rfind('.');
  if (dot == std::string_view::npos) return std::string(file_name.substr(0, kMaxHandheldNameChars));
  const std::string_view extension = file_name.substr(dot);
  // An extension of 31 characters or more leaves no room for the front;
  // the name is then the extension's own first 31 characters.
  if (extension.size() >= kMaxHandheldNameChars) return std::string(extension.substr(0, kMaxHandheldNameChars));
  return std::string(file_name.substr(0, kMaxHandheldNameChars - extension.size())) + std::string(extension);
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

// ---------------------------------------------------------------- writer

struct StagingWriter::Output {
  fs::path path;
  UniqueFile file;  // null for the memory target (or a failed open): everything stays in `buffer`
  std::vector<std::uint8_t> buffer;
  int error = 0;  // first errno seen; sticky

  bool open(const fs::path& at) {
    path = at;
    file = open_file(at, "wb");
    if (!file) {
      error = errno;
      return false;
    }
    buffer.reserve(kIoChunkBytes + kMaxParagraphChars * (kCellBytes + 1) + 8);
    return true;
  }
  void append(const std::uint8_t* bytes, std::size_t count) {
    buffer.insert(buffer.end(), bytes, bytes + count);
    if (file && buffer.size() >= kIoChunkBytes) flush();
  }
  void flush() {
    if (!file) return;
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
};

StagingWriter::StagingWriter() = default;
StagingWriter::~StagingWriter() = default;

void StagingWriter::start(StagingTarget target, StagingSink* sink) {
  target_ = target;
  sink_ = sink;
  paragraphs_ = 0;
  if (target == StagingTarget::sink) {
    data_.reset();
    sizes_.reset();
  } else {
    data_ = std::make_unique<Output>();
    sizes_ = std::make_unique<Output>();
  }
}

StagingResult StagingWriter::open(const fs::path& folder, std::string_view file_name) {
  start(StagingTarget::files, nullptr);
  for (Output* output : {data_.get(), sizes_.get()}) {
    const fs::path path = folder / (output == data_.get() ? kStagingDataFile : kStagingSizesFile);
    if (!output->open(path)) return {StagingError::cannot_write, path.string() + ": " + errno_text(output->error)};
  }
  write_name_record(file_name);
  return {};
}

void StagingWriter::open_in_memory(std::string_view file_name) {
  start(StagingTarget::memory, nullptr);
  write_name_record(file_name);
}

void StagingWriter::open_into(StagingSink& sink, std::string_view file_name) {
  start(StagingTarget::sink, &sink);
  write_name_record(file_name);
}

void StagingWriter::write_name_record(std::string_view file_name) {
  std::array<char, kNameRecordBytes> name_record{};
  const std::string name = handheld_name(file_name);
  std::memcpy(name_record.data(), name.data(), name.size());
  if (target_ == StagingTarget::sink)
    sink_->take_name(name_record);
  else
    data_->append(reinterpret_cast<const std::uint8_t*>(name_record.data()), name_record.size());
}

StagingBytes StagingWriter::take_bytes() {
  if (target_ != StagingTarget::memory) return {};
  return {std::move(data_->buffer), std::move(sizes_->buffer)};
}

void StagingWriter::write_paragraph(std::int32_t alignment, std::span<const std::uint8_t> text,
                                    std::span<const std::uint8_t> cells) {
  ++paragraphs_;
  if (target_ == StagingTarget::sink) {
    sink_->take_paragraph(alignment, text, cells.first(text.size() * kCellBytes));
    return;
  }
  std::uint8_t field[4];
  put_le16(field, static_cast<std::uint16_t>(text.size()));
  sizes_->append(field, 2);
  put_le32(field, static_cast<std::uint32_t>(alignment));
  data_->append(field, 4);
  data_->append(text.data(), text.size());
  data_->append(cells.data(), text.size() * kCellBytes);
}

StagingResult StagingWriter::finish(std::uint8_t background) {
  if (target_ == StagingTarget::sink) {
    sink_->take_background(background);
    return {};
  }
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
