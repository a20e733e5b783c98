// Record packing: the lines and runs the layout gives each paragraph become
// the paragraph's record, one record per paragraph behind a header record,
// all back to back in memory. The packer takes paragraphs as an importer
// stages them (it is a StagingSink) or from the staging files; writing the
// packed document to a handheld is the conduit's part.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "docmodel/layout.h"
#include "docmodel/staging.h"

namespace vellora {

// A laid-out document: records back to back, the header record first.
struct PackedDocument {
  std::array<char, kNameRecordBytes> name{};  // at most 31 characters, zero-filled
  ByteVector bytes;
  std::vector<std::uint32_t> offsets;  // where each record starts in `bytes`
  std::uint32_t line_total = 0;
  std::size_t paragraphs = 0;
  bool was_cut = false;  // paragraphs beyond the database's limit were dropped

  std::size_t record_count() const { return offsets.size(); }
  std::span<const std::uint8_t> record(std::size_t index) const;
  std::string name_text() const;
};

// Appends the record of one validated paragraph to `out` and returns the
// number of display lines it adds to the document's line total. It trusts
// the cells, as DocumentPacker::take_trusted_paragraph does.
std::uint32_t pack_paragraph(const StagedParagraph& paragraph, ByteVector& out);

// Lays out and packs paragraphs as an importer stages them, checking them
// as the staging reader does, so a conversion becomes a database without
// staging files. The first problem ends packing and is kept in result().
class DocumentPacker final : public StagingSink {
 public:
  // `expected_chars` (the source's size will do) sizes the first reserve.
  explicit DocumentPacker(PackedDocument& out, std::size_t expected_chars = 0);
  DocumentPacker(const DocumentPacker&) = delete;
  DocumentPacker& operator=(const DocumentPacker&) = delete;

  void take_name(const std::array<char, kNameRecordBytes>& record) override;
  // The two ways to pack a paragraph. This one checks its length and cells
  // as the staging reader does; a bad paragraph ends packing.
  void take_paragraph(std::int32_t alignment, std::span<const std::uint8_t> text,
                      std::span<const std::uint8_t> cells) override;
  // This one trusts them: for paragraphs checked already, as the staging
  // reader's are.
  void take_trusted_paragraph(std::int32_t alignment, std::span<const std::uint8_t> text,
                              std::span<const std::uint8_t> cells);
  void take_background(std::uint8_t background) override;
  const StagingResult& result() const { return result_; }

 private:
  void fail(StagingResult why);

  PackedDocument& out_;
  // Reused from paragraph to paragraph.
  MeasuredParagraph measured_;
  LaidOutParagraph laid_out_;
  std::string where_ = "staged document";
  StagingResult result_;
};

// Reads, validates and packs the staging files in `folder`. With
// `expected_name`, staging files that name another document are refused:
// someone else wrote them, and they must not become this file's database.
StagingResult pack_document(const std::filesystem::path& folder, PackedDocument& out,
                            std::string_view expected_name = {});
// The same for staging files held in memory.
StagingResult pack_document(const StagingBytes& staging, PackedDocument& out);

}  // namespace vellora
