// Undo and redo files against their real consumer: the system's reg.exe
// imports them into the real registry. Random edits of every type (and an
// odd type number), the default value, deep keys, names with ", \ and
// non-ASCII characters, renames in case; the undo must give back the
// snapshot exactly, the redo the edited branch exactly.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/change_text.h"
#include "engine/entry_list.h"
#include "engine/export_file.h"
#include "engine/keyed_comparison.h"
#include "engine/reg_file.h"
#include "engine/reg_stuff.h"
#include "platform/win32/file_system_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/unique_handle_win.h"
#include "tests/engine/recording_host.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder_win.h"
#include "tests/support/scratch_key_win.h"

namespace mKestrelmark {
namespace {

using RegStuff::Change;
using RegStuff::CompleteReading;

std::wstring Wide(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

// reg.exe's exit code; its messages go nowhere.
DWORD RunReg(const std::string& arguments) {
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  std::wstring line = L"\"" + std::wstring(system) + L"\\reg.exe\" " + Wide(arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start reg.exe: " << GetLastError();
    return ~0u;
  }
  platform::UniqueKernelHandle process_handle(process.hProcess), thread_handle(process.hThread);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 60'000), WAIT_OBJECT_0);
  DWORD code = ~0u;
  GetExitCodeProcess(process.hProcess, &code);
  return code;
}

std::string ReadBytes(const std::string& path) {
  return km_test::ReadFileBytes(std::filesystem::path(Wide(path)));
}

// Times are the keys' last writes: an import writes them anew.
std::vector<Change> WithoutTimes(std::vector<Change> changes) {
  for (Change& change : changes) change.time = platform::kUnknownKeyTime;
  return changes;
}

std::string Describe(const std::vector<Change>& changes) {
  std::string text;
  for (const Change& change : changes) text += ChangeText(change) + "\n";
  return text;
}

class RegFileRoundTripWinTest : public km_test::ScratchKeyTest {
 protected:
  CompleteReading Read() {
    BranchSelection selection;
    selection.root = platform::kHkeyCurrentUser;
    selection.start_path = scratch_.path();
    selection.include_values = true;
    RegStuff::EntryList entries;
    CompleteReading reading;
    RegStuff::ReadBranchComplete(registry_, host_, selection, entries, reading);
    return reading;
  }
  std::vector<Change> Compare(const CompleteReading& old, const CompleteReading& now) {
    return RegStuff::CompareComplete(old, now, host_);
  }
  void Import(const std::vector<Change>& changes, RegFileDirection direction,
              const std::string& name) {
    // Written as the program writes it: beside, then renamed.
    const std::string path = folder_.In(name);
    WriteExportFile(files_, path, RegFileBytes(changes, platform::kHkeyCurrentUser, direction));
    EXPECT_EQ(RunReg("import \"" + path + "\""), 0u) << name;
  }

  // The bytes exactly: the A function would take string data for text in
  // the process code page and convert it.
  void Set(const std::string& key, const std::string& name, DWORD type, const std::string& bytes) {
    scratch_.CreateKey(key);
    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Wide(scratch_.PathOf(key)).c_str(), 0,
                            KEY_SET_VALUE, &handle),
              0);
    EXPECT_EQ(RegSetValueExW(handle, Wide(name).c_str(), 0, type,
                             reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              0);
    RegCloseKey(handle);
  }

  platform::Win32Registry registry_;
  platform::Win32FileSystem files_;
  testing::RecordingHost host_;
  km_test::ScratchFolder folder_{"regfile"};
};

// Names that the file has to escape or carry as UTF-16.
const std::vector<std::string> kValueNames = {
    "",  "plain", "with \"quotes\"", "back\\slash", "\\\"", "caf\xC3\xA9",
    "\xE4\xB8\xAD\xE6\x96\x87", "emoji \xF0\x9F\x98\x80", "end\\", "a=b  c",
};
const std::vector<std::string> kKeyNames = {
    "K", "Deep", "sp ace", "qu\"ote", "Stra\xC3\x9F" "e", "\xE6\x97\xA5\xE6\x9C\xAC", "x=y",
};
// Every type the registry names, and one it does not.
const std::vector<DWORD> kTypes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0x4D2A};

std::string Utf16(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), 2 * text.size());
}

// Data of the type's usual shape most of the time, and any bytes otherwise.
std::string RandomData(std::mt19937& random, DWORD type) {
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const std::wstring pieces[] = {L"a", L"\"", L"\\", L"\x00e9", L"\xd83d\xde00", L"%PATH%", L" "};
  const auto text = [&] {
    std::wstring t;
    for (int i = pick(8); i > 0; --i) t += pieces[pick(7)];
    return t;
  };
  std::string bytes;
  if (pick(5) > 0) {
    switch (type) {
      case 1: case 2: case 6:
        return Utf16(text() + L'\0');
      case 7: {
        std::wstring list;
        for (int i = pick(4); i > 0; --i) list += text() + L'\0';
        return Utf16(list + L'\0');
      }
      case 4: case 5:
        bytes.resize(4);
        break;
      case 11:
        bytes.resize(8);
        break;
      default:
        bytes.resize(static_cast<std::size_t>(pick(120)));
    }
  } else {
    bytes.resize(static_cast<std::size_t>(pick(9)));  // odd sizes, no terminator, empty
  }
  for (char& b : bytes) b = static_cast<char>(random());
  // Wine's reg import gives string data of these types a NUL unit when its
  // last whole unit is none (see the README): any other bytes, but that.
  if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
    if (bytes.size() < 2) bytes.resize(2);
    const std::size_t last = bytes.size() / 2 * 2 - 2;
    bytes[last] = bytes[last + 1] = '\0';
  }
  return bytes;
}

TEST_F(RegFileRoundTripWinTest, UndoGivesBackTheSnapshotAndRedoTheEdits) {
  for (const unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    // Tree, or a key up to four levels below it.
    const auto random_key = [&] {
      std::string key = "Tree";
      for (std::size_t depth = pick(5); depth > 0; --depth)
        key += "\\" + kKeyNames[pick(kKeyNames.size())];
      return key;
    };
    static_cast<void>(scratch_.DeleteKey("Tree"));  // the last seed's
    for (int i = 0; i < 40; ++i) {
      const DWORD type = kTypes[pick(kTypes.size())];
      Set(random_key(), kValueNames[pick(kValueNames.size())], type,
                      RandomData(random, type));
    }
    // Every type present at least once, before and after.
    for (const DWORD type : kTypes) {
      Set("Tree\\Types", "t" + std::to_string(type), type, RandomData(random, type));
    }
    // To be renamed in case: the same registry items under other spellings.
    Set("Tree\\Types", "CASE", 4, std::string(4, '\x01'));
    Set("Tree\\RENAMED\\Below", "v", 1, Utf16(std::wstring(L"x\0", 2)));
    const CompleteReading before = Read();

    for (int i = 0; i < 60; ++i) {
      const std::string key = random_key();
      const std::string name = kValueNames[pick(kValueNames.size())];
      switch (pick(6)) {
        case 0:
          scratch_.DeleteKey(key);
          break;
        case 1:
          scratch_.DeleteValue(key, name);
          break;
        case 2:
          scratch_.CreateKey(key + "\\New\\Deeper\\Still");
          break;
        default: {
          const DWORD type = kTypes[pick(kTypes.size())];
          Set(key, name, type, RandomData(random, type));
        }
      }
    }
    for (const DWORD type : kTypes) {
      const DWORD now = kTypes[pick(kTypes.size())];
      Set("Tree\\Types", "t" + std::to_string(type), now, RandomData(random, now));
    }
    scratch_.DeleteValue("Tree\\Types", "CASE");
    Set("Tree\\Types", "case", 3, "\x02");
    scratch_.DeleteKey("Tree\\RENAMED");
    Set("Tree\\Renamed\\below", "V", 1, Utf16(std::wstring(L"y\0", 2)));

    const CompleteReading edited = Read();
    const std::vector<Change> changes = Compare(before, edited);
    ASSERT_GT(changes.size(), 20u);

    Import(changes, RegFileDirection::kUndo, "undo-" + std::to_string(seed) + ".reg");
    const std::vector<Change> after_undo = Compare(before, Read());
    EXPECT_TRUE(after_undo.empty()) << Describe(after_undo);

    Import(changes, RegFileDirection::kRedo, "redo-" + std::to_string(seed) + ".reg");
    const CompleteReading redone = Read();
    EXPECT_EQ(WithoutTimes(Compare(before, redone)), WithoutTimes(changes))
        << Describe(Compare(before, redone));
    const std::vector<Change> left = Compare(edited, redone);
    EXPECT_TRUE(left.empty()) << Describe(left);
  }
}

TEST_F(RegFileRoundTripWinTest, KeyRenamedInCaseComesBack) {
  Set("Tree\\Mixed\\Sub", "v", 4, std::string(4, '\x05'));
  const CompleteReading before = Read();
  scratch_.DeleteKey("Tree\\Mixed");
  Set("Tree\\mIXED", "w", 4, std::string(4, '\x06'));
  const CompleteReading edited = Read();
  const std::vector<Change> changes = Compare(before, edited);
  Import(changes, RegFileDirection::kUndo, "case-undo.reg");
  const std::vector<Change> after_undo = Compare(before, Read());
  EXPECT_TRUE(after_undo.empty()) << Describe(after_undo);
  Import(changes, RegFileDirection::kRedo, "case-redo.reg");
  const std::vector<Change> left = Compare(edited, Read());
  EXPECT_TRUE(left.empty()) << Describe(left);
}

// The system's own export of the same values: the same lines, continuations
// and all.
TEST_F(RegFileRoundTripWinTest, ValueLinesAsTheSystemExportsThem) {
  const CompleteReading empty = Read();
  std::string blob;
  for (int i = 0; i < 200; ++i) blob += static_cast<char>(i);
  Set("E", "Blob", 3, blob);
  Set("E", "A rather long value name that takes up half of the line", 3, blob);
  Set("E", "Multi", 7, Utf16(std::wstring(L"one\0two\0\0", 9)));
  Set("E", "Expand", 2, Utf16(std::wstring(L"%SystemRoot%\\x\0", 15)));
  Set("E", "Q", 11, std::string(8, '\x7f'));
  Set("E", "D", 4, "\x78\x56\x34\x12");
  Set("E", "S \"q\" \\", 1, Utf16(std::wstring(L"C:\\x \"y\"\0", 9)));
  Set("E", "", 1, Utf16(std::wstring(L"default\0", 8)));
  const std::vector<Change> changes = Compare(empty, Read());
  const std::string ours =
      RegFileBytes(changes, platform::kHkeyCurrentUser, RegFileDirection::kRedo);

  const std::string exported = folder_.In("system.reg");
  ASSERT_EQ(RunReg("export \"HKCU\\" + scratch_.PathOf("E") + "\" \"" + exported + "\" /y"), 0u);
  const std::string theirs = ReadBytes(exported);
  // Each value's lines, as the system wrote them, are in ours: the order of
  // values is the enumeration's, ours the comparison's.
  const std::string block_start = Utf16(L"\r\n");
  std::size_t at = theirs.find(Utf16(L"]\r\n"));
  ASSERT_NE(at, std::string::npos);
  at += 6;
  int values = 0;
  while (at < theirs.size()) {
    // A value ends at a line end not preceded by "\".
    std::size_t end = at;
    while (true) {
      end = theirs.find(block_start, end);
      ASSERT_NE(end, std::string::npos);
      if (end < 2 || theirs.compare(end - 2, 2, Utf16(L"\\")) != 0) break;
      end += 4;
    }
    if (end == at) break;  // the blank line after the block
    const std::string line = theirs.substr(at, end + 4 - at);
    EXPECT_NE(ours.find(line), std::string::npos)
        << "not in ours: " << std::string(line.begin(), line.end());
    ++values;
    at = end + 4;
  }
  EXPECT_EQ(values, 8);
}

}  // namespace
}  // namespace mKestrelmark
