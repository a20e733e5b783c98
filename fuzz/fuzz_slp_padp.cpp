// Bytes from a handheld on a serial link, fed to the SLP reader in pieces
// whose sizes come from the input: the packets and the count of dropped
// ones must be the same as when the whole stream is fed at once. The PADP
// data packets among them are put back together, never beyond the bound.
// With the first byte's high bit set, the rest is read as SLP bodies
// (a length byte, then the body) that are framed with good checksums first,
// so the fragments reach the reassembler rather than failing their CRC.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "hosts/linux/hotsync/slp_padp.h"

namespace {

using vellora::linux_host::SlpPacket;
using vellora::linux_host::SlpReader;

std::vector<SlpPacket> drain(SlpReader& reader) {
  std::vector<SlpPacket> out;
  while (auto packet = reader.next()) {
    if (packet->dest != vellora::linux_host::kSlpDlpSocket || packet->type == vellora::linux_host::kSlpTypeLoopBack ||
        packet->body.size() > vellora::linux_host::kSlpMostBodyBytes)
      std::abort();
    out.push_back(std::move(*packet));
  }
  return out;
}

bool same(const SlpPacket& a, const SlpPacket& b) {
  return a.dest == b.dest && a.src == b.src && a.type == b.type && a.xid == b.xid && a.body == b.body;
}

void reassemble(const std::vector<SlpPacket>& packets) {
  using namespace vellora::linux_host;
  PadpReassembler reassembler;
  for (const SlpPacket& packet : packets) {
    const auto padp = decode_padp(packet.body);
    if (!padp || padp->header.type != kPadpData) continue;
    if (reassembler.add(*padp) != PadpAssembly::done) continue;
    const std::vector<std::uint8_t> message = reassembler.take();
    if (message.size() > kPadpMostMessageBytes) std::abort();
    // What came in fragments goes out in fragments that read back the same.
    PadpReassembler again;
    PadpAssembly status = PadpAssembly::more;
    for (const PadpPacket& fragment : padp_fragments(message, true)) status = again.add(fragment);
    if (status != PadpAssembly::done || again.take() != message) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellora::linux_host;
  if (size == 0) return 0;
  const std::size_t piece = data[0] % 16 + 1;
  std::span<const std::uint8_t> input(data + 1, size - 1);
  std::vector<std::uint8_t> framed;
  if ((data[0] & 0x80) != 0) {
    for (std::uint8_t xid = 1; !input.empty(); ++xid) {
      const std::size_t length = std::min<std::size_t>(input[0], input.size() - 1);
      const std::vector<std::uint8_t> packet = slp_packet(3, 3, kSlpTypePadp, xid, input.subspan(1, length));
      framed.insert(framed.end(), packet.begin(), packet.end());
      input = input.subspan(1 + length);
    }
    input = framed;
  }

  SlpReader whole;
  whole.feed(input);
  const auto expected = drain(whole);

  SlpReader pieces;
  std::vector<SlpPacket> got;
  for (std::size_t at = 0; at < input.size(); at += piece) {
    pieces.feed(input.subspan(at, std::min(piece, input.size() - at)));
    for (auto& packet : drain(pieces)) got.push_back(std::move(packet));
  }
  if (got.size() != expected.size() || pieces.dropped_packets() != whole.dropped_packets() ||
      pieces.pending_bytes() != whole.pending_bytes())
    std::abort();
  for (std::size_t i = 0; i < got.size(); ++i)
    if (!same(got[i], expected[i])) std::abort();
  reassemble(got);
  return 0;
}
