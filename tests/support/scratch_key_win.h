// A scratch registry key for tests under Wine: a fresh key below
// HKEY_CURRENT_USER\Software, deleted with everything below it when the
// owner goes away. Values are written with the A functions (UTF-8 names
// under our manifest).
//
//   class MyTest : public ScratchKeyTest {};
//   TEST_F(MyTest, Reads) { scratch_.SetString("Sub", "name", "abc"); ... scratch_.path() ... }
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace km_test {

class ScratchKey {
 public:
  // Creates HKCU\Software\KestrelmarkTest-<process id>-<counter>.
  ScratchKey();
  ~ScratchKey();
  ScratchKey(const ScratchKey&) = delete;
  ScratchKey& operator=(const ScratchKey&) = delete;

  // Path below HKEY_CURRENT_USER, without a trailing backslash.
  const std::string& path() const { return path_; }
  // path() + "\" + relative (path() itself when relative is empty).
  std::string PathOf(std::string_view relative) const;

  // Creates path()\relative and the keys above it.
  void CreateKey(std::string_view relative) const;
  // Deletes path()\relative and everything below it; false when missing.
  bool DeleteKey(std::string_view relative) const;
  // Writes a value in path()\relative (created when missing).
  void SetRaw(std::string_view relative, const std::string& name, DWORD type,
              std::string_view bytes) const;
  // A string with its terminator.
  void SetString(std::string_view relative, const std::string& name, std::string_view text) const;
  void SetDword(std::string_view relative, const std::string& name, std::uint32_t value) const;
  bool DeleteValue(std::string_view relative, const std::string& name) const;

 private:
  std::string path_;
};

// A fixture that owns one scratch key per test.
class ScratchKeyTest : public ::testing::Test {
 protected:
  ScratchKey scratch_;
};

}  // namespace km_test
