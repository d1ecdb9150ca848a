// A reading of one branch that keeps what it read, so that the next reading
// of the same branch re-reads only what may have changed. The list it gives
// is byte for byte the list ReadBranch gives, in the same order.
//
// Why skipping is safe: a key's last write time changes whenever one of its
// values is set or deleted and whenever a subkey is created or deleted
// directly under it (not for changes deeper down). So a key whose time is
// the one it had when its values were read last still holds those values.
// Its subkey names are still enumerated at every reading (a rename below it
// does not touch its time), and every key is still opened in keys-and-values
// mode (a key whose read permission changed keeps its time, and then its
// block must go or come back). In keys-only mode a key that had no subkeys,
// opened last time and kept its time still has no subkeys, so it is not
// opened at all.
//
// A time is trusted only when it lies before the rules' trust_before:
// Windows stamps keys from a clock of about 10 ms grain, so a key written
// just before its values were read can be written again with the same stamp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/entry_list.h"
#include "engine/host.h"
#include "platform/registry.h"

namespace RegStuff {

struct WalkRules {
  // Key times at or after this are not trusted (kUnknownKeyTime: none is).
  platform::KeyTime trust_before = platform::kUnknownKeyTime;
  // Keys-only mode: open unchanged keys without subkeys too.
  bool open_every_key = false;
};

struct WalkCounts {
  std::size_t keys_opened = 0;
  std::size_t keys_skipped = 0;       // keys-only: unchanged keys not opened
  std::size_t value_lists_read = 0;   // keys whose values were enumerated
  std::size_t value_lists_kept = 0;   // keys whose values came from the cache
};

class CachedBranch {
 public:
  // Reads root\start_path as ReadBranch does, reusing what the last reading
  // of the same branch and mode read and may reuse. The list stays valid
  // until the next Read or Forget. When an error ends the walk, the list
  // keeps what was appended so far, the error propagates, and everything
  // cached is forgotten.
  const EntryList& Read(platform::Registry& registry, mKestrelmark::EngineHost& host,
                        platform::RootKey root, const std::string& start_path,
                        bool include_values, const WalkRules& rules);
  // The next Read is a full reading.
  void Forget();

  const EntryList& entries() const { return current_; }
  const WalkCounts& counts() const { return counts_; }

 private:
  struct Key {
    std::string name;
    platform::KeyTime time = platform::kUnknownKeyTime;
    bool trusted = false;  // time known and older than the walk's trust_before
    bool opened = false;   // the last walk could open it
    // Its value entries in the last reading's list (keys-and-values mode).
    std::size_t values_begin = 0;
    std::size_t values_end = 0;
    std::vector<Key> subkeys;  // in enumeration order
  };
  struct SubkeyName {
    std::size_t name_start;  // in names_
    platform::KeyTime time;
  };
  class Walk;

  EntryList current_;
  EntryList scratch_;
  Key start_;
  bool have_start_ = false;
  platform::RootKey root_ = 0;
  std::string start_path_;
  bool include_values_ = false;
  WalkCounts counts_;
};

}  // namespace RegStuff
