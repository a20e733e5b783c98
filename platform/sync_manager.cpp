// Text forms of four-character codes and of Sync Manager errors, for
// messages and dumps.
#include "platform/sync_manager.h"

namespace vellora {

std::string four_cc_text(FourCC code) {
  std::string text(4, '?');
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<unsigned char>(code >> (24 - 8 * i));
    if (c >= 0x20 && c < 0x7F) text[static_cast<std::size_t>(i)] = static_cast<char>(c);
  }
  return text;
}

std::string SyncManager::error_text(SyncStatus status) const { return "error " + std::to_string(status); }

}  // namespace vellora
