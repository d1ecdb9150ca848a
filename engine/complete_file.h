// The complete snapshot file: a complete reading (complete_reading.h) kept
// byte for byte, beside the line snapshot file under the same name plus "x".
// Unlike the line file it holds every type, names with any characters and
// data with any bytes, so it is binary, length-prefixed and checksummed: a
// damaged file is refused as a whole rather than compared half-read.
//
// The bytes, in order; every integer little-endian, u8/u32/u64 by width;
// text = u32 byte count, then the bytes (UTF-8 names and paths, raw data),
// no terminator:
//
//   magic        8 bytes  "KMSNAPX" and one NUL
//   version      u32      1
//   root         u32      the hive's root key (platform::RootKey)
//   view         u32      64: the 64-bit view of the registry; 32: the
//                         32-bit view (BranchSelection::view)
//   mode         u32      0 keys only, 1 keys and values
//   taken        u64      when the reading started (FILETIME units)
//   start path   text
//   key count    u32
//   each key:
//     path       text
//     time       u64      last write (FILETIME units; 0 unknown)
//     readable   u8       1, or 0 for a key that could not be opened
//     values     u32      how many follow
//     each value:
//       name     text     "" is the default value
//       type     u32      any number, as the registry keeps it
//       data     text     the raw bytes
//   checksum     u32      CRC-32 (IEEE 802.3: reflected, polynomial
//                         0xEDB88320, start and final xor 0xFFFFFFFF; that
//                         of zlib and PNG) of every byte before it
//
// There is exactly one encoding of each reading: a file decodes only when
// encoding what it gives back yields the same bytes.
#pragma once

#include <string>
#include <string_view>

#include "engine/complete_reading.h"
#include "engine/host.h"
#include "platform/file_system.h"

namespace mKestrelmark {

// snapshot_path + "x": "registry.snp" -> "registry.snpx".
std::string CompleteFilePath(const std::string& snapshot_path);

// The file's bytes. Throws platform::RuntimeError for a reading the format
// cannot hold (a count or length of 4 GB or more).
std::string EncodeCompleteReading(const RegStuff::CompleteReading& reading);

// The reading in bytes. Throws platform::RuntimeError, with a description a
// user can act on, for anything but a whole, intact file of version 1. Never
// allocates more than a small multiple of bytes.size().
RegStuff::CompleteReading DecodeCompleteReading(std::string_view bytes);

// Writes beside path, yielding after every megabyte, then renames the file
// over path. Throws platform::RuntimeError on failure; the old file at path
// is then whole and nothing is left beside it.
void WriteCompleteFile(platform::FileSystem& files, EngineHost& host, const std::string& path,
                       const RegStuff::CompleteReading& reading);

// Reads the file in slices with yields in between, then decodes it. Throws
// platform::RuntimeError: the file system's description when the file
// cannot be read, the decoder's when it is not an intact complete file.
RegStuff::CompleteReading ReadCompleteFile(platform::FileSystem& files, const std::string& path,
                                           EngineHost& host);

}  // namespace mKestrelmark
