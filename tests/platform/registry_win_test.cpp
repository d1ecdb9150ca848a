// Win32Registry on the real registry under Wine: the buffer rules the
// reader relies on.
#include "platform/win32/registry_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/scratch_key_win.h"

namespace platform {
namespace {

using namespace std::string_literals;

class Win32RegistryTest : public km_test::ScratchKeyTest {
 protected:
  KeyHandle Open(std::uint32_t access = kKeyRead) {
    KeyHandle key = 0;
    EXPECT_EQ(registry_.OpenKey(kHkeyCurrentUser, scratch_.path(), access, &key), kErrorSuccess);
    return key;
  }
  Win32Registry registry_;
};

TEST_F(Win32RegistryTest, OversizeValueReturnsMoreDataAndTheNextIndexReads) {
  scratch_.SetRaw("", "a", REG_BINARY, std::string(2000, 'x'));
  scratch_.SetString("", "b", "next");
  const KeyHandle key = Open();
  char name[256];
  std::uint8_t data[1024];
  std::uint32_t name_length = 256, type = 0, size = 1024;
  EXPECT_EQ(registry_.EnumValue(key, 0, name, &name_length, &type, data, &size), kErrorMoreData);
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(size, 2000u);
  name_length = 256;
  size = 1024;
  ASSERT_EQ(registry_.EnumValue(key, 1, name, &name_length, &type, data, &size), kErrorSuccess);
  EXPECT_EQ(std::string(name, name_length), "b");
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), "next\0"s);
  name_length = 256;
  size = 1024;
  EXPECT_EQ(registry_.EnumValue(key, 2, name, &name_length, &type, data, &size),
            kErrorNoMoreItems);
  registry_.CloseKey(key);
}

TEST_F(Win32RegistryTest, SubkeyNamesAndMissingKeys) {
  scratch_.CreateKey("First");
  const KeyHandle key = Open();
  char name[256];
  ASSERT_EQ(registry_.EnumKey(key, 0, name, sizeof name), kErrorSuccess);
  EXPECT_STREQ(name, "First");
  EXPECT_EQ(registry_.EnumKey(key, 1, name, sizeof name), kErrorNoMoreItems);
  registry_.CloseKey(key);

  KeyHandle untouched = 42;
  EXPECT_EQ(registry_.OpenKey(kHkeyCurrentUser, scratch_.PathOf("Missing"), kKeyRead, &untouched),
            kErrorFileNotFound);
  EXPECT_EQ(untouched, 42u);
}

TEST_F(Win32RegistryTest, WritesQueriesAndDeletesValues) {
  KeyHandle key = 0;
  ASSERT_EQ(registry_.CreateKey(kHkeyCurrentUser, scratch_.PathOf("W"), kKeyRead | kKeyWrite, &key),
            kErrorSuccess);
  const std::string big(5000, 'q');
  EXPECT_EQ(registry_.SetValue(key, "v", kRegSz, big.c_str(), static_cast<std::uint32_t>(big.size() + 1)),
            kErrorSuccess);
  std::uint32_t type = 0;
  std::string data;
  ASSERT_EQ(registry_.QueryValue(key, "v", &type, &data), kErrorSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(data, big + '\0');
  EXPECT_EQ(registry_.DeleteValue(key, "v"), kErrorSuccess);
  EXPECT_EQ(registry_.QueryValue(key, "v", &type, &data), kErrorFileNotFound);
  registry_.CloseKey(key);
}

TEST_F(Win32RegistryTest, PredefinedRootsOpen) {
  for (RootKey root : {kHkeyClassesRoot, kHkeyCurrentUser, kHkeyLocalMachine, kHkeyUsers,
                       kHkeyCurrentConfig}) {
    KeyHandle key = 0;
    EXPECT_EQ(registry_.OpenKey(root, "", kKeyRead, &key), kErrorSuccess) << std::hex << root;
    if (key) registry_.CloseKey(key);
  }
}

}  // namespace
}  // namespace platform
