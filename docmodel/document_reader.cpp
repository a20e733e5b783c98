// The exporters' shared reader of document databases.
#include "docmodel/document_reader.h"

#include <algorithm>

#include "base/byte_order.h"

namespace vellora {

namespace {

constexpr std::uint8_t kOpenReadExclusive = kOpenRead | kOpenExclusive;  // 0x90
constexpr std::size_t kMaxRecordBytes = 0xFFFF;

// A record's bytes with zeros beyond its end.
class ZeroPadded {
 public:
  explicit ZeroPadded(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint8_t byte(std::size_t at) const { return at < bytes_.size() ? bytes_[at] : 0; }
  std::uint16_t be16(std::size_t at) const { return static_cast<std::uint16_t>((byte(at) << 8) | byte(at + 1)); }
  std::uint32_t be32(std::size_t at) const { return (std::uint32_t{be16(at)} << 16) | be16(at + 2); }

 private:
  std::span<const std::uint8_t> bytes_;
};

void decode_text(std::span<const std::uint8_t> bytes, TextRecord& out) {
  const ZeroPadded record(bytes);
  out.height = record.be16(kTextHeightAt);
  out.alignment = record.be16(kTextAlignmentAt);
  const std::size_t line_count = record.be16(kTextLineCountAt);
  const std::size_t held = bytes.size() > kTextHeadBytes ? bytes.size() - kTextHeadBytes : 0;
  const std::size_t text_length = std::min<std::size_t>(record.be16(kTextLengthAt), held);
  out.text.assign(bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), kTextHeadBytes)),
                  bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), kTextHeadBytes) + text_length));
  out.record_bytes = bytes.size();
  out.lines.clear();

  // Entries are taken one at a time and the record ends at the first one
  // that is not wholly there: a damaged record keeps every run before the
  // damage, and a line cut short says how many runs it kept.
  std::size_t at = kTextHeadBytes + text_length;
  std::size_t text_left = text_length;
  for (std::size_t i = 0; i < line_count; ++i) {
    if (at + kLineEntryBytes > bytes.size()) return;
    TextLine line;
    line.entry = decode_line_entry(&bytes[at]);
    at += kLineEntryBytes;
    bool is_cut = false;
    for (std::size_t r = 0; r < line.entry.run_count; ++r) {
      if (at + kRunEntryBytes > bytes.size()) {
        is_cut = true;
        break;
      }
      RunEntry entry = decode_run_entry(bytes.data() + at);
      entry.chars = static_cast<std::uint8_t>(std::min<std::size_t>(entry.chars, text_left));
      text_left -= entry.chars;
      line.runs.push_back(entry);
      at += kRunEntryBytes;
    }
    if (is_cut) line.entry.run_count = static_cast<std::uint8_t>(line.runs.size());
    out.lines.push_back(std::move(line));
    if (is_cut) return;
  }
}

}  // namespace

DocumentParagraph decode_for_export(std::span<const std::uint8_t> bytes) {
  DocumentParagraph out;
  if (bytes.size() < 2) return out;  // too short to say what it is
  const ZeroPadded record(bytes);
  switch (record.be16(0)) {
    case kTextRecord:
      out.kind = DocumentParagraph::Kind::text;
      decode_text(bytes, out.text);
      break;
    case kEmptyLineRecord: out.kind = DocumentParagraph::Kind::empty_line; break;
    case kRuleRecord:
      out.kind = DocumentParagraph::Kind::rule;
      out.rule = RuleRecord{record.be16(kRuleHeightAt), record.byte(kRuleThicknessAt), record.byte(kRuleColourAt),
                            record.byte(kRuleHighlightAt)};
      break;
    default: break;
  }
  return out;
}

DocumentReader::~DocumentReader() {
  if (is_open_) sync_.SyncCloseDB(handle_);
}

DocumentResult DocumentReader::fail(DocumentStatus status, const std::string& what, SyncStatus error) {
  std::string reason = name_ + ": " + what;
  if (error != kSyncOk) reason += ": " + sync_.error_text(error);
  return {status, std::move(reason)};
}

DocumentResult DocumentReader::open(std::string_view name) {
  name_ = std::string(name);
  if (SyncStatus status = sync_.SyncOpenDB(name, 0, handle_, kOpenReadExclusive); status != kSyncOk) {
    if (status == kSyncErrNotFound) return fail(DocumentStatus::not_found, "no such database on the handheld", kSyncOk);
    return fail(DocumentStatus::not_found, "cannot open the database", status);
  }
  is_open_ = true;
  const auto close_and_fail = [&](DocumentStatus status, const std::string& what, SyncStatus error) {
    sync_.SyncCloseDB(handle_);
    is_open_ = false;
    return fail(status, what, error);
  };
  if (SyncStatus status = sync_.SyncGetDBRecordCount(handle_, count_); status != kSyncOk)
    return close_and_fail(DocumentStatus::read_failed, "cannot count its records", status);
  if (count_ < 2) return close_and_fail(DocumentStatus::no_paragraphs, "the document holds no paragraph", kSyncOk);
  DbInfo info;
  if (SyncStatus status = sync_.SyncReadOpenDbInfo(handle_, info); status != kSyncOk)
    return close_and_fail(DocumentStatus::read_failed, "cannot read its information", status);
  if (info.version != kDocumentVersion)
    return close_and_fail(DocumentStatus::wrong_version,
                          "version " + std::to_string(info.version) + " is not a document this conduit wrote", kSyncOk);
  if (info.type != kDocumentType)
    return close_and_fail(DocumentStatus::wrong_type,
                          "a database of another application (type " + four_cc_text(info.type) + ")", kSyncOk);
  return {};
}

DocumentResult DocumentReader::read_record(std::uint16_t index, std::vector<std::uint8_t>& bytes) {
  buffer_.resize(kMaxRecordBytes);
  RecordDescriptor record;
  record.handle = handle_;
  record.index = index;
  record.buffer_size = static_cast<std::uint16_t>(kMaxRecordBytes);
  record.data = buffer_.data();
  if (SyncStatus status = sync_.SyncReadRecordByIndex(record); status != kSyncOk)
    return fail(DocumentStatus::read_failed, "cannot read record " + std::to_string(index), status);
  const std::size_t got = std::min<std::size_t>(record.size, kMaxRecordBytes);
  bytes.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(got));
  return {};
}

DocumentResult DocumentReader::read_header(HeaderRecord& out) {
  std::vector<std::uint8_t> bytes;
  if (auto read = read_record(0, bytes); !read) return read;
  const ZeroPadded record(bytes);
  out = HeaderRecord{record.be16(0), record.be32(kHeaderLineTotalAt), record.byte(kHeaderBackgroundAt)};
  return {};
}

DocumentResult DocumentReader::read_paragraph(std::uint16_t index, DocumentParagraph& out) {
  if (auto read = read_record(index, record_); !read) return read;
  out = decode_for_export(record_);
  return {};
}

}  // namespace vellora
