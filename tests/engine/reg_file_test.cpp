// The .reg file of undo and redo: how each type and shape of data is
// written, escaping, the default value, long hex lines, and the order that
// makes an import give the state it means (deletions first, a value of a
// deleted key not recreating it, case-only renames, keys left alone).
#include "engine/reg_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace mKestrelmark {
namespace {

using namespace std::string_literals;
using RegStuff::Change;
using RegStuff::ChangeKind;
using RegStuff::ChangeSubject;
using RegStuff::ValueRecord;
using Rows = std::vector<Change>;

// The text as UTF-8, so that a failure prints readably.
std::string Utf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Lines(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

std::string Undo(const Rows& rows, platform::RootKey root = platform::kHkeyCurrentUser) {
  return Utf8(RegFileText(rows, root, RegFileDirection::kUndo));
}
std::string Redo(const Rows& rows, platform::RootKey root = platform::kHkeyCurrentUser) {
  return Utf8(RegFileText(rows, root, RegFileDirection::kRedo));
}

Change Key(ChangeKind kind, std::string key) {
  Change change;
  change.kind = kind;
  change.subject = ChangeSubject::kKey;
  change.key = std::move(key);
  return change;
}
Change Value(ChangeKind kind, std::string key, std::string name,
             std::optional<ValueRecord> before, std::optional<ValueRecord> after) {
  Change change;
  change.kind = kind;
  change.subject = ChangeSubject::kValue;
  change.key = std::move(key);
  change.name = std::move(name);
  change.before = std::move(before);
  change.after = std::move(after);
  return change;
}
Change Added(std::string key, std::string name, std::uint32_t type, std::string data) {
  return Value(ChangeKind::kAdded, key, name, std::nullopt, ValueRecord{name, type, data});
}
Change Deleted(std::string key, std::string name, std::uint32_t type, std::string data) {
  return Value(ChangeKind::kDeleted, key, name, ValueRecord{name, type, data}, std::nullopt);
}

// Each type as a redo writes an added value: the value line alone.
std::string RedoLine(std::string name, std::uint32_t type, std::string data) {
  const std::string text = Redo({Added("K", name, type, data)});
  const std::string head =
      Lines({"Windows Registry Editor Version 5.00", "", "[HKEY_CURRENT_USER\\K]"});
  EXPECT_EQ(text.substr(0, head.size()), head);
  EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");
  return text.substr(head.size(), text.size() - head.size() - 2);  // the blank line
}

TEST(RegFileTest, EveryTypeAndShapeOfData) {
  struct Case {
    std::uint32_t type;
    std::string bytes;
    std::string line;
  };
  const Case cases[] = {
      {1, "a\0\"\0\\\0b\0\0\0"s, R"("v"="a\"\\b")"},
      {1, "\0\0"s, R"("v"="")"},
      {1, "\xE9\0\x3d\xd8\x00\xde\0\0"s, "\"v\"=\"\xC3\xA9\xF0\x9F\x98\x80\""},  // é, U+1F600
      // Not one clean string: the bytes, so that they come back as they are.
      {1, "a\0b\0"s, R"("v"=hex(1):61,00,62,00)"},            // no terminator
      {1, "a\0\0\0b\0\0\0"s, R"("v"=hex(1):61,00,00,00,62,00,00,00)"},  // inner NUL
      {1, "a\0\n\0\0\0"s, R"("v"=hex(1):61,00,0a,00,00,00)"},  // a line break
      {1, "\x3d\xd8\0\0"s, R"("v"=hex(1):3d,d8,00,00)"},      // lone surrogate
      {1, "", R"("v"=hex(1):)"},
      {0, "", R"("v"=hex(0):)"},
      {0, "\x01", R"("v"=hex(0):01)"},
      {2, "%\0\0\0"s, R"("v"=hex(2):25,00,00,00)"},
      {3, "\x00\xff\x10"s, R"("v"=hex:00,ff,10)"},
      {3, "", R"("v"=hex:)"},
      {4, "\x2a\0\0\0"s, R"("v"=dword:0000002a)"},
      {4, "\xff\xff\xff\xff", R"("v"=dword:ffffffff)"},
      {4, "\x01\x02\x03", R"("v"=hex(4):01,02,03)"},
      {5, "\0\0\x01\x02"s, R"("v"=hex(5):00,00,01,02)"},
      {6, "x\0\0\0"s, R"("v"=hex(6):78,00,00,00)"},
      {7, "a\0\0\0b\0\0\0\0\0"s, R"("v"=hex(7):61,00,00,00,62,00,00,00,00,00)"},
      {8, "\x01", R"("v"=hex(8):01)"},
      {9, "\x01", R"("v"=hex(9):01)"},
      {10, "\x01", R"("v"=hex(a):01)"},
      {11, "\x01\0\0\0\0\0\0\0"s, R"("v"=hex(b):01,00,00,00,00,00,00,00)"},
      {0x12345, "\xAB", R"("v"=hex(12345):ab)"},
      {0xFFFFFFFF, "\xAB", R"("v"=hex(ffffffff):ab)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RedoLine("v", c.type, c.bytes), c.line + "\r\n") << "type " << c.type;
  }
}

TEST(RegFileTest, NamesEscapedAndTheDefaultValue) {
  EXPECT_EQ(RedoLine("", 1, "x\0\0\0"s), "@=\"x\"\r\n");
  EXPECT_EQ(RedoLine("a\"b\\c", 4, "\x01\0\0\0"s), "\"a\\\"b\\\\c\"=dword:00000001\r\n");
  EXPECT_EQ(RedoLine("\xC3\xA4\xE2\x82\xAC", 4, "\x01\0\0\0"s),
            "\"\xC3\xA4\xE2\x82\xAC\"=dword:00000001\r\n");
  // Deleting the default value, and a key path with non-ASCII and "\".
  EXPECT_EQ(Undo({Added("Sch\xC3\xB6n\\Unter", "", 1, "x\0\0\0"s)}),
            Lines({"Windows Registry Editor Version 5.00", "",
                   "[HKEY_CURRENT_USER\\Sch\xC3\xB6n\\Unter]", "@=-", ""}));
  // Every root by its full name; the root itself as the key.
  EXPECT_EQ(Undo({Added("", "x", 1, "\0\0"s)}, platform::kHkeyLocalMachine),
            Lines({"Windows Registry Editor Version 5.00", "", "[HKEY_LOCAL_MACHINE]",
                   "\"x\"=-", ""}));
  EXPECT_STREQ(RegFileRootName(platform::kHkeyClassesRoot), "HKEY_CLASSES_ROOT");
  EXPECT_STREQ(RegFileRootName(platform::kHkeyUsers), "HKEY_USERS");
  EXPECT_STREQ(RegFileRootName(platform::kHkeyCurrentConfig), "HKEY_CURRENT_CONFIG");
}

TEST(RegFileTest, LongHexLinesContinueAtTheEditorsWidth) {
  std::string bytes;
  for (int i = 0; i < 60; ++i) bytes += static_cast<char>(i);
  const std::string line = RedoLine("Blob", 3, bytes);
  // "Blob"=hex: and 22 bytes reach column 77; then 25 bytes a line.
  std::string expected = "\"Blob\"=hex:";
  char hex[4];
  for (int i = 0; i < 60; ++i) {
    std::snprintf(hex, sizeof hex, "%02x", i);
    expected += hex;
    if (i == 59) break;
    expected += ',';
    if (i == 21 || i == 46) expected += "\\\r\n  ";
  }
  EXPECT_EQ(line, expected + "\r\n");
  // Exactly full lines: no continuation after the last byte.
  const std::string exact = RedoLine("Blob", 3, bytes.substr(0, 23));
  EXPECT_EQ(exact.find("\\\r\n  "), exact.rfind("\\\r\n  "));
  EXPECT_EQ(exact.substr(exact.size() - 6), "  16\r\n");
  // A name that alone is past the width: a break after every byte.
  const std::string long_name(80, 'n');
  EXPECT_EQ(RedoLine(long_name, 3, "\x01\x02"),
            "\"" + long_name + "\"=hex:01,\\\r\n  02\r\n");
  // The width counts characters, not UTF-8 bytes.
  std::string wide_name;
  for (int i = 0; i < 10; ++i) wide_name += "\xE2\x82\xAC";  // €, 3 bytes each
  const std::string wide = RedoLine(wide_name, 3, bytes);
  EXPECT_EQ(wide.find("\\\r\n"), wide.find("hex:") + 4 + 3 * 20);  // 13 + 4 + 3 * 20 = 77
}

TEST(RegFileTest, UndoAndRedoOfEveryKindOfChange) {
  const ValueRecord old_v{"V", 1, "1\0\0\0"s}, new_v{"V", 4, "\x02\0\0\0"s};
  const Rows rows = {
      Key(ChangeKind::kAdded, "App\\New"),
      Added("App\\New", "n", 4, "\x05\0\0\0"s),
      Key(ChangeKind::kAdded, "App\\New\\Deeper"),
      Added("App\\New\\Deeper", "d", 3, "\x01"),
      Value(ChangeKind::kChanged, "App", "V", old_v, new_v),
      Added("App", "Fresh", 1, "f\0\0\0"s),
      Deleted("App", "Stale", 3, "\xAA"),
      Key(ChangeKind::kDeleted, "App\\Old"),
      Deleted("App\\Old", "o", 4, "\x07\0\0\0"s),
      Key(ChangeKind::kDeleted, "App\\Old\\Sub"),
  };
  EXPECT_EQ(Undo(rows), Lines({
                            "Windows Registry Editor Version 5.00",
                            "",
                            "[-HKEY_CURRENT_USER\\App\\New]",
                            "",
                            "[HKEY_CURRENT_USER\\App]",
                            "\"Fresh\"=-",
                            "\"V\"=\"1\"",
                            "\"Stale\"=hex:aa",
                            "",
                            "[HKEY_CURRENT_USER\\App\\Old]",
                            "\"o\"=dword:00000007",
                            "",
                            "[HKEY_CURRENT_USER\\App\\Old\\Sub]",
                            "",
                        }));
  EXPECT_EQ(Redo(rows), Lines({
                            "Windows Registry Editor Version 5.00",
                            "",
                            "[-HKEY_CURRENT_USER\\App\\Old]",
                            "",
                            "[HKEY_CURRENT_USER\\App\\New]",
                            "\"n\"=dword:00000005",
                            "",
                            "[HKEY_CURRENT_USER\\App\\New\\Deeper]",
                            "\"d\"=hex:01",
                            "",
                            "[HKEY_CURRENT_USER\\App]",
                            "\"Stale\"=-",
                            "\"V\"=dword:00000002",
                            "\"Fresh\"=\"f\"",
                            "",
                        }));
  // Nothing changed: the header alone, which imports as nothing.
  EXPECT_EQ(Undo({}), Lines({"Windows Registry Editor Version 5.00", ""}));
}

TEST(RegFileTest, RenamesInCaseDeleteBeforeTheyWrite) {
  // The registry sees one item under both spellings: written first and
  // deleted after, it would be gone.
  const Rows rows = {
      Key(ChangeKind::kAdded, "app"),
      Added("app", "x", 4, "\x01\0\0\0"s),
      Key(ChangeKind::kDeleted, "App"),
      Deleted("App", "x", 4, "\x02\0\0\0"s),
      Added("K", "name", 4, "\x03\0\0\0"s),
      Deleted("K", "Name", 4, "\x04\0\0\0"s),
  };
  EXPECT_EQ(Undo(rows), Lines({
                            "Windows Registry Editor Version 5.00",
                            "",
                            "[-HKEY_CURRENT_USER\\app]",
                            "",
                            "[HKEY_CURRENT_USER\\App]",
                            "\"x\"=dword:00000002",
                            "",
                            "[HKEY_CURRENT_USER\\K]",
                            "\"name\"=-",
                            "\"Name\"=dword:00000004",
                            "",
                        }));
  const std::string redo = Redo(rows);
  EXPECT_LT(redo.find("[-HKEY_CURRENT_USER\\App]"), redo.find("[HKEY_CURRENT_USER\\app]"));
  EXPECT_LT(redo.find("\"Name\"=-"), redo.find("\"name\"=dword:00000003"));
}

TEST(RegFileTest, KeysThatCouldNotBeReadAreNamedAndLeftAlone) {
  const Rows rows = {
      Key(ChangeKind::kUnreadable, "Locked"),
      Key(ChangeKind::kReadable, "Opened"),
      Added("Opened", "seen", 4, "\x01\0\0\0"s),
      Key(ChangeKind::kAdded, "Opened\\Child"),
      Added("Openedness", "kept", 4, "\x01\0\0\0"s),
      Added("K", "line\nbreak", 4, "\x01\0\0\0"s),
  };
  for (const std::string& text : {Undo(rows), Redo(rows)}) {
    EXPECT_EQ(text.substr(0, text.find("[HKEY")),
              Lines({"Windows Registry Editor Version 5.00", "",
                     "; HKEY_CURRENT_USER\\Locked: unreadable now, left alone",
                     "; HKEY_CURRENT_USER\\Opened: unreadable in the snapshot, left alone with "
                     "what is below it",
                     "; HKEY_CURRENT_USER\\K: a value whose name holds a line break, left alone",
                     ""}));
    EXPECT_EQ(text.find("seen"), std::string::npos);
    EXPECT_EQ(text.find("Child"), std::string::npos);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Openedness]"), std::string::npos);  // not below
  }
}

TEST(RegFileTest, BytesAreUtf16LittleEndianWithItsMark) {
  const std::string bytes =
      RegFileBytes({Added("K", "\xE2\x82\xAC", 1, "\0\0"s)}, platform::kHkeyCurrentUser,
                   RegFileDirection::kUndo);
  EXPECT_EQ(bytes.substr(0, 6), "\xFF\xFEW\0i\0"s);
  EXPECT_NE(bytes.find("\"\0\xAC\x20\"\0=\0-\0\r\0\n\0"s), std::string::npos);  // "€"=-
  EXPECT_EQ(bytes.size() % 2, 0u);
}

}  // namespace
}  // namespace mKestrelmark
