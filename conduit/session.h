// The conduit while its library is loaded: the platform it talks to, the
// settings of the last session, the not-all-sent flag, the language library
// and the use count. One object, owned by the host; every entry point works
// on it. A session (OpenConduit) registers with the Sync Manager, logs its
// start, loads the settings, runs the receive pass and then the send pass,
// warns once if a file was kept back, logs its end and unregisters.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <set>
#include <string>

#include "conduit/settings.h"
#include "platform/hotsync_log.h"
#include "platform/language_library.h"
#include "platform/message_box.h"
#include "platform/registry.h"
#include "platform/sync_manager.h"
#include "platform/text_codec.h"
#include "platform/text_converter.h"

namespace vellora {

inline constexpr std::string_view kConduitName = "VelloraConduit";
inline constexpr std::string_view kQuestionCaption = "Vellora Conduit";
inline constexpr std::string_view kNotAllSentText = "Not all files are sent on your Palm device";
inline constexpr std::string_view kWarningCaption = "Warning";

struct Platform {
  SyncManager& sync;
  Registry& registry;
  MessageBoxes& message_box;
  HotSyncLog& log;
  LanguageLibrary& language;
  TextConverterLibrary& converters;
  // How PC text and file names become the handheld's, and back.
  const TextCodec& codec = TextCodec::identity();
};

// What happened to one file or document, for the host to show.
enum class SessionEventKind {
  converting,  // a text converter took a PC file (detail: which); converting can take a while
  sent,        // a PC file became a database on the handheld
  kept,        // a PC file stays in the send folder
  received,    // a handheld document was written into the receive folder
  skipped,     // a marked document was not written (its mark is cleared)
  removed,     // a file was deleted unread (serialsync.txt)
  problem,     // something went wrong outside any one file
  idle,        // a pass did nothing at all (subject: the pass; detail: why)
};

struct SessionEvent {
  SessionEventKind kind;
  std::string subject;  // the file or document concerned
  std::string detail;   // why, or where it went
};

class Conduit {
 public:
  explicit Conduit(Platform platform, ModuleHandle instance = 1);

  // Library load and unload: the first load takes the language library,
  // the last unload releases it.
  void attach();
  void detach();

  void report(SessionEventKind kind, std::string subject, std::string detail = {});

  Platform platform;
  ModuleHandle instance;
  ModuleHandle language_library = 0;
  std::int32_t use_count = 0;
  Settings settings;
  bool not_all_sent = false;
  // Files the receive pass wrote this session, so that a send folder that is
  // also the receive folder does not send them straight back.
  std::set<std::string> received_files;
  std::function<void(const SessionEvent&)> on_event;  // optional
};

// Runs `step`; a failure nobody foresaw (out of memory, say) is reported
// against `subject` instead of ending the pass or the session.
template <typename Step>
void contain_failure(Conduit& conduit, const std::string& subject, Step step) {
  try {
    step();
  } catch (const std::exception& e) {
    conduit.report(SessionEventKind::problem, subject, e.what());
  } catch (...) {
    conduit.report(SessionEventKind::problem, subject, "unexpected failure");
  }
}

// The session itself, behind OpenConduit. Errors inside a pass are
// contained there; the session always logs, unregisters and returns 0 once
// registered.
std::int32_t run_session(Conduit& conduit);

}  // namespace vellora
