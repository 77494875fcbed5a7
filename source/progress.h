// The progress window of a multi-file export: a counter title (files done of files
// total), the name of the file being written and a bar drawn from a picture. Escape,
// pressed while a label is shown, asks the export to stop; closing the window does not.
#pragma once

#include "c4d.h"

// Gadgets of the window.
enum : LONG {
  IDC_PROGRESS_GROUP = 6000,
  IDC_PROGRESS_LABEL = 6001,
  IDC_PROGRESS_BAR = 6002,
};

// Draws the bar: the picture's left cap, its 16-pixel middle column stretched to the
// done fraction, and its right cap.
class ProgBar : public GeUserArea {
 public:
  ProgBar();
  ~ProgBar() override;

  // Loads res/<file> of the plug-in folder; false (the bar stays blank) when it cannot.
  Bool LoadImage(const CHAR* file);

  Bool GetMinSize(LONG& w, LONG& h) override;
  void DrawMsg(LONG x1, LONG y1, LONG x2, LONG y2, const BaseContainer& msg) override;

  // Width of the stretched middle for an area of width areaWidth.
  LONG FillWidth(LONG areaWidth) const;

  LONG total = 100;
  LONG current = 0;

 private:
  BaseBitmap* m_pImage = nullptr;
  LONG m_imageWidth = 0;
  LONG m_imageHeight = 0;
  LONG m_capWidth = 0;
  Bool m_imageLoaded = FALSE;
};

class ProgBarDialog : public GeDialog {
 public:
  ProgBarDialog();

  // The flag Escape sets, and the picture of the bar (res/<imageFile>).
  void SetOwner(Bool* cancelled, const CHAR* imageFile);
  void SetTotal(LONG n);
  void SetCurrent(LONG n);
  // Shows the file being written; then an Escape key waiting in the host's input
  // sets the owner's cancel flag.
  void SetLabel(const String& text);

  Bool CreateLayout() override;
  Bool Command(LONG id, const BaseContainer& msg) override;

  LONG FilesTotal() const { return m_filesTotal; }
  LONG FilesDone() const { return m_filesDone; }
  const ProgBar& Bar() const { return m_bar; }

 private:
  String CounterTitle() const;

  ProgBar m_bar;
  Bool* m_pCancelled = nullptr;
  LONG m_filesTotal = 0;
  LONG m_filesDone = 0;
  String m_label;
};
