// The host allocator and fault injection: tagging, zero fill, the live list and its
// leak report, realloc, object allocation, and the failure switches tests rely on.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "c4d_memory.h"
#include "host_fixture.h"
#include "host_internal.h"
#include "resident_pages.h"

#ifdef __linux__
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

class HostMemoryTest : public HostTest {};

// Report lines of this file's blocks, so blocks held elsewhere in the host don't count.
std::vector<std::string> OwnLeaks() {
  std::vector<std::string> own;
  for (const auto& line : host::LeakReport())
    if (line.find("test_host_memory.cpp:") != std::string::npos) own.push_back(line);
  return own;
}

std::string Tag(int line, long long size) {
  return "test_host_memory.cpp:" + std::to_string(line) + " " + std::to_string(size) + " bytes";
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool AllZero(const void* block, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(block);
  for (size_t i = 0; i < size; ++i)
    if (bytes[i] != 0) return false;
  return true;
}

TEST_F(HostMemoryTest, BlocksAreZeroFilledEvenWhenMemoryIsReused) {
  // Dirty a block and free it, so that the next block of the same size most likely
  // reuses its memory: it must still come back zeroed.
  for (int round = 0; round < 3; ++round) {
    void* block = GeAlloc(4096);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(AllZero(block, 4096)) << "round " << round;
    std::memset(block, 0xAB, 4096);
    GeFree(block);
    EXPECT_EQ(block, nullptr);
  }
}

TEST_F(HostMemoryTest, PayloadIsSixteenByteAligned) {
  std::vector<void*> blocks;
  for (VLONG size : {0, 1, 7, 16, 33, 1000}) {
    void* block = GeAlloc(size);
    ASSERT_NE(block, nullptr) << size;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u) << size;
    blocks.push_back(block);
  }
  for (void* block : blocks) GeFreeTagged(block);
}

TEST_F(HostMemoryTest, ZeroSizeBlockIsARealBlock) {
  void* a = GeAlloc(0);
  void* b = GeAlloc(0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(OwnLeaks().size(), 2u);
  GeFree(a);
  GeFree(b);
}

TEST_F(HostMemoryTest, LeakReportNamesFileAndLineOldestFirst) {
  const host::MemoryStats before = host::GetMemoryStats();
  const int firstLine = __LINE__ + 1;
  void* first = GeAlloc(24);
  const int secondLine = __LINE__ + 1;
  char* second = bNew(char, 100);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);

  const host::MemoryStats during = host::GetMemoryStats();
  EXPECT_EQ(during.liveBlocks - before.liveBlocks, 2);
  EXPECT_EQ(during.liveBytes - before.liveBytes, 124);
  EXPECT_GE(during.peakBytes, during.liveBytes);

  const auto leaks = OwnLeaks();
  ASSERT_EQ(leaks.size(), 2u);
  EXPECT_TRUE(EndsWith(leaks[0], Tag(firstLine, 24))) << leaks[0];
  EXPECT_TRUE(EndsWith(leaks[1], Tag(secondLine, 100))) << leaks[1];

  // Freeing the older block leaves the younger one, still reported.
  GeFree(first);
  const auto rest = OwnLeaks();
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_TRUE(EndsWith(rest[0], Tag(secondLine, 100))) << rest[0];
  bDelete(second);
  EXPECT_EQ(second, nullptr);
  EXPECT_TRUE(OwnLeaks().empty());
  EXPECT_EQ(host::GetMemoryStats().liveBlocks, before.liveBlocks);
  EXPECT_EQ(host::GetMemoryStats().liveBytes, before.liveBytes);
}

TEST_F(HostMemoryTest, PeakBytesRemembersTheHighestLevel) {
  const LLONG base = host::GetMemoryStats().liveBytes;
  void* big = GeAlloc(1 << 20);
  ASSERT_NE(big, nullptr);
  GeFree(big);
  const host::MemoryStats after = host::GetMemoryStats();
  EXPECT_EQ(after.liveBytes, base);
  EXPECT_GE(after.peakBytes, base + (1 << 20));
}

TEST_F(HostMemoryTest, ImpossibleSizesFailWithoutABlock) {
  const host::MemoryStats before = host::GetMemoryStats();
  EXPECT_EQ(GeAllocTagged(-1, __FILE__, __LINE__), nullptr);
  EXPECT_EQ(GeAllocTagged(PTRDIFF_MAX, __FILE__, __LINE__), nullptr);
  EXPECT_EQ(GeAllocTagged(PTRDIFF_MAX - 8, __FILE__, __LINE__), nullptr);  // header would overflow
  EXPECT_EQ((bNew(double, PTRDIFF_MAX / 4)), nullptr);                   // count * size overflows
  EXPECT_EQ((bNew(int, -3)), nullptr);
  const host::MemoryStats after = host::GetMemoryStats();
  EXPECT_EQ(after.liveBlocks, before.liveBlocks);
  // Refused requests are still requests.
  EXPECT_EQ(after.allocations - before.allocations, 3);
}

TEST_F(HostMemoryTest, ReallocKeepsDataAndZeroFillsGrowth) {
  auto* data = static_cast<unsigned char*>(GeAlloc(10));
  ASSERT_NE(data, nullptr);
  for (int i = 0; i < 10; ++i) data[i] = static_cast<unsigned char>(i + 1);

  auto* grown = static_cast<unsigned char*>(GeRealloc(data, 100000));
  ASSERT_NE(grown, nullptr);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(grown[i], i + 1);
  EXPECT_TRUE(AllZero(grown + 10, 100000 - 10));

  auto* shrunk = static_cast<unsigned char*>(GeRealloc(grown, 4));
  ASSERT_NE(shrunk, nullptr);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(shrunk[i], i + 1);
  const auto leaks = OwnLeaks();
  ASSERT_EQ(leaks.size(), 1u);
  EXPECT_TRUE(EndsWith(leaks[0], " 4 bytes")) << leaks[0];

  // Growing again after the shrink must not bring back the old bytes 5..10.
  auto* regrown = static_cast<unsigned char*>(GeRealloc(shrunk, 10));
  ASSERT_NE(regrown, nullptr);
  EXPECT_TRUE(AllZero(regrown + 4, 6));
  GeFree(regrown);
}

TEST_F(HostMemoryTest, ReallocKeepsTheBlockInItsPlaceInTheLiveList) {
  void* older = GeAlloc(8);
  void* younger = GeAlloc(16);
  ASSERT_NE(older, nullptr);
  ASSERT_NE(younger, nullptr);
  older = GeRealloc(older, 1 << 16);  // large enough to move
  ASSERT_NE(older, nullptr);
  const auto leaks = OwnLeaks();
  ASSERT_EQ(leaks.size(), 2u);
  EXPECT_TRUE(EndsWith(leaks[0], " 65536 bytes")) << leaks[0];
  EXPECT_TRUE(EndsWith(leaks[1], " 16 bytes")) << leaks[1];
  GeFree(older);
  GeFree(younger);
}

TEST_F(HostMemoryTest, ReallocOfNullAllocates) {
  void* block = GeRealloc(nullptr, 32);
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(AllZero(block, 32));
  EXPECT_EQ(OwnLeaks().size(), 1u);
  GeFree(block);
}

TEST_F(HostMemoryTest, FailedReallocLeavesTheOldBlockValid) {
  auto* data = static_cast<char*>(GeAlloc(16));
  ASSERT_NE(data, nullptr);
  std::strcpy(data, "still here");
  host::FailAllocationAt(1);
  EXPECT_EQ(GeRealloc(data, 64), nullptr);
  EXPECT_EQ(GeRealloc(data, -5), nullptr);
  EXPECT_STREQ(data, "still here");
  const auto leaks = OwnLeaks();
  ASSERT_EQ(leaks.size(), 1u);
  EXPECT_TRUE(EndsWith(leaks[0], " 16 bytes")) << leaks[0];
  GeFree(data);
}

// --- objects on the host allocator --------------------------------------------

struct Counted {
  static int constructed;
  static int destroyed;
  int value;
  explicit Counted(int v) : value(v) { ++constructed; }
  ~Counted() { ++destroyed; }
};
int Counted::constructed = 0;
int Counted::destroyed = 0;

TEST_F(HostMemoryTest, GNewUnderFailureReturnsNullWithoutConstructing) {
  Counted::constructed = Counted::destroyed = 0;
  host::FailAllocationAt(1);
  Counted* failed = gNew Counted(5);
  EXPECT_EQ(failed, nullptr);
  EXPECT_EQ(Counted::constructed, 0);

  Counted* object = gNew Counted(7);  // the fault was for the first request only
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->value, 7);
  gDelete(object);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(Counted::constructed, 1);
  EXPECT_EQ(Counted::destroyed, 1);

  Counted* none = nullptr;
  gDelete(none);  // null is accepted
  EXPECT_EQ(Counted::destroyed, 1);
}

struct Named {
  virtual ~Named() = default;
  virtual int Id() const { return 1; }
};
struct Padding {
  virtual ~Padding() = default;
  char bytes[40] = {};
};
// Padding comes first, so a Named* to this object does not point at the block start.
struct Derived : Padding, Named {
  static int destroyed;
  std::vector<int> owned = std::vector<int>(100, 3);
  ~Derived() override { ++destroyed; }
  int Id() const override { return 2; }
};
int Derived::destroyed = 0;

TEST_F(HostMemoryTest, GDeleteThroughASecondaryBaseFreesTheWholeBlock) {
  Derived::destroyed = 0;
  Named* object = gNew Derived;
  ASSERT_NE(object, nullptr);
  EXPECT_NE(static_cast<void*>(object), dynamic_cast<void*>(object));
  EXPECT_EQ(object->Id(), 2);
  EXPECT_EQ(OwnLeaks().size(), 1u);
  gDelete(object);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(Derived::destroyed, 1);
  EXPECT_TRUE(OwnLeaks().empty());
}

struct Throws {
  explicit Throws(bool fail) {
    if (fail) throw std::runtime_error("constructor failed");
  }
};

TEST_F(HostMemoryTest, GNewFreesTheBlockWhenTheConstructorThrows) {
  const LLONG live = host::GetMemoryStats().liveBlocks;
  EXPECT_THROW((void)(gNew Throws(true)), std::runtime_error);
  EXPECT_EQ(host::GetMemoryStats().liveBlocks, live);
}

TEST_F(HostMemoryTest, FreeingAForeignPointerIsRefusedWithoutDamage) {
  // A pointer into a plain array: what lies before it is not a host block header.
  alignas(16) static unsigned char foreign[256];
  std::memset(foreign, 0x5A, sizeof(foreign));
  void* kept = GeAlloc(8);
  ASSERT_NE(kept, nullptr);
  const host::MemoryStats before = host::GetMemoryStats();

  EXPECT_DEBUG_DEATH(GeFreeTagged(foreign + 128), "not a live host block");
  EXPECT_DEBUG_DEATH((void)GeReallocTagged(foreign + 128, 16, __FILE__, __LINE__), "not a live host block");

  // In a release build the calls returned here: nothing may have changed.
  const host::MemoryStats after = host::GetMemoryStats();
  EXPECT_EQ(after.liveBlocks, before.liveBlocks);
  EXPECT_EQ(after.liveBytes, before.liveBytes);
  for (size_t i = 0; i < sizeof(foreign); ++i) ASSERT_EQ(foreign[i], 0x5A) << i;
  EXPECT_EQ(OwnLeaks().size(), 1u);
  GeFree(kept);
}

TEST_F(HostMemoryTest, ConcurrentAllocationKeepsTheCountsExact) {
  const host::MemoryStats before = host::GetMemoryStats();
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      std::vector<void*> held;
      for (int i = 0; i < kRounds; ++i) {
        void* block = GeAlloc(16 + (i % 64));
        if (!block || !AllZero(block, 16)) ++failures[t];
        if (block) std::memset(block, t + 1, 16);
        held.push_back(block);
        if (i % 3 == 2) {
          GeFreeTagged(held.front());
          held.erase(held.begin());
        }
      }
      for (void* block : held) GeFreeTagged(block);
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
  const host::MemoryStats after = host::GetMemoryStats();
  EXPECT_EQ(after.liveBlocks, before.liveBlocks);
  EXPECT_EQ(after.liveBytes, before.liveBytes);
  EXPECT_EQ(after.allocations - before.allocations, kThreads * kRounds);
}

#if defined(__linux__)
// An uncleared block taken from the heap's new growth: the pages past it are made present
// by the host before the next blocks reach them, without anyone touching them.
TEST_F(HostMemoryTest, PagesPastTheHeapsLastBlockAreMadePresentAhead) {
  std::vector<void*> blocks;
  std::uintptr_t end = 0, top = 0;
  // Blocks of 3 MB until one grows the heap: past the heap's free memory, then in steps
  // of 16 MiB (within six blocks).
  const auto most = static_cast<size_t>(::mallinfo2().fordblks / (3 << 20)) + 8;
  for (size_t i = 0; i < most && !end; ++i) {
    const auto before = reinterpret_cast<std::uintptr_t>(::sbrk(0));
    blocks.push_back(GeAllocNC(3 << 20));
    top = reinterpret_cast<std::uintptr_t>(::sbrk(0));
    const auto block = reinterpret_cast<std::uintptr_t>(blocks.back());
    if (top > before && block + (3 << 20) > before && block + (3 << 20) < top) end = block + (3 << 20);
  }
  if (!end) {
    for (void* block : blocks) GeFreeTagged(block);
    GTEST_SKIP() << "blocks do not come from the heap's growth here";
  }
  // Beyond the huge page the block's end shares: nothing of this process wrote there.
  constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
  const std::uintptr_t from = (end + kHuge - 1) & ~(kHuge - 1), to = std::min(from + (1 << 20), top);
  ASSERT_LT(from, to);
  bool present = false;
  for (int wait = 0; wait < 200 && !present; ++wait) {
    present = ResidentShare(reinterpret_cast<const void*>(from), to - from) == 1.0;
    if (!present) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (void* block : blocks) GeFreeTagged(block);
  EXPECT_TRUE(present);
}
#endif

// --- fault injection -------------------------------------------------------------

// Which of the next `count` allocation requests succeed, as a string of '+' and '-'.
std::string Pattern(int count) {
  std::string pattern;
  for (int i = 0; i < count; ++i) {
    void* block = GeAlloc(4);
    pattern += block ? '+' : '-';
    GeFreeTagged(block);
  }
  return pattern;
}

TEST_F(HostMemoryTest, FailAllocationAtFailsExactlyThatRequest) {
  struct Case {
    LLONG n;
    const char* pattern;
  };
  const Case cases[] = {
      {1, "-+++++"}, {3, "++-+++"}, {6, "+++++-"}, {9, "++++++"}, {0, "++++++"}, {-2, "++++++"},
  };
  for (const Case& c : cases) {
    host::FailAllocationAt(c.n);
    EXPECT_EQ(Pattern(6), c.pattern) << "n = " << c.n;
    EXPECT_EQ(host::AllocationsSinceArmed(), 6) << "n = " << c.n;
  }
}

TEST_F(HostMemoryTest, FailAllocationsAfterFailsEveryLaterRequest) {
  struct Case {
    LLONG n;
    const char* pattern;
  };
  const Case cases[] = {{0, "------"}, {2, "++----"}, {5, "+++++-"}, {6, "++++++"}, {-1, "++++++"}};
  for (const Case& c : cases) {
    host::FailAllocationsAfter(c.n);
    EXPECT_EQ(Pattern(6), c.pattern) << "n = " << c.n;
  }
}

TEST_F(HostMemoryTest, ArmingRestartsTheCountAndReplacesTheOtherMode) {
  host::FailAllocationsAfter(0);
  EXPECT_EQ(Pattern(2), "--");
  host::FailAllocationAt(2);  // replaces "fail all"
  EXPECT_EQ(host::AllocationsSinceArmed(), 0);
  EXPECT_EQ(Pattern(3), "+-+");
  host::FailAllocationsAfter(1);
  EXPECT_EQ(Pattern(3), "+--");
  host::ResetFaults();
  EXPECT_EQ(host::AllocationsSinceArmed(), 0);
  EXPECT_EQ(Pattern(3), "+++");
  EXPECT_EQ(host::AllocationsSinceArmed(), 3);
}

TEST_F(HostMemoryTest, ReallocAndObjectsCountAsRequests) {
  void* block = GeAlloc(4);
  ASSERT_NE(block, nullptr);
  host::FailAllocationAt(2);
  void* grown = GeRealloc(block, 8);  // request 1
  ASSERT_NE(grown, nullptr);
  Counted* object = gNew Counted(1);  // request 2 fails
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(host::AllocationsSinceArmed(), 2);
  GeFree(grown);
}

TEST_F(HostMemoryTest, ResetHostDisarmsAllocationFaults) {
  host::FailAllocationsAfter(0);
  host::ResetHost();
  void* block = GeAlloc(4);
  EXPECT_NE(block, nullptr);
  GeFree(block);
}

TEST_F(HostMemoryTest, FileFaultBudgets) {
  namespace hi = host::internal;
  EXPECT_EQ(hi::ReadBudget(), -1);
  EXPECT_EQ(hi::WriteBudget(), -1);
  EXPECT_FALSE(hi::OpenShouldFail());

  host::FailNextOpen();
  EXPECT_TRUE(hi::OpenShouldFail());
  EXPECT_FALSE(hi::OpenShouldFail()) << "an open failure is consumed by one open";

  host::FailReadsAfter(10);
  hi::ConsumeRead(4);
  EXPECT_EQ(hi::ReadBudget(), 6);
  hi::ConsumeRead(100);  // a transfer never drives the budget below zero
  EXPECT_EQ(hi::ReadBudget(), 0);
  host::FailReadsAfter(-1);
  hi::ConsumeRead(5);
  EXPECT_EQ(hi::ReadBudget(), -1) << "consuming must not arm a disarmed budget";

  host::FailWritesAfter(0);
  EXPECT_EQ(hi::WriteBudget(), 0);
  host::FailWritesAfter(1000);
  hi::ConsumeWrite(999);
  EXPECT_EQ(hi::WriteBudget(), 1);
  EXPECT_EQ(hi::ReadBudget(), -1) << "read and write budgets are separate";

  host::FailNextOpen();
  host::ResetFaults();
  EXPECT_EQ(hi::WriteBudget(), -1);
  EXPECT_FALSE(hi::OpenShouldFail());
}

}  // namespace
