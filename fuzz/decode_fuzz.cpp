// Remote datagram decoding on arbitrary bytes: no crash, no read outside the
// datagram, and an accepted datagram's text round-trips to its payload.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "net/remote_datagram.h"
#include "support/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> datagram(data, size);
  const auto text = ostrivane::DecodeRemoteDatagram(datagram);
  if (text) {
    if (size < 8 || text->empty() || text->size() > size - 7) std::abort();
    const std::string back = ostrivane::Utf16ToUtf8(*text);
    if (back.size() != size - 7 ||
        back.compare(0, back.size(), reinterpret_cast<const char*>(data) + 7, size - 7) != 0) {
      std::abort();
    }
  }
  return 0;
}
