// Shared state of dialogs, user areas, list views and dialog resources; not part of
// the interface a plug-in sees.
#pragma once

#include <string>
#include <vector>

#include "c4d_gui.h"
#include "host_control.h"

namespace host::internal {

// One gadget as a dialog layout describes it (from code or from a resource).
struct GadgetSpec {
  LONG id = 0;
  GadgetKind kind = GadgetKind::Group;
  std::string key;    // readable name for the scripted user; empty when not set by a user
  std::string label;  // text, or a group's title
  // A radio of a named exclusive set: the set ("layout") and its choice ("per-group").
  std::string choiceSet, choice;
  int parent = -1;    // index of the enclosing group in the same list, -1 at the top
  LONG flags = 0;
  LONG cols = 0, rows = 0;
  LONG width = 0, height = 0;  // initial (minimum) size
  bool hasLimits = false;
  Real min = 0.0, max = 0.0, step = 1.0;
};

struct DialogLayout {
  LONG id = 0;
  std::string symbol;  // the dialog's name in c4d_symbols.h
  std::string title;
  std::vector<GadgetSpec> gadgets;  // in layout order, groups before their content
};

// Reads res/dialogs/<SYMBOL>.res of the plug-in's res/ folder for dialog id; false
// with the reason in *error.
bool ReadDialogLayout(LONG id, DialogLayout* layout, std::string* error);

// The scripted user's side of dialogs (user.cpp).
// Who a dialog is, for matching addressed actions.
struct DialogIdentity {
  LONG resourceId = 0;
  LONG pluginId = 0;
  std::string symbol;
  std::string title;
  bool modal = true;
};
// Takes the first queued action meant for this dialog: addressed to it, or (modal
// dialogs only) addressed to no dialog. False when none is queued.
bool NextDialogAction(const DialogIdentity& who, DialogAction* action);
bool DialogDefaultOk();
bool StrictDialogs();
// Drops every queued action this dialog would take (after a refusal in strict mode).
void DropDialogActions(const DialogIdentity& who);
void ReportDialogError(const std::string& text);
void RecordDialog(DialogRecord record);
// The next key the user pressed (0: none).
LONG NextKey();
// The next text-entry answer: true with the text, false for cancel. With nothing
// queued the shown text is confirmed as it is.
bool NextRenameAnswer(const std::string& shown, std::string* entered);

// Delivers queued actions to every open asynchronous dialog (dialog.cpp).
void PumpAsyncDialogs();

// Prints a line for the person at the terminal when boxes are echoed.
void EchoUserLine(const std::string& text);

// A gadget of an open (or opening) dialog.
struct Gadget : GadgetSpec {
  bool enabled = true;
  bool kindFixed = false;  // from a resource: SetLong / SetReal keep the kind
  LONG longValue = 0;  // check (0/1), integer, popup (the chosen entry's value)
  Real realValue = 0.0;  // as the code sets and gets it (radians for degrees)
  bool degrees = false;  // FORMAT_DEGREE: shown, typed and limited in degrees
  std::string text;    // a text field's content
  std::vector<std::pair<LONG, std::string>> children;  // popup entries: value, label
  GeUserArea* area = nullptr;
  SimpleListView* list = nullptr;
};

// Connects the area to gadget id of dlg (dropping an earlier attachment).
bool AttachArea(GeUserArea* area, GeDialog* dlg, LONG id);
// The area's dialog was destroyed or dropped it.
void DetachArea(GeUserArea* area);
void DetachList(SimpleListView* list);
// Lays the area out (size from its minimum and the gadget) and draws it; false when
// memory is missing.
bool LayoutArea(GeUserArea* area, LONG width, LONG height);
// Redraws x1, y1 .. x2, y2 (x2, y2 just past) of the area.
void DrawArea(GeUserArea* area, LONG x1, LONG y1, LONG x2, LONG y2, const BaseContainer& msg);
// The text of the list's rows, for the dialog log ("A, B").
std::string ListRowsText(const SimpleListView* list);
// Highlights rows (positions, or first-column texts); false with the reason.
bool HighlightListRows(SimpleListView* list, const DialogAction& action, std::string* why);
// The gadget of dlg with this ID, or null.
Gadget* FindGadget(GeDialog* dlg, LONG id);

}  // namespace host::internal

struct GeDialogState {
  std::vector<host::internal::Gadget> gadgets;
  std::vector<int> groupStack;  // open groups, as indices into gadgets
  std::string title;
  std::string symbol;  // of the loaded resource
  LONG resourceId = 0;
  LONG pluginId = 0;
  LONG type = 0;
  bool open = false;
  bool result = false;
};

struct GeUserAreaState {
  GeDialog* dialog = nullptr;
  LONG id = 0;
  BaseBitmap* canvas = nullptr;
  LONG width = 0, height = 0;
  // Drawing stays inside this rectangle (x2, y2 just past it).
  LONG clipX1 = 0, clipY1 = 0, clipX2 = 0, clipY2 = 0;
  LONG pen = 0;  // 0xBBGGRR
};

struct SimpleListViewState {
  struct Row {
    LONG id;
    BaseContainer data;
  };
  GeDialog* dialog = nullptr;
  LONG id = 0;
  BaseContainer layout;
  LONG columns = 0;
  std::vector<Row> rows;
  std::vector<LONG> selected;  // row IDs
  LLONG refreshes = 0;
};
