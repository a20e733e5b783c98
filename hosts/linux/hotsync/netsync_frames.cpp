// NetSync framing; see netsync_frames.h.
#include "hosts/linux/hotsync/netsync_frames.h"

#include <algorithm>

#include "base/byte_order.h"

namespace vellora::linux_host {

void NetSyncReader::feed(std::span<const std::uint8_t> bytes) {
  if (error_ != NetSyncError::none) return;
  // Read bytes are dropped once they are a third of the buffer, so a long
  // session keeps a buffer of about one message.
  if (start_ > 0 && start_ * 3 >= buffer_.size()) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<NetSyncMessage> NetSyncReader::next() {
  while (error_ == NetSyncError::none) {
    const std::uint8_t* at = buffer_.data() + start_;
    const std::size_t available = buffer_.size() - start_;
    if (available == 0) return std::nullopt;
    if (is_stream_start_ && at[0] == kHandshakeFirstByte) {
      // The handshake's first message without its header.
      if (available < kHandshakeFirstBytes) return std::nullopt;
      is_stream_start_ = false;
      NetSyncMessage message{kNetSyncHandheldXid, {at, at + kHandshakeFirstBytes}};
      start_ += kHandshakeFirstBytes;
      return message;
    }
    if (available < kNetSyncHeaderBytes) return std::nullopt;
    const std::uint8_t type = at[0];
    const std::uint32_t length = get_be32(at + 2);
    if (type != kNetSyncData && type != kNetSyncTickle) {
      error_ = NetSyncError::bad_type;
      bad_type_ = type;
      return std::nullopt;
    }
    if (type == kNetSyncTickle && length != 0) {
      error_ = NetSyncError::tickle_with_payload;
      return std::nullopt;
    }
    if (length > kNetSyncMostPayloadBytes) {
      error_ = NetSyncError::too_long;
      bad_length_ = length;
      return std::nullopt;
    }
    if (available - kNetSyncHeaderBytes < length) return std::nullopt;
    is_stream_start_ = false;
    start_ += kNetSyncHeaderBytes + length;
    if (type == kNetSyncTickle) continue;
    return NetSyncMessage{at[1], {at + kNetSyncHeaderBytes, at + kNetSyncHeaderBytes + length}};
  }
  return std::nullopt;
}

std::string NetSyncReader::error_text() const {
  switch (error_) {
    case NetSyncError::none: return {};
    case NetSyncError::bad_type:
      return "the handheld sent a NetSync message of unknown type " + std::to_string(bad_type_);
    case NetSyncError::tickle_with_payload: return "the handheld sent a keep-alive with a payload";
    case NetSyncError::too_long:
      return "the handheld announced a message of " + std::to_string(bad_length_) + " bytes, more than any it sends";
  }
  return {};
}

std::vector<std::uint8_t> netsync_frame(std::uint8_t xid, std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> frame(kNetSyncHeaderBytes + payload.size());
  frame[0] = kNetSyncData;
  frame[1] = xid;
  put_be32(frame.data() + 2, static_cast<std::uint32_t>(payload.size()));
  std::copy(payload.begin(), payload.end(), frame.begin() + kNetSyncHeaderBytes);
  return frame;
}

std::uint8_t next_netsync_xid(std::uint8_t xid) { return xid >= 0xFE ? 1 : static_cast<std::uint8_t>(xid + 1); }

}  // namespace vellora::linux_host
