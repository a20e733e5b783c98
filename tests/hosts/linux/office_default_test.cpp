// The office converter bundled with vellora as the registry's default Word
// converter: when the registry file's registrations turn it on or off, and
// where the converter is looked for beside the executable.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "hosts/linux/registry_file.h"
#include "hosts/linux/xdg_paths.h"
#include "tests/support/temp_dir.h"

namespace vellora::linux_host {
namespace {

namespace fs = std::filesystem;
using ::vellora::testing::TempDir;
using ::vellora::testing::write_file;

constexpr auto kMachine = RegistryHive::local_machine;
constexpr std::string_view kWord6 = "Software\\Microsoft\\Shared Tools\\Text Converters\\Import\\MSWord6";
constexpr std::string_view kWord8 = "Software\\Microsoft\\Shared Tools\\Text Converters\\Import\\MSWord8";
const std::string kOffice = "/opt/vellora/lib/vellora/converters/office.so";
const std::string kWord6Key =
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Shared Tools\\Text Converters\\Import\\MSWord6]\n";
const std::string kWord8Key =
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Shared Tools\\Text Converters\\Import\\MSWord8]\n";

TEST(OfficeConverterDefault, RegistrationsInTheFileTurnItOff) {
  struct Row {
    const char* name;
    std::string file;  // after the REGEDIT4 line
    std::optional<std::string> word6, word8;
  };
  const Row rows[] = {
      {"nothing registered", "", std::nullopt, kOffice},
      {"settings only", "[HKEY_CURRENT_USER\\Software\\Brisholm\\Vellora]\n\"FontSize\"=dword:0000000a\n", std::nullopt,
       kOffice},
      {"Word 6 registered", kWord6Key + "\"Path\"=\"/x/six.so\"\n", "/x/six.so", std::nullopt},
      {"Word 8 registered", kWord8Key + "\"Path\"=\"/x/eight.so\"\n", std::nullopt, "/x/eight.so"},
      {"an empty Path switches it off", kWord8Key + "\"Path\"=\"\"\n", std::nullopt, ""},
      {"an empty Word 6 Path too", kWord6Key + "\"Path\"=\"\"\n", "", std::nullopt},
      {"a Path of another type counts", kWord8Key + "\"Path\"=dword:00000001\n", std::nullopt, std::nullopt},
      {"names in any case",
       "[hklm\\SOFTWARE\\microsoft\\shared tools\\TEXT CONVERTERS\\import\\msword6]\n\"PATH\"=\"/x/six.so\"\n",
       "/x/six.so", std::nullopt},
      {"other values of the key do not count", kWord8Key + "\"Name\"=\"Word 97\"\n", std::nullopt, kOffice},
      {"a deleted Path does not count", kWord6Key + "\"Path\"=\"/x/six.so\"\n\"Path\"=-\n", std::nullopt, kOffice},
      {"a deleted key does not count",
       kWord8Key + "\"Path\"=\"/x/eight.so\"\n[-HKEY_LOCAL_MACHINE\\Software\\Microsoft]\n", std::nullopt, kOffice},
      {"under HKEY_CURRENT_USER it does not count",
       "[HKEY_CURRENT_USER\\Software\\Microsoft\\Shared Tools\\Text Converters\\Import\\MSWord8]\n"
       "\"Path\"=\"/x/eight.so\"\n",
       std::nullopt, kOffice},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RegistryFile registry{fs::path(kOffice)};
    const auto parsed = registry.parse("REGEDIT4\n\n" + row.file, "test.reg");
    ASSERT_TRUE(parsed) << parsed.reason;
    EXPECT_EQ(registry.read_string(kMachine, kWord6, "Path"), row.word6);
    EXPECT_EQ(registry.read_string(kMachine, kWord8, "Path"), row.word8);
  }
}

TEST(OfficeConverterDefault, OnlyTheWord8PathAnswers) {
  RegistryFile registry{fs::path(kOffice)};
  ASSERT_TRUE(registry.parse("REGEDIT4\n", "test.reg"));
  EXPECT_EQ(
      registry.read_string(kMachine, "\\software\\microsoft\\shared tools\\text converters\\import\\MSWORD8\\", "PATH"),
      kOffice);
  EXPECT_EQ(registry.read_string(RegistryHive::current_user, kWord8, "Path"), std::nullopt);
  EXPECT_EQ(registry.read_string(kMachine, kWord8, "Name"), std::nullopt);
  EXPECT_EQ(registry.read_string(kMachine, std::string(kWord8) + "\\Sub", "Path"), std::nullopt);
  EXPECT_EQ(registry.read_dword(kMachine, kWord8, "Path"), std::nullopt);
  EXPECT_EQ(registry.value_count(), 0u);
  // Without a bundled converter nothing is invented.
  RegistryFile plain;
  ASSERT_TRUE(plain.parse("REGEDIT4\n", "test.reg"));
  EXPECT_EQ(plain.read_string(kMachine, kWord8, "Path"), std::nullopt);
}

TEST(OfficeConverterDefault, SurvivesLoadingAnotherFile) {
  const TempDir dir;
  write_file(dir / "registered.reg", "REGEDIT4\n" + kWord8Key + "\"Path\"=\"/x/eight.so\"\n");
  RegistryFile registry{fs::path(kOffice)};
  ASSERT_TRUE(registry.load(dir / "registered.reg"));
  EXPECT_EQ(registry.read_string(kMachine, kWord8, "Path"), "/x/eight.so");
  EXPECT_EQ(registry.load(dir / "missing.reg").status, RegistryFileStatus::missing_file);
  EXPECT_EQ(registry.read_string(kMachine, kWord8, "Path"), kOffice);
}

TEST(BundledOfficeConverter, LiesBesideTheRealExecutable) {
  const TempDir dir;
  fs::create_directories(dir / "prefix/bin");
  fs::create_directories(dir / "prefix/lib/vellora/converters");
  fs::create_directories(dir / "bare/bin");
  fs::create_directories(dir / "folder/bin");
  fs::create_directories(dir / "folder/lib/vellora/converters/office.so");
  fs::create_directories(dir / "elsewhere");
  for (const char* prefix : {"prefix", "bare", "folder"}) write_file(dir / (std::string(prefix) + "/bin/vellora"), "");
  write_file(dir / "prefix/lib/vellora/converters/office.so", "");
  fs::create_symlink(dir / "prefix/bin/vellora", dir / "elsewhere/vellora");
  const fs::path office = fs::canonical(dir / "prefix/lib/vellora/converters/office.so");

  EXPECT_EQ(bundled_office_converter(dir / "prefix/bin/vellora"), office);
  EXPECT_EQ(bundled_office_converter(dir / "elsewhere/vellora"), office);
  EXPECT_EQ(bundled_office_converter(dir / "bare/bin/vellora"), std::nullopt);
  EXPECT_EQ(bundled_office_converter(dir / "folder/bin/vellora"), std::nullopt);  // not a file
  EXPECT_EQ(bundled_office_converter(dir / "missing/bin/vellora"), std::nullopt);
}

}  // namespace
}  // namespace vellora::linux_host
