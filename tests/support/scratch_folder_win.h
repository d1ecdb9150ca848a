// A scratch folder for tests under Wine: a fresh folder in the system's
// temporary folder, deleted with everything in it (read-only and hidden
// files included) when the owner goes away.
//
//   km_test::ScratchFolder folder_{"fs"};
//   ... folder_.path() ... folder_.In("a.txt") ...
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace km_test {

class ScratchFolder {
 public:
  // Creates %TEMP%\km-<tag>-<process id>-<counter>; the tag says whose it
  // is when one is left behind (CurrentTestName() suits).
  explicit ScratchFolder(std::string_view tag);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Without a trailing backslash.
  const std::string& path() const { return path_; }
  // path() + "\" + relative.
  std::string In(std::string_view relative) const;
  // Creates path()\relative and the folders above it; returns its path.
  std::string CreateFolder(std::string_view relative) const;

 private:
  std::string path_;
};

// Sets an environment variable of this process (nullopt: removes it) and
// puts back what was there before when it goes away; a program started
// meanwhile inherits the new value.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(std::string name, const std::optional<std::string>& value);
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

}  // namespace km_test
