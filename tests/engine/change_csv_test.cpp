// CSV of the complete mode's changes: RFC 4180 quoting, the byte-order mark,
// the header, the columns of each kind of change, and multi-strings whose
// joined cell would not read back.
#include "engine/change_csv.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace mKestrelmark {
namespace {

using namespace std::string_literals;
using RegStuff::Change;
using RegStuff::ChangeKind;
using RegStuff::ChangeSubject;
using RegStuff::ValueRecord;

constexpr char kHead[] =
    "\xEF\xBB\xBF"
    "change,kind,root,key,name,type,data,encoding,old_type,old_data,old_encoding,time\r\n";

Change ValueChange(ChangeKind kind, std::optional<ValueRecord> before,
                   std::optional<ValueRecord> after, std::string name = "v") {
  Change change;
  change.kind = kind;
  change.subject = ChangeSubject::kValue;
  change.key = "Soft\\App";
  change.name = name;
  change.before = std::move(before);
  change.after = std::move(after);
  change.time = 134'000'000'000'000'000ull;
  return change;
}

// The record after the header.
std::string Record(const Change& change) {
  const std::string csv = ChangesCsv({change}, platform::kHkeyCurrentUser);
  EXPECT_EQ(csv.substr(0, sizeof kHead - 1), kHead);
  return csv.substr(sizeof kHead - 1);
}

TEST(ChangeCsvTest, FieldsQuotedOnlyWhenTheyMustBe) {
  EXPECT_EQ(CsvField("plain text"), "plain text");
  EXPECT_EQ(CsvField(""), "");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField("a\nb"), "\"a\nb\"");
  EXPECT_EQ(CsvField("a\rb"), "\"a\rb\"");
  EXPECT_EQ(CsvField("\""), "\"\"\"\"");
}

TEST(ChangeCsvTest, EachKindOfChangeFillsItsColumns) {
  EXPECT_EQ(ChangesCsv({}, platform::kHkeyLocalMachine), kHead);
  Change key;
  key.kind = ChangeKind::kDeleted;
  key.subject = ChangeSubject::kKey;
  key.key = "Soft\\Gone, really";
  EXPECT_EQ(Record(key), "deleted,key,HKCU,\"Soft\\Gone, really\",,,,,,,,\r\n");

  EXPECT_EQ(Record(ValueChange(ChangeKind::kChanged, ValueRecord{"v", 4, "\x01\0\0\0"s},
                               ValueRecord{"v", 1, "\"\0,\0\0\0"s}, "")),
            "changed,value,HKCU,Soft\\App,,REG_SZ,\"\"\",\",,REG_DWORD,1,,"
            "2025-08-18T14:13:20.000Z\r\n");
  EXPECT_EQ(Record(ValueChange(ChangeKind::kAdded, std::nullopt, ValueRecord{"v", 3, "\x00\xff"s})),
            "added,value,HKCU,Soft\\App,v,REG_BINARY,00ff,hex,,,,2025-08-18T14:13:20.000Z\r\n");
  EXPECT_EQ(Record(ValueChange(ChangeKind::kDeleted, ValueRecord{"v", 1, "a\0b\0"s}, std::nullopt,
                               "n\xC3\xA4me")),
            "deleted,value,HKCU,Soft\\App,n\xC3\xA4me,,,,REG_SZ,61006200,hex,"
            "2025-08-18T14:13:20.000Z\r\n");
}

TEST(ChangeCsvTest, MultiStringsJoinedByLineFeedsWhereTheyReadBack) {
  const auto data = [](std::string bytes) {
    const std::string record = Record(
        ValueChange(ChangeKind::kAdded, std::nullopt, ValueRecord{"v", 7, std::move(bytes)}));
    const std::size_t from = record.find("REG_MULTI_SZ,") + 13;
    return record.substr(from, record.find(",,,,2025") - from);
  };
  EXPECT_EQ(data("a\0\0\0b\0\0\0\0\0"s), "\"a\nb\",");
  EXPECT_EQ(data("a\0\0\0\0\0\0\0"s), "\"a\n\",");  // ["a",""]
  EXPECT_EQ(data("\0\0"s), ",");                    // []
  // [""] would look like []; a string holding LF would split in two.
  EXPECT_EQ(data("\0\0\0\0"s), "00000000,hex");
  EXPECT_EQ(data("a\0\n\0\0\0\0\0"s), "61000a0000000000,hex");
}

}  // namespace
}  // namespace mKestrelmark
