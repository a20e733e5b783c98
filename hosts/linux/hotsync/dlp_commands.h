// The DLP commands a sync session sends, as typed requests and responses:
// each request is built from named values, and each response is decoded
// into named values with every offset and length checked against what the
// handheld sent. A decoder that returns false leaves nothing to use: the
// response was not what the command answers.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/linux/hotsync/dlp_codec.h"
#include "platform/sync_manager.h"

namespace vellora::linux_host {

// Open modes on the wire: read 0x80, write 0x40, exclusive 0x20, show
// secret records 0x10.
inline constexpr std::uint8_t kDlpOpenRead = 0x80;
inline constexpr std::uint8_t kDlpOpenWrite = 0x40;
inline constexpr std::uint8_t kDlpOpenExclusive = 0x20;
inline constexpr std::uint8_t kDlpOpenSecret = 0x10;
// The DLP version this desktop speaks, sent with ReadSysInfo.
inline constexpr std::uint16_t kHostDlpMajor = 1;
inline constexpr std::uint16_t kHostDlpMinor = 4;

struct DlpSysInfo {
  std::uint32_t rom_version = 0;  // 0xMMmfsbbb
  std::uint16_t dlp_major = 1;    // 1.0 when the handheld does not say
  std::uint16_t dlp_minor = 0;
  std::uint32_t max_record_bytes = 0;
  bool is_at_least(std::uint16_t major, std::uint16_t minor) const {
    return dlp_major > major || (dlp_major == major && dlp_minor >= minor);
  }
};

struct DlpUserInfo {
  std::uint32_t user_id = 0;
  std::string user_name;  // empty when the handheld has none
};

struct DlpRecord {
  std::uint32_t id = 0;
  std::uint16_t index = 0;
  std::uint16_t size = 0;  // the whole record's, which `data` may fall short of
  std::uint8_t attributes = 0;
  std::uint8_t category = 0;
  std::span<const std::uint8_t> data;  // a view into the response
};

// Requests. Names are sent with their terminating zero; one longer than
// a handheld name (31 bytes) gives an empty request.
std::vector<std::uint8_t> read_sys_info_request();
std::vector<std::uint8_t> read_user_info_request();
std::vector<std::uint8_t> read_storage_info_request(std::uint8_t card);
std::vector<std::uint8_t> open_conduit_request();
std::vector<std::uint8_t> end_of_sync_request(std::uint16_t reason);
std::vector<std::uint8_t> open_db_request(std::uint8_t card, std::uint8_t mode, std::string_view name);
std::vector<std::uint8_t> create_db_request(std::uint32_t creator, std::uint32_t type, std::uint8_t card,
                                            std::uint16_t flags, std::uint16_t version, std::string_view name);
std::vector<std::uint8_t> close_db_request(std::uint8_t handle);
std::vector<std::uint8_t> delete_db_request(std::uint8_t card, std::string_view name);
std::vector<std::uint8_t> read_record_by_index_request(std::uint8_t handle, std::uint16_t index);
// Appends a record (ID 0: the handheld gives it one).
std::vector<std::uint8_t> write_record_request(std::uint8_t handle, std::uint8_t attributes, std::uint8_t category,
                                               std::span<const std::uint8_t> data);
std::vector<std::uint8_t> read_open_db_info_request(std::uint8_t handle);
std::vector<std::uint8_t> find_db_by_name_request(std::uint8_t card, std::string_view name);
std::vector<std::uint8_t> find_db_by_handle_request(std::uint8_t handle);
std::vector<std::uint8_t> add_sync_log_entry_request(std::string_view text);
// RAM databases of card 0 from `start`; `several` asks for more than one
// per answer (DLP 1.2 and later).
std::vector<std::uint8_t> read_db_list_request(std::uint16_t start, bool several);
// Renames the open database, keeping every other field.
std::vector<std::uint8_t> set_db_info_request(std::uint8_t handle, std::string_view name);

// Responses; each takes a response already decoded by decode_dlp_response
// without an error. Cards and databases come as the Sync Manager interface
// describes them; the handheld's DLP dates are not read.
bool read_sys_info_result(const DlpResponse& response, DlpSysInfo& out);
bool read_user_info_result(const DlpResponse& response, DlpUserInfo& out);
// The first card the response describes.
bool read_storage_info_result(const DlpResponse& response, CardInfo& out);
bool db_handle_result(const DlpResponse& response, std::uint8_t& handle);     // OpenDB, CreateDB
bool record_id_result(const DlpResponse& response, std::uint32_t& id);        // WriteRecord
bool record_count_result(const DlpResponse& response, std::uint16_t& count);  // ReadOpenDBInfo
bool find_db_result(const DlpResponse& response, DbInfo& out);
bool read_record_result(const DlpResponse& response, DlpRecord& out);
// The databases of one ReadDBList answer, and the index to ask from next.
bool read_db_list_result(const DlpResponse& response, std::vector<DbInfo>& out, std::uint16_t& next_index,
                         bool& has_more);

}  // namespace vellora::linux_host
