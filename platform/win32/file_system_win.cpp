#include "platform/win32/file_system_win.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/runtime_error.h"
#include "platform/win32/unique_handle_win.h"

namespace platform {
namespace {

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) noexcept { FindClose(handle); }
};
using UniqueFindHandle = UniqueAny<FindHandleTraits>;

[[noreturn]] void ThrowLastError() { throw RuntimeError(DescribeWin32Error(GetLastError())); }

class Win32OutputFile : public OutputFile {
 public:
  explicit Win32OutputFile(UniqueHandle file) : file_(std::move(file)) {
    buffer_.reserve(kBufferSize);
  }
  // Closing without Close() (an error unwound the writer) loses the
  // buffered tail, which is what the abandoned write deserves.
  ~Win32OutputFile() override = default;

  void Write(std::string_view bytes) override {
    if (!file_) throw RuntimeError("Bad file name or number");
    if (buffer_.size() + bytes.size() > kBufferSize) {
      Flush();
      if (bytes.size() >= kBufferSize) {
        WriteThrough(bytes);
        return;
      }
    }
    buffer_.append(bytes);
  }

  void Close() override {
    if (!file_) return;
    Flush();
    if (!CloseHandle(file_.release())) ThrowLastError();
  }

 private:
  static constexpr std::size_t kBufferSize = 64 * 1024;
  // A large file is flushed to disk a slice at a time as it is written.
  // Under Wine on ext4, a file that was created by truncating, or that is
  // renamed over another, has all its unwritten data sent to disk inside
  // the close or the rename: 110 MB held the window 20 to 40 ms there. Sent
  // a slice at a time, each flush takes a few milliseconds, and the file is
  // on disk before it replaces a snapshot anywhere, which is what a
  // replace by rename needs to survive a power cut.
  static constexpr std::uint64_t kFlushSlice = 1 << 20;

  void Flush() {
    WriteThrough(buffer_);
    buffer_.clear();
  }
  void WriteThrough(std::string_view bytes) {
    while (!bytes.empty()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
      if (!WriteFile(file_.get(), bytes.data(), chunk, &written, nullptr)) ThrowLastError();
      if (written == 0) throw RuntimeError("Disk full");
      bytes.remove_prefix(written);
      unflushed_ += written;
    }
    if (unflushed_ >= kFlushSlice) {
      // Pacing only: where a flush means nothing (a device, a pipe) it
      // fails, and the writes stand.
      static_cast<void>(FlushFileBuffers(file_.get()));
      unflushed_ = 0;
    }
  }

  UniqueHandle file_;
  std::string buffer_;
  std::uint64_t unflushed_ = 0;
};

}  // namespace

std::string DescribeWin32Error(unsigned long error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: return "File not found";
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH: return "Path not found";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: return "Permission denied";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return "Disk full";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return "Out of memory";
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: return "Bad file name or number";
    default: break;
  }
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string description = length ? std::string(text, length) : std::string();
  if (text) LocalFree(text);
  while (!description.empty() && (description.back() == '\r' || description.back() == '\n' ||
                                  description.back() == ' ' || description.back() == '.'))
    description.pop_back();
  if (description.empty()) description = "Error " + std::to_string(error);
  return description;
}

std::optional<std::string> Win32FileSystem::GetEnvironment(const std::string& name) {
  std::vector<char> buffer(256);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length);
  }
}

std::string Win32FileSystem::SystemTempFolder() {
  char buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof buffer, buffer);
  std::string folder = length > 0 && length < sizeof buffer ? std::string(buffer, length)
                                                             : std::string("C:\\");
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folder;
}

std::string Win32FileSystem::ExecutableFolder() {
  std::vector<char> buffer(MAX_PATH);
  DWORD length = 0;
  for (;;) {
    length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length < buffer.size()) break;
    buffer.resize(buffer.size() * 2);
  }
  std::string path(buffer.data(), length);
  const std::size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos) return std::string();
  // A drive root keeps its backslash ("C:\"), as the system reports it.
  if (slash == 2 && path[1] == ':') return path.substr(0, 3);
  return path.substr(0, slash);
}

bool Win32FileSystem::CanReadModificationTime(const std::string& path) {
  UniqueHandle file(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return false;
  FILETIME written;
  return GetFileTime(file.get(), nullptr, nullptr, &written) != 0;
}

std::optional<std::string> Win32FileSystem::FindFirstPlainFile(const std::string& pattern) {
  WIN32_FIND_DATAA found;
  UniqueFindHandle search(FindFirstFileA(pattern.c_str(), &found));
  if (!search) return std::nullopt;
  constexpr DWORD kSkipped =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  do {
    if ((found.dwFileAttributes & kSkipped) == 0) return std::string(found.cFileName);
  } while (FindNextFileA(search.get(), &found));
  return std::nullopt;
}

std::unique_ptr<OutputFile> Win32FileSystem::CreateOutputFile(const std::string& path) {
  // Shared for deletion: a close in the middle of a snapshot removes the
  // unfinished file while it is still open.
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) ThrowLastError();
  return std::make_unique<Win32OutputFile>(std::move(file));
}

namespace {

// Opened with FILE_APPEND_DATA and without FILE_WRITE_DATA: the system puts
// every write at the end as it is then, also when another writer appends
// too, so one WriteFile is one whole piece at the end of the file.
class Win32AppendingFile : public AppendingFile {
 public:
  explicit Win32AppendingFile(UniqueHandle file) : file_(std::move(file)) {}

  void Append(std::string_view bytes) override {
    if (bytes.empty()) return;
    if (bytes.size() > 0x7FFFFFFF) throw RuntimeError("Out of memory");
    DWORD written = 0;
    if (!WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
      ThrowLastError();
    if (written != bytes.size()) throw RuntimeError("Disk full");
  }

 private:
  UniqueHandle file_;
};

}  // namespace

std::unique_ptr<AppendingFile> Win32FileSystem::OpenAppendingFile(const std::string& path) {
  // Shared every way: a log shipper reads it while it grows, and log
  // rotation may rename or delete it under us.
  UniqueHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) ThrowLastError();
  return std::make_unique<Win32AppendingFile>(std::move(file));
}

std::string Win32FileSystem::ReadWholeFile(const std::string& path) {
  const std::unique_ptr<InputFile> file = OpenInputFile(path);
  if (file->Size() > 0x7FFFFFFF) throw RuntimeError("Out of memory");
  std::string bytes(static_cast<std::size_t>(file->Size()), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t read = file->Read(bytes.data() + done, bytes.size() - done);
    if (read == 0) break;  // the file shrank meanwhile
    done += read;
  }
  bytes.resize(done);
  return bytes;
}

namespace {

class Win32InputFile : public InputFile {
 public:
  Win32InputFile(UniqueHandle file, std::uint64_t size) : file_(std::move(file)), size_(size) {}
  std::uint64_t Size() override { return size_; }
  std::size_t Read(char* dest, std::size_t size) override {
    DWORD read = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!ReadFile(file_.get(), dest, want, &read, nullptr)) ThrowLastError();
    return read;
  }

 private:
  UniqueHandle file_;
  std::uint64_t size_;
};

}  // namespace

std::unique_ptr<InputFile> Win32FileSystem::OpenInputFile(const std::string& path) {
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) ThrowLastError();
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) ThrowLastError();
  return std::make_unique<Win32InputFile>(std::move(file),
                                          static_cast<std::uint64_t>(size.QuadPart));
}

std::optional<FileStamp> Win32FileSystem::GetFileStamp(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  FileStamp stamp;
  stamp.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stamp.write_time = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                     data.ftLastWriteTime.dwLowDateTime;
  return stamp;
}

namespace {

class Win32DiscardedFile : public DiscardedFile {
 public:
  explicit Win32DiscardedFile(UniqueHandle file) : file_(std::move(file)) {}
  std::uint64_t Size() override {
    LARGE_INTEGER size;
    return GetFileSizeEx(file_.get(), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
  }
  bool Truncate(std::uint64_t size) override {
    FILE_END_OF_FILE_INFO end;
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return SetFileInformationByHandle(file_.get(), FileEndOfFileInfo, &end, sizeof end) != 0;
  }

 private:
  UniqueHandle file_;  // deleted on close
};

}  // namespace

bool Win32FileSystem::LinkFile(const std::string& existing, const std::string& link) {
  const DWORD attributes = GetFileAttributesA(existing.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY)) return false;
  return CreateHardLinkA(link.c_str(), existing.c_str(), nullptr) != 0;
}

std::unique_ptr<DiscardedFile> Win32FileSystem::OpenToDiscard(const std::string& path) {
  // Shared every way, so that a reader of the old file, or a removal of the
  // name meanwhile, still works.
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!file) return nullptr;
  return std::make_unique<Win32DiscardedFile>(std::move(file));
}

void Win32FileSystem::MoveReplacing(const std::string& from, const std::string& to) {
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) ThrowLastError();
}

bool Win32FileSystem::RemoveFile(const std::string& path) {
  return DeleteFileA(path.c_str()) != 0;
}

bool Win32FileSystem::RemoveFileForced(const std::string& path) {
  if (DeleteFileA(path.c_str())) return true;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);  // checked by the delete
  return DeleteFileA(path.c_str()) != 0;
}

}  // namespace platform
