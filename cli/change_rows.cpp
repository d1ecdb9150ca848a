#include "cli/change_rows.h"

#include <cstddef>

#include "cli/json_lines.h"
#include "engine/change_fields.h"

namespace cli {
namespace {

// ,"<prefix>type":..,"<prefix>data":..[,"<prefix>encoding":"hex"]
void AppendValueJson(std::string& out, const mKestrelmark::ValueFields& value,
                     std::string_view prefix) {
  const auto member = [&](std::string_view name) {
    out += ",\"";
    out += prefix;
    out += name;
    out += "\":";
  };
  member("type");
  AppendJsonString(out, value.type);
  member("data");
  switch (value.data.form) {
    case ValueData::Form::kText:
      AppendJsonString(out, value.data.text);
      break;
    case ValueData::Form::kList:
      out += '[';
      for (std::size_t i = 0; i < value.data.list.size(); ++i) {
        if (i) out += ',';
        AppendJsonString(out, value.data.list[i]);
      }
      out += ']';
      break;
    case ValueData::Form::kNumber:
      out += std::to_string(value.data.number);
      break;
    case ValueData::Form::kHex:
      out += '"';
      out += value.hex;
      out += '"';
      member("encoding");
      out += "\"hex\"";
      break;
  }
}

}  // namespace

void AppendChangeJson(std::string& out, const RegStuff::Change& change, platform::RootKey root) {
  const mKestrelmark::ChangeFields fields = mKestrelmark::FieldsOfChange(change, root);
  out += "{\"change\":\"";
  out += fields.change;
  out += "\",\"kind\":\"";
  out += fields.kind;
  out += "\",\"root\":";
  AppendJsonString(out, fields.root);
  out += ",\"key\":";
  AppendJsonString(out, fields.key);
  if (fields.name) {
    out += ",\"name\":";
    AppendJsonString(out, *fields.name);
    if (fields.after) AppendValueJson(out, *fields.after, "");
    if (fields.before) AppendValueJson(out, *fields.before, "old_");
  }
  if (!fields.time.empty()) {
    out += ",\"time\":\"";
    out += fields.time;
    out += '"';
  }
  out += "}\n";
}

}  // namespace cli
