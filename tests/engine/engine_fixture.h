// A memory registry, file system and recording host wired as the engine's
// context, with a selection of HKCU\Watched and the snapshot in TEMP.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "engine/m_kestrelmark.h"
#include "platform/memory/memory_file_system.h"
#include "platform/memory/memory_registry.h"
#include "tests/engine/recording_host.h"

namespace mKestrelmark::testing {

class EngineFixture : public ::testing::Test {
 protected:
  static constexpr char kTemp[] = "C:\\users\\me\\Temp";
  static constexpr char kSnapshot[] = "C:\\users\\me\\Temp\\registry.snp";
  static constexpr platform::RootKey kRoot = platform::kHkeyCurrentUser;

  EngineFixture() {
    files_.SetEnvironment("TEMP", std::string(kTemp));
    selection_.root = kRoot;
    selection_.start_path = "Watched";
    selection_.include_values = true;
  }

  void Snapshot() { CreateSnapshot(context_, selection_, kSnapshot); }
  CheckResult Compare() { return CompareRegistry(context_, selection_, kSnapshot); }
  std::string SnapshotBytes() const { return files_.FileBytes(kSnapshot).value_or("<none>"); }

  platform::MemoryRegistry registry_;
  platform::MemoryFileSystem files_;
  RecordingHost host_;
  BranchSelection selection_;
  EngineContext context_{registry_, files_, host_};
};

}  // namespace mKestrelmark::testing
