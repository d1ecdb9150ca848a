// The branch reader over an in-memory registry built from the input: keys
// with any names (odd bytes, the longest names that fit and those that do
// not), values of any type and size, keys that refuse to open or to be
// written. Both modes must give what a plain recursive walk of the same
// description gives, keep at most one key of a walk open and leave none
// open, also when the host throws in the middle or starts a reading of its
// own inside a yield. A snapshot of the branch holds those entries, and a
// check of the unchanged branch against it reports nothing. A key deleted
// in the middle of a reading only leaves entries out.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/entry_list.h"
#include "engine/entry_text.h"
#include "engine/m_kestrelmark.h"
#include "engine/reg_stuff.h"
#include "fuzz/fuzz_check.h"
#include "platform/memory/memory_file_system.h"
#include "platform/memory/memory_registry.h"
#include "tests/engine/recording_host.h"

namespace {

using kestrelmark::fuzz::Quoted;
using mKestrelmark::testing::RecordingHost;
using Strings = std::vector<std::string>;

constexpr platform::RootKey kRoot = platform::kHkeyCurrentUser;
constexpr int kMaxKeys = 40;
constexpr int kMaxDepth = 5;

struct ValueSpec {
  std::string name;
  std::uint32_t type = 0;
  std::string data;
};

struct KeySpec {
  std::string name;  // empty for the root
  bool deny_open = false;
  bool deny_write = false;
  std::vector<ValueSpec> values;
  std::vector<KeySpec> subkeys;
};

// Registry names match case-insensitively in ASCII.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
    if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
    if (x != y) return false;
  }
  return true;
}

class Decoder {
 public:
  explicit Decoder(FuzzedDataProvider& input) : input_(input) {}

  KeySpec Root() { return Key(std::string(), 0); }

  std::uint32_t Count(std::uint32_t most) {
    return input_.ConsumeIntegralInRange<std::uint32_t>(0, most);
  }

 private:
  // Short names mostly; now and then a piece repeated to a length at one
  // of the limits: 255 characters, a 766-byte buffer.
  std::string Name() {
    std::string name = input_.ConsumeRandomLengthString(12);
    if (input_.ConsumeIntegralInRange<int>(0, 15) == 0) {
      static constexpr std::size_t kLengths[] = {254, 255, 256, 764, 765, 766, 767};
      const std::size_t length = input_.PickValueInArray(kLengths);
      if (name.empty()) name = "n";
      while (name.size() < length) name += name;
      name.resize(length);
    }
    return name;
  }

  // A key name holds neither NUL (the A functions cannot pass it) nor a
  // backslash (the path separator), and is never empty.
  std::string KeyName() {
    std::string name = Name();
    for (char& c : name)
      if (c == '\\' || c == '\0') c = '_';
    return name.empty() ? std::string("k") : name;
  }

  ValueSpec Value() {
    static constexpr std::uint32_t kTypes[] = {0, 1, 1, 2, 3, 4, 4, 7};
    ValueSpec value;
    value.name = input_.ConsumeIntegralInRange<int>(0, 7) == 0 ? std::string() : Name();
    value.type = input_.ConsumeIntegralInRange<int>(0, 15) == 0
                     ? input_.ConsumeIntegral<std::uint32_t>()
                     : input_.PickValueInArray(kTypes);
    value.data = input_.ConsumeRandomLengthString(24);
    if (input_.ConsumeIntegralInRange<int>(0, 15) == 0)
      value.data.resize(input_.ConsumeIntegralInRange<std::size_t>(1022, 1026),
                        input_.ConsumeIntegral<char>());
    return value;
  }

  KeySpec Key(std::string name, int depth) {
    KeySpec key;
    key.name = std::move(name);
    ++keys_;
    const auto flags = input_.ConsumeIntegral<std::uint8_t>();
    key.deny_open = (flags & 0x0F) == 0;
    key.deny_write = (flags & 0x30) == 0;
    for (std::uint32_t n = Count(4); n > 0 && input_.remaining_bytes() > 0; --n) {
      ValueSpec value = Value();
      bool taken = false;
      for (const ValueSpec& other : key.values) taken = taken || SameName(other.name, value.name);
      if (!taken) key.values.push_back(std::move(value));
    }
    const std::uint32_t subkeys = depth < kMaxDepth ? Count(4) : 0;
    for (std::uint32_t n = subkeys; n > 0 && keys_ < kMaxKeys && input_.remaining_bytes() > 0;
         --n) {
      std::string subkey_name = KeyName();
      bool taken = false;
      for (const KeySpec& other : key.subkeys) taken = taken || SameName(other.name, subkey_name);
      if (!taken) key.subkeys.push_back(Key(std::move(subkey_name), depth + 1));
    }
    return key;
  }

  FuzzedDataProvider& input_;
  int keys_ = 0;
};

void Build(platform::MemoryRegistry& registry, const KeySpec& key, const std::string& path) {
  registry.AddKey(kRoot, path);
  for (const ValueSpec& value : key.values)
    registry.PutValue(kRoot, path, value.name, value.type, value.data);
  if (key.deny_open) registry.DenyOpen(kRoot, path);
  if (key.deny_write) registry.DenyWrite(kRoot, path);
  for (const KeySpec& subkey : key.subkeys)
    Build(registry, subkey, path.empty() ? subkey.name : path + "\\" + subkey.name);
}

std::string ChildPath(const std::string& path, const std::string& name) {
  return path.empty() ? name : path + "\\" + name;
}

// The subkeys a walk sees: enumeration stops at the first name that does
// not fit the 766-byte buffer.
std::vector<const KeySpec*> ListedSubkeys(const KeySpec& key) {
  std::vector<const KeySpec*> listed;
  for (const KeySpec& subkey : key.subkeys) {
    if (subkey.name.size() + 1 > RegStuff::kSubkeyBufferSize) break;
    listed.push_back(&subkey);
  }
  return listed;
}

// Keys-only: pre-order, without the start key; an unopenable key is listed
// by its parent but nothing below it is.
void KeysOnly(const KeySpec& key, const std::string& path, Strings& out) {
  if (key.deny_open) return;
  for (const KeySpec* subkey : ListedSubkeys(key)) {
    const std::string child = ChildPath(path, subkey->name);
    out.push_back(child);
    KeysOnly(*subkey, child, out);
  }
}

// Keys-and-values: each key that opens gives a block (its path, then its
// values that have an entry), after the blocks of its subkeys. A value whose
// name or data does not fit the buffers, or whose name is over 255
// characters, is skipped and the values after it are still read.
void KeysAndValues(const KeySpec& key, const std::string& path, Strings& out) {
  if (key.deny_open) return;
  Strings block{path};
  for (const ValueSpec& value : key.values) {
    if (value.name.size() + 1 > RegStuff::kNameBufferSize) continue;
    if (value.data.size() > RegStuff::kDataBufferSize) continue;
    if (RegStuff::NameCharacters(value.name) > RegStuff::kMaxNameCharacters) continue;
    if (std::optional<std::string> entry =
            RegStuff::ValueEntryText(path, value.name, value.type, value.data))
      block.push_back(std::move(*entry));
  }
  for (const KeySpec* subkey : ListedSubkeys(key))
    KeysAndValues(*subkey, ChildPath(path, subkey->name), out);
  out.insert(out.end(), block.begin(), block.end());
}

Strings Model(const KeySpec* start, const std::string& start_path, bool include_values) {
  Strings out;
  if (start == nullptr) return out;
  if (include_values) {
    KeysAndValues(*start, start_path, out);
  } else {
    KeysOnly(*start, start_path, out);
  }
  return out;
}

// Paths (as created) of the keys below the root that a walk can list, in
// pre-order. (Deleting a key whose name does not fit the buffer would bring
// its later siblings into view.)
void KeyPaths(const KeySpec& key, const std::string& path, Strings& out) {
  for (const KeySpec& subkey : key.subkeys) {
    if (subkey.name.size() + 1 > RegStuff::kSubkeyBufferSize) continue;
    const std::string child = ChildPath(path, subkey.name);
    out.push_back(child);
    KeyPaths(subkey, child, out);
  }
}

// part is whole with some entries left out.
bool IsSubsequence(const Strings& part, const Strings& whole) {
  std::size_t at = 0;
  for (const std::string& entry : whole)
    if (at < part.size() && part[at] == entry) ++at;
  return at == part.size();
}

std::string Listed(const Strings& entries) {
  std::string text = "[";
  for (const std::string& entry : entries) text += Quoted(entry) + " ";
  return text + "]";
}

// The snapshot of the branch, then a check against the unchanged branch:
// the file is every entry and CR LF, and the check reports nothing.
void CheckRoundTrip(platform::MemoryRegistry& registry, const std::string& start_path,
                    bool include_values, const Strings& expected) {
  platform::MemoryFileSystem files;
  RecordingHost host;
  const mKestrelmark::BranchSelection selection{platform::kHkeyCurrentUser, start_path,
                                                include_values};
  const std::string snapshot_path = "C:\\Temp\\registry.snp";
  const mKestrelmark::EngineContext context{registry, files, host};
  mKestrelmark::CreateSnapshot(context, selection, snapshot_path);
  std::string file;
  for (const std::string& entry : expected) file += entry + "\r\n";
  const std::optional<std::string> written = files.FileBytes(snapshot_path);
  KM_FUZZ_CHECK(written == file, "snapshot of " + Quoted(start_path) + " is " +
                                     (written ? Quoted(*written) : "missing") + ", expected " +
                                     Quoted(file));
  mKestrelmark::CompareRegistry(context, selection, snapshot_path);
  KM_FUZZ_CHECK(host.messages.empty() && host.rows.empty() &&
                    host.statuses.back() == mKestrelmark::kStatusComparisonComplete,
                "check of the unchanged " + Quoted(start_path) + " reports " + Listed(host.rows) +
                    " with " + std::to_string(host.messages.size()) + " messages");
}

std::string Mode(bool include_values) { return include_values ? "keys-and-values" : "keys-only"; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  Decoder decoder(input);
  const KeySpec root = decoder.Root();

  // The start key: a key of the tree chosen by the input, its path typed in
  // any case (used unchanged in the entries), now and then a missing child.
  const KeySpec* start = &root;
  std::string start_path;
  for (std::uint32_t depth = decoder.Count(kMaxDepth); depth > 0 && !start->subkeys.empty();
       --depth) {
    start = &start->subkeys[decoder.Count(static_cast<std::uint32_t>(start->subkeys.size() - 1))];
    std::string typed = start->name;
    for (char& c : typed)
      if (input.ConsumeBool() && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) c ^= 0x20;
    start_path = ChildPath(start_path, typed);
  }
  if (decoder.Count(7) == 0) {
    const std::string missing =
        "\x7F"
        "missing";
    bool exists = false;
    for (const KeySpec& subkey : start->subkeys) exists = exists || SameName(subkey.name, missing);
    start_path = ChildPath(start_path, missing);
    if (!exists) start = nullptr;
  }
  // A yield that throws (the walk must unwind and close its key), or that
  // starts a reading of its own.
  const auto throw_at = static_cast<int>(decoder.Count(255));
  const auto nest_at = static_cast<int>(decoder.Count(255));
  const bool throws = decoder.Count(3) == 0;
  const bool nests = !throws && decoder.Count(3) == 0;

  platform::MemoryRegistry registry;
  Build(registry, root, std::string());

  for (const bool include_values : {false, true}) {
    const Strings expected = Model(start, start_path, include_values);
    const std::string what = Mode(include_values) + " reading of " + Quoted(start_path);
    RecordingHost host;
    Strings nested;
    bool nested_ran = false;
    host.on_yield = [&] {
      if (throws && host.yield_count == throw_at) throw std::runtime_error("thrown by the host");
      if (nests && host.yield_count == nest_at) {
        nested =
            RegStuff::ReadBranch(registry, host, kRoot, start_path, !include_values).ToStrings();
        nested_ran = true;
      }
    };
    RegStuff::EntryList entries;
    entries.push_back("stale entry of an earlier reading");
    bool threw = false;
    try {
      RegStuff::ReadBranch(registry, host, kRoot, start_path, include_values, entries);
    } catch (const std::runtime_error&) {
      threw = true;
    }
    const Strings got = entries.ToStrings();
    KM_FUZZ_CHECK(registry.open_key_count() == 0,
                  what + " left " + std::to_string(registry.open_key_count()) + " keys open");
    if (threw) {
      KM_FUZZ_CHECK(
          got.size() <= expected.size() && std::equal(got.begin(), got.end(), expected.begin()),
          what + " abandoned at yield " + std::to_string(throw_at) + " kept " + Listed(got) +
              ", not a beginning of " + Listed(expected));
    } else {
      KM_FUZZ_CHECK(got == expected,
                    what + " gave " + Listed(got) + ", expected " + Listed(expected));
    }
    if (nested_ran) {
      const Strings nested_expected = Model(start, start_path, !include_values);
      KM_FUZZ_CHECK(nested == nested_expected, "nested " + Mode(!include_values) +
                                                   " reading gave " + Listed(nested) +
                                                   ", expected " + Listed(nested_expected));
    }
  }
  if (!throws && !nests) {
    for (const bool include_values : {false, true})
      CheckRoundTrip(registry, start_path, include_values,
                     Model(start, start_path, include_values));
  }
  // Last, as it changes the registry: a key deleted in the middle of a
  // reading. The reading is then the full one less some entries.
  Strings paths;
  KeyPaths(root, std::string(), paths);
  if (!paths.empty()) {
    const std::string doomed = paths[decoder.Count(static_cast<std::uint32_t>(paths.size() - 1))];
    const auto delete_at = static_cast<int>(decoder.Count(63));
    const bool include_values = decoder.Count(1) == 1;
    int calls = 0;
    registry.SetEnumerationHook([&] {
      if (++calls == delete_at) static_cast<void>(registry.RemoveKey(kRoot, doomed));
    });
    RecordingHost host;
    const Strings got =
        RegStuff::ReadBranch(registry, host, kRoot, start_path, include_values).ToStrings();
    registry.SetEnumerationHook(nullptr);
    const Strings whole = Model(start, start_path, include_values);
    KM_FUZZ_CHECK(registry.open_key_count() == 0, "keys left open after a deletion");
    KM_FUZZ_CHECK(IsSubsequence(got, whole), Mode(include_values) + " reading with " +
                                                 Quoted(doomed) + " deleted at call " +
                                                 std::to_string(delete_at) + " gave " +
                                                 Listed(got) + ", not a part of " + Listed(whole));
  }
  // One key of a walk open at a time; a nested walk holds one more.
  KM_FUZZ_CHECK(registry.max_open_key_count() <= (nests ? 2 : 1),
                "up to " + std::to_string(registry.max_open_key_count()) + " keys open at once");
  return 0;
}
