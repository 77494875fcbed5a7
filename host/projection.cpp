// Texture projections: the texture coordinates a texture tag gives a polygon object.
// Points are taken into the texture's space, where the texture spans -1 .. 1 on each
// axis (its size is the length of the placement axes), and mapped to u, v in 0 .. 1 with
// v growing downwards. A polygon naming a point that does not exist makes the projection
// fail.
#include <cmath>

#include "c4d_baseobject.h"
#include "c4d_basetag.h"
#include "c4d_memory.h"
#include "c4d_tools.h"

namespace {

constexpr Real kTwoPi = 2.0 * pi;

Vector Flat(const Vector& q) { return Vector((q.x + 1.0) * 0.5, (1.0 - q.y) * 0.5, 0.0); }

// Angle around the texture's Y axis: 0.5 straight ahead (-Z), growing towards +X.
Real Around(const Vector& q) { return 0.5 + std::atan2(q.x, -q.z) / kTwoPi; }

bool OnAxis(const Vector& q) { return q.x == 0.0 && q.z == 0.0; }

Vector Cylindrical(const Vector& q) { return Vector(Around(q), (1.0 - q.y) * 0.5, 0.0); }

Vector Spherical(const Vector& q) {
  const Real len = Len(q);
  const Real lat = len > 0.0 ? std::asin(q.y / len) : 0.0;
  return Vector(Around(q), 0.5 - lat / pi, 0.0);
}

// Each polygon is projected flat along the texture axis its normal points most along.
Vector Cubic(const Vector& q, const Vector& normal) {
  const Real ax = std::fabs(normal.x), ay = std::fabs(normal.y), az = std::fabs(normal.z);
  if (ax >= ay && ax >= az) return Vector(((normal.x > 0 ? -q.z : q.z) + 1.0) * 0.5, (1.0 - q.y) * 0.5, 0.0);
  if (ay >= az) return Vector((q.x + 1.0) * 0.5, ((normal.y > 0 ? q.z : -q.z) + 1.0) * 0.5, 0.0);
  return Vector(((normal.z > 0 ? -q.x : q.x) + 1.0) * 0.5, (1.0 - q.y) * 0.5, 0.0);
}

// Around-the-axis projections wrap at u = 0 / 1: a polygon across the seam takes its
// corners to the same side, and a corner on the axis (a pole) takes the mean u of the
// polygon's other corners.
void MendWrap(Vector uv[4], const Vector q[4], LONG corners) {
  Real lo = 2.0, hi = -1.0;
  for (LONG k = 0; k < corners; ++k) {
    if (OnAxis(q[k])) continue;
    lo = std::fmin(lo, uv[k].x);
    hi = std::fmax(hi, uv[k].x);
  }
  if (hi < lo) return;
  if (hi - lo > 0.5)
    for (LONG k = 0; k < corners; ++k)
      if (!OnAxis(q[k]) && uv[k].x < 0.5) uv[k].x += 1.0;
  Real sum = 0.0;
  LONG off = 0;
  for (LONG k = 0; k < corners; ++k)
    if (!OnAxis(q[k])) sum += uv[k].x, ++off;
  for (LONG k = 0; k < corners; ++k)
    if (OnAxis(q[k])) uv[k].x = sum / off;
}

UVWTag* CopyUVW(const PolygonObject* op) {
  const auto* own = static_cast<const UVWTag*>(op->GetTag(Tuvw));
  const LONG count = op->GetPolygonCount();
  if (!own || own->GetDataCount() != count) return nullptr;
  UVWTag* tag = UVWTag::Alloc(count);
  if (!tag) return nullptr;
  ConstUVWHandle src = own->GetDataAddressR();
  UVWHandle dst = tag->GetDataAddressW();
  for (LONG i = 0; i < count; ++i) {
    UVWStruct s;
    UVWTag::Get(src, i, s);
    UVWTag::Set(dst, i, s);
  }
  return tag;
}

}  // namespace

UVWTag* GenerateUVW(BaseObject* op, const Matrix& opmg, TextureTag* tp, const Matrix& texopmg, BaseView*) {
  if (!op || !tp || op->GetType() != Opolygon) return nullptr;
  const auto* mesh = static_cast<const PolygonObject*>(op);
  const LONG projection = tp->GetDataInstance()->GetLong(TEXTURETAG_PROJECTION);
  if (projection == TEXTURETAG_PROJECTION_UVW) return CopyUVW(mesh);

  const LONG count = mesh->GetPolygonCount();
  UVWTag* tag = UVWTag::Alloc(count);
  if (!tag) return nullptr;
  const Matrix toTexture = !(texopmg * tp->GetMl()) * opmg;
  const Vector* points = mesh->GetPointR();
  const CPolygon* polygons = mesh->GetPolygonR();
  const LONG pointCount = mesh->GetPointCount();
  for (LONG i = 0; i < count; ++i) {
    const CPolygon& p = polygons[i];
    if (p.a < 0 || p.b < 0 || p.c < 0 || p.d < 0 ||
        p.a >= pointCount || p.b >= pointCount || p.c >= pointCount || p.d >= pointCount) {
      BaseTag* drop = tag;
      BaseTag::Free(drop);
      return nullptr;
    }
  }
  UVWHandle handle = tag->GetDataAddressW();
  for (LONG i = 0; i < count; ++i) {
    const CPolygon& p = polygons[i];
    const LONG index[4] = {p.a, p.b, p.c, p.d};
    Vector q[4], uv[4];
    for (LONG k = 0; k < 4; ++k) q[k] = toTexture * points[index[k]];
    const Vector normal = (q[2] - q[0]) % (q[3] - q[1]);
    for (LONG k = 0; k < 4; ++k) {
      switch (projection) {
        case TEXTURETAG_PROJECTION_SPHERICAL: uv[k] = Spherical(q[k]); break;
        case TEXTURETAG_PROJECTION_CYLINDRICAL: uv[k] = Cylindrical(q[k]); break;
        case TEXTURETAG_PROJECTION_CUBIC: uv[k] = Cubic(q[k], normal); break;
        default: uv[k] = Flat(q[k]); break;
      }
    }
    if (projection == TEXTURETAG_PROJECTION_SPHERICAL || projection == TEXTURETAG_PROJECTION_CYLINDRICAL)
      MendWrap(uv, q, p.c == p.d ? 3 : 4);
    if (p.c == p.d) uv[3] = uv[2];
    UVWTag::Set(handle, i, UVWStruct{uv[0], uv[1], uv[2], uv[3]});
  }
  return tag;
}
