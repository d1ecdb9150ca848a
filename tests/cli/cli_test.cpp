// The command line without Windows: arguments, JSON Lines, the deleted
// lines, and whole runs over the in-memory registry and file system,
// compared with the window's engine driven directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "cli/command.h"
#include "cli/deleted_lines.h"
#include "cli/json_lines.h"
#include "cli/request.h"
#include "engine/error_report.h"
#include "engine/m_kestrelmark.h"
#include "platform/memory/memory_file_system.h"
#include "platform/memory/memory_preference_storage.h"
#include "platform/memory/memory_registry.h"
#include "prefs/preferences.h"
#include "tests/cli/json_reader.h"
#include "tests/engine/recording_host.h"

namespace cli {
namespace {

using namespace std::string_literals;
using Args = std::vector<std::string>;

// --- Arguments ------------------------------------------------------------

TEST(ParseArgumentsTest, DefaultsAreTheWindows) {
  const ParseOutcome outcome = ParseArguments({"/check"});
  ASSERT_TRUE(outcome.request) << outcome.error;
  const Request& request = *outcome.request;
  EXPECT_EQ(request.command, Command::kCheck);
  EXPECT_EQ(request.root, platform::kHkeyLocalMachine);
  EXPECT_FALSE(request.key);
  EXPECT_TRUE(request.include_values);
  EXPECT_FALSE(request.file);
  EXPECT_FALSE(request.out);
  EXPECT_EQ(request.format, Format::kText);
  EXPECT_FALSE(request.deleted);
}

TEST(ParseArgumentsTest, EveryOptionInAnyCaseAndEitherPrefix) {
  const ParseOutcome outcome =
      ParseArguments({"-CHECK", "/Root", "hkcu", "/key", "/Soft ware\\x", "/KeysOnly", "/file",
                      "a.snp", "-out", "r.json", "/format", "JSON", "/deleted"});
  ASSERT_TRUE(outcome.request) << outcome.error;
  const Request& request = *outcome.request;
  EXPECT_EQ(request.command, Command::kCheck);
  EXPECT_EQ(request.root, platform::kHkeyCurrentUser);
  EXPECT_EQ(request.key, "/Soft ware\\x");  // a value is taken whatever it looks like
  EXPECT_FALSE(request.include_values);
  EXPECT_EQ(request.file, "a.snp");
  EXPECT_EQ(request.out, "r.json");
  EXPECT_EQ(request.format, Format::kJson);
  EXPECT_TRUE(request.deleted);
}

TEST(ParseArgumentsTest, RootsByShortAndLongNames) {
  const std::pair<const char*, platform::RootKey> cases[] = {
      {"HKCR", platform::kHkeyClassesRoot},       {"HKCU", platform::kHkeyCurrentUser},
      {"HKLM", platform::kHkeyLocalMachine},      {"HKU", platform::kHkeyUsers},
      {"HKCC", platform::kHkeyCurrentConfig},     {"HKEY_USERS", platform::kHkeyUsers},
      {"hkey_current_config", platform::kHkeyCurrentConfig}};
  for (const auto& [name, root] : cases) {
    const ParseOutcome outcome = ParseArguments({"/snapshot", "/root", name});
    ASSERT_TRUE(outcome.request) << name;
    EXPECT_EQ(outcome.request->root, root) << name;
  }
}

TEST(ParseArgumentsTest, QuestionMarkAnywhereAsksForTheUsage) {
  for (const Args& args : {Args{"/?"}, Args{"/check", "/?"}, Args{"/bogus", "-?"}}) {
    const ParseOutcome outcome = ParseArguments(args);
    ASSERT_TRUE(outcome.request);
    EXPECT_EQ(outcome.request->command, Command::kUsage);
  }
}

TEST(ParseArgumentsTest, BadArgumentsSayWhatIsWrong) {
  const std::pair<Args, const char*> cases[] = {
      {{"/bogus"}, "Unknown switch: /bogus"},
      {{"/check", "/key"}, "/key needs a value"},
      {{"/check", "/root"}, "/root needs a value"},
      {{"/check", "/root", "HKXX"}, "Unknown root: HKXX"},
      {{"/check", "/format", "xml"}, "Unknown format: xml"},
      {{"/snapshot", "/check"}, "not both"},
      {{}, "Give /snapshot, /check, /watch or /compare"},
      {{"/keysonly"}, "Give /snapshot, /check, /watch or /compare"},
      {{"/check", "/check"}, "given twice"},
      {{"/check", "/root", "HKCU", "/ROOT", "HKLM"}, "given twice"},
      {{"/snapshot", "/out", "x.txt"}, "/out belongs to /check"},
      {{"/snapshot", "/deleted"}, "/deleted belongs to /check"},
      {{"/snapshot", "/format", "json"}, "/format belongs to /check"},
      {{"/check", "extra"}, "Unexpected argument: extra"},
      {{"/check", "/file", ""}, "needs a file name"},
      {{"/"}, "Unexpected argument"},
  };
  for (const auto& [args, message] : cases) {
    const ParseOutcome outcome = ParseArguments(args);
    EXPECT_FALSE(outcome.request) << message;
    EXPECT_NE(outcome.error.find(message), std::string::npos) << outcome.error;
    EXPECT_EQ(outcome.error.find_first_of("\r\n"), std::string::npos) << outcome.error;
  }
}

TEST(ParseArgumentsTest, LongAndEmptyKeysAreArguments) {
  const std::string long_key = "Software\\" + std::string(291, 'k');
  ASSERT_EQ(long_key.size(), 300u);
  const ParseOutcome outcome = ParseArguments({"/snapshot", "/key", long_key});
  ASSERT_TRUE(outcome.request) << outcome.error;
  EXPECT_EQ(outcome.request->key, long_key);
  const ParseOutcome empty = ParseArguments({"/snapshot", "/key", ""});
  ASSERT_TRUE(empty.request) << empty.error;
  EXPECT_EQ(empty.request->key, "");
}

// --- JSON -----------------------------------------------------------------

std::string Json(std::string_view text) {
  std::string json;
  AppendJsonString(json, text);
  return json;
}

TEST(JsonStringTest, EscapesWhatJsonRequires) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c/d", R"("a\"b\\c/d")"},
      {"one\r\ntwo\ttab", R"("one\r\ntwo\ttab")"},
      {"nul\0after"s, R"("nul\u0000after")"},
      {"\x01\x1f\x7f\b\f", R"("\u0001\u001f\u007f\b\f")"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9d\x84\x9e",
       "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9d\x84\x9e\""},
      {"\x80", R"("\udc80")"},
      {"\xff\xfe", R"("\udcff\udcfe")"},
      {"\xc0\xaf", R"("\udcc0\udcaf")"},                      // overlong "/"
      {"\xed\xa0\x80", R"("\udced\udca0\udc80")"},            // a surrogate's code
      {"\xf4\x90\x80\x80", R"("\udcf4\udc90\udc80\udc80")"},  // above U+10FFFF
      {"\xe2\x82", R"("\udce2\udc82")"},                      // cut short
      {"\xe2\x82x", R"("\udce2\udc82x")"},
  };
  for (const auto& [text, json] : cases) EXPECT_EQ(Json(text), json);
}

// Independent of the writer: decodes code point by code point.
bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = [&](std::size_t k) {
      return static_cast<std::uint32_t>(static_cast<unsigned char>(text[k]));
    };
    std::uint32_t code = b(i);
    int extra = code < 0x80         ? 0
                : (code >> 5) == 6  ? 1
                : (code >> 4) == 14 ? 2
                : (code >> 3) == 30 ? 3
                                    : -1;
    if (extra < 0 || i + extra >= text.size() + (extra == 0 ? 1 : 0)) return false;
    if (extra > 0) code &= 0x3F >> extra;
    for (int k = 1; k <= extra; ++k) {
      if ((b(i + k) & 0xC0) != 0x80) return false;
      code = (code << 6) | (b(i + k) & 0x3F);
    }
    static constexpr std::uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (code < kMinimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return false;
    i += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

TEST(JsonStringTest, RandomBytesComeOutValidAndReadBackExactly) {
  const unsigned seed = std::random_device()();
  std::mt19937 random(seed);
  // Mostly bytes that make or nearly make UTF-8 sequences.
  const std::string alphabet = "aZ\"\\\r\n\x01\x7f"s + "\0"s +
                               "\x80\xbf\xc2\xc3\xe0\xe2\xed\xef\xf0\xf4\xf5\xff\xa0\x9f\x90\x8f";
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 12);
    for (int i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    std::string line;
    AppendJsonLine(line, text, ParseRow(text, "", false), false);
    ASSERT_EQ(line.back(), '\n');
    line.pop_back();
    ASSERT_TRUE(IsValidUtf8(line)) << "seed " << seed;
    ASSERT_EQ(line.find_first_of("\r\n"s + "\0"s), std::string::npos) << "seed " << seed;
    const cli_test::JsonObject object = cli_test::ReadJsonLine(line);
    ASSERT_EQ(object.at("text"), text) << "seed " << seed;
  }
}

TEST(JsonLineTest, KeyAndValueRows) {
  std::string json;
  AppendJsonLine(json, "S\\A", ParseRow("S\\A", "S", true), false);
  AppendJsonLine(json, "S\\A  v=1", ParseRow("S\\A  v=1", "S", true), true);
  AppendJsonLine(json, "S\\A  empty", ParseRow("S\\A  empty", "S", true), false);
  EXPECT_EQ(json,
            "{\"text\":\"S\\\\A\",\"kind\":\"key\",\"key\":\"S\\\\A\",\"deleted\":false}\n"
            "{\"text\":\"S\\\\A  v=1\",\"kind\":\"value\",\"key\":\"S\\\\A\",\"name\":\"v\","
            "\"data\":\"1\",\"deleted\":true}\n"
            "{\"text\":\"S\\\\A  empty\",\"kind\":\"value\",\"key\":\"S\\\\A\",\"name\":\"empty\","
            "\"data\":null,\"deleted\":false}\n");
}

// --- Rows taken apart -----------------------------------------------------

struct RowCase {
  const char* text;
  const char* start;
  bool values;
  RowKind kind;
  const char* key;
  const char* name;
  const char* data;  // nullptr: none
};

TEST(ParseRowTest, PartsOfEveryEntryForm) {
  const RowCase cases[] = {
      {"S\\A", "S", true, RowKind::kKey, "S\\A", "", nullptr},
      {"S\\A  v=abc", "S", true, RowKind::kValue, "S\\A", "v", "abc"},
      {"S\\A  v=", "S", true, RowKind::kValue, "S\\A", "v", ""},
      {"S\\A  zero", "S", true, RowKind::kValue, "S\\A", "zero", nullptr},
      {"S\\A  ", "S", true, RowKind::kValue, "S\\A", "", nullptr},  // empty default value
      {"S\\A  v=a=b  c", "S", true, RowKind::kValue, "S\\A", "v", "a=b  c"},
      {"S\\A  v=&H000000FF", "S", true, RowKind::kValue, "S\\A", "v", "&H000000FF"},
      {"  top=1", "", true, RowKind::kValue, "", "top", "1"},  // the root's own value
      {"Sub", "", true, RowKind::kKey, "Sub", "", nullptr},
      {"My  Key\\A  v=1", "My  Key", true, RowKind::kValue, "My  Key\\A", "v", "1"},
      {"My  Key", "My  Key", true, RowKind::kKey, "My  Key", "", nullptr},
      {"S\\A  v=1", "S", false, RowKind::kKey, "S\\A  v=1", "", nullptr},  // keys only
  };
  for (const RowCase& c : cases) {
    const RowParts parts = ParseRow(c.text, c.start, c.values);
    EXPECT_EQ(parts.kind, c.kind) << c.text;
    EXPECT_EQ(parts.key, c.key) << c.text;
    EXPECT_EQ(parts.name, c.name) << c.text;
    EXPECT_EQ(parts.data.has_value(), c.data != nullptr) << c.text;
    if (c.data && parts.data) {
      EXPECT_EQ(*parts.data, c.data) << c.text;
    }
  }
}

// Holds exactly the given value entries and keys.
class ListedRows : public RowChecker {
 public:
  std::vector<std::tuple<std::string, std::string, std::string>> values;  // key, name, text
  std::vector<std::string> keys;
  bool IsValueEntry(std::string_view key, std::string_view name, std::string_view text) override {
    for (const auto& [k, n, t] : values)
      if (k == key && n == name && t == text) return true;
    return false;
  }
  bool IsKey(std::string_view key) override {
    return std::find(keys.begin(), keys.end(), key) != keys.end();
  }
};

TEST(ParseRowTest, TheRegistryDecidesWhereBlanksAndEqualsBelong) {
  ListedRows registry;
  registry.values = {{"S\\A", "a=b", "S\\A  a=b=c"},
                     {"S\\My  Key", "v", "S\\My  Key  v=1"},
                     {"S\\A", "n=x", "S\\A  n=x"}};
  registry.keys = {"S\\Two  Blanks"};
  const RowCase cases[] = {
      {"S\\A  a=b=c", "S", true, RowKind::kValue, "S\\A", "a=b", "c"},
      {"S\\My  Key  v=1", "S", true, RowKind::kValue, "S\\My  Key", "v", "1"},
      {"S\\A  n=x", "S", true, RowKind::kValue, "S\\A", "n=x", nullptr},  // no data
      {"S\\Two  Blanks", "S", true, RowKind::kKey, "S\\Two  Blanks", "", nullptr},
      // Gone from the registry: the likeliest split.
      {"S\\Gone  a=b=c", "S", true, RowKind::kValue, "S\\Gone", "a", "b=c"},
  };
  for (const RowCase& c : cases) {
    const RowParts parts = ParseRow(c.text, c.start, c.values, &registry);
    EXPECT_EQ(parts.kind, c.kind) << c.text;
    EXPECT_EQ(parts.key, c.key) << c.text;
    EXPECT_EQ(parts.name, c.name) << c.text;
    EXPECT_EQ(parts.data.has_value(), c.data != nullptr) << c.text;
    if (c.data && parts.data) {
      EXPECT_EQ(*parts.data, c.data) << c.text;
    }
  }
}

// --- Deleted lines --------------------------------------------------------

std::vector<std::string_view> Views(const std::vector<std::string>& texts) {
  return {texts.begin(), texts.end()};
}

RegStuff::EntryList List(const std::vector<std::string>& texts) {
  RegStuff::EntryList list;
  for (const std::string& text : texts) list.push_back(text);
  return list;
}

TEST(DeletedLinesTest, SnapshotLinesTheReadingLost) {
  const std::vector<std::string> old_lines = {"S\\Gone",
                                              "S\\Gone  v=1",
                                              "S\\Kept",
                                              "S\\Kept  changed=old",
                                              "S\\Kept  lines=one",
                                              "two",
                                              "S\\Kept  same=1",
                                              "S",
                                              ""};
  const RegStuff::EntryList fresh =
      List({"S\\Kept", "S\\Kept  changed=new", "S\\Kept  lines=one\r\ntwo", "S\\Kept  same=1", "S",
            "S\\New"});
  const std::vector<std::string_view> deleted = DeletedLines(Views(old_lines), fresh);
  EXPECT_EQ(deleted,
            (std::vector<std::string_view>{"S\\Gone", "S\\Gone  v=1", "S\\Kept  changed=old"}));
}

TEST(DeletedLinesTest, NothingLostNothingListed) {
  const std::vector<std::string> old_lines = {"A", "B", ""};
  EXPECT_TRUE(DeletedLines(Views(old_lines), List({"B", "A", "C"})).empty());
  EXPECT_TRUE(DeletedLines({}, List({"A"})).empty());
}

// --- Whole runs -----------------------------------------------------------

class StringStream : public OutputStream {
 public:
  bool Write(std::string_view bytes) override {
    if (fail) return false;
    text.append(bytes);
    return true;
  }
  std::string text;
  bool fail = false;
};

constexpr char kTemp[] = "C:\\Temp";
constexpr char kDefaultSnapshot[] = "C:\\Temp\\registry.snp";

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    files_.SetEnvironment("TEMP", kTemp);
    registry_.PutString(platform::kHkeyCurrentUser, "Software\\S", "name", "abc");
    registry_.PutDword(platform::kHkeyCurrentUser, "Software\\S", "dword", 10);
    registry_.PutString(platform::kHkeyCurrentUser, "Software\\S\\A", "lines", "one\r\ntwo");
    registry_.AddKey(platform::kHkeyCurrentUser, "Software\\S\\B");
  }

  int Run(const Args& args) {
    out_.text.clear();
    err_.text.clear();
    return RunArguments(args, {registry_, files_, preferences_, out_, err_});
  }

  // The window's engine on the same branch, as "Create Registry Snapshot"
  // and a monitoring tick drive it.
  static mKestrelmark::BranchSelection SelectionFor(const std::string& key, bool values = true) {
    return {platform::kHkeyCurrentUser, key, values};
  }
  std::string EngineSnapshot(const std::string& key, bool values = true) {
    mKestrelmark::testing::RecordingHost host;
    mKestrelmark::CreateSnapshot({registry_, files_, host}, SelectionFor(key, values),
                                 kDefaultSnapshot);
    return *files_.FileBytes(kDefaultSnapshot);
  }
  platform::MemoryRegistry registry_;
  platform::MemoryFileSystem files_;
  platform::MemoryPreferenceStorage preferences_;
  StringStream out_, err_;
};

TEST_F(CommandTest, SnapshotToAnotherFileLeavesTheDefaultAlone) {
  const std::string engine = EngineSnapshot("Software\\S");
  files_.PutFile(kDefaultSnapshot, "old");
  const int replaced = files_.replace_count();
  EXPECT_EQ(Run({"/snapshot", "/root", "HKCU", "/key", "Software\\S", "/file", "D:\\x.snp"}),
            kExitNoRows);
  EXPECT_EQ(files_.FileBytes("D:\\x.snp"), engine);
  EXPECT_EQ(files_.FileBytes(kDefaultSnapshot), "old");
  EXPECT_EQ(files_.FilePaths(), (std::set<std::string>{kDefaultSnapshot, "D:\\x.snp"}));
  EXPECT_EQ(files_.replace_count(), replaced + 1);  // written beside it, renamed over it
}

TEST_F(CommandTest, AFileNamedLikeTheDefaultWithMoreIsItsOwn) {
  const std::string path = kDefaultSnapshot + ".old"s;
  const Args branch = {"/root", "HKCU", "/key", "Software\\S", "/file", path};
  Args snapshot = {"/snapshot"}, check = {"/check", "/deleted"};
  snapshot.insert(snapshot.end(), branch.begin(), branch.end());
  check.insert(check.end(), branch.begin(), branch.end());
  ASSERT_EQ(Run(snapshot), kExitNoRows) << err_.text;
  EXPECT_EQ(files_.FilePaths(), (std::set<std::string>{path}));
  registry_.AddKey(platform::kHkeyCurrentUser, "Software\\S\\New");
  EXPECT_EQ(Run(check), kExitRows) << err_.text;
  EXPECT_EQ(out_.text, "Software\\S\\New\r\n");
}

TEST_F(CommandTest, JsonPartsFollowTheRegistry) {
  ASSERT_EQ(Run({"/snapshot", "/root", "HKCU", "/key", "Software\\S"}), kExitNoRows);
  registry_.PutString(platform::kHkeyCurrentUser, "Software\\S\\My  Key", "a=b", "c=d");
  registry_.PutDword(platform::kHkeyCurrentUser, "Software\\S\\My  Key", "x  y", 1);
  EXPECT_EQ(Run({"/check", "/root", "HKCU", "/key", "Software\\S", "/format", "json"}), kExitRows);
  EXPECT_EQ(
      out_.text,
      "{\"text\":\"Software\\\\S\\\\My  Key\",\"kind\":\"key\",\"key\":\"Software\\\\S\\\\My  "
      "Key\","
      "\"deleted\":false}\n"
      "{\"text\":\"Software\\\\S\\\\My  Key  a=b=c=d\",\"kind\":\"value\","
      "\"key\":\"Software\\\\S\\\\My  Key\",\"name\":\"a=b\",\"data\":\"c=d\",\"deleted\":false}\n"
      "{\"text\":\"Software\\\\S\\\\My  Key  x  y=&H00000001\",\"kind\":\"value\","
      "\"key\":\"Software\\\\S\\\\My  Key\",\"name\":\"x  y\",\"data\":\"&H00000001\","
      "\"deleted\":false}\n");
}

TEST_F(CommandTest, DefaultKeyIsTheStoredSubkeyTrimmedLikeTheBox) {
  prefs::StorePreference(preferences_, prefs::kSubkey, "Software\\S\\");
  const int writes = preferences_.write_count();
  const std::string engine = EngineSnapshot("Software\\S");
  ASSERT_TRUE(files_.RemoveFile(kDefaultSnapshot));
  EXPECT_EQ(Run({"/snapshot", "/root", "HKCU"}), kExitNoRows) << err_.text;
  EXPECT_EQ(files_.FileBytes(kDefaultSnapshot), engine);
  EXPECT_EQ(Run({"/check", "/root", "HKCU"}), kExitNoRows) << err_.text;
  EXPECT_EQ(preferences_.write_count(), writes);
}

TEST_F(CommandTest, WithNothingStoredTheDefaultSubkeyIsRead) {
  registry_.PutString(platform::kHkeyLocalMachine, prefs::kSubkey.default_value, "v", "1");
  EXPECT_EQ(Run({"/snapshot"}), kExitNoRows) << err_.text;
  EXPECT_EQ(files_.FileBytes(kDefaultSnapshot), std::string(prefs::kSubkey.default_value) + "\r\n" +
                                                    prefs::kSubkey.default_value + "  v=1\r\n");
  EXPECT_TRUE(preferences_.empty());
}

TEST_F(CommandTest, FailuresAreExitThreeWithOneLine) {
  const auto expect_failure = [&](const Args& args, const std::string& message) {
    EXPECT_EQ(Run(args), kExitFailure) << message;
    EXPECT_NE(err_.text.find(message), std::string::npos) << err_.text;
    ASSERT_GE(err_.text.size(), 2u);
    EXPECT_EQ(err_.text.find_first_of("\r\n"), err_.text.size() - 2) << err_.text;
    EXPECT_EQ(out_.text, "");
  };
  expect_failure({"/check", "/root", "HKCU", "/key", "Software\\S"},
                 "Please take a snapshot of this key first");
  expect_failure({"/snapshot", "/root", "HKCU", "/key", "Software\\Missing"},
                 "Cannot read the key HKCU\\Software\\Missing");
  EXPECT_FALSE(files_.HasFile(kDefaultSnapshot));

  files_.FailReplace(kDefaultSnapshot);
  expect_failure({"/snapshot", "/root", "HKCU", "/key", "Software\\S"},
                 "(in Kestrelmark2021/08/31.mKestrelmark.CreateSnapshot at line");
  files_.FailReplace(kDefaultSnapshot, false);

  ASSERT_EQ(Run({"/snapshot", "/root", "HKCU", "/key", "Software\\S"}), kExitNoRows);
  files_.FailCreate("C:\\r.txt");
  expect_failure({"/check", "/root", "HKCU", "/key", "Software\\S", "/out", "C:\\r.txt"},
                 "Cannot write C:\\r.txt");
  out_.fail = true;
  registry_.AddKey(platform::kHkeyCurrentUser, "Software\\S\\New");
  EXPECT_EQ(Run({"/check", "/root", "HKCU", "/key", "Software\\S"}), kExitFailure);
  EXPECT_NE(err_.text.find("standard output"), std::string::npos);
}

TEST(OneLineMessageTest, ErrorReportKeepsItsDescriptionAndProcedure) {
  EXPECT_EQ(OneLineMessage(mKestrelmark::FormatErrorReport("Permission denied",
                                                           "mKestrelmark.CompareRegistry", 42)),
            "Permission denied (in Kestrelmark2021/08/31.mKestrelmark.CompareRegistry at line 42)");
  EXPECT_EQ(OneLineMessage("one\r\ntwo"), "one  two");
  EXPECT_EQ(OneLineMessage("single"), "single");
}

}  // namespace
}  // namespace cli

// --- The complete mode ------------------------------------------------------

namespace cli {
namespace {

using namespace std::string_literals;

class CompleteCommandTest : public CommandTest {
 protected:
  static constexpr char kFile[] = "C:\\Temp\\c.snp";
  Args Snapshot() const {
    return {"/snapshot", "/complete", "/root", "HKCU", "/key", "Software\\S", "/file", kFile};
  }
};

TEST_F(CompleteCommandTest, EveryTypeADeletionAndTheDataBeforeAChange) {
  ASSERT_EQ(Run(Snapshot()), kExitNoRows) << err_.text;
  // The line file is exactly the one a plain snapshot writes.
  const std::string line_file = *files_.FileBytes(kFile);
  ASSERT_EQ(Run({"/snapshot", "/root", "HKCU", "/key", "Software\\S", "/file", "C:\\Temp\\l.snp"}),
            kExitNoRows);
  EXPECT_EQ(line_file, *files_.FileBytes("C:\\Temp\\l.snp"));
  ASSERT_TRUE(files_.FileBytes(std::string(kFile) + "x"));

  registry_.PutValue(platform::kHkeyCurrentUser, "Software\\S", "", platform::kRegSz,
                     "C\0O\0M\0\0\0"s);
  registry_.PutValue(platform::kHkeyCurrentUser, "Software\\S\\A", "path", platform::kRegExpandSz,
                     "%\0T\0%\0\0\0"s);
  registry_.PutDword(platform::kHkeyCurrentUser, "Software\\S", "dword", 11);
  registry_.RemoveKey(platform::kHkeyCurrentUser, "Software\\S\\B");
  // Without /root and /key: the branch the file records.
  EXPECT_EQ(Run({"/check", "/complete", "/file", kFile, "/format", "json"}), kExitRows)
      << err_.text;
  ASSERT_EQ(std::count(out_.text.begin(), out_.text.end(), '\n'), 4) << out_.text;
  const auto has = [&](const std::string& part) {
    return out_.text.find(part) != std::string::npos;
  };
  EXPECT_TRUE(has(R"("change":"added","kind":"value","root":"HKCU","key":"Software\\S","name":"","type":"REG_SZ","data":"COM")"));
  EXPECT_TRUE(has(R"("name":"path","type":"REG_EXPAND_SZ","data":"%T%")"));
  EXPECT_TRUE(has(R"("change":"changed","kind":"value","root":"HKCU","key":"Software\\S","name":"dword","type":"REG_DWORD","data":11,"old_type":"REG_DWORD","old_data":10)"));
  EXPECT_TRUE(has(R"({"change":"deleted","kind":"key","root":"HKCU","key":"Software\\S\\B"})"));

  // Nothing changed since: no rows, exit 0.
  ASSERT_EQ(Run(Snapshot()), kExitNoRows);
  EXPECT_EQ(Run({"/check", "/complete", "/file", kFile}), kExitNoRows);
  EXPECT_EQ(out_.text, "");
}

TEST_F(CompleteCommandTest, AnotherBranchALineOnlySnapshotAndADamagedFileAreRefused) {
  ASSERT_EQ(Run(Snapshot()), kExitNoRows);
  EXPECT_EQ(Run({"/check", "/complete", "/root", "HKCU", "/key", "Software", "/file", kFile}),
            kExitFailure);
  EXPECT_NE(err_.text.find("HKCU\\Software\\S (keys and values)"), std::string::npos) << err_.text;
  EXPECT_NE(err_.text.find("HKCU\\Software (keys and values)"), std::string::npos) << err_.text;
  EXPECT_EQ(out_.text, "");

  ASSERT_EQ(Run({"/snapshot", "/root", "HKCU", "/key", "Software\\S", "/file", "C:\\Temp\\l.snp"}),
            kExitNoRows);
  EXPECT_EQ(Run({"/check", "/complete", "/file", "C:\\Temp\\l.snp"}), kExitFailure);
  EXPECT_NE(err_.text.find("without the complete mode"), std::string::npos) << err_.text;

  std::string damaged = *files_.FileBytes(std::string(kFile) + "x");
  damaged[damaged.size() / 2] ^= 0x20;
  files_.PutFile(std::string(kFile) + "x", damaged);
  EXPECT_EQ(Run({"/check", "/complete", "/file", kFile}), kExitFailure);
  EXPECT_NE(err_.text.find("mKestrelmark.CompareRegistry"), std::string::npos) << err_.text;
  EXPECT_EQ(out_.text, "");
}

TEST_F(CompleteCommandTest, UndoRedoAndCsvWrittenWholeOrNotAtAll) {
  ASSERT_EQ(Run(Snapshot()), kExitNoRows) << err_.text;
  registry_.PutDword(platform::kHkeyCurrentUser, "Software\\S", "dword", 11);
  // To the standard output: the file's bytes as they are.
  EXPECT_EQ(Run({"/check", "/complete", "/file", kFile, "/format", "reg-undo"}), kExitRows);
  const std::string undo = out_.text;
  EXPECT_EQ(undo.substr(0, 4), "\xFF\xFEW\0"s);
  EXPECT_NE(undo.find("d\0w\0o\0r\0d\0\"\0=\0d\0w\0o\0r\0d\0:\0"s), std::string::npos);
  out_.text.clear();
  const Args redo_to_file = {"/check", "/complete", "/file", kFile,
                             "/format", "REG-REDO", "/out", "C:\\r.reg"};
  EXPECT_EQ(Run(redo_to_file), kExitRows);
  EXPECT_EQ(out_.text, "");
  const std::string redo = *files_.FileBytes("C:\\r.reg");
  EXPECT_NE(redo, undo);
  EXPECT_EQ(redo.substr(0, 2), "\xFF\xFE");
  EXPECT_FALSE(files_.HasFile("C:\\r.reg.tmp"));
  EXPECT_EQ(Run({"/check", "/complete", "/file", kFile, "/format", "csv", "/out", "C:\\r.csv"}),
            kExitRows);
  const std::string csv_start =
      "\xEF\xBB\xBF" "change,kind,root,key,name,type,data,encoding,old_type,old_data,"
      "old_encoding,time\r\n"
      "changed,value,HKCU,Software\\S,dword,REG_DWORD,11,,REG_DWORD,10,,";
  EXPECT_EQ(files_.FileBytes("C:\\r.csv")->substr(0, csv_start.size()), csv_start);

  // A file that cannot be written: the message, exit 3, and the old file
  // as it was, nothing beside it.
  files_.FailWrite("C:\\r.reg.tmp");
  const Args undo_to_file = {"/check", "/complete", "/file", kFile,
                             "/format", "reg-undo", "/out", "C:\\r.reg"};
  EXPECT_EQ(Run(undo_to_file), kExitFailure);
  EXPECT_NE(err_.text.find("Cannot write C:\\r.reg"), std::string::npos) << err_.text;
  EXPECT_EQ(*files_.FileBytes("C:\\r.reg"), redo);
  EXPECT_FALSE(files_.HasFile("C:\\r.reg.tmp"));
}

TEST(ParseArgumentsTest, FileFormatsOfChangesNeedTheCompleteMode) {
  EXPECT_EQ(ParseArguments({"/check", "/complete", "/format", "reg-undo"}).request->format,
            Format::kRegUndo);
  EXPECT_EQ(ParseArguments({"/check", "/complete", "/format", "reg-redo"}).request->format,
            Format::kRegRedo);
  EXPECT_EQ(ParseArguments({"/check", "/complete", "/format", "CSV"}).request->format,
            Format::kCsv);
  for (const char* format : {"reg-undo", "reg-redo", "csv"}) {
    const ParseOutcome outcome = ParseArguments({"/check", "/format", format});
    EXPECT_FALSE(outcome.request) << format;
    EXPECT_EQ(outcome.error,
              "/format " + std::string(format) + " works only with /check /complete");
    EXPECT_FALSE(ParseArguments({"/snapshot", "/complete", "/format", format}).request) << format;
  }
}

TEST(ParseArgumentsTest, CompleteGoesWithSnapshotAndCheckButNotWithDeleted) {
  EXPECT_TRUE(ParseArguments({"/snapshot", "/complete"}).request->complete);
  EXPECT_TRUE(ParseArguments({"/check", "/complete"}).request->complete);
  EXPECT_FALSE(ParseArguments({"/check", "/complete", "/deleted"}).request);
}

}  // namespace
}  // namespace cli

// --- Offline compare, the 32-bit view, exclusions ---------------------------

namespace cli {
namespace {

class CompleteExtrasTest : public CommandTest {
 protected:
  static constexpr char kOld[] = "C:\\Temp\\old.snp";
  static constexpr char kNew[] = "C:\\Temp\\new.snp";
  int Snap(const char* file) {
    return Run({"/snapshot", "/complete", "/root", "HKCU", "/key", "Software\\S", "/file", file});
  }
};

TEST_F(CompleteExtrasTest, CompareReadsTwoFilesAndNeverTheRegistry) {
  ASSERT_EQ(Snap(kOld), kExitNoRows);
  registry_.PutDword(platform::kHkeyCurrentUser, "Software\\S", "dword", 11);
  ASSERT_EQ(Snap(kNew), kExitNoRows);
  const std::size_t opens = registry_.open_access_log().size();
  // The .snp names its .snpx; the .snpx is taken as it is.
  ASSERT_EQ(Run({"/compare", kOld, std::string(kNew) + "x", "/format", "json"}), kExitRows)
      << err_.text;
  EXPECT_EQ(registry_.open_access_log().size(), opens);
  EXPECT_EQ(out_.text.find(R"({"change":"changed","kind":"value","root":"HKCU","key":"Software\\S","name":"dword","type":"REG_DWORD","data":11,"old_type":"REG_DWORD","old_data":10)"), 0u) << out_.text;
  EXPECT_EQ(std::count(out_.text.begin(), out_.text.end(), '\n'), 1);
  EXPECT_EQ(Run({"/compare", kNew, kNew}), kExitNoRows);
  EXPECT_EQ(out_.text, "");

  EXPECT_EQ(Run({"/compare", kOld, "C:\\Temp\\none.snp"}), kExitFailure);
  EXPECT_EQ(err_.text, "Kestrelmark: C:\\Temp\\none.snp is missing\r\n");
  std::string later = *files_.FileBytes(std::string(kNew) + "x");
  later[8] = 7;
  files_.PutFile(std::string(kNew) + "x", later);
  EXPECT_EQ(Run({"/compare", kOld, kNew}), kExitFailure);
  EXPECT_NE(err_.text.find("C:\\Temp\\new.snpx: The complete snapshot file is of version 7"),
            std::string::npos)
      << err_.text;

  ASSERT_EQ(Run({"/snapshot", "/complete", "/root", "HKCU", "/key", "Software\\S\\A", "/file",
                 kNew}),
            kExitNoRows);
  EXPECT_EQ(Run({"/compare", kOld, kNew}), kExitBadArguments);
  EXPECT_NE(err_.text.find("different branches"), std::string::npos) << err_.text;
  EXPECT_EQ(out_.text, "");
}

TEST_F(CompleteExtrasTest, TheViewIsPassedOnAndAFileOfTheOtherIsRefused) {
  registry_.PutDword(platform::kHkeyLocalMachine, "SOFTWARE\\WOW6432Node\\Old", "v", 1);
  const Args snap32 = {"/snapshot", "/complete", "/view", "32", "/key", "SOFTWARE\\Old",
                       "/file", kOld};
  ASSERT_EQ(Run(snap32), kExitNoRows) << err_.text;
  // The 64-bit view has no such key: told before anything is written.
  EXPECT_EQ(Run({"/snapshot", "/complete", "/key", "SOFTWARE\\Old", "/file", kNew}),
            kExitFailure);
  EXPECT_FALSE(files_.FileBytes(std::string(kNew) + "x"));

  registry_.PutDword(platform::kHkeyLocalMachine, "SOFTWARE\\WOW6432Node\\Old", "v", 2);
  EXPECT_EQ(Run({"/check", "/complete", "/file", kOld}), kExitRows) << err_.text;
  EXPECT_EQ(Run({"/check", "/complete", "/view", "32", "/file", kOld}), kExitRows) << err_.text;
  EXPECT_EQ(Run({"/check", "/complete", "/view", "64", "/file", kOld}), kExitFailure);
  EXPECT_NE(err_.text.find("(keys and values, 32-bit view); the check asks for HKLM\\SOFTWARE\\Old "
                           "(keys and values, 64-bit view)"),
            std::string::npos)
      << err_.text;

  for (const auto& [args, message] : std::initializer_list<std::pair<Args, const char*>>{
           {{"/check", "/view", "32"}, "/view 32 belongs to the complete mode"},
           {{"/check", "/complete", "/view", "16"}, "Unknown view: 16"},
           {{"/compare", "a", "b", "/view", "32"}, "/view belongs to /snapshot and /check"},
           {{"/compare", "a", "b", "/key", "K"}, "/key belongs to /snapshot and /check"},
           {{"/compare", "a"}, "/compare needs two files"},
           {{"/compare", "a", "b", "/check"}, "Give /compare alone"},
           {{"/check", "/exclude", "r.txt"}, "/exclude belongs to the complete mode"},
           {{"/snapshot", "/complete", "/exclude", "r.txt"}, "/exclude belongs to /check"}}) {
    const ParseOutcome outcome = ParseArguments(args);
    EXPECT_FALSE(outcome.request) << message;
    EXPECT_NE(outcome.error.find(message), std::string::npos) << outcome.error;
  }
  // The line mode reads the 64-bit view, and may say so.
  EXPECT_TRUE(ParseArguments({"/check", "/view", "64"}).request);
}

TEST_F(CompleteExtrasTest, ExcludedRowsAreCountedOnTheErrorStream) {
  ASSERT_EQ(Snap(kOld), kExitNoRows);
  registry_.PutDword(platform::kHkeyCurrentUser, "Software\\S", "dword", 11);
  registry_.PutDword(platform::kHkeyCurrentUser, "Software\\S\\A\\Deep", "x", 1);
  registry_.PutDword(platform::kHkeyCurrentUser, "Software\\S", "MRU1", 1);
  files_.PutFile("C:\\r.txt", "# noise\r\nsoftware\\s\\a\r\nSoftware\\S  mru?\r\nNever\r\n");
  ASSERT_EQ(Run({"/check", "/complete", "/file", kOld, "/exclude", "C:\\r.txt"}), kExitRows);
  EXPECT_EQ(out_.text.find("changed\tvalue\tSoftware\\\\S\tdword"), 0u) << out_.text;
  EXPECT_EQ(std::count(out_.text.begin(), out_.text.end(), '\n'), 1);
  EXPECT_EQ(err_.text, "Kestrelmark: 3 rows hidden by 2 of 3 rules (C:\\r.txt)\r\n");
  ASSERT_EQ(Snap(kNew), kExitNoRows);
  files_.PutFile("C:\\all.txt", "Software");
  EXPECT_EQ(Run({"/compare", kOld, kNew, "/exclude", "C:\\all.txt"}), kExitNoRows);
  EXPECT_EQ(out_.text, "");
  EXPECT_EQ(err_.text, "Kestrelmark: 4 rows hidden by 1 of 1 rule (C:\\all.txt)\r\n");

  files_.PutFile("C:\\bad.txt", "Software\r\n\r\nKey  \r\n");
  EXPECT_EQ(Run({"/check", "/complete", "/file", kOld, "/exclude", "C:\\bad.txt"}),
            kExitBadArguments);
  EXPECT_EQ(err_.text,
            "Kestrelmark: C:\\bad.txt: Line 3: no value name after the two blanks\r\n");
  files_.PutFile("C:\\bin.txt", "\xFF\xFE" "S\0"s);
  EXPECT_EQ(Run({"/compare", kOld, kNew, "/exclude", "C:\\bin.txt"}), kExitBadArguments);
  EXPECT_EQ(err_.text, "Kestrelmark: C:\\bin.txt is not a text file (UTF-8 or ASCII)\r\n");
  EXPECT_EQ(Run({"/compare", kOld, kNew, "/exclude", "C:\\none.txt"}), kExitBadArguments);
  EXPECT_EQ(err_.text, "Kestrelmark: The exclusion file C:\\none.txt is missing\r\n");
  EXPECT_EQ(out_.text, "");
}

}  // namespace
}  // namespace cli
