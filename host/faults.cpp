// Fault injection: allocation, open, read and write failures on demand, so tests can
// walk every failure path of an operation. One allocation fault mode is armed at a
// time; arming one replaces the other and restarts the request count.
#include <algorithm>
#include <mutex>

#include "host_control.h"
#include "host_internal.h"

namespace {

struct FaultState {
  LLONG requestsSinceArmed = 0;
  LLONG failAt = 0;       // 1-based request number that fails; 0: unarmed
  LLONG failAfter = -1;   // requests that still succeed; -1: unarmed
  bool failNextOpen = false;
  LLONG readBudget = -1;
  LLONG writeBudget = -1;
  LLONG opens = 0;  // file opens and reads since the last reset of the counts
  LLONG reads = 0;
};

// Allocations come from evaluation threads too.
std::mutex g_mutex;
FaultState g_faults;

void Consume(LLONG* budget, LLONG bytes) {
  if (*budget < 0 || bytes <= 0) return;
  *budget = std::max<LLONG>(0, *budget - bytes);
}

}  // namespace

namespace host {

void FailAllocationAt(LLONG n) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_faults.requestsSinceArmed = 0;
  g_faults.failAt = n > 0 ? n : 0;
  g_faults.failAfter = -1;
}

void FailAllocationsAfter(LLONG n) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_faults.requestsSinceArmed = 0;
  g_faults.failAt = 0;
  g_faults.failAfter = n >= 0 ? n : -1;
}

LLONG AllocationsSinceArmed() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_faults.requestsSinceArmed;
}

void FailNextOpen() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_faults.failNextOpen = true;
}

void FailReadsAfter(LLONG bytes) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_faults.readBudget = bytes >= 0 ? bytes : -1;
}

void FailWritesAfter(LLONG bytes) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_faults.writeBudget = bytes >= 0 ? bytes : -1;
}

void ResetFaults() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_faults = FaultState();
}

FileAccessCounts FileAccesses() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return FileAccessCounts{g_faults.opens, g_faults.reads};
}

void ResetFileAccesses() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_faults.opens = 0;
  g_faults.reads = 0;
}

}  // namespace host

namespace host::internal {

bool AllocationShouldFail() {
  std::lock_guard<std::mutex> lock(g_mutex);
  const LLONG n = ++g_faults.requestsSinceArmed;
  if (g_faults.failAt > 0 && n == g_faults.failAt) return true;
  return g_faults.failAfter >= 0 && n > g_faults.failAfter;
}

bool OpenShouldFail() {
  std::lock_guard<std::mutex> lock(g_mutex);
  ++g_faults.opens;
  const bool fail = g_faults.failNextOpen;
  g_faults.failNextOpen = false;
  return fail;
}

LLONG ReadBudget() {
  std::lock_guard<std::mutex> lock(g_mutex);
  ++g_faults.reads;
  return g_faults.readBudget;
}

void ConsumeRead(LLONG bytes) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Consume(&g_faults.readBudget, bytes);
}

LLONG WriteBudget() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_faults.writeBudget;
}

void ConsumeWrite(LLONG bytes) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Consume(&g_faults.writeBudget, bytes);
}

void ResetFaultState() { host::ResetFaults(); }

}  // namespace host::internal
