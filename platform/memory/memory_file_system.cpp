#include "platform/memory/memory_file_system.h"

#include <cctype>

#include "platform/runtime_error.h"

namespace platform {
namespace {

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// '*' and '?' as a directory listing reads them, case-insensitively.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
  if (pattern.empty()) return name.empty();
  if (pattern[0] == '*') {
    for (std::size_t skip = 0; skip <= name.size(); ++skip)
      if (WildcardMatch(pattern.substr(1), name.substr(skip))) return true;
    return false;
  }
  if (name.empty()) return false;
  if (pattern[0] != '?' &&
      std::tolower(static_cast<unsigned char>(pattern[0])) !=
          std::tolower(static_cast<unsigned char>(name[0])))
    return false;
  return WildcardMatch(pattern.substr(1), name.substr(1));
}

}  // namespace

class MemoryFileSystem::MemoryOutputFile : public OutputFile {
 public:
  MemoryOutputFile(MemoryFileSystem& owner, std::string path)
      : owner_(owner), path_(std::move(path)) {}
  void Write(std::string_view bytes) override {
    if (closed_) throw RuntimeError("Bad file name or number");
    if (owner_.fail_write_.count(Key(path_))) throw RuntimeError("Disk full");
    buffer_.append(bytes);
  }
  void Close() override {
    if (closed_) return;
    closed_ = true;
    auto it = owner_.files_.find(Key(path_));
    if (it == owner_.files_.end()) throw RuntimeError("Path not found");
    *it->second.bytes = std::move(buffer_);
    it->second.version = ++owner_.last_version_;
  }

 private:
  MemoryFileSystem& owner_;
  std::string path_;
  std::string buffer_;
  bool closed_ = false;
};

std::string MemoryFileSystem::Key(const std::string& path) { return Lower(path); }

void MemoryFileSystem::SetEnvironment(const std::string& name, std::optional<std::string> value) {
  if (value)
    environment_[Lower(name)] = *value;
  else
    environment_.erase(Lower(name));
}

void MemoryFileSystem::PutFile(const std::string& path, std::string bytes, FileFlags flags) {
  files_[Key(path)] =
      File{path, std::make_shared<std::string>(std::move(bytes)), flags, ++last_version_};
}

void MemoryFileSystem::SetReadOnly(const std::string& path, bool read_only) {
  const auto it = files_.find(Key(path));
  if (it != files_.end()) it->second.flags.read_only = read_only;
}

std::optional<std::string> MemoryFileSystem::FileBytes(const std::string& path) const {
  const auto it = files_.find(Key(path));
  if (it == files_.end()) return std::nullopt;
  return *it->second.bytes;
}

bool MemoryFileSystem::IsReadOnly(const std::string& path) const {
  const auto it = files_.find(Key(path));
  return it != files_.end() && it->second.flags.read_only;
}

std::set<std::string> MemoryFileSystem::FilePaths() const {
  std::set<std::string> paths;
  for (const auto& [key, file] : files_) paths.insert(file.path);
  return paths;
}

void MemoryFileSystem::FailCreate(const std::string& path, bool fail) {
  if (fail) fail_create_.insert(Key(path)); else fail_create_.erase(Key(path));
}
void MemoryFileSystem::FailWrite(const std::string& path, bool fail) {
  if (fail) fail_write_.insert(Key(path)); else fail_write_.erase(Key(path));
}
void MemoryFileSystem::FailReplace(const std::string& path, bool fail) {
  if (fail) fail_replace_.insert(Key(path)); else fail_replace_.erase(Key(path));
}

std::optional<std::string> MemoryFileSystem::GetEnvironment(const std::string& name) {
  const auto it = environment_.find(Lower(name));
  if (it == environment_.end()) return std::nullopt;
  return it->second;
}

bool MemoryFileSystem::CanReadModificationTime(const std::string& path) {
  return files_.count(Key(path)) != 0;
}

std::optional<std::string> MemoryFileSystem::FindFirstPlainFile(const std::string& pattern) {
  const std::size_t slash = pattern.find_last_of('\\');
  const std::string folder = Key(slash == std::string::npos ? "" : pattern.substr(0, slash + 1));
  const std::string name_pattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  for (const auto& [key, file] : files_) {
    if (key.size() <= folder.size() || key.compare(0, folder.size(), folder) != 0) continue;
    const std::string name = file.path.substr(folder.size());
    if (name.find('\\') != std::string::npos) continue;
    if (file.flags.hidden || file.flags.system) continue;
    if (WildcardMatch(name_pattern, name)) return name;
  }
  return std::nullopt;
}

class MemoryFileSystem::MemoryAppendingFile : public AppendingFile {
 public:
  MemoryAppendingFile(MemoryFileSystem& owner, std::string path)
      : owner_(owner), path_(std::move(path)) {}
  void Append(std::string_view bytes) override {
    if (owner_.fail_write_.count(Key(path_))) throw RuntimeError("Disk full");
    auto it = owner_.files_.find(Key(path_));
    if (it == owner_.files_.end()) throw RuntimeError("Path not found");
    it->second.bytes->append(bytes);
    it->second.version = ++owner_.last_version_;
  }

 private:
  MemoryFileSystem& owner_;
  std::string path_;
};

std::unique_ptr<AppendingFile> MemoryFileSystem::OpenAppendingFile(const std::string& path) {
  if (fail_create_.count(Key(path))) throw RuntimeError("Path not found");
  const auto it = files_.find(Key(path));
  if (it != files_.end() && it->second.flags.read_only) throw RuntimeError("Permission denied");
  if (it == files_.end())
    files_[Key(path)] = File{path, std::make_shared<std::string>(), {}, ++last_version_};
  return std::make_unique<MemoryAppendingFile>(*this, path);
}

std::unique_ptr<OutputFile> MemoryFileSystem::CreateOutputFile(const std::string& path) {
  if (fail_create_.count(Key(path))) throw RuntimeError("Path not found");
  const auto it = files_.find(Key(path));
  if (it != files_.end() && it->second.flags.read_only) throw RuntimeError("Permission denied");
  if (it != files_.end()) {
    it->second.bytes->clear();
    it->second.version = ++last_version_;
  } else {
    files_[Key(path)] = File{path, std::make_shared<std::string>(), {}, ++last_version_};
  }
  return std::make_unique<MemoryOutputFile>(*this, path);
}

std::string MemoryFileSystem::ReadWholeFile(const std::string& path) {
  const auto it = files_.find(Key(path));
  if (it == files_.end()) throw RuntimeError("File not found");
  if (fail_read_.count(Key(path))) throw RuntimeError("Permission denied");
  return *it->second.bytes;
}

std::optional<FileStamp> MemoryFileSystem::GetFileStamp(const std::string& path) {
  const auto it = files_.find(Key(path));
  if (it == files_.end()) return std::nullopt;
  return FileStamp{it->second.bytes->size(), it->second.version};
}

void MemoryFileSystem::FailRead(const std::string& path, bool fail) {
  if (fail) fail_read_.insert(Key(path)); else fail_read_.erase(Key(path));
}

void MemoryFileSystem::MoveReplacing(const std::string& from, const std::string& to) {
  if (fail_replace_.count(Key(to)) || fail_replace_.count(Key(from)))
    throw RuntimeError("Permission denied");
  const auto source = files_.find(Key(from));
  if (source == files_.end()) throw RuntimeError("File not found");
  const auto target = files_.find(Key(to));
  if (target != files_.end() && target->second.flags.read_only)
    throw RuntimeError("Permission denied");
  File moved = std::move(source->second);
  files_.erase(source);
  moved.path = to;
  moved.version = ++last_version_;
  files_[Key(to)] = std::move(moved);
  ++replace_count_;
}

class MemoryFileSystem::MemoryDiscardedFile : public DiscardedFile {
 public:
  MemoryDiscardedFile(MemoryFileSystem& owner, std::string path,
                      std::shared_ptr<std::string> bytes)
      : owner_(owner), path_(std::move(path)), bytes_(std::move(bytes)) {}
  ~MemoryDiscardedFile() override {
    // The name goes only while it still names this file.
    const auto it = owner_.files_.find(Key(path_));
    if (it != owner_.files_.end() && it->second.bytes == bytes_) owner_.files_.erase(it);
  }
  std::uint64_t Size() override { return bytes_->size(); }
  bool Truncate(std::uint64_t size) override {
    if (size < bytes_->size()) bytes_->resize(static_cast<std::size_t>(size));
    ++owner_.truncate_count_;
    return true;
  }

 private:
  MemoryFileSystem& owner_;
  std::string path_;
  std::shared_ptr<std::string> bytes_;
};

bool MemoryFileSystem::LinkFile(const std::string& existing, const std::string& link) {
  const auto it = files_.find(Key(existing));
  if (fail_link_ || it == files_.end() || it->second.flags.read_only || files_.count(Key(link)))
    return false;
  File second = it->second;
  second.path = link;
  files_[Key(link)] = std::move(second);
  return true;
}

std::unique_ptr<DiscardedFile> MemoryFileSystem::OpenToDiscard(const std::string& path) {
  const auto it = files_.find(Key(path));
  if (it == files_.end() || it->second.flags.read_only) return nullptr;
  return std::make_unique<MemoryDiscardedFile>(*this, path, it->second.bytes);
}

bool MemoryFileSystem::RemoveFile(const std::string& path) {
  const auto it = files_.find(Key(path));
  if (it == files_.end() || it->second.flags.read_only) return false;
  files_.erase(it);
  return true;
}

bool MemoryFileSystem::RemoveFileForced(const std::string& path) {
  return files_.erase(Key(path)) == 1;
}

}  // namespace platform
