// MemoryRegistry: the registry contract (registry_contract.h), and what only
// the in-memory registry has: its creation order, its access controls and
// its enumeration hook.
#include "platform/memory/memory_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/platform/registry_contract.h"

namespace platform {
namespace {

constexpr RootKey kRoot = kHkeyCurrentUser;

class MemoryRegistryUnderTest final : public registry_contract::RegistryUnderTest {
 public:
  MemoryRegistryUnderTest() { registry_.AddKey(kRoot, kScratch); }
  Registry& registry() override { return registry_; }
  std::string PathOf(std::string_view relative) const override {
    return relative.empty() ? kScratch : kScratch + ("\\" + std::string(relative));
  }
  void CreateKey(std::string_view relative) override { registry_.AddKey(kRoot, PathOf(relative)); }
  void SetValue(std::string_view relative, const std::string& name, std::uint32_t type,
                std::string_view bytes) override {
    registry_.PutValue(kRoot, PathOf(relative), name, type, bytes);
  }
  bool DeleteKey(std::string_view relative) override {
    return registry_.RemoveKey(kRoot, PathOf(relative));
  }

 private:
  const std::string kScratch = "Scratch";
  MemoryRegistry registry_;
};

std::unique_ptr<registry_contract::RegistryUnderTest> MakeMemoryRegistryUnderTest() {
  return std::make_unique<MemoryRegistryUnderTest>();
}

using registry_contract::RegistryContractTest;
INSTANTIATE_TEST_SUITE_P(Memory, RegistryContractTest,
                         ::testing::Values(&MakeMemoryRegistryUnderTest),
                         [](const auto&) { return std::string("MemoryRegistry"); });

class MemoryRegistryTest : public ::testing::Test {
 protected:
  KeyHandle Open(const std::string& path, std::uint32_t access = kKeyRead) {
    KeyHandle key = 0;
    EXPECT_EQ(registry_.OpenKey(kRoot, path, access, &key), kErrorSuccess) << path;
    return key;
  }
  MemoryRegistry registry_;
};

// The 32-bit view of HKLM\SOFTWARE is HKLM\SOFTWARE\WOW6432Node, for
// opening and creating alike; nothing else is redirected.
TEST_F(MemoryRegistryTest, The32BitViewOfSoftwareIsItsWow6432Node) {
  constexpr std::uint32_t k32 = kKeyRead | kKeyWow64_32Key;
  KeyHandle key = 0;
  ASSERT_EQ(registry_.CreateKey(kHkeyLocalMachine, "software\\Vendor", kKeyWrite | kKeyWow64_32Key,
                                &key),
            kErrorSuccess);
  static_cast<void>(registry_.CloseKey(key));
  EXPECT_TRUE(registry_.HasKey(kHkeyLocalMachine, "SOFTWARE\\WOW6432Node\\Vendor"));
  EXPECT_FALSE(registry_.HasKey(kHkeyLocalMachine, "SOFTWARE\\Vendor"));
  EXPECT_EQ(registry_.OpenKey(kHkeyLocalMachine, "SOFTWARE\\Vendor", kKeyRead, &key),
            kErrorFileNotFound);
  EXPECT_EQ(registry_.OpenKey(kHkeyLocalMachine, "SOFTWARE\\Vendor", k32, &key), kErrorSuccess);
  static_cast<void>(registry_.CloseKey(key));
  registry_.AddKey(kHkeyLocalMachine, "SOFTWAREX\\Vendor");
  registry_.AddKey(kHkeyCurrentUser, "SOFTWARE\\Vendor");
  for (const auto& [root, path] : {std::pair{kHkeyLocalMachine, "SOFTWAREX\\Vendor"},
                                   std::pair{kHkeyCurrentUser, "SOFTWARE\\Vendor"}}) {
    EXPECT_EQ(registry_.OpenKey(root, path, k32, &key), kErrorSuccess) << path;
    static_cast<void>(registry_.CloseKey(key));
  }
}

// Tests state the order they build; Wine's order is another.
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

// At the longest name a real registry allows, and one beyond it.
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

TEST_F(MemoryRegistryTest, OpenResultsForDeniedAndReadOnlyKeysAndUnknownRoots) {
  registry_.AddKey(kRoot, "Locked");
  registry_.AddKey(kRoot, "ReadOnly");
  registry_.DenyOpen(kRoot, "Locked");
  registry_.DenyWrite(kRoot, "ReadOnly");
  KeyHandle key = 77;
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

TEST_F(MemoryRegistryTest, AHandleWhoseKeyWasRemovedClosesOnceOnly) {
  registry_.PutDword(kRoot, "K\\Sub", "v", 1);
  const KeyHandle key = Open("K\\Sub");
  EXPECT_TRUE(registry_.RemoveKey(kRoot, "K"));
  EXPECT_EQ(registry_.CloseKey(key), kErrorSuccess);
  EXPECT_EQ(registry_.CloseKey(key), kErrorInvalidHandle);
}

}  // namespace
}  // namespace platform
