#include "engine/error_report.h"

#include <new>

namespace mKestrelmark {

std::string FormatErrorReport(const std::string& description, const std::string& procedure,
                              unsigned line) {
  std::string text = description;
  text += "\r\n";
  text += "in Kestrelmark2021/08/31.";
  text += procedure;
  text += " ";
  text += "at line ";
  text += std::to_string(line);
  text += "\r\r";
  text += "Please email screenshot of this message to ";
  text += kSupportAddress;
  return text;
}

std::string DescribeCurrentException() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return "Out of memory";
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

void ErrorTrap::Report(const std::string& description, unsigned line) {
  ++reports_;
  boxes_.ShowMessage(FormatErrorReport(description, procedure_, line), kErrorReportTitle,
                     platform::MessageIcon::kWarning);
}

}  // namespace mKestrelmark
