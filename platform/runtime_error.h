// A run-time error: what the trapping procedures catch and report with its
// description (see engine/error_report.h).
#pragma once

#include <stdexcept>
#include <string>

namespace platform {

class RuntimeError : public std::runtime_error {
 public:
  explicit RuntimeError(const std::string& description) : std::runtime_error(description) {}
};

}  // namespace platform
