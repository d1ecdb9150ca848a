#include "prefs/reg_stuff_writer.h"

#include <charconv>

namespace RegStuff {
namespace {

// Setting and deleting values is all these routines do; asking for more
// (the historical 0x3F) only makes the open fail for users who may not
// create subkeys or create links there.
constexpr std::uint32_t kWriteAccess = platform::kKeySetValue;

}  // namespace

std::string RunEntryData(const std::string& program_folder, const std::string& file_name) {
  std::string path = program_folder;
  if (path.empty() || path.back() != '\\') path += '\\';
  path += file_name;
  // The system runs this text as a command line. Unquoted, a path with a
  // blank ("C:\Program Files\...") is tried as "C:\Program.exe" first, which
  // anyone able to write there could plant.
  if (path.find(' ') != std::string::npos) return '"' + path + '"';
  return path;
}

void AddRunEntry(platform::Registry& registry, const std::string& program_folder,
                 const std::string& file_name) {
  const std::string data = RunEntryData(program_folder, file_name);
  if (SetKeyValue(registry, platform::kHkeyLocalMachine, kRunKeyPath, file_name, data,
                  platform::kRegSz) == platform::kErrorSuccess) {
    return;
  }
  // The user's own Run key may be missing on a fresh profile, so this one is
  // created when needed. Its failure stays silent like the machine-wide one.
  platform::KeyHandle key = 0;
  if (registry.CreateKey(platform::kHkeyCurrentUser, kRunKeyPath, kWriteAccess, &key) !=
      platform::kErrorSuccess) {
    return;
  }
  (void)SetValueData(registry, key, file_name, platform::kRegSz, data);  // silent by design
  registry.CloseKey(key);
}

void RemoveRunEntry(platform::Registry& registry, const std::string& file_name) {
  // Either place may hold the value, depending on the rights the user had
  // when it was written; a value that is not there is not an error.
  (void)DeleteKeyValue(registry, platform::kHkeyLocalMachine, kRunKeyPath, file_name);
  (void)DeleteKeyValue(registry, platform::kHkeyCurrentUser, kRunKeyPath, file_name);
}

platform::RegResult SetKeyValue(platform::Registry& registry, platform::RootKey root,
                                const std::string& key_path, const std::string& value_name,
                                const std::string& data, std::uint32_t value_type) {
  platform::KeyHandle key = 0;
  const platform::RegResult opened = registry.OpenKey(root, key_path, kWriteAccess, &key);
  if (opened != platform::kErrorSuccess) return opened;
  const platform::RegResult written = SetValueData(registry, key, value_name, value_type, data);
  registry.CloseKey(key);
  return written;
}

platform::RegResult SetValueData(platform::Registry& registry, platform::KeyHandle key,
                                 const std::string& value_name, std::uint32_t value_type,
                                 const std::string& data) {
  switch (value_type) {
    case platform::kRegSz:
    case platform::kRegExpandSz:
      // c_str() carries the NUL, which the size counts.
      return registry.SetValue(key, value_name, value_type, data.c_str(),
                               static_cast<std::uint32_t>(data.size() + 1));
    case platform::kRegDword: {
      std::uint32_t number = 0;
      std::from_chars(data.data(), data.data() + data.size(), number);
      const unsigned char bytes[4] = {
          static_cast<unsigned char>(number), static_cast<unsigned char>(number >> 8),
          static_cast<unsigned char>(number >> 16), static_cast<unsigned char>(number >> 24)};
      return registry.SetValue(key, value_name, value_type, bytes, sizeof bytes);
    }
    default:
      return registry.SetValue(key, value_name, value_type, data.data(),
                               static_cast<std::uint32_t>(data.size()));
  }
}

platform::RegResult DeleteKeyValue(platform::Registry& registry, platform::RootKey root,
                                   const std::string& key_path, const std::string& value_name) {
  platform::KeyHandle key = 0;
  const platform::RegResult opened = registry.OpenKey(root, key_path, kWriteAccess, &key);
  if (opened != platform::kErrorSuccess) return opened;
  const platform::RegResult deleted = registry.DeleteValue(key, value_name);
  registry.CloseKey(key);
  return deleted;
}

}  // namespace RegStuff
