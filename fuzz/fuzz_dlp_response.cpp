// A handheld's answer to any DLP request (the first byte chooses which):
// read only within its bytes, every argument inside the response.
#include <cstdint>
#include <cstdlib>

#include "hosts/linux/hotsync/dlp_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellora::linux_host;
  if (size == 0) return 0;
  const auto function = static_cast<DlpFunction>(data[0] & 0x7F);
  const std::span<const std::uint8_t> bytes(data + 1, size - 1);
  DlpResponse response;
  if (decode_dlp_response(bytes, function, response) != DlpDecodeStatus::ok) return 0;
  for (const DlpArgument& argument : response.arguments) {
    if (argument.data.data() < bytes.data() ||
        argument.data.data() + argument.data.size() > bytes.data() + bytes.size())
      std::abort();
  }
  (void)dlp_error_text(response.error);
  return 0;
}
