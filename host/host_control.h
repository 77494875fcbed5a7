// Controls of the embedded host, for the shell and the tests. A plug-in never calls
// these: they stand where the real application has its own user, screen and disk.
#pragma once

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "c4d_animation.h"
#include "c4d_basedocument.h"
#include "c4d_file.h"
#include "c4d_general.h"
#include "c4d_plugin.h"
#include "c4d_string.h"
#include "ge_types.h"

namespace host {

// --- memory ---------------------------------------------------------------
struct MemoryStats {
  LLONG liveBlocks = 0;    // blocks allocated and not yet freed
  LLONG liveBytes = 0;
  LLONG peakBytes = 0;
  LLONG allocations = 0;   // allocation requests so far (failed ones included)
};
MemoryStats GetMemoryStats();
// One line per live block: "file:line size bytes", oldest first; empty when none.
std::vector<std::string> LeakReport();

// --- fault injection --------------------------------------------------------
// Allocation number n (1-based, counted from this call) fails; 0 disarms.
void FailAllocationAt(LLONG n);
// Every allocation after the next n succeed fails; -1 disarms.
void FailAllocationsAfter(LLONG n);
// Allocation requests counted since the last arming call or ResetFaults.
LLONG AllocationsSinceArmed();
// The next BaseFile::Open (of any file) fails with FILEERROR_OPEN.
void FailNextOpen();
// Reads fail (FILEERROR_READ) after n more bytes were read; -1 disarms.
void FailReadsAfter(LLONG bytes);
// Writes fail (FILEERROR_WRITE) after n more bytes were written, as a full disk; the
// bytes up to the limit reach the file. -1 disarms.
void FailWritesAfter(LLONG bytes);
// Disarms every fault.
void ResetFaults();

// --- console ----------------------------------------------------------------
// Every line printed by GePrint since the last ClearConsole.
const std::vector<std::string>& ConsoleLines();
void ClearConsole();
// Whether GePrint also writes to standard output (on by default).
void EchoConsole(bool on);

// --- status bar and pointer --------------------------------------------------
struct StatusState {
  std::string text;
  LONG bar = -1;      // -1: no bar shown
  bool spin = false;
  LONG mouse = MOUSE_NORMAL;
  LLONG barUpdates = 0;
};
const StatusState& Status();
// Whether the status line is drawn on standard error: -1 auto (only on a terminal),
// 0 never, 1 always.
void DrawStatus(int mode);

// --- the scripted user -------------------------------------------------------
// Answers of the user, consumed in order. A question with no answer queued takes
// the default answer (Yes unless set otherwise); a file selector with nothing queued
// is cancelled.
void QueueAnswer(bool yes);
void SetDefaultAnswer(bool yes);
void QueueFileSelection(const std::string& path);  // "" cancels that selector
// Every message and question box shown (its text), oldest first.
const std::vector<std::string>& MessageBoxes();
// Titles of the file selectors opened.
const std::vector<std::string>& FileSelectorTitles();
void ClearUserLog();
// Whether box texts are printed to standard error (on by default).
void EchoMessageBoxes(bool on);

// --- plug-in folder, resource and settings -----------------------------------
// The folder of the plug-in module (GeGetPluginPath) and thus of its res/ folder.
void SetPluginFolder(const std::string& folder);
// Why the last GeResource::Init failed ("" when it did not).
std::string ResourceError();
// The folder that holds the settings file, and its path.
void SetSettingsFolder(const std::string& folder);
std::string SettingsFolder();
std::string SettingsFile();
// Reads the settings file now (also done lazily on first use). A damaged file is
// reported once, kept aside as "<file>.damaged" and replaced by empty settings.
void LoadSettings();
// Forgets the settings in memory (the next use reads the file again).
void UnloadSettings();

// --- plug-in registry --------------------------------------------------------
// Registered plug-ins in registration order.
std::vector<const BasePlugin*> RegisteredPlugins();
// Destroys every registered plug-in object and empties the registry; done before
// the plug-in module is unloaded.
void FreeRegistry();

// --- documents and scene files ----------------------------------------------------
// Saves doc as a scene file (docs/scene-format.md), through a temporary file renamed
// over path, so a failed save leaves the old file. False with the reason in *error.
bool SaveScene(const BaseDocument* doc, const std::string& path, std::string* error);
// A new document (not in the host's list) from a scene file; null with one reason in
// *error when the file cannot be read or is damaged. A failed load leaves nothing.
BaseDocument* LoadScene(const std::string& path, std::string* error);
// Frees every document of the host's list (done before the plug-in module is
// unloaded: plug-in nodes run the module's code as they are freed).
void FreeDocuments();
// How often MSG_UPDATE reached the node.
LLONG UpdateMessageCount(const GeListNode* node);

// --- evaluation, events and views ------------------------------------------------
// How often EventAdd, DrawViews and StopAllThreads / GeStopAllThreads were called, and
// the flags of the last DrawViews.
LLONG EventCount();
LLONG DrawViewsCount();
LONG LastDrawViewsFlags();
LLONG StopAllThreadsCount();
// BaseThread::TestBreak answers false n more times, then true until disarmed (-1, the
// default: never a break).
void BreakThreadsAfter(LLONG n);
// How often TestBreak was asked.
LLONG ThreadBreakTests();
// The number of points a point-level key holds (0 for a value key).
LONG KeyPointCount(const CKey* key);

// Resets console, user log, status, faults, documents, registry, bitmaps, settings
// cache and the evaluation counters: a fresh host for the next test.
void ResetHost();

}  // namespace host
