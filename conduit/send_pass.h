// The send pass: every document file in the send folder is imported, laid
// out and written to the handheld as a new document database. A source file
// is deleted only once its database is complete on the handheld; a file
// that could not be sent stays for the next session.
#pragma once

#include "conduit/session.h"

namespace vellora {

inline constexpr std::string_view kSerialSyncFile = "serialsync.txt";

void run_send_pass(Conduit& conduit);

// The handheld's free memory must exceed one and a half times the file's
// size plus 1078 bytes.
bool fits_on_handheld(std::uint64_t file_bytes, std::uint32_t free_bytes);

}  // namespace vellora
