// The send pass: every document file in the send folder is imported, laid
// out and written to the handheld as a new document database. A source file
// is deleted only once its database is complete on the handheld; a file
// that could not be sent stays for the next session.
#pragma once

#include "conduit/session.h"

namespace vellora {

inline constexpr std::string_view kSerialSyncFile = "serialsync.txt";

void run_send_pass(Conduit& conduit);

// A file is sent only when the handheld's free memory is at least the
// file's size times kMemoryPerFileByte plus kMemoryPerDocumentBytes.
constexpr double kMemoryPerFileByte = 1.5;
constexpr double kMemoryPerDocumentBytes = 1078.0;
bool fits_on_handheld(std::uint64_t file_bytes, std::uint32_t free_bytes);

}  // namespace vellora
