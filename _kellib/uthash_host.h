// The one way this project includes uthash: its memory comes from the host allocator,
// and running out of memory inside uthash (table or bucket growth) fails the current
// add instead of ending the host application.
//
// After an add, a caller tests UthashOutOfMemory(): when it is set, uthash has already
// taken the element back out of the table (the element is the caller's to free) and the
// entries added earlier are untouched. Clear the flag with UthashClearOutOfMemory()
// before the add.
#pragma once

#ifdef UTHASH_H
#error "uthash.h was included before uthash_host.h: its allocation hooks would be the C library's"
#endif

#include "c4d_memory.h"
#include "compat.h"

namespace kelhash {
// Per thread: hashes are used by the command running on that thread only. In the static
// TLS of the module (initial-exec): dynamic TLS of a module the host unloads stays
// listed for the thread, and the leak checker of the sanitizer builds crashes on it.
inline thread_local Bool tOutOfMemory [[gnu::tls_model("initial-exec")]] = false;
}  // namespace kelhash

inline void UthashClearOutOfMemory() { kelhash::tOutOfMemory = false; }
inline Bool UthashOutOfMemory() { return kelhash::tOutOfMemory; }

#define uthash_malloc(sz) GeAlloc(sz)
#define uthash_free(ptr, sz) GeFreeTagged(ptr)
#define HASH_NONFATAL_OOM 1
#define uthash_nonfatal_oom(obj) (kelhash::tOutOfMemory = true)
// Only reached if a uthash build ignores HASH_NONFATAL_OOM; never exit().
#define uthash_fatal(msg)          \
  do {                             \
    ReportMemoryError(msg);        \
    kelhash::tOutOfMemory = true;  \
  } while (0)

#include <uthash.h>

// A bucket splits when one chain reaches this length (uthash's own default is 10): the
// tables of names an import looks up once or twice per line hold up to hundreds of
// thousands of entries, and each step along a chain is a miss in the processor's cache.
// Expansion stays an amortized doubling, as before.
#undef HASH_BKT_CAPACITY_THRESH
#define HASH_BKT_CAPACITY_THRESH 4U
