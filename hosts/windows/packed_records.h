// The parameter records of the handheld library's calls, packed byte for
// byte as that library reads and writes them: host byte order
// (little-endian on every Windows machine the manager runs on), no
// padding, pointers as 32-bit values. The Windows host encodes the typed
// structures of platform/sync_manager.h into these buffers before a call and
// decodes the answers after it. Portable code with no Windows headers, so
// the layouts are tested on every build machine.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/sync_manager.h"

namespace vellora::win32 {

constexpr std::size_t kRecordDescriptorBytes = 28;
constexpr std::size_t kCreateDbRecordBytes = 52;
constexpr std::size_t kCardInfoBytes = 93;
constexpr std::size_t kDbInfoBytes = 114;
constexpr std::size_t kFindDbRequestBytes = 9;
constexpr std::size_t kOpenDbInfoRequestBytes = 2;

constexpr std::size_t kDbNameBytes = 32;
constexpr std::size_t kCardNameBytes = 32;

// The option byte of the find and open-info requests: report the
// database's attributes (type, creator, version and the rest).
constexpr std::uint8_t kDbInfoOptionAttributes = 0x80;

using RecordDescriptorBytes = std::array<std::uint8_t, kRecordDescriptorBytes>;
using CreateDbRecordBytes = std::array<std::uint8_t, kCreateDbRecordBytes>;
using CardInfoBytes = std::array<std::uint8_t, kCardInfoBytes>;
using DbInfoBytes = std::array<std::uint8_t, kDbInfoBytes>;
using FindDbRequestBytes = std::array<std::uint8_t, kFindDbRequestBytes>;
using OpenDbInfoRequestBytes = std::array<std::uint8_t, kOpenDbInfoRequestBytes>;

// Pointers travel as the 32-bit address the caller passes in: on the
// 32-bit Windows host that is the pointer itself; tests pass any value.
using Address32 = std::uint32_t;

// Record descriptor: 0 handle; 1-4 record id; 5-6 index; 7 attributes;
// 8-9 category; 10-13 zero; 14-17 record size; 18-19 buffer size;
// 20-23 data address; 24-27 zero. `record.data` is ignored: the address
// given stands for it.
RecordDescriptorBytes encode_record_descriptor(const RecordDescriptor& record, Address32 data);
// What the library reports back: every field but the data pointer, which
// the caller keeps.
void decode_record_descriptor(const RecordDescriptorBytes& bytes, RecordDescriptor& record);

// Create-database record: 0 handle; 1-4 creator; 5-8 flags; 9 card;
// 10-41 name (zero-terminated: the last byte is always written as 0);
// 42-45 type; 46-47 version; 48-51 zero.
CreateDbRecordBytes encode_create_db_record(const CreateDbRecord& record);
void decode_create_db_record(const CreateDbRecordBytes& bytes, CreateDbRecord& record);

// Card information: 0 card number; 1-2 card version; 3-6 creation date;
// 7-10 ROM size; 11-14 RAM size; 15-18 free RAM; 19 card name length;
// 20 maker name length; 21-52 card name; 53-84 maker name; 85-86 ROM
// database count; 87-88 RAM database count; 89-92 zero. A request carries
// only the card number. Name lengths past their 32-byte fields are cut.
CardInfoBytes encode_card_info_request(std::uint8_t card);
CardInfoBytes encode_card_info(const CardInfo& info);
CardInfo decode_card_info(const CardInfoBytes& bytes);

// Database information: 0-1 card number; 2-3 database flags; 4-5 zero;
// 6-9 type; 10-41 name; 42-45 creator; 46-47 version; 48-51 modification
// number; 52-53 zero; 54-57 created; 58-61 modified; 62-65 backed up;
// 66-69 zero; 70-71 record count; 72-113 zero. Only type, creator and
// version are fixed by the library; the other places are this host's.
DbInfoBytes encode_db_info(const DbInfo& info);
DbInfo decode_db_info(const DbInfoBytes& bytes);

// Find-by-name request: 0 option byte; 1-4 reserved (0); 5-8 the address
// of the zero-terminated name.
FindDbRequestBytes encode_find_db_request(const FindDbRequest& request, Address32 name);

// Open-database information request: 0 option byte (0x80); 1 handle.
OpenDbInfoRequestBytes encode_open_db_info_request(DbHandle handle);

}  // namespace vellora::win32
