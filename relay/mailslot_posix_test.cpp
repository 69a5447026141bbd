// The writer with real Unix datagram sockets in a private XDG_RUNTIME_DIR.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "relay/mailslot.h"
#include "relay/mailslot_endpoint.h"
#include "support/test_util.h"

namespace ostrivane {
namespace {

namespace fs = std::filesystem;

// A Unix datagram endpoint bound at a path, as the slot's owner makes it.
class Endpoint {
 public:
  explicit Endpoint(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) ADD_FAILURE() << "path too long: " << path;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      ADD_FAILURE() << "cannot bind " << path << ": " << std::strerror(errno);
    }
  }
  ~Endpoint() {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  // The next message; nullopt when none comes within a generous guard time.
  std::optional<std::string> Receive() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 10000) != 1) return std::nullopt;
    std::vector<char> buffer(65536);
    const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
    if (n < 0) return std::nullopt;
    return std::string(buffer.data(), static_cast<std::size_t>(n));
  }

  // Whether a message is waiting right now.
  bool Pending() {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

// The slot root "mailslot" in a private XDG_RUNTIME_DIR.
class MailSlotPosixTest : public testutil::TempRuntimeDirTest {
 protected:
  void SetUp() override {
    root_ = RuntimeDir() + "/mailslot";
    ASSERT_EQ(::mkdir(root_.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((root_ + "/Lyravox").c_str(), 0700), 0);
    path_ = root_ + "/Lyravox/Messages";
  }

  std::size_t WriteText(TMailSlotWriter& writer, const std::string& text) {
    return writer.Write(text.data(), text.size());
  }

  std::string root_;
  std::string path_;
};

std::size_t UnixQueueLength() {
  std::ifstream in("/proc/sys/net/unix/max_dgram_qlen");
  std::size_t n = 0;
  if (!(in >> n) || n == 0) n = 10;
  return n;
}

TEST_F(MailSlotPosixTest, EachWriteIsOneMessageWithItsBoundary) {
  Endpoint endpoint(path_);
  TMailSlotWriter writer(u"Lyravox\\Messages");
  const std::vector<std::string> messages = {"abc", "", std::string("x\0y", 3),
                                             std::string(8185, 'z'), "d"};
  for (const auto& m : messages) EXPECT_EQ(WriteText(writer, m), m.size());
  for (const auto& m : messages) EXPECT_EQ(endpoint.Receive(), m);
  EXPECT_FALSE(endpoint.Pending());
}

TEST_F(MailSlotPosixTest, MissingEndpointThenAppearing) {
  TMailSlotWriter writer(u"Lyravox\\Messages");
  EXPECT_EQ(WriteText(writer, "lost"), 0U);
  // The writer created nothing in the endpoint's place.
  EXPECT_FALSE(fs::exists(fs::symlink_status(path_)));
  Endpoint endpoint(path_);
  EXPECT_EQ(WriteText(writer, "found"), 5U);
  EXPECT_EQ(endpoint.Receive(), "found");
  EXPECT_FALSE(endpoint.Pending());
}

TEST_F(MailSlotPosixTest, MissingFoldersAreNotCreated) {
  TMailSlotWriter writer(u"Other\\Slot");
  EXPECT_EQ(WriteText(writer, "lost"), 0U);
  EXPECT_FALSE(fs::exists(root_ + "/Other"));
}

TEST_F(MailSlotPosixTest, EndpointRecreatedWhileWriterHoldsConnection) {
  TMailSlotWriter writer(u"Lyravox\\Messages");
  {
    Endpoint first(path_);
    EXPECT_EQ(WriteText(writer, "one"), 3U);
    EXPECT_EQ(first.Receive(), "one");
  }
  Endpoint second(path_);
  EXPECT_EQ(WriteText(writer, "two"), 3U);
  EXPECT_EQ(second.Receive(), "two");
  EXPECT_EQ(WriteText(writer, "three"), 5U);
  EXPECT_EQ(second.Receive(), "three");
}

TEST_F(MailSlotPosixTest, ReaderSlowForAMomentLosesNothing) {
  Endpoint endpoint(path_);
  const std::size_t count = UnixQueueLength() * 4 + 20;
  std::vector<std::string> received;
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (std::size_t i = 0; i < count; ++i) {
      auto m = endpoint.Receive();
      if (!m) break;
      received.push_back(*m);
    }
  });
  TMailSlotWriter writer(u"Lyravox\\Messages");
  std::vector<std::string> sent;
  for (std::size_t i = 0; i < count; ++i) {
    sent.push_back("message " + std::to_string(i));
    EXPECT_EQ(WriteText(writer, sent.back()), sent.back().size()) << i;
  }
  reader.join();
  EXPECT_EQ(received, sent);
}

TEST_F(MailSlotPosixTest, ReaderThatStoppedCostsTheMessageNotTheWriter) {
  Endpoint endpoint(path_);
  TMailSlotWriter writer(u"Lyravox\\Messages");
  // Fill the reader's queue until a message is refused.
  const std::size_t limit = UnixQueueLength() + 1000;
  std::size_t delivered = 0;
  while (delivered < limit && WriteText(writer, "fill") == 4U) ++delivered;
  ASSERT_LT(delivered, limit) << "the queue never filled up";
  // Once the reader reads again, the next message goes through.
  for (std::size_t i = 0; i < delivered; ++i) ASSERT_EQ(endpoint.Receive(), "fill");
  EXPECT_FALSE(endpoint.Pending());
  EXPECT_EQ(WriteText(writer, "again"), 5U);
  EXPECT_EQ(endpoint.Receive(), "again");
}

// A reader that has stopped reading costs the writer one bounded wait in
// all, not a wait per message: once its queue is found full, later messages
// are dropped at once until it takes one again.
TEST_F(MailSlotPosixTest, ReaderThatStoppedCostsOneBoundedWaitInAll) {
  using std::chrono::milliseconds;
  using std::chrono::steady_clock;
  Endpoint endpoint(path_);
  TMailSlotWriter writer(u"Lyravox\\Messages");
  const std::size_t limit = UnixQueueLength() + 1000;
  std::size_t delivered = 0;
  auto start = steady_clock::now();
  while (delivered < limit && WriteText(writer, "fill") == 4U) {
    ++delivered;
    start = steady_clock::now();
  }
  ASSERT_LT(delivered, limit) << "the queue never filled up";
  const auto firstRefusal = steady_clock::now() - start;
  // The refused message was waited for, as for a reader slow for a moment.
  EXPECT_GE(firstRefusal, milliseconds(400));
  EXPECT_LT(firstRefusal, milliseconds(1000));
  start = steady_clock::now();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(WriteText(writer, "dropped"), 0U) << i;
  EXPECT_LT(steady_clock::now() - start, milliseconds(200)) << "later messages waited too";
  // Reading again, the reader finds what was queued, and the next message
  // goes through.
  for (std::size_t i = 0; i < delivered; ++i) ASSERT_EQ(endpoint.Receive(), "fill");
  EXPECT_FALSE(endpoint.Pending());
  EXPECT_EQ(WriteText(writer, "again"), 5U);
  EXPECT_EQ(endpoint.Receive(), "again");
}

// A stop request ends a wait for room at once, from a signal handler as the
// program's is, and no later write waits. The request lasts for the rest of
// the process, so the test runs in a process of its own.
extern "C" void CancelOnSignal(int /*signal*/) { platform::CancelMailSlotWaits(); }

TEST_F(MailSlotPosixTest, StopRequestEndsTheWaitsForRoom) {
  Endpoint endpoint(path_);
  EXPECT_EXIT(
      {
        using std::chrono::milliseconds;
        using std::chrono::seconds;
        IMailSlotSystem& system = DefaultMailSlotSystem();
        const MailSlotHandle handle = system.Open(u"\\\\.\\mailslot\\Lyravox\\Messages");
        const std::uint8_t byte = 'x';
        std::size_t queued = 0;
        while (queued < 100000 &&
               system.Write(handle, &byte, 1, MailSlotClock::duration::zero()).status ==
                   MailSlotWriteStatus::Written) {
          ++queued;
        }
        struct sigaction action {};
        action.sa_handler = CancelOnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, nullptr);
        // SIGTERM comes 200 ms into a wait of 10 s, to whichever thread.
        std::thread stopper([] {
          std::this_thread::sleep_for(milliseconds(200));
          ::kill(::getpid(), SIGTERM);
        });
        auto start = MailSlotClock::now();
        const MailSlotWriteResult cut = system.Write(handle, &byte, 1, seconds(10));
        const auto cutAfter = MailSlotClock::now() - start;
        stopper.join();
        start = MailSlotClock::now();
        const MailSlotWriteResult later = system.Write(handle, &byte, 1, seconds(10));
        const auto laterAfter = MailSlotClock::now() - start;
        system.Close(handle);
        const bool ok = queued < 100000 && cut.status == MailSlotWriteStatus::Full &&
                        cutAfter >= milliseconds(150) && cutAfter < seconds(2) &&
                        later.status == MailSlotWriteStatus::Full && laterAfter < milliseconds(100);
        std::fprintf(
            stderr, "queued %zu, cut after %lld ms, later after %lld ms\n", queued,
            static_cast<long long>(std::chrono::duration_cast<milliseconds>(cutAfter).count()),
            static_cast<long long>(std::chrono::duration_cast<milliseconds>(laterAfter).count()));
        std::_Exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(MailSlotPosixTest, RootOthersCanWriteIntoIsNotUsed) {
  Endpoint endpoint(path_);
  ASSERT_EQ(::chmod(root_.c_str(), 0777), 0);
  TMailSlotWriter writer(u"Lyravox\\Messages");
  EXPECT_EQ(WriteText(writer, "x"), 0U);
  EXPECT_FALSE(endpoint.Pending());
}

TEST_F(MailSlotPosixTest, SendStringAndSendDataReachTheEndpoint) {
  Endpoint endpoint(path_);
  TMailSlotWriter::SendString(u"Lyravox\\Messages", u"Gr\u00FC\u00DF");
  TMailSlotWriter::SendData(u"Lyravox\\Messages", "\x01\x02", 2);
  EXPECT_EQ(endpoint.Receive(), "Gr\xFC\xDF");
  EXPECT_EQ(endpoint.Receive(), "\x01\x02");
}

TEST_F(MailSlotPosixTest, PathTooLongFailsTheOpenInsteadOfBeingCut) {
  const std::u16string name(200, u'n');
  const std::string full = root_ + "/" + std::string(name.size(), 'n');
  // An endpoint where the path would end if it were cut to fit.
  Endpoint cut(full.substr(0, kMaxMailSlotSocketPath));
  TMailSlotWriter writer(name);
  EXPECT_EQ(WriteText(writer, "x"), 0U);
  EXPECT_FALSE(cut.Pending());
}

}  // namespace
}  // namespace ostrivane
