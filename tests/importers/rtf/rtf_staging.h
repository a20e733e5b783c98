// The RTF importer's tests stage strings through its conversion.
#pragma once

#include "importers/rtf/rtf_importer.h"
#include "tests/support/staging_expect.h"

namespace vellora::testing {

inline const std::string kDefaultName = "doc.rtf";

inline StagingBytes import_rtf(const std::string& input, const std::string& name = kDefaultName) {
  return import_through(&stage_rtf, input, name);
}

inline ::testing::AssertionResult StagesExactly(const std::string& input, const std::vector<Expected>& paragraphs,
                                                std::uint8_t background = kWhiteIndex) {
  return StagesExactlyThrough(&stage_rtf, kDefaultName, input, paragraphs, background);
}

inline void expect_cases(const std::vector<StagingCase>& cases) {
  expect_cases_through(&stage_rtf, kDefaultName, cases);
}

inline StagingBytes staging_of(const std::vector<Expected>& paragraphs, std::uint8_t background = kWhiteIndex) {
  return staging_of(paragraphs, background, kDefaultName);
}

}  // namespace vellora::testing
