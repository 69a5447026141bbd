// The tolerant text-to-number conversion beside the C library's strtod on
// the same texts (strtod gets them in ASCII with "." as the decimal mark).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/dutil.h"
#include "support/variant.h"

namespace {

struct Sample {
  std::u16string tolerant;  // as the tolerant conversion sees it
  std::string ascii;        // the same number for strtod
};

std::u16string Widen(const std::string& s) { return {s.begin(), s.end()}; }

Sample MakeSample(int which) {
  switch (which) {
    case 0:
      return {u"12,5", "12.5"};
    case 1:
      return {u"1.234.567,89", "1234567.89"};
    case 2:
      return {u"-3.14159265358979e-12", "-3.14159265358979e-12"};
    case 3:
      return {u"\u0661\u0662\u0663\u0664,\u0665", "1234.5"};
    default: {
      const std::string digits(400, '7');
      return {Widen("0." + digits), "0." + digits};
    }
  }
}

const char* SampleLabel(int which) {
  static const char* const kLabels[] = {"short comma", "thousands", "exponent", "Arabic-Indic",
                                        "400 digits"};
  return kLabels[which];
}

void BM_TryStrToFloatTolerant(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  const Sample sample = MakeSample(which);
  double value = 0.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ostrivane::TryStrToFloatTolerant(sample.tolerant, value));
    benchmark::DoNotOptimize(value);
  }
  state.SetLabel(SampleLabel(which));
}
BENCHMARK(BM_TryStrToFloatTolerant)->DenseRange(0, 4);

void BM_Strtod(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  const Sample sample = MakeSample(which);
  for (auto _ : state) {
    double value = std::strtod(sample.ascii.c_str(), nullptr);
    benchmark::DoNotOptimize(value);
  }
  state.SetLabel(SampleLabel(which));
}
BENCHMARK(BM_Strtod)->DenseRange(0, 4);

// The whole path of a text Variant to double with the tolerant slot installed.
void BM_VariantTextToDouble(benchmark::State& state) {
  ostrivane::InstallTolerantVariantConversions();
  const ostrivane::Variant v(std::u16string(u"1.234,5"));
  for (auto _ : state) benchmark::DoNotOptimize(v.ToDouble());
}
BENCHMARK(BM_VariantTextToDouble);

}  // namespace
