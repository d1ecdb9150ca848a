// The branch reader: one branch of the registry (root, start path, mode)
// becomes the entry list.
//
// Keys-only mode lists every key below the start key in pre-order (the start
// key itself has no entry). Keys-and-values mode gives every key that opens a
// block (its path, then its string and DWORD values) and appends a key's
// block after the blocks of all its subkeys, so the start key's block comes
// last. Subkeys and values come in the registry's enumeration order.
//
// The reader yields to the host once per enumerated value, per subkey name,
// per finished subkey and per entry moved from a block into the list, so the
// window stays alive; every reading owns its own list and working storage,
// so a reading may even start inside another one's yield.
#pragma once

#include <cstdint>
#include <string>

#include "engine/entry_list.h"
#include "engine/host.h"
#include "platform/registry.h"

namespace RegStuff {

// At most one key of the walk is open: the key is closed before descending,
// and also when an error unwinds the walk.
class OpenKeyScope {
 public:
  OpenKeyScope(platform::Registry& registry, platform::KeyHandle key)
      : registry_(registry), key_(key) {}
  OpenKeyScope(const OpenKeyScope&) = delete;
  OpenKeyScope& operator=(const OpenKeyScope&) = delete;
  ~OpenKeyScope() { Close(); }
  void Close() {
    if (key_ == 0) return;
    registry_.CloseKey(key_);  // nothing to do when closing fails
    key_ = 0;
  }

 private:
  platform::Registry& registry_;
  platform::KeyHandle key_;
};


class BranchReader {
 public:
  BranchReader(platform::Registry& registry, mKestrelmark::EngineHost& host,
               bool include_values, EntryList& entries);

  // The recursive step, one call per key: root and the key's full path below
  // it. A key that cannot be opened adds nothing. path is extended while the
  // subkeys are walked and has its old text again on return.
  void EnumerateKey(platform::RootKey root, std::string& path);

 private:
  platform::Registry& registry_;
  mKestrelmark::EngineHost& host_;
  const bool include_values_;
  EntryList& entries_;
  // Stacks shared by all levels of the walk: each level appends behind its
  // parent's part and cuts back to it before returning.
  EntryList blocks_;
  EntryList subkey_names_;
};

// Appends the value entries of the open key at path to block, in the
// registry's enumeration order, with a yield per value. A value whose name
// or data does not fit the buffers gets no entry; the values after it are
// still read.
void ReadValueEntries(platform::Registry& registry, mKestrelmark::EngineHost& host,
                      platform::KeyHandle key, std::string_view path, EntryList& block);

// Empties entries, then reads the branch into it. Reports nothing. When a
// run-time error (out of memory, an error thrown by the host) ends the walk,
// it propagates, and entries keeps what was appended so far.
void ReadBranch(platform::Registry& registry, mKestrelmark::EngineHost& host,
                platform::RootKey root, const std::string& start_path, bool include_values,
                EntryList& entries);
EntryList ReadBranch(platform::Registry& registry, mKestrelmark::EngineHost& host,
                     platform::RootKey root, const std::string& start_path,
                     bool include_values);

}  // namespace RegStuff
