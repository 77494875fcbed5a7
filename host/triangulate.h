// Covering one closed outline with triangles and quads (the modeling library's n-gon
// split). Internal to the host.
#pragma once

#include "c4d_baseobject.h"

enum class CoverResult { kOk, kBadOutline, kNoMemory };

// Covers the outline pts[0..n) (n >= 3, in order) with polygons whose corners are
// outline numbers 0..n-1. The outline is projected onto its best-fit plane (Newell
// normal); the cover uses only outline corners, adds none, every polygon turns the same
// way as the outline and each outline edge (corner c to c + 1) is the side of exactly
// one polygon. Corners may share a place when they are equal in space and not
// neighbours, as long as the outline only touches itself there (a hole joined by a
// bridge walked both ways, loops meeting at a corner); no polygon then has two corners
// at one place. Pairs of triangles that form a convex, planar quad become one quad. out
// needs room for n - 2 polygons; *count receives how many were written. sides (room for
// n) receives, for each outline edge c, the polygon side along it as polygon x 4 + side
// (polygon counted from out; by place where corners share one). kBadOutline:
// degenerate (no area, neighbours at one place, corners at one place in the projection
// only, spikes) or crossing itself in the projection; nothing useful is in out then.
CoverResult CoverOutline(const Vector* pts, LONG n, CPolygon* out, LONG* count, LONG* sides);
