// N-gons: checking and chaining edge words, the builder, the edge lists for exporters
// and the outline record.
#include <algorithm>

#include "c4d_memory.h"
#include "ngon_internal.h"
#include "scene_internal.h"

namespace {

constexpr LONG kKnownBits = NGON_EDGE_MASK | NGON_EDGE_SEGMENTEND | NGON_EDGE_MEMBER;

bool PolygonValid(const CPolygon& q, LONG pointCount) {
  return q.a >= 0 && q.b >= 0 && q.c >= 0 && q.d >= 0 && q.a < pointCount && q.b < pointCount && q.c < pointCount &&
         q.d < pointCount;
}

struct Link {
  LONG start;  // point the edge starts at
  LONG word;
};

// Puts the edges e[0 .. k) of one outline in chain order, keeping e[0] first.
NgonCheck ChainSegment(const CPolygon* polys, LONG* e, LONG k, Link* links, UCHAR* used, LONG* out) {
  bool chained = true;
  for (LONG i = 0; i < k && chained; ++i) {
    const LONG w = e[i], x = e[i + 1 == k ? 0 : i + 1];
    chained = EdgeEnd(polys[w >> 2], w & 3) == EdgeStart(polys[x >> 2], x & 3);
  }
  if (chained) return NgonCheck::kOk;
  for (LONG i = 0; i < k; ++i) {
    links[i] = Link{EdgeStart(polys[e[i] >> 2], e[i] & 3), e[i]};
    used[i] = 0;
  }
  std::sort(links, links + k, [](const Link& a, const Link& b) {
    return a.start != b.start ? a.start < b.start : a.word < b.word;
  });
  const LONG first = EdgeStart(polys[e[0] >> 2], e[0] & 3);
  LONG cur = e[0];
  out[0] = cur;
  for (LONG i = 0; i < k; ++i)
    if (links[i].word == cur) used[i] = 1;
  for (LONG n = 1; n < k; ++n) {
    const LONG at = EdgeEnd(polys[cur >> 2], cur & 3);
    const Link* l = std::lower_bound(links, links + k, at, [](const Link& a, LONG v) { return a.start < v; });
    LONG pick = -1;
    for (; l < links + k && l->start == at; ++l)
      if (!used[l - links]) {
        pick = static_cast<LONG>(l - links);
        break;
      }
    if (pick < 0) return NgonCheck::kBad;
    used[pick] = 1;
    cur = out[n] = links[pick].word;
  }
  if (EdgeEnd(polys[cur >> 2], cur & 3) != first) return NgonCheck::kBad;
  std::copy(out, out + k, e);
  return NgonCheck::kOk;
}

}  // namespace

NgonCheck ChainNgon(const CPolygon* polys, LONG pcnt, LONG pointCount, const LONG* outer, LONG ocnt,
                    const LONG* inner, LONG icnt, LONG* edges, LONG* edgeCount, LONG* segments, LONG* members,
                    LONG* memberCount) {
  *edgeCount = *segments = *memberCount = 0;
  if (!outer || ocnt < 1 || icnt < 0 || (icnt > 0 && !inner) || (pcnt > 0 && !polys)) return NgonCheck::kBad;
  auto valid = [&](LONG e, bool outline) {
    const LONG p = e >> 2;
    if (p >= pcnt || !PolygonValid(polys[p], pointCount)) return false;
    return !(outline && (e & 3) == 2 && polys[p].c == polys[p].d);  // a triangle has no side 2
  };
  LONG outline = 0, mcount = 0;
  for (LONG i = 0; i < ocnt; ++i) {
    const LONG w = outer[i];
    if (w < 0 || (w & ~kKnownBits) || ((w & NGON_EDGE_MEMBER) && (w & NGON_EDGE_SEGMENTEND))) return NgonCheck::kBad;
    const bool member = (w & NGON_EDGE_MEMBER) != 0;
    if (!valid(w & NGON_EDGE_MASK, !member)) return NgonCheck::kBad;
    if (!member) edges[outline++] = w & NGON_EDGE_MASK;
    members[mcount++] = (w & NGON_EDGE_MASK) >> 2;
  }
  for (LONG i = 0; i < icnt; ++i) {
    const LONG w = inner[i];
    if (w < 0 || (w & ~NGON_EDGE_MASK) || !valid(w, true)) return NgonCheck::kBad;
    members[mcount++] = w >> 2;
  }
  if (outline < 3) return NgonCheck::kBad;
  Scratch<LONG> sorted, out;
  Scratch<Link> links;
  Scratch<UCHAR> used;
  if (!sorted.Alloc(outline) || !out.Alloc(outline) || !links.Alloc(outline) || !used.Alloc(outline))
    return NgonCheck::kNoMemory;
  std::copy(edges, edges + outline, sorted.Get());
  std::sort(sorted.Get(), sorted.Get() + outline);
  if (std::adjacent_find(sorted.Get(), sorted.Get() + outline) != sorted.Get() + outline) return NgonCheck::kBad;
  // Outlines end at a mark; the last one also where the edges end.
  LONG k = 0, begin = 0, count = 0;
  for (LONG i = 0; i < ocnt; ++i) {
    if (outer[i] & NGON_EDGE_MEMBER) continue;
    ++k;
    if ((outer[i] & NGON_EDGE_SEGMENTEND) || k == outline) {
      if (k - begin < 3) return NgonCheck::kBad;
      const NgonCheck r = ChainSegment(polys, edges + begin, k - begin, links.Get(), used.Get(), out.Get());
      if (r != NgonCheck::kOk) return r;
      edges[k - 1] |= NGON_EDGE_SEGMENTEND;
      ++count;
      begin = k;
    }
  }
  std::sort(members, members + mcount);
  *memberCount = static_cast<LONG>(std::unique(members, members + mcount) - members);
  *edgeCount = outline;
  *segments = count;
  return NgonCheck::kOk;
}

// --- Ngon -------------------------------------------------------------------------------

Bool Ngon::Alloc(LONG cnt, LONG segcnt) {
  Free();
  if (cnt < 0 || segcnt < 0) return FALSE;
  points = bNew(LONG, cnt > 0 ? cnt : 1);
  segments = bNew(LONG, segcnt > 0 ? segcnt : 1);
  if (!points || !segments) {
    Free();
    return FALSE;
  }
  count = cnt;
  segcount = segcnt;
  return TRUE;
}

void Ngon::Free() {
  bDelete(points);
  bDelete(segments);
  count = segcount = 0;
}

// --- NgonBase ---------------------------------------------------------------------------

NgonBase::~NgonBase() { DropMap(); }

void NgonBase::DropMap() {
  bDelete(m_pMap);
  m_mapPolygons = m_mapNgons = 0;
}

bool NgonBase::MapReady() const {
  return m_pMap && m_mapPolygons == m_op->GetPolygonCount() && m_mapNgons == m_op->GetNgonCount();
}

LONG NgonBase::GetCount() const { return m_op->GetNgonCount(); }

Bool NgonBase::InitMap() {
  const LONG pcnt = m_op->GetPolygonCount(), ncnt = m_op->GetNgonCount();
  LONG* map = bNew(LONG, pcnt > 0 ? pcnt : 1);
  if (!map) return FALSE;
  std::fill(map, map + pcnt, NOTOK);
  for (LONG i = 0; i < ncnt; ++i) {
    const LONG* words = NodeAccess::NgonEdges(m_op, i);
    for (LONG k = 0, n = NodeAccess::NgonEdgeCount(m_op, i); k < n; ++k) {
      const LONG p = (words[k] & NGON_EDGE_MASK) >> 2;
      if (words[k] >= 0 && p < pcnt) map[p] = i;
    }
  }
  DropMap();
  m_pMap = map;
  m_mapPolygons = pcnt;
  m_mapNgons = ncnt;
  return TRUE;
}

Bool NgonBase::GetPolygonTranslationMap(LONG& ngoncnt, LONG*& polymap) {
  polymap = nullptr;
  ngoncnt = m_op->GetNgonCount();
  if (!MapReady() && !InitMap()) return FALSE;
  polymap = bNew(LONG, m_mapPolygons > 0 ? m_mapPolygons : 1);
  if (!polymap) return FALSE;
  std::copy(m_pMap, m_pMap + m_mapPolygons, polymap);
  return TRUE;
}

LONG NgonBase::BuildNgon(const LONG* inner, const LONG* outer, LONG icnt, LONG ocnt, const CPolygon* vadr,
                         const Vector* padr) {
  (void)padr;  // the polygons' point numbers are checked against the object's point count
  const LONG pcnt = m_op->GetPolygonCount();
  if (!vadr) vadr = m_op->GetPolygonR();
  if (ocnt < 1 || icnt < 0 || static_cast<LLONG>(ocnt) + icnt > 0x7FFFFFFF) return NOTOK;
  Scratch<LONG> edges, members, words;
  if (!edges.Alloc(ocnt) || !members.Alloc(LLONG(ocnt) + icnt)) return NOTOK;
  LONG edgeCount, segments, memberCount;
  if (ChainNgon(vadr, pcnt, m_op->GetPointCount(), outer, ocnt, inner, icnt, edges.Get(), &edgeCount, &segments,
                members.Get(), &memberCount) != NgonCheck::kOk)
    return NOTOK;
  if (!MapReady() && !InitMap()) return NOTOK;
  for (LONG i = 0; i < memberCount; ++i)
    if (m_pMap[members[i]] != NOTOK) return NOTOK;  // already in an n-gon
  if (!words.Alloc(LLONG(edgeCount) + memberCount)) return NOTOK;
  // Member entries for polygons without an outline edge; the map marks the others
  // for a moment.
  constexpr LONG kHasEdge = -2;
  LONG n = edgeCount;
  std::copy(edges.Get(), edges.Get() + edgeCount, words.Get());
  for (LONG i = 0; i < edgeCount; ++i) m_pMap[(edges[i] & NGON_EDGE_MASK) >> 2] = kHasEdge;
  for (LONG i = 0; i < memberCount; ++i)
    if (m_pMap[members[i]] != kHasEdge) words[n++] = members[i] * 4 | NGON_EDGE_MEMBER;
  const LONG index = m_op->GetNgonCount();
  const bool ok = NodeAccess::AppendNgon(m_op, words.Get(), n);
  for (LONG i = 0; i < memberCount; ++i) m_pMap[members[i]] = ok ? index : NOTOK;
  if (!ok) return NOTOK;
  m_mapNgons = index + 1;
  return index;
}

// --- PolygonObject ----------------------------------------------------------------------

NgonBase* PolygonObject::GetNgonBase() {
  if (!m_pNgonBase) m_pNgonBase = gNew NgonBase(this);
  return m_pNgonBase;
}

Bool PolygonObject::ResizeObject(LONG pcnt, LONG vcnt, LONG ncnt) {
  if (ncnt < 0 || !GetNgonBase() || !ResizeObject(pcnt, vcnt)) return FALSE;
  // Only a hint: the store grows as n-gons are built.
  if (ncnt > 0) NodeAccess::ReserveNgons(this, ncnt, 0);
  return TRUE;
}

void PolygonObject::DropNgonCaches() {
  bDelete(m_pPgons);
  bDelete(m_pPgonEdges);
  if (m_pNgonBase) m_pNgonBase->DropMap();
}

namespace {

struct HalfEdge {
  LLONG key;  // the two points, smaller first
  LONG from, to, polygon, side;
};

}  // namespace

Pgon* PolygonObject::GetAndBuildNgon() {
  bDelete(m_pPgons);
  bDelete(m_pPgonEdges);
  const LONG ncnt = m_ngonCount;
  if (ncnt == 0) return nullptr;
  const CPolygon* polys = GetPolygonR();
  const LONG pcnt = GetPolygonCount(), ptcnt = GetPointCount();
  LONG most = 0;
  for (LONG i = 0; i < ncnt; ++i) most = std::max(most, m_pNgonStart[i + 1] - m_pNgonStart[i]);
  const LLONG total = m_pNgonStart[ncnt];
  Scratch<Pgon> pgons;
  Scratch<PgonEdge> all;
  Scratch<LONG> edges, members;
  Scratch<HalfEdge> halves;
  if (!pgons.Alloc(ncnt) || !all.Alloc(5 * total) || !edges.Alloc(most) || !members.Alloc(most) ||
      !halves.Alloc(4 * VLONG(most)))
    return nullptr;
  LLONG used = 0;
  for (LONG i = 0; i < ncnt; ++i) {
    LONG edgeCount, segments, memberCount;
    if (ChainNgon(polys, pcnt, ptcnt, m_pNgonEdges + m_pNgonStart[i], m_pNgonStart[i + 1] - m_pNgonStart[i],
                  nullptr, 0, edges.Get(), &edgeCount, &segments, members.Get(), &memberCount) != NgonCheck::kOk)
      return nullptr;
    Pgon& pg = pgons[i];
    pg.m_Edge = all.Get() + used;
    pg.m_OutlineCount = edgeCount;
    pg.m_SegmentCount = segments;
    for (LONG k = 0; k < edgeCount; ++k) {
      const LONG e = edges[k] & NGON_EDGE_MASK;
      pg.m_Edge[k] = PgonEdge{e >> 2, e & 3,
                              PGONEDGE_OUTLINE | ((edges[k] & NGON_EDGE_SEGMENTEND) ? PGONEDGE_SEGMENTEND : 0)};
      edges[k] = e;
    }
    std::sort(edges.Get(), edges.Get() + edgeCount);
    // Inner edges: member sides, not on an outline, met from the other side by another
    // member.
    LONG h = 0;
    for (LONG m = 0; m < memberCount; ++m) {
      const CPolygon& q = polys[members[m]];
      for (LONG side = 0; side < 4; ++side) {
        if (side == 2 && q.c == q.d) continue;
        const LONG from = EdgeStart(q, side), to = EdgeEnd(q, side);
        if (from == to) continue;
        halves[h++] = HalfEdge{LLONG(std::min(from, to)) << 32 | std::max(from, to), from, to, members[m], side};
      }
    }
    std::sort(halves.Get(), halves.Get() + h, [](const HalfEdge& a, const HalfEdge& b) {
      return a.key != b.key ? a.key < b.key : a.polygon * 4 + a.side < b.polygon * 4 + b.side;
    });
    LONG count = edgeCount;
    for (LONG a = 0; a < h;) {
      LONG b = a;
      while (b < h && halves[b].key == halves[a].key) ++b;
      for (LONG x = a; x < b; ++x) {
        const HalfEdge& e = halves[x];
        if (std::binary_search(edges.Get(), edges.Get() + edgeCount, e.polygon * 4 + e.side)) continue;
        for (LONG y = a; y < b; ++y) {
          if (halves[y].polygon != e.polygon && halves[y].from == e.to && halves[y].to == e.from) {
            pg.m_Edge[count++] = PgonEdge{e.polygon, e.side, PGONEDGE_INNER};
            break;
          }
        }
      }
      a = b;
    }
    pg.m_Count = count;
    used += count;
  }
  m_pPgonEdges = all.Release();
  m_pPgons = pgons.Release();
  return m_pPgons;
}
