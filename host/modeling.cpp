// The modeling library: pending points and n-gons per object, the commit that covers
// each n-gon with triangles and quads, and the n-gon outline reader.
#include <algorithm>

#include "c4d_memory.h"
#include "host_internal.h"
#include "lib_modeling.h"
#include "ngon_internal.h"
#include "scene_internal.h"
#include "triangulate.h"

// What one initialised object has pending. The object is held by its node number, so
// an object freed meanwhile reads as gone instead of dangling.
struct ModelingObject {
  LLONG serial = 0;
  ModelingObject* next = nullptr;
  Vector* points = nullptr;
  LONG pointCount = 0, pointRoom = 0;
  LONG* corners = nullptr;  // every n-gon's point ids, one after the other
  LONG cornerCount = 0, cornerRoom = 0;
  LONG* ngonStart = nullptr;  // where each n-gon's ids begin in corners
  LONG ngonCount = 0, ngonRoom = 0;

  ~ModelingObject() {
    bDelete(points);
    bDelete(corners);
    bDelete(ngonStart);
  }
  void Clear() { pointCount = cornerCount = ngonCount = 0; }
  LONG CornersOf(LONG i) const { return (i + 1 < ngonCount ? ngonStart[i + 1] : cornerCount) - ngonStart[i]; }
};

namespace {

constexpr LONG kMostIds = 0x3FFFFFFF;

// Room for need entries in a growing block.
template <class T>
bool Grow(T*& block, LONG& room, LLONG need) {
  if (need <= room) return true;
  if (need > kMostIds) return false;
  const LLONG size = std::min<LLONG>(kMostIds, std::max<LLONG>({need, 2 * LLONG(room), 16}));
  auto* grown = static_cast<T*>(GeRealloc(block, size * LLONG(sizeof(T))));
  if (!grown) return false;
  block = grown;
  room = static_cast<LONG>(size);
  return true;
}

PolygonObject* ObjectOf(const ModelingObject* mo) {
  BaseList2D* node = host::internal::FindNode(mo->serial);
  return node && node->GetType() == Opolygon ? static_cast<PolygonObject*>(node) : nullptr;
}

}  // namespace

Modeling* Modeling::Alloc() { return gNew Modeling; }

void Modeling::Free(Modeling*& p) { gDelete(p); }

Modeling::~Modeling() {
  while (m_pObjects) {
    ModelingObject* next = m_pObjects->next;
    gDelete(m_pObjects);
    m_pObjects = next;
  }
}

ModelingObject* Modeling::Find(BaseObject* op) const {
  if (!op) return nullptr;
  const LLONG serial = NodeAccess::Serial(op);
  for (ModelingObject* mo = m_pObjects; mo; mo = mo->next)
    if (mo->serial == serial) return mo;
  return nullptr;
}

Bool Modeling::InitObject(BaseObject* op, LONG flags) {
  (void)flags;
  if (!op || op->GetType() != Opolygon) return FALSE;
  if (ModelingObject* mo = Find(op)) {
    mo->Clear();
    return TRUE;
  }
  auto* mo = gNew ModelingObject;
  if (!mo) return FALSE;
  mo->serial = NodeAccess::Serial(op);
  ModelingObject** tail = &m_pObjects;
  while (*tail) tail = &(*tail)->next;
  *tail = mo;
  return TRUE;
}

void Modeling::ReleaseObject(BaseObject* op) {
  ModelingObject* mo = Find(op);
  if (!mo) return;
  for (ModelingObject** at = &m_pObjects; *at; at = &(*at)->next) {
    if (*at == mo) {
      *at = mo->next;
      break;
    }
  }
  gDelete(mo);
}

LONG Modeling::AddPoint(BaseObject* op, const Vector& p) {
  ModelingObject* mo = Find(op);
  if (!mo || !Grow(mo->points, mo->pointRoom, LLONG(mo->pointCount) + 1)) return 0;
  mo->points[mo->pointCount++] = p;
  return -mo->pointCount;
}

LONG Modeling::CreateNgon(BaseObject* op, const LONG* points, LONG count, LONG flags) {
  (void)flags;
  ModelingObject* mo = Find(op);
  if (!mo || !points || count < 3) return 0;
  const LONG existing = static_cast<PointObject*>(op)->GetPointCount();
  for (LONG i = 0; i < count; ++i)
    if (points[i] >= existing || points[i] < -mo->pointCount) return 0;
  if (!Grow(mo->corners, mo->cornerRoom, LLONG(mo->cornerCount) + count) ||
      !Grow(mo->ngonStart, mo->ngonRoom, LLONG(mo->ngonCount) + 1))
    return 0;
  std::copy(points, points + count, mo->corners + mo->cornerCount);
  mo->ngonStart[mo->ngonCount++] = mo->cornerCount;
  mo->cornerCount += count;
  return mo->ngonCount;
}

Bool Modeling::Commit(BaseObject* op, LONG flags, BaseObject* cobj) {
  (void)flags;
  if (op) {
    ModelingObject* mo = Find(op);
    return mo && CommitOne(mo, cobj);
  }
  if (cobj) return FALSE;  // a clone target needs its source
  for (ModelingObject* mo = m_pObjects; mo; mo = mo->next)
    if (!CommitOne(mo, nullptr)) return FALSE;
  return TRUE;
}

Bool Modeling::CommitOne(ModelingObject* mo, BaseObject* cobj) {
  PolygonObject* src = ObjectOf(mo);
  if (!src) return FALSE;
  if (cobj && cobj->GetType() != Opolygon) return FALSE;
  PolygonObject* dst = cobj ? static_cast<PolygonObject*>(cobj) : src;
  const LONG oldPoints = src->GetPointCount(), oldPolys = src->GetPolygonCount(), oldNgons = src->GetNgonCount();
  const LLONG newPoints = LLONG(oldPoints) + mo->pointCount;
  LONG most = 0;
  LLONG polyRoom = 0, wordRoom = 0;
  for (LONG i = 0; i < mo->ngonCount; ++i) {
    const LONG k = mo->CornersOf(i);
    most = std::max(most, k);
    polyRoom += std::max(1, k - 2);
    wordRoom += 2 * LLONG(k);
  }
  LLONG oldWords = 0;
  for (LONG i = 0; i < oldNgons; ++i) oldWords += NodeAccess::NgonEdgeCount(src, i);
  if (newPoints > kMostIds || oldPolys + polyRoom > kMostIds || oldWords + wordRoom > kMostIds) return FALSE;

  // The n-gon words and starts go to the object; the rest is working space.
  ScratchArena arena;
  LONG *ids = nullptr, *outline = nullptr;
  UCHAR* edged = nullptr;
  Vector* pos = nullptr;
  CPolygon* polys = nullptr;
  Scratch<LONG> words, start;
  if (!arena.Alloc(ids, most, outline, most, edged, most, pos, most, polys, polyRoom) ||
      !words.Alloc(oldWords + wordRoom) || !start.Alloc(LLONG(oldNgons) + mo->ngonCount + 1))
    return FALSE;
  // The n-gons the object has keep their words; new ones follow.
  LONG ngons = 0, w = 0;
  for (; ngons < oldNgons; ++ngons) {
    const LONG n = NodeAccess::NgonEdgeCount(src, ngons);
    std::copy(NodeAccess::NgonEdges(src, ngons), NodeAccess::NgonEdges(src, ngons) + n, words.Get() + w);
    w += n;
    start[ngons + 1] = w;
  }
  const Vector* srcPoints = src->GetPointR();
  LONG np = 0;
  for (LONG i = 0; i < mo->ngonCount; ++i) {
    const LONG* corner = mo->corners + mo->ngonStart[i];
    LONG k = 0;
    for (LONG c = 0, n = mo->CornersOf(i); c < n; ++c) {
      const LONG id = corner[c];
      const LONG index = id >= 0 ? id : oldPoints + (-id - 1);
      if (id >= oldPoints || index < 0 || index >= newPoints) return FALSE;
      if (k == 0 || ids[k - 1] != index) ids[k++] = index;
    }
    while (k > 1 && ids[k - 1] == ids[0]) --k;
    if (k < 3) return FALSE;
    if (k <= 4) {
      polys[np++] = k == 3 ? CPolygon(ids[0], ids[1], ids[2]) : CPolygon(ids[0], ids[1], ids[2], ids[3]);
      continue;
    }
    for (LONG c = 0; c < k; ++c) pos[c] = ids[c] < oldPoints ? srcPoints[ids[c]] : mo->points[ids[c] - oldPoints];
    LONG made = 0;
    if (CoverOutline(pos, k, polys + np, &made, outline) != CoverResult::kOk) return FALSE;
    // Polygons without a side on the outline are members only.
    std::fill(edged, edged + made, UCHAR(0));
    for (LONG c = 0; c < k; ++c) {
      edged[outline[c] >> 2] = 1;
      words[w++] = ((oldPolys + np) * 4 + outline[c]) | (c == k - 1 ? NGON_EDGE_SEGMENTEND : 0);
    }
    for (LONG p = 0; p < made; ++p) {
      CPolygon& q = polys[np + p];
      q = CPolygon(ids[q.a], ids[q.b], ids[q.c], ids[q.d]);
      if (!edged[p]) words[w++] = (oldPolys + np + p) * 4 | NGON_EDGE_MEMBER;
    }
    np += made;
    start[++ngons] = w;
  }

  // Everything is ready: from here on only the resize can fail, and it changes nothing
  // when it does.
  if (!dst->ResizeObject(static_cast<LONG>(newPoints), oldPolys + np)) return FALSE;
  Vector* points = dst->GetPointW();
  CPolygon* polygons = dst->GetPolygonW();
  if (dst != src) {
    std::copy(srcPoints, srcPoints + oldPoints, points);
    std::copy(src->GetPolygonR(), src->GetPolygonR() + oldPolys, polygons);
  }
  std::copy(mo->points, mo->points + mo->pointCount, points + oldPoints);
  std::copy(polys, polys + np, polygons + oldPolys);
  NodeAccess::AdoptNgons(dst, ngons, start.Release(), words.Release());
  mo->Clear();
  return TRUE;
}

Bool Modeling::GetNgon(BaseObject* op, LONG index, Ngon* ngon) {
  ModelingObject* mo = Find(op);
  PolygonObject* poly = mo ? ObjectOf(mo) : nullptr;
  if (!poly || !ngon) return FALSE;
  const LONG n = index - poly->GetPolygonCount();
  if (index < 0 || n < 0 || n >= poly->GetNgonCount()) return FALSE;
  const LONG count = NodeAccess::NgonEdgeCount(poly, n);
  Scratch<LONG> edges, members;
  if (!edges.Alloc(count) || !members.Alloc(count)) return FALSE;
  LONG edgeCount, segments, memberCount;
  const CPolygon* polys = poly->GetPolygonR();
  if (ChainNgon(polys, poly->GetPolygonCount(), poly->GetPointCount(), NodeAccess::NgonEdges(poly, n), count, nullptr,
                0, edges.Get(), &edgeCount, &segments, members.Get(), &memberCount) != NgonCheck::kOk ||
      !ngon->Alloc(edgeCount, segments))
    return FALSE;
  LONG segment = 0, run = 0;
  for (LONG i = 0; i < edgeCount; ++i) {
    const LONG e = edges[i] & NGON_EDGE_MASK;
    ngon->points[i] = EdgeStart(polys[e >> 2], e & 3);
    ++run;
    if (edges[i] & NGON_EDGE_SEGMENTEND) {
      ngon->segments[segment++] = run;
      run = 0;
    }
  }
  return TRUE;
}
