// lvx-send, run as a program, sending to a socket of the test's own on the
// loopback address only.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/test_util.h"
#include "tools/lvx_tools_test_process.h"

namespace ostrivane {
namespace {

using testutil::RunProcess;

const std::string kHead("\x02LVXML\x02", 7);
const std::string kDocHead =
    "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<LyravoxIPC><Remote><";
const std::string kDocTail = "/></Remote></LyravoxIPC>\n";

// A UDP socket on 127.0.0.1 at a free port.
class LoopbackReceiver {
 public:
  LoopbackReceiver() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot bind a loopback socket";
    }
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackReceiver() { ::close(fd_); }
  LoopbackReceiver(const LoopbackReceiver&) = delete;
  LoopbackReceiver& operator=(const LoopbackReceiver&) = delete;

  [[nodiscard]] std::string Port() const { return std::to_string(port_); }

  // The datagram waiting now, if any. Loopback delivers during the sender's
  // send, so once lvx-send has ended its datagram is here or nowhere.
  std::optional<std::string> Take() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) != 1) return std::nullopt;
    std::vector<char> buffer(70000);
    const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
    if (n < 0) return std::nullopt;
    return std::string(buffer.data(), static_cast<std::size_t>(n));
  }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

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
  void TearDown() override {
    if (!file_.empty()) std::filesystem::remove(file_);
  }

  std::vector<std::string> Command(const std::vector<std::string>& args,
                                   const std::string& fileContent = "") {
    std::vector<std::string> argv = {LVX_SEND, "--to", "127.0.0.1", "--port", receiver_.Port()};
    for (std::string a : args) {
      if (a == "{file}") {
        file_ = (std::filesystem::temp_directory_path() /
                 ("lvx-send-test-" + std::to_string(::getpid())))
                    .string();
        std::ofstream(file_, std::ios::binary) << fileContent;
        a = file_;
      }
      argv.push_back(a);
    }
    return argv;
  }

  LoopbackReceiver receiver_;
  std::string file_;
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
        RefusedCase{"ActionNotUtf8", {"--action", "\xFF"}, "", 2, "UTF-8"},
        RefusedCase{"EmptyPayload", {"--text", ""}, "", 2, "empty"},
        RefusedCase{"NotUtf8", {"--stdin"}, "\xC3", 2, "UTF-8"},
        RefusedCase{"OneByteTooLong", {"--stdin"}, std::string(65501, 'p'), 2, "too long"},
        RefusedCase{
            "RawOneByteTooLong", {"--raw", "--stdin"}, std::string(65508, 'r'), 2, "too long"},
        RefusedCase{"MissingFile", {"--file", "/nonexistent/lvx-send"}, "", 1, "cannot open"},
        RefusedCase{"FolderAsFile", {"--file", "/"}, "", 1, "cannot read"}),
    testutil::CaseName());

TEST_F(LvxSendTest, HelpDescribesTheToolAndSendsNothing) {
  const auto result = RunProcess({LVX_SEND, "--help"});
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

}  // namespace
}  // namespace ostrivane
