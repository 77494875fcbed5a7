// Host strings (conversion to C buffers, comparison, slicing, search, number text)
// and the byte-order services.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "c4d_general.h"
#include "c4d_string.h"
#include "host_fixture.h"

namespace {

class HostStringTest : public HostTest {};

// --- numbers to text -----------------------------------------------------------------

TEST_F(HostStringTest, RealToStringDefaultRendering) {
  const struct {
    Real value;
    const char* text;
  } cases[] = {
      {0.0, "0"},
      {-0.0, "0"},
      {0.456, "0.456"},
      {83.456, "83.456"},
      {-2.5, "-2.5"},
      {1.0, "1"},
      {100.0, "100"},
      {10.10, "10.1"},
      {2.0 / 3.0, "0.667"},
      {1234.5678, "1234.568"},
      {0.0004, "0"},
      {-0.0004, "0"},  // rounds to zero: no "-0"
      {-0.0006, "-0.001"},
      {0.9996, "1"},
      {-999.9999, "-1000"},
      {1e6, "1000000"},
      {1e20, "100000000000000000000"},
      {-123456789.0, "-123456789"},
  };
  for (const auto& c : cases) EXPECT_EQ(String::RealToString(c.value).Std(), c.text) << c.value;
}

TEST_F(HostStringTest, RealToStringForcedDecimalsAndWidth) {
  const struct {
    Real value;
    LONG vk, nk;
    Bool e;
    UWORD xchar;
    const char* text;
  } cases[] = {
      {1.5, -1, 2, FALSE, '0', "1.50"},
      {0.0, -1, 3, FALSE, '0', "0.000"},
      {-0.001, -1, 2, FALSE, '0', "0.00"},
      {2.75, -1, 0, FALSE, '0', "3"},
      {1.0 / 3.0, -1, 6, FALSE, '0', "0.333333"},
      {7.5, 3, -1, FALSE, '0', "007.5"},
      {-7.5, 3, -1, FALSE, '0', "-007.5"},
      {7.5, 3, -1, FALSE, ' ', "  7.5"},
      {-7.5, 4, 1, FALSE, ' ', "   -7.5"},  // blanks go before the sign
      {1234.5, 2, -1, FALSE, '0', "1234.5"},  // never cuts digits
      {12345.678, -1, -1, TRUE, '0', "1.235e+04"},
      {1.0, -1, -1, TRUE, '0', "1e+00"},
      {-0.00012, -1, 2, TRUE, '0', "-1.20e-04"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(String::RealToString(c.value, c.vk, c.nk, c.e, c.xchar).Std(), c.text)
        << c.value << " vk " << c.vk << " nk " << c.nk;
  // A silly digit count is capped rather than overrunning anything.
  const std::string wide = String::RealToString(0.1, -1, 100000).Std();
  EXPECT_EQ(wide.rfind("0.1000000000000000055511151231257827", 0), 0u) << wide;
}

TEST_F(HostStringTest, RealToStringOfNonFiniteValues) {
  EXPECT_EQ(String::RealToString(std::numeric_limits<Real>::infinity()).Std(), "inf");
  EXPECT_EQ(String::RealToString(-std::numeric_limits<Real>::infinity()).Std(), "-inf");
  EXPECT_EQ(String::RealToString(std::nan("")).Std(), "nan");
  EXPECT_EQ(String::RealToString(-std::nan("")).Std(), "nan");
}

TEST_F(HostStringTest, LongToStringCoversTheWholeRange) {
  EXPECT_EQ(String::LongToString(0).Std(), "0");
  EXPECT_EQ(String::LongToString(-42).Std(), "-42");
  EXPECT_EQ(LongToString(std::numeric_limits<LLONG>::max()).Std(), "9223372036854775807");
  EXPECT_EQ(LongToString(std::numeric_limits<LLONG>::min()).Std(), "-9223372036854775808");
}

// --- text to numbers -------------------------------------------------------------------

TEST_F(HostStringTest, ToLongIsStrict) {
  const struct {
    const char* text;
    bool ok;
    LONG value;
  } cases[] = {
      {"42", true, 42},
      {" -17 ", true, -17},
      {"+5", true, 5},
      {"\t8\r\n", true, 8},
      {"007", true, 7},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, std::numeric_limits<LONG>::min()},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"99999999999999999999999", false, 0},
      {"", false, 0},
      {"   ", false, 0},
      {"+", false, 0},
      {"-", false, 0},
      {"12a", false, 0},
      {"1.5", false, 0},
      {"1 2", false, 0},
      {"+-1", false, 0},
      {"-+1", false, 0},
      {"- 1", false, 0},
      {"0x10", false, 0},
      {"1e3", false, 0},
  };
  for (const auto& c : cases) {
    Bool error = !c.ok;  // start from the wrong value so a missing write shows
    EXPECT_EQ(String(c.text).ToLong(&error), c.value) << '"' << c.text << '"';
    EXPECT_EQ(error, !c.ok) << '"' << c.text << '"';
  }
  EXPECT_EQ(String("13").ToLong(), 13) << "the error flag is optional";
}

TEST_F(HostStringTest, ToRealIsStrict) {
  const struct {
    const char* text;
    bool ok;
    Real value;
  } cases[] = {
      {"1.5", true, 1.5},
      {" -2.25e3 ", true, -2250.0},
      {".5", true, 0.5},
      {"5.", true, 5.0},
      {"+.25", true, 0.25},
      {"+3", true, 3.0},
      {"-0", true, 0.0},
      {"1E2", true, 100.0},
      {"1e-400", true, 0.0},  // underflows to zero, but is a number
      {"1e999", false, 0.0},
      {"inf", false, 0.0},
      {"-infinity", false, 0.0},
      {"nan", false, 0.0},
      {"1,5", false, 0.0},
      {"", false, 0.0},
      {"-", false, 0.0},
      {".", false, 0.0},
      {"e5", false, 0.0},
      {"1.5x", false, 0.0},
      {"0x1p3", false, 0.0},
      {"+-2", false, 0.0},
  };
  for (const auto& c : cases) {
    Bool error = !c.ok;
    EXPECT_DOUBLE_EQ(String(c.text).ToReal(&error), c.value) << '"' << c.text << '"';
    EXPECT_EQ(error, !c.ok) << '"' << c.text << '"';
  }
  // Numbers written by the default rendering read back.
  for (Real v : {0.456, -83.5, 1e6, 0.001}) {
    Bool error = TRUE;
    EXPECT_DOUBLE_EQ(RealToString(v).ToReal(&error), v);
    EXPECT_FALSE(error);
  }
}

// --- buffers, comparison, slicing ----------------------------------------------------------

TEST_F(HostStringTest, GetCStringCopiesAtMostMaxMinusOne) {
  const String text("hello");
  char buffer[8];
  std::memset(buffer, '#', sizeof(buffer));
  EXPECT_EQ(text.GetCString(buffer, 4), 3);
  EXPECT_STREQ(buffer, "hel");
  EXPECT_EQ(buffer[4], '#') << "nothing written past max";

  EXPECT_EQ(text.GetCString(buffer, 8), 5);
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(text.GetCString(buffer, 6), 5);
  EXPECT_STREQ(buffer, "hello");

  buffer[0] = 'x';
  EXPECT_EQ(text.GetCString(buffer, 1), 0);
  EXPECT_EQ(buffer[0], 0);
  buffer[0] = 'x';
  EXPECT_EQ(text.GetCString(buffer, 0), 0);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(text.GetCString(nullptr, 10), 0);
  EXPECT_EQ(text.GetCStringLen(), 5);
}

TEST_F(HostStringTest, CompareAndLexCompare) {
  const struct {
    const char* a;
    const char* b;
    LONG compare, lex;
  } cases[] = {
      {"abc", "abc", 0, 0},
      {"abc", "abd", -1, -1},
      {"b", "a", 1, 1},
      {"ab", "abc", -1, -1},
      {"abc", "ab", 1, 1},
      {"", "", 0, 0},
      {"", "a", -1, -1},
      {"ABC", "abc", -1, 0},
      {"Material", "MATERIAL_2", 1, -1},
      {"Z", "a", -1, 1},
      {"\xc3\xa9", "z", 1, 1},  // bytes compare unsigned, so UTF-8 sorts after ASCII
  };
  for (const auto& c : cases) {
    EXPECT_EQ(String(c.a).Compare(String(c.b)), c.compare) << c.a << " / " << c.b;
    EXPECT_EQ(String(c.a).LexCompare(String(c.b)), c.lex) << c.a << " / " << c.b;
    EXPECT_EQ(String(c.b).LexCompare(String(c.a)), -c.lex) << c.b << " / " << c.a;
  }
}

TEST_F(HostStringTest, SubStrClipsToTheText) {
  const String text("abcdef");
  const struct {
    LONG start, count;
    const char* part;
  } cases[] = {
      {0, 3, "abc"}, {2, 2, "cd"},  {4, 10, "ef"}, {6, 1, ""},    {7, 1, ""},
      {-2, 4, "ab"}, {-9, 3, ""},   {0, 0, ""},    {3, -1, ""},   {0, 6, "abcdef"},
      {-1, std::numeric_limits<LONG>::max(), "abcdef"},
      {std::numeric_limits<LONG>::max(), std::numeric_limits<LONG>::max(), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(text.SubStr(c.start, c.count).Std(), c.part) << c.start << "," << c.count;
  EXPECT_EQ(text.Left(2).Std(), "ab");
  EXPECT_EQ(text.Left(99).Std(), "abcdef");
  EXPECT_EQ(text.Right(2).Std(), "ef");
  EXPECT_EQ(text.Right(99).Std(), "abcdef");
  EXPECT_EQ(text.Right(0).Std(), "");
  EXPECT_EQ(text[0], 'a');
  EXPECT_EQ(text[6], 0);
  EXPECT_EQ(text[-1], 0);
}

TEST_F(HostStringTest, FindFirstAndFindLast) {
  const String path("dir/sub/file.obj");
  LONG pos = 99;
  EXPECT_TRUE(path.FindFirst('/', &pos));
  EXPECT_EQ(pos, 3);
  EXPECT_TRUE(path.FindFirst('/', &pos, 4));
  EXPECT_EQ(pos, 7);
  EXPECT_TRUE(path.FindFirst('/', &pos, 7)) << "the start position itself is searched";
  EXPECT_EQ(pos, 7);
  EXPECT_FALSE(path.FindFirst('/', &pos, 8));
  EXPECT_EQ(pos, -1);
  EXPECT_TRUE(path.FindFirst('d', &pos, -5));
  EXPECT_EQ(pos, 0);
  EXPECT_FALSE(path.FindFirst('/', &pos, 1000));

  EXPECT_TRUE(path.FindLast('/', &pos));
  EXPECT_EQ(pos, 7);
  EXPECT_TRUE(path.FindLast('/', &pos, 6));
  EXPECT_EQ(pos, 3);
  EXPECT_TRUE(path.FindLast('/', &pos, 3));
  EXPECT_EQ(pos, 3);
  EXPECT_FALSE(path.FindLast('/', &pos, 2));
  EXPECT_EQ(pos, -1);
  EXPECT_TRUE(path.FindLast('j', &pos, 1000));
  EXPECT_EQ(pos, 15);
  EXPECT_FALSE(path.FindLast('x', &pos));
  EXPECT_FALSE(String().FindLast('x', &pos));
  EXPECT_FALSE(String().FindFirst('x', &pos));
  EXPECT_TRUE(path.FindLast('.', nullptr));
}

TEST_F(HostStringTest, ToUpperTouchesOnlyAsciiLetters) {
  EXPECT_EQ(String("Mat_01 blue-z").ToUpper().Std(), "MAT_01 BLUE-Z");
  EXPECT_EQ(String("\xc3\xa9t\xc3\xa9").ToUpper().Std(), "\xc3\xa9T\xc3\xa9");
  EXPECT_EQ(String().ToUpper().Std(), "");
}

// --- byte order --------------------------------------------------------------------------------

TEST_F(HostStringTest, MachineByteOrderMatchesMemoryLayout) {
  const uint32_t probe = 0x01020304;
  unsigned char first;
  std::memcpy(&first, &probe, 1);
  EXPECT_EQ(GeGetByteOrder(), first == 0x04 ? BYTEORDER_INTEL : BYTEORDER_MOTOROLA);
  EXPECT_EQ(GeGetByteOrder(), BYTEORDER_INTEL) << "these builds run on little-endian machines";
}

TEST_F(HostStringTest, SwapsReverseEachValueOfAnArray) {
  // An odd count at an odd offset: the swaps must handle unaligned data and tails.
  std::vector<unsigned char> bytes(1 + 4 * 37);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i);
  std::vector<unsigned char> words = bytes;

  lSwap(bytes.data() + 1, 37);
  EXPECT_EQ(bytes[0], 0) << "the byte before the array is untouched";
  for (size_t v = 0; v < 37; ++v)
    for (size_t k = 0; k < 4; ++k) ASSERT_EQ(bytes[1 + v * 4 + k], 1 + v * 4 + (3 - k)) << v << ":" << k;
  lSwap(bytes.data() + 1, 37);
  for (size_t i = 0; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], i);

  wSwap(words.data() + 1, 73);
  for (size_t v = 0; v < 73; ++v) {
    ASSERT_EQ(words[1 + v * 2], 2 + v * 2);
    ASSERT_EQ(words[2 + v * 2], 1 + v * 2);
  }
  EXPECT_EQ(words.back(), bytes.size() - 1) << "the byte after 73 words is untouched";

  // Nothing to do: no write, no crash.
  wSwap(words.data(), 0);
  lSwap(nullptr, 5);
  lSwap(words.data(), -3);
}

TEST_F(HostStringTest, MotorolaAndIntelConversionsOnThisMachine) {
  uint16_t w[3] = {0x1234, 0xABCD, 0x00FF};
  uint32_t l[2] = {0x11223344, 0xDEADBEEF};

  wMotorola(w, 3);
  lMotorola(l, 2);
  const unsigned char* wb = reinterpret_cast<const unsigned char*>(w);
  const unsigned char* lb = reinterpret_cast<const unsigned char*>(l);
  const unsigned char bigWords[] = {0x12, 0x34, 0xAB, 0xCD, 0x00, 0xFF};
  const unsigned char bigLongs[] = {0x11, 0x22, 0x33, 0x44, 0xDE, 0xAD, 0xBE, 0xEF};
  EXPECT_EQ(std::memcmp(wb, bigWords, sizeof(bigWords)), 0);
  EXPECT_EQ(std::memcmp(lb, bigLongs, sizeof(bigLongs)), 0);

  // Converting again brings the machine values back.
  wMotorola(w, 3);
  lMotorola(l, 2);
  EXPECT_EQ(w[0], 0x1234);
  EXPECT_EQ(w[2], 0x00FF);
  EXPECT_EQ(l[1], 0xDEADBEEFu);

  // Intel order is the machine's own: nothing changes.
  wIntel(w, 3);
  lIntel(l, 2);
  EXPECT_EQ(w[1], 0xABCD);
  EXPECT_EQ(l[0], 0x11223344u);

  // The default count is one value.
  uint32_t pair[2] = {0x01020304, 0x01020304};
  lMotorola(pair);
  EXPECT_EQ(pair[0], 0x04030201u);
  EXPECT_EQ(pair[1], 0x01020304u);
}

}  // namespace
