// Worker threads of the host and the memory prefault a worker may run.
#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <thread>

#include "c4d_memory.h"
#include "c4d_thread.h"

struct BackgroundJob::Thread {
  std::thread thread;
};

BackgroundJob* BackgroundJob::Alloc() { return gNew BackgroundJob; }

void BackgroundJob::Free(BackgroundJob*& job) {
  if (!job) return;
  gDelete(job);
  job = nullptr;
}

BackgroundJob::~BackgroundJob() { Wait(); }

Bool BackgroundJob::Start(void (*work)(void* data), void* data) {
  if (m_thread || !work) return FALSE;
  m_thread = gNew Thread;
  if (!m_thread) return FALSE;
  try {
    m_thread->thread = std::thread(work, data);
  } catch (const std::exception&) {
    gDelete(m_thread);
    m_thread = nullptr;
    return FALSE;
  }
  return TRUE;
}

void BackgroundJob::Wait() {
  if (!m_thread) return;
  if (m_thread->thread.joinable()) m_thread->thread.join();
  gDelete(m_thread);
  m_thread = nullptr;
}

LONG GeGetWorkerThreadCount() {
  if (const char* text = std::getenv("KELVANE_THREADS")) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end != text && *end == 0 && n >= 1) return n > 64 ? 64 : static_cast<LONG>(n);
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n > 64 ? 64 : static_cast<LONG>(n);
}

void GePrefaultMemory(void* block, VLONG size) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  if (!block || size <= 0) return;
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto begin = (reinterpret_cast<std::uintptr_t>(block) + page - 1) & ~(page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(block) + static_cast<std::uintptr_t>(size)) & ~(page - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
  (void)block;
  (void)size;
#endif
}
