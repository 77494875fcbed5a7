// Covering one closed outline with triangles and quads (the modeling library's n-gon
// split). Internal to the host.
#pragma once

#include "c4d_baseobject.h"

enum class CoverResult { kOk, kBadOutline, kNoMemory };

// Covers the outline pts[0..n) (n >= 3, in order, distinct corners) with polygons whose
// corners are outline numbers 0..n-1. The outline is projected onto its best-fit plane
// (Newell normal); the cover uses every corner, adds none, and every polygon turns the
// same way as the outline. Pairs of triangles that form a convex, planar quad become
// one quad. out needs room for n - 2 polygons; *count receives how many were written.
// kBadOutline: degenerate (no area, coinciding corners, spikes) or not simple in the
// projection; nothing useful is in out then.
CoverResult CoverOutline(const Vector* pts, LONG n, CPolygon* out, LONG* count);
