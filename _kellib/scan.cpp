#include "scan.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

namespace scan {
namespace {

inline CHAR Lower(CHAR c) { return (c >= 'A' && c <= 'Z') ? static_cast<CHAR>(c - 'A' + 'a') : c; }

// True when [p, end) starts with word, compared without case.
bool StartsWithNoCase(const CHAR* p, const CHAR* end, const char* word) {
  for (; *word; ++word, ++p)
    if (p >= end || Lower(*p) != *word) return false;
  return true;
}

// Skips an exponent marker, its sign and its digits: the marker is consumed even when
// no digit follows.
const CHAR* SkipExponent(const CHAR* p, const CHAR* end, CHAR marker) {
  if (p >= end || Lower(*p) != marker) return p;
  ++p;
  if (p < end && (*p == '+' || *p == '-')) ++p;
  while (p < end && IsDigit(*p)) ++p;
  return p;
}

bool HasMarker(const CHAR* p, const CHAR* end, CHAR marker) {
  for (; p < end; ++p)
    if (Lower(*p) == marker) return true;
  return false;
}

// The sign of the decimal exponent written in [p, end), for values out of range.
bool HasNegativeExponent(const CHAR* p, const CHAR* end, CHAR marker) {
  for (; p < end; ++p)
    if (Lower(*p) == marker) return p + 1 < end && p[1] == '-';
  return false;
}

// The magnitude after the sign, in T. *q is moved past what was consumed.
template <class T>
bool ScanMagnitude(const CHAR** q, const CHAR* end, T* value) {
  const CHAR* p = *q;
  if (p >= end) return false;
  const CHAR c = Lower(*p);
  if (c == 'i' || c == 'n') {
    if (StartsWithNoCase(p, end, "infinity")) {
      *value = std::numeric_limits<T>::infinity();
      *q = p + 8;
      return true;
    }
    if (StartsWithNoCase(p, end, "inf")) {
      // A started "infinity" must be complete.
      if (p + 3 < end && Lower(p[3]) == 'i') return false;
      *value = std::numeric_limits<T>::infinity();
      *q = p + 3;
      return true;
    }
    if (StartsWithNoCase(p, end, "nan")) {
      *value = std::numeric_limits<T>::quiet_NaN();
      *q = p + 3;
      return true;
    }
    return false;
  }
  std::chars_format format = std::chars_format::general;
  CHAR marker = 'e';
  if (!(c == '0' && p + 1 < end && Lower(p[1]) == 'x') && detail::FastDecimal(q, end, value)) return true;
  if (c == '0' && p + 1 < end && Lower(p[1]) == 'x') {
    format = std::chars_format::hex;
    marker = 'p';
    p += 2;
  }
  const CHAR* digits = p;
  if (digits < end && (*digits == '-' || *digits == '+')) return false;
  std::from_chars_result r = std::from_chars(digits, end, *value, format);
  if (r.ec == std::errc::invalid_argument) {
    // "0x." without digits still reads as zero.
    if (format != std::chars_format::hex || digits >= end || *digits != '.') return false;
    *value = 0;
    *q = digits + 1;
    return true;
  }
  if (r.ec == std::errc::result_out_of_range) {
    *value = HasNegativeExponent(digits, r.ptr, marker) ? T(0) : std::numeric_limits<T>::infinity();
  }
  *q = HasMarker(digits, r.ptr, marker) ? r.ptr : SkipExponent(r.ptr, end, marker);
  return true;
}

template <class T>
bool ScanReal(const CHAR** p, const CHAR* end, T* value) {
  const CHAR* q = SkipSpace(*p, end);
  bool negative = false;
  if (q < end && (*q == '+' || *q == '-')) {
    negative = *q == '-';
    ++q;
  }
  T magnitude = 0;
  if (!ScanMagnitude(&q, end, &magnitude)) return false;
  *value = negative ? -magnitude : magnitude;
  *p = q;
  return true;
}

}  // namespace

bool ScanLongSlow(const CHAR* digits, const CHAR* q, bool negative, LLONG* value) {
  while (digits < q && *digits == '0') ++digits;  // leading zeros do not count
  const VLONG count = q - digits;
  std::uint64_t acc = 0;
  if (count > 19 || (count == 19 && std::memcmp(digits, "9223372036854775807", 19) > 0)) {
    // Beyond the range: saturate (the most negative value itself is exact).
    *value = negative ? std::numeric_limits<LLONG>::min() : std::numeric_limits<LLONG>::max();
    return true;
  }
  for (; digits < q; ++digits) acc = acc * 10 + static_cast<std::uint64_t>(*digits - '0');
  *value = negative ? static_cast<LLONG>(0 - acc) : static_cast<LLONG>(acc);
  return true;
}

bool ScanDoubleGeneral(const CHAR** p, const CHAR* end, double* value) { return ScanReal(p, end, value); }
bool ScanFloat(const CHAR** p, const CHAR* end, float* value) { return ScanReal(p, end, value); }

bool ScanWord(const CHAR** p, const CHAR* end) {
  const CHAR* q = SkipSpace(*p, end);
  if (q >= end) return false;
  while (q < end && !IsSpace(*q)) ++q;
  *p = q;
  return true;
}

LONG ScanPattern(const CHAR* text, const CHAR* end, const CHAR* pattern, LLONG* longs, double* reals) {
  LONG conversions = 0;
  const CHAR* p = text;
  for (const CHAR* f = pattern; *f; ++f) {
    if (IsSpace(*f)) {
      p = SkipSpace(p, end);
      continue;
    }
    if (*f != '%') {
      if (p >= end || *p != *f) break;
      ++p;
      continue;
    }
    ++f;
    if (f[0] == 'l' && f[1] == 'd') {
      ++f;
      LLONG v = 0;
      if (!ScanLong(&p, end, &v)) break;
      if (longs) *longs++ = v;
    } else if (f[0] == 'l' && f[1] == 'f') {
      ++f;
      double v = 0;
      if (!ScanDouble(&p, end, &v)) break;
      if (reals) *reals++ = v;
    } else if (f[0] == 'f') {
      float v = 0;
      if (!ScanFloat(&p, end, &v)) break;
      if (reals) *reals++ = v;
    } else if (f[0] == 's') {
      if (!ScanWord(&p, end)) break;
    } else {
      break;  // not a conversion these readers use
    }
    ++conversions;
  }
  return conversions;
}

}  // namespace scan
