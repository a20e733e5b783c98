// DLP requests and responses; see dlp_codec.h.
#include "hosts/linux/hotsync/dlp_codec.h"

#include <array>

#include "base/byte_order.h"

namespace vellora::linux_host {

namespace {

constexpr std::uint8_t kShortWrapper = 0x80;
constexpr std::uint8_t kLongWrapper = 0x40;
constexpr std::uint8_t kWrapperBits = kShortWrapper | kLongWrapper;
constexpr std::size_t kMostTinyBytes = 0xFF;
constexpr std::size_t kResponseHeaderBytes = 4;  // function, argc, error

// The handheld's error codes in words, by code.
constexpr std::array<std::string_view, 0x16> kErrorTexts = {
    "no error",
    "general system error",
    "unknown function",
    "not enough dynamic memory",
    "invalid parameter",
    "not found",
    "no open database",
    "database open by someone else",
    "too many open databases",
    "already exists",
    "cannot open the database",
    "record deleted",
    "record in use",
    "not supported on this database",
    "unused error 14",
    "read-only",
    "not enough space",
    "size limit exceeded",
    "sync cancelled",
    "bad argument wrapper",
    "argument missing",
    "bad argument size",
};

}  // namespace

std::vector<std::uint8_t> dlp_request(DlpFunction function, std::span<const DlpArgument> arguments) {
  std::vector<std::uint8_t> out{static_cast<std::uint8_t>(function), static_cast<std::uint8_t>(arguments.size())};
  for (const DlpArgument& argument : arguments) {
    const std::size_t size = argument.data.size();
    if (size > kDlpMostArgumentBytes || arguments.size() > 0xFF) return {};
    if (size <= kMostTinyBytes) {
      out.push_back(argument.id);
      out.push_back(static_cast<std::uint8_t>(size));
    } else {
      out.insert(out.end(), {static_cast<std::uint8_t>(argument.id | kShortWrapper), 0, 0, 0});
      put_be16(out.data() + out.size() - 2, static_cast<std::uint16_t>(size));
    }
    out.insert(out.end(), argument.data.begin(), argument.data.end());
  }
  return out;
}

std::span<const std::uint8_t> DlpResponse::argument(std::uint8_t id) const {
  for (const DlpArgument& a : arguments)
    if (a.id == id) return a.data;
  return {};
}

DlpDecodeStatus decode_dlp_response(std::span<const std::uint8_t> bytes, DlpFunction function, DlpResponse& out) {
  out = {};
  if (bytes.size() < kResponseHeaderBytes) return DlpDecodeStatus::too_short;
  if (bytes[0] != (static_cast<std::uint8_t>(function) | kDlpResponseFlag)) return DlpDecodeStatus::wrong_function;
  const std::size_t count = bytes[1];
  out.error = get_be16(bytes.data() + 2);
  if (out.error != kDlpErrNone && count != 0) return DlpDecodeStatus::arguments_on_error;
  std::size_t at = kResponseHeaderBytes;
  for (std::size_t i = 0; i < count; ++i) {
    if (bytes.size() - at < 2) return DlpDecodeStatus::past_the_end;
    const std::uint8_t wrapper = bytes[at] & kWrapperBits;
    const auto id = static_cast<std::uint8_t>(bytes[at] & ~kWrapperBits);
    std::size_t header = 2;
    std::uint64_t size = bytes[at + 1];
    if (wrapper == kShortWrapper) {
      header = 4;
      if (bytes.size() - at < header) return DlpDecodeStatus::past_the_end;
      size = get_be16(bytes.data() + at + 2);
    } else if (wrapper == kLongWrapper) {
      header = 6;
      if (bytes.size() - at < header) return DlpDecodeStatus::past_the_end;
      size = get_be32(bytes.data() + at + 2);
    } else if (wrapper != 0) {
      return DlpDecodeStatus::bad_wrapper;
    }
    at += header;
    if (size > bytes.size() - at) return DlpDecodeStatus::past_the_end;
    out.arguments.push_back({id, bytes.subspan(at, static_cast<std::size_t>(size))});
    at += static_cast<std::size_t>(size);
  }
  return DlpDecodeStatus::ok;
}

std::string dlp_decode_text(DlpDecodeStatus status) {
  switch (status) {
    case DlpDecodeStatus::ok: return {};
    case DlpDecodeStatus::too_short: return "the handheld's response is shorter than its header";
    case DlpDecodeStatus::wrong_function: return "the handheld answered another request";
    case DlpDecodeStatus::bad_wrapper: return "the handheld's response holds an argument of unknown form";
    case DlpDecodeStatus::past_the_end: return "the handheld's response announces more bytes than it holds";
    case DlpDecodeStatus::arguments_on_error: return "the handheld's response carries arguments with an error";
  }
  return {};
}

std::string dlp_error_text(std::uint16_t error) {
  if (error < kErrorTexts.size()) return std::string(kErrorTexts[error]);
  return "handheld error " + std::to_string(error);
}

const char* dlp_function_name(DlpFunction function) {
  switch (function) {
    case DlpFunction::read_user_info: return "ReadUserInfo";
    case DlpFunction::read_sys_info: return "ReadSysInfo";
    case DlpFunction::read_storage_info: return "ReadStorageInfo";
    case DlpFunction::read_db_list: return "ReadDBList";
    case DlpFunction::open_db: return "OpenDB";
    case DlpFunction::create_db: return "CreateDB";
    case DlpFunction::close_db: return "CloseDB";
    case DlpFunction::delete_db: return "DeleteDB";
    case DlpFunction::read_record: return "ReadRecord";
    case DlpFunction::write_record: return "WriteRecord";
    case DlpFunction::add_sync_log_entry: return "AddSyncLogEntry";
    case DlpFunction::read_open_db_info: return "ReadOpenDBInfo";
    case DlpFunction::open_conduit: return "OpenConduit";
    case DlpFunction::end_of_sync: return "EndOfSync";
    case DlpFunction::find_db: return "FindDB";
    case DlpFunction::set_db_info: return "SetDBInfo";
  }
  return "a request";
}

}  // namespace vellora::linux_host
