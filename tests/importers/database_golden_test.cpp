// The databases the samples and the test documents become, byte for byte,
// against the bytes recorded when they were last reviewed: an importer,
// the layout or the packing may be made faster, never different. After an
// intended change, VELLORA_WRITE_GOLDENS=1 rewrites the recorded bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "conduit/convert_file.h"
#include "conduit/document_types.h"
#include "docmodel/packer.h"
#include "hosts/linux/pdb_file.h"
#include "tests/support/bytes.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

namespace fs = std::filesystem;

const fs::path kSource = VELLORA_SOURCE_DIR;
const fs::path kGoldens = kSource / "tests/golden/databases";

// The document's name, then each record as a 4-byte big-endian length and
// its bytes.
std::vector<std::uint8_t> recorded_form(const PackedDocument& document) {
  const std::string name = document.name_text();
  std::vector<std::uint8_t> out(name.begin(), name.end());
  out.push_back('\n');
  for (std::size_t i = 0; i < document.record_count(); ++i) {
    const auto record = document.record(i);
    for (const int shift : {24, 16, 8, 0}) out.push_back(static_cast<std::uint8_t>(record.size() >> shift));
    out.insert(out.end(), record.begin(), record.end());
  }
  return out;
}

struct Document {
  fs::path path;
  const DocumentType* type;
};

// The samples and test documents that have recorded bytes.
std::vector<Document> documents() {
  std::vector<Document> found;
  for (const fs::path& folder : {kSource / "samples", kSource / "tests/samples/html", kSource / "tests/samples/rtf",
                                 kSource / "tests/golden/text"}) {
    for (const auto& entry : fs::directory_iterator(folder)) {
      std::string extension = entry.path().extension().string();
      if (extension == ".html") extension = ".htm";
      const DocumentType* type = find_document_type(extension);
      if (type == nullptr || extension == ".doc") continue;
      found.push_back({entry.path(), type});
    }
  }
  return found;
}

// The records after the name line of a recorded form.
std::vector<std::uint8_t> records_of(const std::vector<std::uint8_t>& recorded) {
  const auto name_end = std::find(recorded.begin(), recorded.end(), std::uint8_t{'\n'});
  return {name_end == recorded.end() ? name_end : name_end + 1, recorded.end()};
}

TEST(DatabaseGoldens, EveryDocumentBuildsTheRecordedBytes) {
  const bool write = std::getenv("VELLORA_WRITE_GOLDENS") != nullptr;
  std::size_t count = 0;
  for (const auto& [path, type] : documents()) {
    const std::string file = path.filename().string();
    SCOPED_TRACE(file);
    ++count;
    testing::TempDir staging;
    ASSERT_TRUE(type->import(path, staging.path(), file, {}));
    PackedDocument document;
    ASSERT_TRUE(pack_document(staging.path(), document));
    const auto built = recorded_form(document);
    // A sync lays the paragraphs out as the importer hands them over, and
    // names the document as a sync does (a .html file as .htm).
    const FileConversion streamed = convert_file(*type, path, file, staging.path(), {}, 0);
    ASSERT_TRUE(streamed.imported);
    ASSERT_TRUE(streamed.packed);
    EXPECT_EQ(streamed.document.name_text(), document_name_for(file, nullptr));
    EXPECT_TRUE(testing::BytesEqual(records_of(recorded_form(streamed.document)), records_of(built)));
    const fs::path golden = kGoldens / (file + ".records");
    if (write) testing::write_file(golden, built);
    ASSERT_TRUE(fs::exists(golden)) << "no recorded bytes: run with VELLORA_WRITE_GOLDENS=1 and review them";
    EXPECT_TRUE(testing::BytesEqual(built, testing::read_file(golden)));
  }
  EXPECT_GE(count, 15u);
}

// `vellora convert` passes bytes unchanged in the C locale and wherever it
// is told cp1252, so every document has its recorded records there too.
TEST(DatabaseGoldens, TheCommandLineBuildsThemInTheCLocaleAndWhenToldCp1252) {
  testing::TempDir dir;
  const std::string cli = VELLORA_CLI;
  for (const auto& [path, type] : documents()) {
    const std::string file = path.filename().string();
    for (const std::string run : {"LC_ALL=C", "LC_ALL=C.UTF-8 LANG=C.UTF-8 --encoding cp1252"}) {
      SCOPED_TRACE(file + ", " + run);
      const std::string locale = run.substr(0, run.find(" --"));
      const std::string flag = run.find(" --") == std::string::npos ? "" : run.substr(run.find(" --"));
      const fs::path out = dir / "out.pdb";
      const std::string command = "env -u LC_CTYPE -u LANG " + locale + " XDG_CONFIG_HOME='" + dir.path().string() +
                                  "' '" + cli + "' convert '" + path.string() + "' -o '" + out.string() + "'" + flag +
                                  " >/dev/null";
      ASSERT_EQ(std::system(command.c_str()), 0) << command;
      linux_host::PdbReader db;
      ASSERT_TRUE(db.open(out));
      std::vector<std::uint8_t> records;
      for (std::size_t i = 0; i < db.record_count(); ++i) {
        std::vector<std::uint8_t> record;
        ASSERT_TRUE(db.read_record(i, record));
        for (const int shift : {24, 16, 8, 0}) records.push_back(static_cast<std::uint8_t>(record.size() >> shift));
        records.insert(records.end(), record.begin(), record.end());
      }
      EXPECT_TRUE(testing::BytesEqual(records, records_of(testing::read_file(kGoldens / (file + ".records")))));
    }
  }
}

// Each recorded database has its `vellora dump` beside it, so that a
// change to the bytes reads as text in a review: the dump of what the
// command line converts now must be that text. The file's path and the
// line of dates, which differ from run to run, are left out.
TEST(DatabaseGoldens, EachHasItsDumpBesideIt) {
  const bool write = std::getenv("VELLORA_WRITE_GOLDENS") != nullptr;
  testing::TempDir dir;
  const std::string cli = VELLORA_CLI;
  for (const auto& [path, type] : documents()) {
    const std::string file = path.filename().string();
    SCOPED_TRACE(file);
    const fs::path database = dir / "out.pdb";
    const fs::path dumped = dir / "out.dump";
    const std::string command = "env -u LC_CTYPE -u LANG LC_ALL=C XDG_CONFIG_HOME='" + dir.path().string() + "' '" +
                                cli + "' convert '" + path.string() + "' -o '" + database.string() +
                                "' >/dev/null && '" + cli + "' dump --encoding cp1252 '" + database.string() + "' >'" +
                                dumped.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const auto bytes = testing::read_file(dumped);
    std::string text(bytes.begin(), bytes.end());
    ASSERT_TRUE(text.starts_with(database.string() + ": "));
    text.replace(0, database.string().size(), file);
    const auto dates = text.find("\n  created ");
    ASSERT_NE(dates, std::string::npos);
    text.erase(dates + 1, text.find('\n', dates + 1) - dates);
    const fs::path golden = kGoldens / (file + ".dump");
    if (write) testing::write_file(golden, std::vector<std::uint8_t>(text.begin(), text.end()));
    ASSERT_TRUE(fs::exists(golden)) << "no recorded dump: run with VELLORA_WRITE_GOLDENS=1 and review it";
    const auto recorded = testing::read_file(golden);
    EXPECT_EQ(text, std::string(recorded.begin(), recorded.end()));
  }
}

}  // namespace
}  // namespace vellora
