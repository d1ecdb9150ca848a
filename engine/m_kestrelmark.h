// Snapshot and comparison: the engine's entry points for the window.
#pragma once

#include <string>

#include "engine/host.h"
#include "platform/file_system.h"
#include "platform/registry.h"

namespace mKestrelmark {

struct EngineContext {
  platform::Registry& registry;
  platform::FileSystem& files;
  EngineHost& host;
};

struct BranchSelection {
  platform::RootKey root = platform::kHkeyLocalMachine;
  std::string start_path;
  bool include_values = true;
  std::string snapshot_path;
};

// TEMP + "\registry.snp"; the system's temporary folder when TEMP is unset.
std::string SnapshotPath(platform::FileSystem& files);
// Root, start path and mode from the window's branch controls.
BranchSelection ReadBranchSelection(const EngineContext& context);

// True when the file's modification time can be read.
bool FileExists(platform::FileSystem& files, const std::string& path);
// Yields once, then deletes the file, read-only or not. Never reports.
void DeleteFileForced(EngineHost& host, platform::FileSystem& files, const std::string& path);

// Reads the branch the window names and writes the snapshot file.
// Reports its own errors ("mKestrelmark.CreateSnapshot").
void CreateSnapshot(const EngineContext& context);
// One check: fresh reading against the snapshot, rows into the results list.
// Reports its own errors ("mKestrelmark.CompareRegistry").
void CompareRegistry(const EngineContext& context);

}  // namespace mKestrelmark
