#include "engine/reg_stuff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/entry_text.h"
#include "platform/memory/memory_registry.h"
#include "tests/engine/recording_host.h"

namespace RegStuff {
namespace {

using namespace std::string_literals;
using mKestrelmark::testing::RecordingHost;
using platform::kHkeyCurrentUser;
using Strings = std::vector<std::string>;

constexpr platform::RootKey kRoot = kHkeyCurrentUser;

class ReadBranchTest : public ::testing::Test {
 protected:
  Strings Read(const std::string& start, bool include_values) {
    return ReadBranch(registry_, host_, kRoot, start, include_values).ToStrings();
  }
  // S with subkeys A (holding A1) and B; one value per key.
  void BuildSaA1B() {
    registry_.PutString(kRoot, "S", "s", "0");
    registry_.PutString(kRoot, "S\\A", "a", "1");
    registry_.PutString(kRoot, "S\\A\\A1", "a1", "2");
    registry_.PutString(kRoot, "S\\B", "b", "3");
  }

  platform::MemoryRegistry registry_;
  RecordingHost host_;
};

TEST_F(ReadBranchTest, KeysOnlyIsPreOrderWithoutTheStartKey) {
  BuildSaA1B();
  EXPECT_EQ(Read("S", false), (Strings{"S\\A", "S\\A\\A1", "S\\B"}));
}

TEST_F(ReadBranchTest, KeysAndValuesArePostOrderBlocks) {
  BuildSaA1B();
  EXPECT_EQ(Read("S", true), (Strings{"S\\A\\A1", "S\\A\\A1  a1=2", "S\\A", "S\\A  a=1", "S\\B",
                                      "S\\B  b=3", "S", "S  s=0"}));
}

TEST_F(ReadBranchTest, DeepAndWideBranchKeepsBlocksWhole) {
  // Two levels of three keys with two values each: every block is
  // contiguous and follows all blocks below it.
  for (const char* a : {"x", "y", "z"})
    for (const char* b : {"1", "2", "3"}) {
      const std::string key = "S\\"s + a + "\\" + b;
      registry_.PutDword(kRoot, key, "d", 7);
      registry_.PutString(kRoot, key, "s", key);
    }
  const Strings entries = Read("S", true);
  ASSERT_EQ(entries.size(), 9u * 3 + 3 + 1);
  EXPECT_EQ(entries[0], "S\\x\\1");
  EXPECT_EQ(entries[1], "S\\x\\1  d=&H00000007");
  EXPECT_EQ(entries[2], "S\\x\\1  s=S\\x\\1");
  EXPECT_EQ(entries[9], "S\\x");
  EXPECT_EQ(entries[10], "S\\y\\1");
  EXPECT_EQ(entries.back(), "S");
}

TEST_F(ReadBranchTest, EmptyStartPathReadsTheRoot) {
  registry_.PutString(kRoot, "", "top", "v");
  registry_.PutValue(kRoot, "", "", platform::kRegSz, "");
  registry_.PutString(kRoot, "K", "n", "w");
  EXPECT_EQ(Read("", true), (Strings{"K", "K  n=w", "", "  top=v", "  "}));
  EXPECT_EQ(Read("", false), (Strings{"K"}));
}

TEST_F(ReadBranchTest, MissingStartKeyGivesAnEmptyList) {
  BuildSaA1B();
  EXPECT_TRUE(Read("S\\Nope", true).empty());
  EXPECT_TRUE(Read("S\\Nope", false).empty());
}

TEST_F(ReadBranchTest, StartPathIsUsedUnchanged) {
  BuildSaA1B();
  // Case as typed; the registry matches names case-insensitively.
  EXPECT_EQ(Read("s", false), (Strings{"s\\A", "s\\A\\A1", "s\\B"}));
}

TEST_F(ReadBranchTest, UnopenableKeyIsSkippedAndTheWalkGoesOn) {
  BuildSaA1B();
  registry_.DenyOpen(kRoot, "S\\A");
  // Keys-only: its entry comes from the parent, its subtree is missing.
  EXPECT_EQ(Read("S", false), (Strings{"S\\A", "S\\B"}));
  // Keys-and-values: not even its key entry.
  EXPECT_EQ(Read("S", true), (Strings{"S\\B", "S\\B  b=3", "S", "S  s=0"}));
}

TEST_F(ReadBranchTest, KeysReadableButNotWritableAreRead) {
  BuildSaA1B();
  registry_.DenyWrite(kRoot, "S");
  registry_.DenyWrite(kRoot, "S\\A");
  EXPECT_EQ(Read("S", false), (Strings{"S\\A", "S\\A\\A1", "S\\B"}));
  for (std::uint32_t access : registry_.open_access_log()) EXPECT_EQ(access, platform::kKeyRead);
}

TEST_F(ReadBranchTest, OversizeValuesAreSkippedAndLaterValuesRead) {
  registry_.PutString(kRoot, "K", "one", "1");
  registry_.PutString(kRoot, "K", "two", "2");
  registry_.PutValue(kRoot, "K", "big", platform::kRegBinary, std::string(2000, 'b'));
  registry_.PutString(kRoot, "K", "four", "4");
  registry_.PutString(kRoot, "K", std::string(256, 'n'), "long name");
  registry_.PutString(kRoot, "K", std::string(255, 'm'), "longest name");
  registry_.PutString(kRoot, "K", "bigstring", std::string(1024, 's'));  // 1025 bytes
  registry_.PutString(kRoot, "K", "five", "5");
  registry_.PutString(kRoot, "K\\Sub", "x", "y");
  EXPECT_EQ(Read("K", true),
            (Strings{"K\\Sub", "K\\Sub  x=y", "K", "K  one=1", "K  two=2", "K  four=4",
                     "K  " + std::string(255, 'm') + "=longest name", "K  five=5"}));
}

std::string Repeat(std::string_view text, int count) {
  std::string repeated;
  for (int i = 0; i < count; ++i) repeated += text;
  return repeated;
}

TEST_F(ReadBranchTest, LongestNamesAreReadInAnyScript) {
  const std::string chinese = Repeat("\xE4\xB8\xAD", 255);  // 765 bytes of UTF-8
  registry_.AddKey(kRoot, "K\\" + std::string(255, 'k'));
  registry_.AddKey(kRoot, "K\\" + chinese);
  registry_.PutDword(kRoot, "K", chinese, 1);
  registry_.PutDword(kRoot, "K", Repeat("\xF0\x9F\x98\x80", 127), 2);  // 254 UTF-16 units
  registry_.PutDword(kRoot, "K", Repeat("\xF0\x9F\x98\x80", 128), 3);  // 256: too long
  registry_.PutDword(kRoot, "K", "last", 4);
  EXPECT_EQ(Read("K", true),
            (Strings{"K\\" + std::string(255, 'k'), "K\\" + chinese, "K",
                     "K  " + chinese + "=&H00000001",
                     "K  " + Repeat("\xF0\x9F\x98\x80", 127) + "=&H00000002",
                     "K  last=&H00000004"}));
}

TEST_F(ReadBranchTest, SubkeyNameBeyondTheBufferEndsTheSubkeyList) {
  registry_.AddKey(kRoot, "K\\first");
  registry_.AddKey(kRoot, "K\\" + std::string(kSubkeyBufferSize, 'x'));
  registry_.AddKey(kRoot, "K\\after");
  EXPECT_EQ(Read("K", false), (Strings{"K\\first"}));
}

TEST_F(ReadBranchTest, HoldsOneKeyOpenAtATime) {
  BuildSaA1B();
  Read("S", true);
  EXPECT_EQ(registry_.max_open_key_count(), 1);
  EXPECT_EQ(registry_.open_key_count(), 0);
}

TEST_F(ReadBranchTest, NoRunOfEnumerationsOrEntriesWithoutAYield) {
  // Ten values (one binary: enumerated, no entry) and ten subkeys of two
  // values each: a loop that stopped yielding would run ten calls in a row.
  for (int i = 0; i < 9; ++i) registry_.PutString(kRoot, "W", "v" + std::to_string(i), "x");
  registry_.PutValue(kRoot, "W", "bin", platform::kRegBinary, "x");
  for (int i = 0; i < 10; ++i) {
    registry_.PutString(kRoot, "W\\K" + std::to_string(i), "a", "1");
    registry_.PutString(kRoot, "W\\K" + std::to_string(i), "b", "2");
  }
  std::string events;  // 'e' per enumeration call, 'y' per yield
  registry_.SetEnumerationHook([&] { events += 'e'; });
  host_.on_yield = [&] { events += 'y'; };
  for (const bool include_values : {true, false}) {
    SCOPED_TRACE(include_values ? "keys and values" : "keys only");
    events.clear();
    host_.yield_count = 0;
    const Strings entries = Read("W", include_values);
    std::size_t run = 0, longest_run = 0;
    for (const char event : events) {
      run = event == 'e' ? run + 1 : 0;
      longest_run = std::max(longest_run, run);
    }
    // A call that ends one list may come right before the first of the
    // next, and a key with nothing in it adds one more.
    EXPECT_LE(longest_run, 3u) << events;
    // A turn per value enumerated, per subkey name and, where blocks are
    // moved into place, per entry appended.
    const std::size_t values = include_values ? 10 + 20 : 0;
    const std::size_t moved = include_values ? entries.size() : 0;
    EXPECT_GE(static_cast<std::size_t>(host_.yield_count), values + 10 + moved);
  }
}

TEST_F(ReadBranchTest, ReadingNestedInAnotherThroughAYieldLeavesBothWhole) {
  BuildSaA1B();
  registry_.PutString(kRoot, "Other\\O1", "o", "9");
  Strings nested;
  host_.on_yield = [&] {
    host_.on_yield = nullptr;  // one nested reading, at the first yield
    nested = ReadBranch(registry_, host_, kRoot, "Other", true).ToStrings();
  };
  EXPECT_EQ(Read("S", true), (Strings{"S\\A\\A1", "S\\A\\A1  a1=2", "S\\A", "S\\A  a=1", "S\\B",
                                      "S\\B  b=3", "S", "S  s=0"}));
  EXPECT_EQ(nested, (Strings{"Other\\O1", "Other\\O1  o=9", "Other"}));
}

TEST_F(ReadBranchTest, KeyDeletedDuringTheWalkIsSkippedQuietly) {
  BuildSaA1B();
  int calls = 0;
  registry_.SetEnumerationHook([&] {
    // S's names (A, B) are collected by then: 2 value and 3 subkey calls.
    if (++calls == 6) registry_.RemoveKey(kRoot, "S\\B");
  });
  EXPECT_EQ(Read("S", true),
            (Strings{"S\\A\\A1", "S\\A\\A1  a1=2", "S\\A", "S\\A  a=1", "S", "S  s=0"}));
  EXPECT_EQ(registry_.open_key_count(), 0);
}

TEST_F(ReadBranchTest, ErrorAbandonsTheWalkAndKeepsWhatWasAppended) {
  BuildSaA1B();
  int yields = 0;
  host_.on_yield = [&] {
    if (++yields == 8) throw std::runtime_error("Out of memory");
  };
  EntryList entries;
  entries.push_back("stale");
  EXPECT_THROW(ReadBranch(registry_, host_, kRoot, "S", true, entries), std::runtime_error);
  // Yields 1-6: S's value, names A and B, A's value, name A1, A1's value;
  // 7-8: A1's block moved. The walk ends before A1 counts as finished.
  EXPECT_EQ(entries.ToStrings(), (Strings{"S\\A\\A1", "S\\A\\A1  a1=2"}));
  EXPECT_EQ(registry_.open_key_count(), 0);
}

TEST_F(ReadBranchTest, EveryReadingStartsEmpty) {
  BuildSaA1B();
  EntryList entries;
  ReadBranch(registry_, host_, kRoot, "S", true, entries);
  ReadBranch(registry_, host_, kRoot, "S\\B", false, entries);
  EXPECT_TRUE(entries.empty());
}

}  // namespace
}  // namespace RegStuff
