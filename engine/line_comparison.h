// The check's comparison: a fresh reading's entries against the snapshot's
// lines, by text. A second comparison (keyed by key and value) goes beside
// this one.
#pragma once

#include <string_view>
#include <vector>

#include "engine/branch_walk.h"
#include "engine/entry_list.h"
#include "engine/host.h"
#include "engine/line_set.h"

namespace mKestrelmark {

// The set of the snapshot's lines, with a yield per line.
LineSet BuildLineSet(const std::vector<std::string_view>& old_lines, EngineHost& host);
// The fresh entries the set does not hold (the rule of CompareEntryLists).
std::vector<std::string_view> ReportedEntries(const LineSet& snapshot,
                                              const RegStuff::EntryList& fresh,
                                              EngineHost& host);

// What an earlier comparison against the same set found: the indices of
// the entries it reported in last (ascending), and which ranges of fresh
// are copies of last's entries (ascending, as the walk lists them).
struct LastComparison {
  const std::vector<std::size_t>& reported;
  const std::vector<RegStuff::CopiedRange>& copied;
};
// The indices of the fresh entries the set does not hold, by the rule of
// CompareEntryLists. With last, a copied entry is reported as its original
// was, without a look-up: a check that copied most of its reading costs
// what it read anew. Yields once per entry looked up.
std::vector<std::size_t> ReportedIndices(const LineSet& snapshot,
                                         const RegStuff::EntryList& fresh, EngineHost& host,
                                         const LastComparison* last = nullptr);

// The fresh entries that the snapshot does not hold, in fresh-reading order.
// A non-empty entry is reported when no snapshot line anywhere equals it; an
// entry holding CR LF (written as several lines) is reported, whole, when any
// of its CR LF-separated pieces has no equal line. Empty entries are never
// reported; deletions are not seen. Yields once per snapshot line taken in
// and once per fresh entry. The views point into fresh.
std::vector<std::string_view> CompareEntryLists(const std::vector<std::string_view>& old_lines,
                                                const RegStuff::EntryList& fresh,
                                                EngineHost& host);

}  // namespace mKestrelmark
