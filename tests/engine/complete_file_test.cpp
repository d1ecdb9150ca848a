#include "engine/complete_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/memory/memory_file_system.h"
#include "platform/runtime_error.h"
#include "tests/engine/recording_host.h"

namespace mKestrelmark::testing {
namespace {

using namespace std::string_literals;
using RegStuff::CompleteReading;

constexpr char kTruncated[] = "The complete snapshot file is truncated";
constexpr char kChecksum[] = "The complete snapshot file is corrupt (checksum)";

// The description Decode throws, "" when it decodes. The bytes are copied to
// a buffer of their exact size, so a read past the end is seen by ASan.
std::string ErrorOf(const std::string& bytes) {
  const std::vector<char> exact(bytes.begin(), bytes.end());
  try {
    DecodeCompleteReading(std::string_view(exact.data(), exact.size()));
    return "";
  } catch (const platform::RuntimeError& error) {
    return error.what();
  }
}

// A byte-at-a-time CRC-32, apart from the product's, so that a file changed
// on purpose passes the checksum and meets the check behind it.
std::string Resummed(std::string bytes) {
  bytes.resize(bytes.size() - 4);
  std::uint32_t crc = 0xFFFFFFFF;
  for (const char c : bytes) {
    crc ^= static_cast<unsigned char>(c);
    for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
  }
  crc = ~crc;
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>(crc >> (8 * i));
  return bytes;
}

std::string WithU32(std::string bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
  return Resummed(bytes);
}

CompleteReading Rich() {
  CompleteReading reading;
  reading.selection = {platform::kHkeyLocalMachine, "Software\\K\xC3\xA9y", true};
  reading.taken = 0x01D9'0000'1234'5678;
  RegStuff::KeyRecordComplete& start = reading.keys.emplace_back();
  start.path = reading.selection.start_path;
  start.time = 0xFFFF'FFFF'FFFF'FFFF;
  for (std::uint32_t type : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 0x12345678u})
    start.values.push_back({"type " + std::to_string(type), type, "x\0y"s});
  const char* names[] = {"", "two  blanks", "a=b", "back\\slash", "cr\r\nlf",
                         "\xC3\xA9t\xC3\xA9", "\xF0\x9F\x90\xA6 outside the BMP"};
  for (const char* name : names) start.values.push_back({name, 1, "\0\0"s});
  start.values.push_back({"empty", 3, ""});
  start.values.push_back({"odd", 3, "\x01\x02\x03"});
  start.values.push_back({"large", 3, std::string(100 * 1024, '\xA5')});
  const std::string path = start.path;  // start moves with the next key
  reading.keys.push_back({path + "\\locked", 7, false, {}});
  reading.keys.push_back({path + "\\plain", 0, true, {}});
  return reading;
}

TEST(CompleteFileTest, PathIsTheSnapshotPathWithAnX) {
  EXPECT_EQ(CompleteFilePath("registry.snp"), "registry.snpx");
  EXPECT_EQ(CompleteFilePath("C:\\a.snp"), "C:\\a.snpx");
}

// The format, byte for byte: files written by this version must stay readable.
TEST(CompleteFileTest, SmallReadingHasTheseBytes) {
  CompleteReading reading;
  reading.selection = {platform::kHkeyCurrentUser, "W", true};
  reading.taken = 0x0102030405060708;
  reading.keys.push_back({"W", 0x1122334455667788, true, {{"v", 4, "\x01\0\0\0"s}}});
  const std::string bytes = "KMSNAPX\0"s + "\x01\0\0\0"s + "\x01\0\0\x80"s + "\x40\0\0\0"s +
                            "\x01\0\0\0"s + "\x08\x07\x06\x05\x04\x03\x02\x01"s + "\x01\0\0\0W"s +
                            "\x01\0\0\0"s + "\x01\0\0\0W"s + "\x88\x77\x66\x55\x44\x33\x22\x11"s +
                            "\x01"s + "\x01\0\0\0"s + "\x01\0\0\0v"s + "\x04\0\0\0"s +
                            "\x04\0\0\0\x01\0\0\0"s + "\x4D\x65\x00\x64"s;
  EXPECT_EQ(EncodeCompleteReading(reading), bytes);
  EXPECT_EQ(DecodeCompleteReading(bytes), reading);
}

TEST(CompleteFileTest, ReadingsSurviveARoundTrip) {
  CompleteReading keys_only;
  keys_only.selection = {platform::kHkeyCurrentUser, "", false};
  keys_only.keys = {{"", 5, true, {}}, {"a", 6, false, {}}};
  for (const CompleteReading& reading : {Rich(), keys_only, CompleteReading{}}) {
    SCOPED_TRACE(reading.selection.start_path);
    EXPECT_EQ(DecodeCompleteReading(EncodeCompleteReading(reading)), reading);
  }
}

TEST(CompleteFileTest, EveryCutIsTruncated) {
  CompleteReading reading;
  reading.selection.start_path = "S";
  reading.keys.push_back({"S", 1, true, {{"n", 1, "d"}}});
  const std::string bytes = EncodeCompleteReading(reading);
  EXPECT_EQ(ErrorOf(""), "The complete snapshot file is empty");
  for (std::size_t size = 1; size < bytes.size(); ++size)
    EXPECT_EQ(ErrorOf(bytes.substr(0, size)), kTruncated) << size << " bytes";
}

TEST(CompleteFileTest, EveryChangedByteIsRefused) {
  CompleteReading reading = Rich();
  reading.keys[0].values.back().data.resize(5);  // every byte, quickly
  const std::string bytes = EncodeCompleteReading(reading);
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    std::string changed = bytes;
    changed[at] ^= 0x10;
    EXPECT_NE(ErrorOf(changed), "") << "byte " << at;
  }
  std::string in_data = EncodeCompleteReading(Rich());
  in_data[in_data.size() - 100] ^= 1;  // inside the large value's data
  EXPECT_EQ(ErrorOf(in_data), kChecksum);
}

TEST(CompleteFileTest, OtherFilesAreNamedForWhatIsWrong) {
  const std::string empty = EncodeCompleteReading(CompleteReading{});
  const std::string not_complete = "The file is not a complete snapshot file";
  EXPECT_EQ(ErrorOf("Watched\r\nWatched  v=1\r\n"), not_complete);
  EXPECT_EQ(ErrorOf("KMSNAPY"), not_complete);
  EXPECT_EQ(ErrorOf(WithU32(empty, 8, 2)),
            "The complete snapshot file is of version 2, which this program does not read");
  EXPECT_EQ(ErrorOf(WithU32(empty, 16, 48)),
            "The complete snapshot file holds registry view 48, which this program does not read");
  EXPECT_EQ(ErrorOf(WithU32(empty, 20, 2)),
            "The complete snapshot file holds a reading in mode 2, which this program does not "
            "read");
  EXPECT_EQ(ErrorOf(Resummed(empty + "tail")),
            "The complete snapshot file is corrupt (bytes after its end)");
  std::string unknown_flag = EncodeCompleteReading({{}, 0, {{"", 0, true, {}}}});
  unknown_flag[52] = 2;
  EXPECT_EQ(ErrorOf(Resummed(unknown_flag)),
            "The complete snapshot file is corrupt (a key's readable flag)");
}

// The view is the file's sixth field: 64 as before for a 64-bit reading, so
// files of that view stay byte for byte as they were, and 32 read back.
TEST(CompleteFileTest, TheViewIsRecordedAndReadBack) {
  CompleteReading reading;
  reading.selection = {platform::kHkeyLocalMachine, "SOFTWARE\\Vendor", true};
  reading.keys.push_back({"SOFTWARE\\Vendor", 7, true, {{"v", 1, "d"}}});
  const std::string as64 = EncodeCompleteReading(reading);
  EXPECT_EQ(as64.substr(16, 4), "\x40\0\0\0"s);
  reading.selection.view = kView32;
  const std::string as32 = EncodeCompleteReading(reading);
  EXPECT_EQ(as32.substr(16, 4), "\x20\0\0\0"s);
  EXPECT_EQ(DecodeCompleteReading(as32), reading);
  EXPECT_EQ(DecodeCompleteReading(as64).selection.view, kView64);
}

// Counts and lengths claiming 4 GB in a file of a few bytes: ASan fails an
// allocation of that size, so each must be refused before it is made.
TEST(CompleteFileTest, HugeCountsInATinyFileAreTruncated) {
  const std::string one_value = EncodeCompleteReading({{}, 0, {{"", 0, true, {{"", 3, ""}}}}});
  // Start path at 32; key count at 36; the key's value count at 53, the
  // value's data length at 65.
  for (const std::size_t at : {32u, 36u, 40u, 53u, 57u, 65u})
    EXPECT_EQ(ErrorOf(WithU32(one_value, at, 0xFFFFFFFF)), kTruncated) << "count at " << at;
}

TEST(CompleteFileTest, WrittenFileReadsBackWithYieldsEveryMegabyte) {
  platform::MemoryFileSystem files;
  RecordingHost host;
  CompleteReading reading = Rich();
  reading.keys[1].values.push_back({"big", 3, std::string(3 << 20, 'b')});
  files.PutFile("C:\\registry.snpx", "old");
  WriteCompleteFile(files, host, "C:\\registry.snpx", reading);
  EXPECT_GE(host.yield_count, 3);
  EXPECT_EQ(files.FileBytes("C:\\registry.snpx"), EncodeCompleteReading(reading));
  EXPECT_EQ(files.FilePaths().size(), 1u);
  EXPECT_EQ(ReadCompleteFile(files, "C:\\registry.snpx", host), reading);
}

TEST(CompleteFileTest, FailedWriteKeepsTheOldFileAndLeavesNothingBeside) {
  const std::string path = "C:\\registry.snpx", temporary = path + ".tmp";
  for (int failure = 0; failure < 3; ++failure) {
    SCOPED_TRACE(failure);
    platform::MemoryFileSystem files;
    RecordingHost host;
    files.PutFile(path, "old");
    if (failure == 0) files.FailCreate(temporary);
    if (failure == 1) files.FailWrite(temporary);
    if (failure == 2) files.FailReplace(path);
    EXPECT_THROW(WriteCompleteFile(files, host, path, Rich()), platform::RuntimeError);
    EXPECT_EQ(files.FileBytes(path), "old");
    EXPECT_FALSE(files.HasFile(temporary));
  }
}

TEST(CompleteFileTest, ReadGivesTheFileSystemsOrTheDecodersDescription) {
  platform::MemoryFileSystem files;
  RecordingHost host;
  auto error_of_read = [&](const std::string& path) -> std::string {
    try {
      ReadCompleteFile(files, path, host);
      return "";
    } catch (const platform::RuntimeError& error) {
      return error.what();
    }
  };
  EXPECT_EQ(error_of_read("C:\\missing.snpx"), "File not found");
  files.PutFile("C:\\held.snpx", EncodeCompleteReading({}));
  files.FailRead("C:\\held.snpx");
  EXPECT_EQ(error_of_read("C:\\held.snpx"), "Permission denied");
  files.PutFile("C:\\cut.snpx", EncodeCompleteReading({}).substr(0, 20));
  EXPECT_EQ(error_of_read("C:\\cut.snpx"), kTruncated);
}

}  // namespace
}  // namespace mKestrelmark::testing
