// Host string operations: comparison, slicing, search and strict number conversion.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "c4d_string.h"

namespace {

constexpr LONG kMaxDecimals = 100;   // beyond that a double has no digits left to show
constexpr LONG kMaxIntegerWidth = 100;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The text without leading and trailing blanks, as a [first, last) range.
void TrimRange(const std::string& text, const char** first, const char** last) {
  const char* b = text.data();
  const char* e = b + text.size();
  while (b < e && IsBlank(*b)) ++b;
  while (e > b && IsBlank(e[-1])) --e;
  *first = b;
  *last = e;
}

// from_chars accepts a leading '-' but not '+'; a '+' is skipped only when a digit (or
// for reals a '.') follows, so "+-1" stays invalid.
const char* SkipPlus(const char* b, const char* e, bool real) {
  if (e - b >= 2 && *b == '+' && (IsDigit(b[1]) || (real && b[1] == '.'))) return b + 1;
  return b;
}

int Sign(int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); }

// "-0", "-0.00", "-0.000e+00": a value that rounded to zero shows no sign.
void DropSignOfZero(std::string* text) {
  if (text->empty() || (*text)[0] != '-') return;
  for (size_t i = 1; i < text->size(); ++i) {
    const char c = (*text)[i];
    if (c == 'e') break;
    if (IsDigit(c) && c != '0') return;
  }
  text->erase(0, 1);
}

// Removes trailing zeros of the fraction and a then trailing point, before any exponent.
void TrimFraction(std::string* text) {
  const size_t point = text->find('.');
  if (point == std::string::npos) return;
  size_t end = text->find('e', point);
  if (end == std::string::npos) end = text->size();
  size_t cut = end;
  while (cut > point + 1 && (*text)[cut - 1] == '0') --cut;
  if (cut == point + 1) cut = point;
  text->erase(cut, end - cut);
}

}  // namespace

LONG String::GetCString(CHAR* dst, LONG max) const {
  if (!dst || max <= 0) return 0;
  const LONG n = std::min<LONG>(GetLength(), max - 1);
  std::memcpy(dst, m_text.data(), static_cast<size_t>(n));
  dst[n] = 0;
  return n;
}

LONG String::Compare(const String& o) const { return Sign(m_text.compare(o.m_text)); }

LONG String::LexCompare(const String& o) const {
  const size_t n = std::min(m_text.size(), o.m_text.size());
  for (size_t i = 0; i < n; ++i) {
    const auto a = static_cast<unsigned char>(LowerAscii(m_text[i]));
    const auto b = static_cast<unsigned char>(LowerAscii(o.m_text[i]));
    if (a != b) return a < b ? -1 : 1;
  }
  return m_text.size() == o.m_text.size() ? 0 : (m_text.size() < o.m_text.size() ? -1 : 1);
}

// Out-of-range parts are clipped: what remains of [start, start + count) inside the text.
String String::SubStr(LONG start, LONG count) const {
  LLONG b = start;
  LLONG e = static_cast<LLONG>(start) + count;
  b = std::max<LLONG>(b, 0);
  e = std::min<LLONG>(e, GetLength());
  if (count <= 0 || e <= b) return String();
  return String(m_text.substr(static_cast<size_t>(b), static_cast<size_t>(e - b)));
}

// On failure *pos is set to -1.
Bool String::FindFirst(CHAR ch, LONG* pos, LONG start) const {
  const size_t from = static_cast<size_t>(std::max<LONG>(start, 0));
  const size_t at = from < m_text.size() ? m_text.find(ch, from) : std::string::npos;
  if (pos) *pos = at == std::string::npos ? -1 : static_cast<LONG>(at);
  return at != std::string::npos;
}

// start -1 (or anything past the end) searches from the last character.
Bool String::FindLast(CHAR ch, LONG* pos, LONG start) const {
  size_t at = std::string::npos;
  if (!m_text.empty() && (start < 0 || start >= GetLength()))
    at = m_text.rfind(ch);
  else if (start >= 0)
    at = m_text.rfind(ch, static_cast<size_t>(start));
  if (pos) *pos = at == std::string::npos ? -1 : static_cast<LONG>(at);
  return at != std::string::npos;
}

String String::ToUpper() const {
  std::string upper = m_text;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return String(std::move(upper));
}

LONG String::ToLong(Bool* error) const {
  const char* b;
  const char* e;
  TrimRange(m_text, &b, &e);
  b = SkipPlus(b, e, false);
  LLONG value = 0;
  const auto result = std::from_chars(b, e, value);
  const bool ok = b < e && result.ec == std::errc() && result.ptr == e &&
                  value >= std::numeric_limits<LONG>::min() && value <= std::numeric_limits<LONG>::max();
  if (error) *error = !ok;
  return ok ? static_cast<LONG>(value) : 0;
}

Real String::ToReal(Bool* error) const {
  const char* b;
  const char* e;
  TrimRange(m_text, &b, &e);
  b = SkipPlus(b, e, true);
  // Only decimal numbers: from_chars would also take "inf" and "nan".
  const char* digits = (b < e && *b == '-') ? b + 1 : b;
  bool ok = digits < e && (IsDigit(*digits) || *digits == '.');
  double value = 0.0;
  if (ok) {
    const auto result = std::from_chars(b, e, value);
    ok = result.ptr == e;
    if (ok && result.ec == std::errc::result_out_of_range) {
      // Tiny values round to zero and are numbers still; huge ones are not.
      value = std::strtod(std::string(b, e).c_str(), nullptr);
      ok = std::isfinite(value);
    } else if (result.ec != std::errc()) {
      ok = false;
    }
  }
  if (error) *error = !ok;
  return ok ? value : 0.0;
}

String String::LongToString(LLONG value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return String(buffer, result.ptr - buffer);
}

String String::RealToString(Real value, LONG vk, LONG nk, Bool e, UWORD xchar) {
  if (std::isnan(value)) return String("nan");
  if (std::isinf(value)) return String(value < 0 ? "-inf" : "inf");

  const bool forced = nk >= 0;
  const int decimals = static_cast<int>(forced ? std::min(nk, kMaxDecimals) : 3);
  // Large enough for the widest fixed rendering of a double (309 integer digits).
  char buffer[320 + kMaxDecimals];
  const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value,
                                    e ? std::chars_format::scientific : std::chars_format::fixed, decimals);
  std::string text(buffer, result.ptr);
  if (!forced) TrimFraction(&text);
  DropSignOfZero(&text);

  if (vk > 0) {
    const size_t sign = (!text.empty() && text[0] == '-') ? 1 : 0;
    size_t integerDigits = 0;
    while (sign + integerDigits < text.size() && IsDigit(text[sign + integerDigits])) ++integerDigits;
    const auto width = static_cast<size_t>(std::min(vk, kMaxIntegerWidth));
    if (integerDigits < width) {
      const char fill = xchar > 0 && xchar < 128 ? static_cast<char>(xchar) : ' ';
      // Zeros go between sign and digits; any other fill goes before the sign.
      const size_t at = fill == '0' ? sign : 0;
      text.insert(at, width - integerDigits, fill);
    }
  }
  return String(std::move(text));
}
