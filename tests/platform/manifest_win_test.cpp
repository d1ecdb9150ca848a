// Every Kestrelmark program carries the same manifest; these facts are what
// the rest of the program relies on it for.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(Manifest, ActiveCodePageIsUtf8SoNamesRoundTrip) {
  // Without it, the A functions turn names outside the code page into '?'.
  EXPECT_EQ(GetACP(), 65001u);
}

}  // namespace
