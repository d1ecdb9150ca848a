// The complete walk makes its line entries from the values it reads raw
// (W), converting strings itself; on the real registry (under Wine) they
// must be byte for byte what the line reading gets from the A function,
// for every kind of string, name and size the conversion has to get right.
#include <windows.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/reg_stuff.h"
#include "platform/win32/registry_win.h"
#include "tests/engine/recording_host.h"
#include "tests/support/scratch_key_win.h"

namespace RegStuff {
namespace {

using namespace std::string_literals;

// Counts the A calls: the complete walk may make them only where it cannot
// show that the raw value gives the same.
class CountingRegistry : public platform::Win32Registry {
 public:
  platform::RegResult EnumValue(platform::KeyHandle key, std::uint32_t index, char* name,
                                std::uint32_t* name_length, std::uint32_t* type,
                                std::uint8_t* data, std::uint32_t* data_size) override {
    ++a_calls;
    return Win32Registry::EnumValue(key, index, name, name_length, type, data, data_size);
  }
  int a_calls = 0;
};

class CompleteReadingWinTest : public km_test::ScratchKeyTest {
 protected:
  // Writes one value with the W function; data is UTF-16 units plus, with
  // odd, one stray byte.
  void Set(const std::string& key, const std::wstring& name, DWORD type,
           const std::string& bytes) {
    scratch_.CreateKey(key);
    const std::string path = scratch_.PathOf(key);
    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE, &handle), 0);
    EXPECT_EQ(RegSetValueExW(handle, name.c_str(), 0, type,
                             reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              0);
    RegCloseKey(handle);
  }
  static std::string Bytes(const std::wstring& units, bool odd = false) {
    std::string bytes(reinterpret_cast<const char*>(units.data()), 2 * units.size());
    if (odd) bytes += 'x';
    return bytes;
  }

  CountingRegistry registry_;
  mKestrelmark::testing::RecordingHost host_;
};

TEST_F(CompleteReadingWinTest, EntriesEqualTheLineReadingsOnRandomValues) {
  // A pool of units: ASCII, two and three UTF-8 bytes, the halves of a pair
  // outside the BMP (drawn one by one: pairs and lone halves), NUL, U+FFFD.
  const std::wstring pool = L"aZ =\x00e9\x9375\xd83d\xde00\xd83d\xde00\x0000\xfffd"s;
  // 1024 converted bytes: 341 three-byte characters and the terminator.
  const std::wstring limit = std::wstring(341, L'\x9375') + L'\0';
  auto well_formed = [](const std::wstring& units) {
    for (std::size_t i = 0; i < units.size(); ++i) {
      const bool high = units[i] >= 0xd800 && units[i] < 0xdc00;
      const bool low = units[i] >= 0xdc00 && units[i] < 0xe000;
      if (high && i + 1 < units.size() && units[i + 1] >= 0xdc00 && units[i + 1] < 0xe000) ++i;
      else if (high || low) return false;
    }
    return true;
  };
  int unconvertible = 0;  // values the walk has to ask the A function for
  // Values that get no entry either way: a probe of them shows nothing, so
  // the walk probes again at the next.
  int silent = 1;  // the default value below
  for (unsigned seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const std::string key = "S" + std::to_string(seed);
    for (int i = 0; i < 40; ++i) {
      std::wstring name = L"v" + std::to_wstring(i);
      switch (random() % 6) {
        case 0: name += L"\x00e9\x9375\xd83d\xde00"; break;
        case 1: name.resize(255 + random() % 2, L'\x9375'); break;  // 255 or 256 units
        case 2: name += L"\xdc00"; break;                          // a lone half
        default: break;
      }
      const DWORD types[] = {REG_SZ, REG_SZ, REG_SZ, REG_DWORD, REG_BINARY, REG_EXPAND_SZ, 11};
      const DWORD type = types[random() % 7];
      std::wstring units;
      const int shape = random() % 5;
      if (shape == 0) units = random() % 2 ? limit : L"a" + limit;  // 1024, 1025 bytes
      else if (shape == 1) units = L"";
      else for (int n = random() % 12; n > 0; --n) units += pool[random() % pool.size()];
      const bool odd = type == REG_SZ && random() % 6 == 0;
      std::string bytes = Bytes(units, odd);
      if (type == REG_DWORD) bytes.resize(random() % 9, '\x5a');
      Set(key, name, type, bytes);
      const bool bad_data = type == REG_SZ && (odd || !well_formed(units));
      if (type != REG_SZ && type != REG_DWORD) continue;
      if (!well_formed(name) || bad_data) ++unconvertible;
      else if (name.size() > 255 || (type == REG_SZ && units.size() == limit.size() + 1)) ++silent;
    }
  }
  Set("S1\\Deep", L"", REG_SZ, Bytes(L"d\x00e9" L"fault"));
  for (const bool values : {true, false}) {
    EntryList complete_entries;
    CompleteReading complete;
    registry_.a_calls = 0;
    ReadBranchComplete(registry_, host_, {platform::kHkeyCurrentUser, scratch_.path(), values},
                       complete_entries, complete);
    const int complete_a_calls = registry_.a_calls;
    const EntryList line_entries =
        ReadBranch(registry_, host_, platform::kHkeyCurrentUser, scratch_.path(), values);
    EXPECT_EQ(complete_entries.ToStrings(), line_entries.ToStrings());
    EXPECT_GT(line_entries.size(), values ? 60u : 6u);
    // Besides, until shown, a probe for strings and one for non-ASCII text.
    EXPECT_LE(complete_a_calls, values ? unconvertible + silent + 2 : 0);
  }
}

}  // namespace
}  // namespace RegStuff
