#include "engine/exclusions.h"

#include <cstdint>
#include <optional>

#include "engine/branch_selection.h"
#include "platform/runtime_error.h"

namespace mKestrelmark {
namespace {

constexpr std::string_view kSeparator = "  ";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr char kDefaultValue[] = "@";

// The code points of UTF-8 text; a byte that starts no valid sequence
// stands for itself above the Unicode range, so it matches only itself.
// nullopt for the strict reading a rules file must pass.
std::optional<std::vector<std::uint32_t>> CodePoints(std::string_view text, bool strict) {
  std::vector<std::uint32_t> points;
  points.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3
                                   : (lead >> 3) == 30    ? 4
                                                          : 0;
    std::uint32_t point = length == 1 ? lead : length == 2 ? lead & 0x1F
                                           : length == 3   ? lead & 0x0F
                                                           : lead & 0x07;
    bool valid = length > 0 && at + length <= text.size();
    for (int i = 1; valid && i < length; ++i) {
      const auto next = static_cast<unsigned char>(text[at + i]);
      valid = (next & 0xC0) == 0x80;
      point = point << 6 | (next & 0x3F);
    }
    // Overlong forms and surrogates are not UTF-8.
    static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    valid = valid && point >= kLeast[length] && point <= 0x10FFFF &&
            !(point >= 0xD800 && point <= 0xDFFF);
    if (!valid) {
      if (strict) return std::nullopt;
      points.push_back(0x110000u + lead);
      ++at;
      continue;
    }
    points.push_back(point);
    at += static_cast<std::size_t>(length);
  }
  return points;
}

std::uint32_t Folded(std::uint32_t point) {
  return point >= 'a' && point <= 'z' ? point - 'a' + 'A' : point;
}

// Wildcard match with one point of return: the last "*" seen. A later
// "*" makes an earlier one's other choices unnecessary, so this is linear
// in practice and never exponential.
bool Matches(const std::vector<std::uint32_t>& pattern, const std::vector<std::uint32_t>& text,
             bool crosses_backslash) {
  std::size_t p = 0, t = 0;
  std::optional<std::size_t> star_p, star_t;
  while (t < text.size()) {
    const bool may_wild = crosses_backslash || text[t] != '\\';
    if (p < pattern.size() && pattern[p] == '*') {
      star_p = p++;
      star_t = t;
    } else if (p < pattern.size() &&
               ((pattern[p] == '?' && may_wild) || Folded(pattern[p]) == Folded(text[t]))) {
      ++p;
      ++t;
    } else if (star_p && (crosses_backslash || text[*star_t] != '\\')) {
      // The last "*" takes one more character, unless that is a "\" it
      // may not cross.
      p = *star_p + 1;
      t = ++*star_t;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

[[noreturn]] void Malformed(std::size_t line, const std::string& what) {
  throw platform::RuntimeError("Line " + std::to_string(line) + ": " + what);
}

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

ExclusionRule ParseRule(std::string_view line, std::size_t number) {
  const std::size_t separator = line.find(kSeparator);
  ExclusionRule rule;
  rule.key = std::string(line.substr(0, separator));
  if (separator != std::string_view::npos) {
    rule.value = std::string(line.substr(separator + kSeparator.size()));
    if (rule.value.empty() || IsBlank(rule.value))
      Malformed(number, "no value name after the two blanks");
  }
  if (rule.key.empty() || IsBlank(rule.key)) Malformed(number, "no key path before the value name");
  if (rule.key.front() == '\\' || rule.key.back() == '\\' ||
      rule.key.find("\\\\") != std::string::npos)
    Malformed(number, "an empty key name in \"" + rule.key + "\" (a \\ at an end or doubled)");
  const std::string first = rule.key.substr(0, rule.key.find('\\'));
  if (HiveFromName(first))
    Malformed(number, "\"" + rule.key + "\" starts with a hive: give the path below the root");
  return rule;
}

}  // namespace

bool PatternMatches(std::string_view pattern, std::string_view text, bool crosses_backslash) {
  return Matches(*CodePoints(pattern, false), *CodePoints(text, false), crosses_backslash);
}

std::vector<ExclusionRule> ParseExclusions(std::string_view text, const std::string& name) {
  if (text.find('\0') != std::string_view::npos || !CodePoints(text, true))
    throw platform::RuntimeError(name + " is not a text file (UTF-8 or ASCII)");
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    text.remove_prefix(kByteOrderMark.size());
  std::vector<ExclusionRule> rules;
  std::size_t number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (IsBlank(line)) continue;
    if (line[line.find_first_not_of(" \t")] == '#') continue;
    rules.push_back(ParseRule(line, number));
  }
  return rules;
}

std::string FormatExclusions(const std::vector<ExclusionRule>& rules) {
  std::string text;
  for (const ExclusionRule& rule : rules) {
    text += rule.key;
    if (!rule.value.empty()) text += std::string(kSeparator) + rule.value;
    text += "\n";
  }
  return text;
}

bool RuleHides(const ExclusionRule& rule, const RegStuff::Change& change) {
  const std::vector<std::uint32_t> pattern = *CodePoints(rule.key, false);
  if (!rule.value.empty()) {
    if (change.subject != RegStuff::ChangeSubject::kValue) return false;
    if (!Matches(pattern, *CodePoints(change.key, false), false)) return false;
    if (rule.value == kDefaultValue) return change.name.empty();
    return PatternMatches(rule.value, change.name, true);
  }
  // The key itself, or any key above it: each prefix that ends at a "\".
  const std::vector<std::uint32_t> key = *CodePoints(change.key, false);
  for (std::size_t end = 0; end <= key.size(); ++end) {
    if (end < key.size() && key[end] != '\\') continue;
    const std::vector<std::uint32_t> prefix(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(end));
    if (Matches(pattern, prefix, false)) return true;
  }
  return false;
}

std::size_t FilteredChanges::RulesThatHid() const {
  std::size_t used = 0;
  for (const std::size_t count : hidden_by_rule) used += count > 0 ? 1 : 0;
  return used;
}

FilteredChanges FilterChanges(std::vector<RegStuff::Change> changes,
                              const std::vector<ExclusionRule>& rules) {
  FilteredChanges filtered;
  filtered.hidden_by_rule.assign(rules.size(), 0);
  for (RegStuff::Change& change : changes) {
    bool hidden = false;
    for (std::size_t rule = 0; rule < rules.size() && !hidden; ++rule) {
      if (!RuleHides(rules[rule], change)) continue;
      ++filtered.hidden_by_rule[rule];
      hidden = true;
    }
    (hidden ? filtered.hidden : filtered.shown).push_back(std::move(change));
  }
  return filtered;
}

std::string HiddenSummary(const FilteredChanges& filtered, std::size_t rule_count) {
  const std::size_t rows = filtered.hidden.size();
  return std::to_string(rows) + (rows == 1 ? " row" : " rows") + " hidden by " +
         std::to_string(filtered.RulesThatHid()) + " of " + std::to_string(rule_count) +
         (rule_count == 1 ? " rule" : " rules");
}

}  // namespace mKestrelmark
