// The file-system services the engine and the window need. Paths are 8-bit
// strings in the process code page (UTF-8 under our manifest).
#pragma once

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/runtime_error.h"

namespace platform {

// A file open for writing. Writes are buffered; Close() flushes and throws
// RuntimeError when anything failed to reach the disk.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  virtual void Write(std::string_view bytes) = 0;  // throws RuntimeError
  virtual void Close() = 0;                        // throws RuntimeError
};

// A file open for appending, for a log that another program reads while it
// grows. Each Append reaches the file at once and whole, after everything
// already in it (nothing is held back in a buffer of ours), so a reader
// never sees part of one Append followed by another's bytes.
class AppendingFile {
 public:
  virtual ~AppendingFile() = default;
  virtual void Append(std::string_view bytes) = 0;  // throws RuntimeError
};

// A file open for reading, read piece by piece so that a large one need not
// be read in one stretch.
class InputFile {
 public:
  virtual ~InputFile() = default;
  // The size when it was opened.
  virtual std::uint64_t Size() = 0;
  // Up to size bytes into dest; 0 at the end. Throws RuntimeError.
  virtual std::size_t Read(char* dest, std::size_t size) = 0;
};

// A file on its way out, emptied piece by piece: a file system frees a
// large file's blocks in the one call that removes it or cuts it (ext4 takes
// about 60 ms for 110 MB), so a caller that must stay responsive cuts it a
// few megabytes at a time. Destroying it removes what is left.
class DiscardedFile {
 public:
  virtual ~DiscardedFile() = default;
  virtual std::uint64_t Size() = 0;
  // Cuts the file to size bytes; false when it cannot.
  virtual bool Truncate(std::uint64_t size) = 0;
};

// What tells one version of a file from another without reading it.
struct FileStamp {
  std::uint64_t size = 0;
  std::uint64_t write_time = 0;  // FILETIME units, or a version number
  bool operator==(const FileStamp&) const = default;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // nullopt when the variable is not set.
  virtual std::optional<std::string> GetEnvironment(const std::string& name) = 0;
  // The system's temporary folder, without a trailing backslash.
  virtual std::string SystemTempFolder() = 0;
  // The folder holding the running executable, as the system reports it
  // (a drive root keeps its backslash: "C:\").
  virtual std::string ExecutableFolder() = 0;

  // True when the file's last-modification time can be read.
  virtual bool CanReadModificationTime(const std::string& path) = 0;
  // First name matching a wildcard pattern (files only; hidden and system
  // files excluded), as a directory listing returns it; nullopt when none.
  virtual std::optional<std::string> FindFirstPlainFile(const std::string& pattern) = 0;

  // Creates or truncates the file. Throws RuntimeError when it cannot.
  virtual std::unique_ptr<OutputFile> CreateOutputFile(const std::string& path) = 0;
  // Opens the file for appending, creating it when missing; others may read,
  // write, rename and delete it meanwhile. Throws RuntimeError when it
  // cannot (this default never can).
  virtual std::unique_ptr<AppendingFile> OpenAppendingFile(const std::string& path);
  // The whole file as bytes. Throws RuntimeError when it cannot be read.
  virtual std::string ReadWholeFile(const std::string& path) = 0;
  // The file for reading in pieces. Throws RuntimeError when it cannot be
  // opened. (This default reads it whole at once.)
  virtual std::unique_ptr<InputFile> OpenInputFile(const std::string& path);
  // Size and last write time; nullopt when they cannot be read.
  virtual std::optional<FileStamp> GetFileStamp(const std::string&) { return std::nullopt; }
  // Renames from over to, replacing an existing file. Throws RuntimeError.
  // (Not "ReplaceFile": <windows.h> defines that name as a macro.)
  virtual void MoveReplacing(const std::string& from, const std::string& to) = 0;
  // Gives the file at existing a second name (a hard link). False when the
  // file system cannot (this default never can), when link exists, and for
  // a read-only file, whose second name could not be removed again.
  virtual bool LinkFile(const std::string& /*existing*/, const std::string& /*link*/) {
    return false;
  }
  // Opens the file to be emptied and removed; nullptr when it cannot be
  // (this default never can). Only for a file that no other name needs: a
  // file open this way may not be replaced under another of its names.
  virtual std::unique_ptr<DiscardedFile> OpenToDiscard(const std::string& /*path*/) {
    return nullptr;
  }
  // Ordinary deletion; false on failure.
  virtual bool RemoveFile(const std::string& path) = 0;
  // Deletes a read-only file too; false on failure.
  virtual bool RemoveFileForced(const std::string& path) = 0;
};

namespace detail {

class WholeInputFile : public InputFile {
 public:
  explicit WholeInputFile(std::string bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t Size() override { return bytes_.size(); }
  std::size_t Read(char* dest, std::size_t size) override {
    const std::size_t count = std::min(size, bytes_.size() - at_);
    std::memcpy(dest, bytes_.data() + at_, count);
    at_ += count;
    return count;
  }

 private:
  std::string bytes_;
  std::size_t at_ = 0;
};

}  // namespace detail

inline std::unique_ptr<AppendingFile> FileSystem::OpenAppendingFile(const std::string&) {
  throw RuntimeError("Appending to a file is not available here");
}

inline std::unique_ptr<InputFile> FileSystem::OpenInputFile(const std::string& path) {
  return std::make_unique<detail::WholeInputFile>(ReadWholeFile(path));
}

}  // namespace platform
