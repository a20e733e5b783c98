// Private folders and new files in folders the user owns. The core writes
// scratch files into the send folder, where anything may already sit under
// a fixed name: a link to a file elsewhere, a FIFO, the user's own file. So
// scratch files go into a folder made fresh for them, under a name nobody
// else had (private to this user on POSIX), and are created there
// exclusively, never through a link. What a killed process left of such
// folders is removed at the next start.
#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

#include "base/files.h"

namespace vellora {

// Makes the folder `parent / (prefix + six letters or digits)`, failing
// rather than taking one that exists; mode 0700 on POSIX. Returns its
// path, or an empty path with `error` set.
std::filesystem::path make_private_folder(const std::filesystem::path& parent, std::string_view prefix,
                                          std::error_code& error);

// New files in such a folder are made with create_new_file (base/files.h).

// Removes from `parent` the folders named `prefix` and six letters or
// digits that are folders of this user (not links), with the files in
// them. One that holds a folder is left as it is.
void remove_private_folders(const std::filesystem::path& parent, std::string_view prefix);

// Removes `path` only when it is an empty regular file of this user, not a
// link: what an older version left behind. True when it was removed.
bool remove_if_empty_file(const std::filesystem::path& path);

}  // namespace vellora
