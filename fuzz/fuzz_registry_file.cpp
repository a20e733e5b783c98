// Fuzzes the registry file parser. Whatever the input, parsing must end
// with a status and a one-line reason naming the file. A file that parses
// must read the same with CRLF line ends and with a UTF-8 byte order mark,
// and reads of the conduit's own values must agree between the copies.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "hosts/linux/registry_file.h"

namespace {

using namespace vellora;
using namespace vellora::linux_host;

constexpr std::string_view kKeys[] = {
    "Software\\Brisholm\\Vellora",
    "Software\\Microsoft\\Shared Tools\\Text Converters\\Import\\MSWord6",
    "K",
    "",
};
constexpr std::string_view kNames[] = {"FolderForSFiles", "FontSize", "Path", "", "v", "a"};

void check_reason(const RegistryFileResult& result) {
  if (result) {
    if (!result.reason.empty()) std::abort();
    return;
  }
  if (!result.reason.starts_with("fuzz.reg: ") || result.reason.find('\n') != std::string::npos) std::abort();
}

void check_same_reads(const RegistryFile& a, const RegistryFile& b) {
  if (a.value_count() != b.value_count()) std::abort();
  for (const auto hive : {RegistryHive::current_user, RegistryHive::local_machine})
    for (const auto key : kKeys)
      for (const auto name : kNames)
        if (a.read_string(hive, key, name) != b.read_string(hive, key, name) ||
            a.read_dword(hive, key, name) != b.read_dword(hive, key, name))
          std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  RegistryFile registry;
  const auto result = registry.parse(text, "fuzz.reg");
  check_reason(result);
  if (!result || text.find('\r') != std::string_view::npos || text.starts_with("\xEF\xBB\xBF")) return 0;

  std::string crlf;
  for (const char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  RegistryFile with_crlf;
  if (!with_crlf.parse(crlf, "fuzz.reg")) std::abort();
  check_same_reads(registry, with_crlf);

  RegistryFile with_bom;
  if (!with_bom.parse("\xEF\xBB\xBF" + std::string(text), "fuzz.reg")) std::abort();
  check_same_reads(registry, with_bom);
  return 0;
}
