// Per-user persistent strings addressed by application, section and key.
#pragma once

#include <optional>
#include <string>

namespace platform {

class PreferenceStorage {
 public:
  virtual ~PreferenceStorage() = default;
  // nullopt when the application, section or key is absent.
  virtual std::optional<std::string> Load(const std::string& application,
                                          const std::string& section,
                                          const std::string& key) = 0;
  // Creates what is missing. Throws RuntimeError when it cannot write.
  virtual void Store(const std::string& application, const std::string& section,
                     const std::string& key, const std::string& value) = 0;
};

}  // namespace platform
