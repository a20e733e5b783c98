// The handheld's side of DLP: takes one request at a time, decodes its
// argument wrappers and answers it from the card as Palm OS does, error
// codes included. Whatever link carried the request, the answer is the
// same bytes: function id | 0x80, argument count, error code, arguments;
// an error answer carries no arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "tests/support/fake_handheld/fake_store.h"

namespace vellora::testing {

// Error codes of a DLP answer.
constexpr std::uint16_t kDlpOk = 0x00;
constexpr std::uint16_t kDlpErrSystem = 0x01;
constexpr std::uint16_t kDlpErrIllegalRequest = 0x02;
constexpr std::uint16_t kDlpErrParam = 0x04;
constexpr std::uint16_t kDlpErrNotFound = 0x05;
constexpr std::uint16_t kDlpErrDatabaseOpen = 0x07;
constexpr std::uint16_t kDlpErrTooManyOpen = 0x08;
constexpr std::uint16_t kDlpErrAlreadyExists = 0x09;
constexpr std::uint16_t kDlpErrNotSupported = 0x0D;
constexpr std::uint16_t kDlpErrReadOnly = 0x0F;
constexpr std::uint16_t kDlpErrNotEnoughSpace = 0x10;
constexpr std::uint16_t kDlpErrLimitExceeded = 0x11;
constexpr std::uint16_t kDlpErrCancelSync = 0x12;
constexpr std::uint16_t kDlpErrBadWrapper = 0x13;
constexpr std::uint16_t kDlpErrArgMissing = 0x14;
constexpr std::uint16_t kDlpErrArgSize = 0x15;

constexpr std::uint8_t kDlpEndOfSync = 0x2F;
constexpr std::uint8_t kDlpAnswerFlag = 0x80;

// Who the handheld says it is.
struct HandheldIdentity {
  // 1.2 is Palm OS 3.0 and later; 1.1 handhelds know no FindDB, SetDBInfo
  // or second ReadSysInfo argument.
  std::uint16_t dlp_major = 1;
  std::uint16_t dlp_minor = 2;
  std::uint32_t rom_version = 0x04103000;  // 0xMMmfsbbb: 4.1.0 release
  std::string user_name = "Fake User";
  std::uint32_t user_id = 1;
};

// An answer with `error` and no arguments.
std::vector<std::uint8_t> dlp_error_answer(std::uint8_t function, std::uint16_t error);

// A DLP function's name for messages ("ReadRecord"), or its id in hex.
std::string dlp_function_name(std::uint8_t function);

// What DLP requests read and change: the card, the open databases and
// the session's log.
struct DlpServerState {
  struct OpenDatabase {
    CardDatabase* db = nullptr;
    std::uint8_t mode = 0;  // the open mode bits
  };
  FakeStore* store = nullptr;
  HandheldIdentity identity;
  bool is_sync_cancelled = false;
  std::map<std::uint8_t, OpenDatabase> open;  // by handle
  std::size_t next_find = 0;                  // where a FindDB by type and creator goes on
  bool has_ended = false;
  std::vector<std::string> log_entries;
};

class DlpServer {
 public:
  // `store` must outlive the server.
  DlpServer(FakeStore& store, HandheldIdentity identity, bool is_sync_cancelled);

  // Starts a session: no database open, no EndOfSync yet.
  void begin_session();
  // The link is gone: databases still open are closed, and deleted ones
  // stop counting against free memory.
  void end_session();

  // The answer to one request; never empty.
  std::vector<std::uint8_t> answer(std::span<const std::uint8_t> request);

  // EndOfSync was answered in this session.
  bool has_ended() const { return state_.has_ended; }
  const std::vector<std::string>& log_entries() const { return state_.log_entries; }

 private:
  DlpServerState state_;
};

}  // namespace vellora::testing
