// How much of a block the system holds in memory: for checks that code leaves pages
// untouched, or makes them present ahead of use.
#pragma once

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

// The share of the whole pages in [block, block + size) that are present, 0 to 1 (1 when
// the system cannot tell).
inline double ResidentShare(const void* block, size_t size) {
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto from = (reinterpret_cast<std::uintptr_t>(block) + page - 1) & ~(page - 1);
  const auto to = (reinterpret_cast<std::uintptr_t>(block) + size) & ~(page - 1);
  if (to <= from) return 1.0;
  std::vector<unsigned char> present((to - from) / page);
  if (::mincore(reinterpret_cast<void*>(from), to - from, present.data()) != 0) return 1.0;
  size_t resident = 0;
  for (unsigned char p : present) resident += p & 1;
  return static_cast<double>(resident) / static_cast<double>(present.size());
}
#endif
