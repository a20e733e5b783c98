// The databases the samples and the test documents become, byte for byte,
// against the bytes recorded when they were last reviewed: an importer,
// the layout or the packing may be made faster, never different. After an
// intended change, VELLORA_WRITE_GOLDENS=1 rewrites the recorded bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "conduit/document_types.h"
#include "docmodel/builder.h"
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

TEST(DatabaseGoldens, EveryDocumentBuildsTheRecordedBytes) {
  const bool write = std::getenv("VELLORA_WRITE_GOLDENS") != nullptr;
  std::size_t documents = 0;
  for (const fs::path& folder : {kSource / "samples", kSource / "tests/samples/html", kSource / "tests/samples/rtf",
                                kSource / "tests/golden/text"}) {
    for (const auto& entry : fs::directory_iterator(folder)) {
      std::string extension = entry.path().extension().string();
      if (extension == ".html") extension = ".htm";
      const DocumentType* type = find_document_type(extension);
      if (type == nullptr || type->import == nullptr || extension == ".doc") continue;
      const std::string file = entry.path().filename().string();
      SCOPED_TRACE(file);
      ++documents;
      testing::TempDir staging;
      ASSERT_TRUE(type->import(entry.path(), staging.path(), file, {}));
      PackedDocument document;
      ASSERT_TRUE(pack_document(staging.path(), document));
      const auto built = recorded_form(document);
      // A sync lays the paragraphs out as the importer hands them over.
      PackedDocument streamed;
      DocumentPacker packer(streamed);
      ImportOptions options;
      options.sink = &packer;
      ASSERT_TRUE(type->import(entry.path(), staging.path(), file, options));
      ASSERT_TRUE(packer.result());
      EXPECT_TRUE(testing::BytesEqual(recorded_form(streamed), built));
      const fs::path golden = kGoldens / (file + ".records");
      if (write) testing::write_file(golden, built);
      ASSERT_TRUE(fs::exists(golden)) << "no recorded bytes: run with VELLORA_WRITE_GOLDENS=1 and review them";
      EXPECT_TRUE(testing::BytesEqual(built, testing::read_file(golden)));
    }
  }
  EXPECT_GE(documents, 15u);
}

}  // namespace
}  // namespace vellora
