// NetSync framing: how HotSync messages travel over TCP and over most USB
// cradles. Every message, the handshake's included, is a 6-byte header
// (type, transaction id, payload length as u32 big-endian) and the
// payload. The reader takes the link's bytes in whatever pieces they come,
// skips keep-alive tickles, and refuses a length no handheld sends, so a
// hostile peer can make it neither allocate without bound nor misread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vellora::linux_host {

inline constexpr std::uint8_t kNetSyncData = 0x01;
inline constexpr std::uint8_t kNetSyncTickle = 0x02;
inline constexpr std::size_t kNetSyncHeaderBytes = 6;
// No DLP message comes near this; a larger length is a broken stream.
inline constexpr std::uint32_t kNetSyncMostPayloadBytes = 0x100000;
// The xid of a handheld's first message and of tickles.
inline constexpr std::uint8_t kNetSyncHandheldXid = 0xFF;
// Some devices send the handshake's first message without its header; it
// then starts with this byte and is this long.
inline constexpr std::uint8_t kHandshakeFirstByte = 0x90;
inline constexpr std::size_t kHandshakeFirstBytes = 22;

struct NetSyncMessage {
  std::uint8_t xid = 0;
  std::vector<std::uint8_t> payload;
};

enum class NetSyncError { none, bad_type, tickle_with_payload, too_long };

class NetSyncReader {
 public:
  // Takes the next bytes read from the link.
  void feed(std::span<const std::uint8_t> bytes);
  // The next whole data message, if one has arrived. Tickles are passed
  // over. Nothing more comes once error() is set.
  std::optional<NetSyncMessage> next();
  NetSyncError error() const { return error_; }
  // Why the stream cannot be read on, for the one-line message.
  std::string error_text() const;
  // Bytes received but not yet part of a whole message.
  std::size_t pending_bytes() const { return buffer_.size() - start_; }

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t start_ = 0;  // where the unread bytes begin
  bool is_stream_start_ = true;
  NetSyncError error_ = NetSyncError::none;
  std::uint32_t bad_length_ = 0;
  std::uint8_t bad_type_ = 0;
};

// A data message with its header.
std::vector<std::uint8_t> netsync_frame(std::uint8_t xid, std::span<const std::uint8_t> payload);

// The desktop's next transaction id: 1 to 0xFE in turn, never 0 or the
// handheld's 0xFF.
std::uint8_t next_netsync_xid(std::uint8_t xid);

}  // namespace vellora::linux_host
