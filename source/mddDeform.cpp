// The MDD deformer: plays a point cache back on the point object it sits under, blending
// the two cached frames that enclose the document time.
//
// The cache file stays open while the deformer holds a cache, so a change of frame pair
// costs two seeks and two block reads; a frame the deformer already holds (the right
// frame when the time moves on by one frame) is kept, not read again. The file's time,
// size and identity are looked at on every evaluation: a cache rewritten or replaced on disk is
// loaded again from its header. Each deformer owns its file object and buffers; one lock
// per deformer keeps its state whole when the host evaluates it for several objects.
#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>

#include "binfile.h"
#include "c4d_symbols.h"
#include "compat.h"
#include "main.h"
#include "mddformat.h"
#include "plugin_ids.h"
#include "registration.h"

namespace {

constexpr LONG kPlayNone = 0;
constexpr LONG kPlayLoop = 2;
constexpr LONG kUnseenFrame = -100000;
constexpr Real kUnseenTime = -100000.0;
constexpr LONG kBreakInterval = 64;
constexpr LLONG kMaxFrameBuffer = 256LL << 20;

const CHAR* const kNoFile = "no file loaded";
const CHAR* const kLabel = "user label/info (for keyframe/clip labeling)";

String Text(const std::string& s) { return String(s.c_str()); }

// What tells one state of a cache file from another: its time and size, and which file
// the name leads to (a file replaced by another has another identity). All zero when
// there is no such file.
struct CacheStamp {
  LocalFileTime time;
  FileIdentity id;
  bool operator==(const CacheStamp& o) const { return time == o.time && id == o.id; }
  bool operator!=(const CacheStamp& o) const { return !(*this == o); }
};

CacheStamp StampOf(const Filename& name) {
  CacheStamp stamp;
  if (!GeGetFileTime(name, GE_FILETIME_MODIFIED, &stamp.time) || !GeFGetIdentity(name, &stamp.id)) return CacheStamp();
  return stamp;
}
std::string Path(const Filename& name) { return name.GetString().Std(); }

class MddDeformer : public ObjectData {
 public:
  static NodeData* Alloc();
  ~MddDeformer() override;

  Bool Init(GeListNode* node) override;
  Bool Message(GeListNode* node, LONG type, void* data) override;
  void GetDimension(BaseObject* op, Vector* mp, Vector* rad) override;
  Bool GetDParameter(GeListNode* node, const DescID& id, GeData& t_data, DESCFLAGS_GET& flags) override;
  Bool SetDParameter(GeListNode* node, const DescID& id, const GeData& t_data, DESCFLAGS_SET& flags) override;
  void CheckDirty(BaseObject* op, BaseDocument* doc) override;
  Bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& op_mg, const Matrix& mod_mg,
                    Real lod, LONG flags, BaseThread* thread) override;

 private:
  MddDeformer() = default;

  void Unload(BaseContainer* bc);
  // Opens the cache (kept open until Unload) and reads its header and time table.
  Bool LoadHeader(BaseContainer* bc, LONG points);
  // Whether the cache on disk is still the one whose header was read.
  Bool CacheUnchanged() const;
  // Start and end index within the file's whole frames, end not below start.
  void ClampIndices();
  // Reads frame k into dst unless it is already held (then it is moved there).
  // Reads frame block k of the open cache into dst; on failure the file is closed.
  Bool ReadFrame(LONG k, Vector* dst);
  Bool Evaluate(BaseContainer* bc, Real x, LONG f, LONG points);

  Filename cacheFileName;
  gantryBinFile* m_pMddFile = nullptr;
  mdd::FrameBlock* m_pBlock = nullptr;  // one frame as the file holds it
  CacheStamp m_fileStamp;
  Filename m_failedName;  // the cache last refused, as it was then, and for how many points
  CacheStamp m_failedStamp;
  LONG m_failedPoints = 0;
  LONG m_bufferSize = BINFILE_BUFFERSIZE;  // of the open file: one frame, at most 256 MiB
  LONG m_numFrames = 1;   // whole frames the file holds (at most its header's count)
  LONG m_numVerts = 0;
  LONG m_headerFrames = 0;  // frames the header promises: the time table's length
  Real* m_pFrameTimes = nullptr;
  Vector* m_pVertsLft = nullptr;
  Vector* m_pVertsRgt = nullptr;
  Vector* m_pCurrVerts = nullptr;
  LONG leftIndex = -1, rightIndex = -1;
  Real leftTime = 0.0, rightTime = 0.0;
  LONG startIndex = 0, endIndex = 0, startFrame = kUnseenFrame, playMode = kPlayNone;
  LONG seenStartIndex = -1, seenEndIndex = -1;  // 1006 and 1007 as last read
  LONG frameRate = 30;
  Real lastTime = kUnseenTime;
  LONG lastFrame = kUnseenFrame;
  Real appliedScale = 1.0;
  Bool refreshRequested = TRUE;
  Bool framesLoaded = FALSE;
  Bool keepIndices = FALSE;  // the next header load keeps 1006 / 1007 (clamped)
  Bool endAtLast = FALSE;    // ... but puts the end index at the last frame
  BaseTime lastSeenTime = BaseTime(0.0, 1.0);
  std::mutex m_lock;
};

NodeData* MddDeformer::Alloc() {
  MddDeformer* deformer = gNew MddDeformer;
  if (!deformer) return nullptr;
  deformer->m_pMddFile = gantryBinFile::Alloc();
  if (!deformer->m_pMddFile) {
    GePrint(String("gantryBinFile::Alloc() Failed"));
    gDelete(deformer);
    return nullptr;
  }
  return deformer;
}

MddDeformer::~MddDeformer() {
  Unload(nullptr);
  gantryBinFile::Free(m_pMddFile);
}

Bool MddDeformer::Init(GeListNode* node) {
  BaseContainer* bc = static_cast<BaseList2D*>(node)->GetDataInstance();
  bc->SetString(MDDDEFORM_LABEL, String(kLabel));
  bc->SetLong(MDDDEFORM_SCALE, 1000);
  bc->SetLong(MDDDEFORM_START_FRAME, 0);
  bc->SetLong(MDDDEFORM_START_INDEX, 0);
  bc->SetLong(MDDDEFORM_END_INDEX, 0);
  bc->SetString(MDDDEFORM_INFO, String(kNoFile));
  return TRUE;
}

void MddDeformer::Unload(BaseContainer* bc) {
  if (m_pMddFile && m_pMddFile->IsOpen()) m_pMddFile->Close();
  mdd::FrameBlock::Free(m_pBlock);
  bDelete(m_pFrameTimes);
  bDelete(m_pVertsLft);
  bDelete(m_pVertsRgt);
  bDelete(m_pCurrVerts);
  m_numVerts = 0;
  m_numFrames = 1;
  leftIndex = rightIndex = -1;
  framesLoaded = FALSE;
  cacheFileName = Filename();
  m_fileStamp = CacheStamp();
  if (bc) bc->SetString(MDDDEFORM_INFO, String(kNoFile));
}

Bool MddDeformer::CacheUnchanged() const {
  const CacheStamp now = StampOf(cacheFileName);
  return now.time.year != 0 && now == m_fileStamp;
}

void MddDeformer::ClampIndices() {
  const LONG last = m_numFrames - 1;
  if (startIndex < 0) startIndex = 0;
  if (startIndex > last) startIndex = last;
  if (endIndex > last) endIndex = last;
  if (endIndex < startIndex) endIndex = startIndex;
}

Bool MddDeformer::LoadHeader(BaseContainer* bc, LONG points) {
  framesLoaded = FALSE;
  if (m_pMddFile->IsOpen()) m_pMddFile->Close();
  m_fileStamp = StampOf(cacheFileName);
  if (m_pMddFile->Open(cacheFileName, BINFILE_READ, BINFILE_BUFFERSIZE) != 0) {
    GePrint(Text("m_pMddFile->Open(" + Path(cacheFileName) + ") Failed."));
    return FALSE;
  }
  mdd::Info info;
  String problem, warning;
  if (!mdd::ReadHeader(m_pMddFile, cacheFileName, &info, &problem, &warning)) {
    bc->SetString(MDDDEFORM_INFO, problem);
    GePrint(problem);
    m_pMddFile->Close();
    return FALSE;
  }
  if (info.points != points) {
    bc->SetString(MDDDEFORM_INFO, Text("*** Points-count Error *** - Object: " + std::to_string(points) +
                                       "  File: " + std::to_string(info.points)));
    m_pMddFile->Close();
    return FALSE;
  }
  if (warning.Content()) GePrint(warning);
  m_numVerts = info.points;
  m_numFrames = info.wholeFrames;
  m_headerFrames = info.frames;
  leftIndex = rightIndex = -1;
  bDelete(m_pFrameTimes);
  m_pFrameTimes = bNew(Real, info.frames);
  if (!m_pFrameTimes) {
    GePrint(String("m_pFrameTimes Alloc() Failed"));
    m_pMddFile->Close();
    return FALSE;
  }
  if (!mdd::ReadTimes(m_pMddFile, info, m_pFrameTimes)) {
    GePrint(String("m_pMddFile->ReadReals(m_pFrameTimes, m_numFrames) Failed"));
    bDelete(m_pFrameTimes);
    m_pMddFile->Close();
    return FALSE;
  }
  // Frames are read a block at a time: a buffer of one frame keeps a change of pair from
  // reading more than its two blocks (very large frames take several loads).
  const LLONG frameBytes = mdd::FrameBytes(points);
  m_bufferSize = LONG(frameBytes < kMaxFrameBuffer ? frameBytes : kMaxFrameBuffer);
  if (m_bufferSize != BINFILE_BUFFERSIZE) {
    m_pMddFile->Close();
    if (m_pMddFile->Open(cacheFileName, BINFILE_READ, m_bufferSize) != 0) {
      GePrint(Text("m_pMddFile->Open(" + Path(cacheFileName) + ") Failed."));
      bDelete(m_pFrameTimes);
      return FALSE;
    }
  }
  // A fresh deformer or a new file plays the whole cache; a deformer loaded from a
  // scene (or a cache reloaded after it changed on disk) keeps its range.
  if (keepIndices) {
    startIndex = bc->GetLong(MDDDEFORM_START_INDEX);
    endIndex = endAtLast ? m_numFrames - 1 : bc->GetLong(MDDDEFORM_END_INDEX);
    ClampIndices();
  } else {
    startIndex = 0;
    endIndex = m_numFrames - 1;
  }
  bc->SetLong(MDDDEFORM_START_INDEX, startIndex);
  bc->SetLong(MDDDEFORM_END_INDEX, endIndex);
  const Real total = std::fabs(m_pFrameTimes[m_numFrames - 1] - m_pFrameTimes[0]) * 1000.0;
  bc->SetString(MDDDEFORM_INFO, Text("Points: " + std::to_string(info.points) + " Keys: " +
                                     std::to_string(info.frames) + " Total Time: ") +
                                    FormatElapsed(total, TRUE));

  struct Buffer {
    Vector** array;
    const CHAR* line;
  } buffers[] = {{&m_pVertsLft, "m_pVertsLft Alloc() Failed"},
                 {&m_pVertsRgt, "m_pVertsRgt Alloc() Failed"},
                 {&m_pCurrVerts, "m_pCurrVerts Alloc() Failed"}};
  for (Buffer& b : buffers) {
    bDelete(*b.array);
    *b.array = static_cast<Vector*>(GeAlloc(VLONG(sizeof(Vector)) * VLONG(points)));
    if (!*b.array) {
      GePrint(String(b.line));
      m_pMddFile->Close();
      return FALSE;
    }
  }
  mdd::FrameBlock::Free(m_pBlock);
  m_pBlock = mdd::FrameBlock::Alloc(points);
  if (!m_pBlock) {
    GePrint(String("m_pBlock Alloc() Failed"));
    m_pMddFile->Close();
    return FALSE;
  }
  return TRUE;
}

Bool MddDeformer::ReadFrame(LONG k, Vector* dst) {
  if (!m_pMddFile->IsOpen() && m_pMddFile->Open(cacheFileName, BINFILE_READ, m_bufferSize) != 0) {
    GePrint(Text("m_pMddFile->Open(" + Path(cacheFileName) + ") Failed."));
    return FALSE;
  }
  if (!m_pMddFile->SetFilePos(mdd::FrameOffset(m_headerFrames, m_numVerts, k))) {
    GePrint(String("m_pMddFile->SetFilePos(fOffset) Failed"));
    m_pMddFile->Close();
    return FALSE;
  }
  if (!m_pBlock->Read(m_pMddFile)) {
    GePrint(Text(std::string("m_pMddFile->ReadVectors(") + (dst == m_pVertsLft ? "m_pVertsLft" : "m_pVertsRgt") +
                 ", m_numVerts) Failed"));
    m_pMddFile->Close();
    return FALSE;
  }
  m_pBlock->GetAll(dst);
  return TRUE;
}

Bool MddDeformer::Evaluate(BaseContainer* bc, Real x, LONG f, LONG points) {
  if (!m_pFrameTimes || !m_pVertsLft || !m_pVertsRgt || !m_pCurrVerts) {
    // A cache that was refused is tried again only when it changed on disk or the
    // object's point count did: not read and reported at every frame.
    const CacheStamp stamp = StampOf(cacheFileName);
    if (m_failedName == cacheFileName && m_failedStamp == stamp && m_failedPoints == points) return FALSE;
    const Bool loaded = LoadHeader(bc, points);
    endAtLast = FALSE;
    if (!loaded) {
      m_failedName = cacheFileName;
      m_failedStamp = stamp;
      m_failedPoints = points;
      return FALSE;
    }
    m_failedName = Filename();
  }
  ClampIndices();
  const Real* time = m_pFrameTimes;
  const Real tS = time[startIndex], tE = time[endIndex], span = tE - tS;
  Real t = x - (Real(startFrame) / Real(frameRate) - tS);
  bc->SetString(MDDDEFORM_START_TIME, FormatElapsed(tS * 1000.0, FALSE));
  bc->SetString(MDDDEFORM_END_TIME, FormatElapsed(tE * 1000.0, FALSE));

  LONG L = -1, R = -1;
  if (playMode == kPlayNone) {
    if (t > tE || t < tS) return FALSE;
  } else if (playMode == kPlayLoop && span > 0.0) {
    t = std::fmod(t - tS, span) + tS;
    if (t < tS) t += span;
  } else {
    // Hold, and a loop over a single frame, which holds that frame.
    if (t >= tE) L = R = endIndex;
    else if (t <= tS) L = R = startIndex;
  }
  if (L < 0) {
    L = startIndex;
    while (L + 1 < m_numFrames && t >= time[L + 1]) ++L;
    R = L + 1 < m_numFrames ? L + 1 : L;
  }

  if (!framesLoaded || L != leftIndex || R != rightIndex) {
    framesLoaded = FALSE;
    // Frames already held are moved, not read again: one step forwards makes the old
    // right frame the new left one.
    if (L == rightIndex && rightIndex >= 0) {
      Vector* held = m_pVertsLft;
      m_pVertsLft = m_pVertsRgt;
      m_pVertsRgt = held;
      std::swap(leftIndex, rightIndex);
    } else if (R == leftIndex && leftIndex >= 0) {
      Vector* held = m_pVertsRgt;
      m_pVertsRgt = m_pVertsLft;
      m_pVertsLft = held;
      std::swap(leftIndex, rightIndex);
    }
    if (leftIndex != L) {
      leftIndex = -1;
      if (!ReadFrame(L, m_pVertsLft)) return FALSE;
      leftIndex = L;
    }
    if (rightIndex != R) {
      rightIndex = -1;
      if (R == L) {
        std::copy(m_pVertsLft, m_pVertsLft + m_numVerts, m_pVertsRgt);
      } else if (!ReadFrame(R, m_pVertsRgt)) {
        return FALSE;
      }
      rightIndex = R;
    }
    leftTime = time[L];
    rightTime = time[R];
    framesLoaded = TRUE;
  }

  lastTime = x;
  lastFrame = f;
  const Real w = (R == L || rightTime == leftTime) ? 0.0 : (t - leftTime) / (rightTime - leftTime);
  for (LONG i = 0; i < m_numVerts; ++i) m_pCurrVerts[i] = w * m_pVertsRgt[i] + (1.0 - w) * m_pVertsLft[i];
  return TRUE;
}

// --- host callbacks -----------------------------------------------------------------------

Bool MddDeformer::Message(GeListNode* node, LONG type, void* data) {
  auto* op = static_cast<BaseObject*>(node);
  switch (type) {
    case MSG_DESCRIPTION_COMMAND: {
      const auto* dc = static_cast<const DescriptionCommand*>(data);
      BaseDocument* doc = node->GetDocument();
      if (dc && dc->id[0].id == MDDDEFORM_RECORD && doc) {
        op->GetDataInstance()->SetLong(MDDDEFORM_START_FRAME, doc->GetTime().GetFrame(doc->GetFps()));
        std::lock_guard<std::mutex> lock(m_lock);
        refreshRequested = TRUE;
      }
      break;
    }
    case MSG_DESCRIPTION_VALIDATE: {
      BaseContainer* bc = op->GetDataInstance();
      if (BaseDocument* doc = node->GetDocument()) {
        const LONG fps = doc->GetFps();
        const LONG lo = doc->GetMinTime().GetFrame(fps), hi = doc->GetMaxTime().GetFrame(fps);
        const LONG frame = bc->GetLong(MDDDEFORM_START_FRAME);
        bc->SetLong(MDDDEFORM_START_FRAME, frame < lo ? lo : (frame > hi ? hi : frame));
      }
      std::lock_guard<std::mutex> lock(m_lock);
      const LONG last = m_numFrames - 1;
      LONG s = bc->GetLong(MDDDEFORM_START_INDEX), e = bc->GetLong(MDDDEFORM_END_INDEX);
      s = s < 0 ? 0 : (s > last ? last : s);
      e = e < 0 ? 0 : (e > last ? last : e);
      if (e < s) e = s;
      bc->SetLong(MDDDEFORM_START_INDEX, s);
      bc->SetLong(MDDDEFORM_END_INDEX, e);
      break;
    }
    case MSG_MENUPREPARE:
      op->SetDeformMode(TRUE);
      break;
    case MSG_DESCRIPTION_GETBITMAP: {
      auto* dgb = static_cast<DescriptionGetBitmap*>(data);
      if (dgb && dgb->id && (*dgb->id)[0].id == MDDDEFORM_RECORD && dgb->bmp) {
        Filename image = GeGetPluginPath() + Filename("res");
        image += Filename("record_key.tif");
        dgb->bmp->Init(image);
      }
      break;
    }
    default:
      break;
  }
  return ObjectData::Message(node, type, data);
}

void MddDeformer::GetDimension(BaseObject*, Vector* mp, Vector* rad) {
  if (mp) *mp = Vector();
  if (rad) *rad = Vector();
}

Bool MddDeformer::GetDParameter(GeListNode* node, const DescID& id, GeData& t_data, DESCFLAGS_GET& flags) {
  if (id[0].id == MDDDEFORM_RECORD) {
    const BaseList2D* bl = static_cast<BaseList2D*>(node);
    t_data = GeData(CUSTOMDATATYPE_BITMAPBUTTON,
                    BitmapButtonStruct(static_cast<BaseList2D*>(node), id[0].id, LONG(bl->GetDirty(DIRTYFLAGS_DATA))));
    flags |= DESCFLAGS_GET_PARAM_GET;
  }
  return ObjectData::GetDParameter(node, id, t_data, flags);
}

Bool MddDeformer::SetDParameter(GeListNode* node, const DescID& id, const GeData& t_data, DESCFLAGS_SET& flags) {
  if (id[0].id == MDDDEFORM_RECORD) {
    BaseDocument* doc = node->GetDocument();
    if ((flags & DESCFLAGS_SET_USERINTERACTION) && doc) {
      static_cast<BaseList2D*>(node)->GetDataInstance()->SetLong(MDDDEFORM_START_FRAME,
                                                                 doc->GetTime().GetFrame(doc->GetFps()));
      std::lock_guard<std::mutex> lock(m_lock);
      refreshRequested = TRUE;
    }
    flags |= DESCFLAGS_SET_PARAM_SET;
  }
  return ObjectData::SetDParameter(node, id, t_data, flags);
}

void MddDeformer::CheckDirty(BaseObject* op, BaseDocument* doc) {
  if (!op || !doc) return;
  const BaseTime now = doc->GetTime();
  std::lock_guard<std::mutex> lock(m_lock);
  // A cache rewritten on disk shows at once, even while the time stands still.
  // So does a refused or missing cache that has been mended.
  bool changed = false;
  if (m_pFrameTimes) {
    changed = !CacheUnchanged();
  } else if (m_failedName.Content()) {
    changed = StampOf(m_failedName) != m_failedStamp;
  }
  if (!refreshRequested && !changed && now.Get() == lastSeenTime.Get()) return;
  lastSeenTime = now;
  op->SetDirty(DIRTYFLAGS_DATA);
}

Bool MddDeformer::ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& op_mg,
                               const Matrix& mod_mg, Real, LONG, BaseThread* thread) {
  std::lock_guard<std::mutex> lock(m_lock);
  refreshRequested = FALSE;
  if (!mod || !doc || !op || !op->IsInstanceOf(Opoint)) return TRUE;
  auto* pop = static_cast<PointObject*>(op);
  const LONG points = pop->GetPointCount();
  if (points <= 0) return TRUE;
  BaseContainer* bc = mod->GetDataInstance();

  Bool needRead = !framesLoaded;
  const Real scale = Real(bc->GetLong(MDDDEFORM_SCALE));
  const Filename file = bc->GetFilename(MDDDEFORM_FILE);
  if (!file.Content()) {
    if (cacheFileName.Content() || m_pFrameTimes) Unload(bc);
    keepIndices = FALSE;
    return TRUE;
  }
  if (file.GetString() != cacheFileName.GetString()) {
    // Another file plays from its first to its last frame; the first file of a deformer
    // loaded from a scene keeps the scene's range.
    keepIndices = !cacheFileName.Content() && bc->GetLong(MDDDEFORM_END_INDEX) > 0;
    endAtLast = FALSE;
    Unload(bc);
    cacheFileName = file;
    needRead = TRUE;
  } else if (points != m_numVerts || (m_pFrameTimes && !CacheUnchanged())) {
    // The same file again: its range stays, and one that reached the last frame still
    // does when the file now holds more or fewer frames.
    keepIndices = m_pFrameTimes != nullptr;
    endAtLast = keepIndices && bc->GetLong(MDDDEFORM_END_INDEX) >= m_numFrames - 1;
    Unload(bc);
    cacheFileName = file;
    needRead = TRUE;
  }

  const BaseTime now = doc->GetTime();
  const Real x = now.Get();
  frameRate = doc->GetFps() > 0 ? doc->GetFps() : 30;
  const LONG f = now.GetFrame(frameRate);
  if (std::fabs(x - lastTime) >= 0.0001) needRead = TRUE;
  const LONG s = bc->GetLong(MDDDEFORM_START_INDEX), e = bc->GetLong(MDDDEFORM_END_INDEX);
  const LONG sf = bc->GetLong(MDDDEFORM_START_FRAME);
  // Compared as set: the indices in use may have been brought within the cache.
  if (s != seenStartIndex || e != seenEndIndex || sf != startFrame) {
    startIndex = seenStartIndex = s;
    endIndex = seenEndIndex = e;
    startFrame = sf;
    needRead = TRUE;
  }
  const LONG mode = bc->GetLong(MDDDEFORM_PLAY_MODE);
  Bool evaluate = needRead || !framesLoaded || !m_pFrameTimes;
  if (mode != playMode) {
    playMode = mode;
    evaluate = TRUE;
  }
  if (evaluate && !Evaluate(bc, x, f, points)) return TRUE;
  if (!m_pCurrVerts || m_numVerts != points) return TRUE;

  const Matrix m = !(!mod_mg * op_mg);
  Vector* p = pop->GetPointW();
  for (LONG i = 0; i < points; ++i) {
    if (i % kBreakInterval == 0 && thread && thread->TestBreak()) {
      // Stopped part-way: the next pass has to deform again, even at this time.
      refreshRequested = TRUE;
      break;
    }
    p[i] = m * (scale * m_pCurrVerts[i]);
  }
  appliedScale = scale;
  op->Message(MSG_UPDATE);
  return TRUE;
}

}  // namespace

Bool RegisterMddDeformer() {
  return RegisterObjectPlugin(ID_MDD_DEFORMER, GeLoadString(IDS_MDDDEFORMER_NAME), OBJECT_MODIFIER,
                              MddDeformer::Alloc, String("Omdddeformer"), AutoBitmap("mdd_deform.tif"), 0);
}
