// lvx-send, run as a program, sending to a socket of the test's own on the
// loopback address only.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "net/remote_datagram.h"
#include "support/test_util.h"
#include "support/utf8.h"
#include "tools/lvx_tools_test_platform.h"

namespace ostrivane {
namespace {

using testutil::RunProcess;

const std::string kHead("\x02LVXML\x02", 7);
const std::string kDocHead =
    "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<LyravoxIPC><Remote><";
const std::string kDocTail = "/></Remote></LyravoxIPC>\n";

// Arguments after "--to 127.0.0.1 --port <port>"; "{file}" stands for a file
// that holds `fileContent`.
struct SendCase {
  const char* name;
  std::vector<std::string> args;
  std::string input;
  std::string datagram;
  std::string fileContent;
};

void PrintTo(const SendCase& c, std::ostream* os) { *os << c.name; }

class LvxSendTest : public testing::Test {
 protected:
  std::vector<std::string> Command(const std::vector<std::string>& args,
                                   const std::string& fileContent = "",
                                   const std::string& fileName = "payload") {
    std::vector<std::string> argv = {testutil::ToolPath(LVX_SEND), "--to", "127.0.0.1", "--port",
                                     receiver_.Port()};
    for (std::string a : args) {
      if (a == "{file}") {
        const std::filesystem::path file =
            dir_.Path() / std::filesystem::path(std::u8string(fileName.begin(), fileName.end()));
        std::ofstream(file, std::ios::binary) << fileContent;
        const std::u8string path = file.u8string();
        a.assign(path.begin(), path.end());
      }
      argv.push_back(a);
    }
    return argv;
  }

  testutil::LoopbackReceiver receiver_;
  testutil::ScopedTempDir dir_{"lvx-send"};
};

class LvxSendsTest : public LvxSendTest, public testing::WithParamInterface<SendCase> {};

TEST_P(LvxSendsTest, SendsExactlyOneDatagram) {
  const auto& c = GetParam();
  const auto result = RunProcess(Command(c.args, c.fileContent), c.input);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(receiver_.Take(), c.datagram);
  EXPECT_EQ(receiver_.Take(), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LvxSendsTest,
    testing::Values(
        SendCase{"Text", {"--text", "<a/>"}, "", kHead + "<a/>", ""},
        SendCase{"TextInlineValue", {"--text=x=y"}, "", kHead + "x=y", ""},
        SendCase{"Utf8Text",
                 {"--text", "\xC3\xA4\xF0\x9F\x98\x80"},
                 "",
                 kHead + "\xC3\xA4\xF0\x9F\x98\x80",
                 ""},
        SendCase{"Stdin", {"--stdin"}, "from stdin\n", kHead + "from stdin\n", ""},
        SendCase{"Dash", {"-"}, std::string("a\0b", 3), kHead + std::string("a\0b", 3), ""},
        SendCase{"File", {"--file", "{file}"}, "", kHead + "file\x02text", "file\x02text"},
        SendCase{"Action",
                 {"--action", "Next", "--param1", "1"},
                 "",
                 kHead + kDocHead + "Next Param1=\"1\" Param2=\"\"" + kDocTail,
                 ""},
        SendCase{"ActionUtf8AndEscaped",
                 {"--param2", "\xD0\x96", "--action", "N\xC3\xA4xt", "--param1", "<&>"},
                 "",
                 kHead + kDocHead + "N\xC3\xA4xt Param1=\"&lt;&amp;&gt;\" Param2=\"\xD0\x96\"" +
                     kDocTail,
                 ""},
        SendCase{"RawText", {"--raw", "--text", "xyz"}, "", "xyz", ""},
        SendCase{"RawEmpty", {"--raw", "--stdin"}, "", "", ""},
        SendCase{"RawNotUtf8", {"--raw", "--stdin"}, "\x02LVXML\x02\xFF", "\x02LVXML\x02\xFF", ""},
        SendCase{"LargestPayload",
                 {"--stdin"},
                 std::string(65500, 'p'),
                 kHead + std::string(65500, 'p'),
                 ""},
        SendCase{"LargestRaw",
                 {"--raw", "--stdin"},
                 std::string(65507, 'r'),
                 std::string(65507, 'r'),
                 ""}),
    testutil::CaseName());

struct RefusedCase {
  const char* name;
  std::vector<std::string> args;
  std::string input;
  int exitCode;
  std::string error;  // a part of the error output
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class LvxSendRefusesTest : public LvxSendTest, public testing::WithParamInterface<RefusedCase> {};

TEST_P(LvxSendRefusesTest, SendsNothing) {
  const auto& c = GetParam();
  const auto result = RunProcess(Command(c.args), c.input);
  EXPECT_EQ(result.exitCode, c.exitCode);
  EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(receiver_.Take(), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LvxSendRefusesTest,
    testing::Values(
        RefusedCase{"NoPayload", {}, "", 2, "no payload"},
        RefusedCase{"TwoPayloads", {"--text", "a", "--stdin"}, "", 2, "exactly one payload"},
        RefusedCase{"ParamWithoutAction", {"--text", "a", "--param1", "x"}, "", 2, "--action"},
        RefusedCase{"RawAction", {"--raw", "--action", "a"}, "", 2, "--raw"},
        RefusedCase{"UnknownOption", {"--text", "a", "--colour"}, "", 2, "unknown argument"},
        RefusedCase{"MissingValue", {"--text"}, "", 2, "needs a value"},
        RefusedCase{"ValueOnFlag", {"--text", "a", "--raw=1"}, "", 2, "takes no value"},
        RefusedCase{"BadAddress", {"--text", "a", "--to", "999.0.0.1"}, "", 2, "IPv4"},
        RefusedCase{"HostName", {"--text", "a", "--to", "localhost"}, "", 2, "IPv4"},
        RefusedCase{"BadInterface", {"--text", "a", "--interface", "eth0"}, "", 2, "--interface"},
        RefusedCase{"PortZero", {"--text", "a", "--port", "0"}, "", 2, "--port"},
        RefusedCase{"PortTooHigh", {"--text", "a", "--port", "65536"}, "", 2, "--port"},
        RefusedCase{"PortNotNumber", {"--text", "a", "--port", "1x"}, "", 2, "--port"},
        RefusedCase{"IllegalActionName",
                    {"--action", "Next Page"},
                    "",
                    2,
                    "Illegal character in node name \"Next Page\""},
        RefusedCase{"Utf8ActionNameShownAsUtf8",
                    {"--action", "\xC3\xA4\t"},
                    "",
                    2,
                    "Illegal character in node name \"\xC3\xA4\t\""},
        RefusedCase{"EmptyPayload", {"--text", ""}, "", 2, "empty"},
        RefusedCase{"NotUtf8", {"--stdin"}, "\xC3", 2, "UTF-8"},
        RefusedCase{"OneByteTooLong", {"--stdin"}, std::string(65501, 'p'), 2, "too long"},
        RefusedCase{
            "RawOneByteTooLong", {"--raw", "--stdin"}, std::string(65508, 'r'), 2, "too long"},
        RefusedCase{"MissingFile", {"--file", "/nonexistent/lvx-send"}, "", 1, "cannot open"}),
    testutil::CaseName());

TEST_F(LvxSendTest, HelpDescribesTheToolAndSendsNothing) {
  const auto result = RunProcess({testutil::ToolPath(LVX_SEND), "--help"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.out.find("Usage: lvx-send"), std::string::npos);
  EXPECT_NE(result.out.find("65507"), std::string::npos);
  EXPECT_EQ(result.err, "");
}

TEST_F(LvxSendTest, InterfaceOptionAcceptedForUnicast) {
  const auto result = RunProcess(Command({"--interface", "127.0.0.1", "--text", "i"}));
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(receiver_.Take(), kHead + "i");
}

TEST_F(LvxSendTest, FileNameBeyondAsciiIsFound) {
  const auto result =
      RunProcess(Command({"--file", "{file}"}, "named", "Gr\xC3\xBC\xC3\x9F\xD0\x96.xml"));
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(receiver_.Take(), kHead + "named");
}

TEST_F(LvxSendTest, ActionDocumentDecodesToTheTextOfTheArguments) {
  // "Nächste", split after the escape so that "c" is not read as a hex digit.
  const std::string action =
      "N\xC3\xA4"
      "chste";
  const auto result =
      RunProcess(Command({"--action", action, "--param1", "\xE2\x82\xAC", "--param2", "\"2\""}));
  EXPECT_EQ(result.exitCode, 0) << result.err;
  const auto datagram = receiver_.Take();
  ASSERT_TRUE(datagram);
  const auto text = DecodeRemoteDatagram(
      std::span(reinterpret_cast<const std::uint8_t*>(datagram->data()), datagram->size()));
  EXPECT_EQ(text,
            u"<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<LyravoxIPC><Remote>"
            u"<N\u00E4chste Param1=\"\u20AC\" Param2=\"&quot;2&quot;\"/></Remote></LyravoxIPC>\n");
}

}  // namespace
}  // namespace ostrivane
