// A memory registry, file system and recording host wired as the engine's
// context, with the window's branch controls pointing at HKCU\Watched.
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
    host_.controls.selected_option = 1;  // HKCU
    host_.controls.search_subkey = true;
    host_.controls.subkey_text = "Watched";
    host_.controls.include_values = true;
  }

  void Snapshot() { CreateSnapshot(context_); }
  void Compare() { CompareRegistry(context_); }
  std::string SnapshotBytes() const { return files_.FileBytes(kSnapshot).value_or("<none>"); }

  platform::MemoryRegistry registry_;
  platform::MemoryFileSystem files_;
  RecordingHost host_;
  EngineContext context_{registry_, files_, host_};
};

}  // namespace mKestrelmark::testing
