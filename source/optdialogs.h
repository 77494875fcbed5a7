// The OBJ option dialogs: LoadOptsDialog edits the import record, SaveOptsDialog the
// export record, each with the preset popup and buttons of the preset store. Both are
// modal and live on the command's stack for one run; Open returns TRUE on OK.
#pragma once

#include "c4d.h"
#include "logobmp.h"
#include "plugopts.h"

class ObjExportContext;

// What the two dialogs share: the layout from the resource with its two logos, the
// preset popup and buttons, the check boxes and exclusive sets of the record's flag
// words, and the enable rules run after InitValues and after every Command.
class OptsDialog : public GeModalDialog {
 public:
  // Whether the dialog got as far as showing its values (a failed layout does not).
  Bool WasShown() const { return m_shown; }
  LogoBmp& Logo(LONG i) { return i == 0 ? m_logo1 : m_logo2; }

  // One check box for one bit; inverted: ticked means the bit is clear.
  struct CheckBit {
    LONG id;
    ULONG PluginOpts::*word;
    ULONG bit;
    Bool inverted;
  };
  struct RadioMember {
    LONG id;
    LONG value;
  };
  // Check boxes of which exactly one is ticked: they choose the bits under mask of a
  // flag word, or the value of a number field. The member at index fallback is ticked
  // when no other one matches the record.
  struct RadioSet {
    RadioMember members[5];
    LONG count;
    ULONG PluginOpts::*word;
    LONG PluginOpts::*number;
    ULONG mask;
    LONG fallback;
  };

 protected:
  OptsDialog(PresetStore* presets, PluginOpts::Side side, LONG dialogId, LONG logo1Id, LONG logo2Id,
             const CHAR* logo1File, const CHAR* logo2File, const CheckBit* checks, LONG checkCount,
             const RadioSet* radios, LONG radioCount);

  Bool CreateLayout() override;
  Bool InitValues() override;
  Bool Command(LONG id, const BaseContainer& msg) override;

  // The side's popups with their choice labels.
  virtual Bool FillChoices() = 0;
  // The gadgets outside the check and radio tables, from and into the record.
  virtual void FillOwnGadgets() = 0;
  virtual void ReadOwnGadgets() = 0;
  virtual void ApplyOwnEnables() = 0;
  // A gadget of the side's own was used (after the exclusive sets were kept).
  virtual void OwnCommand(LONG id) { (void)id; }
  // False for a check box whose shown state is forced and must not reach the record.
  virtual Bool ReadsCheck(LONG id) const { (void)id; return TRUE; }
  // OK: the record is read; hand the scale factor to the caller.
  virtual void Confirmed() = 0;

  PluginOpts& Opts() { return m_pPresets->Opts(m_side); }
  Bool IsTicked(LONG id) const;
  // Fills a popup with count entries labelled by consecutive resource strings.
  Bool FillChoicePopup(LONG id, LONG firstString, LONG count);

 private:
  Bool FillPresetPopup();
  void FillGadgets();
  void ReadGadgets();
  void ApplyEnables();
  void KeepExclusive(LONG id);
  void RenamePreset();
  void AddPreset();

  PresetStore* m_pPresets;
  PluginOpts::Side m_side;
  LONG m_dialogId;
  LONG m_logo1Id, m_logo2Id;
  LogoBmp m_logo1, m_logo2;
  const CheckBit* m_checks;
  LONG m_checkCount;
  const RadioSet* m_radios;
  LONG m_radioCount;
  Bool m_presetsFilled = FALSE;
  Bool m_shown = FALSE;
};

// The OBJ import options. On OK *scaleFactor (may be null) gets the record's factor.
class LoadOptsDialog : public OptsDialog {
 public:
  LoadOptsDialog(PresetStore* presets, Real* scaleFactor);

 protected:
  Bool FillChoices() override;
  void FillOwnGadgets() override;
  void ReadOwnGadgets() override;
  void ApplyOwnEnables() override;
  void OwnCommand(LONG id) override;
  void Confirmed() override;

 private:
  Real* m_pScaleFactor;
};

// The OBJ export options. The frame gadgets show doc's frame range and rate (taken
// now; without a document frame 0 at 30 frames per second). While the context's
// exportNgons is clear the n-gon switch is unticked and disabled. On OK the context
// gets the scale factor.
class SaveOptsDialog : public OptsDialog {
 public:
  SaveOptsDialog(PresetStore* presets, ObjExportContext* context, BaseDocument* doc);

  LONG FirstFrame() const { return m_firstFrame; }
  LONG LastFrame() const { return m_lastFrame; }
  LONG FrameRate() const { return m_frameRate; }

 protected:
  Bool FillChoices() override;
  void FillOwnGadgets() override;
  void ReadOwnGadgets() override;
  void ApplyOwnEnables() override;
  void OwnCommand(LONG id) override;
  Bool ReadsCheck(LONG id) const override;
  void Confirmed() override;

 private:
  Bool NgonsAllowed() const;
  void LimitFrameStep();

  ObjExportContext* m_pContext;
  LONG m_firstFrame = 0;
  LONG m_lastFrame = 0;
  LONG m_frameRate = 30;
};

// One option stage: loads the presets, plays the dialog and saves the presets when it
// closed, with OK or Cancel. *opened (may be null) tells whether the dialog was shown.
// True on OK; a preset load that failed for memory is reported and gives false.
Bool PlayOptionsDialog(PresetStore& presets, OptsDialog& dialog, Bool* opened);

