// Packing and unpacking of the handheld library's parameter records, one
// field at a time at its fixed offset, so no compiler's struct layout ever
// decides a byte.
#include "hosts/windows/packed_records.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/byte_order.h"

namespace vellora::win32 {

namespace {

// Copies at most `field_bytes - 1` bytes of `text` so the field always
// ends in a zero byte; the rest of the field stays zero.
void put_name(std::uint8_t* field, std::size_t field_bytes, std::string_view text) {
  std::memcpy(field, text.data(), std::min(text.size(), field_bytes - 1));
}

// The text up to the first zero byte, or the whole field when it has none.
std::string get_name(const std::uint8_t* field, std::size_t field_bytes) {
  const auto* end = std::find(field, field + field_bytes, std::uint8_t{0});
  return std::string(reinterpret_cast<const char*>(field), static_cast<std::size_t>(end - field));
}

std::string_view array_text(const std::array<char, kDbNameBytes>& name) {
  return {name.data(), static_cast<std::size_t>(std::find(name.begin(), name.end(), '\0') - name.begin())};
}

std::uint8_t name_length(const std::string& name) {
  return static_cast<std::uint8_t>(std::min(name.size(), kCardNameBytes));
}

}  // namespace

RecordDescriptorBytes encode_record_descriptor(const RecordDescriptor& record, Address32 data) {
  RecordDescriptorBytes bytes{};
  bytes[0] = record.handle;
  put_le32(&bytes[1], record.record_id);
  put_le16(&bytes[5], record.index);
  bytes[7] = record.attributes;
  put_le16(&bytes[8], record.category);
  put_le32(&bytes[14], record.size);
  put_le16(&bytes[18], record.buffer_size);
  put_le32(&bytes[20], data);
  return bytes;
}

void decode_record_descriptor(const RecordDescriptorBytes& bytes, RecordDescriptor& record) {
  record.handle = bytes[0];
  record.record_id = get_le32(&bytes[1]);
  record.index = get_le16(&bytes[5]);
  record.attributes = bytes[7];
  record.category = get_le16(&bytes[8]);
  record.size = get_le32(&bytes[14]);
  record.buffer_size = get_le16(&bytes[18]);
}

CreateDbRecordBytes encode_create_db_record(const CreateDbRecord& record) {
  CreateDbRecordBytes bytes{};
  bytes[0] = record.handle;
  put_le32(&bytes[1], record.creator);
  put_le32(&bytes[5], record.flags);
  bytes[9] = record.card;
  put_name(&bytes[10], kDbNameBytes, array_text(record.name));
  put_le32(&bytes[42], record.type);
  put_le16(&bytes[46], record.version);
  return bytes;
}

void decode_create_db_record(const CreateDbRecordBytes& bytes, CreateDbRecord& record) {
  record.handle = bytes[0];
  record.creator = get_le32(&bytes[1]);
  record.flags = get_le32(&bytes[5]);
  record.card = bytes[9];
  record.name = {};
  std::memcpy(record.name.data(), &bytes[10], kDbNameBytes - 1);
  record.type = get_le32(&bytes[42]);
  record.version = get_le16(&bytes[46]);
}

CardInfoBytes encode_card_info_request(std::uint8_t card) {
  CardInfoBytes bytes{};
  bytes[0] = card;
  return bytes;
}

CardInfoBytes encode_card_info(const CardInfo& info) {
  CardInfoBytes bytes{};
  bytes[0] = info.card;
  put_le32(&bytes[7], info.rom_bytes);
  put_le32(&bytes[11], info.ram_bytes);
  put_le32(&bytes[15], info.free_bytes);
  bytes[19] = name_length(info.card_name);
  bytes[20] = name_length(info.manufacturer);
  std::memcpy(&bytes[21], info.card_name.data(), bytes[19]);
  std::memcpy(&bytes[53], info.manufacturer.data(), bytes[20]);
  return bytes;
}

CardInfo decode_card_info(const CardInfoBytes& bytes) {
  CardInfo info;
  info.card = bytes[0];
  info.rom_bytes = get_le32(&bytes[7]);
  info.ram_bytes = get_le32(&bytes[11]);
  info.free_bytes = get_le32(&bytes[15]);
  // A length the library got wrong must not read past the name's field.
  const auto card_name_bytes = std::min<std::size_t>(bytes[19], kCardNameBytes);
  const auto maker_name_bytes = std::min<std::size_t>(bytes[20], kCardNameBytes);
  info.card_name.assign(reinterpret_cast<const char*>(&bytes[21]), card_name_bytes);
  info.manufacturer.assign(reinterpret_cast<const char*>(&bytes[53]), maker_name_bytes);
  return info;
}

DbInfoBytes encode_db_info(const DbInfo& info) {
  DbInfoBytes bytes{};
  put_le16(&bytes[0], info.card);
  put_le16(&bytes[2], info.flags);
  put_le32(&bytes[6], info.type);
  put_name(&bytes[10], kDbNameBytes, info.name);
  put_le32(&bytes[42], info.creator);
  put_le16(&bytes[46], info.version);
  put_le32(&bytes[48], info.modification_number);
  put_le32(&bytes[54], info.created);
  put_le32(&bytes[58], info.modified);
  put_le32(&bytes[62], info.backed_up);
  put_le16(&bytes[70], info.record_count);
  return bytes;
}

DbInfo decode_db_info(const DbInfoBytes& bytes) {
  DbInfo info;
  info.card = static_cast<std::uint8_t>(get_le16(&bytes[0]));
  info.flags = get_le16(&bytes[2]);
  info.type = get_le32(&bytes[6]);
  info.name = get_name(&bytes[10], kDbNameBytes);
  info.creator = get_le32(&bytes[42]);
  info.version = get_le16(&bytes[46]);
  info.modification_number = get_le32(&bytes[48]);
  info.created = get_le32(&bytes[54]);
  info.modified = get_le32(&bytes[58]);
  info.backed_up = get_le32(&bytes[62]);
  info.record_count = get_le16(&bytes[70]);
  return info;
}

FindDbRequestBytes encode_find_db_request(const FindDbRequest& request, Address32 name) {
  FindDbRequestBytes bytes{};
  bytes[0] = request.options;
  put_le32(&bytes[1], request.reserved);
  put_le32(&bytes[5], name);
  return bytes;
}

OpenDbInfoRequestBytes encode_open_db_info_request(DbHandle handle) { return {kDbInfoOptionAttributes, handle}; }

}  // namespace vellora::win32
