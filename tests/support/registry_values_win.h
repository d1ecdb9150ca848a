// Reading and writing registry values through the real API, below any root,
// to set up what the program is to find and to look at what it stored. A
// write that fails throws (the test fails with the path and the code).
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace km_test {

// A REG_SZ value without its terminator; nullopt when the key or the value
// is missing or of another type (REG_EXPAND_SZ included: a test that reads a
// string expects the type the program is meant to write).
std::optional<std::string> ReadString(HKEY root, const std::string& path, const std::string& name);

// Creates root\path (and the keys above it) when missing and writes the value.
void WriteValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                std::string_view bytes);
// A REG_SZ with its terminator.
void WriteString(HKEY root, const std::string& path, const std::string& name,
                 std::string_view text);
void WriteDword(HKEY root, const std::string& path, const std::string& name,
                std::uint32_t value);

// Deletes root\path with everything below it; false when it was missing.
bool DeleteTree(HKEY root, const std::string& path);

}  // namespace km_test
