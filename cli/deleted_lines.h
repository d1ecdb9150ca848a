// The other direction of a check: the snapshot lines that a fresh reading
// no longer holds (deleted keys and values, and the old data of changed
// values). The window never shows them; scripts may ask for them.
#pragma once

#include <string_view>
#include <vector>

#include "engine/entry_list.h"

namespace cli {

// Every non-empty snapshot line that equals no line of the fresh reading,
// in snapshot order. A fresh entry holding CR LF stands for the lines it was
// written as, just as the comparison takes it. The views point into
// old_lines' text.
std::vector<std::string_view> DeletedLines(const std::vector<std::string_view>& old_lines,
                                           const RegStuff::EntryList& fresh);

}  // namespace cli
