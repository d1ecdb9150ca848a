#include "platform/memory/memory_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace platform {
namespace {

using namespace std::string_literals;
constexpr RootKey kRoot = kHkeyCurrentUser;

class MemoryRegistryTest : public ::testing::Test {
 protected:
  KeyHandle Open(const std::string& path, std::uint32_t access = kKeyRead) {
    KeyHandle key = 0;
    EXPECT_EQ(registry_.OpenKey(kRoot, path, access, &key), kErrorSuccess) << path;
    return key;
  }
  MemoryRegistry registry_;
};

// The buffer contract of RegEnumValueA, as the reader relies on it.
TEST_F(MemoryRegistryTest, EnumValueFillsBuffersAndReportsSizes) {
  registry_.PutString(kRoot, "K", "Name", "abc");
  const KeyHandle key = Open("K");
  char name[256];
  std::uint8_t data[1024];
  std::uint32_t name_length = 256, type = 0, size = 1024;
  ASSERT_EQ(registry_.EnumValue(key, 0, name, &name_length, &type, data, &size), kErrorSuccess);
  EXPECT_EQ(std::string(name, name_length), "Name");
  EXPECT_EQ(name[4], '\0');
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), "abc\0"s);
  name_length = 256;
  size = 1024;
  EXPECT_EQ(registry_.EnumValue(key, 1, name, &name_length, &type, data, &size),
            kErrorNoMoreItems);
  registry_.CloseKey(key);
}

TEST_F(MemoryRegistryTest, OversizeDataReturnsMoreDataWithTypeAndSize) {
  registry_.PutValue(kRoot, "K", "big", kRegBinary, std::string(2000, 'x'));
  registry_.PutDword(kRoot, "K", "next", 5);
  const KeyHandle key = Open("K");
  char name[256];
  std::uint8_t data[1024];
  std::uint32_t name_length = 256, type = 0, size = 1024;
  EXPECT_EQ(registry_.EnumValue(key, 0, name, &name_length, &type, data, &size), kErrorMoreData);
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(size, 2000u);
  name_length = 256;
  size = 1024;
  EXPECT_EQ(registry_.EnumValue(key, 1, name, &name_length, &type, data, &size), kErrorSuccess);
  EXPECT_EQ(std::string(name, name_length), "next");
  registry_.CloseKey(key);
}

TEST_F(MemoryRegistryTest, NameBufferHoldsAtMostItsSizeLessOne) {
  registry_.PutDword(kRoot, "K", std::string(255, 'a'), 1);
  registry_.PutDword(kRoot, "K", std::string(256, 'b'), 2);
  const KeyHandle key = Open("K");
  char name[256];
  std::uint8_t data[1024];
  std::uint32_t name_length = 256, type = 0, size = 1024;
  EXPECT_EQ(registry_.EnumValue(key, 0, name, &name_length, &type, data, &size), kErrorSuccess);
  EXPECT_EQ(name_length, 255u);
  name_length = 256;
  size = 1024;
  EXPECT_EQ(registry_.EnumValue(key, 1, name, &name_length, &type, data, &size), kErrorMoreData);
  EXPECT_EQ(size, 4u);
  registry_.CloseKey(key);
}

TEST_F(MemoryRegistryTest, EnumKeyNeedsRoomForTheTerminator) {
  registry_.AddKey(kRoot, "K\\" + std::string(255, 'a'));
  registry_.AddKey(kRoot, "K\\" + std::string(256, 'b'));
  const KeyHandle key = Open("K");
  char name[256];
  ASSERT_EQ(registry_.EnumKey(key, 0, name, 256), kErrorSuccess);
  EXPECT_EQ(std::strlen(name), 255u);
  EXPECT_EQ(registry_.EnumKey(key, 1, name, 256), kErrorMoreData);
  EXPECT_EQ(registry_.EnumKey(key, 2, name, 256), kErrorNoMoreItems);
  registry_.CloseKey(key);
}

TEST_F(MemoryRegistryTest, NamesAreCaseInsensitiveAndKeepTheirSpelling) {
  registry_.AddKey(kRoot, "Soft\\Key");
  registry_.PutString(kRoot, "SOFT\\key", "Val", "1");
  registry_.PutString(kRoot, "soft\\KEY", "VAL", "2");
  const KeyHandle soft = Open("sOfT");
  char name[256];
  ASSERT_EQ(registry_.EnumKey(soft, 0, name, 256), kErrorSuccess);
  EXPECT_STREQ(name, "Key");
  EXPECT_EQ(registry_.EnumKey(soft, 1, name, 256), kErrorNoMoreItems);
  registry_.CloseKey(soft);
  const KeyHandle key = Open("Soft\\Key");
  std::uint32_t type = 0;
  std::string data;
  ASSERT_EQ(registry_.QueryValue(key, "val", &type, &data), kErrorSuccess);
  EXPECT_EQ(data, "2\0"s);
  registry_.CloseKey(key);
}

TEST_F(MemoryRegistryTest, EnumerationFollowsCreationOrder) {
  for (const char* name : {"b", "C", "a"}) {
    registry_.AddKey(kRoot, std::string("K\\") + name);
    registry_.PutDword(kRoot, "K", name, 0);
  }
  registry_.PutDword(kRoot, "K", "b", 1);  // set again: keeps its place
  const KeyHandle key = Open("K");
  std::vector<std::string> keys, values;
  char name[256];
  for (std::uint32_t i = 0; registry_.EnumKey(key, i, name, 256) == kErrorSuccess; ++i)
    keys.push_back(name);
  std::uint8_t data[1024];
  for (std::uint32_t i = 0;; ++i) {
    std::uint32_t length = 256, type = 0, size = 1024;
    if (registry_.EnumValue(key, i, name, &length, &type, data, &size) != kErrorSuccess) break;
    values.emplace_back(name, length);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"b", "C", "a"}));
  EXPECT_EQ(values, keys);
  registry_.CloseKey(key);
}

TEST_F(MemoryRegistryTest, OpenResultsForMissingDeniedAndReadOnlyKeys) {
  registry_.AddKey(kRoot, "Locked");
  registry_.AddKey(kRoot, "ReadOnly");
  registry_.DenyOpen(kRoot, "Locked");
  registry_.DenyWrite(kRoot, "ReadOnly");
  KeyHandle key = 77;
  EXPECT_EQ(registry_.OpenKey(kRoot, "Missing", kKeyRead, &key), kErrorFileNotFound);
  EXPECT_EQ(registry_.OpenKey(kRoot, "Locked", kKeyRead, &key), kErrorAccessDenied);
  EXPECT_EQ(registry_.OpenKey(kRoot, "ReadOnly", kKeyLegacyReadWrite, &key), kErrorAccessDenied);
  EXPECT_EQ(registry_.OpenKey(0x80000004u, "", kKeyRead, &key), kErrorInvalidHandle);
  EXPECT_EQ(registry_.OpenKey(kRoot, "a\\\\b", kKeyRead, &key), kErrorFileNotFound);
  EXPECT_EQ(key, 77u);  // untouched on failure
  EXPECT_EQ(registry_.OpenKey(kRoot, "ReadOnly", kKeyRead, &key), kErrorSuccess);
  EXPECT_EQ(registry_.SetValue(key, "v", kRegDword, "\1\0\0\0", 4), kErrorAccessDenied);
  registry_.CloseKey(key);
  EXPECT_EQ(registry_.open_key_count(), 0);
}

TEST_F(MemoryRegistryTest, WritesThroughHandles) {
  KeyHandle key = 0;
  ASSERT_EQ(registry_.CreateKey(kRoot, "New\\Deep", kKeyWrite | kKeyRead, &key), kErrorSuccess);
  EXPECT_EQ(registry_.SetValue(key, "v", kRegSz, "x", 2), kErrorSuccess);
  std::uint32_t type = 0;
  std::string data;
  EXPECT_EQ(registry_.QueryValue(key, "v", &type, &data), kErrorSuccess);
  EXPECT_EQ(data, "x\0"s);
  EXPECT_EQ(registry_.DeleteValue(key, "v"), kErrorSuccess);
  EXPECT_EQ(registry_.DeleteValue(key, "v"), kErrorFileNotFound);
  registry_.CloseKey(key);
  EXPECT_TRUE(registry_.HasKey(kRoot, "new\\deep"));
}

TEST_F(MemoryRegistryTest, HookRunsAtEveryEnumerationAndMayChangeTheRegistry) {
  registry_.AddKey(kRoot, "K\\A");
  int calls = 0;
  registry_.SetEnumerationHook([&] {
    if (++calls == 1) registry_.AddKey(kRoot, "K\\B");
  });
  const KeyHandle key = Open("K");
  char name[256];
  std::vector<std::string> keys;
  for (std::uint32_t i = 0; registry_.EnumKey(key, i, name, 256) == kErrorSuccess; ++i)
    keys.push_back(name);
  EXPECT_EQ(keys, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(calls, 3);
  registry_.CloseKey(key);
}

TEST_F(MemoryRegistryTest, OpenHandleSurvivesRemovalOfItsKey) {
  registry_.PutDword(kRoot, "K\\Sub", "v", 1);
  const KeyHandle key = Open("K\\Sub");
  EXPECT_TRUE(registry_.RemoveKey(kRoot, "K"));
  char name[256];
  // As on Windows: the handle still closes, but its key answers "deleted".
  EXPECT_EQ(registry_.EnumKey(key, 0, name, 256), kErrorKeyDeleted);
  EXPECT_EQ(registry_.CloseKey(key), kErrorSuccess);
  EXPECT_EQ(registry_.CloseKey(key), kErrorInvalidHandle);
}

}  // namespace
}  // namespace platform
