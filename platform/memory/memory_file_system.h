// An in-memory file system for native tests. Paths compare case-insensitively
// (ASCII), as on Windows; folders are not modelled, only files.
//
// Test controls: environment variables, the system temporary folder and the
// executable's folder; per-file read-only, hidden and system flags; injected
// failures for creating, writing and replacing a file.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/file_system.h"

namespace platform {

struct MemoryFileFlags {
  bool read_only = false;
  bool hidden = false;
  bool system = false;
};

class MemoryFileSystem : public FileSystem {
 public:
  using FileFlags = MemoryFileFlags;

  // --- Test controls ---
  void SetEnvironment(const std::string& name, std::optional<std::string> value);
  void SetSystemTempFolder(std::string folder) { system_temp_ = std::move(folder); }
  void SetExecutableFolder(std::string folder) { executable_folder_ = std::move(folder); }
  void PutFile(const std::string& path, std::string bytes, FileFlags flags = {});
  void SetReadOnly(const std::string& path, bool read_only);
  std::optional<std::string> FileBytes(const std::string& path) const;
  bool HasFile(const std::string& path) const { return FileBytes(path).has_value(); }
  bool IsReadOnly(const std::string& path) const;
  // Every path of every file, in path order.
  std::set<std::string> FilePaths() const;

  // The next attempts on a path fail (each until cleared with false).
  void FailCreate(const std::string& path, bool fail = true);
  void FailWrite(const std::string& path, bool fail = true);
  void FailReplace(const std::string& path, bool fail = true);
  // Reading the file fails (held by another program without sharing).
  void FailRead(const std::string& path, bool fail = true);
  // How many times a file was replaced by MoveReplacing.
  int replace_count() const { return replace_count_; }
  // Linking fails (a file system without hard links).
  void FailLink(bool fail = true) { fail_link_ = fail; }
  // How many times a file open to be discarded was cut.
  int truncate_count() const { return truncate_count_; }

  // --- FileSystem ---
  std::optional<std::string> GetEnvironment(const std::string& name) override;
  std::string SystemTempFolder() override { return system_temp_; }
  std::string ExecutableFolder() override { return executable_folder_; }
  bool CanReadModificationTime(const std::string& path) override;
  std::optional<std::string> FindFirstPlainFile(const std::string& pattern) override;
  std::unique_ptr<OutputFile> CreateOutputFile(const std::string& path) override;
  // Each Append lands in the file at once; FailWrite fails the next ones.
  std::unique_ptr<AppendingFile> OpenAppendingFile(const std::string& path) override;
  std::string ReadWholeFile(const std::string& path) override;
  // The write time is a version number that every change of the file bumps.
  std::optional<FileStamp> GetFileStamp(const std::string& path) override;
  void MoveReplacing(const std::string& from, const std::string& to) override;
  // The second name shares the content, as a hard link does.
  bool LinkFile(const std::string& existing, const std::string& link) override;
  std::unique_ptr<DiscardedFile> OpenToDiscard(const std::string& path) override;
  bool RemoveFile(const std::string& path) override;
  bool RemoveFileForced(const std::string& path) override;

 private:
  class MemoryOutputFile;
  class MemoryAppendingFile;
  class MemoryDiscardedFile;
  struct File {
    std::string path;  // as created
    // Shared by every name of the file (see SetAside).
    std::shared_ptr<std::string> bytes;
    FileFlags flags;
    std::uint64_t version = 0;
  };
  static std::string Key(const std::string& path);

  std::map<std::string, std::string> environment_;
  std::string system_temp_ = "C:\\windows\\temp";
  std::string executable_folder_ = "C:\\Program Files\\Kestrelmark";
  std::map<std::string, File> files_;  // by lower-cased path
  std::set<std::string> fail_create_, fail_write_, fail_replace_, fail_read_;
  std::uint64_t last_version_ = 0;
  int replace_count_ = 0;
  int truncate_count_ = 0;
  bool fail_link_ = false;
};

}  // namespace platform
