#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <string_view>
#include <vector>

#include "engine/line_comparison.h"
#include "engine/line_set.h"
#include "engine/m_kestrelmark.h"
#include "tests/engine/engine_fixture.h"

namespace mKestrelmark::testing {
namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;

struct SplitCase {
  std::string text;
  std::vector<std::string_view> lines;
};

class SplitSnapshotLinesTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitSnapshotLinesTest, SplitsAtEveryCrLf) {
  EXPECT_EQ(SplitSnapshotLines(GetParam().text), GetParam().lines);
  RecordingHost host;
  EXPECT_EQ(SplitSnapshotLines(GetParam().text, &host), GetParam().lines);
  // A turn for the window with every line cut off.
  EXPECT_GE(host.yield_count, std::max<int>(0, static_cast<int>(GetParam().lines.size()) - 1));
}

INSTANTIATE_TEST_SUITE_P(
    Files, SplitSnapshotLinesTest,
    ::testing::Values(SplitCase{"", {}}, SplitCase{"\r\n", {"", ""}},
                      SplitCase{"a\r\nb\r\n", {"a", "b", ""}}, SplitCase{"a\r\nb", {"a", "b"}},
                      SplitCase{"a\r\n\r\nb\r\n", {"a", "", "b", ""}},
                      SplitCase{"a\rb\nc\n\r", {"a\rb\nc\n\r"}},
                      SplitCase{"a\r\r\n", {"a\r", ""}}, SplitCase{"a\r", {"a\r"}},
                      SplitCase{"\r\n\r", {"", "\r"}}, SplitCase{"\n\r\n", {"\n", ""}}));

// CompareEntryLists on texts, as CompareRegistry gives them.
class CompareEntryListsTest : public ::testing::Test {
 protected:
  Strings Compare(const std::string& snapshot_text, const Strings& fresh_entries) {
    RegStuff::EntryList fresh;
    for (const std::string& entry : fresh_entries) fresh.push_back(entry);
    const std::vector<std::string_view> old_lines = SplitSnapshotLines(snapshot_text);
    const std::vector<std::string_view> reported = CompareEntryLists(old_lines, fresh, host_);
    return Strings(reported.begin(), reported.end());
  }
  static std::string FileOf(const Strings& entries) {
    std::string text;
    for (const std::string& entry : entries) text += entry + "\r\n";
    return text;
  }
  static Strings Keys(const std::string& prefix, int count) {
    Strings keys;
    for (int i = 0; i < count; ++i) keys.push_back(prefix + std::to_string(i));
    return keys;
  }

  RecordingHost host_;
};

TEST_F(CompareEntryListsTest, FiftyKeysInsertedInTheMiddleGiveExactlyThoseRows) {
  const Strings before = Keys("S\\K", 200);
  const Strings inserted = Keys("S\\New", 50);
  Strings after(before.begin(), before.begin() + 100);
  after.insert(after.end(), inserted.begin(), inserted.end());
  after.insert(after.end(), before.begin() + 100, before.end());
  EXPECT_EQ(Compare(FileOf(before), after), inserted);
}

TEST_F(CompareEntryListsTest, DeletionsAreNotReportedAndDoNotDisplaceLaterEntries) {
  const Strings before = Keys("S\\K", 200);
  Strings after(before.begin(), before.begin() + 50);
  after.insert(after.end(), before.begin() + 120, before.end());
  EXPECT_EQ(Compare(FileOf(before), after), Strings{});
}

TEST_F(CompareEntryListsTest, ReportsChangedAndAddedInFreshOrder) {
  const Strings before = {"K", "K  a=1", "K  b=2", "L"};
  const Strings after = {"M", "K", "K  a=1", "K  b=3", "L", "L  c=4"};
  EXPECT_EQ(Compare(FileOf(before), after), (Strings{"M", "K  b=3", "L  c=4"}));
}

TEST_F(CompareEntryListsTest, MatchesAnywhereInTheSnapshot) {
  EXPECT_EQ(Compare(FileOf({"Z", "Y", "X"}), {"X", "Y", "Z"}), Strings{});
}

TEST_F(CompareEntryListsTest, ComparisonIsExactAndCaseSensitive) {
  EXPECT_EQ(Compare(FileOf({"K  a=x"}), {"k  a=x", "K  a=x ", "K  a=X", "K  a=x"}),
            (Strings{"k  a=x", "K  a=x ", "K  a=X"}));
}

TEST_F(CompareEntryListsTest, UnchangedMultiLineValueGivesNoRow) {
  const Strings entries = {"K", "K  text=one\r\ntwo", "K  after=1"};
  EXPECT_EQ(Compare(FileOf(entries), entries), Strings{});
}

TEST_F(CompareEntryListsTest, ChangedMultiLineValueIsReportedWhole) {
  const Strings before = {"K", "K  text=one\r\ntwo"};
  EXPECT_EQ(Compare(FileOf(before), {"K", "K  text=one\r\nthree"}),
            (Strings{"K  text=one\r\nthree"}));
  EXPECT_EQ(Compare(FileOf(before), {"K", "K  text=zero\r\ntwo"}),
            (Strings{"K  text=zero\r\ntwo"}));
}

TEST_F(CompareEntryListsTest, ZeroByteSnapshotReportsEveryNonEmptyEntry) {
  EXPECT_EQ(Compare("", {"K", "", "K  a=1", "  ", "x\r\n"}),
            (Strings{"K", "K  a=1", "  ", "x\r\n"}));
}

TEST_F(CompareEntryListsTest, EmptyEntryIsNeverReported) {
  EXPECT_EQ(Compare(FileOf({"A"}).substr(0, 1), {"", "A"}), Strings{});
}

TEST_F(CompareEntryListsTest, EmbeddedNulBytesCompareAsBytes) {
  EXPECT_EQ(Compare(FileOf({"K  n=a\0b"s}), {"K  n=a\0b"s, "K  n=a\0c"s}),
            (Strings{"K  n=a\0c"s}));
}

TEST_F(CompareEntryListsTest, YieldsAtLeastOncePerSnapshotLineAndFreshEntry) {
  // Long enough that a loop yielding only now and then falls short.
  const Strings old_entries = Keys("S\\Old", 300);
  Strings fresh = old_entries;
  for (const std::string& key : Keys("S\\New", 200)) fresh.push_back(key);
  fresh.push_back("");
  EXPECT_EQ(Compare(FileOf(old_entries), fresh), Keys("S\\New", 200));
  // The old lines (and the empty one after the last CR LF), then every
  // fresh entry.
  EXPECT_GE(host_.yield_count, 301 + 501);
}

TEST_F(CompareEntryListsTest, EmptyAndDuplicateLinesAreHeldOnce) {
  EXPECT_EQ(Compare("\r\n\r\nA\r\nA\r\n", {"", "A", "B"}), (Strings{"B"}));
}

TEST(LineSet, GrowsPastItsFirstSize) {
  Strings lines;
  for (int i = 0; i < 5000; ++i) lines.push_back("L" + std::to_string(i));
  LineSet set(0);
  for (const std::string& line : lines) set.Insert(line);
  set.Insert("");
  for (const std::string& line : lines) EXPECT_TRUE(set.Contains(line)) << line;
  EXPECT_TRUE(set.Contains(""));
  EXPECT_FALSE(set.Contains("L5000"));
  EXPECT_FALSE(set.Contains("l0"));
}

TEST_F(CompareEntryListsTest, LargeListsCompareInLinearTime) {
  // 200,000 lines each side would take minutes with a quadratic search.
  Strings before = Keys("HKLM\\Soft\\Key", 200000);
  Strings after = before;
  std::reverse(after.begin(), after.end());
  after[100000] = "changed";
  EXPECT_EQ(Compare(FileOf(before), after), (Strings{"changed"}));
}

// A reading mostly copied from the last one: copies are reported as their
// originals were (here deliberately unlike what a look-up would say, so a
// look-up shows), and the entries between and after copies are looked up.
TEST(ReportedIndices, CopiesFollowTheLastComparisonAndTheRestIsLookedUp) {
  LineSet set(0);
  for (const char* line : {"same", "kept"}) set.Insert(line);
  RegStuff::EntryList fresh;
  for (const char* entry : {"new0", "kept", "kept", "new3", "kept", "kept", "same", "new7"})
    fresh.push_back(entry);
  // Last reading's rows at 4, 5 and 9; fresh [1, 3) copies last [4, 6),
  // fresh [4, 7) copies last [8, 11).
  const std::vector<std::size_t> last_rows = {2, 4, 5, 9, 20};
  const std::vector<RegStuff::CopiedRange> copied = {{1, 4, 2}, {4, 8, 3}};
  const LastComparison last{last_rows, copied};
  RecordingHost host;
  EXPECT_EQ(ReportedIndices(set, fresh, host, &last), (std::vector<std::size_t>{0, 1, 2, 3, 5, 7}));
  // Without the last comparison, every entry is looked up.
  EXPECT_EQ(ReportedIndices(set, fresh, host), (std::vector<std::size_t>{0, 3, 7}));
  // Ranges no walk gives (overlapping, or past the list) are not trusted.
  const std::vector<RegStuff::CopiedRange> bad = {{1, 4, 2}, {2, 8, 3}};
  const LastComparison overlapping{last_rows, bad};
  EXPECT_EQ(ReportedIndices(set, fresh, host, &overlapping),
            (std::vector<std::size_t>{0, 1, 2, 3, 7}));
  const std::vector<RegStuff::CopiedRange> past = {{6, 0, 5}};
  const LastComparison beyond{last_rows, past};
  EXPECT_EQ(ReportedIndices(set, fresh, host, &beyond), (std::vector<std::size_t>{0, 3, 7}));
}

class CompareRegistryTest : public EngineFixture {
 protected:
  void BuildBranch() {
    registry_.PutString(kRoot, "Watched", "name", "value");
    registry_.PutDword(kRoot, "Watched", "count", 10);
    registry_.PutString(kRoot, "Watched\\Sub", "x", "1");
  }
};

TEST_F(CompareRegistryTest, NothingChangedEmptiesTheRows) {
  BuildBranch();
  Snapshot();
  host_.rows = {"left over"};
  host_.statuses.clear();
  Compare();
  EXPECT_TRUE(host_.rows.empty());
  EXPECT_EQ(host_.shown_count, 1);
  EXPECT_EQ(host_.statuses,
            (Strings{"Loading Snapshot file..", "Preparing Comparison Snapshot..",
                     "Comparing Images..", "Comparison Complete!"}));
  EXPECT_TRUE(host_.messages.empty());
}

TEST_F(CompareRegistryTest, MissingSnapshotAbortsAndKeepsTheRows) {
  BuildBranch();
  host_.rows = {"earlier row"};
  Compare();
  EXPECT_EQ(host_.statuses, (Strings{"Comparison Aborted.."}));
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_EQ(host_.messages[0].text, "Please take a snapshot of this key first");
  EXPECT_EQ(host_.messages[0].title, "");
  EXPECT_EQ(host_.messages[0].icon, platform::MessageIcon::kNone);
  EXPECT_EQ(host_.rows, (Strings{"earlier row"}));
  EXPECT_EQ(host_.shown_count, 0);
}

TEST_F(CompareRegistryTest, AddedChangedAndDeletedValues) {
  BuildBranch();
  Snapshot();
  registry_.PutString(kRoot, "Watched\\Sub", "added", "new");
  registry_.PutDword(kRoot, "Watched", "count", 11);
  registry_.RemoveValue(kRoot, "Watched", "name");
  Compare();
  EXPECT_EQ(host_.rows, (Strings{"Watched\\Sub  added=new", "Watched  count=&H0000000B"}));
}

TEST_F(CompareRegistryTest, NewSubkeyWithTwoValuesGivesThreeRowsInReadingOrder) {
  BuildBranch();
  Snapshot();
  registry_.PutString(kRoot, "Watched\\Fresh", "one", "1");
  registry_.PutString(kRoot, "Watched\\Fresh", "two", "2");
  Compare();
  EXPECT_EQ(host_.rows,
            (Strings{"Watched\\Fresh", "Watched\\Fresh  one=1", "Watched\\Fresh  two=2"}));
}

TEST_F(CompareRegistryTest, DeletedKeyGivesNoRow) {
  BuildBranch();
  Snapshot();
  registry_.RemoveKey(kRoot, "Watched\\Sub");
  Compare();
  EXPECT_TRUE(host_.rows.empty());
}

TEST_F(CompareRegistryTest, TwoChecksGiveTheSameRowsAndTheSnapshotStays) {
  BuildBranch();
  Snapshot();
  const std::string snapshot = SnapshotBytes();
  registry_.AddKey(kRoot, "Watched\\Added");
  Compare();
  const Strings first = host_.rows;
  Compare();
  EXPECT_EQ(host_.rows, first);
  EXPECT_EQ(first, (Strings{"Watched\\Added"}));
  EXPECT_EQ(SnapshotBytes(), snapshot);
}

TEST_F(CompareRegistryTest, UnchangedMultiLineValueGivesNoRowAtAnyCheck) {
  registry_.PutString(kRoot, "Watched", "lines", "one\r\ntwo\r\n");
  Snapshot();
  Compare();
  Compare();
  EXPECT_TRUE(host_.rows.empty());
}

TEST_F(CompareRegistryTest, ZeroByteSnapshotReportsEveryNonEmptyEntry) {
  BuildBranch();
  files_.PutFile(kSnapshot, "");
  Compare();
  EXPECT_EQ(host_.rows, (Strings{"Watched\\Sub", "Watched\\Sub  x=1", "Watched",
                                 "Watched  name=value", "Watched  count=&H0000000A"}));
}

TEST_F(CompareRegistryTest, SelectionChangedAfterTheSnapshotIsComparedAllTheSame) {
  BuildBranch();
  Snapshot();
  selection_.include_values = false;
  Compare();
  // Keys-only entries of the new selection; "Watched\Sub" is in the file.
  EXPECT_EQ(host_.rows, Strings{});
  selection_.start_path = "Watched\\Sub";
  registry_.AddKey(kRoot, "Watched\\Sub\\Deeper");
  Compare();
  EXPECT_EQ(host_.rows, (Strings{"Watched\\Sub\\Deeper"}));
}

TEST_F(CompareRegistryTest, DeletedStartKeyReportsNothing) {
  BuildBranch();
  Snapshot();
  registry_.RemoveKey(kRoot, "Watched");
  Compare();
  EXPECT_TRUE(host_.rows.empty());
  EXPECT_EQ(host_.statuses.back(), "Comparison Complete!");
}

TEST_F(CompareRegistryTest, SnapshotGoneBeforeItIsReadAbortsTheCheck) {
  BuildBranch();
  // Exists for FileExists but cannot be read.
  files_.PutFile(kSnapshot, "");
  registry_.AddKey(kRoot, "Watched\\Added");
  int yields = 0;
  host_.on_yield = [&] {
    if (++yields == 1) files_.RemoveFile(kSnapshot);  // gone between the test and the read
  };
  Compare();
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_EQ(host_.messages[0].title, "Application Error");
  EXPECT_NE(host_.messages[0].text.find("File not found\r\nin Kestrelmark2021/08/31."
                                        "mKestrelmark.CompareRegistry at line "),
            std::string::npos);
  // Not a check against nothing (every entry would be listed as new): the
  // rows stay as they were.
  EXPECT_TRUE(host_.rows.empty());
  EXPECT_EQ(host_.shown_count, 0);
  EXPECT_EQ(host_.statuses.back(), "Comparison Aborted..");
}

TEST_F(CompareRegistryTest, CheckNestedInASnapshotThroughAYield) {
  BuildBranch();
  Snapshot();
  registry_.AddKey(kRoot, "Watched\\Added");
  bool nested = false;
  host_.on_yield = [&] {
    if (nested) return;
    nested = true;
    Compare();  // a timer tick while the snapshot is being written
  };
  Snapshot();
  host_.on_yield = nullptr;
  // The nested check saw the old snapshot whole: exactly the added key.
  EXPECT_EQ(host_.rows, (Strings{"Watched\\Added"}));
  // The snapshot itself is complete.
  host_.rows.clear();
  Compare();
  EXPECT_TRUE(host_.rows.empty());
}

}  // namespace
}  // namespace mKestrelmark::testing
