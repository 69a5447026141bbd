// The relay benchmark's floor: a relay in one thread that does the least a
// relay can do. It receives the group's datagrams on port 19151, keeps those
// that start with the remote header, and sends each payload unchanged as one
// message to the endpoint: no decoding, no conversion, no hand-off.
//
// Usage: minimal-relay INTERFACE-ADDRESS ENDPOINT
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <vector>

#include "bench/minimal_relay_platform.h"

namespace {

constexpr char kGroup[] = "224.0.0.1";
constexpr std::uint16_t kPort = 19151;
constexpr std::array<std::uint8_t, 7> kHeader{0x02, 'L', 'V', 'X', 'M', 'L', 0x02};
constexpr std::size_t kBufferSize = 65536;

}  // namespace

int main(int argc, char** argv) {
  using namespace ostrivane;
  if (argc != 3) {
    std::fprintf(stderr, "usage: minimal-relay INTERFACE-ADDRESS ENDPOINT\n");
    return 2;
  }
  if (!platform::OpenGroupSocket(kGroup, argv[1], kPort)) return 1;
  if (!platform::AttachEndpoint(argv[2])) return 1;
  std::vector<std::uint8_t> buffer(kBufferSize);
  for (;;) {
    const long size = platform::ReceiveDatagram(buffer);
    if (size < 0) return 1;
    const auto datagram = std::span(buffer).first(static_cast<std::size_t>(size));
    if (datagram.size() <= kHeader.size() ||
        std::memcmp(datagram.data(), kHeader.data(), kHeader.size()) != 0) {
      continue;
    }
    platform::DeliverMessage(datagram.subspan(kHeader.size()));
  }
}
