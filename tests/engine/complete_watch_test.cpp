// A quiet check of the complete mode reuses the last changes only while
// nothing can have changed: every way something can change sends it to read.
#include "engine/complete_watch.h"

#include <gtest/gtest.h>

#include "platform/memory/memory_registry.h"

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
