// platform::Registry over the Win32 registry functions. Texts are in the
// process code page (UTF-8 under our manifest). Paths go through the W
// functions: the A functions refuse a path of more than 260 characters, and
// keys below such a path are real (255 characters a name, no small limit on
// the path).
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
  RegResult EnumValueRaw(KeyHandle key, std::uint32_t index, std::string* name,
                         std::uint32_t* type, std::string* data) override;
  RegResult EnumKey(KeyHandle key, std::uint32_t index, char* name,
                    std::uint32_t name_size) override;
  RegResult EnumKeyWithTime(KeyHandle key, std::uint32_t index, char* name,
                            std::uint32_t name_size, KeyTime* last_write) override;
  RegResult QueryKeyTime(KeyHandle key, KeyTime* last_write) override;
  KeyTime CurrentTime() override;
  RegResult WatchBranch(RootKey root, const std::string& path,
                        std::unique_ptr<BranchWatch>* watch) override;
  RegResult WatchKey(RootKey root, const std::string& path,
                     std::unique_ptr<BranchWatch>* watch) override;
  RegResult QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                       std::string* data) override;
  RegResult SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                     const void* data, std::uint32_t size) override;
  RegResult DeleteValue(KeyHandle key, const std::string& name) override;
};

}  // namespace platform
