// Runs of up to seven decimal digits read eight characters at a time, for text that
// stays readable for TEXTLINE_SLACK bytes past its end (the lines TextReader hands out):
// the run's length comes from a count of bits and its value from three multiplications,
// instead of a loop of a digit at a time whose exit depends on each number's length.
// Callers read longer runs a digit at a time; results never depend on what lies past end.
#pragma once

#include <cstdint>
#include <cstring>

#include "c4d.h"
#include "fileio.h"

namespace digitrun {

// Eight characters from p, the first in the lowest byte, each XOR '0': a digit becomes
// its value 0 to 9, every other character a byte above 9.
inline std::uint64_t LoadDigits(const CHAR* p) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) word = __builtin_bswap64(word);
  return word ^ 0x3030303030303030ull;
}

// How many of the word's bytes, from the lowest, are digit values (0 to 8).
inline int LeadingDigits(std::uint64_t digits) {
  // Bit 7 of each byte ends up set when the byte is above 9; no carry crosses bytes.
  const std::uint64_t above9 =
      (((digits & 0x7f7f7f7f7f7f7f7full) + 0x7676767676767676ull) | digits) & 0x8080808080808080ull;
  return above9 ? __builtin_ctzll(above9) >> 3 : 8;
}

// The value of the word's first n digit values, 1 <= n <= 8.
inline std::uint32_t ValueOf(std::uint64_t digits, int n) {
  std::uint64_t v = digits << (8 * (8 - n));  // drop the bytes after them, leading zeros before
  v = v * 10 + (v >> 8);                      // pairs
  v = (((v & 0x000000ff000000ffull) * 0x000f424000000064ull) +
       (((v >> 16) & 0x000000ff000000ffull) * 0x0000271000000001ull)) >> 32;
  return static_cast<std::uint32_t>(v);
}

// At most seven digits at p (clipped at end) into *value, *p moved past them. False, with
// nothing moved, when there are none or more than seven.
inline bool ReadShortRun(const CHAR** p, const CHAR* end, std::uint32_t* value) {
  const std::uint64_t digits = LoadDigits(*p);
  const VLONG left = end - *p;
  int n = LeadingDigits(digits);
  if (left < n) n = static_cast<int>(left);
  if (n <= 0 || n == 8) return false;
  *value = ValueOf(digits, n);
  *p += n;
  return true;
}

}  // namespace digitrun
