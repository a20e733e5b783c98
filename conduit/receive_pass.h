// The receive pass: copies the documents the user marked in the handheld's
// catalog into the receive folder, each through the exporter of its
// document type, then writes the catalog back with every mark cleared.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "conduit/session.h"

namespace vellora {

void run_receive_pass(Conduit& conduit);

// The PC file name for a document: its name up to the last '.', then the
// type's extension. None when the name could reach outside the receive
// folder or name nothing: a '/', '\\', ':' or control byte, or a base of
// "", "." or "..".
std::optional<std::string> receive_file_name(std::string_view document_name, std::string_view extension);

}  // namespace vellora
