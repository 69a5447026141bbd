// Variant: the dynamically typed value that carries parameters and results
// (empty, null, integers, floating point, currency, date, boolean, text,
// interface reference). Copies have value semantics; empty and null differ.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

#include "support/dutil.h"

namespace ostrivane {

// Type codes of the Variant runtime (VARTYPE numbering).
enum class VarType : std::uint16_t {
  Empty = 0,
  Null = 1,
  SmallInt = 2,
  Integer = 3,
  Single = 4,
  Double = 5,
  Currency = 6,
  Date = 7,
  OleStr = 8,
  Boolean = 11,
  Unknown = 13,
  ShortInt = 16,
  Byte = 17,
  Word = 18,
  LongWord = 19,
  Int64 = 20,
  UInt64 = 21,
  UString = 0x102,
};

// The runtime's name for a type code, as used in its error messages. A code
// without a name reads "$" and four hexadecimal digits ("$000F"); that text
// stays valid until the calling thread's next call.
std::string_view VarTypeAsText(VarType type) noexcept;

// Base of everything a Variant can hold by interface reference.
class IInterface {
 public:
  virtual ~IInterface() = default;
};

// Fixed-point amount with four decimal places.
struct CurrencyValue {
  std::int64_t scaled = 0;  // value * 10000
  friend bool operator==(CurrencyValue, CurrencyValue) = default;
};

// Days since 1899-12-30, fraction = time of day.
struct DateValue {
  double days = 0.0;
  friend bool operator==(DateValue, DateValue) = default;
};

// "Could not convert variant of type (%s) into type (%s)"
class EVariantTypeCastError : public std::runtime_error {
 public:
  EVariantTypeCastError(VarType from, VarType to);
};

// "Overflow while converting variant of type (%s) into type (%s)"
class EVariantOverflowError : public std::runtime_error {
 public:
  EVariantOverflowError(VarType from, VarType to);
};

class Variant {
 public:
  struct NullTag {
    friend bool operator==(NullTag, NullTag) = default;
  };

  Variant() noexcept = default;  // empty
  static Variant Null() noexcept;

  Variant(bool v) noexcept;  // NOLINT(google-explicit-constructor)
  Variant(std::int8_t v) noexcept;
  Variant(std::uint8_t v) noexcept;
  Variant(std::int16_t v) noexcept;
  Variant(std::uint16_t v) noexcept;
  Variant(std::int32_t v) noexcept;
  Variant(std::uint32_t v) noexcept;
  Variant(std::int64_t v) noexcept;
  Variant(std::uint64_t v) noexcept;
  Variant(float v) noexcept;
  Variant(double v) noexcept;
  Variant(CurrencyValue v) noexcept;
  Variant(DateValue v) noexcept;
  Variant(std::u16string v) noexcept;
  Variant(const char16_t* v);
  Variant(std::shared_ptr<IInterface> v) noexcept;
  Variant(const char*) = delete;  // would silently become a boolean

  [[nodiscard]] VarType Type() const noexcept;
  [[nodiscard]] bool IsEmpty() const noexcept;
  [[nodiscard]] bool IsNull() const noexcept;

  // Conversions of the Variant runtime. They throw EVariantTypeCastError when
  // the value cannot be converted, EVariantOverflowError when it is out of
  // the target's range. Empty converts to 0 (or ""); null and interfaces
  // convert to nothing; a boolean is -1 (true) or 0.
  //
  // ToDouble of text: the text-to-double slot with kLocaleUserDefault and no
  // flags; S_OK gives the value; DISP_E_TYPEMISMATCH makes it try the plain
  // conversion (TryStrToFloat) with the process's decimal separator; any
  // other answer, or both failing, is the type-cast error.
  [[nodiscard]] double ToDouble() const;
  // Floating point, currency and dates round to the nearest integer, ties to
  // even. Text is read as a decimal integer, else by the system's
  // text-to-Int32 conversion (VarI4FromStr), else by the text-to-double slot
  // rounded ties to even; when the slot answers DISP_E_TYPEMISMATCH, "True"
  // and "False" (any case) give -1 and 0.
  [[nodiscard]] std::int64_t ToInt64() const;
  // As ToInt64, then checked against the 32-bit range.
  [[nodiscard]] std::int32_t ToInt32() const;
  // Integers in decimal; Double with 15 and Single with 7 significant digits
  // in the runtime's general format ("1.5", "1E20", "1.5E-5") with the
  // process's decimal separator; currency with up to four decimals; booleans
  // "True"/"False"; dates "yyyy-mm-dd" plus " hh:nn:ss" unless midnight.
  [[nodiscard]] std::u16string ToString() const;

  // The stored value when it has exactly that C++ type, nullptr otherwise.
  template <typename T>
  [[nodiscard]] const T* Get() const noexcept {
    return std::get_if<T>(&value_);
  }

  // Same type and same value (interfaces by identity).
  friend bool operator==(const Variant& a, const Variant& b) noexcept;

 private:
  explicit Variant(NullTag tag) noexcept : value_(tag) {}

  using Storage =
      std::variant<std::monostate, NullTag, bool, std::int8_t, std::uint8_t, std::int16_t,
                   std::uint16_t, std::int32_t, std::uint32_t, std::int64_t, std::uint64_t, float,
                   double, CurrencyValue, DateValue, std::u16string, std::shared_ptr<IInterface>>;
  Storage value_;
};

// The Variant runtime's two text-to-number slots. Each holds a function with
// the parameter list of VarR8FromStr / VarR4FromStr. The runtime fills them
// with the system's conversions (or its own stand-ins) before start-up code
// runs; start-up replaces them with the tolerant ones.
using VarR8FromStrFunc = HResult (*)(const char16_t* text, std::uint32_t locale,
                                     std::uint32_t flags, double* value);
using VarR4FromStrFunc = HResult (*)(const char16_t* text, std::uint32_t locale,
                                     std::uint32_t flags, float* value);

VarR8FromStrFunc GetVarR8FromStrSlot() noexcept;
VarR8FromStrFunc SetVarR8FromStrSlot(VarR8FromStrFunc f) noexcept;  // returns the previous
VarR4FromStrFunc GetVarR4FromStrSlot() noexcept;
VarR4FromStrFunc SetVarR4FromStrSlot(VarR4FromStrFunc f) noexcept;  // returns the previous

// The user's default locale, as the runtime passes it to the slots.
inline constexpr std::uint32_t kLocaleUserDefault = 0x400;

}  // namespace ostrivane
