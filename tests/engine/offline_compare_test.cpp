#include "engine/offline_compare.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/complete_file.h"
#include "engine/m_kestrelmark.h"
#include "platform/memory/memory_file_system.h"
#include "tests/engine/recording_host.h"

namespace mKestrelmark::testing {
namespace {

using RegStuff::CompleteReading;

constexpr char kOld[] = "C:\\golden.snp";
constexpr char kNew[] = "C:\\build.snp";

class OfflineCompareTest : public ::testing::Test {
 protected:
  OfflineCompareTest() {
    reading_.selection = {platform::kHkeyLocalMachine, "SOFTWARE\\Vendor", true};
    reading_.keys.push_back({"SOFTWARE\\Vendor", 5, true, {{"Version", 1, "1\0"}}});
  }
  void Put(const std::string& path, const CompleteReading& reading) {
    files_.PutFile(path, EncodeCompleteReading(reading));
  }
  FilesCompareResult Compare(const std::string& old_path, const std::string& new_path) {
    return CompareCompleteFiles(files_, host_, old_path, new_path);
  }

  platform::MemoryFileSystem files_;
  RecordingHost host_;
  CompleteReading reading_;
};

TEST_F(OfflineCompareTest, TwoFilesCompareAsACheckWouldWithTheNewerAsTheRegistry) {
  Put(CompleteFilePath(kOld), reading_);
  CompleteReading newer = reading_;
  newer.keys[0].values[0].data = "2\0";
  newer.keys.push_back({"SOFTWARE\\Vendor\\Added", 9, true, {}});
  Put(CompleteFilePath(kNew), newer);
  // By the line file's name, whose complete file is beside it, or by the
  // complete file's own.
  const FilesCompareResult result = Compare(kOld, CompleteFilePath(kNew));
  ASSERT_EQ(result.outcome, FilesCompareOutcome::kCompared) << result.message;
  EXPECT_EQ(result.selection, reading_.selection);
  EXPECT_EQ(result.changes, RegStuff::CompareComplete(reading_, newer, host_));
  ASSERT_EQ(result.changes.size(), 2u);
  EXPECT_TRUE(Compare(kOld, kOld).changes.empty());
}

TEST_F(OfflineCompareTest, AFileThatCannotBeComparedIsNamed) {
  Put(CompleteFilePath(kOld), reading_);
  FilesCompareResult missing = Compare(kOld, kNew);
  EXPECT_EQ(missing.outcome, FilesCompareOutcome::kUnreadable);
  EXPECT_EQ(missing.message, "C:\\build.snp is missing");
  // A line snapshot alone: asked for a complete one, not called corrupt.
  files_.PutFile(kNew, "SOFTWARE\\Vendor\r\n");
  EXPECT_EQ(Compare(kOld, kNew).message,
            std::string("C:\\build.snp: ") + kMessageNoCompleteSnapshot);
  // A later version: the file not understood is the one named, whichever.
  std::string later = EncodeCompleteReading(reading_);
  later[8] = 2;
  files_.PutFile("C:\\later.snpx", later);
  const FilesCompareResult version = Compare("C:\\later.snpx", kOld);
  EXPECT_EQ(version.outcome, FilesCompareOutcome::kUnreadable);
  EXPECT_EQ(version.message,
            "C:\\later.snpx: The complete snapshot file is of version 2, which this program does "
            "not read");
  EXPECT_EQ(Compare(kOld, "C:\\later.snpx").message, version.message);
  files_.FailRead(CompleteFilePath(kOld));
  EXPECT_EQ(Compare(kOld, kOld).outcome, FilesCompareOutcome::kUnreadable);
  EXPECT_EQ(Compare(kOld, kOld).message.rfind("C:\\golden.snpx: ", 0), 0u);
}

TEST_F(OfflineCompareTest, FilesOfDifferentBranchesOrViewsAreNotCompared) {
  Put(CompleteFilePath(kOld), reading_);
  CompleteReading other = reading_;
  other.selection.root = platform::kHkeyCurrentUser;
  Put(CompleteFilePath(kNew), other);
  FilesCompareResult root = Compare(kOld, kNew);
  EXPECT_EQ(root.outcome, FilesCompareOutcome::kDifferentBranches);
  EXPECT_TRUE(root.changes.empty());
  EXPECT_EQ(root.message,
            "The snapshots are of different branches: C:\\golden.snp is of HKLM\\SOFTWARE\\Vendor "
            "(keys and values), C:\\build.snp of HKCU\\SOFTWARE\\Vendor (keys and values)");

  other = reading_;
  other.selection.view = kView32;
  Put(CompleteFilePath(kNew), other);
  EXPECT_EQ(Compare(kOld, kNew).message,
            "The snapshots are of different branches: C:\\golden.snp is of HKLM\\SOFTWARE\\Vendor "
            "(keys and values, 64-bit view), C:\\build.snp of HKLM\\SOFTWARE\\Vendor (keys and "
            "values, 32-bit view)");
  for (auto change : {+[](CompleteReading& r) { r.selection.start_path = "SOFTWARE"; },
                      +[](CompleteReading& r) { r.selection.include_values = false; }}) {
    other = reading_;
    change(other);
    Put(CompleteFilePath(kNew), other);
    EXPECT_EQ(Compare(kOld, kNew).outcome, FilesCompareOutcome::kDifferentBranches);
  }
}

}  // namespace
}  // namespace mKestrelmark::testing
