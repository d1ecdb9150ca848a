#include "engine/line_comparison.h"

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
  for (const std::string_view entry : fresh) {
    if (!entry.empty() && !MatchesSnapshot(snapshot, entry)) reported.push_back(entry);
    host.YieldToEventLoop();
  }
  return reported;
}

std::vector<std::string_view> CompareEntryLists(const std::vector<std::string_view>& old_lines,
                                                const RegStuff::EntryList& fresh,
                                                EngineHost& host) {
  return ReportedEntries(BuildLineSet(old_lines, host), fresh, host);
}

}  // namespace mKestrelmark
