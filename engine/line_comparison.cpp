#include "engine/line_comparison.h"

#include <algorithm>

namespace mKestrelmark {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

bool MatchesSnapshot(const LineSet& snapshot, std::string_view entry) {
  std::size_t piece_start = 0;
  for (;;) {
    const std::size_t line_end = entry.find(kLineEnd, piece_start);
    if (line_end == std::string_view::npos)
      return snapshot.Contains(entry.substr(piece_start));
    if (!snapshot.Contains(entry.substr(piece_start, line_end - piece_start))) return false;
    piece_start = line_end + kLineEnd.size();
  }
}

}  // namespace

LineSet BuildLineSet(const std::vector<std::string_view>& old_lines, EngineHost& host) {
  // Building the set of a large snapshot takes a while too: a yield per
  // line keeps the window answering meanwhile (the host makes yields cheap).
  LineSet snapshot(old_lines.size(), &host);
  for (const std::string_view line : old_lines) {
    snapshot.Insert(line);
    host.YieldToEventLoop();
  }
  return snapshot;
}

std::vector<std::string_view> ReportedEntries(const LineSet& snapshot,
                                              const RegStuff::EntryList& fresh,
                                              EngineHost& host) {
  std::vector<std::string_view> reported;
  for (const std::size_t index : ReportedIndices(snapshot, fresh, host))
    reported.push_back(fresh[index]);
  return reported;
}

std::vector<std::size_t> ReportedIndices(const LineSet& snapshot,
                                         const RegStuff::EntryList& fresh, EngineHost& host,
                                         const LastComparison* last) {
  std::vector<std::size_t> reported;
  const auto look_up = [&](std::size_t begin, std::size_t end) {
    for (std::size_t index = begin; index < end; ++index) {
      const std::string_view entry = fresh[index];
      if (!entry.empty() && !MatchesSnapshot(snapshot, entry)) reported.push_back(index);
      host.YieldToEventLoop();
    }
  };
  std::size_t next = 0;
  if (last != nullptr) {
    for (const RegStuff::CopiedRange& range : last->copied) {
      if (range.begin < next || range.begin + range.count > fresh.size()) break;  // not a walk's
      look_up(next, range.begin);
      auto from = std::lower_bound(last->reported.begin(), last->reported.end(), range.last_begin);
      for (; from != last->reported.end() && *from < range.last_begin + range.count; ++from)
        reported.push_back(*from - range.last_begin + range.begin);
      next = range.begin + range.count;
      host.YieldToEventLoop();
    }
  }
  look_up(next, fresh.size());
  return reported;
}

std::vector<std::string_view> CompareEntryLists(const std::vector<std::string_view>& old_lines,
                                                const RegStuff::EntryList& fresh,
                                                EngineHost& host) {
  return ReportedEntries(BuildLineSet(old_lines, host), fresh, host);
}

}  // namespace mKestrelmark
