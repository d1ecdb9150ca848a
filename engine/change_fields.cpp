#include "engine/change_fields.h"

#include "engine/branch_selection.h"

namespace mKestrelmark {

ValueFields FieldsOfValue(const RegStuff::ValueRecord& value) {
  ValueFields fields;
  fields.type = RegistryTypeName(value.type);
  fields.data = DecodeValueData(value.type, value.data);
  if (fields.IsHex()) fields.hex = HexBytes(value.data);
  return fields;
}

ChangeFields FieldsOfChange(const RegStuff::Change& change, platform::RootKey root) {
  ChangeFields fields;
  fields.change = ChangeKindName(change.kind);
  fields.kind = ChangeSubjectName(change.subject);
  fields.root = HiveName(root);
  fields.key = change.key;
  if (change.subject == RegStuff::ChangeSubject::kValue) {
    fields.name = change.name;
    if (change.after) fields.after = FieldsOfValue(*change.after);
    if (change.before) fields.before = FieldsOfValue(*change.before);
  }
  fields.time = FileTimeToIso8601(change.time);
  return fields;
}

}  // namespace mKestrelmark
