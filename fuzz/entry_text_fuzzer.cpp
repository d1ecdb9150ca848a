// The entry text rules over arbitrary types, key paths, names and data: the
// two entry points agree with each other and with the rules written out
// plainly here, and appending never disturbs the entries already listed.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "engine/entry_list.h"
#include "engine/entry_text.h"
#include "fuzz/fuzz_check.h"

namespace {

using kestrelmark::fuzz::Quoted;

std::string Shown(const std::optional<std::string>& entry) {
  return entry ? Quoted(*entry) : std::string("no entry");
}

// The rules, tested in this order: data over 1024 bytes, then a type other
// than string (1) and DWORD (4), give nothing; zero bytes of data give the
// short form; the unnamed default value with data gives nothing; otherwise
// the full form.
std::optional<std::string> ExpectedEntry(std::string_view key_path, std::string_view name,
                                         std::uint32_t type, std::string_view data) {
  if (data.size() > 1024) return std::nullopt;
  if (type != 1 && type != 4) return std::nullopt;
  std::string entry = std::string(key_path) + "  " + std::string(name);
  if (data.empty()) return entry;
  if (name.empty()) return std::nullopt;
  entry += '=';
  if (type == 1) {
    entry.append(data.data(), data.size() - 1);  // without the terminator
  } else {
    unsigned char dword[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < 4 && i < data.size(); ++i)
      dword[i] = static_cast<unsigned char>(data[i]);
    const std::uint32_t value =
        dword[0] | dword[1] << 8 | dword[2] << 16 | static_cast<std::uint32_t>(dword[3]) << 24;
    char hex[16];
    std::snprintf(hex, sizeof hex, "&H%08X", value);
    entry += hex;
  }
  return entry;
}

std::string Case(std::string_view key_path, std::string_view name, std::uint32_t type,
                 std::string_view data) {
  return "key " + Quoted(key_path) + " name " + Quoted(name) + " type " + std::to_string(type) +
         " data " + Quoted(data) + " (" + std::to_string(data.size()) + " bytes)";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider input(bytes, size);
  // Mostly the types that matter, sometimes any number at all.
  static constexpr std::uint32_t kTypes[] = {0, 1, 2, 3, 4, 5, 7, 11};
  const std::uint32_t type =
      input.ConsumeBool() ? input.PickValueInArray(kTypes) : input.ConsumeIntegral<std::uint32_t>();
  const std::string key_path = input.ConsumeRandomLengthString(48);
  const std::string name = input.ConsumeRandomLengthString(48);
  std::string data = input.ConsumeRandomLengthString(1100);
  // Long data without long inputs: repeat a byte up to a size near the
  // 1024-byte limit.
  if (input.ConsumeBool()) {
    const auto length = input.ConsumeIntegralInRange<std::size_t>(1016, 1032);
    data.resize(length, input.ConsumeIntegral<char>());
  }
  const std::string earlier = input.ConsumeRandomLengthString(16);
  const kestrelmark::fuzz::ExactCopy exact_data(data);

  const std::optional<std::string> expected = ExpectedEntry(key_path, name, type, data);
  const std::optional<std::string> text =
      RegStuff::ValueEntryText(key_path, name, type, exact_data.view());
  KM_FUZZ_CHECK(text == expected, Case(key_path, name, type, data) + ": " + Shown(text) +
                                      ", expected " + Shown(expected));

  // Appending to a list that already holds an entry and a half-built one
  // (pieces of a failed attempt, dropped first as the reader does).
  RegStuff::EntryList list;
  list.push_back(earlier);
  list.AppendPiece("partial");
  list.DiscardPieces();
  const std::size_t bytes_before = list.byte_size();
  const bool appended = RegStuff::AppendValueEntry(list, key_path, name, type, exact_data.view());
  KM_FUZZ_CHECK(appended == text.has_value(),
                Case(key_path, name, type, data) + ": AppendValueEntry says " +
                    (appended ? "appended" : "nothing") + ", ValueEntryText gives " + Shown(text));
  KM_FUZZ_CHECK(list.size() == (appended ? 2u : 1u) && list[0] == earlier,
                Case(key_path, name, type, data) + ": the earlier entry changed");
  if (appended) {
    KM_FUZZ_CHECK(list[1] == *text, Case(key_path, name, type, data) + ": appended " +
                                        Quoted(list[1]) + ", ValueEntryText " + Quoted(*text));
  } else {
    KM_FUZZ_CHECK(list.byte_size() == bytes_before,
                  Case(key_path, name, type, data) + ": bytes left behind without an entry");
  }
  return 0;
}
