// Preference storage in memory, for tests: sees every write and can be made
// to fail like a store that cannot be written.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "platform/preference_storage.h"

namespace platform {

class MemoryPreferenceStorage : public PreferenceStorage {
 public:
  std::optional<std::string> Load(const std::string& application, const std::string& section,
                                  const std::string& key) override;
  void Store(const std::string& application, const std::string& section, const std::string& key,
             const std::string& value) override;

  // While set, Store throws RuntimeError and changes nothing.
  void set_fail_writes(bool fail) { fail_writes_ = fail; }
  int write_count() const { return write_count_; }
  int load_count() const { return load_count_; }
  bool empty() const { return values_.empty(); }

 private:
  std::map<std::tuple<std::string, std::string, std::string>, std::string> values_;
  bool fail_writes_ = false;
  int write_count_ = 0;
  int load_count_ = 0;
};

}  // namespace platform
