// What `vellora sync --device` and `vellora device info` share: the
// options that name a real handheld and how long to wait for it, and the
// steps from them to a handheld that answers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hosts/linux/hotsync/dlp_handheld.h"
#include "hosts/linux/hotsync/listen.h"

namespace vellora::cli {

struct DeviceOptions {
  // "net", "net:PORT", "net:ADDRESS:PORT" or a tty's path; empty: none.
  std::string device;
  double timeout_seconds = 0;    // for a handheld to come, and for each answer; 0: no limit on the first
  std::uint32_t speed = 115200;  // the most a serial link may agree
};

inline constexpr const char* kDeviceHelp =
    "A real handheld instead of a folder: net (network HotSync, port 14238 on every address), net:PORT, "
    "net:ADDRESS:PORT, or the path of a serial port or USB cradle's tty (e.g. /dev/ttyUSB1)";
inline constexpr const char* kTimeoutHelp =
    "Seconds to wait for a handheld, and at most for each of its answers (default: no limit)";
inline constexpr const char* kSpeedHelp = "Most bits per second a serial link may agree (default: 115200)";
// What --speed accepts: the standard rates a serial link may agree.
inline const std::vector<std::uint32_t> kSerialSpeeds = {9600, 19200, 38400, 57600, 115200, 230400};

// Parses options.device and opens the place a handheld comes to; false
// after printing why, with `status` the exit status.
bool prepare_place(const DeviceOptions& options, std::unique_ptr<linux_host::HandheldPlace>& place, int& status);

// Waits for the next handheld at `place`; nullptr after printing why.
// `nobody_came`, when given, says whether the wait ran out.
std::unique_ptr<linux_host::HandheldConnection> wait_for_handheld(linux_host::HandheldPlace& place,
                                                                  const DeviceOptions& options, int& status,
                                                                  bool* nobody_came = nullptr);

// "connected: "Ann Lee", Palm OS 4.1, by NetSync from 192.168.2.5".
void print_connected(const linux_host::DlpHandheld& handheld, const linux_host::HandheldConnection& connection);

// This conduit's creators, and notes printed to stderr.
linux_host::DlpHandheld::Options handheld_options();

}  // namespace vellora::cli
