#include "net/ipv4_address.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "support/test_util.h"

namespace ostrivane {
namespace {

struct Ipv4Case {
  const char* name;
  std::string text;
  std::optional<IPv4Address> bytes;
  friend void PrintTo(const Ipv4Case& c, std::ostream* os) { *os << c.name; }
};

class ParseIPv4Test : public testing::TestWithParam<Ipv4Case> {};

TEST_P(ParseIPv4Test, TakesDottedDecimalOnly) {
  const auto& c = GetParam();
  const auto parsed = ParseIPv4(c.text);
  EXPECT_EQ(parsed, c.bytes);
  // What is taken is written back as it was given.
  if (parsed) {
    EXPECT_EQ(IPv4Text(*parsed), c.text);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseIPv4Test,
    testing::Values(Ipv4Case{"Multicast", "224.0.0.1", IPv4Address{224, 0, 0, 1}},
                    Ipv4Case{"Loopback", "127.0.0.1", IPv4Address{127, 0, 0, 1}},
                    Ipv4Case{"Extremes", "0.255.0.255", IPv4Address{0, 255, 0, 255}},
                    Ipv4Case{"ThreeDigitsEach", "192.168.100.254", IPv4Address{192, 168, 100, 254}},
                    Ipv4Case{"AllZero", "0.0.0.0", IPv4Address{0, 0, 0, 0}},
                    Ipv4Case{"PartAbove255", "999.0.0.1", std::nullopt},
                    Ipv4Case{"Part256", "1.2.3.256", std::nullopt},
                    Ipv4Case{"FourDigits", "2240.0.0.1", std::nullopt},
                    Ipv4Case{"ManyDigits", "1.2.3.99999999999999999999", std::nullopt},
                    Ipv4Case{"LeadingZero", "01.2.3.4", std::nullopt},
                    Ipv4Case{"LeadingZeroLast", "1.2.3.00", std::nullopt},
                    Ipv4Case{"ThreeParts", "1.2.3", std::nullopt},
                    Ipv4Case{"FiveParts", "1.2.3.4.5", std::nullopt},
                    Ipv4Case{"EmptyPart", "1..3.4", std::nullopt},
                    Ipv4Case{"LeadingDot", ".1.2.3.4", std::nullopt},
                    Ipv4Case{"TrailingDot", "1.2.3.4.", std::nullopt},
                    Ipv4Case{"HostName", "localhost", std::nullopt},
                    Ipv4Case{"InterfaceName", "eth0", std::nullopt},
                    Ipv4Case{"Blank", "1.2.3.4 ", std::nullopt},
                    Ipv4Case{"LeadingBlank", " 1.2.3.4", std::nullopt},
                    Ipv4Case{"Sign", "1.2.+3.4", std::nullopt}, Ipv4Case{"Empty", "", std::nullopt},
                    Ipv4Case{"Hex", "0x7f.0.0.1", std::nullopt}),
    testutil::CaseName());

TEST(IPv4AddressTest, MulticastIsTheFirstNumber224To239) {
  struct Case {
    IPv4Address address;
    bool multicast;
  };
  for (const Case& c : {Case{{224, 0, 0, 0}, true}, Case{{224, 0, 0, 1}, true},
                        Case{{239, 255, 255, 255}, true}, Case{{223, 255, 255, 255}, false},
                        Case{{240, 0, 0, 0}, false}, Case{{10, 224, 0, 1}, false}}) {
    EXPECT_EQ(IsIPv4Multicast(c.address), c.multicast) << IPv4Text(c.address);
  }
}

struct MembershipCase {
  const char* name;
  const char* group;
  const char* interfaceAddress;
  std::optional<IPv4Membership> membership;
  friend void PrintTo(const MembershipCase& c, std::ostream* os) { *os << c.name; }
};

class ParseMembershipTest : public testing::TestWithParam<MembershipCase> {};

TEST_P(ParseMembershipTest, TakesTheGroupAndTheInterfaceOrTheDefault) {
  const auto& c = GetParam();
  const auto parsed = ParseMembership(c.group, c.interfaceAddress);
  ASSERT_EQ(parsed.has_value(), c.membership.has_value());
  if (!parsed) return;
  EXPECT_EQ(parsed->group, c.membership->group);
  EXPECT_EQ(parsed->interfaceAddress, c.membership->interfaceAddress);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseMembershipTest,
    testing::Values(MembershipCase{"OnAnInterface", "224.0.0.1", "10.0.0.5",
                                   IPv4Membership{{224, 0, 0, 1}, {10, 0, 0, 5}}},
                    MembershipCase{"DefaultInterface", "239.1.2.3", "",
                                   IPv4Membership{{239, 1, 2, 3}, {0, 0, 0, 0}}},
                    MembershipCase{"BadGroup", "224.0.0", "10.0.0.5", std::nullopt},
                    MembershipCase{"EmptyGroup", "", "", std::nullopt},
                    MembershipCase{"BadInterface", "224.0.0.1", "eth0", std::nullopt}),
    testutil::CaseName());

}  // namespace
}  // namespace ostrivane
