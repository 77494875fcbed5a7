// Number text for the OBJ and MTL writers: each call appends the text of one number at
// p and returns the end. The results are byte-for-byte those of the printf conversion
// named (C locale), without printf's format parsing and locale lookups.
#pragma once

#include "c4d.h"

// Room a single call may need: the longest fixed-point text of a double with six
// decimals is 317 + 7 characters.
enum : LONG { NUMTEXT_MAX = 330 };

// The text, without its terminator.
inline CHAR* AppendText(CHAR* p, const CHAR* text) {
  while (*text) *p++ = *text++;
  return p;
}
// "%lu"
CHAR* AppendUnsigned(CHAR* p, LULONG value);
// "%g" (six significant digits).
CHAR* AppendGeneral(CHAR* p, Real value);
// "%.<decimals>f", decimals 0..17.
CHAR* AppendFixed(CHAR* p, Real value, LONG decimals);
// The shortest text that reads back (strtod) to exactly value.
CHAR* AppendShortest(CHAR* p, Real value);
// For a value kept in single precision: the shortest text that reads back to the same
// single-precision value when value is one (0.1f gives "0.1"), else AppendShortest.
CHAR* AppendShortestSingle(CHAR* p, Real value);
