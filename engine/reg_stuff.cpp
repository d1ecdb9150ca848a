#include "engine/reg_stuff.h"

#include <algorithm>
#include <cstring>

#include "engine/entry_text.h"

namespace RegStuff {

BranchReader::BranchReader(platform::Registry& registry, mKestrelmark::EngineHost& host,
                           bool include_values, EntryList& entries)
    : registry_(registry), host_(host), include_values_(include_values), entries_(entries) {}

void BranchReader::EnumerateKey(platform::RootKey root, std::string& path) {
  platform::KeyHandle key = 0;
  // Read access only: asking for more would skip every key the user may
  // read but not write.
  if (registry_.OpenKey(root, path, platform::kKeyRead, &key) != platform::kErrorSuccess) return;
  OpenKeyScope open_key(registry_, key);

  const std::size_t block_start = blocks_.size();
  if (include_values_) {
    blocks_.push_back(path);
    ReadValueEntries(registry_, host_, key, path, blocks_);
  }

  const std::size_t names_start = subkey_names_.size();
  char name[kSubkeyBufferSize];
  for (std::uint32_t index = 0;; ++index) {
    if (registry_.EnumKey(key, index, name, kSubkeyBufferSize) != platform::kErrorSuccess) break;
    subkey_names_.push_back(std::string_view(name, strnlen(name, kSubkeyBufferSize)));
    host_.YieldToEventLoop();
  }
  open_key.Close();

  const std::size_t names_end = subkey_names_.size();
  const std::size_t path_length = path.size();
  for (std::size_t n = names_start; n < names_end; ++n) {
    if (!path.empty()) path += '\\';
    path += subkey_names_[n];
    if (!include_values_) entries_.push_back(path);
    EnumerateKey(root, path);
    path.resize(path_length);
    host_.YieldToEventLoop();
  }
  subkey_names_.TruncateTo(names_start);

  if (include_values_) {
    const std::size_t block_end = blocks_.size();
    for (std::size_t b = block_start; b < block_end; ++b) {
      entries_.push_back(blocks_[b]);
      host_.YieldToEventLoop();
    }
    blocks_.TruncateTo(block_start);
  }
}

void ReadValueEntries(platform::Registry& registry, mKestrelmark::EngineHost& host,
                      platform::KeyHandle key, std::string_view path, EntryList& block) {
  char name[kNameBufferSize];
  std::uint8_t data[kDataBufferSize];
  for (std::uint32_t index = 0;; ++index) {
    std::uint32_t name_length = kNameBufferSize;
    std::uint32_t type = 0;
    std::uint32_t data_size = kDataBufferSize;
    // A DWORD reported with fewer than four bytes shows zeros for the rest.
    std::memset(data, 0, 4);
    const platform::RegResult result =
        registry.EnumValue(key, index, name, &name_length, &type, data, &data_size);
    if (result == platform::kErrorMoreData) {
      // A name or data too large for the buffers gets no entry; the values
      // after it are still read.
      host.YieldToEventLoop();
      continue;
    }
    if (result != platform::kErrorSuccess) break;
    // A name over 255 characters gets no entry, like one that does not fit
    // the buffer; so does data the registry reports over the buffer's size.
    const std::string_view name_text(name, std::min(name_length, kNameBufferSize - 1));
    if (NameCharacters(name_text) <= kMaxNameCharacters && data_size <= kDataBufferSize) {
      AppendValueEntry(block, path, name_text, type,
                       std::string_view(reinterpret_cast<const char*>(data), data_size));
    }
    host.YieldToEventLoop();
  }
}

void ReadBranch(platform::Registry& registry, mKestrelmark::EngineHost& host,
                platform::RootKey root, const std::string& start_path, bool include_values,
                EntryList& entries) {
  entries.clear();
  BranchReader reader(registry, host, include_values, entries);
  std::string path = start_path;
  reader.EnumerateKey(root, path);
}

EntryList ReadBranch(platform::Registry& registry, mKestrelmark::EngineHost& host,
                     platform::RootKey root, const std::string& start_path,
                     bool include_values) {
  EntryList entries;
  ReadBranch(registry, host, root, start_path, include_values, entries);
  return entries;
}

}  // namespace RegStuff
