// The document builder: reads the staging files, lays every paragraph out
// into lines of at most 149 pixels for the 150-pixel display, cuts lines into
// runs of equal attributes, packs one record per paragraph behind a header
// record and writes the database through the Sync Manager. The whole
// document is packed in memory first; the handheld is touched only when
// every record is ready, and a database that could not be written completely
// is deleted again.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "docmodel/staging.h"
#include "platform/sync_manager.h"

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
// number of display lines it adds to `lineTotal`. It trusts the cells, as
// DocumentPacker::take_trusted_paragraph does.
std::uint32_t pack_paragraph(const StagedParagraph& paragraph, ByteVector& out);

// Lays out and packs paragraphs as an importer stages them, checking them
// as the staging reader does, so a conversion becomes a database without
// staging files. The first problem ends packing and is kept in result().
class DocumentPacker final : public StagingSink {
 public:
  // `expected_chars` (the source's size will do) sizes the first reserve.
  explicit DocumentPacker(PackedDocument& out, std::size_t expected_chars = 0);
  ~DocumentPacker() override;
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
  struct Layout;
  void fail(StagingResult why);

  PackedDocument& out_;
  std::unique_ptr<Layout> layout_;
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

enum class BuildError { none, bad_staging, create_failed, write_failed, close_failed };

struct BuildResult {
  BuildError error = BuildError::none;
  std::string reason;                // one line, for the user
  SyncStatus sync_status = kSyncOk;  // the failing call's status
  std::string database_name;
  std::size_t paragraphs = 0;
  std::size_t records = 0;
  bool was_cut = false;
  explicit operator bool() const { return error == BuildError::none; }
};

// Creates the database, writes every record and closes it. If any call
// fails, a database that was created is closed and deleted again.
BuildResult write_document(const PackedDocument& document, SyncManager& sync);

// pack_document + write_document, then deletes the staging files, whatever
// happened. Nothing reaches the handheld unless the staging files are valid.
BuildResult build_document(const std::filesystem::path& staging_folder, SyncManager& sync);

}  // namespace vellora
