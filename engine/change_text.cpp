#include "engine/change_text.h"

#include <array>
#include <cstddef>
#include <cstdio>


namespace mKestrelmark {
namespace {

// Types the registry header names; platform/registry.h names only the ones
// the line mode reads.
constexpr std::uint32_t kRegLink = 6;
constexpr std::uint32_t kRegDwordBigEndian = 5;
constexpr std::uint32_t kRegQword = 11;

constexpr std::array<const char*, 12> kTypeNames = {
    "REG_NONE",
    "REG_SZ",
    "REG_EXPAND_SZ",
    "REG_BINARY",
    "REG_DWORD",
    "REG_DWORD_BIG_ENDIAN",
    "REG_LINK",
    "REG_MULTI_SZ",
    "REG_RESOURCE_LIST",
    "REG_FULL_RESOURCE_DESCRIPTOR",
    "REG_RESOURCE_REQUIREMENTS_LIST",
    "REG_QWORD",
};

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr std::string_view kHexPrefix = "hex:";

std::string HexOf(std::string_view bytes) {
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    hex += kHexDigits[b >> 4];
    hex += kHexDigits[b & 0xF];
  }
  return hex;
}

std::uint16_t Unit(std::string_view bytes, std::size_t index) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[2 * index]) |
                                    static_cast<unsigned char>(bytes[2 * index + 1]) << 8);
}

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Units [begin, end) of bytes as UTF-8; false at a NUL or a surrogate
// without its partner, which no text in a row can show faithfully.
bool DecodeUtf16(std::string_view bytes, std::size_t begin, std::size_t end, std::string& out) {
  for (std::size_t i = begin; i < end; ++i) {
    const std::uint16_t unit = Unit(bytes, i);
    if (unit == 0) return false;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 >= end) return false;
      const std::uint16_t low = Unit(bytes, i + 1);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      AppendUtf8(out, 0x10000 + ((static_cast<std::uint32_t>(unit) - 0xD800) << 10) +
                          (static_cast<std::uint32_t>(low) - 0xDC00));
      ++i;
      continue;
    }
    AppendUtf8(out, unit);
  }
  return true;
}

bool DecodeString(std::string_view bytes, std::string& text) {
  if (bytes.size() < 2 || bytes.size() % 2 != 0) return false;
  const std::size_t units = bytes.size() / 2;
  if (Unit(bytes, units - 1) != 0) return false;
  return DecodeUtf16(bytes, 0, units - 1, text);
}

bool DecodeList(std::string_view bytes, std::vector<std::string>& list) {
  if (bytes.size() < 2 || bytes.size() % 2 != 0) return false;
  const std::size_t units = bytes.size() / 2;
  if (Unit(bytes, units - 1) != 0) return false;
  // Before the final NUL: nothing (the empty list), or strings each ending
  // in its own NUL.
  const std::size_t body = units - 1;
  if (body == 0) return true;
  if (Unit(bytes, body - 1) != 0) return false;
  std::size_t begin = 0;
  for (std::size_t i = 0; i < body; ++i) {
    if (Unit(bytes, i) != 0) continue;
    std::string text;
    if (!DecodeUtf16(bytes, begin, i, text)) return false;
    list.push_back(std::move(text));
    begin = i + 1;
  }
  return true;
}

std::uint64_t LittleEndian(std::string_view bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) {
    value = value << 8 | static_cast<unsigned char>(bytes[i]);
  }
  return value;
}

std::uint64_t BigEndian(std::string_view bytes) {
  std::uint64_t value = 0;
  for (const char c : bytes) value = value << 8 | static_cast<unsigned char>(c);
  return value;
}

const char* ChangeNameOf(RegStuff::ChangeKind kind) {
  switch (kind) {
    case RegStuff::ChangeKind::kAdded:
      return "added";
    case RegStuff::ChangeKind::kDeleted:
      return "deleted";
    case RegStuff::ChangeKind::kChanged:
      return "changed";
    case RegStuff::ChangeKind::kUnreadable:
      return "unreadable";
    case RegStuff::ChangeKind::kReadable:
      return "readable";
  }
  return "?";
}

const char* SubjectNameOf(RegStuff::ChangeSubject subject) {
  return subject == RegStuff::ChangeSubject::kKey ? "key" : "value";
}

void AppendEscapedField(std::string& out, std::string_view field) {
  for (const char c : field) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        out += c;
    }
  }
}

std::string DataText(const RegStuff::ValueRecord& value) {
  const ValueData data = DecodeValueData(value.type, value.data);
  std::string text;
  switch (data.form) {
    case ValueData::Form::kText:
      text = data.text;
      break;
    case ValueData::Form::kList:
      for (const std::string& item : data.list) {
        text += item;
        text += '\0';
      }
      break;
    case ValueData::Form::kNumber:
      return std::to_string(data.number);
    case ValueData::Form::kHex:
      break;
  }
  // Text that starts like bytes would read back as bytes; the bytes
  // themselves say the same thing without that doubt.
  if (data.form == ValueData::Form::kHex || text.starts_with(kHexPrefix)) {
    return std::string(kHexPrefix) + HexOf(value.data);
  }
  return text;
}

}  // namespace

const char* ChangeKindName(RegStuff::ChangeKind kind) { return ChangeNameOf(kind); }
const char* ChangeSubjectName(RegStuff::ChangeSubject subject) { return SubjectNameOf(subject); }
std::string HexBytes(std::string_view bytes) { return HexOf(bytes); }

std::string RegistryTypeName(std::uint32_t type) {
  if (type < kTypeNames.size()) return kTypeNames[type];
  char number[11];
  std::snprintf(number, sizeof number, "0x%08x", static_cast<unsigned>(type));
  return number;
}

std::string FileTimeToIso8601(platform::KeyTime time) {
  if (time == platform::kUnknownKeyTime) return {};
  const std::uint64_t milliseconds = time / 10'000;
  const std::uint64_t seconds = milliseconds / 1000;
  const std::uint64_t second_of_day = seconds % 86'400;
  // Days from 1970-01-01 (1601 is 134774 days before it), then the civil
  // date by H. Hinnant's days-to-civil algorithm, valid for any day here.
  const std::int64_t days = static_cast<std::int64_t>(seconds / 86'400) - 134'774;
  const std::int64_t z = days + 719'468;
  const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
  const std::int64_t day_of_era = z - era * 146'097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36'524 - day_of_era / 146'096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;  // March is 0
  const std::int64_t day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  const std::int64_t month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);

  char text[40];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02llu:%02llu:%02llu.%03lluZ",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<unsigned long long>(second_of_day / 3600),
                static_cast<unsigned long long>(second_of_day / 60 % 60),
                static_cast<unsigned long long>(second_of_day % 60),
                static_cast<unsigned long long>(milliseconds % 1000));
  return text;
}

ValueData DecodeValueData(std::uint32_t type, std::string_view bytes) {
  ValueData data;
  bool decoded = false;
  switch (type) {
    case platform::kRegSz:
    case platform::kRegExpandSz:
    case kRegLink:
      decoded = DecodeString(bytes, data.text);
      data.form = ValueData::Form::kText;
      break;
    case platform::kRegMultiSz:
      decoded = DecodeList(bytes, data.list);
      data.form = ValueData::Form::kList;
      break;
    case platform::kRegDword:
      decoded = bytes.size() == 4;
      if (decoded) data.number = LittleEndian(bytes);
      data.form = ValueData::Form::kNumber;
      break;
    case kRegDwordBigEndian:
      decoded = bytes.size() == 4;
      if (decoded) data.number = BigEndian(bytes);
      data.form = ValueData::Form::kNumber;
      break;
    case kRegQword:
      decoded = bytes.size() == 8;
      if (decoded) data.number = LittleEndian(bytes);
      data.form = ValueData::Form::kNumber;
      break;
    default:
      break;
  }
  if (!decoded) return ValueData{};
  return data;
}

std::string ChangeText(const RegStuff::Change& change) {
  const bool value = change.subject == RegStuff::ChangeSubject::kValue;
  const auto type = [](const std::optional<RegStuff::ValueRecord>& record) {
    return record ? RegistryTypeName(record->type) : std::string();
  };
  const auto data = [](const std::optional<RegStuff::ValueRecord>& record) {
    return record ? DataText(*record) : std::string();
  };
  const std::string fields[] = {
      ChangeNameOf(change.kind),
      SubjectNameOf(change.subject),
      change.key,
      value ? change.name : std::string(),
      value ? type(change.after) : std::string(),
      value ? data(change.after) : std::string(),
      value ? type(change.before) : std::string(),
      value ? data(change.before) : std::string(),
  };
  std::string line;
  for (std::size_t i = 0; i < std::size(fields); ++i) {
    if (i) line += '\t';
    AppendEscapedField(line, fields[i]);
  }
  return line;
}

std::optional<std::vector<std::string>> ParseChangeText(std::string_view line) {
  constexpr std::size_t kFields = 8;
  std::vector<std::string> fields(1);
  for (std::size_t at = 0; at < line.size(); ++at) {
    const char c = line[at];
    // The text never holds a line break of its own; one here is not ours.
    if (c == '\n' || c == '\r') return std::nullopt;
    if (c == '\t') {
      fields.emplace_back();
      continue;
    }
    if (c != '\\') {
      fields.back() += c;
      continue;
    }
    if (++at == line.size()) return std::nullopt;
    switch (line[at]) {
      case '\\':
        fields.back() += '\\';
        break;
      case 't':
        fields.back() += '\t';
        break;
      case 'r':
        fields.back() += '\r';
        break;
      case 'n':
        fields.back() += '\n';
        break;
      case '0':
        fields.back() += '\0';
        break;
      default:
        return std::nullopt;
    }
  }
  if (fields.size() != kFields) return std::nullopt;
  return fields;
}

}  // namespace mKestrelmark
