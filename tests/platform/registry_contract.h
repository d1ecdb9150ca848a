// What every platform::Registry must do, written once and run against each
// one: natively against MemoryRegistry, under Wine against Win32Registry in a
// scratch key. A test program includes this header once and instantiates the
// suite with the factory of its registry:
//
//   INSTANTIATE_TEST_SUITE_P(Memory, RegistryContractTest,
//                            ::testing::Values(&MakeMemoryRegistryUnderTest));
//
// The registries differ on purpose in the order they enumerate (Wine folds
// names to lower case and sorts them, the memory registry keeps creation
// order), so no case here assumes an order: each takes the one it is given.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace platform::registry_contract {

using namespace std::string_literals;

// A registry with a scratch key of its own below HKEY_CURRENT_USER, and the
// means to build contents in it without going through the interface under
// test (so a fault in a write cannot hide the same fault in a read).
class RegistryUnderTest {
 public:
  virtual ~RegistryUnderTest() = default;
  virtual Registry& registry() = 0;
  // The scratch key's path below HKEY_CURRENT_USER, with "\relative" added
  // unless relative is empty.
  virtual std::string PathOf(std::string_view relative) const = 0;
  // Creates scratch\relative and the keys above it.
  virtual void CreateKey(std::string_view relative) = 0;
  // Sets a value of any type in scratch\relative (created when missing).
  virtual void SetValue(std::string_view relative, const std::string& name, std::uint32_t type,
                        std::string_view bytes) = 0;
  // Deletes scratch\relative and everything below it.
  virtual bool DeleteKey(std::string_view relative) = 0;
};

using RegistryFactory = std::unique_ptr<RegistryUnderTest> (*)();

// One call of EnumValue, as it came back.
struct EnumeratedValue {
  RegResult result = kErrorSuccess;
  std::string name;  // only on success
  std::uint32_t type = 0;
  std::string data;  // only on success
  std::uint32_t size = 0;
};

class RegistryContractTest : public ::testing::TestWithParam<RegistryFactory> {
 protected:
  void SetUp() override { under_test_ = GetParam()(); }
  void TearDown() override {
    for (KeyHandle key : open_) static_cast<void>(registry().CloseKey(key));
  }

  Registry& registry() { return under_test_->registry(); }
  RegistryUnderTest& under_test() { return *under_test_; }
  std::string PathOf(std::string_view relative) const { return under_test_->PathOf(relative); }
  void SetString(std::string_view relative, const std::string& name, std::string_view text) {
    under_test_->SetValue(relative, name, kRegSz, std::string(text) + '\0');
  }
  void SetDword(std::string_view relative, const std::string& name, std::uint32_t value) {
    under_test_->SetValue(relative, name, kRegDword,
                          std::string_view(reinterpret_cast<const char*>(&value), sizeof value));
  }

  // Opens scratch\relative (closed at the end of the test).
  KeyHandle Open(std::string_view relative, std::uint32_t access = kKeyRead) {
    KeyHandle key = 0;
    EXPECT_EQ(registry().OpenKey(kHkeyCurrentUser, PathOf(relative), access, &key), kErrorSuccess)
        << PathOf(relative);
    if (key != 0) open_.push_back(key);
    return key;
  }

  // Every index up to the first kErrorNoMoreItems, with these buffer sizes.
  std::vector<EnumeratedValue> EnumerateValues(KeyHandle key, std::uint32_t name_buffer = 256,
                                               std::uint32_t data_buffer = 1024) {
    std::vector<EnumeratedValue> values;
    std::vector<char> name(name_buffer);
    std::vector<std::uint8_t> data(data_buffer);
    for (std::uint32_t index = 0; index < 64; ++index) {
      EnumeratedValue value;
      std::uint32_t length = name_buffer;
      value.size = data_buffer;
      value.result = registry().EnumValue(key, index, name.data(), &length, &value.type,
                                          data.data(), &value.size);
      if (value.result == kErrorNoMoreItems) break;
      if (value.result == kErrorSuccess) {
        value.name.assign(name.data(), length);
        EXPECT_EQ(name[length], '\0') << "the name is not terminated";
        value.data.assign(reinterpret_cast<const char*>(data.data()), value.size);
      }
      values.push_back(value);
    }
    return values;
  }

  // The subkeys' names up to the first kErrorNoMoreItems; a result other
  // than success shows as "<error N>".
  std::vector<std::string> EnumerateKeys(KeyHandle key, std::uint32_t name_size = 256) {
    std::vector<std::string> names;
    std::vector<char> name(name_size);
    for (std::uint32_t index = 0; index < 64; ++index) {
      const RegResult result = registry().EnumKey(key, index, name.data(), name_size);
      if (result == kErrorNoMoreItems) break;
      names.push_back(result == kErrorSuccess ? std::string(name.data())
                                              : "<error " + std::to_string(result) + ">");
    }
    return names;
  }

  // Of two values, the one that came back with this result, then the other;
  // which index each had is the registry's business.
  static std::pair<EnumeratedValue, EnumeratedValue> TheOneWith(
      RegResult result, const std::vector<EnumeratedValue>& two) {
    EXPECT_EQ(two.size(), 2u);
    if (two.size() != 2) return {};
    EXPECT_NE(two[0].result == result, two[1].result == result)
        << "not exactly one with " << result;
    return two[0].result == result ? std::pair(two[0], two[1]) : std::pair(two[1], two[0]);
  }

  static std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::unique_ptr<RegistryUnderTest> under_test_;
  std::vector<KeyHandle> open_;
};

// RegEnumValueA's buffer contract, as the branch reader relies on it.
TEST_P(RegistryContractTest, EnumValueFillsBuffersAndReportsSizes) {
  SetString("K", "Name", "abc");
  const auto values = EnumerateValues(Open("K"));
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].result, kErrorSuccess);
  EXPECT_EQ(values[0].name, "Name");
  EXPECT_EQ(values[0].type, kRegSz);
  EXPECT_EQ(values[0].data, "abc\0"s);
  EXPECT_EQ(values[0].size, 4u);
}

TEST_P(RegistryContractTest, OversizeDataReturnsMoreDataAndTheNextIndexReads) {
  under_test().SetValue("K", "big", kRegBinary, std::string(2000, 'x'));
  SetString("K", "next", "next");
  // The oversize value reports its type and real size; the other one, at
  // the index before or after it, reads normally.
  const auto [big, next] = TheOneWith(kErrorMoreData, EnumerateValues(Open("K"), 256, 1024));
  EXPECT_EQ(big.result, kErrorMoreData);
  EXPECT_EQ(big.type, kRegBinary);
  EXPECT_EQ(big.size, 2000u);
  EXPECT_EQ(next.result, kErrorSuccess);
  EXPECT_EQ(next.name, "next");
  EXPECT_EQ(next.type, kRegSz);
  EXPECT_EQ(next.data, "next\0"s);
}

TEST_P(RegistryContractTest, NameBufferHoldsAtMostItsSizeLessOne) {
  SetDword("K", std::string(255, 'a'), 1);
  SetDword("K", std::string(256, 'b'), 2);
  const auto [fitting, too_long] = TheOneWith(kErrorSuccess, EnumerateValues(Open("K"), 256, 1024));
  EXPECT_EQ(fitting.result, kErrorSuccess);
  EXPECT_EQ(fitting.name, std::string(255, 'a'));
  EXPECT_EQ(too_long.result, kErrorMoreData);
  EXPECT_EQ(too_long.size, 4u);  // the data's size, for a caller that grows its buffers
}

// (Names stay short enough for the A functions' 260-character paths.)
TEST_P(RegistryContractTest, EnumKeyNeedsRoomForTheTerminator) {
  const std::string long_name(200, 'a');
  under_test().CreateKey("K\\" + long_name);
  under_test().CreateKey("K\\abcd");
  const KeyHandle key = Open("K");
  const std::vector<std::string> names = EnumerateKeys(key, 256);
  EXPECT_EQ(Sorted(names), (std::vector<std::string>{long_name, "abcd"}));
  std::vector<char> buffer(256);
  for (std::uint32_t index = 0; index < names.size(); ++index) {
    const auto length = static_cast<std::uint32_t>(names[index].size());
    EXPECT_EQ(registry().EnumKey(key, index, buffer.data(), length), kErrorMoreData) << length;
    ASSERT_EQ(registry().EnumKey(key, index, buffer.data(), length + 1), kErrorSuccess) << length;
    EXPECT_EQ(std::string(buffer.data()), names[index]);
  }
}

TEST_P(RegistryContractTest, NamesAreCaseInsensitiveAndKeepTheirSpelling) {
  under_test().CreateKey("Soft\\Key");
  SetString("SOFT\\key", "Val", "1");
  SetString("soft\\KEY", "VAL", "2");
  EXPECT_EQ(EnumerateKeys(Open("sOfT")), std::vector<std::string>{"Key"});
  std::uint32_t type = 0;
  std::string data;
  ASSERT_EQ(registry().QueryValue(Open("Soft\\Key"), "val", &type, &data), kErrorSuccess);
  EXPECT_EQ(data, "2\0"s);
  EXPECT_EQ(EnumerateValues(Open("Soft\\Key")).size(), 1u);
}

TEST_P(RegistryContractTest, EnumerationGivesEveryNameOnceInTheRegistrysOrder) {
  for (const char* name : {"b", "C", "a"}) {
    under_test().CreateKey(std::string("K\\") + name);
    SetDword("K", name, 0);
  }
  SetDword("K", "b", 1);  // set again: still one value
  const KeyHandle key = Open("K");
  const std::vector<std::string> keys = EnumerateKeys(key);
  std::vector<std::string> values;
  for (const EnumeratedValue& value : EnumerateValues(key)) {
    EXPECT_EQ(value.result, kErrorSuccess) << value.name;
    values.push_back(value.name);
  }
  EXPECT_EQ(Sorted(keys), (std::vector<std::string>{"C", "a", "b"}));
  EXPECT_EQ(Sorted(values), Sorted(keys));
}

TEST_P(RegistryContractTest, SubkeyNamesAndMissingKeys) {
  under_test().CreateKey("First");
  EXPECT_EQ(EnumerateKeys(Open("")), std::vector<std::string>{"First"});

  for (const char* missing : {"Missing", "Missing\\\\Deeper"}) {
    KeyHandle untouched = 42;
    EXPECT_EQ(registry().OpenKey(kHkeyCurrentUser, PathOf(missing), kKeyRead, &untouched),
              kErrorFileNotFound)
        << missing;
    EXPECT_EQ(untouched, 42u) << missing;
  }
}

TEST_P(RegistryContractTest, WritesQueriesAndDeletesValuesThroughHandles) {
  KeyHandle key = 0;
  ASSERT_EQ(registry().CreateKey(kHkeyCurrentUser, PathOf("New\\Deep"), kKeyRead | kKeyWrite, &key),
            kErrorSuccess);
  const std::string big(5000, 'q');
  EXPECT_EQ(registry().SetValue(key, "v", kRegSz, big.c_str(),
                                static_cast<std::uint32_t>(big.size() + 1)),
            kErrorSuccess);
  std::uint32_t type = 0;
  std::string data;
  ASSERT_EQ(registry().QueryValue(key, "v", &type, &data), kErrorSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(data, big + '\0');
  EXPECT_EQ(registry().DeleteValue(key, "v"), kErrorSuccess);
  EXPECT_EQ(registry().QueryValue(key, "v", &type, &data), kErrorFileNotFound);
  EXPECT_EQ(registry().DeleteValue(key, "v"), kErrorFileNotFound);
  EXPECT_EQ(registry().CloseKey(key), kErrorSuccess);
  // The created key stays, found under any spelling.
  EXPECT_NE(Open("new\\deep"), 0u);
}

TEST_P(RegistryContractTest, PredefinedRootsOpen) {
  for (RootKey root : {kHkeyClassesRoot, kHkeyCurrentUser, kHkeyLocalMachine, kHkeyUsers,
                       kHkeyCurrentConfig}) {
    KeyHandle key = 0;
    EXPECT_EQ(registry().OpenKey(root, "", kKeyRead, &key), kErrorSuccess) << std::hex << root;
    if (key != 0) static_cast<void>(registry().CloseKey(key));
  }
}

// As on Windows: a handle outlives its key, which then answers "deleted".
TEST_P(RegistryContractTest, AHandleToADeletedKeyAnswersKeyDeletedAndStillCloses) {
  SetDword("K\\Sub", "v", 1);
  KeyHandle key = 0;
  ASSERT_EQ(registry().OpenKey(kHkeyCurrentUser, PathOf("K\\Sub"), kKeyRead, &key), kErrorSuccess);
  ASSERT_TRUE(under_test().DeleteKey("K"));
  char name[256];
  EXPECT_EQ(registry().EnumKey(key, 0, name, sizeof name), kErrorKeyDeleted);
  EXPECT_EQ(registry().CloseKey(key), kErrorSuccess);
}

}  // namespace platform::registry_contract
