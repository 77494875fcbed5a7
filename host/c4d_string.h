// Host string: 8-bit text (UTF-8 where it matters), converted to zero-terminated
// buffers with a stated maximum.
#pragma once

#include <string>

#include "ge_types.h"

class String {
 public:
  String() = default;
  String(const CHAR* text) : m_text(text ? text : "") {}  // NOLINT(google-explicit-constructor)
  String(const CHAR* text, VLONG length) : m_text(text ? std::string(text, static_cast<size_t>(length)) : std::string()) {}
  explicit String(std::string text) : m_text(std::move(text)) {}

  LONG GetLength() const { return static_cast<LONG>(m_text.size()); }
  Bool Content() const { return !m_text.empty(); }

  // Copies at most max - 1 characters and a terminating zero into dst (max > 0).
  // Returns the number of characters copied.
  LONG GetCString(CHAR* dst, LONG max) const;
  // Length of the 8-bit conversion, without the terminator.
  LONG GetCStringLen() const { return GetLength(); }

  CHAR operator[](LONG i) const { return (i >= 0 && i < GetLength()) ? m_text[static_cast<size_t>(i)] : 0; }

  String operator+(const String& o) const { return String(m_text + o.m_text); }
  String& operator+=(const String& o) { m_text += o.m_text; return *this; }
  bool operator==(const String& o) const { return m_text == o.m_text; }
  bool operator!=(const String& o) const { return m_text != o.m_text; }

  // Case-sensitive comparison: <0, 0, >0.
  LONG Compare(const String& o) const;
  // Case-insensitive comparison (ASCII letters).
  LONG LexCompare(const String& o) const;

  String SubStr(LONG start, LONG count) const;
  String Left(LONG count) const { return SubStr(0, count); }
  String Right(LONG count) const { return SubStr(GetLength() - count, count); }
  // Position of the first/last occurrence of ch at or after/before start; false when absent.
  Bool FindFirst(CHAR ch, LONG* pos, LONG start = 0) const;
  Bool FindLast(CHAR ch, LONG* pos, LONG start = -1) const;
  String ToUpper() const;

  // Whole-number value of the text; 0 with *error set when it is not a number.
  LONG ToLong(Bool* error = nullptr) const;
  Real ToReal(Bool* error = nullptr) const;

  static String LongToString(LLONG value);
  // Host default rendering of a real: fixed notation with at most three decimals,
  // trailing zeros removed ("0", "0.456", "83.456", "-2.5"); vk/nk/e/xchar are accepted
  // for the host's signature, positive nk forces that many decimals.
  static String RealToString(Real value, LONG vk = -1, LONG nk = -1, Bool e = FALSE, UWORD xchar = '0');

  const std::string& Std() const { return m_text; }

 private:
  std::string m_text;
};

inline String LongToString(LLONG v) { return String::LongToString(v); }
inline String RealToString(Real v, LONG vk = -1, LONG nk = -1, Bool e = FALSE, UWORD xchar = '0') {
  return String::RealToString(v, vk, nk, e, xchar);
}
