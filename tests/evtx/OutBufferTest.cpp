#include "evtx/OutBuffer.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace zor {
namespace {

TEST(OutBufferTest, KeepsItsTextAcrossGrowthAndEmptyAppends) {
  TOutBuffer out;
  // Before the first byte the buffer has no storage, and the view no pointer.
  out.Append(std::string_view());
  EXPECT_EQ(out.View(), "");
  const std::string big(5000, 'a');  // beyond the first allocation
  out.Append("<");
  out.Append(big);
  out.Append(std::string_view());
  out.Push('>');
  EXPECT_EQ(out.View(), "<" + big + ">");
}

}  // namespace
}  // namespace zor
