// The conduit's lifetime (library attach and detach with the language
// library) and the session driver: register, log, settings, receive pass,
// send pass, warning, log, unregister.
#include "conduit/session.h"

#include "conduit/receive_pass.h"
#include "conduit/send_pass.h"

namespace vellora {

Conduit::Conduit(Platform p, ModuleHandle instance_handle) : platform(p), instance(instance_handle) {}

void Conduit::attach() {
  if (use_count == 0) {
    int scratch = 0;
    language_library = platform.language.load(kLanguageLibraryName, instance, &scratch);
  }
  ++use_count;
}

void Conduit::detach() {
  --use_count;
  if (use_count <= 0) {
    platform.language.release(language_library, instance);
    language_library = instance;
  }
}

void Conduit::report(SessionEventKind kind, std::string subject, std::string detail) {
  if (on_event) on_event(SessionEvent{kind, std::move(subject), std::move(detail)});
}

std::int32_t run_session(Conduit& conduit) {
  SyncManager& sync = conduit.platform.sync;
  ConduitHandle handle = 0;
  if (SyncStatus status = sync.SyncRegisterConduit(handle); status != kSyncOk) return status;
  conduit.platform.log.add_entry("", kLogActivitySyncStart);
  conduit.not_all_sent = false;
  conduit.received_files.clear();
  // A pass that fails in a way nobody foresaw must not take the session
  // with it: the log entries and the unregistration still happen.
  contain_failure(conduit, "settings", [&] { conduit.settings = load_settings(conduit.platform.registry); });
  contain_failure(conduit, "receive pass", [&] { run_receive_pass(conduit); });
  contain_failure(conduit, "send pass", [&] { run_send_pass(conduit); });
  contain_failure(conduit, "warning", [&] {
    if (conduit.not_all_sent) conduit.platform.message_box.show(kNotAllSentText, kWarningCaption, kStyleOkWarning);
  });
  conduit.platform.log.add_entry(kConduitName, kLogActivitySyncEnd);
  sync.SyncUnRegisterConduit(handle);
  return 0;
}

}  // namespace vellora
