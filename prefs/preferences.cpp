#include "prefs/preferences.h"

namespace prefs {

void StorePreference(platform::PreferenceStorage& storage, const std::string& application,
                     const std::string& section, const std::string& key,
                     const std::string& value) {
  storage.Store(application, section, key, value);
}

std::string LoadPreference(platform::PreferenceStorage& storage, const std::string& application,
                           const std::string& section, const std::string& key,
                           const std::string& default_value) {
  std::optional<std::string> stored = storage.Load(application, section, key);
  return stored ? std::move(*stored) : default_value;
}

void StorePreference(platform::PreferenceStorage& storage, const PreferenceKey& key,
                     const std::string& value) {
  StorePreference(storage, kApplication, kSection, key.name, value);
}

std::string LoadPreference(platform::PreferenceStorage& storage, const PreferenceKey& key) {
  return LoadPreference(storage, kApplication, kSection, key.name, key.default_value);
}

}  // namespace prefs
