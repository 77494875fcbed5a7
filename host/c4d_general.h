// Text and feedback: console, status bar, message boxes, mouse pointer, clock,
// byte order and the plug-in's resource strings.
#pragma once

#include "c4d_string.h"
#include "ge_types.h"

class Filename;

// One line on the host console.
void GePrint(const String& text);

// Status bar.
void StatusSetText(const String& text);
void StatusSetBar(LONG percent);
void StatusSetSpin();
void StatusClear();

// Message boxes. Types and results follow the host's codes.
enum : LONG {
  GEMB_OK = 0,
  GEMB_OKCANCEL = 1,
  GEMB_YESNOCANCEL = 3,
  GEMB_YESNO = 4,
  GEMB_R_OK = 1,
  GEMB_R_CANCEL = 2,
  GEMB_R_YES = 6,
  GEMB_R_NO = 7,
};
// Modal box with an OK button; returns when the user closes it.
void MessageDialog(const String& text);
// Modal box of the given type; returns the button the user pressed.
LONG MessageDialog(LONG type, const String& text);
// Yes/No question; true for Yes.
Bool QuestionDialog(const String& text);

// Mouse pointer.
enum : LONG {
  MOUSE_HIDE = 0,
  MOUSE_SHOW = 1,
  MOUSE_NORMAL = 2,
  MOUSE_BUSY = 3,
};
void GeShowMouse(LONG state);

// Milliseconds of a monotonic clock.
Real GeGetMilliSeconds();
// Whole milliseconds of the same clock.
LONG GeGetTimer();

// Byte order of the running machine (BYTEORDER_MOTOROLA or BYTEORDER_INTEL).
LONG GeGetByteOrder();
// Reverse the bytes of count 16-bit / 32-bit values in place.
void wSwap(void* data, VLONG count = 1);
void lSwap(void* data, VLONG count = 1);
// Convert count values between machine order and big-endian (Motorola) or
// little-endian (Intel) order, in place; a no-op where the orders agree.
void wMotorola(void* data, VLONG count = 1);
void lMotorola(void* data, VLONG count = 1);
void wIntel(void* data, VLONG count = 1);
void lIntel(void* data, VLONG count = 1);

// The plug-in's own folder (where its module and its res/ folder lie).
Filename GeGetPluginPath();

// Opens a document or web address in the system's web browser. The embedded host has no
// browser: it records the request for the host application (the shell prints it).
Bool GeOpenHTML(const String& webaddress);

// The plug-in's resource: string table and dialog layouts from its res/ folder.
class GeResource {
 public:
  // Loads the resource from the res/ folder beside the plug-in module; false when
  // the folder or its string table cannot be read.
  Bool Init();
  Bool Init(const Filename& folder);
  void Free();
  Bool IsLoaded() const;
};
// The plug-in's resource object (one per loaded plug-in).
extern GeResource resource;

// Resource string by ID; empty when the table has no such string.
String GeLoadString(LONG id);
// The same with "#" in the text replaced by p1, then p2.
String GeLoadString(LONG id, const String& p1, const String& p2 = String());

// The host's event queue and views. EventAdd tells the host that the scene changed;
// DrawViews redraws the editor views (DRAWFLAGS_*); both are counted by the embedded
// host, which has no views (host::EventCount, host::DrawViewsCount).
enum : LONG {
  EVENT_0 = 0,
  DRAWFLAGS_ONLY_ACTIVE_VIEW = 0x0002,
  DRAWFLAGS_NO_THREAD = 0x8000,
};
void EventAdd(LONG flags = EVENT_0);
Bool DrawViews(LONG flags);
// Stops the host's background work (evaluation and drawing threads) before a plug-in
// changes the scene from the main thread.
void StopAllThreads();
void GeStopAllThreads();
