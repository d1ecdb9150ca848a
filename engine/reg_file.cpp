#include "engine/reg_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "engine/branch_selection.h"
#include "engine/change_text.h"

namespace mKestrelmark {
namespace {

using RegStuff::Change;
using RegStuff::ChangeKind;
using RegStuff::ChangeSubject;
using RegStuff::ValueRecord;

constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00\r\n\r\n";
constexpr std::u16string_view kLineEnd = u"\r\n";
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
// The editor breaks a hex line once it is this long, before its "\".
constexpr std::size_t kHexLineBreak = 77;
constexpr std::u16string_view kHexContinuation = u"\\\r\n  ";

// UTF-8 as UTF-16; a byte that is not UTF-8 becomes U+FFFD (the names come
// from the registry as UTF-8, so none is expected).
void AppendUtf8(std::u16string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::uint32_t code = 0xFFFD;
    std::size_t length = 1;
    const auto continuation = [&](std::size_t at) {
      return at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
    };
    if (b < 0x80) {
      code = b;
    } else if (b >= 0xC2 && b < 0xE0 && continuation(i + 1)) {
      code = (b & 0x1Fu) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
      length = 2;
    } else if (b >= 0xE0 && b < 0xF0 && continuation(i + 1) && continuation(i + 2)) {
      code = (b & 0x0Fu) << 12 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6 |
             (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
      length = 3;
      if (code < 0x800) code = 0xFFFD;
    } else if (b >= 0xF0 && b < 0xF5 && continuation(i + 1) && continuation(i + 2) &&
               continuation(i + 3)) {
      code = (b & 0x07u) << 18 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 12 |
             (static_cast<unsigned char>(text[i + 2]) & 0x3Fu) << 6 |
             (static_cast<unsigned char>(text[i + 3]) & 0x3Fu);
      length = 4;
      if (code < 0x10000 || code > 0x10FFFF) code = 0xFFFD;
    }
    if (code >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
    i += length;
  }
}

void AppendAscii(std::u16string& out, std::string_view text) {
  for (const char c : text) out += static_cast<char16_t>(static_cast<unsigned char>(c));
}

// Inside double quotes: " and \ escaped.
void AppendQuoted(std::u16string& out, std::string_view utf8) {
  out += u'"';
  std::u16string text;
  AppendUtf8(text, utf8);
  for (const char16_t c : text) {
    if (c == u'"' || c == u'\\') out += u'\\';
    out += c;
  }
  out += u'"';
}

bool HoldsLineBreak(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

void AppendKeyName(std::u16string& out, platform::RootKey root, std::string_view key) {
  AppendAscii(out, RegFileRootName(root));
  if (!key.empty()) {
    out += u'\\';
    AppendUtf8(out, key);
  }
}

// "name"= or @=
void AppendValueName(std::u16string& out, std::string_view name) {
  if (name.empty()) {
    out += u"@=";
  } else {
    AppendQuoted(out, name);
    out += u'=';
  }
}

void AppendHex(std::u16string& out, std::size_t line_start, const ValueRecord& value) {
  char prefix[20];
  if (value.type == kRegBinary) {
    std::snprintf(prefix, sizeof prefix, "hex:");
  } else {
    std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
  }
  AppendAscii(out, prefix);
  std::size_t column = out.size() - line_start;
  const std::string hex = HexBytes(value.data);
  for (std::size_t i = 0; i < value.data.size(); ++i) {
    out += static_cast<char16_t>(hex[2 * i]);
    out += static_cast<char16_t>(hex[2 * i + 1]);
    if (i + 1 == value.data.size()) break;
    out += u',';
    column += 3;
    if (column >= kHexLineBreak) {
      out += kHexContinuation;
      column = 2;
    }
  }
}

void AppendValueLine(std::u16string& out, const ValueRecord& value) {
  const std::size_t line_start = out.size();
  AppendValueName(out, value.name);
  const ValueData data = DecodeValueData(value.type, value.data);
  if (value.type == kRegSz && data.form == ValueData::Form::kText &&
      data.text.find_first_of("\r\n") == std::string::npos) {
    AppendQuoted(out, data.text);
  } else if (value.type == kRegDword && value.data.size() == 4) {
    char number[16];
    std::snprintf(number, sizeof number, "dword:%08llx",
                  static_cast<unsigned long long>(data.number));
    AppendAscii(out, number);
  } else {
    AppendHex(out, line_start, value);
  }
  out += kLineEnd;
}

void AppendDeletionLine(std::u16string& out, std::string_view name) {
  AppendValueName(out, name);
  out += u'-';
  out += kLineEnd;
}

struct Block {
  std::string key;
  std::vector<std::string> deletions;  // value names
  std::vector<ValueRecord> writes;
};

bool IsAtOrBelow(std::string_view key, std::string_view top) {
  if (key.size() < top.size() || key.substr(0, top.size()) != top) return false;
  return key.size() == top.size() || top.empty() || key[top.size()] == '\\';
}

bool BelowAny(std::string_view key, const std::vector<std::string>& tops) {
  for (const std::string& top : tops) {
    if (IsAtOrBelow(key, top)) return true;
  }
  return false;
}

class Plan {
 public:
  Plan(platform::RootKey root, RegFileDirection direction)
      : root_(root), undo_(direction == RegFileDirection::kUndo) {}

  void Take(const std::vector<Change>& changes) {
    for (const Change& change : changes) {
      if (change.kind == ChangeKind::kReadable) {
        Comment(change.key, u": unreadable in the snapshot, left alone with what is below it");
        untouchable_.push_back(change.key);
      } else if (change.kind == ChangeKind::kUnreadable) {
        Comment(change.key, u": unreadable now, left alone");
      }
    }
    for (const Change& change : changes) {
      if (change.kind == ChangeKind::kReadable || change.kind == ChangeKind::kUnreadable) continue;
      if (BelowAny(change.key, untouchable_)) continue;
      if (HoldsLineBreak(change.key)) {
        Comment(change.key, u": its name holds a line break, left alone");
        continue;
      }
      if (change.subject == ChangeSubject::kKey) {
        TakeKey(change);
      } else if (HoldsLineBreak(change.name)) {
        Comment(change.key, u": a value whose name holds a line break, left alone");
      } else {
        TakeValue(change);
      }
    }
  }

  std::u16string Text() const {
    std::u16string out(kHeader);
    if (!comments_.empty()) {
      out += comments_;
      out += kLineEnd;
    }
    for (const std::string& key : deleted_keys_) {
      out += u"[-";
      AppendKeyName(out, root_, key);
      out += u"]";
      out += kLineEnd;
      out += kLineEnd;
    }
    for (const Block& block : blocks_) {
      out += u'[';
      AppendKeyName(out, root_, block.key);
      out += u']';
      out += kLineEnd;
      for (const std::string& name : block.deletions) AppendDeletionLine(out, name);
      for (const ValueRecord& value : block.writes) AppendValueLine(out, value);
      out += kLineEnd;
    }
    return out;
  }

 private:
  void Comment(std::string_view key, std::u16string_view why) {
    comments_ += u"; ";
    AppendKeyName(comments_, root_, key);
    comments_ += why;
    comments_ += kLineEnd;
  }

  // Added in undo, deleted in redo: the key goes.
  bool KeyGoes(const Change& change) const {
    return change.kind == (undo_ ? ChangeKind::kAdded : ChangeKind::kDeleted);
  }

  void TakeKey(const Change& change) {
    if (KeyGoes(change)) {
      if (!deleted_set_.insert(change.key).second) return;
      // A key below one the file deletes already goes with it.
      if (!BelowAny(change.key, deleted_keys_)) deleted_keys_.push_back(change.key);
    } else {
      BlockOf(change.key);  // created, with what its value rows bring
    }
  }

  void TakeValue(const Change& change) {
    // The value as it is to be: before for undo, after for redo; none means
    // it goes.
    const std::optional<ValueRecord>& target = undo_ ? change.before : change.after;
    if (!target) {
      // Gone with its key, when the file deletes that; a block of its own
      // would create the key again.
      if (deleted_set_.count(change.key) != 0) return;
      BlockOf(change.key).deletions.push_back(change.name);
      return;
    }
    ValueRecord value = *target;
    value.name = change.name;
    BlockOf(change.key).writes.push_back(std::move(value));
  }

  Block& BlockOf(const std::string& key) {
    const auto [at, added] = block_index_.emplace(key, blocks_.size());
    if (added) blocks_.push_back(Block{key, {}, {}});
    return blocks_[at->second];
  }

  const platform::RootKey root_;
  const bool undo_;
  std::u16string comments_;
  std::vector<std::string> untouchable_;
  std::vector<std::string> deleted_keys_;
  std::unordered_set<std::string> deleted_set_;
  std::vector<Block> blocks_;
  std::unordered_map<std::string, std::size_t> block_index_;
};

}  // namespace

const char* RegFileRootName(platform::RootKey root) {
  for (const Hive& hive : kHives) {
    if (hive.key == root) return hive.long_name;
  }
  return "?";
}

std::u16string RegFileText(const std::vector<Change>& changes, platform::RootKey root,
                           RegFileDirection direction) {
  Plan plan(root, direction);
  plan.Take(changes);
  return plan.Text();
}

std::string RegFileBytes(const std::vector<Change>& changes, platform::RootKey root,
                         RegFileDirection direction) {
  const std::u16string text = RegFileText(changes, root, direction);
  std::string bytes = "\xFF\xFE";
  bytes.reserve(2 + 2 * text.size());
  for (const char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

}  // namespace mKestrelmark
