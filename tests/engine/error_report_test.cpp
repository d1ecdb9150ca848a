#include "engine/error_report.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace mKestrelmark {
namespace {

struct RecordedBox {
  std::string text, title;
  platform::MessageIcon icon;
};

class RecordingBoxes : public platform::MessageBoxes {
 public:
  void ShowMessage(const std::string& text, const std::string& title,
                   platform::MessageIcon icon) override {
    boxes.push_back({text, title, icon});
  }
  std::vector<RecordedBox> boxes;
};

TEST(ErrorReport, TextNamesDescriptionProcedureLineAndSupport) {
  EXPECT_EQ(FormatErrorReport("File not found", "Form1.PushButton2_Click", 42),
            "File not found\r\nin Kestrelmark2021/08/31.Form1.PushButton2_Click at line 42\r\r"
            "Please email screenshot of this message to support@varnholt.example");
}

TEST(ErrorReport, TrapReportsTheFailedStatementAndGoesOn) {
  RecordingBoxes boxes;
  ErrorTrap trap("mKestrelmark.CreateSnapshot", boxes);
  std::vector<int> ran;
  trap([&] { ran.push_back(1); });
  const unsigned failing_line = __LINE__ + 1;
  trap([&] { throw std::runtime_error("Path not found"); });
  trap([&] { ran.push_back(3); });

  EXPECT_EQ(ran, (std::vector<int>{1, 3}));
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].title, "Application Error");
  EXPECT_EQ(boxes.boxes[0].icon, platform::MessageIcon::kWarning);
  EXPECT_EQ(boxes.boxes[0].text,
            FormatErrorReport("Path not found", "mKestrelmark.CreateSnapshot", failing_line));
}

}  // namespace
}  // namespace mKestrelmark
