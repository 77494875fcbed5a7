// N-gons of polygon objects: the builder (NgonBase), the outline read back (Ngon) and
// the edge lists for exporters (Pgon, from PolygonObject::GetAndBuildNgon).
//
// An n-gon is a set of the object's polygons with one or more closed outlines (the
// first is the outer one, the others are holes). It is stored as edge words: polygon
// x 4 + side, where side 0 is a->b, 1 b->c, 2 c->d and 3 d->a (a triangle's closing
// edge c->a is side 3). NGON_EDGE_SEGMENTEND marks the last edge of an outline;
// NGON_EDGE_MEMBER names a member polygon that has no outline edge. N-gon number i of
// an object with p polygons has the id p + i.
#pragma once

#include "c4d_baseobject.h"

enum : LONG {
  NGON_EDGE_SEGMENTEND = 0x20000000,
  NGON_EDGE_MEMBER = 0x40000000,
  NGON_EDGE_MASK = 0x1FFFFFFF,  // polygon x 4 + side
};

// One n-gon's outline points, read back through Modeling::GetNgon: the points of every
// outline in order (outer outline first), segments[i] points for outline i. The Ngon
// owns its arrays; Free (or the destructor) releases them.
class Ngon {
 public:
  Ngon() = default;
  Ngon(const Ngon&) = delete;
  Ngon& operator=(const Ngon&) = delete;
  ~Ngon() { Free(); }
  // Room for cnt points in segcnt segments (old content freed); false when memory is
  // missing, and then the Ngon is empty.
  Bool Alloc(LONG cnt, LONG segcnt);
  void Free();

  LONG* points = nullptr;
  LONG count = 0;
  LONG* segments = nullptr;
  LONG segcount = 0;
};

// One edge of a Pgon.
enum : LONG {
  PGONEDGE_OUTLINE = 1,     // on an outline of the n-gon
  PGONEDGE_INNER = 2,       // shared by two member polygons
  PGONEDGE_SEGMENTEND = 4,  // the last outline edge of its segment
};
struct PgonEdge {
  LONG polygon;
  LONG side;  // 0 a->b, 1 b->c, 2 c->d, 3 d->a
  LONG flags;
  LONG GetPolygon() const { return polygon; }
  LONG GetSide() const { return side; }
  Bool IsOutline() const { return (flags & PGONEDGE_OUTLINE) != 0; }
  Bool IsInner() const { return (flags & PGONEDGE_INNER) != 0; }
  Bool IsSegmentEnd() const { return (flags & PGONEDGE_SEGMENTEND) != 0; }
};

// The edges of one n-gon: first the outline edges, segment by segment, each segment
// chained (an edge starts where the one before it ended, the last ends where the first
// starts), then the inner edges (every side of a member polygon whose reverse belongs to
// another member polygon; so each inner edge appears once from each side).
struct Pgon {
  PgonEdge* m_Edge;
  LONG m_Count;         // all edges
  LONG m_OutlineCount;  // the first m_OutlineCount edges
  LONG m_SegmentCount;

  LONG GetCount() const { return m_Count; }
  LONG GetOutlineCount() const { return m_OutlineCount; }
  LONG GetSegmentCount() const { return m_SegmentCount; }
  const PgonEdge* GetEdge(LONG i) const { return i >= 0 && i < m_Count ? &m_Edge[i] : nullptr; }
};

// The n-gon builder of one polygon object (PolygonObject::GetNgonBase). Build after the
// preparation call PolygonObject::ResizeObject(pcnt, vcnt, ncnt) and finish with
// InitMap().
class NgonBase {
 public:
  ~NgonBase();
  NgonBase(const NgonBase&) = delete;
  NgonBase& operator=(const NgonBase&) = delete;

  // The number of n-gons of the object.
  LONG GetCount() const;
  // Adds an n-gon and returns its number (0-based), or NOTOK when the input is refused
  // or memory is missing; the object's n-gons are then unchanged.
  // outer: ocnt edge words (outline edges with NGON_EDGE_SEGMENTEND after the last edge
  // of every outline, the final mark may be missing; NGON_EDGE_MEMBER entries for member
  // polygons without an outline edge). inner: icnt edge words of inner edges (their
  // polygons become members). vadr and padr are the object's polygons and points (null:
  // the object's own). Refused: a polygon outside the object, a side 2 on a triangle, a
  // polygon point outside the points, an edge given twice, an outline of fewer than 3
  // edges or one that does not close into a loop (edges within an outline may come in
  // any order: they are chained), and a polygon that already belongs to another n-gon.
  LONG BuildNgon(const LONG* inner, const LONG* outer, LONG icnt, LONG ocnt, const CPolygon* vadr,
                 const Vector* padr);
  // The closing call after building: brings the polygon -> n-gon map up to date. False
  // when memory is missing.
  Bool InitMap();
  // polymap: a new block (caller frees it with bDelete) with, per polygon, the number of
  // its n-gon or NOTOK; ngoncnt: the n-gon count. False when memory is missing (polymap
  // null then).
  Bool GetPolygonTranslationMap(LONG& ngoncnt, LONG*& polymap);

 private:
  friend class PolygonObject;
  explicit NgonBase(PolygonObject* op) : m_op(op) {}
  void DropMap();
  bool MapReady() const;

  PolygonObject* m_op;
  LONG* m_pMap = nullptr;  // per polygon: n-gon number or NOTOK
  LONG m_mapPolygons = 0;
  LONG m_mapNgons = 0;
};
