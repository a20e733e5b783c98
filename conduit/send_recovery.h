// Finishing a sync that was killed after it wrote a batch of databases but
// before it deleted their files: the first step of a send pass, before the
// walk. The journal the killed session left names the files; each whose
// database on the handheld is one of ours, complete and exactly what the
// file converts to now was sent, so it is deleted without a question.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "conduit/send_batch.h"
#include "conduit/send_folder.h"

namespace vellora {

// Reads the journal in `folder`, makes the databases it confirms durable
// and deletes their files through `batch`, then removes the journal. Files
// that fail a check are left to the walk, as any other file; if the flush
// fails, all of them are, and the journal stays. Returns the files it
// finished, which the walk passes over.
std::set<std::string> finish_interrupted(SendFolder& folder, SentBatch& batch, const std::vector<FolderEntry>& entries);

}  // namespace vellora
