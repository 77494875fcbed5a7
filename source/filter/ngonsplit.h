// Splitting large faces into the host's triangles and quads.
#pragma once

#include "c4d.h"
#include "lib_modeling.h"

// Covers outlines with the polygons of the host's modeling library, one outline at a
// time, with one modeling session and one scratch object for all of them: a file of
// many n-gons would otherwise make and free both for each. One per thread.
class NgonSplitter {
 public:
  NgonSplitter() = default;
  NgonSplitter(const NgonSplitter&) = delete;
  NgonSplitter& operator=(const NgonSplitter&) = delete;
  ~NgonSplitter();

  // The polygons covering the outline through cornerCount positions, their corners
  // numbered 0 .. cornerCount - 1 in outline order, valid until the next call; *count
  // is their number. Null when the outline cannot be covered, or when memory is
  // missing (then *outOfMemory is set).
  const CPolygon* Split(LONG cornerCount, const Vector* corners, LONG* count, Bool* outOfMemory);

 private:
  Modeling* m_modeling = nullptr;
  PolygonObject* m_object = nullptr;
  LONG* m_ids = nullptr;
  LONG m_idRoom = 0;
};
