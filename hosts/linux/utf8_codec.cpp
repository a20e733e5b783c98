// UTF-8 on the PC, the handheld's Windows-1252-based set on the handheld.
#include "hosts/linux/utf8_codec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace vellora::linux_host {

namespace {

// Bytes 0x80 to 0x9F; the rest stand for the Unicode character of their
// own number.
constexpr std::array<char32_t, 32> kUpperControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x2666, 0x2663, 0x2665,  // 88-8F
    0x2660, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

// The bytes 0x80 to 0x9F by their characters: a multiplicative hash that
// sends each of the 32 to a slot of its own, so a look-up is one load.
struct UpperSlot {
  char32_t c = 0;
  std::uint8_t byte = 0;
};

constexpr std::uint32_t kUpperHash = 0xE8E5B461;

constexpr std::size_t upper_slot_of(char32_t c) { return (static_cast<std::uint32_t>(c) * kUpperHash) >> 26; }

constexpr std::array<UpperSlot, 64> kUpperSlots = [] {
  std::array<UpperSlot, 64> slots{};
  for (std::size_t i = 0; i < kUpperControls.size(); ++i)
    slots[upper_slot_of(kUpperControls[i])] = {kUpperControls[i], static_cast<std::uint8_t>(0x80 + i)};
  return slots;
}();

static_assert(
    [] {
      for (const char32_t c : kUpperControls)
        if (kUpperSlots[upper_slot_of(c)].c != c) return false;
      return true;
    }(),
    "two of the characters at 0x80 to 0x9F share a slot");

constexpr std::uint8_t kReplacement = '?';
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// A UTF-8 sequence's length by its first byte, and the range its second
// byte must fall in (which rules out overlong forms, surrogates and
// characters past U+10FFFF); length 0 for a byte that cannot start one.
struct Lead {
  std::uint8_t length, low, high;
};

constexpr Lead lead_of(std::uint8_t b) {
  if (b < 0x80) return {1, 0, 0};
  if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
  if (b == 0xE0) return {3, 0xA0, 0xBF};
  if (b == 0xED) return {3, 0x80, 0x9F};
  if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
  if (b == 0xF0) return {4, 0x90, 0xBF};
  if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
  if (b == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

constexpr auto kLeads = [] {
  std::array<Lead, 256> leads{};
  for (std::size_t b = 0; b < leads.size(); ++b) leads[b] = lead_of(static_cast<std::uint8_t>(b));
  return leads;
}();

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

std::uint64_t load_word(const std::uint8_t* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

bool is_ascii_word(const std::uint8_t* p) { return (load_word(p) & kHighBits) == 0; }

// Where the first byte past ASCII lies in a word, given the word's high bits.
std::size_t first_high_byte(std::uint64_t high_bits) {
  const int bit =
      std::endian::native == std::endian::little ? std::countr_zero(high_bits) : std::countl_zero(high_bits);
  return static_cast<std::size_t>(bit) / 8;
}

// Whether the sequence led by `lead` is well formed in p[1] to p[3], which
// must be readable whatever its length: tested together, without a branch
// for each byte, since the lengths of neighbouring characters vary at random.
bool is_well_formed(const Lead& lead, const std::uint8_t* p) {
  const auto is_continuation = [](std::uint8_t b) { return (b & 0xC0) == 0x80; };
  return lead.length >= 2 && (static_cast<unsigned>(p[1] >= lead.low) & static_cast<unsigned>(p[1] <= lead.high) &
                              static_cast<unsigned>(lead.length < 3 || is_continuation(p[2])) &
                              static_cast<unsigned>(lead.length < 4 || is_continuation(p[3])));
}

// The character of a well-formed sequence of two to four bytes.
char32_t decode_well_formed(const Lead& lead, const std::uint8_t* p) {
  const char32_t c2 = (static_cast<char32_t>(p[0] & 0x1F) << 6) | (p[1] & 0x3F);
  const char32_t c3 =
      (static_cast<char32_t>(p[0] & 0x0F) << 12) | (static_cast<char32_t>(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
  const char32_t c4 = (static_cast<char32_t>(p[0] & 0x07) << 18) | (static_cast<char32_t>(p[1] & 0x3F) << 12) |
                      (static_cast<char32_t>(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
  return lead.length == 2 ? c2 : lead.length == 3 ? c3 : c4;
}

// Checks UTF-8 a piece at a time; a sequence may span pieces.
class Utf8Check {
 public:
  void feed(std::span<const std::uint8_t> bytes) {
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const end = p + bytes.size();
    // Whole sequences while a word and a sequence after it fit, the state
    // kept in locals: the bytes read could alias the members.
    if (pending_ == 0 && is_valid_) {
      bool is_valid = true;
      bool has_multibyte = has_multibyte_;
      while (is_valid && end - p >= 16) {
        const std::uint64_t high = load_word(p) & kHighBits;
        if (high == 0) {
          p += 8;
          continue;
        }
        p += first_high_byte(high);
        const Lead lead = kLeads[*p];
        is_valid = is_well_formed(lead, p);
        has_multibyte = true;
        p += lead.length;
      }
      is_valid_ = is_valid;
      has_multibyte_ = has_multibyte;
    }
    while (p != end && is_valid_) {
      if (pending_ == 0) {
        while (end - p >= 8 && is_ascii_word(p)) p += 8;
        if (p == end) break;
        const std::uint8_t b = *p++;
        if (b < 0x80) continue;
        const Lead lead = lead_of(b);
        if (lead.length == 0) {
          is_valid_ = false;
          break;
        }
        has_multibyte_ = true;
        pending_ = lead.length - 1;
        low_ = lead.low;
        high_ = lead.high;
      } else {
        const std::uint8_t b = *p++;
        if (b < low_ || b > high_) is_valid_ = false;
        low_ = 0x80;
        high_ = 0xBF;
        --pending_;
      }
    }
  }
  bool is_valid() const { return is_valid_ && pending_ == 0; }
  bool has_multibyte() const { return has_multibyte_; }

 private:
  bool is_valid_ = true;
  bool has_multibyte_ = false;
  int pending_ = 0;
  std::uint8_t low_ = 0x80, high_ = 0xBF;
};

// The one well-formed sequence at `p` (`available` bytes), or 0 when it is
// malformed; `needed` says how many bytes it wants when it is cut short.
char32_t decode_at(const std::uint8_t* p, std::size_t available, std::size_t& length, std::size_t& needed) {
  const Lead lead = lead_of(p[0]);
  needed = lead.length;
  length = 1;
  if (lead.length == 0) return 0;
  if (lead.length == 1) return p[0];
  if (available < lead.length) return 0;
  char32_t c = p[0] & (0x7F >> lead.length);
  for (std::size_t i = 1; i < lead.length; ++i) {
    const std::uint8_t b = p[i];
    if (b < (i == 1 ? lead.low : 0x80) || b > (i == 1 ? lead.high : 0xBF)) return 0;
    c = (c << 6) | (b & 0x3F);
  }
  length = lead.length;
  return c;
}

constexpr bool is_ascii_letter_or_digit(std::uint8_t b) {
  return (b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
}

std::uint8_t lower(std::uint8_t b) { return b >= 'A' && b <= 'Z' ? static_cast<std::uint8_t>(b + 32) : b; }

// The labels under which a page declares a single-byte Latin set; a page
// that says so is taken at its word.
bool is_single_byte_label(std::string_view label) {
  static constexpr std::array<std::string_view, 17> kLabels = {
      "ansi_x3.4-1968", "ascii",        "cp1252",   "cp819",      "csisolatin1",     "ibm819", "iso-8859-1",
      "iso-ir-100",     "iso8859-1",    "iso88591", "iso_8859-1", "iso_8859-1:1987", "l1",     "latin1",
      "us-ascii",       "windows-1252", "x-cp1252"};
  return std::find(kLabels.begin(), kLabels.end(), label) != kLabels.end();
}

// Whether the head of a page (up to its body) holds a <meta> whose charset
// names a single-byte Latin set: <meta charset="..."> or the charset
// parameter of <meta http-equiv="Content-Type" content="...">.
bool declares_single_byte_set(std::span<const std::uint8_t> head) {
  std::string text(head.size(), '\0');
  std::transform(head.begin(), head.end(), text.begin(), [](std::uint8_t b) { return static_cast<char>(lower(b)); });
  if (const auto body = text.find("<body"); body != std::string::npos) text.resize(body);
  for (std::size_t at = text.find("<meta"); at != std::string::npos; at = text.find("<meta", at + 1)) {
    const std::size_t close = std::min(text.find('>', at), text.size());
    const std::string_view tag = std::string_view(text).substr(at, close - at);
    std::size_t i = tag.find("charset");
    if (i == std::string_view::npos) continue;
    i += 7;
    while (i < tag.size() && (tag[i] == ' ' || tag[i] == '\t' || tag[i] == '\n' || tag[i] == '\r')) ++i;
    if (i == tag.size() || tag[i] != '=') continue;
    ++i;
    while (i < tag.size() && (tag[i] == ' ' || tag[i] == '"' || tag[i] == '\'')) ++i;
    std::size_t end = i;
    while (end < tag.size() && (is_ascii_letter_or_digit(static_cast<std::uint8_t>(tag[end])) || tag[end] == '-' ||
                                tag[end] == '_' || tag[end] == '.' || tag[end] == ':'))
      ++end;
    return is_single_byte_label(tag.substr(i, end - i));
  }
  return false;
}

// A numeric character reference "&#digits;" or "&#xhex;" at `p`: its
// length and value. Values past U+10FFFF stop growing there. Length 0
// when `p` holds none; `is_cut` when the bytes end before it could.
constexpr std::size_t kLongestReference = 16;

std::size_t numeric_reference(const std::uint8_t* p, std::size_t available, char32_t& value, bool& is_cut) {
  is_cut = false;
  value = 0;
  std::size_t i = 1;
  const auto end_of_input = [&] {
    is_cut = available < kLongestReference;
    return std::size_t{0};
  };
  if (i == available) return end_of_input();
  if (p[i++] != '#') return 0;
  if (i == available) return end_of_input();
  const bool is_hex = p[i] == 'x' || p[i] == 'X';
  if (is_hex) ++i;
  const std::size_t first_digit = i;
  for (; i < available && i < kLongestReference; ++i) {
    const std::uint8_t b = p[i];
    unsigned digit;
    if (b >= '0' && b <= '9') {
      digit = b - '0';
    } else if (is_hex && lower(b) >= 'a' && lower(b) <= 'f') {
      digit = lower(b) - 'a' + 10;
    } else {
      break;
    }
    value = std::min<char32_t>(value * (is_hex ? 16 : 10) + digit, 0x110000);
  }
  if (i == available) return end_of_input();
  if (i == first_digit || i == kLongestReference || p[i] != ';') return 0;
  return i + 1;
}

class Utf8SourceTranscoder final : public SourceTranscoder {
 public:
  explicit Utf8SourceTranscoder(SourceKind kind) : is_html_(kind == SourceKind::html) {}

  void examine(std::span<const std::uint8_t> bytes) override {
    if (is_html_ && head_.size() < kHeadBytes)
      head_.insert(head_.end(), bytes.begin(), bytes.begin() + std::min(bytes.size(), kHeadBytes - head_.size()));
    check_.feed(bytes);
    if (is_html_ && !has_references_ && !bytes.empty()) {
      // "&#" may be split between two pieces.
      if (last_examined_ == '&' && bytes[0] == '#') has_references_ = true;
      for (const void* at = std::memchr(bytes.data(), '&', bytes.size()); at != nullptr && !has_references_;) {
        const auto* amp = static_cast<const std::uint8_t*>(at);
        const std::size_t rest = bytes.size() - static_cast<std::size_t>(amp - bytes.data()) - 1;
        if (rest > 0 && amp[1] == '#') has_references_ = true;
        at = rest > 0 ? std::memchr(amp + 1, '&', rest) : nullptr;
      }
      last_examined_ = bytes.back();
    }
  }

  bool will_transcode() override {
    return check_.is_valid() && (check_.has_multibyte() || has_references_) && !declares_single_byte_set(head_);
  }

  std::size_t transcode(std::uint8_t* bytes, std::size_t size, bool at_end, std::size_t& unfinished) override {
    std::size_t in = 0;
    std::size_t out = 0;
    unfinished = 0;
    if (is_at_start_) {
      if (size < kByteOrderMark.size() && !at_end && std::memcmp(bytes, kByteOrderMark.data(), size) == 0) {
        unfinished = size;
        return 0;
      }
      is_at_start_ = false;
      if (size >= kByteOrderMark.size() && std::memcmp(bytes, kByteOrderMark.data(), kByteOrderMark.size()) == 0)
        in = kByteOrderMark.size();
    }
    // Text a word at a time while a word and a sequence after it fit. A
    // word is loaded before it is stored, since the output trails the
    // input; stored whole only where that cannot overwrite input not yet
    // read.
    while (!is_html_ && size - in >= 16) {
      const std::uint64_t word = load_word(bytes + in);
      const std::uint64_t high = word & kHighBits;
      if (high == 0) {
        std::memcpy(bytes + out, &word, sizeof word);
        in += 8;
        out += 8;
        continue;
      }
      const std::size_t ascii = first_high_byte(high);
      if (in - out >= sizeof word)
        std::memcpy(bytes + out, &word, sizeof word);
      else
        std::memmove(bytes + out, bytes + in, ascii);
      in += ascii;
      out += ascii;
      const Lead lead = kLeads[bytes[in]];
      if (!is_well_formed(lead, bytes + in)) {
        bytes[out++] = replace();  // the file changed since it was examined
        ++in;
        continue;
      }
      bytes[out++] = to_handheld(decode_well_formed(lead, bytes + in));
      in += lead.length;
    }
    while (in < size) {
      const std::uint8_t b = bytes[in];
      if (b < 0x80 && !(b == '&' && is_html_)) {
        bytes[out++] = b;
        ++in;
        continue;
      }
      if (b == '&') {
        char32_t value;
        bool is_cut;
        const std::size_t length = numeric_reference(bytes + in, size - in, value, is_cut);
        if (is_cut && !at_end) break;
        if (length == 0 || value < 0x100) {
          bytes[out++] = b;
          ++in;
          continue;
        }
        bytes[out++] = to_handheld(value);
        in += length;
        continue;
      }
      std::size_t length;
      std::size_t needed;
      const char32_t c = decode_at(bytes + in, size - in, length, needed);
      if (c == 0 && needed > size - in && !at_end) break;
      // The file was checked whole, so a malformed sequence means it
      // changed since; each such byte becomes one '?'.
      bytes[out++] = c == 0 ? replace() : to_handheld(c);
      in += length;
    }
    unfinished = size - in;
    return out;
  }

  std::size_t replaced() const override { return replaced_; }

 private:
  std::uint8_t replace() {
    ++replaced_;
    return kReplacement;
  }
  std::uint8_t to_handheld(char32_t c) {
    const auto byte = unicode_to_handheld(c);
    return byte ? *byte : replace();
  }

  bool is_html_;
  Utf8Check check_;
  // Where a page declares its character set: its head, within its first
  // bytes.
  static constexpr std::size_t kHeadBytes = 1 << 16;
  std::vector<std::uint8_t> head_;
  bool has_references_ = false;
  std::uint8_t last_examined_ = 0;
  bool is_at_start_ = true;
  std::size_t replaced_ = 0;
};

}  // namespace

char32_t handheld_to_unicode(std::uint8_t byte) {
  return byte >= 0x80 && byte < 0xA0 ? kUpperControls[byte - 0x80] : byte;
}

std::optional<std::uint8_t> unicode_to_handheld(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<std::uint8_t>(c);
  const UpperSlot& slot = kUpperSlots[upper_slot_of(c)];
  if (slot.c != c) return std::nullopt;
  return slot.byte;
}

void append_utf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::unique_ptr<SourceTranscoder> Utf8Codec::source_transcoder(SourceKind kind) const {
  if (kind == SourceKind::rtf) return nullptr;
  return std::make_unique<Utf8SourceTranscoder>(kind);
}

std::string Utf8Codec::name_to_handheld(std::string_view pc_name) const {
  std::string name(pc_name);
  Utf8SourceTranscoder transcoder(SourceKind::text);
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
  transcoder.examine(bytes);
  if (!transcoder.will_transcode()) return name;
  std::size_t unfinished;
  name.resize(transcoder.transcode(reinterpret_cast<std::uint8_t*>(name.data()), name.size(), true, unfinished));
  return name;
}

std::optional<std::string> Utf8Codec::name_to_pc(std::string_view handheld_name) const {
  std::string name;
  for (const char byte : handheld_name) {
    const char32_t c = handheld_to_unicode(static_cast<std::uint8_t>(byte));
    if (c >= 0x80 && c < 0xA0) return std::nullopt;  // a C1 control
    append_utf8(c, name);
  }
  return name;
}

void Utf8Codec::append_pc_text(std::span<const std::uint8_t> text, std::string& out) const {
  for (const std::uint8_t byte : text) append_utf8(handheld_to_unicode(byte), out);
}

char32_t Utf8Codec::html_reference(std::uint8_t byte) const { return byte >= 0x80 ? handheld_to_unicode(byte) : 0; }

}  // namespace vellora::linux_host
