// Arbitrary snapshot bytes against arbitrary fresh entries: the split, the
// set of snapshot lines and the comparison must agree with plain models.
//
// The input gives the snapshot text, then a list of fresh entries, each an
// arbitrary text, a snapshot line as it stands, two lines joined with CR LF
// (an entry that was written over two lines) or a line changed a little.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "engine/entry_list.h"
#include "engine/line_set.h"
#include "engine/m_kestrelmark.h"
#include "fuzz/fuzz_check.h"
#include "tests/engine/recording_host.h"

namespace {

using kestrelmark::fuzz::Quoted;
using mKestrelmark::testing::RecordingHost;
using Lines = std::vector<std::string_view>;

constexpr std::string_view kCrLf = "\r\n";

std::string Listed(const Lines& lines) {
  std::string text = "[";
  for (const std::string_view line : lines) text += Quoted(line) + " ";
  return text + "]";
}

// Pieces with CR LF between them (the inverse of the split).
std::string JoinedWithCrLf(const Lines& pieces) {
  std::string text;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) text += kCrLf;
    text += pieces[i];
  }
  return text;
}

// The snapshot file of a list: CR LF after every entry.
std::string FileOf(const RegStuff::EntryList& entries) {
  std::string text;
  for (const std::string_view entry : entries) {
    text += entry;
    text += kCrLf;
  }
  return text;
}

// An entry as the lines it was written over.
Lines PiecesOf(std::string_view entry) {
  Lines pieces;
  for (;;) {
    const std::size_t at = entry.find(kCrLf);
    pieces.push_back(entry.substr(0, at));
    if (at == std::string_view::npos) return pieces;
    entry.remove_prefix(at + kCrLf.size());
  }
}

std::size_t CrLfCount(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t at = text.find(kCrLf); at != std::string_view::npos;
       at = text.find(kCrLf, at + kCrLf.size()))
    ++count;
  return count;
}

Lines CheckedSplit(std::string_view text) {
  RecordingHost host;
  const Lines lines = mKestrelmark::SplitSnapshotLines(text, &host);
  KM_FUZZ_CHECK(lines == mKestrelmark::SplitSnapshotLines(text),
                "the split depends on the host for " + Quoted(text));
  if (text.empty()) {
    KM_FUZZ_CHECK(lines.empty(), "an empty file gives " + Listed(lines));
    return lines;
  }
  KM_FUZZ_CHECK(JoinedWithCrLf(lines) == text,
                "pieces " + Listed(lines) + " do not join back to " + Quoted(text));
  KM_FUZZ_CHECK(lines.size() == CrLfCount(text) + 1,
                Listed(lines) + " is not one piece per CR LF and one more, for " + Quoted(text));
  for (const std::string_view line : lines) {
    KM_FUZZ_CHECK(line.find(kCrLf) == std::string_view::npos,
                  "piece " + Quoted(line) + " holds CR LF");
    KM_FUZZ_CHECK(
        line.data() >= text.data() && line.data() + line.size() <= text.data() + text.size(),
        "piece " + Quoted(line) + " does not point into the text");
  }
  KM_FUZZ_CHECK(host.yield_count == static_cast<int>(lines.size()) - 1,
                "yields " + std::to_string(host.yield_count) + " for " +
                    std::to_string(lines.size()) + " pieces");
  return lines;
}

// LineSet against std::unordered_set, growing from a small start so that
// rehashing is exercised.
void CheckLineSet(std::size_t expected, const Lines& lines, const Lines& queries) {
  mKestrelmark::LineSet set(expected);
  std::unordered_set<std::string_view> model;
  for (const std::string_view line : lines) {
    set.Insert(line);
    model.insert(line);
    KM_FUZZ_CHECK(set.Contains(line), "just inserted " + Quoted(line) + " but not held");
  }
  for (const std::string_view line : lines)
    KM_FUZZ_CHECK(set.Contains(line), "inserted " + Quoted(line) + " lost after growing");
  for (const std::string_view query : queries)
    KM_FUZZ_CHECK(set.Contains(query) == (model.count(query) == 1),
                  "set and model disagree on " + Quoted(query));
}

// The comparison's contract: a non-empty fresh entry is reported when any
// of the lines it was written over is missing from the snapshot; reported
// entries are the fresh list's own texts, in its order.
void CheckCompare(const Lines& old_lines, const RegStuff::EntryList& fresh) {
  const std::unordered_set<std::string_view> snapshot(old_lines.begin(), old_lines.end());
  Lines expected;
  for (const std::string_view entry : fresh) {
    if (entry.empty()) continue;
    for (const std::string_view piece : PiecesOf(entry)) {
      if (snapshot.count(piece) == 0) {
        expected.push_back(entry);
        break;
      }
    }
  }

  RecordingHost host;
  const Lines reported = mKestrelmark::CompareEntryLists(old_lines, fresh, host);
  KM_FUZZ_CHECK(reported == expected, "snapshot " + Listed(old_lines) + " fresh " +
                                          Listed(Lines(fresh.begin(), fresh.end())) + " reported " +
                                          Listed(reported) + " expected " + Listed(expected));
  std::size_t k = 0;
  for (const std::string_view entry : reported) {
    KM_FUZZ_CHECK(!entry.empty(), "an empty entry was reported");
    // The same text at the same place: empty entries share their
    // neighbour's address.
    while (k < fresh.size() && (fresh[k].data() != entry.data() || fresh[k].size() != entry.size()))
      ++k;
    KM_FUZZ_CHECK(k < fresh.size(), Quoted(entry) + " is not a fresh entry, or out of order");
    ++k;
  }
  // A yield per snapshot line and per fresh entry, and more while the set's
  // table is cleared in pieces.
  KM_FUZZ_CHECK(host.yield_count >= static_cast<int>(old_lines.size() + fresh.size()),
                "yields " + std::to_string(host.yield_count));

  // A list compared with the snapshot made from itself reports nothing.
  const kestrelmark::fuzz::ExactCopy own_file(FileOf(fresh));
  const Lines own_lines = CheckedSplit(own_file.view());
  const Lines own_reported = mKestrelmark::CompareEntryLists(own_lines, fresh, host);
  KM_FUZZ_CHECK(own_reported.empty(),
                "its own snapshot " + Quoted(own_file.view()) + " reports " + Listed(own_reported));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto expected_lines = input.ConsumeIntegralInRange<std::size_t>(0, 40);
  const kestrelmark::fuzz::ExactCopy text(input.ConsumeRandomLengthString(size));
  const Lines old_lines = CheckedSplit(text.view());

  RegStuff::EntryList fresh;
  std::vector<std::string> owned;  // texts made here, kept for the queries
  owned.reserve(512);
  while (input.remaining_bytes() > 0 && fresh.size() < 256) {
    const auto pick = [&] {
      return old_lines[input.ConsumeIntegralInRange<std::size_t>(0, old_lines.size() - 1)];
    };
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
      case 0:
        owned.push_back(input.ConsumeRandomLengthString(64));
        break;
      case 1:
        if (old_lines.empty()) continue;
        owned.emplace_back(pick());
        break;
      case 2: {
        if (old_lines.empty()) continue;
        std::string two(pick());
        two += kCrLf;
        two += pick();
        owned.push_back(std::move(two));
        break;
      }
      default: {
        if (old_lines.empty()) continue;
        std::string near(pick());
        if (near.empty() || input.ConsumeBool()) {
          near.push_back(input.ConsumeIntegral<char>());
        } else {
          near[input.ConsumeIntegralInRange<std::size_t>(0, near.size() - 1)] ^=
              static_cast<char>(1 | input.ConsumeIntegral<std::uint8_t>());
        }
        owned.push_back(std::move(near));
        break;
      }
    }
    fresh.push_back(owned.back());
  }

  Lines queries(owned.begin(), owned.end());
  for (const std::string& entry : owned)
    for (const std::string_view piece : PiecesOf(entry)) queries.push_back(piece);
  queries.push_back("");
  // An empty line need not point anywhere: now and then one without an
  // address at all.
  Lines set_lines = old_lines;
  if (expected_lines % 2 == 1)
    set_lines.insert(set_lines.begin() + set_lines.size() / 2, std::string_view());
  CheckLineSet(expected_lines, set_lines, queries);
  CheckCompare(old_lines, fresh);
  return 0;
}
