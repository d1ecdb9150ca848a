// The complete mode's rows: the type names, key times, every data encoding
// with its malformed shapes, which members each kind of change has, and the
// text form read back field by field.
#include "cli/change_rows.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/cli/json_reader.h"

namespace cli {
namespace {

using namespace std::string_literals;
using RegStuff::Change;
using RegStuff::ChangeKind;
using RegStuff::ChangeSubject;
using RegStuff::ValueRecord;

// A strict JSON check of one row: one value, then "\n" and nothing else;
// numbers only as the writer makes them (unsigned integers, no leading 0).
class StrictJson {
 public:
  static bool IsRow(std::string_view text) {
    if (text.empty() || text.back() != '\n') return false;
    StrictJson json{text.substr(0, text.size() - 1)};
    return json.Value() && json.at_ == json.text_.size();
  }

 private:
  explicit StrictJson(std::string_view text) : text_(text) {}
  bool Eat(char c) { return at_ < text_.size() && text_[at_] == c && ++at_; }
  bool Value() {
    if (Eat('{')) return List('}', true);
    if (Eat('[')) return List(']', false);
    if (at_ < text_.size() && text_[at_] == '"') return String();
    if (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
      if (text_[at_++] == '0') return true;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      return true;
    }
    for (std::string_view word : {"true", "false", "null"}) {
      if (text_.substr(at_, word.size()) == word) return (at_ += word.size()), true;
    }
    return false;
  }
  bool List(char close, bool members) {
    if (Eat(close)) return true;
    do {
      if (members && !(String() && Eat(':'))) return false;
      if (!Value()) return false;
    } while (Eat(','));
    return Eat(close);
  }
  bool String() {
    if (!Eat('"')) return false;
    while (at_ < text_.size()) {
      const unsigned char c = static_cast<unsigned char>(text_[at_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') continue;
      if (at_ >= text_.size()) return false;
      const char e = text_[at_++];
      if (e == 'u') {
        for (int i = 0; i < 4; ++i, ++at_) {
          if (at_ >= text_.size() || !std::isxdigit(static_cast<unsigned char>(text_[at_])))
            return false;
        }
      } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
        return false;
      }
    }
    return false;
  }
  std::string_view text_;
  std::size_t at_ = 0;
};

std::string Json(const Change& change) {
  std::string out;
  AppendChangeJson(out, change, platform::kHkeyCurrentUser);
  EXPECT_TRUE(StrictJson::IsRow(out)) << out;
  return out;
}

Change Value(ChangeKind kind, std::optional<ValueRecord> before, std::optional<ValueRecord> after,
             platform::KeyTime time = 0) {
  return Change{kind, ChangeSubject::kValue, "Soft\\Run", "v", before, after, time};
}

TEST(ChangeRowsTest, TypeNamesAndUnknownNumbers) {
  std::string names;
  for (std::uint32_t type = 0; type < 12; ++type) names += RegistryTypeName(type) + " ";
  EXPECT_EQ(names,
            "REG_NONE REG_SZ REG_EXPAND_SZ REG_BINARY REG_DWORD REG_DWORD_BIG_ENDIAN REG_LINK "
            "REG_MULTI_SZ REG_RESOURCE_LIST REG_FULL_RESOURCE_DESCRIPTOR "
            "REG_RESOURCE_REQUIREMENTS_LIST REG_QWORD ");
  EXPECT_EQ(RegistryTypeName(12), "0x0000000c");
  EXPECT_EQ(RegistryTypeName(0xABCDEF01u), "0xabcdef01");
}

TEST(ChangeRowsTest, FileTimesAsIsoUtc) {
  const std::pair<platform::KeyTime, const char*> cases[] = {
      {0, ""},
      {1, "1601-01-01T00:00:00.000Z"},
      {116444736000000000, "1970-01-01T00:00:00.000Z"},
      {94405824000000000, "1900-03-01T00:00:00.000Z"},  // 1900 had no 29 February
      {125962992000000000, "2000-02-29T12:00:00.000Z"},
      {133537247999999999, "2024-02-29T23:59:59.999Z"},  // cut, not rounded
      {134413700641230000, "2026-12-10T09:54:24.123Z"},
      {157520160000000000, "2100-03-01T00:00:00.000Z"},
      {~0ull, "60056-05-28T05:36:10.955Z"},
  };
  for (const auto& [time, text] : cases) EXPECT_EQ(FileTimeToIso8601(time), text) << time;
}

TEST(ChangeRowsTest, DataEncodings) {
  struct Case {
    std::uint32_t type;
    std::string bytes;
    std::string data;  // what follows "data": in the row
  };
  const std::string hex = ",\"encoding\":\"hex\"";
  const Case cases[] = {
      {1, "a\0b\0\0\0"s, R"("ab")"},
      {1, "\0\0"s, R"("")"},
      {2, "\"\0\\\0\n\0\0\0"s, R"("\"\\\n")"},
      {6, "\x3d\xd8\x00\xde\0\0"s, "\"\xF0\x9F\x98\x80\""},     // a pair: U+1F600
      {1, "a\0\0"s, R"("610000")" + hex},                       // odd length
      {1, "a\0b\0"s, R"("61006200")" + hex},                    // no terminator
      {1, "a\0\0\0b\0\0\0"s, R"("6100000062000000")" + hex},    // inner NUL
      {1, "a\0\0\0\0\0"s, R"("610000000000")" + hex},           // two terminators
      {1, "\x3d\xd8\0\0"s, R"("3dd80000")" + hex},              // lone high surrogate
      {1, "\x00\xde\0\0"s, R"("00de0000")" + hex},              // lone low surrogate
      {1, "\x3d\xd8\x00\xe0\0\0"s, R"("3dd800e00000")" + hex},  // high, then no low
      {1, "", R"("")" + hex},
      {7, "a\0\0\0b\0\0\0\0\0"s, R"(["a","b"])"},
      {7, "\0\0"s, "[]"},
      {7, "\0\0\0\0"s, R"([""])"},
      {7, "a\0\0\0\0\0\0\0"s, R"(["a",""])"},
      {7, "a\0\0\0b\0\0\0"s, R"("6100000062000000")" + hex},  // no final NUL
      {7, "a\0b\0\0\0"s, R"("610062000000")" + hex},
      {7, "", R"("")" + hex},
      {4, "\x78\x56\x34\x12", "305419896"},
      {4, "\x01\x02\x03", R"("010203")" + hex},
      {5, "\0\0\x01\x02"s, "258"},
      {11, std::string(8, '\xFF'), "18446744073709551615"},
      {11, "\x01\0\0\0"s, R"("01000000")" + hex},
      {3, "\xAB\x00"s, R"("ab00")" + hex},
      {0x20, "\x01", R"("01")" + hex},
  };
  for (const Case& c : cases) {
    const std::string row =
        Json(Value(ChangeKind::kAdded, std::nullopt, ValueRecord{"v", c.type, c.bytes}));
    const std::size_t at = row.find("\"data\":") + 7;
    EXPECT_EQ(row.substr(at, row.size() - 2 - at), c.data) << row;
  }
}

TEST(ChangeRowsTest, MembersInOrderForEachKindOfChange) {
  const ValueRecord one{"v", 4, "\x01\0\0\0"s};
  const ValueRecord text{"v", 1, "x\0\0\0"s};
  EXPECT_EQ(Json(Value(ChangeKind::kChanged, one, text, 134413700641230000)),
            R"({"change":"changed","kind":"value","root":"HKCU","key":"Soft\\Run","name":"v",)"
            R"("type":"REG_SZ","data":"x","old_type":"REG_DWORD","old_data":1,)"
            R"("time":"2026-12-10T09:54:24.123Z"})"
            "\n");
  EXPECT_EQ(Json(Value(ChangeKind::kAdded, std::nullopt, text)),
            R"({"change":"added","kind":"value","root":"HKCU","key":"Soft\\Run","name":"v",)"
            R"("type":"REG_SZ","data":"x"})"
            "\n");
  EXPECT_EQ(Json(Value(ChangeKind::kDeleted, text, std::nullopt)),
            R"({"change":"deleted","kind":"value","root":"HKCU","key":"Soft\\Run","name":"v",)"
            R"("old_type":"REG_SZ","old_data":"x"})"
            "\n");
  EXPECT_EQ(Json(Change{ChangeKind::kUnreadable, ChangeSubject::kKey, "K", "", {}, {}, 1}),
            R"({"change":"unreadable","kind":"key","root":"HKCU","key":"K",)"
            R"("time":"1601-01-01T00:00:00.000Z"})"
            "\n");
  EXPECT_EQ(Json(Change{ChangeKind::kDeleted, ChangeSubject::kKey, "K", "", {}, {}, 0}),
            R"({"change":"deleted","kind":"key","root":"HKCU","key":"K"})"
            "\n");
}

TEST(ChangeRowsTest, AwkwardNamesReadBackExactly) {
  const std::string key = "a\"b\\c\r\nd\xF0\x9F\x98\x80\x7F";
  const std::string name = "\xFF\t\x01\xC0\x80";  // not UTF-8, controls
  Change change = Value(ChangeKind::kAdded, std::nullopt, ValueRecord{name, 3, "\x10"});
  change.key = key;
  change.name = name;
  const std::string row = Json(change);
  const cli_test::JsonObject object = cli_test::ReadJsonLine(row.substr(0, row.size() - 1));
  EXPECT_EQ(object.at("key"), key);
  EXPECT_EQ(object.at("name"), name);
  EXPECT_EQ(object.at("data"), "10");
}

TEST(ChangeRowsTest, TextSplitsBackIntoItsFields) {
  const std::string tricky = "t\tb\\n\r\n\\";
  std::string tricky_utf16;  // ASCII, so one zero byte after each
  for (const char c : tricky + '\0') tricky_utf16 += {c, '\0'};
  const std::vector<std::pair<Change, std::vector<std::string>>> cases = {
      {Change{ChangeKind::kChanged, ChangeSubject::kValue, tricky, tricky,
              ValueRecord{tricky, 7, tricky_utf16 + "\0\0"s}, ValueRecord{tricky, 1, tricky_utf16}},
       {"changed", "value", tricky, tricky, "REG_SZ", tricky, "REG_MULTI_SZ", tricky + "\0"s}},
      {Value(ChangeKind::kAdded, std::nullopt, ValueRecord{"v", 1, "h\0e\0x\0:\0\0\0"s}),
       {"added", "value", "Soft\\Run", "v", "REG_SZ", "hex:6800650078003a000000", "", ""}},
      {Value(ChangeKind::kDeleted, ValueRecord{"v", 11, "\x2A\0\0\0\0\0\0\0"s}, std::nullopt),
       {"deleted", "value", "Soft\\Run", "v", "", "", "REG_QWORD", "42"}},
      {Value(ChangeKind::kAdded, std::nullopt, ValueRecord{"v", 7, "a\0\0\0b\0\0\0\0\0"s}),
       {"added", "value", "Soft\\Run", "v", "REG_MULTI_SZ", "a\0b\0"s, "", ""}},
      {Change{ChangeKind::kReadable, ChangeSubject::kKey, "K\t", "", {}, {}, 5},
       {"readable", "key", "K\t", "", "", "", "", ""}},
  };
  for (const auto& [change, fields] : cases) {
    const std::string line = ChangeText(change);
    EXPECT_EQ(line.find_first_of("\r\n"s + '\0'), std::string::npos) << line;
    EXPECT_EQ(ParseChangeText(line), fields) << line;
  }
  EXPECT_EQ(ParseChangeText("a\tb\tc\td\te\tf\tg\th\\"), std::nullopt);
  EXPECT_EQ(ParseChangeText("a\tb\tc\td\te\tf\tg\th\\x"), std::nullopt);
  EXPECT_EQ(ParseChangeText("a\tb\tc\td\te\tf\tg"), std::nullopt);
}

}  // namespace
}  // namespace cli
