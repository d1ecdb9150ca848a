// platform::Registry over the Win32 A functions (texts in the process code
// page: UTF-8 under our manifest).
#pragma once

#include "platform/registry.h"

namespace platform {

class Win32Registry : public Registry {
 public:
  RegResult OpenKey(RootKey root, const std::string& path, std::uint32_t access,
                    KeyHandle* key) override;
  RegResult CreateKey(RootKey root, const std::string& path, std::uint32_t access,
                      KeyHandle* key) override;
  RegResult CloseKey(KeyHandle key) override;
  RegResult EnumValue(KeyHandle key, std::uint32_t index, char* name,
                      std::uint32_t* name_length, std::uint32_t* type, std::uint8_t* data,
                      std::uint32_t* data_size) override;
  RegResult EnumKey(KeyHandle key, std::uint32_t index, char* name,
                    std::uint32_t name_size) override;
  RegResult QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                       std::string* data) override;
  RegResult SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                     const void* data, std::uint32_t size) override;
  RegResult DeleteValue(KeyHandle key, const std::string& name) override;
};

}  // namespace platform
