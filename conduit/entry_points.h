// The six functions the desktop sync manager calls, as plain functions.
// The Windows host exports them from the conduit library with the manager's
// own signatures and passes its one Conduit object to OpenConduit.
#pragma once

#include <cstdint>

#include "conduit/session.h"

namespace vellora {

constexpr std::uint32_t kConduitVersion = 0x101;

// Result codes of GetConduitInfo and CfgConduit.
constexpr std::int32_t kErrUnknownInfoType = 4208;       // 0x1070
constexpr std::int32_t kErrNoOutputBuffer = 4209;        // 0x1071
constexpr std::int32_t kErrWrongOutputSize = 4211;       // 0x1073
constexpr std::int32_t kErrNoInputRecord = 4212;         // 0x1074
constexpr std::int32_t kErrBadInputRecord = 4213;        // 0x1075
constexpr std::int32_t kErrNoOutputSize = 4215;          // 0x1077
constexpr std::int32_t kErrNoArgumentSize = 4216;        // 0x1078
constexpr std::int32_t kErrUnknownConfigType = 4217;     // 0x1079
constexpr std::int32_t kErrWrongArgumentSize = 4218;     // 0x107A
constexpr std::int32_t kErrWrongArgumentVersion = 4219;  // 0x107B

constexpr std::uint32_t kConfigArgumentBytes = 352;

// Info types of GetConduitInfo.
constexpr std::int32_t kInfoDisplayName = 0;
constexpr std::int32_t kInfoMfcVersion = 1;
constexpr std::int32_t kInfoDefaultAction = 2;

// One sync session. `manager_argument` is the manager's first argument; a
// null one returns -1 before anything happens. Otherwise the session's
// result: 0, or the Sync Manager's error code if registration failed.
std::int32_t OpenConduit(const void* manager_argument, Conduit& conduit);

// Zero-fills `length` bytes of `buffer` and copies at most length - 1
// characters of "VelloraConduit" into it. Always 0.
std::int32_t GetConduitName(char* buffer, std::uint16_t length);

std::uint32_t GetConduitVersion();

// No configuration dialog exists: always -1.
std::int32_t ConfigureConduit();

// `input` points at a record whose first two 32-bit fields must be 1 and 80
// for the display name; `output` receives the name or a 32-bit value.
std::int32_t GetConduitInfo(std::int32_t info_type, const void* input, void* output, std::uint32_t* output_size);

// Checks the argument record (352 bytes, type 0, first field 1) and
// answers -1: there is nothing to configure.
std::int32_t CfgConduit(std::int32_t config_type, const void* argument, const std::uint32_t* argument_size);

}  // namespace vellora
