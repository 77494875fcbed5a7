#include "compat.h"

#include <cstdarg>
#include <cstdio>

namespace {

constexpr int kConsoleBufferSize = 1024;

void Report(const CHAR* consolePrefix, const CHAR* boxHeading, const String& what) {
  GePrint(String(consolePrefix) + what);
  MessageDialog(String(boxHeading) + what);
}

}  // namespace

void ReportMemoryError(const CHAR* what) { ReportMemoryError(String(what)); }

void ReportMemoryError(const String& what) {
  Report("Kelvane: Memory Allocation Error - ", "Memory Allocation Error!\n", what);
}

void ReportFileError(const CHAR* what) { ReportFileError(String(what)); }

void ReportFileError(const String& what) { Report("Kelvane: File Error - ", "File Error!\n", what); }

void ConsolePrintf(const CHAR* format, ...) {
  CHAR buffer[kConsoleBufferSize];
  buffer[0] = 0;
  if (format) {
    va_list args;
    va_start(args, format);
    // vsnprintf cuts at the buffer's end and always terminates.
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
  }
  GePrint(String(buffer));
}

String FormatElapsed(Real milliseconds, Bool includeTotal) {
  // A negative or undefined duration (a clock read in the wrong order) counts as none,
  // and the seconds stop at what 32 bits hold instead of wrapping.
  const Real ms = (milliseconds >= 0.0) ? milliseconds : 0.0;
  const Real seconds = ms / 1000.0;
  const ULONG whole = seconds < 4294967295.0 ? static_cast<ULONG>(seconds) : 4294967295u;
  Real fraction = (ms - static_cast<Real>(whole) * 1000.0) / 1000.0;
  if (fraction < 0.0 || fraction >= 1.0) fraction = 0.0;

  CHAR clock[64];
  std::snprintf(clock, sizeof(clock), "%02ld:%02ld:%02ld", static_cast<long>(whole / 3600),
                static_cast<long>((whole / 60) % 60), static_cast<long>(whole % 60));
  String text = String(clock) + " + " + String::RealToString(fraction) + " secs";
  if (includeTotal) text += String("   (") + String::RealToString(seconds) + " total secs)";
  return text;
}

void ReportElapsed(const CHAR* label, Real milliseconds) {
  GePrint(String(label) + " elapsed = " + FormatElapsed(milliseconds, TRUE));
}
