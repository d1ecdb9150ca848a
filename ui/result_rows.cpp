#include "ui/result_rows.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

namespace ui {
namespace {

constexpr std::size_t kRowsPerYield = 512;

// Hands current's ticks to the first equal rows of replacement.
void MoveTicks(const ResultRows& current, ResultRows& replacement) {
  if (current.CheckedCount() == 0) return;
  std::unordered_map<std::string, std::size_t> ticked;
  for (std::size_t row = 0; row < current.size(); ++row) {
    if (current.Checked(row)) ++ticked[std::string(current.Text(row))];
  }
  std::string key;
  for (std::size_t row = 0; row < replacement.size() && !ticked.empty(); ++row) {
    key.assign(replacement.Text(row));
    const auto found = ticked.find(key);
    if (found == ticked.end()) continue;
    replacement.SetChecked(row, true);
    if (--found->second == 0) ticked.erase(found);
  }
}

}  // namespace

std::size_t ResultRows::CheckedCount() const {
  return static_cast<std::size_t>(
      std::count_if(rows_.begin(), rows_.end(), [](const Row& row) { return row.checked; }));
}

void ResultRows::Append(std::string_view text, bool checked) {
  rows_.push_back({bytes_.size(), text.size(), checked});
  bytes_.append(text);
}

void ResultRows::Clear() {
  rows_.clear();
  bytes_.clear();
}

void ResultRows::Reserve(std::size_t rows, std::size_t bytes) {
  rows_.reserve(rows);
  bytes_.reserve(bytes);
}

void ResultRows::swap(ResultRows& other) noexcept {
  bytes_.swap(other.bytes_);
  rows_.swap(other.rows_);
}

bool ResultRows::operator==(const ResultRows& other) const {
  if (size() != other.size()) return false;
  for (std::size_t row = 0; row < size(); ++row) {
    if (Checked(row) != other.Checked(row) || Text(row) != other.Text(row)) return false;
  }
  return true;
}

ResultRows ReplacedRows(const ResultRows& current, const std::vector<std::string_view>& rows,
                        const std::function<void()>& yield) {
  ResultRows replacement;
  std::size_t bytes = 0;
  for (std::size_t row = 0; row < rows.size(); ++row) {
    bytes += rows[row].size();
    if (yield && row % kRowsPerYield == kRowsPerYield - 1) yield();
  }
  replacement.Reserve(rows.size(), bytes);
  for (std::size_t row = 0; row < rows.size(); ++row) {
    replacement.Append(rows[row]);
    if (yield && row % kRowsPerYield == kRowsPerYield - 1) yield();
  }
  // No yield from here on: the ticks are those of current as it is now,
  // after whatever the user did during the yields.
  MoveTicks(current, replacement);
  return replacement;
}

}  // namespace ui
