// The MDD import command: reads an MDD point cache (layout: mddformat.h) onto the active
// point object as keys of its point-level animation track, as one undo step. Each frame
// block is converted straight into its key's point array.
#include <algorithm>
#include <atomic>
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

// Makes the new point arrays of the keys present before the conversion writes them:
// the system clears every new page at its first write, which costs two to three times
// the conversion, and pages made present in one go cost less than a fault each. A
// worker thread goes through the arrays the track reserved, in key order, while the
// import fills the keys; an array the worker has not started yet the import makes
// present itself (with one thread, KELVANE_THREADS=1, every one), and the worker goes
// on after it. Pre-faulting never changes what memory holds, so the worker may still be
// at an array the import is writing. Arrays below the allocator's own-pages size come
// from its heap and are left alone.
class KeyPrefault {
 public:
  KeyPrefault() = default;
  KeyPrefault(const KeyPrefault&) = delete;
  KeyPrefault& operator=(const KeyPrefault&) = delete;
  ~KeyPrefault() { Stop(); }

  static Bool WorthIt(VLONG bytes) { return bytes >= kFrom; }
  // The worker over arrays[0 .. count-1] of bytes each (the arrays must stay valid until
  // Stop); without a thread for it, Ready does it all.
  void Start(Vector* const* arrays, LONG count, VLONG bytes, LONG threads) {
    m_ppArrays = arrays;
    m_count = count;
    m_bytes = bytes;
    if (threads < 2 || count < 2) return;
    m_pJob = BackgroundJob::Alloc();
    if (m_pJob && !m_pJob->Start(Run, this)) BackgroundJob::Free(m_pJob);
  }
  // Before key k is written to points: makes points present unless the worker has taken
  // it on already.
  void Ready(LONG k, Vector* points, VLONG bytes) {
    if (!WorthIt(bytes)) return;
    if (k < m_count && points == m_ppArrays[k]) {
      LONG next = m_next.load();
      while (next <= k && !m_next.compare_exchange_weak(next, k + 1)) {
      }
      if (next > k) return;  // the worker's
    }
    GePrefaultMemory(points, bytes);
  }
  void Stop() {
    m_stop = true;
    BackgroundJob::Free(m_pJob);
  }

 private:
  static constexpr VLONG kFrom = VLONG{1} << 20;
  static void Run(void* data) {
    auto* self = static_cast<KeyPrefault*>(data);
    for (LONG k = self->m_next++; k < self->m_count && !self->m_stop; k = self->m_next++)
      GePrefaultMemory(self->m_ppArrays[k], self->m_bytes);
  }

  Vector* const* m_ppArrays = nullptr;
  LONG m_count = 0;
  VLONG m_bytes = 0;
  std::atomic<LONG> m_next{0};  // the first array nobody has taken on
  std::atomic<bool> m_stop{false};
  BackgroundJob* m_pJob = nullptr;
};

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
  // Key k at ktime holding the frame block in m_pVerts, converted into the key.
  Bool AddPlaKey(LONG k, Real ktime);
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
  KeyPrefault m_prefault;
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

  // A large cache's key arrays are reserved up front, to be made present ahead of the
  // conversion; the ones a short read leaves over are freed again.
  const VLONG bytes = VLONG(m_numVerts) * VLONG(sizeof(Vector));
  Vector** arrays = KeyPrefault::WorthIt(bytes) ? bNew(Vector*, keys) : nullptr;
  if (arrays && m_pPlaTrack->ReserveKeyPoints(keys, m_numVerts, arrays))
    m_prefault.Start(arrays, keys, bytes, GeGetWorkerThreadCount());
  Bool added = TRUE;
  for (LONG i = 0; added && i < keys; ++i) {
    if (!m_pVerts->Read(m_pMddFile)) break;
    const Real ktime = m_pFrameTimes[timeIndex(i)] + m_offset;
    added = AddPlaKey(i, ktime);
  }
  m_prefault.Stop();
  m_pPlaTrack->ReserveKeyPoints(0, m_numVerts);
  bDelete(arrays);
  if (!added) GePrint(String("looping AddPlaKey(ktime)"));
  return added;
}

// The key's points are written straight from the frame block, not through the object:
// no document evaluation or redraw per key (the points are replaced whole, so playing
// the other keys first would change nothing). The object takes its points from the
// keys when the time is restored.
Bool MddImportJob::AddPlaKey(LONG k, Real ktime) {
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
  m_prefault.Ready(k, points, VLONG(m_numVerts) * VLONG(sizeof(Vector)));
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
