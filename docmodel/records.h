// The document database format: the records a document database holds on
// the handheld, with encoders for the packer and decoders for the
// exporters and `vellora dump`. Layout is done on the PC, so a text record
// carries its lines and the runs of each line ready to draw.
//
//   record 0      header, 48 bytes: tag 2, lineTotal, background
//   records 1..N  one per paragraph: text (kind 0), empty line (kind 1) or
//                 rule (kind 2)
// Every multi-byte field is big-endian; unnamed bytes are 0xFF filler.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "platform/sync_manager.h"

namespace vellora {

inline constexpr FourCC kDocumentType = make_four_cc("VLTx");
inline constexpr FourCC kDocumentCreator = make_four_cc("bhV1");
constexpr std::uint16_t kDocumentVersion = 2;

constexpr std::size_t kHeaderRecordBytes = 48;
constexpr std::size_t kShortRecordBytes = 16;  // empty-line and rule records
constexpr std::size_t kTextHeadBytes = 16;
constexpr std::size_t kLineEntryBytes = 8;
constexpr std::size_t kRunEntryBytes = 8;
constexpr std::uint8_t kFiller = 0xFF;

// Where the named fields sit, in bytes from the start of their record. Every
// record starts with its 16-bit kind (the header record's tag).
constexpr std::size_t kHeaderLineTotalAt = 2;   // u32
constexpr std::size_t kHeaderBackgroundAt = 6;  // u8
constexpr std::size_t kTextHeightAt = 2;        // u16, also the height of the short records
constexpr std::size_t kTextAlignmentAt = 6;     // u16
constexpr std::size_t kTextLineCountAt = 8;     // u16
constexpr std::size_t kTextLengthAt = 10;       // u16
constexpr std::size_t kRuleHeightAt = 2;        // u16
constexpr std::size_t kRuleThicknessAt = 6;     // u8
constexpr std::size_t kRuleColourAt = 7;        // u8
constexpr std::size_t kRuleHighlightAt = 8;     // u8
constexpr std::size_t kEmptyLineHeightAt = 2;   // u16

// A line's character count is one byte on the handheld; layout keeps it to
// this, and only the zero-width codes 0x7F and 0x81 could push a line past it.
constexpr std::size_t kMaxLineChars = 128;

constexpr std::uint16_t kHeaderTag = 2;
constexpr std::uint16_t kTextRecord = 0;
constexpr std::uint16_t kEmptyLineRecord = 1;
constexpr std::uint16_t kRuleRecord = 2;
constexpr std::uint16_t kEmptyLineHeightPx = 8;

constexpr std::uint16_t kTextRun = 0;
constexpr std::uint16_t kSpaceRun = 1;

struct HeaderRecord {
  std::uint16_t tag = kHeaderTag;
  std::uint32_t line_total = 0;
  std::uint8_t background = 0;
};

struct EmptyLineRecord {
  std::uint16_t height = kEmptyLineHeightPx;
};

struct RuleRecord {
  std::uint16_t height = 0;
  std::uint8_t thickness = 0;
  std::uint8_t colour = 0;
  std::uint8_t highlight = 0;
};

struct LineEntry {
  std::uint8_t chars = 0;
  std::uint8_t run_count = 0;
  std::uint8_t width = 0;  // natural width; 150 on a justified line of several runs
  std::uint8_t height = 0;
  std::uint8_t indent = 0;
};

struct RunEntry {
  std::uint16_t kind = kTextRun;
  std::uint8_t chars = 0;
  std::uint8_t width = 0;
  std::uint8_t height = 0;
  std::uint8_t font = 0;
  std::uint8_t colour = 0;
  std::uint8_t highlight = 0;
};

struct TextLine {
  LineEntry entry;
  std::vector<RunEntry> runs;
};

struct TextRecord {
  std::uint16_t height = 0;
  std::uint16_t alignment = 0;
  std::vector<std::uint8_t> text;
  std::vector<TextLine> lines;
  std::size_t record_bytes = 0;  // size of the record it was decoded from
};

using ParagraphRecord = std::variant<TextRecord, EmptyLineRecord, RuleRecord>;

// ---- encoders: each writes a complete record or entry at `at`.
void encode_header(std::uint8_t* at, const HeaderRecord& header);  // 48 bytes
void encode_empty_line(std::uint8_t* at);                          // 16 bytes
void encode_rule(std::uint8_t* at, const RuleRecord& rule);        // 16 bytes
// The 16-byte head of a text record; the text follows it.
void encode_text_head(std::uint8_t* at, std::uint16_t height, std::uint16_t alignment, std::uint16_t line_count,
                      std::uint16_t text_length);
void encode_line_entry(std::uint8_t* at, const LineEntry& line);
void encode_run_entry(std::uint8_t* at, const RunEntry& run);
// The entries back from their bytes (kLineEntryBytes, kRunEntryBytes at
// `at`, which the caller has checked are there).
LineEntry decode_line_entry(const std::uint8_t* at);
RunEntry decode_run_entry(const std::uint8_t* at);
std::vector<std::uint8_t> encode_text_record(const TextRecord& record);

constexpr std::size_t text_record_bytes(std::size_t text_length, std::size_t lines, std::size_t runs) {
  return kTextHeadBytes + text_length + kLineEntryBytes * lines + kRunEntryBytes * runs;
}

// ---- decoders: they check every count against the bytes at hand and never
// read past them; `reason` says what is wrong and where.
struct DecodeResult {
  bool ok = true;
  std::string reason;
  explicit operator bool() const { return ok; }
};

DecodeResult decode_header(std::span<const std::uint8_t> bytes, HeaderRecord& out);
DecodeResult decode_paragraph(std::span<const std::uint8_t> bytes, ParagraphRecord& out);

// ---- invariants of a laid-out text record: lines cover the text, runs
// cover their lines, natural widths at most 149 pixels, widths and heights
// as the layout defines them, and the size formula. With the paragraph's
// staged cells (10 bytes per character) it also checks that every run is
// uniform and carries its cells' attributes. Returns the violations found.
std::vector<std::string> check_text_record(const TextRecord& record, std::span<const std::uint8_t> cells = {});

// Checks a whole document's records (record 0 first), including `lineTotal`.
std::vector<std::string> check_document(const std::vector<std::vector<std::uint8_t>>& records);

// The same check over records handed in one at a time, so a document of any
// size can be checked without holding it; each problem goes to `report` as
// it is found, in check_document's order.
class DocumentCheck {
 public:
  explicit DocumentCheck(std::function<void(const std::string&)> report) : report_(std::move(report)) {}
  void add(std::span<const std::uint8_t> record);
  // After the last record: what only the whole document shows.
  void finish();

 private:
  std::function<void(const std::string&)> report_;
  HeaderRecord header_;
  std::size_t records_ = 0;
  std::uint64_t lines_ = 0;
  bool is_stopped_ = false;
};

}  // namespace vellora
