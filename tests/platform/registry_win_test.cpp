// Win32Registry on the real registry under Wine, in a scratch key: the
// registry contract (registry_contract.h) that the branch reader, the
// preference store and the run-at-logon writer rely on.
#include "platform/win32/registry_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
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

// The raw enumeration of the complete reading: what RegSetValueExW stored,
// byte for byte, where the A functions convert strings and stop at their
// buffers.
TEST(Win32RegistryRawTest, ValuesComeBackAsStoredWhateverTheirTypeSizeOrName) {
  km_test::ScratchKey scratch;
  scratch.CreateKey("R");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, scratch.PathOf("R").c_str(), 0, KEY_SET_VALUE, &key),
            ERROR_SUCCESS);
  const std::wstring long_name(300, L'n');
  const std::string blob(100'000, '\x5a');
  const wchar_t odd[] = L"ab";  // stored as 3 bytes: no terminator, odd length
  const wchar_t outside_bmp[] = L"\U0001F600";
  ASSERT_EQ(RegSetValueExW(key, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4), 0);
  ASSERT_EQ(RegSetValueExW(key, long_name.c_str(), 0, REG_BINARY,
                           reinterpret_cast<const BYTE*>(blob.data()), 100'000), 0);
  ASSERT_EQ(RegSetValueExW(key, L"odd", 0, REG_SZ, reinterpret_cast<const BYTE*>(odd), 3), 0);
  ASSERT_EQ(RegSetValueExW(key, outside_bmp, 0, 0x4242, nullptr, 0), 0);
  RegCloseKey(key);

  Win32Registry registry;
  KeyHandle handle = 0;
  ASSERT_EQ(registry.OpenKey(kHkeyCurrentUser, scratch.PathOf("R"), kKeyRead, &handle), 0);
  std::map<std::string, std::pair<std::uint32_t, std::string>> seen;
  std::string name, data;
  std::uint32_t type = 0;
  for (std::uint32_t index = 0; registry.EnumValueRaw(handle, index, &name, &type, &data) == 0;
       ++index)
    seen[name] = {type, data};
  registry.CloseKey(handle);

  using namespace std::string_literals;
  EXPECT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[""], std::make_pair(std::uint32_t{REG_SZ}, "x\0\0\0"s));
  EXPECT_EQ(seen[std::string(300, 'n')], std::make_pair(std::uint32_t{REG_BINARY}, blob));
  EXPECT_EQ(seen["odd"], std::make_pair(std::uint32_t{REG_SZ}, "a\0b"s));
  EXPECT_EQ(seen["\xF0\x9F\x98\x80"], std::make_pair(std::uint32_t{0x4242}, std::string()));
}

}  // namespace
}  // namespace platform
