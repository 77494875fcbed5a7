// Mesh tools: adjacency of a polygon mesh (Neighbor) and texture projection (GenerateUVW).
#pragma once

#include "c4d_basetag.h"
#include "ge_types.h"

class BaseObject;
class BaseSelect;
class BaseView;
struct CPolygon;

// What lies across each side of one polygon. Sides follow the polygon's corners: 0 a-b,
// 1 b-c, 2 c-d, 3 d-a; a triangle (c == d) has no side 2, and its closing edge c-a is
// side 3. Sides that do not exist hold NOTOK in face and edge.
struct PolyInfo {
  LONG face[4];  // the polygon across the side, or NOTOK for a border side
  LONG edge[4];  // the edge's index (0 .. GetEdgeCount() - 1)
  Bool mark[4];  // true on the first polygon (lowest index) that has the edge
};

// Adjacency of a polygon mesh: the polygons around each point, and the edges and
// neighbours of each polygon. Built once by Init; the queries then cost no allocation.
class Neighbor {
 public:
  Neighbor() = default;
  ~Neighbor();
  Neighbor(const Neighbor&) = delete;
  Neighbor& operator=(const Neighbor&) = delete;

  // Builds the adjacency of vcnt polygons over pcnt points; with bs, only the selected
  // polygons take part. False when memory is missing or a polygon names a point outside
  // 0 .. pcnt - 1 (the previous adjacency is then gone).
  Bool Init(LONG pcnt, const CPolygon* vadr, LONG vcnt, const BaseSelect* bs = nullptr);

  // The polygons that use point pnt, in ascending order; *dcnt = 0 for a point out of
  // range or used by no polygon.
  void GetPointPolys(LONG pnt, LONG** dadr, LONG* dcnt);
  // The first two polygons that have the edge a-b (in either direction), or NOTOK.
  void GetEdgePolys(LONG a, LONG b, LONG* first, LONG* second);
  // The polygon other than poly across the edge a-b, or NOTOK.
  LONG GetNeighbor(LONG a, LONG b, LONG poly);
  // Sides of polygon poly; null when poly is out of range or did not take part.
  PolyInfo* GetPolyInfo(LONG poly);
  // Number of distinct edges.
  LONG GetEdgeCount() const { return m_edgeCount; }

 private:
  struct Edge {
    LONG a, b;  // a < b
    LONG first, second;
  };
  void Clear();
  const Edge* FindEdge(LONG a, LONG b) const;

  LONG m_pointCount = 0, m_polyCount = 0, m_edgeCount = 0;
  LONG* m_pPointStart = nullptr;  // point i's polygons: m_pPointPolys[start[i] .. start[i + 1])
  LONG* m_pPointPolys = nullptr;
  PolyInfo* m_pInfo = nullptr;
  Bool* m_pUsed = nullptr;
  Edge* m_pEdges = nullptr;  // sorted by (a, b)
};

// A new UVW tag (not inserted) with the texture coordinates that the texture tag's
// projection gives for the polygon object op: UVW mapping copies op's own UVW tag,
// flat, cubic, spherical and cylindrical project the points, placed by op's global
// matrix opmg, into the texture's space (texopmg × the tag's placement, whose axes'
// lengths are the texture's size). Frontal, spatial and the others project as flat.
// The tag's offsets and lengths (tiling) are not applied. Null when op is not a polygon
// object, UVW mapping finds no UVW tag, or memory is missing.
UVWTag* GenerateUVW(BaseObject* op, const Matrix& opmg, TextureTag* tp, const Matrix& texopmg,
                    BaseView* view = nullptr);
