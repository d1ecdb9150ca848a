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

std::optional<std::string> ValueEntryText(std::string_view key_path, std::string_view name,
                                          std::uint32_t type, std::string_view data) {
  EntryList list;
  if (!AppendValueEntry(list, key_path, name, type, data)) return std::nullopt;
  return std::string(list[0]);
}

}  // namespace RegStuff
