// The check's comparison: a fresh reading's entries against the snapshot's
// lines, by text. A second comparison (keyed by key and value) goes beside
// this one.
#pragma once

#include <string_view>
#include <vector>

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
