#include "numtext.h"

#include <charconv>
#include <cmath>

namespace {

// Powers of ten that doubles hold exactly.
constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
// 10^e for e = -4 .. 5, as the nearest doubles; kDecade[e + 4].
constexpr double kDecade[] = {1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4, 1e5};

// The integer nearest to s (s >= 0, below 2^53), when the product that made s was close
// enough to decide the rounding: s carries a relative error of at most 2^-53, so only a
// value within a few of those of a half-way point could round differently from the exact
// product. False for those (the caller then takes the exact path).
bool RoundDecided(double s, LULONG* rounded) {
  const double down = std::floor(s);
  const double fraction = s - down;
  if (std::fabs(fraction - 0.5) <= s * 0x1p-50 + 0x1p-60) return false;
  *rounded = LULONG(down) + (fraction > 0.5 ? 1 : 0);
  return true;
}

// count digits of value (value < 10^count), leading zeros included.
CHAR* AppendDigits(CHAR* p, LULONG value, LONG count) {
  for (LONG i = count - 1; i >= 0; --i) {
    p[i] = CHAR('0' + value % 10);
    value /= 10;
  }
  return p + count;
}

}  // namespace

// NUMTEXT_MAX bounds every result, so the end pointer handed to to_chars is never the
// limit in practice; it only keeps a wrong caller from writing past its buffer.
CHAR* AppendUnsigned(CHAR* p, LULONG value) {
  // Two digits per step from the end of a scratch, then one copy.
  static const char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char scratch[20];
  char* q = scratch + sizeof(scratch);
  while (value >= 100) {
    const unsigned pair = unsigned(value % 100) * 2;
    value /= 100;
    *--q = kPairs[pair + 1];
    *--q = kPairs[pair];
  }
  if (value >= 10) {
    *--q = kPairs[value * 2 + 1];
    *--q = kPairs[value * 2];
  } else {
    *--q = char('0' + value);
  }
  const LONG length = LONG(scratch + sizeof(scratch) - q);
  for (LONG i = 0; i < length; ++i) p[i] = q[i];
  return p + length;
}

CHAR* AppendGeneral(CHAR* p, Real value) {
  // Fast path: a magnitude that prints without an exponent, as six significant digits
  // placed around the decimal point with trailing zeros dropped.
  const double magnitude = std::fabs(value);
  if (magnitude >= 1e-4 && magnitude < 999999.0) {
    LONG exponent = 5;  // 10^exponent <= magnitude, from 1e-4 (-4) to 1e5 (5)
    while (exponent > -4 && magnitude < kDecade[exponent + 4]) --exponent;
    LULONG digits = 0;
    if (RoundDecided(magnitude * kPow10[5 - exponent], &digits)) {
      if (digits == 1000000) {  // rounded up to the next power of ten
        digits = 100000;
        ++exponent;
      }
      if (digits >= 100000 && digits <= 999999 && exponent <= 5) {
        if (std::signbit(value)) *p++ = '-';
        CHAR text[6];
        AppendDigits(text, digits, 6);
        LONG last = 5;  // the last digit kept: trailing zeros of the fraction go
        while (last > exponent && last > 0 && text[last] == '0') --last;
        if (exponent < 0) {
          *p++ = '0';
          *p++ = '.';
          for (LONG i = exponent + 1; i < 0; ++i) *p++ = '0';
          for (LONG i = 0; i <= last; ++i) *p++ = text[i];
          return p;
        }
        for (LONG i = 0; i <= last; ++i) {
          *p++ = text[i];
          if (i == exponent && i < last) *p++ = '.';
        }
        return p;
      }
    }
  }
  return std::to_chars(p, p + NUMTEXT_MAX, value, std::chars_format::general, 6).ptr;
}

CHAR* AppendFixed(CHAR* p, Real value, LONG decimals) {
  // Fast path: few decimals of a moderate magnitude, as one rounded integer.
  const double magnitude = std::fabs(value);
  if (decimals >= 0 && decimals <= 6 && magnitude < 1e9) {
    LULONG scaled = 0;
    if (RoundDecided(magnitude * kPow10[decimals], &scaled)) {
      if (std::signbit(value)) *p++ = '-';
      const LULONG unit = LULONG(kPow10[decimals]);
      p = AppendUnsigned(p, scaled / unit);
      if (decimals == 0) return p;
      *p++ = '.';
      return AppendDigits(p, scaled % unit, decimals);
    }
  }
  return std::to_chars(p, p + NUMTEXT_MAX, value, std::chars_format::fixed, int(decimals)).ptr;
}

CHAR* AppendShortest(CHAR* p, Real value) { return std::to_chars(p, p + NUMTEXT_MAX, value).ptr; }

CHAR* AppendShortestSingle(CHAR* p, Real value) {
  const SReal single = SReal(value);
  if (Real(single) != value) return AppendShortest(p, value);
  return std::to_chars(p, p + NUMTEXT_MAX, single).ptr;
}
