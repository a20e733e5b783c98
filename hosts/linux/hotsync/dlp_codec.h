// DLP, the Desktop Link Protocol: the requests the desktop sends a
// handheld and the responses it reads back, one at a time. A request is a
// function id, an argument count and the arguments, each in a wrapper that
// carries its id and length; a response echoes the function id with its
// high bit set and adds a 16-bit error code. Arguments are written in the
// tiny (< 256 bytes) or short (< 64 KiB) wrapper every handheld reads, and
// read in any of the three. A response is read only within its bytes:
// every length a handheld gives is checked before it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vellora::linux_host {

inline constexpr std::uint8_t kDlpResponseFlag = 0x80;
inline constexpr std::uint8_t kDlpFirstArgument = 0x20;
// Every argument this desktop sends stays below this, as older handhelds
// read no long wrapper.
inline constexpr std::size_t kDlpMostArgumentBytes = 0xFFFF;

// The functions the conduit's session uses.
enum class DlpFunction : std::uint8_t {
  read_user_info = 0x10,
  read_sys_info = 0x12,
  read_storage_info = 0x15,
  read_db_list = 0x16,
  open_db = 0x17,
  create_db = 0x18,
  close_db = 0x19,
  delete_db = 0x1A,
  read_record = 0x20,
  write_record = 0x21,
  add_sync_log_entry = 0x2A,
  read_open_db_info = 0x2B,
  open_conduit = 0x2E,
  end_of_sync = 0x2F,
  find_db = 0x39,
  set_db_info = 0x3A,
};

// Error codes in a response header.
inline constexpr std::uint16_t kDlpErrNone = 0x00;
inline constexpr std::uint16_t kDlpErrNotFound = 0x05;
inline constexpr std::uint16_t kDlpErrCancelSync = 0x12;

struct DlpArgument {
  std::uint8_t id = kDlpFirstArgument;
  std::span<const std::uint8_t> data;
};

// The request's bytes; empty when an argument is too long to send.
std::vector<std::uint8_t> dlp_request(DlpFunction function, std::span<const DlpArgument> arguments);

enum class DlpDecodeStatus { ok, too_short, wrong_function, bad_wrapper, past_the_end, arguments_on_error };

struct DlpResponse {
  std::uint16_t error = kDlpErrNone;
  // Views into the response's bytes, which must outlive them.
  std::vector<DlpArgument> arguments;
  // The argument with this id, or an empty one.
  std::span<const std::uint8_t> argument(std::uint8_t id) const;
};

// Reads the response to `function`; anything but ok means the bytes are
// not a response to it and nothing in `out` may be used.
DlpDecodeStatus decode_dlp_response(std::span<const std::uint8_t> bytes, DlpFunction function, DlpResponse& out);

// One line for a decode failure, and the handheld's words for an error
// code ("not found", "not enough space", ...).
std::string dlp_decode_text(DlpDecodeStatus status);
std::string dlp_error_text(std::uint16_t error);
// The function's name as the protocol calls it ("WriteRecord").
const char* dlp_function_name(DlpFunction function);

}  // namespace vellora::linux_host
