// Shared state between the host's own files; not part of the interface a plug-in sees.
#pragma once

#include <string>

#include "ge_types.h"

class BaseList2D;

namespace host::internal {

// Node numbers: every node gets a number (from 1) when it is made; links hold numbers,
// so a link to a freed node reads as null instead of pointing into freed memory.
LLONG RegisterNode(BaseList2D* node);
void UnregisterNode(LLONG serial);
BaseList2D* FindNode(LLONG serial);
LLONG NodeSerial(const BaseList2D* node);  // 0 for null

// Fault injection, consulted by the allocator and by BaseFile.
bool AllocationShouldFail();   // counts one allocation request
bool OpenShouldFail();         // consumes an armed open failure
// Bytes that may still be read / written before the armed failure; -1 when unarmed.
// Consume reduces the budget by the bytes actually transferred.
LLONG ReadBudget();
void ConsumeRead(LLONG bytes);
LLONG WriteBudget();
void ConsumeWrite(LLONG bytes);

// Resets of the separate host parts (used by host::ResetHost).
void ResetConsole();
void ResetUser();
void ResetStatus();
void ResetFaultState();
void ResetRegistry();
void ResetBitmaps();
void ResetSettings();
void ResetDocuments();
void ResetEvaluation();

// Takes the status line off the terminal before other text goes to standard error;
// the next status update draws it again.
void EraseStatusLine();
// Writes text to standard error above the status line: the line is erased first and
// drawn again after it, when it was shown.
void PrintAboveStatusLine(const std::string& text);
// Adds a line to the console log without echoing it (for a line the caller prints on
// standard error itself).
void LogConsoleLine(const std::string& line);
// Hands a line that is not echoed to the withheld-line sink, when there is one.
void Withhold(const std::string& line);
// A safe save put path in place (host::SavedFiles).
void RecordSaved(const std::string& path);

// The text of the scripted user's next file selection; false when the selector is
// cancelled (nothing queued, or an empty entry). The title is logged.
bool NextFileSelection(const char* title, std::string* path);

}  // namespace host::internal
