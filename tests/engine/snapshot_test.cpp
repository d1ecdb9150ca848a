#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "engine/error_report.h"
#include "platform/runtime_error.h"
#include "engine/m_kestrelmark.h"
#include "tests/engine/engine_fixture.h"

namespace mKestrelmark::testing {
namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;

class SnapshotTest : public EngineFixture {};

TEST_F(SnapshotTest, FileHoldsEachEntryAndCrLf) {
  registry_.PutString(kRoot, "Watched\\A", "s", "abc");
  registry_.PutDword(kRoot, "Watched\\A", "d", 255);
  registry_.PutString(kRoot, "Watched", "nul", "x\0y"s);
  Snapshot();
  EXPECT_EQ(SnapshotBytes(),
            "Watched\\A\r\nWatched\\A  s=abc\r\nWatched\\A  d=&H000000FF\r\n"
            "Watched\r\nWatched  nul=x\0y\r\n"s);
  EXPECT_TRUE(host_.messages.empty());
}

TEST_F(SnapshotTest, ThreeKeysOnlyGiveThreeLinesAndThreeScanningStatuses) {
  selection_.include_values = false;
  registry_.AddKey(kRoot, "Watched\\A\\A1");
  registry_.AddKey(kRoot, "Watched\\B");
  Snapshot();
  EXPECT_EQ(SnapshotBytes(), "Watched\\A\r\nWatched\\A\\A1\r\nWatched\\B\r\n");
  EXPECT_EQ(host_.statuses, (Strings{"Creating Snap Shot..", "Scanning: 0", "Scanning: 1",
                                     "Scanning: 2", "Snapshot Complete.."}));
}

TEST_F(SnapshotTest, YieldsBetweenWrittenLinesAndBeforeTheReplace) {
  selection_.include_values = false;
  std::string written;
  for (int i = 0; i < 6; ++i) {
    registry_.AddKey(kRoot, "Watched\\K" + std::to_string(i));
    written += "Watched\\K" + std::to_string(i) + "\r\n";
  }
  files_.PutFile(kSnapshot, "old\r\n");
  // At each yield: how many statuses had been set, and whether the new
  // file had already replaced the old.
  std::vector<std::pair<std::size_t, bool>> yields;
  host_.on_yield = [&] {
    yields.emplace_back(host_.statuses.size(), files_.FileBytes(kSnapshot) == written);
  };
  Snapshot();
  ASSERT_EQ(SnapshotBytes(), written);
  std::vector<std::size_t> lines;  // where each line's status stands
  for (std::size_t i = 0; i < host_.statuses.size(); ++i)
    if (host_.statuses[i].rfind("Scanning: ", 0) == 0) lines.push_back(i);
  ASSERT_EQ(lines.size(), 6u);
  auto yield_between = [&](std::size_t after, std::size_t before) {
    return std::any_of(yields.begin(), yields.end(), [&](const auto& yield) {
      return yield.first > after && yield.first <= before;
    });
  };
  for (std::size_t i = 1; i < lines.size(); ++i)
    EXPECT_TRUE(yield_between(lines[i - 1], lines[i])) << "no yield between lines " << i - 1
                                                       << " and " << i;
  // And a turn after the last line while the old file still stands.
  EXPECT_TRUE(std::any_of(yields.begin(), yields.end(), [&](const auto& yield) {
    return yield.first > lines.back() && !yield.second;
  }));
}

TEST_F(SnapshotTest, MultiLineValueSpreadsOverTwoLines) {
  registry_.PutString(kRoot, "Watched", "two", "first\r\nsecond");
  Snapshot();
  EXPECT_EQ(SnapshotBytes(), "Watched\r\nWatched  two=first\r\nsecond\r\n");
}

TEST_F(SnapshotTest, MissingStartKeyGivesAZeroByteFile) {
  files_.PutFile(kSnapshot, "old\r\n");
  Snapshot();
  EXPECT_EQ(SnapshotBytes(), "");
  EXPECT_EQ(host_.statuses, (Strings{"Creating Snap Shot..", "Snapshot Complete.."}));
  EXPECT_TRUE(host_.messages.empty());
}

TEST_F(SnapshotTest, SecondSnapshotHoldsOnlyTheSecondReading) {
  registry_.AddKey(kRoot, "Watched\\A");
  Snapshot();
  registry_.RemoveKey(kRoot, "Watched\\A");
  registry_.AddKey(kRoot, "Watched\\B");
  Snapshot();
  EXPECT_EQ(SnapshotBytes(), "Watched\\B\r\nWatched\r\n");
  // Written beside and renamed over: no temporary file stays behind.
  EXPECT_EQ(files_.FilePaths(), (std::set<std::string>{kSnapshot}));
  EXPECT_EQ(files_.replace_count(), 2);
}

TEST_F(SnapshotTest, UncheckedSearchSubkeyReadsTheWholeRoot) {
  // What the window selects with "Search SubKey" unchecked.
  selection_.start_path.clear();
  selection_.include_values = false;
  registry_.AddKey(kRoot, "Watched\\A");
  registry_.AddKey(kRoot, "Elsewhere");
  Snapshot();
  EXPECT_EQ(SnapshotBytes(), "Watched\r\nWatched\\A\r\nElsewhere\r\n");
}

TEST_F(SnapshotTest, FailedCreationIsReportedAndEndsWithItsStatus) {
  registry_.AddKey(kRoot, "Watched");
  files_.FailCreate(std::string(kSnapshot) + ".tmp");
  Snapshot();
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_EQ(host_.messages[0].title, "Application Error");
  EXPECT_EQ(host_.messages[0].icon, platform::MessageIcon::kWarning);
  EXPECT_NE(host_.messages[0].text.find("Path not found\r\nin Kestrelmark2021/08/31."
                                        "mKestrelmark.CreateSnapshot at line "),
            std::string::npos);
  EXPECT_EQ(host_.statuses, (Strings{"Creating Snap Shot..", "Snapshot Complete.."}));
  EXPECT_FALSE(files_.HasFile(kSnapshot));
}

TEST_F(SnapshotTest, FailedWriteKeepsTheOldSnapshotWhole) {
  registry_.AddKey(kRoot, "Watched\\New");
  files_.PutFile(kSnapshot, "Watched\r\n");
  files_.FailWrite(std::string(kSnapshot) + ".tmp");
  Snapshot();
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_EQ(host_.messages[0].text.rfind("Disk full\r\n", 0), 0u);
  EXPECT_EQ(SnapshotBytes(), "Watched\r\n");
  EXPECT_EQ(files_.FilePaths(), (std::set<std::string>{kSnapshot}));
  EXPECT_EQ(host_.statuses.back(), "Snapshot Complete..");
}

TEST_F(SnapshotTest, ReadOnlySnapshotIsReportedAndKept) {
  registry_.AddKey(kRoot, "Watched");
  files_.PutFile(kSnapshot, "old\r\n", {.read_only = true});
  Snapshot();
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_EQ(host_.messages[0].text.rfind("Permission denied\r\n", 0), 0u);
  EXPECT_EQ(SnapshotBytes(), "old\r\n");
  EXPECT_EQ(files_.FilePaths(), (std::set<std::string>{kSnapshot}));
}

TEST_F(SnapshotTest, FailureInsideTheReadingWritesWhatWasGathered) {
  registry_.PutString(kRoot, "Watched\\A", "a", "1");
  registry_.PutString(kRoot, "Watched\\B", "b", "2");
  int yields = 0;
  host_.on_yield = [&] {
    // Names A and B, A's value, then A's two moved items: the walk ends
    // with A's block in the list.
    if (++yields == 5) throw platform::RuntimeError("Out of memory");
  };
  Snapshot();
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_EQ(host_.messages[0].text.rfind("Out of memory\r\n", 0), 0u);
  EXPECT_EQ(SnapshotBytes(), "Watched\\A\r\nWatched\\A  a=1\r\n");
}

TEST_F(SnapshotTest, SnapshotPathFallsBackToTheSystemTempFolder) {
  files_.SetSystemTempFolder("C:\\windows\\temp");
  EXPECT_EQ(SnapshotPath(files_), "C:\\users\\me\\Temp\\registry.snp");
  files_.SetEnvironment("TEMP", std::nullopt);
  EXPECT_EQ(SnapshotPath(files_), "C:\\windows\\temp\\registry.snp");
  files_.SetEnvironment("TEMP", std::string());
  EXPECT_EQ(SnapshotPath(files_), "C:\\windows\\temp\\registry.snp");
}

TEST_F(SnapshotTest, FileExistsAndForcedDeletion) {
  EXPECT_FALSE(FileExists(files_, kSnapshot));
  files_.PutFile(kSnapshot, "", {.read_only = true});
  EXPECT_TRUE(FileExists(files_, kSnapshot));
  DeleteFileForced(host_, files_, kSnapshot);
  EXPECT_FALSE(FileExists(files_, kSnapshot));
  EXPECT_GE(host_.yield_count, 1);  // the window gets a turn, however small the file
  // A missing file: nothing to do, nothing reported.
  DeleteFileForced(host_, files_, kSnapshot);
  EXPECT_TRUE(host_.messages.empty());
}

TEST_F(SnapshotTest, ASnapshotWrittenDuringTheDeletionsYieldSurvives) {
  files_.PutFile(kSnapshot, "old\r\n");
  // The yield runs a snapshot command that was already queued.
  host_.on_yield = [&] { files_.PutFile(kSnapshot, "new\r\n"); };
  DeleteFileForced(host_, files_, kSnapshot);
  EXPECT_EQ(files_.ReadWholeFile(kSnapshot), "new\r\n");

  // With the complete file beside it: both go before the one yield, and a
  // complete snapshot written in it keeps both its files.
  const std::string complete = std::string(kSnapshot) + "x";
  files_.PutFile(complete, "old");
  host_.on_yield = [&] {
    files_.PutFile(kSnapshot, "newer\r\n");
    files_.PutFile(complete, "newer");
  };
  DeleteFileForced(host_, files_, kSnapshot, complete);
  EXPECT_EQ(files_.ReadWholeFile(kSnapshot), "newer\r\n");
  EXPECT_EQ(files_.ReadWholeFile(complete), "newer");
  host_.on_yield = nullptr;
  DeleteFileForced(host_, files_, kSnapshot, complete);
  EXPECT_FALSE(files_.HasFile(kSnapshot) || files_.HasFile(complete));
}

// A large old snapshot is freed a slice at a time after the new one has
// taken its name: the replace itself frees nothing.
class LargeOldSnapshotTest : public EngineFixture {
 protected:
  static constexpr char kAside[] = "C:\\users\\me\\Temp\\registry.snp.old";
  static constexpr std::size_t kOldSize = 10u << 20;  // three slices of 4 MB
  void SetUp() override {
    registry_.AddKey(kRoot, "Watched");
    files_.PutFile(kSnapshot, std::string(kOldSize, 'o'));
  }
};

TEST_F(LargeOldSnapshotTest, IsCutInSlicesOnlyOnceTheNewOneHoldsTheName) {
  std::vector<std::size_t> aside_sizes;
  host_.on_yield = [&] {
    if (!files_.HasFile(kAside)) return;
    EXPECT_EQ(SnapshotBytes(), "Watched\r\n");
    aside_sizes.push_back(files_.FileBytes(kAside)->size());
  };
  Snapshot();
  EXPECT_EQ(SnapshotBytes(), "Watched\r\n");
  EXPECT_EQ(aside_sizes, (std::vector<std::size_t>{6u << 20, 2u << 20, 0}));
  EXPECT_EQ(files_.FilePaths(), (std::set<std::string>{kSnapshot}));
  EXPECT_TRUE(host_.messages.empty());
  EXPECT_EQ(host_.statuses.back(), "Snapshot Complete..");
}

TEST_F(LargeOldSnapshotTest, AFailedReplaceKeepsItWholeAndDropsOnlyTheSecondName) {
  files_.FailReplace(kSnapshot);
  Snapshot();
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_EQ(SnapshotBytes(), std::string(kOldSize, 'o'));
  EXPECT_EQ(files_.truncate_count(), 0);
  EXPECT_EQ(files_.FilePaths(), (std::set<std::string>{kSnapshot}));
}

TEST_F(LargeOldSnapshotTest, WithoutLinksTheReplaceStillWorks) {
  files_.FailLink();
  files_.PutFile(kAside, "left by an earlier run");
  Snapshot();
  EXPECT_EQ(SnapshotBytes(), "Watched\r\n");
  EXPECT_EQ(files_.truncate_count(), 0);
  // The next snapshot's start clears what a close left.
  EXPECT_EQ(files_.FilePaths(), (std::set<std::string>{kSnapshot}));
}

TEST_F(LargeOldSnapshotTest, ACloseWhileItIsCutLeavesOnlyTheNewSnapshot) {
  std::set<std::string> left_at_close;
  host_.on_yield = [&] {
    if (!left_at_close.empty() || !files_.HasFile(kAside)) return;
    RemoveUnfinishedSnapshot(files_, kSnapshot);  // what the window's close does
    left_at_close = files_.FilePaths();
  };
  Snapshot();
  EXPECT_EQ(left_at_close, (std::set<std::string>{kSnapshot}));
  EXPECT_EQ(SnapshotBytes(), "Watched\r\n");
}

TEST_F(LargeOldSnapshotTest, DeletionCutsItAfterItsNameIsGoneAndKeepsANewOne) {
  std::vector<int> cuts_at_yield;  // slices cut when each yield came
  host_.on_yield = [&] {
    EXPECT_FALSE(files_.HasFile(kSnapshot) && SnapshotBytes() != "new\r\n");
    // The first yield runs a snapshot command that was already queued.
    if (cuts_at_yield.empty()) files_.PutFile(kSnapshot, "new\r\n");
    cuts_at_yield.push_back(files_.truncate_count());
  };
  DeleteFileForced(host_, files_, kSnapshot);
  EXPECT_EQ(files_.truncate_count(), 3);
  // A turn before the first slice and between every two.
  for (int cut = 0; cut < files_.truncate_count(); ++cut)
    EXPECT_NE(std::find(cuts_at_yield.begin(), cuts_at_yield.end(), cut), cuts_at_yield.end())
        << "no yield after " << cut << " slices";
  EXPECT_EQ(files_.FilePaths(), (std::set<std::string>{kSnapshot}));
  EXPECT_EQ(SnapshotBytes(), "new\r\n");
}

TEST_F(LargeOldSnapshotTest, AReadOnlyOneIsDeletedWhole) {
  files_.SetReadOnly(kSnapshot, true);
  DeleteFileForced(host_, files_, kSnapshot);
  EXPECT_TRUE(files_.FilePaths().empty());
  EXPECT_GE(host_.yield_count, 1);
}

}  // namespace
}  // namespace mKestrelmark::testing

namespace mKestrelmark::testing {
namespace {

class CompleteSnapshotTest : public EngineFixture {};

// A close while the complete file is written leaves no unfinished file of
// it; the next snapshot then writes both files whole.
TEST_F(CompleteSnapshotTest, ACloseWhileTheCompleteFileIsWrittenLeavesNoPartOfIt) {
  // Large enough to be written in several pieces, with turns between them.
  registry_.PutValue(kRoot, "Watched", "blob", platform::kRegBinary, std::string(3 << 20, 'b'));
  const std::string unfinished = std::string(kSnapshot) + "x.tmp";
  bool closed = false;
  host_.on_yield = [&] {
    if (closed || !files_.HasFile(unfinished)) return;
    RemoveUnfinishedSnapshot(files_, kSnapshot);  // what the window's close does
    closed = true;
    EXPECT_FALSE(files_.HasFile(unfinished));
  };
  CreateSnapshot(context_, selection_, kSnapshot, true);
  EXPECT_TRUE(closed);
  host_.on_yield = nullptr;
  host_.messages.clear();
  CreateSnapshot(context_, selection_, kSnapshot, true);
  EXPECT_TRUE(host_.messages.empty());
  EXPECT_EQ(files_.FilePaths(),
            (std::set<std::string>{kSnapshot, std::string(kSnapshot) + "x"}));
}

}  // namespace
}  // namespace mKestrelmark::testing
