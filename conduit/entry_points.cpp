// The six entry points of the conduit library as plain functions: argument
// checks and the fixed answers to the manager's questions, and the session
// behind OpenConduit.
#include "conduit/entry_points.h"

#include <algorithm>
#include <cstring>

namespace vellora {

namespace {

constexpr std::uint32_t kInfoRecordVersion = 1;
constexpr std::uint32_t kInfoRecordNameSize = 80;
constexpr std::uint32_t kInfoValueBytes = 4;
// The class-library version the manager asks for: the conduit was built
// against version 5.0 of it.
constexpr std::uint32_t kMfcVersion = 0x500;

// Zero-fills the buffer and copies as much of the display name as leaves
// room for a terminating zero. A zero-sized buffer is left alone.
void copy_display_name(char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return;
  std::memset(buffer, 0, size);
  std::memcpy(buffer, kConduitName.data(), std::min(size - 1, kConduitName.size()));
}

std::uint32_t field(const void* record, std::size_t index) {
  std::uint32_t value = 0;
  std::memcpy(&value, static_cast<const std::uint8_t*>(record) + 4 * index, sizeof value);
  return value;
}

}  // namespace

std::int32_t OpenConduit(const void* manager_argument, Conduit& conduit) {
  if (manager_argument == nullptr) return -1;
  return run_session(conduit);
}

std::int32_t GetConduitName(char* buffer, std::uint16_t length) {
  copy_display_name(buffer, length);
  return 0;
}

std::uint32_t GetConduitVersion() { return kConduitVersion; }

std::int32_t ConfigureConduit() { return -1; }

std::int32_t GetConduitInfo(std::int32_t info_type, const void* input, void* output, std::uint32_t* output_size) {
  if (output == nullptr) return kErrNoOutputBuffer;
  if (output_size == nullptr) return kErrNoOutputSize;
  switch (info_type) {
    case kInfoDisplayName:
      if (input == nullptr) return kErrNoInputRecord;
      if (field(input, 0) != kInfoRecordVersion || field(input, 1) != kInfoRecordNameSize) return kErrBadInputRecord;
      copy_display_name(static_cast<char*>(output), *output_size);
      return 0;
    case kInfoMfcVersion:
    case kInfoDefaultAction: {
      if (*output_size != kInfoValueBytes) return kErrWrongOutputSize;
      const std::uint32_t value = info_type == kInfoMfcVersion ? kMfcVersion : 0;
      std::memcpy(output, &value, sizeof value);
      return 0;
    }
    default: return kErrUnknownInfoType;
  }
}

std::int32_t CfgConduit(std::int32_t config_type, const void* argument, const std::uint32_t* argument_size) {
  if (argument == nullptr) return kErrNoInputRecord;
  if (argument_size == nullptr) return kErrNoArgumentSize;
  if (*argument_size != kConfigArgumentBytes) return kErrWrongArgumentSize;
  if (config_type != 0) return kErrUnknownConfigType;
  if (field(argument, 0) != 1) return kErrWrongArgumentVersion;
  return -1;
}

}  // namespace vellora
