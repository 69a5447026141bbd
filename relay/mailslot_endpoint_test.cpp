#include "relay/mailslot_endpoint.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "support/test_util.h"

namespace ostrivane {
namespace {

struct RootCase {
  const char* name;
  const char* xdg;
  std::string root;
};

void PrintTo(const RootCase& c, std::ostream* os) { *os << c.name; }

class MailSlotRootTest : public testing::TestWithParam<RootCase> {};

TEST_P(MailSlotRootTest, FollowsXdgRuntimeDir) {
  EXPECT_EQ(MailSlotRootDir(GetParam().xdg, 1000), GetParam().root);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MailSlotRootTest,
    testing::Values(RootCase{"Set", "/run/user/1000", "/run/user/1000/mailslot"},
                    RootCase{"TrailingSlash", "/run/user/1000//", "/run/user/1000/mailslot"},
                    RootCase{"SlashAlone", "/", "/mailslot"},
                    RootCase{"Unset", nullptr, "/tmp/mailslot-1000"},
                    RootCase{"Empty", "", "/tmp/mailslot-1000"},
                    RootCase{"Relative", "run/user", "/tmp/mailslot-1000"}),
    testutil::CaseName());

struct PathCase {
  const char* name;
  std::u16string fullPath;
  std::optional<std::string> path;
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }

class MailSlotPathTest : public testing::TestWithParam<PathCase> {};

TEST_P(MailSlotPathTest, MapsTheSlotBelowTheRoot) {
  const auto& c = GetParam();
  EXPECT_EQ(MailSlotEndpointPath(c.fullPath, "/r/mailslot"), c.path);
  // A name is refused exactly when it is not plain.
  if (c.fullPath.starts_with(u"\\\\.\\mailslot\\")) {
    EXPECT_EQ(IsPlainMailSlotName(c.fullPath.substr(13)), c.path.has_value());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MailSlotPathTest,
    testing::Values(
        PathCase{"ProgramSlot", u"\\\\.\\mailslot\\Lyravox\\Messages",
                 "/r/mailslot/Lyravox/Messages"},
        PathCase{"SingleName", u"\\\\.\\mailslot\\x", "/r/mailslot/x"},
        PathCase{"Utf8Name", u"\\\\.\\mailslot\\Gr\u00FC\u00DF\\\u0416",
                 "/r/mailslot/Gr\xC3\xBC\xC3\x9F/\xD0\x96"},
        PathCase{"SpacesKept", u"\\\\.\\mailslot\\ a b ", "/r/mailslot/ a b "},
        PathCase{"LeadingBackslash", u"\\\\.\\mailslot\\\\x", "/r/mailslot/x"},
        PathCase{"DotsInsideNamesAllowed", u"\\\\.\\mailslot\\a..b\\.c", "/r/mailslot/a..b/.c"},
        PathCase{"EmptyName", u"\\\\.\\mailslot\\", std::nullopt},
        PathCase{"ParentComponent", u"\\\\.\\mailslot\\..\\x", std::nullopt},
        PathCase{"ParentAtEnd", u"\\\\.\\mailslot\\a\\..", std::nullopt},
        PathCase{"SlashParent", u"\\\\.\\mailslot\\a/../../x", std::nullopt},
        PathCase{"DotComponent", u"\\\\.\\mailslot\\.", std::nullopt},
        PathCase{"DotBetweenSlashes", u"\\\\.\\mailslot\\a/./b", std::nullopt},
        PathCase{"ZeroCharacter", std::u16string(u"\\\\.\\mailslot\\a\0b", 16), std::nullopt},
        PathCase{"OtherPrefix", u"\\\\.\\pipe\\x", std::nullopt}),
    testutil::CaseName());

TEST(MailSlotSocketAddressTest, PathMustFitWithItsTerminator) {
  EXPECT_TRUE(FitsMailSlotSocketAddress(std::string(kMaxMailSlotSocketPath, 'a')));
  EXPECT_FALSE(FitsMailSlotSocketAddress(std::string(kMaxMailSlotSocketPath + 1, 'a')));
  EXPECT_FALSE(FitsMailSlotSocketAddress(""));
}

}  // namespace
}  // namespace ostrivane
