// /watch without Windows: the loop over the in-memory registry, edited
// between two checks by the wait that stands for the quarter second.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/request.h"
#include "cli/watch.h"
#include "platform/memory/memory_file_system.h"
#include "platform/memory/memory_preference_storage.h"
#include "platform/memory/memory_registry.h"
#include "platform/runtime_error.h"

namespace cli {
namespace {

using namespace std::string_literals;
using Args = std::vector<std::string>;
constexpr platform::RootKey kHkcu = platform::kHkeyCurrentUser;
constexpr char kFile[] = "C:\\Temp\\w.snp";
// 2026-12-10T13:05:01.123Z
constexpr platform::KeyTime kStart = 134413815011230000ull;
constexpr platform::KeyTime kQuarterSecond = 2'500'000;

class StringStream : public OutputStream {
 public:
  bool Write(std::string_view bytes) override {
    writes.emplace_back(bytes);
    text.append(bytes);
    return true;
  }
  std::string text;
  std::vector<std::string> writes;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      lines.push_back(text.substr(at) + "<no line end>");
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

// As the registry holds a string: UTF-16LE with its terminator.
std::string Utf16(const std::string& ascii) {
  std::string bytes;
  for (const char c : ascii) bytes += {c, '\0'};
  return bytes + "\0\0"s;
}

bool Has(const std::string& line, const std::string& part) {
  return line.find(part) != std::string::npos;
}

class WatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    files_.SetEnvironment("TEMP", "C:\\Temp");
    registry_.SetClock(kStart);
    registry_.PutValue(kHkcu, "Software\\S", "name", platform::kRegSz, Utf16("abc"));
    registry_.PutDword(kHkcu, "Software\\S", "dword", 10);
    registry_.PutValue(kHkcu, "Software\\S\\A", "lines", platform::kRegSz, Utf16("one"));
    registry_.AddKey(kHkcu, "Software\\S\\B");
    control_.steady_ms = [this] { return steady_ms_; };
    // Each wait is a quarter second on both clocks, then the next edit; the
    // check after it sees the edit. Stops once the edits are done.
    control_.wait = [this](std::uint32_t ms) {
      EXPECT_EQ(ms, 250u);
      ++waits_;
      steady_ms_ += 250;
      registry_.AdvanceClock(kQuarterSecond);
      if (next_ == edits_.size()) return true;
      edits_[next_++]();
      return false;
    };
    control_.host_name = "pc-7";
  }

  int Run(const Args& args) {
    out_.text.clear();
    out_.writes.clear();
    err_.text.clear();
    return RunArguments(args, {registry_, files_, preferences_, out_, err_, &control_});
  }
  void Snapshot() {
    ASSERT_EQ(Run({"/snapshot", "/complete", "/root", "HKCU", "/key", "Software\\S", "/file",
                   kFile}),
              kExitNoRows)
        << err_.text;
  }
  // Lines after the status line.
  std::vector<std::string> Events() const {
    std::vector<std::string> lines = Lines(out_.text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (Has(lines[i], "\"status\":\"watching\""))
        return {lines.begin() + static_cast<std::ptrdiff_t>(i) + 1, lines.end()};
    }
    ADD_FAILURE() << "no status line in " << out_.text;
    return {};
  }

  platform::MemoryRegistry registry_;
  platform::MemoryFileSystem files_;
  platform::MemoryPreferenceStorage preferences_;
  StringStream out_, err_;
  WatchControl control_;
  std::uint64_t steady_ms_ = 1000;
  std::vector<std::function<void()>> edits_;
  std::size_t next_ = 0;
  int waits_ = 0;
};

TEST_F(WatchTest, RowsAgainstTheSnapshotThenStatusThenEachChangeAsItHappens) {
  Snapshot();
  registry_.PutDword(kHkcu, "Software\\S", "dword", 11);  // while nothing watched
  ASSERT_EQ(Run({"/check", "/complete", "/file", kFile, "/format", "json"}), kExitRows);
  const std::string check_rows = out_.text;

  edits_ = {
      [&] { registry_.PutValue(kHkcu, "Software\\S", "fresh", platform::kRegSz, Utf16("new")); },
      [] {},  // a quiet check writes nothing
      [&] { registry_.PutValue(kHkcu, "Software\\S", "name", platform::kRegSz, Utf16("abd")); },
      [&] { registry_.RemoveValue(kHkcu, "Software\\S", "fresh"); },
  };
  EXPECT_EQ(Run({"/watch", "/file", kFile}), kExitNoRows) << err_.text;
  EXPECT_EQ(err_.text, "");
  EXPECT_EQ(waits_, 5);
  // The rows of the complete check, exactly, then the status line.
  ASSERT_EQ(out_.text.substr(0, check_rows.size()), check_rows);
  const std::vector<std::string> lines = Lines(out_.text.substr(check_rows.size()));
  ASSERT_EQ(lines.size(), 4u) << out_.text;
  EXPECT_EQ(lines[0], R"({"status":"watching","@timestamp":"2026-12-10T13:05:01.123Z"})");
  // Each change against the state before it; the time is the check's.
  EXPECT_EQ(lines[1].rfind(R"({"@timestamp":"2026-12-10T13:05:01.373Z","change":"added","kind":"value","root":"HKCU","key":"Software\\S","name":"fresh","type":"REG_SZ","data":"new",)", 0), 0u) << lines[1];
  EXPECT_TRUE(Has(lines[2], R"("@timestamp":"2026-12-10T13:05:01.873Z","change":"changed","kind":"value","root":"HKCU","key":"Software\\S","name":"name","type":"REG_SZ","data":"abd","old_type":"REG_SZ","old_data":"abc")")) << lines[2];
  EXPECT_TRUE(Has(lines[3], R"("change":"deleted","kind":"value","root":"HKCU","key":"Software\\S","name":"fresh","old_type":"REG_SZ","old_data":"new")")) << lines[3];
  EXPECT_FALSE(Has(lines[3], R"("data")")) << lines[3];
  // Every write whole lines; each change is out at its own check.
  ASSERT_EQ(out_.writes.size(), 5u);
  for (const std::string& write : out_.writes) EXPECT_EQ(write.back(), '\n') << write;
}

TEST_F(WatchTest, AKeyThenTheWholeBranchDeletedAndTheBranchBack) {
  Snapshot();
  edits_ = {
      [&] { registry_.RemoveKey(kHkcu, "Software\\S\\A"); },
      [&] { registry_.RemoveKey(kHkcu, "Software\\S"); },
      [] {},
      [&] { registry_.PutValue(kHkcu, "Software\\S", "back", platform::kRegSz, Utf16("again")); },
      [&] { registry_.PutValue(kHkcu, "Software\\S", "back", platform::kRegSz, Utf16("more")); },
  };
  EXPECT_EQ(Run({"/watch", "/file", kFile}), kExitNoRows) << err_.text;
  const std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 9u) << out_.text;
  // The key with its value.
  EXPECT_TRUE(Has(events[0], R"("change":"deleted","kind":"key","root":"HKCU","key":"Software\\S\\A")"));
  EXPECT_TRUE(Has(events[1], R"("change":"deleted","kind":"value","root":"HKCU","key":"Software\\S\\A","name":"lines")"));
  // The branch's own key: everything it held, parents first.
  EXPECT_TRUE(Has(events[2], R"("change":"deleted","kind":"key","root":"HKCU","key":"Software\\S")")) << events[2];
  for (const std::string name : {"name", "dword"}) {
    const std::string row = R"("change":"deleted","kind":"value","root":"HKCU","key":"Software\\S","name":")" + name + '"';
    EXPECT_TRUE(Has(events[3], row) || Has(events[4], row)) << row;
  }
  EXPECT_TRUE(Has(events[5], R"("change":"deleted","kind":"key","root":"HKCU","key":"Software\\S\\B")"));
  // Back: picked up, and watched again for the next change.
  EXPECT_TRUE(Has(events[6], R"("change":"added","kind":"key","root":"HKCU","key":"Software\\S")")) << events[6];
  EXPECT_TRUE(Has(events[7], R"("change":"added","kind":"value","root":"HKCU","key":"Software\\S","name":"back","type":"REG_SZ","data":"again")"));
  EXPECT_TRUE(Has(events[8], R"("change":"changed","kind":"value","root":"HKCU","key":"Software\\S","name":"back","type":"REG_SZ","data":"more","old_type":"REG_SZ","old_data":"again")"));
}

TEST_F(WatchTest, BadArgumentsAndAMissingSnapshotEndBeforeWatching) {
  for (const Args& args :
       {Args{"/watch", "/format", "txt"}, Args{"/watch", "/format", "csv"},
        Args{"/watch", "/format", "reg-undo"}, Args{"/watch", "/deleted"}, Args{"/watch", "/check"},
        Args{"/check", "/format", "ecs"}, Args{"/watch", "/root", "HKXX"}}) {
    EXPECT_EQ(Run(args), kExitBadArguments) << args.back();
    EXPECT_EQ(out_.text, "");
  }
  EXPECT_EQ(Run({"/watch", "/file", "C:\\Temp\\none.snp", "/out", "C:\\Temp\\log.json"}),
            kExitFailure);
  EXPECT_TRUE(Has(err_.text, "Please take a snapshot of this key first")) << err_.text;
  EXPECT_FALSE(files_.HasFile("C:\\Temp\\log.json"));
  // A line snapshot is no complete one.
  ASSERT_EQ(Run({"/snapshot", "/root", "HKCU", "/key", "Software\\S", "/file", kFile}), 0);
  EXPECT_EQ(Run({"/watch", "/file", kFile}), kExitFailure);
  EXPECT_EQ(waits_, 0);

  const ParseOutcome parsed = ParseArguments({"/watch", "/complete", "/format", "ECS"});
  ASSERT_TRUE(parsed.request) << parsed.error;
  EXPECT_EQ(parsed.request->command, Command::kWatch);
  EXPECT_EQ(parsed.request->format, Format::kEcs);
  EXPECT_EQ(ParseArguments({"/watch"}).request->format, Format::kJson);
  EXPECT_TRUE(ParseArguments({"/watch"}).request->complete);
}

TEST_F(WatchTest, ExcludedRowsAreHiddenAndCountedBeforeAndWhileWatching) {
  files_.PutFile("C:\\Temp\\r.txt", "Software\\S\\A\r\nSoftware\\S  dword\r\n");
  Snapshot();
  registry_.PutDword(kHkcu, "Software\\S", "dword", 11);  // hidden
  registry_.PutValue(kHkcu, "Software\\S", "name", platform::kRegSz, Utf16("abd"));
  edits_ = {
      [&] { registry_.PutValue(kHkcu, "Software\\S\\A", "lines", platform::kRegSz, Utf16("two")); },
      [&] { registry_.PutDword(kHkcu, "Software\\S\\B", "shown", 1); },
  };
  EXPECT_EQ(Run({"/watch", "/file", kFile, "/exclude", "C:\\Temp\\r.txt"}), kExitNoRows);
  EXPECT_FALSE(Has(out_.text, "dword")) << out_.text;
  EXPECT_FALSE(Has(out_.text, "S\\\\A")) << out_.text;
  EXPECT_TRUE(Has(out_.text, R"("name":"name","type":"REG_SZ","data":"abd")")) << out_.text;
  const std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 1u) << out_.text;
  EXPECT_TRUE(Has(events[0], R"("key":"Software\\S\\B","name":"shown")")) << events[0];
  // The start's count as /check gives it, then one for the change it hid;
  // the change that hid nothing says nothing.
  EXPECT_EQ(err_.text,
            "Kestrelmark: 1 row hidden by 1 of 2 rules (C:\\Temp\\r.txt)\r\n"
            "Kestrelmark: 1 row hidden by 1 of 2 rules (C:\\Temp\\r.txt)\r\n");

  EXPECT_EQ(Run({"/watch", "/file", kFile, "/exclude", "C:\\Temp\\none.txt"}),
            kExitBadArguments);
  EXPECT_EQ(out_.text, "");
  EXPECT_EQ(waits_, 3);
}

TEST_F(WatchTest, TheViewOf32BitProgramsIsWatchedWhenAsked) {
  constexpr platform::RootKey kHklm = platform::kHkeyLocalMachine;
  registry_.PutDword(kHklm, "SOFTWARE\\WOW6432Node\\V", "x", 1);
  registry_.PutDword(kHklm, "SOFTWARE\\V", "x", 64);
  ASSERT_EQ(Run({"/snapshot", "/complete", "/view", "32", "/root", "HKLM", "/key", "SOFTWARE\\V",
                 "/file", kFile}),
            kExitNoRows)
      << err_.text;
  edits_ = {[&] { registry_.PutDword(kHklm, "SOFTWARE\\V", "x", 65); },
            [&] { registry_.PutDword(kHklm, "SOFTWARE\\WOW6432Node\\V", "x", 2); }};
  EXPECT_EQ(Run({"/watch", "/view", "32", "/root", "HKLM", "/key", "SOFTWARE\\V", "/file", kFile}),
            kExitNoRows)
      << err_.text;
  const std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 1u) << out_.text;
  EXPECT_TRUE(Has(events[0], R"("key":"SOFTWARE\\V","name":"x","type":"REG_DWORD","data":2,"old_type":"REG_DWORD","old_data":1)")) << events[0];
  // A snapshot of one view is not watched in the other.
  EXPECT_EQ(Run({"/watch", "/view", "64", "/file", kFile}), kExitFailure);
  EXPECT_TRUE(Has(err_.text, "view")) << err_.text;
}

TEST_F(WatchTest, OutAppendsWholeLinesAndAFailedWriteEndsTheWatch) {
  Snapshot();
  constexpr char kLog[] = "C:\\Temp\\log.json";
  {
    auto file = files_.CreateOutputFile(kLog);
    file->Write("earlier\n");
    file->Close();
  }
  edits_ = {[&] { registry_.PutDword(kHkcu, "Software\\S", "dword", 12); }};
  EXPECT_EQ(Run({"/watch", "/file", kFile, "/out", kLog}), kExitNoRows) << err_.text;
  EXPECT_EQ(out_.text, "");
  const std::vector<std::string> lines = Lines(*files_.FileBytes(kLog));
  ASSERT_EQ(lines.size(), 3u) << *files_.FileBytes(kLog);
  EXPECT_EQ(lines[0], "earlier");
  EXPECT_TRUE(Has(lines[1], R"("status":"watching")"));
  EXPECT_TRUE(Has(lines[2], R"("data":12,"old_type":"REG_DWORD","old_data":10)")) << lines[2];

  // The disk fills: told, exit 3, and no part of the line in the file.
  const std::string before = *files_.FileBytes(kLog);
  next_ = 0;
  waits_ = 0;
  edits_ = {[] {}, [&] {
              registry_.PutDword(kHkcu, "Software\\S", "dword", 13);
              files_.FailWrite(kLog);
            }};
  EXPECT_EQ(Run({"/watch", "/file", kFile, "/out", kLog}), kExitFailure);
  EXPECT_TRUE(Has(err_.text, "Cannot write C:\\Temp\\log.json: Disk full")) << err_.text;
  EXPECT_EQ(waits_, 2);
  // The restart wrote its own rows (the dword against the snapshot) and status.
  const std::vector<std::string> after = Lines(*files_.FileBytes(kLog));
  ASSERT_EQ(after.size(), 5u);
  EXPECT_EQ(after.back().find("<no line end>"), std::string::npos);
  EXPECT_EQ(files_.FileBytes(kLog)->substr(0, before.size()), before);
}

TEST_F(WatchTest, AReadingCutShortIsToldAndNeverComparedAsDeletions) {
  Snapshot();
  int throws = 1;
  edits_ = {[&] {
              registry_.PutDword(kHkcu, "Software\\S\\B", "late", 1);
              registry_.SetEnumerationHook([&] {
                if (throws > 0 && --throws == 0) throw platform::RuntimeError("Device not ready");
              });
            },
            [] {}, [] {}};
  EXPECT_EQ(Run({"/watch", "/file", kFile}), kExitNoRows);
  EXPECT_EQ(err_.text, "Kestrelmark: Device not ready\r\n");
  const std::vector<std::string> events = Events();
  // The next reading, whole, gives the one change and nothing else.
  ASSERT_EQ(events.size(), 1u) << out_.text;
  EXPECT_TRUE(Has(events[0], R"("change":"added","kind":"value","root":"HKCU","key":"Software\\S\\B","name":"late")"));
}

TEST_F(WatchTest, ManyRowsGoOutInWritesOfWholeLines) {
  Snapshot();
  for (int i = 0; i < 2000; ++i)
    registry_.PutDword(kHkcu, "Software\\S\\B", "value" + std::to_string(i), i);
  EXPECT_EQ(Run({"/watch", "/file", kFile}), kExitNoRows) << err_.text;
  EXPECT_EQ(Lines(out_.text).size(), 2001u);
  EXPECT_GT(out_.writes.size(), 2u);
  EXPECT_LT(out_.writes.size(), 100u);
  for (const std::string& write : out_.writes) EXPECT_EQ(write.back(), '\n');
}

TEST_F(WatchTest, EcsNamesEveryFieldOfEachKindOfChange) {
  Snapshot();
  edits_ = {[&] {
    registry_.AddKey(kHkcu, "Software\\S\\C");
    registry_.PutValue(kHkcu, "Software\\S\\C", "", platform::kRegMultiSz, "a\0\0\0b\0\0\0\0\0"s);
    registry_.PutValue(kHkcu, "Software\\S\\C", "blob", platform::kRegBinary, "\x00\xff\x10"s);
    registry_.PutDword(kHkcu, "Software\\S", "dword", 11);
    registry_.RemoveValue(kHkcu, "Software\\S", "name");
  }};
  EXPECT_EQ(Run({"/watch", "/file", kFile, "/format", "ecs"}), kExitNoRows) << err_.text;
  const std::vector<std::string> lines = Lines(out_.text);
  ASSERT_EQ(lines.size(), 6u) << out_.text;
  EXPECT_EQ(lines[0], R"({"@timestamp":"2026-12-10T13:05:01.123Z","ecs":{"version":"8.17.0"},"event":{"kind":"state","action":"watching"},"host":{"name":"pc-7"},"message":"Watching HKCU\\Software\\S","kestrelmark":{"status":"watching","branch":"HKCU\\Software\\S"}})");
  const std::string prefix =
      R"({"@timestamp":"2026-12-10T13:05:01.373Z","ecs":{"version":"8.17.0"},"event":{"kind":"event","category":["registry"],)";
  for (std::size_t i = 1; i < lines.size(); ++i)
    EXPECT_EQ(lines[i].rfind(prefix, 0), 0u) << lines[i];
  // The changed dword: strings in decimal, the value before under our own field.
  EXPECT_TRUE(Has(lines[1], R"("type":["change"],"action":"registry-value-changed"},"host":{"name":"pc-7"},"registry":{"hive":"HKCU","key":"Software\\S","value":"dword","path":"HKCU\\Software\\S\\dword","data":{"type":"REG_DWORD","strings":["11"]}},"kestrelmark":{"change":"changed","kind":"value","relative_to":"previous","key_time":")")) << lines[1];
  EXPECT_TRUE(Has(lines[1], R"(,"old":{"data":{"type":"REG_DWORD","strings":["10"]}}}})")) << lines[1];
  // A deletion: no registry.data, only what it was.
  EXPECT_TRUE(Has(lines[2], R"("type":["deletion"],"action":"registry-value-deleted"},"host":{"name":"pc-7"},"registry":{"hive":"HKCU","key":"Software\\S","value":"name","path":"HKCU\\Software\\S\\name"},"kestrelmark":{"change":"deleted")")) << lines[2];
  EXPECT_TRUE(Has(lines[2], R"("old":{"data":{"type":"REG_SZ","strings":["abc"]}})")) << lines[2];
  // A key: its path, no value.
  EXPECT_TRUE(Has(lines[3], R"("type":["creation"],"action":"registry-key-added"},"host":{"name":"pc-7"},"registry":{"hive":"HKCU","key":"Software\\S\\C","path":"HKCU\\Software\\S\\C"},"kestrelmark":{"change":"added","kind":"key")")) << lines[3];
  // The default value's path ends in "\"; a multi-string is its strings;
  // bytes are base64.
  const bool default_first = Has(lines[4], R"("value":"")");
  const std::string& multi = default_first ? lines[4] : lines[5];
  const std::string& blob = default_first ? lines[5] : lines[4];
  EXPECT_TRUE(Has(multi, R"("value":"","path":"HKCU\\Software\\S\\C\\","data":{"type":"REG_MULTI_SZ","strings":["a","b"]}})")) << multi;
  EXPECT_TRUE(Has(blob, R"("value":"blob","path":"HKCU\\Software\\S\\C\\blob","data":{"type":"REG_BINARY","bytes":"AP8Q"}})")) << blob;
  EXPECT_FALSE(Has(multi, "\"old\""));
}

TEST(Base64Test, TheStandardsVectorsAndHighBytes) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},       {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xff\xfe\xfd", "//79"},
      {"\x00"s, "AA=="}};
  for (const auto& [bytes, text] : cases) EXPECT_EQ(Base64(bytes), text) << text;
}

}  // namespace
}  // namespace cli
