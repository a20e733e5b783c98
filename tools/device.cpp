// `vellora device info`: who is on the other end of the link, its memory
// and its databases, to check the link; nothing is changed.
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

#include "base/ascii.h"
#include "docmodel/records.h"
#include "hosts/linux/terminal_text.h"
#include "tools/fail.h"
#include "tools/handheld_link.h"
#include "tools/subcommand.h"

namespace vellora::cli {

namespace {

int device_info(const DeviceOptions& options) {
  std::unique_ptr<linux_host::HandheldPlace> place;
  int status = 0;
  if (!prepare_place(options, place, status)) return status;
  auto connection = wait_for_handheld(*place, options, status);
  if (!connection) return status;
  linux_host::DlpHandheld handheld(*connection->link, handheld_options());
  if (!handheld.start()) return fail(connection->peer, handheld.last_error());
  print_connected(handheld, *connection);
  CardInfo card;
  std::vector<DbInfo> databases;
  const bool has_card = handheld.SyncReadSingleCardInfo(card) == kSyncOk;
  const bool has_list = handheld.list_databases(databases) == kSyncOk;
  handheld.finish({});
  if (handheld.is_lost()) return fail(handheld.lost_text());
  const linux_host::DlpSysInfo& info = handheld.system();
  std::printf("user:      %s\n", handheld.user().user_name.empty()
                                     ? "(none)"
                                     : linux_host::terminal_safe(handheld.user().user_name).c_str());
  std::printf("Palm OS:   %s (ROM version 0x%08X)\n",
              handheld.os_text().substr(std::string_view("Palm OS ").size()).c_str(),
              static_cast<unsigned>(info.rom_version));
  std::printf("DLP:       %u.%u\n", static_cast<unsigned>(info.dlp_major), static_cast<unsigned>(info.dlp_minor));
  if (has_card)
    std::printf("memory:    %s bytes free of %s (%s)\n", with_thousands(card.free_bytes).c_str(),
                with_thousands(card.ram_bytes).c_str(), linux_host::terminal_safe(card.card_name).c_str());
  else
    std::printf("memory:    unknown: %s\n", linux_host::terminal_safe(handheld.last_error()).c_str());
  if (!has_list) return fail("the handheld's databases cannot be listed: " + handheld.last_error());
  std::printf("databases: %zu\n", databases.size());
  for (const DbInfo& db : databases)
    std::printf("  %-31s %s %s  version %u%s\n", linux_host::terminal_safe(db.name).c_str(),
                four_cc_text(db.type).c_str(), four_cc_text(db.creator).c_str(), static_cast<unsigned>(db.version),
                (db.flags & 0x0001) != 0 ? "  (resources)" : "");
  return 0;
}

}  // namespace

Subcommand add_device(CLI::App& app) {
  auto options = std::make_shared<DeviceOptions>();
  auto* device = app.add_subcommand("device", "Talk to a real handheld without syncing");
  device->require_subcommand(1);
  auto* info = device->add_subcommand(
      "info", "Show the handheld's user, Palm OS and DLP versions, free memory and databases, to check the link");
  info->add_option("--device", options->device, kDeviceHelp)->required();
  info->add_option("--timeout", options->timeout_seconds, kTimeoutHelp)->check(CLI::Range(0.0, 86400.0));
  info->add_option("--speed", options->speed, kSpeedHelp)->check(CLI::IsMember(kSerialSpeeds));
  return {device, [options] { return device_info(*options); }};
}

}  // namespace vellora::cli
