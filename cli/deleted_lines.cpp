#include "cli/deleted_lines.h"

#include <cstddef>

#include "engine/line_set.h"

namespace cli {

std::vector<std::string_view> DeletedLines(const std::vector<std::string_view>& old_lines,
                                           const RegStuff::EntryList& fresh) {
  constexpr std::string_view kLineEnd = "\r\n";
  mKestrelmark::LineSet fresh_lines(fresh.size());
  for (const std::string_view entry : fresh) {
    std::size_t piece_start = 0;
    for (;;) {
      const std::size_t line_end = entry.find(kLineEnd, piece_start);
      if (line_end == std::string_view::npos) {
        fresh_lines.Insert(entry.substr(piece_start));
        break;
      }
      fresh_lines.Insert(entry.substr(piece_start, line_end - piece_start));
      piece_start = line_end + kLineEnd.size();
    }
  }
  std::vector<std::string_view> deleted;
  for (const std::string_view line : old_lines) {
    if (!line.empty() && !fresh_lines.Contains(line)) deleted.push_back(line);
  }
  return deleted;
}

}  // namespace cli
