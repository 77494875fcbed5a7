// The modeling library: n-gons committed as triangles and quads that cover the outline
// exactly, failures that leave the object alone, and the n-gon outline reader.
#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "c4d.h"
#include "host_fixture.h"
#include "scene_helpers.h"
#include "scene_internal.h"

namespace {

using Outline = std::vector<Vector>;

Vector Newell(const Outline& pts) {
  Vector n;
  for (size_t i = 0; i < pts.size(); ++i) n += pts[i] % pts[(i + 1) % pts.size()];
  return n * 0.5;
}

// --- outlines in the XY plane ---------------------------------------------------------

Outline Regular(int n, Real r = 1) {
  Outline o;
  for (int i = 0; i < n; ++i) o.emplace_back(r * std::cos(2 * pi * i / n), r * std::sin(2 * pi * i / n), 0);
  return o;
}

Outline Star(int spikes, Real inner, Real outer) {
  Outline o;
  for (int i = 0; i < 2 * spikes; ++i) {
    const Real r = i % 2 ? inner : outer, a = pi * i / spikes;
    o.emplace_back(r * std::cos(a), r * std::sin(a), 0);
  }
  return o;
}

// A bar along the bottom with teeth pointing up: 4 x teeth corners, collinear runs
// along the gaps' floor and the teeth tops.
Outline Comb(int teeth) {
  Outline o{Vector(0, 0, 0), Vector(2 * teeth - 1, 0, 0)};
  for (int j = teeth - 1; j >= 0; --j) {
    o.emplace_back(2 * j + 1, 5, 0);
    o.emplace_back(2 * j, 5, 0);
    if (j > 0) {
      o.emplace_back(2 * j, 1, 0);
      o.emplace_back(2 * j - 1, 1, 0);
    }
  }
  return o;
}

// A band winding around a centre: out along one spiral edge, back along the other.
Outline Spiral(int steps, Real turns) {
  Outline outer, o;
  for (int i = 0; i <= steps; ++i) {
    const Real t = 2 * pi * turns * i / steps, r = 5 + t;
    outer.emplace_back(r * std::cos(t), r * std::sin(t), 0);
  }
  o = outer;
  for (int i = steps; i >= 0; --i) {
    const Real t = 2 * pi * turns * i / steps, r = 2 + t;
    o.emplace_back(r * std::cos(t), r * std::sin(t), 0);
  }
  return o;
}

// A square whose sides carry extra corners on a line.
Outline SubdividedSquare(int perSide) {
  Outline o;
  const Vector c[4] = {Vector(0, 0, 0), Vector(4, 0, 0), Vector(4, 4, 0), Vector(0, 4, 0)};
  for (int s = 0; s < 4; ++s)
    for (int i = 0; i < perSide; ++i) o.push_back(c[s] + (c[(s + 1) % 4] - c[s]) * (Real(i) / perSide));
  return o;
}

// An L with collinear corners on its long sides and one on its inner corner's leg.
Outline LShape() {
  return {Vector(0, 0, 0), Vector(1, 0, 0), Vector(2, 0, 0), Vector(3, 0, 0), Vector(3, 1, 0),
          Vector(1, 1, 0), Vector(1, 2, 0), Vector(1, 3, 0), Vector(0, 3, 0), Vector(0, 1.5, 0)};
}

// Star-shaped around the origin with random radii: always simple.
Outline RandomStar(std::mt19937& rng, int n) {
  std::uniform_real_distribution<Real> radius(0.1, 1.0), jitter(0.0, 0.9);
  Outline o;
  for (int i = 0; i < n; ++i) {
    const Real a = 2 * pi * (i + jitter(rng)) / n, r = radius(rng);
    o.emplace_back(r * std::cos(a), r * std::sin(a), 0);
  }
  return o;
}

Outline Reversed(Outline o) { return Outline(o.rbegin(), o.rend()); }

Outline Placed(const Outline& o, const Matrix& m) {
  Outline out;
  for (const Vector& p : o) out.push_back(m * p);
  return out;
}

const Matrix kPlanes[] = {
    Matrix(),
    Placement(Vector(0.3, 1.1, -0.4), Vector(1, 1, 1), Vector(10, -3, 7)),
    Placement(Vector(0, Rad(90), 0), Vector(2, 2, 2), Vector(0, 0, 0)),  // the XZ plane
    Placement(Vector(2.1, -0.7, 0.2), Vector(1, 1, 1), Vector(1e3, 2e3, -5e2)),
};

// --- running the reader's sequence --------------------------------------------------

// The outline corners as point numbers: each point once, in order.
std::vector<LONG> InOrder(size_t n) {
  std::vector<LONG> corners(n);
  for (size_t i = 0; i < n; ++i) corners[i] = LONG(i);
  return corners;
}

// A fresh polygon object with the points added and the outline over them (point
// numbers, by default each point once in order) committed as one n-gon, as the OBJ
// reader does it; null when a step fails.
ObjPtr Commit(const Outline& pts, Modeling** keep = nullptr, std::vector<LONG> corners = {}) {
  if (corners.empty()) corners = InOrder(pts.size());
  ObjPtr op(PolygonObject::Alloc(0, 0));
  Modeling* mod = Modeling::Alloc();
  if (!op || !mod || !mod->InitObject(op.get())) {
    Modeling::Free(mod);
    return nullptr;
  }
  std::vector<LONG> ids, outline;
  for (const Vector& p : pts) ids.push_back(mod->AddPoint(op.get(), p));
  for (LONG c : corners) outline.push_back(ids[size_t(c)]);
  const bool ok = mod->CreateNgon(op.get(), outline.data(), LONG(outline.size())) != 0 && mod->Commit();
  if (keep)
    *keep = mod;
  else
    Modeling::Free(mod);
  return ok ? std::move(op) : nullptr;
}

int Corners(const CPolygon& p) { return p.c == p.d ? 3 : 4; }
LONG Corner(const CPolygon& p, int i) { return i == 0 ? p.a : i == 1 ? p.b : i == 2 ? p.c : p.d; }

// The committed object covers the outline exactly: same points, every outline edge
// once in outline direction, every other edge twice in opposite directions, all
// polygons turning with the outline and their areas adding up to the outline's.
// corners lists the outline as point numbers (by default each point once, in order);
// an outline that comes back to a place (the same point, or another at the same
// position) is checked by place: the hole's area left out, each bridge side used once,
// no polygon with two corners at one place.
void ExpectExactCover(const PolygonObject* op, const Outline& pts, const std::string& what,
                      std::vector<LONG> corners = {}) {
  SCOPED_TRACE(what);
  const bool simple = corners.empty();
  if (simple) corners = InOrder(pts.size());
  const LONG n = LONG(pts.size()), k = LONG(corners.size());
  ASSERT_EQ(op->GetPointCount(), n);
  for (LONG i = 0; i < n; ++i) ASSERT_EQ(op->GetPointR()[i], pts[size_t(i)]) << "point " << i;
  // Each point's place: the first point at its position.
  std::vector<LONG> place(size_t(n), 0);
  for (LONG i = 0; i < n; ++i) {
    place[size_t(i)] = i;
    for (LONG j = 0; j < i; ++j)
      if (pts[size_t(j)] == pts[size_t(i)]) {
        place[size_t(i)] = j;
        break;
      }
  }
  Outline walk;
  for (LONG c : corners) walk.push_back(pts[size_t(c)]);
  const Vector normal = Newell(walk);
  const Real area = Len(normal);
  const Vector unit = normal * (1 / area);
  std::map<std::pair<LONG, LONG>, int> outline, edges;
  for (LONG i = 0; i < k; ++i) ++outline[{place[size_t(corners[size_t(i)])], place[size_t(corners[size_t((i + 1) % k)])]}];
  Real sum = 0;
  int cornersUsed = 0;
  for (LONG i = 0; i < op->GetPolygonCount(); ++i) {
    const CPolygon& p = op->GetPolygonR()[i];
    const int m = Corners(p);
    cornersUsed += m;
    Vector pn;
    for (int c = 0; c < m; ++c) {
      const LONG u = Corner(p, c), v = Corner(p, (c + 1) % m);
      ASSERT_TRUE(u >= 0 && u < n && v >= 0 && v < n) << "polygon " << i;
      for (int d = 0; d < c; ++d) ASSERT_NE(place[size_t(u)], place[size_t(Corner(p, d))]) << "polygon " << i;
      ++edges[{place[size_t(u)], place[size_t(v)]}];
      pn += pts[size_t(u)] % pts[size_t(v)];
    }
    const Real a = pn * unit * 0.5;
    EXPECT_GT(a, 1e-12 * area) << "polygon " << i << " turns against the outline or is flat";
    sum += a;
  }
  EXPECT_NEAR(sum, area, 1e-9 * area);
  for (const auto& [edge, count] : edges) {
    const auto along = outline.find(edge);
    const auto back = edges.find({edge.second, edge.first});
    if (along != outline.end()) {
      EXPECT_EQ(count, along->second) << edge.first << "->" << edge.second;
      EXPECT_EQ(along->second, 1) << "outline runs along itself";
      if (outline.count({edge.second, edge.first}) == 0) {
        EXPECT_EQ(back, edges.end()) << "outline edge used backwards";
      }
    } else {
      EXPECT_EQ(count, 1) << "inner edge " << edge.first << "->" << edge.second;
      EXPECT_TRUE(back != edges.end() && back->second == 1 && outline.count(back->first) == 0)
          << "inner edge without its twin";
    }
  }
  for (const auto& [edge, count] : outline) EXPECT_EQ(edges.count(edge), 1u) << "outline edge " << edge.first << "->" << edge.second << " missing";
  // Triangles and quads of one cover of a simple outline: corners = 3 x (n - 2) - (one
  // per quad).
  if (simple) {
    const LONG quads = cornersUsed - 3 * op->GetPolygonCount();
    EXPECT_EQ(op->GetPolygonCount() + quads, n - 2);
  }
}

class ModelingTest : public HostTest {};

TEST_F(ModelingTest, OutlinesOfEveryShapeAreCoveredExactlyInEveryPlaneAndOrientation) {
  const std::vector<std::pair<std::string, Outline>> shapes = {
      {"pentagon", Regular(5)},
      {"500-gon", Regular(500)},
      {"star", Star(7, 0.3, 1)},
      {"thin star", Star(60, 0.05, 1)},
      {"comb", Comb(20)},
      {"spiral", Spiral(120, 2.5)},
      {"subdivided square", SubdividedSquare(5)},
      {"L with collinear corners", LShape()},
      {"arrow", {Vector(0, 0, 0), Vector(2, 1, 0), Vector(4, 0, 0), Vector(2, 3, 0), Vector(2, 2, 0), Vector(1.9, 3, 0)}},
  };
  for (const auto& [name, shape] : shapes) {
    for (size_t plane = 0; plane < std::size(kPlanes); ++plane) {
      for (bool reverse : {false, true}) {
        const Outline pts = Placed(reverse ? Reversed(shape) : shape, kPlanes[plane]);
        const std::string what = name + " plane " + std::to_string(plane) + (reverse ? " reversed" : "");
        ObjPtr op = Commit(pts);
        ASSERT_NE(op, nullptr) << what;
        ExpectExactCover(ToPoly(op.get()), pts, what);
      }
    }
  }
}

TEST_F(ModelingTest, RandomStarShapedOutlinesAreCoveredExactly) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> size(5, 300);
  std::uniform_real_distribution<Real> angle(-pi, pi);
  for (int round = 0; round < 300; ++round) {
    Outline pts = RandomStar(rng, size(rng));
    if (round % 2) pts = Reversed(pts);
    pts = Placed(pts, Placement(Vector(angle(rng), angle(rng), angle(rng)), Vector(3, 3, 3), Vector(angle(rng), 1, 2)));
    ObjPtr op = Commit(pts);
    ASSERT_NE(op, nullptr) << "round " << round;
    ExpectExactCover(ToPoly(op.get()), pts, "round " + std::to_string(round));
    if (HasFailure()) break;
  }
}

TEST_F(ModelingTest, RegularOutlinesGetQuads) {
  for (int n : {6, 8, 12, 40}) {
    ObjPtr op = Commit(Regular(n));
    ASSERT_NE(op, nullptr);
    int quads = 0;
    for (LONG i = 0; i < ToPoly(op.get())->GetPolygonCount(); ++i) quads += Corners(ToPoly(op.get())->GetPolygonR()[i]) == 4;
    EXPECT_GE(quads, (n - 2) / 3) << n << " corners";
  }
  // A tilted, non-planar outline still covers, but merges no triangles across the fold.
  Outline crown;
  for (int i = 0; i < 8; ++i) crown.emplace_back(std::cos(2 * pi * i / 8), std::sin(2 * pi * i / 8), i % 2 ? 0.3 : 0);
  ObjPtr op = Commit(crown);
  ASSERT_NE(op, nullptr);
  for (LONG i = 0; i < ToPoly(op.get())->GetPolygonCount(); ++i) {
    const CPolygon& p = ToPoly(op.get())->GetPolygonR()[i];
    if (Corners(p) != 4) continue;
    const Vector* v = ToPoly(op.get())->GetPointR();
    const Vector nrm = (v[p.b] - v[p.a]) % (v[p.c] - v[p.a]);
    EXPECT_NEAR((v[p.d] - v[p.a]) * nrm, 0, 1e-9) << "quad " << i << " is not planar";
  }
}

TEST_F(ModelingTest, ThreeAndFourCornersMakeThatPolygon) {
  ObjPtr tri = Commit({Vector(0, 0, 0), Vector(1, 0, 0), Vector(0, 1, 0)});
  ASSERT_NE(tri, nullptr);
  ASSERT_EQ(ToPoly(tri.get())->GetPolygonCount(), 1);
  EXPECT_EQ(ToPoly(tri.get())->GetPolygonR()[0], CPolygon(0, 1, 2));
  // A concave quad stays one quad, in the given order; no n-gon is recorded.
  ObjPtr quad = Commit({Vector(0, 0, 0), Vector(2, 0, 0), Vector(1, 0.2, 0), Vector(1, 2, 0)});
  ASSERT_NE(quad, nullptr);
  ASSERT_EQ(ToPoly(quad.get())->GetPolygonCount(), 1);
  EXPECT_EQ(ToPoly(quad.get())->GetPolygonR()[0], CPolygon(0, 1, 2, 3));
  EXPECT_EQ(ToPoly(quad.get())->GetNgonCount(), 0);
}

TEST_F(ModelingTest, RepeatedNeighbouringCornersCountOnce) {
  ObjPtr op(PolygonObject::Alloc(0, 0));
  Modeling* mod = Modeling::Alloc();
  ASSERT_TRUE(mod && mod->InitObject(op.get()));
  const Outline hex = Regular(6);
  std::vector<LONG> ids;
  for (const Vector& p : hex) ids.push_back(mod->AddPoint(op.get(), p));
  const LONG outline[] = {ids[0], ids[1], ids[1], ids[2], ids[3], ids[4], ids[5], ids[5], ids[0]};
  ASSERT_NE(mod->CreateNgon(op.get(), outline, 9), 0);
  ASSERT_TRUE(mod->Commit());
  ExpectExactCover(ToPoly(op.get()), hex, "hexagon with repeats");
  Modeling::Free(mod);
}

TEST_F(ModelingTest, DegenerateOutlinesFailAndLeaveTheObjectAlone) {
  const std::vector<std::pair<std::string, Outline>> bad = {
      {"collinear", {Vector(0, 0, 0), Vector(1, 1, 1), Vector(2, 2, 2), Vector(3, 3, 3), Vector(4, 4, 4)}},
      {"two places", {Vector(0, 0, 0), Vector(1, 0, 0), Vector(0, 0, 0), Vector(1, 0, 0), Vector(0, 0, 0)}},
      {"all at one place", Outline(6, Vector(1, 2, 3))},
      // A figure eight with one loop's meeting corner lifted off the plane, and two
      // other corners lifted so that the best-fit plane stays level.
      {"corners at one place in the projection only",
       {Vector(1, 1, 0), Vector(2, 2, 0.5), Vector(0, 2, 0), Vector(1, 1, 0.5), Vector(0, 0, 0), Vector(2, 0, 0.5)}},
      {"neighbours at one place",
       {Vector(0, 0, 0), Vector(2, 0, 0), Vector(2, 0, 0), Vector(2, 2, 0), Vector(0, 2, 0), Vector(-1, 1, 0)}},
      {"bow tie", {Vector(0, 0, 0), Vector(2, 2, 0), Vector(2, 0, 0), Vector(1, -1, 0), Vector(0, 2, 0)}},
      {"zero area figure eight", {Vector(0, 0, 0), Vector(1, 1, 0), Vector(2, 0, 0), Vector(3, 1, 0), Vector(3, 0, 0),
                                  Vector(2, 1, 0), Vector(1, 0, 0), Vector(0, 1, 0)}},
      {"spike", {Vector(0, 0, 0), Vector(2, 0, 0), Vector(2, 2, 0), Vector(1, 2, 0), Vector(1, 5, 0), Vector(1, 2, 0),
                 Vector(0, 2, 0)}},
      {"not a number", {Vector(0, 0, 0), Vector(1, 0, 0), Vector(1, NAN, 0), Vector(0, 1, 0), Vector(0.5, 2, 0)}},
  };
  for (const auto& [name, pts] : bad) {
    ObjPtr op(PolygonObject::Alloc(2, 0));
    Modeling* mod = Modeling::Alloc();
    ASSERT_TRUE(mod && mod->InitObject(op.get()));
    std::vector<LONG> ids;
    for (const Vector& p : pts) ids.push_back(mod->AddPoint(op.get(), p));
    ASSERT_NE(mod->CreateNgon(op.get(), ids.data(), LONG(ids.size())), 0) << name;
    EXPECT_FALSE(mod->Commit()) << name;
    EXPECT_EQ(ToPoly(op.get())->GetPointCount(), 2) << name;
    EXPECT_EQ(ToPoly(op.get())->GetPolygonCount(), 0) << name;
    Modeling::Free(mod);
  }
  // Self-crossing outlines that fold in space do not crash; what they give is a cover
  // or a failure.
  std::mt19937 rng(7);
  std::uniform_real_distribution<Real> coord(-1, 1);
  for (int round = 0; round < 200; ++round) {
    Outline pts;
    for (int i = 0; i < 5 + round % 20; ++i) pts.emplace_back(coord(rng), coord(rng), coord(rng) * (round % 3));
    ObjPtr op = Commit(pts);
    if (op) ExpectExactCover(ToPoly(op.get()), pts, "random polygon " + std::to_string(round));
  }
}

// --- outlines that come back to a point (keyholes) -------------------------------------

// An outline given by its points and the point numbers it walks through.
struct Walk {
  std::string name;
  Outline points;
  std::vector<LONG> corners;
};

// The same walk started at corner `start`, or walked backwards.
Walk Turned(Walk w, size_t start, bool reverse) {
  std::rotate(w.corners.begin(), w.corners.begin() + long(start), w.corners.end());
  if (reverse) std::reverse(w.corners.begin(), w.corners.end());
  return w;
}

// Every corner as its own point, at its place: how a file reader hands such an outline
// over.
Walk Duplicated(const Walk& w) {
  Walk d{w.name + " by positions", {}, {}};
  for (LONG c : w.corners) {
    d.corners.push_back(LONG(d.points.size()));
    d.points.push_back(w.points[size_t(c)]);
  }
  return d;
}

// A 4 x 4 square with a 2 x 2 hole, the outline joined to the hole's corner (1, 1) at
// the square's corner (0, 0), on a line that runs on through the hole's far corner.
Walk SquareWithHole() {
  return {"square with hole",
          {Vector(0, 0, 0), Vector(4, 0, 0), Vector(4, 4, 0), Vector(0, 4, 0), Vector(1, 1, 0), Vector(3, 1, 0),
           Vector(3, 3, 0), Vector(1, 3, 0)},
          {0, 1, 2, 3, 0, 4, 7, 6, 5, 4}};
}

// A bar with two holes: the first joined to the outline, the second to the first along
// the line of both holes' lower sides.
Walk TwoHoles() {
  return {"two holes",
          {Vector(0, 0, 0), Vector(10, 0, 0), Vector(10, 4, 0), Vector(0, 4, 0), Vector(1, 1, 0), Vector(3, 1, 0),
           Vector(3, 3, 0), Vector(1, 3, 0), Vector(6, 1, 0), Vector(8, 1, 0), Vector(8, 3, 0), Vector(6, 3, 0)},
          {0, 4, 7, 6, 5, 8, 11, 10, 9, 8, 5, 4, 0, 1, 2, 3}};
}

// Two triangles, and two squares of different size, meeting at one corner.
Walk FigureEight() {
  return {"figure eight", {Vector(1, 1, 0), Vector(2, 2, 0), Vector(0, 2, 0), Vector(0, 0, 0), Vector(2, 0, 0)},
          {0, 1, 2, 0, 3, 4}};
}
Walk TouchingSquares() {
  return {"touching squares",
          {Vector(0, 0, 0), Vector(1, 0, 0), Vector(1, 1, 0), Vector(3, 1, 0), Vector(3, 3, 0), Vector(1, 3, 0),
           Vector(0, 1, 0)},
          {0, 1, 2, 3, 4, 5, 2, 6}};
}

// A pentagon with a cut from the middle of its base up to its centre.
Walk Slit() {
  return {"slit",
          {Vector(0, 0, 0), Vector(2, 0, 0), Vector(4, 0, 0), Vector(4, 3, 0), Vector(2, 5, 0), Vector(0, 3, 0),
           Vector(2, 2.5, 0)},
          {0, 1, 6, 1, 2, 3, 4, 5}};
}

Walk Placed(const Walk& w, const Matrix& m) { return {w.name, Placed(w.points, m), w.corners}; }

TEST_F(ModelingTest, OutlinesThatComeBackToAPointAreCoveredExactly) {
  for (const Walk& shape : {SquareWithHole(), TwoHoles(), FigureEight(), TouchingSquares(), Slit()}) {
    for (const Walk& given : {shape, Duplicated(shape)}) {
      for (size_t plane = 0; plane < std::size(kPlanes); ++plane) {
        for (size_t start = 0; start < given.corners.size(); ++start) {
          for (bool reverse : {false, true}) {
            const Walk w = Turned(Placed(given, kPlanes[plane]), start, reverse);
            const std::string what = w.name + " plane " + std::to_string(plane) + " from " + std::to_string(start) +
                                     (reverse ? " reversed" : "");
            ObjPtr op = Commit(w.points, nullptr, w.corners);
            ASSERT_NE(op, nullptr) << what;
            ExpectExactCover(ToPoly(op.get()), w.points, what, w.corners);
            EXPECT_EQ(ToPoly(op.get())->GetNgonCount(), 1) << what;
          }
        }
      }
    }
  }
}

TEST_F(ModelingTest, TheReaderSeesAKeyholeOutlineAsWalked) {
  for (const Walk& w : {SquareWithHole(), TwoHoles(), TouchingSquares(), Duplicated(SquareWithHole())}) {
    Modeling* mod = nullptr;
    ObjPtr op = Commit(w.points, &mod, w.corners);
    ASSERT_NE(op, nullptr) << w.name;
    Ngon ngon;
    ASSERT_TRUE(mod->GetNgon(op.get(), ToPoly(op.get())->GetPolygonCount(), &ngon)) << w.name;
    EXPECT_EQ(std::vector<LONG>(ngon.points, ngon.points + ngon.count), w.corners) << w.name;
    ngon.Free();
    Modeling::Free(mod);
  }
}

TEST_F(ModelingTest, OutlinesThatCrossThemselvesAtARepeatedPointAreRefused) {
  const std::vector<Walk> bad = {
      // The bridge to the hole's far corner crosses the hole's lower side.
      {"bridge through the hole",
       {Vector(0, 0, 0), Vector(4, 0, 0), Vector(4, 4, 0), Vector(0, 4, 0), Vector(1, 2, 0), Vector(3, 2, 0),
        Vector(3, 3, 0), Vector(1, 3, 0)},
       {0, 1, 2, 3, 0, 6, 5, 4, 7, 6}},
      // Two bridges from one outline corner to two holes cross each other's hole.
      {"bridges across each other",
       {Vector(0, 0, 0), Vector(10, 0, 0), Vector(10, 10, 0), Vector(0, 10, 0), Vector(2, 6, 0), Vector(4, 6, 0),
        Vector(4, 8, 0), Vector(2, 8, 0), Vector(6, 2, 0), Vector(8, 2, 0), Vector(8, 4, 0), Vector(6, 4, 0)},
       {0, 1, 0, 6, 5, 4, 7, 6, 0, 8, 11, 10, 9, 8, 0, 2, 3}},
      // Loops meeting at a point where the walk passes from one side to the other.
      {"crossing at the shared point",
       {Vector(0, 0, 0), Vector(2, -1, 0), Vector(2, 1, 0), Vector(-1, -0.5, 0), Vector(-1, 0.5, 0)},
       {0, 1, 2, 0, 3, 4}},
      // A spike out of the square, walked there and back.
      {"spike out", {Vector(0, 0, 0), Vector(2, 0, 0), Vector(2, 2, 0), Vector(1, 2, 0), Vector(1, 5, 0), Vector(0, 2, 0)},
       {0, 1, 2, 3, 4, 3, 5}},
      // The same hole walked twice.
      {"hole walked twice",
       {Vector(0, 0, 0), Vector(4, 0, 0), Vector(4, 4, 0), Vector(0, 4, 0), Vector(1, 1, 0), Vector(3, 1, 0),
        Vector(3, 3, 0), Vector(1, 3, 0)},
       {0, 1, 2, 3, 0, 4, 7, 6, 5, 4, 7, 6, 5, 4}},
  };
  for (const Walk& shape : bad) {
    for (const Walk& given : {shape, Duplicated(shape)}) {
      for (bool reverse : {false, true}) {
        const Walk w = Turned(Placed(given, kPlanes[1]), 0, reverse);
        ObjPtr op(PolygonObject::Alloc(2, 0));
        Modeling* mod = Modeling::Alloc();
        ASSERT_TRUE(mod && mod->InitObject(op.get()));
        std::vector<LONG> ids, outline;
        for (const Vector& p : w.points) ids.push_back(mod->AddPoint(op.get(), p));
        for (LONG c : w.corners) outline.push_back(ids[size_t(c)]);
        ASSERT_NE(mod->CreateNgon(op.get(), outline.data(), LONG(outline.size())), 0) << w.name;
        EXPECT_FALSE(mod->Commit()) << w.name << (reverse ? " reversed" : "");
        EXPECT_EQ(ToPoly(op.get())->GetPointCount(), 2) << w.name;
        EXPECT_EQ(ToPoly(op.get())->GetPolygonCount(), 0) << w.name;
        Modeling::Free(mod);
      }
    }
  }
}

TEST_F(ModelingTest, IdsNameNewAndExistingPointsAndBadOnesAreRefused) {
  ObjPtr op(PolygonObject::Alloc(3, 1));
  PolygonObject* poly = ToPoly(op.get());
  const Vector existing[] = {Vector(0, 0, 0), Vector(4, 0, 0), Vector(4, 4, 0)};
  std::copy(existing, existing + 3, poly->GetPointW());
  poly->GetPolygonW()[0] = CPolygon(0, 1, 2);
  Modeling* mod = Modeling::Alloc();
  ASSERT_NE(mod, nullptr);
  const LONG five[] = {0, 1, 2, -1, -2};
  EXPECT_EQ(mod->AddPoint(op.get(), Vector()), 0) << "not initialised";
  EXPECT_EQ(mod->CreateNgon(op.get(), five, 5), 0) << "not initialised";
  EXPECT_FALSE(mod->Commit(op.get()));
  ObjPtr null(BaseObject::Alloc(Onull));
  EXPECT_FALSE(mod->InitObject(null.get()));
  EXPECT_FALSE(mod->InitObject(nullptr));
  ASSERT_TRUE(mod->InitObject(op.get()));
  EXPECT_EQ(mod->AddPoint(op.get(), Vector(2, 6, 0)), -1);
  EXPECT_EQ(mod->AddPoint(op.get(), Vector(0, 4, 0)), -2);
  const LONG beyond[] = {0, 1, 2, -3, -1}, past[] = {0, 1, 3, -1, -2};
  EXPECT_EQ(mod->CreateNgon(op.get(), beyond, 5), 0) << "no point -3 yet";
  EXPECT_EQ(mod->CreateNgon(op.get(), past, 5), 0) << "no point 3";
  EXPECT_EQ(mod->CreateNgon(op.get(), five, 2), 0) << "two corners";
  EXPECT_EQ(mod->CreateNgon(op.get(), five, 5), 1);
  ASSERT_TRUE(mod->Commit(op.get()));
  // The triangle stays first; the pentagon's polygons follow over points 0, 1, 2, 3, 4.
  ASSERT_EQ(poly->GetPointCount(), 5);
  EXPECT_EQ(poly->GetPointR()[3], Vector(2, 6, 0));
  EXPECT_EQ(poly->GetPolygonR()[0], CPolygon(0, 1, 2));
  EXPECT_GE(poly->GetPolygonCount(), 3);
  EXPECT_EQ(poly->GetNgonCount(), 1);
  // Ids start again after a commit; the n-gon made before survives the next commit.
  EXPECT_EQ(mod->AddPoint(op.get(), Vector(10, 0, 0)), -1);
  EXPECT_EQ(mod->AddPoint(op.get(), Vector(10, 1, 0)), -2);
  EXPECT_EQ(mod->AddPoint(op.get(), Vector(9, 2, 0)), -3);
  EXPECT_EQ(mod->AddPoint(op.get(), Vector(8, 1, 0)), -4);
  const LONG second[] = {1, -1, -2, -3, -4};
  EXPECT_EQ(mod->CreateNgon(op.get(), second, 5), 1);
  ASSERT_TRUE(mod->Commit());
  EXPECT_EQ(poly->GetPointCount(), 9);
  ASSERT_EQ(poly->GetNgonCount(), 2);
  Ngon first, next;
  ASSERT_TRUE(mod->GetNgon(op.get(), poly->GetPolygonCount(), &first));
  ASSERT_TRUE(mod->GetNgon(op.get(), poly->GetPolygonCount() + 1, &next));
  EXPECT_EQ(std::vector<LONG>(first.points, first.points + first.count), (std::vector<LONG>{0, 1, 2, 3, 4}));
  EXPECT_EQ(std::vector<LONG>(next.points, next.points + next.count), (std::vector<LONG>{1, 5, 6, 7, 8}));
  EXPECT_FALSE(mod->GetNgon(op.get(), poly->GetPolygonCount() + 2, &first));
  EXPECT_FALSE(mod->GetNgon(op.get(), poly->GetPolygonCount() - 1, &first));
  EXPECT_FALSE(mod->GetNgon(op.get(), -1, &first));
  mod->ReleaseObject(op.get());
  EXPECT_FALSE(mod->GetNgon(op.get(), poly->GetPolygonCount(), &first)) << "released";
  Modeling::Free(mod);
}

TEST_F(ModelingTest, ACloneTargetGetsTheResultAndTheSourceStays) {
  ObjPtr src(PolygonObject::Alloc(0, 0)), dst(PolygonObject::Alloc(7, 3));
  Modeling* mod = Modeling::Alloc();
  ASSERT_TRUE(mod && mod->InitObject(src.get()));
  std::vector<LONG> ids;
  for (const Vector& p : Regular(7)) ids.push_back(mod->AddPoint(src.get(), p));
  ASSERT_NE(mod->CreateNgon(src.get(), ids.data(), 7), 0);
  EXPECT_FALSE(mod->Commit(nullptr, 0, dst.get())) << "a clone target needs its source";
  ASSERT_TRUE(mod->Commit(src.get(), 0, dst.get()));
  EXPECT_EQ(ToPoly(src.get())->GetPointCount(), 0);
  ExpectExactCover(ToPoly(dst.get()), Regular(7), "clone");
  EXPECT_EQ(ToPoly(dst.get())->GetNgonCount(), 1);
  Modeling::Free(mod);
}

TEST_F(ModelingTest, AnObjectFreedWhileInitialisedIsGone) {
  PolygonObject* op = PolygonObject::Alloc(0, 0);
  Modeling* mod = Modeling::Alloc();
  ASSERT_TRUE(mod && mod->InitObject(op));
  ASSERT_EQ(mod->AddPoint(op, Vector(1, 0, 0)), -1);
  BaseObject* gone = op;
  BaseObject::Free(gone);
  EXPECT_FALSE(mod->Commit());
  Modeling::Free(mod);
}

TEST_F(ModelingTest, TheReaderSeesTheCommittedOutline) {
  // A 9-corner comb outline: GetNgon gives the corners back, in order, as one segment.
  const Outline pts = {Vector(0, 0, 0), Vector(5, 0, 0), Vector(5, 3, 0), Vector(4, 3, 0), Vector(4, 1, 0),
                       Vector(3, 1, 0), Vector(3, 3, 0), Vector(1, 3, 0), Vector(0, 3, 0)};
  Modeling* mod = nullptr;
  ObjPtr op = Commit(pts, &mod);
  ASSERT_NE(op, nullptr);
  Ngon ngon;
  ASSERT_TRUE(mod->GetNgon(op.get(), ToPoly(op.get())->GetPolygonCount(), &ngon));
  ASSERT_EQ(ngon.segcount, 1);
  EXPECT_EQ(ngon.segments[0], 9);
  ASSERT_EQ(ngon.count, 9);
  for (LONG i = 0; i < 9; ++i) EXPECT_EQ(ngon.points[i], i);
  ngon.Free();
  EXPECT_EQ(ngon.points, nullptr);
  Modeling::Free(mod);
}

TEST_F(ModelingTest, MemoryFailureAtEveryAllocationOfACommitLeavesTheObjectAlone) {
  const Outline pts = Comb(6);
  for (LLONG n = 1;; ++n) {
    ObjPtr op(PolygonObject::Alloc(0, 0));
    Modeling* mod = Modeling::Alloc();
    ASSERT_TRUE(mod && mod->InitObject(op.get()));
    std::vector<LONG> ids;
    for (const Vector& p : pts) ids.push_back(mod->AddPoint(op.get(), p));
    ASSERT_NE(mod->CreateNgon(op.get(), ids.data(), LONG(ids.size())), 0);
    host::FailAllocationAt(n);
    const bool ok = mod->Commit();
    const LLONG made = host::AllocationsSinceArmed();
    host::ResetFaults();
    if (ok) {
      ExpectExactCover(ToPoly(op.get()), pts, "comb");
    } else {
      EXPECT_EQ(ToPoly(op.get())->GetPointCount(), 0);
      EXPECT_EQ(ToPoly(op.get())->GetPolygonCount(), 0);
      EXPECT_EQ(ToPoly(op.get())->GetNgonCount(), 0);
      // The pending n-gon is still there: a retry with memory succeeds.
      EXPECT_TRUE(mod->Commit());
    }
    Modeling::Free(mod);
    if (made < n) {
      EXPECT_TRUE(ok);
      break;
    }
    ASSERT_LT(n, 1000);
  }
}

TEST_F(ModelingTest, MemoryFailureAtEveryAllocationOfAKeyholeCommitLeavesTheObjectAlone) {
  // A bridged hole is pulled apart; loops meeting at a corner are cut apart.
  for (const Walk& w : {TwoHoles(), Duplicated(TouchingSquares())}) {
    ObjPtr op;
    Modeling* mod = nullptr;
    EveryAllocation([&] {
      Modeling::Free(mod);
      op.reset(PolygonObject::Alloc(0, 0));
      mod = Modeling::Alloc();
      if (!op || !mod || !mod->InitObject(op.get())) return false;
      std::vector<LONG> ids, outline;
      for (const Vector& p : w.points) ids.push_back(mod->AddPoint(op.get(), p));
      for (LONG c : w.corners) outline.push_back(c < LONG(ids.size()) ? ids[size_t(c)] : 0);
      if (std::find(outline.begin(), outline.end(), 0) != outline.end() ||
          !mod->CreateNgon(op.get(), outline.data(), LONG(outline.size())))
        return false;
      if (mod->Commit()) return true;
      EXPECT_EQ(ToPoly(op.get())->GetPointCount(), 0) << w.name;
      EXPECT_EQ(ToPoly(op.get())->GetPolygonCount(), 0) << w.name;
      EXPECT_EQ(ToPoly(op.get())->GetNgonCount(), 0) << w.name;
      return false;
    });
    ExpectExactCover(ToPoly(op.get()), w.points, w.name, w.corners);
    Modeling::Free(mod);
  }
}

TEST_F(ModelingTest, LargeConcaveOutlinesAreCoveredExactly) {
  // Deep sweep trees and long chains of quad merges.
  ObjPtr comb = Commit(Comb(2500));
  ASSERT_NE(comb, nullptr);
  EXPECT_EQ(ToPoly(comb.get())->GetNgonCount(), 1);
  ExpectExactCover(ToPoly(comb.get()), Comb(2500), "comb of 10000 corners");
  std::mt19937 rng(3);
  const Outline star = RandomStar(rng, 8000);
  ObjPtr op = Commit(star);
  ASSERT_NE(op, nullptr);
  ExpectExactCover(ToPoly(op.get()), star, "random star of 8000 corners");
}

}  // namespace
