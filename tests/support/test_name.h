// The running test's name, fit for a key or file name: "Suite.Case", with
// the slashes of parameterised names ("Values/Suite.Case/0") made
// underscores. Outside a test: "no-test".
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace km_test {

inline std::string CurrentTestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info == nullptr) return "no-test";
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return name;
}

}  // namespace km_test
