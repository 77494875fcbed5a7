// The layout of a fuzz_obj input: an option word, the OBJ file, and optionally a
// material library after a separator line.
//
// The option word is the first four bytes, little-endian:
//   bits 0..15   one switch each, in the order of kSwitches
//   bits 16..28  the text reader's block size: 1..kMaxBlockSize as given, anything else
//                the default block size
// An input shorter than four bytes has no option word: every switch off, the default
// block size, all bytes are the file.
//
// After the word, the bytes up to the first kMtlSeparator are the OBJ file; the bytes
// after it are written as kMtlFileName beside it (an OBJ part says "mtllib fuzz.mtl" to
// read them). Without a separator there is no library file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "c4d.h"
#include "fileio.h"
#include "optrecord.h"

namespace fuzzopts {

enum class Word { Geom, Layout, Material };

struct Switch {
  Word word;
  ULONG bit;
};

constexpr Switch kSwitches[] = {
    {Word::Geom, GEOM_SWAP_YZ},           {Word::Geom, GEOM_NEGATE_Z},        {Word::Geom, GEOM_NEGATE_X},
    {Word::Geom, GEOM_FLIP_U},            {Word::Geom, GEOM_FLIP_V},          {Word::Geom, GEOM_REVERSE_ORDER},
    {Word::Geom, GEOM_WHOLE_GROUP_NAMES}, {Word::Geom, GEOM_REVERSE_NORMALS}, {Word::Layout, IMP_LINE_ELEMENTS},
    {Word::Layout, IMP_LINES_AS_FACES},   {Word::Material, MAT_CONSOLIDATE},
    // The scene builder's layouts: polygon objects per group, mesh object, region or
    // material, and one spline per line element.
    {Word::Layout, IMP_OBJECT_PER_GROUP}, {Word::Layout, IMP_OBJECT_PER_MESH}, {Word::Layout, IMP_OBJECT_PER_REGION},
    {Word::Layout, IMP_OBJECT_PER_MATERIAL}, {Word::Layout, IMP_SPLINE_PER_SEGMENT},
};
constexpr size_t kSwitchCount = sizeof(kSwitches) / sizeof(kSwitches[0]);
constexpr uint32_t kMaxBlockSize = 4096;
constexpr size_t kWordSize = 4;
constexpr const char* kMtlSeparator = "\n--- fuzz.mtl ---\n";
constexpr const char* kMtlFileName = "fuzz.mtl";

struct Decoded {
  LONG blockSize = TEXTFILE_BLOCKSIZE;
  size_t consumed = 0;  // bytes of the input the word took: 4, or 0 without a word
};

// Sets or clears each switch of opts from the word at the front of data; the other
// bits of opts are left as they are.
inline Decoded ApplyOptionWord(const uint8_t* data, size_t size, PluginOpts& opts) {
  Decoded decoded;
  uint32_t word = 0;
  if (size >= kWordSize) {
    word = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
    decoded.consumed = kWordSize;
  }
  for (size_t i = 0; i < kSwitchCount; ++i) {
    ULONG& flags = kSwitches[i].word == Word::Geom     ? opts.geomFlags
                   : kSwitches[i].word == Word::Layout ? opts.layoutFlags
                                                       : opts.materialFlags;
    if (word >> i & 1)
      flags |= kSwitches[i].bit;
    else
      flags &= ~kSwitches[i].bit;
  }
  const uint32_t block = word >> 16 & 0x1FFF;
  if (block >= 1 && block <= kMaxBlockSize) decoded.blockSize = static_cast<LONG>(block);
  return decoded;
}

// The two files in the bytes after the option word.
struct Files {
  const uint8_t* obj;
  size_t objSize;
  const uint8_t* mtl;  // null without a separator
  size_t mtlSize;
};

inline Files SplitFiles(const uint8_t* data, size_t size) {
  const size_t separator = std::strlen(kMtlSeparator);
  for (size_t at = 0; size >= separator && at <= size - separator; ++at) {
    if (std::memcmp(data + at, kMtlSeparator, separator) == 0)
      return {data, at, data + at + separator, size - at - separator};
  }
  return {data, size, nullptr, 0};
}

}  // namespace fuzzopts
