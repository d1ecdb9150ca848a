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
// Views: OpenKey and CreateKey with kKeyWow64_32Key find HKLM\SOFTWARE and
// everything below it under HKLM\SOFTWARE\WOW6432Node, as Windows redirects
// a 32-bit program's keys; the building and inspecting calls below always
// name the 64-bit view's path. Other hives are the same in both views.
//
// Test controls: a key can refuse to open (access denied) or refuse write
// access; a hook runs at every enumeration call, so a test can change the
// registry or start a nested reading in the middle of one.
//
// Times and watches, as Windows keeps them: a key's last write time is
// stamped from the registry's clock when one of its values is set (even to
// the same data) or deleted, and when a subkey is created or deleted directly
// under it; a new key is stamped when created. The clock only moves when a
// test moves it (it may be set back, as a user can set a system clock), and
// stamps can be rounded down to a grain, as Windows' coarse clock does. A
// watch is signalled by every write at or below its key (WatchKey's: by the
// writes that stamp its key, to its values and its list of subkeys), but
// not by the deletion of its own key, and not by access changes; after its key is
// deleted it answers kErrorKeyDeleted. LoseWatches makes every watch answer
// an error, as a handle the system has dropped would.
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
  // Undoes DenyOpen. Like every access change, this stamps and signals
  // nothing.
  void AllowOpen(RootKey root, const std::string& path);

  // The clock keys are stamped from (100 ns units; starts at 1 day).
  void SetClock(KeyTime now) { clock_ = now; }
  void AdvanceClock(KeyTime delta) { clock_ += delta; }
  KeyTime clock() const { return clock_; }
  // Stamps are rounded down to a multiple of grain (1: exact).
  void SetTimeGrain(KeyTime grain) { grain_ = grain == 0 ? 1 : grain; }
  // Every watch answers kErrorInvalidHandle from now on.
  void LoseWatches();
  int armed_watch_count() const;
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
  // The stored bytes as they are (this registry keeps one form of each
  // value; tests store UTF-16LE strings where the raw form matters).
  RegResult EnumValueRaw(KeyHandle key, std::uint32_t index, std::string* name,
                         std::uint32_t* type, std::string* data) override;
  RegResult EnumValue(KeyHandle key, std::uint32_t index, char* name,
                      std::uint32_t* name_length, std::uint32_t* type, std::uint8_t* data,
                      std::uint32_t* data_size) override;
  RegResult EnumKey(KeyHandle key, std::uint32_t index, char* name,
                    std::uint32_t name_size) override;
  RegResult EnumKeyWithTime(KeyHandle key, std::uint32_t index, char* name,
                            std::uint32_t name_size, KeyTime* last_write) override;
  RegResult QueryKeyTime(KeyHandle key, KeyTime* last_write) override;
  KeyTime CurrentTime() override { return clock_; }
  RegResult WatchBranch(RootKey root, const std::string& path,
                        std::unique_ptr<BranchWatch>* watch) override;
  RegResult WatchKey(RootKey root, const std::string& path,
                     std::unique_ptr<BranchWatch>* watch) override;
  RegResult QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                       std::string* data) override;
  RegResult SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                     const void* data, std::uint32_t size) override;
  RegResult DeleteValue(KeyHandle key, const std::string& name) override;

 private:
  struct Node;
  RegResult MakeWatch(RootKey root, const std::string& path, bool subtree,
                      std::unique_ptr<BranchWatch>* watch);
  struct WatchState;
  class MemoryWatch;
  struct OpenHandle {
    std::shared_ptr<Node> node;
    std::uint32_t access = 0;
  };

  std::shared_ptr<Node> RootNode(RootKey root) const;
  // nullptr when a component is missing (or the path is malformed).
  std::shared_ptr<Node> Find(RootKey root, const std::string& path) const;
  std::shared_ptr<Node> FindOrCreate(RootKey root, const std::string& path);
  const OpenHandle* Lookup(KeyHandle key) const;
  // After the hook: the open key whose value at index both enumerations
  // read, or the result they give when there is none.
  RegResult ValueHandle(KeyHandle key, std::uint32_t index, const OpenHandle** handle);
  KeyHandle NewHandle(std::shared_ptr<Node> node, std::uint32_t access);
  void RunHook();
  KeyTime Stamp() const { return clock_ - clock_ % grain_; }
  // A write at node: stamps it (when touched_key) and signals the watches
  // at or above it.
  void Written(Node& node);
  void Signal(const Node& node);

  std::map<RootKey, std::shared_ptr<Node>> roots_;
  std::map<KeyHandle, OpenHandle> handles_;
  KeyHandle next_handle_ = 0x1000;
  int max_open_ = 0;
  std::vector<std::uint32_t> open_access_log_;
  std::function<void()> hook_;
  KeyTime clock_ = 864000000000ull;  // one day in
  KeyTime grain_ = 1;
  std::vector<std::weak_ptr<WatchState>> watches_;
};

}  // namespace platform
