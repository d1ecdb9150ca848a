// Preferences in the user's own hive: HKEY_CURRENT_USER\<base>\<application>
// \<section>, one REG_SZ value per key. base is "Software" for the program;
// tests pass a scratch key of their own.
#pragma once

#include <optional>
#include <string>

#include "platform/preference_storage.h"

namespace platform {

class Win32PreferenceStorage : public PreferenceStorage {
 public:
  explicit Win32PreferenceStorage(std::string base = "Software") : base_(std::move(base)) {}

  std::optional<std::string> Load(const std::string& application, const std::string& section,
                                  const std::string& key) override;
  // One create/set/close per call: cheap enough for a write per keystroke.
  void Store(const std::string& application, const std::string& section, const std::string& key,
             const std::string& value) override;

  std::string KeyPath(const std::string& application, const std::string& section) const {
    return base_ + "\\" + application + "\\" + section;
  }

 private:
  std::string base_;
};

}  // namespace platform
