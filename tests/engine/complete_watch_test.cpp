// A quiet check of the complete mode reuses the last changes only while
// nothing can have changed: every way something can change sends it to read.
#include "engine/complete_watch.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/keyed_comparison.h"
#include "engine/reg_stuff.h"
#include "platform/memory/memory_registry.h"
#include "tests/engine/recording_host.h"

namespace mKestrelmark {
namespace {

constexpr platform::RootKey kRoot = platform::kHkeyCurrentUser;

class CompleteWatchTest : public ::testing::Test {
 protected:
  CompleteWatchTest() { registry_.PutDword(kRoot, "W\\A", "v", 1); }
  // A check as the window makes it: read whenever the watch says so.
  bool Check(std::uint64_t at_ms, const BranchSelection& selection = {kRoot, "W", true},
             platform::FileStamp stamp = {7, 9}) {
    if (watch_.Quiet(registry_, selection, stamp, at_ms)) return false;
    watch_.Read(selection, stamp, at_ms);
    return true;  // read
  }

  platform::MemoryRegistry registry_;
  CompleteWatch watch_;
};

TEST_F(CompleteWatchTest, ReadsOnlyWhenSomethingMayHaveChanged) {
  EXPECT_TRUE(Check(0));  // the first check reads
  EXPECT_FALSE(Check(500));
  registry_.PutDword(kRoot, "W\\A\\Deep", "v", 2);
  EXPECT_TRUE(Check(1000));  // a change anywhere below
  EXPECT_FALSE(Check(1500));
  EXPECT_TRUE(Check(2000, {kRoot, "W\\A", true}));  // another branch
  EXPECT_TRUE(Check(2500));                         // and back
  EXPECT_FALSE(Check(3000));
  EXPECT_TRUE(Check(3500, {kRoot, "W", false}));  // another mode
  EXPECT_TRUE(Check(4000, {kRoot, "W", true}, {7, 10}));  // the snapshot was replaced
  EXPECT_FALSE(Check(4500, {kRoot, "W", true}, {7, 10}));
  EXPECT_TRUE(Check(4500 + CompleteWatch::kSafetyReadingMs, {kRoot, "W", true}, {7, 10}));
  watch_.Forget();
  EXPECT_TRUE(Check(70'000, {kRoot, "W", true}, {7, 10}));
}

TEST_F(CompleteWatchTest, AWholeRootAndADeletedKeyAreAlwaysRead) {
  EXPECT_TRUE(Check(0, {kRoot, "", true}));
  EXPECT_TRUE(Check(500, {kRoot, "", true}));
  EXPECT_TRUE(Check(1000));
  registry_.RemoveKey(kRoot, "W");  // a watch never fires for its own key's deletion
  EXPECT_TRUE(Check(1500));
  registry_.PutDword(kRoot, "W", "v", 3);  // back: watched again
  EXPECT_TRUE(Check(2000));
  EXPECT_FALSE(Check(2500));
}

}  // namespace
}  // namespace mKestrelmark

namespace mKestrelmark {
namespace {

// Checks as the window runs them in the complete mode (reuse the last
// changes while the watch stays quiet, read whole otherwise) against checks
// that always read whole, over random edits: the changes must be the same.
TEST(CompleteWatchDifferential, WatchedChecksEqualFullReadings) {
  for (unsigned seed = 1; seed <= 5; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    platform::MemoryRegistry registry;
    mKestrelmark::testing::RecordingHost host;
    const BranchSelection selection{kRoot, "W", true};
    registry.PutDword(kRoot, "W", "v", 0);
    RegStuff::EntryList entries;
    RegStuff::CompleteReading old;
    RegStuff::ReadBranchComplete(registry, host, selection, entries, old);
    const auto full = [&] {
      RegStuff::CompleteReading now;
      RegStuff::ReadBranchComplete(registry, host, selection, entries, now);
      return RegStuff::CompareComplete(old, now, host);
    };
    CompleteWatch watch;
    std::vector<RegStuff::Change> shown;
    std::uint64_t ms = 0;
    for (int step = 0; step < 120; ++step) {
      const std::string key = "W\\k" + std::to_string(random() % 4) +
                              (random() % 2 ? "\\d" + std::to_string(random() % 3) : "");
      switch (random() % 6) {
        case 0: registry.PutDword(kRoot, key, "n" + std::to_string(random() % 3), random() % 5); break;
        case 1: registry.RemoveValue(kRoot, key, "n" + std::to_string(random() % 3)); break;
        case 2: registry.RemoveKey(kRoot, key); break;
        case 3: registry.PutValue(kRoot, key, "", random() % 12, std::string(random() % 9, 'x')); break;
        default: break;  // checks with nothing changed
      }
      ms += random() % 3 == 0 ? 30'000 : 500;
      const std::vector<RegStuff::Change> expected = full();
      if (!watch.Quiet(registry, selection, platform::FileStamp{1, 1}, ms)) {
        shown = expected;
        watch.Read(selection, platform::FileStamp{1, 1}, ms);
      }
      ASSERT_EQ(shown, expected) << "step " << step;
    }
  }
}

}  // namespace
}  // namespace mKestrelmark
