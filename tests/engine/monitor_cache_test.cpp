// Checks that keep what they read (MonitorCache) against checks that read
// everything: the rows must be the same, always.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/monitor_cache.h"
#include "engine/reg_stuff.h"
#include "tests/engine/engine_fixture.h"

namespace mKestrelmark::testing {
namespace {

using Strings = std::vector<std::string>;
constexpr platform::KeyTime kMs = 10'000;  // key time units per millisecond

class MonitorCacheTest : public EngineFixture {
 protected:
  explicit MonitorCacheTest(std::size_t part_keys = RegStuff::BranchParts::kPartKeys)
      : cache_([this] { return steady_ms_; }, part_keys) {}

  // Wall clock (the registry's) and steady clock move together, as they do
  // unless someone sets the system clock.
  void Pass(std::uint64_t ms) {
    steady_ms_ += ms;
    registry_.AdvanceClock(ms * kMs);
  }
  // A check as the monitoring timer runs it: half a second after the last.
  void CachedCheck() {
    Pass(500);
    CachedCompare();
  }
  CheckResult CachedCompare() { return CompareRegistry(cached_, selection_, kSnapshot); }
  Strings FullCheckRows() {
    RecordingHost full_host;
    CompareRegistry(EngineContext{registry_, files_, full_host}, selection_, kSnapshot);
    return full_host.rows;
  }
  void ExpectSameAsFull(const std::string& where) {
    RecordingHost full_host;
    CompareRegistry(EngineContext{registry_, files_, full_host}, selection_, kSnapshot);
    ASSERT_EQ(host_.statuses.back(), full_host.statuses.back()) << where;
    // An aborted check leaves the rows as they were.
    if (full_host.statuses.back() == "Comparison Complete!") {
      ASSERT_EQ(host_.rows, full_host.rows) << where;
    }
  }
  void SnapshotWithCache() { CreateSnapshot(cached_, selection_, kSnapshot); }
  std::size_t Opens() const { return registry_.open_access_log().size(); }

  std::uint64_t steady_ms_ = 1'000'000;
  MonitorCache cache_;
  EngineContext cached_{registry_, files_, host_, &cache_};
};

TEST_F(MonitorCacheTest, QuietCheckReadsNeitherTheBranchNorTheSnapshot) {
  registry_.PutString(kRoot, "Watched\\A", "v", "1");
  SnapshotWithCache();
  registry_.PutString(kRoot, "Watched\\A", "w", "2");
  CachedCheck();
  EXPECT_EQ(host_.rows, (Strings{"Watched\\A  w=2"}));
  const std::size_t opens = Opens();
  // Were the snapshot read, this check would end "Comparison Aborted..".
  files_.FailRead(kSnapshot);
  host_.statuses.clear();
  CachedCheck();
  EXPECT_EQ(cache_.last_check(), CheckKind::kQuiet);
  EXPECT_EQ(Opens(), opens);
  EXPECT_EQ(host_.rows, (Strings{"Watched\\A  w=2"}));
  EXPECT_EQ(host_.statuses,
            (Strings{"Loading Snapshot file..", "Preparing Comparison Snapshot..",
                     "Comparing Images..", "Comparison Complete!"}));
}

TEST_F(MonitorCacheTest, ChangeAfterAQuietCheckIsSeenAndOnlyItsKeyIsReadAgain) {
  for (int i = 0; i < 20; ++i) registry_.PutDword(kRoot, "Watched\\K" + std::to_string(i), "v", i);
  SnapshotWithCache();
  Pass(5000);  // the keys' times are now older than the trust margin
  CachedCheck();
  CachedCheck();
  ASSERT_EQ(cache_.last_check(), CheckKind::kQuiet);
  registry_.PutDword(kRoot, "Watched\\K7", "v", 70);
  CachedCheck();
  EXPECT_EQ(host_.rows, (Strings{"Watched\\K7  v=&H00000046"}));
  EXPECT_EQ(cache_.last_check(), CheckKind::kIncremental);
  // K7 and its parent (whose subkey list is read anyway) changed nothing
  // else: only K7's values were enumerated again.
  EXPECT_EQ(cache_.last_counts().value_lists_read, 1u);
  EXPECT_EQ(cache_.last_counts().value_lists_kept, 20u);
}

TEST_F(MonitorCacheTest, KeysOnlyModeLeavesUnchangedLeavesClosed) {
  selection_.include_values = false;
  for (int i = 0; i < 10; ++i) registry_.AddKey(kRoot, "Watched\\P\\L" + std::to_string(i));
  SnapshotWithCache();
  Pass(5000);
  CachedCheck();  // the first walk opens every key
  registry_.AddKey(kRoot, "Watched\\P\\L3\\New");
  CachedCheck();
  EXPECT_EQ(host_.rows, (Strings{"Watched\\P\\L3\\New"}));
  // Watched, P, L3 and the new key; nine unchanged leaves stay closed.
  EXPECT_EQ(cache_.last_counts().keys_opened, 4u);
  EXPECT_EQ(cache_.last_counts().keys_skipped, 9u);
}

TEST_F(MonitorCacheTest, WriteInTheSameClockStepAsTheReadingIsNotMissed) {
  // Windows' coarse clock: two writes 1 ms apart get the same stamp.
  registry_.SetTimeGrain(16 * kMs);
  registry_.PutString(kRoot, "Watched\\A", "v", "old");
  SnapshotWithCache();
  Pass(5000);
  CachedCheck();
  registry_.PutString(kRoot, "Watched\\A", "v", "first");
  CachedCompare();  // reads "first" under the key's new stamp
  registry_.AdvanceClock(1 * kMs);
  steady_ms_ += 1;
  registry_.PutString(kRoot, "Watched\\A", "v", "second");  // same stamp
  CachedCheck();
  EXPECT_EQ(host_.rows, (Strings{"Watched\\A  v=second"}));
}

TEST_F(MonitorCacheTest, ClockSetBackIsNotTakenForAnUnchangedKey) {
  registry_.PutString(kRoot, "Watched\\A", "v", "old");
  SnapshotWithCache();
  Pass(60'000);
  const platform::KeyTime before = registry_.clock();
  registry_.PutString(kRoot, "Watched\\A", "v", "one");
  Pass(5000);
  CachedCheck();
  ASSERT_EQ(host_.rows, (Strings{"Watched\\A  v=one"}));
  // The clock is set back to the moment of the last write, and the key is
  // written again: same stamp, other data.
  registry_.SetClock(before);
  registry_.PutString(kRoot, "Watched\\A", "v", "two");
  cache_.ClockChanged();
  CachedCheck();
  EXPECT_EQ(host_.rows, (Strings{"Watched\\A  v=two"}));
}

TEST_F(MonitorCacheTest, ClockSetBackWithoutNoticeIsSeenFromTheTwoClocks) {
  registry_.PutString(kRoot, "Watched\\A", "v", "old");
  SnapshotWithCache();
  Pass(60'000);
  const platform::KeyTime before = registry_.clock();
  registry_.PutString(kRoot, "Watched\\A", "v", "one");
  Pass(5000);
  CachedCheck();
  registry_.SetClock(before);
  registry_.PutString(kRoot, "Watched\\A", "v", "two");
  CachedCheck();  // no ClockChanged: the wall clock went back 5 s in 0.5 s
  EXPECT_EQ(host_.rows, (Strings{"Watched\\A  v=two"}));
  EXPECT_EQ(cache_.last_check(), CheckKind::kFull);
}

TEST_F(MonitorCacheTest, WatchedKeyDeletedAndCreatedAgain) {
  registry_.PutString(kRoot, "Watched", "v", "1");
  SnapshotWithCache();
  CachedCheck();
  CachedCheck();
  ASSERT_EQ(cache_.last_check(), CheckKind::kQuiet);
  ASSERT_TRUE(registry_.RemoveKey(kRoot, "Watched"));  // signals no watch on it
  CachedCheck();
  EXPECT_TRUE(host_.rows.empty());
  registry_.PutString(kRoot, "Watched", "v", "2");
  CachedCheck();
  EXPECT_EQ(host_.rows, (Strings{"Watched  v=2"}));
  ExpectSameAsFull("after re-creation");
  CachedCheck();
  EXPECT_EQ(cache_.last_check(), CheckKind::kQuiet);  // a fresh watch holds
}

TEST_F(MonitorCacheTest, StartKeyMissingAtFirstAndCreatedLater) {
  files_.PutFile(kSnapshot, "");
  CachedCheck();
  EXPECT_TRUE(host_.rows.empty());
  registry_.PutDword(kRoot, "Watched\\New", "n", 1);
  CachedCheck();
  EXPECT_EQ(host_.rows, (Strings{"Watched\\New", "Watched\\New  n=&H00000001", "Watched"}));
}

TEST_F(MonitorCacheTest, LostWatchFallsBackToAFullReading) {
  registry_.PutString(kRoot, "Watched", "v", "1");
  SnapshotWithCache();
  CachedCheck();
  registry_.LoseWatches();
  CachedCheck();
  EXPECT_EQ(cache_.last_check(), CheckKind::kFull);
  CachedCheck();
  EXPECT_EQ(cache_.last_check(), CheckKind::kQuiet);
}

TEST_F(MonitorCacheTest, SnapshotReplacedByAnotherProgramIsReadAgain) {
  registry_.PutString(kRoot, "Watched", "v", "1");
  SnapshotWithCache();
  CachedCheck();
  EXPECT_TRUE(host_.rows.empty());
  files_.PutFile(kSnapshot, "");
  CachedCheck();
  EXPECT_EQ(host_.rows, (Strings{"Watched", "Watched  v=1"}));
}

TEST_F(MonitorCacheTest, UnreadableSnapshotIsReportedOnceAndTheRowsStay) {
  registry_.PutString(kRoot, "Watched", "v", "1");
  files_.PutFile(kSnapshot, "");
  CachedCheck();
  ASSERT_EQ(host_.rows.size(), 2u);
  // Replaced, then held by another program while monitoring runs.
  files_.PutFile(kSnapshot, "Watched\r\n");
  files_.FailRead(kSnapshot);
  registry_.PutString(kRoot, "Watched", "w", "2");
  CachedCheck();
  CachedCheck();
  CachedCheck();
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_NE(host_.messages[0].text.find("Permission denied\r\nin Kestrelmark2021/08/31."
                                        "mKestrelmark.CompareRegistry at line "),
            std::string::npos);
  EXPECT_EQ(host_.statuses.back(), "Comparison Aborted..");
  EXPECT_EQ(host_.rows.size(), 2u);
  // Readable again, then held again: that is news and is reported.
  files_.FailRead(kSnapshot, false);
  CachedCheck();
  EXPECT_EQ(host_.rows, (Strings{"Watched  v=1", "Watched  w=2"}));
  files_.PutFile(kSnapshot, "");
  files_.FailRead(kSnapshot);
  CachedCheck();
  EXPECT_EQ(host_.messages.size(), 2u);
}

// Monitoring switched off in the middle of a check (the click is taken in
// one of its yields) drops the cache. Whatever yield that is, the running
// check still compares against the snapshot it started with: its rows are
// a full check's, and the cache is dropped once it ends.
TEST_F(MonitorCacheTest, ForgetInAnyYieldOfACheckLeavesItsRowsRight) {
  for (int i = 0; i < 12; ++i)
    registry_.PutDword(kRoot, "Watched\\K" + std::to_string(i % 5) + "\\L" + std::to_string(i),
                       "v", i);
  SnapshotWithCache();
  Pass(5000);
  registry_.PutDword(kRoot, "Watched\\K3\\L8", "v", 800);
  const Strings expected = FullCheckRows();
  ASSERT_EQ(expected, Strings{"Watched\\K3\\L8  v=&H00000320"});

  int most_yields = 0;
  for (int forget_at = 1;; ++forget_at) {
    SCOPED_TRACE("Forget at yield " + std::to_string(forget_at));
    MonitorCache cache([this] { return steady_ms_; });
    const EngineContext cached{registry_, files_, host_, &cache};
    // A cache that holds the snapshot's lines and a reading, and a change
    // that makes the next check walk the branch.
    CompareRegistry(cached, selection_, kSnapshot);
    Pass(500);
    registry_.PutDword(kRoot, "Watched\\K4", "w", forget_at);
    const Strings expected_now = FullCheckRows();

    int yields = 0;
    host_.on_yield = [&] {
      if (++yields == forget_at) cache.Forget();
    };
    Pass(500);
    const CheckResult result = CompareRegistry(cached, selection_, kSnapshot);
    host_.on_yield = nullptr;
    // Past the check's last yield, Forget never ran.
    if (forget_at > yields) break;
    most_yields = std::max(most_yields, yields);
    ASSERT_EQ(host_.rows, expected_now);
    ASSERT_EQ(Strings(result.rows.begin(), result.rows.end()), expected_now);
    // Dropped after the check: the next one reads everything.
    Pass(500);
    CompareRegistry(cached, selection_, kSnapshot);
    ASSERT_EQ(cache.last_check(), CheckKind::kFull);
    ASSERT_EQ(host_.rows, FullCheckRows());
  }
  EXPECT_GT(most_yields, 30);
}

TEST_F(MonitorCacheTest, AccessChangeIsSeenByTheSafetyWalk) {
  registry_.PutString(kRoot, "Watched\\A", "v", "1");
  registry_.PutString(kRoot, "Watched\\B", "v", "1");
  files_.PutFile(kSnapshot, "");
  CachedCheck();
  registry_.DenyOpen(kRoot, "Watched\\A");  // stamps and signals nothing
  CachedCheck();
  EXPECT_EQ(cache_.last_check(), CheckKind::kQuiet);
  Pass(MonitorCache::kSafetyWalkMs);
  CachedCheck();
  EXPECT_EQ(host_.rows, (Strings{"Watched\\B", "Watched\\B  v=1", "Watched"}));
}

// A branch cut into parts: one change walks its part alone; a part whose
// key was deleted and made again (its old watch never fires again) is
// watched anew.
class MonitorCachePartsTest : public MonitorCacheTest {
 protected:
  MonitorCachePartsTest() : MonitorCacheTest(4) {
    for (int p = 0; p < 8; ++p)
      for (int k = 0; k < 3; ++k)
        registry_.PutDword(kRoot, "Watched\\P" + std::to_string(p) + "\\K" + std::to_string(k),
                           "v", k);
  }
};

TEST_F(MonitorCachePartsTest, OneChangeWalksItsPartAlone) {
  SnapshotWithCache();
  Pass(5000);
  CachedCheck();
  CachedCheck();  // every part's watch now armed before a reading of it
  registry_.PutDword(kRoot, "Watched\\P5\\K1", "v", 50);
  const std::size_t opens = Opens();
  CachedCheck();
  EXPECT_EQ(host_.rows, (Strings{"Watched\\P5\\K1  v=&H00000032"}));
  EXPECT_EQ(cache_.last_counts().parts_reused, 7u);
  EXPECT_EQ(cache_.last_counts().keys_in_parts_reused, 28u);
  // Watched, the part's key and the changed key: the part's unchanged
  // leaves stay closed.
  EXPECT_EQ(Opens() - opens, 3u);
  EXPECT_EQ(cache_.part_watches(), 8u);
}

// Keys above the parts are watched for their own values and subkeys: a
// change inside a part opens neither them nor their other parts, and a
// change of their own is read with them.
class MonitorCacheSpineTest : public MonitorCacheTest {
 protected:
  MonitorCacheSpineTest() : MonitorCacheTest(4) {
    for (int s = 0; s < 3; ++s)
      for (int p = 0; p < 4; ++p)
        for (int k = 0; k < 3; ++k)
          registry_.PutDword(kRoot, Path(s, p) + "\\K" + std::to_string(k), "v", k);
  }
  static std::string Path(int s, int p) {
    return "Watched\\S" + std::to_string(s) + "\\P" + std::to_string(p);
  }
};

TEST_F(MonitorCacheSpineTest, ChangesBelowTheSpineLeaveItClosedAndItsOwnAreRead) {
  SnapshotWithCache();
  Pass(5000);
  CachedCheck();
  CachedCheck();  // every watch now armed before a reading of its key
  EXPECT_EQ(cache_.part_watches(), 12u + 3u);
  registry_.PutDword(kRoot, Path(1, 2) + "\\K1", "v", 50);
  std::size_t opens = Opens();
  CachedCheck();
  EXPECT_EQ(host_.rows, (Strings{"Watched\\S1\\P2\\K1  v=&H00000032"}));
  // Watched itself, the part's key and the changed key.
  EXPECT_EQ(Opens() - opens, 3u);
  EXPECT_EQ(cache_.last_counts().spine_keys_reused, 3u);
  EXPECT_EQ(cache_.last_counts().parts_reused, 11u);

  Pass(5000);  // past the trust margin for the next reading
  registry_.PutDword(kRoot, "Watched\\S2", "own", 7);
  registry_.AddKey(kRoot, "Watched\\S0\\New");
  opens = Opens();
  CachedCheck();
  EXPECT_EQ(host_.rows, (Strings{"Watched\\S0\\New", "Watched\\S1\\P2\\K1  v=&H00000032",
                                 "Watched\\S2  own=&H00000007"}));
  EXPECT_EQ(cache_.last_counts().spine_keys_reused, 1u);
  ExpectSameAsFull("after the spine's own changes");

  // A part deleted and made again under a key of the spine: its old watch
  // is dead, which only that key's fresh listing can tell.
  registry_.RemoveKey(kRoot, Path(0, 1));
  registry_.PutDword(kRoot, Path(0, 1) + "\\K0", "v", 0);
  CachedCheck();
  ExpectSameAsFull("part made again");
  CachedCheck();
  Pass(5000);
  CachedCheck();
  // Once its key's time is trusted, the part is taken over whenever its
  // watch is quiet: a dead one would hide every change from then on.
  for (const std::uint32_t value : {9u, 10u}) {
    registry_.PutDword(kRoot, Path(0, 1) + "\\K0", "v", value);
    CachedCheck();
    ExpectSameAsFull("a change in the part made again");
    EXPECT_NE(std::find(host_.rows.begin(), host_.rows.end(),
                        "Watched\\S0\\P1\\K0  v=&H0000000" + std::string(1, "0123456789A"[value])),
              host_.rows.end());
    CachedCheck();
    Pass(5000);
  }
}

// The program's cache sizes its parts by the branch: about a thousand, so
// that changes spread over a branch of thousands of keys walk a few keys
// each, never smaller than a hundred keys nor larger than a thousand.
class MonitorCacheSizedTest : public MonitorCacheTest {
 protected:
  MonitorCacheSizedTest() : MonitorCacheTest(MonitorCache::kPartKeysForTheBranch) {
    for (int a = 0; a < 10; ++a)
      for (int b = 0; b < 10; ++b)
        for (int c = 0; c < 10; ++c)
          registry_.PutDword(kRoot, Path(a, b) + "\\C" + std::to_string(c), "v", c);
  }
  static std::string Path(int a, int b) {
    return "Watched\\A" + std::to_string(a) + "\\B" + std::to_string(b);
  }
};

TEST_F(MonitorCacheSizedTest, PartsFollowTheBranchsSize) {
  using RegStuff::BranchParts;
  EXPECT_EQ(BranchParts::PartKeysFor(11'111), BranchParts::kSmallestPartKeys);
  EXPECT_EQ(BranchParts::PartKeysFor(111'111), 111u);
  EXPECT_EQ(BranchParts::PartKeysFor(5'000'000), BranchParts::kPartKeys);
  // 1,111 keys: parts of at most 100 keys are the 100 keys B* (11 keys
  // each), under the 10 keys A* of the spine; at the largest size the
  // branch would be 10 parts of 111 keys.
  SnapshotWithCache();
  Pass(5000);
  CachedCheck();
  EXPECT_EQ(cache_.part_watches(), 100u + 10u);
  CachedCheck();
  for (int i = 0; i < 10; ++i) registry_.PutDword(kRoot, Path(i, 9 - i) + "\\C3", "v", 30);
  const std::size_t opens = Opens();
  CachedCheck();
  // Watched, and in each of the ten parts its key and the changed one.
  EXPECT_EQ(Opens() - opens, 1u + 10u * 2u);
  EXPECT_EQ(cache_.last_counts().parts_reused, 90u);
  EXPECT_EQ(cache_.last_counts().spine_keys_reused, 10u);
  EXPECT_EQ(host_.rows.size(), 10u);
  ExpectSameAsFull("ten changes in ten parts");

  // A sweep verifies a hundred keys or more a turn, so small parts do not
  // make it longer: an access change is found within one sweep's turns.
  EXPECT_EQ(cache_.verify_slices(), 1u + 10u + 100u);
  EXPECT_EQ(cache_.verify_turns(), 11u);
  registry_.DenyOpen(kRoot, Path(7, 3) + "\\C5");
  for (std::size_t turn = 0; turn < cache_.verify_turns(); ++turn) {
    Pass(MonitorCache::kSliceGapMs);
    CachedCompare();
  }
  RecordingHost quiet;
  EXPECT_EQ(cache_.last_reading()->ToStrings(),
            RegStuff::ReadBranch(registry_, quiet, kRoot, "Watched", true).ToStrings());
}

TEST_F(MonitorCachePartsTest, PartDeletedAndMadeAgainIsWatchedAnew) {
  SnapshotWithCache();
  Pass(5000);
  CachedCheck();
  CachedCheck();
  registry_.RemoveKey(kRoot, "Watched\\P2");
  registry_.PutDword(kRoot, "Watched\\P2\\K0", "v", 0);
  CachedCheck();
  registry_.PutDword(kRoot, "Watched\\P2\\K0", "new", 1);
  CachedCheck();
  EXPECT_EQ(host_.rows, FullCheckRows());
  EXPECT_EQ(std::count(host_.rows.begin(), host_.rows.end(), "Watched\\P2\\K0  new=&H00000001"),
            1);
}

// Keys made, deleted and written in any yield of a check, in parts the
// walk has passed, is in, or has yet to reach: the next check sees them.
TEST_F(MonitorCachePartsTest, EditsInAnyYieldOfACheckAreSeenByTheNext) {
  SnapshotWithCache();
  int most_yields = 0;
  for (int edit_at = 1;; edit_at += 3) {
    SCOPED_TRACE("edit at yield " + std::to_string(edit_at));
    MonitorCache cache([this] { return steady_ms_; }, 4);
    const EngineContext cached{registry_, files_, host_, &cache};
    CompareRegistry(cached, selection_, kSnapshot);
    Pass(3000);
    CompareRegistry(cached, selection_, kSnapshot);
    registry_.PutDword(kRoot, "Watched\\P0\\K0", "w", edit_at);
    const std::string made = "Watched\\P" + std::to_string(edit_at % 8) + "\\New";
    const std::string gone = "Watched\\P" + std::to_string((edit_at + 3) % 8) + "\\K2";
    const std::string written = "Watched\\P" + std::to_string((edit_at + 5) % 8) + "\\K1";
    int yields = 0;
    host_.on_yield = [&] {
      if (++yields != edit_at) return;
      registry_.PutDword(kRoot, made, "n", edit_at);
      registry_.RemoveKey(kRoot, gone);
      registry_.PutDword(kRoot, written, "v", 1000 + edit_at);
    };
    Pass(500);
    CompareRegistry(cached, selection_, kSnapshot);
    host_.on_yield = nullptr;
    if (edit_at > yields) break;
    most_yields = std::max(most_yields, yields);
    Pass(500);
    CompareRegistry(cached, selection_, kSnapshot);
    ASSERT_EQ(host_.rows, FullCheckRows());
    // Put back for the next round.
    registry_.RemoveKey(kRoot, made);
    registry_.PutDword(kRoot, gone, "v", 2);
    registry_.PutDword(kRoot, written, "v", 1);
  }
  EXPECT_GT(most_yields, 30);
}

// Random registry work, selection and snapshot changes, interleaved with
// checks; every cached check must give the rows of a full one.
// The parameter: a seed, and the size of the parts the branch is watched
// in (the default leaves these small branches in one piece).
class MonitorCacheDifferential
    : public MonitorCacheTest,
      public ::testing::WithParamInterface<std::tuple<unsigned, std::size_t>> {
 protected:
  MonitorCacheDifferential() : MonitorCacheTest(std::get<1>(GetParam())) {}

  std::string RandomKey(std::mt19937& random, int depth_limit = 3) {
    static const char* const kNames[] = {"A", "B", "C", "d", "E e", "\xCE\xB1"};
    std::string path = "Watched";
    const int depth = static_cast<int>(random() % (depth_limit + 1));
    for (int i = 0; i < depth; ++i) {
      path += '\\';
      path += kNames[random() % std::size(kNames)];
    }
    return path;
  }
  // An access change shows in no time and no notification: the slices of
  // a whole verification sweep, each with its check, see it.
  void Sweep() {
    for (std::size_t slice = 0; slice <= cache_.verify_slices(); ++slice) {
      Pass(MonitorCache::kSliceGapMs);
      CachedCompare();
    }
  }
  std::string RandomName(std::mt19937& random) {
    static const char* const kValueNames[] = {"", "x", "y", "Z", "long name"};
    return kValueNames[random() % std::size(kValueNames)];
  }

  void Step(std::mt19937& random) {
    const unsigned op = random() % 100;
    const std::string key = RandomKey(random);
    if (op < 30) {
      registry_.PutString(kRoot, key, RandomName(random), std::to_string(random() % 4));
    } else if (op < 40) {
      registry_.PutDword(kRoot, key, RandomName(random), random() % 3);
    } else if (op < 45) {
      registry_.PutValue(kRoot, key, RandomName(random), platform::kRegBinary, "bin");
    } else if (op < 55) {
      registry_.RemoveValue(kRoot, key, RandomName(random));
    } else if (op < 63) {
      registry_.AddKey(kRoot, key);
    } else if (op < 70) {
      if (key != "Watched" || random() % 8 == 0) registry_.RemoveKey(kRoot, key);
    } else if (op < 74) {
      // A rename, as delete and create (the registry's own rename is not
      // used by the program).
      if (registry_.HasKey(kRoot, key) && key != "Watched") {
        registry_.RemoveKey(kRoot, key);
        registry_.PutString(kRoot, key + "_renamed", "r", "1");
      }
    } else if (op < 77) {
      if (random() % 2)
        registry_.DenyOpen(kRoot, key);
      else
        registry_.AllowOpen(kRoot, key);
      Sweep();
    } else if (op < 80) {
      registry_.PutString(kRoot, "Elsewhere\\" + std::to_string(random() % 3), "v", "1");
    } else if (op < 83) {
      static const char* const kPaths[] = {"Watched", "Watched\\A", "Watched\\B\\C", "", "Watched\\"};
      selection_.start_path = kPaths[random() % std::size(kPaths)];
    } else if (op < 85) {
      selection_.include_values = !selection_.include_values;
    } else if (op < 86) {
      selection_.root = random() % 2 ? platform::kHkeyCurrentUser : platform::kHkeyLocalMachine;
    } else if (op < 90) {
      SnapshotWithCache();
    } else if (op < 92) {
      files_.PutFile(kSnapshot, random() % 2 ? std::string() : "Watched\r\nWatched\\A\r\n");
    } else if (op < 93) {
      files_.RemoveFile(kSnapshot);
    } else if (op < 95) {
      // Several writes inside one step of a coarse clock.
      registry_.SetTimeGrain(random() % 2 ? 1 : 16 * kMs);
    } else {
      // The system clock set back (the cache may be told, or not).
      registry_.SetClock(registry_.clock() - (random() % 3000) * kMs);
      if (random() % 2) cache_.ClockChanged();
    }
    // Time passes between operations, mostly less than a clock step.
    const std::uint64_t ms = random() % 4 == 0 ? random() % 3000 : random() % 3;
    Pass(ms);
  }
};

TEST_P(MonitorCacheDifferential, CachedChecksEqualFullChecks) {
  const unsigned seed = std::get<0>(GetParam());
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  registry_.PutString(kRoot, "Watched\\A", "x", "1");
  SnapshotWithCache();
  int kinds[4] = {};
  std::size_t parts_reused = 0, spine_reused = 0;
  for (int step = 0; step < 2500; ++step) {
    Step(random);
    if (random() % 3 == 0) {
      host_.statuses.clear();
      CachedCheck();
      ++kinds[static_cast<int>(cache_.last_check())];
      parts_reused += cache_.last_counts().parts_reused;
      spine_reused += cache_.last_counts().spine_keys_reused;
      ExpectSameAsFull("step " + std::to_string(step));
      if (HasFatalFailure()) return;
      // The reading itself equals a full reading entry for entry.
      if (host_.statuses.back() == "Comparison Complete!" && !cache_.busy()) {
        const BranchSelection& selection = selection_;
        RecordingHost quiet;
        ASSERT_EQ(cache_.last_reading()->ToStrings(),
                  RegStuff::ReadBranch(registry_, quiet, selection.root, selection.start_path,
                                       selection.include_values)
                      .ToStrings())
            << "step " << step;
      }
    }
  }
  // Every way of checking was exercised.
  EXPECT_GT(kinds[static_cast<int>(CheckKind::kQuiet)], 10);
  EXPECT_GT(kinds[static_cast<int>(CheckKind::kIncremental)], 10);
  EXPECT_GT(kinds[static_cast<int>(CheckKind::kFull)], 10);
  // Small parts: many checks took parts over whole.
  if (std::get<1>(GetParam()) < 10) {
    EXPECT_GT(parts_reused, 100u);
    EXPECT_GT(spine_reused, 50u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Seeds, MonitorCacheDifferential,
    ::testing::Combine(::testing::Values(1u, 2u, 3u, 4u, 5u),
                       ::testing::Values(RegStuff::BranchParts::kPartKeys, std::size_t{3})));

}  // namespace
}  // namespace mKestrelmark::testing
