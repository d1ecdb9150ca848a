// Monitoring on the real registry (under Wine): what the shortcuts of the
// cached check build on (key times, the change watch), the cached check
// against full checks, and keys whose paths are longer than 260 characters.
#include <windows.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/m_kestrelmark.h"
#include "engine/monitor_cache.h"
#include "engine/reg_stuff.h"
#include "platform/win32/file_system_win.h"
#include "platform/win32/registry_win.h"
#include "tests/engine/recording_host.h"
#include "tests/support/scratch_folder_win.h"
#include "tests/support/scratch_key_win.h"
#include "tests/support/test_name.h"

namespace mKestrelmark::testing {
namespace {

using Strings = std::vector<std::string>;
using platform::kHkeyCurrentUser;

class MonitorWinTest : public km_test::ScratchKeyTest {
 protected:
  void SetUp() override {
    selection_ = {kHkeyCurrentUser, scratch_.PathOf("S"), true};
  }
  void Check() { CompareRegistry(cached_, selection_, snapshot_path_); }
  Strings FullRows() {
    RecordingHost full;
    CompareRegistry(EngineContext{registry_, files_, full}, selection_, snapshot_path_);
    return full.rows;
  }
  platform::KeyTime TimeOf(const std::string& relative) {
    platform::KeyHandle key = 0;
    EXPECT_EQ(registry_.OpenKey(kHkeyCurrentUser, scratch_.PathOf(relative),
                                platform::kKeyRead, &key),
              0);
    platform::KeyTime time = 0;
    EXPECT_EQ(registry_.QueryKeyTime(key, &time), 0);
    registry_.CloseKey(key);
    return time;
  }

  // The snapshot in a folder of the test's own, deleted with it.
  km_test::ScratchFolder folder_{km_test::CurrentTestName()};
  const std::string snapshot_path_ = folder_.In("registry.snp");
  platform::Win32Registry registry_;
  platform::Win32FileSystem files_;
  RecordingHost host_;
  BranchSelection selection_;
  MonitorCache cache_;
  EngineContext cached_{registry_, files_, host_, &cache_};
};

// What the cached walk relies on: a key's time moves with its own values
// and its direct subkeys, not with changes deeper down.
TEST_F(MonitorWinTest, KeyTimesMoveWithTheKeysOwnChangesOnly) {
  scratch_.SetString("S\\A\\B", "v", "1");
  const platform::KeyTime s = TimeOf("S"), a = TimeOf("S\\A"), b = TimeOf("S\\A\\B");
  Sleep(20);
  scratch_.SetString("S\\A\\B", "v", "2");
  EXPECT_NE(TimeOf("S\\A\\B"), b);
  EXPECT_EQ(TimeOf("S\\A"), a);
  EXPECT_EQ(TimeOf("S"), s);
  const platform::KeyTime b2 = TimeOf("S\\A\\B");
  Sleep(20);
  ASSERT_TRUE(scratch_.DeleteValue("S\\A\\B", "v"));
  EXPECT_NE(TimeOf("S\\A\\B"), b2);
  Sleep(20);
  scratch_.CreateKey("S\\A\\C");
  EXPECT_NE(TimeOf("S\\A"), a);
  EXPECT_EQ(TimeOf("S"), s);
  // The time the parent's enumeration gives is the key's own.
  platform::KeyHandle key = 0;
  ASSERT_EQ(registry_.OpenKey(kHkeyCurrentUser, scratch_.PathOf("S\\A"), platform::kKeyRead, &key),
            0);
  char name[800];
  platform::KeyTime enumerated = 0;
  ASSERT_EQ(registry_.EnumKeyWithTime(key, 0, name, sizeof name, &enumerated), 0);
  registry_.CloseKey(key);
  EXPECT_EQ(enumerated, TimeOf(std::string("S\\A\\") + name));
}

TEST_F(MonitorWinTest, WatchIsSignalledFromBelowAndAnswersForItsDeletedKey) {
  scratch_.CreateKey("S\\A\\B\\C");
  std::unique_ptr<platform::BranchWatch> watch;
  ASSERT_EQ(registry_.WatchBranch(kHkeyCurrentUser, scratch_.PathOf("S"), &watch), 0);
  EXPECT_FALSE(watch->Signalled());
  scratch_.SetDword("S\\A\\B\\C", "deep", 1);
  Sleep(50);
  EXPECT_TRUE(watch->Signalled());
  ASSERT_EQ(watch->Arm(), 0);
  EXPECT_FALSE(watch->Signalled());
  ASSERT_TRUE(scratch_.DeleteKey("S\\A\\B\\C"));
  Sleep(50);
  EXPECT_TRUE(watch->Signalled());
  ASSERT_EQ(watch->Arm(), 0);
  EXPECT_EQ(watch->Check(), 0);
  ASSERT_TRUE(scratch_.DeleteKey("S"));
  EXPECT_EQ(watch->Check(), platform::kErrorKeyDeleted);
  scratch_.CreateKey("S");
  EXPECT_NE(watch->Check(), 0);  // the old handle never comes back
}

// A key's own watch fires exactly when its time moves: for its values and
// its list of subkeys, never for what changes inside a subkey.
TEST_F(MonitorWinTest, KeyWatchIsSignalledByTheKeysOwnChangesOnly) {
  scratch_.CreateKey("S\\A\\B");
  std::unique_ptr<platform::BranchWatch> watch;
  ASSERT_EQ(registry_.WatchKey(kHkeyCurrentUser, scratch_.PathOf("S"), &watch), 0);
  scratch_.SetDword("S\\A", "inside", 1);
  scratch_.CreateKey("S\\A\\C");
  ASSERT_TRUE(scratch_.DeleteKey("S\\A\\B"));
  Sleep(50);
  EXPECT_FALSE(watch->Signalled());
  scratch_.SetDword("S", "own", 1);
  Sleep(50);
  EXPECT_TRUE(watch->Signalled());
  ASSERT_EQ(watch->Arm(), 0);
  scratch_.CreateKey("S\\D");
  Sleep(50);
  EXPECT_TRUE(watch->Signalled());
  ASSERT_EQ(watch->Arm(), 0);
  ASSERT_TRUE(scratch_.DeleteKey("S\\A"));
  Sleep(50);
  EXPECT_TRUE(watch->Signalled());
}

TEST_F(MonitorWinTest, QuietCheckThenAChangeByAnotherProgram) {
  scratch_.SetString("S\\A", "v", "1");
  CreateSnapshot(cached_, selection_, snapshot_path_);
  Check();
  Check();
  EXPECT_EQ(cache_.last_check(), CheckKind::kQuiet);
  EXPECT_TRUE(host_.rows.empty());
  const std::string command =
      "reg add \"HKCU\\" + scratch_.PathOf("S\\A") + "\" /v added /t REG_SZ /d new /f";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string line = command;
  ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process));
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  Sleep(50);
  Check();
  EXPECT_EQ(host_.rows, Strings{scratch_.PathOf("S\\A") + "  added=new"});
}

TEST_F(MonitorWinTest, ChangeMadeDuringAReadingShowsAtTheNextCheck) {
  for (int i = 0; i < 20; ++i) scratch_.SetDword("S\\K" + std::to_string(i), "v", i);
  CreateSnapshot(cached_, selection_, snapshot_path_);
  Check();
  int yields = 0;
  host_.on_yield = [&] {
    if (++yields == 30) scratch_.SetDword("S\\K0", "during", 1);
  };
  scratch_.SetDword("S\\K19", "v", 190);  // a check must walk
  Check();
  host_.on_yield = nullptr;
  Check();
  EXPECT_EQ(host_.rows, FullRows());
  EXPECT_NE(std::find(host_.rows.begin(), host_.rows.end(),
                      scratch_.PathOf("S\\K0") + "  during=&H00000001"),
            host_.rows.end());
}

TEST_F(MonitorWinTest, WatchedKeyDeletedAndCreatedAgainAndAMissingStartKey) {
  CreateSnapshot(cached_, selection_, snapshot_path_);  // of a key that does not exist yet: zero bytes
  Check();
  EXPECT_TRUE(host_.rows.empty());
  scratch_.SetString("S", "v", "1");
  Check();
  EXPECT_EQ(host_.rows, (Strings{scratch_.PathOf("S"), scratch_.PathOf("S") + "  v=1"}));
  Check();
  EXPECT_EQ(cache_.last_check(), CheckKind::kQuiet);
  ASSERT_TRUE(scratch_.DeleteKey("S"));
  Check();
  EXPECT_TRUE(host_.rows.empty());
  scratch_.SetString("S", "w", "2");
  Check();
  EXPECT_EQ(host_.rows, (Strings{scratch_.PathOf("S"), scratch_.PathOf("S") + "  w=2"}));
  Check();
  EXPECT_EQ(cache_.last_check(), CheckKind::kQuiet);
}

TEST_F(MonitorWinTest, LockedSnapshotIsReportedOnceAndTheRowsStay) {
  scratch_.SetString("S", "v", "1");
  CreateSnapshot(cached_, selection_, snapshot_path_);
  scratch_.SetString("S", "w", "2");
  Check();
  ASSERT_EQ(host_.rows.size(), 1u);
  // Another snapshot, then held by another program without sharing.
  CreateSnapshot(EngineContext{registry_, files_, host_}, selection_, snapshot_path_);
  HANDLE held = CreateFileA(snapshot_path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  scratch_.SetString("S", "x", "3");
  host_.messages.clear();
  Check();
  Check();
  Check();
  CloseHandle(held);
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_EQ(host_.messages[0].title, "Application Error");
  EXPECT_EQ(host_.statuses.back(), "Comparison Aborted..");
  EXPECT_EQ(host_.rows.size(), 1u);
  Check();
  EXPECT_EQ(host_.rows, (Strings{scratch_.PathOf("S") + "  x=3"}));
}

// The cached check against full checks, on the real registry.
TEST_F(MonitorWinTest, CachedChecksEqualFullChecks) {
  std::mt19937 random(20261208);
  static const char* const kKeys[] = {"S", "S\\A", "S\\A\\B", "S\\C", "S\\C\\D", "S\\E"};
  static const char* const kNames[] = {"", "x", "y", "z"};
  CreateSnapshot(cached_, selection_, snapshot_path_);
  int kinds[4] = {};
  for (int step = 0; step < 300; ++step) {
    const std::string key = kKeys[random() % std::size(kKeys)];
    const std::string name = kNames[random() % std::size(kNames)];
    switch (random() % 8) {
      case 0: case 1: scratch_.SetString(key, name, std::to_string(random() % 3)); break;
      case 2: scratch_.SetDword(key, name, random() % 3); break;
      case 3: scratch_.DeleteValue(key, name); break;
      case 4: scratch_.CreateKey(key); break;
      case 5: if (key != "S") scratch_.DeleteKey(key); break;
      case 6: selection_.include_values = !selection_.include_values; break;
      case 7: if (random() % 4 == 0) CreateSnapshot(cached_, selection_, snapshot_path_); break;
    }
    if (random() % 2) {
      Check();
      ++kinds[static_cast<int>(cache_.last_check())];
      ASSERT_EQ(host_.rows, FullRows()) << "step " << step;
    }
  }
  EXPECT_GT(kinds[static_cast<int>(CheckKind::kQuiet)] +
                kinds[static_cast<int>(CheckKind::kIncremental)],
            0);
}

// Keys below a path of more than 260 characters are read like any other.
TEST_F(MonitorWinTest, KeysBeyondTwoHundredSixtyCharactersOfPath) {
  // 100 levels deep: the deepest path is over 500 characters.
  std::string relative = "S";
  for (int level = 0; level < 100; ++level) relative += "\\Level" + std::to_string(level % 10);
  platform::KeyHandle key = 0;
  ASSERT_EQ(registry_.CreateKey(kHkeyCurrentUser, scratch_.PathOf(relative), platform::kKeyWrite,
                                &key),
            0);
  registry_.CloseKey(key);
  ASSERT_GT(scratch_.PathOf(relative).size(), 500u);
  std::string path = scratch_.PathOf("S");
  RecordingHost quiet;
  const RegStuff::EntryList keys_only =
      RegStuff::ReadBranch(registry_, quiet, kHkeyCurrentUser, path, false);
  EXPECT_EQ(keys_only.size(), 100u);
  EXPECT_EQ(keys_only[99], scratch_.PathOf(relative));

  // Two keys with 255-character names, a value in the deeper one.
  const std::string long_name(255, 'n');
  const std::string deep = scratch_.PathOf("S\\" + long_name + "\\" + long_name);
  ASSERT_EQ(registry_.CreateKey(kHkeyCurrentUser, deep, platform::kKeyWrite, &key), 0);
  ASSERT_EQ(registry_.SetValue(key, "v", platform::kRegSz, "1", 2), 0);
  registry_.CloseKey(key);
  const RegStuff::EntryList with_values =
      RegStuff::ReadBranch(registry_, quiet, kHkeyCurrentUser, path, true);
  EXPECT_EQ(with_values.size(), 100u + 2u + 1u + 1u);
  EXPECT_NE(std::find(with_values.begin(), with_values.end(), deep + "  v=1"), with_values.end());

  // The long path as the start path: the snapshot holds the deep key.
  selection_.start_path = scratch_.PathOf("S\\" + long_name);
  CreateSnapshot(EngineContext{registry_, files_, host_}, selection_, snapshot_path_);
  EXPECT_EQ(files_.ReadWholeFile(snapshot_path_),
            deep + "\r\n" + deep + "  v=1\r\n" + selection_.start_path + "\r\n");
}

}  // namespace
}  // namespace mKestrelmark::testing
