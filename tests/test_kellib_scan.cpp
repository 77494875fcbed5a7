// The scanners are checked against the C library's own sscanf: the same text must give
// the same success, the same value and the same number of characters consumed. They read
// as the GNU C library does (with its 64-bit long) on every system, so that a file gives
// the same model everywhere; elsewhere the library is no reference and those checks are
// skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "digitrun.h"
#include "scan.h"

namespace {

struct Expected {
  bool ok;
  double value;
  int consumed;
};

Expected LibDouble(const std::string& text) {
  double d = 0;
  int n = 0;
  const int r = std::sscanf(text.c_str(), "%lf%n", &d, &n);
  return {r == 1, d, r == 1 ? n : 0};
}

Expected LibFloat(const std::string& text) {
  float f = 0;
  int n = 0;
  const int r = std::sscanf(text.c_str(), "%f%n", &f, &n);
  return {r == 1, f, r == 1 ? n : 0};
}

Expected LibLong(const std::string& text) {
  long l = 0;
  int n = 0;
  const int r = std::sscanf(text.c_str(), "%ld%n", &l, &n);
  return {r == 1, static_cast<double>(l), r == 1 ? n : 0};
}

bool SameValue(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return a == b && std::signbit(a) == std::signbit(b);
}

#ifdef __GLIBC__
constexpr bool kLibraryIsTheReference = true;
#else
constexpr bool kLibraryIsTheReference = false;
#endif
#define SKIP_WITHOUT_THE_REFERENCE_LIBRARY() \
  if (!kLibraryIsTheReference) GTEST_SKIP() << "this C library's sscanf is not the one the scanners follow"

void ExpectLikeLibrary(const std::string& text) {
  if (!kLibraryIsTheReference) return;
  const CHAR* begin = text.c_str();
  const CHAR* end = begin + text.size();
  {
    const Expected want = LibDouble(text);
    const CHAR* p = begin;
    double d = 0;
    const bool ok = scan::ScanDouble(&p, end, &d);
    EXPECT_EQ(ok, want.ok) << "%lf on '" << text << "'";
    EXPECT_EQ(scan::ReadsAsReal(begin, end), want.ok) << "ReadsAsReal on '" << text << "'";
    if (ok && want.ok) {
      EXPECT_TRUE(SameValue(d, want.value)) << "%lf on '" << text << "': " << d << " vs " << want.value;
      EXPECT_EQ(p - begin, want.consumed) << "%lf on '" << text << "'";
    }
  }
  {
    // The short path, where it takes a number, reads it as the library does.
    const Expected want = LibDouble(text);
    const CHAR* p = begin;
    double d = 0;
    if (scan::ShortDecimal(&p, end, &d)) {
      EXPECT_TRUE(want.ok) << "ShortDecimal on '" << text << "'";
      EXPECT_TRUE(SameValue(d, want.value)) << "ShortDecimal on '" << text << "': " << d << " vs " << want.value;
      EXPECT_EQ(p - begin, want.consumed) << "ShortDecimal on '" << text << "'";
    } else {
      EXPECT_EQ(p, begin) << "ShortDecimal on '" << text << "' moved without a number";
    }
  }
  {
    const Expected want = LibFloat(text);
    const CHAR* p = begin;
    float f = 0;
    const bool ok = scan::ScanFloat(&p, end, &f);
    EXPECT_EQ(ok, want.ok) << "%f on '" << text << "'";
    if (ok && want.ok) {
      EXPECT_TRUE(SameValue(f, want.value)) << "%f on '" << text << "': " << f << " vs " << want.value;
      EXPECT_EQ(p - begin, want.consumed) << "%f on '" << text << "'";
    }
  }
  {
    const Expected want = LibLong(text);
    const CHAR* p = begin;
    LLONG l = 0;
    const bool ok = scan::ScanLong(&p, end, &l);
    EXPECT_EQ(ok, want.ok) << "%ld on '" << text << "'";
    if (ok && want.ok) {
      EXPECT_EQ(static_cast<double>(l), want.value) << "%ld on '" << text << "'";
      EXPECT_EQ(p - begin, want.consumed) << "%ld on '" << text << "'";
    }
  }
}

TEST(Scan, NumbersReadAsTheLibraryReadsThem) {
  SKIP_WITHOUT_THE_REFERENCE_LIBRARY();
  const char* cases[] = {
      "1", "-1", "+1", "-0", "0", ".5", "5.", "-.5e-3", "1e-3", "1E+3", "1e", "1e+", "1.5e", "00012",
      "  \t-0", "\v3", "\f7", "12abc", "1.5x", "3/4/5", "-", "+", ".", "+.", "-e5", "e5", "", "   ",
      "inf", "-inf", "INF", "infinity", "-Infinity", "infx", "infin", "in", "nan", "NaN", "nan(12)",
      "nanq", "-nan", "0x", "0x1p3", "0x1p", "0x.8", "0X1A", "0xg", "1e99999", "-1e99999", "1e-99999",
      "3.4028235e38", "3.4028236e38", "1e39", "1e-46", "1.17549435e-38", "4.9406564584124654e-324",
      "9223372036854775807", "9223372036854775808", "-9223372036854775808", "-9223372036854775809",
      "99999999999999999999999", "0.1", "0.30000000000000004", "123456789.123456789", "1.0000001",
      "2.5e-7", "6.02214076e23",
      // Around the exact short-number path: digit counts and powers of ten at its limits.
      "123456789012345", "1234567890123456", "0.123456789012345", "1e22", "1e23", "1.5e-22", "3e-23",
      "0.000000000000000000001234", "1234567", "12345678", "1e10", "1e11", "0.1234567", "0.12345678",
      "9007199254740993", "000000000000000000001.5", "0.0000", "-0.0e5", "7.e2", ".e2",
  };
  for (const char* text : cases) ExpectLikeLibrary(text);
}

// Random short texts from the characters numbers are made of.
TEST(Scan, RandomTextsReadAsTheLibraryReadsThem) {
  SKIP_WITHOUT_THE_REFERENCE_LIBRARY();
  const std::string alphabet = "0123456789+-.eExXpPinfaINFty /\t";
  std::mt19937 random(20261208);
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    const int length = 1 + static_cast<int>(random() % 10);
    for (int k = 0; k < length; ++k) text += alphabet[random() % alphabet.size()];
    ExpectLikeLibrary(text);
  }
}

// The short path takes the numbers model files are full of, and leaves to the general
// reader what it cannot round exactly in one division.
TEST(Scan, ShortDecimalsTakeCommonNumbersOnly) {
  const struct {
    const char* text;
    bool taken;
  } cases[] = {
      {"49.900000", true},           {"0.000000", true},           {"7", true},
      {".25", true},                 {"5.", true},                 {"9007199254740992", true},
      {"0.9007199254740992", true},  {"1234567890.123456789", false},  // 19 digits, beyond 2^53
      {"9007199254740993", false},   {"12345678901234567890", false}, {"1e5", false},
      {"1.5E-3", false},             {"-1", false},                {"+1", false},
      {".", false},                  {"", false},                  {"x1", false},
      {"0.000000000000000001", true},  // 19 digits
      {"0.0000000000000000001", false},  // 20 digits, leading zeros counted
  };
  for (const auto& c : cases) {
    const CHAR* p = c.text;
    double value = 0;
    EXPECT_EQ(scan::ShortDecimal(&p, c.text + std::strlen(c.text), &value), c.taken && scan::detail::kSingleRounding)
        << c.text;
    ExpectLikeLibrary(c.text);
  }
}

// Random decimals of 1 to 21 digits with the point anywhere, around the short path's
// limits of digits and of the mantissa.
TEST(Scan, RandomDecimalsReadAsTheLibraryReadsThem) {
  SKIP_WITHOUT_THE_REFERENCE_LIBRARY();
  std::mt19937 random(20261210);
  for (int i = 0; i < 20000; ++i) {
    const int digits = 1 + static_cast<int>(random() % 21);
    std::string text;
    for (int k = 0; k < digits; ++k) text += static_cast<char>('0' + random() % 10);
    const int point = static_cast<int>(random() % (digits + 2));
    if (point <= digits) text.insert(static_cast<size_t>(point), ".");
    ExpectLikeLibrary(text);
  }
}

// digitrun::ReadShortRun on [text, text + end): the leading digits when there are one to
// seven, nothing otherwise.
void ExpectShortRun(const std::string& text, size_t end) {
  const size_t run = std::min(std::strspn(text.c_str(), "0123456789"), end);
  const CHAR* p = text.c_str();
  std::uint32_t value = 0;
  const bool read = digitrun::ReadShortRun(&p, text.c_str() + end, &value);
  ASSERT_EQ(read, run >= 1 && run <= 7) << text.substr(0, end);
  EXPECT_EQ(p - text.c_str(), read ? static_cast<VLONG>(run) : 0) << text.substr(0, end);
  if (read) {
    EXPECT_EQ(value, std::stoul(text.substr(0, run))) << text.substr(0, end);
  }
}

// Digit runs are looked at eight bytes at a time: a run ends at the first byte that is
// no digit, whatever its neighbours in the code table, and at the end of the range even
// where digits follow in memory. Both the short decimals and the short runs of
// digitrun.h (the face indices' reader) are held to it.
TEST(Scan, DigitRunsEndAtTheirFirstOtherByteAndAtTheRangesEnd) {
  const char followers[] = {'/', ':', ' ', '\x00', '\x06', '\x2f', '\x3a', '\x7f', '\xc9',
                            '\xf9', '\xfa', '\xff'};
  for (const char* number : {"7", "12345678", "123456789", "0.1234567", "98.76543210", "1234567812345678"}) {
    for (const char follower : followers) {
      std::string text = number;
      text += follower;
      text += "99999999";  // digits past the follower must not join the number
      ExpectShortRun(text, text.size());
      const CHAR* p = text.c_str();
      double value = 0;
      ASSERT_TRUE(scan::ShortDecimal(&p, text.c_str() + text.size(), &value) || !scan::detail::kSingleRounding)
          << number << " + " << int(follower);
      if (!scan::detail::kSingleRounding) continue;
      const size_t length = std::strlen(number);
      EXPECT_EQ(p - text.c_str(), static_cast<VLONG>(length)) << number << " + " << int(follower);
      EXPECT_EQ(value, std::strtod(std::string(text, 0, length).c_str(), nullptr)) << number << " + " << int(follower);
    }
  }
  const std::string digits = "123.45678901234567890";
  for (size_t end = 1; end <= digits.size(); ++end) {
    const std::string cut = digits.substr(0, end);
    const CHAR* p = digits.c_str();
    double value = 0;
    if (!scan::ShortDecimal(&p, digits.c_str() + end, &value)) continue;  // too many digits
    EXPECT_EQ(p, digits.c_str() + end) << cut;
    EXPECT_EQ(value, std::strtod(cut.c_str(), nullptr)) << cut;
  }
  // Runs of every length from none to ten, cut by the range's end.
  const std::string runs = "9081726354:";
  for (size_t end = 0; end <= runs.size(); ++end) ExpectShortRun(runs, end);
}

TEST(Scan, ConversionsStopAtTheEndOfTheRange) {
  const char text[] = "12 34";
  const CHAR* p = text;
  LLONG value = 0;
  ASSERT_TRUE(scan::ScanLong(&p, text + 1, &value));
  EXPECT_EQ(value, 1);  // the "2" lies beyond the range
  p = text + 2;
  EXPECT_FALSE(scan::ScanLong(&p, text + 3, &value));  // only white space in range
  EXPECT_EQ(p, text + 2);
  double d = 0;
  p = text;
  ASSERT_TRUE(scan::ScanDouble(&p, text + 1, &d));
  EXPECT_EQ(d, 1.0);
  p = text + 2;
  EXPECT_FALSE(scan::ScanWord(&p, text + 3));
}

int LibPattern(const std::string& text, const char* pattern) {
  long v[9];
  const int r = std::sscanf(text.c_str(), pattern, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8]);
  return r < 0 ? 0 : r;
}

// The whole-line patterns of the face and line statements.
TEST(Scan, PatternsCountConversionsAsTheLibraryDoes) {
  const char* patterns[] = {
      " %ld/%ld/%ld %ld/%ld/%ld %ld/%ld/%ld", " %ld//%ld %ld//%ld %ld//%ld", " %ld/%ld %ld/%ld %ld/%ld",
      " %ld/%ld/ %ld/%ld/ %ld/%ld/", " %ld// %ld// %ld//", " %ld/ %ld/ %ld/", " %ld %ld %ld",
      "%ld/%ld/%ld", "%ld//%ld", "%ld/%ld", "%ld/%ld/", "%ld//", "%ld/", "%ld", " %ld %ld",
  };
  const char* pieces[] = {"1", "-2", "33", "/", "//", " ", "\t", "x", "+4", "-", "0"};
  std::mt19937 random(7);
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    const int count = 1 + static_cast<int>(random() % 12);
    for (int k = 0; k < count; ++k) text += pieces[random() % (sizeof(pieces) / sizeof(pieces[0]))];
    for (const char* pattern : patterns) {
      LLONG values[9];
      const LONG got = scan::ScanPattern(text.c_str(), text.c_str() + text.size(), pattern, values, nullptr);
      ASSERT_EQ(got, LibPattern(text, pattern)) << "'" << text << "' with '" << pattern << "'";
    }
  }
}

TEST(Scan, PatternsStoreValuesAndWords) {
  const char text[] = "Kd 0.5 1e-1 .25 trailing";
  LLONG longs[1];
  double reals[3] = {};
  EXPECT_EQ(scan::ScanPattern(text, scan::EndOf(text), "Kd %f %f %f", longs, reals), 3);
  EXPECT_DOUBLE_EQ(reals[0], 0.5);
  EXPECT_NEAR(reals[1], 0.1, 1e-7);  // %f reads single precision
  EXPECT_DOUBLE_EQ(reals[2], 0.25);
  EXPECT_EQ(scan::ScanPattern(text, scan::EndOf(text), "Kd %lf", longs, reals), 1);
  EXPECT_EQ(reals[0], 0.5);
  const char name[] = "usemtl \t wood";
  EXPECT_EQ(scan::ScanPattern(name, scan::EndOf(name), "usemtl %s", nullptr, nullptr), 1);
  const char none[] = "usemtl   ";
  EXPECT_EQ(scan::ScanPattern(none, scan::EndOf(none), "usemtl %s", nullptr, nullptr), 0);
  const char wrong[] = "usemt wood";
  EXPECT_EQ(scan::ScanPattern(wrong, scan::EndOf(wrong), "usemtl %s", nullptr, nullptr), 0);
}

}  // namespace
