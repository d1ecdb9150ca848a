#include "engine/exclusions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/runtime_error.h"

namespace mKestrelmark::testing {
namespace {

using RegStuff::Change;
using RegStuff::ChangeKind;
using RegStuff::ChangeSubject;

std::string ErrorOf(const std::string& text) {
  try {
    ParseExclusions(text, "rules.txt");
    return "";
  } catch (const platform::RuntimeError& error) {
    return error.what();
  }
}

Change KeyRow(const std::string& key) {
  Change change;
  change.key = key;
  return change;
}
Change ValueRow(const std::string& key, const std::string& name) {
  Change change;
  change.kind = ChangeKind::kDeleted;
  change.subject = ChangeSubject::kValue;
  change.key = key;
  change.name = name;
  return change;
}

TEST(ExclusionsTest, PatternsMatchAsTheRegistryComparesNames) {
  // Letters in either case, as the registry compares names.
  EXPECT_TRUE(PatternMatches("software\\VENDOR", "Software\\Vendor", false));
  EXPECT_FALSE(PatternMatches("Software\\Vendo", "Software\\Vendor", false));
  EXPECT_TRUE(PatternMatches("*", "", false));
  EXPECT_TRUE(PatternMatches("Mru*", "MRUList", false));
  EXPECT_TRUE(PatternMatches("*List", "MRUList", false));
  EXPECT_TRUE(PatternMatches("M*L*t", "MRUList", false));
  EXPECT_FALSE(PatternMatches("M*X*t", "MRUList", false));
  EXPECT_TRUE(PatternMatches("?", "a", false));
  EXPECT_FALSE(PatternMatches("?", "", false));
  EXPECT_FALSE(PatternMatches("??", "abc", false));
  // In a key path neither wildcard crosses "\"; in a value name both do.
  EXPECT_TRUE(PatternMatches("Software\\*\\Cache", "Software\\Vendor\\Cache", false));
  EXPECT_FALSE(PatternMatches("Software\\*\\Cache", "Software\\A\\B\\Cache", false));
  EXPECT_FALSE(PatternMatches("Software*", "Software\\Vendor", false));
  EXPECT_FALSE(PatternMatches("a?b", "a\\b", false));
  EXPECT_TRUE(PatternMatches("a?b", "a\\b", true));
  EXPECT_TRUE(PatternMatches("*", "x\\y", true));
  // "?" is one character, however many bytes it takes; other letters than
  // ASCII's match as they stand.
  EXPECT_TRUE(PatternMatches("Caf?", "Caf\xC3\xA9", false));
  EXPECT_FALSE(PatternMatches("Caf??", "Caf\xC3\xA9", false));
  EXPECT_FALSE(PatternMatches("CAF\xC3\x89", "caf\xC3\xA9", false));
  // A long run of stars does not take exponential time.
  EXPECT_FALSE(PatternMatches(std::string(40, '*') + "b", std::string(200, 'a'), true));
}

TEST(ExclusionsTest, TheTextIsReadLineByLine) {
  const std::vector<ExclusionRule> rules = ParseExclusions(
      "\xEF\xBB\xBF# noise\r\n"
      "\r\n"
      "   \t\n"
      "  # an indented comment\n"
      "Software\\Microsoft\\*\\RecentDocs\r\n"
      "Software\\Vendor  MRU*\n"
      "Software\\Vendor  @\n"
      "Software\\Name with blanks  value  with two blanks",
      "rules.txt");
  const std::vector<ExclusionRule> expected = {
      {"Software\\Microsoft\\*\\RecentDocs", ""},
      {"Software\\Vendor", "MRU*"},
      {"Software\\Vendor", "@"},
      {"Software\\Name with blanks", "value  with two blanks"},
  };
  EXPECT_EQ(rules, expected);
  EXPECT_EQ(ParseExclusions(FormatExclusions(rules), "pref"), rules);
  EXPECT_TRUE(ParseExclusions("", "empty").empty());
}

TEST(ExclusionsTest, AMalformedLineIsNamedByItsNumber) {
  EXPECT_EQ(ErrorOf("A\n  Name\n"), "Line 2: no key path before the value name");
  EXPECT_EQ(ErrorOf("# c\r\n\r\nKey  \r\n"), "Line 3: no value name after the two blanks");
  EXPECT_EQ(ErrorOf("\\Key"), "Line 1: an empty key name in \"\\Key\" (a \\ at an end or doubled)");
  EXPECT_EQ(ErrorOf("ok\nKey\\"), "Line 2: an empty key name in \"Key\\\" (a \\ at an end or doubled)");
  EXPECT_EQ(ErrorOf("A\\\\B"), "Line 1: an empty key name in \"A\\\\B\" (a \\ at an end or doubled)");
  EXPECT_EQ(ErrorOf("hkey_local_machine\\Software"),
            "Line 1: \"hkey_local_machine\\Software\" starts with a hive: give the path below the "
            "root");
  EXPECT_EQ(ErrorOf("HKLM"), "Line 1: \"HKLM\" starts with a hive: give the path below the root");
  // Not text at all: UTF-16 (NUL bytes), bytes that are not UTF-8.
  EXPECT_EQ(ErrorOf(std::string("\xFF\xFE" "A\0", 4)), "rules.txt is not a text file (UTF-8 or ASCII)");
  EXPECT_EQ(ErrorOf("Caf\xE9"), "rules.txt is not a text file (UTF-8 or ASCII)");
  EXPECT_EQ(ErrorOf("\xC0\xAF"), "rules.txt is not a text file (UTF-8 or ASCII)");
}

TEST(ExclusionsTest, AKeyRuleHidesItsKeyAndAllBelowAValueRuleOnlyItsValues) {
  const ExclusionRule branch{"Software\\Vendor", ""};
  EXPECT_TRUE(RuleHides(branch, KeyRow("software\\vendor")));
  EXPECT_TRUE(RuleHides(branch, ValueRow("Software\\Vendor\\Deep\\Er", "x")));
  EXPECT_FALSE(RuleHides(branch, KeyRow("Software\\VendorTwo")));
  EXPECT_FALSE(RuleHides(branch, KeyRow("Software")));
  EXPECT_TRUE(RuleHides({"*\\Cache", ""}, KeyRow("Vendor\\Cache\\Item")));

  const ExclusionRule values{"Software\\Vendor", "MRU?"};
  EXPECT_TRUE(RuleHides(values, ValueRow("Software\\Vendor", "mrua")));
  EXPECT_FALSE(RuleHides(values, ValueRow("Software\\Vendor", "MRUList")));
  EXPECT_FALSE(RuleHides(values, ValueRow("Software\\Vendor\\Sub", "MRUa")));
  EXPECT_FALSE(RuleHides(values, KeyRow("Software\\Vendor")));
  // "@" is the default value only; "*" is every name, the default's too.
  EXPECT_TRUE(RuleHides({"K", "@"}, ValueRow("K", "")));
  EXPECT_FALSE(RuleHides({"K", "@"}, ValueRow("K", "@x")));
  EXPECT_TRUE(RuleHides({"K", "*"}, ValueRow("K", "")));
}

TEST(ExclusionsTest, HiddenRowsAreKeptAndCountedForTheFirstRuleThatHidThem) {
  const std::vector<ExclusionRule> rules = {
      {"A", ""}, {"A\\B", ""}, {"C", "x*"}, {"Never", ""}};
  FilteredChanges filtered = FilterChanges(
      {KeyRow("A"), ValueRow("A\\B", "v"), KeyRow("B"), ValueRow("C", "x1"), ValueRow("C", "y"),
       ValueRow("C", "x2")},
      rules);
  ASSERT_EQ(filtered.shown.size(), 2u);
  EXPECT_EQ(filtered.shown[0].key, "B");
  EXPECT_EQ(filtered.shown[1].name, "y");
  ASSERT_EQ(filtered.hidden.size(), 4u);
  EXPECT_EQ(filtered.hidden[3].name, "x2");
  EXPECT_EQ(filtered.hidden_by_rule, (std::vector<std::size_t>{2, 0, 2, 0}));
  EXPECT_EQ(filtered.RulesThatHid(), 2u);
  EXPECT_EQ(HiddenSummary(filtered, rules.size()), "4 rows hidden by 2 of 4 rules");
  EXPECT_EQ(HiddenSummary(FilterChanges({KeyRow("A")}, {{"A", ""}}), 1),
            "1 row hidden by 1 of 1 rule");
  EXPECT_EQ(HiddenSummary(FilterChanges({KeyRow("A")}, {}), 0), "0 rows hidden by 0 of 0 rules");
}

}  // namespace
}  // namespace mKestrelmark::testing
