// The option word at the front of a fuzz_obj input: four bytes, little-endian.
//   bits 0..9    one switch each, in the order of kSwitches
//   bits 16..28  the text reader's block size: 1..kMaxBlockSize as given, anything else
//                the default block size
// An input shorter than four bytes has no option word: every switch off, the default
// block size, all bytes are the file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "c4d.h"
#include "fileio.h"
#include "optrecord.h"

namespace fuzzopts {

struct Switch {
  bool layout;  // a layoutFlags bit, else a geomFlags bit
  ULONG bit;
};

constexpr Switch kSwitches[] = {
    {false, GEOM_SWAP_YZ},           {false, GEOM_NEGATE_Z},        {false, GEOM_NEGATE_X},
    {false, GEOM_FLIP_U},            {false, GEOM_FLIP_V},          {false, GEOM_REVERSE_ORDER},
    {false, GEOM_WHOLE_GROUP_NAMES}, {false, GEOM_REVERSE_NORMALS}, {true, IMP_LINE_ELEMENTS},
    {true, IMP_LINES_AS_FACES},
};
constexpr size_t kSwitchCount = sizeof(kSwitches) / sizeof(kSwitches[0]);
constexpr uint32_t kMaxBlockSize = 4096;
constexpr size_t kWordSize = 4;

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
    ULONG& flags = kSwitches[i].layout ? opts.layoutFlags : opts.geomFlags;
    if (word >> i & 1)
      flags |= kSwitches[i].bit;
    else
      flags &= ~kSwitches[i].bit;
  }
  const uint32_t block = word >> 16 & 0x1FFF;
  if (block >= 1 && block <= kMaxBlockSize) decoded.blockSize = static_cast<LONG>(block);
  return decoded;
}

}  // namespace fuzzopts
