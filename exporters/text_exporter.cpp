// Document database to plain text. Records are read whole (up to the
// 65,535 bytes a record can hold) and every field is checked against the
// bytes actually read, so no record can make the exporter read past them.
#include "exporters/text_exporter.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <system_error>
#include <vector>

#include "docmodel/byte_order.h"
#include "docmodel/records.h"

namespace vellora {

namespace {

constexpr std::uint8_t kOpenReadExclusive = kOpenRead | kOpenExclusive;  // 0x90
constexpr std::size_t kRecordBufferBytes = 0xFFFF;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Closes the database however the export ends.
class OpenDatabase {
 public:
  OpenDatabase(SyncManager& sync, DbHandle handle) : sync_(sync), handle_(handle) {}
  ~OpenDatabase() { sync_.SyncCloseDB(handle_); }
  OpenDatabase(const OpenDatabase&) = delete;
  OpenDatabase& operator=(const OpenDatabase&) = delete;
  DbHandle handle() const { return handle_; }

 private:
  SyncManager& sync_;
  DbHandle handle_;
};

ExportResult failure(ExportStatus status, std::string reason) { return {status, std::move(reason)}; }

}  // namespace

ExportResult ExportText(SyncManager& sync, std::string_view database_name,
                        const std::filesystem::path& output) {
  const std::string name(database_name);
  DbHandle handle = 0;
  if (SyncStatus status = sync.SyncOpenDB(database_name, 0, handle, kOpenReadExclusive); status != kSyncOk)
    return failure(ExportStatus::not_found, name + ": cannot open the database (error " + std::to_string(status) + ")");
  OpenDatabase db(sync, handle);

  std::uint16_t count = 0;
  if (SyncStatus status = sync.SyncGetDBRecordCount(handle, count); status != kSyncOk)
    return failure(ExportStatus::read_failed, name + ": cannot count its records (error " + std::to_string(status) + ")");
  if (count < 2) return failure(ExportStatus::no_paragraphs, name + ": the document holds no paragraph");
  DbInfo info;
  if (SyncStatus status = sync.SyncReadOpenDbInfo(handle, info); status != kSyncOk)
    return failure(ExportStatus::read_failed, name + ": cannot read its information (error " + std::to_string(status) + ")");
  if (info.version != kDocumentVersion)
    return failure(ExportStatus::wrong_version, name + ": version " + std::to_string(info.version) + " is not a document this conduit wrote");

  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(output.c_str(), "wb"));
  if (!file) return failure(ExportStatus::cannot_write, output.string() + ": " + std::generic_category().message(errno));
  const auto discard = [&](ExportStatus status, std::string reason) {
    file.reset();
    std::error_code ignored;
    std::filesystem::remove(output, ignored);
    return failure(status, std::move(reason));
  };

  std::vector<std::uint8_t> buffer(kRecordBufferBytes);
  for (std::uint16_t index = 1; index < count; ++index) {
    RecordDescriptor record;
    record.handle = handle;
    record.index = index;
    record.buffer_size = static_cast<std::uint16_t>(kRecordBufferBytes);
    record.data = buffer.data();
    if (SyncStatus status = sync.SyncReadRecordByIndex(record); status != kSyncOk)
      return discard(ExportStatus::read_failed, name + ": cannot read record " + std::to_string(index) +
                                                    " (error " + std::to_string(status) + ")");
    const std::size_t got = std::min<std::size_t>(record.size, kRecordBufferBytes);
    if (got < 2) continue;  // too short to say what it is
    const std::uint16_t kind = get_be16(buffer.data());
    bool ok = true;
    if (kind == kTextRecord && got >= kTextHeadBytes) {
      // A text length beyond the record's end is cut to the bytes present.
      const std::size_t length = std::min<std::size_t>(get_be16(buffer.data() + 10), got - kTextHeadBytes);
      ok = std::fwrite(buffer.data() + kTextHeadBytes, 1, length, file.get()) == length &&
           std::fputc('\n', file.get()) != EOF;
    } else if (kind == kTextRecord || kind == kEmptyLineRecord) {
      ok = std::fputc('\n', file.get()) != EOF;
    }
    if (!ok) return discard(ExportStatus::cannot_write, output.string() + ": " + std::generic_category().message(errno));
  }
  if (std::fflush(file.get()) != 0 || std::fclose(file.release()) != 0)
    return discard(ExportStatus::cannot_write, output.string() + ": " + std::generic_category().message(errno));
  return {};
}

}  // namespace vellora
