// Objects: creation by type, matrices, visibility, tags, points, polygons, segments and
// n-gon outlines.
#include <algorithm>
#include <cstring>

#include "c4d_memory.h"
#include "host_internal.h"
#include "lib_ngon.h"
#include "scene_internal.h"

namespace {

void SetGeneratorDefaults(BaseObject* op) {
  BaseContainer* bc = op->GetDataInstance();
  switch (op->GetType()) {
    case Ocube:
      bc->SetVector(PRIM_CUBE_LEN, Vector(200, 200, 200));
      bc->SetLong(PRIM_CUBE_SUBX, 1);
      bc->SetLong(PRIM_CUBE_SUBY, 1);
      bc->SetLong(PRIM_CUBE_SUBZ, 1);
      break;
    case Oplane:
      bc->SetReal(PRIM_PLANE_WIDTH, 400);
      bc->SetReal(PRIM_PLANE_HEIGHT, 400);
      bc->SetLong(PRIM_PLANE_SUBW, 20);
      bc->SetLong(PRIM_PLANE_SUBH, 20);
      break;
    case Oarray:
      bc->SetLong(ARRAYOBJECT_COPIES, 7);
      bc->SetReal(ARRAYOBJECT_RADIUS, 250);
      break;
    case Ospline:
      bc->SetLong(SPLINEOBJECT_TYPE, SPLINETYPE_LINEAR);
      bc->SetBool(SPLINEOBJECT_CLOSED, FALSE);
      break;
    default:
      break;
  }
}

bool IsDataTagType(LONG type) { return type == Tpoint || type == Tpolygon || type == Tsegment; }

// The entries of an object's own data tag (points, polygons or segments), or null.
template <class T>
T* DataOf(const BaseObject* op, LONG type) {
  auto* tag = static_cast<VariableTag*>(op->GetTag(type));
  return tag ? static_cast<T*>(tag->GetDataAddressW()) : nullptr;
}

LONG CountOf(const BaseObject* op, LONG type) {
  const auto* tag = static_cast<const VariableTag*>(op->GetTag(type));
  return tag ? tag->GetDataCount() : 0;
}

}  // namespace

bool IsGenerator(LONG type) { return type == Ocube || type == Oplane || type == Oarray; }

BaseObject* NodeAccess::MakeObject(LONG type, bool allowMissing) {
  BaseObject* op = nullptr;
  const BasePlugin* plugin = nullptr;
  switch (type) {
    case Opolygon:
      op = gNew PolygonObject;
      break;
    case Ospline:
      op = gNew SplineObject;
      break;
    case Onull:
    case Ocube:
    case Oplane:
    case Oarray:
      op = gNew BaseObject(type);
      break;
    default:
      plugin = FindPlugin(type, PLUGINTYPE_OBJECT);
      if (!plugin && !allowMissing) return nullptr;
      if (type <= 0) return nullptr;
      op = gNew BaseObject(type);
      break;
  }
  if (!op) return nullptr;
  op->m_pTags = GeListHead::Alloc();
  if (!op->m_pTags) {
    Destroy(op);
    return nullptr;
  }
  op->m_pTags->SetParent(op);
  if (type == Opolygon || type == Ospline) {
    // Points (and polygons) live in the object's own data tags, which come first.
    VariableTag* points = VariableTag::Alloc(Tpoint, 0);
    VariableTag* polygons = type == Opolygon ? VariableTag::Alloc(Tpolygon, 0) : nullptr;
    if (!points || (type == Opolygon && !polygons)) {
      BaseTag* p = points;
      BaseTag* q = polygons;
      BaseTag::Free(p);
      BaseTag::Free(q);
      Destroy(op);
      return nullptr;
    }
    op->m_pTags->InsertLast(points);
    if (polygons) op->m_pTags->InsertLast(polygons);
  }
  SetGeneratorDefaults(op);
  op->SetName(op->GetTypeName());
  if (plugin && !AttachPlugin(op, PLUGINTYPE_OBJECT)) {
    Destroy(op);
    return nullptr;
  }
  return op;
}

// --- BaseObject -------------------------------------------------------------------------

BaseObject::BaseObject(LONG type) : BaseList2D(type, Obase) {}

BaseObject::~BaseObject() {
  NodeAccess::Destroy(m_pCache);
  NodeAccess::Destroy(m_pDeformCache);
  if (m_pTags) NodeAccess::Destroy(m_pTags);
}

void NodeAccess::SetCache(BaseObject* op, BaseObject* cache) {
  if (op->m_pCache == cache) return;
  Destroy(op->m_pCache);
  op->m_pCache = cache;
}

void NodeAccess::SetDeformCache(BaseObject* op, BaseObject* cache, LULONG stamp) {
  if (op->m_pDeformCache != cache) Destroy(op->m_pDeformCache);
  op->m_pDeformCache = cache;
  op->m_deformStamp = stamp;
}

void BaseObject::SetDeformMode(Bool mode) {
  if (m_deformMode == mode) return;
  m_deformMode = mode;
  SetDirty(DIRTYFLAGS_DATA);
}

namespace {

// The box around an object's own points: low and high corners; false without points.
bool PointBox(const BaseObject* op, Vector* lo, Vector* hi) {
  if (!op->IsInstanceOf(Opoint)) return false;
  const auto* po = static_cast<const PointObject*>(op);
  const LONG count = po->GetPointCount();
  const Vector* p = po->GetPointR();
  if (count == 0 || !p) return false;
  *lo = *hi = p[0];
  for (LONG i = 1; i < count; ++i) {
    lo->x = p[i].x < lo->x ? p[i].x : lo->x;
    lo->y = p[i].y < lo->y ? p[i].y : lo->y;
    lo->z = p[i].z < lo->z ? p[i].z : lo->z;
    hi->x = p[i].x > hi->x ? p[i].x : hi->x;
    hi->y = p[i].y > hi->y ? p[i].y : hi->y;
    hi->z = p[i].z > hi->z ? p[i].z : hi->z;
  }
  return true;
}

void Dimension(const BaseObject* op, Vector* mp, Vector* rad) {
  *mp = *rad = Vector();
  if (op->GetClassification() == Obase && op->GetNodeData()) {
    auto* data = static_cast<ObjectData*>(op->GetNodeData());
    data->GetDimension(const_cast<BaseObject*>(op), mp, rad);
    return;
  }
  Vector lo, hi;
  if (!PointBox(op, &lo, &hi)) return;
  *mp = (lo + hi) * 0.5;
  *rad = (hi - lo) * 0.5;
}

}  // namespace

Vector BaseObject::GetMp() const {
  Vector mp, rad;
  Dimension(this, &mp, &rad);
  return mp;
}

Vector BaseObject::GetRad() const {
  Vector mp, rad;
  Dimension(this, &mp, &rad);
  return rad;
}

BaseObject* BaseObject::Alloc(LONG type) { return NodeAccess::MakeObject(type, false); }

void BaseObject::Free(BaseObject*& op) {
  NodeAccess::Destroy(op);
  op = nullptr;
}

Bool BaseObject::IsInstanceOf(LONG id) const {
  if (id == Opoint) return GetType() == Opolygon || GetType() == Ospline;
  return BaseList2D::IsInstanceOf(id);
}

Matrix BaseObject::GetUpMg() const {
  const BaseObject* up = GetUp();
  return up ? up->GetMg() : Matrix();
}

Matrix BaseObject::GetMg() const { return GetUpMg() * m_ml; }

void BaseObject::SetMg(const Matrix& m) { SetMl(!GetUpMg() * m); }

Vector BaseObject::GetRelRot() const { return MatrixToHPB(m_ml); }

void BaseObject::SetRelRot(const Vector& hpb) {
  const Vector scale = GetRelScale();
  const Matrix r = HPBToMatrix(hpb);
  m_ml.v1 = r.v1 * scale.x;
  m_ml.v2 = r.v2 * scale.y;
  m_ml.v3 = r.v3 * scale.z;
  SetDirty(DIRTYFLAGS_MATRIX);
}

Vector BaseObject::GetRelScale() const { return Vector(Len(m_ml.v1), Len(m_ml.v2), Len(m_ml.v3)); }

void BaseObject::SetRelScale(const Vector& scale) {
  m_ml.v1 = !m_ml.v1 * scale.x;
  m_ml.v2 = !m_ml.v2 * scale.y;
  m_ml.v3 = !m_ml.v3 * scale.z;
  SetDirty(DIRTYFLAGS_MATRIX);
}

Bool BaseObject::GetOwnParameter(const DescID& id, GeData& t_data) {
  switch (id[0].id) {
    case ID_BASEOBJECT_VISIBILITY_EDITOR: t_data = GeData(m_editorMode); return TRUE;
    case ID_BASEOBJECT_VISIBILITY_RENDER: t_data = GeData(m_renderMode); return TRUE;
    case ID_BASEOBJECT_REL_POSITION: t_data = GeData(GetRelPos()); return TRUE;
    case ID_BASEOBJECT_REL_ROTATION: t_data = GeData(GetRelRot()); return TRUE;
    case ID_BASEOBJECT_REL_SCALE: t_data = GeData(GetRelScale()); return TRUE;
    default: return BaseList2D::GetOwnParameter(id, t_data);
  }
}

Bool BaseObject::SetOwnParameter(const DescID& id, const GeData& t_data) {
  switch (id[0].id) {
    case ID_BASEOBJECT_VISIBILITY_EDITOR: m_editorMode = t_data.GetLong(); return TRUE;
    case ID_BASEOBJECT_VISIBILITY_RENDER: m_renderMode = t_data.GetLong(); return TRUE;
    case ID_BASEOBJECT_REL_POSITION: SetRelPos(t_data.GetVector()); return TRUE;
    case ID_BASEOBJECT_REL_ROTATION: SetRelRot(t_data.GetVector()); return TRUE;
    case ID_BASEOBJECT_REL_SCALE: SetRelScale(t_data.GetVector()); return TRUE;
    default: return BaseList2D::SetOwnParameter(id, t_data);
  }
}

BaseTag* BaseObject::GetFirstTag() const { return static_cast<BaseTag*>(m_pTags->GetFirst()); }

BaseTag* BaseObject::GetTag(LONG type, LONG nr) const {
  for (BaseTag* tag = GetFirstTag(); tag; tag = tag->GetNext())
    if (tag->GetType() == type && nr-- == 0) return tag;
  return nullptr;
}

void BaseObject::InsertTag(BaseTag* tp, BaseTag* pred) {
  if (!tp) return;
  if (pred && pred->GetListHead() == m_pTags && pred != tp)
    tp->InsertAfter(pred);
  else
    m_pTags->InsertFirst(tp);
}

BaseTag* BaseObject::MakeTag(LONG type, BaseTag* pred) {
  BaseTag* tag = BaseTag::Alloc(type);
  if (tag) InsertTag(tag, pred);
  return tag;
}

VariableTag* BaseObject::MakeVariableTag(LONG type, LONG count, BaseTag* pred) {
  if (IsDataTagType(type)) {
    if (auto* own = static_cast<VariableTag*>(GetTag(type))) return own->Resize(count) ? own : nullptr;
  }
  VariableTag* tag = VariableTag::Alloc(type, count);
  if (tag) InsertTag(tag, pred);
  return tag;
}

void BaseObject::KillTag(LONG type, LONG nr) { NodeAccess::Destroy(GetTag(type, nr)); }

Bool BaseObject::SetPhong(Bool on, Bool anglelimit, Real angle) {
  if (!on) {
    KillTag(Tphong);
    return TRUE;
  }
  BaseTag* tag = GetTag(Tphong);
  if (!tag) tag = MakeTag(Tphong, static_cast<BaseTag*>(m_pTags->GetLast()));
  if (!tag) return FALSE;
  tag->GetDataInstance()->SetBool(PHONGTAG_PHONG_ANGLELIMIT, anglelimit);
  tag->GetDataInstance()->SetReal(PHONGTAG_PHONG_ANGLE, angle);
  return TRUE;
}

BaseList2D* BaseObject::MakeEmpty() const { return NodeAccess::MakeObject(GetType(), true); }

Bool BaseObject::CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const {
  if (!BaseList2D::CopyContentTo(dst, flags, trn)) return FALSE;
  auto* op = static_cast<BaseObject*>(dst);
  op->m_ml = m_ml;
  op->m_editorMode = m_editorMode;
  op->m_renderMode = m_renderMode;
  op->m_deformMode = m_deformMode;
  op->m_pTags->FlushAll();
  for (const BaseTag* tag = GetFirstTag(); tag; tag = tag->GetNext()) {
    BaseList2D* copy = NodeAccess::CloneAlone(tag, flags, trn);
    if (!copy) return FALSE;
    op->m_pTags->InsertLast(copy);
  }
  return TRUE;
}

void BaseObject::SwapContent(BaseList2D* other) {
  BaseList2D::SwapContent(other);
  auto* op = static_cast<BaseObject*>(other);
  std::swap(m_ml, op->m_ml);
  std::swap(m_editorMode, op->m_editorMode);
  std::swap(m_renderMode, op->m_renderMode);
  std::swap(m_deformMode, op->m_deformMode);
  std::swap(m_pTags, op->m_pTags);
  m_pTags->SetParent(this);
  op->m_pTags->SetParent(op);
}

// --- PointObject ------------------------------------------------------------------------

const Vector* PointObject::GetPointR() const { return DataOf<Vector>(this, Tpoint); }
Vector* PointObject::GetPointW() { return DataOf<Vector>(this, Tpoint); }
LONG PointObject::GetPointCount() const { return CountOf(this, Tpoint); }

Bool PointObject::ResizePoints(LONG count) {
  VariableTag* points = MakeVariableTag(Tpoint, GetPointCount());
  return points && points->Resize(count);
}

// --- PolygonObject ----------------------------------------------------------------------

PolygonObject* PolygonObject::Alloc(LONG pcnt, LONG vcnt) {
  auto* op = static_cast<PolygonObject*>(NodeAccess::MakeObject(Opolygon, false));
  if (op && !op->ResizeObject(pcnt, vcnt)) NodeAccess::Destroy(op), op = nullptr;
  return op;
}

PolygonObject::~PolygonObject() {
  FreeNgons();
  gDelete(m_pNgonBase);
}

const CPolygon* PolygonObject::GetPolygonR() const { return DataOf<CPolygon>(this, Tpolygon); }
CPolygon* PolygonObject::GetPolygonW() { return DataOf<CPolygon>(this, Tpolygon); }
LONG PolygonObject::GetPolygonCount() const { return CountOf(this, Tpolygon); }

Bool PolygonObject::ResizeObject(LONG pcnt, LONG vcnt) {
  if (pcnt < 0 || vcnt < 0) return FALSE;
  // Room for both first: after that neither resize can fail, so a failure leaves the
  // object as it was.
  VariableTag* points = MakeVariableTag(Tpoint, GetPointCount());
  VariableTag* polygons = MakeVariableTag(Tpolygon, GetPolygonCount());
  if (!points || !polygons || !NodeAccess::ReserveTag(points, pcnt) || !NodeAccess::ReserveTag(polygons, vcnt))
    return FALSE;
  if (vcnt != polygons->GetDataCount()) FreeNgons();
  points->Resize(pcnt);
  polygons->Resize(vcnt);
  return TRUE;
}

void PolygonObject::FreeNgons() {
  bDelete(m_pNgonStart);
  bDelete(m_pNgonEdges);
  m_ngonCount = 0;
  m_ngonRoom = 0;
  m_edgeRoom = 0;
  DropNgonCaches();
}

Bool PolygonObject::CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const {
  if (!BaseObject::CopyContentTo(dst, flags, trn)) return FALSE;
  auto* op = static_cast<PolygonObject*>(dst);
  if (m_ngonCount == 0) return TRUE;
  std::vector<LONG> counts(static_cast<size_t>(m_ngonCount));
  for (LONG i = 0; i < m_ngonCount; ++i) counts[static_cast<size_t>(i)] = m_pNgonStart[i + 1] - m_pNgonStart[i];
  return NodeAccess::SetNgons(op, m_ngonCount, counts.data(), m_pNgonEdges);
}

void PolygonObject::SwapContent(BaseList2D* other) {
  BaseObject::SwapContent(other);
  auto* op = static_cast<PolygonObject*>(other);
  std::swap(m_ngonCount, op->m_ngonCount);
  std::swap(m_pNgonStart, op->m_pNgonStart);
  std::swap(m_pNgonEdges, op->m_pNgonEdges);
  std::swap(m_ngonRoom, op->m_ngonRoom);
  std::swap(m_edgeRoom, op->m_edgeRoom);
  DropNgonCaches();
  op->DropNgonCaches();
}

LONG NodeAccess::NgonEdgeCount(const PolygonObject* op, LONG ngon) {
  if (ngon < 0 || ngon >= op->m_ngonCount) return 0;
  return op->m_pNgonStart[ngon + 1] - op->m_pNgonStart[ngon];
}

const LONG* NodeAccess::NgonEdges(const PolygonObject* op, LONG ngon) {
  if (ngon < 0 || ngon >= op->m_ngonCount) return nullptr;
  return op->m_pNgonEdges + op->m_pNgonStart[ngon];
}

bool NodeAccess::SetNgons(PolygonObject* op, LONG count, const LONG* counts, const LONG* edges) {
  if (count < 0) return false;
  LLONG total = 0;
  for (LONG i = 0; i < count; ++i) {
    if (counts[i] < 0) return false;
    total += counts[i];
  }
  if (total > 0x7FFFFFFF) return false;
  LONG* start = bNew(LONG, count + 1);
  LONG* copy = bNew(LONG, total > 0 ? total : 1);
  if (!start || !copy) {
    bDelete(start);
    bDelete(copy);
    return false;
  }
  for (LONG i = 0; i < count; ++i) start[i + 1] = start[i] + counts[i];
  if (total > 0) std::memcpy(copy, edges, static_cast<size_t>(total) * sizeof(LONG));
  AdoptNgons(op, count, start, copy);
  op->m_edgeRoom = total > 0 ? static_cast<LONG>(total) : 1;
  return true;
}

void NodeAccess::AdoptNgons(PolygonObject* op, LONG count, LONG* start, LONG* edges) {
  op->FreeNgons();
  op->m_ngonCount = count;
  op->m_pNgonStart = start;
  op->m_pNgonEdges = edges;
  op->m_ngonRoom = count;
  op->m_edgeRoom = start[count];
}

bool NodeAccess::ReserveNgons(PolygonObject* op, LONG ngons, LLONG edges) {
  if (ngons < 0 || edges < 0) return false;
  const LLONG used = op->m_ngonCount ? op->m_pNgonStart[op->m_ngonCount] : 0;
  const LLONG needNgons = LLONG(op->m_ngonCount) + ngons, needEdges = used + edges;
  if (needNgons >= 0x7FFFFFFF || needEdges >= 0x7FFFFFFF) return false;
  if (needNgons > op->m_ngonRoom || !op->m_pNgonStart) {
    auto* start = static_cast<LONG*>(GeRealloc(op->m_pNgonStart, (needNgons + 1) * LLONG(sizeof(LONG))));
    if (!start) return false;
    op->m_pNgonStart = start;
    op->m_ngonRoom = static_cast<LONG>(needNgons);
  }
  if (needEdges > op->m_edgeRoom || !op->m_pNgonEdges) {
    const LLONG room = std::max<LLONG>(needEdges, 1);
    auto* words = static_cast<LONG*>(GeRealloc(op->m_pNgonEdges, room * LLONG(sizeof(LONG))));
    if (!words) return false;
    op->m_pNgonEdges = words;
    op->m_edgeRoom = static_cast<LONG>(room);
  }
  return true;
}

bool NodeAccess::AppendNgon(PolygonObject* op, const LONG* edges, LONG count) {
  if (count < 1) return false;
  if (!op->m_pNgonStart || !op->m_pNgonEdges || op->m_ngonCount >= op->m_ngonRoom ||
      op->m_pNgonStart[op->m_ngonCount] + LLONG(count) > op->m_edgeRoom) {
    // Grow by half again, so that building many n-gons one by one stays linear.
    const LONG n = op->m_ngonCount;
    const LLONG used = n ? op->m_pNgonStart[n] : 0;
    if (!ReserveNgons(op, std::max<LONG>(1, n / 2), std::max<LLONG>(count, used / 2))) return false;
  }
  const LONG n = op->m_ngonCount;
  std::memcpy(op->m_pNgonEdges + op->m_pNgonStart[n], edges, static_cast<size_t>(count) * sizeof(LONG));
  op->m_pNgonStart[n + 1] = op->m_pNgonStart[n] + count;
  op->m_ngonCount = n + 1;
  // The builder keeps its map up to date itself.
  bDelete(op->m_pPgons);
  bDelete(op->m_pPgonEdges);
  return true;
}

// --- SplineObject -----------------------------------------------------------------------

SplineObject* SplineObject::Alloc(LONG pcnt, LONG type) {
  auto* op = static_cast<SplineObject*>(NodeAccess::MakeObject(Ospline, false));
  if (!op) return nullptr;
  op->GetDataInstance()->SetLong(SPLINEOBJECT_TYPE, type);
  if (!op->ResizePoints(pcnt)) NodeAccess::Destroy(op), op = nullptr;
  return op;
}

LONG SplineObject::GetSegmentCount() const { return CountOf(this, Tsegment); }
const Segment* SplineObject::GetSegmentR() const { return DataOf<Segment>(this, Tsegment); }
Segment* SplineObject::GetSegmentW() { return DataOf<Segment>(this, Tsegment); }

Bool SplineObject::IsClosed() const { return GetDataInstance()->GetBool(SPLINEOBJECT_CLOSED); }

LONG SplineObject::GetInterpolationType() const { return GetDataInstance()->GetLong(SPLINEOBJECT_TYPE); }

Bool SplineObject::ResizeObject(LONG pcnt, LONG scnt) {
  if (pcnt < 0 || scnt < 0) return FALSE;
  VariableTag* points = MakeVariableTag(Tpoint, GetPointCount());
  if (!points || !NodeAccess::ReserveTag(points, pcnt)) return FALSE;
  if (scnt == 0) {
    KillTag(Tsegment);
  } else {
    auto* segments = static_cast<VariableTag*>(GetTag(Tsegment));
    if (!segments) segments = MakeVariableTag(Tsegment, 0, GetTag(Tpoint));
    if (!segments || !NodeAccess::ReserveTag(segments, scnt)) return FALSE;
    segments->Resize(scnt);
  }
  points->Resize(pcnt);
  return TRUE;
}
