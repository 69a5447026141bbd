// Decoding of remote datagrams: the work the main thread does per datagram
// before anything is relayed.
#include <benchmark/benchmark.h>

#include <vector>

#include "net/remote_datagram.h"

namespace {

std::vector<std::uint8_t> MakeDatagram(std::size_t size, bool multibyte) {
  std::vector<std::uint8_t> d{0x02, 'L', 'V', 'X', 'M', 'L', 0x02};
  const std::vector<std::uint8_t> unit =
      multibyte ? std::vector<std::uint8_t>{0xC3, 0xA4, 0xE2, 0x82, 0xAC, 'x'}  // ä € x
                : std::vector<std::uint8_t>{'<', 'a', ' ', 'b', '=', '"'};
  while (d.size() < size) d.push_back(unit[d.size() % unit.size()]);
  d.resize(size);
  // Do not end inside a sequence.
  while (multibyte && (d.back() & 0xC0U) == 0x80U) d.back() = 'x';
  while (multibyte && d.back() >= 0xC0U) d.back() = 'x';
  return d;
}

void BM_DecodeAscii8K(benchmark::State& state) {
  const auto d = MakeDatagram(8192, false);
  for (auto _ : state) benchmark::DoNotOptimize(ostrivane::DecodeRemoteDatagram(d));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 8192);
}
BENCHMARK(BM_DecodeAscii8K);

void BM_DecodeMultibyte8K(benchmark::State& state) {
  const auto d = MakeDatagram(8192, true);
  for (auto _ : state) benchmark::DoNotOptimize(ostrivane::DecodeRemoteDatagram(d));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 8192);
}
BENCHMARK(BM_DecodeMultibyte8K);

void BM_RejectBadHeader8K(benchmark::State& state) {
  auto d = MakeDatagram(8192, false);
  d[1] = 'l';
  for (auto _ : state) benchmark::DoNotOptimize(ostrivane::DecodeRemoteDatagram(d));
}
BENCHMARK(BM_RejectBadHeader8K);

}  // namespace
