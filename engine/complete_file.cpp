#include "engine/complete_file.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/snapshot_file.h"
#include "platform/runtime_error.h"

namespace mKestrelmark {
namespace {

constexpr std::string_view kMagic{"KMSNAPX\0", 8};
constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kModeKeysOnly = 0;
constexpr std::uint32_t kModeKeysAndValues = 1;
constexpr std::size_t kChecksumSize = 4;
// The least a key and a value take (all texts empty), which bounds what a
// count read from the file may claim before anything is allocated for it.
constexpr std::uint64_t kSmallestKey = 4 + 8 + 1 + 4;
constexpr std::uint64_t kSmallestValue = 4 + 4 + 4;

// What a user is told; each names what is wrong with the file.
constexpr char kEmpty[] = "The complete snapshot file is empty";
constexpr char kNotComplete[] = "The file is not a complete snapshot file";
constexpr char kTruncated[] = "The complete snapshot file is truncated";
constexpr char kTrailing[] = "The complete snapshot file is corrupt (bytes after its end)";
constexpr char kChecksum[] = "The complete snapshot file is corrupt (checksum)";
constexpr char kBadFlag[] = "The complete snapshot file is corrupt (a key's readable flag)";
constexpr char kTooLarge[] = "The reading is too large for a complete snapshot file";
constexpr char kDoesNotRead[] = ", which this program does not read";

[[noreturn]] void Refuse(const std::string& description) {
  throw platform::RuntimeError(description);
}

// CRC-32, eight bytes a step (slicing-by-8): a snapshot of a large branch is
// a few hundred megabytes, and a byte a step would cost about a second.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr CrcTables MakeCrcTables() {
  CrcTables tables{};
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    std::uint32_t crc = byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    tables[0][byte] = crc;
  }
  for (std::size_t byte = 0; byte < 256; ++byte)
    for (std::size_t slice = 1; slice < 8; ++slice)
      tables[slice][byte] =
          (tables[slice - 1][byte] >> 8) ^ tables[0][tables[slice - 1][byte] & 0xFF];
  return tables;
}

constexpr CrcTables kCrcTables = MakeCrcTables();

// state starts at 0xFFFFFFFF and is xored with it once at the end.
std::uint32_t CrcUpdate(std::uint32_t state, std::string_view bytes) {
  const auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t left = bytes.size();
  const auto& t = kCrcTables;
  for (; left >= 8; left -= 8, at += 8) {
    const std::uint32_t low =
        state ^ (at[0] | at[1] << 8 | at[2] << 16 | static_cast<std::uint32_t>(at[3]) << 24);
    state = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^
            t[4][low >> 24] ^ t[3][at[4]] ^ t[2][at[5]] ^ t[1][at[6]] ^ t[0][at[7]];
  }
  for (; left > 0; --left, ++at) state = (state >> 8) ^ t[0][(state ^ *at) & 0xFF];
  return state;
}

std::uint32_t Crc32(std::string_view bytes) { return CrcUpdate(0xFFFFFFFFu, bytes) ^ 0xFFFFFFFFu; }

std::uint32_t LoadU32(const char* at) {
  const auto* b = reinterpret_cast<const unsigned char*>(at);
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

// Written a megabyte at a time with a yield after each, so that a window
// stays responsive however large a single value is; without a file, the
// bytes stay in memory and are the encoding.
constexpr std::size_t kWriteSlice = 1 << 20;

class Encoder {
 public:
  Encoder() = default;
  Encoder(platform::OutputFile& file, EngineHost& host) : file_(&file), host_(&host) {
    bytes_.reserve(kWriteSlice);
  }

  void Reserve(std::size_t size) { bytes_.reserve(size); }

  void Put(std::string_view bytes) {
    if (file_ == nullptr) {
      bytes_.append(bytes);
      return;
    }
    while (!bytes.empty()) {
      const std::size_t piece = std::min(bytes.size(), kWriteSlice - bytes_.size());
      bytes_.append(bytes.data(), piece);
      bytes.remove_prefix(piece);
      if (bytes_.size() == kWriteSlice) Flush();
    }
  }
  void U8(std::uint8_t value) { Put(std::string_view(reinterpret_cast<char*>(&value), 1)); }
  void U32(std::uint32_t value) {
    char bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
    Put(std::string_view(bytes, 4));
  }
  void U64(std::uint64_t value) {
    char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
    Put(std::string_view(bytes, 8));
  }
  void Count(std::size_t count) {
    if (count > 0xFFFFFFFFu) Refuse(kTooLarge);
    U32(static_cast<std::uint32_t>(count));
  }
  void Text(std::string_view text) {
    Count(text.size());
    Put(text);
  }

  // Appends the checksum and writes what is left. The encoding, without a
  // file.
  std::string Finish() {
    // Appended directly: through Put, a slice filled by the checksum's
    // first bytes would be flushed and summed once more.
    const std::uint32_t crc = CrcUpdate(crc_, bytes_) ^ 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<char>(crc >> (8 * i)));
    if (file_ != nullptr) file_->Write(bytes_);
    return std::move(bytes_);
  }

 private:
  void Flush() {
    crc_ = CrcUpdate(crc_, bytes_);
    file_->Write(bytes_);
    bytes_.clear();
    host_->YieldToEventLoop();
  }

  platform::OutputFile* file_ = nullptr;
  EngineHost* host_ = nullptr;
  std::string bytes_;
  std::uint32_t crc_ = 0xFFFFFFFFu;
};

std::size_t TextSize(const std::string& text) { return 4 + text.size(); }

std::size_t EncodedSize(const RegStuff::CompleteReading& reading) {
  std::size_t size = kMagic.size() + 4 + 4 + 4 + 4 + 8 + TextSize(reading.selection.start_path) +
                     4 + kChecksumSize;
  for (const RegStuff::KeyRecordComplete& key : reading.keys) {
    size += kSmallestKey + key.path.size();
    for (const RegStuff::ValueRecord& value : key.values)
      size += kSmallestValue + value.name.size() + value.data.size();
  }
  return size;
}

std::string Encode(const RegStuff::CompleteReading& reading, Encoder& out) {
  out.Put(kMagic);
  out.U32(kVersion);
  out.U32(reading.selection.root);
  out.U32(reading.selection.view);
  out.U32(reading.selection.include_values ? kModeKeysAndValues : kModeKeysOnly);
  out.U64(reading.taken);
  out.Text(reading.selection.start_path);
  out.Count(reading.keys.size());
  for (const RegStuff::KeyRecordComplete& key : reading.keys) {
    out.Text(key.path);
    out.U64(key.time);
    out.U8(key.readable ? 1 : 0);
    out.Count(key.values.size());
    for (const RegStuff::ValueRecord& value : key.values) {
      out.Text(value.name);
      out.U32(value.type);
      out.Text(value.data);
    }
  }
  return out.Finish();
}

// Reads the fields in order up to end (the checksum's start). Every count
// and length is checked against what is left before it is used, so a
// damaged count stops the decoding instead of an allocation.
class Decoder {
 public:
  Decoder(std::string_view bytes, std::size_t at) : bytes_(bytes), at_(at) {}

  std::uint8_t U8() {
    Need(1);
    return static_cast<std::uint8_t>(bytes_[at_++]);
  }
  std::uint32_t U32() {
    Need(4);
    const std::uint32_t value = LoadU32(bytes_.data() + at_);
    at_ += 4;
    return value;
  }
  std::uint64_t U64() {
    const std::uint64_t low = U32();
    return low | std::uint64_t{U32()} << 32;
  }
  // A count of items that take at least item_size bytes each.
  std::uint32_t Count(std::uint64_t item_size) {
    const std::uint32_t count = U32();
    Need(count * item_size);
    return count;
  }
  std::string Text() {
    const std::uint32_t size = U32();
    Need(size);
    std::string text(bytes_.substr(at_, size));
    at_ += size;
    return text;
  }
  bool AtEnd() const { return at_ == bytes_.size(); }

 private:
  void Need(std::uint64_t size) const {
    if (size > bytes_.size() - at_) Refuse(kTruncated);
  }

  std::string_view bytes_;
  std::size_t at_;
};

}  // namespace

std::string CompleteFilePath(const std::string& snapshot_path) { return snapshot_path + "x"; }

std::string EncodeCompleteReading(const RegStuff::CompleteReading& reading) {
  Encoder out;
  out.Reserve(EncodedSize(reading));
  return Encode(reading, out);
}

RegStuff::CompleteReading DecodeCompleteReading(std::string_view bytes) {
  if (bytes.empty()) Refuse(kEmpty);
  // A prefix of the magic is a file cut short, anything else another file.
  if (bytes.substr(0, kMagic.size()) != kMagic.substr(0, std::min(bytes.size(), kMagic.size())))
    Refuse(kNotComplete);
  // The version comes before the checksum: a later version may sum
  // differently, and is then named rather than called corrupt.
  const std::size_t version_end = kMagic.size() + 4;
  if (bytes.size() < version_end) Refuse(kTruncated);
  const std::uint32_t version = LoadU32(bytes.data() + kMagic.size());
  if (version != kVersion)
    Refuse("The complete snapshot file is of version " + std::to_string(version) + kDoesNotRead);
  if (bytes.size() < version_end + kChecksumSize) Refuse(kTruncated);

  // The layout is read before the checksum is compared, so that a file cut
  // short is called truncated (its layout always runs into the checksum's
  // place) rather than corrupt.
  const std::string_view body = bytes.substr(0, bytes.size() - kChecksumSize);
  Decoder in(body, version_end);
  RegStuff::CompleteReading reading;
  reading.selection.root = in.U32();
  const std::uint32_t view = in.U32();
  const std::uint32_t mode = in.U32();
  reading.selection.include_values = mode == kModeKeysAndValues;
  reading.selection.view = view;
  reading.taken = in.U64();
  reading.selection.start_path = in.Text();
  bool flags_valid = true;
  reading.keys.resize(in.Count(kSmallestKey));
  for (RegStuff::KeyRecordComplete& key : reading.keys) {
    key.path = in.Text();
    key.time = in.U64();
    const std::uint8_t readable = in.U8();
    flags_valid = flags_valid && readable <= 1;
    key.readable = readable == 1;
    key.values.resize(in.Count(kSmallestValue));
    for (RegStuff::ValueRecord& value : key.values) {
      value.name = in.Text();
      value.type = in.U32();
      value.data = in.Text();
    }
  }
  if (!in.AtEnd()) Refuse(kTrailing);
  if (Crc32(body) != LoadU32(bytes.data() + body.size())) Refuse(kChecksum);

  // Only an intact file is taken at its word about what it holds.
  if (view != kView64 && view != kView32)
    Refuse("The complete snapshot file holds registry view " + std::to_string(view) +
           kDoesNotRead);
  if (mode != kModeKeysOnly && mode != kModeKeysAndValues)
    Refuse("The complete snapshot file holds a reading in mode " + std::to_string(mode) +
           kDoesNotRead);
  if (!flags_valid) Refuse(kBadFlag);
  return reading;
}

void WriteCompleteFile(platform::FileSystem& files, EngineHost& host, const std::string& path,
                       const RegStuff::CompleteReading& reading) {
  if (path.empty()) Refuse("Bad file name or number");
  // Written beside its final name and renamed over it once complete, so a
  // failure or a close midway never leaves half a file under that name.
  const std::string temporary_path = path + ".tmp";
  std::unique_ptr<platform::OutputFile> file;
  try {
    file = files.CreateOutputFile(temporary_path);
    Encoder out(*file, host);
    Encode(reading, out);
    file->Close();
    file.reset();
    files.MoveReplacing(temporary_path, path);
  } catch (...) {
    // Closed before it is removed (Windows keeps an open file). Whether
    // the removal works is silent: the next write truncates the file.
    file.reset();
    static_cast<void>(files.RemoveFile(temporary_path));
    throw;
  }
}

RegStuff::CompleteReading ReadCompleteFile(platform::FileSystem& files, const std::string& path,
                                           EngineHost& host) {
  // The line file's reader: the same slices, yields and size limit.
  const SnapshotLines text = ReadSnapshotText(files, path, host);
  return DecodeCompleteReading(std::string_view(text.text.get(), text.size));
}

}  // namespace mKestrelmark
