// Smoothed corner normals of a polygon object, as the host shades it.
#include <cmath>
#include <cstdint>
#include <type_traits>

#include "c4d_baseobject.h"
#include "c4d_basetag.h"
#include "c4d_memory.h"
#include "c4d_tools.h"

namespace {

// Zero-filled vectors from the host allocator (the zero pattern is the zero vector);
// null on failure or overflow.
template <class V>
V* AllocVectors(VLONG count) {
  static_assert(std::is_trivially_copyable_v<V>, "plain vectors only");
  if (count < 0 || static_cast<VULONG>(count) > static_cast<VULONG>(PTRDIFF_MAX) / sizeof(V)) return nullptr;
  return static_cast<V*>(GeAlloc(count * static_cast<VLONG>(sizeof(V))));
}

// Unit normal of a polygon from its diagonals (for a triangle c == d, which gives the
// triangle's normal); the zero vector for a degenerate polygon.
Vector FaceNormal(const Vector* points, const CPolygon& p) {
  const Vector n = (points[p.c] - points[p.a]) % (points[p.d] - points[p.b]);
  const Real len = Len(n);
  return len > 0.0 ? n * (1.0 / len) : Vector();
}

SVector ToSVector(const Vector& v) {
  return SVector{static_cast<SReal>(v.x), static_cast<SReal>(v.y), static_cast<SReal>(v.z)};
}

SVector* NormalsFromTag(const NormalTag* tag, LONG polygonCount) {
  SVector* normals = AllocVectors<SVector>(VLONG(polygonCount) * 4);
  if (!normals) return nullptr;
  ConstNormalHandle handle = tag->GetDataAddressR();
  for (LONG i = 0; i < polygonCount; ++i) {
    NormalStruct n;
    NormalTag::Get(handle, i, n);
    normals[4 * i + 0] = ToSVector(n.a);
    normals[4 * i + 1] = ToSVector(n.b);
    normals[4 * i + 2] = ToSVector(n.c);
    normals[4 * i + 3] = ToSVector(n.d);
  }
  return normals;
}

}  // namespace

SVector* PolygonObject::CreatePhongNormals() const {
  const LONG polygonCount = GetPolygonCount(), pointCount = GetPointCount();
  if (polygonCount <= 0) return nullptr;

  const auto* normalTag = static_cast<const NormalTag*>(GetTag(Tnormal));
  if (normalTag && normalTag->GetDataCount() == polygonCount) return NormalsFromTag(normalTag, polygonCount);

  const BaseTag* phong = GetTag(Tphong);
  if (!phong) return nullptr;
  const BaseContainer* bc = phong->GetDataInstance();
  // A small tolerance keeps faces at exactly the limit angle together.
  const Real minCos = bc->GetBool(PHONGTAG_PHONG_ANGLELIMIT) ? std::cos(bc->GetReal(PHONGTAG_PHONG_ANGLE)) - 1e-9 : -2.0;

  const CPolygon* polygons = GetPolygonR();
  const Vector* points = GetPointR();
  Neighbor neighbor;
  Vector* faceNormals = AllocVectors<Vector>(polygonCount);
  SVector* normals = AllocVectors<SVector>(VLONG(polygonCount) * 4);
  if (!faceNormals || !normals || !neighbor.Init(pointCount, polygons, polygonCount)) {
    bDelete(faceNormals);
    bDelete(normals);
    return nullptr;
  }
  for (LONG i = 0; i < polygonCount; ++i) faceNormals[i] = FaceNormal(points, polygons[i]);

  for (LONG i = 0; i < polygonCount; ++i) {
    const Vector& own = faceNormals[i];
    const bool degenerate = own == Vector();
    const LONG corners[4] = {polygons[i].a, polygons[i].b, polygons[i].c, polygons[i].d};
    for (LONG k = 0; k < 4; ++k) {
      LONG* around = nullptr;
      LONG count = 0;
      neighbor.GetPointPolys(corners[k], &around, &count);
      Vector sum = own;
      for (LONG j = 0; j < count; ++j) {
        const LONG q = around[j];
        if (q == i) continue;
        const Vector& other = faceNormals[q];
        if (other == Vector()) continue;
        if (degenerate || own * other >= minCos) sum += other;
      }
      normals[4 * i + k] = ToSVector(!sum);
    }
  }
  bDelete(faceNormals);
  return normals;
}
