#include "engine/entry_text.h"

#include "platform/registry.h"

namespace RegStuff {

std::size_t NameCharacters(std::string_view name) {
  std::size_t units = 0;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) == 0x80) continue;  // continuation byte
    units += byte >= 0xF0 ? 2 : 1;        // beyond the BMP: a surrogate pair
  }
  return units;
}

bool AppendValueEntry(EntryList& list, std::string_view key_path, std::string_view name,
                      std::uint32_t type, std::string_view data) {
  if (data.size() > kDataBufferSize) return false;
  if (type != platform::kRegSz && type != platform::kRegDword) return false;
  if (!data.empty() && name.empty()) return false;

  list.AppendPiece(key_path);
  list.AppendPiece("  ");
  list.AppendPiece(name);
  if (!data.empty()) {
    list.AppendPiece('=');
    if (type == platform::kRegSz) {
      list.AppendPiece(data.substr(0, data.size() - 1));
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      char text[10] = {'&', 'H'};
      for (int i = 0; i < 4; ++i) {
        const std::size_t byte_index = 3 - static_cast<std::size_t>(i);
        const unsigned byte =
            byte_index < data.size() ? static_cast<unsigned char>(data[byte_index]) : 0u;
        text[2 + 2 * i] = kHex[byte >> 4];
        text[3 + 2 * i] = kHex[byte & 0xF];
      }
      list.AppendPiece(std::string_view(text, sizeof text));
    }
  }
  list.CommitEntry();
  return true;
}

bool AppendUtf8FromUtf16le(std::string_view utf16le, std::string& out) {
  if (utf16le.size() % 2 != 0) return false;
  const std::size_t start = out.size();
  const std::size_t units = utf16le.size() / 2;
  auto unit = [&](std::size_t i) {
    return static_cast<char32_t>(static_cast<unsigned char>(utf16le[2 * i]) |
                                 static_cast<unsigned char>(utf16le[2 * i + 1]) << 8);
  };
  // At most three bytes per unit (a pair of units takes four).
  out.resize(start + 3 * units);
  char* at = out.data() + start;
  for (std::size_t i = 0; i < units; ++i) {
    char32_t c = unit(i);
    if (c < 0x80) {
      *at++ = static_cast<char>(c);
      continue;
    }
    if (c < 0x800) {
      *at++ = static_cast<char>(0xC0 | c >> 6);
      *at++ = static_cast<char>(0x80 | (c & 0x3F));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
      const char32_t low = i + 1 < units ? unit(i + 1) : 0;
      if (c > 0xDBFF || low < 0xDC00 || low > 0xDFFF) {
        out.resize(start);
        return false;
      }
      ++i;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      *at++ = static_cast<char>(0xF0 | c >> 18);
      *at++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    } else {
      *at++ = static_cast<char>(0xE0 | c >> 12);
    }
    *at++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *at++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  out.resize(static_cast<std::size_t>(at - out.data()));
  return true;
}

bool IsAscii(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

std::optional<std::string> ValueEntryText(std::string_view key_path, std::string_view name,
                                          std::uint32_t type, std::string_view data) {
  EntryList list;
  if (!AppendValueEntry(list, key_path, name, type, data)) return std::nullopt;
  return std::string(list[0]);
}

}  // namespace RegStuff
