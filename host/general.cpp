// Clock and byte order. The swaps run over whole arrays of file data (MDD frames), so
// they are plain loops the compiler can vectorise; memcpy keeps unaligned data legal.
#include <chrono>
#include <cstring>

#include "c4d_general.h"

namespace {

using Clock = std::chrono::steady_clock;

// The clock counts from the first call, so small values keep full double precision.
Clock::time_point Origin() {
  static const Clock::time_point origin = Clock::now();
  return origin;
}

constexpr bool kMachineIsIntel = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ || __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__,
              "mixed byte orders are not supported");

void Swap16(void* data, VLONG count) {
  if (!data || count <= 0) return;
  auto* bytes = static_cast<unsigned char*>(data);
  for (VLONG i = 0; i < count; ++i) {
    uint16_t v;
    std::memcpy(&v, bytes + i * 2, 2);
    v = __builtin_bswap16(v);
    std::memcpy(bytes + i * 2, &v, 2);
  }
}

void Swap32(void* data, VLONG count) {
  if (!data || count <= 0) return;
  auto* bytes = static_cast<unsigned char*>(data);
  for (VLONG i = 0; i < count; ++i) {
    uint32_t v;
    std::memcpy(&v, bytes + i * 4, 4);
    v = __builtin_bswap32(v);
    std::memcpy(bytes + i * 4, &v, 4);
  }
}

}  // namespace

Real GeGetMilliSeconds() {
  const Clock::time_point origin = Origin();
  return std::chrono::duration<Real, std::milli>(Clock::now() - origin).count();
}

LONG GeGetTimer() { return static_cast<LONG>(static_cast<LLONG>(GeGetMilliSeconds())); }

LONG GeGetByteOrder() { return kMachineIsIntel ? BYTEORDER_INTEL : BYTEORDER_MOTOROLA; }

void wSwap(void* data, VLONG count) { Swap16(data, count); }
void lSwap(void* data, VLONG count) { Swap32(data, count); }

void wMotorola(void* data, VLONG count) {
  if (kMachineIsIntel) Swap16(data, count);
}
void lMotorola(void* data, VLONG count) {
  if (kMachineIsIntel) Swap32(data, count);
}
void wIntel(void* data, VLONG count) {
  if (!kMachineIsIntel) Swap16(data, count);
}
void lIntel(void* data, VLONG count) {
  if (!kMachineIsIntel) Swap32(data, count);
}
