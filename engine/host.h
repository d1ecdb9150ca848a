// What the engine needs from the window that drives it. Form1 implements
// this; tests implement it in memory and see every call.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/message_box.h"

namespace mKestrelmark {

// The four branch controls as the window shows them now.
struct BranchControls {
  int selected_option = 2;  // first selected Option1 index; -1 when none
  bool search_subkey = true;          // chkSubkey
  std::string subkey_text;            // txtSubkey
  bool include_values = true;         // chkValues (any non-zero state)
};

class EngineHost : public platform::MessageBoxes {
 public:
  virtual BranchControls ReadBranchControls() = 0;
  // lblOperation's caption. Called often: the window may repaint lazily but
  // must show the latest text once the work returns.
  virtual void SetStatus(const std::string& text) = 0;
  // ListView2's rows.
  virtual void ClearResults() = 0;
  virtual void AddResult(const std::string& text) = 0;
  // Every row replaced by rows, in order. A check rebuilds the list every
  // half second while monitoring runs; the window overrides this to update
  // its list in place, so that the user's ticks on unchanged entries and the
  // scroll position survive the next check.
  virtual void ReplaceResults(const std::vector<std::string_view>& rows) {
    ClearResults();
    std::string row;
    for (const std::string_view text : rows) {
      row.assign(text);
      AddResult(row);
    }
  }
  // Lets other window events run (see platform::EventLoop::YieldToEventLoop; not "Yield", which <windows.h> defines as a macro).
  virtual void YieldToEventLoop() = 0;
};

}  // namespace mKestrelmark
