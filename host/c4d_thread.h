// Threads of the host: the evaluation thread a deformer is handed, asked now and then
// whether the host wants the work stopped.
#pragma once

#include "ge_types.h"

class BaseThread {
 public:
  BaseThread() = default;
  BaseThread(const BaseThread&) = delete;
  BaseThread& operator=(const BaseThread&) = delete;
  // True when the host wants the thread's work stopped. The embedded host never asks
  // for that by itself; host::BreakThreadsAfter arms it.
  Bool TestBreak();
};

// Work the plug-in hands to one of the host's worker threads. Start runs work(data) on
// a thread of its own; Wait returns when it has returned. A job always ends with Wait
// (Free waits too). Start returns FALSE when the host has no thread for it: the caller
// then does the work itself.
class BackgroundJob {
 public:
  static BackgroundJob* Alloc();
  // Waits for a started job, then frees it; sets job to null.
  static void Free(BackgroundJob*& job);

  BackgroundJob(const BackgroundJob&) = delete;
  BackgroundJob& operator=(const BackgroundJob&) = delete;
  ~BackgroundJob();

  Bool Start(void (*work)(void* data), void* data);
  void Wait();

 private:
  BackgroundJob() = default;
  struct Thread;
  Thread* m_thread = nullptr;
};

// The threads a plug-in may keep busy at once for one piece of work, the calling thread
// included: the processors of the machine, or the number in the environment variable
// KELVANE_THREADS (1 keeps everything on the calling thread).
LONG GeGetWorkerThreadCount();

// Makes the memory pages of [block, block + size) present and writable now, as the
// first writes to them would, without changing what they hold. Only whole pages inside
// the range are touched; where the system cannot do it, nothing happens.
void GePrefaultMemory(void* block, VLONG size);
