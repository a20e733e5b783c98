// A handheld over DLP: how every request is made and its answer checked,
// the session's start, keep-alive and end, and the database list with the
// leftovers of a session that was cut off; see dlp_handheld.h.
#include <algorithm>
#include <iterator>
#include <random>
#include <set>

#include "hosts/linux/hotsync/dlp_handheld.h"

namespace vellora::linux_host {
namespace {

// EndOfSync's reasons.
constexpr std::uint16_t kEndNormal = 0;
constexpr std::uint16_t kEndCancelled = 2;

}  // namespace

DlpHandheld::DlpHandheld(HotSyncLink& link, Options options) : link_(link), options_(std::move(options)) {
  std::random_device seed;
  next_temporary_ = seed();
  if (options_.keep_alive.count() > 0) keeper_ = std::thread([this] { keep_alive_loop(); });
}

DlpHandheld::~DlpHandheld() {
  {
    std::lock_guard lock(link_mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (keeper_.joinable()) keeper_.join();
}

void DlpHandheld::keep_alive_loop() {
  std::unique_lock lock(link_mutex_);
  while (!stopping_) {
    const auto due = last_request_ + options_.keep_alive;
    if (wake_.wait_until(lock, due, [&] { return stopping_; })) break;
    if (LinkClock::now() < last_request_ + options_.keep_alive) continue;
    if (!link_.tickle()) return;
    last_request_ = LinkClock::now();
  }
}

SyncStatus DlpHandheld::fail(SyncStatus status, std::string text) {
  last_error_ = std::move(text);
  return status;
}

SyncStatus DlpHandheld::call(DlpFunction function, const std::vector<std::uint8_t>& request, std::string_view subject,
                             DlpResponse& response) {
  const std::string what =
      std::string(dlp_function_name(function)) + (subject.empty() ? "" : " of " + std::string(subject));
  if (lost_) return fail(kHandheldGone, lost_text_);
  if (request.empty()) return fail(kHandheldBadName, what + ": the request cannot be sent");
  bool answered = false;
  {
    std::lock_guard lock(link_mutex_);
    ++requests_;
    answered = link_.exchange(request, bytes_);
    last_request_ = LinkClock::now();
  }
  if (!answered) {
    lost_ = true;
    switch (link_.failure()) {
      case LinkFailure::timed_out: lost_text_ = "the handheld stopped answering during " + what; break;
      case LinkFailure::closed: lost_text_ = "the handheld hung up during " + what; break;
      default: lost_text_ = "the link to the handheld failed during " + what + ": " + link_.error_text(); break;
    }
    return fail(kHandheldGone, lost_text_);
  }
  if (const DlpDecodeStatus decoded = decode_dlp_response(bytes_, function, response); decoded != DlpDecodeStatus::ok) {
    // A handheld whose answers cannot be read is not asked anything more.
    lost_ = true;
    lost_text_ = "the handheld's answer to " + what + " cannot be read: " + dlp_decode_text(decoded);
    return fail(kHandheldGone, lost_text_);
  }
  if (response.error != kDlpErrNone)
    return fail(status_for_dlp_error(response.error), what + ": the handheld says " + dlp_error_text(response.error));
  last_error_.clear();
  return kSyncOk;
}

SyncStatus DlpHandheld::call(DlpFunction function, const std::vector<std::uint8_t>& request, std::string_view subject) {
  DlpResponse response;
  return call(function, request, subject, response);
}

bool DlpHandheld::start() {
  DlpResponse response;
  if (call(DlpFunction::read_sys_info, read_sys_info_request(), {}, response) != kSyncOk) return false;
  if (!read_sys_info_result(response, system_)) {
    lost_ = true;
    lost_text_ = last_error_ = "the handheld's answer to ReadSysInfo is too short";
    return false;
  }
  if (call(DlpFunction::read_user_info, read_user_info_request(), {}, response) != kSyncOk) return false;
  if (!read_user_info_result(response, user_)) {
    lost_ = true;
    lost_text_ = last_error_ = "the handheld's answer to ReadUserInfo is too short";
    return false;
  }
  return true;
}

std::string DlpHandheld::os_text() const {
  // 0xMMmfsbbb: major, minor, fix.
  const unsigned major = (system_.rom_version >> 24) & 0xFF;
  const unsigned minor = (system_.rom_version >> 20) & 0x0F;
  const unsigned fix = (system_.rom_version >> 16) & 0x0F;
  // Appended piece by piece: GCC 12 takes "literal" + std::string for an
  // overlapping copy and warns.
  std::string text = "Palm OS ";
  text += std::to_string(major);
  text += '.';
  text += std::to_string(minor);
  if (fix != 0) {
    text += '.';
    text += std::to_string(fix);
  }
  return text;
}

bool DlpHandheld::finish(std::string_view log_entry) {
  if (!log_entry.empty() && !cancelled_)
    call(DlpFunction::add_sync_log_entry, add_sync_log_entry_request(log_entry), {});
  const bool was_lost = lost_;
  if (call(DlpFunction::end_of_sync, end_of_sync_request(cancelled_ ? kEndCancelled : kEndNormal), {}) == kSyncOk)
    return true;
  // A handheld ends the session once EndOfSync reached it, and a USB
  // cradle's tty can vanish with the answer still in it: a hang-up then is
  // the end the session asked for.
  if (!was_lost && link_.failure() == LinkFailure::closed) {
    lost_ = false;
    lost_text_.clear();
    return true;
  }
  return false;
}

bool DlpHandheld::is_own(FourCC creator) const {
  return std::find(options_.own_creators.begin(), options_.own_creators.end(), creator) != options_.own_creators.end();
}

SyncStatus DlpHandheld::list_databases(std::vector<DbInfo>& out) {
  out.clear();
  std::uint16_t start = 0;
  for (;;) {
    DlpResponse response;
    const SyncStatus status = call(DlpFunction::read_db_list, read_db_list_request(start, can_rename()), {}, response);
    if (status == kSyncErrNotFound) return kSyncOk;  // past the last one
    if (status != kSyncOk) return status;
    std::uint16_t next = 0;
    bool more = false;
    std::vector<DbInfo> page;
    if (!read_db_list_result(response, page, next, more) || page.empty() || next <= start)
      return fail(kHandheldRefused, "the handheld's list of databases cannot be read");
    std::move(page.begin(), page.end(), std::back_inserter(out));
    if (!more) return kSyncOk;
    start = next;
  }
}

SyncStatus DlpHandheld::rename(std::string_view from, std::string_view to) {
  DlpResponse response;
  SyncStatus status =
      call(DlpFunction::open_db, open_db_request(0, kDlpOpenRead | kDlpOpenWrite, from), from, response);
  std::uint8_t handle = 0;
  if (status != kSyncOk) return status;
  if (!db_handle_result(response, handle))
    return fail(kHandheldRefused, "OpenDB of " + std::string(from) + ": no handle");
  status = call(DlpFunction::set_db_info, set_db_info_request(handle, to), from);
  const std::string why = last_error_;
  const SyncStatus closed = call(DlpFunction::close_db, close_db_request(handle), from);
  if (status != kSyncOk) return fail(status, why);
  return closed;
}

void DlpHandheld::clear_leftovers() {
  std::vector<DbInfo> databases;
  if (list_databases(databases) != kSyncOk) return;
  std::set<std::string> names;
  for (const DbInfo& db : databases) names.insert(db.name);
  for (const DbInfo& db : databases) {
    if (!is_own(db.creator)) continue;
    if (db.name.starts_with(kNewDatabasePrefix)) {
      call(DlpFunction::delete_db, delete_db_request(0, db.name), db.name);
    } else if (db.name.starts_with(kOldDatabasePrefix)) {
      // A replaced database whose replacement never took its name comes
      // back; one whose replacement did is deleted.
      const std::string real = db.name.substr(kOldDatabasePrefix.size());
      if (names.count(real) != 0 || rename(db.name, real) != kSyncOk)
        call(DlpFunction::delete_db, delete_db_request(0, db.name), db.name);
      else
        names.insert(real);
    }
    if (lost_) return;
  }
}

}  // namespace vellora::linux_host
