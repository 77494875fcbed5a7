// The face and segment records of the interchange model. One face layout (84 bytes,
// 21 words) serves both directions: the OBJ reader stores its triangles and quads as
// ObjFace, the export gatherer its host polygons as ioFace.
#pragma once

#include "c4d.h"

struct ioFace {
  ULONG flags;       // FACE_HAS_UVS, FACE_HAS_NORMALS
  LONG material;     // material entry index
  LONG reserved;     // left for the scene builder
  LONG meshObj;      // mesh object entry index (export: the mesh's object index)
  LONG group;        // group entry index
  LONG region;       // region entry index
  LONG sequence;     // the face's own index in its table
  LONG ngon;         // left for the scene builder (export: n-gon index)
  LONG v[4];         // vertex indices a, b, c, d; a triangle repeats c in d
  LONG vt[4];        // texture-coordinate indices, same layout; 0 without
  LONG vn[4];        // normal indices, same layout; 0 without
  LONG cornerCount;  // 3 or 4
};
static_assert(sizeof(ioFace) == 84, "the face record is 21 words");
typedef ioFace ObjFace;

enum : ULONG {
  FACE_HAS_NORMALS = 0x40,
  FACE_HAS_UVS = 0x80,
};

// One "l" line element of the OBJ reader. The three arrays hold pointCount words each
// and are owned by the record; the texture and normal words are always zero.
struct ObjSegment {
  ULONG flags;  // always 0
  LONG material;
  LONG reserved;  // left for the scene builder
  LONG meshObj;
  LONG group;
  LONG region;
  LONG sequence;
  LONG* points;
  LONG* pointUVs;
  LONG* pointNormals;
  LONG pointCount;
};
