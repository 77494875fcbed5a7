// N-gons: building them over existing polygons, refusing bad edge lists, reading them
// back as outlines and as exporter edge lists, and keeping them through copies, scene
// files and memory failures.
#include <algorithm>
#include <string>
#include <vector>

#include "c4d.h"
#include "ngon_internal.h"
#include "host_fixture.h"
#include "scene_helpers.h"
#include "scene_internal.h"

namespace {

// The 3 x 3 grid's ring around the centre quad (4): the outer outline, then the hole.
const LONG kRing[] = {E(0, 0), E(1, 0), E(2, 0), E(2, 1), E(5, 1), E(8, 1), E(8, 2), E(7, 2),
                      E(6, 2), E(6, 3), E(3, 3), E(0, 3) | NGON_EDGE_SEGMENTEND,
                      E(1, 2), E(3, 1), E(7, 0), E(5, 3) | NGON_EDGE_SEGMENTEND};

LONG Build(PolygonObject* op, const std::vector<LONG>& outer, const std::vector<LONG>& inner = {}) {
  NgonBase* base = op->GetNgonBase();
  if (!base) return NOTOK;
  return base->BuildNgon(inner.empty() ? nullptr : inner.data(), outer.data(), LONG(inner.size()), LONG(outer.size()),
                         op->GetPolygonR(), op->GetPointR());
}

// The corners met walking the outline edges of each segment of n-gon i.
std::vector<std::vector<LONG>> Walk(PolygonObject* op, LONG i) {
  std::vector<std::vector<LONG>> segments(1);
  Pgon* pgons = op->GetAndBuildNgon();
  if (!pgons) return {};
  const Pgon& pg = pgons[i];
  for (LONG k = 0; k < pg.GetOutlineCount(); ++k) {
    const PgonEdge* e = pg.GetEdge(k);
    EXPECT_TRUE(e->IsOutline() && !e->IsInner());
    const CPolygon& p = op->GetPolygonR()[e->GetPolygon()];
    const LONG from[] = {p.a, p.b, p.c, p.d};
    segments.back().push_back(from[e->GetSide()]);
    if (e->IsSegmentEnd() && k + 1 < pg.GetOutlineCount()) segments.emplace_back();
  }
  return segments;
}

std::vector<LONG> Points(const Ngon& n) { return std::vector<LONG>(n.points, n.points + n.count); }

class NgonTest : public HostTest {};

TEST_F(NgonTest, AnOutlineGivenInAnyOrderIsChainedAndWalkedInOrder) {
  ObjPtr obj(Grid(2, 1));
  PolygonObject* op = ToPoly(obj.get());
  ASSERT_TRUE(op->ResizeObject(6, 2, 1));
  // The strip's six outline edges, out of order, no segment mark.
  EXPECT_EQ(Build(op, {E(0, 0), E(1, 2), E(0, 3), E(1, 1), E(0, 2), E(1, 0)}), 0);
  ASSERT_TRUE(op->GetNgonBase()->InitMap());
  EXPECT_EQ(op->GetNgonCount(), 1);
  EXPECT_EQ(op->GetNgonBase()->GetCount(), 1);
  EXPECT_EQ(Walk(op, 0), (std::vector<std::vector<LONG>>{{0, 1, 2, 5, 4, 3}}));
  const Pgon& pg = op->GetAndBuildNgon()[0];
  EXPECT_EQ(pg.GetSegmentCount(), 1);
  EXPECT_EQ(pg.GetOutlineCount(), 6);
  ASSERT_EQ(pg.GetCount(), 8);
  // The shared edge, once from each side.
  EXPECT_TRUE(pg.GetEdge(6)->IsInner() && pg.GetEdge(7)->IsInner());
  EXPECT_EQ(std::vector<LONG>({E(pg.GetEdge(6)->GetPolygon(), pg.GetEdge(6)->GetSide()),
                               E(pg.GetEdge(7)->GetPolygon(), pg.GetEdge(7)->GetSide())}),
            std::vector<LONG>({E(0, 1), E(1, 3)}));
  EXPECT_EQ(pg.GetEdge(8), nullptr);
  EXPECT_TRUE(pg.GetEdge(5)->IsSegmentEnd());

  Modeling* mod = Modeling::Alloc();
  ASSERT_TRUE(mod && mod->InitObject(op));
  Ngon ngon;
  ASSERT_TRUE(mod->GetNgon(op, 2, &ngon));
  EXPECT_EQ(ngon.segcount, 1);
  EXPECT_EQ(Points(ngon), (std::vector<LONG>{0, 1, 2, 5, 4, 3}));
  Modeling::Free(mod);
}

TEST_F(NgonTest, AnNgonWithAHoleHasTwoOutlines) {
  ObjPtr obj(Grid(3, 3));
  PolygonObject* op = ToPoly(obj.get());
  ASSERT_EQ(Build(op, std::vector<LONG>(std::begin(kRing), std::end(kRing))), 0);
  EXPECT_EQ(Walk(op, 0), (std::vector<std::vector<LONG>>{{0, 1, 2, 3, 7, 11, 15, 14, 13, 12, 8, 4}, {6, 5, 9, 10}}));
  const Pgon& pg = op->GetAndBuildNgon()[0];
  EXPECT_EQ(pg.GetSegmentCount(), 2);
  EXPECT_EQ(pg.GetCount(), 16 + 16) << "eight edges inside the ring, each from both sides";
  Modeling* mod = Modeling::Alloc();
  ASSERT_TRUE(mod && mod->InitObject(op));
  Ngon ngon;
  ASSERT_TRUE(mod->GetNgon(op, 9, &ngon));
  ASSERT_EQ(ngon.segcount, 2);
  EXPECT_EQ(ngon.segments[0], 12);
  EXPECT_EQ(ngon.segments[1], 4);
  EXPECT_EQ(std::vector<LONG>(ngon.points + 12, ngon.points + 16), (std::vector<LONG>{6, 5, 9, 10}));
  Modeling::Free(mod);
}

TEST_F(NgonTest, TrianglesCloseOnSideThreeAndMembersWithoutOutlineAreKept) {
  // A fan of four triangles around point 4 in a square 0-1-2-3, plus a quad elsewhere.
  ObjPtr obj(PolygonObject::Alloc(5, 4));
  PolygonObject* op = ToPoly(obj.get());
  const Vector pts[] = {Vector(0, 0, 0), Vector(2, 0, 0), Vector(2, 2, 0), Vector(0, 2, 0), Vector(1, 1, 0)};
  std::copy(pts, pts + 5, op->GetPointW());
  for (LONG t = 0; t < 4; ++t) op->GetPolygonW()[t] = CPolygon(t, (t + 1) % 4, 4);
  // Outline: side 0 of each triangle; an inner edge names nothing new.
  EXPECT_EQ(Build(op, {E(0, 0), E(1, 0), E(2, 0), E(3, 0)}, {E(0, 1)}), 0);
  const Pgon& pg = op->GetAndBuildNgon()[0];
  EXPECT_EQ(pg.GetOutlineCount(), 4);
  EXPECT_EQ(pg.GetCount(), 4 + 8) << "four spokes from both sides";
  for (LONG k = 4; k < pg.GetCount(); ++k) EXPECT_NE(pg.GetEdge(k)->GetSide(), 2) << "a triangle has no side 2";

  // Square split in two: the closing edge c->a of the second triangle is side 3.
  ObjPtr obj2(PolygonObject::Alloc(4, 2));
  PolygonObject* sq = ToPoly(obj2.get());
  std::copy(pts, pts + 4, sq->GetPointW());
  sq->GetPolygonW()[0] = CPolygon(0, 1, 2);
  sq->GetPolygonW()[1] = CPolygon(0, 2, 3);
  EXPECT_EQ(Build(sq, {E(0, 0), E(0, 1), E(1, 1), E(1, 3)}), 0);
  EXPECT_EQ(Walk(sq, 0), (std::vector<std::vector<LONG>>{{0, 1, 2, 3}}));

  // A polygon named only as a member keeps its entry.
  ObjPtr obj3(Grid(3, 3));
  PolygonObject* g = ToPoly(obj3.get());
  std::vector<LONG> outer = {E(0, 0), E(1, 0), E(2, 0), E(2, 1), E(5, 1), E(8, 1), E(8, 2), E(7, 2),
                             E(6, 2), E(6, 3), E(3, 3), E(0, 3) | NGON_EDGE_SEGMENTEND, E(4, 0) | NGON_EDGE_MEMBER};
  ASSERT_EQ(Build(g, outer), 0);
  ASSERT_EQ(NodeAccess::NgonEdgeCount(g, 0), 13);
  EXPECT_EQ(NodeAccess::NgonEdges(g, 0)[12], E(4, 0) | NGON_EDGE_MEMBER);
  EXPECT_EQ(g->GetAndBuildNgon()[0].GetCount(), 12 + 24);
}

TEST_F(NgonTest, BadEdgeListsAreRefusedAndChangeNothing) {
  ObjPtr obj(Grid(3, 3));
  PolygonObject* op = ToPoly(obj.get());
  op->GetPolygonW()[8].d = op->GetPolygonW()[8].c;  // make the last one a triangle
  const std::vector<std::pair<std::string, std::vector<LONG>>> bad = {
      {"polygon out of range", {E(0, 0), E(0, 1), E(9, 2), E(0, 3)}},
      {"negative word", {E(0, 0), E(0, 1), -4, E(0, 3)}},
      {"unknown mark", {E(0, 0), E(0, 1), E(0, 2) | 0x10000000, E(0, 3)}},
      {"side 2 on a triangle", {E(8, 0), E(8, 1), E(8, 2), E(8, 3)}},
      {"broken chain", {E(0, 0), E(1, 0), E(1, 1), E(1, 2), E(0, 2)}},
      {"two loops in one outline", {E(0, 0), E(0, 1), E(0, 2), E(0, 3), E(2, 0), E(2, 1), E(2, 2), E(2, 3)}},
      {"edge twice", {E(0, 0), E(0, 1), E(0, 2), E(0, 3), E(0, 0)}},
      {"two edges", {E(0, 0), E(0, 1)}},
      {"segment of two", {E(0, 0), E(0, 1) | NGON_EDGE_SEGMENTEND, E(0, 2), E(0, 3)}},
      {"member and end at once", {E(0, 0), E(0, 1), E(0, 2), E(0, 3), E(1, 0) | NGON_EDGE_MEMBER | NGON_EDGE_SEGMENTEND}},
      {"nothing", {}},
  };
  for (const auto& [name, outer] : bad) {
    NgonBase* base = op->GetNgonBase();
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(base->BuildNgon(nullptr, outer.data(), 0, LONG(outer.size()), op->GetPolygonR(), op->GetPointR()), NOTOK)
        << name;
    EXPECT_EQ(op->GetNgonCount(), 0) << name;
  }
  const LONG square[] = {E(0, 0), E(0, 1), E(0, 2), E(0, 3)}, innerBad[] = {E(8, 2)}, innerRange[] = {E(40, 0)};
  EXPECT_EQ(op->GetNgonBase()->BuildNgon(innerBad, square, 1, 4, nullptr, nullptr), NOTOK) << "inner side 2 on a triangle";
  EXPECT_EQ(op->GetNgonBase()->BuildNgon(innerRange, square, 1, 4, nullptr, nullptr), NOTOK) << "inner out of range";
  // A polygon point outside the points.
  op->GetPolygonW()[3].b = 99;
  EXPECT_EQ(Build(op, {E(3, 0), E(3, 1), E(3, 2), E(3, 3)}), NOTOK);
  // A polygon in two n-gons.
  EXPECT_EQ(Build(op, {E(0, 0), E(0, 1), E(0, 2), E(0, 3)}), 0);
  EXPECT_EQ(Build(op, {E(0, 0), E(1, 0), E(1, 1), E(1, 2), E(0, 2), E(0, 3)}), NOTOK);
  EXPECT_EQ(Build(op, {E(1, 0), E(1, 1), E(1, 2), E(1, 3)}, {E(0, 1)}), NOTOK) << "an inner edge of another n-gon";
  EXPECT_EQ(Build(op, {E(1, 0), E(1, 1), E(1, 2), E(1, 3)}), 1);
  EXPECT_EQ(op->GetNgonCount(), 2);
}

TEST_F(NgonTest, TheTranslationMapNamesEachPolygonsNgon) {
  ObjPtr obj(Grid(3, 1));
  PolygonObject* op = ToPoly(obj.get());
  ASSERT_TRUE(op->ResizeObject(8, 3, 2));
  ASSERT_EQ(Build(op, {E(1, 0), E(2, 0), E(2, 1), E(2, 2), E(1, 2), E(1, 3)}), 0);
  ASSERT_TRUE(op->GetNgonBase()->InitMap());
  LONG count = 0;
  LONG* map = nullptr;
  ASSERT_TRUE(op->GetNgonBase()->GetPolygonTranslationMap(count, map));
  EXPECT_EQ(count, 1);
  EXPECT_EQ(std::vector<LONG>(map, map + 3), (std::vector<LONG>{NOTOK, 0, 0}));
  bDelete(map);
  // Resizing the polygons drops the n-gons, their edge lists and the map.
  ASSERT_TRUE(op->ResizeObject(8, 4));
  EXPECT_EQ(op->GetNgonCount(), 0);
  EXPECT_EQ(op->GetAndBuildNgon(), nullptr);
  ASSERT_TRUE(op->GetNgonBase()->GetPolygonTranslationMap(count, map));
  EXPECT_EQ(count, 0);
  EXPECT_EQ(std::vector<LONG>(map, map + 4), (std::vector<LONG>(4, NOTOK)));
  bDelete(map);
}

TEST_F(NgonTest, NgonsSurviveCopiesAndSceneFiles) {
  DocPtr doc(BaseDocument::Alloc());
  ASSERT_NE(doc, nullptr);
  PolygonObject* op = Grid(3, 3);
  ASSERT_NE(InsertLast(doc.get(), op, "Ring"), nullptr);
  ASSERT_EQ(Build(op, std::vector<LONG>(std::begin(kRing), std::end(kRing))), 0);
  const auto walk = Walk(op, 0);

  ObjPtr copy(static_cast<BaseObject*>(op->GetClone(COPYFLAGS_0, nullptr)));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(Walk(ToPoly(copy.get()), 0), walk);
  // The copy is its own: building on it leaves the original alone.
  ASSERT_EQ(Build(ToPoly(copy.get()), {E(4, 0), E(4, 1), E(4, 2), E(4, 3)}), 1);
  EXPECT_EQ(op->GetNgonCount(), 1);

  std::string error;
  const std::string path = TempDir() + "/ring.kscn";
  ASSERT_TRUE(host::SaveScene(doc.get(), path, &error)) << error;
  DocPtr loaded(host::LoadScene(path, &error));
  ASSERT_NE(loaded, nullptr) << error;
  auto* back = ToPoly(loaded->SearchObject(String("Ring")));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(Walk(back, 0), walk);
  Modeling* mod = Modeling::Alloc();
  ASSERT_TRUE(mod && mod->InitObject(back));
  Ngon ngon;
  ASSERT_TRUE(mod->GetNgon(back, 9, &ngon));
  EXPECT_EQ(ngon.segcount, 2);
  Modeling::Free(mod);
}

TEST_F(NgonTest, DamagedStoredEdgesAreNotReadAsOutlines) {
  ObjPtr obj(Grid(2, 1));
  PolygonObject* op = ToPoly(obj.get());
  // As a scene file may hold them: in range, but not a closed loop.
  const LONG counts[] = {4}, edges[] = {E(0, 0), E(1, 0), E(1, 1), E(0, 3)};
  ASSERT_TRUE(NodeAccess::SetNgons(op, 1, counts, edges));
  EXPECT_EQ(op->GetAndBuildNgon(), nullptr);
  Modeling* mod = Modeling::Alloc();
  ASSERT_TRUE(mod && mod->InitObject(op));
  Ngon ngon;
  EXPECT_FALSE(mod->GetNgon(op, 2, &ngon));
  Modeling::Free(mod);
}

TEST_F(NgonTest, MemoryFailureAtEveryAllocationOfBuildingAndReading) {
  for (LLONG n = 1;; ++n) {
    ObjPtr obj(Grid(3, 3));
    PolygonObject* op = ToPoly(obj.get());
    ASSERT_EQ(Build(op, {E(4, 0), E(4, 1), E(4, 2), E(4, 3)}), 0);
    host::FailAllocationAt(n);
    const LONG index = Build(op, std::vector<LONG>(std::begin(kRing), std::end(kRing)));
    const LLONG made = host::AllocationsSinceArmed();
    host::ResetFaults();
    if (index == NOTOK) {
      EXPECT_EQ(op->GetNgonCount(), 1);
    } else {
      EXPECT_EQ(index, 1);
      EXPECT_EQ(Walk(op, 1).size(), 2u);
    }
    if (made < n) {
      EXPECT_EQ(index, 1);
      break;
    }
    ASSERT_LT(n, 1000);
  }
  ObjPtr obj(Grid(3, 3));
  PolygonObject* op = ToPoly(obj.get());
  ASSERT_EQ(Build(op, std::vector<LONG>(std::begin(kRing), std::end(kRing))), 0);
  for (LLONG n = 1;; ++n) {
    host::FailAllocationAt(n);
    Pgon* pgons = op->GetAndBuildNgon();
    const LLONG made = host::AllocationsSinceArmed();
    host::ResetFaults();
    if (pgons) {
      EXPECT_EQ(pgons[0].GetCount(), 32);
    }
    if (made < n) {
      EXPECT_NE(pgons, nullptr);
      break;
    }
    EXPECT_EQ(pgons, nullptr);
    ASSERT_LT(n, 1000);
  }
}

// Working arrays in one block: each its own zero-filled, aligned room; a negative count
// or missing memory refuses them all and leaves the pointers alone.
TEST_F(NgonTest, ArraysInOneBlockAreApartZeroedAndAligned) {
  ScratchArena arena;
  UCHAR* bytes = nullptr;
  Vector* points = nullptr;
  LONG* words = nullptr;
  ASSERT_TRUE(arena.Alloc(bytes, 3, points, 5, words, 7));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(points) % 16, 0u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(words) % 16, 0u);
  EXPECT_GE(reinterpret_cast<UCHAR*>(points), bytes + 3);
  EXPECT_GE(reinterpret_cast<UCHAR*>(words), reinterpret_cast<UCHAR*>(points + 5));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(bytes[i], 0);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(words[i], 0);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(points[i], Vector());
  std::fill(words, words + 7, -1);  // the last array ends inside the block (sanitizer build)

  UCHAR* kept = bytes;
  ScratchArena refused;
  EXPECT_FALSE(refused.Alloc(bytes, 3, words, -1));
  host::FailAllocationAt(1);
  EXPECT_FALSE(refused.Alloc(bytes, 3, words, 7));
  host::ResetFaults();
  EXPECT_EQ(bytes, kept);
}

}  // namespace
