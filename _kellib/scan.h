// Number and word scanning with the rules of the C library's scanf conversions "%ld",
// "%f", "%lf" and "%s", over text ranges [p, end). The readers parse every token
// through these instead of sscanf: nothing here allocates, takes a locale or reads at
// or past end.
//
// The conventions kept (those of the C library this project runs on):
//  - every conversion first skips white space (blank, tab, LF, VT, FF, CR);
//  - "%ld": an optional sign and at least one decimal digit; a value beyond the
//    64-bit range saturates;
//  - "%f"/"%lf": an optional sign, then decimal digits with an optional point and an
//    optional exponent (".5", "5.", "1e-3"), or "0x" with hexadecimal digits and an
//    optional binary exponent, or "inf", "infinity", "nan" in any case. An exponent
//    marker without digits ("1e", "1e+") is consumed and ignored. Values beyond the
//    range become infinities, values below it zeros. "%f" rounds to single precision;
//  - "%s": at least one character that is not white space.
#pragma once

#include <cfloat>
#include <cstdint>

#include "c4d.h"

namespace scan {

inline bool IsSpace(CHAR c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool IsBlank(CHAR c) { return c == ' ' || c == '\t'; }

inline const CHAR* SkipSpace(const CHAR* p, const CHAR* end) {
  while (p < end && IsSpace(*p)) ++p;
  return p;
}

inline bool IsDigit(CHAR c) { return static_cast<unsigned char>(c - '0') < 10; }

// Numbers of more than 18 digits (value from the digits in [digits, q)).
bool ScanLongSlow(const CHAR* digits, const CHAR* q, bool negative, LLONG* value);

// Each conversion returns true and moves *p past what it consumed, or returns false
// with *p unchanged.
inline bool ScanLong(const CHAR** p, const CHAR* end, LLONG* value) {
  const CHAR* q = SkipSpace(*p, end);
  bool negative = false;
  if (q < end && (*q == '+' || *q == '-')) {
    negative = *q == '-';
    ++q;
  }
  if (q >= end || !IsDigit(*q)) return false;
  const CHAR* digits = q;
  unsigned long long acc = 0;
  for (; q < end && IsDigit(*q); ++q) acc = acc * 10 + static_cast<unsigned long long>(*q - '0');
  *p = q;
  if (q - digits > 18) return ScanLongSlow(digits, q, negative, value);
  *value = negative ? -static_cast<LLONG>(acc) : static_cast<LLONG>(acc);
  return true;
}
namespace detail {
// Exact decimal conversion for short numbers: a mantissa of at most Limits<T>::digits
// significant digits times a power of ten that T holds exactly gives the correctly
// rounded value in one multiplication or division. Everything else (and text that is no
// decimal number at all) returns false for the general path.
template <class T>
struct FastLimits;
template <>
struct FastLimits<double> {
  static constexpr int digits = 15;
  static constexpr int exponent = 22;
};
template <>
struct FastLimits<float> {
  static constexpr int digits = 7;
  static constexpr int exponent = 10;
};

inline constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The one rounding of a division is the exact result rounded only where the machine
// computes in the precision it stores (not on the x87 unit, which rounds twice).
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
inline constexpr bool kSingleRounding = true;
#else
inline constexpr bool kSingleRounding = false;
#endif

template <class T>
inline bool FastDecimal(const CHAR** q, const CHAR* end, T* value) {
  if (!kSingleRounding) return false;
  const CHAR* p = *q;
  std::uint64_t mantissa = 0;
  int exponent = 0;
  // Leading zeros, before and after the point, are no significant digits.
  const CHAR* start = p;
  while (p < end && *p == '0') ++p;
  const CHAR* digits = p;
  for (; p < end && IsDigit(*p); ++p) mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
  VLONG significant = p - digits;
  bool any = p > start;
  if (p < end && *p == '.') {
    const CHAR* fraction = ++p;
    if (significant == 0)
      while (p < end && *p == '0') ++p;
    const CHAR* fractionDigits = p;
    for (; p < end && IsDigit(*p) && significant + (p - fractionDigits) < 20; ++p)
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    significant += p - fractionDigits;
    if (p < end && IsDigit(*p)) return false;  // too many digits for this path
    exponent = -static_cast<int>(p - fraction);
    any = any || p > fraction;
  }
  if (!any || significant > FastLimits<T>::digits) return false;
  if (p < end && (*p | 0x20) == 'e') {
    const CHAR* e = p + 1;
    bool negative = false;
    if (e < end && (*e == '+' || *e == '-')) negative = *e++ == '-';
    int written = 0;
    for (; e < end && IsDigit(*e); ++e) {
      if (written > 1000) return false;
      written = written * 10 + (*e - '0');
    }
    exponent += negative ? -written : written;
    p = e;  // a marker without digits is consumed too
  }
  if (mantissa == 0) {
    *value = T(0);
  } else if (exponent < -FastLimits<T>::exponent || exponent > FastLimits<T>::exponent) {
    return false;
  } else {
    const T m = static_cast<T>(mantissa);
    const T scale = static_cast<T>(kPowersOfTen[exponent < 0 ? -exponent : exponent]);
    *value = exponent < 0 ? m / scale : m * scale;
  }
  *q = p;
  return true;
}

}  // namespace detail

// The commonest number of model files, digits with an optional point and fraction
// ("-49.900000" without its sign, "7", "0.5", ".25"), read into *value and *q moved
// past it when its digits (at most 19, a value of at most 2^53) and its fraction (at most
// 22 digits) give the correctly rounded value in one division: the value strtod gives.
// False for anything else (an exponent, hexadecimal, more digits, no digits, x87
// arithmetic), with
// *q unchanged: the caller's general reader decides.
inline bool ShortDecimal(const CHAR** q, const CHAR* end, double* value) {
  if (!detail::kSingleRounding) return false;
  const CHAR* p = *q;
  std::uint64_t mantissa = 0;
  const CHAR* start = p;
  while (p < end && IsDigit(*p)) mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p++ - '0');
  VLONG digits = p - start;
  VLONG fraction = 0;
  if (p < end && *p == '.') {
    const CHAR* first = ++p;
    while (p < end && IsDigit(*p)) mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p++ - '0');
    fraction = p - first;
    digits += fraction;
  }
  if (digits == 0 || digits > 19 || fraction > 22 || mantissa > (std::uint64_t{1} << 53)) return false;
  if (p < end && ((*p | 0x20) == 'e' || (*p | 0x20) == 'x')) return false;  // an exponent, or hexadecimal
  *value = static_cast<double>(mantissa) / detail::kPowersOfTen[fraction];
  *q = p;
  return true;
}

// Everything ScanDouble reads that is no short plain decimal number.
bool ScanDoubleGeneral(const CHAR** p, const CHAR* end, double* value);

inline bool ScanDouble(const CHAR** p, const CHAR* end, double* value) {
  const CHAR* q = SkipSpace(*p, end);
  bool negative = false;
  if (q < end && (*q == '+' || *q == '-')) negative = *q++ == '-';
  if (q < end && (IsDigit(*q) || *q == '.') && !(*q == '0' && q + 1 < end && (q[1] | 0x20) == 'x')) {
    double magnitude;
    if (detail::FastDecimal(&q, end, &magnitude)) {
      *value = negative ? -magnitude : magnitude;
      *p = q;
      return true;
    }
  }
  return ScanDoubleGeneral(p, end, value);
}
// True when "%f" reads a number at the start of [p, end); the value is computed only
// when the text does not start like a plain decimal number.
inline bool ReadsAsReal(const CHAR* p, const CHAR* end) {
  const CHAR* q = SkipSpace(p, end);
  if (q < end && (*q == '+' || *q == '-')) ++q;
  if (q < end && IsDigit(*q) && !(*q == '0' && q + 1 < end && (q[1] == 'x' || q[1] == 'X'))) return true;
  if (q + 1 < end && *q == '.' && IsDigit(q[1])) return true;
  double ignored;
  return ScanDouble(&p, end, &ignored);
}
bool ScanFloat(const CHAR** p, const CHAR* end, float* value);
bool ScanWord(const CHAR** p, const CHAR* end);

// A whole pattern of white space (matching any run of white space, also none), literal
// characters and the conversions %ld, %f, %lf and %s, matched from text. Returns the
// number of conversions stored before the first mismatch or the end of the text (like
// sscanf, except that empty text gives 0, not EOF). %ld values go to longs[], %f and
// %lf values to reals[], in pattern order (either may be null when the pattern has no
// such conversion); %s stores nothing but counts.
LONG ScanPattern(const CHAR* text, const CHAR* end, const CHAR* pattern, LLONG* longs, double* reals);

// Range helpers for zero-terminated text.
inline const CHAR* EndOf(const CHAR* text) {
  const CHAR* e = text;
  while (*e) ++e;
  return e;
}

}  // namespace scan
