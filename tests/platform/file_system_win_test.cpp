// Win32FileSystem on Wine's disk.
#include "platform/win32/file_system_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/runtime_error.h"
#include "tests/support/scratch_folder_win.h"
#include "tests/support/test_name.h"

namespace platform {
namespace {

class Win32FileSystemTest : public ::testing::Test {
 protected:
  std::string In(const std::string& name) const { return folder_.In(name); }
  void Write(const std::string& name, const std::string& bytes) {
    auto file = files_.CreateOutputFile(In(name));
    file->Write(bytes);
    file->Close();
  }

  km_test::ScratchFolder folder_{km_test::CurrentTestName()};
  Win32FileSystem files_;
};

TEST_F(Win32FileSystemTest, BufferedWritesReachTheFileInOrder) {
  std::string expected;
  auto file = files_.CreateOutputFile(In("a.txt"));
  for (int i = 0; i < 20000; ++i) {  // several buffers' worth
    const std::string line = "line " + std::to_string(i) + "\r\n";
    file->Write(line);
    expected += line;
  }
  file->Write(std::string(200000, 'z'));  // larger than the buffer at once
  expected += std::string(200000, 'z');
  file->Close();
  EXPECT_EQ(files_.ReadWholeFile(In("a.txt")), expected);
}

TEST_F(Win32FileSystemTest, ZeroByteFileAndMissingFile) {
  Write("a.txt", "");
  EXPECT_TRUE(files_.CanReadModificationTime(In("a.txt")));
  EXPECT_EQ(files_.ReadWholeFile(In("a.txt")), "");
  EXPECT_FALSE(files_.CanReadModificationTime(In("missing.txt")));
  try {
    files_.ReadWholeFile(In("missing.txt"));
    ADD_FAILURE() << "no error";
  } catch (const RuntimeError& error) {
    EXPECT_STREQ(error.what(), "File not found");
  }
  EXPECT_THROW(files_.CreateOutputFile(In("no-such-folder\\a.txt")), RuntimeError);
}

TEST_F(Win32FileSystemTest, ReplaceRenamesOverAnExistingFile) {
  Write("a.txt", "old");
  Write("b.txt", "new");
  files_.MoveReplacing(In("b.txt"), In("a.txt"));
  EXPECT_EQ(files_.ReadWholeFile(In("a.txt")), "new");
  EXPECT_FALSE(files_.CanReadModificationTime(In("b.txt")));
}

TEST_F(Win32FileSystemTest, ForcedDeletionClearsReadOnly) {
  Write("ro.txt", "x");
  ASSERT_TRUE(SetFileAttributesA(In("ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(files_.RemoveFile(In("ro.txt")));
  EXPECT_TRUE(files_.RemoveFileForced(In("ro.txt")));
  EXPECT_FALSE(files_.CanReadModificationTime(In("ro.txt")));
  EXPECT_FALSE(files_.RemoveFileForced(In("ro.txt")));
}

TEST_F(Win32FileSystemTest, FindFirstPlainFileSkipsHiddenFiles) {
  Write("hidden.cur", "");
  ASSERT_TRUE(SetFileAttributesA(In("hidden.cur").c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(files_.FindFirstPlainFile(In("*.cur")), std::nullopt);
  Write("plain.cur", "");
  EXPECT_EQ(files_.FindFirstPlainFile(In("*.cur")), "plain.cur");
}

TEST_F(Win32FileSystemTest, EnvironmentAndFolders) {
  ASSERT_TRUE(SetEnvironmentVariableA("KM_TEST_VARIABLE", "value"));
  EXPECT_EQ(files_.GetEnvironment("KM_TEST_VARIABLE"), "value");
  ASSERT_TRUE(SetEnvironmentVariableA("KM_TEST_VARIABLE", nullptr));
  EXPECT_EQ(files_.GetEnvironment("KM_TEST_VARIABLE"), std::nullopt);
  const std::string temp = files_.SystemTempFolder();
  ASSERT_FALSE(temp.empty());
  EXPECT_NE(temp.back(), '\\');
  const std::string exe_folder = files_.ExecutableFolder();
  ASSERT_FALSE(exe_folder.empty());
  EXPECT_TRUE(files_.FindFirstPlainFile(exe_folder + "\\platform_win_tests.exe").has_value());
}

}  // namespace
}  // namespace platform
