#include "prefs/preferences.h"

#include <gtest/gtest.h>

#include "platform/memory/memory_preference_storage.h"
#include "platform/runtime_error.h"

namespace prefs {
namespace {

class PreferencesTest : public ::testing::Test {
 protected:
  platform::MemoryPreferenceStorage storage_;
};

TEST_F(PreferencesTest, FirstRunReadsEveryDefault) {
  EXPECT_EQ(LoadPreference(storage_, kStartStopState), "Off");
  EXPECT_EQ(LoadPreference(storage_, kWindowsStartup), "Off");
  EXPECT_EQ(LoadPreference(storage_, kMinimized), "Off");
  EXPECT_EQ(LoadPreference(storage_, kSubkey), "SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
  EXPECT_TRUE(storage_.empty()) << "reading must not create anything";
}

TEST_F(PreferencesTest, KeysLiveUnderTheProgramsApplicationAndSection) {
  StorePreference(storage_, kStartStopState, "On");
  EXPECT_EQ(storage_.Load("Varnholt", "Kestrelmark", "StartStopState"), "On");
  StorePreference(storage_, "Varnholt", "Kestrelmark", "Windows Startup", "On");
  EXPECT_EQ(LoadPreference(storage_, kWindowsStartup), "On");
}

TEST_F(PreferencesTest, AStoredEmptyTextIsAValueNotAnAbsence) {
  StorePreference(storage_, kSubkey, "");
  EXPECT_EQ(LoadPreference(storage_, kSubkey), "");
}

TEST_F(PreferencesTest, OtherApplicationSectionOrKeyCaseReadsTheDefault) {
  StorePreference(storage_, "Varnholt", "Kestrelmark", "minimized", "On");
  StorePreference(storage_, "Varnholt", "Other", "Minimized", "On");
  StorePreference(storage_, "Other", "Kestrelmark", "Minimized", "On");
  EXPECT_EQ(LoadPreference(storage_, "Varnholt", "Kestrelmark", "Minimized", "dflt"), "dflt");
}

TEST_F(PreferencesTest, OnlyTheExactOnIsOn) {
  struct Case {
    const char* stored;
    bool on;
  };
  for (const Case& c : {Case{"On", true}, Case{"on", false}, Case{"ON", false},
                        Case{"On ", false}, Case{"Off", false}, Case{"", false},
                        Case{"1", false}}) {
    StorePreference(storage_, kStartStopState, c.stored);
    EXPECT_EQ(IsOn(LoadPreference(storage_, kStartStopState)), c.on) << '"' << c.stored << '"';
  }
}

TEST_F(PreferencesTest, EachKeystrokeWritesTheWholeTextSoFar) {
  const std::string path = "SOFTWARE\\A";
  for (std::size_t n = 1; n <= path.size(); ++n) {
    StorePreference(storage_, kSubkey, path.substr(0, n));
  }
  EXPECT_EQ(storage_.write_count(), static_cast<int>(path.size()));
  EXPECT_EQ(LoadPreference(storage_, kSubkey), path);
}

TEST_F(PreferencesTest, AStoreThatCannotBeWrittenRaisesAndKeepsTheOldValue) {
  StorePreference(storage_, kMinimized, "On");
  storage_.set_fail_writes(true);
  EXPECT_THROW(StorePreference(storage_, kMinimized, "Off"), platform::RuntimeError);
  EXPECT_EQ(LoadPreference(storage_, kMinimized), "On");
}

}  // namespace
}  // namespace prefs
