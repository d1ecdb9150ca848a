// Win32Registry on the real registry under Wine, in a scratch key: the
// registry contract (registry_contract.h) that the branch reader, the
// preference store and the run-at-logon writer rely on.
#include "platform/win32/registry_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/platform/registry_contract.h"
#include "tests/support/scratch_key_win.h"

namespace platform {
namespace {

class Win32RegistryUnderTest final : public registry_contract::RegistryUnderTest {
 public:
  Registry& registry() override { return registry_; }
  std::string PathOf(std::string_view relative) const override { return scratch_.PathOf(relative); }
  void CreateKey(std::string_view relative) override { scratch_.CreateKey(relative); }
  void SetValue(std::string_view relative, const std::string& name, std::uint32_t type,
                std::string_view bytes) override {
    scratch_.SetRaw(relative, name, type, bytes);
  }
  bool DeleteKey(std::string_view relative) override { return scratch_.DeleteKey(relative); }

 private:
  km_test::ScratchKey scratch_;
  Win32Registry registry_;
};

std::unique_ptr<registry_contract::RegistryUnderTest> MakeWin32RegistryUnderTest() {
  return std::make_unique<Win32RegistryUnderTest>();
}

using registry_contract::RegistryContractTest;
INSTANTIATE_TEST_SUITE_P(Win32, RegistryContractTest,
                         ::testing::Values(&MakeWin32RegistryUnderTest),
                         [](const auto&) { return std::string("Win32Registry"); });

}  // namespace
}  // namespace platform
