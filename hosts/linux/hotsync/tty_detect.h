// Which HotSync stack a handheld speaks on a tty. A serial cradle, a USB
// cradle's tty, Bluetooth or infrared serial may carry the serial stack
// (SLP, PADP, CMP) or NetSync framing, and the handheld speaks first: its
// first bytes are a CMP wakeup in an SLP packet, or the NetSync
// handshake's first message, with or without its header. Loop-back test
// packets and line noise before them are passed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "hosts/linux/hotsync/link.h"

namespace vellora::linux_host {

enum class TtyProtocol { unknown, serial, netsync };

// Looks at the bytes read so far. When it returns serial or netsync, that
// stream starts at bytes[skip]. When it returns unknown, the first `skip`
// bytes start neither stream (noise, loop-back packets) and may be
// dropped; `need_more` is true when the bytes after them may begin one
// but are too few to tell, false when every byte was noise.
TtyProtocol detect_tty_protocol(std::span<const std::uint8_t> bytes, std::size_t& skip, bool& need_more);

// Reads from the tty until the handheld's first bytes say which stack it
// speaks, or the deadline passes (unknown, with the stream's failure).
// `stream_bytes` then holds the bytes from the start of that stream on,
// for the link: SerialLink's `already_read`, or NetSyncReader::feed.
// Noise is dropped as it is read, so at most one packet is kept.
TtyProtocol read_tty_protocol(LinkStream& stream, LinkDeadline deadline, std::vector<std::uint8_t>& stream_bytes);

}  // namespace vellora::linux_host
