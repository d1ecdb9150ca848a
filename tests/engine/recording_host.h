// An EngineHost for tests: the branch controls are plain fields, and every
// call the engine makes is recorded.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/host.h"

namespace mKestrelmark::testing {

struct RecordedMessage {
  std::string text, title;
  platform::MessageIcon icon;
};

class RecordingHost : public EngineHost {
 public:
  BranchControls controls;
  std::vector<std::string> statuses;
  std::vector<std::string> rows;
  std::vector<RecordedMessage> messages;
  int clear_count = 0;
  int yield_count = 0;
  // Runs inside every yield (after counting it).
  std::function<void()> on_yield;

  BranchControls ReadBranchControls() override { return controls; }
  void SetStatus(const std::string& text) override { statuses.push_back(text); }
  void ClearResults() override {
    ++clear_count;
    rows.clear();
  }
  void AddResult(const std::string& text) override { rows.push_back(text); }
  void YieldToEventLoop() override {
    ++yield_count;
    if (on_yield) on_yield();
  }
  void ShowMessage(const std::string& text, const std::string& title,
                   platform::MessageIcon icon) override {
    messages.push_back({text, title, icon});
  }

  // The statuses without the per-line "Scanning: " ones.
  std::vector<std::string> MilestoneStatuses() const {
    std::vector<std::string> milestones;
    for (const std::string& status : statuses)
      if (status.rfind("Scanning: ", 0) != 0) milestones.push_back(status);
    return milestones;
  }
};

}  // namespace mKestrelmark::testing
