#include "engine/entry_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <memory>
#include <string>

#include "platform/registry.h"

namespace RegStuff {
namespace {

using namespace std::string_literals;

struct EntryCase {
  const char* label;
  std::string name;
  std::uint32_t type;
  std::string data;  // raw bytes as the registry reports them
  std::optional<std::string> entry;
};

class EntryTextTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(EntryTextTest, ValueBecomesItsEntry) {
  const EntryCase& c = GetParam();
  EXPECT_EQ(ValueEntryText("Soft\\Key", c.name, c.type, c.data), c.entry) << c.label;
}

const EntryCase kEntryCases[] = {
    {"string abc", "Name", platform::kRegSz, "abc\0"s, "Soft\\Key  Name=abc"},
    {"terminator only", "Name", platform::kRegSz, "\0"s, "Soft\\Key  Name="},
    {"zero-byte string", "Name", platform::kRegSz, "", "Soft\\Key  Name"},
    {"last byte dropped even when not NUL", "N", platform::kRegSz, "abc", "Soft\\Key  N=ab"},
    {"embedded NUL kept", "N", platform::kRegSz, "a\0b\0"s, "Soft\\Key  N=a\0b"s},
    {"high bytes unchanged", "N\xC3\xA9", platform::kRegSz, "\xE4\xB8\xAD\0"s,
     "Soft\\Key  N\xC3\xA9=\xE4\xB8\xAD"},
    {"line break kept", "N", platform::kRegSz, "a\r\nb\0"s, "Soft\\Key  N=a\r\nb"},
    {"DWORD 1", "D", platform::kRegDword, "\x01\0\0\0"s, "Soft\\Key  D=&H00000001"},
    {"DWORD 10", "D", platform::kRegDword, "\x0A\0\0\0"s, "Soft\\Key  D=&H0000000A"},
    {"DWORD 255", "D", platform::kRegDword, "\xFF\0\0\0"s, "Soft\\Key  D=&H000000FF"},
    {"DWORD 3,000,000,000", "D", platform::kRegDword, "\x00\x5E\xD0\xB2"s,
     "Soft\\Key  D=&HB2D05E00"},
    {"DWORD of two bytes", "D", platform::kRegDword, "\x34\x12"s, "Soft\\Key  D=&H00001234"},
    {"DWORD of eight bytes uses four", "D", platform::kRegDword, "\x01\x02\x03\x04\x05\x06\x07\x08"s,
     "Soft\\Key  D=&H04030201"},
    {"DWORD of zero bytes", "D", platform::kRegDword, "", "Soft\\Key  D"},
    {"default value empty", "", platform::kRegSz, "", "Soft\\Key  "},
    {"default value empty DWORD", "", platform::kRegDword, "", "Soft\\Key  "},
    {"default value with data", "", platform::kRegSz, "x\0"s, std::nullopt},
    {"default value terminator only", "", platform::kRegSz, "\0"s, std::nullopt},
    {"expandable string", "E", platform::kRegExpandSz, "%TEMP%\0"s, std::nullopt},
    {"binary", "B", platform::kRegBinary, "\x01\x02"s, std::nullopt},
    {"multi-string", "M", platform::kRegMultiSz, "a\0b\0\0"s, std::nullopt},
    {"zero-byte binary", "B", platform::kRegBinary, "", std::nullopt},
    {"type none", "N", platform::kRegNone, "", std::nullopt},
    {"1024-byte string", "S", platform::kRegSz, std::string(1023, 'x') + '\0',
     "Soft\\Key  S=" + std::string(1023, 'x')},
    {"1025-byte string", "S", platform::kRegSz, std::string(1024, 'x') + '\0', std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Rules, EntryTextTest, ::testing::ValuesIn(kEntryCases));

TEST(EntryText, NameCharactersCountsUtf16Units) {
  EXPECT_EQ(NameCharacters(""), 0u);
  EXPECT_EQ(NameCharacters("abc"), 3u);
  EXPECT_EQ(NameCharacters("\xCE\xB1\xCE\xB2"), 2u);          // Greek
  EXPECT_EQ(NameCharacters("\xE4\xB8\xAD\xE6\x96\x87"), 2u);  // Chinese
  EXPECT_EQ(NameCharacters("\xF0\x9F\x98\x80"), 2u);          // a surrogate pair
}

TEST(EntryText, RootKeyValuesStartWithTwoSpaces) {
  EXPECT_EQ(ValueEntryText("", "Name", platform::kRegSz, "v\0"s), "  Name=v");
  EXPECT_EQ(ValueEntryText("", "", platform::kRegSz, ""), "  ");
}

TEST(EntryText, AppendAddsExactlyOneEntryOrNone) {
  EntryList list;
  list.push_back("Key");
  EXPECT_FALSE(AppendValueEntry(list, "Key", "B", platform::kRegBinary, "\x01"));
  EXPECT_FALSE(AppendValueEntry(list, "Key", "", platform::kRegSz, "x\0"s));
  EXPECT_TRUE(AppendValueEntry(list, "Key", "S", platform::kRegSz, "v\0"s));
  EXPECT_EQ(list.ToStrings(), (std::vector<std::string>{"Key", "Key  S=v"}));
}

TEST(EntryList, KeepsEmptyAndBinaryEntriesApart) {
  EntryList list;
  list.push_back("");
  list.push_back("a\0b"s);
  list.push_back("");
  list.AppendPiece("c");
  list.AppendPiece('d');
  list.DiscardPieces();
  list.AppendPiece("e");
  list.CommitEntry();
  EXPECT_EQ(list.ToStrings(), (std::vector<std::string>{"", "a\0b"s, "", "e"}));
  list.TruncateTo(2);
  EXPECT_EQ(list.ToStrings(), (std::vector<std::string>{"", "a\0b"s}));
  list.push_back("f");
  EXPECT_EQ(list.ToStrings(), (std::vector<std::string>{"", "a\0b"s, "f"}));
  EXPECT_EQ(list.byte_size(), 4u);
}

// The index grows by chunks of 1,024, 2,048, 4,096, ... entries: every entry
// keeps its text across the chunk edges, through truncation and regrowth.
TEST(EntryList, EntriesStayInPlaceAcrossIndexChunks) {
  EntryList list;
  auto text = [](std::size_t i, char tag) { return std::to_string(i) + tag; };
  for (std::size_t i = 0; i < 8000; ++i) list.push_back(text(i, 'a'));
  ASSERT_EQ(list.size(), 8000u);
  for (std::size_t i = 0; i < 8000; ++i) ASSERT_EQ(list[i], text(i, 'a')) << i;
  list.TruncateTo(1500);
  for (std::size_t i = 1500; i < 4000; ++i) list.push_back(text(i, 'b'));
  ASSERT_EQ(list.size(), 4000u);
  EXPECT_EQ(list[1023], "1023a");
  EXPECT_EQ(list[1024], "1024a");
  EXPECT_EQ(list[1499], "1499a");
  for (std::size_t i = 1500; i < 4000; ++i) ASSERT_EQ(list[i], text(i, 'b')) << i;
  list.clear();
  list.reserve(3000);
  list.push_back("x");
  EXPECT_EQ(list.ToStrings(), std::vector<std::string>{"x"});
}

// A large list is given back in pieces with yields between them, and
// both it and a list moved from are empty and fit for the next reading.
TEST(EntryList, ReleasesInPiecesAndMovedFromListsStayUsable) {
  EntryList list;
  const std::string text(1000, 'v');
  for (int i = 0; i < 40000; ++i) list.push_back(text);  // 40 MB of texts
  int yields = 0;
  list.ReleaseInPieces([&] { ++yields; });
  EXPECT_GE(yields, 4);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.byte_size(), 0u);
  list.push_back("after");
  EXPECT_EQ(list.ToStrings(), std::vector<std::string>{"after"});

  EntryList taken = std::move(list);
  EXPECT_TRUE(list.empty());
  for (int i = 0; i < 3000; ++i) list.push_back(std::to_string(i));
  EXPECT_EQ(list[2999], "2999");
  EXPECT_EQ(taken.ToStrings(), std::vector<std::string>{"after"});
}

// Entries taken over from another list share its texts: through a chain of
// lists (each taking from the last), whatever the lender does afterwards
// (cleared, truncated and refilled, released), the taker's texts stay.
TEST(EntryList, SharedEntriesKeepTheirTextsWhateverTheLenderDoes) {
  auto text = [](std::size_t i, char tag) { return std::string(300, tag) + std::to_string(i); };
  auto first = std::make_unique<EntryList>();
  for (std::size_t i = 0; i < 9000; ++i) first->push_back(text(i, 'a'));  // three blocks
  EntryList second;
  second.push_back("own");
  second.AppendShared(*first, 10, 8000);
  second.push_back("own again");
  second.AppendShared(*first, 8500, 9000);
  EntryList third;
  third.AppendShared(second, 0, second.size());  // own and shared entries of second
  third.push_back("third's");
  const std::size_t taken = 1 + 7990 + 1 + 500;
  ASSERT_EQ(second.size(), taken);
  EXPECT_EQ(second.byte_size(), 3u + 9u + [&] {
    std::size_t bytes = 0;
    for (std::size_t i = 10; i < 8000; ++i) bytes += text(i, 'a').size();
    for (std::size_t i = 8500; i < 9000; ++i) bytes += text(i, 'a').size();
    return bytes;
  }());
  EXPECT_LE(second.held_bytes(), 4u << 20);  // three lent blocks and its own

  first->TruncateTo(5);
  for (std::size_t i = 5; i < 9000; ++i) first->push_back(text(i, 'z'));
  first->clear();
  first->push_back("refilled");
  second.TruncateTo(1 + 7990);  // drops "own again" and the second range
  second.push_back("new own");
  first.reset();
  auto expect_taken = [&](const EntryList& list, std::size_t at) {
    EXPECT_EQ(list[at], "own");
    for (std::size_t i = 10; i < 8000; ++i) ASSERT_EQ(list[at + 1 + i - 10], text(i, 'a')) << i;
  };
  expect_taken(second, 0);
  EXPECT_EQ(second[1 + 7990], "new own");
  EXPECT_EQ(second.size(), 1u + 7990 + 1);
  expect_taken(third, 0);
  EXPECT_EQ(third[1 + 7990], "own again");
  EXPECT_EQ(third[taken - 1], text(8999, 'a'));
  EXPECT_EQ(third[taken], "third's");
  second.ReleaseInPieces([] {});
  expect_taken(third, 0);
}

}  // namespace
}  // namespace RegStuff
