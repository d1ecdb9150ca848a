#include "engine/offline_compare.h"

#include <optional>

#include "engine/complete_file.h"
#include "engine/error_report.h"
#include "engine/m_kestrelmark.h"
#include "engine/snapshot_file.h"

namespace mKestrelmark {
namespace {

bool EndsWithSnp(const std::string& path) {
  if (path.size() < 4) return false;
  std::string end = path.substr(path.size() - 4);
  for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return end == ".snp";
}

// The reading, or the message naming the file as the user gave it.
std::optional<RegStuff::CompleteReading> Load(platform::FileSystem& files, EngineHost& host,
                                              const std::string& given, std::string& message) {
  const std::string path = CompleteFileNamed(files, given);
  if (!FileExists(files, path)) {
    message = given + " is missing";
    return std::nullopt;
  }
  // A line snapshot named by its own name: the complete file it lacks is
  // what to ask for, not its bytes' failure to decode.
  if (path == given && EndsWithSnp(given)) {
    message = given + ": " + kMessageNoCompleteSnapshot;
    return std::nullopt;
  }
  try {
    return ReadCompleteFile(files, path, host);
  } catch (...) {
    message = path + ": " + DescribeCurrentException();
    return std::nullopt;
  }
}

}  // namespace

std::string CompleteFileNamed(platform::FileSystem& files, const std::string& path) {
  if (EndsWithSnp(path) && FileExists(files, CompleteFilePath(path)))
    return CompleteFilePath(path);
  return path;
}

FilesCompareResult CompareCompleteFiles(platform::FileSystem& files, EngineHost& host,
                                        const std::string& old_path, const std::string& new_path) {
  FilesCompareResult result;
  std::optional<RegStuff::CompleteReading> old_reading = Load(files, host, old_path, result.message);
  std::optional<RegStuff::CompleteReading> new_reading;
  if (old_reading) new_reading = Load(files, host, new_path, result.message);
  if (!new_reading) {
    result.outcome = FilesCompareOutcome::kUnreadable;
    return result;
  }
  if (!(old_reading->selection == new_reading->selection)) {
    result.outcome = FilesCompareOutcome::kDifferentBranches;
    result.message = "The snapshots are of different branches: " + old_path + " is of " +
                     DescribeBranches(old_reading->selection, new_reading->selection,
                                      ", " + new_path + " of ");
    return result;
  }
  result.selection = new_reading->selection;
  result.changes = RegStuff::CompareComplete(*old_reading, *new_reading, host);
  return result;
}

}  // namespace mKestrelmark
