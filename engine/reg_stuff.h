// The plain reading: one branch of the registry (root, start path, mode)
// becomes the entry list, every key read. The order of the list and where
// the window gets its turns are the walk's (engine/branch_walk.h).
#pragma once

#include <string>

#include "engine/branch_selection.h"
#include "engine/branch_walk.h"
#include "engine/complete_reading.h"
#include "engine/entry_list.h"
#include "engine/host.h"
#include "platform/registry.h"

namespace RegStuff {

// Empties entries, then reads the branch into it. Reports nothing. When a
// run-time error (out of memory, an error thrown by the host) ends the walk,
// it propagates, and entries keeps what was appended so far.
void ReadBranch(platform::Registry& registry, mKestrelmark::EngineHost& host,
                platform::RootKey root, const std::string& start_path, bool include_values,
                EntryList& entries);
EntryList ReadBranch(platform::Registry& registry, mKestrelmark::EngineHost& host,
                     platform::RootKey root, const std::string& start_path,
                     bool include_values);

// One walk, both readings: entries exactly as ReadBranch gives them, and
// the complete reading of the same keys in the same order (every value of
// every type with its raw bytes, each key's time, unreadable keys kept).
// Both are emptied first; on an error both keep what was read so far.
void ReadBranchComplete(platform::Registry& registry, mKestrelmark::EngineHost& host,
                        const mKestrelmark::BranchSelection& selection, EntryList& entries,
                        CompleteReading& complete);

}  // namespace RegStuff
