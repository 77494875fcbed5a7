// Adjacency of a polygon mesh: point → polygons as one compact array, edges found by
// sorting the sides of all polygons (no hashing, no per-edge allocation).
#include <algorithm>

#include "c4d_basecontainer.h"
#include "c4d_baseobject.h"
#include "c4d_basetag.h"
#include "c4d_memory.h"
#include "c4d_tools.h"

namespace {

// The two corners of side s of p; false for the missing side 2 of a triangle.
bool SideCorners(const CPolygon& p, LONG s, LONG* u, LONG* v) {
  const bool triangle = p.c == p.d;
  switch (s) {
    case 0: *u = p.a, *v = p.b; return true;
    case 1: *u = p.b, *v = p.c; return true;
    case 2: if (triangle) return false; *u = p.c, *v = p.d; return true;
    default: *u = p.d, *v = p.a; return true;
  }
}

struct Side {
  LONG a, b;  // a < b
  LONG poly, side;
  bool operator<(const Side& o) const {
    if (a != o.a) return a < o.a;
    if (b != o.b) return b < o.b;
    return poly < o.poly;
  }
};

}  // namespace

Neighbor::~Neighbor() { Clear(); }

void Neighbor::Clear() {
  bDelete(m_pPointStart);
  bDelete(m_pPointPolys);
  bDelete(m_pInfo);
  bDelete(m_pUsed);
  bDelete(m_pEdges);
  m_pointCount = m_polyCount = m_edgeCount = 0;
}

Bool Neighbor::Init(LONG pcnt, const CPolygon* vadr, LONG vcnt, const BaseSelect* bs) {
  Clear();
  if (pcnt < 0 || vcnt < 0 || (vcnt > 0 && !vadr)) return FALSE;

  m_pPointStart = bNew(LONG, VLONG(pcnt) + 1);
  m_pInfo = bNew(PolyInfo, vcnt);
  m_pUsed = bNew(Bool, vcnt);
  if (!m_pPointStart || (vcnt > 0 && (!m_pInfo || !m_pUsed))) {
    Clear();
    return FALSE;
  }

  // Count corners per point (a point used twice by one polygon counts once) and sides.
  VLONG sideCount = 0;
  for (LONG i = 0; i < vcnt; ++i) {
    if (bs && !bs->IsSelected(i)) continue;
    const CPolygon& p = vadr[i];
    const LONG corners[4] = {p.a, p.b, p.c, p.d};
    for (LONG k = 0; k < 4; ++k) {
      if (corners[k] < 0 || corners[k] >= pcnt) {
        Clear();
        return FALSE;
      }
    }
    m_pUsed[i] = TRUE;
    for (LONG k = 0; k < 4; ++k) {
      bool seen = false;
      for (LONG j = 0; j < k; ++j) seen = seen || corners[j] == corners[k];
      if (!seen) ++m_pPointStart[corners[k] + 1];
    }
    sideCount += p.c == p.d ? 3 : 4;
  }
  for (LONG i = 0; i < pcnt; ++i) m_pPointStart[i + 1] += m_pPointStart[i];

  m_pPointPolys = bNew(LONG, m_pPointStart[pcnt]);
  LONG* fill = bNew(LONG, pcnt);
  Side* sides = bNew(Side, sideCount);
  if ((m_pPointStart[pcnt] > 0 && !m_pPointPolys) || (pcnt > 0 && !fill) || (sideCount > 0 && !sides)) {
    bDelete(fill);
    bDelete(sides);
    Clear();
    return FALSE;
  }

  VLONG n = 0;
  for (LONG i = 0; i < vcnt; ++i) {
    PolyInfo& info = m_pInfo[i];
    for (LONG s = 0; s < 4; ++s) info.face[s] = info.edge[s] = NOTOK, info.mark[s] = FALSE;
    if (!m_pUsed[i]) continue;
    const CPolygon& p = vadr[i];
    const LONG corners[4] = {p.a, p.b, p.c, p.d};
    for (LONG k = 0; k < 4; ++k) {
      bool seen = false;
      for (LONG j = 0; j < k; ++j) seen = seen || corners[j] == corners[k];
      if (!seen) m_pPointPolys[m_pPointStart[corners[k]] + fill[corners[k]]++] = i;
    }
    for (LONG s = 0; s < 4; ++s) {
      LONG u, v;
      if (!SideCorners(p, s, &u, &v) || u == v) continue;
      sides[n++] = Side{std::min(u, v), std::max(u, v), i, s};
    }
  }
  bDelete(fill);

  std::sort(sides, sides + n);
  VLONG edgeCount = 0;
  for (VLONG i = 0; i < n; ++i)
    if (i == 0 || sides[i].a != sides[i - 1].a || sides[i].b != sides[i - 1].b) ++edgeCount;
  m_pEdges = bNew(Edge, edgeCount);
  if (edgeCount > 0 && !m_pEdges) {
    bDelete(sides);
    Clear();
    return FALSE;
  }

  // One run of equal (a, b) per edge; polygons sort ascending inside a run.
  LONG e = -1;
  for (VLONG i = 0; i < n; ++i) {
    const Side& s = sides[i];
    if (i == 0 || s.a != sides[i - 1].a || s.b != sides[i - 1].b) {
      m_pEdges[++e] = Edge{s.a, s.b, s.poly, NOTOK};
      m_pInfo[s.poly].mark[s.side] = TRUE;
    } else if (m_pEdges[e].second == NOTOK && s.poly != m_pEdges[e].first) {
      m_pEdges[e].second = s.poly;
    }
    m_pInfo[s.poly].edge[s.side] = e;
  }
  for (VLONG i = 0; i < n; ++i) {
    const Side& s = sides[i];
    const Edge& edge = m_pEdges[m_pInfo[s.poly].edge[s.side]];
    m_pInfo[s.poly].face[s.side] = edge.first == s.poly ? edge.second : edge.first;
  }
  bDelete(sides);

  m_pointCount = pcnt;
  m_polyCount = vcnt;
  m_edgeCount = static_cast<LONG>(edgeCount);
  return TRUE;
}

void Neighbor::GetPointPolys(LONG pnt, LONG** dadr, LONG* dcnt) {
  if (pnt < 0 || pnt >= m_pointCount) {
    *dadr = nullptr;
    *dcnt = 0;
    return;
  }
  *dadr = m_pPointPolys ? m_pPointPolys + m_pPointStart[pnt] : nullptr;
  *dcnt = m_pPointStart[pnt + 1] - m_pPointStart[pnt];
}

const Neighbor::Edge* Neighbor::FindEdge(LONG a, LONG b) const {
  if (a > b) std::swap(a, b);
  const Edge* begin = m_pEdges;
  const Edge* end = m_pEdges + m_edgeCount;
  const Edge* it = std::lower_bound(begin, end, Edge{a, b, 0, 0}, [](const Edge& x, const Edge& y) {
    return x.a != y.a ? x.a < y.a : x.b < y.b;
  });
  return it != end && it->a == a && it->b == b ? it : nullptr;
}

void Neighbor::GetEdgePolys(LONG a, LONG b, LONG* first, LONG* second) {
  const Edge* edge = FindEdge(a, b);
  *first = edge ? edge->first : NOTOK;
  *second = edge ? edge->second : NOTOK;
}

LONG Neighbor::GetNeighbor(LONG a, LONG b, LONG poly) {
  const Edge* edge = FindEdge(a, b);
  if (!edge) return NOTOK;
  if (edge->first == poly) return edge->second;
  if (edge->second == poly) return edge->first;
  return NOTOK;
}

PolyInfo* Neighbor::GetPolyInfo(LONG poly) {
  if (poly < 0 || poly >= m_polyCount || !m_pUsed[poly]) return nullptr;
  return &m_pInfo[poly];
}
