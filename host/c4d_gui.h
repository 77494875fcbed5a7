// Dialogs, user areas and list views. The embedded host has no screen: a dialog keeps
// its gadgets and values, a user area draws into an off-screen bitmap, and the
// scripted user (host_control.h) plays what a person would do in the window.
#pragma once

#include "c4d_basecontainer.h"
#include "c4d_bitmap.h"
#include "c4d_general.h"
#include "c4d_string.h"
#include "ge_types.h"

class BaseSelect;
class GeDialog;
struct GeDialogState;
struct GeUserAreaState;
struct SimpleListViewState;

// Dialog types.
enum : LONG {
  DLG_TYPE_MODAL = 10,
  DLG_TYPE_ASYNC = 20,
};

// Standard command IDs of a dialog.
enum : LONG {
  IDC_OK = 1,
  IDC_CANCEL = 2,
};

// AddDlgGroup: which standard buttons.
enum : LONG {
  DLG_OK = 1,
  DLG_CANCEL = 2,
};

// Layout flags of gadgets and groups. Accepted and kept; the headless host places
// nothing, so only the sizes of user areas follow from the layout.
enum : LONG {
  BFH_CENTER = 0x0,
  BFH_LEFT = 0x1,
  BFH_RIGHT = 0x2,
  BFH_FIT = 0x3,
  BFH_SCALE = 0x4,
  BFH_SCALEFIT = 0x7,
  BFV_CENTER = 0x0,
  BFV_TOP = 0x8,
  BFV_BOTTOM = 0x10,
  BFV_FIT = 0x18,
  BFV_SCALE = 0x20,
  BFV_SCALEFIT = 0x38,
  BFV_GRIDGROUP_EQUALCOLS = 0x1,
  BFV_GRIDGROUP_EQUALROWS = 0x2,
  BFV_BORDERGROUP_CHECKBOX = 0x4,
};

// Group borders.
enum : LONG {
  BORDER_NONE = 0,
  BORDER_THIN_IN = 1,
  BORDER_THIN_OUT = 2,
  BORDER_IN = 3,
  BORDER_OUT = 4,
  BORDER_GROUP_IN = 5,
  BORDER_GROUP_OUT = 6,
  BORDER_BLACK = 8,
};

// Messages and input. A dialog's Message and a user area's InputEvent receive
// containers whose ID names the message.
enum : LONG {
  BFM_ACTION = 0x41637469,          // 'Acti': a gadget was used; Command's msg
  BFM_ACTION_ID = 0x41637468,       // the gadget
  BFM_ACTION_VALUE = 0x41637476,    // its new value
  BFM_DRAW = 0x44726177,            // 'Draw': redraw a user area
  BFM_DRAW_LEFT = 1,                // the rectangle, in area pixels; right and
  BFM_DRAW_TOP = 2,                 // bottom lie just past the last pixel
  BFM_DRAW_RIGHT = 3,
  BFM_DRAW_BOTTOM = 4,
  BFM_INPUT = 0x496e7076,           // 'Inpv': an input event
  BFM_INPUT_KEYBOARD = 0x4b626472,  // 'Kbdr': device asked of GetInputState
  BFM_INPUT_MOUSE = 0x4d736520,
  BFM_INPUT_CHANNEL = 0x6368616e,   // the key code (0: no key)
  BFM_INPUT_VALUE = 0x76616c75,     // true while the key is down
  KEY_ESC = 61723,
  KEY_ENTER = 61725,
};

// Host colours for DrawSetPen.
enum : LONG {
  COLOR_BG = 1000,  // the dialog background
  COLOR_TEXT = 1001,
};

// DrawBitmap modes: bit 0 scales the source rectangle onto the destination one;
// bit 8 blends with the source's alpha over what is drawn already.
enum : LONG {
  BMP_NORMAL = 0,
  BMP_NORMALSCALED = 1,
  BMP_ALLOWALPHA = 256,
};

// AttachUserArea flags.
enum : LONG {
  USERAREA_COREMESSAGE = 1,
};

// How a real number field shows its value.
enum : LONG {
  FORMAT_REAL = 0,
  // The value is an angle in radians, shown and typed in degrees; the limits and the
  // step given with it are in degrees, as the person sees them.
  FORMAT_DEGREE = 1,
};

// Limits of SetLong / SetReal without explicit ones.
constexpr LONG MINLONGl = -2147483647 - 1;
constexpr LONG MAXLONGl = 2147483647;
constexpr Real MINREALr = -1.0e308;
constexpr Real MAXREALr = 1.0e308;

// A rectangle of the dialog owned by plug-in code; it draws into an off-screen bitmap
// of its size (the host's screen in tests: see host::UserAreaBitmap).
class GeUserArea {
 public:
  GeUserArea() = default;
  virtual ~GeUserArea();
  GeUserArea(const GeUserArea&) = delete;
  GeUserArea& operator=(const GeUserArea&) = delete;

  // The smallest size the area accepts; the layout gives it at least this.
  virtual Bool GetMinSize(LONG& w, LONG& h);
  // The area got a new size.
  virtual void Sized(LONG w, LONG h);
  // Draw the rectangle x1, y1 .. x2, y2 (x2 and y2 just past it).
  virtual void DrawMsg(LONG x1, LONG y1, LONG x2, LONG y2, const BaseContainer& msg);
  // An input event (BFM_INPUT); true when the area used it.
  virtual Bool InputEvent(const BaseContainer& msg);

  LONG GetWidth() const;
  LONG GetHeight() const;
  // The dialog the area is attached to (null before AttachUserArea).
  GeDialog* GetDialog() const;
  // Draws the whole area again now.
  void Redraw();
  // Double-buffered drawing. The headless host always draws off-screen: TRUE.
  Bool OffScreenOn();

  // Drawing, in area pixels, clipped to the area.
  void DrawSetPen(const Vector& colour);  // components 0 to 1
  void DrawSetPen(LONG colourId);         // COLOR_*
  // Fills x1, y1 .. x2, y2, both corners included.
  void DrawRectangle(LONG x1, LONG y1, LONG x2, LONG y2);
  void DrawLine(LONG x1, LONG y1, LONG x2, LONG y2);
  // Draws the source rectangle x, y, w, h of bmp into the area rectangle wx, wy, ww,
  // wh. Without BMP_NORMALSCALED the source is copied 1:1 (cut to both rectangles);
  // with it, it is stretched by nearest sampling. BMP_ALLOWALPHA blends the source
  // (premultiplied, as bitmaps hold it) over the area.
  void DrawBitmap(const BaseBitmap* bmp, LONG wx, LONG wy, LONG ww, LONG wh, LONG x, LONG y, LONG w, LONG h,
                  LONG mode);

 private:
  friend struct GeUserAreaAccess;
  GeUserAreaState* m_state = nullptr;
};

class GeDialog {
 public:
  GeDialog() = default;
  virtual ~GeDialog();
  GeDialog(const GeDialog&) = delete;
  GeDialog& operator=(const GeDialog&) = delete;

  // Builds the gadgets (LoadDialogResource or the Add/Group calls); false refuses
  // to open.
  virtual Bool CreateLayout();
  // Fills the gadgets once the layout stands; false refuses to open.
  virtual Bool InitValues();
  // The user used gadget id (msg: BFM_ACTION with BFM_ACTION_ID and _VALUE).
  virtual Bool Command(LONG id, const BaseContainer& msg);
  // Any other message (a redraw request, an input event ...).
  virtual LONG Message(const BaseContainer& msg, BaseContainer& result);
  // Asked before the dialog closes on OK; TRUE keeps it open.
  virtual Bool AskClose();

  // Opens the dialog. A modal dialog (DLG_TYPE_MODAL) is played through by the
  // scripted user and closed before Open returns; an asynchronous one (DLG_TYPE_ASYNC)
  // stays open. False when the layout or the initial values failed, or memory was
  // missing; host::DialogErrors() says why.
  Bool Open(LONG dlgtype, LONG pluginid, LONG xpos = -1, LONG ypos = -1, LONG defaultw = 0, LONG defaulth = 0);
  Bool Close();
  Bool IsOpen() const;
  void SetTitle(const String& title);
  String GetTitle() const;

  // The dialog layout id from res/dialogs (docs/resources.md); false when it is missing
  // or broken, with the reason in host::DialogResourceError().
  Bool LoadDialogResource(LONG id, GeResource* lr, LONG flags);

  // Layout in code. Each is false when memory is missing or the ID is taken already.
  Bool GroupBegin(LONG id, LONG flags, LONG cols, LONG rows, const String& title, LONG groupflags);
  Bool GroupEnd();
  Bool GroupBorder(ULONG borderstyle);
  Bool GroupBorderNoTitle(ULONG borderstyle);
  Bool GroupBorderSpace(LONG left, LONG top, LONG right, LONG bottom);
  Bool GroupSpace(LONG spacex, LONG spacey);
  Bool AddStaticText(LONG id, LONG flags, LONG initw, LONG inith, const String& name, LONG borderstyle);
  Bool AddCheckbox(LONG id, LONG flags, LONG initw, LONG inith, const String& name);
  // A check box of an exclusive set; the dialog's own code clears the others.
  Bool AddRadioCheckbox(LONG id, LONG flags, LONG initw, LONG inith, const String& name);
  Bool AddButton(LONG id, LONG flags, LONG initw, LONG inith, const String& name);
  Bool AddEditNumber(LONG id, LONG flags, LONG initw = 0, LONG inith = 0);
  Bool AddEditNumberArrows(LONG id, LONG flags, LONG initw = 0, LONG inith = 0);
  Bool AddEditText(LONG id, LONG flags, LONG initw = 0, LONG inith = 0);
  Bool AddComboBox(LONG id, LONG flags, LONG initw = 0, LONG inith = 0);
  Bool AddPopupButton(LONG id, LONG flags, LONG initw = 0, LONG inith = 0);
  Bool AddUserArea(LONG id, LONG flags, LONG initw = 0, LONG inith = 0);
  Bool AddListView(LONG id, LONG flags, LONG initw = 0, LONG inith = 0);
  // OK (1) and / or Cancel (2) buttons: DLG_OK | DLG_CANCEL.
  Bool AddDlgGroup(LONG type);

  // Gadget values. Setters are false for an unknown gadget; getters leave value
  // unchanged and are false then. Numbers are clamped to the limits given with them
  // (kept for later sets, including the scripted user's).
  Bool SetBool(LONG id, Bool value);
  Bool GetBool(LONG id, Bool& value) const;
  Bool SetLong(LONG id, LONG value, LONG min = MINLONGl, LONG max = MAXLONGl, LONG step = 1);
  Bool GetLong(LONG id, LONG& value) const;
  Bool SetReal(LONG id, Real value, Real min = MINREALr, Real max = MAXREALr, Real step = 1.0,
               LONG format = FORMAT_REAL);
  Bool GetReal(LONG id, Real& value) const;
  // Text of a text field or static text; the title of a group; the label of a button
  // or check box.
  Bool SetString(LONG id, const String& text);
  Bool GetString(LONG id, String& text) const;
  Bool Enable(LONG id, Bool enabled);
  // False for a disabled or unknown gadget. A gadget inside a disabled group counts as
  // disabled too.
  Bool IsEnabled(LONG id) const;

  // Popup entries: value subid, label child. FreeChildren removes them all.
  Bool AddChild(LONG id, LONG subid, const String& child);
  Bool FreeChildren(LONG id);

  // Connects a user area object to gadget id (a user area gadget).
  Bool AttachUserArea(GeUserArea& ua, LONG id, LONG userareaflags = USERAREA_COREMESSAGE);
  // Sends msg to gadget id: BFM_DRAW redraws a user area in the rectangle it carries;
  // other messages reach a user area's InputEvent. 0 for an unknown gadget.
  LONG SendMessage(LONG id, const BaseContainer& msg);

 protected:
  // The dialog's result: TRUE when it closed with OK.
  Bool GetDialogResult() const;

 private:
  friend struct GeDialogAccess;
  GeDialogState* m_state = nullptr;
};

// A modal dialog with the standard OK (1) and Cancel (2) commands.
class GeModalDialog : public GeDialog {
 public:
  // Opens modally; TRUE when it closed with OK.
  Bool Open(LONG xpos = -1, LONG ypos = -1, LONG defaultw = 0, LONG defaulth = 0);
  Bool GetResult() const { return GetDialogResult(); }
};

// Column types of SimpleListView::SetLayout.
enum : LONG {
  LV_COLUMN_TEXT = 1,
  LV_COLUMN_CHECKBOX = 2,
};

// A list of rows, each an ID and a container of column values, shown in a list view
// gadget. The rows keep the order they were added in.
class SimpleListView {
 public:
  SimpleListView() = default;
  ~SimpleListView();
  SimpleListView(const SimpleListView&) = delete;
  SimpleListView& operator=(const SimpleListView&) = delete;

  // Connects the view to a list view gadget of dlg; false for an unknown gadget, one
  // of another kind, or missing memory.
  Bool AttachListView(GeDialog* dlg, LONG id);
  // The columns: layout holds column ID -> LV_COLUMN_* for the first `columns` entries.
  Bool SetLayout(LONG columns, const BaseContainer& layout);
  // Adds row id or replaces its data; false when memory is missing.
  Bool SetItem(LONG id, const BaseContainer& data);
  Bool RemoveItem(LONG id);
  // The data of row id; false when there is no such row.
  Bool GetItem(LONG id, BaseContainer* data) const;
  LONG GetItemCount() const;
  // Row at position num (0-based, in row order); false past the end.
  Bool GetItemLine(LONG num, LONG* id, BaseContainer* data) const;
  // The view shows the rows as they are now; highlights of removed rows are dropped.
  Bool DataChanged();
  // The highlighted rows by row ID; the count, or -1 when memory is missing.
  LONG GetSelection(BaseSelect* selection) const;
  Bool SetSelection(const BaseSelect* selection);

 private:
  friend struct SimpleListViewAccess;
  SimpleListViewState* m_state = nullptr;
  Bool EnsureState();
};

// The host's text-entry dialog: shows *text; on OK *text is the entered text and the
// result is TRUE; Cancel leaves *text and returns FALSE.
Bool RenameDialog(String* text);

// The current state of an input device: for BFM_INPUT_KEYBOARD, res gets the next
// key the user pressed in BFM_INPUT_CHANNEL (0 when none) and BFM_INPUT_VALUE.
// Also the moment the host delivers what the user did in open asynchronous dialogs.
// False for an unknown device.
Bool GetInputState(LONG askdevice, LONG askchannel, BaseContainer& res);
