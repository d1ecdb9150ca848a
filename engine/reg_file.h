// Undo and redo of complete-mode changes as a .reg file, in the form the
// system's registry editor exports and imports ("Windows Registry Editor
// Version 5.00"): UTF-16LE with a byte-order mark, CR LF, full root names,
// a blank line after every key's block.
//
// Undo brings the branch back to the snapshot: an added key is deleted
// ([-HKEY_...\key]), an added value deleted ("name"=-), a changed or deleted
// value written with its old type and data, a deleted key created again with
// its values. Redo does the opposite, from the snapshot to the reading.
//
// Order, so that an import gives that state: every key deletion first, then
// each key's block in the rows' order (parents first), each block's value
// deletions before its writes. The registry matches names regardless of
// case, while the comparison does not: a key or value renamed only in case
// is a deletion and an addition of the same registry item, and only a
// deletion before the write leaves the item there. A value of a key that the
// same file deletes is not written on its own (its block would create the
// key again).
//
// Data: REG_SZ whose bytes are one clean string (UTF-16, a single NUL at
// the end, no CR or LF) as "text", with " and \ escaped; REG_DWORD of four
// bytes as dword:%08x; every other value as its exact bytes, hex: for
// REG_BINARY and hex(N): (N the type in lowercase hex) for the rest, so that
// every value comes back byte for byte. Hex lines are continued with "\",
// CR LF and two blanks once a line reaches 77 characters, as the editor does.
//
// Left alone, each named in a ";" comment line at the top: a key that became
// unreadable (nothing below it was seen), a key that became readable (what
// is below it was never seen in the snapshot), and a key or value whose name
// holds a line break, which the format cannot carry.
#pragma once

#include <string>
#include <vector>

#include "engine/keyed_comparison.h"
#include "platform/registry.h"

namespace mKestrelmark {

enum class RegFileDirection { kUndo, kRedo };

// The file's text, without the byte-order mark.
std::u16string RegFileText(const std::vector<RegStuff::Change>& changes, platform::RootKey root,
                           RegFileDirection direction);
// The file's bytes: the byte-order mark and the text in UTF-16LE.
std::string RegFileBytes(const std::vector<RegStuff::Change>& changes, platform::RootKey root,
                         RegFileDirection direction);

// The root's full name as the file writes it ("HKEY_LOCAL_MACHINE").
const char* RegFileRootName(platform::RootKey root);

}  // namespace mKestrelmark
