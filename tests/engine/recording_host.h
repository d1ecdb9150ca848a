// An EngineHost for tests: every call the engine makes is recorded.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/host.h"

namespace mKestrelmark::testing {

struct RecordedMessage {
  std::string text, title;
  platform::MessageIcon icon;
};

class RecordingHost : public EngineHost {
 public:
  std::vector<std::string> statuses;
  std::vector<std::string> rows;
  std::vector<RecordedMessage> messages;
  int shown_count = 0;  // ShowRows calls
  int yield_count = 0;
  // Runs inside every yield (after counting it).
  std::function<void()> on_yield;

  void SetStatus(const std::string& text) override { statuses.push_back(text); }
  void ShowRows(const std::vector<std::string_view>& shown) override {
    ++shown_count;
    rows.assign(shown.begin(), shown.end());
  }
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
