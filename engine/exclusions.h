// Rows a user has chosen not to see (MRU lists, caches, counters that move
// every minute), in the complete mode. Hidden rows are counted, never lost:
// the filter hands back what it hid and which rule hid how many, so that a
// front end can say so and bring them back.
//
// The rules' text, one rule a line (the command line's /exclude file, the
// window's preference):
//
//   KEY                 hides the rows of every key KEY matches, and of
//                       everything below those keys
//   KEY  VALUE          (two blanks between) hides the value rows whose key
//                       KEY matches (that key only, not below) and whose
//                       name VALUE matches; "@" alone is the default value
//
// KEY is a path below the root, without the hive. In both patterns "*" is
// any run of characters and "?" one character; in KEY neither crosses "\",
// so "Software\*\Cache" is one level deep. Letters match in either case
// (ASCII letters: other characters as they stand). A line whose first
// non-blank character is "#" is a comment; blank lines are ignored; a line
// may end in CR LF or LF, and the text may start with a UTF-8 byte-order
// mark.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/keyed_comparison.h"

namespace mKestrelmark {

struct ExclusionRule {
  std::string key;    // the key path pattern
  std::string value;  // the value name pattern; empty: the key and below
  bool operator==(const ExclusionRule&) const = default;
};

// The rules of the text. Throws platform::RuntimeError naming the first
// malformed line ("Line 3: ..."), or "... is not a text file" (NUL bytes or
// bytes that are not UTF-8) with the name given.
std::vector<ExclusionRule> ParseExclusions(std::string_view text, const std::string& name);

// The rules as ParseExclusions reads them back, a line each ("\n").
std::string FormatExclusions(const std::vector<ExclusionRule>& rules);

// Whether pattern ("*", "?") matches the whole text, letters in either case.
// Without crosses_backslash, neither wildcard matches a "\".
bool PatternMatches(std::string_view pattern, std::string_view text, bool crosses_backslash);

bool RuleHides(const ExclusionRule& rule, const RegStuff::Change& change);

struct FilteredChanges {
  std::vector<RegStuff::Change> shown;   // in the order given
  std::vector<RegStuff::Change> hidden;  // in the order given
  // Per rule, in the rules' order: how many rows it hid. A row two rules
  // match is counted for the first.
  std::vector<std::size_t> hidden_by_rule;
  // How many rules hid at least one row.
  std::size_t RulesThatHid() const;
};

FilteredChanges FilterChanges(std::vector<RegStuff::Change> changes,
                              const std::vector<ExclusionRule>& rules);

// "3 rows hidden by 2 of 5 rules": what a front end tells.
std::string HiddenSummary(const FilteredChanges& filtered, std::size_t rule_count);

}  // namespace mKestrelmark
