#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "platform/memory/memory_file_system.h"
#include "platform/memory/memory_registry.h"
#include "prefs/m_start_up.h"
#include "prefs/reg_stuff_writer.h"

namespace {

using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;

constexpr char kRun[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// When told to, lets the machine-wide key open but refuses to set values in
// it: the open succeeds and the write fails.
class RefusingSetRegistry : public platform::MemoryRegistry {
 public:
  bool refuse_machine_sets = false;

  platform::RegResult OpenKey(platform::RootKey root, const std::string& path,
                              std::uint32_t access, platform::KeyHandle* key) override {
    const platform::RegResult result = MemoryRegistry::OpenKey(root, path, access, key);
    if (result == platform::kErrorSuccess && root == kHkeyLocalMachine && refuse_machine_sets) {
      refused_.insert(*key);
    }
    return result;
  }
  platform::RegResult SetValue(platform::KeyHandle key, const std::string& name,
                               std::uint32_t type, const void* data,
                               std::uint32_t size) override {
    if (refused_.count(key)) return platform::kErrorAccessDenied;
    return MemoryRegistry::SetValue(key, name, type, data, size);
  }

 private:
  std::set<platform::KeyHandle> refused_;
};

class RunAtLogonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_.AddKey(kHkeyLocalMachine, kRun);
    registry_.AddKey(kHkeyCurrentUser, kRun);
    files_.SetExecutableFolder("C:\\Program Files\\Kestrelmark");
    files_.PutFile("C:\\Program Files\\Kestrelmark\\Kestrelmark.exe", "MZ");
  }

  // The value's type and raw bytes, or nullopt when it is not there.
  std::optional<std::string> RunValue(platform::RootKey root, const std::string& name,
                                      std::uint32_t expected_type = platform::kRegSz) {
    platform::KeyHandle key = 0;
    if (registry_.OpenKey(root, kRun, platform::kKeyQueryValue, &key) != platform::kErrorSuccess)
      return std::nullopt;
    std::uint32_t type = 0;
    std::string data;
    const platform::RegResult result = registry_.QueryValue(key, name, &type, &data);
    registry_.CloseKey(key);
    if (result != platform::kErrorSuccess) return std::nullopt;
    EXPECT_EQ(type, expected_type) << name;
    return data;
  }

  RefusingSetRegistry registry_;
  platform::MemoryFileSystem files_;
};

TEST_F(RunAtLogonTest, EnableWritesTheExecutablesNameAndFullPathWithItsNul) {
  mStartUp::EnableRunAtLogon(files_, registry_);
  EXPECT_EQ(RunValue(kHkeyLocalMachine, "Kestrelmark.exe"),
            std::string("\"C:\\Program Files\\Kestrelmark\\Kestrelmark.exe\"\0", 47));
  EXPECT_EQ(RunValue(kHkeyCurrentUser, "Kestrelmark.exe"), std::nullopt);
  EXPECT_EQ(registry_.open_key_count(), 0);
}

TEST_F(RunAtLogonTest, ADriveRootGetsASingleBackslash) {
  files_.SetExecutableFolder("C:\\");
  files_.PutFile("C:\\Kestrelmark.exe", "MZ");
  mStartUp::EnableRunAtLogon(files_, registry_);
  EXPECT_EQ(RunValue(kHkeyLocalMachine, "Kestrelmark.exe"),
            std::string("C:\\Kestrelmark.exe\0", 19));
}

TEST(RunEntryData, JoinsFolderAndNameWithExactlyOneBackslash) {
  EXPECT_EQ(RegStuff::RunEntryData("D:\\Tools", "k.exe"), "D:\\Tools\\k.exe");
  EXPECT_EQ(RegStuff::RunEntryData("D:\\", "k.exe"), "D:\\k.exe");
  EXPECT_EQ(RegStuff::RunEntryData("\\\\server\\share\\", "k.exe"), "\\\\server\\share\\k.exe");
  // A blank would make the command line ambiguous: quoted.
  EXPECT_EQ(RegStuff::RunEntryData("C:\\Program Files\\Kestrel", "k m.exe"),
            "\"C:\\Program Files\\Kestrel\\k m.exe\"");
}

TEST_F(RunAtLogonTest, TheFirstListedExecutableNamesTheValueForWritingAndDeleting) {
  files_.PutFile("C:\\Program Files\\Kestrelmark\\Alpha.exe", "MZ");
  ASSERT_EQ(mStartUp::FindProgramExecutable(files_), "Alpha.exe");
  registry_.PutString(kHkeyLocalMachine, kRun, "Kestrelmark.exe", "C:\\old\\Kestrelmark.exe");

  mStartUp::EnableRunAtLogon(files_, registry_);
  EXPECT_TRUE(RunValue(kHkeyLocalMachine, "Alpha.exe"));

  mStartUp::DisableRunAtLogon(files_, registry_);
  EXPECT_EQ(RunValue(kHkeyLocalMachine, "Alpha.exe"), std::nullopt);
  EXPECT_TRUE(RunValue(kHkeyLocalMachine, "Kestrelmark.exe")) << "not the listed one";
}

TEST_F(RunAtLogonTest, HiddenSystemAndOtherFilesAreNotTheProgram) {
  platform::MemoryFileSystem files;
  files.SetExecutableFolder("C:\\K");
  files.PutFile("C:\\K\\a-hidden.exe", "MZ", {.hidden = true});
  files.PutFile("C:\\K\\b-system.exe", "MZ", {.system = true});
  files.PutFile("C:\\K\\c.txt", "");
  files.PutFile("C:\\K\\d\\inner.exe", "MZ");
  EXPECT_EQ(mStartUp::FindProgramExecutable(files), std::nullopt);
  files.PutFile("C:\\K\\e.exe", "MZ");
  EXPECT_EQ(mStartUp::FindProgramExecutable(files), "e.exe");
}

TEST_F(RunAtLogonTest, WithoutAnExecutableNothingIsWrittenOrDeleted) {
  files_.SetExecutableFolder("C:\\Empty");
  registry_.PutString(kHkeyLocalMachine, kRun, "Kestrelmark.exe", "C:\\x\\Kestrelmark.exe");
  mStartUp::EnableRunAtLogon(files_, registry_);
  mStartUp::DisableRunAtLogon(files_, registry_);
  EXPECT_TRUE(registry_.open_access_log().empty());
  EXPECT_TRUE(RunValue(kHkeyLocalMachine, "Kestrelmark.exe"));
}

TEST_F(RunAtLogonTest, KeysAreOpenedOnlyToSetValues) {
  mStartUp::EnableRunAtLogon(files_, registry_);
  mStartUp::DisableRunAtLogon(files_, registry_);
  ASSERT_FALSE(registry_.open_access_log().empty());
  for (std::uint32_t access : registry_.open_access_log()) {
    EXPECT_EQ(access, platform::kKeySetValue);
  }
}

struct FallbackCase {
  const char* name;
  void (*deny)(RefusingSetRegistry&);
};

class RunAtLogonFallbackTest : public RunAtLogonTest,
                               public ::testing::WithParamInterface<FallbackCase> {};

TEST_P(RunAtLogonFallbackTest, AnUnwritableMachineKeyPutsThePairInTheUsersRunKey) {
  GetParam().deny(registry_);
  mStartUp::EnableRunAtLogon(files_, registry_);
  EXPECT_EQ(RunValue(kHkeyCurrentUser, "Kestrelmark.exe"),
            std::string("\"C:\\Program Files\\Kestrelmark\\Kestrelmark.exe\"\0", 47));
  EXPECT_EQ(registry_.open_key_count(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Denials, RunAtLogonFallbackTest,
    ::testing::Values(
        FallbackCase{"OpenDenied",
                     [](RefusingSetRegistry& r) { r.DenyOpen(kHkeyLocalMachine, kRun); }},
        FallbackCase{"WriteAccessDenied",
                     [](RefusingSetRegistry& r) { r.DenyWrite(kHkeyLocalMachine, kRun); }},
        FallbackCase{"SetRefused",
                     [](RefusingSetRegistry& r) { r.refuse_machine_sets = true; }},
        FallbackCase{"KeyMissing",
                     [](RefusingSetRegistry& r) { r.RemoveKey(kHkeyLocalMachine, kRun); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RunAtLogonFallback, TheUsersRunKeyIsCreatedWhenMissing) {
  RefusingSetRegistry registry;
  registry.refuse_machine_sets = true;
  registry.AddKey(kHkeyLocalMachine, kRun);
  RegStuff::AddRunEntry(registry, "C:\\K", "k.exe");
  platform::KeyHandle key = 0;
  ASSERT_EQ(registry.OpenKey(kHkeyCurrentUser, kRun, platform::kKeyQueryValue, &key),
            platform::kErrorSuccess) << "the user's Run key is created when missing";
  std::string data;
  EXPECT_EQ(registry.QueryValue(key, "k.exe", nullptr, &data), platform::kErrorSuccess);
  EXPECT_EQ(data, std::string("C:\\K\\k.exe\0", 11));
  registry.CloseKey(key);
}

TEST_F(RunAtLogonTest, DisableRemovesTheValueFromBothPlaces) {
  registry_.PutString(kHkeyLocalMachine, kRun, "Kestrelmark.exe", "a");
  registry_.PutString(kHkeyCurrentUser, kRun, "Kestrelmark.exe", "b");
  registry_.PutString(kHkeyCurrentUser, kRun, "Other.exe", "c");
  mStartUp::DisableRunAtLogon(files_, registry_);
  EXPECT_EQ(RunValue(kHkeyLocalMachine, "Kestrelmark.exe"), std::nullopt);
  EXPECT_EQ(RunValue(kHkeyCurrentUser, "Kestrelmark.exe"), std::nullopt);
  EXPECT_TRUE(RunValue(kHkeyCurrentUser, "Other.exe"));
}

TEST_F(RunAtLogonTest, DisableWithNothingToDeleteOrNoMachineAccessIsQuiet) {
  mStartUp::DisableRunAtLogon(files_, registry_);
  registry_.PutString(kHkeyCurrentUser, kRun, "Kestrelmark.exe", "b");
  registry_.DenyOpen(kHkeyLocalMachine, kRun);
  mStartUp::DisableRunAtLogon(files_, registry_);
  EXPECT_EQ(RunValue(kHkeyCurrentUser, "Kestrelmark.exe"), std::nullopt);
  EXPECT_EQ(registry_.open_key_count(), 0);
}

TEST(SetValueData, StringsCountTheirNulAndDwordsAreFourLittleEndianBytes) {
  platform::MemoryRegistry registry;
  registry.AddKey(kHkeyCurrentUser, "K");
  EXPECT_EQ(RegStuff::SetKeyValue(registry, kHkeyCurrentUser, "K", "s", "", platform::kRegSz),
            platform::kErrorSuccess);
  EXPECT_EQ(RegStuff::SetKeyValue(registry, kHkeyCurrentUser, "K", "d", "258",
                                  platform::kRegDword),
            platform::kErrorSuccess);
  EXPECT_NE(RegStuff::SetKeyValue(registry, kHkeyCurrentUser, "Missing", "s", "x",
                                  platform::kRegSz),
            platform::kErrorSuccess);
  platform::KeyHandle key = 0;
  ASSERT_EQ(registry.OpenKey(kHkeyCurrentUser, "K", platform::kKeyQueryValue, &key),
            platform::kErrorSuccess);
  std::string data;
  ASSERT_EQ(registry.QueryValue(key, "s", nullptr, &data), platform::kErrorSuccess);
  EXPECT_EQ(data, std::string(1, '\0'));
  ASSERT_EQ(registry.QueryValue(key, "d", nullptr, &data), platform::kErrorSuccess);
  EXPECT_EQ(data, std::string("\x02\x01\x00\x00", 4));
  registry.CloseKey(key);
  EXPECT_FALSE(registry.HasKey(kHkeyCurrentUser, "Missing")) << "SetKeyValue never creates keys";
}

}  // namespace
