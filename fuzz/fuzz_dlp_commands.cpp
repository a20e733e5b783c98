// A handheld's answer to one of the session's DLP commands (the first
// byte chooses which), decoded into named values: nothing outside the
// answer is read, and what is decoded lies inside it.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "hosts/linux/hotsync/dlp_commands.h"

namespace {

using vellora::linux_host::DlpFunction;

constexpr DlpFunction kFunctions[] = {
    DlpFunction::read_sys_info, DlpFunction::read_user_info, DlpFunction::read_storage_info,
    DlpFunction::read_db_list,  DlpFunction::find_db,        DlpFunction::read_record,
    DlpFunction::open_db,       DlpFunction::write_record,   DlpFunction::read_open_db_info,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellora;
  using namespace vellora::linux_host;
  if (size == 0) return 0;
  const DlpFunction function = kFunctions[data[0] % std::size(kFunctions)];
  const std::span<const std::uint8_t> bytes(data + 1, size - 1);
  DlpResponse response;
  if (decode_dlp_response(bytes, function, response) != DlpDecodeStatus::ok) return 0;
  switch (function) {
    case DlpFunction::read_sys_info: {
      DlpSysInfo info;
      read_sys_info_result(response, info);
      break;
    }
    case DlpFunction::read_user_info: {
      DlpUserInfo info;
      if (read_user_info_result(response, info) && info.user_name.size() > 0xFF) std::abort();
      break;
    }
    case DlpFunction::read_storage_info: {
      CardInfo info;
      read_storage_info_result(response, info);
      break;
    }
    case DlpFunction::read_db_list: {
      std::vector<DbInfo> list;
      std::uint16_t next = 0;
      bool more = false;
      if (read_db_list_result(response, list, next, more) && list.size() > 0xFF) std::abort();
      break;
    }
    case DlpFunction::find_db: {
      DbInfo info;
      find_db_result(response, info);
      break;
    }
    case DlpFunction::read_record: {
      DlpRecord record;
      if (read_record_result(response, record) &&
          (record.data.data() < bytes.data() || record.data.data() + record.data.size() > bytes.data() + bytes.size()))
        std::abort();
      break;
    }
    default: {
      std::uint8_t handle = 0;
      std::uint32_t id = 0;
      std::uint16_t count = 0;
      db_handle_result(response, handle);
      record_id_result(response, id);
      record_count_result(response, count);
      break;
    }
  }
  return 0;
}
