// The standard error report shared by every procedure that traps run-time
// errors: a failed statement is reported (description, procedure, line) in a
// warning box titled "Application Error", and the procedure goes on with the
// statement after it.
//
//   ErrorTrap trap("Form1.PushButton2_Click", message_boxes);
//   trap([&] { DoFirst(); });
//   trap([&] { DoSecond(); });   // runs even when DoFirst() threw
#pragma once

#include <exception>
#include <optional>
#include <source_location>
#include <string>
#include <utility>

#include "platform/message_box.h"

namespace mKestrelmark {

inline constexpr char kErrorReportTitle[] = "Application Error";
inline constexpr char kSupportAddress[] = "support@varnholt.example";

// procedure is "Module.Procedure", e.g. "mKestrelmark.CreateSnapshot".
std::string FormatErrorReport(const std::string& description, const std::string& procedure,
                              unsigned line);

// The description of the exception being handled (call inside a catch).
std::string DescribeCurrentException();

class ErrorTrap {
 public:
  ErrorTrap(std::string procedure, platform::MessageBoxes& boxes)
      : procedure_(std::move(procedure)), boxes_(boxes) {}

  // Runs one statement; reports it if it throws. Returns false when it failed.
  template <class Statement>
  bool operator()(Statement&& statement,
                  std::source_location where = std::source_location::current()) {
    try {
      std::forward<Statement>(statement)();
      return true;
    } catch (...) {
      Report(DescribeCurrentException(), where.line());
      return false;
    }
  }

  // A step whose failure the caller reports itself, or not (a failure
  // already reported once): runs it and hands back what went wrong, with
  // the line where the step is written.
  struct Failure {
    std::string description;
    unsigned line = 0;
  };
  template <class Statement>
  std::optional<Failure> Attempt(Statement&& statement,
                                 std::source_location where = std::source_location::current()) {
    try {
      std::forward<Statement>(statement)();
      return std::nullopt;
    } catch (...) {
      return Failure{DescribeCurrentException(), where.line()};
    }
  }

  void Report(const std::string& description, unsigned line);
  // How many failures this trap has reported.
  int reports() const { return reports_; }

 private:
  std::string procedure_;
  platform::MessageBoxes& boxes_;
  int reports_ = 0;
};

}  // namespace mKestrelmark
