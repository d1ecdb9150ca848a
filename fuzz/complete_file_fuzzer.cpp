// The complete snapshot file's decoder on any bytes: it refuses them with a
// RuntimeError, or gives back a reading whose encoding is exactly those
// bytes (one encoding per reading, so nothing is lost or invented); also
// with the checksum made right, so that the fields behind it are reached.
// Then a reading built from the input comes back equal from its encoding,
// and the encoding cut short or with one byte changed is refused.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/complete_file.h"
#include "fuzz/fuzz_check.h"
#include "platform/runtime_error.h"

namespace {

using kestrelmark::fuzz::ExactCopy;
using kestrelmark::fuzz::Quoted;

bool Refused(std::string_view bytes) {
  const ExactCopy copy(bytes);
  try {
    mKestrelmark::DecodeCompleteReading(copy.view());
    return false;
  } catch (const platform::RuntimeError&) {
    return true;
  }
}

RegStuff::CompleteReading Build(FuzzedDataProvider& input) {
  RegStuff::CompleteReading reading;
  reading.selection.root = input.ConsumeIntegral<std::uint32_t>();
  reading.selection.include_values = input.ConsumeBool();
  reading.selection.start_path = input.ConsumeRandomLengthString(16);
  reading.taken = input.ConsumeIntegral<std::uint64_t>();
  for (int keys = input.ConsumeIntegralInRange(0, 8); keys > 0; --keys) {
    RegStuff::KeyRecordComplete& key = reading.keys.emplace_back();
    key.path = input.ConsumeRandomLengthString(16);
    key.time = input.ConsumeIntegral<std::uint64_t>();
    key.readable = input.ConsumeBool();
    for (int values = input.ConsumeIntegralInRange(0, 6); values > 0; --values) {
      RegStuff::ValueRecord& value = key.values.emplace_back();
      value.name = input.ConsumeRandomLengthString(12);
      value.type = input.ConsumeIntegral<std::uint32_t>();
      value.data = input.ConsumeRandomLengthString(64);
    }
  }
  return reading;
}

// The input with its last four bytes replaced by the CRC-32 of those before
// them, so that mutations get past the checksum to the fields behind it.
std::string Resummed(std::string_view bytes) {
  std::string resummed(bytes.substr(0, bytes.size() - 4));
  std::uint32_t crc = 0xFFFFFFFF;
  for (const char c : resummed) {
    crc ^= static_cast<unsigned char>(c);
    for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
  }
  crc = ~crc;
  for (int i = 0; i < 4; ++i) resummed += static_cast<char>(crc >> (8 * i));
  return resummed;
}

// Refused, or decoded into a reading that encodes to exactly these bytes.
void CheckCanonical(std::string_view bytes) {
  const ExactCopy copy(bytes);
  RegStuff::CompleteReading reading;
  try {
    reading = mKestrelmark::DecodeCompleteReading(copy.view());
  } catch (const platform::RuntimeError&) {
    return;
  }
  const std::string again = mKestrelmark::EncodeCompleteReading(reading);
  KM_FUZZ_CHECK(again == bytes, "decoded " + Quoted(bytes) + ", re-encoded " + Quoted(again));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckCanonical(bytes);
  if (size >= 4) CheckCanonical(Resummed(bytes));

  FuzzedDataProvider input(data, size);
  const RegStuff::CompleteReading reading = Build(input);
  const std::string encoded = mKestrelmark::EncodeCompleteReading(reading);
  const ExactCopy copy(encoded);
  const RegStuff::CompleteReading decoded = mKestrelmark::DecodeCompleteReading(copy.view());
  KM_FUZZ_CHECK(decoded == reading, "reading encoded as " + Quoted(encoded) + " decodes otherwise");

  const auto cut = input.ConsumeIntegralInRange<std::size_t>(0, encoded.size() - 1);
  KM_FUZZ_CHECK(Refused(std::string_view(encoded).substr(0, cut)),
                "the first " + std::to_string(cut) + " bytes of " + Quoted(encoded) + " decode");
  std::string changed = encoded;
  const auto at = input.ConsumeIntegralInRange<std::size_t>(0, encoded.size() - 1);
  changed[at] ^= static_cast<char>(input.ConsumeIntegralInRange<int>(1, 255));
  KM_FUZZ_CHECK(Refused(changed), "byte " + std::to_string(at) + " changed in " +
                                      Quoted(encoded) + " still decodes");
  return 0;
}
