// The text path of one remote command: the decoding of a datagram into its
// UTF-16 text, and the conversion of that text to code page 1252, for an
// 8000-byte ASCII command and a mixed-script one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/remote_datagram.h"
#include "support/cp1252.h"
#include "support/utf8.h"

namespace {

constexpr std::size_t kCommandBytes = 8000;

// An XML command of `size` payload bytes built from `unit` repeated, cut at
// a character boundary (padded with 'x' to the size).
std::vector<std::uint8_t> MakePayload(std::size_t size, const std::string& unit) {
  std::vector<std::uint8_t> payload;
  while (payload.size() + unit.size() <= size)
    payload.insert(payload.end(), unit.begin(), unit.end());
  payload.resize(size, 'x');
  return payload;
}

std::vector<std::uint8_t> AsciiPayload() {
  return MakePayload(kCommandBytes, "<param name=\"slide\" value=\"next\"/>\n");
}

// Markup in ASCII around German, Greek, Cyrillic, Chinese and an emoji:
// about a third of the bytes are ASCII.
std::vector<std::uint8_t> MixedPayload() {
  return MakePayload(kCommandBytes,
                     "<t lang=\"x\">Gr\xC3\xBC\xC3\x9F"
                     "e \xCE\xBA\xCF\x8C\xCF\x83\xCE\xBC\xCE\xB5 "
                     "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 "
                     "\xE4\xB8\x96\xE7\x95\x8C \xF0\x9F\x98\x80</t>\n");
}

std::vector<std::uint8_t> Datagram(const std::vector<std::uint8_t>& payload) {
  const std::string_view start("\x02LVXML\x02");
  std::vector<std::uint8_t> d(start.begin(), start.end());
  d.reserve(start.size() + payload.size());
  d.insert(d.end(), payload.begin(), payload.end());
  return d;
}

void Decode(benchmark::State& state, const std::vector<std::uint8_t>& payload) {
  const auto d = Datagram(payload);
  for (auto _ : state) benchmark::DoNotOptimize(ostrivane::DecodeRemoteDatagram(d));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(d.size()));
}

void Convert(benchmark::State& state, const std::vector<std::uint8_t>& payload) {
  const std::u16string text = ostrivane::Utf8ToUtf16(payload).value();
  for (auto _ : state) benchmark::DoNotOptimize(ostrivane::Cp1252FromUtf16(text));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size() * 2));
}

// Both steps, as the relay takes them per command.
void DecodeAndConvert(benchmark::State& state, const std::vector<std::uint8_t>& payload) {
  const auto d = Datagram(payload);
  for (auto _ : state) {
    const auto text = ostrivane::DecodeRemoteDatagram(d);
    benchmark::DoNotOptimize(ostrivane::Cp1252FromUtf16(text.value()));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(d.size()));
}

void BM_DecodeAscii8000(benchmark::State& state) { Decode(state, AsciiPayload()); }
void BM_DecodeMixed8000(benchmark::State& state) { Decode(state, MixedPayload()); }
void BM_ConvertAscii8000(benchmark::State& state) { Convert(state, AsciiPayload()); }
void BM_ConvertMixed8000(benchmark::State& state) { Convert(state, MixedPayload()); }
void BM_DecodeAndConvertAscii8000(benchmark::State& state) {
  DecodeAndConvert(state, AsciiPayload());
}
void BM_DecodeAndConvertMixed8000(benchmark::State& state) {
  DecodeAndConvert(state, MixedPayload());
}
BENCHMARK(BM_DecodeAscii8000);
BENCHMARK(BM_DecodeMixed8000);
BENCHMARK(BM_ConvertAscii8000);
BENCHMARK(BM_ConvertMixed8000);
BENCHMARK(BM_DecodeAndConvertAscii8000);
BENCHMARK(BM_DecodeAndConvertMixed8000);

// A datagram with a wrong header is dropped before its payload is looked at.
void BM_RejectBadHeader8000(benchmark::State& state) {
  auto d = Datagram(AsciiPayload());
  d[1] = 'l';
  for (auto _ : state) benchmark::DoNotOptimize(ostrivane::DecodeRemoteDatagram(d));
}
BENCHMARK(BM_RejectBadHeader8000);

}  // namespace
