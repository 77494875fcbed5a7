// Tracks, curves and keys: the node's sorted track list, keys kept in time order, key
// copies for undo and clones, and playing a track onto its node.
#include <cmath>
#include <cstring>

#include "c4d_memory.h"
#include "c4d_thread.h"
#include "host_control.h"
#include "host_internal.h"
#include "scene_internal.h"

namespace {

// Description IDs sort level by level on their IDs; a shorter ID before its extensions.
int CompareIds(const DescID& a, const DescID& b) {
  const LONG depth = a.GetDepth() < b.GetDepth() ? a.GetDepth() : b.GetDepth();
  for (LONG i = 0; i < depth; ++i) {
    if (a[i].id != b[i].id) return a[i].id < b[i].id ? -1 : 1;
  }
  return a.GetDepth() == b.GetDepth() ? 0 : (a.GetDepth() < b.GetDepth() ? -1 : 1);
}

// Key point arrays from this size on (the allocator's own-pages size) are pre-faulted
// before a copy fills them.
constexpr VLONG kPrefaultKeyFrom = VLONG{1} << 20;

bool IsPlaId(const DescID& id) { return id.GetDepth() == 1 && id[0].id == CTpla; }

// Whether the parameter reads as a number a value track can hold.
bool IsNumber(const GeData& d) { return d.GetType() == DA_REAL || d.GetType() == DA_LONG; }

// The keys around time: *left the last key at or before it (-1: none), *right the first
// key after it (count: none).
void Bracket(const CCurve* curve, Real time, LONG* left, LONG* right) {
  LONG lo = 0, hi = curve->GetKeyCount();
  while (lo < hi) {
    const LONG mid = lo + (hi - lo) / 2;
    if (curve->GetKey(mid)->GetTime().Get() <= time)
      lo = mid + 1;
    else
      hi = mid;
  }
  *left = lo - 1;
  *right = lo;
}

// Where between two keys time lies (0 at a, 1 at b); 0 for step keys or equal times.
Real Weight(const CKey* a, const CKey* b, Real time) {
  if (a->GetInterpolation() == CINTERPOLATION_STEP) return 0.0;
  const Real span = b->GetTime().Get() - a->GetTime().Get();
  return span > 0.0 ? (time - a->GetTime().Get()) / span : 0.0;
}

}  // namespace

// --- the node's track list --------------------------------------------------------------

GeListHead* NodeAccess::TrackHead(BaseList2D* node) {
  if (!node->m_pTracks) {
    node->m_pTracks = GeListHead::Alloc();
    if (node->m_pTracks) node->m_pTracks->SetParent(node);
  }
  return node->m_pTracks;
}

CTrack* BaseList2D::GetFirstCTrack() const {
  return m_pTracks ? static_cast<CTrack*>(m_pTracks->GetFirst()) : nullptr;
}

CTrack* BaseList2D::FindCTrack(const DescID& id) const {
  for (CTrack* track = GetFirstCTrack(); track; track = track->GetNext())
    if (track->GetDescriptionID() == id) return track;
  return nullptr;
}

Bool BaseList2D::InsertTrackSorted(CTrack* track) {
  if (!track) return FALSE;
  GeListHead* head = NodeAccess::TrackHead(this);
  if (!head) return FALSE;
  for (CTrack* t = GetFirstCTrack(); t; t = t->GetNext()) {
    if (t == track) continue;
    if (CompareIds(track->GetDescriptionID(), t->GetDescriptionID()) < 0) {
      track->InsertBefore(t);
      return TRUE;
    }
  }
  head->InsertLast(track);
  return TRUE;
}

// --- CKey -------------------------------------------------------------------------------

CKey::CKey() : BaseList2D(CKbase, CKbase) {}

CKey::~CKey() {
  if (m_pCurve) m_pCurve->Detach(this);
  bDelete(m_pPoints);
}

CTrack* CKey::GetTrack() const { return m_pCurve ? m_pCurve->GetTrack() : nullptr; }

void CKey::SetTime(CCurve* seq, const BaseTime& t) {
  if (!std::isfinite(t.Get())) return;  // would break the curve's order
  (void)seq;  // the key knows its curve; a wrong one handed in must not unsort it
  // Two keys at one time: which plays is undefined, and scene files refuse them.
  if (m_pCurve) {
    const CKey* there = m_pCurve->FindKey(t);
    if (there && there != this) return;
  }
  m_time = t;
  if (m_pCurve) m_pCurve->Resort(m_pCurve->IndexOf(this));
}

void CKey::SetValue(CCurve*, Real v) { m_value = v; }

void CKey::SetInterpolation(CCurve*, LONG inter) {
  if (inter == CINTERPOLATION_LINEAR || inter == CINTERPOLATION_STEP) m_interpolation = inter;
}

BaseList2D* CKey::MakeEmpty() const { return gNew CKey; }

Bool CKey::CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const {
  if (!BaseList2D::CopyContentTo(dst, flags, trn)) return FALSE;
  auto* key = static_cast<CKey*>(dst);
  key->m_time = m_time;
  key->m_value = m_value;
  key->m_interpolation = m_interpolation;
  return NodeAccess::SetKeyPoints(key, m_pPoints, m_pointCount);
}

void CKey::SwapContent(BaseList2D* other) {
  BaseList2D::SwapContent(other);
  auto* key = static_cast<CKey*>(other);
  std::swap(m_time, key->m_time);
  std::swap(m_value, key->m_value);
  std::swap(m_interpolation, key->m_interpolation);
  std::swap(m_pPoints, key->m_pPoints);
  std::swap(m_pointCount, key->m_pointCount);
  if (m_pCurve) m_pCurve->Resort(m_pCurve->IndexOf(this));
  if (key->m_pCurve) key->m_pCurve->Resort(key->m_pCurve->IndexOf(key));
}

bool NodeAccess::SetKeyPoints(CKey* key, const Vector* points, LONG count, bool cleared) {
  if (count < 0) return false;
  Vector* copy = nullptr;
  if (count > 0) {
    // Vectors have member initialisers, so not bNew; zero-filled doubles are fine. An
    // array about to be written whole is not cleared first.
    const bool written = points || !cleared;
    const VLONG bytes = static_cast<VLONG>(count) * static_cast<VLONG>(sizeof(Vector));
    copy = static_cast<Vector*>(written ? GeAllocNC(bytes) : GeAlloc(bytes));
    if (!copy) return false;
    // Blocks this large get new pages: made present in one go, the writing does not stop
    // at every page for the system to clear it.
    if (written && bytes >= kPrefaultKeyFrom) GePrefaultMemory(copy, bytes);
    if (points) std::memcpy(copy, points, static_cast<size_t>(bytes));
  }
  bDelete(key->m_pPoints);
  key->m_pPoints = copy;
  key->m_pointCount = count;
  return true;
}

// --- CCurve -----------------------------------------------------------------------------

CCurve::~CCurve() {
  FlushKeys();
  bDelete(m_ppKeys);
}

bool CCurve::Reserve(LONG count) {
  if (count <= m_capacity) return true;
  LONG capacity = m_capacity ? m_capacity : 8;
  while (capacity < count) capacity = capacity > 0x3FFFFFFF ? count : capacity * 2;
  auto** keys = static_cast<CKey**>(GeRealloc(m_ppKeys, static_cast<VLONG>(capacity) * static_cast<VLONG>(sizeof(CKey*))));
  if (!keys) return false;
  m_ppKeys = keys;
  m_capacity = capacity;
  return true;
}

LONG CCurve::IndexOf(const CKey* key) const {
  for (LONG i = 0; i < m_count; ++i)
    if (m_ppKeys[i] == key) return i;
  return -1;
}

LONG CCurve::UpperBound(Real time) const {
  LONG left = 0, right = 0;
  Bracket(this, time, &left, &right);
  return right;
}

void CCurve::Detach(const CKey* key) {
  const LONG index = IndexOf(key);
  if (index < 0) return;
  std::memmove(m_ppKeys + index, m_ppKeys + index + 1, static_cast<size_t>(m_count - index - 1) * sizeof(CKey*));
  --m_count;
}

void CCurve::Resort(LONG index) {
  if (index < 0 || index >= m_count) return;
  CKey* key = m_ppKeys[index];
  // Bubble the key to its place: only it moved, the others stay in order.
  while (index > 0 && m_ppKeys[index - 1]->GetTime().Get() > key->GetTime().Get()) {
    m_ppKeys[index] = m_ppKeys[index - 1];
    --index;
  }
  while (index + 1 < m_count && m_ppKeys[index + 1]->GetTime().Get() < key->GetTime().Get()) {
    m_ppKeys[index] = m_ppKeys[index + 1];
    ++index;
  }
  m_ppKeys[index] = key;
}

CKey* CCurve::AddKey(const BaseTime& time, LONG* nidx) {
  if (!std::isfinite(time.Get())) return nullptr;
  LONG left = 0, right = 0;
  Bracket(this, time.Get(), &left, &right);
  if (left >= 0 && m_ppKeys[left]->GetTime() == time) {
    if (nidx) *nidx = left;
    return m_ppKeys[left];
  }
  if (!Reserve(m_count + 1)) return nullptr;
  CKey* key = gNew CKey;
  if (!key) return nullptr;
  key->m_time = time;
  key->m_pCurve = this;
  std::memmove(m_ppKeys + right + 1, m_ppKeys + right, static_cast<size_t>(m_count - right) * sizeof(CKey*));
  m_ppKeys[right] = key;
  ++m_count;
  if (nidx) *nidx = right;
  return key;
}

CKey* CCurve::GetKey(LONG index) const { return (index >= 0 && index < m_count) ? m_ppKeys[index] : nullptr; }

CKey* CCurve::FindKey(const BaseTime& time, LONG* nidx, LONG match) const {
  LONG left = 0, right = 0;
  Bracket(this, time.Get(), &left, &right);
  LONG found = -1;
  if (left >= 0 && m_ppKeys[left]->GetTime() == time)
    found = left;
  else if (match == FINDANIM_LEFT)
    found = left;
  else if (match == FINDANIM_RIGHT && right < m_count)
    found = right;
  if (found < 0) return nullptr;
  if (nidx) *nidx = found;
  return m_ppKeys[found];
}

Bool CCurve::DelKey(LONG index) {
  CKey* key = GetKey(index);
  if (!key) return FALSE;
  NodeAccess::Destroy(key);  // the key takes itself out of the array
  return TRUE;
}

void CCurve::FlushKeys() {
  while (m_count > 0) {
    CKey* key = m_ppKeys[--m_count];
    key->m_pCurve = nullptr;
    NodeAccess::Destroy(key);
  }
}

void CCurve::SetKeyDefault(BaseDocument*, LONG kidx) {
  if (CKey* key = GetKey(kidx)) key->m_interpolation = CINTERPOLATION_LINEAR;
}

Real CCurve::GetValue(const BaseTime& time) const {
  if (m_count == 0) return 0.0;
  LONG left = 0, right = 0;
  Bracket(this, time.Get(), &left, &right);
  if (left < 0) return m_ppKeys[0]->GetValue();
  if (right >= m_count) return m_ppKeys[m_count - 1]->GetValue();
  const CKey* a = m_ppKeys[left];
  const CKey* b = m_ppKeys[right];
  const Real w = Weight(a, b, time.Get());
  return a->GetValue() + (b->GetValue() - a->GetValue()) * w;
}

// --- CTrack -----------------------------------------------------------------------------

CTrack::CTrack(LONG type, const DescID& id) : BaseList2D(type, CTbase), m_id(id) {}

CTrack::~CTrack() {
  if (m_pCurve) {
    m_pCurve->~CCurve();
    GeFreeTagged(m_pCurve);
  }
}

CTrack* CTrack::Alloc(BaseList2D* bl, const DescID& id) {
  if (!bl || id.GetDepth() < 1) return nullptr;
  if (IsPlaId(id)) {
    if (!bl->IsInstanceOf(Opoint)) return nullptr;
  } else {
    if (id[0].id == CTpla) return nullptr;
    GeData value;
    if (!bl->GetParameter(id, value, DESCFLAGS_GET_0) || !IsNumber(value)) return nullptr;
  }
  // The node's track list first, so that inserting the track cannot fail later.
  if (!NodeAccess::TrackHead(bl)) return nullptr;
  return gNew CTrack(IsPlaId(id) ? LONG(CTpla) : LONG(CTbase), id);
}

void CTrack::Free(CTrack*& track) {
  NodeAccess::Destroy(track);
  track = nullptr;
}

BaseList2D* CTrack::GetObject() const {
  const GeListHead* head = GetListHead();
  GeListNode* owner = head ? head->GetMain() : nullptr;
  return static_cast<BaseList2D*>(owner);
}

CCurve* CTrack::GetCurve(LONG type, Bool create) {
  if (type != CCURVE_CURVE) return nullptr;
  if (!m_pCurve && create) m_pCurve = gNew CCurve(this);
  return m_pCurve;
}

Bool CTrack::FillKey(BaseDocument*, BaseList2D* bl, CKey* key) {
  if (!bl || !key) return FALSE;
  if (GetType() == CTpla) {
    if (!bl->IsInstanceOf(Opoint)) return FALSE;
    const auto* op = static_cast<const PointObject*>(static_cast<BaseObject*>(bl));
    return NodeAccess::SetKeyPoints(key, op->GetPointR(), op->GetPointCount());
  }
  GeData value;
  if (!bl->GetParameter(m_id, value, DESCFLAGS_GET_0) || !IsNumber(value)) return FALSE;
  key->m_value = value.GetType() == DA_REAL ? value.GetReal() : static_cast<Real>(value.GetLong());
  return TRUE;
}

Vector* CTrack::AllocKeyPoints(CKey* key, LONG count) {
  if (GetType() != CTpla || !key || count < 1) return nullptr;
  if (!NodeAccess::SetKeyPoints(key, nullptr, count, false)) return nullptr;
  return key->m_pPoints;
}

Bool CTrack::Animate(const BaseTime& time) {
  BaseList2D* node = GetObject();
  if (!node || !m_pCurve || m_pCurve->GetKeyCount() == 0) return FALSE;
  if (GetType() != CTpla) {
    const Real v = m_pCurve->GetValue(time);
    GeData current;
    if (!node->GetParameter(m_id, current, DESCFLAGS_GET_0) || !IsNumber(current)) return FALSE;
    GeData next(v);
    if (current.GetType() == DA_LONG) {
      // Key values come from plug-ins and files: a value past the integer range would
      // not convert.
      if (std::isnan(v)) return FALSE;
      const Real rounded = v < 0 ? v - 0.5 : v + 0.5;
      if (rounded >= 2147483647.0)
        next = GeData(LONG(2147483647));
      else if (rounded <= -2147483648.0)
        next = GeData(LONG(-2147483647 - 1));
      else
        next = GeData(static_cast<LONG>(rounded));
    }
    if (next == current) return FALSE;
    return node->SetParameter(m_id, next, DESCFLAGS_SET_0);
  }
  if (!node->IsInstanceOf(Opoint)) return FALSE;
  auto* op = static_cast<PointObject*>(static_cast<BaseObject*>(node));
  const LONG count = op->GetPointCount();
  Vector* points = op->GetPointW();
  LONG left = 0, right = 0;
  Bracket(m_pCurve, time.Get(), &left, &right);
  const LONG keys = m_pCurve->GetKeyCount();
  const CKey* a = m_pCurve->GetKey(left < 0 ? 0 : left);
  const CKey* b = m_pCurve->GetKey(left < 0 ? 0 : (right >= keys ? keys - 1 : right));
  if (a->m_pointCount != count || b->m_pointCount != count || count == 0) return FALSE;
  const Real w = a == b ? 0.0 : Weight(a, b, time.Get());
  bool changed = false;
  for (LONG i = 0; i < count; ++i) {
    const Vector p = w == 0.0 ? a->m_pPoints[i] : a->m_pPoints[i] + (b->m_pPoints[i] - a->m_pPoints[i]) * w;
    if (p != points[i]) {
      points[i] = p;
      changed = true;
    }
  }
  if (changed) op->SetDirty(DIRTYFLAGS_DATA);
  return changed;
}

BaseList2D* CTrack::MakeEmpty() const { return gNew CTrack(GetType(), m_id); }

Bool CTrack::CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const {
  if (!BaseList2D::CopyContentTo(dst, flags, trn)) return FALSE;
  auto* track = static_cast<CTrack*>(dst);
  track->m_id = m_id;
  if (!m_pCurve) return TRUE;
  CCurve* curve = track->GetCurve(CCURVE_CURVE, TRUE);
  if (!curve || !curve->Reserve(m_pCurve->m_count)) return FALSE;
  curve->FlushKeys();
  for (LONG i = 0; i < m_pCurve->m_count; ++i) {
    auto* key = static_cast<CKey*>(m_pCurve->m_ppKeys[i]->GetClone(flags, trn));
    if (!key) return FALSE;
    key->m_pCurve = curve;
    curve->m_ppKeys[curve->m_count++] = key;
  }
  return TRUE;
}

void CTrack::SwapContent(BaseList2D* other) {
  BaseList2D::SwapContent(other);
  auto* track = static_cast<CTrack*>(other);
  std::swap(m_id, track->m_id);
  std::swap(m_pCurve, track->m_pCurve);
  if (m_pCurve) m_pCurve->m_pTrack = this;
  if (track->m_pCurve) track->m_pCurve->m_pTrack = track;
}

namespace host {

LONG KeyPointCount(const CKey* key) { return key ? NodeAccess::KeyPointCount(key) : 0; }

}  // namespace host
