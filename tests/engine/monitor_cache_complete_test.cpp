// The complete mode's checks through the monitoring cache against checks
// that read everything: the changes must be the same, always, and a check
// after one change reads that key's values alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/complete_file.h"
#include "engine/monitor_cache.h"
#include "engine/reg_stuff.h"
#include "tests/engine/engine_fixture.h"

namespace mKestrelmark::testing {
namespace {

constexpr platform::KeyTime kMs = 10'000;

class MonitorCacheCompleteTest : public EngineFixture {
 protected:
  explicit MonitorCacheCompleteTest(std::size_t part_keys = RegStuff::BranchParts::kPartKeys)
      : cache_([this] { return steady_ms_; }, part_keys) {}

  void Pass(std::uint64_t ms) {
    steady_ms_ += ms;
    registry_.AdvanceClock(ms * kMs);
  }
  void SnapshotWithCache() { CreateSnapshot(cached_, selection_, kSnapshot, true); }
  CompleteCheckResult CachedCheck() {
    Pass(500);
    return CompareCompleteSnapshot(cached_, selection_, kSnapshot);
  }
  CompleteCheckResult FullCheck() {
    RecordingHost host;
    return CompareCompleteSnapshot(EngineContext{registry_, files_, host}, selection_, kSnapshot);
  }
  std::size_t Opens() const { return registry_.open_access_log().size(); }

  std::uint64_t steady_ms_ = 1'000'000;
  MonitorCache cache_;
  EngineContext cached_{registry_, files_, host_, &cache_};
};

TEST_F(MonitorCacheCompleteTest, OneChangeIsReadAloneAndAQuietCheckReadsNothing) {
  for (int i = 0; i < 20; ++i) {
    const std::string key = "Watched\\K" + std::to_string(i);
    registry_.PutValue(kRoot, key, "", platform::kRegBinary, std::string(3000, 'b'));
    registry_.PutValue(kRoot, key, "q", 11, std::string(8, '\x01'));
  }
  SnapshotWithCache();
  Pass(5000);  // every key's time is older than the trust margin
  CachedCheck();
  const std::size_t opens = Opens();
  // Were the file read again, the check would end "Comparison Aborted..".
  files_.FailRead(CompleteFilePath(kSnapshot));
  CompleteCheckResult quiet = CachedCheck();
  EXPECT_EQ(cache_.last_check(), CheckKind::kQuiet);
  EXPECT_EQ(Opens(), opens);
  EXPECT_EQ(quiet.outcome, CheckOutcome::kCompared);
  EXPECT_TRUE(quiet.same_as_last);
  EXPECT_TRUE(quiet.changes.empty());

  registry_.PutValue(kRoot, "Watched\\K7", "", platform::kRegBinary, "new");
  const CompleteCheckResult changed = CachedCheck();
  EXPECT_EQ(cache_.last_check(), CheckKind::kIncremental);
  EXPECT_EQ(cache_.last_counts().value_lists_read, 1u);
  EXPECT_EQ(cache_.last_counts().value_lists_kept, 20u);
  EXPECT_FALSE(changed.same_as_last);
  ASSERT_EQ(changed.changes.size(), 1u);
  EXPECT_EQ(changed.changes[0].key, "Watched\\K7");
  EXPECT_EQ(changed.changes[0].after->data, "new");
  EXPECT_EQ(changed.changes[0].before->data, std::string(3000, 'b'));
  files_.FailRead(CompleteFilePath(kSnapshot), false);
  EXPECT_EQ(changed.changes, FullCheck().changes);
}

TEST_F(MonitorCacheCompleteTest, SnapshotTakenAgainIsTheNewBaseAtOnce) {
  registry_.PutDword(kRoot, "Watched\\A", "v", 1);
  SnapshotWithCache();
  registry_.PutDword(kRoot, "Watched\\A", "v", 2);
  EXPECT_EQ(CachedCheck().changes.size(), 1u);
  // The same second, the same size: only our own snapshot command can tell.
  SnapshotWithCache();
  const CompleteCheckResult after = CachedCheck();
  EXPECT_FALSE(after.same_as_last);
  EXPECT_TRUE(after.changes.empty());
}

// An unchanged leaf stays closed, but the complete mode records whether
// each key opens, and an access change leaves the key's time as it was:
// the verification slice that comes within the gap finds it.
TEST_F(MonitorCacheCompleteTest, LeafDeniedIsSeenByTheNextVerification) {
  registry_.PutDword(kRoot, "Watched\\P\\Leaf", "v", 1);
  SnapshotWithCache();
  Pass(5000);
  CachedCheck();
  registry_.DenyOpen(kRoot, "Watched\\P\\Leaf");
  registry_.PutDword(kRoot, "Watched\\Other", "v", 1);  // signals the watch
  CachedCheck();
  Pass(MonitorCache::kSliceGapMs);
  const CompleteCheckResult result = CachedCheck();
  EXPECT_EQ(result.changes, FullCheck().changes);
  EXPECT_TRUE(std::any_of(result.changes.begin(), result.changes.end(), [](const auto& change) {
    return change.kind == RegStuff::ChangeKind::kUnreadable;
  }));
}

// Random edits of every type and size, retyping, deletions, unreadable
// keys, other branches and modes, snapshots taken again; every cached
// check gives a full check's outcome and changes, and its reading equals a
// full complete reading key for key.
// The parameter: a seed and the size of the watched parts.
class MonitorCacheCompleteDifferential
    : public MonitorCacheCompleteTest,
      public ::testing::WithParamInterface<std::tuple<unsigned, std::size_t>> {
 protected:
  MonitorCacheCompleteDifferential() : MonitorCacheCompleteTest(std::get<1>(GetParam())) {}

  std::string RandomKey(std::mt19937& random) {
    static const char* const kNames[] = {"A", "B", "c", "E e", "\xCE\xB1"};
    std::string path = "Watched";
    for (int depth = static_cast<int>(random() % 4); depth > 0; --depth)
      path += std::string("\\") + kNames[random() % std::size(kNames)];
    return path;
  }
  std::string RandomData(std::mt19937& random) {
    static const std::size_t kSizes[] = {0, 1, 3, 4, 8, 9, 1025, 70'000};
    std::string data(kSizes[random() % std::size(kSizes)], '\0');
    for (char& c : data) c = static_cast<char>(random() % 4);
    return data;
  }

  void Step(std::mt19937& random) {
    static const char* const kValueNames[] = {"", "x", "two  blanks", "a=b"};
    const unsigned op = random() % 100;
    const std::string key = RandomKey(random);
    const std::string name = kValueNames[random() % std::size(kValueNames)];
    if (op < 45) {
      // Every type number, and now and then one outside 0 to 11; the same
      // name comes back under another type.
      const std::uint32_t type = random() % 8 == 0 ? 0x7fff0000u + random() % 3 : random() % 12;
      registry_.PutValue(kRoot, key, name, type, RandomData(random));
    } else if (op < 55) {
      registry_.RemoveValue(kRoot, key, name);
    } else if (op < 63) {
      registry_.AddKey(kRoot, key);
    } else if (op < 70) {
      if (key != "Watched" || random() % 8 == 0) registry_.RemoveKey(kRoot, key);
    } else if (op < 76) {
      if (random() % 2)
        registry_.DenyOpen(kRoot, key);
      else
        registry_.AllowOpen(kRoot, key);
      for (std::size_t slice = 0; slice <= cache_.verify_slices(); ++slice) {
        Pass(MonitorCache::kSliceGapMs);
        CompareCompleteSnapshot(cached_, selection_, kSnapshot);
      }
    } else if (op < 80) {
      static const char* const kPaths[] = {"Watched", "Watched\\A", "Watched\\B\\c"};
      selection_.start_path = kPaths[random() % std::size(kPaths)];
    } else if (op < 82) {
      selection_.include_values = !selection_.include_values;
    } else if (op < 90) {
      SnapshotWithCache();
    } else if (op < 93) {
      registry_.SetTimeGrain(random() % 2 ? 1 : 16 * kMs);
    } else if (op < 95) {
      cache_.Forget();
    }
    Pass(random() % 4 == 0 ? random() % 3000 : random() % 3);
  }
};

TEST_P(MonitorCacheCompleteDifferential, CachedChecksEqualFullChecks) {
  std::mt19937 random(std::get<0>(GetParam()));
  registry_.PutDword(kRoot, "Watched\\A", "x", 1);
  SnapshotWithCache();
  int kinds[4] = {};
  for (int step = 0; step < 1500; ++step) {
    Step(random);
    if (random() % 3 != 0) continue;
    const CompleteCheckResult cached = CachedCheck();
    const CompleteCheckResult full = FullCheck();
    ++kinds[static_cast<int>(cache_.last_check())];
    ASSERT_EQ(cached.outcome, full.outcome) << "step " << step;
    ASSERT_EQ(cached.changes, full.changes) << "step " << step;
    if (cached.outcome != CheckOutcome::kCompared) continue;
    RegStuff::EntryList entries;
    RegStuff::CompleteReading fresh;
    RecordingHost quiet;
    RegStuff::ReadBranchComplete(registry_, quiet, selection_, entries, fresh);
    ASSERT_EQ(cache_.last_complete_reading()->keys, fresh.keys) << "step " << step;
    ASSERT_EQ(cache_.last_reading()->ToStrings(), entries.ToStrings()) << "step " << step;
  }
  EXPECT_GT(kinds[static_cast<int>(CheckKind::kQuiet)], 10);
  EXPECT_GT(kinds[static_cast<int>(CheckKind::kIncremental)], 10);
  EXPECT_GT(kinds[static_cast<int>(CheckKind::kFull)], 10);
}

INSTANTIATE_TEST_SUITE_P(
    Seeds, MonitorCacheCompleteDifferential,
    ::testing::Combine(::testing::Values(1u, 2u, 3u),
                       ::testing::Values(RegStuff::BranchParts::kPartKeys, std::size_t{3})));

}  // namespace
}  // namespace mKestrelmark::testing
