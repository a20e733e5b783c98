#include "conduit/entry_points.h"

#include <cstring>

#include <gtest/gtest.h>

#include "tests/support/fake_platform.h"

namespace vellora {
namespace {

TEST(EntryPoints, NameVersionAndConfiguration) {
  char name[8];
  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(GetConduitName(name, 5), 0);
  EXPECT_EQ(std::string(name, 6), std::string("Vell\0x", 6));
  EXPECT_EQ(GetConduitName(name, 0), 0);  // writes nothing
  EXPECT_EQ(name[0], 'V');
  EXPECT_EQ(GetConduitVersion(), 257u);
  EXPECT_EQ(ConfigureConduit(), -1);
}

TEST(EntryPoints, GetConduitInfoChecksInOrder) {
  const std::uint32_t good[2] = {1, 80}, bad[2] = {1, 81};
  char out[16];
  std::uint32_t size = 10;
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(GetConduitInfo(0, good, out, &size), 0);
  EXPECT_EQ(std::string(out, 11), std::string("VelloraCo\0x", 11));
  EXPECT_EQ(GetConduitInfo(0, bad, out, &size), kErrBadInputRecord);
  EXPECT_EQ(GetConduitInfo(0, nullptr, out, &size), kErrNoInputRecord);
  EXPECT_EQ(GetConduitInfo(3, good, nullptr, &size), kErrNoOutputBuffer);
  EXPECT_EQ(GetConduitInfo(3, good, out, nullptr), kErrNoOutputSize);
  EXPECT_EQ(GetConduitInfo(3, good, out, &size), kErrUnknownInfoType);
  std::uint32_t zero = 0;
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(GetConduitInfo(0, good, out, &zero), 0);
  EXPECT_EQ(out[0], 'x');

  std::uint32_t value = 7, four = 4, eight = 8;
  EXPECT_EQ(GetConduitInfo(1, nullptr, &value, &eight), kErrWrongOutputSize);
  EXPECT_EQ(value, 7u);
  EXPECT_EQ(GetConduitInfo(1, nullptr, &value, &four), 0);
  EXPECT_EQ(value, 0x500u);
  EXPECT_EQ(GetConduitInfo(2, nullptr, &value, &four), 0);
  EXPECT_EQ(value, 0u);
}

TEST(EntryPoints, CfgConduitChecksInOrder) {
  std::uint32_t record[88] = {1};
  std::uint32_t size = 352, short_size = 351;
  EXPECT_EQ(CfgConduit(0, record, &size), -1);
  EXPECT_EQ(CfgConduit(5, record, &short_size), kErrWrongArgumentSize);  // before the type
  EXPECT_EQ(CfgConduit(0, nullptr, &size), kErrNoInputRecord);
  EXPECT_EQ(CfgConduit(0, record, nullptr), kErrNoArgumentSize);
  EXPECT_EQ(CfgConduit(1, record, &size), kErrUnknownConfigType);
  record[0] = 2;
  EXPECT_EQ(CfgConduit(0, record, &size), kErrWrongArgumentVersion);
}

TEST(EntryPoints, LanguageLibraryFollowsTheUseCount) {
  testing::ConduitFixture f;
  f.conduit.attach();
  f.conduit.attach();
  f.conduit.detach();
  EXPECT_EQ(f.language.calls, (std::vector<std::string>{"load VELLORACONDUITLANG.DLL 1"}));
  f.conduit.detach();
  EXPECT_EQ(f.language.calls.back(), "release 20480 1");
  EXPECT_EQ(f.conduit.language_library, f.conduit.instance);
}

TEST(Session, NullArgumentDoesNothingAndAnEmptySessionLogsTwice) {
  testing::ConduitFixture f;
  EXPECT_EQ(OpenConduit(nullptr, f.conduit), -1);
  EXPECT_TRUE(f.handheld.calls.empty());
  EXPECT_TRUE(f.log.entries.empty());

  const int manager = 0;
  EXPECT_EQ(OpenConduit(&manager, f.conduit), 0);
  EXPECT_EQ(f.log.entries, (std::vector<std::pair<std::string, std::int32_t>>{{"", 19}, {"VelloraConduit", 20}}));
  EXPECT_EQ(f.handheld.call_names(),
            (std::vector<std::string>{"SyncRegisterConduit", "SyncOpenDB", "SyncUnRegisterConduit"}));
  EXPECT_TRUE(f.boxes.shown.empty());
}

TEST(Session, AFailedRegistrationEndsTheSession) {
  testing::ConduitFixture f;
  f.handheld.fail_call_number = 1;
  const int manager = 0;
  EXPECT_EQ(OpenConduit(&manager, f.conduit), f.handheld.failure_code);
  EXPECT_EQ(f.handheld.calls.size(), 1u);
  EXPECT_TRUE(f.log.entries.empty());
}

TEST(Session, MissingSettingsTakeDefaults) {
  testing::FakeRegistry registry;
  registry.strings["FolderForSFiles"] = std::string(260, 'a');  // too long for the conduit
  registry.numbers["FromPCToPalm"] = 0;
  const Settings settings = load_settings(registry);
  EXPECT_EQ(settings.send_folder, "");
  EXPECT_EQ(settings.send_policy, 0u);
  EXPECT_EQ(settings.receive_policy, kAskBeforeOverwrite);
  EXPECT_EQ(settings.font_size, 10u);
}

}  // namespace
}  // namespace vellora
