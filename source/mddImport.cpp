// The MDD import command: reads an MDD point cache (layout: mddformat.h) onto the active
// point object as keys of its point-level animation track, as one undo step. Each frame
// block is converted straight into its key's point array.
#include <algorithm>
#include <cmath>
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

// The key's time in frames at rate r. File times are single floats: a time within
// their precision of a whole frame is that frame, so that keys of a cache sampled on
// frames lie on the frames.
Real KeyFrames(Real seconds, Real r) {
  const Real frames = seconds * r;
  const Real whole = std::round(frames);
  return std::fabs(frames - whole) <= 1e-6 * std::max<Real>(1.0, std::fabs(frames)) ? whole : frames;
}

class MddImportJob {
 public:
  ~MddImportJob() {
    gantryBinFile::Free(m_pMddFile);
    bDelete(m_pFrameTimes);
    mdd::FrameBlock::Free(m_pVerts);
  }
  Bool Run(BaseDocument* doc);

 private:
  // Opens the file and checks it against the object; false when the run stops here.
  Bool OpenCache();
  // Track, curve, times and keys inside the undo group.
  Bool ImportKeys();
  // A key at ktime holding the frame block in m_pVerts, converted into the key.
  Bool AddPlaKey(Real ktime);
  Real StartOffset() const;
  void RestoreTime();

  MddImportOptions m_opts;
  BaseDocument* m_pDoc = nullptr;
  BaseObject* m_pObject = nullptr;
  LONG m_pointCount = 0;
  Matrix m_inverse;
  Filename m_file;
  gantryBinFile* m_pMddFile = nullptr;
  CTrack* m_pPlaTrack = nullptr;
  CCurve* m_pPlaCurve = nullptr;
  mdd::Info m_info;
  LONG m_numFrames = 0;
  LONG m_numVerts = 0;
  Real* m_pFrameTimes = nullptr;
  mdd::FrameBlock* m_pVerts = nullptr;
  LONG m_fps = 30;
  LONG m_startFrame = 0;
  Real m_offset = 0.0;
};

Bool MddImportJob::Run(BaseDocument* doc) {
  m_pDoc = doc;
  m_pObject = doc->GetActiveObject();
  if (!m_pObject || !m_pObject->IsInstanceOf(Opoint)) {
    GePrint(String("not a Point Object"));
    return FALSE;
  }
  m_pointCount = ToPoint(m_pObject)->GetPointCount();
  // The export writes points through the object's global matrix: its inverse gives the
  // object its own points back.
  m_inverse = !m_pObject->GetMg();

  m_file = doc->GetDocumentPath();
  const String title("Select .mdd File");
  if (!m_file.FileSelect(FILESELECTTYPE_SCENES, FILESELECT_LOAD, &title)) return FALSE;

  m_opts.document = doc;
  if (!m_opts.Load()) {
    GePrint(String("Kelvane: the MDD import settings cannot be had from the host's settings."));
    return FALSE;
  }
  MddMpOptsDialog dialog(&m_opts);
  const Bool confirmed = dialog.Open();
  if (!dialog.WasShown()) {
    GePrint(String("Kelvane: The MDD import options dialog could not be opened."));
    return FALSE;
  }
  if (!confirmed || !OpenCache()) return FALSE;

  m_fps = std::max<LONG>(doc->GetFps(), 1);
  m_startFrame = MddFrameOf(doc->GetTime(), m_fps);
  doc->StartUndo();
  doc->AddUndo(UNDOTYPE_CHANGE, m_pObject);
  const Bool imported = ImportKeys();
  m_pMddFile->Close();
  RestoreTime();
  doc->EndUndo();
  return imported;
}

Bool MddImportJob::OpenCache() {
  m_pMddFile = gantryBinFile::Alloc();
  if (!m_pMddFile) {
    GePrint(String("gantryBinFile::Alloc()"));
    return FALSE;
  }
  if (m_pMddFile->Open(m_file, BINFILE_READ, BINFILE_BUFFERSIZE) != 0) {
    GePrint(String("m_pMddFile->Open(") + m_file.GetString() + String(")"));
    return FALSE;
  }
  String problem, warning;
  if (!mdd::ReadHeader(m_pMddFile, m_file, &m_info, &problem, &warning)) {
    GePrint(problem);
    return FALSE;
  }
  m_numFrames = m_info.frames;
  m_numVerts = m_info.points;
  if (m_numVerts != m_pointCount) {
    MessageDialog(String("The Point Count of the selected mesh object [") + LongToString(m_pointCount) +
                  String("]\nDoes not match the Point Count in the .mdd file[") + LongToString(m_numVerts) +
                  String("]\nOperation Aborted."));
    return FALSE;
  }
  if (warning.Content()) GePrint(warning);
  m_pFrameTimes = bNew(Real, m_numFrames);
  if (!m_pFrameTimes) {
    GePrint(String("m_pFrameTimes Alloc()"));
    return FALSE;
  }
  m_pVerts = mdd::FrameBlock::Alloc(m_numVerts);
  if (!m_pVerts) {
    GePrint(String("m_pVerts Alloc()"));
    return FALSE;
  }
  return TRUE;
}

Real MddImportJob::StartOffset() const {
  switch (m_opts.startMode) {
    case 1:
      return Real(m_startFrame) / Real(m_fps);
    case 2:
      return Real(m_opts.startFrame) / Real(m_fps);
    case 3: {
      const LONG keys = m_pPlaCurve->GetKeyCount();
      return keys > 0 ? m_pPlaCurve->GetKey(keys - 1)->GetTime().Get() : 0.0;
    }
    default:
      return 0.0;
  }
}

Bool MddImportJob::ImportKeys() {
  BaseDocument* doc = m_pDoc;
  const DescID plaId(DescLevel(CTpla, CTpla, 0));
  m_pPlaTrack = m_pObject->FindCTrack(plaId);
  if (!m_pPlaTrack) {
    m_pPlaTrack = CTrack::Alloc(m_pObject, plaId);
    if (!m_pPlaTrack) {
      GePrint(String("m_pPlaTrack Alloc()"));
      return FALSE;
    }
    m_pObject->InsertTrackSorted(m_pPlaTrack);
    doc->AddUndo(UNDOTYPE_NEW, m_pPlaTrack);
  }
  m_pPlaCurve = m_pPlaTrack->GetCurve(CCURVE_CURVE, TRUE);
  if (!m_pPlaCurve) {
    GePrint(String("m_pPlaCurve Alloc()"));
    return FALSE;
  }
  if (m_opts.replaceKeys) m_pPlaCurve->FlushKeys();
  if (!mdd::ReadTimes(m_pMddFile, m_info, m_pFrameTimes)) {
    GePrint(String("m_pMddFile->ReadFloats(m_pFrameTimes, m_numFrames)"));
    return FALSE;
  }
  m_offset = StartOffset();

  // Block i of the file gets time index i, or F - 1 - i reversed; only whole blocks count.
  const LONG keys = m_info.wholeFrames;
  auto timeIndex = [&](LONG i) { return m_opts.reverse ? m_numFrames - 1 - i : i; };
  Real end = m_pFrameTimes[timeIndex(0)];
  for (LONG i = 1; i < keys; ++i) end = std::max(end, m_pFrameTimes[timeIndex(i)]);
  end += m_offset;
  const Real r = Real(m_fps);
  const BaseTime endTime(KeyFrames(end, r), r);
  if (endTime > doc->GetMaxTime()) doc->SetMaxTime(endTime);
  if (endTime > doc->GetLoopMaxTime()) doc->SetLoopMaxTime(endTime);

  Bool added = TRUE;
  for (LONG i = 0; added && i < keys; ++i) {
    if (!m_pVerts->Read(m_pMddFile)) break;
    const Real ktime = m_pFrameTimes[timeIndex(i)] + m_offset;
    added = AddPlaKey(ktime);
  }
  if (!added) GePrint(String("looping AddPlaKey(ktime)"));
  return added;
}

// The key's points are written straight from the frame block, not through the object:
// no document evaluation or redraw per key (the points are replaced whole, so playing
// the other keys first would change nothing). The object takes its points from the
// keys when the time is restored.
Bool MddImportJob::AddPlaKey(Real ktime) {
  const Real r = Real(m_fps);
  const BaseTime time(KeyFrames(ktime, r), r);
  LONG index = 0;
  CKey* key = m_pPlaCurve->FindKey(time, &index, FINDANIM_EXACT);
  if (!key) {
    key = m_pPlaCurve->AddKey(time, &index);
    if (!key) return FALSE;
    m_pDoc->AddUndo(UNDOTYPE_NEW, key);
  }
  m_pPlaCurve->SetKeyDefault(m_pDoc, index);
  Vector* points = m_pPlaTrack->AllocKeyPoints(key, m_numVerts);
  if (!points) return FALSE;
  m_pVerts->GetAll(points, m_inverse, m_opts.Factor());
  return TRUE;
}

void MddImportJob::RestoreTime() {
  BaseDocument* doc = m_pDoc;
  StopAllThreads();
  doc->SetTime(BaseTime(Real(m_startFrame), Real(doc->GetFps())));
  doc->ExecutePasses(nullptr, TRUE, TRUE, TRUE, 0);
  m_pObject->Message(MSG_UPDATE);
  EventAdd();
  DrawViews(kDrawFlags);
}

class MddMpPlugin : public CommandData {
 public:
  Bool Execute(BaseDocument* doc) override {
    if (!doc) return FALSE;
    GeShowMouse(MOUSE_BUSY);
    StatusSetSpin();
    Bool result = FALSE;
    {
      MddImportJob job;
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

CommandData* AllocMddMpPlugin() { return gNew MddMpPlugin; }

}  // namespace

Bool RegisterMddMpPlugin() {
  return RegisterCommandFromResource(ID_MDDMP_PLUGIN, IDS_MDDIMPORT_NAME, IDS_MDDIMPORT_HELP, "mdd_mp.tif",
                                     AllocMddMpPlugin);
}
