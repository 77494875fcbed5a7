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
