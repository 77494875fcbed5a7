// Settings of the MDD cache export and import, kept in the commands' world plug-in
// settings containers, and their option dialogs.
#pragma once

#include "c4d.h"
#include "logobmp.h"

// Export settings; stored under the MDD export command's ID.
struct MddExportOptions {
  LONG resetMarker = 0;   // 1000: a nonzero stored value brings the defaults back
  Bool multiply = FALSE;  // 1003: positions multiplied by scale (else divided)
  LONG scale = 1000;      // 1004: 1 .. 100000
  LONG startFrame = 0;    // not stored: the document's current frame
  LONG endFrame = 0;      // not stored: the end of the document's preview range
  LONG fps = 30;          // not stored: the document's frame rate
  LONG frameStep = 1;     // 1007
  BaseDocument* document = nullptr;

  Real Factor() const { return multiply ? Real(scale) : 1.0 / Real(scale > 0 ? scale : 1); }
  // Reads the stored entries (defaults stored first when missing or reset); false when
  // the settings container cannot be had.
  Bool Load();
  void Save() const;
};

// Import settings; stored under the MDD import command's ID. The start mode and the
// start frame are stored under 1006 and 1005, in that crossed order.
struct MddImportOptions {
  LONG resetMarker = 0;      // 1000
  Bool replaceKeys = FALSE;  // 1001
  Bool reverse = FALSE;      // 1002
  Bool multiply = TRUE;      // 1003
  LONG scale = 1000;         // 1004
  LONG startMode = 1;        // 1006: 0 file times, 1 current frame, 2 startFrame, 3 last key
  LONG startFrame = 0;       // 1005
  BaseDocument* document = nullptr;

  Real Factor() const { return multiply ? Real(scale) : 1.0 / Real(scale > 0 ? scale : 1); }
  Bool Load();
  void Save() const;
};

enum : LONG {
  MDD_OPT_RESET = 1000,
  MDD_OPT_REPLACE_KEYS = 1001,
  MDD_OPT_REVERSE = 1002,
  MDD_OPT_MULTIPLY = 1003,
  MDD_OPT_SCALE = 1004,
  MDD_OPT_START_FRAME = 1005,
  MDD_OPT_START_MODE = 1006,
  MDD_OPT_FRAME_STEP = 1007,
};

// The frame of host time t at rate fps.
LONG MddFrameOf(const BaseTime& t, LONG fps);

class MddXpOptsDialog : public GeModalDialog {
 public:
  explicit MddXpOptsDialog(MddExportOptions* opts);
  // Whether the dialog got as far as showing its values (a failed layout does not).
  Bool WasShown() const { return m_shown; }
  Bool CreateLayout() override;
  Bool InitValues() override;
  Bool Command(LONG id, const BaseContainer& msg) override;

 private:
  void SetStepLimit(LONG limit);

  MddExportOptions* m_pOpts;
  LogoBmp m_logo;
  Bool m_shown = FALSE;
  LONG m_minFrame = 0, m_maxFrame = 0;
};

class MddMpOptsDialog : public GeModalDialog {
 public:
  explicit MddMpOptsDialog(MddImportOptions* opts);
  Bool WasShown() const { return m_shown; }
  Bool CreateLayout() override;
  Bool InitValues() override;
  Bool Command(LONG id, const BaseContainer& msg) override;

 private:
  void TickStartMode(LONG id);

  MddImportOptions* m_pOpts;
  LogoBmp m_logo;
  Bool m_shown = FALSE;
};
