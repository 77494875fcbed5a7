// The MDD export command: writes the evaluated points of the active point object, frame
// by frame, as an MDD point cache (layout: mddformat.h).
#include <algorithm>
#include <string>

#include "binfile.h"
#include "c4d_symbols.h"
#include "compat.h"
#include "main.h"
#include "mddformat.h"
#include "mddoptions.h"
#include "plugin_ids.h"
#include "registration.h"

namespace {

constexpr LONG kDrawFlags = DRAWFLAGS_NO_THREAD | DRAWFLAGS_ONLY_ACTIVE_VIEW;

class MddExportJob {
 public:
  ~MddExportJob() {
    gantryBinFile::Free(m_pMddFile);
    bDelete(m_pFrameTimes);
    mdd::FrameBlock::Free(m_pBlock);
  }
  Bool Run(BaseDocument* doc);

 private:
  Bool WriteCache();
  // The current state of the selected object at frame (document time set, evaluated);
  // false with a console line when it cannot be had.
  Bool WriteFrame(LONG frame);
  void RestoreTime();
  void WriteFailed();

  MddExportOptions m_opts;
  BaseObject* m_pObject = nullptr;
  BaseDocument* m_pDoc = nullptr;
  Filename m_file;
  gantryBinFile* m_pMddFile = nullptr;
  LONG m_numFrames = 0;
  LONG m_numVerts = 0;
  LONG m_numPoints = 0;
  Real* m_pFrameTimes = nullptr;
  mdd::FrameBlock* m_pBlock = nullptr;
  Matrix m_mg;
  LONG m_fps = 30;
  LONG m_startFrame = 0;
};

Bool MddExportJob::Run(BaseDocument* doc) {
  m_pDoc = doc;
  m_pObject = doc->GetActiveObject();
  if (!m_pObject || !m_pObject->IsInstanceOf(Opoint)) {
    GePrint(String("not a Point Object"));
    return FALSE;
  }
  m_numVerts = ToPoint(m_pObject)->GetPointCount();
  if (m_numVerts <= 0) {
    GePrint(String("Kelvane: the object '") + m_pObject->GetName() + String("' has no points; no cache written."));
    return FALSE;
  }

  m_file = doc->GetDocumentPath();
  const String title("Export .mdd File");
  if (!m_file.FileSelect(FILESELECTTYPE_ANYTHING, FILESELECT_SAVE, &title)) return FALSE;
  m_file.SetSuffix(String("mdd"));

  const LONG docFps = doc->GetFps();
  m_opts.document = doc;
  m_opts.startFrame = MddFrameOf(doc->GetTime(), docFps);
  m_opts.endFrame = MddFrameOf(doc->GetLoopMaxTime(), docFps);
  m_opts.fps = docFps;
  if (!m_opts.Load()) {
    GePrint(String("Kelvane: the MDD export settings cannot be had from the host's settings."));
    return FALSE;
  }
  MddXpOptsDialog dialog(&m_opts);
  const Bool confirmed = dialog.Open();
  if (!dialog.WasShown()) {
    GePrint(String("Kelvane: The MDD export options dialog could not be opened."));
    return FALSE;
  }
  if (!confirmed) return FALSE;
  m_fps = std::max<LONG>(m_opts.fps, 1);

  m_pMddFile = gantryBinFile::Alloc();
  if (!m_pMddFile) {
    GePrint(String("gantryBinFile::Alloc()"));
    return FALSE;
  }
  if (m_pMddFile->Open(m_file, BINFILE_WRITE, BINFILE_BUFFERSIZE) != 0) {
    GePrint(String("m_pMddFile->Open(") + m_file.GetString() + String(") failed"));
    return FALSE;
  }
  m_startFrame = MddFrameOf(doc->GetTime(), docFps);
  const Bool written = WriteCache();
  // The document goes back to where it stood, whatever happened.
  RestoreTime();
  if (!written) {
    m_pMddFile->Discard();
    return FALSE;
  }
  const LONG closed = m_pMddFile->Close();
  if (closed != 0) {
    GePrint(String("Kelvane: the MDD cache '") + m_file.GetString() + String("' could not be saved (file error ") +
            String::LongToString(closed) + String("); no cache was written."));
    return FALSE;
  }
  return TRUE;
}

void MddExportJob::WriteFailed() {
  GePrint(String("Kelvane: writing the MDD cache '") + m_file.GetString() +
          String("' failed (disk full or not writable); no cache was written."));
}

Bool MddExportJob::WriteCache() {
  const mdd::FrameList frames = mdd::MakeFrameList(m_opts.startFrame, m_opts.endFrame, m_opts.frameStep);
  m_numFrames = frames.count;
  m_pFrameTimes = bNew(Real, m_numFrames);
  if (!m_pFrameTimes) {
    GePrint(String("m_pFrameTimes Alloc()"));
    return FALSE;
  }
  for (LONG k = 0; k < m_numFrames; ++k) m_pFrameTimes[k] = mdd::FrameTime(frames, k, m_fps);
  m_pBlock = mdd::FrameBlock::Alloc(m_numVerts);
  if (!m_pBlock) {
    GePrint(String("m_pFrameBlock Alloc()"));
    return FALSE;
  }
  if (!mdd::WriteHeader(m_pMddFile, m_numFrames, m_numVerts, m_pFrameTimes)) {
    WriteFailed();
    return FALSE;
  }
  for (LONG k = 0; k < m_numFrames; ++k)
    if (!WriteFrame(frames.Frame(k))) return FALSE;
  return TRUE;
}

Bool MddExportJob::WriteFrame(LONG frame) {
  BaseDocument* doc = m_pDoc;
  StopAllThreads();
  doc->SetTime(BaseTime(Real(frame), Real(doc->GetFps())));
  doc->ExecutePasses(nullptr, TRUE, TRUE, TRUE, 0);
  EventAdd();

  BaseContainer settings;
  settings.SetBool(MDATA_CURRENTSTATETOOBJECT_KEEPANIMATION, FALSE);
  ModelingCommandData mcd;
  mcd.doc = doc;
  mcd.op = m_pObject;
  mcd.bc = &settings;
  if (!SendModelingCommand(MCOMMAND_CURRENTSTATETOOBJECT, mcd) || !mcd.result) {
    GePrint(String("SendModelingCommand() Failure"));
    return FALSE;
  }
  DrawViews(kDrawFlags);
  BaseObject* collapsed = static_cast<BaseObject*>(mcd.result->GetIndex(0));
  if (!collapsed) {
    GePrint(String("!pCollapsedObject"));
    return FALSE;
  }
  BaseObject* aniMesh = collapsed;
  while (aniMesh && !aniMesh->IsInstanceOf(Opoint)) aniMesh = aniMesh->GetDown();
  if (!aniMesh) {
    GePrint(String("!pAniMesh"));
    BaseObject::Free(collapsed);
    return FALSE;
  }
  m_numPoints = ToPoint(aniMesh)->GetPointCount();
  if (m_numPoints != m_numVerts) {
    ConsolePrintf("m_numVerts: %d != m_numPoints: %d", int(m_numVerts), int(m_numPoints));
    BaseObject::Free(collapsed);
    return FALSE;
  }
  m_mg = m_pObject->GetMg();
  const Real factor = m_opts.Factor();
  m_pBlock->SetAll(ToPoint(aniMesh)->GetPointR(), m_mg, factor);
  BaseObject::Free(collapsed);
  if (!m_pBlock->Write(m_pMddFile)) {
    WriteFailed();
    return FALSE;
  }
  return TRUE;
}

void MddExportJob::RestoreTime() {
  BaseDocument* doc = m_pDoc;
  StopAllThreads();
  doc->SetTime(BaseTime(Real(m_startFrame), Real(doc->GetFps())));
  doc->ExecutePasses(nullptr, TRUE, TRUE, TRUE, 0);
  EventAdd();
  DrawViews(kDrawFlags);
  m_pObject->Message(MSG_UPDATE);
  EventAdd();
  DrawViews(kDrawFlags);
}

class MddXpPlugin : public CommandData {
 public:
  Bool Execute(BaseDocument* doc) override {
    if (!doc) return FALSE;
    GeShowMouse(MOUSE_BUSY);
    StatusSetSpin();
    Bool result = FALSE;
    {
      MddExportJob job;
      result = job.Run(doc);
    }
    GeShowMouse(MOUSE_NORMAL);
    StatusClear();
    EventAdd();
    return result;
  }
  LONG GetState(BaseDocument* doc) override {
    const BaseObject* op = doc ? doc->GetActiveObject() : nullptr;
    return op && op->IsInstanceOf(Opoint) ? CMD_ENABLED : 0;
  }
};

CommandData* AllocMddXpPlugin() { return gNew MddXpPlugin; }

}  // namespace

Bool RegisterMddXpPlugin() {
  return RegisterCommandFromResource(ID_MDDXP_PLUGIN, IDS_MDDEXPORT_NAME, IDS_MDDEXPORT_HELP, "mdd_xp.tif",
                                     AllocMddXpPlugin);
}
