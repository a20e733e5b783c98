// The way from --device, --timeout and --speed to a handheld that answers.
#include "tools/handheld_link.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>

#include "conduit/catalog.h"
#include "docmodel/records.h"
#include "hosts/linux/terminal_text.h"
#include "tools/fail.h"

namespace vellora::cli {

namespace {

// The timeouts of --timeout: a handheld answers within a few seconds, so
// a shorter limit than the usual 30 s also bounds each answer.
linux_host::LinkTimeouts link_timeouts(const DeviceOptions& options) {
  linux_host::LinkTimeouts timeouts;
  if (options.timeout_seconds > 0) {
    const auto limit = std::chrono::milliseconds(static_cast<long long>(options.timeout_seconds * 1000));
    timeouts.reply = std::min(timeouts.reply, std::max(limit, std::chrono::milliseconds(1)));
  }
  return timeouts;
}

}  // namespace

std::unique_ptr<linux_host::HandheldConnection> wait_for_handheld(linux_host::HandheldPlace& place,
                                                                  const DeviceOptions& options, int& status,
                                                                  bool* nobody_came) {
  linux_host::DeviceAddress shown = place.device();
  if (shown.is_network) shown.port = place.bound_port();
  std::printf("waiting for a handheld on %s\n", linux_host::terminal_safe(linux_host::device_text(shown)).c_str());
  std::fflush(stdout);
  std::optional<linux_host::LinkDeadline> deadline;
  if (options.timeout_seconds > 0)
    deadline = linux_host::LinkClock::now() +
               std::chrono::milliseconds(static_cast<long long>(options.timeout_seconds * 1000));
  std::string why;
  bool timed_out = false;
  auto connection = place.accept(deadline, why, timed_out);
  if (nobody_came != nullptr) *nobody_came = timed_out;
  if (connection) return connection;
  if (timed_out) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", options.timeout_seconds);
    why = "no handheld came within " + std::string(seconds) + " s on " + linux_host::device_text(shown);
  }
  status = fail(why);
  return connection;
}

void print_connected(const linux_host::DlpHandheld& handheld, const linux_host::HandheldConnection& connection) {
  const std::string user =
      handheld.user().user_name.empty() ? "a handheld with no user name" : "\"" + handheld.user().user_name + "\"";
  std::printf("connected: %s, %s, by %s from %s\n", linux_host::terminal_safe(user).c_str(), handheld.os_text().c_str(),
              connection.link->protocol_name(), linux_host::terminal_safe(connection.peer).c_str());
  std::fflush(stdout);
}

linux_host::DlpHandheld::Options handheld_options() {
  linux_host::DlpHandheld::Options options;
  options.own_creators = {kDocumentCreator, kCatalogCreator};
  options.on_note = [](const std::string& note) {
    std::fprintf(stderr, "vellora: note: %s\n", linux_host::terminal_safe(note).c_str());
  };
  return options;
}

bool prepare_place(const DeviceOptions& options, std::unique_ptr<linux_host::HandheldPlace>& place, int& status) {
  std::string why;
  const auto device = linux_host::parse_device(options.device, why);
  if (!device) {
    status = fail("--device", why);
    return false;
  }
  place = std::make_unique<linux_host::HandheldPlace>(*device, link_timeouts(options), options.speed);
  if (!place->prepare(why)) {
    status = fail(why);
    return false;
  }
  // A handheld that hangs up makes a write fail, not the process die.
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

}  // namespace vellora::cli
