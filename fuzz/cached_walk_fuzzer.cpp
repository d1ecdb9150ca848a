// Monitoring's cached reading against the plain one. From the input: an
// in-memory branch (nested keys, values of several types, keys that refuse
// to open), then a run of edits (values set and deleted, keys added and
// deleted, open denied and allowed again, the clock moved by less and by
// more than the trust margin, coarser time stamps) with readings between
// them. At every reading, in both modes, CachedBranch::Read gives exactly
// what ReadBranch gives on the same registry, whatever the last reading
// left it to reuse, and a complete walk through its own cache gives that
// list and ReadBranchComplete's complete reading; a list it gave earlier
// never changes afterwards; and a
// branch read twice with nothing changed and every time older than the
// margin has all its values reused the second time (else the cache could
// pass by never reusing anything).
//
// The clock only moves forward and stamps are never coarser than the
// margin: a key rewritten after a reading then always gets a time at or
// after that reading's trust_before, which is what lets a reading trust the
// older ones. A clock set back, or a grain over the margin, could stamp a
// rewritten key with the time it had, and no reading could tell.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/branch_cache.h"
#include "engine/branch_selection.h"
#include "engine/branch_walk.h"
#include "engine/monitor_cache.h"
#include "engine/reg_stuff.h"
#include "fuzz/fuzz_check.h"
#include "platform/memory/memory_registry.h"
#include "tests/engine/recording_host.h"

namespace {

using kestrelmark::fuzz::Quoted;
using mKestrelmark::testing::RecordingHost;
using Strings = std::vector<std::string>;

constexpr platform::RootKey kRoot = platform::kHkeyCurrentUser;
constexpr platform::KeyTime kMargin = mKestrelmark::MonitorCache::kTrustMargin;
constexpr int kMaxKeys = 40;
constexpr int kMaxSteps = 64;

std::string ChildPath(const std::string& path, const std::string& name) {
  return path.empty() ? name : path + "\\" + name;
}

std::string Listed(const Strings& entries) {
  std::string text = "[";
  for (const std::string& entry : entries) text += Quoted(entry) + " ";
  return text + "]";
}

class Fuzz {
 public:
  explicit Fuzz(FuzzedDataProvider& input) : input_(input) {}

  void Run() {
    BuildBranch();
    ChooseStart();
    for (int step = 0; step < kMaxSteps && input_.remaining_bytes() > 0; ++step) Step();
    Reading();
    CheckReuseOfAQuietBranch();
  }

 private:
  // Few names, so that edits meet keys and values that exist, in either
  // case; now and then a longer one.
  std::string Name() {
    static constexpr const char* kNames[] = {"a", "B", "c", "Key", "key", "x y", "\xE9t\xE9", ""};
    if (input_.ConsumeIntegralInRange<int>(0, 15) == 0) return input_.ConsumeRandomLengthString(8);
    return input_.PickValueInArray(kNames);
  }

  std::string KeyName() {
    std::string name = Name();
    for (char& c : name)
      if (c == '\\' || c == '\0') c = '_';
    return name.empty() ? std::string("k") : name;
  }

  // A key made so far (it may have been deleted since).
  const std::string& SomeKey() {
    return keys_[input_.ConsumeIntegralInRange<std::size_t>(0, keys_.size() - 1)];
  }

  void PutValue(const std::string& path) {
    static constexpr std::uint32_t kTypes[] = {0, 1, 1, 2, 3, 4, 4, 7};
    const std::string name = Name();
    const std::uint32_t type = input_.ConsumeIntegralInRange<int>(0, 15) == 0
                                   ? input_.ConsumeIntegral<std::uint32_t>()
                                   : input_.PickValueInArray(kTypes);
    std::string data = input_.ConsumeRandomLengthString(12);
    if (input_.ConsumeIntegralInRange<int>(0, 15) == 0)
      data.resize(input_.ConsumeIntegralInRange<std::size_t>(1022, 1026), 'v');
    registry_.PutValue(kRoot, path, name, type, data);
    Log("set " + Quoted(path) + " " + Quoted(name) + " type " + std::to_string(type) + " " +
        Quoted(data));
  }

  void AddKey(const std::string& parent) {
    if (keys_.size() >= kMaxKeys) return;
    const std::string path = ChildPath(parent, KeyName());
    registry_.AddKey(kRoot, path);
    keys_.push_back(path);
    Log("add " + Quoted(path));
  }

  void BuildBranch() {
    keys_.push_back(std::string());  // the root
    for (std::uint32_t n = input_.ConsumeIntegralInRange<std::uint32_t>(0, 24);
         n > 0 && input_.remaining_bytes() > 0; --n) {
      const std::string parent = SomeKey();
      if (input_.ConsumeBool()) {
        AddKey(parent);
      } else {
        PutValue(parent);
      }
    }
  }

  // The root, or a key below it typed in any case, or now and then a key
  // that does not exist yet (an edit may make it).
  void ChooseStart() {
    start_ = SomeKey();
    for (char& c : start_)
      if (((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && input_.ConsumeBool()) c ^= 0x20;
    if (input_.ConsumeIntegralInRange<int>(0, 7) == 0) {
      start_ = ChildPath(start_, "c");
      keys_.push_back(start_);
    }
    Log("start " + Quoted(start_));
  }

  void Step() {
    switch (input_.ConsumeIntegralInRange<int>(0, 12)) {
      case 0:
      case 1:
        PutValue(SomeKey());
        break;
      case 2: {
        const std::string path = SomeKey();
        const std::string name = Name();
        static_cast<void>(registry_.RemoveValue(kRoot, path, name));  // may not exist
        Log("delete value " + Quoted(path) + " " + Quoted(name));
        break;
      }
      case 3:
        AddKey(SomeKey());
        break;
      case 4: {
        const std::string path = SomeKey();
        if (path.empty()) break;
        static_cast<void>(registry_.RemoveKey(kRoot, path));  // may be gone already
        Log("delete key " + Quoted(path));
        break;
      }
      case 5: {
        const std::string path = SomeKey();
        if (!registry_.HasKey(kRoot, path)) break;
        registry_.DenyOpen(kRoot, path);
        Log("deny " + Quoted(path));
        break;
      }
      case 6: {
        const std::string path = SomeKey();
        if (!registry_.HasKey(kRoot, path)) break;
        registry_.AllowOpen(kRoot, path);
        Log("allow " + Quoted(path));
        break;
      }
      case 7: {
        // Within the margin, down to no move at all.
        const auto delta = input_.ConsumeIntegralInRange<platform::KeyTime>(0, kMargin - 1);
        registry_.AdvanceClock(delta);
        Log("clock +" + std::to_string(delta));
        break;
      }
      case 8: {
        const auto delta = input_.ConsumeIntegralInRange<platform::KeyTime>(kMargin, 3 * kMargin);
        registry_.AdvanceClock(delta);
        Log("clock +" + std::to_string(delta));
        break;
      }
      case 9: {
        // Exact, Windows' 10 ms and 15.6 ms, up to the margin itself.
        static constexpr platform::KeyTime kGrains[] = {1, 100'000, 156'250, kMargin / 2, kMargin};
        const platform::KeyTime grain = input_.PickValueInArray(kGrains);
        registry_.SetTimeGrain(grain);
        Log("grain " + std::to_string(grain));
        break;
      }
      case 10: {
        const bool include_values = input_.ConsumeBool();
        cache_[include_values].Forget();
        complete_cache_[include_values].Forget();
        Log("forget " + Mode(include_values));
        break;
      }
      default:
        Reading();
        break;
    }
  }

  static std::string Mode(bool include_values) {
    return include_values ? "keys-and-values" : "keys-only";
  }

  RegStuff::ReusePolicy Policy(bool open_every_key) {
    RegStuff::ReusePolicy policy;
    const platform::KeyTime now = registry_.CurrentTime();
    if (now > kMargin) policy.trust_before = now - kMargin;
    policy.open_every_key = open_every_key;
    return policy;
  }

  // Both modes, cached and plain, on the registry as it is now.
  void Reading() {
    const bool open_every_key = input_.ConsumeIntegralInRange<int>(0, 3) == 0;
    Log(std::string("reading") + (open_every_key ? " opening every key" : ""));
    for (const bool include_values : {false, true}) {
      RecordingHost host;
      const Strings plain =
          RegStuff::ReadBranch(registry_, host, kRoot, start_, include_values).ToStrings();
      const mKestrelmark::BranchSelection selection{kRoot, start_, include_values};
      const std::shared_ptr<const RegStuff::EntryList> cached =
          cache_[include_values].Read(registry_, host, selection, Policy(open_every_key));
      const Strings got = cached->ToStrings();
      KM_FUZZ_CHECK(got == plain, Mode(include_values) + " cached reading gave " + Listed(got) +
                                      ", the plain one " + Listed(plain) + History());
      KM_FUZZ_CHECK(registry_.open_key_count() == 0,
                    std::to_string(registry_.open_key_count()) + " keys left open" + History());
      Given& given = given_[include_values];
      if (given.list) {
        KM_FUZZ_CHECK(given.list->ToStrings() == given.entries,
                      "an earlier " + Mode(include_values) + " list changed to " +
                          Listed(given.list->ToStrings()) + " from " + Listed(given.entries) +
                          History());
      }
      given = {cached, got};
      CompleteWalk(include_values, open_every_key, plain);
    }
  }

  // The complete walk through its own cache: the same list, and the
  // complete reading a full complete walk gives.
  void CompleteWalk(bool include_values, bool open_every_key, const Strings& plain) {
    RecordingHost host;
    const mKestrelmark::BranchSelection selection{kRoot, start_, include_values};
    RegStuff::EntryList entries;
    RegStuff::CompleteReading full;
    RegStuff::ReadBranchComplete(registry_, host, selection, entries, full);
    RegStuff::CachedBranch& cache = complete_cache_[include_values];
    const Strings got = cache.Read(registry_, host, selection, Policy(open_every_key), true)
                            ->ToStrings();
    KM_FUZZ_CHECK(got == plain && entries.ToStrings() == plain,
                  Mode(include_values) + " complete walk's list differs" + History());
    KM_FUZZ_CHECK(cache.complete() && cache.complete()->keys == full.keys,
                  Mode(include_values) + " cached complete reading differs from the full one" +
                      History());
  }

  // Every time older than the margin, then two readings with nothing
  // changed between them: the second reads no value list again.
  void CheckReuseOfAQuietBranch() {
    registry_.AdvanceClock(kMargin + 1);
    Log("clock +" + std::to_string(kMargin + 1));
    Reading();
    RecordingHost host;
    const mKestrelmark::BranchSelection selection{kRoot, start_, true};
    const Strings plain = RegStuff::ReadBranch(registry_, host, kRoot, start_, true).ToStrings();
    const Strings got = cache_[true].Read(registry_, host, selection, Policy(false))->ToStrings();
    KM_FUZZ_CHECK(got == plain, "quiet cached reading gave " + Listed(got) + ", the plain one " +
                                    Listed(plain) + History());
    const RegStuff::WalkCounts& counts = cache_[true].counts();
    KM_FUZZ_CHECK(counts.value_lists_read == 0,
                  "quiet reading read " + std::to_string(counts.value_lists_read) +
                      " value lists again (kept " + std::to_string(counts.value_lists_kept) +
                      ")" + History());
  }

  void Log(const std::string& line) { history_ += "\n  " + line; }
  std::string History() const { return "\nafter:" + history_; }

  struct Given {
    std::shared_ptr<const RegStuff::EntryList> list;
    Strings entries;  // what it held when given
  };

  FuzzedDataProvider& input_;
  platform::MemoryRegistry registry_;
  std::vector<std::string> keys_;
  std::string start_;
  std::array<RegStuff::CachedBranch, 2> cache_;  // by include_values
  std::array<RegStuff::CachedBranch, 2> complete_cache_;
  std::array<Given, 2> given_;
  std::string history_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  Fuzz(input).Run();
  return 0;
}
