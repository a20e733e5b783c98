// Arbitrary staging files -> staging reader -> packer -> a handheld that
// accepts everything, in memory. The first input byte splits the rest into
// the sizes file and the data file.
#include <cstdint>

#include "conduit/write_document.h"
#include "fuzz/fuzz_support.h"

namespace {

// Accepts every write; checks only that the writer's calls stay in order.
class AcceptingHandheld : public vellora::SyncManager {
 public:
  using Status = vellora::SyncStatus;
  bool open = false;
  Status SyncRegisterConduit(vellora::ConduitHandle&) override { return 0; }
  Status SyncUnRegisterConduit(vellora::ConduitHandle) override { return 0; }
  Status SyncOpenDB(std::string_view, std::uint8_t, vellora::DbHandle&, std::uint8_t) override { return 1; }
  Status SyncCreateDB(vellora::CreateDbRecord& record) override {
    if (open) std::abort();
    open = true;
    record.handle = 1;
    return 0;
  }
  Status SyncCloseDB(vellora::DbHandle) override {
    open = false;
    return 0;
  }
  Status SyncDeleteDB(std::string_view, std::uint8_t) override { return 0; }
  Status SyncWriteRec(vellora::RecordDescriptor& record) override {
    if (!open || record.size > 0xFFFF) std::abort();
    volatile std::uint8_t touch = record.size ? record.data[record.size - 1] : 0;
    (void)touch;
    return 0;
  }
  Status SyncReadRecordByIndex(vellora::RecordDescriptor&) override { return 1; }
  Status SyncFindDbByName(const vellora::FindDbRequest&, vellora::DbInfo&) override { return 1; }
  Status SyncReadSingleCardInfo(vellora::CardInfo&) override { return 0; }
  Status SyncGetDBRecordCount(vellora::DbHandle, std::uint16_t&) override { return 1; }
  Status SyncReadOpenDbInfo(vellora::DbHandle, vellora::DbInfo&) override { return 1; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellora;
  if (size == 0) return 0;
  const std::size_t sizes_bytes = std::min<std::size_t>(data[0], size - 1);
  StagingBytes staged;
  staged.sizes.assign(data + 1, data + 1 + sizes_bytes);
  staged.data.assign(data + 1 + sizes_bytes, data + size);

  PackedDocument document;
  if (!pack_document(staged, document)) return 0;
  fuzz::check_packed(document);
  AcceptingHandheld handheld;
  write_document(document, handheld);
  if (handheld.open) std::abort();
  return 0;
}
