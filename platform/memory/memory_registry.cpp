#include "platform/memory/memory_registry.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace platform {
namespace {

constexpr std::uint32_t kWriteRights = kKeySetValue | kKeyCreateSubKey | kKeyCreateLink;

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Splits a path at backslashes; a single trailing backslash is allowed, an
// empty component elsewhere makes the path malformed (false).
bool SplitPath(const std::string& path, std::vector<std::string_view>& parts) {
  parts.clear();
  if (path.empty()) return true;
  std::string_view rest = path;
  if (rest.back() == '\\') rest.remove_suffix(1);
  for (;;) {
    const std::size_t at = rest.find('\\');
    const std::string_view part = rest.substr(0, at);
    if (part.empty()) return false;
    parts.push_back(part);
    if (at == std::string_view::npos) return true;
    rest.remove_prefix(at + 1);
  }
}

// The path a key of the access mask's view has in the one tree this registry
// keeps: the 32-bit view of HKLM\SOFTWARE is HKLM\SOFTWARE\WOW6432Node, as
// Windows redirects it; every other key is the same in both views.
std::string ViewPath(RootKey root, const std::string& path, std::uint32_t access) {
  if ((access & kKeyWow64_32Key) == 0 || root != kHkeyLocalMachine) return path;
  const std::size_t end = path.find('\\');
  const std::string first = path.substr(0, end);
  if (!SameName(first, "SOFTWARE")) return path;
  return first + "\\WOW6432Node" + (end == std::string::npos ? "" : path.substr(end));
}

}  // namespace

struct MemoryRegistry::Node {
  struct Value {
    std::string name;
    std::uint32_t type = 0;
    std::string bytes;
  };
  std::string name;
  std::vector<std::shared_ptr<Node>> subkeys;
  std::vector<Value> values;
  Node* parent = nullptr;  // nullptr for a root and once removed
  KeyTime time = kUnknownKeyTime;
  bool deleted = false;
  bool deny_open = false;
  bool deny_write = false;

  std::shared_ptr<Node> Child(std::string_view child_name) const {
    for (const auto& child : subkeys)
      if (SameName(child->name, child_name)) return child;
    return nullptr;
  }
  Value* FindValue(std::string_view value_name) {
    for (Value& value : values)
      if (SameName(value.name, value_name)) return &value;
    return nullptr;
  }
  void Put(const std::string& value_name, std::uint32_t type, std::string_view bytes) {
    if (Value* value = FindValue(value_name)) {
      value->type = type;
      value->bytes.assign(bytes);
      return;
    }
    values.push_back({value_name, type, std::string(bytes)});
  }
};

struct MemoryRegistry::WatchState {
  std::shared_ptr<Node> node;
  bool subtree = true;
  bool armed = false;
  bool signalled = false;
  bool lost = false;
};

class MemoryRegistry::MemoryWatch : public BranchWatch {
 public:
  explicit MemoryWatch(std::shared_ptr<WatchState> state) : state_(std::move(state)) {}
  bool Signalled() override { return state_->signalled; }
  RegResult Arm() override {
    if (state_->lost) return kErrorInvalidHandle;
    if (state_->node->deleted) return kErrorKeyDeleted;
    state_->signalled = false;
    state_->armed = true;
    return kErrorSuccess;
  }
  RegResult Check() override {
    if (state_->lost) return kErrorInvalidHandle;
    return state_->node->deleted ? kErrorKeyDeleted : kErrorSuccess;
  }

 private:
  std::shared_ptr<WatchState> state_;
};

MemoryRegistry::MemoryRegistry() {
  for (RootKey root : {kHkeyClassesRoot, kHkeyCurrentUser, kHkeyLocalMachine, kHkeyUsers,
                       kHkeyCurrentConfig}) {
    // Every key has a time, the roots too: one never written since would
    // otherwise have none, and a reader could never trust it.
    auto node = std::make_shared<Node>();
    node->time = Stamp();
    roots_[root] = std::move(node);
  }
}

MemoryRegistry::~MemoryRegistry() = default;

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::RootNode(RootKey root) const {
  const auto it = roots_.find(root);
  return it == roots_.end() ? nullptr : it->second;
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::Find(RootKey root,
                                                           const std::string& path) const {
  std::shared_ptr<Node> node = RootNode(root);
  std::vector<std::string_view> parts;
  if (!node || !SplitPath(path, parts)) return nullptr;
  for (std::string_view part : parts) {
    node = node->Child(part);
    if (!node) return nullptr;
  }
  return node;
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::FindOrCreate(RootKey root,
                                                                   const std::string& path) {
  std::shared_ptr<Node> node = RootNode(root);
  std::vector<std::string_view> parts;
  if (!node) throw std::invalid_argument("unknown root key");
  if (!SplitPath(path, parts)) throw std::invalid_argument("malformed key path: " + path);
  for (std::string_view part : parts) {
    std::shared_ptr<Node> child = node->Child(part);
    if (!child) {
      child = std::make_shared<Node>();
      child->name.assign(part);
      child->parent = node.get();
      child->time = Stamp();
      node->subkeys.push_back(child);
      Written(*node);
    }
    node = child;
  }
  return node;
}

void MemoryRegistry::AddKey(RootKey root, const std::string& path) { FindOrCreate(root, path); }

void MemoryRegistry::PutValue(RootKey root, const std::string& path, const std::string& name,
                              std::uint32_t type, std::string_view bytes) {
  const std::shared_ptr<Node> node = FindOrCreate(root, path);
  node->Put(name, type, bytes);
  Written(*node);
}

void MemoryRegistry::PutString(RootKey root, const std::string& path, const std::string& name,
                               std::string_view text) {
  std::string bytes(text);
  bytes.push_back('\0');
  PutValue(root, path, name, kRegSz, bytes);
}

void MemoryRegistry::PutDword(RootKey root, const std::string& path, const std::string& name,
                              std::uint32_t value) {
  const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                         static_cast<char>((value >> 16) & 0xFF),
                         static_cast<char>((value >> 24) & 0xFF)};
  PutValue(root, path, name, kRegDword, std::string_view(bytes, 4));
}

bool MemoryRegistry::RemoveKey(RootKey root, const std::string& path) {
  std::vector<std::string_view> parts;
  if (!SplitPath(path, parts) || parts.empty()) return false;
  const std::string last(parts.back());
  const std::string parent_path = path.substr(0, path.size() - (path.back() == '\\') - last.size());
  std::shared_ptr<Node> parent = Find(root, parent_path);
  if (!parent) return false;
  auto& subkeys = parent->subkeys;
  const auto it = std::find_if(subkeys.begin(), subkeys.end(),
                               [&](const auto& child) { return SameName(child->name, last); });
  if (it == subkeys.end()) return false;
  struct Mark {
    static void Deleted(Node& node) {
      node.deleted = true;
      node.parent = nullptr;
      for (const auto& child : node.subkeys) Deleted(*child);
    }
  };
  Mark::Deleted(**it);
  subkeys.erase(it);
  Written(*parent);
  return true;
}

bool MemoryRegistry::RemoveValue(RootKey root, const std::string& path, const std::string& name) {
  std::shared_ptr<Node> node = Find(root, path);
  if (!node) return false;
  auto& values = node->values;
  const auto it = std::find_if(values.begin(), values.end(),
                               [&](const Node::Value& value) { return SameName(value.name, name); });
  if (it == values.end()) return false;
  values.erase(it);
  Written(*node);
  return true;
}

bool MemoryRegistry::HasKey(RootKey root, const std::string& path) const {
  return Find(root, path) != nullptr;
}

void MemoryRegistry::DenyOpen(RootKey root, const std::string& path) {
  FindOrCreate(root, path)->deny_open = true;
}

void MemoryRegistry::AllowOpen(RootKey root, const std::string& path) {
  FindOrCreate(root, path)->deny_open = false;
}

void MemoryRegistry::LoseWatches() {
  for (const auto& weak : watches_)
    if (const auto state = weak.lock()) state->lost = true;
}

int MemoryRegistry::armed_watch_count() const {
  int count = 0;
  for (const auto& weak : watches_)
    if (const auto state = weak.lock()) count += state->armed && !state->lost;
  return count;
}

void MemoryRegistry::Written(Node& node) {
  node.time = Stamp();
  Signal(node);
}

void MemoryRegistry::Signal(const Node& node) {
  for (const auto& weak : watches_) {
    const auto state = weak.lock();
    if (!state || !state->armed || state->lost) continue;
    for (const Node* at = &node; at != nullptr; at = state->subtree ? at->parent : nullptr) {
      if (at == state->node.get()) {
        state->armed = false;
        state->signalled = true;
        break;
      }
    }
  }
}

RegResult MemoryRegistry::EnumKeyWithTime(KeyHandle key, std::uint32_t index, char* name,
                                          std::uint32_t name_size, KeyTime* last_write) {
  *last_write = kUnknownKeyTime;
  const RegResult result = EnumKey(key, index, name, name_size);
  if (result == kErrorSuccess) *last_write = Lookup(key)->node->subkeys[index]->time;
  return result;
}

RegResult MemoryRegistry::QueryKeyTime(KeyHandle key, KeyTime* last_write) {
  *last_write = kUnknownKeyTime;
  const OpenHandle* handle = Lookup(key);
  if (!handle) return kErrorInvalidHandle;
  if (handle->node->deleted) return kErrorKeyDeleted;
  *last_write = handle->node->time;
  return kErrorSuccess;
}

RegResult MemoryRegistry::WatchBranch(RootKey root, const std::string& path,
                                      std::unique_ptr<BranchWatch>* watch) {
  return MakeWatch(root, path, true, watch);
}

RegResult MemoryRegistry::WatchKey(RootKey root, const std::string& path,
                                   std::unique_ptr<BranchWatch>* watch) {
  return MakeWatch(root, path, false, watch);
}

RegResult MemoryRegistry::MakeWatch(RootKey root, const std::string& path, bool subtree,
                                    std::unique_ptr<BranchWatch>* watch) {
  if (!RootNode(root)) return kErrorInvalidHandle;
  std::shared_ptr<Node> node = Find(root, path);
  if (!node) return kErrorFileNotFound;
  if (node->deny_open) return kErrorAccessDenied;
  auto state = std::make_shared<WatchState>();
  state->node = std::move(node);
  state->subtree = subtree;
  state->armed = true;
  // Watches that ended are dropped here, so the list does not grow with
  // every watch a long test makes.
  std::erase_if(watches_, [](const auto& weak) { return weak.expired(); });
  watches_.push_back(state);
  *watch = std::make_unique<MemoryWatch>(std::move(state));
  return kErrorSuccess;
}

void MemoryRegistry::DenyWrite(RootKey root, const std::string& path) {
  FindOrCreate(root, path)->deny_write = true;
}

const MemoryRegistry::OpenHandle* MemoryRegistry::Lookup(KeyHandle key) const {
  const auto it = handles_.find(key);
  return it == handles_.end() ? nullptr : &it->second;
}

KeyHandle MemoryRegistry::NewHandle(std::shared_ptr<Node> node, std::uint32_t access) {
  const KeyHandle key = next_handle_;
  next_handle_ += 4;
  handles_[key] = OpenHandle{std::move(node), access};
  max_open_ = std::max(max_open_, static_cast<int>(handles_.size()));
  return key;
}

void MemoryRegistry::RunHook() {
  if (!hook_) return;
  // The hook may replace or clear itself.
  const std::function<void()> hook = hook_;
  hook();
}

RegResult MemoryRegistry::OpenKey(RootKey root, const std::string& path, std::uint32_t access,
                                  KeyHandle* key) {
  open_access_log_.push_back(access);
  if (!RootNode(root)) return kErrorInvalidHandle;
  std::shared_ptr<Node> node = Find(root, ViewPath(root, path, access));
  if (!node) return kErrorFileNotFound;
  if (node->deny_open || (node->deny_write && (access & kWriteRights) != 0))
    return kErrorAccessDenied;
  *key = NewHandle(std::move(node), access);
  return kErrorSuccess;
}

RegResult MemoryRegistry::CreateKey(RootKey root, const std::string& asked, std::uint32_t access,
                                    KeyHandle* key) {
  if (!RootNode(root)) return kErrorInvalidHandle;
  const std::string path = ViewPath(root, asked, access);
  std::vector<std::string_view> parts;
  if (!SplitPath(path, parts)) return kErrorFileNotFound;
  if (std::shared_ptr<Node> existing = Find(root, path)) {
    if (existing->deny_open || (existing->deny_write && (access & kWriteRights) != 0))
      return kErrorAccessDenied;
    *key = NewHandle(std::move(existing), access);
    return kErrorSuccess;
  }
  *key = NewHandle(FindOrCreate(root, path), access);
  return kErrorSuccess;
}

RegResult MemoryRegistry::CloseKey(KeyHandle key) {
  return handles_.erase(key) == 1 ? kErrorSuccess : kErrorInvalidHandle;
}

RegResult MemoryRegistry::ValueHandle(KeyHandle key, std::uint32_t index,
                                      const OpenHandle** handle) {
  RunHook();
  *handle = Lookup(key);
  if (!*handle) return kErrorInvalidHandle;
  if ((*handle)->node->deleted) return kErrorKeyDeleted;
  if (((*handle)->access & kKeyQueryValue) == 0) return kErrorAccessDenied;
  if (index >= (*handle)->node->values.size()) return kErrorNoMoreItems;
  return kErrorSuccess;
}

RegResult MemoryRegistry::EnumValueRaw(KeyHandle key, std::uint32_t index, std::string* name,
                                       std::uint32_t* type, std::string* data) {
  const OpenHandle* handle = nullptr;
  if (const RegResult result = ValueHandle(key, index, &handle); result != kErrorSuccess)
    return result;
  const Node::Value& value = handle->node->values[index];
  *name = value.name;
  *type = value.type;
  data->assign(value.bytes.begin(), value.bytes.end());
  return kErrorSuccess;
}

RegResult MemoryRegistry::EnumValue(KeyHandle key, std::uint32_t index, char* name,
                                    std::uint32_t* name_length, std::uint32_t* type,
                                    std::uint8_t* data, std::uint32_t* data_size) {
  const OpenHandle* handle = nullptr;
  if (const RegResult result = ValueHandle(key, index, &handle); result != kErrorSuccess)
    return result;
  const Node::Value& value = handle->node->values[index];
  const auto size = static_cast<std::uint32_t>(value.bytes.size());
  if (type) *type = value.type;
  const bool name_fits = value.name.size() < *name_length;
  const bool data_fits = data == nullptr || data_size == nullptr || size <= *data_size;
  if (name_fits) {
    std::memcpy(name, value.name.data(), value.name.size());
    name[value.name.size()] = '\0';
    *name_length = static_cast<std::uint32_t>(value.name.size());
  }
  if (!name_fits || !data_fits) {
    if (data_size) *data_size = size;
    return kErrorMoreData;
  }
  if (data && size > 0) std::memcpy(data, value.bytes.data(), size);
  if (data_size) *data_size = size;
  return kErrorSuccess;
}

RegResult MemoryRegistry::EnumKey(KeyHandle key, std::uint32_t index, char* name,
                                  std::uint32_t name_size) {
  RunHook();
  const OpenHandle* handle = Lookup(key);
  if (!handle) return kErrorInvalidHandle;
  if (handle->node->deleted) return kErrorKeyDeleted;
  if ((handle->access & kKeyEnumerateSubKeys) == 0) return kErrorAccessDenied;
  const auto& subkeys = handle->node->subkeys;
  if (index >= subkeys.size()) return kErrorNoMoreItems;
  const std::string& subkey_name = subkeys[index]->name;
  if (subkey_name.size() + 1 > name_size) return kErrorMoreData;
  std::memcpy(name, subkey_name.c_str(), subkey_name.size() + 1);
  return kErrorSuccess;
}

RegResult MemoryRegistry::QueryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                                     std::string* data) {
  const OpenHandle* handle = Lookup(key);
  if (!handle) return kErrorInvalidHandle;
  if ((handle->access & kKeyQueryValue) == 0) return kErrorAccessDenied;
  const Node::Value* value = handle->node->FindValue(name);
  if (!value) return kErrorFileNotFound;
  if (type) *type = value->type;
  if (data) *data = value->bytes;
  return kErrorSuccess;
}

RegResult MemoryRegistry::SetValue(KeyHandle key, const std::string& name, std::uint32_t type,
                                   const void* data, std::uint32_t size) {
  const OpenHandle* handle = Lookup(key);
  if (!handle) return kErrorInvalidHandle;
  if ((handle->access & kKeySetValue) == 0) return kErrorAccessDenied;
  if (handle->node->deleted) return kErrorKeyDeleted;
  handle->node->Put(name, type,
                    std::string_view(static_cast<const char*>(data), data ? size : 0));
  Written(*handle->node);
  return kErrorSuccess;
}

RegResult MemoryRegistry::DeleteValue(KeyHandle key, const std::string& name) {
  const OpenHandle* handle = Lookup(key);
  if (!handle) return kErrorInvalidHandle;
  if ((handle->access & kKeySetValue) == 0) return kErrorAccessDenied;
  auto& values = handle->node->values;
  const auto it = std::find_if(values.begin(), values.end(),
                               [&](const Node::Value& value) { return SameName(value.name, name); });
  if (it == values.end()) return kErrorFileNotFound;
  values.erase(it);
  Written(*handle->node);
  return kErrorSuccess;
}

}  // namespace platform
