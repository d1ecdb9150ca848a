// platform::FileSystem over the Win32 A functions. Output files are written
// through a 64 KiB buffer: one WriteFile per buffer, not per line.
#pragma once

#include <string>

#include "platform/file_system.h"

namespace platform {

class Win32FileSystem : public FileSystem {
 public:
  std::optional<std::string> GetEnvironment(const std::string& name) override;
  std::string SystemTempFolder() override;
  std::string ExecutableFolder() override;
  bool CanReadModificationTime(const std::string& path) override;
  std::optional<std::string> FindFirstPlainFile(const std::string& pattern) override;
  std::unique_ptr<OutputFile> CreateOutputFile(const std::string& path) override;
  std::unique_ptr<AppendingFile> OpenAppendingFile(const std::string& path) override;
  std::string ReadWholeFile(const std::string& path) override;
  std::unique_ptr<InputFile> OpenInputFile(const std::string& path) override;
  std::optional<FileStamp> GetFileStamp(const std::string& path) override;
  void MoveReplacing(const std::string& from, const std::string& to) override;
  bool LinkFile(const std::string& existing, const std::string& link) override;
  // Deleted when closed.
  std::unique_ptr<DiscardedFile> OpenToDiscard(const std::string& path) override;
  bool RemoveFile(const std::string& path) override;
  bool RemoveFileForced(const std::string& path) override;
};

// The run-time error description for a Win32 error code ("File not found",
// "Permission denied", ...; the system's message for the rarer ones).
std::string DescribeWin32Error(unsigned long error);

}  // namespace platform
