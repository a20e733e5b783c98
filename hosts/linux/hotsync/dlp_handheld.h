// A real handheld behind the SyncManager interface: each call becomes one
// or a few DLP requests over a HotSync link, one at a time, and each DLP
// error becomes the status the passes already understand.
//
// A handheld has no rename-into-place, so this class builds one: a new
// database is written under a temporary name and takes its real name
// (SetDBInfo) only once its CloseDB has been answered. A database being
// replaced is renamed out of the way first and deleted last, so a link
// lost at any request leaves the old database or the new one, and the
// next session's start puts back or removes what a lost one left. A
// handheld older than DLP 1.2 cannot rename; it gets the direct order.
//
// Once the link is lost every call fails at once with kHandheldGone, and
// lost_text() names the request it was lost at.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "hosts/linux/hotsync/dlp_codec.h"
#include "hosts/linux/hotsync/dlp_commands.h"
#include "hosts/linux/hotsync/link.h"
#include "hosts/linux/pdb_folder_handheld.h"
#include "platform/sync_manager.h"

namespace vellora::linux_host {

constexpr SyncStatus kHandheldGone = 19;       // the link to the handheld is lost
constexpr SyncStatus kHandheldCancelled = 20;  // the user cancelled the sync on the handheld
constexpr SyncStatus kHandheldRefused = 21;    // any other DLP error

// The status a DLP error code becomes.
SyncStatus status_for_dlp_error(std::uint16_t error);

// The prefixes of this class's temporary names. A new database is written
// as "~vlr#" and eight hex digits; one being replaced waits as "~vlr~" and
// its name.
inline constexpr std::string_view kNewDatabasePrefix = "~vlr#";
inline constexpr std::string_view kOldDatabasePrefix = "~vlr~";

class DlpHandheld : public SyncManager {
 public:
  struct Options {
    // Creators whose databases the clean-up at a session's start may
    // rename or delete: a temporary name alone never makes a database ours.
    std::vector<FourCC> own_creators;
    // Told once per session what the user should know (an old handheld).
    std::function<void(const std::string&)> on_note;
    // How long the desktop may go without a request before it tells the
    // handheld it is still there.
    std::chrono::milliseconds keep_alive{5'000};
  };

  DlpHandheld(HotSyncLink& link, Options options);
  ~DlpHandheld() override;
  DlpHandheld(const DlpHandheld&) = delete;
  DlpHandheld& operator=(const DlpHandheld&) = delete;

  // The session's opening: ReadSysInfo, then ReadUserInfo. False with
  // last_error().
  bool start();
  const DlpSysInfo& system() const { return system_; }
  const DlpUserInfo& user() const { return user_; }
  // "Palm OS 4.1", from the ROM version.
  std::string os_text() const;
  // The session's end: `log_entry` in the handheld's own HotSync log, then
  // EndOfSync. True once EndOfSync was answered.
  bool finish(std::string_view log_entry);

  bool is_lost() const { return lost_; }
  bool was_cancelled() const { return cancelled_; }
  // "the handheld stopped answering during WriteRecord of report.htm".
  const std::string& lost_text() const { return lost_text_; }
  const std::string& last_error() const { return last_error_; }
  // DLP requests sent so far.
  std::uint32_t request_count() const { return requests_; }
  // Every RAM database of card 0.
  SyncStatus list_databases(std::vector<DbInfo>& out);

  // Sends OpenConduit (kHandheldCancelled when the user cancelled), then
  // clears what a lost session left behind.
  SyncStatus SyncRegisterConduit(ConduitHandle& handle) override;
  // Deletes the databases whose deletion waited for a replacement that
  // never came.
  SyncStatus SyncUnRegisterConduit(ConduitHandle handle) override;
  SyncStatus SyncOpenDB(std::string_view name, std::uint8_t card, DbHandle& handle, std::uint8_t mode) override;
  SyncStatus SyncCreateDB(CreateDbRecord& record) override;
  SyncStatus SyncCloseDB(DbHandle handle) override;
  SyncStatus SyncDeleteDB(std::string_view name, std::uint8_t card) override;
  SyncStatus SyncWriteRec(RecordDescriptor& record) override;
  SyncStatus SyncReadRecordByIndex(RecordDescriptor& record) override;
  SyncStatus SyncFindDbByName(const FindDbRequest& request, DbInfo& found) override;
  SyncStatus SyncReadSingleCardInfo(CardInfo& info) override;
  SyncStatus SyncGetDBRecordCount(DbHandle handle, std::uint16_t& count) override;
  SyncStatus SyncReadOpenDbInfo(DbHandle handle, DbInfo& info) override;
  std::string error_text(SyncStatus status) const override;

 private:
  struct OpenDatabase {
    std::string name;       // the real name
    std::string temporary;  // a new database's name until its close; else empty
    bool failed = false;    // a write failed: it must not take its name
  };

  // One request and its decoded response; `subject` names what it is
  // about, for messages. The response's views point into `bytes_`.
  SyncStatus call(DlpFunction function, const std::vector<std::uint8_t>& request, std::string_view subject,
                  DlpResponse& response);
  SyncStatus call(DlpFunction function, const std::vector<std::uint8_t>& request, std::string_view subject);
  SyncStatus fail(SyncStatus status, std::string text);
  bool can_rename() const { return system_.is_at_least(1, 2); }
  bool is_own(FourCC creator) const;
  SyncStatus rename(std::string_view from, std::string_view to);
  SyncStatus publish(DbHandle handle, OpenDatabase& db);
  SyncStatus find_by_listing(std::string_view name, DbInfo& found);
  void clear_leftovers();
  void keep_alive_loop();

  HotSyncLink& link_;
  Options options_;
  DlpSysInfo system_;
  DlpUserInfo user_;
  std::vector<std::uint8_t> bytes_;  // the last response
  std::map<DbHandle, OpenDatabase> open_;
  std::set<std::string> replaced_;  // deleted names whose deletion waits for their replacement
  // Before DLP 1.2 a database is found in the list of all of them, read
  // once a session and kept up to date with this session's changes.
  std::optional<std::vector<DbInfo>> listing_;
  std::string abandoned_;  // a new database given up: the caller's clean-up passes it over
  std::uint32_t next_temporary_ = 0;
  std::uint32_t requests_ = 0;
  bool lost_ = false;
  bool cancelled_ = false;
  bool said_no_rename_ = false;
  std::string lost_text_;
  std::string last_error_;

  // Keep-alive: a thread that tickles the link while no request is under
  // way for options_.keep_alive.
  std::mutex link_mutex_;
  std::condition_variable wake_;
  LinkClock::time_point last_request_ = LinkClock::now();
  bool stopping_ = false;
  std::thread keeper_;
};

}  // namespace vellora::linux_host
