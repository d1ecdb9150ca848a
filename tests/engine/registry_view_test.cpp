// The 32-bit view: what the walk opens, what the complete file records, and
// a check of the other view refused. The memory registry redirects
// HKLM\SOFTWARE to HKLM\SOFTWARE\WOW6432Node for the 32-bit view.
#include <gtest/gtest.h>

#include <string>

#include "engine/complete_file.h"
#include "engine/monitor_cache.h"
#include "engine/reg_stuff.h"
#include "tests/engine/engine_fixture.h"

namespace mKestrelmark::testing {
namespace {

constexpr platform::RootKey kHklm = platform::kHkeyLocalMachine;

class RegistryViewTest : public EngineFixture {
 protected:
  RegistryViewTest() {
    // Only 32-bit programs see Vendor; 64-bit ones see Native.
    registry_.PutDword(kHklm, "SOFTWARE\\WOW6432Node\\Vendor", "Bits", 32);
    registry_.PutDword(kHklm, "SOFTWARE\\Native", "Bits", 64);
    selection_ = {kHklm, "SOFTWARE", true, kView32};
  }
  RegStuff::CompleteReading Read(const BranchSelection& selection) {
    RegStuff::EntryList entries;
    RegStuff::CompleteReading reading;
    RegStuff::ReadBranchComplete(registry_, host_, selection, entries, reading);
    return reading;
  }
  static std::vector<std::string> Paths(const RegStuff::CompleteReading& reading) {
    std::vector<std::string> paths;
    for (const auto& key : reading.keys) paths.push_back(key.path);
    return paths;
  }
};

TEST_F(RegistryViewTest, EachViewReadsItsOwnKeys) {
  EXPECT_EQ(Paths(Read(selection_)),
            (std::vector<std::string>{"SOFTWARE", "SOFTWARE\\Vendor"}));
  for (std::uint32_t access : registry_.open_access_log())
    EXPECT_EQ(access, platform::kKeyRead | platform::kKeyWow64_32Key);
  BranchSelection as64 = selection_;
  as64.view = kView64;
  EXPECT_EQ(Paths(Read(as64)), (std::vector<std::string>{"SOFTWARE", "SOFTWARE\\WOW6432Node",
                                                         "SOFTWARE\\WOW6432Node\\Vendor",
                                                         "SOFTWARE\\Native"}));
  // Other hives are the same in both views.
  registry_.PutDword(kRoot, "Watched", "v", 1);
  EXPECT_EQ(Paths(Read({kRoot, "Watched", true, kView32})), (std::vector<std::string>{"Watched"}));
}

TEST_F(RegistryViewTest, TheFileRecordsTheViewAndACheckOfTheOtherIsRefused) {
  ASSERT_TRUE(CreateSnapshot(context_, selection_, kSnapshot, true));
  const RegStuff::CompleteReading file =
      DecodeCompleteReading(*files_.FileBytes(CompleteFilePath(kSnapshot)));
  EXPECT_EQ(file.selection.view, kView32);

  registry_.PutDword(kHklm, "SOFTWARE\\WOW6432Node\\Vendor", "Bits", 33);
  const CompleteCheckResult same = CompareCompleteSnapshot(context_, std::nullopt, kSnapshot);
  ASSERT_EQ(same.changes.size(), 1u);
  EXPECT_EQ(same.changes[0].key, "SOFTWARE\\Vendor");

  const std::string refused =
      "The complete snapshot is of HKLM\\SOFTWARE (keys and values, 32-bit view); the check asks "
      "for HKLM\\SOFTWARE (keys and values, 64-bit view). Please take a snapshot of this branch "
      "first";
  BranchSelection as64 = selection_;
  as64.view = kView64;
  host_.messages.clear();
  EXPECT_EQ(CompareCompleteSnapshot(context_, as64, kSnapshot).outcome, CheckOutcome::kNoSnapshot);
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_EQ(host_.messages[0].text, refused);
  // The file's branch, but the view asked for.
  host_.messages.clear();
  EXPECT_TRUE(CompareCompleteSnapshot(context_, std::nullopt, kSnapshot, kView64).changes.empty());
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_EQ(host_.messages[0].text, refused);
}

TEST_F(RegistryViewTest, BranchesOfTheSameViewAreNamedAsBefore) {
  EXPECT_EQ(DescribeBranches({kHklm, "A", true}, {kHklm, "B", false}, " / "),
            "HKLM\\A (keys and values) / HKLM\\B (keys only)");
  EXPECT_EQ(DescribeBranches({kHklm, "A", true, kView32}, {kHklm, "A", true, kView32}, " / "),
            "HKLM\\A (keys and values, 32-bit view) / HKLM\\A (keys and values, 32-bit view)");
}

// The watch is opened in the 64-bit view: were it trusted for a 32-bit
// branch, a change under WOW6432Node would go unseen by a cached check.
TEST_F(RegistryViewTest, CachedChecksOfThe32BitViewSeeEveryChange) {
  std::uint64_t steady_ms = 1'000'000;
  MonitorCache cache([&] { return steady_ms; });
  EngineContext cached{registry_, files_, host_, &cache};
  selection_.start_path = "SOFTWARE\\Vendor";
  // A 64-bit key of the same name, which a watch in the 64-bit view holds.
  registry_.PutDword(kHklm, "SOFTWARE\\Vendor", "Bits", 64);
  ASSERT_TRUE(CreateSnapshot(cached, selection_, kSnapshot, true));
  for (int tick = 0; tick < 3; ++tick) {
    steady_ms += 5000;
    registry_.AdvanceClock(5000 * 10'000);
    registry_.PutDword(kHklm, "SOFTWARE\\WOW6432Node\\Vendor", "Tick", tick);
    const CompleteCheckResult result = CompareCompleteSnapshot(cached, selection_, kSnapshot);
    ASSERT_EQ(result.changes.size(), 1u) << tick;
    EXPECT_EQ(result.changes[0].after->data, std::string(reinterpret_cast<const char*>(&tick), 4));
  }
}

}  // namespace
}  // namespace mKestrelmark::testing
