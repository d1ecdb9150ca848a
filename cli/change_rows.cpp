#include "cli/change_rows.h"

#include <cstddef>

#include "cli/json_lines.h"
#include "engine/branch_selection.h"

namespace cli {
namespace {

// ,"<prefix>type":..,"<prefix>data":..[,"<prefix>encoding":"hex"]
void AppendValueJson(std::string& out, const RegStuff::ValueRecord& value,
                     std::string_view prefix) {
  const auto member = [&](std::string_view name) {
    out += ",\"";
    out += prefix;
    out += name;
    out += "\":";
  };
  member("type");
  AppendJsonString(out, RegistryTypeName(value.type));
  member("data");
  const ValueData data = DecodeValueData(value.type, value.data);
  switch (data.form) {
    case ValueData::Form::kText:
      AppendJsonString(out, data.text);
      break;
    case ValueData::Form::kList:
      out += '[';
      for (std::size_t i = 0; i < data.list.size(); ++i) {
        if (i) out += ',';
        AppendJsonString(out, data.list[i]);
      }
      out += ']';
      break;
    case ValueData::Form::kNumber:
      out += std::to_string(data.number);
      break;
    case ValueData::Form::kHex:
      out += '"';
      out += mKestrelmark::HexBytes(value.data);
      out += '"';
      member("encoding");
      out += "\"hex\"";
      break;
  }
}

}  // namespace

void AppendChangeJson(std::string& out, const RegStuff::Change& change, platform::RootKey root) {
  out += "{\"change\":\"";
  out += mKestrelmark::ChangeKindName(change.kind);
  out += "\",\"kind\":\"";
  out += mKestrelmark::ChangeSubjectName(change.subject);
  out += "\",\"root\":";
  AppendJsonString(out, mKestrelmark::HiveName(root));
  out += ",\"key\":";
  AppendJsonString(out, change.key);
  if (change.subject == RegStuff::ChangeSubject::kValue) {
    out += ",\"name\":";
    AppendJsonString(out, change.name);
    if (change.after) AppendValueJson(out, *change.after, "");
    if (change.before) AppendValueJson(out, *change.before, "old_");
  }
  if (change.time != platform::kUnknownKeyTime) {
    out += ",\"time\":\"";
    out += FileTimeToIso8601(change.time);
    out += '"';
  }
  out += "}\n";
}

}  // namespace cli
