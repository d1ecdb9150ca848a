// Two complete snapshot files compared with each other, without the
// registry: a golden image against a new build's, an install's before and
// after taken on another machine. The same keyed comparison as a check,
// the newer file standing in for the fresh reading.
#pragma once

#include <string>
#include <vector>

#include "engine/branch_selection.h"
#include "engine/host.h"
#include "engine/keyed_comparison.h"
#include "platform/file_system.h"

namespace mKestrelmark {

// The complete file a path names: a path ending in ".snp" (any case) whose
// complete file (CompleteFilePath) exists is the line file's name for it;
// any other path is taken as the complete file itself.
std::string CompleteFileNamed(platform::FileSystem& files, const std::string& path);

enum class FilesCompareOutcome {
  kCompared,
  kUnreadable,         // a file missing, unreadable, damaged or of another version
  kDifferentBranches,  // intact files of two different selections
};

struct FilesCompareResult {
  FilesCompareOutcome outcome = FilesCompareOutcome::kCompared;
  // Names the file (as given) and what is wrong, when not compared.
  std::string message;
  BranchSelection selection;  // the branch both files are of
  std::vector<RegStuff::Change> changes;
};

// old_path and new_path as CompleteFileNamed takes them. The old file is
// read first, so a message names the first file that fails. Files of
// different roots, paths, modes or views are not compared: their rows
// would be every key of both.
FilesCompareResult CompareCompleteFiles(platform::FileSystem& files, EngineHost& host,
                                        const std::string& old_path, const std::string& new_path);

}  // namespace mKestrelmark
