#include "engine/change_csv.h"

#include <cstddef>

#include "engine/change_fields.h"

namespace mKestrelmark {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kRecordEnd = "\r\n";
constexpr const char* kColumns[] = {"change",   "kind",     "root",         "key",
                                    "name",     "type",     "data",         "encoding",
                                    "old_type", "old_data", "old_encoding", "time"};

bool JoinsUnambiguously(const std::vector<std::string>& list) {
  if (list.size() == 1 && list.front().empty()) return false;
  for (const std::string& item : list) {
    if (item.find_first_of("\r\n") != std::string::npos) return false;
  }
  return true;
}

// type, data, encoding
void AppendValue(std::vector<std::string>& record, const std::optional<ValueFields>& value,
                 const std::optional<RegStuff::ValueRecord>& raw) {
  if (!value) {
    record.insert(record.end(), 3, std::string());
    return;
  }
  record.push_back(value->type);
  std::string data;
  bool hex = value->IsHex();
  switch (value->data.form) {
    case ValueData::Form::kText:
      data = value->data.text;
      break;
    case ValueData::Form::kList:
      if (!JoinsUnambiguously(value->data.list)) {
        hex = true;
        break;
      }
      for (std::size_t i = 0; i < value->data.list.size(); ++i) {
        if (i) data += '\n';
        data += value->data.list[i];
      }
      break;
    case ValueData::Form::kNumber:
      data = std::to_string(value->data.number);
      break;
    case ValueData::Form::kHex:
      data = value->hex;
      break;
  }
  if (hex && !value->IsHex()) data = HexBytes(raw->data);
  record.push_back(std::move(data));
  record.push_back(hex ? "hex" : "");
}

void AppendRecord(std::string& out, const std::vector<std::string>& fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) out += ',';
    out += CsvField(fields[i]);
  }
  out += kRecordEnd;
}

}  // namespace

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string field = "\"";
  for (const char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  field += '"';
  return field;
}

std::string ChangesCsv(const std::vector<RegStuff::Change>& changes, platform::RootKey root) {
  std::string out(kByteOrderMark);
  AppendRecord(out, std::vector<std::string>(std::begin(kColumns), std::end(kColumns)));
  std::vector<std::string> record;
  for (const RegStuff::Change& change : changes) {
    const ChangeFields fields = FieldsOfChange(change, root);
    record.clear();
    record.push_back(fields.change);
    record.push_back(fields.kind);
    record.push_back(fields.root);
    record.push_back(fields.key);
    record.push_back(fields.name.value_or(""));
    AppendValue(record, fields.after, change.after);
    AppendValue(record, fields.before, change.before);
    record.push_back(fields.time);
    AppendRecord(out, record);
  }
  return out;
}

}  // namespace mKestrelmark
