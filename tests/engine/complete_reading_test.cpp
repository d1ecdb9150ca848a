// The complete reading comes from the same walk as the entry list: the list
// must stay exactly the plain reading's, and the complete reading must hold
// every key and every value, whatever its type, size or name.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/entry_text.h"
#include "engine/reg_stuff.h"
#include "platform/memory/memory_registry.h"
#include "tests/engine/recording_host.h"

namespace RegStuff {
namespace {

using namespace std::string_literals;
using mKestrelmark::testing::RecordingHost;
constexpr platform::RootKey kRoot = platform::kHkeyCurrentUser;

class CompleteReadingTest : public ::testing::Test {
 protected:
  CompleteReading Read(const std::string& start = "W", bool values = true) {
    CompleteReading complete;
    ReadBranchComplete(registry_, host_, {kRoot, start, values}, entries_, complete);
    return complete;
  }
  static std::vector<std::string> Paths(const CompleteReading& reading) {
    std::vector<std::string> paths;
    for (const KeyRecordComplete& key : reading.keys) paths.push_back(key.path);
    return paths;
  }

  platform::MemoryRegistry registry_;
  RecordingHost host_;
  EntryList entries_;
};

TEST_F(CompleteReadingTest, EveryKeyBeforeItsSubkeysAndEveryValueAsStored) {
  registry_.PutValue(kRoot, "W", "", platform::kRegSz, "C\0O\0M\0\0\0"s);  // the default value
  registry_.PutValue(kRoot, "W\\A", "blob", platform::kRegBinary, std::string(5000, '\x7f'));
  registry_.PutValue(kRoot, "W\\A", "q", 11, "\x01\x02\x03\x04\x05\x06\x07\x08"s);
  registry_.PutValue(kRoot, "W\\A", "odd", platform::kRegSz, "a\0b"s);  // no terminator, odd
  registry_.PutValue(kRoot, "W\\A", "two  blanks=x", 0x12345678, "");
  registry_.AddKey(kRoot, "W\\A\\Deep");
  registry_.AddKey(kRoot, "W\\B");
  const CompleteReading reading = Read();

  EXPECT_EQ(Paths(reading), (std::vector<std::string>{"W", "W\\A", "W\\A\\Deep", "W\\B"}));
  ASSERT_EQ(reading.keys[0].values.size(), 1u);
  EXPECT_EQ(reading.keys[0].values[0], (ValueRecord{"", platform::kRegSz, "C\0O\0M\0\0\0"s}));
  const std::vector<ValueRecord> expected{
      {"blob", platform::kRegBinary, std::string(5000, '\x7f')},
      {"q", 11, "\x01\x02\x03\x04\x05\x06\x07\x08"s},
      {"odd", platform::kRegSz, "a\0b"s},
      {"two  blanks=x", 0x12345678, ""}};
  EXPECT_EQ(reading.keys[1].values, expected);
  EXPECT_EQ(reading.selection, (mKestrelmark::BranchSelection{kRoot, "W", true}));
  for (const KeyRecordComplete& key : reading.keys) {
    EXPECT_TRUE(key.readable) << key.path;
    EXPECT_NE(key.time, platform::kUnknownKeyTime) << key.path;
  }
}

TEST_F(CompleteReadingTest, AnUnreadableKeyIsOneKeyAndAMissingStartKeyNone) {
  registry_.PutDword(kRoot, "W\\Locked\\Below", "v", 1);
  registry_.PutDword(kRoot, "W\\Open", "v", 2);
  registry_.DenyOpen(kRoot, "W\\Locked");
  const CompleteReading reading = Read();
  EXPECT_EQ(Paths(reading), (std::vector<std::string>{"W", "W\\Locked", "W\\Open"}));
  EXPECT_FALSE(reading.keys[1].readable);
  EXPECT_TRUE(reading.keys[1].values.empty());
  EXPECT_NE(reading.keys[1].time, platform::kUnknownKeyTime);  // as its parent lists it

  EXPECT_TRUE(Read("Nowhere").keys.empty());
  EXPECT_TRUE(entries_.empty());
}

TEST_F(CompleteReadingTest, KeysOnlyHoldsNoValues) {
  registry_.PutDword(kRoot, "W\\A", "v", 1);
  const CompleteReading reading = Read("W", false);
  EXPECT_EQ(Paths(reading), (std::vector<std::string>{"W", "W\\A"}));
  for (const KeyRecordComplete& key : reading.keys) EXPECT_TRUE(key.values.empty());
}

// The entry list of the complete walk is the plain reading's, byte for
// byte, on random branches of every type and size.
TEST_F(CompleteReadingTest, TheEntryListIsThePlainReadingsOnRandomBranches) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    platform::MemoryRegistry registry;
    std::mt19937 random(seed);
    std::vector<std::string> keys{"W"};
    for (int i = 0; i < 60; ++i) {
      const std::string parent = keys[random() % keys.size()];
      switch (random() % 4) {
        case 0:
          keys.push_back(parent + "\\k" + std::to_string(i));
          registry.AddKey(kRoot, keys.back());
          break;
        case 1:
          registry.DenyOpen(kRoot, parent);
          break;
        default: {
          const std::uint32_t type = random() % 13;
          std::string data(random() % 3 == 0 ? 1500 : random() % 9, '\0');
          for (char& c : data) c = static_cast<char>(random() % 4 == 0 ? 0 : 'a' + random() % 26);
          registry.PutValue(kRoot, parent, random() % 5 == 0 ? "" : "v" + std::to_string(i), type,
                            data);
        }
      }
    }
    for (const bool values : {true, false}) {
      CompleteReading complete;
      ReadBranchComplete(registry, host_, {kRoot, "W", values}, entries_, complete);
      EXPECT_EQ(entries_.ToStrings(), ReadBranch(registry, host_, kRoot, "W", values).ToStrings());
    }
  }
}

// The conversion the complete walk makes its string entries with, as raw
// bytes: what the A function gives under the UTF-8 code page, or false
// where the walk must ask the A function itself.
TEST(Utf8FromUtf16leTest, WellFormedTextConvertsAndTheRestIsRefused) {
  const struct {
    std::string utf16le;
    std::optional<std::string> utf8;
  } cases[] = {
      {"", ""s},
      {"a\0\0\0"s, "a\0"s},
      {"\xe9\x00\x75\x93"s, "\xc3\xa9\xe9\x8d\xb5"s},           // U+00E9 U+9375
      {"\xff\x07\x00\x08\xfd\xff"s, "\xdf\xbf\xe0\xa0\x80\xef\xbf\xbd"s},
      {"\x3d\xd8\x00\xde"s, "\xf0\x9f\x98\x80"s},                // U+1F600, a pair
      {"\xff\xdb\xff\xdf"s, "\xf4\x8f\xbf\xbf"s},                // U+10FFFF
      {"a\0b"s, std::nullopt},                                       // odd length
      {"\x3d\xd8"s, std::nullopt},                                    // high half at the end
      {"\x3d\xd8\x61\x00"s, std::nullopt},                            // high half, no low
      {"\x00\xde\x3d\xd8"s, std::nullopt},                            // low before high
  };
  for (const auto& [utf16le, utf8] : cases) {
    std::string out = "kept";
    const bool converted = AppendUtf8FromUtf16le(utf16le, out);
    EXPECT_EQ(converted, utf8.has_value()) << ::testing::PrintToString(utf16le);
    EXPECT_EQ(out, "kept" + utf8.value_or("")) << ::testing::PrintToString(utf16le);
  }
}

}  // namespace
}  // namespace RegStuff
