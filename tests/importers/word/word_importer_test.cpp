// The Word importer over in-process converters: which registration
// converts, how the RTF is handed over, and what a failure leaves behind.
#include "importers/word/word_importer.h"

#include <gtest/gtest.h>

#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "importers/rtf/rtf_importer.h"
#include "importers/word/converter_stream.h"
#include "tests/support/bytes.h"
#include "tests/support/fake_converters.h"
#include "tests/support/fake_platform.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

namespace fs = std::filesystem;
using testing::ConverterScript;

const std::string kRtf =
    "{\\rtf1{\\colortbl;\\red255\\green0\\blue0;}\\qc\\b Converted\\b0\\par {\\cf1 from a .doc}\\par}";

// A folder holding report.doc, with registrations and converters of its
// own; a test may use several.
struct Workspace {
  Workspace() {
    testing::write_file(dir / "report.doc", "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1 a compound file");
    options.registry = &registry;
    options.converters = &converters;
    options.on_converter = [this](const std::string& converter) { announced.push_back(converter); };
  }

  // A converter library file at `name` in the test folder, registered
  // under `key`, behaving as `script`.
  std::string install(const std::string& name, std::string_view key, ConverterScript script) {
    const std::string path = (dir / name).string();
    testing::write_file(path, "library");
    converters.install(path, std::move(script));
    registry.machine_strings[{std::string(key), "Path"}] = path;
    return path;
  }

  ImportResult import(const std::string& file = "report.doc") {
    return ImportWordDocument(dir / file, dir.path(), file, options);
  }

  StagingBytes staged() const {
    return {testing::read_file(dir / kStagingDataFile), testing::read_file(dir / kStagingSizesFile)};
  }

  // The staging files of `rtf` imported directly, under `name`.
  StagingBytes direct(const std::string& rtf, const std::string& name = "report.doc") const {
    return import_bytes({reinterpret_cast<const std::uint8_t*>(rtf.data()), rtf.size()}, name, &stage_rtf);
  }

  std::vector<std::string> files() const { return testing::file_names(dir.path()); }

  testing::TempDir dir;
  testing::FakeRegistry registry;
  testing::FakeConverters converters;
  ImportOptions options;
  std::vector<std::string> announced;
};

class WordImport : public ::testing::Test, public Workspace {};

TEST_F(WordImport, TheWord6ConverterIsPreferredAndItsRtfIsStagedUnderTheDocName) {
  const std::string six = install("six.so", kWord6ConverterKey, {1, "{\\rtf1 six\\par}", {8192}, -1, true, 0});
  const std::string eight = install("eight.so", kWord8ConverterKey, {1, "{\\rtf1 eight\\par}", {8192}, -1, true, 0});
  const ImportResult result = import();
  ASSERT_TRUE(result) << result.reason;
  EXPECT_EQ(announced, std::vector<std::string>{six});
  const StagingBytes want = direct("{\\rtf1 six\\par}");
  EXPECT_TRUE(testing::BytesEqual(staged().data, want.data));
  EXPECT_EQ(files(), (std::vector<std::string>{kStagingDataFile, kStagingSizesFile, "eight.so", "report.doc",
                                               "six.so"}));  // the temp file is gone
  const auto calls = converters.calls();
  EXPECT_EQ(calls.front(), "load " + six);
  EXPECT_NE(std::find(calls.begin(), calls.end(), "init VELLORACONDUIT"), calls.end());
  EXPECT_EQ(converters.converted_files(), std::vector<std::string>{(dir / "report.doc").string()});
  EXPECT_EQ(converters.libraries_loaded(), 0);
}

TEST_F(WordImport, RegistrationsThatCannotConvertArePassedOver) {
  const ConverterScript eight{1, "{\\rtf1 eight\\par}", {8192}, -1, true, 0};
  const struct {
    const char* what;
    std::function<void(Workspace&)> register_word6;
  } cases[] = {
      {"no registration", [](Workspace&) {}},
      {"an empty path",
       [](Workspace& t) {
         t.registry.machine_strings[{std::string(kWord6ConverterKey), "Path"}] = "";
       }},
      {"a missing file",
       [](Workspace& t) {
         t.registry.machine_strings[{std::string(kWord6ConverterKey), "Path"}] = (t.dir / "absent.so").string();
       }},
      {"a folder",
       [](Workspace& t) {
         fs::create_directory(t.dir / "folder.so");
         t.registry.machine_strings[{std::string(kWord6ConverterKey), "Path"}] = (t.dir / "folder.so").string();
       }},
      {"a path of 260 characters",
       [](Workspace& t) {
         t.install(std::string(260 - t.dir.path().string().size() - 1, 'x'), kWord6ConverterKey,
                   {1, "{\\rtf1 six\\par}", {8192}, -1, true, 0});
       }},
      {"a file that is no library",
       [](Workspace& t) {
         testing::write_file(t.dir / "text.so", "not a library");
         t.registry.machine_strings[{std::string(kWord6ConverterKey), "Path"}] = (t.dir / "text.so").string();
       }},
      {"no IsFormatCorrect32",
       [](Workspace& t) {
         t.install("six.so", kWord6ConverterKey, {1, "{\\rtf1 six\\par}", {8192}, -1, false, 0});
       }},
      {"a check answering 2",
       [](Workspace& t) {
         t.install("six.so", kWord6ConverterKey, {2, "{\\rtf1 six\\par}", {8192}, -1, true, 0});
       }},
      {"a check answering 0",
       [](Workspace& t) {
         t.install("six.so", kWord6ConverterKey, {0, "{\\rtf1 six\\par}", {8192}, -1, true, 0});
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Workspace t;
    c.register_word6(t);
    const std::string path = t.install("eight.so", kWord8ConverterKey, eight);
    const ImportResult result = t.import();
    ASSERT_TRUE(result) << result.reason;
    EXPECT_EQ(t.announced, std::vector<std::string>{path});
    EXPECT_TRUE(testing::BytesEqual(t.staged().data, t.direct("{\\rtf1 eight\\par}").data));
  }
}

TEST_F(WordImport, PiecesOfAnySizeGiveTheSameStagingAsTheRtfItself) {
  std::string rtf = "{\\rtf1 ";
  for (int i = 0; rtf.size() < 30000; ++i) rtf += "Paragraph " + std::to_string(i) + " with {\\b bold} words\\par ";
  rtf += "}";
  const StagingBytes want = direct(rtf);
  const std::vector<std::int32_t> cases[] = {{1}, {8192}, {0, 1, 0, 8192, 100, 4096, 4097, 0, 3}, {9000, -5, 7}};
  for (const auto& pieces : cases) {
    SCOPED_TRACE(::testing::PrintToString(pieces));
    Workspace t;
    t.install("six.so", kWord6ConverterKey, {1, rtf, pieces, -1, true, 0});
    ASSERT_TRUE(t.import());
    EXPECT_TRUE(testing::BytesEqual(t.staged().data, want.data)) << "the RTF arrived changed";
    EXPECT_TRUE(testing::BytesEqual(t.staged().sizes, want.sizes));
  }
}

TEST_F(WordImport, AFailedConversionStagesNothingAndSaysWhichConverterFailed) {
  for (const int fail_after : {0, 2}) {
    SCOPED_TRACE(fail_after);
    Workspace t;
    const std::string six = t.install("six.so", kWord6ConverterKey, {1, kRtf, {10}, fail_after, true, 0});
    t.install("eight.so", kWord8ConverterKey, {1, kRtf, {8192}, -1, true, 0});
    const ImportResult result = t.import();
    EXPECT_EQ(result.status, ImportStatus::cannot_convert);
    EXPECT_EQ(result.reason, (t.dir / "report.doc").string() + ": the text converter " + six + " failed");
    EXPECT_EQ(t.files(), (std::vector<std::string>{"eight.so", "report.doc", "six.so"}));
    EXPECT_EQ(t.converters.libraries_loaded(), 0);
  }
}

TEST_F(WordImport, WithoutAConverterOnlyRtfUnderADocNameIsImported) {
  testing::write_file(dir / "letter.doc", kRtf);
  ImportResult result = import("letter.doc");
  ASSERT_TRUE(result) << result.reason;
  EXPECT_TRUE(testing::BytesEqual(staged().data, direct(kRtf, "letter.doc").data));

  for (const std::string start : {"{\\rt", "{\\RTF1 x\\par}", ""}) {
    testing::TempDir other;
    testing::write_file(other / "short.doc", start);
    result = ImportWordDocument(other / "short.doc", other.path(), "short.doc", options);
    EXPECT_EQ(result.status, ImportStatus::cannot_convert) << start;
    EXPECT_EQ(testing::file_names(other.path()), std::vector<std::string>{"short.doc"});
  }
  EXPECT_EQ(import().status, ImportStatus::cannot_convert);  // a compound file, and no converter
  EXPECT_TRUE(announced.empty());
}

TEST_F(WordImport, TheCallbackAnswersMinusNineOutsideAConversion) {
  install("six.so", kWord6ConverterKey, {1, kRtf, {8192}, -1, true, 0});
  ASSERT_TRUE(import());
  EXPECT_EQ(converters.script((dir / "six.so").string()).last_callback_answer, 0);
  // The stream is gone: a late call from a converter finds no shared buffer.
  const ConverterOutput saved = testing::FakeConverters::last_output();
  ASSERT_NE(saved, nullptr);
  EXPECT_EQ(saved(10, 100), kNoSharedBuffer);
}

// Two imports at once take turns: each gets its own document whole.
TEST_F(WordImport, ConversionsRunOneAtATime) {
  std::string long_rtf = "{\\rtf1 ";
  for (int i = 0; i < 2000; ++i) long_rtf += "word" + std::to_string(i) + " ";
  long_rtf += "\\par}";
  install("six.so", kWord6ConverterKey, {1, long_rtf, {7, 0, 100}, -1, true, 0});
  options.on_converter = nullptr;
  testing::TempDir other;
  testing::write_file(other / "second.doc", "\xD0\xCF\x11\xE0");
  ImportResult first, second;
  std::thread a([&] { first = import(); });
  std::thread b([&] { second = ImportWordDocument(other / "second.doc", other.path(), "second.doc", options); });
  a.join();
  b.join();
  ASSERT_TRUE(first) << first.reason;
  ASSERT_TRUE(second) << second.reason;
  EXPECT_TRUE(testing::BytesEqual(staged().data, direct(long_rtf).data));
  EXPECT_TRUE(testing::BytesEqual(testing::read_file(other / kStagingDataFile), direct(long_rtf, "second.doc").data));
}

#ifndef _WIN32
// The converter's RTF goes into a file made new in a private folder, so a
// link, a FIFO or the user's own file under the temporary file's name in
// the staging folder is neither written, read, waited on nor deleted.
TEST_F(WordImport, WhatSitsUnderTheTemporaryNameIsLeftAlone) {
  const std::string temp_name(kWordTempFile);
  testing::TempDir outside;
  testing::write_file(outside / "target.txt", "not to be overwritten");
  const auto link = [&](Workspace& t) { fs::create_symlink(outside / "target.txt", t.dir / temp_name); };
  const auto fifo = [&](Workspace& t) { ASSERT_EQ(::mkfifo((t.dir / temp_name).c_str(), 0600), 0); };
  const auto own = [&](Workspace& t) { testing::write_file(t.dir / temp_name, "the user's notes"); };
  const struct {
    const char* what;
    std::function<void(Workspace&)> plant;
    fs::file_type type;
  } cases[] = {
      {"a link to a file outside", link, fs::file_type::symlink},
      {"a FIFO", fifo, fs::file_type::fifo},
      {"a file of the user's", own, fs::file_type::regular},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Workspace t;
    t.install("six.so", kWord6ConverterKey, {1, kRtf, {8192}, -1, true, 0});
    c.plant(t);
    const ImportResult result = t.import();
    ASSERT_TRUE(result) << result.reason;
    EXPECT_TRUE(testing::BytesEqual(t.staged().data, t.direct(kRtf).data));
    EXPECT_EQ(fs::symlink_status(t.dir / temp_name).type(), c.type);
    EXPECT_EQ(t.files(),
              (std::vector<std::string>{temp_name, kStagingDataFile, kStagingSizesFile, "report.doc", "six.so"}));
  }
  const auto target = testing::read_file(outside / "target.txt");
  EXPECT_EQ(std::string(target.begin(), target.end()), "not to be overwritten");
  Workspace t;
  own(t);
  ASSERT_TRUE(t.import().status == ImportStatus::cannot_convert);  // no converter: the file is not RTF
  EXPECT_EQ(testing::read_file(t.dir / temp_name).size(), 16u);
}
#endif

// What a conversion that was killed left goes at the next send pass: its
// private folder, and the empty temporary file older versions left; a
// user's file of that name, a folder that holds a folder, or a name that
// is not the pattern, stay.
TEST_F(WordImport, StaleWorkIsRemovedAndNothingOfTheUsers) {
  const std::string temp_name(kWordTempFile);
  const std::string folder(kWordWorkFolderPrefix);
  for (const std::string& name : {folder + "AbC123", folder + "dEf456", folder + "Keep01", folder + "TooLong7"}) {
    fs::create_directory(dir / name);
    testing::write_file(dir / name / temp_name, "{\\rtf1 half");
  }
  fs::create_directory(dir / (folder + "dEf456") / "nested");
  fs::create_directory(dir / (folder + "Keep01") / "nested");
  testing::write_file(dir / temp_name, "");
  remove_stale_word_work(dir.path());
  EXPECT_EQ(files(),
            (std::vector<std::string>{folder + "Keep01", folder + "TooLong7", folder + "dEf456", "report.doc"}));

  testing::TempDir other;
  testing::write_file(other / temp_name, "mine");
  remove_stale_word_work(other.path());
  EXPECT_EQ(testing::read_file(other / temp_name).size(), 4u);
#ifndef _WIN32
  // A link is never taken for an empty file, whatever it points to.
  fs::remove(other / temp_name);
  testing::write_file(other / "empty", "");
  fs::create_symlink(other / "empty", other / temp_name);
  remove_stale_word_work(other.path());
  EXPECT_EQ(testing::file_names(other.path()), (std::vector<std::string>{temp_name, "empty"}));
#endif
}

}  // namespace
}  // namespace vellora
