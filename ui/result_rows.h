// The rows of the results list and their ticks, held by the program (the
// list view only draws them): texts are byte strings kept whole, NULs
// included, in one buffer; a tick per row.
//
// A check replaces every row. The user's ticks belong to entries, not to
// positions: ReplacedRows hands each earlier tick to the first new row with
// the same text (one tick per earlier ticked row), so a change that shows up
// above a ticked entry does not move the tick onto another one.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

class ResultRows {
 public:
  std::size_t size() const { return rows_.size(); }
  bool empty() const { return rows_.empty(); }
  // Rows from 0.
  std::string_view Text(std::size_t row) const {
    const Row& r = rows_[row];
    return std::string_view(bytes_.data() + r.offset, r.length);
  }
  bool Checked(std::size_t row) const { return rows_[row].checked; }
  void SetChecked(std::size_t row, bool checked) { rows_[row].checked = checked; }
  std::size_t CheckedCount() const;
  // Appends a row without a tick.
  void Append(std::string_view text, bool checked = false);
  void Clear();
  void Reserve(std::size_t rows, std::size_t bytes);

  void swap(ResultRows& other) noexcept;
  // Same texts and ticks, row for row.
  bool operator==(const ResultRows& other) const;

 private:
  struct Row {
    std::size_t offset;
    std::size_t length;
    bool checked;
  };
  std::string bytes_;
  std::vector<Row> rows_;
};

// current replaced by rows, with current's ticks moved to their entries (see
// above). yield is called every few hundred rows so that a window stays
// responsive with a long list; current may change during a yield (the user
// ticks a row, clears the list): the ticks are then taken afresh, without
// yielding, at the end.
ResultRows ReplacedRows(const ResultRows& current, const std::vector<std::string_view>& rows,
                        const std::function<void()>& yield = {});

}  // namespace ui
