#include <gtest/gtest.h>

#include "support/dutil.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

struct SplitCase {
  const char* name;
  Bytes input;
  Bytes head;
  Bytes rest;
};

class SplitBytesTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitBytesTest, SplitsAtFirstSeparator) {
  const auto& c = GetParam();
  Bytes bytes = c.input;
  Bytes head{0xEE, 0xEE};  // stale content must be replaced, not appended to
  SplitBytes(bytes, 0x02, head);
  EXPECT_EQ(head, c.head);
  EXPECT_EQ(bytes, c.rest);

  std::span<const std::uint8_t> view(c.input);
  const auto viewHead = SplitBytesView(view, 0x02);
  EXPECT_EQ(Bytes(viewHead.begin(), viewHead.end()), c.head);
  EXPECT_EQ(Bytes(view.begin(), view.end()), c.rest);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitBytesTest,
    testing::Values(
        SplitCase{"OnlyFirstCounts", {0x41, 0x02, 0x42, 0x02, 0x43}, {0x41}, {0x42, 0x02, 0x43}},
        SplitCase{"NoSeparator", {0x41, 0x42}, {0x41, 0x42}, {}},
        SplitCase{"LoneSeparator", {0x02}, {}, {}}, SplitCase{"Empty", {}, {}, {}},
        SplitCase{"SeparatorFirst", {0x02, 0x41}, {}, {0x41}},
        SplitCase{"SeparatorLast", {0x41, 0x02}, {0x41}, {}},
        SplitCase{"TwoInARow", {0x02, 0x02, 0x41}, {}, {0x02, 0x41}}),
    testutil::CaseName());

}  // namespace
}  // namespace ostrivane
