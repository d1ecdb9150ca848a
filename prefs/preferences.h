// The user's remembered choices: four string values per user under one
// application name and section. Booleans are "On" and "Off", compared
// exactly; a missing key reads as its default, and nothing here ever deletes
// a value.
#pragma once

#include <string>

#include "platform/preference_storage.h"

namespace prefs {

inline constexpr char kApplication[] = "Varnholt";
inline constexpr char kSection[] = "Kestrelmark";

inline constexpr char kOn[] = "On";
inline constexpr char kOff[] = "Off";

// One row of the key table: the key's name and what it reads as when absent.
struct PreferenceKey {
  const char* name;
  const char* default_value;
};

inline constexpr PreferenceKey kStartStopState{"StartStopState", kOff};
inline constexpr PreferenceKey kSubkey{"Subkey", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion"};
inline constexpr PreferenceKey kWindowsStartup{"Windows Startup", kOff};
inline constexpr PreferenceKey kMinimized{"Minimized", kOff};
// Opt-in: the results list shows every change (the complete mode).
inline constexpr PreferenceKey kShowEveryChange{"Show Every Change", kOff};
// Opt-in, the complete mode only: its snapshot and check read the 32-bit
// view of the registry.
inline constexpr PreferenceKey kView32{"32-bit View", kOff};
// The complete mode's hidden rows: the rules, a line each, in the text of
// engine/exclusions.h. None by default.
inline constexpr PreferenceKey kHiddenRows{"Hidden Rows", ""};

// Writes the value, creating what is missing. Throws platform::RuntimeError
// when the store cannot be written.
void StorePreference(platform::PreferenceStorage& storage, const std::string& application,
                     const std::string& section, const std::string& key,
                     const std::string& value);

// The stored value, or default_value when the application, section or key is
// absent. A stored empty text is a value, not an absence.
std::string LoadPreference(platform::PreferenceStorage& storage, const std::string& application,
                           const std::string& section, const std::string& key,
                           const std::string& default_value);

// The same under "Varnholt"/"Kestrelmark", for one key of the table.
void StorePreference(platform::PreferenceStorage& storage, const PreferenceKey& key,
                     const std::string& value);
std::string LoadPreference(platform::PreferenceStorage& storage, const PreferenceKey& key);

// "On" exactly; "on", "ON" or anything else is not.
inline bool IsOn(const std::string& value) { return value == kOn; }
inline const char* OnOff(bool on) { return on ? kOn : kOff; }

}  // namespace prefs
