// Reads back one line of the command's JSON output (a flat object of
// strings, nulls and booleans), undoing the \udcXX escapes of bytes that are
// not UTF-8. Independent of the writer, so a test can check a round trip.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace cli_test {

// Member name to value: strings as bytes, null as nullopt, true/false as
// "true"/"false".
using JsonObject = std::map<std::string, std::optional<std::string>>;

class JsonLineReader {
 public:
  explicit JsonLineReader(std::string_view line) : text_(line) {}

  JsonObject ReadObject() {
    JsonObject object;
    Expect('{');
    if (Peek() == '}') {
      ++at_;
    } else {
      for (;;) {
        std::string name = ReadString();
        Expect(':');
        if (object.count(name)) throw std::runtime_error("duplicate member " + name);
        object[name] = ReadValue();
        const char next = Next();
        if (next == '}') break;
        if (next != ',') throw std::runtime_error("expected , or }");
      }
    }
    if (at_ != text_.size()) throw std::runtime_error("text after the object");
    return object;
  }

 private:
  char Peek() const {
    if (at_ >= text_.size()) throw std::runtime_error("unexpected end");
    return text_[at_];
  }
  char Next() {
    const char c = Peek();
    ++at_;
    return c;
  }
  void Expect(char c) {
    if (Next() != c) throw std::runtime_error(std::string("expected ") + c);
  }
  bool Consume(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }
  std::optional<std::string> ReadValue() {
    if (Consume("null")) return std::nullopt;
    if (Consume("true")) return "true";
    if (Consume("false")) return "false";
    return ReadString();
  }
  unsigned ReadHex4() {
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = Next();
      value <<= 4;
      if (c >= '0' && c <= '9')
        value |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        value |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        value |= static_cast<unsigned>(c - 'A' + 10);
      else
        throw std::runtime_error("bad \\u escape");
    }
    return value;
  }
  std::string ReadString() {
    Expect('"');
    std::string out;
    for (;;) {
      const unsigned char c = static_cast<unsigned char>(Next());
      if (c == '"') return out;
      if (c < 0x20) throw std::runtime_error("raw control character in a string");
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      switch (Next()) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          const unsigned code = ReadHex4();
          // The writer escapes only control characters (and DEL) and the
          // bytes that are not UTF-8; text outside ASCII stays as it is.
          if (code >= 0xDC80 && code <= 0xDCFF) {
            out += static_cast<char>(code - 0xDC00);
          } else if (code < 0x80) {
            out += static_cast<char>(code);
          } else {
            throw std::runtime_error("unexpected \\u escape");
          }
          break;
        }
        default:
          throw std::runtime_error("bad escape");
      }
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

inline JsonObject ReadJsonLine(std::string_view line) { return JsonLineReader(line).ReadObject(); }

}  // namespace cli_test
