// The registry file: what the conduit reads from a REGEDIT4 file, the
// order in which values and deletions apply, and how bad files are
// reported.
#include "hosts/linux/registry_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace vellora::linux_host {
namespace {

using ::vellora::testing::TempDir;
using ::vellora::testing::write_file;

constexpr auto kUser = RegistryHive::current_user;
constexpr auto kMachine = RegistryHive::local_machine;
constexpr std::string_view kVellora = "Software\\Brisholm\\Vellora";

constexpr std::string_view kExample =
    "REGEDIT4\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Brisholm\\Vellora]\n"
    "\"FolderForSFiles\"=\"/home/me/palm/send\"\n"
    "\"FontName\"=\"Times New Roman\"\n"
    "\"FromPalmToPC\"=dword:00000002\n"
    "\"FontSize\"=dword:0000000a\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Shared Tools\\Text Converters\\Import\\MSWord6]\n"
    "\"Path\"=\"/usr/local/lib/vellora/converters/office.so\"\n";

RegistryFile parsed(std::string_view text) {
  RegistryFile registry;
  const auto result = registry.parse(text, "test.reg");
  EXPECT_TRUE(result) << result.reason;
  return registry;
}

TEST(RegistryFile, ReadsBothHivesIgnoringCase) {
  const auto registry = parsed(kExample);
  EXPECT_EQ(registry.read_string(kUser, kVellora, "FolderForSFiles"), "/home/me/palm/send");
  EXPECT_EQ(registry.read_string(kUser, "SOFTWARE\\brisholm\\VELLORA\\", "fontname"), "Times New Roman");
  EXPECT_EQ(registry.read_dword(kUser, "\\Software\\Brisholm\\Vellora", "FONTSIZE"), 10u);
  EXPECT_EQ(
      registry.read_string(kMachine, "Software\\Microsoft\\Shared Tools\\Text Converters\\Import\\MSWord6", "Path"),
      "/usr/local/lib/vellora/converters/office.so");
  // Hives do not share keys, and parents do not see their subkeys' values.
  EXPECT_FALSE(registry.read_string(kMachine, kVellora, "FontName"));
  EXPECT_FALSE(registry.read_string(kUser, "Software\\Brisholm", "FontName"));
  EXPECT_EQ(registry.value_count(), 5u);
}

TEST(RegistryFile, ValueTypesEscapesAndMissingValues) {
  const auto registry = parsed(
      "REGEDIT4\n[HKCU\\K]\n\"s\"=\"12\"\n\"d\"=dword:c\n\"b\"=hex:01,02\n"
      "\"x\"=hex(2):41,00\n\"q\"=hex(b):01,00,00,00,00,00,00,00\n@=\"default\"\n"
      "\"max\"=DWORD:FFFFFFFF\n\"a\\\"b\\\\\"=\"C:\\\\dir\\\\\\\"q\\\"\"\n");
  EXPECT_FALSE(registry.read_dword(kUser, "K", "s"));
  EXPECT_FALSE(registry.read_string(kUser, "K", "d"));
  for (const char* name : {"b", "x", "q"}) {
    EXPECT_FALSE(registry.read_string(kUser, "K", name)) << name;
    EXPECT_FALSE(registry.read_dword(kUser, "K", name)) << name;
  }
  EXPECT_EQ(registry.read_dword(kUser, "K", "d"), 12u);
  EXPECT_EQ(registry.read_string(kUser, "K", ""), "default");
  EXPECT_EQ(registry.read_dword(kUser, "K", "max"), 0xFFFFFFFFu);
  EXPECT_EQ(registry.read_string(kUser, "K", "a\"b\\"), "C:\\dir\\\"q\"");
  EXPECT_FALSE(registry.read_string(kUser, "K", "missing"));
  EXPECT_FALSE(registry.read_string(kUser, "Missing", "s"));
  EXPECT_FALSE(registry.read_string(kUser, "K\\\\", "s"));
}

TEST(RegistryFile, ValuesAndDeletionsApplyInFileOrder) {
  const auto registry = parsed(
      "REGEDIT4\n"
      "[HKCU\\App]\n\"a\"=\"first\"\n\"gone\"=\"x\"\n"
      "[HKCU\\App\\Sub]\n\"s\"=\"sub\"\n"
      "[HKCU\\Apple]\n\"p\"=\"sibling\"\n"
      "[hkey_current_user\\APP]\n\"A\"=\"second\"\n\"gone\"=-\n\"never\"=-\n"
      "[-HKCU\\App\\Sub]\n"
      "[HKCU\\App\\Sub\\Deeper]\n\"d\"=dword:1\n");
  EXPECT_EQ(registry.read_string(kUser, "App", "a"), "second");
  EXPECT_FALSE(registry.read_string(kUser, "App", "gone"));
  EXPECT_FALSE(registry.read_string(kUser, "App\\Sub", "s"));
  EXPECT_EQ(registry.read_string(kUser, "Apple", "p"), "sibling");
  EXPECT_EQ(registry.read_dword(kUser, "App\\Sub\\Deeper", "d"), 1u);

  const auto deleted = parsed("REGEDIT4\n[HKCU\\A]\n\"v\"=\"1\"\n[HKCU\\A\\B]\n\"v\"=\"2\"\n[-HKCU\\A]\n");
  EXPECT_EQ(deleted.value_count(), 0u);
}

TEST(RegistryFile, AcceptsTheUsualFileShapes) {
  for (const std::string& text : {
           std::string("\xEF\xBB\xBFREGEDIT4\r\n\r\n[HKCU\\K]\r\n\"v\"=dword:0000002A\r\n"),
           std::string("\n  \nREGEDIT4  \n; comment\n  ; indented comment\n[HKCU\\K]  \n"
                       "  \"v\" = dword:2a\n"),
           std::string("Windows Registry Editor Version 5.00\n\n[HKCU\\K]\n\"v\"=dword:2A"),
           std::string("REGEDIT4\n[HKCU\\K]\n\"bin\"=hex:00,01,\\\n  02,03,\\\n  ff\n"
                       "[HKEY_CLASSES_ROOT\\.txt]\n@=\"txtfile\"\n[HKCU\\K]\n\"v\"=dword:2a\n"),
       }) {
    RegistryFile registry;
    const auto result = registry.parse(text, "test.reg");
    ASSERT_TRUE(result) << result.reason;
    EXPECT_EQ(registry.read_dword(kUser, "K", "v"), 42u) << text;
  }
}

TEST(RegistryFile, MalformedLineIsReportedWithFileAndLine) {
  struct Case {
    std::string text;
    std::size_t line;
    std::string problem;
  };
  const std::string head = "REGEDIT4\n[HKCU\\K]\n";
  const Case cases[] = {
      {"", 0, "expected REGEDIT4 as the first line"},
      {"\xFF\xFER\0E\0", 0, "the file is UTF-16; save it as UTF-8 or ANSI text"},
      {"REGEDIT4\n\"v\"=\"x\"\n", 2, "value before the first [key]"},
      {"REGEDIT4\n[HKCU\\K\n", 2, "key line has no closing ']'"},
      {"REGEDIT4\n[HKEY_NOWHERE\\K]\n", 2, "unknown hive \"HKEY_NOWHERE\""},
      {"REGEDIT4\n[HKCU\\a\\\\b]\n", 2, "empty key name between backslashes"},
      {"REGEDIT4\n[-HKCU\\K]\n\"v\"=\"x\"\n", 3, "value under a deleted [-key]"},
      {head + "\"v\" \"x\"\n", 3, "expected '=' after the value name"},
      {head + "v=\"x\"\n", 3, "expected \"Name\"=, @=, a [key] or a ; comment"},
      {head + "\"v\"=\"x\n", 3, "quoted string has no closing '\"'"},
      {head + "\"v\"=\"a\\nb\"\n", 3, "unknown escape \\n in a quoted string (only \\\\ and \\\" are allowed)"},
      {head + "\"v\"=\"x\" y\n", 3, "unexpected text after the closing '\"'"},
      {head + "\"v\"=text\n", 3, "expected a quoted string, dword:, hex: or - after '='"},
      {head + "\"v\"=qword:1\n", 3, "unknown value type \"qword:\""},
      {head + "\"v\"=hex(z):00\n", 3, "unknown value type \"hex(z):\""},
      {head + "\"v\"=hex:0g\n", 3, "hex data must be bytes of 1 or 2 hex digits separated by commas"},
      {head + "\"v\"=dword:123456789\n", 3, "dword value must be 1 to 8 hex digits"},
      {head + "\"v\"=dword:0x1\n", 3, "dword value must be 1 to 8 hex digits"},
      {head + "\"v\"=hex:00,\\\n  01,\\\n", 4, "hex data continues past the end of the file"},
      {head + std::string("\"v\"=\"a\0b\"\n", 10), 3, "NUL byte in the line"},
  };
  for (const auto& c : cases) {
    RegistryFile registry;
    const auto result = registry.parse(c.text, "/etc/x.reg");
    EXPECT_EQ(result.status, RegistryFileStatus::malformed) << c.text;
    EXPECT_EQ(result.line, c.line) << c.text;
    EXPECT_EQ(result.reason, "/etc/x.reg: line " + std::to_string(c.line) + ": " + c.problem);
  }
  // What came before the bad line is kept; a new parse starts from nothing.
  RegistryFile registry;
  EXPECT_FALSE(registry.parse("REGEDIT4\n[HKCU\\K]\n\"a\"=\"1\"\n\"b\"=oops\n\"c\"=\"3\"\n"));
  EXPECT_EQ(registry.read_string(kUser, "K", "a"), "1");
  EXPECT_FALSE(registry.read_string(kUser, "K", "c"));
  ASSERT_TRUE(registry.parse("REGEDIT4\n"));
  EXPECT_EQ(registry.value_count(), 0u);
}

TEST(RegistryFile, LoadReportsEachKindOfFailure) {
  TempDir folder;
  RegistryFile registry;
  write_file(folder / "good.reg", std::string(kExample));
  ASSERT_TRUE(registry.load(folder / "good.reg"));
  EXPECT_EQ(registry.read_dword(kUser, kVellora, "FromPalmToPC"), 2u);

  auto result = registry.load(folder / "absent.reg");
  EXPECT_EQ(result.status, RegistryFileStatus::missing_file);
  EXPECT_EQ(result.reason, (folder / "absent.reg").string() + ": no such file");
  EXPECT_EQ(registry.value_count(), 0u);

  result = registry.load(folder.path());
  EXPECT_EQ(result.status, RegistryFileStatus::unreadable);
  EXPECT_EQ(result.reason, folder.path().string() + ": not a regular file");

  write_file(folder / "bad.reg", "REGEDIT4\n[HKCU\\K]\n\"v\"\n");
  result = registry.load(folder / "bad.reg");
  EXPECT_EQ(result.status, RegistryFileStatus::malformed);
  EXPECT_EQ(result.reason, (folder / "bad.reg").string() + ": line 3: expected '=' after the value name");

  // Sparse, so the test stays cheap.
  write_file(folder / "huge.reg", "REGEDIT4\n");
  ASSERT_EQ(::truncate((folder / "huge.reg").c_str(), kMaxRegistryFileBytes + 1), 0);
  EXPECT_EQ(registry.load(folder / "huge.reg").status, RegistryFileStatus::too_large);
  EXPECT_EQ(registry.parse(std::string(kMaxRegistryFileBytes + 1, '\n')).status, RegistryFileStatus::too_large);
}

}  // namespace
}  // namespace vellora::linux_host
