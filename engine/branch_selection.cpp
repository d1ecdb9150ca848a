#include "engine/branch_selection.h"

#include <algorithm>
#include <cctype>

namespace mKestrelmark {
namespace {

bool SameLetters(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
    return std::tolower(x) == std::tolower(y);
  });
}

}  // namespace

const char* HiveName(platform::RootKey root) {
  for (const Hive& hive : kHives) {
    if (hive.key == root) return hive.short_name;
  }
  return "?";
}

std::optional<platform::RootKey> HiveFromName(std::string_view name) {
  for (const Hive& hive : kHives) {
    if (SameLetters(name, hive.short_name) || SameLetters(name, hive.long_name)) return hive.key;
  }
  return std::nullopt;
}

std::string SnapshotPath(platform::FileSystem& files) {
  std::optional<std::string> folder = files.GetEnvironment("TEMP");
  if (!folder || folder->empty()) folder = files.SystemTempFolder();
  return *folder + "\\" + kSnapshotFileName;
}

std::string TrimOneTrailingBackslash(const std::string& text) {
  if (!text.empty() && text.back() == '\\') return text.substr(0, text.size() - 1);
  return text;
}

}  // namespace mKestrelmark
