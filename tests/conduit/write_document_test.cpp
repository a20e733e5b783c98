// A packed document written to the handheld: the calls, their order, and
// what is left when one of them fails.
#include "conduit/write_document.h"

#include <gtest/gtest.h>

#include "docmodel/records.h"
#include "tests/support/fake_sync_manager.h"
#include "tests/support/paragraphs.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

using testing::paragraph;
using testing::special;
using testing::text_cell;

class BuildDocument : public ::testing::Test {
 protected:
  BuildResult build(const std::vector<StagedParagraph>& paragraphs, std::uint8_t background = 0) {
    testing::stage(dir.path(), "report.txt", paragraphs, background);
    return build_document(dir.path(), handheld);
  }
  bool staging_left() const {
    return std::filesystem::exists(dir / kStagingDataFile) || std::filesystem::exists(dir / kStagingSizesFile);
  }
  std::vector<std::vector<std::uint8_t>> records(const std::string& name) {
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& record : handheld.databases.at(name).records) out.push_back(record.data);
    return out;
  }
  testing::TempDir dir;
  testing::FakeSyncManager handheld;
};

TEST_F(BuildDocument, CreatesWritesAndClosesThenRemovesStaging) {
  const auto result =
      build({paragraph("one"), paragraph("two"), special(kEmptyParagraphCell), special(kRuleCell, 1)}, 17);
  ASSERT_TRUE(result) << result.reason;
  EXPECT_EQ(handheld.calls, (std::vector<std::string>{
                                "SyncCreateDB(name=report.txt, creator=bhV1, flags=0, card=0, type=VLTx, version=2)",
                                "SyncWriteRec(handle=1, id=0, attributes=64, category=0, size=48)",
                                "SyncWriteRec(handle=1, id=0, attributes=64, category=0, size=35)",
                                "SyncWriteRec(handle=1, id=0, attributes=64, category=0, size=35)",
                                "SyncWriteRec(handle=1, id=0, attributes=64, category=0, size=16)",
                                "SyncWriteRec(handle=1, id=0, attributes=64, category=0, size=16)", "SyncCloseDB(1)"}));
  const auto written = records("report.txt");
  EXPECT_TRUE(check_document(written).empty());
  HeaderRecord header;
  ASSERT_TRUE(decode_header(written[0], header));
  EXPECT_EQ(header.line_total, 4u);
  EXPECT_EQ(header.background, 17);
  EXPECT_EQ(written[0][7], 0xFF);
  EXPECT_FALSE(staging_left());
}

TEST_F(BuildDocument, EmptyDocumentIsOnlyTheHeader) {
  ASSERT_TRUE(build({}));
  const auto written = records("report.txt");
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0][5], 0);  // lineTotal 0
}

TEST_F(BuildDocument, KeepsAtMost32765Paragraphs) {
  const auto result = build(std::vector<StagedParagraph>(kMaxParagraphs + 2, paragraph("x")), 33);
  ASSERT_TRUE(result);
  EXPECT_TRUE(result.was_cut);
  const auto written = records("report.txt");
  EXPECT_EQ(written.size(), kMaxParagraphs + 1);
  EXPECT_EQ(written[0][6], 33);
}

TEST_F(BuildDocument, InvalidStagingReachesNothingAndIsRemoved) {
  auto bad = paragraph("abc", kAlignLeft, text_cell(5));
  const auto result = build({paragraph("fine"), bad});
  EXPECT_EQ(result.error, BuildError::bad_staging);
  EXPECT_NE(result.reason.find("font 5"), std::string::npos) << result.reason;
  EXPECT_TRUE(handheld.calls.empty());
  EXPECT_FALSE(staging_left());

  const auto missing = build_document(dir.path(), handheld);
  EXPECT_EQ(missing.error, BuildError::bad_staging);
  EXPECT_TRUE(handheld.calls.empty());
}

TEST_F(BuildDocument, AFailedCallLeavesNoDatabase) {
  const std::vector<StagedParagraph> doc = {paragraph("one"), paragraph("two")};
  for (int call = 1; call <= 4; ++call) {  // create, two writes of three, close
    SCOPED_TRACE(call);
    handheld = testing::FakeSyncManager{};
    handheld.fail_call_number = call;
    const auto result = build(doc);
    EXPECT_FALSE(result);
    EXPECT_EQ(result.sync_status, handheld.failure_code);
    EXPECT_TRUE(handheld.databases.empty());
    EXPECT_FALSE(staging_left());
  }
  handheld = testing::FakeSyncManager{};
  handheld.fail_call_number = 5;  // the close
  EXPECT_EQ(build(doc).error, BuildError::close_failed);
  EXPECT_EQ(handheld.call_names().back(), "SyncDeleteDB");
}

}  // namespace
}  // namespace vellora
