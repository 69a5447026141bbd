// The locale-tolerant text-to-number conversion on arbitrary text. Its
// answer must be the plain conversion of the text as the documented steps
// rewrite it (a rewrite of the harness's own, over the library's digit
// folding), and must not change when
// - the process's decimal separator is "." or ",";
// - every "." and "," of the text trade places;
// - U+206E or U+206F is inserted anywhere;
// - ASCII digits are written as Arabic-Indic digits;
// - the text comes through the Variant runtime's slot (NUL-terminated).
//
// Input: the first byte picks where the digit-shape control goes, the rest
// is the text.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "support/dutil.h"
#include "support/dutil_number.h"
#include "support/format_settings.h"

namespace {

using ostrivane::fuzz::Check;

// Steps 2 to 5 of the conversion on folded text: several of one mark are
// thousands separators; of both marks the earlier one goes; what is left
// becomes `decimal`.
std::u16string Rewrite(std::u16string s, char16_t decimal) {
  const auto count = [&s](char16_t c) { return std::count(s.begin(), s.end(), c); };
  const auto erase = [&s](char16_t c) { std::erase(s, c); };
  if (count(u'.') >= 2) erase(u'.');
  if (count(u',') >= 2) erase(u',');
  const std::size_t dot = s.find(u'.');
  const std::size_t comma = s.find(u',');
  if (dot != std::u16string::npos && (comma == std::u16string::npos || comma < dot)) {
    erase(u',');
  } else if (comma != std::u16string::npos) {
    erase(u'.');
  }
  for (char16_t& c : s) {
    if (c == u'.' || c == u',') c = decimal;
  }
  return s;
}

// The answer of a conversion: whether it converted, and the value, the
// sign of a zero included.
template <typename Float>
struct Answer {
  bool ok = false;
  Float value = 777;
  friend bool operator==(const Answer& a, const Answer& b) {
    return a.ok == b.ok && a.value == b.value && std::signbit(a.value) == std::signbit(b.value);
  }
};

template <typename Float>
Answer<Float> Tolerant(std::u16string_view text, char16_t decimal) {
  ostrivane::SetDecimalSeparator(decimal);
  Answer<Float> a;
  a.ok = ostrivane::TryStrToFloatTolerant(text, a.value);
  return a;
}

// The ways of writing the same number that the input can ask for.
enum class Variation { CommaSeparator, MarksTraded, DigitShape, ArabicIndic };

template <typename Float>
void CheckTolerant(const std::u16string& text, Variation variation, std::size_t insertAt) {
  const Answer<Float> answer = Tolerant<Float>(text, u'.');

  Answer<Float> plain;
  plain.ok =
      ostrivane::TryStrToFloat(Rewrite(ostrivane::FoldDigits(text), u'.'), u'.', plain.value);
  Check(answer == plain, "the plain conversion of the rewritten text");

  std::u16string other = text;
  switch (variation) {
    case Variation::CommaSeparator:
      Check(Tolerant<Float>(text, u',') == answer, R"(the same under the separator ",")");
      return;
    case Variation::MarksTraded:
      for (char16_t& c : other) {
        if (c == u'.') {
          c = u',';
        } else if (c == u',') {
          c = u'.';
        }
      }
      Check(Tolerant<Float>(other, u'.') == answer, R"(the same with "." and "," traded)");
      return;
    case Variation::DigitShape:
      other.insert(insertAt, 1, insertAt % 2 == 0 ? u'\u206E' : u'\u206F');
      Check(Tolerant<Float>(other, u'.') == answer, "the same with a digit-shape control");
      return;
    case Variation::ArabicIndic:
      for (char16_t& c : other) {
        if (c >= u'0' && c <= u'9') c = static_cast<char16_t>(u'\u0660' + (c - u'0'));
      }
      Check(Tolerant<Float>(other, u'.') == answer, "the same in Arabic-Indic digits");
      return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ostrivane::fuzz::Input input(data, size);
  const std::uint8_t choice = input.Byte();
  const std::u16string text = ostrivane::fuzz::TextOf(input.Rest());
  const auto variation = static_cast<Variation>(choice % 4);
  const std::size_t insertAt = choice / 4U % (text.size() + 1);

  CheckTolerant<double>(text, variation, insertAt);
  CheckTolerant<float>(text, variation, insertAt);

  // The Variant runtime's slots see the text up to its first NUL.
  if (text.find(u'\0') == std::u16string::npos) {
    ostrivane::SetDecimalSeparator(u'.');
    const Answer<double> answer = Tolerant<double>(text, u'.');
    Answer<double> slot;
    const ostrivane::HResult r8 =
        ostrivane::VarR8FromStrTolerant(text.c_str(), 0x400, 0, &slot.value);
    slot.ok = r8 == ostrivane::kHResultOk;
    Check(r8 == ostrivane::kHResultOk || r8 == ostrivane::kDispETypeMismatch,
          "the slot answers S_OK or DISP_E_TYPEMISMATCH");
    Check(slot == answer, "the double slot answers as the conversion");
    const Answer<float> single = Tolerant<float>(text, u'.');
    Answer<float> slot4;
    const ostrivane::HResult r4 =
        ostrivane::VarR4FromStrTolerant(text.c_str(), 0x400, 0, &slot4.value);
    slot4.ok = r4 == ostrivane::kHResultOk;
    Check(slot4 == single, "the single slot answers as the conversion");
  }
  return 0;
}
