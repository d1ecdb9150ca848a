// The engine's host for a command without a window: nothing to show and no
// events to pump, and the first message the engine would show is kept as
// the command's failure, to go to the error stream.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "engine/host.h"

namespace cli {

class WindowlessHost : public mKestrelmark::EngineHost {
 public:
  void SetStatus(const std::string&) override {}
  void YieldToEventLoop() override {}
  void ShowMessage(const std::string& text, const std::string&, platform::MessageIcon) override {
    if (!failure_) failure_ = text;
  }

  const std::optional<std::string>& failure() const { return failure_; }
  // The failure so far, and none from now on (a watch goes on after one).
  std::optional<std::string> TakeFailure() { return std::exchange(failure_, std::nullopt); }

 private:
  std::optional<std::string> failure_;
};

}  // namespace cli
