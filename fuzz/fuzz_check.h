// What the fuzz programs share: a check that stops the run with a readable
// report (libFuzzer then saves the input), byte-exact quoting of texts, and
// exact-size copies.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace kestrelmark::fuzz {

// C-style escapes for every byte outside printable ASCII, so a report shows
// CR, LF, NUL and high bytes exactly.
inline std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '"' || byte == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte >= 0x20 && byte < 0x7F) {
      quoted += c;
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      quoted += escape;
    }
  }
  return quoted + "\"";
}

// A copy of text in a buffer of exactly its size, with no terminator after
// it, so that the sanitizer sees a read one byte past the end.
class ExactCopy {
 public:
  explicit ExactCopy(std::string_view text) : bytes_(new char[text.size()]), size_(text.size()) {
    if (size_ > 0) std::memcpy(bytes_.get(), text.data(), size_);
  }
  std::string_view view() const { return std::string_view(bytes_.get(), size_); }

 private:
  std::unique_ptr<char[]> bytes_;
  std::size_t size_;
};

[[noreturn]] inline void Fail(const char* file, int line, const char* condition,
                              const std::string& detail) {
  std::fprintf(stderr, "%s:%d: property failed: %s\n%s\n", file, line, condition, detail.c_str());
  std::abort();
}

}  // namespace kestrelmark::fuzz

// KM_FUZZ_CHECK(condition, detail): detail is a std::string expression,
// evaluated only when the condition fails.
#define KM_FUZZ_CHECK(condition, detail)                                                   \
  do {                                                                                     \
    if (!(condition)) ::kestrelmark::fuzz::Fail(__FILE__, __LINE__, #condition, (detail)); \
  } while (0)
