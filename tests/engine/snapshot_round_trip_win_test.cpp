// The engine on the real registry (under Wine) through the Win32 platform:
// write a branch, snapshot it, change it, compare.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/m_kestrelmark.h"
#include "engine/reg_stuff.h"
#include "platform/win32/file_system_win.h"
#include "platform/win32/registry_win.h"
#include "tests/engine/recording_host.h"
#include "tests/support/scratch_folder_win.h"
#include "tests/support/scratch_key_win.h"
#include "tests/support/test_name.h"

namespace mKestrelmark::testing {
namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;

// Each test gets its own scratch key and its own folder, so the
// snapshot file is never shared with another test or program.
class SnapshotRoundTripTest : public km_test::ScratchKeyTest {
 protected:
  void SetUp() override {
    selection_ = {platform::kHkeyCurrentUser, scratch_.PathOf("S"), true};
  }

  std::string SnapshotBytes() { return files_.ReadWholeFile(snapshot_path_); }
  // The scratch path of S as it appears in entries.
  std::string S(const std::string& rest = "") const {
    return scratch_.PathOf("S") + (rest.empty() ? "" : "\\" + rest);
  }
  static std::string FileOf(const Strings& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
  }

  // The snapshot in a folder of the test's own, deleted with it.
  km_test::ScratchFolder folder_{km_test::CurrentTestName()};
  const std::string snapshot_path_ = folder_.In("registry.snp");
  platform::Win32Registry registry_;
  platform::Win32FileSystem files_;
  RecordingHost host_;
  BranchSelection selection_;
  EngineContext context_{registry_, files_, host_};
};

// Wine enumerates values in case-insensitive name order: the names below
// are chosen so that this order is also the order written here.
void WriteEdgeCases(const km_test::ScratchKey& scratch) {
  scratch.SetRaw("S", "", REG_SZ, "");  // empty default value
  scratch.SetString("S", "a1 abc", "abc");
  scratch.SetString("S", "a2 terminator only", "");
  scratch.SetRaw("S", "a3 zero bytes", REG_SZ, "");
  scratch.SetDword("S", "b1", 1);
  scratch.SetDword("S", "b2", 10);
  scratch.SetDword("S", "b3", 255);
  scratch.SetDword("S", "b4", 3000000000u);
  scratch.SetRaw("S", "c1 expandable", REG_EXPAND_SZ, "%TEMP%\0"s);
  scratch.SetRaw("S", "c2 binary", REG_BINARY, "\x01\x02"s);
  scratch.SetRaw("S", "c3 multi", REG_MULTI_SZ, "a\0b\0\0"s);
  scratch.SetString("S", "c4 lines", "one\r\ntwo");
  scratch.SetString("S\\Big", "v1", "first");
  scratch.SetString("S\\Big", "v2", "second");
  scratch.SetRaw("S\\Big", "v3", REG_BINARY, std::string(2000, 'x'));
  scratch.SetString("S\\Big", "v4", "fourth");
  scratch.SetString("S\\Big\\Below", "", "default with data");
  scratch.SetString("S\\Big\\Below", "w", "under the big value");
}

TEST_F(SnapshotRoundTripTest, EdgeCasesGiveTheirEntriesAndTheFileItsBytes) {
  WriteEdgeCases(scratch_);
  CreateSnapshot(context_, selection_, snapshot_path_);
  EXPECT_TRUE(host_.messages.empty());
  EXPECT_EQ(host_.statuses.back(), "Snapshot Complete..");
  EXPECT_EQ(SnapshotBytes(), FileOf({
                                 S("Big\\Below"),
                                 S("Big\\Below") + "  w=under the big value",
                                 S("Big"),
                                 S("Big") + "  v1=first",
                                 S("Big") + "  v2=second",
                                 S("Big") + "  v4=fourth",
                                 S(),
                                 S() + "  ",
                                 S() + "  a1 abc=abc",
                                 S() + "  a2 terminator only=",
                                 S() + "  a3 zero bytes",
                                 S() + "  b1=&H00000001",
                                 S() + "  b2=&H0000000A",
                                 S() + "  b3=&H000000FF",
                                 S() + "  b4=&HB2D05E00",
                                 S() + "  c4 lines=one\r\ntwo",
                             }));
}

TEST_F(SnapshotRoundTripTest, KeysOnlyOrder) {
  scratch_.CreateKey("S\\A\\A1");
  scratch_.CreateKey("S\\B");
  scratch_.SetString("S\\A", "ignored", "in keys-only mode");
  selection_.include_values = false;
  CreateSnapshot(context_, selection_, snapshot_path_);
  EXPECT_EQ(SnapshotBytes(), FileOf({S("A"), S("A\\A1"), S("B")}));
  EXPECT_EQ(host_.MilestoneStatuses(),
            (Strings{"Creating Snap Shot..", "Snapshot Complete.."}));
  EXPECT_EQ(host_.statuses.size(), 2u + 3u);
}

TEST_F(SnapshotRoundTripTest, MissingStartKeyGivesAZeroByteFile) {
  CreateSnapshot(context_, selection_, snapshot_path_);
  EXPECT_TRUE(FileExists(files_, snapshot_path_));
  EXPECT_EQ(SnapshotBytes(), "");
  EXPECT_TRUE(host_.messages.empty());
}

TEST_F(SnapshotRoundTripTest, NamesOutsideTheOldCodePageRoundTrip) {
  const std::string greek = "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC";  // Ελληνικά
  const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87";  // 中文
  const std::string value_name = "\xE5\x90\x8D\xE5\xAD\x97";  // 名字
  scratch_.SetString("S\\" + greek + "\\" + chinese, value_name, "\xCE\xB1\xCE\xB2");  // αβ
  CreateSnapshot(context_, selection_, snapshot_path_);
  EXPECT_EQ(SnapshotBytes(), FileOf({
                                 S(greek + "\\" + chinese),
                                 S(greek + "\\" + chinese) + "  " + value_name + "=\xCE\xB1\xCE\xB2",
                                 S(greek),
                                 S(),
                             }));
}

std::string Repeat(const std::string& text, int count) {
  std::string repeated;
  for (int i = 0; i < count; ++i) repeated += text;
  return repeated;
}

TEST_F(SnapshotRoundTripTest, LongNamesInOtherScriptsDoNotEndTheirLists) {
  const std::string long_key = Repeat("\xCE\xB1", 200);       // 200 alphas: 400 bytes
  const std::string after_key = "\xCF\x89";                   // omega, enumerated after it
  const std::string long_value = Repeat("\xE4\xB8\xAD", 120);  // 120 Chinese: 360 bytes
  const std::string after_value = "\xE9\xBE\x99";
  scratch_.SetString("S\\" + long_key, "v", "1");
  scratch_.CreateKey("S\\" + after_key);
  scratch_.SetDword("S", long_value, 2);
  scratch_.SetDword("S", after_value, 3);
  CreateSnapshot(context_, selection_, snapshot_path_);
  EXPECT_EQ(SnapshotBytes(), FileOf({
                                 S(long_key),
                                 S(long_key) + "  v=1",
                                 S(after_key),
                                 S(),
                                 S() + "  " + long_value + "=&H00000002",
                                 S() + "  " + after_value + "=&H00000003",
                             }));
}

TEST_F(SnapshotRoundTripTest, ChangesAfterTheSnapshotGiveTheirRows) {
  WriteEdgeCases(scratch_);
  CreateSnapshot(context_, selection_, snapshot_path_);

  scratch_.SetDword("S", "b2", 11);                 // changed
  scratch_.DeleteValue("S", "b3");                  // deleted: no row
  scratch_.SetString("S\\Big", "v5", "added");      // added after the big value
  scratch_.SetString("S\\New", "n1", "one");        // new key with two values
  scratch_.SetString("S\\New", "n2", "two");
  scratch_.DeleteKey("S\\Big\\Below");              // deleted key: no row
  scratch_.SetRaw("S", "c2 binary", REG_BINARY, "\x03"s);  // not monitored
  CompareRegistry(context_, selection_, snapshot_path_);

  EXPECT_TRUE(host_.messages.empty());
  EXPECT_EQ(host_.rows, (Strings{S("Big") + "  v5=added", S("New"), S("New") + "  n1=one",
                                 S("New") + "  n2=two", S() + "  b2=&H0000000B"}));
  EXPECT_EQ(host_.MilestoneStatuses(),
            (Strings{"Creating Snap Shot..", "Snapshot Complete..", "Loading Snapshot file..",
                     "Preparing Comparison Snapshot..", "Comparing Images..",
                     "Comparison Complete!"}));

  // Nothing changes the snapshot: the next check lists the same rows.
  const Strings first = host_.rows;
  CompareRegistry(context_, selection_, snapshot_path_);
  EXPECT_EQ(host_.rows, first);
}

TEST_F(SnapshotRoundTripTest, CheckWithoutSnapshotAborts) {
  host_.rows = {"kept"};
  CompareRegistry(context_, selection_, snapshot_path_);
  EXPECT_EQ(host_.statuses, (Strings{"Comparison Aborted.."}));
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_EQ(host_.messages[0].text, "Please take a snapshot of this key first");
  EXPECT_EQ(host_.rows, (Strings{"kept"}));
}

TEST_F(SnapshotRoundTripTest, ForcedDeletionRemovesAReadOnlySnapshot) {
  CreateSnapshot(context_, selection_, snapshot_path_);
  ASSERT_TRUE(SetFileAttributesA(snapshot_path_.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(files_.RemoveFile(snapshot_path_));
  DeleteFileForced(host_, files_, snapshot_path_);
  EXPECT_FALSE(FileExists(files_, snapshot_path_));
}

// A large old snapshot is freed a slice at a time, through a second name,
// once the new snapshot has taken its name; a deletion frees it the same
// way; nothing of it stays behind.
TEST_F(SnapshotRoundTripTest, ALargeOldSnapshotGoesInSlicesAfterItsNameIsTaken) {
  const std::string aside = snapshot_path_ + ".old";
  auto write_old = [&] {
    auto file = files_.CreateOutputFile(snapshot_path_);
    const std::string megabyte(1 << 20, 'o');
    for (int i = 0; i < 20; ++i) file->Write(megabyte);
    file->Close();
  };
  write_old();
  scratch_.SetString("S", "v", "1");
  std::vector<std::uint64_t> aside_sizes;
  host_.on_yield = [&] {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(aside.c_str(), GetFileExInfoStandard, &data)) return;
    aside_sizes.push_back(data.nFileSizeLow);
    EXPECT_EQ(SnapshotBytes(), FileOf({S(), S() + "  v=1"}));
  };
  CreateSnapshot(context_, selection_, snapshot_path_);
  EXPECT_TRUE(host_.messages.empty());
  EXPECT_EQ(SnapshotBytes(), FileOf({S(), S() + "  v=1"}));
  EXPECT_EQ(aside_sizes,
            (std::vector<std::uint64_t>{16u << 20, 12u << 20, 8u << 20, 4u << 20, 0}));
  EXPECT_EQ(GetFileAttributesA(aside.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA((snapshot_path_ + ".tmp").c_str()), INVALID_FILE_ATTRIBUTES);

  write_old();
  aside_sizes.clear();
  host_.on_yield = [&] {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(aside.c_str(), GetFileExInfoStandard, &data))
      aside_sizes.push_back(data.nFileSizeLow);
    EXPECT_EQ(GetFileAttributesA(snapshot_path_.c_str()), INVALID_FILE_ATTRIBUTES);
  };
  DeleteFileForced(host_, files_, snapshot_path_);
  EXPECT_EQ(aside_sizes.size(), 1u + 5u);
  EXPECT_EQ(GetFileAttributesA(aside.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace mKestrelmark::testing
