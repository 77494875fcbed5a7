// The host allocator: every block carries a header with its size and the source file
// and line that asked for it, and sits in one list of live blocks, so that tests can
// count blocks and a leak report can name the code that owns each one.
#include <cassert>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#ifdef __linux__
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "c4d_memory.h"
#include "host_control.h"
#include "host_internal.h"
#include "platform.h"

namespace {

constexpr uint64_t kLiveMagic = 0x4b454c56414c4956ull;  // "KELVALIV"
constexpr uint64_t kFreedMagic = 0x4b454c5646524545ull;  // "KELVFREE"

// A multiple of 16 bytes, so that the payload after it keeps the 16-byte alignment
// of the block malloc returns.
struct alignas(16) BlockHeader {
  uint64_t magic;
  VLONG size;
  const CHAR* file;
  LONG line;
  BlockHeader* prev;
  BlockHeader* next;
};
static_assert(sizeof(BlockHeader) % 16 == 0, "the payload must stay 16-byte aligned");

// Larger requests cannot be met on any machine this runs on; refusing them here also
// keeps sanitizer builds from aborting on absurd sizes instead of returning null.
// A 32-bit process cannot hold more than its address space.
constexpr LLONG kMaxBlockSize = sizeof(void*) >= 8 ? LLONG(1) << 40 : LLONG(PTRDIFF_MAX) - 4096;

// The heap's lock is held for a few list links at a time: a thread that finds it held
// spins for the moment it takes instead of sleeping in the system. Threads splitting
// many small outlines allocate and free at once, and a sleeping lock made two of them
// slower than one.
class SpinLock {
 public:
  void lock() {
    for (int spins = 0; m_held.exchange(true, std::memory_order_acquire); ++spins) {
      while (m_held.load(std::memory_order_relaxed)) {
        if (++spins > 256) std::this_thread::yield();
      }
    }
  }
  void unlock() { m_held.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> m_held{false};
};

struct Heap {
  SpinLock mutex;
  BlockHeader list{kLiveMagic, 0, nullptr, 0, &list, &list};  // sentinel: list.next is the oldest block
  LLONG liveBlocks = 0;
  LLONG liveBytes = 0;
  LLONG peakBytes = 0;
  LLONG allocations = 0;
};

// Blocks of this size and more get pages of their own from the system, and give them
// back when freed. The C library's default moves that limit up to the largest block
// freed so far (up to 32 MiB): after one import has freed its model arrays the next
// one's arrays come from the heap instead, cleared by calloc page by page and kept by
// the process after they are freed, so repeated imports peak higher and run slower than
// the first. Blocks below it (the reader's 1 MiB blocks, a point-level key's points)
// come from the heap and are reused there.
constexpr int kOwnPagesFrom = 4 << 20;

// The heap grows at its top by this much at a time instead of the C library's 128 KiB
// steps: a file of 100 000 small objects otherwise asked the system for more heap
// thousands of times.
//
// Nothing asks for huge pages, here or for large blocks. On the virtual machines this
// runs on, memory a process frees is soon handed back to the machine's own host, in
// whole huge pages; a huge page touched after that took 2 to 3 ms per MB to come back,
// against a third of a millisecond per MB in small pages (156 MB: 300 to 490 ms against
// 38 to 80 ms). Huge pages only won when they were reused within about a second.
constexpr int kHeapStep = 16 << 20;

std::uintptr_t HeapTop() {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  return reinterpret_cast<std::uintptr_t>(::sbrk(0));
#else
  return 0;
#endif
}

// The pages just past an uncleared block of the heap, made present by a thread of its own
// before the next such block takes them. Uncleared blocks are written whole as soon as
// they are had, often many in a row (an MDD import's keys of megabytes each): the system
// clearing their new pages at the first touch took longer than everything else the
// thread did with them; now the other processor clears them meanwhile. Cleared blocks
// do not ask for it: the pages ahead would stay present unused and raise the peaks of
// imports that allocate in other patterns. Only the heap's own range is touched, and
// making a page present leaves what it holds as it was.
class HeapWarmer {
 public:
  // An uncleared block of the heap now ends at end.
  void After(std::uintptr_t end) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    if (end < m_heapFrom || end >= HeapTop()) return;  // not the heap's (own pages, sanitizers)
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wanted = end;
    if (!m_started) {
      m_started = true;
      std::thread([this] { Run(); }).detach();
    }
    m_wake.notify_one();
#else
    (void)end;
#endif
  }
  void Start(std::uintptr_t heapFrom) { m_heapFrom = heapFrom; }

 private:
  // Up to this much past a block's end: the largest block the heap gives out (larger ones
  // get pages of their own).
  static constexpr std::uintptr_t kAhead = 4 << 20;

  [[noreturn]] void Run() {
    for (;;) {
      std::uintptr_t from = 0;
      {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait(lock, [this] { return m_wanted != 0; });
        from = m_wanted;
        m_wanted = 0;
      }
      Populate(from);
    }
  }

  static void Populate(std::uintptr_t from) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t top = HeapTop();
    const std::uintptr_t begin = (from + page - 1) & ~(page - 1);
    const std::uintptr_t end = std::min(top, from + kAhead) & ~(page - 1);
    // From the far end back, in huge pages' steps: the allocating thread, which clears
    // what it reaches first itself, comes from the near end, and the two meet halfway.
    // The heap may have shrunk meanwhile: the system then refuses the range, harmlessly.
    constexpr std::uintptr_t kStep = std::uintptr_t(2) << 20;
    for (std::uintptr_t stop = end; stop > begin;) {
      const std::uintptr_t start = stop - begin > kStep ? (stop - 1) & ~(kStep - 1) : begin;
      ::madvise(reinterpret_cast<void*>(start), stop - start, MADV_POPULATE_WRITE);
      stop = start;
    }
#else
    (void)from;
#endif
  }

  std::uintptr_t m_heapFrom = 0;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::uintptr_t m_wanted = 0;
  bool m_started = false;
};

HeapWarmer& TheWarmer() {
  static HeapWarmer* warmer = new HeapWarmer;
  return *warmer;
}

Heap* NewHeap() {
#ifdef M_MMAP_THRESHOLD
  mallopt(M_MMAP_THRESHOLD, kOwnPagesFrom);
#endif
#ifdef M_TOP_PAD
  mallopt(M_TOP_PAD, kHeapStep);
#endif
  TheWarmer().Start(HeapTop());
  return new Heap;
}

// Never destroyed: blocks may still be freed by static destructors at exit.
Heap& TheHeap() {
  static Heap* heap = NewHeap();
  return *heap;
}

void* Payload(BlockHeader* header) { return header + 1; }
BlockHeader* HeaderOf(void* block) { return static_cast<BlockHeader*>(block) - 1; }

// Caller holds the mutex.
void LinkAtEnd(Heap& heap, BlockHeader* header) {
  header->prev = heap.list.prev;
  header->next = &heap.list;
  heap.list.prev->next = header;
  heap.list.prev = header;
}

void Unlink(BlockHeader* header) {
  header->prev->next = header->next;
  header->next->prev = header->prev;
  header->prev = header->next = nullptr;
}

void AddLive(Heap& heap, VLONG size) {
  ++heap.liveBlocks;
  heap.liveBytes += size;
  if (heap.liveBytes > heap.peakBytes) heap.peakBytes = heap.liveBytes;
}

// A block is trusted only when its magic is right and its neighbours point back at
// it; anything else is a pointer the allocator never handed out, or one freed twice.
bool IsLiveBlock(const BlockHeader* header) {
  return header->magic == kLiveMagic && header->prev && header->next && header->prev->next == header &&
         header->next->prev == header;
}

void RejectForeignBlock(void* block, const char* what) {
  std::fprintf(stderr, "host: %s of %p, which is not a live host block: ignored\n", what, block);
  std::fflush(stderr);
  assert(!"host allocator: foreign or already freed block");
}

// Counts the request and asks the fault injection whether it must fail.
bool RequestRefused(Heap& heap, VLONG size) {
  {
    std::lock_guard<SpinLock> lock(heap.mutex);
    ++heap.allocations;
  }
  if (host::internal::AllocationShouldFail()) return true;
  return size < 0 || size > kMaxBlockSize;
}

}  // namespace

namespace {

void* AllocTagged(VLONG size, const CHAR* file, LONG line, bool cleared) {
  Heap& heap = TheHeap();
  if (RequestRefused(heap, size)) return nullptr;
  const size_t total = sizeof(BlockHeader) + static_cast<size_t>(size);
  auto* header = static_cast<BlockHeader*>(host::platform::AllocateBlock(total, cleared));
  if (!header) return nullptr;
  if (!cleared) TheWarmer().After(reinterpret_cast<std::uintptr_t>(header) + total);
  header->magic = kLiveMagic;
  header->size = size;
  header->file = file ? file : "?";
  header->line = line;
  std::lock_guard<SpinLock> lock(heap.mutex);
  LinkAtEnd(heap, header);
  AddLive(heap, size);
  return Payload(header);
}

}  // namespace

void* GeAllocTagged(VLONG size, const CHAR* file, LONG line) { return AllocTagged(size, file, line, true); }

void* GeAllocNCTagged(VLONG size, const CHAR* file, LONG line) { return AllocTagged(size, file, line, false); }

void GeFreeTagged(void* block) {
  if (!block) return;
  Heap& heap = TheHeap();
  BlockHeader* header = HeaderOf(block);
  {
    std::lock_guard<SpinLock> lock(heap.mutex);
    if (!IsLiveBlock(header)) {
      RejectForeignBlock(block, "GeFree");
      return;
    }
    Unlink(header);
    header->magic = kFreedMagic;
    --heap.liveBlocks;
    heap.liveBytes -= header->size;
  }
  host::platform::FreeBlock(header);
}

void* GeReallocTagged(void* block, VLONG size, const CHAR* file, LONG line) {
  if (!block) return GeAllocTagged(size, file, line);
  Heap& heap = TheHeap();
  if (RequestRefused(heap, size)) return nullptr;

  std::lock_guard<SpinLock> lock(heap.mutex);
  BlockHeader* header = HeaderOf(block);
  if (!IsLiveBlock(header)) {
    RejectForeignBlock(block, "GeRealloc");
    return nullptr;
  }
  // The block keeps its place in the live list (its age), so remember the neighbours
  // across the move.
  BlockHeader* prev = header->prev;
  BlockHeader* next = header->next;
  const VLONG oldSize = header->size;
  auto* moved = static_cast<BlockHeader*>(
      host::platform::ResizeBlock(header, sizeof(BlockHeader) + static_cast<size_t>(size)));
  if (!moved) return nullptr;  // the old block is untouched and still linked
  if (size > oldSize)
    std::memset(static_cast<char*>(Payload(moved)) + oldSize, 0, static_cast<size_t>(size - oldSize));
  moved->size = size;
  moved->file = file ? file : "?";
  moved->line = line;
  prev->next = moved;
  next->prev = moved;
  heap.liveBytes += size - oldSize;
  if (heap.liveBytes > heap.peakBytes) heap.peakBytes = heap.liveBytes;
  return Payload(moved);
}

void* operator new(std::size_t size, GeAllocTag tag) noexcept {
  // A size beyond PTRDIFF_MAX turns negative here and is refused like any other.
  return GeAllocTagged(static_cast<VLONG>(size), tag.file, tag.line);
}

// Runs only when a constructor started by gNew throws.
void operator delete(void* block, GeAllocTag) noexcept { GeFreeTagged(block); }

namespace host {

MemoryStats GetMemoryStats() {
  Heap& heap = TheHeap();
  std::lock_guard<SpinLock> lock(heap.mutex);
  MemoryStats stats;
  stats.liveBlocks = heap.liveBlocks;
  stats.liveBytes = heap.liveBytes;
  stats.peakBytes = heap.peakBytes;
  stats.allocations = heap.allocations;
  return stats;
}

std::vector<std::string> LeakReport() {
  Heap& heap = TheHeap();
  std::lock_guard<SpinLock> lock(heap.mutex);
  std::vector<std::string> report;
  report.reserve(static_cast<size_t>(heap.liveBlocks));
  for (const BlockHeader* h = heap.list.next; h != &heap.list; h = h->next)
    report.push_back(std::string(h->file) + ":" + std::to_string(h->line) + " " + std::to_string(h->size) + " bytes");
  return report;
}

}  // namespace host
