#include "relay/remote_command.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "support/test_util.h"
#include "support/utf8.h"

namespace ostrivane {
namespace {

// Latin-1 where it fits, '?' elsewhere: a code page of the test's own, so
// that these tests do not depend on the system's conversion.
std::string Latin1OrQuestionMark(std::u16string_view text) {
  std::string out;
  for (const char16_t c : text) out += c <= 0xFF ? static_cast<char>(c) : '?';
  return out;
}

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<LyravoxIPC><Remote><";
const std::string kTail = "/></Remote></LyravoxIPC>\n";

struct DocumentCase {
  const char* name;
  std::u16string action;
  std::u16string param1;
  std::u16string param2;
  std::string element;  // the command element without its "<" and "/>"
};

void PrintTo(const DocumentCase& c, std::ostream* os) { *os << c.name; }

class RemoteCommandDocumentTest : public testing::TestWithParam<DocumentCase> {};

TEST_P(RemoteCommandDocumentTest, BuildsExactBytes) {
  const auto& c = GetParam();
  EXPECT_EQ(BuildRemoteCommandDocument(c.action, c.param1, c.param2, Latin1OrQuestionMark),
            kHead + c.element + kTail);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemoteCommandDocumentTest,
    testing::Values(DocumentCase{"WorkedExample", u"Next", u"1", u"",
                                 R"(Next Param1="1" Param2="")"},
                    DocumentCase{"AllEmpty", u"", u"", u"", R"( Param1="" Param2="")"},
                    DocumentCase{"FiveEscapesInOrder", u"A", u"&<>'\"", u"x",
                                 R"(A Param1="&amp;&lt;&gt;&apos;&quot;" Param2="x")"},
                    DocumentCase{"EntityTextEscapedAgain", u"A", u"&amp;", u"&quot;",
                                 R"(A Param1="&amp;amp;" Param2="&amp;quot;")"},
                    DocumentCase{"MarkupInNameUnchanged", u"<a&b/>=\"'", u"", u"",
                                 "<a&b/>=\"' Param1=\"\" Param2=\"\""},
                    DocumentCase{"TabLineBreaksAndControlsKeptInValues", u"A", u"a\tb",
                                 u"\r\n\x01\x7F", "A Param1=\"a\tb\" Param2=\"\r\n\x01\x7F\""},
                    DocumentCase{"OtherNameBytesAccepted", u"\x01\x0B\x0C\u00A0\u00FF", u"", u"",
                                 "\x01\x0B\x0C\xA0\xFF Param1=\"\" Param2=\"\""},
                    DocumentCase{"HighBytesUnchangedUnmappableReplaced", u"\u00C4", u"\u00E4\u0416",
                                 u"\u00DF\U0001F600", "\xC4 Param1=\"\xE4?\" Param2=\"\xDF??\""}),
    testutil::CaseName());

TEST(RemoteCommandDocumentTest, WorkedExamplePiecesByteForByte) {
  const std::string doc = BuildRemoteCommandDocument(u"Next", u"1", u"", Latin1OrQuestionMark);
  const std::string declaration = R"(<?xml version="1.0" encoding="windows-1252"?>)";
  ASSERT_EQ(declaration.size(), 45U);
  EXPECT_EQ(kRemoteCommandDeclaration, declaration);
  EXPECT_EQ(doc, declaration + "\x0A" +
                     R"(<LyravoxIPC><Remote><Next Param1="1" Param2=""/></Remote></LyravoxIPC>)" +
                     "\x0A");
  EXPECT_EQ(doc.size(), 45U + 1U + 70U + 1U);
}

TEST(RemoteCommandDocumentTest, EncoderDecidesTheBytes) {
  const auto utf8 = [](std::u16string_view t) { return Utf16ToUtf8(t); };
  EXPECT_EQ(BuildRemoteCommandDocument(u"\u00E4", u"\u0416", u"", utf8),
            kHead + "\xC3\xA4 Param1=\"\xD0\x96\" Param2=\"\"" + kTail);
}

struct RefusedCase {
  const char* name;
  std::u16string action;
  std::string encodedName;
  std::string message;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class RefusedActionTest : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedActionTest, RaisesIllegalNodeName) {
  const auto& c = GetParam();
  int encoded = 0;
  const auto counting = [&encoded](std::u16string_view t) {
    ++encoded;
    return Latin1OrQuestionMark(t);
  };
  try {
    BuildRemoteCommandDocument(c.action, u"p1", u"p2", counting);
    FAIL() << "no exception";
  } catch (const EIllegalNodeName& e) {
    EXPECT_EQ(e.Name(), c.encodedName);
    EXPECT_EQ(std::string(e.what()), c.message);
  }
  EXPECT_EQ(encoded, 1) << "the parameters are not converted once the name is refused";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedActionTest,
    testing::Values(
        RefusedCase{"LeadingSpace", u" Next", " Next", "Illegal character in node name \" Next\""},
        RefusedCase{"TrailingSpace", u"Next ", "Next ", "Illegal character in node name \"Next \""},
        RefusedCase{"TwoWords", u"Next Page", "Next Page",
                    "Illegal character in node name \"Next Page\""},
        RefusedCase{"Tab", u"a\tb", "a\tb", "Illegal character in node name \"a\tb\""},
        RefusedCase{"LineFeed", u"a\n", "a\n", "Illegal character in node name \"a\n\""},
        RefusedCase{"CarriageReturn", u"\ra", "\ra", "Illegal character in node name \"\ra\""},
        // The raw name stays 8-bit; the message reads it as code page 1252.
        RefusedCase{"EightBitName", u"\u00E4 \u0080", "\xE4 \x80",
                    "Illegal character in node name \"\xC3\xA4 \xE2\x82\xAC\""}),
    testutil::CaseName());

TEST(RefusedActionTest, RefusesByTheEncodedBytes) {
  // U+3000 (ideographic space) is no refused character, but an encoder may
  // turn it into a space; then the name is refused.
  const auto spaceForWide = [](std::u16string_view t) {
    std::string out;
    for (const char16_t c : t) out += c == u'\u3000' ? ' ' : static_cast<char>(c & 0x7F);
    return out;
  };
  EXPECT_THROW(BuildRemoteCommandDocument(u"a\u3000b", u"", u"", spaceForWide), EIllegalNodeName);
  EXPECT_NO_THROW(BuildRemoteCommandDocument(u"a\u3000b", u"", u"", Latin1OrQuestionMark));
}

}  // namespace
}  // namespace ostrivane
