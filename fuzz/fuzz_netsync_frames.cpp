// Bytes from a handheld, fed to the NetSync reader in pieces whose sizes
// come from the input: the messages must be the same as when the whole
// stream is fed at once, and never longer than the reader allows.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "hosts/linux/hotsync/netsync_frames.h"

namespace {

std::vector<vellora::linux_host::NetSyncMessage> drain(vellora::linux_host::NetSyncReader& reader) {
  std::vector<vellora::linux_host::NetSyncMessage> out;
  while (auto message = reader.next()) {
    if (message->payload.size() > vellora::linux_host::kNetSyncMostPayloadBytes) std::abort();
    out.push_back(std::move(*message));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellora::linux_host;
  if (size == 0) return 0;
  const std::size_t piece = data[0] % 16 + 1;
  const std::span<const std::uint8_t> stream(data + 1, size - 1);

  NetSyncReader whole;
  whole.feed(stream);
  const auto expected = drain(whole);

  NetSyncReader pieces;
  std::vector<NetSyncMessage> got;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    pieces.feed(stream.subspan(at, std::min(piece, stream.size() - at)));
    for (auto& message : drain(pieces)) got.push_back(std::move(message));
  }
  if (got.size() != expected.size() || pieces.error() != whole.error()) std::abort();
  for (std::size_t i = 0; i < got.size(); ++i)
    if (got[i].xid != expected[i].xid || got[i].payload != expected[i].payload) std::abort();
  return 0;
}
