#include "engine/keyed_comparison.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "tests/engine/recording_host.h"

namespace RegStuff {

// Readable failures: rows as one line each, bytes escaped.
std::string Describe(const Change& row) {
  auto text = [](const std::string& bytes) {
    std::string out;
    for (const unsigned char c : bytes) {
      if (c >= 0x20 && c < 0x7f && c != '|') {
        out += static_cast<char>(c);
      } else {
        static constexpr char kHex[] = "0123456789abcdef";
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
    }
    return out;
  };
  auto value = [&](const std::optional<ValueRecord>& v) {
    return v ? text(v->name) + ":" + std::to_string(v->type) + ":" + text(v->data) : "-";
  };
  return std::to_string(static_cast<int>(row.kind)) + "|" +
         (row.subject == ChangeSubject::kKey ? "key" : "value") + "|" + text(row.key) + "|" +
         text(row.name) + "|" + value(row.before) + "|" + value(row.after) + "|" +
         std::to_string(row.time);
}
void PrintTo(const Change& row, std::ostream* out) { *out << Describe(row); }

namespace {

using mKestrelmark::testing::RecordingHost;
using platform::KeyTime;
using platform::kUnknownKeyTime;
using Rows = std::vector<Change>;

constexpr std::uint32_t kSz = 1, kBinary = 3, kDword = 4;

ValueRecord V(std::string name, std::uint32_t type, std::string data) {
  return {std::move(name), type, std::move(data)};
}
KeyRecordComplete K(std::string path, KeyTime time, std::vector<ValueRecord> values = {}) {
  return {std::move(path), time, true, std::move(values)};
}
KeyRecordComplete Unreadable(std::string path, KeyTime time) {
  return {std::move(path), time, false, {}};
}
CompleteReading Reading(std::vector<KeyRecordComplete> keys, bool include_values = true) {
  CompleteReading reading;
  reading.selection.root = platform::kHkeyCurrentUser;
  reading.selection.start_path = "R";
  reading.selection.include_values = include_values;
  reading.keys = std::move(keys);
  return reading;
}

Change KeyRow(ChangeKind kind, std::string key, KeyTime time) {
  Change row;
  row.kind = kind;
  row.subject = ChangeSubject::kKey;
  row.key = std::move(key);
  row.time = time;
  return row;
}
Change ValueRow(ChangeKind kind, std::string key, KeyTime time,
                std::optional<ValueRecord> before, std::optional<ValueRecord> after) {
  Change row;
  row.kind = kind;
  row.subject = ChangeSubject::kValue;
  row.key = std::move(key);
  row.name = (after ? after : before)->name;
  row.before = std::move(before);
  row.after = std::move(after);
  row.time = time;
  return row;
}

Rows Compare(const CompleteReading& old, const CompleteReading& now) {
  RecordingHost host;
  Rows rows = CompareComplete(old, now, host);
  EXPECT_EQ(host.yield_count, static_cast<int>(old.keys.size() + now.keys.size()));
  return rows;
}

using enum ChangeKind;

// Old times are never expected anywhere: only now's time may show.
constexpr KeyTime kOld = 7;

TEST(CompareCompleteTest, IdenticalReadingsGiveNoRows) {
  const CompleteReading reading =
      Reading({K("R", 100, {V("", kSz, "d"), V("x", kDword, "1234")}), Unreadable("R\\U", 101),
               K("R\\A", 102, {V("y", kBinary, "")})});
  EXPECT_EQ(Compare(reading, reading), Rows{});
  EXPECT_EQ(Compare(Reading({}), Reading({})), Rows{});
}

TEST(CompareCompleteTest, ValueRowsInNowOrderThenDeletedInOldOrder) {
  const CompleteReading old = Reading({K("R", kOld,
                                         {V("gone1", kSz, "a"), V("y", kDword, "b"),
                                          V("same", kSz, "s"), V("z", kSz, "c"),
                                          V("gone2", kSz, "e")})});
  const CompleteReading now = Reading({K("R", 100,
                                         {V("z", kBinary, "c"), V("w", kSz, "d"),
                                          V("same", kSz, "s"), V("y", kDword, "b2")})});
  EXPECT_EQ(Compare(old, now),
            (Rows{ValueRow(kChanged, "R", 100, V("z", kSz, "c"), V("z", kBinary, "c")),
                  ValueRow(kAdded, "R", 100, std::nullopt, V("w", kSz, "d")),
                  ValueRow(kChanged, "R", 100, V("y", kDword, "b"), V("y", kDword, "b2")),
                  ValueRow(kDeleted, "R", 100, V("gone1", kSz, "a"), std::nullopt),
                  ValueRow(kDeleted, "R", 100, V("gone2", kSz, "e"), std::nullopt)}));
}

TEST(CompareCompleteTest, ManyValuesPairAsFewDo) {
  // Past a handful of values a key's values are paired through a map.
  std::vector<ValueRecord> old_values, now_values;
  for (int i = 0; i < 20; ++i) old_values.push_back(V("v" + std::to_string(i), kSz, "x"));
  for (int i = 19; i >= 2; --i)
    now_values.push_back(V("v" + std::to_string(i), kSz, i == 10 ? "changed" : "x"));
  now_values.push_back(V("V1", kSz, "x"));
  EXPECT_EQ(Compare(Reading({K("R", kOld, old_values)}), Reading({K("R", 100, now_values)})),
            (Rows{ValueRow(kChanged, "R", 100, V("v10", kSz, "x"), V("v10", kSz, "changed")),
                  ValueRow(kAdded, "R", 100, std::nullopt, V("V1", kSz, "x")),
                  ValueRow(kDeleted, "R", 100, V("v0", kSz, "x"), std::nullopt),
                  ValueRow(kDeleted, "R", 100, V("v1", kSz, "x"), std::nullopt)}));
}

TEST(CompareCompleteTest, NameGivenTwicePairsInOrder) {
  const CompleteReading old = Reading({K("R", kOld, {V("x", kSz, "1"), V("x", kSz, "2")})});
  const CompleteReading now = Reading({K("R", 100, {V("x", kSz, "1")})});
  EXPECT_EQ(Compare(old, now),
            Rows{ValueRow(kDeleted, "R", 100, V("x", kSz, "2"), std::nullopt)});
}

struct NameCase {
  std::string old_name, now_name;
};
class ValueNameTest : public ::testing::TestWithParam<NameCase> {};

// Names match byte for byte: the same bytes are one value (changed here),
// anything else, even a change of case or of Unicode form, is another.
TEST_P(ValueNameTest, MatchesByBytes) {
  const auto& [old_name, now_name] = GetParam();
  const CompleteReading old = Reading({K("R", kOld, {V(old_name, kSz, "before")})});
  const CompleteReading now = Reading({K("R", 100, {V(now_name, kSz, "after")})});
  const Rows expected =
      old_name == now_name
          ? Rows{ValueRow(kChanged, "R", 100, V(old_name, kSz, "before"),
                          V(now_name, kSz, "after"))}
          : Rows{ValueRow(kAdded, "R", 100, std::nullopt, V(now_name, kSz, "after")),
                 ValueRow(kDeleted, "R", 100, V(old_name, kSz, "before"), std::nullopt)};
  EXPECT_EQ(Compare(old, now), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ValueNameTest,
    ::testing::Values(NameCase{"", ""}, NameCase{"", " "}, NameCase{"a  b", "a  b"},
                      NameCase{"a  b", "a b"}, NameCase{"=", "="}, NameCase{"a=b", "a"},
                      NameCase{"\\", "\\"}, NameCase{"\\", ""}, NameCase{"a\r\nb", "a\r\nb"},
                      NameCase{"a\r\nb", "a\nb"}, NameCase{"Run", "run"},
                      NameCase{"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
                      NameCase{"\xC3\xA9", "e\xCC\x81"},
                      NameCase{"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
                      NameCase{"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x81"},
                      NameCase{std::string("a\0b", 3), std::string("a\0c", 3)}));

TEST(CompareCompleteTest, KeyRenamedInCaseIsDeletedAndAdded) {
  const CompleteReading old = Reading({K("R", kOld), K("R\\Sub", kOld, {V("v", kSz, "1")})});
  const CompleteReading now = Reading({K("R", 100), K("R\\sub", 101, {V("v", kSz, "1")})});
  EXPECT_EQ(Compare(old, now),
            (Rows{KeyRow(kDeleted, "R\\Sub", kUnknownKeyTime),
                  ValueRow(kDeleted, "R\\Sub", kUnknownKeyTime, V("v", kSz, "1"), std::nullopt),
                  KeyRow(kAdded, "R\\sub", 101),
                  ValueRow(kAdded, "R\\sub", 101, std::nullopt, V("v", kSz, "1"))}));
}

// A monitored reading shares the values of the keys it did not read again
// with the last reading; a write to either side must leave the other as it
// was and show as a change, however it is made.
TEST(CompareCompleteTest, SharedValuesAreUnchangedUntilEitherSideWrites) {
  const CompleteReading old =
      Reading({K("R", kOld, {V("a", kSz, "1"), V("b", kDword, "2")}), K("R\\S", kOld)});
  CompleteReading now = old;
  ASSERT_TRUE(now.keys[0].values.SharesWith(old.keys[0].values));
  EXPECT_EQ(Compare(old, now), Rows{});

  now.keys[0].values[1].data = "3";
  EXPECT_EQ(old.keys[0].values[1].data, "2");
  CompleteReading appended = old;
  appended.keys[0].values.push_back(V("c", kSz, "4"));
  CompleteReading rewritten = old;
  for (ValueRecord& value : rewritten.keys[0].values) value.type = kBinary;
  EXPECT_EQ(old.keys[0].values.size(), 2u);
  EXPECT_EQ(old.keys[0].values[0].type, kSz);

  EXPECT_EQ(Compare(old, now), Rows{ValueRow(kChanged, "R", kOld, V("b", kDword, "2"),
                                             V("b", kDword, "3"))});
  EXPECT_EQ(Compare(old, appended),
            Rows{ValueRow(kAdded, "R", kOld, std::nullopt, V("c", kSz, "4"))});
  EXPECT_EQ(Compare(old, rewritten).size(), 2u);
}

TEST(CompareCompleteTest, DeletedSubtreeReportsEveryKeyAndValueParentsFirst) {
  const CompleteReading old =
      Reading({K("R", kOld), K("R\\A", kOld, {V("a1", kSz, "1")}),
               K("R\\A\\B", kOld, {V("b1", kDword, "2"), V("", kSz, "3")}),
               K("R\\A\\B\\C", kOld, {V("c1", kBinary, "4")}), K("R\\Z", kOld)});
  const CompleteReading now = Reading({K("R", 100), K("R\\Z", 101)});
  constexpr KeyTime kGone = kUnknownKeyTime;
  EXPECT_EQ(Compare(old, now),
            (Rows{KeyRow(kDeleted, "R\\A", kGone),
                  ValueRow(kDeleted, "R\\A", kGone, V("a1", kSz, "1"), std::nullopt),
                  KeyRow(kDeleted, "R\\A\\B", kGone),
                  ValueRow(kDeleted, "R\\A\\B", kGone, V("b1", kDword, "2"), std::nullopt),
                  ValueRow(kDeleted, "R\\A\\B", kGone, V("", kSz, "3"), std::nullopt),
                  KeyRow(kDeleted, "R\\A\\B\\C", kGone),
                  ValueRow(kDeleted, "R\\A\\B\\C", kGone, V("c1", kBinary, "4"), std::nullopt)}));
}

TEST(CompareCompleteTest, AddedSubtreeReportsEveryKeyAndValueWithNowTimes) {
  const CompleteReading old = Reading({K("R", kOld)});
  const CompleteReading now =
      Reading({K("R", 100), K("R\\A", 101, {V("a1", kSz, "1"), V("a2", kSz, "2")}),
               K("R\\A\\B", 102), K("R\\A\\B\\C", 103, {V("c1", kDword, "3")})});
  EXPECT_EQ(Compare(old, now),
            (Rows{KeyRow(kAdded, "R\\A", 101),
                  ValueRow(kAdded, "R\\A", 101, std::nullopt, V("a1", kSz, "1")),
                  ValueRow(kAdded, "R\\A", 101, std::nullopt, V("a2", kSz, "2")),
                  KeyRow(kAdded, "R\\A\\B", 102), KeyRow(kAdded, "R\\A\\B\\C", 103),
                  ValueRow(kAdded, "R\\A\\B\\C", 103, std::nullopt, V("c1", kDword, "3"))}));
}

TEST(CompareCompleteTest, KeyBecomingUnreadableIsOneRowWhateverVanishedBelowIt) {
  // R\W was really deleted: being next to the unreadable key in old's
  // order must not hide it.
  const CompleteReading old =
      Reading({K("R", kOld), K("R\\U", kOld, {V("u", kSz, "1")}),
               K("R\\U\\X", kOld, {V("x", kSz, "2")}), K("R\\U\\X\\Y", kOld),
               K("R\\W", kOld, {V("w", kSz, "3")}), K("R\\V", kOld)});
  const CompleteReading now = Reading({K("R", 100), Unreadable("R\\U", 101), K("R\\V", 102)});
  EXPECT_EQ(Compare(old, now),
            (Rows{KeyRow(kUnreadable, "R\\U", 101), KeyRow(kDeleted, "R\\W", kUnknownKeyTime),
                  ValueRow(kDeleted, "R\\W", kUnknownKeyTime, V("w", kSz, "3"), std::nullopt)}));
}

TEST(CompareCompleteTest, StartKeyBecomingUnreadableIsOneRow) {
  // A whole hive: the start key's path is empty, its subkeys have no "\".
  const CompleteReading old =
      Reading({K("", kOld, {V("v", kSz, "1")}), K("Software", kOld), K("Software\\X", kOld)});
  const CompleteReading now = Reading({Unreadable("", 100)});
  EXPECT_EQ(Compare(old, now), Rows{KeyRow(kUnreadable, "", 100)});
}

TEST(CompareCompleteTest, KeyReadableAgainBringsItsValuesAndSubkeysAsAdditions) {
  const CompleteReading old = Reading({K("R", kOld), Unreadable("R\\U", kOld)});
  const CompleteReading now =
      Reading({K("R", 100), K("R\\U", 101, {V("u", kSz, "1")}),
               K("R\\U\\X", 102, {V("x", kDword, "2")})});
  EXPECT_EQ(Compare(old, now),
            (Rows{KeyRow(kReadable, "R\\U", 101),
                  ValueRow(kAdded, "R\\U", 101, std::nullopt, V("u", kSz, "1")),
                  KeyRow(kAdded, "R\\U\\X", 102),
                  ValueRow(kAdded, "R\\U\\X", 102, std::nullopt, V("x", kDword, "2"))}));
}

TEST(CompareCompleteTest, UnreadableInBothGivesNoRowAndDeletedGivesKeyRowOnly) {
  const CompleteReading old = Reading({K("R", kOld), Unreadable("R\\Both", kOld),
                                       Unreadable("R\\Gone", kOld)});
  const CompleteReading now = Reading({K("R", 100), Unreadable("R\\Both", 101)});
  EXPECT_EQ(Compare(old, now), Rows{KeyRow(kDeleted, "R\\Gone", kUnknownKeyTime)});
}

TEST(CompareCompleteTest, KeysOnlyReadingsGiveKeyRowsOnly) {
  const CompleteReading old = Reading(
      {K("R", kOld), K("R\\Gone", kOld), K("R\\U", kOld), Unreadable("R\\Back", kOld)}, false);
  const CompleteReading now = Reading(
      {K("R", 100), Unreadable("R\\U", 101), K("R\\Back", 102), K("R\\New", 103)}, false);
  EXPECT_EQ(Compare(old, now),
            (Rows{KeyRow(kDeleted, "R\\Gone", kUnknownKeyTime), KeyRow(kUnreadable, "R\\U", 101),
                  KeyRow(kReadable, "R\\Back", 102), KeyRow(kAdded, "R\\New", 103)}));
}

TEST(CompareCompleteTest, ValuesAreComparedOnlyWhenBothReadingsHoldThem) {
  const CompleteReading keys_only = Reading({K("R", kOld)}, false);
  const CompleteReading full = Reading({K("R", 100, {V("v", kSz, "1")})});
  EXPECT_EQ(Compare(keys_only, full), Rows{});
  EXPECT_EQ(Compare(full, keys_only), Rows{});
}

TEST(CompareCompleteTest, DeletedKeysComeRightAfterTheSurvivingKeyBeforeThem) {
  const CompleteReading old =
      Reading({K("R", kOld), K("R\\A", kOld), K("R\\B", kOld, {V("b", kSz, "1")}),
               K("R\\B\\C", kOld), K("R\\D", kOld, {V("d", kSz, "1")})});
  const CompleteReading now =
      Reading({K("R", 100), K("R\\A", 101, {V("a", kSz, "1")}), K("R\\A\\N", 102),
               K("R\\D", 103, {V("d", kSz, "2")})});
  EXPECT_EQ(Compare(old, now),
            (Rows{ValueRow(kAdded, "R\\A", 101, std::nullopt, V("a", kSz, "1")),
                  KeyRow(kDeleted, "R\\B", kUnknownKeyTime),
                  ValueRow(kDeleted, "R\\B", kUnknownKeyTime, V("b", kSz, "1"), std::nullopt),
                  KeyRow(kDeleted, "R\\B\\C", kUnknownKeyTime), KeyRow(kAdded, "R\\A\\N", 102),
                  ValueRow(kChanged, "R\\D", 103, V("d", kSz, "1"), V("d", kSz, "2"))}));
}

TEST(CompareCompleteTest, DeletedKeysBeforeEverySurvivorComeFirst) {
  const CompleteReading old = Reading({K("R", kOld), K("R\\A", kOld), K("S", kOld)});
  const CompleteReading now = Reading({K("Q", 100), K("S", 101)});
  EXPECT_EQ(Compare(old, now),
            (Rows{KeyRow(kDeleted, "R", kUnknownKeyTime), KeyRow(kDeleted, "R\\A", kUnknownKeyTime),
                  KeyRow(kAdded, "Q", 100)}));
}

// ---- Differential: random trees, random edits, a plain quadratic model.

struct Node {
  std::string name;
  KeyTime time = 1;
  bool readable = true;
  std::vector<ValueRecord> values;
  std::vector<Node> children;
};

class RandomTrees {
 public:
  explicit RandomTrees(unsigned seed) : random_(seed) {}

  Node Tree() {
    Node root{"R", Time(), true, Values(), {}};
    Grow(root, 0);
    return root;
  }

  void Edit(Node& node, int depth) {
    node.time = Time();
    if (Chance(8)) {
      node.readable = !node.readable;
      if (node.readable) {
        node.values = Values();
        Grow(node, depth);
      }
    }
    std::vector<ValueRecord> edited;
    for (ValueRecord& value : node.values) {
      if (Chance(12)) continue;
      if (Chance(12)) value.data = Data();
      if (Chance(10)) value.type = Type();
      edited.push_back(value);
    }
    if (Chance(15)) AddValue(edited);
    node.values = std::move(edited);
    std::vector<Node> children;
    for (Node& child : node.children) {
      if (Chance(10)) continue;
      Edit(child, depth + 1);
      children.push_back(std::move(child));
    }
    node.children = std::move(children);
    if (depth < 4 && Chance(10)) AddChild(node, depth);
  }

  static CompleteReading Flatten(const Node& root) {
    CompleteReading reading = Reading({});
    std::string path;
    Walk(root, path, reading);
    return reading;
  }

 private:
  static void Walk(const Node& node, std::string& path, CompleteReading& out) {
    const std::size_t length = path.size();
    if (!path.empty()) path += '\\';
    path += node.name;
    out.keys.push_back(
        {path, node.time, node.readable, node.readable ? node.values : std::vector<ValueRecord>{}});
    if (node.readable)
      for (const Node& child : node.children) Walk(child, path, out);
    path.resize(length);
  }

  bool Chance(int percent) { return std::uniform_int_distribution<int>(0, 99)(random_) < percent; }
  int Int(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  KeyTime Time() { return static_cast<KeyTime>(Int(1, 1'000'000)); }
  std::uint32_t Type() {
    static constexpr std::uint32_t kTypes[] = {0, 1, 3, 4, 7, 11, 0xFFFFFFFF};
    return kTypes[Int(0, 6)];
  }
  std::string Data() {
    static const std::string kData[] = {"", "a", std::string("b\0c", 3), "\xFF\xFE",
                                        "long data here"};
    return kData[Int(0, 4)];
  }
  std::string Name(bool for_key) {
    static const char* const kNames[] = {"a",          "A",    "a  b", "=",    "x\r\ny",
                                         "\xC3\xA9",   "\\",   "",     "b",    "\xF0\x9F\x98\x80"};
    const int pick = Int(0, 9 + 14);
    std::string name = pick < 10 ? kNames[pick] : "v" + std::to_string(pick);
    if (for_key && (name.empty() || name == "\\")) name = "k";
    return name;
  }
  void AddValue(std::vector<ValueRecord>& values) {
    ValueRecord value{Name(false), Type(), Data()};
    for (const ValueRecord& held : values)
      if (held.name == value.name) return;
    values.push_back(std::move(value));
  }
  std::vector<ValueRecord> Values() {
    std::vector<ValueRecord> values;
    const int count = Chance(20) ? Int(9, 16) : Int(0, 4);
    for (int i = 0; i < count; ++i) AddValue(values);
    return values;
  }
  void AddChild(Node& parent, int depth) {
    Node child{Name(true), Time(), !Chance(6), Values(), {}};
    for (const Node& held : parent.children)
      if (held.name == child.name) return;
    Grow(child, depth + 1);
    parent.children.push_back(std::move(child));
  }
  void Grow(Node& node, int depth) {
    if (depth >= 4) return;
    const int count = Int(0, 3);
    for (int i = 0; i < count; ++i) AddChild(node, depth);
  }

  std::mt19937 random_;
};

// The rows by the rules as stated, each key and value looked up by a scan.
Rows Model(const CompleteReading& old, const CompleteReading& now) {
  auto find = [](const CompleteReading& reading, const std::string& path) {
    for (const KeyRecordComplete& key : reading.keys)
      if (key.path == path) return &key;
    return static_cast<const KeyRecordComplete*>(nullptr);
  };
  auto find_value = [](const ValueList& values, const std::string& name) {
    for (const ValueRecord& value : values)
      if (value.name == name) return &value;
    return static_cast<const ValueRecord*>(nullptr);
  };
  Rows rows;
  for (const KeyRecordComplete& key : now.keys) {
    const KeyRecordComplete* before = find(old, key.path);
    if (before == nullptr || !before->readable) {
      if (before == nullptr || key.readable)
        rows.push_back(KeyRow(before == nullptr ? kAdded : kReadable, key.path, key.time));
      for (const ValueRecord& value : key.values)
        rows.push_back(ValueRow(kAdded, key.path, key.time, std::nullopt, value));
      continue;
    }
    if (!key.readable) {
      rows.push_back(KeyRow(kUnreadable, key.path, key.time));
      continue;
    }
    for (const ValueRecord& value : key.values) {
      const ValueRecord* old_value = find_value(before->values, value.name);
      if (old_value == nullptr)
        rows.push_back(ValueRow(kAdded, key.path, key.time, std::nullopt, value));
      else if (!(*old_value == value))
        rows.push_back(ValueRow(kChanged, key.path, key.time, *old_value, value));
    }
    for (const ValueRecord& value : before->values)
      if (find_value(key.values, value.name) == nullptr)
        rows.push_back(ValueRow(kDeleted, key.path, key.time, value, std::nullopt));
  }
  for (const KeyRecordComplete& key : old.keys) {
    if (find(now, key.path) != nullptr) continue;
    // The longest path above it that survives decides.
    const KeyRecordComplete* survivor = nullptr;
    for (const KeyRecordComplete& candidate : now.keys) {
      const bool above = candidate.path.empty()
                             ? !key.path.empty()
                             : key.path.starts_with(candidate.path + "\\");
      if (above && (survivor == nullptr || candidate.path.size() > survivor->path.size()))
        survivor = &candidate;
    }
    if (survivor != nullptr && !survivor->readable) continue;
    rows.push_back(KeyRow(kDeleted, key.path, kUnknownKeyTime));
    for (const ValueRecord& value : key.values)
      rows.push_back(ValueRow(kDeleted, key.path, kUnknownKeyTime, value, std::nullopt));
  }
  return rows;
}

std::vector<std::string> Sorted(const Rows& rows) {
  std::vector<std::string> texts;
  for (const Change& row : rows) texts.push_back(Describe(row));
  std::sort(texts.begin(), texts.end());
  return texts;
}

// Old's keys and values with the rows applied, as path -> sorted values.
using State = std::map<std::string, std::vector<std::string>>;
State StateOf(const CompleteReading& reading) {
  State state;
  for (const KeyRecordComplete& key : reading.keys) {
    std::vector<std::string>& values = state[key.path];
    for (const ValueRecord& value : key.values)
      values.push_back(Describe(ValueRow(kAdded, "", 0, std::nullopt, value)));
    std::sort(values.begin(), values.end());
  }
  return state;
}
void Apply(const Rows& rows, State& state) {
  // Deleted keys go at the end, once their own rows have taken every value.
  std::vector<std::string> deleted;
  auto text = [](const ValueRecord& value) {
    return Describe(ValueRow(kAdded, "", 0, std::nullopt, value));
  };
  for (const Change& row : rows) {
    SCOPED_TRACE(Describe(row));
    const bool held = state.contains(row.key);
    if (row.subject == ChangeSubject::kKey) {
      if (row.kind == kAdded) {
        ASSERT_FALSE(held);
        state[row.key];
        continue;
      }
      ASSERT_TRUE(held);
      if (row.kind == kDeleted) deleted.push_back(row.key);
      if (row.kind == kUnreadable) {
        state[row.key].clear();
        const std::string below = row.key.empty() ? "" : row.key + "\\";
        for (auto it = state.upper_bound(row.key); it != state.end();)
          it = it->first.starts_with(below) ? state.erase(it) : std::next(it);
      }
      continue;
    }
    ASSERT_TRUE(held);
    std::vector<std::string>& values = state[row.key];
    if (row.before) {
      const auto it = std::find(values.begin(), values.end(), text(*row.before));
      ASSERT_NE(it, values.end());
      values.erase(it);
    }
    if (row.after) values.push_back(text(*row.after));
    std::sort(values.begin(), values.end());
  }
  for (const std::string& path : deleted) {
    EXPECT_EQ(state[path], std::vector<std::string>{}) << path;
    state.erase(path);
  }
}

TEST(CompareCompleteDifferentialTest, RandomEditsGiveTheModelsRowsAndRebuildNow) {
  for (unsigned seed = 1; seed <= 400; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    RandomTrees trees(seed);
    Node tree = trees.Tree();
    const CompleteReading old = RandomTrees::Flatten(tree);
    trees.Edit(tree, 0);
    const CompleteReading now = RandomTrees::Flatten(tree);

    const Rows rows = Compare(old, now);
    ASSERT_EQ(Sorted(rows), Sorted(Model(old, now)));
    RecordingHost host;
    ASSERT_EQ(CompareComplete(old, now, host), rows);  // the same order every time

    State state = StateOf(old);
    Apply(rows, state);
    if (HasFatalFailure()) return;
    ASSERT_EQ(state, StateOf(now));
  }
}

}  // namespace
}  // namespace RegStuff
