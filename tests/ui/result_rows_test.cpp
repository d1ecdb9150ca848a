// The results list's own rows and the tick-keeping replacement.
#include "ui/result_rows.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <unordered_set>
#include <vector>

namespace ui {
namespace {

using Rows = std::vector<std::string_view>;

std::vector<std::string> Texts(const ResultRows& rows) {
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < rows.size(); ++i) texts.emplace_back(rows.Text(i));
  return texts;
}

std::vector<bool> Ticks(const ResultRows& rows) {
  std::vector<bool> ticks;
  for (std::size_t i = 0; i < rows.size(); ++i) ticks.push_back(rows.Checked(i));
  return ticks;
}

ResultRows Make(const std::vector<std::pair<std::string, bool>>& rows) {
  ResultRows made;
  for (const auto& [text, checked] : rows) made.Append(text, checked);
  return made;
}

TEST(ResultRows, KeepsBytesWholeNulsIncluded) {
  ResultRows rows;
  const std::string with_nul("K  v=a\0b", 8);
  rows.Append(with_nul);
  rows.Append("");
  rows.Append("\xC3\xA9\r\n");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows.Text(0), with_nul);
  EXPECT_EQ(rows.Text(0).size(), 8u);
  EXPECT_EQ(rows.Text(1), "");
  EXPECT_EQ(rows.Text(2), "\xC3\xA9\r\n");
  EXPECT_FALSE(rows.Checked(0));
  rows.SetChecked(2, true);
  EXPECT_EQ(rows.CheckedCount(), 1u);
  rows.Clear();
  EXPECT_TRUE(rows.empty());
}

TEST(ReplacedRows, TicksFollowTheirEntriesNotTheirPositions) {
  const ResultRows current = Make({{"K\\A", false}, {"K  v=1", true}, {"K  w=2", true}});
  // A new entry above the ticked ones, one ticked entry gone.
  const ResultRows next = ReplacedRows(current, Rows{"K\\A", "K\\B", "K  w=2", "K  x=3"});
  EXPECT_EQ(Texts(next), (std::vector<std::string>{"K\\A", "K\\B", "K  w=2", "K  x=3"}));
  EXPECT_EQ(Ticks(next), (std::vector<bool>{false, false, true, false}));
  EXPECT_TRUE(ReplacedRows(next, Rows{}).empty());
}

TEST(ReplacedRows, AnUnchangedCheckKeepsEverything) {
  const ResultRows current = Make({{"a", false}, {"b", true}, {"c", false}, {"b", true}});
  EXPECT_TRUE(ReplacedRows(current, Rows{"a", "b", "c", "b"}) == current);
}

TEST(ReplacedRows, OneTickPerEarlierTickedRowGoesToTheFirstEqualRows) {
  const ResultRows current = Make({{"x", true}, {"y", false}, {"x", false}});
  const ResultRows next = ReplacedRows(current, Rows{"y", "x", "x"});
  EXPECT_EQ(Ticks(next), (std::vector<bool>{false, true, false}));
}

TEST(ReplacedRows, AnEntryWithANulEqualsItselfAndKeepsItsTick) {
  const std::string with_nul("K  v=a\0b", 8);
  const std::string cut = "K  v=a";
  const ResultRows current = Make({{with_nul, true}, {cut, false}});
  const ResultRows next = ReplacedRows(current, Rows{cut, with_nul});
  EXPECT_EQ(Ticks(next), (std::vector<bool>{false, true}));
  EXPECT_EQ(next.Text(1).size(), 8u);
}

TEST(ReplacedRows, YieldsDuringALongListAndTakesTicksMadeMeanwhile) {
  std::vector<std::string> texts;
  for (int i = 0; i < 5000; ++i) texts.push_back("row " + std::to_string(i));
  const Rows rows(texts.begin(), texts.end());
  ResultRows current;
  for (const std::string& text : texts) current.Append(text);
  int yields = 0;
  const ResultRows next = ReplacedRows(current, rows, [&] {
    // The user ticks a row while the check yields.
    if (++yields == 1) current.SetChecked(4321, true);
  });
  EXPECT_GT(yields, 5);
  EXPECT_TRUE(next.Checked(4321));
  EXPECT_EQ(next.CheckedCount(), 1u);
}

// The rule as the first window applied it, row by row: the shortcut must
// give exactly what it gave.
ResultRows ReferenceReplace(const ResultRows& current, const Rows& rows) {
  std::unordered_multiset<std::string> ticked;
  for (std::size_t i = 0; i < current.size(); ++i) {
    if (current.Checked(i)) ticked.insert(std::string(current.Text(i)));
  }
  ResultRows next;
  for (const std::string_view row : rows) {
    const auto tick = ticked.find(std::string(row));
    const bool checked = tick != ticked.end();
    if (checked) ticked.erase(tick);
    next.Append(row, checked);
  }
  return next;
}

TEST(ReplacedRows, EqualsTheRowByRowRuleOnRandomChecks) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const std::vector<std::string> words = {"a", "b", "c", std::string("a\0", 2), "", "dd"};
  ResultRows current;
  for (int round = 0; round < 400; ++round) {
    std::vector<std::string> texts(random() % 12);
    for (std::string& text : texts) text = words[random() % words.size()];
    const Rows rows(texts.begin(), texts.end());
    for (std::size_t i = 0; i < current.size(); ++i) {
      if (random() % 3 == 0) current.SetChecked(i, !current.Checked(i));
    }
    const ResultRows expected = ReferenceReplace(current, rows);
    ResultRows next = ReplacedRows(current, rows);
    ASSERT_TRUE(next == expected) << "round " << round;
    current.swap(next);
  }
}

}  // namespace
}  // namespace ui
