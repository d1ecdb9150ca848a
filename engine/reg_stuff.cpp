#include "engine/reg_stuff.h"

namespace RegStuff {

void ReadBranch(platform::Registry& registry, mKestrelmark::EngineHost& host,
                platform::RootKey root, const std::string& start_path, bool include_values,
                EntryList& entries) {
  entries.clear();
  // The default policy reuses nothing: every key is read.
  WalkBranch(registry, host, root, start_path, include_values, ReusePolicy(), nullptr, nullptr,
             entries);
}

EntryList ReadBranch(platform::Registry& registry, mKestrelmark::EngineHost& host,
                     platform::RootKey root, const std::string& start_path,
                     bool include_values) {
  EntryList entries;
  ReadBranch(registry, host, root, start_path, include_values, entries);
  return entries;
}

void ReadBranchComplete(platform::Registry& registry, mKestrelmark::EngineHost& host,
                        const mKestrelmark::BranchSelection& selection, EntryList& entries,
                        CompleteReading& complete) {
  entries.clear();
  complete = CompleteReading();
  complete.selection = selection;
  complete.taken = registry.CurrentTime();
  WalkBranch(registry, host, selection.root, selection.start_path, selection.include_values,
             ReusePolicy(), nullptr, nullptr, entries, nullptr, &complete.keys,
             mKestrelmark::ReadAccess(selection.view));
}

}  // namespace RegStuff
