// Mesh tools of the host: adjacency, smoothed normals and texture projections.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "c4d.h"
#include "host_control.h"
#include "host_fixture.h"
#include "scene_helpers.h"

namespace {

using NeighborTest = HostTest;
using PhongTest = HostTest;
using ProjectionTest = HostTest;

// A 2 x 2 grid of quads in the XZ plane (points 0..8, row by row) and a triangle on
// the right border: polygons 0..3 the quads, 4 the triangle (2, 5, 9).
PolygonObject* GridWithTriangle() {
  PolygonObject* op = PolygonObject::Alloc(10, 5);
  if (!op) return nullptr;
  Vector* p = op->GetPointW();
  for (LONG j = 0; j < 3; ++j)
    for (LONG i = 0; i < 3; ++i) p[j * 3 + i] = Vector(i, 0, j);
  p[9] = Vector(3, 0, 0.5);
  CPolygon* v = op->GetPolygonW();
  v[0] = CPolygon(0, 3, 4, 1);
  v[1] = CPolygon(1, 4, 5, 2);
  v[2] = CPolygon(3, 6, 7, 4);
  v[3] = CPolygon(4, 7, 8, 5);
  v[4] = CPolygon(2, 5, 9);
  return op;
}

// A unit cube around the origin with outward quads.
PolygonObject* Cube() {
  PolygonObject* op = PolygonObject::Alloc(8, 6);
  if (!op) return nullptr;
  Vector* p = op->GetPointW();
  for (LONG i = 0; i < 8; ++i) p[i] = Vector(i & 1 ? 1 : -1, i & 2 ? 1 : -1, i & 4 ? 1 : -1);
  CPolygon* v = op->GetPolygonW();
  v[0] = CPolygon(0, 2, 3, 1);  // -z
  v[1] = CPolygon(4, 5, 7, 6);  // +z
  v[2] = CPolygon(0, 1, 5, 4);  // -y
  v[3] = CPolygon(2, 6, 7, 3);  // +y
  v[4] = CPolygon(0, 4, 6, 2);  // -x
  v[5] = CPolygon(1, 3, 7, 5);  // +x
  return op;
}

std::set<LONG> PointPolys(Neighbor& n, LONG point) {
  LONG* polys = nullptr;
  LONG count = 0;
  n.GetPointPolys(point, &polys, &count);
  return std::set<LONG>(polys, polys + count);
}

void ExpectNear(const SVector& s, const Vector& v, double tol = 1e-6) {
  EXPECT_NEAR(s.x, v.x, tol);
  EXPECT_NEAR(s.y, v.y, tol);
  EXPECT_NEAR(s.z, v.z, tol);
}

void ExpectUV(const Vector& got, double u, double v, double tol = 1e-9) {
  EXPECT_NEAR(got.x, u, tol);
  EXPECT_NEAR(got.y, v, tol);
}

TEST_F(NeighborTest, PointsEdgesAndSidesOfAGridWithATriangle) {
  ObjPtr op(GridWithTriangle());
  auto* mesh = static_cast<PolygonObject*>(op.get());
  Neighbor n;
  ASSERT_TRUE(n.Init(mesh->GetPointCount(), mesh->GetPolygonR(), mesh->GetPolygonCount()));

  EXPECT_EQ(PointPolys(n, 4), (std::set<LONG>{0, 1, 2, 3}));
  EXPECT_EQ(PointPolys(n, 2), (std::set<LONG>{1, 4}));
  EXPECT_EQ(PointPolys(n, 9), (std::set<LONG>{4}));
  EXPECT_TRUE(PointPolys(n, 10).empty());
  EXPECT_TRUE(PointPolys(n, -1).empty());

  // 12 grid edges plus the triangle's two outer sides.
  EXPECT_EQ(n.GetEdgeCount(), 14);

  LONG first, second;
  n.GetEdgePolys(5, 4, &first, &second);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 3);
  n.GetEdgePolys(0, 1, &first, &second);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, NOTOK);
  n.GetEdgePolys(0, 8, &first, &second);
  EXPECT_EQ(first, NOTOK);
  EXPECT_EQ(n.GetNeighbor(2, 5, 1), 4);
  EXPECT_EQ(n.GetNeighbor(2, 5, 4), 1);
  EXPECT_EQ(n.GetNeighbor(2, 5, 0), NOTOK);

  // Quad 3 = (4, 7, 8, 5): side 0 (4-7) borders quad 2, side 3 (5-4) quad 1, the others
  // are border sides.
  const PolyInfo* q = n.GetPolyInfo(3);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->face[0], 2);
  EXPECT_EQ(q->face[1], NOTOK);
  EXPECT_EQ(q->face[2], NOTOK);
  EXPECT_EQ(q->face[3], 1);
  EXPECT_FALSE(q->mark[0]);  // quad 2 has the edge first
  EXPECT_TRUE(q->mark[1]);
  EXPECT_EQ(q->edge[0], n.GetPolyInfo(2)->edge[2]);

  // The triangle (2, 5, 9) has sides 0, 1 and 3 (the closing edge 9-2), never 2.
  const PolyInfo* t = n.GetPolyInfo(4);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->face[0], 1);
  EXPECT_EQ(t->edge[2], NOTOK);
  EXPECT_NE(t->edge[3], NOTOK);
  EXPECT_EQ(n.GetPolyInfo(5), nullptr);

  // Every edge index is used, and each side's edge leads back to its polygon.
  std::set<LONG> edges;
  for (LONG i = 0; i < 5; ++i)
    for (LONG s = 0; s < 4; ++s)
      if (n.GetPolyInfo(i)->edge[s] != NOTOK) edges.insert(n.GetPolyInfo(i)->edge[s]);
  EXPECT_EQ(static_cast<LONG>(edges.size()), n.GetEdgeCount());
}

TEST_F(NeighborTest, SelectionLimitsThePolygonsAndBadIndicesAreRefused) {
  ObjPtr op(GridWithTriangle());
  auto* mesh = static_cast<PolygonObject*>(op.get());
  SelPtr bs(BaseSelect::Alloc());
  bs->Select(0);
  bs->Select(3);
  Neighbor n;
  ASSERT_TRUE(n.Init(mesh->GetPointCount(), mesh->GetPolygonR(), mesh->GetPolygonCount(), bs.get()));
  EXPECT_EQ(PointPolys(n, 4), (std::set<LONG>{0, 3}));
  EXPECT_EQ(n.GetPolyInfo(1), nullptr);
  EXPECT_EQ(n.GetEdgeCount(), 8);

  mesh->GetPolygonW()[2].c = 10;  // one past the last point
  EXPECT_FALSE(n.Init(mesh->GetPointCount(), mesh->GetPolygonR(), mesh->GetPolygonCount()));
  EXPECT_EQ(n.GetEdgeCount(), 0);
  EXPECT_EQ(n.GetPolyInfo(0), nullptr);
  mesh->GetPolygonW()[2].c = -1;
  EXPECT_FALSE(n.Init(mesh->GetPointCount(), mesh->GetPolygonR(), mesh->GetPolygonCount()));
}

TEST_F(NeighborTest, MissingMemoryFailsWithoutLeaks) {
  ObjPtr op(GridWithTriangle());
  auto* mesh = static_cast<PolygonObject*>(op.get());
  for (LLONG k = 1;; ++k) {
    Neighbor n;
    host::FailAllocationAt(k);
    const Bool ok = n.Init(mesh->GetPointCount(), mesh->GetPolygonR(), mesh->GetPolygonCount());
    const bool injected = host::AllocationsSinceArmed() >= k;
    host::ResetFaults();
    if (!injected) {
      EXPECT_TRUE(ok);
      break;
    }
    EXPECT_FALSE(ok) << "allocation " << k;
  }
}

TEST_F(PhongTest, NoNormalsWithoutANormalOrPhongTag) {
  ObjPtr op(Cube());
  EXPECT_EQ(static_cast<PolygonObject*>(op.get())->CreatePhongNormals(), nullptr);
}

TEST_F(PhongTest, AngleLimitKeepsCubeFacesFlatAndNoLimitRoundsTheCorners) {
  ObjPtr op(Cube());
  auto* cube = static_cast<PolygonObject*>(op.get());
  ASSERT_TRUE(cube->SetPhong(TRUE, TRUE, Rad(80.0)));
  SVector* normals = cube->CreatePhongNormals();
  ASSERT_NE(normals, nullptr);
  for (LONG k = 0; k < 4; ++k) ExpectNear(normals[4 * 3 + k], Vector(0, 1, 0));  // +y face
  for (LONG k = 0; k < 4; ++k) ExpectNear(normals[4 * 4 + k], Vector(-1, 0, 0));  // -x face
  GeFree(normals);

  // At exactly 90 degrees the neighbours join: corner normals point out of the corner.
  ASSERT_TRUE(cube->SetPhong(TRUE, TRUE, Rad(90.0)));
  normals = cube->CreatePhongNormals();
  ASSERT_NE(normals, nullptr);
  const Real s = 1.0 / std::sqrt(3.0);
  ExpectNear(normals[4 * 3 + 0], Vector(-s, s, -s));  // +y face, corner a = point 2
  GeFree(normals);

  ASSERT_TRUE(cube->SetPhong(TRUE, FALSE, 0.0));
  normals = cube->CreatePhongNormals();
  ASSERT_NE(normals, nullptr);
  ExpectNear(normals[4 * 5 + 2], Vector(s, s, s));  // +x face, corner c = point 7
  GeFree(normals);
}

TEST_F(PhongTest, NormalTagWinsWhenItFitsThePolygons) {
  ObjPtr op(Cube());
  auto* cube = static_cast<PolygonObject*>(op.get());
  ASSERT_TRUE(cube->SetPhong(TRUE, TRUE, Rad(80.0)));
  auto* tag = static_cast<NormalTag*>(cube->MakeVariableTag(Tnormal, 6));
  ASSERT_NE(tag, nullptr);
  NormalTag::Set(tag->GetDataAddressW(), 2, NormalStruct{Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1), Vector(0.6, 0.8, 0)});
  SVector* normals = cube->CreatePhongNormals();
  ASSERT_NE(normals, nullptr);
  ExpectNear(normals[8], Vector(1, 0, 0));
  ExpectNear(normals[11], Vector(0.6, 0.8, 0));
  ExpectNear(normals[0], Vector(0, 0, 0));
  GeFree(normals);

  // A tag of another size does not describe these polygons: smoothing is used.
  ASSERT_TRUE(tag->Resize(5));
  normals = cube->CreatePhongNormals();
  ASSERT_NE(normals, nullptr);
  ExpectNear(normals[8], Vector(0, -1, 0));
  GeFree(normals);
}

TEST_F(PhongTest, DegenerateAndBrokenPolygons) {
  ObjPtr op(Cube());
  auto* cube = static_cast<PolygonObject*>(op.get());
  ASSERT_TRUE(cube->SetPhong(TRUE, TRUE, Rad(30.0)));
  // Collapse the -z face to a line: it has no normal of its own and takes the average
  // of its neighbours; its neighbours ignore it.
  cube->GetPolygonW()[0] = CPolygon(0, 1, 1, 0);
  SVector* normals = cube->CreatePhongNormals();
  ASSERT_NE(normals, nullptr);
  ExpectNear(normals[4 * 2 + 0], Vector(0, -1, 0));
  const Real s = 1.0 / std::sqrt(2.0);
  ExpectNear(normals[0], Vector(-s, -s, 0));
  GeFree(normals);

  cube->GetPolygonW()[1].b = 99;
  EXPECT_EQ(cube->CreatePhongNormals(), nullptr);
}

// A quad of 2 x 2 units in the XY plane, centred on the origin, facing -Z.
PolygonObject* Square() {
  PolygonObject* op = PolygonObject::Alloc(4, 1);
  if (!op) return nullptr;
  Vector* p = op->GetPointW();
  p[0] = Vector(-1, -1, 0);
  p[1] = Vector(-1, 1, 0);
  p[2] = Vector(1, 1, 0);
  p[3] = Vector(1, -1, 0);
  op->GetPolygonW()[0] = CPolygon(0, 1, 2, 3);
  return op;
}

struct Projected {
  TagPtr tag;
  UVWStruct Get(LONG i) const { return static_cast<UVWTag*>(tag.get())->GetSlow(i); }
};

Projected Project(BaseObject* op, LONG projection, const Matrix& placement, const Matrix& opmg = Matrix()) {
  TagPtr tex(TextureTag::Alloc());
  auto* tp = static_cast<TextureTag*>(tex.get());
  tp->GetDataInstance()->SetLong(TEXTURETAG_PROJECTION, projection);
  tp->SetMl(placement);
  return Projected{TagPtr(GenerateUVW(op, opmg, tp, Matrix()))};
}

TEST_F(ProjectionTest, FlatMapsTheTextureSquareOntoZeroToOne) {
  ObjPtr op(Square());
  // A texture of size 1 covers the square exactly; v grows downwards.
  Projected r = Project(op.get(), TEXTURETAG_PROJECTION_FLAT, Placement(Vector(), Vector(1, 1, 1), Vector()));
  ASSERT_NE(r.tag, nullptr);
  EXPECT_EQ(r.tag->GetType(), Tuvw);
  EXPECT_EQ(r.tag->GetObject(), nullptr);
  const UVWStruct s = r.Get(0);
  ExpectUV(s.a, 0, 1);
  ExpectUV(s.b, 0, 0);
  ExpectUV(s.c, 1, 0);
  ExpectUV(s.d, 1, 1);

  // The object's matrix moves the points, the placement moves and scales the texture.
  Projected moved = Project(op.get(), TEXTURETAG_PROJECTION_FLAT, Placement(Vector(), Vector(2, 2, 2), Vector(1, 0, 0)),
                            Placement(Vector(), Vector(1, 1, 1), Vector(1, 0, 0)));
  ASSERT_NE(moved.tag, nullptr);
  ExpectUV(moved.Get(0).a, 0.25, 0.75);
  ExpectUV(moved.Get(0).c, 0.75, 0.25);
}

TEST_F(ProjectionTest, SphericalAndCylindricalWrapAroundTheYAxis) {
  // A ring of four quads around the Y axis at radius 1, height -1 .. 1.
  PolygonObject* ring = PolygonObject::Alloc(8, 4);
  ASSERT_NE(ring, nullptr);
  ObjPtr op(ring);
  Vector* p = ring->GetPointW();
  for (LONG k = 0; k < 4; ++k) {
    const Real angle = k * pi / 2;  // -z, +x, +z, -x
    p[k] = Vector(std::sin(angle), -1, -std::cos(angle));
    p[k + 4] = Vector(std::sin(angle), 1, -std::cos(angle));
  }
  for (LONG k = 0; k < 4; ++k) ring->GetPolygonW()[k] = CPolygon(k, k + 4, (k + 1) % 4 + 4, (k + 1) % 4);

  Projected cyl = Project(op.get(), TEXTURETAG_PROJECTION_CYLINDRICAL, Matrix());
  ASSERT_NE(cyl.tag, nullptr);
  ExpectUV(cyl.Get(0).a, 0.5, 1);
  ExpectUV(cyl.Get(0).b, 0.5, 0);
  ExpectUV(cyl.Get(0).c, 0.75, 0);
  // The quad from +z to -x crosses the seam at u = 0 / 1: its corners stay together.
  ExpectUV(cyl.Get(2).a, 1.0, 1);
  ExpectUV(cyl.Get(2).d, 1.25, 1);

  Projected sph = Project(op.get(), TEXTURETAG_PROJECTION_SPHERICAL, Matrix());
  ASSERT_NE(sph.tag, nullptr);
  // A point at 45 degrees above the equator lies a quarter of the way from the top.
  ExpectUV(sph.Get(0).b, 0.5, 0.25);
  ExpectUV(sph.Get(1).a, 0.75, 0.75);
}

TEST_F(ProjectionTest, CubicPicksTheDominantAxisAndUvwCopiesTheTag) {
  ObjPtr op(Cube());
  auto* cube = static_cast<PolygonObject*>(op.get());
  Projected r = Project(op.get(), TEXTURETAG_PROJECTION_CUBIC, Matrix());
  ASSERT_NE(r.tag, nullptr);
  // Every face spans the whole texture: its corners sit at the texture's corners.
  for (LONG i = 0; i < 6; ++i) {
    const UVWStruct s = r.Get(i);
    for (const Vector& uv : {s.a, s.b, s.c, s.d}) {
      EXPECT_TRUE(uv.x == 0.0 || uv.x == 1.0) << "face " << i;
      EXPECT_TRUE(uv.y == 0.0 || uv.y == 1.0) << "face " << i;
    }
    EXPECT_FALSE(s.a.x == s.c.x && s.a.y == s.c.y) << "face " << i;
  }

  // UVW mapping needs the object's own UVW tag, and copies it.
  EXPECT_EQ(Project(op.get(), TEXTURETAG_PROJECTION_UVW, Matrix()).tag, nullptr);
  auto* own = static_cast<UVWTag*>(cube->MakeVariableTag(Tuvw, 6));
  ASSERT_NE(own, nullptr);
  own->SetSlow(4, UVWStruct{Vector(0.1, 0.2, 0), Vector(0.3, 0.4, 0), Vector(0.5, 0.6, 0), Vector(0.7, 0.8, 0)});
  Projected copy = Project(op.get(), TEXTURETAG_PROJECTION_UVW, Matrix());
  ASSERT_NE(copy.tag, nullptr);
  ExpectUV(copy.Get(4).c, 0.5, 0.6, 1e-6);
}

TEST_F(ProjectionTest, RefusesWhatItCannotProject) {
  ObjPtr op(Square());
  static_cast<PolygonObject*>(op.get())->GetPolygonW()[0].d = 4;
  EXPECT_EQ(Project(op.get(), TEXTURETAG_PROJECTION_FLAT, Matrix()).tag, nullptr);
  ObjPtr null(BaseObject::Alloc(Onull));
  EXPECT_EQ(Project(null.get(), TEXTURETAG_PROJECTION_FLAT, Matrix()).tag, nullptr);
  EXPECT_EQ(GenerateUVW(op.get(), Matrix(), nullptr, Matrix()), nullptr);
}

}  // namespace
