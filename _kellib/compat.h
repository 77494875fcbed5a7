// Diagnostics: the fixed ways the program reports a failure or the time a step took.
#pragma once

#include "c4d.h"

// Console "Kelvane: Memory Allocation Error - <what>", then the box
// "Memory Allocation Error!\n<what>".
void ReportMemoryError(const CHAR* what);
void ReportMemoryError(const String& what);
// Console "Kelvane: File Error - <what>", then the box "File Error!\n<what>".
void ReportFileError(const CHAR* what);
void ReportFileError(const String& what);

// printf-style line on the console; results longer than 1023 characters are cut.
void ConsolePrintf(const CHAR* format, ...) __attribute__((format(printf, 1, 2)));

// "HH:MM:SS + <fraction> secs", with "   (<total> total secs)" when includeTotal.
String FormatElapsed(Real milliseconds, Bool includeTotal);
// Console "<label> elapsed = <FormatElapsed(ms, true)>".
void ReportElapsed(const CHAR* label, Real milliseconds);
