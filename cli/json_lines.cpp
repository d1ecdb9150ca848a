#include "cli/json_lines.h"

#include <cstddef>
#include <cstdint>

namespace cli {
namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendUnicodeEscape(std::string& json, unsigned code) {
  json += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) json += kHex[(code >> shift) & 0xF];
}

// The length of the valid UTF-8 sequence at text[at], or 0 when the byte
// there does not begin one (overlong forms, surrogates and code points above
// U+10FFFF are not valid).
std::size_t ValidSequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(at);
  std::size_t length;
  unsigned low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

RowParts ParseRow(std::string_view text, std::string_view start_path, bool include_values,
                  RowChecker* checker) {
  RowParts parts;
  parts.key = text;
  if (!include_values) return parts;
  // The start path is every entry's beginning; blanks inside it are no split.
  const std::size_t from = !start_path.empty() && text.substr(0, start_path.size()) == start_path
                               ? start_path.size()
                               : 0;
  const std::size_t first_blanks = text.find("  ", from);
  if (first_blanks == std::string_view::npos) return parts;

  const auto value_at = [&](std::size_t blanks, std::size_t equals) {
    RowParts value;
    value.kind = RowKind::kValue;
    value.key = text.substr(0, blanks);
    const std::string_view rest = text.substr(blanks + 2);
    if (equals == std::string_view::npos) {
      value.name = rest;
    } else {
      value.name = rest.substr(0, equals);
      value.data = rest.substr(equals + 1);
    }
    return value;
  };
  if (checker) {
    // Each pair of blanks, and in what follows each "=" (or none: a value
    // without data), in reading order; a row has few of them.
    constexpr int kMostTries = 64;
    int tries = 0;
    for (std::size_t blanks = first_blanks; blanks != std::string_view::npos && tries < kMostTries;
         blanks = text.find("  ", blanks + 1)) {
      const std::string_view rest = text.substr(blanks + 2);
      for (std::size_t equals = rest.find('=');; equals = rest.find('=', equals + 1)) {
        const RowParts value = value_at(blanks, equals);
        if (++tries > kMostTries) break;
        if (checker->IsValueEntry(value.key, value.name, text)) return value;
        if (equals == std::string_view::npos) break;
      }
    }
    if (checker->IsKey(text)) return parts;
  }
  return value_at(first_blanks, text.substr(first_blanks + 2).find('='));
}

void AppendJsonString(std::string& json, std::string_view text) {
  json += '"';
  std::size_t at = 0;
  while (at < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c >= 0x80) {
      const std::size_t length = ValidSequenceLength(text, at);
      if (length == 0) {
        AppendUnicodeEscape(json, 0xDC00 + c);
        ++at;
      } else {
        json.append(text.substr(at, length));
        at += length;
      }
      continue;
    }
    switch (c) {
      case '"':
        json += "\\\"";
        break;
      case '\\':
        json += "\\\\";
        break;
      case '\b':
        json += "\\b";
        break;
      case '\f':
        json += "\\f";
        break;
      case '\n':
        json += "\\n";
        break;
      case '\r':
        json += "\\r";
        break;
      case '\t':
        json += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          AppendUnicodeEscape(json, c);
        } else {
          json += static_cast<char>(c);
        }
    }
    ++at;
  }
  json += '"';
}

void AppendJsonLine(std::string& json, std::string_view text, const RowParts& parts, bool deleted) {
  json += "{\"text\":";
  AppendJsonString(json, text);
  json +=
      parts.kind == RowKind::kKey ? ",\"kind\":\"key\",\"key\":" : ",\"kind\":\"value\",\"key\":";
  AppendJsonString(json, parts.key);
  if (parts.kind == RowKind::kValue) {
    json += ",\"name\":";
    AppendJsonString(json, parts.name);
    json += ",\"data\":";
    if (parts.data) {
      AppendJsonString(json, *parts.data);
    } else {
      json += "null";
    }
  }
  json += deleted ? ",\"deleted\":true}\n" : ",\"deleted\":false}\n";
}

}  // namespace cli
