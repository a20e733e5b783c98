// Where `vellora export` takes its font settings from.
#include "tools/export_options.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace vellora::cli {
namespace {

class ExportFont : public ::testing::Test {
 protected:
  ExportOptions resolve(const ExportCommandOptions& options, const std::optional<std::filesystem::path>& fallback) {
    ExportOptions out;
    std::string why_not;
    EXPECT_TRUE(resolve_export_options(options, fallback, out, why_not)) << why_not;
    return out;
  }
  std::filesystem::path registry(const std::string& values) {
    const auto path = dir / "registry.reg";
    testing::write_file(path, "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Brisholm\\Vellora]\n" + values);
    return path;
  }
  testing::TempDir dir;
};

TEST_F(ExportFont, FlagsWinThenTheRegistryFileThenEmptyAndTen) {
  const auto none = resolve({}, dir / "absent.reg");
  EXPECT_EQ(none.font_name, "");
  EXPECT_EQ(none.font_size, 10u);
  EXPECT_EQ(resolve({}, std::nullopt).font_size, 10u);

  const auto file = registry("\"FontName\"=\"Times New Roman\"\n\"FontSize\"=dword:0000000c\n");
  const auto from_file = resolve({}, file);
  EXPECT_EQ(from_file.font_name, "Times New Roman");
  EXPECT_EQ(from_file.font_size, 12u);
  const auto named = resolve(ExportCommandOptions{file.string(), std::nullopt, std::nullopt, {}}, std::nullopt);
  EXPECT_EQ(named.font_name, "Times New Roman");

  const auto flags = resolve(ExportCommandOptions{{}, std::string("Courier"), 9u, {}}, file);
  EXPECT_EQ(flags.font_name, "Courier");
  EXPECT_EQ(flags.font_size, 9u);
  // A flag may set the name to empty on purpose.
  EXPECT_EQ(resolve(ExportCommandOptions{{}, std::string(), std::nullopt, {}}, file).font_name, "");
}

TEST_F(ExportFont, ANamedRegistryMustExistAndAnyRegistryMustParse) {
  ExportOptions out;
  std::string why_not;
  EXPECT_FALSE(resolve_export_options(ExportCommandOptions{(dir / "absent.reg").string(), {}, {}, {}}, std::nullopt,
                                      out, why_not));
  EXPECT_NE(why_not.find("absent.reg"), std::string::npos);
  testing::write_file(dir / "bad.reg", "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=nonsense\n");
  EXPECT_FALSE(resolve_export_options({}, dir / "bad.reg", out, why_not));
  EXPECT_NE(why_not.find("line 3"), std::string::npos) << why_not;
}

}  // namespace
}  // namespace vellora::cli
