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
#include "c4d_gui.h"
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
// The entries BrowseFiles handed out (folder and name joined, lexically normal), oldest
// first, since ClearBrowsedPaths.
std::vector<std::string> BrowsedPaths();
void ClearBrowsedPaths();
// Leaves the entry at path out of every later BrowseFiles listing, as if it were not
// there (a shell that imports a folder again without a file that failed); an empty
// path shows every entry again.
void HideFromBrowsing(const std::string& path);
// BaseFile opens and reads (calls, of any file) since ResetFileAccesses or ResetFaults.
struct FileAccessCounts {
  LLONG opens = 0;
  LLONG reads = 0;
};
FileAccessCounts FileAccesses();
void ResetFileAccesses();

// --- console ----------------------------------------------------------------
// Every line printed by GePrint since the last ClearConsole.
const std::vector<std::string>& ConsoleLines();
void ClearConsole();
// Whether GePrint also writes to standard output (on by default).
void EchoConsole(bool on);
// Whether diagnostic console lines (the timing lines) are echoed with the others; all
// of them stay in ConsoleLines().
void EchoDiagnostics(bool on);
// Where lines go that the host prints nowhere because their echo is off: console lines
// (the timing lines without EchoDiagnostics, every line without EchoConsole) and the
// scripted user's trace lines (without EchoTrace). The sink gets each such line,
// without its newline, as it comes; null (the default) drops them. A log of a run
// that holds every line takes them beside what is printed.
using LineSink = void (*)(const std::string& line);
void SetWithheldLineSink(LineSink sink);

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
// Text drawn before the status text on the terminal (the shell's view of an open
// progress window); the status itself is unchanged. "" for none.
void SetStatusPrefix(const std::string& text);

// --- the scripted user -------------------------------------------------------
// Answers of the user, consumed in order. A question with no answer queued takes
// the default answer (Yes unless set otherwise); a file selector with nothing queued
// is cancelled.
void QueueAnswer(bool yes);
void SetDefaultAnswer(bool yes);
void QueueFileSelection(const std::string& path);  // "" cancels that selector
// Every message and question box shown (its text), oldest first.
const std::vector<std::string>& MessageBoxes();
// Documents and web addresses handed to GeOpenHTML, oldest first.
const std::vector<std::string>& OpenedInBrowser();
// Files put in place by safe saves (scene files, settings, written exports), oldest
// first, since ClearUserLog.
std::vector<std::string> SavedFiles();
// Titles of the file selectors opened.
const std::vector<std::string>& FileSelectorTitles();
void ClearUserLog();
// Whether box texts are printed to standard error (on by default).
void EchoMessageBoxes(bool on);
// Whether the scripted user's trace lines ("[dialog] ...", "[file selector] ...") are
// echoed; message boxes are not affected.
void EchoTrace(bool on);

// --- the scripted user in dialogs ----------------------------------------------
// What a gadget is, in dialogs built in code and in dialog resources.
enum class GadgetKind { Group, Static, Check, Radio, Button, Integer, Real, Text, Popup, UserArea, ListView };
// "group", "static", "check", "radio", "button", "integer", "real", "text", "popup",
// "userarea", "listview".
const char* GadgetKindName(GadgetKind kind);

// One thing the user does in a dialog. A modal dialog plays the actions queued for it
// in order, each as a person would (limits, enabled state and kind are honoured, then
// the dialog's Command runs), until OK or Cancel. When the actions run out the dialog
// is confirmed with OK (see SetDialogDefault). A refused action is dropped and
// reported in DialogErrors(); the play goes on with the next one, unless dialogs are
// strict (SetStrictDialogs).
struct DialogAction {
  enum class Kind { Set, Integer, Decimal, Text, Tick, ChooseIndex, ChooseLabel, Click, Highlight, Ok, Cancel };
  Kind kind = Kind::Ok;
  // The dialog it is meant for: its resource ID or plug-in ID in decimal, its resource
  // symbol (DLG_...) or its title. Empty: the next modal dialog that opens.
  // Asynchronous dialogs only take actions addressed to them.
  std::string dialog;
  // The gadget: its ID in decimal, or its key from the dialog resource ("swap-yz").
  std::string gadget;
  LLONG number = 0;                // Integer, ChooseIndex (0-based)
  Real decimal = 0.0;              // Decimal
  bool on = false;                 // Tick
  std::string text;                // Set, Text, ChooseLabel
  std::vector<LONG> rows;          // Highlight: row positions, 0-based
  std::vector<std::string> labels; // Highlight: rows by the text of their first column

  // The value as the shell's "--set key=value" gives it, read by the gadget's kind:
  // on/off (yes/no, true/false, 1/0) for check boxes, a number for number fields, an
  // entry label (or else a 0-based index) for popups, the text for text fields. The
  // gadget may also be a choice set of radios (CHOICE in the resource): the value
  // names the radio to tick, as a person clicking it.
  static DialogAction Set(std::string gadget, std::string value);
  static DialogAction Integer(std::string gadget, LLONG value);
  static DialogAction Decimal(std::string gadget, Real value);
  static DialogAction Text(std::string gadget, std::string text);
  static DialogAction Tick(std::string gadget, bool on);
  static DialogAction ChooseIndex(std::string gadget, LLONG index);
  static DialogAction ChooseLabel(std::string gadget, std::string label);
  static DialogAction Click(std::string gadget);
  static DialogAction Highlight(std::string gadget, std::vector<LONG> rows);
  static DialogAction HighlightLabels(std::string gadget, std::vector<std::string> labels);
  static DialogAction Ok();
  static DialogAction Cancel();
  // The same action addressed to one dialog.
  DialogAction For(std::string dialogName) const;
};
void QueueDialogAction(const DialogAction& action);
// How a modal dialog ends when its actions run out: OK (true, the default) or Cancel.
void SetDialogDefault(bool ok);
// Strict dialogs (off by default): a refused action ends the modal dialog with Cancel
// and drops the rest of its queued actions; the refusal is still in DialogErrors().
void SetStrictDialogs(bool on);
// Actions refused (unknown or disabled gadget, wrong kind, bad value) and dialogs
// that failed to open, one line each, oldest first.
const std::vector<std::string>& DialogErrors();

// What a dialog showed when it closed.
struct GadgetRecord {
  LONG id = 0;
  std::string key;
  GadgetKind kind = GadgetKind::Group;
  std::string label;
  std::string value;  // on/off, the number, the text, the popup entry's label, list rows
  Real number = 0.0;  // check 1/0, number, popup entry value
  bool enabled = true;  // as the user could use it (enclosing groups included)
  std::string choiceSet, choice;     // a radio of a choice set
  std::vector<std::string> entries;  // a popup's entry labels, in order
  int parent = -1;  // the enclosing group's index in DialogRecord::gadgets, -1 at the top
};
struct DialogRecord {
  std::string title;
  LONG resourceId = 0;
  LONG pluginId = 0;
  bool modal = true;
  bool confirmed = false;  // closed with OK
  std::vector<GadgetRecord> gadgets;  // in layout order
  // The gadget by ID, or null.
  const GadgetRecord* Find(LONG id) const;
};
// Every dialog closed since the last ClearUserLog, oldest first.
const std::vector<DialogRecord>& DialogLog();
// Told what an open asynchronous window shows whenever one of its texts changes (the
// shell draws an export's progress window on the terminal with it); null: nobody.
using WindowObserver = void (*)(const DialogRecord& window);
void SetWindowObserver(WindowObserver observer);

// Answers of the text-entry dialog (RenameDialog), in order; with none queued the
// shown text is confirmed unchanged.
void QueueRenameText(const std::string& text);
void QueueRenameCancel();
// The texts the text-entry dialog showed.
const std::vector<std::string>& RenamePrompts();

// Keys the user presses, read by GetInputState one at a time (KEY_ESC = 61723).
void QueueKey(LONG channel);
// From now on Ctrl+C in the terminal is the Escape key: the next keyboard read gets
// KEY_ESC before any queued key. A second Ctrl+C ends the process.
void EscapeOnInterrupt();
// Ctrl+C presses seen (after EscapeOnInterrupt), and the same press made by a test.
LLONG InterruptCount();
void SimulateInterrupt();

// Delivers queued actions to the open asynchronous dialogs now. The host also does
// this whenever the plug-in calls GetInputState.
void PumpDialogs();

// --- user areas and dialog resources --------------------------------------------
// The off-screen picture of an attached user area (null before its dialog opened).
const BaseBitmap* UserAreaBitmap(const GeUserArea* area);
// Gives the area a new size (not below its minimum), as a person resizing the window
// would; it is told (Sized) and redrawn. False when it is not in an open dialog or
// memory is missing.
bool ResizeUserArea(GeUserArea* area, LONG width, LONG height);
// Why the last dialog resource failed to load ("" when it did not).
std::string DialogResourceError();
// A dialog resource's gadgets, for the shell and the tests; false with the reason.
struct GadgetInfo {
  LONG id = 0;
  GadgetKind kind = GadgetKind::Group;
  std::string key;
  std::string label;
  LONG parent = 0;  // the enclosing group's ID, 0 at the top or in an unnamed group
  bool hasLimits = false;
  Real min = 0.0, max = 0.0;
  std::string choiceSet, choice;  // a radio of a choice set
};
bool DescribeDialogResource(LONG id, std::string* title, std::vector<GadgetInfo>* gadgets, std::string* error);

// --- descriptions -----------------------------------------------------------------
// The parameters a plug-in node shows in the attribute view, from
// res/description/<name>.res (docs/resources.md): container ID, kind and label.
// A file name is kept as a DA_FILENAME entry; a bitmap button holds no container entry:
// its node answers it (GetDParameter) and hears of a press (MSG_DESCRIPTION_COMMAND).
enum class ParameterKind { Bool, Long, Real, String, FileName, BitmapButton };
// "BOOL", "LONG", "REAL", "STRING", "FILENAME", "BITMAPBUTTON".
const char* ParameterKindName(ParameterKind kind);
struct ParameterInfo {
  LONG id = 0;
  ParameterKind kind = ParameterKind::Bool;
  std::string symbol;  // its name in c4d_symbols.h; empty when given as a number
  std::string label;
};
// The description's title and parameters, in file order; false with the reason in
// *error ("file:line: reason" for a broken file).
bool DescribeDescription(const std::string& name, std::string* title, std::vector<ParameterInfo>* parameters,
                         std::string* error);

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
// While on, changes of the settings stay in memory and the settings file is neither
// written nor (when damaged) set aside: a run that only previews. Off by default.
void KeepSettingsInMemory(bool on);
// Writes the settings in memory to the settings file now (a run kept in memory whose
// changes are to stay); false with the reason.
bool WriteSettings(std::string* error);
// Why the last save of a settings change failed; "" when it succeeded (or none failed).
std::string SettingsSaveError();

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
