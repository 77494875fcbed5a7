// The modeling library: new points and n-gons for polygon objects, split into
// triangles and quads when committed, and the n-gon outline reader.
#pragma once

#include "c4d_baseobject.h"
#include "lib_ngon.h"

struct ModelingObject;

class Modeling {
 public:
  // Null when memory is missing.
  static Modeling* Alloc();
  static void Free(Modeling*& p);

  // Starts work on a polygon object (again: its pending additions are dropped). flags
  // are reserved (0). False for anything but a polygon object, or without memory.
  Bool InitObject(BaseObject* op, LONG flags = 0);
  // Drops the object's pending additions and forgets it.
  void ReleaseObject(BaseObject* op);

  // A new point at p, committed with the object. Returns its id for CreateNgon: -1 for
  // the first point added since InitObject or the last Commit, -2 for the next, ...
  // (existing points are named by their index >= 0). 0 when op is not initialised or
  // memory is missing.
  LONG AddPoint(BaseObject* op, const Vector& p);
  // A new n-gon over count points, named by existing indices or AddPoint ids, in outline
  // order. Returns a nonzero id (1 for the first since InitObject or the last Commit,
  // ...), 0 when op is not initialised, count < 3, an id names no point, or memory is
  // missing. flags are reserved (0).
  LONG CreateNgon(BaseObject* op, const LONG* points, LONG count, LONG flags = 0);

  // Writes the pending additions into the object (op null: into every initialised
  // object, in the order they were initialised, stopping at the first failure). The
  // added points follow the existing ones; each new n-gon becomes polygons appended
  // after the existing ones:
  // - repeated neighbouring corners (the same point twice in a row) count once;
  // - 3 or 4 corners: that one polygon, as given;
  // - more: triangles and quads that exactly cover the outline projected onto its
  //   best-fit plane (Newell normal), using every corner and no other point, each
  //   turning the way the outline turns; two triangles that form a convex, planar quad
  //   become that quad. Collinear corners are kept. The n-gon is also recorded in the
  //   object's n-gon store (one outline over the polygons it made).
  // - an outline may come back to a point it passed before (the same id again, or a
  //   point at the same place) where it only touches itself: a hole joined to the
  //   outside by a bridge walked once each way, or loops meeting at one corner. The
  //   cover then leaves out the hole, uses each side of a bridge once and makes no
  //   polygon with two corners at one place. A cut into the inside, walked there and
  //   back, counts as a bridge. Where different points share a place, a polygon
  //   corner there may name any of them.
  // An outline that cannot be covered fails the commit, and the object is left exactly
  // as it was: fewer than 3 distinct points, all corners on one line or no area,
  // neighbouring corners at one place, two corners at one place in the projection but
  // not in space (a folded non-planar outline), a spike out of the outline, an outline
  // that crosses itself (also where it comes back to a point), or one that runs along
  // itself other than over a bridge. Memory failure likewise.
  // flags are reserved (0). cobj: when given (with op), the result goes into that
  // polygon object instead (its points, polygons and n-gons become op's plus the
  // additions) and op is left unchanged. After a commit the object stays initialised
  // with nothing pending (ids start again at -1 and 1).
  Bool Commit(BaseObject* op = nullptr, LONG flags = 0, BaseObject* cobj = nullptr);

  // Reads n-gon `index` of an initialised object, index = polygon count + n-gon number:
  // its outline points, outline by outline (see Ngon). False when op is not
  // initialised, the index names no n-gon, the stored edges do not form closed outlines,
  // or memory is missing.
  Bool GetNgon(BaseObject* op, LONG index, Ngon* ngon);

  Modeling(const Modeling&) = delete;
  Modeling& operator=(const Modeling&) = delete;
  ~Modeling();

 private:
  Modeling() = default;
  ModelingObject* Find(BaseObject* op) const;
  Bool CommitOne(ModelingObject* mo, BaseObject* cobj);

  ModelingObject* m_pObjects = nullptr;
};
