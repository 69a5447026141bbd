#include "net/remote_datagram.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <vector>

#include "support/test_util.h"

namespace ostrivane {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Datagram(std::string_view prefix, Bytes payload = {}) {
  Bytes d(prefix.begin(), prefix.end());
  d.insert(d.end(), payload.begin(), payload.end());
  return d;
}

const std::string_view kHead("\x02LVXML\x02", 7);

struct DecodeCase {
  const char* name;
  Bytes datagram;
  std::optional<std::u16string> text;  // nullopt: dropped
};

class DecodeRemoteDatagramTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeRemoteDatagramTest, DeliversOrDrops) {
  const auto& c = GetParam();
  EXPECT_EQ(DecodeRemoteDatagram(c.datagram), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeRemoteDatagramTest,
    testing::Values(
        DecodeCase{"PlainText", Datagram(kHead, {'a', 'b', 'c'}), u"abc"},
        DecodeCase{"Empty", {}, std::nullopt}, DecodeCase{"LoneStart", {0x02}, std::nullopt},
        DecodeCase{"HeaderWithoutSeparator", Datagram("\x02LVXML"), std::nullopt},
        DecodeCase{"EmptyPayload", Datagram(kHead), std::nullopt},
        DecodeCase{"LowerCaseHeader", Datagram("\x02lvxml\x02", {'a'}), std::nullopt},
        DecodeCase{"BlankAfterHeader", Datagram("\x02LVXML \x02", {'a'}), std::nullopt},
        DecodeCase{"BlankBeforeHeader", Datagram("\x02 LVXML\x02", {'a'}), std::nullopt},
        DecodeCase{"ZeroInHeader", Datagram(std::string_view("\x02LVXML\0\x02", 8), {'a'}),
                   std::nullopt},
        DecodeCase{"EmptyHeaderFirst", Datagram("\x02\x02LVXML\x02", {'a'}), std::nullopt},
        DecodeCase{"NoStartByte", Datagram("LVXML\x02", {'a'}), std::nullopt},
        DecodeCase{"ShortHeader", Datagram("\x02LVXM\x02", {'a'}), std::nullopt},
        DecodeCase{"HighByteInHeader", Datagram("\x02LVXM\xCC\x02", {'a'}), std::nullopt},
        DecodeCase{"SeparatorInPayload", Datagram(kHead, {0x61, 0x02, 0x62}), u"a\u0002b"},
        DecodeCase{"NulPayload", Datagram(kHead, {0x00}), std::u16string(1, u'\0')},
        DecodeCase{"BomKept", Datagram(kHead, {0xEF, 0xBB, 0xBF, 0x78}), u"\uFEFFx"},
        DecodeCase{"Umlaut", Datagram(kHead, {0xC3, 0xA4}), u"\u00E4"},
        DecodeCase{"CutSequence", Datagram(kHead, {0xC3}), std::nullopt},
        DecodeCase{"Latin1NotUtf8", Datagram(kHead, {0xE4}), std::nullopt},
        DecodeCase{"OverlongNul", Datagram(kHead, {0xC0, 0x80}), std::nullopt},
        DecodeCase{"EncodedSurrogate", Datagram(kHead, {0xED, 0xA0, 0x80}), std::nullopt},
        DecodeCase{"FlawAfterGoodText", Datagram(kHead, {'<', 'a', '/', '>', 0xFF}), std::nullopt},
        DecodeCase{"AstralBecomesPair", Datagram(kHead, {0xF0, 0x9F, 0x98, 0x80}), u"\U0001F600"},
        DecodeCase{"TrailingLineEndKept", Datagram(kHead, {'x', '\r', '\n'}), u"x\r\n"}),
    testutil::CaseName());

TEST(DecodeRemoteDatagram, TakesAFullSizedPayloadWhole) {
  Bytes d = Datagram(kHead);
  d.resize(8192, 'x');
  const auto text = DecodeRemoteDatagram(d);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(text->size(), 8192U - 7U);
  EXPECT_EQ(*text, std::u16string(8185, u'x'));
}

// The datagram sits at the very end of its own allocation, so that a read
// past it would be caught by AddressSanitizer; every prefix of a valid
// datagram with a multi-byte tail is decoded from such a buffer.
TEST(DecodeRemoteDatagram, NeverReadsPastTheBytes) {
  const Bytes full = Datagram(kHead, {'a', 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80});
  for (std::size_t n = 0; n <= full.size(); ++n) {
    auto exact = std::make_unique<std::uint8_t[]>(n);
    if (n != 0) std::memcpy(exact.get(), full.data(), n);
    const auto text = DecodeRemoteDatagram({exact.get(), n});
    const bool complete = n == full.size() || n == 8 || n == 11;
    EXPECT_EQ(text.has_value(), complete) << "prefix of " << n << " bytes";
  }
}

struct EncodeCase {
  const char* name;
  std::u16string text;
  std::size_t payloadBytes;  // UTF-8 bytes after the seven header bytes
};

void PrintTo(const EncodeCase& c, std::ostream* os) { *os << c.name; }

class EncodeRemoteDatagramTest : public testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeRemoteDatagramTest, DecoderGivesTheTextBack) {
  const auto& c = GetParam();
  const Bytes datagram = EncodeRemoteDatagram(c.text);
  ASSERT_EQ(datagram.size(), kHead.size() + c.payloadBytes);
  EXPECT_EQ(Bytes(datagram.begin(), datagram.begin() + 7), Datagram(kHead));
  EXPECT_EQ(DecodeRemoteDatagram(datagram), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EncodeRemoteDatagramTest,
    testing::Values(EncodeCase{"Ascii", u"<a b=\"1\"/>", 10},
                    EncodeCase{"SeparatorAndHeaderInText", u"\u0002LVXML\u0002", 7},
                    EncodeCase{"Nul", std::u16string(1, u'\0'), 1},
                    EncodeCase{"BomKept", u"\uFEFFx", 4},
                    EncodeCase{"TwoAndThreeByteForms", u"\u00E4\u20AC", 5},
                    EncodeCase{"SurrogatePair", u"\U0001F600", 4},
                    EncodeCase{"LineEndsKept", u"x\r\n", 3},
                    EncodeCase{"FullSizedPayload", std::u16string(8185, u'x'), 8185}),
    testutil::CaseName());

TEST(EncodeRemoteDatagram, WritesTheHeaderThenUtf8) {
  EXPECT_EQ(EncodeRemoteDatagram(u"\u00E4b"),
            (Bytes{0x02, 'L', 'V', 'X', 'M', 'L', 0x02, 0xC3, 0xA4, 'b'}));
}

TEST(EncodeRemoteDatagram, EmptyTextGivesADatagramThatIsDropped) {
  const Bytes datagram = EncodeRemoteDatagram(u"");
  EXPECT_EQ(datagram, Datagram(kHead));
  EXPECT_EQ(DecodeRemoteDatagram(datagram), std::nullopt);
}

TEST(EncodeRemoteDatagram, LoneSurrogateArrivesAsReplacementCharacter) {
  const std::u16string text = {u'a', char16_t{0xD800}, u'b'};
  EXPECT_EQ(DecodeRemoteDatagram(EncodeRemoteDatagram(text)), u"a\uFFFDb");
}

}  // namespace
}  // namespace ostrivane
