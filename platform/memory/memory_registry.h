// An in-memory registry for native tests, with the Win32 result codes and
// buffer rules of platform::Registry.
//
// Names are compared case-insensitively (ASCII letters; other bytes as they
// stand) and keep the spelling they were created with. Enumeration order is
// creation order, for subkeys and for values alike (a value set again keeps
// its place); deleting removes an item and closes the gap. Tests therefore
// state the order they build, which is neither Windows' nor Wine's: code
// under test must take the order the registry gives.
//
// Test controls: a key can refuse to open (access denied) or refuse write
// access; a hook runs at every enumeration call, so a test can change the
// registry or start a nested reading in the middle of one.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace platform {

class MemoryRegistry : public Registry {
 public:
  MemoryRegistry();
  ~MemoryRegistry() override;

  // --- Building and inspecting the contents (no access checks) ---
  // Creates root\path and every missing key above it.
  void AddKey(RootKey root, const std::string& path);
  // Sets a value with raw bytes, creating the key when missing.
  void PutValue(RootKey root, const std::string& path, const std::string& name,
                std::uint32_t type, std::string_view bytes);
  // A string value: text and its terminator.
  void PutString(RootKey root, const std::string& path, const std::string& name,
                 std::string_view text);
  void PutDword(RootKey root, const std::string& path, const std::string& name,
                std::uint32_t value);
  // Removes the key and everything below it; false when it does not exist.
  bool RemoveKey(RootKey root, const std::string& path);
  bool RemoveValue(RootKey root, const std::string& path, const std::string& name);
  bool HasKey(RootKey root, const std::string& path) const;

  // The key refuses to open (kErrorAccessDenied) from now on.
  void DenyOpen(RootKey root, const std::string& path);
  // The key opens for reading only: an access mask with write rights
  // (set value, create subkey, create link) is refused.
  void DenyWrite(RootKey root, const std::string& path);

  // Runs before every EnumValue and EnumKey call.
  void SetEnumerationHook(std::function<void()> hook) { hook_ = std::move(hook); }

  int open_key_count() const { return static_cast<int>(handles_.size()); }
  int max_open_key_count() const { return max_open_; }
  // The access masks of every OpenKey call, in order.
  const std::vector<std::uint32_t>& open_access_log() const { return open_access_log_; }

  // --- Registry ---
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

 private:
  struct Node;
  struct OpenHandle {
    std::shared_ptr<Node> node;
    std::uint32_t access = 0;
  };

  std::shared_ptr<Node> RootNode(RootKey root) const;
  // nullptr when a component is missing (or the path is malformed).
  std::shared_ptr<Node> Find(RootKey root, const std::string& path) const;
  std::shared_ptr<Node> FindOrCreate(RootKey root, const std::string& path);
  const OpenHandle* Lookup(KeyHandle key) const;
  KeyHandle NewHandle(std::shared_ptr<Node> node, std::uint32_t access);
  void RunHook();

  std::map<RootKey, std::shared_ptr<Node>> roots_;
  std::map<KeyHandle, OpenHandle> handles_;
  KeyHandle next_handle_ = 0x1000;
  int max_open_ = 0;
  std::vector<std::uint32_t> open_access_log_;
  std::function<void()> hook_;
};

}  // namespace platform
