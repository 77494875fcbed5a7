// Host allocator: zero-filled blocks tagged with the requesting source file and line.
// Every allocation can fail (null); callers test every result.
#pragma once

#include <new>
#include <type_traits>
#include <utility>

#include "ge_types.h"

// Allocates size bytes, zero-filled, tagged with file and line. Null on failure
// (including a size that does not fit the address space).
void* GeAllocTagged(VLONG size, const CHAR* file, LONG line);
// The same without the zero fill, for a block the caller writes whole before reading
// it: clearing megabytes only to overwrite them costs as much as the writing.
void* GeAllocNCTagged(VLONG size, const CHAR* file, LONG line);
// Frees a block from GeAllocTagged or GeAllocNCTagged; null is accepted.
void GeFreeTagged(void* block);
// Resizes a block, keeping the common part and zero-filling growth. Null on failure,
// in which case the old block stays valid.
void* GeReallocTagged(void* block, VLONG size, const CHAR* file, LONG line);

#define GeAlloc(size) GeAllocTagged(static_cast<VLONG>(size), __FILE__, __LINE__)
#define GeAllocNC(size) GeAllocNCTagged(static_cast<VLONG>(size), __FILE__, __LINE__)
#define GeRealloc(block, size) GeReallocTagged(block, static_cast<VLONG>(size), __FILE__, __LINE__)
#define GeFree(ptr) \
  do {              \
    GeFreeTagged(ptr); \
    (ptr) = nullptr;   \
  } while (0)

// Objects on the host allocator. gNew returns null when memory is missing (the
// constructor does not run); gDelete destroys, frees and nulls the pointer.
struct GeAllocTag {
  const CHAR* file;
  LONG line;
};
void* operator new(std::size_t size, GeAllocTag tag) noexcept;
void operator delete(void* block, GeAllocTag tag) noexcept;

#define gNew new (GeAllocTag{__FILE__, __LINE__})

template <class T>
inline void GeDeleteObject(T*& object) {
  if (!object) return;
  void* block;
  if constexpr (std::is_polymorphic_v<T>)
    block = dynamic_cast<void*>(object);
  else
    block = object;
  object->~T();
  GeFreeTagged(block);
  object = nullptr;
}
#define gDelete(ptr) GeDeleteObject(ptr)

// Arrays of trivial element types: count elements, zero-filled; null on failure or overflow.
template <class T>
inline T* GeAllocArray(VLONG count, const CHAR* file, LONG line) {
  static_assert(std::is_trivially_default_constructible_v<T>, "bNew takes trivial element types");
  if (count < 0 || (count > 0 && static_cast<VULONG>(count) > static_cast<VULONG>(PTRDIFF_MAX) / sizeof(T)))
    return nullptr;
  return static_cast<T*>(GeAllocTagged(count * static_cast<VLONG>(sizeof(T)), file, line));
}
#define bNew(T, count) GeAllocArray<T>(static_cast<VLONG>(count), __FILE__, __LINE__)
#define bDelete(ptr) GeFree(ptr)
