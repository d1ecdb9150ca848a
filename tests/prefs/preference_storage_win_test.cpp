// The per-user store on the real registry. Each test's scratch key under
// HKEY_CURRENT_USER\Software stands in for "Software".
#include "platform/win32/preference_storage_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/runtime_error.h"
#include "prefs/preferences.h"
#include "tests/support/scratch_key_win.h"

namespace {

class PreferenceStorageWinTest : public km_test::ScratchKeyTest {
 protected:
  const std::string base_ = scratch_.path();

  std::string SectionPath() const { return base_ + "\\Varnholt\\Kestrelmark"; }

  // The value as the registry holds it: type and raw bytes.
  bool RawValue(const std::string& name, DWORD* type, std::string* bytes) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SectionPath().c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
      return false;
    }
    char buffer[4096];
    DWORD size = sizeof buffer;
    const LONG result = RegQueryValueExA(key, name.c_str(), nullptr, type,
                                         reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return false;
    bytes->assign(buffer, size);
    return true;
  }

  void PutRaw(const std::string& name, DWORD type, std::string_view bytes) {
    scratch_.SetRaw("Varnholt\\Kestrelmark", name, type, bytes);
  }
};

TEST_F(PreferenceStorageWinTest, AFirstRunReadsTheDefaultsWithoutCreatingAnything) {
  platform::Win32PreferenceStorage storage(base_);
  EXPECT_EQ(prefs::LoadPreference(storage, prefs::kStartStopState), "Off");
  EXPECT_EQ(prefs::LoadPreference(storage, prefs::kSubkey),
            "SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (base_ + "\\Varnholt").c_str(), 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(PreferenceStorageWinTest, AWriteCreatesTheKeysAndOneStringValueWithItsNul) {
  platform::Win32PreferenceStorage storage(base_);
  prefs::StorePreference(storage, prefs::kWindowsStartup, "On");
  DWORD type = 0;
  std::string bytes;
  ASSERT_TRUE(RawValue("Windows Startup", &type, &bytes));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(bytes, std::string("On\0", 3));
  EXPECT_EQ(prefs::LoadPreference(storage, prefs::kWindowsStartup), "On");
}

TEST_F(PreferenceStorageWinTest, ValuesRoundTripAndOverwrite) {
  platform::Win32PreferenceStorage storage(base_);
  const std::string long_path = "SOFTWARE\\" + std::string(600, 'k');
  for (const std::string& value : {std::string("SOFTWARE\\Classes"), std::string(""), long_path,
                                   std::string("on")}) {
    prefs::StorePreference(storage, prefs::kSubkey, value);
    EXPECT_EQ(prefs::LoadPreference(storage, prefs::kSubkey), value);
  }
  EXPECT_FALSE(prefs::IsOn(prefs::LoadPreference(storage, prefs::kSubkey)));
}

TEST_F(PreferenceStorageWinTest, AValueThatIsNotAStringReadsAsTheDefault) {
  PutRaw("Minimized", REG_DWORD, std::string_view("\1\0\0\0", 4));
  platform::Win32PreferenceStorage storage(base_);
  EXPECT_EQ(prefs::LoadPreference(storage, prefs::kMinimized), "Off");
}

TEST_F(PreferenceStorageWinTest, AStringStoredWithoutItsNulReadsTheSame) {
  PutRaw("StartStopState", REG_SZ, "On");
  platform::Win32PreferenceStorage storage(base_);
  EXPECT_EQ(prefs::LoadPreference(storage, prefs::kStartStopState), "On");
}

TEST_F(PreferenceStorageWinTest, AStoreThatCannotBeWrittenThrowsWithADescription) {
  // A volatile key cannot get lasting subkeys, so the application key
  // cannot be created below it.
  const std::string volatile_base = base_ + "\\volatile";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, volatile_base.c_str(), 0, nullptr,
                            REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  platform::Win32PreferenceStorage storage(volatile_base);
  try {
    prefs::StorePreference(storage, prefs::kSubkey, "SOFTWARE");
    FAIL() << "the write succeeded";
  } catch (const platform::RuntimeError& error) {
    EXPECT_NE(std::string(error.what()).find("Subkey"), std::string::npos) << error.what();
  }
  EXPECT_EQ(prefs::LoadPreference(storage, prefs::kSubkey),
            "SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
}

TEST_F(PreferenceStorageWinTest, TheProgramsStoreLivesUnderSoftwareVarnholtKestrelmark) {
  platform::Win32PreferenceStorage storage;
  EXPECT_EQ(storage.KeyPath(prefs::kApplication, prefs::kSection),
            "Software\\Varnholt\\Kestrelmark");
}

}  // namespace
