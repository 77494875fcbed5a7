// Document evaluation: generator caches, deformer plug-ins run on copies of the points
// they deform (with their dirty check, matrices, order and the thread's break), the
// current state as a modeling command, the counted event, redraw and thread calls, and
// memory failures during evaluation and the modeling command.
#include <functional>
#include <string>

#include "c4d.h"
#include "host_fixture.h"
#include "scene_helpers.h"
#include "scene_internal.h"

namespace {

constexpr LONG kShift = 1999101;   // deformer: adds its vector 1000 to every point
constexpr LONG kDouble = 1999102;  // deformer: doubles every point
constexpr LONG kPlain = 1999103;   // an object plug-in that is no deformer
constexpr LONG kShiftBy = 1000;

struct Calls {
  int checks = 0, modifies = 0;
  bool dirtyOnCheck = false;
  BaseObject* mod = nullptr;
  BaseObject* op = nullptr;
  BaseDocument* doc = nullptr;
  BaseThread* thread = nullptr;
  Matrix opMg, modMg;
  LONG brokeAt = -1;
  std::string order;
};
Calls g_calls;

// Moves points, asking the thread before every 64th point as a deformer should.
Bool Deform(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& op_mg, const Matrix& mod_mg,
            BaseThread* thread, const std::function<Vector(const Vector&)>& move) {
  ++g_calls.modifies;
  g_calls.mod = mod;
  g_calls.op = op;
  g_calls.doc = doc;
  g_calls.thread = thread;
  g_calls.opMg = op_mg;
  g_calls.modMg = mod_mg;
  g_calls.order += mod->GetName().Std() + " ";
  if (!op || !op->IsInstanceOf(Opoint)) return TRUE;
  PointObject* po = ToPoint(op);
  Vector* p = po->GetPointW();
  for (LONG i = 0; i < po->GetPointCount(); ++i) {
    if ((i & 63) == 0 && thread && thread->TestBreak()) {
      g_calls.brokeAt = i;
      break;
    }
    p[i] = move(p[i]);
  }
  return TRUE;
}

class ShiftDeformer : public ObjectData {
 public:
  Bool Init(GeListNode* node) override {
    static_cast<BaseList2D*>(node)->GetDataInstance()->SetVector(kShiftBy, Vector(0, 10, 0));
    return TRUE;
  }
  void CheckDirty(BaseObject* op, BaseDocument*) override {
    ++g_calls.checks;
    if (g_calls.dirtyOnCheck) op->SetDirty(DIRTYFLAGS_DATA);
  }
  Bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& op_mg, const Matrix& mod_mg, Real,
                    LONG, BaseThread* thread) override {
    const Vector shift = mod->GetDataInstance()->GetVector(kShiftBy);
    return Deform(mod, doc, op, op_mg, mod_mg, thread, [&](const Vector& p) { return p + shift; });
  }
  void GetDimension(BaseObject*, Vector* mp, Vector* rad) override {
    *mp = Vector(1, 2, 3);
    *rad = Vector(4, 5, 6);
  }
};
NodeData* AllocShift() { return gNew ShiftDeformer; }

class DoubleDeformer : public ObjectData {
 public:
  Bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& op_mg, const Matrix& mod_mg, Real,
                    LONG, BaseThread* thread) override {
    return Deform(mod, doc, op, op_mg, mod_mg, thread, [](const Vector& p) { return p * 2.0; });
  }
};
NodeData* AllocDouble() { return gNew DoubleDeformer; }

NodeData* AllocPlain() { return gNew DoubleDeformer; }

class EvaluateTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    g_calls = Calls();
    ASSERT_TRUE(RegisterObjectPlugin(kShift, String("Shift"), OBJECT_MODIFIER, AllocShift, String(), nullptr, 0));
    ASSERT_TRUE(RegisterObjectPlugin(kDouble, String("Double"), OBJECT_MODIFIER, AllocDouble, String(), nullptr, 0));
    ASSERT_TRUE(RegisterObjectPlugin(kPlain, String("Plain"), 0, AllocPlain, String(), nullptr, 0));
    doc.reset(BaseDocument::Alloc());
    ASSERT_TRUE(doc);
  }
  void TearDown() override {
    doc.reset();
    HostTest::TearDown();
  }

  // A polygon object of count points at (i, 0, 0) under a moved null, placed itself.
  PolygonObject* AddMesh(LONG count = 3, const char* name = "Mesh") {
    BaseObject* parent = InsertLast(doc.get(), BaseObject::Alloc(Onull), "Parent");
    if (!parent) return nullptr;
    parent->SetMl(Placement(Vector(0.5, 0, 0), Vector(1, 1, 1), Vector(100, 0, 0)));
    auto* mesh = static_cast<PolygonObject*>(InsertLast(doc.get(), PolygonObject::Alloc(count, 1), name, parent));
    if (!mesh) return nullptr;
    mesh->SetRelPos(Vector(0, 0, 7));
    for (LONG i = 0; i < count; ++i) mesh->GetPointW()[i] = Vector(i, 0, 0);
    return mesh;
  }
  BaseObject* AddDeformer(LONG type, BaseObject* parent, const char* name) {
    return InsertLast(doc.get(), BaseObject::Alloc(type), name, parent);
  }
  bool Pass() { return doc->ExecutePasses(nullptr, TRUE, TRUE, TRUE, 0); }

  // The current state of op as the modeling command gives it; null on failure.
  BaseObject* CurrentState(BaseObject* op, bool keepAnimation = false) {
    BaseContainer bc;
    bc.SetBool(MDATA_CURRENTSTATETOOBJECT_KEEPANIMATION, keepAnimation);
    ModelingCommandData mcd;
    mcd.doc = doc.get();
    mcd.op = op;
    mcd.bc = &bc;
    if (!SendModelingCommand(MCOMMAND_CURRENTSTATETOOBJECT, mcd) || !mcd.result) return nullptr;
    EXPECT_EQ(mcd.result->GetCount(), 1);
    return static_cast<BaseObject*>(mcd.result->GetIndex(0));
  }

  DocPtr doc;
};

TEST_F(EvaluateTest, ADeformerMovesTheCopiesNeverTheObjectsOwnPoints) {
  PolygonObject* mesh = AddMesh();
  ASSERT_NE(mesh, nullptr);
  BaseObject* shift = AddDeformer(kShift, mesh, "Shift");
  ASSERT_NE(shift, nullptr);
  shift->SetRelPos(Vector(0, 3, 0));

  ASSERT_TRUE(Pass());
  EXPECT_EQ(mesh->GetPointR()[2], Vector(2, 0, 0)) << "the object's own points stay";
  BaseObject* cache = mesh->GetDeformCache();
  ASSERT_NE(cache, nullptr);
  ASSERT_EQ(ToPoint(cache)->GetPointCount(), 3);
  EXPECT_EQ(ToPoint(cache)->GetPointR()[2], Vector(2, 10, 0));
  EXPECT_EQ(cache->GetDocument(), nullptr) << "a cache is no part of the scene";

  // The deformer saw the copy, the document, a thread and both global matrices.
  EXPECT_EQ(g_calls.mod, shift);
  EXPECT_EQ(g_calls.op, cache);
  EXPECT_EQ(g_calls.doc, doc.get());
  EXPECT_NE(g_calls.thread, nullptr);
  EXPECT_EQ(g_calls.opMg, mesh->GetMg());
  EXPECT_EQ(g_calls.modMg, shift->GetMg());
  EXPECT_NE(g_calls.opMg, g_calls.modMg);

  ObjPtr state(CurrentState(mesh));
  ASSERT_TRUE(state);
  ASSERT_EQ(state->GetType(), Opolygon);
  EXPECT_EQ(ToPoint(state.get())->GetPointR()[1], Vector(1, 10, 0));
  EXPECT_EQ(state->GetDown(), nullptr) << "the deformer is in the points, not a child";
  EXPECT_EQ(state->GetMl(), mesh->GetMl());
  EXPECT_EQ(g_calls.opMg, mesh->GetMg()) << "the command's run sees the object's place too";
  EXPECT_EQ(mesh->GetPointR()[1], Vector(1, 0, 0));

  // The polygonised document holds the deformed points and no deformer.
  DocPtr flat(doc->Polygonize());
  ASSERT_TRUE(flat);
  BaseObject* flatMesh = flat->SearchObject(String("Mesh"));
  ASSERT_NE(flatMesh, nullptr);
  EXPECT_EQ(ToPoint(flatMesh)->GetPointR()[1], Vector(1, 10, 0));
  EXPECT_EQ(flat->SearchObject(String("Shift")), nullptr);
}

TEST_F(EvaluateTest, TheDeformerRunsAgainOnlyWhenSomethingItDependsOnChanged) {
  PolygonObject* mesh = AddMesh();
  BaseObject* shift = mesh ? AddDeformer(kShift, mesh, "Shift") : nullptr;
  ASSERT_NE(shift, nullptr);
  ASSERT_TRUE(Pass());
  EXPECT_EQ(g_calls.checks, 1);
  EXPECT_EQ(g_calls.modifies, 1);
  BaseObject* first = mesh->GetDeformCache();

  ASSERT_TRUE(Pass());
  EXPECT_EQ(g_calls.checks, 2) << "the dirty check comes with every pass";
  EXPECT_EQ(g_calls.modifies, 1) << "nothing changed: the cache stays";
  EXPECT_EQ(mesh->GetDeformCache(), first);

  g_calls.dirtyOnCheck = true;  // e.g. the document time moved
  ASSERT_TRUE(Pass());
  EXPECT_EQ(g_calls.modifies, 2);
  g_calls.dirtyOnCheck = false;

  // The object's points changed and said so.
  mesh->GetPointW()[0] = Vector(0, 0, 5);
  mesh->Message(MSG_UPDATE);
  ASSERT_TRUE(Pass());
  EXPECT_EQ(g_calls.modifies, 3);
  EXPECT_EQ(ToPoint(mesh->GetDeformCache())->GetPointR()[0], Vector(0, 10, 5));
  // A parameter of the deformer.
  ASSERT_TRUE(shift->SetParameter(DescID(DescLevel(kShiftBy)), GeData(Vector(1, 0, 0)), DESCFLAGS_SET_0));
  ASSERT_TRUE(Pass());
  EXPECT_EQ(g_calls.modifies, 4);
  EXPECT_EQ(ToPoint(mesh->GetDeformCache())->GetPointR()[0], Vector(1, 0, 5));
  // A parent far up moved: the global matrices differ.
  mesh->GetUp()->SetRelPos(Vector(-5, 0, 0));
  ASSERT_TRUE(Pass());
  EXPECT_EQ(g_calls.modifies, 5);
  EXPECT_EQ(g_calls.opMg, mesh->GetMg());
  // The deformer itself moved.
  shift->SetMl(Placement(Vector(0, 0, 1), Vector(1, 1, 1), Vector()));
  ASSERT_TRUE(Pass());
  EXPECT_EQ(g_calls.modifies, 6);
  EXPECT_EQ(g_calls.modMg, shift->GetMg());

  // Switched off: no deform cache, no calls.
  shift->SetDeformMode(FALSE);
  ASSERT_TRUE(Pass());
  EXPECT_EQ(mesh->GetDeformCache(), nullptr);
  EXPECT_EQ(g_calls.modifies, 6);
  EXPECT_EQ(g_calls.checks, 7);
  // Without the cache pass nothing is built or checked.
  shift->SetDeformMode(TRUE);
  ASSERT_TRUE(doc->ExecutePasses(nullptr, TRUE, TRUE, FALSE, 0));
  EXPECT_EQ(mesh->GetDeformCache(), nullptr);
  EXPECT_EQ(g_calls.checks, 7);
}

TEST_F(EvaluateTest, DeformersRunInChildOrderAndOnlyModifiersDeform) {
  PolygonObject* mesh = AddMesh();
  ASSERT_NE(mesh, nullptr);
  ASSERT_TRUE(AddDeformer(kShift, mesh, "Shift"));
  ASSERT_TRUE(AddDeformer(kPlain, mesh, "Plain"));  // not a modifier: never asked
  ASSERT_TRUE(AddDeformer(kDouble, mesh, "Double"));
  ASSERT_TRUE(Pass());
  EXPECT_EQ(g_calls.order, "Shift Double ");
  EXPECT_EQ(ToPoint(mesh->GetDeformCache())->GetPointR()[1], Vector(2, 20, 0)) << "shifted, then doubled";

  // Swap the order.
  BaseObject* dbl = doc->SearchObject(String("Double"));
  dbl->InsertUnder(mesh);
  ASSERT_TRUE(Pass());
  EXPECT_EQ(ToPoint(mesh->GetDeformCache())->GetPointR()[1], Vector(2, 10, 0)) << "doubled, then shifted";

  ObjPtr state(CurrentState(mesh));
  ASSERT_TRUE(state);
  EXPECT_EQ(ToPoint(state.get())->GetPointR()[1], Vector(2, 10, 0));
  ASSERT_NE(state->GetDown(), nullptr) << "the plain plug-in object is kept as a child";
  EXPECT_EQ(Name(state->GetDown()), "Plain");
  EXPECT_EQ(state->GetDown()->GetNext(), nullptr);
}

TEST_F(EvaluateTest, TheDeformerSeesTheThreadsBreak) {
  PolygonObject* mesh = AddMesh(200);
  ASSERT_NE(mesh, nullptr);
  ASSERT_TRUE(AddDeformer(kShift, mesh, "Shift"));
  // Unarmed, the host never asks for a break.
  ASSERT_TRUE(Pass());
  EXPECT_EQ(g_calls.brokeAt, -1);
  EXPECT_EQ(host::ThreadBreakTests(), 4);  // points 0, 64, 128, 192

  host::BreakThreadsAfter(2);
  mesh->Message(MSG_UPDATE);
  BaseThread mine;
  ASSERT_TRUE(doc->ExecutePasses(&mine, TRUE, TRUE, TRUE, 0));
  EXPECT_EQ(g_calls.thread, &mine) << "the caller's thread is handed on";
  EXPECT_EQ(g_calls.brokeAt, 128);
  const Vector* p = ToPoint(mesh->GetDeformCache())->GetPointR();
  EXPECT_EQ(p[127], Vector(127, 10, 0));
  EXPECT_EQ(p[128], Vector(128, 0, 0)) << "stopped at the break";
  EXPECT_TRUE(mine.TestBreak()) << "the break holds until disarmed";
  host::BreakThreadsAfter(-1);
  EXPECT_FALSE(mine.TestBreak());
}

TEST_F(EvaluateTest, GeneratorsBuildCachesAndTheirDeformersWorkOnThem) {
  BaseObject* cube = InsertLast(doc.get(), BaseObject::Alloc(Ocube), "Cube");
  BaseObject* plane = InsertLast(doc.get(), BaseObject::Alloc(Oplane), "Plane");
  ASSERT_TRUE(cube && plane);
  plane->GetDataInstance()->SetLong(PRIM_PLANE_SUBW, 1);
  plane->GetDataInstance()->SetLong(PRIM_PLANE_SUBH, 1);
  ASSERT_TRUE(AddDeformer(kShift, plane, "Shift"));
  EXPECT_EQ(cube->GetCache(), nullptr);
  ASSERT_TRUE(Pass());
  ASSERT_NE(cube->GetCache(), nullptr);
  EXPECT_EQ(cube->GetCache()->GetType(), Opolygon);
  EXPECT_EQ(ToPoint(cube->GetCache())->GetPointCount(), 8);
  EXPECT_EQ(cube->GetCache()->GetDeformCache(), nullptr) << "no deformer under the cube";

  BaseObject* planeCache = plane->GetCache();
  ASSERT_NE(planeCache, nullptr);
  ASSERT_NE(planeCache->GetDeformCache(), nullptr);
  EXPECT_EQ(ToPoint(planeCache)->GetPointR()[0], Vector(-200, 0, 200));
  EXPECT_EQ(ToPoint(planeCache->GetDeformCache())->GetPointR()[0], Vector(-200, 10, 200));
  ObjPtr state(CurrentState(plane));
  ASSERT_TRUE(state);
  EXPECT_EQ(ToPoint(state.get())->GetPointR()[3], ToPoint(planeCache->GetDeformCache())->GetPointR()[3]);

  // A change of the generator's settings shows at the next pass.
  cube->GetDataInstance()->SetLong(PRIM_CUBE_SUBX, 2);
  ASSERT_TRUE(Pass());
  EXPECT_EQ(ToPoint(cube->GetCache())->GetPointCount(), 12);
}

// Arrays of arrays multiply: a scene file may ask for more polygons than memory holds.
// Such an array generates nothing and says so; the ones below the limit are whole.
TEST_F(EvaluateTest, AnArrayBeyondItsLimitGeneratesNothing) {
  struct Case {
    LONG outer, inner, segments;
    LONG copies;  // of the outer array's state; -1: beyond the limit
  } cases[] = {
      {1000, 1000, 100, -1},  // 60 000 million polygons
      {1000, 1000, 10, -1},   // 600 million
      {10, 10, 3, 10},        // 5 400
  };
  for (const Case& c : cases) {
    host::ClearConsole();
    BaseObject* outer = InsertLast(doc.get(), BaseObject::Alloc(Oarray), "Outer");
    BaseObject* inner = InsertLast(doc.get(), BaseObject::Alloc(Oarray), "Inner", outer);
    BaseObject* cube = InsertLast(doc.get(), BaseObject::Alloc(Ocube), "Cube", inner);
    ASSERT_TRUE(outer && inner && cube);
    outer->GetDataInstance()->SetLong(ARRAYOBJECT_COPIES, c.outer);
    inner->GetDataInstance()->SetLong(ARRAYOBJECT_COPIES, c.inner);
    for (const LONG id : {PRIM_CUBE_SUBX, PRIM_CUBE_SUBY, PRIM_CUBE_SUBZ}) cube->GetDataInstance()->SetLong(id, c.segments);
    ObjPtr state(CurrentState(outer));
    ASSERT_TRUE(state);
    LONG copies = 0;
    for (BaseObject* child = state->GetDown(); child; child = child->GetNext()) ++copies;
    EXPECT_EQ(copies, c.copies < 0 ? 0 : c.copies) << c.outer << " x " << c.inner;
    EXPECT_EQ(ConsoleHas("the array \"Outer\" would generate more than 134217728 polygons"), c.copies < 0);
    BaseObject::Free(outer);
  }
}

TEST_F(EvaluateTest, TheCurrentStateOfAnArrayIsAHierarchy) {
  BaseObject* array = InsertLast(doc.get(), BaseObject::Alloc(Oarray), "Array");
  ASSERT_NE(array, nullptr);
  array->GetDataInstance()->SetLong(ARRAYOBJECT_COPIES, 3);
  // The array's deformer comes first; its input is the first child that is not one.
  ASSERT_TRUE(AddDeformer(kShift, array, "Shift"));
  ASSERT_TRUE(InsertLast(doc.get(), BaseObject::Alloc(Ocube), "Cube", array));
  ObjPtr state(CurrentState(array));
  ASSERT_TRUE(state);
  EXPECT_EQ(state->GetType(), Onull);
  EXPECT_EQ(Name(state.get()), "Array");
  LONG copies = 0;
  for (BaseObject* c = state->GetDown(); c; c = c->GetNext(), ++copies) {
    ASSERT_EQ(c->GetType(), Opolygon);
    EXPECT_EQ(ToPoint(c)->GetPointCount(), 8);
    EXPECT_EQ(ToPoint(c)->GetPointR()[0].y, -100 + 10) << "the array's deformer moved each copy";
  }
  EXPECT_EQ(copies, 3);
  EXPECT_EQ(g_calls.modifies, 3);
  // Descending through first children reaches a point object.
  BaseObject* first = state.get();
  while (first && !first->IsInstanceOf(Opoint)) first = first->GetDown();
  EXPECT_NE(first, nullptr);

  ASSERT_TRUE(Pass());
  ASSERT_NE(array->GetCache(), nullptr);
  EXPECT_NE(array->GetCache()->GetDown()->GetDeformCache(), nullptr);
}

TEST_F(EvaluateTest, TheCurrentStateHoldsTheTracksPointsAtTheDocumentsTime) {
  PolygonObject* mesh = AddMesh();
  ASSERT_NE(mesh, nullptr);
  ASSERT_TRUE(AddDeformer(kShift, mesh, "Shift"));
  CTrack* track = CTrack::Alloc(mesh, DescID(DescLevel(CTpla, CTpla, 0)));
  ASSERT_TRUE(track && mesh->InsertTrackSorted(track));
  CCurve* curve = track->GetCurve();
  ASSERT_NE(curve, nullptr);
  for (Real t : {0.0, 1.0}) {
    CKey* key = curve->AddKey(BaseTime(t));
    ASSERT_NE(key, nullptr);
    for (LONG i = 0; i < 3; ++i) mesh->GetPointW()[i] = Vector(i, 0, 100 * t);
    ASSERT_TRUE(track->FillKey(doc.get(), mesh, key));
  }
  doc->SetTime(BaseTime(15.0, 30.0));
  ASSERT_TRUE(Pass());
  ObjPtr state(CurrentState(mesh));
  ASSERT_TRUE(state);
  EXPECT_EQ(ToPoint(state.get())->GetPointR()[2], Vector(2, 10, 50));
  EXPECT_EQ(state->GetFirstCTrack(), nullptr) << "animation is left out by default";
  ObjPtr animated(CurrentState(mesh, true));
  ASSERT_TRUE(animated);
  EXPECT_NE(animated->FindCTrack(DescID(DescLevel(CTpla))), nullptr);
}

TEST_F(EvaluateTest, TheModelingCommandRefusesWhatItCannotDo) {
  PolygonObject* mesh = AddMesh();
  ASSERT_NE(mesh, nullptr);
  ModelingCommandData mcd;
  mcd.doc = doc.get();
  EXPECT_FALSE(SendModelingCommand(MCOMMAND_CURRENTSTATETOOBJECT, mcd)) << "no object";
  EXPECT_EQ(mcd.result, nullptr);
  mcd.op = mesh;
  EXPECT_FALSE(SendModelingCommand(MCOMMAND_CURRENTSTATETOOBJECT + 1, mcd));
  EXPECT_EQ(mcd.result, nullptr);
  // Without settings and without a document of its own the command still works; two
  // runs append to one result.
  mcd.doc = nullptr;
  ASSERT_TRUE(SendModelingCommand(MCOMMAND_CURRENTSTATETOOBJECT, mcd));
  ASSERT_TRUE(SendModelingCommand(MCOMMAND_CURRENTSTATETOOBJECT, mcd));
  ASSERT_NE(mcd.result, nullptr);
  ASSERT_EQ(mcd.result->GetCount(), 2);
  EXPECT_NE(mcd.result->GetIndex(0), mcd.result->GetIndex(1));
  EXPECT_EQ(mcd.result->GetIndex(2), nullptr);
  for (LONG i = 0; i < 2; ++i) {
    BaseObject* op = static_cast<BaseObject*>(mcd.result->GetIndex(i));
    BaseObject::Free(op);
  }
}

TEST_F(EvaluateTest, EventsRedrawsAndThreadStopsAreCounted) {
  EXPECT_EQ(host::EventCount(), 0);
  EventAdd();
  EventAdd(EVENT_0);
  EXPECT_EQ(host::EventCount(), 2);
  EXPECT_TRUE(DrawViews(DRAWFLAGS_NO_THREAD | DRAWFLAGS_ONLY_ACTIVE_VIEW));
  EXPECT_EQ(host::DrawViewsCount(), 1);
  EXPECT_EQ(host::LastDrawViewsFlags(), 0x8002);
  StopAllThreads();
  GeStopAllThreads();
  EXPECT_EQ(host::StopAllThreadsCount(), 2);
}

TEST_F(EvaluateTest, ObjectsAnswerTheirExtent) {
  PolygonObject* mesh = AddMesh();
  ASSERT_NE(mesh, nullptr);
  mesh->GetPointW()[0] = Vector(-4, 2, 1);
  EXPECT_EQ(mesh->GetMp(), Vector(-1, 1, 0.5));
  EXPECT_EQ(mesh->GetRad(), Vector(3, 1, 0.5));
  BaseObject* shift = AddDeformer(kShift, mesh, "Shift");
  ASSERT_NE(shift, nullptr);
  EXPECT_EQ(shift->GetMp(), Vector(1, 2, 3)) << "the plug-in answers";
  EXPECT_EQ(shift->GetRad(), Vector(4, 5, 6));
  EXPECT_EQ(doc->SearchObject(String("Parent"))->GetRad(), Vector());
}

class EvaluateFaultTest : public EvaluateTest {
 protected:
  // A mesh with a deformer, a plane with one and an array of cubes.
  void BuildScene() {
    PolygonObject* mesh = AddMesh(70);
    ASSERT_NE(mesh, nullptr);
    ASSERT_TRUE(AddDeformer(kShift, mesh, "Shift"));
    BaseObject* plane = InsertLast(doc.get(), BaseObject::Alloc(Oplane), "Plane");
    ASSERT_NE(plane, nullptr);
    plane->GetDataInstance()->SetLong(PRIM_PLANE_SUBW, 2);
    plane->GetDataInstance()->SetLong(PRIM_PLANE_SUBH, 2);
    ASSERT_TRUE(AddDeformer(kDouble, plane, "Double"));
    BaseObject* array = InsertLast(doc.get(), BaseObject::Alloc(Oarray), "Array");
    ASSERT_NE(array, nullptr);
    array->GetDataInstance()->SetLong(ARRAYOBJECT_COPIES, 2);
    ASSERT_TRUE(InsertLast(doc.get(), BaseObject::Alloc(Ocube), "Cube", array));
    CTrack* track = CTrack::Alloc(mesh, DescID(DescLevel(CTpla)));
    ASSERT_TRUE(track && mesh->InsertTrackSorted(track));
    ASSERT_TRUE(track->GetCurve() && track->GetCurve()->AddKey(BaseTime(0.0)));
    ASSERT_TRUE(track->FillKey(doc.get(), mesh, track->GetCurve()->GetKey(0)));
  }
};

TEST_F(EvaluateFaultTest, EvaluationUnderFailingAllocationsFailsCleanlyAndRecovers) {
  BuildScene();
  PolygonObject* mesh = static_cast<PolygonObject*>(doc->SearchObject(String("Mesh")));
  ASSERT_NE(mesh, nullptr);
  EveryAllocation([&] {
    g_calls.dirtyOnCheck = true;  // every pass rebuilds everything
    const bool ok = Pass();
    if (ok) {
      EXPECT_NE(mesh->GetDeformCache(), nullptr);
      EXPECT_NE(doc->SearchObject(String("Array"))->GetCache(), nullptr);
    }
    return ok;
  });
  // After the failures a plain pass builds everything again.
  ASSERT_TRUE(Pass());
  EXPECT_EQ(ToPoint(mesh->GetDeformCache())->GetPointR()[69], Vector(69, 10, 0));
  EXPECT_EQ(mesh->GetPointR()[69], Vector(69, 0, 0));
}

TEST_F(EvaluateFaultTest, TheModelingCommandUnderFailingAllocationsLeavesNothing) {
  BuildScene();
  for (const char* name : {"Mesh", "Plane", "Array"}) {
    BaseObject* op = doc->SearchObject(String(name));
    ASSERT_NE(op, nullptr);
    EveryAllocation([&] {
      BaseContainer bc;
      bc.SetBool(MDATA_CURRENTSTATETOOBJECT_KEEPANIMATION, TRUE);
      ModelingCommandData mcd;
      mcd.doc = doc.get();
      mcd.op = op;
      mcd.bc = &bc;
      if (!SendModelingCommand(MCOMMAND_CURRENTSTATETOOBJECT, mcd)) {
        EXPECT_TRUE(!mcd.result || mcd.result->GetCount() == 0) << name;
        return false;
      }
      BaseObject* state = static_cast<BaseObject*>(mcd.result->GetIndex(0));
      const bool whole = state != nullptr;
      BaseObject::Free(state);
      return whole;
    });
  }
}

}  // namespace
