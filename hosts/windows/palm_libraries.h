// The calls this host makes into the handheld maker's three desktop
// libraries, declared by hand from their published argument lists. The
// Sync Manager library and the log library export plain C names with the
// C calling convention; the common library exports plain names with the
// Windows (stdcall) convention. Arguments the documentation passes by C++
// reference are pointers at the machine level and are declared as such;
// parameter records are passed as the packed byte buffers of
// packed_records.h. Linked through import libraries made from the .def
// files beside this header.
#pragma once

#include <cstdint>

extern "C" {

// SYNC20.dll
std::int32_t SyncRegisterConduit(std::uint32_t* conduit_handle);
std::int32_t SyncUnRegisterConduit(std::uint32_t conduit_handle);
std::int32_t SyncOpenDB(const char* name, std::int32_t card, std::uint8_t* db_handle, std::uint8_t mode);
std::int32_t SyncCreateDB(std::uint8_t* create_db_record);
std::int32_t SyncCloseDB(std::uint8_t db_handle);
std::int32_t SyncDeleteDB(const char* name, std::int32_t card);
std::int32_t SyncWriteRec(std::uint8_t* record_descriptor);
std::int32_t SyncReadRecordByIndex(std::uint8_t* record_descriptor);
std::int32_t SyncFindDbByName(std::uint8_t* find_request, std::uint8_t* db_info);
std::int32_t SyncReadSingleCardInfo(std::uint8_t* card_info);
std::int32_t SyncGetDBRecordCount(std::uint8_t db_handle, std::uint16_t* count);
std::int32_t SyncReadOpenDbInfo(std::uint8_t* open_db_info_request, std::uint8_t* db_info);
std::uint16_t SyncHostToHHWord(std::uint16_t value);
std::uint32_t SyncHostToHHDWord(std::uint32_t value);
std::uint16_t SyncHHToHostWord(std::uint16_t value);

// HSLOG20.dll: `activity` is the log's activity enumeration (32-bit);
// `timestamp` non-zero prefixes the entry with the time.
std::int32_t LogAddEntry(const char* text, std::int32_t activity, std::int32_t timestamp);

// PalmCmn.dll
void* __stdcall PalmLoadLanguage(const char* file_name, void* instance, std::uint32_t* version);
std::int32_t __stdcall PalmFreeLanguage(void* language, void* instance);

}  // extern "C"
