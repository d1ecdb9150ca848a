#include "platform/memory/memory_preference_storage.h"

#include "platform/runtime_error.h"

namespace platform {

std::optional<std::string> MemoryPreferenceStorage::Load(const std::string& application,
                                                         const std::string& section,
                                                         const std::string& key) {
  ++load_count_;
  auto found = values_.find({application, section, key});
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

void MemoryPreferenceStorage::Store(const std::string& application, const std::string& section,
                                    const std::string& key, const std::string& value) {
  if (fail_writes_) throw RuntimeError("Permission denied");
  ++write_count_;
  values_[{application, section, key}] = value;
}

}  // namespace platform
