// The language stand-in hands out usable handles and records every call.
#include "hosts/linux/language_stand_in.h"

#include <gtest/gtest.h>

namespace vellora::linux_host {
namespace {

TEST(LanguageStandIn, RecordsLoadsAndReleasesWithDistinctHandles) {
  LanguageStandIn library;
  int scratch = -1;
  const ModuleHandle first = library.load(kLanguageLibraryName, 0x400000, &scratch);
  const ModuleHandle second = library.load("OTHER.DLL", 0x400000, nullptr);
  EXPECT_NE(first, 0u);
  EXPECT_NE(second, 0u);
  EXPECT_NE(first, second);
  EXPECT_EQ(scratch, 0);
  EXPECT_EQ(library.loaded_count(), 2u);

  library.release(first, 0x400000);
  library.release(first, 0x400000);  // a second release changes nothing
  EXPECT_EQ(library.loaded_count(), 1u);
  using Call = LanguageStandIn::Call;
  EXPECT_EQ(library.calls(),
            (std::vector<Call>{
                {.is_load = true, .file_name = "VELLORACONDUITLANG.DLL", .instance = 0x400000, .library = first},
                {.is_load = true, .file_name = "OTHER.DLL", .instance = 0x400000, .library = second},
                {.is_load = false, .file_name = "", .instance = 0x400000, .library = first},
                {.is_load = false, .file_name = "", .instance = 0x400000, .library = first}}));
}

}  // namespace
}  // namespace vellora::linux_host
