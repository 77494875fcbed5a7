#include "objread.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <cstring>

#include <fast_float/fast_float.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "compat.h"
#include "digitrun.h"
#include "lib_modeling.h"
#include "scan.h"

namespace {

// Files from this size on are worth a second thread in both passes.
constexpr LLONG kTwoThreadsFrom = LLONG{4} << 20;

// A face or line element form. Its shape is what one corner looks like ("n" a number as
// scanf's "%ld" reads it, "/" itself); the whole-line pattern that selects the form is
// the shape three times for a face, twice for a line element, each after white space
// (" %ld/%ld/%ld %ld/%ld/%ld %ld/%ld/%ld" for the first). Every blank-separated token
// must then fit the shape (" %ld/%ld/%ld" read from the token alone). A token gives the
// vertex index first, then the texture index with FACE_HAS_UVS, then the normal index
// with FACE_HAS_NORMALS.
// The corner shapes: vertex, texture and normal index as "v/t/n", "v//n", "v/t", "v/t/",
// "v//", "v/" and "v".
enum Shape { SHAPE_V_T_N, SHAPE_V__N, SHAPE_V_T, SHAPE_V_T_, SHAPE_V__, SHAPE_V_, SHAPE_V };

struct IndexForm {
  const CHAR* shape;
  LONG numbers;  // "n" in shape
  ULONG flags;
  Shape id;
};

const IndexForm kFaceForms[] = {
    {"n/n/n", 3, FACE_HAS_UVS | FACE_HAS_NORMALS, SHAPE_V_T_N},
    {"n//n", 2, FACE_HAS_NORMALS, SHAPE_V__N},
    {"n/n", 2, FACE_HAS_UVS, SHAPE_V_T},
    {"n/n/", 2, FACE_HAS_UVS, SHAPE_V_T_},
    {"n//", 1, 0, SHAPE_V__},
    {"n/", 1, 0, SHAPE_V_},
    {"n", 1, 0, SHAPE_V},
};
constexpr LONG kFaceRepeats = 3;

const IndexForm kSegmentForms[] = {
    {"n", 1, 0, SHAPE_V},
    {"n/", 1, 0, SHAPE_V_},
    {"n//", 1, 0, SHAPE_V__},
};
constexpr LONG kSegmentRepeats = 2;

}  // namespace

// The raw indices of one face or line element, as written.
struct IndexTokens {
  const IndexForm* form;
  LONG count;  // tokens that fit the form
  LONG tooMany;
  LLONG vertex[OBJ_MAX_SEGMENT_POINTS];
  LLONG uv[OBJ_MAX_FACE_CORNERS];
  LLONG normal[OBJ_MAX_FACE_CORNERS];
};

namespace {

// The conversions the whole-line pattern of shape makes on [p, end), as sscanf counts
// them: white space in the pattern and before each number matches any run of it.
LONG MatchLinePattern(const CHAR* p, const CHAR* end, const CHAR* shape, LONG repeats) {
  LONG conversions = 0;
  for (LONG r = 0; r < repeats; ++r) {
    p = scan::SkipSpace(p, end);
    for (const CHAR* op = shape; *op; ++op) {
      if (*op == 'n') {
        p = scan::SkipSpace(p, end);
        if (p < end && (*p == '+' || *p == '-')) ++p;
        if (p >= end || !scan::IsDigit(*p)) return conversions;
        while (p < end && scan::IsDigit(*p)) ++p;
        ++conversions;
      } else {
        if (p >= end || *p != *op) return conversions;
        ++p;
      }
    }
  }
  return conversions;
}

// A number inside one blank-separated token at *p: like "%ld", but the white space it
// may skip never includes the blank or tab that ends the token.
template <bool kValues>
[[gnu::always_inline]] inline bool TokenNumber(const CHAR** p, const CHAR* end, LLONG* value) {
  const CHAR* q = *p;
  while (q < end && scan::IsSpace(*q) && !scan::IsBlank(*q)) ++q;
  if (q >= end || scan::IsBlank(*q)) return false;
  if (kValues) {
    *p = q;
    return scan::ScanLong(p, end, value);
  }
  if (*q == '+' || *q == '-') ++q;
  if (q >= end || !scan::IsDigit(*q)) return false;
  while (q < end && scan::IsDigit(*q)) ++q;
  *p = q;
  return true;
}

// The index of the first form whose line pattern gives all its conversions on
// [text, end), or kNoForm.
constexpr UCHAR kNoForm = 0xFF;
UCHAR SelectForm(const CHAR* text, const CHAR* end, const IndexForm* forms, LONG formCount, LONG repeats) {
  for (LONG i = 0; i < formCount; ++i)
    if (MatchLinePattern(text, end, forms[i].shape, repeats) == forms[i].numbers * repeats) return static_cast<UCHAR>(i);
  return kNoForm;
}

// The shape of one corner token as a number: 1 for each number, 2 for each slash, in
// base 3 (PlainFaceForm codes a token the same way).
constexpr ULONG ShapeCode(const CHAR* shape) {
  ULONG code = 0;
  for (; *shape; ++shape) code = code * 3 + (*shape == 'n' ? 1 : 2);
  return code;
}

// The form of a face line whose tokens are all plainly one corner shape: numbers
// (digits with an optional sign) and slashes only, tokens separated by blanks, at
// least three tokens of one of the shapes "n/n/n", "n//n", "n/n" or "n". For such a line
// SelectForm picks that shape's form and every token fits it, so *count gets the tokens.
// kNoForm for any other line: SelectForm and ReadIndexTokens decide those.
UCHAR PlainFaceForm(const CHAR* p, const CHAR* end, LONG* count) {
  ULONG lineCode = 0;
  LONG tokens = 0;
  for (;;) {
    while (p < end && scan::IsBlank(*p)) ++p;
    if (p >= end) break;
    ULONG code = 0;
    LONG elements = 0;
    while (p < end && !scan::IsBlank(*p)) {
      if (++elements > 5) return kNoForm;
      if (*p == '/') {
        code = code * 3 + 2;
        ++p;
        continue;
      }
      if (*p == '-' || *p == '+') ++p;
      if (p >= end || !scan::IsDigit(*p)) return kNoForm;
      while (p < end && scan::IsDigit(*p)) ++p;
      code = code * 3 + 1;
    }
    if (tokens++ == 0)
      lineCode = code;
    else if (code != lineCode)
      return kNoForm;
  }
  if (tokens < kFaceRepeats) return kNoForm;
  *count = tokens;
  switch (lineCode) {
    case ShapeCode("n/n/n"):
      return SHAPE_V_T_N;
    case ShapeCode("n//n"):
      return SHAPE_V__N;
    case ShapeCode("n/n"):
      return SHAPE_V_T;
    case ShapeCode("n"):
      return SHAPE_V;
    default:
      return kNoForm;
  }
}

// One element of a corner's shape at *p: a number ('n') or the character itself.
template <bool kValues, char kOp>
[[gnu::always_inline]] inline bool MatchShapeElement(const CHAR** p, const CHAR* end, LLONG* values, LONG* converted) {
  if constexpr (kOp == 'n') {
    if (!TokenNumber<kValues>(p, end, &values[*converted])) return false;
    ++*converted;
    return true;
  } else {
    if (*p >= end || **p != kOp) return false;
    ++*p;
    return true;
  }
}

// The tokens of [p, end) that fit the corner shape kOps..., stored as ReadIndexTokens
// describes. The shape is a template argument so that each form's loop is plain code.
template <bool kValues, char... kOps>
LONG ReadShapedTokens(const CHAR* p, const CHAR* end, ULONG flags, LONG limit, IndexTokens* out) {
  constexpr LONG kNumbers = ((kOps == 'n' ? 1 : 0) + ...);
  LONG count = 0;
  for (;;) {
    while (p < end && scan::IsBlank(*p)) ++p;
    if (p >= end) break;
    LLONG values[3];
    LONG converted = 0;
    (MatchShapeElement<kValues, kOps>(&p, end, values, &converted) && ...);
    if (converted == kNumbers) {
      if (count >= limit) {
        out->tooMany = 1;
        return 0;
      }
      if (kValues) {
        LONG k = 0;
        out->vertex[count] = values[k++];
        if (flags & FACE_HAS_UVS) out->uv[count] = values[k++];
        if (flags & FACE_HAS_NORMALS) out->normal[count] = values[k++];
      }
      ++count;
    }
    while (p < end && !scan::IsBlank(*p)) ++p;  // the rest of the token
  }
  return count;
}

// Reads every token of [text, end) that fits the shape of forms[form] (from
// SelectForm); other tokens are skipped. Both passes read a line through these two
// functions (pass 1 without the values), so they always agree on its corners. More than
// `limit` fitting tokens set tooMany and give 0.
template <bool kValues>
LONG ReadIndexTokens(const CHAR* text, const CHAR* end, const IndexForm* forms, UCHAR form, LONG limit,
                     IndexTokens* out) {
  out->form = form == kNoForm ? nullptr : &forms[form];
  out->count = 0;
  out->tooMany = 0;
  if (!out->form) return 0;
  // One compiled reader per shape, in the order of Shape.
  using ShapeReader = LONG (*)(const CHAR*, const CHAR*, ULONG, LONG, IndexTokens*);
  static constexpr ShapeReader kReaders[] = {
      &ReadShapedTokens<kValues, 'n', '/', 'n', '/', 'n'>, &ReadShapedTokens<kValues, 'n', '/', '/', 'n'>,
      &ReadShapedTokens<kValues, 'n', '/', 'n'>,           &ReadShapedTokens<kValues, 'n', '/', 'n', '/'>,
      &ReadShapedTokens<kValues, 'n', '/', '/'>,           &ReadShapedTokens<kValues, 'n', '/'>,
      &ReadShapedTokens<kValues, 'n'>,
  };
  const LONG count = kReaders[out->form->id](text, end, out->form->flags, limit, out);
  out->count = count;
  return count;
}

// The zero-based index of a written index: n is n - 1, -k counts back from the
// elements stored so far. Index 0 and indices beyond the counts stay out of range
// (negative or too large) for the scene builder to reject.
inline LONG ResolveIndex(LLONG written, ULONG storedSoFar) {
  LLONG resolved = written > 0 ? written - 1 : written < 0 ? static_cast<LLONG>(storedSoFar) + written : -1;
  constexpr LLONG kMax = std::numeric_limits<LONG>::max();
  constexpr LLONG kMin = std::numeric_limits<LONG>::min();
  if (resolved > kMax) resolved = kMax;
  if (resolved < kMin) resolved = kMin;
  return static_cast<LONG>(resolved);
}

// Pass 1 records a face line that PlainFaceForm read with this bit on its form: pass 2
// then tries ReadPlainCorners first.
constexpr UCHAR kPlainForm = 0x80;
// With kPlainForm: the form is GuessFaceForm's, from counts alone. Where the tokens do
// not bear it out, pass 2 takes the form SelectForm picks, as pass 1 would have.
constexpr UCHAR kGuessedForm = 0x40;

// The plain shape a face line of three or four tokens most likely has, from the counts
// of its tokens, slashes and double slashes alone: "n" has no slash, "n/n" one a token,
// "n//n" two, side by side, "n/n/n" two apart. kNoForm for any other line (and without
// SSE2). Sixteen characters at a time, no branch per character: on files of quads this
// replaces most of pass 1's work on faces. The numbers are not looked at: pass 2 reads
// every token of a guessed line against the shape and, where one does not fit, reads the
// line as SelectForm and ReadIndexTokens would have. A line of three or four tokens
// makes one face or none, so a wrong guess can only count one face too many.
UCHAR GuessFaceForm(const CHAR* p, const CHAR* end) {
#ifdef __SSE2__
  const __m128i space = _mm_set1_epi8(' '), tab = _mm_set1_epi8('\t'), slash = _mm_set1_epi8('/');
  // Per byte lane: tokens started, slashes, slashes after a slash (each at most once per
  // sixteen characters, so lines of fewer than 4080 cannot overflow a lane).
  __m128i starts = _mm_setzero_si128(), slashes = starts, doubles = starts;
  __m128i blankBefore = _mm_set1_epi8(-1), slashBefore = _mm_setzero_si128();  // the text starts a token
  auto count = [&](__m128i v) {
    const __m128i blank = _mm_or_si128(_mm_cmpeq_epi8(v, space), _mm_cmpeq_epi8(v, tab));
    const __m128i isSlash = _mm_cmpeq_epi8(v, slash);
    // Each lane's left neighbour: the lane before, or the last lane of the last chunk.
    const __m128i prevBlank = _mm_or_si128(_mm_slli_si128(blank, 1), _mm_srli_si128(blankBefore, 15));
    const __m128i prevSlash = _mm_or_si128(_mm_slli_si128(isSlash, 1), _mm_srli_si128(slashBefore, 15));
    starts = _mm_sub_epi8(starts, _mm_andnot_si128(blank, prevBlank));
    slashes = _mm_sub_epi8(slashes, isSlash);
    doubles = _mm_sub_epi8(doubles, _mm_and_si128(isSlash, prevSlash));
    blankBefore = blank;
    slashBefore = isSlash;
  };
  if (end - p >= 4080) return kNoForm;
  LONG tokens = 0, slashCount = 0, doubleCount = 0;
  if (end - p < 16) {
    // Too short for a load that stays within the text: one character at a time.
    bool wasBlank = true, wasSlash = false;
    for (; p < end; ++p) {
      const bool blank = scan::IsBlank(*p), isSlash = *p == '/';
      tokens += !blank && wasBlank;
      slashCount += isSlash;
      doubleCount += isSlash && wasSlash;
      wasBlank = blank;
      wasSlash = isSlash;
    }
  } else {
    for (; end - p >= 16; p += 16) count(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    if (p < end) {
      // The last sixteen characters, of which those counted already are masked out;
      // each lane's left neighbour is the character before it in the same load.
      alignas(16) static const unsigned char kLater[32] = {0,    0,    0,    0,    0,    0,    0,    0,
                                                           0,    0,    0,    0,    0,    0,    0,    0,
                                                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
      const __m128i later = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLater + (end - p)));
      const __m128i kept[3] = {starts, slashes, doubles};
      starts = slashes = doubles = _mm_setzero_si128();  // now 0 or 1 per lane
      count(_mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16)));
      starts = _mm_add_epi8(kept[0], _mm_and_si128(starts, later));
      slashes = _mm_add_epi8(kept[1], _mm_and_si128(slashes, later));
      doubles = _mm_add_epi8(kept[2], _mm_and_si128(doubles, later));
    }
    auto total = [](__m128i lanes) {
      const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
      return static_cast<LONG>(_mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    };
    tokens = total(starts);
    slashCount = total(slashes);
    doubleCount = total(doubles);
  }
  if (tokens < 3 || tokens > 4) return kNoForm;
  if (slashCount == 0) return SHAPE_V;
  if (slashCount == tokens && doubleCount == 0) return SHAPE_V_T;
  if (slashCount == 2 * tokens && doubleCount == tokens) return SHAPE_V__N;
  if (slashCount == 2 * tokens && doubleCount == 0) return SHAPE_V_T_N;
#else
  (void)p;
  (void)end;
#endif
  return kNoForm;
}

// One index of a plain corner at *p: an optional sign and 1 to 18 digits, resolved
// against the elements stored so far. False for anything else (more digits take the
// general reader, which saturates them).
[[gnu::always_inline]] inline bool PlainIndex(const CHAR** p, const CHAR* end, ULONG storedSoFar, LONG* index) {
  const CHAR* q = *p;
  const bool negative = q < end && *q == '-';
  if (q < end && (*q == '-' || *q == '+')) ++q;
  std::uint32_t run = 0;
  unsigned long long value = 0;
  if (digitrun::ReadShortRun(&q, end, &run)) {
    value = run;
  } else {
    const CHAR* digits = q;
    for (; q < end && scan::IsDigit(*q); ++q) value = value * 10 + static_cast<unsigned long long>(*q - '0');
    if (q == digits || q - digits > 18) return false;
  }
  *index = ResolveIndex(negative ? -static_cast<LLONG>(value) : static_cast<LLONG>(value), storedSoFar);
  *p = q;
  return true;
}

[[gnu::always_inline]] inline bool PlainSlash(const CHAR** p, const CHAR* end) {
  if (*p >= end || **p != '/') return false;
  ++*p;
  return true;
}

// The corners of a face line whose tokens are all exactly the corner shape kShape
// ("n/n/n", "n//n", "n/n" or "n"), straight into resolved index lists: vertex indices
// against stored[0], UV indices against stored[1], normal indices against stored[2].
// For such a line ReadIndexTokens and ResolveIndex give the same corners. -1 when the
// line is not like that, or holds more than limit corners: the general reader decides.
template <Shape kShape>
LONG ReadPlainCorners(const CHAR* p, const CHAR* end, LONG limit, const ULONG* stored, LONG* vertex, LONG* uv,
                      LONG* normal) {
  LONG count = 0;
  for (;;) {
    while (p < end && scan::IsBlank(*p)) ++p;
    if (p >= end) return count;
    if (count >= limit || !PlainIndex(&p, end, stored[0], &vertex[count])) return -1;
    bool fits = true;
    if constexpr (kShape == SHAPE_V_T_N)
      fits = PlainSlash(&p, end) && PlainIndex(&p, end, stored[1], &uv[count]) && PlainSlash(&p, end) &&
             PlainIndex(&p, end, stored[2], &normal[count]);
    else if constexpr (kShape == SHAPE_V__N)
      fits = PlainSlash(&p, end) && PlainSlash(&p, end) && PlainIndex(&p, end, stored[2], &normal[count]);
    else if constexpr (kShape == SHAPE_V_T)
      fits = PlainSlash(&p, end) && PlainIndex(&p, end, stored[1], &uv[count]);
    if (!fits || (p < end && !scan::IsBlank(*p))) return -1;
    ++count;
  }
}

LONG ReadPlainCorners(UCHAR shape, const CHAR* p, const CHAR* end, LONG limit, const ULONG* stored, LONG* vertex,
                      LONG* uv, LONG* normal) {
  switch (shape) {
    case SHAPE_V_T_N:
      return ReadPlainCorners<SHAPE_V_T_N>(p, end, limit, stored, vertex, uv, normal);
    case SHAPE_V__N:
      return ReadPlainCorners<SHAPE_V__N>(p, end, limit, stored, vertex, uv, normal);
    case SHAPE_V_T:
      return ReadPlainCorners<SHAPE_V_T>(p, end, limit, stored, vertex, uv, normal);
    case SHAPE_V:
      return ReadPlainCorners<SHAPE_V>(p, end, limit, stored, vertex, uv, normal);
    default:
      return -1;
  }
}

// A number at *p (no white space before it) as "%f" reads it. Short decimals take
// scan::ShortDecimal, other plain decimal text fast_float, both rounding exactly as the
// C library does; everything else (hexadecimal, inf, nan, odd text) goes the general way.
inline bool ReadReal(const CHAR** p, const CHAR* end, Real* value) {
  const CHAR* q = *p;
  const bool negative = q < end && *q == '-';
  if (q < end && (*q == '-' || *q == '+')) ++q;
  if (q < end && (scan::IsDigit(*q) || *q == '.') && !(*q == '0' && q + 1 < end && (q[1] | 0x20) == 'x')) {
    double magnitude = 0;
    if (scan::ShortDecimal(&q, end, &magnitude)) {
      *value = negative ? -magnitude : magnitude;
      *p = q;
      return true;
    }
    const fast_float::from_chars_result r = fast_float::from_chars(q, end, magnitude);
    if (r.ec == std::errc()) {
      *value = negative ? -magnitude : magnitude;
      *p = r.ptr;
      return true;
    }
  }
  return scan::ScanDouble(p, end, value);
}

// Reads the first `count` blank-separated tokens of [text, end) as numbers ("%f" each;
// kValues: stored into values). False when there are fewer or one does not read.
template <bool kValues>
Bool ReadNumbers(const CHAR* text, const CHAR* end, LONG count, Real* values) {
  // A number never takes in a blank or tab, so it can be read with the line's end as
  // its limit; the rest of its token is skipped after it.
  const CHAR* p = text;
  for (LONG i = 0; i < count; ++i) {
    while (p < end && scan::IsBlank(*p)) ++p;
    if (p >= end) return FALSE;
    if (kValues) {
      if (!ReadReal(&p, end, &values[i])) return FALSE;
    } else if (!scan::ReadsAsReal(p, end)) {
      return FALSE;
    }
    if (i + 1 == count) break;  // what follows the last number does not matter
    while (p < end && !scan::IsBlank(*p)) ++p;
  }
  return TRUE;
}

// Of the first `count` numbers of [text, end) (ReadNumbers<false> read them all), those
// that do not read as finite values. Plain tokens (digits, points and signs, at most 300
// characters) are finite whatever they hold; only the others are converted.
ULONG NotFiniteValues(const CHAR* text, const CHAR* end, LONG count) {
  ULONG notFinite = 0;
  const CHAR* p = text;
  for (LONG i = 0; i < count; ++i) {
    while (p < end && scan::IsBlank(*p)) ++p;
    const CHAR* token = p;
    bool plain = true;
    for (; p < end && !scan::IsBlank(*p); ++p)
      plain = plain && (scan::IsDigit(*p) || *p == '.' || *p == '-' || *p == '+');
    if (plain && p - token <= 300) continue;
    Real value = 0;
    const CHAR* q = token;
    if (ReadReal(&q, end, &value) && !std::isfinite(value)) ++notFinite;
  }
  return notFinite;
}

// Values that are no numbers (NaN, infinity, or too large to hold) become 0, so that
// nothing built from them (centred axes, normals, bounding boxes) turns into NaN; they
// are counted for the one report per file.
inline Vector Finite(Vector v, ULONG* notFinite) {
  for (Real* c : {&v.x, &v.y, &v.z})
    if (!std::isfinite(*c)) {
      *c = 0.0;
      ++*notFinite;
    }
  return v;
}

// The axis options of vertices and normals, in their order: y and z swapped first,
// then z negated, then x negated.
inline Vector MirrorAxes(Vector v, ULONG geomFlags) {
  if (geomFlags & GEOM_SWAP_YZ) std::swap(v.y, v.z);
  if (geomFlags & GEOM_NEGATE_Z) v.z = -v.z;
  if (geomFlags & GEOM_NEGATE_X) v.x = -v.x;
  return v;
}

// count zeroed vectors from the host allocator (a zero block is a zero Vector).
#define AllocVectors(count) \
  static_cast<Vector*>(GeAlloc(static_cast<VLONG>(sizeof(Vector)) * static_cast<VLONG>(count)))

// The statements, by their first characters.
enum Statement {
  ST_NONE,
  ST_VERTEX,
  ST_NORMAL,
  ST_UV,
  ST_FACE,
  ST_LINE,
  ST_GROUP,
  ST_OBJECT,
  ST_MATERIAL,
  ST_MTLLIB,
  ST_REGION,
};

// The statement of a line and where its text starts.
Statement Classify(const CHAR* line, const CHAR** text) {
  switch (line[0]) {
    case 'v':
      if (line[1] == ' ' || line[1] == '\t') {
        *text = line + 1;
        return ST_VERTEX;
      }
      if (line[1] == 'n') {
        *text = line + 2;
        return ST_NORMAL;
      }
      if (line[1] == 't') {
        *text = line + 2;
        return ST_UV;
      }
      return ST_NONE;
    case 'f':
      *text = line + (line[1] == 'o' ? 2 : 1);
      return ST_FACE;
    case 'l':
      *text = line + (line[1] == 'o' ? 2 : 1);
      return ST_LINE;
    case 'g':
      *text = line + 1;
      return ST_GROUP;
    case 'o':
      *text = line + 1;
      return ST_OBJECT;
    case 'u': {
      const CHAR* end = scan::EndOf(line);
      if (scan::ScanPattern(line, end, "usemtl %s", nullptr, nullptr) != 1) return ST_NONE;
      *text = line + 7;
      return ST_MATERIAL;
    }
    case 'm':
      if (std::strncmp(line, "mtllib", 6) != 0) return ST_NONE;
      *text = line + 6;
      return ST_MTLLIB;
    case '#':
      if (line[1] != ' ' || line[2] != 'r' || line[3] != ' ') return ST_NONE;
      *text = line + 2;
      return ST_REGION;
    default:
      return ST_NONE;
  }
}

// The statement of a line as the import options read it: line elements are faces with
// IMP_LINES_AS_FACES, nothing without IMP_LINE_ELEMENTS.
Statement ClassifyStatement(const CHAR* line, const CHAR** text, ULONG layoutFlags) {
  const Statement statement = Classify(line, text);
  if (statement != ST_LINE) return statement;
  if (!(layoutFlags & IMP_LINE_ELEMENTS)) return ST_NONE;
  return (layoutFlags & IMP_LINES_AS_FACES) ? ST_FACE : ST_LINE;
}

// Copies text into buffer (OBJ_LINE_BUFFER_SIZE bytes) so the name helpers can work in
// place, and cuts it to maxLength characters.
CHAR* CopyText(CHAR* buffer, const CHAR* text, LONG maxLength) {
  LONG n = 0;
  while (text[n] && n < maxLength) {
    buffer[n] = text[n];
    ++n;
  }
  buffer[n] = 0;
  return buffer;
}

// The name of an "o", "usemtl" or "# r" statement: the text, blanks turned into "_".
// Empty when the text holds no word.
String StatementName(const CHAR* text) {
  CHAR buffer[OBJ_LINE_BUFFER_SIZE];
  CHAR* name = BlanksToUnderscores(CopyText(buffer, text, OBJ_LINE_BUFFER_SIZE - 1));
  if (std::strlen(name) > static_cast<size_t>(OBJ_MAX_NAME_LENGTH)) name[OBJ_MAX_NAME_LENGTH] = 0;
  return String(name);
}

// The name of a "g" statement. whole: the whole trimmed text (blanks kept) and
// *multiName when it holds several words; otherwise its last word.
String GroupName(const CHAR* text, Bool whole, Bool* multiName) {
  CHAR buffer[OBJ_LINE_BUFFER_SIZE];
  CHAR* name = Trim(CopyText(buffer, text, OBJ_LINE_BUFFER_SIZE - 1));
  *multiName = FALSE;
  if (HasBlank(name)) {
    if (whole) {
      *multiName = TRUE;
      return String(name);
    }
    CHAR* last = name;
    for (CHAR* p = name; *p; ++p)
      if (scan::IsBlank(*p)) last = p + 1;
    name = last;
  }
  if (std::strlen(name) > static_cast<size_t>(OBJ_MAX_NAME_LENGTH)) name[OBJ_MAX_NAME_LENGTH] = 0;
  return String(name);
}

// True when "%s" reads a word from [text, ...).
Bool HasWord(const CHAR* text) {
  const CHAR* p = text;
  return scan::ScanWord(&p, scan::EndOf(text));
}

}  // namespace

// --- life cycle ---------------------------------------------------------------------------

ObjImporter* ObjImporter::Alloc() {
  ObjImporter* importer = gNew ObjImporter;
  if (!importer) return nullptr;
  importer->lineBuffer = bNew(CHAR, OBJ_LINE_BUFFER_SIZE + TEXTLINE_SLACK);
  importer->m_pGroupList = ioGroupList::Alloc();
  importer->m_pRegionList = ioRegionList::Alloc();
  importer->m_pMaterialList = ioMaterialList::Alloc();
  importer->m_pMeshObjList = meshObjList::Alloc();
  if (!importer->lineBuffer || !importer->m_pGroupList || !importer->m_pRegionList || !importer->m_pMaterialList ||
      !importer->m_pMeshObjList) {
    Free(importer);
    return nullptr;
  }
  importer->lineBuffer[0] = 0;
  return importer;
}

void ObjImporter::Free(ObjImporter*& importer) {
  if (!importer) return;
  gDelete(importer);
  importer = nullptr;
}

ObjImporter::~ObjImporter() {
  input.Close();
  ClearModel();
  ioGroupList::Free(m_pGroupList);
  ioRegionList::Free(m_pRegionList);
  ioMaterialList::Free(m_pMaterialList);
  meshObjList::Free(m_pMeshObjList);
  bDelete(lineBuffer);
  for (linkNode* node = m_missingLibraries.First(); node; node = node->Next()) {
    String* name = static_cast<String*>(node->Data());
    gDelete(name);
  }
  m_missingLibraries.Clear();
}

void ObjImporter::SetOptions(const PluginOpts& opts, Real factor) {
  opts.CopyTo(&importOpts);
  scaleFactor = factor;
}

LONG ObjImporter::Open(const Filename& file, LONG blockSize) {
  input.Close();
  input.SetBlockSize(blockSize);
  m_file = file;
  m_blockSize = blockSize;
  return input.Open(file);
}

void ObjImporter::FreeSegments() {
  if (segments) {
    for (ULONG i = 0; i < m_segmentSlots; ++i) {
      bDelete(segments[i].points);
      bDelete(segments[i].pointUVs);
      bDelete(segments[i].pointNormals);
    }
  }
  bDelete(segments);
  m_segmentSlots = 0;
}

void ObjImporter::ClearModel() {
  FreeSegments();
  bDelete(vertices);
  bDelete(normals);
  bDelete(uvs);
  bDelete(faces);
  m_facesAreUVCorners = FALSE;
  bDelete(ngonScratch);
  ngonScratchCount = 0;
  bDelete(m_pending);
  m_pendingCount = m_pendingRoom = 0;
  gDelete(m_splitter);
  GeFree(m_pForms);
  m_formCount = m_formCapacity = m_formCursor = 0;
  bDelete(m_namings);
  m_split = SplitPoint();
  m_formsLost = FALSE;
  ngons.FreeNgonRecords();
  ngonParts.FreeNgonRecords();
  if (m_pGroupList) m_pGroupList->Clear();
  if (m_pRegionList) m_pRegionList->Clear();
  if (m_pMaterialList) m_pMaterialList->Clear();
  if (m_pMeshObjList) m_pMeshObjList->Clear();
  vertexCount = normalCount = uvCount = faceCount = ngonCount = segmentCount = 0;
  curGroupMark = curRegionMark = curMaterialMark = curMeshObjMark = groupNameCount = 0;
  curMaterial = curGroup = curRegion = curMeshObj = 0;
  verticesRead = normalsRead = uvsRead = facesStored = ngonsStored = segmentsStored = 0;
  linesRead = lineTotal = 0;
  linesTooLong = facesTooLarge = segmentsTooLarge = ngonsNotSplit = valuesNotFinite = 0;
  facesDropped = facesWithoutUVsOrNormals = segmentsDropped = 0;
  mtlLibName[0] = 0;
  contentFlags = 0;
}

// --- line input ---------------------------------------------------------------------------

namespace {

// The next statement of reader into *line and *length: where it stands in the reader's
// block for most lines; the rest (continued or cut lines, lines across two blocks, zero
// bytes) copied into buffer (OBJ_LINE_BUFFER_SIZE + TEXTLINE_SLACK bytes). False at the
// end of the file.
// A line longer than the buffer is skipped whole (counted in *tooLong when given).
Bool NextLine(TextReader& reader, CHAR* buffer, const CHAR** line, LONG* length, ULONG* tooLong) {
  if (const CHAR* inPlace = reader.ReadLineInPlace(OBJ_LINE_BUFFER_SIZE, length)) {
    *line = inPlace;
    return TRUE;
  }
  *line = buffer;
  *length = reader.ReadLine(buffer, OBJ_LINE_BUFFER_SIZE);
  if (*length <= 0) return FALSE;
  // A zero byte ends the text, as it does for every string operation on it.
  *length = reader.TextLength();
  if (!reader.LineWasCut()) return TRUE;
  // The statement does not fit: skip all of it rather than read its pieces as
  // statements of their own. Comments may be as long as they like.
  const Bool comment = buffer[0] == '#';
  while (reader.LineWasCut() && reader.ReadLine(buffer, OBJ_LINE_BUFFER_SIZE) > 0) {
  }
  if (tooLong && !comment) ++*tooLong;
  buffer[0] = '#';
  buffer[1] = 0;
  *length = 1;
  return TRUE;
}

}  // namespace

Bool ObjImporter::NextStatement(ULONG* tooLong) {
  if (m_preludeNext < m_preludeCount) {
    m_line = m_prelude[m_preludeNext++];
    m_lineLength = static_cast<LONG>(std::strlen(m_line));
    return TRUE;
  }
  return NextLine(input, lineBuffer, &m_line, &m_lineLength, tooLong);
}

// --- the forms pass 1 chose ------------------------------------------------------------------

Bool ObjImporter::FormRoom(ULONG more) {
  if (m_formsLost) return FALSE;
  const ULONG needed = m_formCount + more;
  if (needed >= m_formCount && needed <= m_formCapacity) return TRUE;
  const ULONG doubled = m_formCapacity ? m_formCapacity * 2 : 4096;
  const ULONG capacity = doubled > needed && doubled > m_formCapacity ? doubled : needed;
  UCHAR* grown = needed < m_formCount ? nullptr : static_cast<UCHAR*>(GeRealloc(m_pForms, capacity));
  if (!grown) {
    // Pass 2 then selects every form again, as pass 1 did.
    m_formsLost = TRUE;
    return FALSE;
  }
  m_pForms = grown;
  m_formCapacity = capacity;
  return TRUE;
}

void ObjImporter::RecordForm(UCHAR form) {
  // Once per face of pass 1: the room is checked here before anything is called.
  if ((!m_formsLost && m_formCount < m_formCapacity) || FormRoom(1)) m_pForms[m_formCount++] = form;
}

void ObjImporter::RecordForms(const UCHAR* forms, ULONG count) {
  if (count == 0 || !FormRoom(count)) return;
  std::memcpy(m_pForms + m_formCount, forms, count);
  m_formCount += count;
}

Bool ObjImporter::TakeRecordedForm(UCHAR* form) {
  if (m_formsLost || m_formCursor >= m_formCount) return FALSE;
  *form = m_pForms[m_formCursor++];
  return TRUE;
}

// --- pass 1 -------------------------------------------------------------------------------

template <class List>
void ObjImporter::MarkEntry(const void* entry, const List& list, LONG* mark) {
  if (entry)
    *mark = list.Count();
  else
    scanOutOfMemory = TRUE;
}

// The naming statements ("g", "# r", "o", "usemtl", "mtllib") a second range met, in
// file order, and where among them its first face or line element came: all that its
// reading changes in the lists, to be done again on the first importer after its range.
struct ObjImporter::NamingLog {
  CHAR* text = nullptr;  // the statements, each ended by a zero byte
  VLONG size = 0;
  VLONG capacity = 0;
  VLONG firstFaceAt = -1;  // offset into text, -1 before any face
  Bool lost = FALSE;       // memory ran out: the log is incomplete

  ~NamingLog() { GeFree(text); }
  void Add(const CHAR* line, LONG length) {
    if (lost) return;
    const VLONG needed = size + length + 1;
    if (needed > capacity) {
      const VLONG grown = std::max<VLONG>(needed, capacity ? capacity * 2 : 4096);
      CHAR* more = static_cast<CHAR*>(GeRealloc(text, grown));
      if (!more) {
        lost = TRUE;
        return;
      }
      text = more;
      capacity = grown;
    }
    std::memcpy(text + size, line, static_cast<size_t>(length));
    text[size + length] = 0;
    size = needed;
  }
  void MarkFirstFace() {
    if (firstFaceAt < 0) firstFaceAt = size;
  }
};

void ObjImporter::CreateDefaultEntries() {
  if (m_namingLog) {
    m_namingLog->MarkFirstFace();  // made by the first importer when it merges
    return;
  }
  if (curMeshObjMark == 0) {
    MarkEntry(m_pMeshObjList->FindOrAdd(m_defaultObjectName), *m_pMeshObjList, &curMeshObjMark);
  }
  if (curGroupMark == 0) {
    const String name("default_Grp");
    groupNameCount = m_pGroupList->AddKnownName(name);
    if (groupNameCount && m_pGroupList->FindOrAdd(name, FALSE))
      curGroupMark = m_pGroupList->Count();
    else
      scanOutOfMemory = TRUE;
  }
  if (curRegionMark == 0) {
    MarkEntry(m_pRegionList->FindOrAdd(String("default_Rgn")), *m_pRegionList, &curRegionMark);
  }
  if (curMaterialMark == 0) {
    ioMaterial* material = m_pMaterialList->FindOrAdd(nullptr, String("default_Mat"));
    if (material) {
      m_pMaterialList->MarkDefault(material);
      curMaterialMark = m_pMaterialList->Count();
    } else {
      scanOutOfMemory = TRUE;
    }
  }
}

void ObjImporter::ScanGroup(const CHAR* text) {
  if (!HasWord(text)) return;
  const Bool whole = (importOpts.geomFlags & GEOM_WHOLE_GROUP_NAMES) != 0;
  Bool multiName = FALSE;
  const String name = GroupName(text, whole, &multiName);
  if (name.GetLength() == 0) return;
  if (!m_pGroupList->FindOrAdd(name, multiName)) {
    scanOutOfMemory = TRUE;
    return;
  }
  if (multiName) {
    // Every word of a multi-name group is a group of its own for the selection tags.
    CHAR buffer[OBJ_LINE_BUFFER_SIZE];
    CHAR* words = Trim(CopyText(buffer, text, OBJ_LINE_BUFFER_SIZE - 1));
    CHAR* p = words;
    while (*p) {
      while (*p && scan::IsBlank(*p)) ++p;
      CHAR* wordEnd = p;
      while (*wordEnd && !scan::IsBlank(*wordEnd)) ++wordEnd;
      if (wordEnd == p) break;
      const CHAR saved = *wordEnd;
      *wordEnd = 0;
      if (wordEnd - p > OBJ_MAX_NAME_LENGTH) p[OBJ_MAX_NAME_LENGTH] = 0;
      groupNameCount = m_pGroupList->AddKnownName(String(p));
      if (!groupNameCount) scanOutOfMemory = TRUE;
      *wordEnd = saved;
      p = wordEnd;
    }
  } else {
    groupNameCount = m_pGroupList->AddKnownName(name);
    if (!groupNameCount) scanOutOfMemory = TRUE;
  }
  curGroupMark = m_pGroupList->Count();
  contentFlags |= OBJ_HAS_GROUPS;
  NoteNaming(0);
}

void ObjImporter::NoteNaming(LONG kind) {
  if (!m_namings || m_split.found) return;  // no split point to come, or past it
  CHAR* slot = m_namings + kind * OBJ_LINE_BUFFER_SIZE;
  std::memcpy(slot, m_line, static_cast<size_t>(m_lineLength));
  slot[m_lineLength] = 0;
}

void ObjImporter::NoteSplit() {
  m_split.found = TRUE;
  m_split.offset = input.Offset();
  m_split.statements = lineTotal;
  m_split.faces = faceCount;
  m_split.ngons = ngonCount;
  m_split.forms = m_formCount;
}

// --- pass 1 by ranges ----------------------------------------------------------------------

// Pass 1 of the second range on a worker thread: an importer of its own scans from the
// boundary to the end of the file into its own counts, forms and n-gon records, and only
// logs its naming statements (its lists stay empty); MergeInto reads those on the first
// importer and adds the rest, as if one reading had gone on.
struct ObjImporter::ScanRange {
  ObjImporter* second = nullptr;
  NamingLog log;
  LLONG boundary = -1;
  BackgroundJob* job = nullptr;
  Bool ok = FALSE;
  Bool complete = FALSE;  // the reading reached the end of the file

  ~ScanRange() {
    BackgroundJob::Free(job);
    if (second) second->m_namingLog = nullptr;
    ObjImporter::Free(second);
  }

  static void Run(void* data) {
    auto* self = static_cast<ScanRange*>(data);
    ObjImporter& s = *self->second;
    IndexTokens* tokens = bNew(IndexTokens, 1);
    self->ok = tokens != nullptr;
    if (tokens) {
      while (s.NextScanStatement(std::numeric_limits<LLONG>::max())) s.ScanStatement(tokens);
      bDelete(tokens);
    }
    self->ok = self->ok && !self->log.lost;
    self->complete = s.input.ReadToEnd();
  }

  Bool Start(ObjImporter* first, LLONG at) {
    if (!(second = ObjImporter::Alloc())) return FALSE;
    ObjImporter& s = *second;
    s.SetOptions(first->importOpts, first->scaleFactor);
    s.m_defaultObjectName = first->m_defaultObjectName;
    s.m_namingLog = &log;
    s.m_countUnread = TRUE;
    s.input.SetBlockSize(first->m_blockSize);
    if (s.input.Open(first->m_file) != FILEERROR_NONE) return FALSE;
    s.input.SeekTo(at);
    boundary = at;
    return (job = BackgroundJob::Alloc()) != nullptr && job->Start(Run, this);
  }

  void MergeInto(ObjImporter* first) {
    ObjImporter& s = *second;
    for (VLONG at = 0;;) {
      if (at == log.firstFaceAt) first->CreateDefaultEntries();
      if (at >= log.size) break;
      const CHAR* line = log.text + at;
      const LONG length = static_cast<LONG>(std::strlen(line));
      const CHAR* text = nullptr;
      const Statement statement = Classify(line, &text);
      first->ScanNaming(statement, text, line + length);
      at += length + 1;
    }
    first->vertexCount += s.vertexCount;
    first->normalCount += s.normalCount;
    first->uvCount += s.uvCount;
    first->faceCount += s.faceCount;
    first->ngonCount += s.ngonCount;
    first->segmentCount += s.segmentCount;
    first->lineTotal += s.lineTotal;
    first->m_coordinatesSkipped += s.m_coordinatesSkipped;
    first->m_coordinatesUnread = first->m_coordinatesUnread || s.m_coordinatesUnread;
    first->contentFlags |= s.contentFlags & (OBJ_HAS_VERTICES | OBJ_HAS_NORMALS | OBJ_HAS_UVS | OBJ_HAS_FACES |
                                             OBJ_HAS_SEGMENTS);
    if (s.scanOutOfMemory) first->scanOutOfMemory = TRUE;
    if (s.m_formsLost) first->m_formsLost = TRUE;
    first->RecordForms(s.m_pForms, s.m_formCount);
    first->ngons.TakeAll(s.ngons);
  }
};

void ObjImporter::FindMiddlesOfWork(LLONG* scanAt, LLONG* readAt) const {
  // Pass 1 counts coordinate lines without reading them but reads every face's corners
  // (line elements' too); pass 2 reads both. Their costs per line and per byte of each
  // kind, relative to a line's, as measured on large files. Samples spread over the file
  // give each stretch around them its cost; a middle is where half of the sum is reached.
  // (Files mostly hold their coordinates first and their faces after them.)
  struct Costs {
    double line, coordinateByte, indexByte;
  };
  constexpr Costs kScan = {1.0, 0.0, 0.02}, kRead = {1.0, 0.055, 0.057};
  constexpr LONG kSamples = 32;
  constexpr LLONG kSampleBytes = 8192;
  const LLONG length = input.GetLength();
  *scanAt = *readAt = length / 2;
  const LLONG stretch = length / kSamples;
  if (stretch < 2 * kSampleBytes) return;
  BaseFile* file = BaseFile::Alloc();
  UCHAR* bytes = bNew(UCHAR, kSampleBytes);
  double scanCost[kSamples] = {}, readCost[kSamples] = {};
  Bool read = file && bytes && file->Open(m_file, FILEOPEN_READ, FILEDIALOG_NONE);
  for (LONG i = 0; read && i < kSamples; ++i) {
    read = file->Seek(i * stretch, FILESEEK_START) && file->ReadBytes(bytes, kSampleBytes) == kSampleBytes;
    // Whole lines only: from after the first line end of the sample to its last one.
    LONG first = 0;
    while (first < kSampleBytes && bytes[first] != '\n') ++first;
    LONG lines = 0, coordinateBytes = 0, indexBytes = 0, lineStart = first + 1;
    for (LONG k = first + 1; k < kSampleBytes; ++k) {
      if (bytes[k] != '\n') continue;
      ++lines;
      const UCHAR kind = bytes[lineStart];
      if (kind == 'v') coordinateBytes += k - lineStart;
      if (kind == 'f' || kind == 'l') indexBytes += k - lineStart;
      lineStart = k + 1;
    }
    const double sampled = lineStart - first - 1;
    if (sampled <= 0) continue;
    auto cost = [&](const Costs& c) {
      return (c.line * lines + c.coordinateByte * coordinateBytes + c.indexByte * indexBytes) / sampled;
    };
    scanCost[i] = cost(kScan);
    readCost[i] = cost(kRead);
  }
  bDelete(bytes);
  BaseFile::Free(file);
  if (!read) return;
  auto middle = [&](const double* cost) {
    double total = 0;
    for (LONG i = 0; i < kSamples; ++i) total += cost[i];
    double sum = 0;
    for (LONG i = 0; total > 0 && i < kSamples; ++i) {
      if (cost[i] > 0 && sum + cost[i] >= total / 2)
        return i * stretch + static_cast<LLONG>(static_cast<double>(stretch) * (total / 2 - sum) / cost[i]);
      sum += cost[i];
    }
    return length / 2;
  };
  *scanAt = middle(scanCost);
  *readAt = middle(readCost);
}

LLONG ObjImporter::FindLineBoundary(LLONG middle) const {
  // A line end at or after the middle ends its statement when the physical line before
  // it holds something besides blanks and no backslash: nothing joins across it then,
  // and a reading that starts after it meets the statements a whole reading meets there.
  constexpr LLONG kBefore = 4096;
  constexpr LLONG kWindow = LLONG{1} << 16;
  const LLONG start = std::max<LLONG>(0, middle - kBefore);
  const LLONG length = std::min<LLONG>(kWindow, input.GetLength() - start);
  if (length <= 0) return -1;
  BaseFile* file = BaseFile::Alloc();
  UCHAR* bytes = bNew(UCHAR, length);
  LLONG boundary = -1;
  LLONG lines = 0, namings = 0;  // the window's lines, and those that name objects, groups or materials
  if (file && bytes && file->Open(m_file, FILEOPEN_READ, FILEDIALOG_NONE) && file->Seek(start, FILESEEK_START) &&
      file->ReadBytes(bytes, static_cast<VLONG>(length)) == length) {
    LLONG lineStart = -1;  // after the last line end seen; -1 before the first
    Bool content = FALSE, backslash = FALSE;
    for (LLONG i = 0; i < length; ++i) {
      const UCHAR c = bytes[i];
      if (c == '\n' || c == '\r') {
        if (boundary < 0 && lineStart >= 0 && start + i >= middle && content && !backslash) boundary = start + i + 1;
        lineStart = i + 1;
        content = backslash = FALSE;
      } else if (c == '\\') {
        backslash = TRUE;
      } else if (c != ' ' && c != '\t') {
        if (!content) {
          ++lines;
          if (c == 'o' || c == 'g' || c == 'u') ++namings;
        }
        content = TRUE;
      }
    }
  }
  bDelete(bytes);
  BaseFile::Free(file);
  // The first importer makes every name of the file itself, those of the second range
  // after both ranges are read: where names are dense (many objects of a few lines
  // each), that would cost it more than the other half of the lines saves.
  if (namings * 32 > lines) return -1;
  return boundary;
}

void ObjImporter::FinishScanRange(ScanRange& second, Bool pending, IndexTokens* tokens) {
  // Pass 2 splits the file at the boundary when it came before the middle of the bytes.
  const Bool atEnd = !pending && input.ReadToEnd();
  if (!m_split.found) {
    NoteSplit();  // from here NoteNaming keeps nothing more
    m_split.offset = second.boundary;
    m_split.coordinates[0] = vertexCount;
    m_split.coordinates[1] = normalCount;
    m_split.coordinates[2] = uvCount;
    m_split.coordinatesFound = TRUE;
  }
  BackgroundJob::Free(second.job);
  if ((pending || atEnd) && second.ok && second.complete) {
    second.MergeInto(this);
    scannedByRanges = TRUE;
    return;
  }
  // The second range cannot be used: this reading goes on alone from the boundary (a
  // read that failed on the way stays failed for it), and pass 2 reads all of it too.
  m_split = SplitPoint();
  bDelete(m_namings);
  if (!pending) return;
  ScanStatement(tokens);
  while (NextStatement(nullptr)) ScanStatement(tokens);
}

void ObjImporter::ScanStatement(IndexTokens* tokens) {
  ++lineTotal;
  const CHAR* text = nullptr;
  const CHAR* lineEnd = m_line + m_lineLength;
  const Statement statement = ClassifyStatement(m_line, &text, importOpts.layoutFlags);
  switch (statement) {
    case ST_VERTEX:
    case ST_NORMAL:
    case ST_UV: {
      if (m_coordinateJob) break;
      // Where no exact count is needed (m_countUnread), only the first sound line of
      // each kind is read: whether a file has any vertex decides whether it is read at
      // all. Pass 2 reads every line and keeps the sound ones.
      const ULONG kind = statement == ST_VERTEX ? 1 : statement == ST_NORMAL ? 2 : 4;
      if (m_countUnread && (m_soundKinds & kind)) {
        m_coordinatesUnread = TRUE;
      } else if (ReadNumbers<false>(text, lineEnd, statement == ST_UV ? 2 : 3, nullptr)) {
        m_soundKinds |= kind;
      } else {
        ++m_coordinatesSkipped;
        break;
      }
      if (statement == ST_VERTEX) {
        ++vertexCount;
        contentFlags |= OBJ_HAS_VERTICES;
      } else if (statement == ST_NORMAL) {
        ++normalCount;
        contentFlags |= OBJ_HAS_NORMALS;
      } else {
        ++uvCount;
        contentFlags |= OBJ_HAS_UVS;
      }
      break;
    }
    case ST_FACE: {
      if (CountGuessedFace(text, lineEnd)) break;
      CreateDefaultEntries();
      LONG n = 0;
      UCHAR form = PlainFaceForm(text, lineEnd, &n);
      if (form == kNoForm) {
        form = SelectForm(text, lineEnd, kFaceForms, 7, kFaceRepeats);
        n = ReadIndexTokens<false>(text, lineEnd, kFaceForms, form, OBJ_MAX_FACE_CORNERS, tokens);
        RecordForm(form);
      } else {
        if (n > OBJ_MAX_FACE_CORNERS) n = 0;  // too many corners: skipped, as ReadIndexTokens says
        RecordForm(form | kPlainForm);
      }
      if (n < 3) break;
      if (n <= 4) {
        faceCount += 1;
      } else {
        if (ngons.AddNgonRecord(n, n))
          ++ngonCount;
        else
          scanOutOfMemory = TRUE;
        faceCount += static_cast<ULONG>(n - 2);
      }
      if (faceCount) contentFlags |= OBJ_HAS_FACES;
      break;
    }
    case ST_LINE: {
      CreateDefaultEntries();
      const UCHAR form = SelectForm(text, lineEnd, kSegmentForms, 3, kSegmentRepeats);
      RecordForm(form);
      if (ReadIndexTokens<false>(text, lineEnd, kSegmentForms, form, OBJ_MAX_SEGMENT_POINTS, tokens) >= 2)
        ++segmentCount;
      if (segmentCount) contentFlags |= OBJ_HAS_SEGMENTS;
      break;
    }
    case ST_GROUP:
    case ST_REGION:
    case ST_OBJECT:
    case ST_MATERIAL:
    case ST_MTLLIB:
      // A second range only logs them: the first importer reads them when it merges.
      if (m_namingLog)
        m_namingLog->Add(m_line, m_lineLength);
      else
        ScanNaming(statement, text, lineEnd);
      break;
    default:
      break;
  }
}

Bool ObjImporter::CountWithoutReading(void* importer, const CHAR* line, LONG length) {
  auto* self = static_cast<ObjImporter*>(importer);
  // The rules of ScanStatement for the lines it counts without reading them.
  if (line[0] == 'v') {
    ULONG kind = 0, *count = nullptr;
    if (line[1] == ' ' || line[1] == '\t') {
      kind = 1;
      count = &self->vertexCount;
    } else if (line[1] == 'n') {
      kind = 2;
      count = &self->normalCount;
    } else if (line[1] == 't') {
      kind = 4;
      count = &self->uvCount;
    } else {
      return FALSE;
    }
    if (self->m_coordinateJob) return TRUE;  // counted by the coordinate reading
    if (!self->m_countUnread || !(self->m_soundKinds & kind)) return FALSE;
    self->m_coordinatesUnread = TRUE;
    ++*count;  // its kind's content flag came with the first line of the kind
    return TRUE;
  }
  return line[0] == 'f' && line[1] != 'o' && self->CountGuessedFace(line + 1, line + length);
}

Bool ObjImporter::CountGuessedFace(const CHAR* text, const CHAR* end) {
  const UCHAR form = GuessFaceForm(text, end);
  if (form == kNoForm) return FALSE;
  CreateDefaultEntries();
  RecordForm(form | kPlainForm | kGuessedForm);
  faceCount += 1;
  contentFlags |= OBJ_HAS_FACES;
  return TRUE;
}

Bool ObjImporter::NextScanStatement(LLONG before) {
  if (m_preludeNext >= m_preludeCount)
    lineTotal += input.TakeLinesInPlace(OBJ_LINE_BUFFER_SIZE, before, CountWithoutReading, this);
  return NextStatement(nullptr);
}

void ObjImporter::ScanNaming(LONG statement, const CHAR* text, const CHAR* lineEnd) {
  switch (statement) {
    case ST_GROUP:
      ScanGroup(text);
      break;
    case ST_REGION:
      if (scan::ScanPattern(text, lineEnd, "r %s", nullptr, nullptr) == 1) {
        MarkEntry(m_pRegionList->FindOrAdd(StatementName(text + 2)), *m_pRegionList, &curRegionMark);
        contentFlags |= OBJ_HAS_REGIONS;
        NoteNaming(1);
      }
      break;
    case ST_OBJECT: {
      if (!HasWord(text)) break;
      MarkEntry(m_pMeshObjList->FindOrAdd(StatementName(text)), *m_pMeshObjList, &curMeshObjMark);
      contentFlags |= OBJ_HAS_OBJECTS;
      NoteNaming(2);
      break;
    }
    case ST_MATERIAL: {
      MarkEntry(m_pMaterialList->FindOrAdd(nullptr, StatementName(text)), *m_pMaterialList, &curMaterialMark);
      contentFlags |= OBJ_HAS_MATERIALS;
      NoteNaming(3);
      break;
    }
    case ST_MTLLIB: {
      CHAR buffer[OBJ_LINE_BUFFER_SIZE];
      CopyText(mtlLibName, FilePart(CopyText(buffer, text, OBJ_LINE_BUFFER_SIZE - 1)), OBJ_MAX_MTLLIB_LENGTH);
      contentFlags |= OBJ_HAS_MTLLIB;
      break;
    }
    default:
      break;
  }
}

Bool ObjImporter::ScanObj(const String& defaultObjectName) {
  m_defaultObjectName = defaultObjectName;
  m_formCount = 0;
  m_formsLost = FALSE;
  m_coordinatesSkipped = 0;
  m_soundKinds = 0;
  m_coordinatesUnread = FALSE;
  scanOutOfMemory = FALSE;
  if (m_defaultObjectName.GetLength() > OBJ_MAX_NAME_LENGTH)
    m_defaultObjectName = m_defaultObjectName.SubStr(0, OBJ_MAX_NAME_LENGTH);
  lineTotal = 0;
  IndexTokens* tokens = bNew(IndexTokens, 1);
  if (!tokens) {
    ReportMemoryError("ScanObj()");
    return FALSE;
  }
  m_split = SplitPoint();
  bDelete(m_namings);
  scannedByRanges = FALSE;
  scanMiddle = -1;
  // Large files are scanned as two ranges on two threads where a line boundary near the
  // middle is found; otherwise a second reading counts the coordinate lines and pass 1
  // notes where pass 2 may split the file.
  ScanRange second;
  Bool byRanges = FALSE;
  // Pass 2's split point comes after the middle of the bytes (where the coordinate
  // reading notes its counts too), or after the middle of pass 2's work by ranges.
  const LLONG half = input.GetLength() / 2;
  LLONG readMiddle = half;
  if (input.GetLength() >= kTwoThreadsFrom && GeGetWorkerThreadCount() >= 2) {
    m_namings = bNew(CHAR, 4 * OBJ_LINE_BUFFER_SIZE + TEXTLINE_SLACK);  // both ways note the split point's names
    scanMiddle = half;
    FindMiddlesOfWork(&scanMiddle, &readMiddle);
    const LLONG boundary = m_namings ? FindLineBoundary(scanMiddle) : -1;
    byRanges = boundary > 0 && second.Start(this, boundary);
  }
  const Bool noteSplit = !byRanges && StartCoordinateJob(FALSE) && m_namings;
  if (!byRanges && !noteSplit) bDelete(m_namings);
  // Coordinate lines are only counted unless a second reading counts them beside this
  // one. Pass 2's split point then holds counts that are exact where every coordinate
  // line before it reads (pass 2 finds out if one does not, and reads on alone).
  m_countUnread = !m_coordinateJob;
  Bool pending = FALSE;  // the first statement of the second range is in m_line
  for (;;) {
    if (noteSplit && !m_split.found && lineTotal > 0 && input.Offset() >= half) NoteSplit();
    if (byRanges && !m_split.found && lineTotal > 0 && input.Offset() >= readMiddle) {
      NoteSplit();
      m_split.coordinates[0] = vertexCount;
      m_split.coordinates[1] = normalCount;
      m_split.coordinates[2] = uvCount;
      m_split.coordinatesFound = TRUE;
    }
    // Lines are taken the short way only while the checks above and below cannot apply.
    LLONG before = std::numeric_limits<LLONG>::max();
    if (noteSplit && !m_split.found) before = std::min(before, half);
    if (byRanges && !m_split.found) before = std::min(before, readMiddle);
    if (byRanges) before = std::min(before, second.boundary);
    if (!NextScanStatement(before)) break;
    if (byRanges && input.LineStart() >= second.boundary) {
      pending = TRUE;
      break;
    }
    ScanStatement(tokens);
  }
  if (byRanges)
    FinishScanRange(second, pending, tokens);
  else
    FinishCoordinateCount();
  bDelete(tokens);
  if (scanOutOfMemory) {
    ReportMemoryError("ScanObj()");
    return FALSE;
  }
  return vertexCount > 0;
}

// --- the model ----------------------------------------------------------------------------

Bool ObjImporter::AllocModel() {
  // Each array's failure is reported with its own text and ends the run.
  auto missing = [](const CHAR* what) {
    ReportMemoryError(what);
    return FALSE;
  };
  if (faceCount > 0 && !(faces = bNew(ObjFace, faceCount))) return missing("no Faces");
  if (segmentCount > 0) {
    if (!(segments = bNew(ObjSegment, segmentCount))) return missing("no Segments");
    m_segmentSlots = segmentCount;
  }
  LONG largest = 0;
  for (linkNode* node = ngons.First(); node; node = node->Next()) {
    const NgonRecord* record = static_cast<const NgonRecord*>(node->Data());
    if (record->cornerCount > largest) largest = record->cornerCount;
  }
  if (largest > 0) {
    // Per corner: two edge words, and the four sides of up to one member (BuildNgon).
    if (!(ngonScratch = bNew(LLONG, 9 * LLONG(largest)))) return missing("no Ngons");
    ngonScratchCount = largest;
  }
  if (uvCount == 0) uvCount = 1;
  if (!(uvs = AllocVectors(uvCount))) return missing("no UVs");
  if (normalCount == 0) normalCount = 1;
  if (m_keepNormals && !(normals = AllocVectors(normalCount))) return missing("no Normals");
  if (vertexCount > 0 && !(vertices = AllocVectors(vertexCount))) return missing("no Vertices");
  // Which groups an object's line elements were read in: only line elements mark them
  // (a file of 100 000 objects and no line elements made as many arrays for nothing).
  if (segmentCount > 0 && !m_pMeshObjList->SizeGroupUsed(static_cast<ULONG>(m_pGroupList->Count())))
    return missing("no Groups");
  m_pGroupList->ResetObjectSelections();
  m_pRegionList->ResetObjectSelections();
  m_pMaterialList->ResetObjectSelections();
  return TRUE;
}

// --- pass 2 -------------------------------------------------------------------------------

// The faces the second range stores, counted per entry (by list: mesh objects, groups,
// regions, materials) apart from the entries' own counters, which the calling thread
// raises meanwhile; added to them once both ranges are read.
struct ObjImporter::EntryTally {
  ULONG* counts[4] = {};
  LONG sizes[4] = {};

  template <class List>
  Bool Size(LONG list, const List& entries) {
    LONG largest = -1;
    for (auto* entry = entries.First(); entry; entry = entry->Next()) largest = std::max(largest, entry->index);
    sizes[list] = largest + 1;
    return sizes[list] == 0 || (counts[list] = bNew(ULONG, sizes[list])) != nullptr;
  }
  void Add(LONG list, const void* entry, LONG index) {
    if (entry && index >= 0 && index < sizes[list]) ++counts[list][index];
  }
  template <class List>
  void AddTo(LONG list, const List& entries) const {
    for (auto* entry = entries.First(); entry; entry = entry->Next())
      if (entry->index >= 0 && entry->index < sizes[list]) entry->faceCount += counts[list][entry->index];
  }
  ~EntryTally() {
    for (ULONG*& list : counts) bDelete(list);
  }
};

namespace {

// The entries a face belongs to, by index (0 where it has none).
struct FaceEntries {
  LONG material, object, group, region;
};

FaceEntries EntriesOf(const ioMaterial* material, const meshObj* object, const ioGroup* group,
                      const ioRegion* region) {
  return {material ? material->index : 0, object ? object->index : 0, group ? group->index : 0,
          region ? region->index : 0};
}

// Into a face or an n-gon record.
template <class T>
void SetEntries(T* to, const FaceEntries& entries) {
  to->material = entries.material;
  to->meshObj = entries.object;
  to->group = entries.group;
  to->region = entries.region;
}

// One face of a face line: corner[k] picks the line's corners for its a, b, c and d (a
// triangle repeats c in d).
void FillFace(ObjFace* face, const FaceEntries& entries, const LONG* corner, const LONG* vertexIndices,
              const LONG* uvIndices, const LONG* normalIndices, LONG sequence) {
  SetEntries(face, entries);
  face->sequence = sequence;
  for (LONG k = 0; k < 4; ++k) {
    face->v[k] = vertexIndices[corner[k]];
    face->vt[k] = uvIndices ? uvIndices[corner[k]] : 0;
    face->vn[k] = normalIndices ? normalIndices[corner[k]] : 0;
  }
  face->cornerCount = corner[2] == corner[3] ? 3 : 4;
}

// Whether the n corners of a face line, as a triangle or quad, all name one of counts[0]
// points, and one of counts[1] UVs and counts[2] normals where the face has them. An
// n-gon never passes: its faces are made later, elsewhere.
Bool CornersInRange(LONG n, const LONG* vertexIndices, const LONG* uvIndices, const LONG* normalIndices,
                    const ULONG* counts) {
  if (n > 4) return FALSE;
  Bool fine = TRUE;
  for (LONG i = 0; i < n; ++i) {
    fine &= static_cast<ULONG>(vertexIndices[i]) < counts[0];
    if (uvIndices) fine &= static_cast<ULONG>(uvIndices[i]) < counts[1];
    if (normalIndices) fine &= static_cast<ULONG>(normalIndices[i]) < counts[2];
  }
  return fine;
}

// The corners of polygon q of a split, when each names one of the outline's corners.
Bool SplitCorners(const CPolygon& q, LONG cornerCount, LONG* corner) {
  corner[0] = q.a;
  corner[1] = q.b;
  corner[2] = q.c;
  corner[3] = q.d;
  for (LONG k = 0; k < 4; ++k)
    if (corner[k] < 0 || corner[k] >= cornerCount) return FALSE;
  return TRUE;
}

}  // namespace

// An n-gon read in pass 2 and split after it. Its corners wait in the first slots of
// its room: slot j holds the vertex, UV and normal indices of corners 4j to 4j + 3.
struct ObjImporter::PendingNgon {
  NgonRecord* record;
  ULONG first;  // its first face slot
  ULONG room;   // the slots it holds, n - 2 (fewer only where the table ends)
  ULONG made;   // the faces its split made, from `first` on
  Bool split;   // split at its place in pass 2 (and counted there): only moved
  LONG cornerCount;
  ULONG flags;
  ioGroup* group;
  ioRegion* region;
  ioMaterial* material;
  meshObj* object;
};

void ObjImporter::ReportNgonMemory() {
  // The face is sound; memory is what is missing. Said once per read.
  if (!m_ngonMemoryReported) ReportMemoryError("TriangulateNgon()");
  m_ngonMemoryReported = TRUE;
}

void ObjImporter::StoreFace(LONG cornerCount, const LONG* vertexIndices, const LONG* uvIndices,
                            const LONG* normalIndices, ObjFace* slot, ioGroup* group, ioRegion* region,
                            ioMaterial* material, meshObj* object) {
  const FaceEntries entries = EntriesOf(material, object, group, region);
  auto count = [&]() {
    if (m_tally) {
      m_tally->Add(0, object, entries.object);
      m_tally->Add(1, group, entries.group);
      m_tally->Add(2, region, entries.region);
      m_tally->Add(3, material, entries.material);
      return;
    }
    if (group) ++group->faceCount;
    if (region) ++region->faceCount;
    if (material) ++material->faceCount;
    if (object) ++object->faceCount;
  };
  auto fill = [&](ObjFace* face, const LONG* corner) {
    FillFace(face, entries, corner, vertexIndices, uvIndices, normalIndices, static_cast<LONG>(facesStored));
  };

  if (cornerCount <= 4) {
    const LONG corner[4] = {0, 1, 2, cornerCount == 4 ? 3 : 2};
    fill(slot, corner);
    count();
    ++facesStored;
    return;
  }

  // Larger faces become the triangles and quads of the host's split. The n-gon record
  // of this face was made by pass 1, in the same order.
  NgonRecord* record = nullptr;
  if (m_pNextNgon) {
    record = static_cast<NgonRecord*>(m_pNextNgon->Data());
    m_pNextNgon = m_pNextNgon->Next();
    if (record && record->cornerCount != cornerCount) record = nullptr;
  }
  ++ngonsStored;

  // The corners must be known vertices: an index out of range cannot be split, and
  // the face is dropped with the other faces the scene builder refuses.
  for (LONG i = 0; i < cornerCount; ++i) {
    if (vertexIndices[i] < 0 || static_cast<ULONG>(vertexIndices[i]) >= verticesRead) {
      ++ngonsNotSplit;
      if (record) record->polygonCount = 0;
      return;
    }
  }
  const Bool reverse = (importOpts.geomFlags & GEOM_REVERSE_ORDER) != 0;
  if (record) {
    record->polygonCount = 0;
    for (LONG i = 0; i < cornerCount; ++i)
      record->corners[i] = vertexIndices[reverse ? cornerCount - 1 - i : i];
  }

  // With its record, and the n - 2 slots pass 1 counted for it, the n-gon waits for the
  // split after pass 2.
  const ULONG room = std::min<ULONG>(static_cast<ULONG>(cornerCount - 2), faceCount - facesStored);
  if (record && m_pendingCount < m_pendingRoom && room >= static_cast<ULONG>(cornerCount + 3) / 4) {
    PendingNgon& pending = m_pending[m_pendingCount++];
    pending = {record, facesStored, room, 0, FALSE, cornerCount, slot->flags, group, region, material, object};
    for (LONG i = 0; i < cornerCount; ++i) {
      ObjFace& stash = faces[facesStored + static_cast<ULONG>(i) / 4];
      stash.v[i % 4] = vertexIndices[i];
      stash.vt[i % 4] = uvIndices ? uvIndices[i] : 0;
      stash.vn[i % 4] = normalIndices ? normalIndices[i] : 0;
    }
    facesStored += room;
    return;
  }
  // The second range of pass 2 cannot split at once: the corners may lie in the first
  // range, still being stored. The first importer then reads this range itself.
  if (m_tally) {
    m_ngonCannotWait = TRUE;
    return;
  }

  // The positions of the corners: all of them stored once the second thread is done.
  FinishCoordinateJob();
  Vector* positions = AllocVectors(static_cast<ULONG>(cornerCount));
  if (!m_splitter) m_splitter = gNew NgonSplitter;
  const CPolygon* polygons = nullptr;
  LONG m = 0;
  Bool outOfMemory = !positions || !m_splitter;
  if (!outOfMemory) {
    for (LONG i = 0; i < cornerCount; ++i) positions[i] = vertices[vertexIndices[i]];
    polygons = m_splitter->Split(cornerCount, positions, &m, &outOfMemory);
  }
  bDelete(positions);
  if (outOfMemory) ReportNgonMemory();
  if (!polygons) {
    ++ngonsNotSplit;
    return;
  }
  const ULONG first = facesStored;
  for (LONG i = 0; i < m && facesStored < faceCount; ++i) {
    LONG corner[4];
    if (!SplitCorners(polygons[reverse ? m - 1 - i : i], cornerCount, corner)) continue;
    ObjFace* face = &faces[facesStored];
    face->flags = slot->flags;
    fill(face, corner);
    count();
    if (record && record->polygonCount < record->cornerCount) {
      record->polygons[record->polygonCount++] = face->sequence;
      SetEntries(record, entries);
    }
    ++facesStored;
  }
  // Its faces move with the others when n-gons split later close up the table.
  if (record && m_pendingCount < m_pendingRoom) {
    const ULONG made = facesStored - first;
    m_pending[m_pendingCount++] = {record, first, made, made, TRUE, cornerCount, slot->flags, group, region, material,
                                   object};
  }
}

void ObjImporter::SplitNgons(ULONG from, ULONG to, NgonSplitter& splitter, ULONG* notSplit, Bool* outOfMemory) {
  const Bool reverse = (importOpts.geomFlags & GEOM_REVERSE_ORDER) != 0;
  LONG largest = 0;
  for (ULONG n = from; n < to; ++n)
    if (!m_pending[n].split) largest = std::max(largest, m_pending[n].cornerCount);
  // Per corner: its vertex, UV and normal index, and its position.
  LONG* indices = bNew(LONG, 3 * LLONG(largest));
  Vector* positions = AllocVectors(static_cast<ULONG>(largest));
  for (ULONG n = from; n < to; ++n) {
    PendingNgon& pending = m_pending[n];
    if (pending.split) continue;
    NgonRecord& record = *pending.record;
    const LONG cornerCount = pending.cornerCount;
    pending.made = 0;
    if (!indices || !positions) {
      *outOfMemory = TRUE;
      ++*notSplit;
      continue;
    }
    LONG* vertexIndices = indices;
    LONG* uvIndices = indices + cornerCount;
    LONG* normalIndices = indices + 2 * cornerCount;
    for (LONG i = 0; i < cornerCount; ++i) {
      const ObjFace& stash = faces[pending.first + static_cast<ULONG>(i) / 4];
      vertexIndices[i] = stash.v[i % 4];
      uvIndices[i] = stash.vt[i % 4];
      normalIndices[i] = stash.vn[i % 4];
      positions[i] = vertices[vertexIndices[i]];
    }
    LONG m = 0;
    const CPolygon* polygons = splitter.Split(cornerCount, positions, &m, outOfMemory);
    if (!polygons) {
      ++*notSplit;
      continue;
    }
    const FaceEntries entries = EntriesOf(pending.material, pending.object, pending.group, pending.region);
    for (LONG i = 0; i < m && pending.made < pending.room; ++i) {
      LONG corner[4];
      if (!SplitCorners(polygons[reverse ? m - 1 - i : i], cornerCount, corner)) continue;
      ObjFace* face = &faces[pending.first + pending.made];
      face->flags = pending.flags;
      FillFace(face, entries, corner, vertexIndices, uvIndices, normalIndices,
               static_cast<LONG>(pending.first + pending.made));
      record.polygons[record.polygonCount++] = face->sequence;
      ++pending.made;
    }
    if (pending.made > 0) SetEntries(&record, entries);
  }
  bDelete(indices);
  bDelete(positions);
}

struct ObjImporter::NgonSplitJob {
  ObjImporter* importer = nullptr;
  ULONG from = 0, to = 0;
  NgonSplitter splitter;
  ULONG notSplit = 0;
  Bool outOfMemory = FALSE;
  BackgroundJob* job = nullptr;

  static void Run(void* data) {
    auto* self = static_cast<NgonSplitJob*>(data);
    self->importer->SplitNgons(self->from, self->to, self->splitter, &self->notSplit, &self->outOfMemory);
  }
};

void ObjImporter::SplitPendingNgons() {
  if (m_pendingCount == 0) return;
  // Every coordinate is stored by now: pass 2 has ended.
  if (!m_splitter) m_splitter = gNew NgonSplitter;
  // The second thread takes the later n-gons, about half of the corners; a split costs
  // about the same per corner.
  constexpr LLONG kTwoThreadsFromCorners = 4096;  // in all n-gons
  LLONG corners = 0;
  auto toSplit = [this](ULONG n) { return m_pending[n].split ? 0 : LLONG(m_pending[n].cornerCount); };
  for (ULONG n = 0; n < m_pendingCount; ++n) corners += toSplit(n);
  ULONG half = m_pendingCount;
  if (corners >= kTwoThreadsFromCorners && GeGetWorkerThreadCount() >= 2) {
    LLONG before = 0;
    for (half = 0; half < m_pendingCount && 2 * before < corners; ++half) before += toSplit(half);
  }
  NgonSplitJob second;
  second.importer = this;
  second.from = half;
  second.to = m_pendingCount;
  if (half < m_pendingCount && !((second.job = BackgroundJob::Alloc()) && second.job->Start(NgonSplitJob::Run, &second))) {
    BackgroundJob::Free(second.job);
    half = m_pendingCount;  // all of them here
  }
  ULONG notSplit = 0;
  Bool outOfMemory = !m_splitter;
  if (m_splitter) {
    SplitNgons(0, half, *m_splitter, &notSplit, &outOfMemory);
  } else {
    notSplit = half;
  }
  BackgroundJob::Free(second.job);  // waits for it
  if (half < m_pendingCount) {
    notSplit += second.notSplit;
    outOfMemory = outOfMemory || second.outOfMemory;
  }
  ngonsNotSplit += notSplit;
  if (outOfMemory) ReportNgonMemory();

  // The entries count the faces made; then the faces move down over the free slots,
  // each taking its new place as its number.
  ULONG to = m_pending[0].first, from = to;
  auto moveDown = [&](ULONG end) {
    for (; from < end; ++from, ++to) {
      if (from != to) faces[to] = faces[from];
      faces[to].sequence = static_cast<LONG>(to);
    }
  };
  for (ULONG n = 0; n < m_pendingCount; ++n) {
    const PendingNgon& pending = m_pending[n];
    const LONG made = static_cast<LONG>(pending.made);
    if (!pending.split) {
      if (pending.group) pending.group->faceCount += made;
      if (pending.region) pending.region->faceCount += made;
      if (pending.material) pending.material->faceCount += made;
      if (pending.object) pending.object->faceCount += made;
    }
    moveDown(pending.first);  // the faces before it
    for (LONG p = 0; p < made; ++p) pending.record->polygons[p] = static_cast<LONG>(to + p);
    moveDown(pending.first + pending.made);
    from = pending.first + pending.room;
  }
  moveDown(facesStored);
  facesStored = to;
  m_pendingCount = 0;
}

// --- prefaulting ---------------------------------------------------------------------------

void ObjPrefault::Add(void* block, VLONG size) {
  if (block && size > 0 && m_count < kRanges) {
    m_ranges[m_count++] = {block, size};
    m_bytes += size;
  }
}

void ObjPrefault::Run(void* data) {
  const auto* self = static_cast<const ObjPrefault*>(data);
  // In pieces, so that the pages the other thread reaches first are ready soonest.
  constexpr VLONG kPiece = VLONG{8} << 20;
  for (LONG i = 0; i < self->m_count; ++i) {
    auto* bytes = static_cast<char*>(self->m_ranges[i].block);
    const VLONG size = self->m_ranges[i].size;
    for (VLONG done = 0; done < size; done += kPiece) {
      const VLONG piece = std::min(kPiece, size - done);
      GePrefaultMemory(self->m_backwards ? bytes + size - done - piece : bytes + done, piece);
    }
  }
}

void ObjPrefault::Start(Bool backwards) {
  constexpr VLONG kWorthIt = VLONG{16} << 20;
  m_backwards = backwards;
  if (m_job || m_bytes < kWorthIt || GeGetWorkerThreadCount() < 2) return;
  m_job = BackgroundJob::Alloc();
  if (m_job && !m_job->Start(Run, this)) BackgroundJob::Free(m_job);
}

void ObjPrefault::Finish() { BackgroundJob::Free(m_job); }

Bool ObjImporter::StoreCoordinate(LONG statement, const CHAR* text, const CHAR* end, ULONG* read,
                                  ULONG* notFinite) const {
  const ULONG geom = importOpts.geomFlags;
  switch (statement) {
    case ST_VERTEX: {
      Real xyz[3];
      if (read[0] >= vertexCount || !ReadNumbers<true>(text, end, 3, xyz)) return FALSE;
      vertices[read[0]++] = Finite(MirrorAxes(Vector(xyz[0], xyz[1], xyz[2]), geom) * scaleFactor, notFinite);
      return TRUE;
    }
    case ST_NORMAL: {
      if (!normals) {
        if (read[1] >= normalCount || !ReadNumbers<false>(text, end, 3, nullptr)) return FALSE;
        *notFinite += NotFiniteValues(text, end, 3);
        ++read[1];
        return TRUE;
      }
      Real xyz[3];
      if (read[1] >= normalCount || !ReadNumbers<true>(text, end, 3, xyz)) return FALSE;
      Vector n = Finite(MirrorAxes(Vector(xyz[0], xyz[1], xyz[2]), geom), notFinite);
      if (geom & GEOM_REVERSE_NORMALS) n = -n;
      const Real length = std::sqrt(n * n);  // Len(n), inline
      if (length > 0.0) n = Vector(n.x / length, n.y / length, n.z / length);
      normals[read[1]++] = n;
      return TRUE;
    }
    case ST_UV: {
      Real uv[2];
      if (read[2] >= uvCount || !ReadNumbers<true>(text, end, 2, uv)) return FALSE;
      if (geom & GEOM_FLIP_U) uv[0] = 1.0 - uv[0];
      if (geom & GEOM_FLIP_V) uv[1] = 1.0 - uv[1];
      uvs[read[2]++] = Finite(Vector(uv[0], uv[1], 1.0), notFinite);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

// The second thread of pass 2: every v, vn and vt line into the arrays, while the
// calling thread reads the rest of the file and only counts these lines (by the same
// rule, so both agree on every line's place).
struct ObjImporter::CoordinateJob {
  const ObjImporter* importer = nullptr;
  TextReader reader;
  CHAR* buffer = nullptr;
  Bool store = TRUE;           // pass 2: store; pass 1: only count
  ULONG read[3] = {0, 0, 0};  // vertices, normals, UVs stored (counted)
  ULONG skipped = 0;          // pass 1: lines whose numbers did not read
  ULONG notFinite = 0;        // pass 2: values read as 0 (StoreCoordinate)
  Bool complete = FALSE;      // the reading reached the end of the file
  BackgroundJob* job = nullptr;
  // Pass 1: the counts at the split point, found by the rule ScanObj follows.
  LLONG half = 0;
  Bool splitFound = FALSE;
  LLONG splitOffset = 0;
  ULONG splitStatements = 0;
  ULONG splitRead[3] = {0, 0, 0};

  // Runs the reading; when a read of the file failed on the way, the reading is done
  // once more from the start on the calling thread by Finish (as the calling thread's
  // own reading would have met the file).
  static void Run(void* data) {
    auto* self = static_cast<CoordinateJob*>(data);
    self->read[0] = self->read[1] = self->read[2] = self->skipped = self->notFinite = 0;
    self->splitFound = FALSE;
    const CHAR* line = nullptr;
    LONG length = 0;
    ULONG statements = 0;
    for (;;) {
      if (!self->store && !self->splitFound && statements > 0 && self->reader.Offset() >= self->half) {
        self->splitFound = TRUE;
        self->splitOffset = self->reader.Offset();
        self->splitStatements = statements;
        for (LONG k = 0; k < 3; ++k) self->splitRead[k] = self->read[k];
      }
      if (!NextLine(self->reader, self->buffer, &line, &length, nullptr)) break;
      ++statements;
      if (line[0] != 'v') continue;
      const CHAR* text = nullptr;
      const Statement statement = Classify(line, &text);
      if (statement == ST_NONE) continue;
      if (self->store) {
        self->importer->StoreCoordinate(statement, text, line + length, self->read, &self->notFinite);
        continue;
      }
      // Pass 1's rule.
      if (ReadNumbers<false>(text, line + length, statement == ST_UV ? 2 : 3, nullptr))
        ++self->read[statement == ST_VERTEX ? 0 : statement == ST_NORMAL ? 1 : 2];
      else
        ++self->skipped;
    }
    self->complete = self->reader.ReadToEnd();
  }
  // Waits for the thread; reads again on this thread when it could not read to the end.
  void Finish() {
    BackgroundJob::Free(job);
    if (complete) return;
    reader.Rewind();
    Run(this);
    complete = TRUE;  // as far as the file lets itself be read, as on one thread
  }
  ~CoordinateJob() {
    BackgroundJob::Free(job);
    bDelete(buffer);
  }
};

Bool ObjImporter::StartCoordinateJob(Bool store) {
  // Worth a second reading of the file only for larger files.
  if (input.GetLength() < kTwoThreadsFrom || GeGetWorkerThreadCount() < 2) return FALSE;
  CoordinateJob* job = gNew CoordinateJob;
  if (!job) return FALSE;
  job->importer = this;
  job->store = store;
  job->half = input.GetLength() / 2;
  job->reader.SetBlockSize(m_blockSize);
  job->buffer = bNew(CHAR, OBJ_LINE_BUFFER_SIZE + TEXTLINE_SLACK);
  if (!job->buffer || job->reader.Open(m_file) != FILEERROR_NONE || !(job->job = BackgroundJob::Alloc()) ||
      !job->job->Start(CoordinateJob::Run, job)) {
    gDelete(job);
    return FALSE;
  }
  m_coordinateJob = job;
  return TRUE;
}

void ObjImporter::FinishCoordinateJob() {
  if (!m_coordinateJob) return;
  m_coordinateJob->Finish();
  if (m_coordinateJob->store) {
    // Every coordinate of the file is stored: the rest of pass 2 only counts them.
    m_coordinatesStored = TRUE;
    valuesNotFinite += m_coordinateJob->notFinite;
  }
  gDelete(m_coordinateJob);
  m_coordinateJob = nullptr;
}

void ObjImporter::FinishCoordinateCount() {
  CoordinateJob* job = m_coordinateJob;
  if (!job) return;
  job->Finish();
  vertexCount += job->read[0];
  normalCount += job->read[1];
  uvCount += job->read[2];
  m_coordinatesSkipped += job->skipped;
  // Both readings met the same statements: the split point is the same one.
  if (m_split.found && job->splitFound && job->splitOffset == m_split.offset &&
      job->splitStatements == m_split.statements) {
    for (LONG k = 0; k < 3; ++k) m_split.coordinates[k] = job->splitRead[k];
    m_split.coordinatesFound = TRUE;
  }
  if (job->read[0]) contentFlags |= OBJ_HAS_VERTICES;
  if (job->read[1]) contentFlags |= OBJ_HAS_NORMALS;
  if (job->read[2]) contentFlags |= OBJ_HAS_UVS;
  FinishCoordinateJob();  // finished already: only frees it
}

// --- pass 2 by ranges --------------------------------------------------------------------

// The second range: an importer of its own (its own reader, line buffer and cursors)
// that borrows the lists and arrays of the first, reads the naming statements that
// were in force at the split point, then the file from there to its end.
struct ObjImporter::SecondRange {
  ObjImporter* first = nullptr;
  ObjImporter* second = nullptr;
  // The second importer's own lists, given back before it is freed.
  ioGroupList* groups = nullptr;
  ioRegionList* regions = nullptr;
  ioMaterialList* materials = nullptr;
  meshObjList* objects = nullptr;
  EntryTally tally;
  BackgroundJob* job = nullptr;
  Bool ok = FALSE;
  Bool complete = FALSE;  // the second reading reached the end of the file

  ~SecondRange() {
    BackgroundJob::Free(job);
    if (!second) return;
    second->m_pGroupList = groups;
    second->m_pRegionList = regions;
    second->m_pMaterialList = materials;
    second->m_pMeshObjList = objects;
    second->vertices = second->normals = second->uvs = nullptr;
    second->faces = nullptr;
    second->m_pForms = nullptr;
    second->m_formCount = 0;
    second->m_tally = nullptr;
    ObjImporter::Free(second);
  }

  static void Run(void* data) {
    auto* self = static_cast<SecondRange*>(data);
    self->ok = self->second->ReadStatements() && !self->second->m_ngonCannotWait;
    self->complete = self->second->input.ReadToEnd();
  }

  Bool Start(ObjImporter* importer) {
    first = importer;
    const SplitPoint& split = importer->m_split;
    if (!tally.Size(0, *importer->m_pMeshObjList) || !tally.Size(1, *importer->m_pGroupList) ||
        !tally.Size(2, *importer->m_pRegionList) || !tally.Size(3, *importer->m_pMaterialList) ||
        !(second = ObjImporter::Alloc()))
      return FALSE;
    ObjImporter& s = *second;
    groups = s.m_pGroupList;
    regions = s.m_pRegionList;
    materials = s.m_pMaterialList;
    objects = s.m_pMeshObjList;
    s.m_pGroupList = importer->m_pGroupList;
    s.m_pRegionList = importer->m_pRegionList;
    s.m_pMaterialList = importer->m_pMaterialList;
    s.m_pMeshObjList = importer->m_pMeshObjList;
    s.SetOptions(importer->importOpts, importer->scaleFactor);
    s.m_keepNormals = importer->m_keepNormals;
    s.vertices = importer->vertices;
    s.normals = importer->normals;
    s.uvs = importer->uvs;
    s.faces = importer->faces;
    s.vertexCount = importer->vertexCount;
    s.normalCount = importer->normalCount;
    s.uvCount = importer->uvCount;
    s.faceCount = importer->faceCount;
    s.m_pForms = importer->m_pForms;
    s.m_formCount = importer->m_formCount;
    s.m_formCursor = split.forms;
    s.verticesRead = split.coordinates[0];
    s.normalsRead = split.coordinates[1];
    s.uvsRead = split.coordinates[2];
    s.facesStored = split.faces;
    s.m_firstFaceToCheck = importer->m_firstFaceToCheck;
    std::copy(importer->m_checkedCounts, importer->m_checkedCounts + 3, s.m_checkedCounts);
    s.ngonsStored = split.ngons;
    s.m_pNextNgon = importer->ngons.First();
    for (ULONG n = 0; n < split.ngons && s.m_pNextNgon; ++n) s.m_pNextNgon = s.m_pNextNgon->Next();
    const ULONG laterNgons = importer->ngonCount - std::min(importer->ngonCount, split.ngons);
    if (laterNgons > 0) {
      if (!(s.m_pending = bNew(PendingNgon, laterNgons))) return FALSE;
      s.m_pendingRoom = laterNgons;
    }
    s.m_tally = &tally;
    for (LONG kind = 0; kind < 4; ++kind) {
      const CHAR* statement = importer->m_namings + kind * OBJ_LINE_BUFFER_SIZE;
      if (statement[0]) s.m_prelude[s.m_preludeCount++] = statement;
    }
    s.input.SetBlockSize(importer->m_blockSize);
    if (s.input.Open(importer->m_file) != FILEERROR_NONE) return FALSE;
    s.input.SeekTo(split.offset);
    return (job = BackgroundJob::Alloc()) != nullptr && job->Start(Run, this);
  }

  // Both ranges read: the first importer takes over the second's cursors and counts.
  void Merge() {
    ObjImporter& s = *second;
    first->verticesRead = s.verticesRead;
    first->normalsRead = s.normalsRead;
    first->uvsRead = s.uvsRead;
    first->facesStored = s.facesStored;
    first->m_firstFaceToCheck = std::min(first->m_firstFaceToCheck, s.m_firstFaceToCheck);
    first->m_formCursor = s.m_formCursor;
    // The second range's n-gons wait after the first's, in file order.
    first->ngonsStored = s.ngonsStored;
    first->m_pNextNgon = s.m_pNextNgon;
    first->ngonsNotSplit += s.ngonsNotSplit;
    for (ULONG n = 0; n < s.m_pendingCount; ++n) first->m_pending[first->m_pendingCount++] = s.m_pending[n];
    first->curGroup = s.curGroup;
    first->curRegion = s.curRegion;
    first->curMaterial = s.curMaterial;
    first->curMeshObj = s.curMeshObj;
    first->linesRead += s.linesRead - static_cast<ULONG>(s.m_preludeCount);
    first->linesTooLong += s.linesTooLong;
    first->facesTooLarge += s.facesTooLarge;
    first->valuesNotFinite += s.valuesNotFinite;
    tally.AddTo(0, *first->m_pMeshObjList);
    tally.AddTo(1, *first->m_pGroupList);
    tally.AddTo(2, *first->m_pRegionList);
    tally.AddTo(3, *first->m_pMaterialList);
  }

  // The second range is not used: the coordinates it stored are cleared, as the first
  // importer finds the arrays (its faces are overwritten or beyond the count).
  void Discard() {
    const SplitPoint& split = first->m_split;
    ObjImporter& s = *second;
    auto clear = [](Vector* array, ULONG from, ULONG to) {
      if (array && to > from) std::fill(array + from, array + to, Vector());
    };
    clear(s.vertices, split.coordinates[0], s.verticesRead);
    clear(s.normals, split.coordinates[1], s.normalsRead);
    clear(s.uvs, split.coordinates[2], s.uvsRead);
  }
};

Bool ObjImporter::ReadByRanges(Bool* ok) {
  // The second range's elements must take exactly the places pass 1 counted for them:
  // line elements do not; n-gons do while they wait for their split, which needs a
  // record for each.
  if (!m_split.found || !m_split.coordinatesFound || !m_namings || segmentCount > 0 || m_formsLost ||
      (ngonCount > 0 && m_pendingRoom < ngonCount) || GeGetWorkerThreadCount() < 2)
    return FALSE;
  SecondRange second;
  if (!second.Start(this)) return FALSE;
  m_stopAfter = m_split.statements;
  m_progressTotal = m_split.statements;
  *ok = ReadStatements();
  m_stopAfter = 0;
  BackgroundJob::Free(second.job);
  // The first range ended at the split point (its line end at most), with the counts
  // pass 1 found there. When the counts differ, the second range started from wrong
  // ones and the first importer reads on alone.
  const Bool reached = linesRead == m_split.statements && input.Offset() <= m_split.offset;
  const Bool countsAgree = verticesRead == m_split.coordinates[0] && normalsRead == m_split.coordinates[1] &&
                           uvsRead == m_split.coordinates[2] && facesStored == m_split.faces &&
                           ngonsStored == m_split.ngons && m_formCursor == m_split.forms &&
                           m_pendingCount + second.second->m_pendingCount <= m_pendingRoom;
  if (*ok && reached && countsAgree && second.ok && second.complete) {
    second.Merge();
    readByRanges = TRUE;
    return TRUE;
  }
  // Otherwise the first importer reads on alone from where it stopped, as one thread
  // would (a read that failed on the way stays failed for it).
  second.Discard();
  if (*ok) {
    m_progressTotal = lineTotal;
    *ok = ReadStatements();
  }
  return TRUE;
}

Bool ObjImporter::ReadObj() {
  // Pass 2 fills the arrays front to back, slower than a worker makes them present.
  ObjPrefault prefault;
  prefault.Add(vertices, static_cast<VLONG>(sizeof(Vector)) * vertexCount);
  prefault.Add(uvs, static_cast<VLONG>(sizeof(Vector)) * uvCount);
  prefault.Add(normals, static_cast<VLONG>(sizeof(Vector)) * normalCount);
  // Pass 1 counted n - 2 faces for an n-gon; its split, mostly quads, fills about half
  // of them. Pages never written are not made present.
  ULONG ngonTriangles = 0;
  for (linkNode* node = ngons.First(); node; node = node->Next())
    if (const auto* record = static_cast<const NgonRecord*>(node->Data())) ngonTriangles += record->cornerCount - 2;
  const ULONG likelyFaces = faceCount - std::min(faceCount, ngonTriangles / 2);
  prefault.Add(faces, static_cast<VLONG>(sizeof(ObjFace)) * likelyFaces);
  prefault.Start(FALSE);
  return ReadObjLines();
}

Bool ObjImporter::ReadObjLines() {
  input.Rewind();
  m_formCursor = 0;
  curMaterial = curGroup = curRegion = curMeshObj = 0;
  verticesRead = normalsRead = uvsRead = facesStored = ngonsStored = segmentsStored = 0;
  linesRead = 0;
  m_firstFaceToCheck = ~ULONG{0};
  m_checkedCounts[0] = vertexCount;
  m_checkedCounts[1] = uvCount;
  m_checkedCounts[2] = normalCount;
  linesTooLong = facesTooLarge = segmentsTooLarge = ngonsNotSplit = valuesNotFinite = 0;
  m_ngonMemoryReported = FALSE;
  readByRanges = FALSE;
  m_pNextNgon = ngons.First();
  m_coordinatesStored = FALSE;
  m_progressTotal = lineTotal;
  // Room for every n-gon pass 1 found to wait for its split; without it they split at once.
  bDelete(m_pending);
  m_pendingCount = m_pendingRoom = 0;
  if (ngons.Count() > 0 && (m_pending = bNew(PendingNgon, ngons.Count())))
    m_pendingRoom = static_cast<ULONG>(ngons.Count());
  Bool ok = TRUE;
  if (!ReadByRanges(&ok)) {
    StartCoordinateJob(TRUE);
    ok = ReadStatements();
    FinishCoordinateJob();
  }
  if (ok) SplitPendingNgons();
  bDelete(m_pending);
  m_pendingCount = m_pendingRoom = 0;
  if (!ok) return FALSE;
  // What was counted but could not be stored is not part of the model; pass 1's counts
  // of coordinates were upper bounds (one entry stands for none, as AllocModel makes it).
  segmentCount = segmentsStored;
  faceCount = facesStored;
  if (faceCount == 0) contentFlags &= ~OBJ_HAS_FACES;  // pass 1 may count a guessed face line that made none
  ngonCount = ngonsStored;
  vertexCount = verticesRead;
  normalCount = normalsRead ? normalsRead : 1;
  uvCount = uvsRead ? uvsRead : 1;
  PrintSkippedInput();
  return TRUE;
}

Bool ObjImporter::ReadStatements() {
  ioGroup* group = m_pGroupList->FindByIndex(curGroup);
  ioRegion* region = m_pRegionList->FindByIndex(curRegion);
  ioMaterial* material = m_pMaterialList->FindByIndex(curMaterial);
  meshObj* object = m_pMeshObjList->FindByIndex(curMeshObj);

  const ULONG geom = importOpts.geomFlags;
  IndexTokens* tokens = bNew(IndexTokens, 1);
  LONG* indexLists = bNew(LONG, 3 * OBJ_MAX_SEGMENT_POINTS);
  if (!tokens || !indexLists) {
    bDelete(tokens);
    bDelete(indexLists);
    ReportMemoryError("ReadObj()");
    return FALSE;
  }
  LONG* vertexList = indexLists;
  LONG* uvList = indexLists + OBJ_MAX_SEGMENT_POINTS;
  LONG* normalList = indexLists + 2 * OBJ_MAX_SEGMENT_POINTS;
  Bool ok = TRUE;
  while (ok && (m_stopAfter == 0 || linesRead < m_stopAfter) && NextStatement(&linesTooLong)) {
    ++linesRead;
    if ((linesRead & 63) == 0 && m_progressTotal > 0)
      StatusSetBar(static_cast<LONG>(std::min<LLONG>(100, static_cast<LLONG>(linesRead) * 100 / m_progressTotal)));
    const CHAR* text = nullptr;
    const CHAR* lineEnd = m_line + m_lineLength;
    const Statement statement = ClassifyStatement(m_line, &text, importOpts.layoutFlags);
    switch (statement) {
      case ST_VERTEX:
      case ST_NORMAL:
      case ST_UV: {
        ULONG read[3] = {verticesRead, normalsRead, uvsRead};
        const LONG k = statement == ST_VERTEX ? 0 : statement == ST_NORMAL ? 1 : 2;
        if (m_coordinateJob || m_coordinatesStored) {
          // Only counted here, by the rule StoreCoordinate stores by; when pass 1 read
          // every such line and found it sound, each of them counts.
          const ULONG limit = k == 0 ? vertexCount : k == 1 ? normalCount : uvCount;
          if (read[k] < limit && ((m_coordinatesSkipped == 0 && !m_coordinatesUnread) ||
                                  ReadNumbers<false>(text, lineEnd, k == 2 ? 2 : 3, nullptr)))
            ++read[k];
        } else {
          StoreCoordinate(statement, text, lineEnd, read, &valuesNotFinite);
        }
        // Only the count of the line's kind changed. Loading it alone, as it was stored,
        // spares the stall of one wide load over the separate stores of the call.
        (k == 0 ? verticesRead : k == 1 ? normalsRead : uvsRead) = read[k];
        break;
      }
      case ST_FACE: {
        UCHAR form = kNoForm;
        if (!TakeRecordedForm(&form)) form = SelectForm(text, lineEnd, kFaceForms, 7, kFaceRepeats);
        if (facesStored >= faceCount) break;
        ObjFace* slot = &faces[facesStored];
        LONG n = -1;
        if (form != kNoForm && (form & kPlainForm)) {
          const Bool guessed = (form & kGuessedForm) != 0;
          form &= static_cast<UCHAR>(~(kPlainForm | kGuessedForm));
          const ULONG stored[3] = {verticesRead, uvsRead, normalsRead};
          n = ReadPlainCorners(form, text, lineEnd, OBJ_MAX_FACE_CORNERS, stored, vertexList, uvList, normalList);
          slot->flags = kFaceForms[form].flags;
          if (n < 0 && guessed) form = SelectForm(text, lineEnd, kFaceForms, 7, kFaceRepeats);
        }
        if (n < 0) {
          n = ReadIndexTokens<true>(text, lineEnd, kFaceForms, form, OBJ_MAX_FACE_CORNERS, tokens);
          if (tokens->tooMany) ++facesTooLarge;
          if (n < 3) break;
          slot->flags = tokens->form->flags;
          for (LONG i = 0; i < n; ++i) {
            vertexList[i] = ResolveIndex(tokens->vertex[i], verticesRead);
            if (slot->flags & FACE_HAS_UVS) uvList[i] = ResolveIndex(tokens->uv[i], uvsRead);
            if (slot->flags & FACE_HAS_NORMALS) normalList[i] = ResolveIndex(tokens->normal[i], normalsRead);
          }
        }
        if (n < 3) break;
        const LONG* faceUVs = (slot->flags & FACE_HAS_UVS) ? uvList : nullptr;
        const LONG* faceNormals = (slot->flags & FACE_HAS_NORMALS) ? normalList : nullptr;
        if (m_firstFaceToCheck > facesStored &&
            !CornersInRange(n, vertexList, faceUVs, faceNormals, m_checkedCounts))
          m_firstFaceToCheck = facesStored;
        StoreFace(n, vertexList, faceUVs, faceNormals, slot, group, region, material, object);
        break;
      }
      case ST_LINE: {
        UCHAR form = kNoForm;
        if (!TakeRecordedForm(&form)) form = SelectForm(text, lineEnd, kSegmentForms, 3, kSegmentRepeats);
        if (segmentsStored >= segmentCount) break;
        if (object) object->MarkGroupUsed(curGroup);
        const LONG n = ReadIndexTokens<true>(text, lineEnd, kSegmentForms, form, OBJ_MAX_SEGMENT_POINTS, tokens);
        if (tokens->tooMany) ++segmentsTooLarge;
        if (n < 2) break;
        ObjSegment& segment = segments[segmentsStored];
        segment.points = bNew(LONG, n);
        segment.pointUVs = bNew(LONG, n);
        segment.pointNormals = bNew(LONG, n);
        if (!segment.points || !segment.pointUVs || !segment.pointNormals) {
          ok = FALSE;
          break;
        }
        for (LONG i = 0; i < n; ++i) segment.points[i] = ResolveIndex(tokens->vertex[i], verticesRead);
        segment.flags = 0;
        segment.material = material ? material->index : 0;
        segment.meshObj = object ? object->index : 0;
        segment.group = group ? group->index : 0;
        segment.region = region ? region->index : 0;
        segment.sequence = static_cast<LONG>(segmentsStored);
        segment.pointCount = n;
        if (region) ++region->segCount;
        if (group) ++group->segCount;
        if (object) ++object->segCount;
        ++segmentsStored;
        break;
      }
      case ST_GROUP: {
        if (!HasWord(text)) break;
        Bool multiName = FALSE;
        const String name = GroupName(text, (geom & GEOM_WHOLE_GROUP_NAMES) != 0, &multiName);
        if (name.GetLength() == 0) break;
        group = m_pGroupList->FindByNameOrFirst(name);
        curGroup = group ? group->index : 0;
        break;
      }
      case ST_REGION:
        if (scan::ScanPattern(text, lineEnd, "r %s", nullptr, nullptr) == 1) {
          ioRegion* found = m_pRegionList->FindByName(StatementName(text + 2));
          region = found ? found : m_pRegionList->FindByIndex(0);
          curRegion = region ? region->index : 0;
        }
        break;
      case ST_OBJECT: {
        if (!HasWord(text)) break;
        // Objects are mostly named again in the order pass 1 listed them: the entry after
        // the current one is tried before the table. Names in the list are unique, so a
        // match is the entry the table would give.
        const String name = StatementName(text);
        meshObj* next = object ? object->Next() : nullptr;
        object = next && next->name == name ? next : m_pMeshObjList->FindByName(name);
        curMeshObj = object ? object->index : 0;
        break;
      }
      case ST_MATERIAL: {
        ioMaterial* found = m_pMaterialList->FindByName(StatementName(text));
        material = found ? found : m_pMaterialList->FindByIndex(0);
        curMaterial = material ? material->index : 0;
        break;
      }
      default:
        break;
    }
  }
  bDelete(tokens);
  bDelete(indexLists);
  return ok;
}

namespace {

inline Bool InRange(LONG index, ULONG count) { return index >= 0 && static_cast<ULONG>(index) < count; }

// Whether DropIndicesOutOfRange leaves the face as it is: its corners in range, its
// UV and normal indices in range where its flags use them and 0 where not, its
// `reserved` word 0. Read only, without branches per corner: most files hold no other.
inline Bool FaceStaysAsItIs(const ObjFace& face, ULONG vertexCount, ULONG uvCount, ULONG normalCount) {
  const Bool uvs = (face.flags & FACE_HAS_UVS) != 0, normals = (face.flags & FACE_HAS_NORMALS) != 0;
  Bool fine = face.reserved == 0;
  for (LONG k = 0; k < 4; ++k) {
    fine &= static_cast<ULONG>(face.v[k]) < vertexCount;
    fine &= uvs ? static_cast<ULONG>(face.vt[k]) < uvCount : face.vt[k] == 0;
    fine &= normals ? static_cast<ULONG>(face.vn[k]) < normalCount : face.vn[k] == 0;
  }
  return fine;
}

}  // namespace

void ObjImporter::DropIndicesOutOfRange() {
  facesDropped = facesWithoutUVsOrNormals = segmentsDropped = 0;

  // Faces: a corner without a point drops the face; a UV or normal index out of range
  // leaves the face without UVs or normals. The new face numbers go to `reserved`
  // first, so the n-gon records can follow before the faces move. The faces before
  // the first that needs a change are only read.
  ULONG first = 0;
  if (vertexCount == m_checkedCounts[0] && uvCount == m_checkedCounts[1] && normalCount == m_checkedCounts[2])
    first = std::min(m_firstFaceToCheck, faceCount);
  while (first < faceCount && FaceStaysAsItIs(faces[first], vertexCount, uvCount, normalCount)) ++first;
  ULONG kept = first;
  for (ULONG i = first; i < faceCount; ++i) {
    ObjFace& face = faces[i];
    Bool pointsExist = TRUE, uvsExist = TRUE, normalsExist = TRUE;
    for (LONG k = 0; k < 4; ++k) {
      pointsExist = pointsExist && InRange(face.v[k], vertexCount);
      uvsExist = uvsExist && InRange(face.vt[k], uvCount);
      normalsExist = normalsExist && InRange(face.vn[k], normalCount);
    }
    if (!pointsExist) {
      face.reserved = -1;
      ++facesDropped;
      continue;
    }
    if (((face.flags & FACE_HAS_UVS) && !uvsExist) || ((face.flags & FACE_HAS_NORMALS) && !normalsExist)) {
      ++facesWithoutUVsOrNormals;
      if (!uvsExist) face.flags &= ~ULONG{FACE_HAS_UVS};
      if (!normalsExist) face.flags &= ~ULONG{FACE_HAS_NORMALS};
    }
    // Without the flag the index is not looked at; keep it harmless all the same.
    for (LONG k = 0; k < 4; ++k) {
      if (!(face.flags & FACE_HAS_UVS)) face.vt[k] = 0;
      if (!(face.flags & FACE_HAS_NORMALS)) face.vn[k] = 0;
    }
    face.reserved = static_cast<LONG>(kept++);
  }
  if (facesDropped) {
    // The faces of an n-gon all have their points (their corners were checked before
    // the split), so every n-gon polygon keeps a new number.
    for (linkNode* node = ngons.First(); node; node = node->Next()) {
      NgonRecord* record = static_cast<NgonRecord*>(node->Data());
      if (!record) continue;
      for (LONG p = 0; p < record->polygonCount; ++p)
        if (static_cast<ULONG>(record->polygons[p]) >= first) record->polygons[p] = faces[record->polygons[p]].reserved;
    }
    for (ULONG i = 0; i < first; ++i) faces[i].sequence = static_cast<LONG>(i);
    for (ULONG i = first; i < faceCount; ++i) {
      const ObjFace& face = faces[i];
      if (face.reserved < 0) {
        if (ioGroup* group = m_pGroupList->FindByIndex(face.group)) --group->faceCount;
        if (ioRegion* region = m_pRegionList->FindByIndex(face.region)) --region->faceCount;
        if (ioMaterial* material = m_pMaterialList->FindByIndex(face.material)) --material->faceCount;
        if (meshObj* object = m_pMeshObjList->FindByIndex(face.meshObj)) --object->faceCount;
        continue;
      }
      const ULONG to = static_cast<ULONG>(face.reserved);
      if (to != i) faces[to] = face;
      faces[to].sequence = static_cast<LONG>(to);
    }
    faceCount = kept;
  }
  for (ULONG i = first; i < faceCount; ++i) faces[i].reserved = 0;

  // Line elements: a point index out of range drops the element.
  ULONG keptSegments = 0;
  for (ULONG i = 0; i < segmentCount; ++i) {
    ObjSegment& segment = segments[i];
    Bool pointsExist = TRUE;
    for (LONG k = 0; k < segment.pointCount; ++k) pointsExist = pointsExist && InRange(segment.points[k], vertexCount);
    if (!pointsExist) {
      ++segmentsDropped;
      if (ioGroup* group = m_pGroupList->FindByIndex(segment.group)) --group->segCount;
      if (ioRegion* region = m_pRegionList->FindByIndex(segment.region)) --region->segCount;
      if (meshObj* object = m_pMeshObjList->FindByIndex(segment.meshObj)) --object->segCount;
      bDelete(segment.points);
      bDelete(segment.pointUVs);
      bDelete(segment.pointNormals);
      continue;
    }
    if (keptSegments != i) {
      segments[keptSegments] = segment;
      segment.points = segment.pointUVs = segment.pointNormals = nullptr;
    }
    segments[keptSegments].sequence = static_cast<LONG>(keptSegments);
    ++keptSegments;
  }
  segmentCount = keptSegments;
  PrintIndicesOutOfRange();
}

void ObjImporter::PrintSkippedInput() const {
  if (linesTooLong)
    ConsolePrintf("Kelvane: %u lines longer than %d characters were skipped", linesTooLong,
                  static_cast<int>(OBJ_LINE_BUFFER_SIZE - 1));
  if (facesTooLarge)
    ConsolePrintf("Kelvane: %u faces with more than %d corners were skipped", facesTooLarge,
                  static_cast<int>(OBJ_MAX_FACE_CORNERS));
  if (segmentsTooLarge)
    ConsolePrintf("Kelvane: %u line elements with more than %d points were skipped", segmentsTooLarge,
                  static_cast<int>(OBJ_MAX_SEGMENT_POINTS));
  if (ngonsNotSplit)
    ConsolePrintf("Kelvane: %u faces of more than 4 corners could not be split and were skipped", ngonsNotSplit);
  if (valuesNotFinite)
    ConsolePrintf("Kelvane: %u vertex, texture or normal values were not finite numbers (NaN or infinity) and were "
                  "read as 0",
                  valuesNotFinite);
}

void ObjImporter::PrintIndicesOutOfRange() const {
  if (facesDropped || facesWithoutUVsOrNormals)
    ConsolePrintf("Kelvane: %u faces had indices out of range: %u without their points were dropped, "
                  "%u were kept without their UVs or normals",
                  facesDropped + facesWithoutUVsOrNormals, facesDropped, facesWithoutUVsOrNormals);
  if (segmentsDropped)
    ConsolePrintf("Kelvane: %u line elements with point indices out of range were dropped", segmentsDropped);
}

void ObjImporter::WarnMissingLibrary(const Filename& library, const Filename& objFile) {
  const String name = library.GetString();
  for (linkNode* node = m_missingLibraries.First(); node; node = node->Next())
    if (*static_cast<const String*>(node->Data()) == name) return;
  GePrint(String("Kelvane: Warning - the material library '") + name + String("' named by '") +
          objFile.GetString() + String("' cannot be opened; the import goes on without it"));
  String* copy = gNew String(name);
  if (copy && !m_missingLibraries.Append(copy)) gDelete(copy);
}

void ObjImporter::LoadMaterialLibrary(const Filename& objFile) {
  if (!mtlLibName[0]) {
    contentFlags &= ~ULONG{OBJ_HAS_MTLLIB};
    return;
  }
  TextReader library;
  const Filename path = objFile.GetDirectory() + Filename(mtlLibName);
  const LONG opened = library.Open(path);
  if (opened != FILEERROR_NONE) {
    // A library that is not there is no error, but said once; one that memory cannot
    // hold is an error.
    if (opened == FILEERROR_MEMORY)
      ReportMemoryError("LoadMTLs()");
    else
      WarnMissingLibrary(path, objFile);
    contentFlags &= ~ULONG{OBJ_HAS_MTLLIB};
    return;
  }
  m_pMaterialList->LoadMTLs(library);
  library.Close();
}

void ObjImporter::ConsolidateMaterials() {
  if (!(importOpts.materialFlags & MAT_CONSOLIDATE)) return;
  m_pMaterialList->Consolidate(importOpts.mergeToleranceR, importOpts.mergeToleranceG, importOpts.mergeToleranceB);
  curMaterialMark = m_pMaterialList->Count();
}

namespace {

// The index lists of the mesh objects and groups, which a second thread may fill while
// the calling thread fills those of the regions and materials: each list writes only
// its own entries and reads the faces and line elements. The face lists of a thread are
// filled in one scan of the faces.
struct ObjectAndGroupIndices {
  meshObjList* objects;
  ioGroupList* groups;
  const ObjFace* faces;
  ULONG faceCount;
  const ObjSegment* segments;
  ULONG segmentCount;
  Bool objectFacesWanted;
  const CHAR* failed = nullptr;

  // Prepares the two face lists for scan; the line elements' lists are filled at once.
  void Prepare(FaceIndexScan* scan) {
    const Bool objectFaces = !objectFacesWanted || objects->PrepareFaceIndices(scan, faces, faceCount);
    const Bool groupFaces = groups->PrepareFaceIndices(scan, faces, faceCount);
    if (!objectFaces)
      failed = "Mem: m_pMeshObjList->SetFaceIndices()";
    else if (!objects->SetSegIndices(segments, segmentCount))
      failed = "Mem: m_pMeshObjList->SetSegIndices()";
    else if (!groupFaces)
      failed = "Mem: m_pGroupList->SetFaceIndices()";
    else if (!groups->SetSegIndices(segments, segmentCount))
      failed = "Mem: m_pGroupList->SetSegIndices()";
  }

  static void Run(void* data) {
    auto* self = static_cast<ObjectAndGroupIndices*>(data);
    FaceIndexScan scan;
    self->Prepare(&scan);
    scan.Run(self->faces, self->faceCount);
  }
};

}  // namespace

Bool ObjImporter::SetListIndices() {
  // Only a build of one object per mesh object reads the mesh objects' faces (every
  // other build takes them from the other lists); a file of many small objects would
  // otherwise make an array per object for nothing. Their line elements make splines
  // in every build.
  const Bool objectFaces = PolygonLayout() == IMP_OBJECT_PER_MESH;
  ObjectAndGroupIndices first{m_pMeshObjList, m_pGroupList, faces, faceCount, segments, segmentCount, objectFaces};
  // For large models the mesh objects and groups are filled on a second thread while
  // this one fills the regions and materials; otherwise one scan fills all four.
  constexpr ULONG kWorthIt = 1u << 16;
  BackgroundJob* job = nullptr;
  if (faceCount >= kWorthIt && GeGetWorkerThreadCount() >= 2 && (job = BackgroundJob::Alloc()) &&
      !job->Start(ObjectAndGroupIndices::Run, &first))
    BackgroundJob::Free(job);
  FaceIndexScan scan;
  if (!job) first.Prepare(&scan);
  const Bool regionFaces = m_pRegionList->PrepareFaceIndices(&scan, faces, faceCount);
  const Bool materialFaces = m_pMaterialList->PrepareFaceIndices(&scan, faces, faceCount);
  scan.Run(faces, faceCount);
  BackgroundJob::Free(job);
  // The first failure in the order the lists are named.
  const CHAR* failed = first.failed;
  if (!failed && !regionFaces) failed = "Mem: m_pRegionList->SetFaceIndices()";
  if (!failed && !materialFaces) failed = "Mem: m_pMaterialList->SetFaceIndices()";
  if (!failed) return TRUE;
  MessageDialog(String(failed));
  return FALSE;
}

ObjImporter* ReadObjModel(const Filename& file, const PluginOpts& opts, Real scaleFactor, LONG blockSize,
                          Bool checkIndices, ObjReadTimes* times) {
  auto last = std::chrono::steady_clock::now();
  auto lap = [&](double ObjReadTimes::*step) {
    const auto now = std::chrono::steady_clock::now();
    if (times) times->*step = std::chrono::duration<double>(now - last).count();
    last = now;
  };
  ObjImporter* importer = ObjImporter::Alloc();
  if (!importer) {
    ReportMemoryError("ObjImporter");
    return nullptr;
  }
  importer->SetOptions(opts, scaleFactor);
  if (importer->Open(file, blockSize) != FILEERROR_NONE) {
    ReportFileError("Open Failed");
    ObjImporter::Free(importer);
    return nullptr;
  }
  Bool ok = importer->ScanObj(FileName(file));
  lap(&ObjReadTimes::scan);
  if (!ok && !importer->scanOutOfMemory) ReportFileError("File Parsing Failed");
  if (ok) {
    importer->LoadMaterialLibrary(file);
    importer->ConsolidateMaterials();
    ok = importer->AllocModel();
  }
  lap(&ObjReadTimes::prepare);
  if (ok && !importer->ReadObj()) {
    ReportMemoryError("vertex buffer allocation Failed");
    ok = FALSE;
  }
  importer->Close();
  lap(&ObjReadTimes::read);
  if (ok && checkIndices) importer->DropIndicesOutOfRange();
  lap(&ObjReadTimes::checkIndices);
  ok = ok && importer->SetListIndices();
  lap(&ObjReadTimes::listIndices);
  if (!ok) ObjImporter::Free(importer);
  return importer;
}
