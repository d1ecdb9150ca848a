#include "platform/memory/memory_file_system.h"

#include <gtest/gtest.h>

#include "platform/runtime_error.h"

namespace platform {
namespace {

TEST(MemoryFileSystem, OutputFileReachesTheFileOnClose) {
  MemoryFileSystem files;
  auto out = files.CreateOutputFile("C:\\T\\a.txt");
  EXPECT_EQ(files.FileBytes("c:\\t\\A.TXT"), "");  // created (empty) at once
  out->Write("one\r\n");
  out->Write("two");
  out->Close();
  EXPECT_EQ(files.ReadWholeFile("C:\\T\\a.txt"), "one\r\ntwo");
}

TEST(MemoryFileSystem, ReadOnlyFilesResistOrdinaryWritesAndDeletes) {
  MemoryFileSystem files;
  files.PutFile("C:\\T\\ro", "x", {.read_only = true});
  EXPECT_THROW(files.CreateOutputFile("C:\\T\\ro"), RuntimeError);
  files.PutFile("C:\\T\\new", "y");
  EXPECT_THROW(files.MoveReplacing("C:\\T\\new", "C:\\T\\ro"), RuntimeError);
  EXPECT_FALSE(files.RemoveFile("C:\\T\\ro"));
  EXPECT_TRUE(files.RemoveFileForced("C:\\T\\ro"));
  EXPECT_FALSE(files.HasFile("C:\\T\\ro"));
}

TEST(MemoryFileSystem, ReplaceMovesOverAnExistingFile) {
  MemoryFileSystem files;
  files.PutFile("C:\\T\\old", "old");
  files.PutFile("C:\\T\\new", "new");
  files.MoveReplacing("C:\\T\\new", "C:\\T\\old");
  EXPECT_EQ(files.FileBytes("C:\\T\\old"), "new");
  EXPECT_FALSE(files.HasFile("C:\\T\\new"));
  EXPECT_THROW(files.MoveReplacing("C:\\T\\gone", "C:\\T\\old"), RuntimeError);
}

TEST(MemoryFileSystem, InjectedFailures) {
  MemoryFileSystem files;
  files.FailCreate("C:\\T\\a");
  EXPECT_THROW(files.CreateOutputFile("C:\\T\\a"), RuntimeError);
  files.FailCreate("C:\\T\\a", false);
  files.FailWrite("C:\\T\\a");
  auto out = files.CreateOutputFile("C:\\T\\a");
  EXPECT_THROW(out->Write("x"), RuntimeError);
  files.PutFile("C:\\T\\b", "b");
  files.FailReplace("C:\\T\\c");
  EXPECT_THROW(files.MoveReplacing("C:\\T\\b", "C:\\T\\c"), RuntimeError);
  EXPECT_TRUE(files.HasFile("C:\\T\\b"));
}

TEST(MemoryFileSystem, FindFirstPlainFileSkipsHiddenAndSystemFiles) {
  MemoryFileSystem files;
  files.PutFile("C:\\App\\hidden.cur", "", {.hidden = true});
  files.PutFile("C:\\App\\system.cur", "", {.system = true});
  files.PutFile("C:\\App\\HAND-M.CUR", "");
  files.PutFile("C:\\App\\x\\deeper.cur", "");
  EXPECT_EQ(files.FindFirstPlainFile("C:\\App\\*.cur"), "HAND-M.CUR");
  EXPECT_EQ(files.FindFirstPlainFile("C:\\App\\hand-m.cur"), "HAND-M.CUR");
  EXPECT_EQ(files.FindFirstPlainFile("C:\\App\\hidden.cur"), std::nullopt);
  EXPECT_EQ(files.FindFirstPlainFile("C:\\App\\x\\*"), "deeper.cur");
}

TEST(MemoryFileSystem, EnvironmentNamesIgnoreCase) {
  MemoryFileSystem files;
  EXPECT_EQ(files.GetEnvironment("TEMP"), std::nullopt);
  files.SetEnvironment("Temp", "C:\\t");
  EXPECT_EQ(files.GetEnvironment("TEMP"), "C:\\t");
  files.SetEnvironment("TEMP", std::nullopt);
  EXPECT_EQ(files.GetEnvironment("temp"), std::nullopt);
}

}  // namespace
}  // namespace platform
