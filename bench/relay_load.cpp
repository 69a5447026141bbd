// The relay benchmark's load: sends remote datagrams to a relay and reads
// what the relay delivers at the endpoint, with the time of each arrival.
// bench/relay_bench.py runs it inside the network namespace it has made,
// once per mode and size, and hands it two sockets:
//   SENDER    a UDP socket connected to the group and port, its multicast
//             interface set to the sending end of the namespace's veth pair
//   ENDPOINT  the endpoint the relays deliver to (a Unix datagram socket,
//             or a UDP socket on loopback for the Windows relays under Wine)
// It opens no socket of its own and chooses no destination.
//
// Usage: relay-load SENDER-FD ENDPOINT-FD MODE SIZE COUNT FIRST BUDGET
//   MODE    closed (one command in flight), window:N (N in flight),
//           paced:R (R commands a second, each sent on time)
//   SIZE    bytes of command text after the header
//   COUNT   commands to send, numbered FIRST, FIRST + 1, ...
//   BUDGET  seconds after which closed and window runs send no more
// Prints one line: received, lost, elapsed_ns, p50_ns, p99_ns.
//
// Closed loop and window run in one thread, which reads an arrival whenever
// it waits for one. Paced, the reader has a thread of its own, so that the
// sender keeps its times.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

// The sockets the driver handed over.
int g_senderFd = -1;
int g_endpointFd = -1;
constexpr std::string_view kHeader("\x02LVXML\x02");
// A command that has not arrived this long after the last arrival is lost.
constexpr std::int64_t kLostAfterNs = 250'000'000;

std::int64_t Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "relay-load: %s: %s\n", what, std::strerror(errno));
  std::exit(1);
}

// The datagrams: the header, then `<c n="000000042">` and 'x' up to the
// size. Only the nine digits change from one to the next.
class Sender {
 public:
  explicit Sender(std::size_t size) {
    const std::string head = "<c n=\"000000000\">";
    datagram_.assign(kHeader.begin(), kHeader.end());
    datagram_ += head;
    if (size > head.size()) datagram_.append(size - head.size(), 'x');
    datagram_.resize(kHeader.size() + std::max(size, head.size()));
  }

  void Send(std::uint64_t seq) {
    for (std::size_t k = 0; k < 9; ++k, seq /= 10) {
      datagram_[kDigits + 8 - k] = static_cast<char>('0' + seq % 10);
    }
    while (::send(g_senderFd, datagram_.data(), datagram_.size(), 0) < 0) {
      if (errno != EINTR && errno != ENOBUFS && errno != EAGAIN) Fail("send");
    }
  }

 private:
  static constexpr std::size_t kDigits = kHeader.size() + 6;  // after `<c n="`
  std::string datagram_;
};

// One arrival at the endpoint: the command's number (nothing for a message
// that carries none) and when it was read.
struct Arrival {
  std::optional<std::uint64_t> seq;
  std::int64_t at;
};

class Reader {
 public:
  // Blocking reads that give up after `timeout_ns`. The endpoint's file
  // description is shared with the driver, which reads without blocking:
  // its flags are put back at the end.
  Reader() : flags_(::fcntl(g_endpointFd, F_GETFL)) {
    if (flags_ < 0) Fail("endpoint");
    if (::fcntl(g_endpointFd, F_SETFL, flags_ & ~O_NONBLOCK) != 0) Fail("endpoint flags");
    timeval timeout{};
    timeout.tv_sec = kLostAfterNs / 1'000'000'000;
    timeout.tv_usec = (kLostAfterNs % 1'000'000'000) / 1000;
    if (::setsockopt(g_endpointFd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
      Fail("endpoint timeout");
    }
  }
  ~Reader() {
    const timeval none{};
    ::setsockopt(g_endpointFd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
    ::fcntl(g_endpointFd, F_SETFL, flags_);
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // The next message, or nothing when none came within the timeout.
  std::optional<Arrival> Next() {
    for (;;) {
      const ssize_t n = ::recv(g_endpointFd, buffer_.data(), buffer_.size(), 0);
      if (n >= 0) return Arrival{SequenceOf(static_cast<std::size_t>(n)), Now()};
      if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
      if (errno != EINTR) Fail("recv");
    }
  }

 private:
  // The number after `n="` in the message's first 64 bytes.
  [[nodiscard]] std::optional<std::uint64_t> SequenceOf(std::size_t size) const {
    const std::string_view message(buffer_.data(), std::min<std::size_t>(size, 64));
    const std::size_t at = message.find("n=\"");
    if (at == std::string_view::npos || message.size() < at + 12) return std::nullopt;
    std::uint64_t seq = 0;
    const char* first = message.data() + at + 3;
    const auto [end, error] = std::from_chars(first, first + 9, seq);
    if (error != std::errc() || end != first + 9) return std::nullopt;
    return seq;
  }

  int flags_;
  std::array<char, 65536> buffer_{};
};

struct Result {
  std::vector<std::int64_t> latencies;
  std::size_t lost = 0;
  std::int64_t elapsed = 0;
};

Result Closed(Sender& sender, Reader& reader, std::uint64_t first, std::size_t count,
              std::int64_t budget) {
  Result r;
  r.latencies.reserve(count);
  const std::int64_t started = Now();
  for (std::uint64_t seq = first; seq < first + count; ++seq) {
    if (Now() - started > budget) break;
    const std::int64_t sent = Now();
    sender.Send(seq);
    for (;;) {
      const auto got = reader.Next();
      if (!got) {
        ++r.lost;
        break;
      }
      if (got->seq == seq) {
        r.latencies.push_back(got->at - sent);
        break;
      }
    }
  }
  r.elapsed = Now() - started;
  return r;
}

Result Window(Sender& sender, Reader& reader, std::uint64_t first, std::size_t count,
              std::size_t window, std::int64_t budget) {
  Result r;
  r.latencies.reserve(count);
  std::vector<std::int64_t> sentAt(count, -1);  // -1: not in flight
  std::size_t next = 0;
  std::size_t end = count;
  std::size_t inFlight = 0;
  const std::int64_t started = Now();
  while (next < end || inFlight > 0) {
    if (next < end && Now() - started > budget) end = next;
    for (; next < end && inFlight < window; ++next, ++inFlight) {
      sentAt[next] = Now();
      sender.Send(first + next);
    }
    const auto got = reader.Next();
    if (!got) {
      // Nothing for a while: whatever is in flight is lost.
      r.lost += inFlight;
      inFlight = 0;
      std::fill(sentAt.begin(), sentAt.begin() + static_cast<std::ptrdiff_t>(next), -1);
      continue;
    }
    if (!got->seq || *got->seq < first || *got->seq - first >= next) continue;
    std::int64_t& sent = sentAt[*got->seq - first];
    if (sent < 0) continue;
    r.latencies.push_back(got->at - sent);
    sent = -1;
    --inFlight;
  }
  r.elapsed = Now() - started;
  return r;
}

Result Paced(Sender& sender, Reader& reader, std::uint64_t first, std::size_t count,
             std::int64_t perSecond) {
  Result r;
  std::vector<std::int64_t> sentAt(count, -1);
  std::vector<std::int64_t> arrivedAt(count, -1);
  std::atomic<bool> sending{true};
  const std::int64_t started = Now();
  std::thread readerThread([&] {
    std::size_t received = 0;
    while (received < count) {
      const auto got = reader.Next();
      if (!got) {
        if (!sending.load()) break;  // the last send was a timeout ago
        continue;
      }
      if (!got->seq || *got->seq < first || *got->seq - first >= count) continue;
      std::int64_t& at = arrivedAt[*got->seq - first];
      if (at < 0) {
        at = got->at;
        ++received;
      }
    }
  });
  const std::int64_t interval = 1'000'000'000 / perSecond;
  for (std::size_t i = 0; i < count; ++i) {
    const std::int64_t due = started + static_cast<std::int64_t>(i) * interval;
    timespec wake{};
    wake.tv_sec = static_cast<time_t>(due / 1'000'000'000);
    wake.tv_nsec = static_cast<long>(due % 1'000'000'000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
    }
    sentAt[i] = Now();
    sender.Send(first + i);
  }
  sending.store(false);
  readerThread.join();
  r.elapsed = Now() - started;
  for (std::size_t i = 0; i < count; ++i) {
    if (arrivedAt[i] >= 0) {
      r.latencies.push_back(arrivedAt[i] - sentAt[i]);
    } else {
      ++r.lost;
    }
  }
  return r;
}

// The value at `fraction` of the sorted latencies (nearest rank).
std::int64_t Percentile(const std::vector<std::int64_t>& sorted, double fraction) {
  if (sorted.empty()) return -1;
  const auto last = static_cast<double>(sorted.size() - 1);
  const auto index = static_cast<std::size_t>(std::lround(fraction * last));
  return sorted[std::min(index, sorted.size() - 1)];
}

template <typename T>
std::optional<T> Number(std::string_view text) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

int Usage() {
  std::fprintf(stderr,
               "usage: relay-load SENDER-FD ENDPOINT-FD closed|window:N|paced:R SIZE COUNT FIRST "
               "BUDGET-SECONDS\n(run by bench/relay_bench.py, which hands it the two sockets)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 8) return Usage();
  const auto senderFd = Number<int>(argv[1]);
  const auto endpointFd = Number<int>(argv[2]);
  const std::string_view mode(argv[3]);
  const auto size = Number<std::size_t>(argv[4]);
  const auto count = Number<std::size_t>(argv[5]);
  const auto first = Number<std::uint64_t>(argv[6]);
  const auto budget = Number<std::uint32_t>(argv[7]);
  if (!senderFd || !endpointFd || !size || !count || !first || !budget ||
      *first + *count > 999'999'999) {
    return Usage();
  }
  g_senderFd = *senderFd;
  g_endpointFd = *endpointFd;
  // The sockets come from the driver, made inside its namespace; without
  // its mark this program sends nothing.
  const char* inside = std::getenv("OSTRIVANE_RELAY_BENCH_NS");
  if (inside == nullptr || std::string_view(inside) != "1") {
    std::fprintf(stderr, "relay-load: runs only inside bench/relay_bench.py's namespace\n");
    return 2;
  }

  Sender sender(*size);
  Reader reader;
  const std::int64_t budgetNs = std::int64_t{*budget} * 1'000'000'000;
  Result r;
  if (mode == "closed") {
    r = Closed(sender, reader, *first, *count, budgetNs);
  } else if (mode.starts_with("window:")) {
    const auto window = Number<std::size_t>(mode.substr(7));
    if (!window || *window == 0) return Usage();
    r = Window(sender, reader, *first, *count, *window, budgetNs);
  } else if (mode.starts_with("paced:")) {
    const auto rate = Number<std::int64_t>(mode.substr(6));
    if (!rate || *rate <= 0 || *rate > 1'000'000) return Usage();
    r = Paced(sender, reader, *first, *count, *rate);
  } else {
    return Usage();
  }
  std::sort(r.latencies.begin(), r.latencies.end());
  std::printf("received %zu lost %zu elapsed_ns %lld p50_ns %lld p99_ns %lld\n", r.latencies.size(),
              r.lost, static_cast<long long>(r.elapsed),
              static_cast<long long>(Percentile(r.latencies, 0.5)),
              static_cast<long long>(Percentile(r.latencies, 0.99)));
  return 0;
}
