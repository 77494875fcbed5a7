// The host's scene model: the object tree, matrices, point objects, tags, selections,
// materials and shaders, texture search, layers, undo, clones and the polygonised copy.
#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "c4d_basedocument.h"
#include "host_control.h"
#include "host_fixture.h"
#include "resident_pages.h"
#include "scene_helpers.h"
#include "scene_internal.h"

namespace fs = std::filesystem;

namespace {

DocPtr NewDoc() { return DocPtr(BaseDocument::Alloc()); }

// An object of the type and name, inserted last under parent (top level when null).
BaseObject* AddObject(BaseDocument* doc, LONG type, const char* name, BaseObject* parent = nullptr) {
  return InsertLast(doc, BaseObject::Alloc(type), name, parent);
}

// The names of a node's children, in order.
std::string ChildNames(const GeListNode* node) {
  std::string names;
  for (const GeListNode* c = node->GetDown(); c; c = c->GetNext()) {
    if (!names.empty()) names += ",";
    names += Name(static_cast<const BaseList2D*>(c));
  }
  return names;
}

std::string TopNames(const BaseDocument* doc) {
  std::string names;
  for (const BaseObject* o = doc->GetFirstObject(); o; o = o->GetNext()) {
    if (!names.empty()) names += ",";
    names += Name(o);
  }
  return names;
}

// Tag types of an object in order, e.g. "5600,5604,5616".
std::string TagTypes(const BaseObject* op) {
  std::string types;
  for (const BaseTag* t = op->GetFirstTag(); t; t = t->GetNext()) {
    if (!types.empty()) types += ",";
    types += std::to_string(t->GetType());
  }
  return types;
}

::testing::AssertionResult VectorNear(const Vector& a, const Vector& b, double tol) {
  if (std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol && std::fabs(a.z - b.z) <= tol)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << a.x << ", " << a.y << ", " << a.z << ") vs (" << b.x << ", " << b.y
                                       << ", " << b.z << ")";
}

::testing::AssertionResult MatrixNear(const Matrix& a, const Matrix& b, double tol) {
  const Vector pa[4] = {a.off, a.v1, a.v2, a.v3}, pb[4] = {b.off, b.v1, b.v2, b.v3};
  const char* names[4] = {"off", "v1", "v2", "v3"};
  for (int i = 0; i < 4; ++i) {
    auto r = VectorNear(pa[i], pb[i], tol);
    if (!r) return ::testing::AssertionFailure() << names[i] << ": " << r.message();
  }
  return ::testing::AssertionSuccess();
}

// The value a double has once stored as a float (see docs/development.md).
double Narrow(double v) {
  volatile float f = static_cast<float>(v);
  return f;
}

}  // namespace

// --- the object tree -------------------------------------------------------------------

class SceneTreeTest : public HostTest {};

TEST_F(SceneTreeTest, InsertObjectHonoursParentAndPredecessor) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->GetFirstObject(), nullptr);
  BaseObject* a = BaseObject::Alloc(Onull);
  BaseObject* b = BaseObject::Alloc(Onull);
  BaseObject* c = BaseObject::Alloc(Onull);
  BaseObject* d = BaseObject::Alloc(Onull);
  BaseObject* e = BaseObject::Alloc(Onull);
  ASSERT_TRUE(a && b && c && d && e);
  a->SetName("a"); b->SetName("b"); c->SetName("c"); d->SetName("d"); e->SetName("e");

  doc->InsertObject(a, nullptr, nullptr);
  doc->InsertObject(b, nullptr, nullptr);  // no predecessor: first
  EXPECT_EQ(TopNames(doc.get()), "b,a");
  doc->InsertObject(c, a, nullptr);
  doc->InsertObject(d, a, c);
  doc->InsertObject(e, a, nullptr);
  EXPECT_EQ(ChildNames(a), "e,c,d");
  EXPECT_EQ(a->GetDown(), e);
  EXPECT_EQ(a->GetDownLast(), d);
  EXPECT_EQ(c->GetPred(), e);
  EXPECT_EQ(c->GetNext(), d);
  EXPECT_EQ(e->GetPred(), nullptr);
  EXPECT_EQ(d->GetNext(), nullptr);
  EXPECT_EQ(c->GetUp(), a);
  EXPECT_EQ(a->GetUp(), nullptr);  // the list head is not a parent
  EXPECT_EQ(b->GetNext(), a);
  EXPECT_EQ(a->GetPred(), b);

  // A predecessor that lies under another parent does not count: first child.
  BaseObject* f = BaseObject::Alloc(Onull);
  ASSERT_TRUE(f);
  f->SetName("f");
  doc->InsertObject(f, b, c);
  EXPECT_EQ(f->GetUp(), b);
  EXPECT_EQ(ChildNames(a), "e,c,d");
  // A top-level predecessor with no parent: after it.
  BaseObject* g = BaseObject::Alloc(Onull);
  ASSERT_TRUE(g);
  g->SetName("g");
  doc->InsertObject(g, nullptr, b);
  EXPECT_EQ(TopNames(doc.get()), "b,g,a");
}

TEST_F(SceneTreeTest, RemoveAndMoveRelinkTheNeighbours) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  BaseObject* a = AddObject(doc.get(), Onull, "a");
  BaseObject* b = AddObject(doc.get(), Onull, "b");
  BaseObject* c1 = AddObject(doc.get(), Onull, "c1", a);
  BaseObject* c2 = AddObject(doc.get(), Onull, "c2", a);
  BaseObject* c3 = AddObject(doc.get(), Onull, "c3", a);
  BaseObject* g = AddObject(doc.get(), Onull, "g", c3);
  ASSERT_TRUE(a && b && c1 && c2 && c3 && g);

  // Removing the middle, the first and the last child.
  c2->Remove();
  EXPECT_EQ(ChildNames(a), "c1,c3");
  EXPECT_EQ(c1->GetNext(), c3);
  EXPECT_EQ(c3->GetPred(), c1);
  EXPECT_EQ(c2->GetUp(), nullptr);
  EXPECT_EQ(c2->GetNext(), nullptr);
  EXPECT_EQ(c2->GetPred(), nullptr);
  EXPECT_EQ(c2->GetDocument(), nullptr);
  BaseObject::Free(c2);
  EXPECT_EQ(c2, nullptr);

  // Moving c3 (with its child) under b: a keeps c1 only, first and last.
  doc->InsertObject(c3, b, nullptr);
  EXPECT_EQ(ChildNames(a), "c1");
  EXPECT_EQ(a->GetDown(), c1);
  EXPECT_EQ(a->GetDownLast(), c1);
  EXPECT_EQ(c1->GetNext(), nullptr);
  EXPECT_EQ(ChildNames(b), "c3");
  EXPECT_EQ(g->GetUp(), c3);
  EXPECT_EQ(g->GetDocument(), doc.get());

  // Moving the top-level first object after the last one.
  doc->InsertObject(a, nullptr, b);
  EXPECT_EQ(TopNames(doc.get()), "b,a");
  EXPECT_EQ(doc->GetFirstObject(), b);

  // Freeing an inserted object unlinks it with its children.
  BaseObject* freed = c3;
  BaseObject::Free(freed);
  EXPECT_EQ(b->GetDown(), nullptr);
  EXPECT_EQ(b->GetDownLast(), nullptr);
}

TEST_F(SceneTreeTest, ANodeCannotGoUnderOrBesideItsOwnDescendants) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  BaseObject* a = AddObject(doc.get(), Onull, "a");
  BaseObject* b = AddObject(doc.get(), Onull, "b", a);
  BaseObject* c = AddObject(doc.get(), Onull, "c", b);
  BaseObject* other = AddObject(doc.get(), Onull, "other");
  ASSERT_TRUE(a && b && c && other);

  doc->InsertObject(a, c, nullptr);  // under its grandchild
  doc->InsertObject(a, b, c);        // beside its grandchild
  doc->InsertObject(a, a, nullptr);  // under itself
  a->InsertUnder(c);
  a->InsertUnderLast(b);
  a->InsertAfter(c);
  a->InsertBefore(b);
  a->InsertBefore(a);
  EXPECT_EQ(TopNames(doc.get()), "a,other");
  EXPECT_EQ(a->GetUp(), nullptr);
  EXPECT_EQ(ChildNames(a), "b");
  EXPECT_EQ(ChildNames(b), "c");
  EXPECT_EQ(c->GetDown(), nullptr);

  // The reverse is allowed: the grandchild goes to the top.
  doc->InsertObject(c, nullptr, other);
  EXPECT_EQ(TopNames(doc.get()), "a,other,c");
  EXPECT_EQ(b->GetDown(), nullptr);
}

TEST_F(SceneTreeTest, SearchObjectWalksDepthFirst) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  // a { b { c { d } } e }  f { x }  x   -- the nested x comes before the top-level x.
  BaseObject* a = AddObject(doc.get(), Onull, "a");
  BaseObject* b = AddObject(doc.get(), Onull, "b", a);
  BaseObject* c = AddObject(doc.get(), Onull, "c", b);
  BaseObject* d = AddObject(doc.get(), Onull, "d", c);
  BaseObject* e = AddObject(doc.get(), Onull, "e", a);
  BaseObject* f = AddObject(doc.get(), Onull, "f");
  BaseObject* x1 = AddObject(doc.get(), Onull, "x", f);
  BaseObject* x2 = AddObject(doc.get(), Onull, "x");
  ASSERT_TRUE(a && b && c && d && e && f && x1 && x2);

  EXPECT_EQ(doc->SearchObject(String("d")), d);
  EXPECT_EQ(doc->SearchObject(String("e")), e);  // after climbing up from d
  EXPECT_EQ(doc->SearchObject(String("f")), f);  // after climbing three levels
  EXPECT_EQ(doc->SearchObject(String("x")), x1);
  EXPECT_EQ(doc->SearchObject(String("X")), nullptr);
  EXPECT_EQ(doc->SearchObject(String("")), nullptr);
  x1->Remove();
  EXPECT_EQ(doc->SearchObject(String("x")), x2);
  BaseObject::Free(x1);
}

TEST_F(SceneTreeTest, EveryKindOfNodeKnowsItsDocument) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  BaseObject* parent = AddObject(doc.get(), Onull, "p");
  BaseObject* child = AddObject(doc.get(), Onull, "c", parent);
  ASSERT_TRUE(parent && child);
  BaseTag* tag = child->MakeTag(Tphong);
  ASSERT_TRUE(tag);
  Material* mat = Material::Alloc();
  ASSERT_TRUE(mat);
  doc->InsertMaterial(mat);
  BaseShader* layerShader = BaseShader::Alloc(Xlayer);
  BaseShader* bitmap = BaseShader::Alloc(Xbitmap);
  ASSERT_TRUE(layerShader && bitmap);
  mat->InsertShader(layerShader);
  layerShader->InsertShader(bitmap);
  LayerObject* layer = LayerObject::Alloc();
  LayerObject* sublayer = LayerObject::Alloc();
  ASSERT_TRUE(layer && sublayer);
  doc->GetLayerObjectRoot()->InsertLast(layer);
  sublayer->InsertUnder(layer);

  for (const GeListNode* node : std::vector<const GeListNode*>{parent, child, tag, mat, layerShader, bitmap, layer,
                                                               sublayer, doc.get()})
    EXPECT_EQ(node->GetDocument(), doc.get()) << Name(static_cast<const BaseList2D*>(node));
  EXPECT_EQ(tag->GetObject(), child);
  EXPECT_EQ(bitmap->GetUp(), layerShader);
  EXPECT_EQ(sublayer->GetUp(), layer);
  EXPECT_EQ(layer->GetUp(), nullptr);
  EXPECT_EQ(doc->GetLayerObjectRoot()->GetMain(), doc.get());

  // Out of the document, nothing below knows it any more.
  parent->Remove();
  EXPECT_EQ(child->GetDocument(), nullptr);
  EXPECT_EQ(tag->GetDocument(), nullptr);
  EXPECT_EQ(tag->GetObject(), child);
  mat->Remove();
  EXPECT_EQ(bitmap->GetDocument(), nullptr);
  BaseObject::Free(parent);
  BaseMaterial* m = mat;
  BaseMaterial::Free(m);

  // A free-standing tag has no object.
  TagPtr loose(BaseTag::Alloc(Tphong));
  ASSERT_TRUE(loose);
  EXPECT_EQ(loose->GetObject(), nullptr);
  EXPECT_EQ(loose->GetDocument(), nullptr);
}

TEST_F(SceneTreeTest, ActiveObjectFollowsSelectionAndReadsNullOnceFreed) {
  DocPtr doc = NewDoc();
  DocPtr other = NewDoc();
  ASSERT_TRUE(doc && other);
  BaseObject* a = AddObject(doc.get(), Onull, "a");
  BaseObject* b = AddObject(doc.get(), Onull, "b", a);
  BaseObject* elsewhere = AddObject(other.get(), Onull, "elsewhere");
  ASSERT_TRUE(a && b && elsewhere);
  EXPECT_EQ(doc->GetActiveObject(), nullptr);

  doc->SetActiveObject(a);
  EXPECT_EQ(doc->GetActiveObject(), a);
  EXPECT_TRUE(a->GetBit(BIT_ACTIVE));
  doc->SetActiveObject(b);  // a new selection clears the old one's bit
  EXPECT_EQ(doc->GetActiveObject(), b);
  EXPECT_FALSE(a->GetBit(BIT_ACTIVE));
  EXPECT_TRUE(b->GetBit(BIT_ACTIVE));
  doc->SetActiveObject(a, SELECTION_ADD);  // adding keeps the other's bit
  EXPECT_TRUE(b->GetBit(BIT_ACTIVE));
  EXPECT_EQ(doc->GetActiveObject(), a);
  doc->SetActiveObject(a, SELECTION_SUB);
  EXPECT_EQ(doc->GetActiveObject(), nullptr);
  EXPECT_FALSE(a->GetBit(BIT_ACTIVE));

  // An object of another document is not taken.
  doc->SetActiveObject(elsewhere);
  EXPECT_EQ(doc->GetActiveObject(), nullptr);
  EXPECT_FALSE(elsewhere->GetBit(BIT_ACTIVE));

  // A removed active object is not active in the document; a freed one reads null.
  doc->SetActiveObject(b);
  b->Remove();
  EXPECT_EQ(doc->GetActiveObject(), nullptr);
  doc->InsertObject(b, a, nullptr);
  EXPECT_EQ(doc->GetActiveObject(), b);
  BaseObject::Free(b);
  EXPECT_EQ(doc->GetActiveObject(), nullptr);
}

// --- matrices and parameters -----------------------------------------------------------

class SceneMatrixTest : public HostTest {};

TEST_F(SceneMatrixTest, GlobalMatrixUnderRotatedScaledTranslatedParents) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  BaseObject* grand = AddObject(doc.get(), Onull, "grand");
  BaseObject* parent = AddObject(doc.get(), Onull, "parent", grand);
  BaseObject* child = AddObject(doc.get(), Onull, "child", parent);
  ASSERT_TRUE(grand && parent && child);
  grand->SetMl(Placement(Vector(0.3, -0.2, 0.1), Vector(1, 1, 1), Vector(10, 0, -5)));
  parent->SetMl(Placement(Vector(Rad(30), Rad(45), Rad(-60)), Vector(2, 0.5, 3), Vector(1, 2, 3)));

  EXPECT_TRUE(MatrixNear(parent->GetMg(), grand->GetMl() * parent->GetMl(), 1e-12));
  EXPECT_TRUE(MatrixNear(child->GetUpMg(), parent->GetMg(), 0));
  EXPECT_EQ(grand->GetUpMg(), Matrix());

  const Matrix target = Placement(Vector(1.0, 0.4, -2.0), Vector(0.7, 1.3, 2.2), Vector(-40, 25, 13.5));
  child->SetMg(target);
  EXPECT_TRUE(MatrixNear(child->GetMg(), target, 1e-9));
  EXPECT_TRUE(MatrixNear(parent->GetMg() * child->GetMl(), target, 1e-9));

  // The local matrix stays when the parent moves; the global one follows.
  const Matrix local = child->GetMl();
  Matrix moved = parent->GetMl();
  moved.off = moved.off + Vector(100, 0, 0);
  parent->SetMl(moved);
  EXPECT_EQ(child->GetMl(), local);
  EXPECT_TRUE(MatrixNear(child->GetMg(), parent->GetMg() * local, 1e-9));
  EXPECT_FALSE(MatrixNear(child->GetMg(), target, 1e-6));

  // At the top level global and local matrices are the same.
  grand->SetMg(target);
  EXPECT_EQ(grand->GetMl(), target);
}

TEST_F(SceneMatrixTest, InverseUndoesTheMatrixAndSingularGivesTheUnit) {
  const Matrix m = Placement(Vector(0.5, -1.1, 2.0), Vector(3, 0.25, 1.5), Vector(7, -8, 9));
  EXPECT_TRUE(MatrixNear(m * !m, Matrix(), 1e-12));
  EXPECT_TRUE(MatrixNear(!m * m, Matrix(), 1e-12));
  const Vector p(1.5, -2, 4);
  EXPECT_TRUE(VectorNear((!m) * (m * p), p, 1e-12));
  Matrix flat = m;
  flat.v3 = Vector();  // scaled to nothing along one axis
  EXPECT_EQ(!flat, Matrix());
  Matrix twice;
  twice.v1 = Vector(1, 2, 3);
  twice.v2 = Vector(0, 1, 0);
  twice.v3 = Vector(2, 4, 6);
  EXPECT_EQ(!twice, Matrix());
  Matrix translation;
  translation.off = Vector(1, 2, 3);
  EXPECT_EQ((!translation).off, Vector(-1, -2, -3));
}

TEST_F(SceneMatrixTest, HeadingPitchBankConventions) {
  // Heading turns +Z towards +X about Y, pitch turns +Z towards -Y, bank turns +X
  // towards +Y.
  EXPECT_TRUE(VectorNear(HPBToMatrix(Vector(pi / 2, 0, 0)).v3, Vector(1, 0, 0), 1e-15));
  EXPECT_TRUE(VectorNear(HPBToMatrix(Vector(0, pi / 2, 0)).v3, Vector(0, -1, 0), 1e-15));
  EXPECT_TRUE(VectorNear(HPBToMatrix(Vector(0, 0, pi / 2)).v1, Vector(0, 1, 0), 1e-15));
  // Bank applies first, then pitch, then heading.
  const Vector hpb(0.4, -0.7, 1.2);
  EXPECT_TRUE(MatrixNear(HPBToMatrix(hpb), HPBToMatrix(Vector(hpb.x, 0, 0)) * HPBToMatrix(Vector(0, hpb.y, 0)) *
                                               HPBToMatrix(Vector(0, 0, hpb.z)),
                         1e-14));
}

TEST_F(SceneMatrixTest, HPBRoundTripsAndIgnoresScale) {
  const double angles[] = {-3.0, -2.0, -1.2, -0.5, 0.0, 0.3, 1.0, 1.5, 2.5, 3.1};
  const double pitches[] = {-1.5, -1.0, -0.2, 0.0, 0.6, 1.2, 1.55};
  for (double h : angles)
    for (double p : pitches)
      for (double b : angles) {
        const Vector hpb(h, p, b);
        const Matrix m = HPBToMatrix(hpb);
        EXPECT_NEAR(Len(m.v1), 1.0, 1e-14);
        EXPECT_NEAR(m.v1 * m.v2, 0.0, 1e-14);
        EXPECT_NEAR(m.v2 * m.v3, 0.0, 1e-14);
        EXPECT_TRUE(VectorNear((m.v1 % m.v2), m.v3, 1e-14)) << h << " " << p << " " << b;
        EXPECT_TRUE(VectorNear(MatrixToHPB(m), hpb, 1e-9)) << h << " " << p << " " << b;
        EXPECT_TRUE(VectorNear(MatrixToHPB(Placement(hpb, Vector(3, 0.2, 7), Vector(5, 5, 5))), hpb, 1e-9));
      }
  // Straight up or down: heading and bank fold into one angle; the matrix survives.
  for (double p : {pi / 2, -pi / 2}) {
    const Matrix m = HPBToMatrix(Vector(0.7, p, 0.3));
    EXPECT_TRUE(MatrixNear(HPBToMatrix(MatrixToHPB(m)), m, 1e-9)) << p;
  }
}

TEST_F(SceneMatrixTest, RotationAndScaleSettersKeepEachOther) {
  ObjPtr op(BaseObject::Alloc(Onull));
  ASSERT_TRUE(op);
  op->SetRelPos(Vector(1, 2, 3));
  op->SetRelScale(Vector(2, 3, 4));
  EXPECT_TRUE(VectorNear(op->GetRelScale(), Vector(2, 3, 4), 1e-15));
  const Vector rot(0.3, -0.4, 1.1);
  op->SetRelRot(rot);
  EXPECT_TRUE(VectorNear(op->GetRelScale(), Vector(2, 3, 4), 1e-12));
  EXPECT_TRUE(VectorNear(op->GetRelRot(), rot, 1e-12));
  op->SetRelScale(Vector(0.5, 5, 1));
  EXPECT_TRUE(VectorNear(op->GetRelRot(), rot, 1e-12));
  EXPECT_TRUE(VectorNear(op->GetRelScale(), Vector(0.5, 5, 1), 1e-12));
  EXPECT_EQ(op->GetRelPos(), Vector(1, 2, 3));
  EXPECT_TRUE(MatrixNear(op->GetMl(), Placement(rot, Vector(0.5, 5, 1), Vector(1, 2, 3)), 1e-12));
}

TEST_F(SceneMatrixTest, ParametersAddressWholeVectorsAndComponents) {
  ObjPtr op(BaseObject::Alloc(Onull));
  ASSERT_TRUE(op);
  op->SetRelPos(Vector(1, 2, 3));
  GeData d;
  ASSERT_TRUE(op->GetParameter(DescID(ID_BASEOBJECT_REL_POSITION), d, DESCFLAGS_GET_0));
  EXPECT_EQ(d.GetType(), DA_VECTOR);
  EXPECT_EQ(d.GetVector(), Vector(1, 2, 3));
  ASSERT_TRUE(op->GetParameter(DescID(ID_BASEOBJECT_REL_POSITION, VECTOR_Y), d, DESCFLAGS_GET_0));
  EXPECT_EQ(d.GetType(), DA_REAL);
  EXPECT_EQ(d.GetReal(), 2.0);
  // Levels carrying a data type match too.
  ASSERT_TRUE(op->GetParameter(DescID(DescLevel(ID_BASEOBJECT_REL_POSITION, DTYPE_VECTOR, 0),
                                      DescLevel(VECTOR_Z, DTYPE_REAL, 0)),
                               d, DESCFLAGS_GET_0));
  EXPECT_EQ(d.GetReal(), 3.0);

  ASSERT_TRUE(op->SetParameter(DescID(ID_BASEOBJECT_REL_POSITION, VECTOR_X), GeData(-7.5), DESCFLAGS_SET_0));
  EXPECT_EQ(op->GetRelPos(), Vector(-7.5, 2, 3));
  ASSERT_TRUE(op->SetParameter(DescID(ID_BASEOBJECT_REL_POSITION), GeData(Vector(4, 5, 6)), DESCFLAGS_SET_0));
  EXPECT_EQ(op->GetRelPos(), Vector(4, 5, 6));
  EXPECT_FALSE(op->SetParameter(DescID(ID_BASEOBJECT_REL_POSITION, 999), GeData(1.0), DESCFLAGS_SET_0));
  EXPECT_FALSE(op->GetParameter(DescID(ID_BASEOBJECT_REL_POSITION, 999), d, DESCFLAGS_GET_0));
  EXPECT_EQ(op->GetRelPos(), Vector(4, 5, 6));

  ASSERT_TRUE(op->SetParameter(DescID(ID_BASEOBJECT_REL_SCALE, VECTOR_Z), GeData(4.0), DESCFLAGS_SET_0));
  EXPECT_TRUE(VectorNear(op->GetRelScale(), Vector(1, 1, 4), 1e-15));
  ASSERT_TRUE(op->SetParameter(DescID(ID_BASEOBJECT_REL_ROTATION, VECTOR_X), GeData(0.5), DESCFLAGS_SET_0));
  EXPECT_TRUE(VectorNear(op->GetRelRot(), Vector(0.5, 0, 0), 1e-12));
  EXPECT_TRUE(VectorNear(op->GetRelScale(), Vector(1, 1, 4), 1e-12));

  ASSERT_TRUE(op->SetParameter(DescID(ID_BASEOBJECT_VISIBILITY_EDITOR), GeData(LONG(MODE_OFF)), DESCFLAGS_SET_0));
  EXPECT_EQ(op->GetEditorMode(), MODE_OFF);
  ASSERT_TRUE(op->SetParameter(DescID(ID_BASELIST_NAME), GeData(String("renamed")), DESCFLAGS_SET_0));
  EXPECT_EQ(Name(op.get()), "renamed");

  // Container entries: a missing one does not answer; a stored vector answers per axis.
  EXPECT_FALSE(op->GetParameter(DescID(4242), d, DESCFLAGS_GET_0));
  EXPECT_FALSE(op->GetParameter(DescID(), d, DESCFLAGS_GET_0));
  ASSERT_TRUE(op->SetParameter(DescID(4242, VECTOR_Y), GeData(9.0), DESCFLAGS_SET_0));
  EXPECT_EQ(op->GetDataInstance()->GetVector(4242), Vector(0, 9, 0));
  ASSERT_TRUE(op->GetParameter(DescID(4242, VECTOR_Y), d, DESCFLAGS_GET_0));
  EXPECT_EQ(d.GetReal(), 9.0);
  op->GetDataInstance()->SetLong(4243, 5);
  EXPECT_FALSE(op->GetParameter(DescID(4243, VECTOR_X), d, DESCFLAGS_GET_0));  // not a vector
}

// --- polygon and spline objects ----------------------------------------------------------

class PointObjectTest : public HostTest {};

TEST_F(PointObjectTest, PolygonObjectCountsAndZeroedData) {
  ObjPtr owner(PolygonObject::Alloc(5, 3));
  ASSERT_TRUE(owner);
  PolygonObject* poly = ToPoly(owner.get());
  EXPECT_EQ(poly->GetType(), Opolygon);
  EXPECT_EQ(Name(poly), "Polygon");
  EXPECT_EQ(poly->GetPointCount(), 5);
  EXPECT_EQ(poly->GetPolygonCount(), 3);
  for (LONG i = 0; i < 5; ++i) EXPECT_EQ(poly->GetPointR()[i], Vector());
  for (LONG i = 0; i < 3; ++i) EXPECT_EQ(poly->GetPolygonR()[i], CPolygon(0, 0, 0, 0));
  EXPECT_TRUE(poly->IsInstanceOf(Opoint));
  EXPECT_TRUE(poly->IsInstanceOf(Opolygon));
  EXPECT_TRUE(poly->IsInstanceOf(Obase));
  EXPECT_FALSE(poly->IsInstanceOf(Ospline));
  ObjPtr null(BaseObject::Alloc(Onull));
  ASSERT_TRUE(null);
  EXPECT_FALSE(null->IsInstanceOf(Opoint));

  // The data lives in the object's point and polygon tags, which come first.
  EXPECT_EQ(TagTypes(poly), "5600,5604");
  auto* points = static_cast<VariableTag*>(poly->GetTag(Tpoint));
  auto* polygons = static_cast<VariableTag*>(poly->GetTag(Tpolygon));
  ASSERT_TRUE(points && polygons);
  EXPECT_EQ(points->GetDataAddressR(), poly->GetPointR());
  EXPECT_EQ(polygons->GetDataAddressR(), poly->GetPolygonR());
  EXPECT_EQ(points->GetDataSize(), static_cast<LONG>(sizeof(Vector)));
  EXPECT_EQ(polygons->GetDataSize(), static_cast<LONG>(sizeof(CPolygon)));
  EXPECT_EQ(points->GetObject(), poly);

  ObjPtr empty(PolygonObject::Alloc(0, 0));
  ASSERT_TRUE(empty);
  EXPECT_EQ(ToPoly(empty.get())->GetPointCount(), 0);
  EXPECT_EQ(PolygonObject::Alloc(-1, 0), nullptr);
}

#ifdef __linux__
// An object resized from nothing to a million points reserves its room first, then
// counts the entries: the new entries come zeroed from the allocator, and writing zeros
// over them again would make 24 MB present only to be overwritten by the caller.
TEST_F(PointObjectTest, NewEntriesOfALargeResizeAreLeftUnwritten) {
  constexpr LONG kPoints = 1 << 20;
  void* plain = GeAlloc(kPoints * static_cast<VLONG>(sizeof(Vector)));
  ASSERT_TRUE(plain);
  const double plainShare = ResidentShare(plain, kPoints * sizeof(Vector));
  GeFree(plain);
  if (plainShare > 0.5) GTEST_SKIP() << "this allocator writes new blocks itself";

  ObjPtr owner(PolygonObject::Alloc(0, 0));
  ASSERT_TRUE(owner);
  PolygonObject* poly = ToPoly(owner.get());
  ASSERT_TRUE(poly->ResizeObject(kPoints, 0));
  EXPECT_LT(ResidentShare(poly->GetPointR(), kPoints * sizeof(Vector)), 0.5);
  EXPECT_EQ(poly->GetPointR()[kPoints - 1], Vector());
}
#endif

TEST_F(PointObjectTest, ResizeKeepsTheCommonPartAndZeroesNewEntries) {
  ObjPtr owner(PolygonObject::Alloc(4, 2));
  ASSERT_TRUE(owner);
  PolygonObject* poly = ToPoly(owner.get());
  for (LONG i = 0; i < 4; ++i) poly->GetPointW()[i] = Vector(i + 1, -i, 0.5 * i);
  poly->GetPolygonW()[0] = CPolygon(0, 1, 2, 3);
  poly->GetPolygonW()[1] = CPolygon(3, 2, 1);

  ASSERT_TRUE(poly->ResizeObject(7, 5));
  EXPECT_EQ(poly->GetPointCount(), 7);
  EXPECT_EQ(poly->GetPolygonCount(), 5);
  for (LONG i = 0; i < 4; ++i) EXPECT_EQ(poly->GetPointR()[i], Vector(i + 1, -i, 0.5 * i));
  for (LONG i = 4; i < 7; ++i) EXPECT_EQ(poly->GetPointR()[i], Vector());
  EXPECT_EQ(poly->GetPolygonR()[1], CPolygon(3, 2, 1, 1));
  EXPECT_EQ(poly->GetPolygonR()[4], CPolygon(0, 0, 0, 0));

  // Shrinking, then growing within the kept room: what was cut off does not return.
  for (LONG i = 0; i < 7; ++i) poly->GetPointW()[i] = Vector(9, 9, 9);
  ASSERT_TRUE(poly->ResizeObject(2, 1));
  ASSERT_TRUE(poly->ResizeObject(6, 5));
  EXPECT_EQ(poly->GetPointR()[1], Vector(9, 9, 9));
  for (LONG i = 2; i < 6; ++i) EXPECT_EQ(poly->GetPointR()[i], Vector()) << i;
  for (LONG i = 1; i < 5; ++i) EXPECT_EQ(poly->GetPolygonR()[i], CPolygon(0, 0, 0, 0)) << i;
  EXPECT_EQ(TagTypes(poly), "5600,5604");  // resized in place, no new tags

  EXPECT_FALSE(poly->ResizeObject(-1, 2));
  EXPECT_FALSE(poly->ResizeObject(2, -1));
  EXPECT_EQ(poly->GetPointCount(), 6);
  EXPECT_EQ(poly->GetPolygonCount(), 5);
}

TEST_F(PointObjectTest, ResizeUnderFailingAllocationLeavesTheObjectAsItWas) {
  ObjPtr owner(PolygonObject::Alloc(3, 1));
  ASSERT_TRUE(owner);
  PolygonObject* poly = ToPoly(owner.get());
  for (LONG i = 0; i < 3; ++i) poly->GetPointW()[i] = Vector(i, i, i);
  poly->GetPolygonW()[0] = CPolygon(0, 1, 2);
  bool succeeded = false;
  for (LLONG n = 1; n < 20 && !succeeded; ++n) {
    host::FailAllocationAt(n);
    succeeded = poly->ResizeObject(300, 200);
    host::ResetFaults();
    if (succeeded) break;
    EXPECT_EQ(poly->GetPointCount(), 3) << n;
    EXPECT_EQ(poly->GetPolygonCount(), 1) << n;
    for (LONG i = 0; i < 3; ++i) EXPECT_EQ(poly->GetPointR()[i], Vector(i, i, i)) << n;
    EXPECT_EQ(poly->GetPolygonR()[0], CPolygon(0, 1, 2)) << n;
  }
  ASSERT_TRUE(succeeded);
  EXPECT_EQ(poly->GetPointCount(), 300);
  EXPECT_EQ(poly->GetPolygonR()[0], CPolygon(0, 1, 2));
}

TEST_F(PointObjectTest, AChangedPolygonCountDropsTheNgons) {
  ObjPtr owner(PolygonObject::Alloc(6, 2));
  ASSERT_TRUE(owner);
  PolygonObject* poly = ToPoly(owner.get());
  const LONG counts[] = {6};
  const LONG edges[] = {0, 1, 2, 4, 5, 6};
  ASSERT_TRUE(NodeAccess::SetNgons(poly, 1, counts, edges));
  EXPECT_EQ(poly->GetNgonCount(), 1);
  ASSERT_TRUE(poly->ResizeObject(8, 2));  // points only
  EXPECT_EQ(poly->GetNgonCount(), 1);
  ASSERT_EQ(NodeAccess::NgonEdgeCount(poly, 0), 6);
  EXPECT_EQ(NodeAccess::NgonEdges(poly, 0)[5], 6);
  EXPECT_EQ(NodeAccess::NgonEdges(poly, 1), nullptr);
  ASSERT_TRUE(poly->ResizeObject(8, 3));
  EXPECT_EQ(poly->GetNgonCount(), 0);
}

TEST_F(PointObjectTest, SplineSegmentsLiveInTheSegmentTag) {
  ObjPtr owner(SplineObject::Alloc(10, SPLINETYPE_BEZIER));
  ASSERT_TRUE(owner);
  SplineObject* spline = ToSpline(owner.get());
  EXPECT_EQ(spline->GetType(), Ospline);
  EXPECT_TRUE(spline->IsInstanceOf(Opoint));
  EXPECT_FALSE(spline->IsInstanceOf(Opolygon));
  EXPECT_EQ(spline->GetInterpolationType(), SPLINETYPE_BEZIER);
  EXPECT_EQ(spline->GetPointCount(), 10);
  EXPECT_EQ(spline->GetSegmentCount(), 0);
  EXPECT_EQ(spline->GetSegmentR(), nullptr);
  EXPECT_FALSE(spline->IsClosed());
  spline->GetDataInstance()->SetBool(SPLINEOBJECT_CLOSED, TRUE);
  EXPECT_TRUE(spline->IsClosed());
  EXPECT_EQ(TagTypes(spline), "5600");

  VariableTag* segTag = spline->MakeVariableTag(Tsegment, 2);
  ASSERT_TRUE(segTag);
  ASSERT_EQ(spline->GetSegmentCount(), 2);
  spline->GetSegmentW()[0] = Segment{4, TRUE};
  spline->GetSegmentW()[1] = Segment{6, FALSE};
  // Asking again resizes the same tag.
  EXPECT_EQ(spline->MakeVariableTag(Tsegment, 3), segTag);
  ASSERT_EQ(spline->GetSegmentCount(), 3);
  EXPECT_EQ(spline->GetSegmentR()[0].cnt, 4);
  EXPECT_TRUE(spline->GetSegmentR()[0].closed);
  EXPECT_EQ(spline->GetSegmentR()[1].cnt, 6);
  EXPECT_EQ(spline->GetSegmentR()[2].cnt, 0);
  EXPECT_FALSE(spline->GetSegmentR()[2].closed);
  EXPECT_EQ(spline->GetTag(Tsegment, 1), nullptr);

  ASSERT_TRUE(spline->ResizeObject(12, 0));
  EXPECT_EQ(spline->GetTag(Tsegment), nullptr);
  EXPECT_EQ(spline->GetSegmentCount(), 0);
  EXPECT_EQ(spline->GetPointCount(), 12);
  ASSERT_TRUE(spline->ResizeObject(12, 2));
  EXPECT_EQ(TagTypes(spline), "5600,5672");  // a new segment tag goes after the points
  EXPECT_EQ(spline->GetSegmentR()[1].cnt, 0);
  EXPECT_FALSE(spline->ResizeObject(-3, 1));
  EXPECT_EQ(spline->GetSegmentCount(), 2);
}

// --- tags --------------------------------------------------------------------------------

class SceneTagTest : public HostTest {};

TEST_F(SceneTagTest, MakeTagInsertsAfterItsPredecessorAndGetTagCountsByType) {
  ObjPtr op(BaseObject::Alloc(Onull));
  ObjPtr other(BaseObject::Alloc(Onull));
  ASSERT_TRUE(op && other);
  EXPECT_EQ(op->GetFirstTag(), nullptr);
  BaseTag* phong = op->MakeTag(Tphong);
  BaseTag* tex1 = op->MakeTag(Ttexture, phong);
  BaseTag* tex0 = op->MakeTag(Ttexture);  // first
  BaseTag* tex2 = op->MakeTag(Ttexture, tex1);
  ASSERT_TRUE(phong && tex0 && tex1 && tex2);
  EXPECT_EQ(TagTypes(op.get()), "5616,5612,5616,5616");
  EXPECT_EQ(op->GetTag(Ttexture, 0), tex0);
  EXPECT_EQ(op->GetTag(Ttexture, 1), tex1);
  EXPECT_EQ(op->GetTag(Ttexture, 2), tex2);
  EXPECT_EQ(op->GetTag(Ttexture, 3), nullptr);
  EXPECT_EQ(op->GetTag(Tphong), phong);
  EXPECT_EQ(op->GetTag(Tuvw), nullptr);
  EXPECT_EQ(op->MakeTag(987654321), nullptr);  // not a known tag type

  // InsertTag moves a tag; a predecessor of another object does not count.
  other->InsertTag(tex1);
  EXPECT_EQ(tex1->GetObject(), other.get());
  EXPECT_EQ(op->GetTag(Ttexture, 1), tex2);
  BaseTag* otherPhong = other->MakeTag(Tphong, tex1);
  ASSERT_TRUE(otherPhong);
  op->InsertTag(tex1, otherPhong);
  EXPECT_EQ(op->GetFirstTag(), tex1);
  op->InsertTag(tex1, tex2);
  EXPECT_EQ(TagTypes(op.get()), "5616,5612,5616,5616");
  EXPECT_EQ(op->GetTag(Ttexture, 2), tex1);
  EXPECT_EQ(TagTypes(other.get()), "5612");

  // KillTag frees the nr-th tag of the type only.
  op->KillTag(Ttexture, 1);
  EXPECT_EQ(op->GetTag(Ttexture, 0), tex0);
  EXPECT_EQ(op->GetTag(Ttexture, 1), tex1);
  op->KillTag(Ttexture, 5);  // none: nothing happens
  op->KillTag(Tphong);
  EXPECT_EQ(TagTypes(op.get()), "5616,5616");
}

TEST_F(SceneTagTest, VariableTagsOfPointDataResizeTheObjectsOwnTag) {
  ObjPtr owner(PolygonObject::Alloc(4, 1));
  ASSERT_TRUE(owner);
  PolygonObject* poly = ToPoly(owner.get());
  poly->GetPointW()[3] = Vector(1, 2, 3);
  BaseTag* points = poly->GetTag(Tpoint);
  VariableTag* again = poly->MakeVariableTag(Tpoint, 9);
  EXPECT_EQ(again, points);
  EXPECT_EQ(poly->GetPointCount(), 9);
  EXPECT_EQ(poly->GetPointR()[3], Vector(1, 2, 3));
  EXPECT_EQ(TagTypes(poly), "5600,5604");

  // Other variable tags are added, each with its own count.
  VariableTag* uvw = poly->MakeVariableTag(Tuvw, 1, poly->GetTag(Tpolygon));
  VariableTag* uvw2 = poly->MakeVariableTag(Tuvw, 2, uvw);
  ASSERT_TRUE(uvw && uvw2);
  EXPECT_NE(uvw, uvw2);
  EXPECT_EQ(TagTypes(poly), "5600,5604,5671,5671");
  EXPECT_EQ(uvw2->GetDataCount(), 2);
  EXPECT_EQ(uvw->GetDataSize(), static_cast<LONG>(12 * sizeof(SReal)));

  EXPECT_EQ(VariableTag::Alloc(Tphong, 3), nullptr);
  EXPECT_EQ(VariableTag::Alloc(Tuvw, -1), nullptr);
  EXPECT_EQ(VariableTag::EntrySize(Ttexture), 0);
  EXPECT_EQ(SelectionTag::Alloc(Ttexture), nullptr);
}

TEST_F(SceneTagTest, UVWAndNormalTagsStoreSinglePrecision) {
  TagPtr uvwOwner(UVWTag::Alloc(3));
  TagPtr normalOwner(NormalTag::Alloc(2));
  ASSERT_TRUE(uvwOwner && normalOwner);
  auto* uvw = static_cast<UVWTag*>(uvwOwner.get());
  auto* normals = static_cast<NormalTag*>(normalOwner.get());
  EXPECT_EQ(uvw->GetType(), Tuvw);
  EXPECT_EQ(normals->GetType(), Tnormal);

  const UVWStruct s{Vector(0.1, 0.2, 0.3), Vector(0.4, 0.5, 0.6), Vector(0.7, 0.8, 0.9), Vector(1.0 / 3, -2.5, 1e-3)};
  UVWTag::Set(uvw->GetDataAddressW(), 1, s);
  UVWStruct got;
  UVWTag::Get(uvw->GetDataAddressR(), 1, got);
  const Vector want[4] = {s.a, s.b, s.c, s.d}, have[4] = {got.a, got.b, got.c, got.d};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(have[k].x, Narrow(want[k].x)) << k;
    EXPECT_EQ(have[k].y, Narrow(want[k].y)) << k;
    EXPECT_EQ(have[k].z, Narrow(want[k].z)) << k;
  }
  // Its neighbours are untouched; the slow accessors check the index.
  EXPECT_EQ(uvw->GetSlow(0).d, Vector());
  EXPECT_EQ(uvw->GetSlow(2).a, Vector());
  EXPECT_EQ(uvw->GetSlow(1).b.y, Narrow(0.5));
  EXPECT_EQ(uvw->GetSlow(3).a, Vector());
  EXPECT_EQ(uvw->GetSlow(-1).a, Vector());
  uvw->SetSlow(3, s);  // out of range: ignored
  uvw->SetSlow(2, s);
  EXPECT_EQ(uvw->GetSlow(2).c.z, Narrow(0.9));

  const NormalStruct n{Vector(0, 1, 0), Vector(0.6, 0.8, 0), Vector(-1, 0, 0), Vector(0.1, 0.2, 0.97)};
  NormalTag::Set(normals->GetDataAddressW(), 1, n);
  NormalStruct ng;
  NormalTag::Get(normals->GetDataAddressR(), 1, ng);
  EXPECT_EQ(ng.b, Vector(Narrow(0.6), Narrow(0.8), 0));
  EXPECT_EQ(ng.d.z, Narrow(0.97));
  NormalTag::Get(normals->GetDataAddressR(), 0, ng);
  EXPECT_EQ(ng.a, Vector());
}

TEST_F(SceneTagTest, TextureTagDefaultsPlacementAndMaterialLink) {
  DocPtr doc = NewDoc();
  DocPtr other = NewDoc();
  ASSERT_TRUE(doc && other);
  BaseObject* op = AddObject(doc.get(), Onull, "holder");
  ASSERT_TRUE(op);
  auto* tag = static_cast<TextureTag*>(op->MakeTag(Ttexture));
  ASSERT_TRUE(tag);
  const BaseContainer* bc = tag->GetDataInstance();
  EXPECT_EQ(bc->GetLong(TEXTURETAG_PROJECTION, -1), TEXTURETAG_PROJECTION_UVW);
  EXPECT_EQ(bc->GetReal(TEXTURETAG_LENGTHX), 1.0);
  EXPECT_EQ(bc->GetReal(TEXTURETAG_LENGTHY), 1.0);
  EXPECT_EQ(bc->GetReal(TEXTURETAG_OFFSETX, -1), 0.0);
  EXPECT_TRUE(bc->GetBool(TEXTURETAG_TILE));
  EXPECT_EQ(tag->GetMaterial(), nullptr);

  // The placement matrix keeps position, size and rotation.
  const Matrix place = Placement(Vector(0.2, 0.3, -0.4), Vector(50, 60, 70), Vector(1, 2, 3));
  tag->SetMl(place);
  EXPECT_TRUE(MatrixNear(tag->GetMl(), place, 1e-9));
  EXPECT_TRUE(VectorNear(bc->GetVector(TEXTURETAG_SIZE), Vector(50, 60, 70), 1e-9));

  Material* mine = Material::Alloc();
  Material* foreign = Material::Alloc();
  ASSERT_TRUE(mine && foreign);
  doc->InsertMaterial(mine);
  other->InsertMaterial(foreign);
  tag->SetMaterial(mine);
  EXPECT_EQ(tag->GetMaterial(), mine);
  // A material of another document only answers with ignoredoc.
  tag->SetMaterial(foreign);
  EXPECT_EQ(tag->GetMaterial(), nullptr);
  EXPECT_EQ(tag->GetMaterial(TRUE), foreign);
  // A tag outside any document reaches its material with ignoredoc.
  tag->SetMaterial(mine);
  op->Remove();
  EXPECT_EQ(tag->GetMaterial(TRUE), mine);
  doc->InsertObject(op, nullptr, nullptr);
  EXPECT_EQ(tag->GetMaterial(), mine);
  // A freed material reads null, even with ignoredoc.
  BaseMaterial* freed = mine;
  BaseMaterial::Free(freed);
  EXPECT_EQ(tag->GetMaterial(), nullptr);
  EXPECT_EQ(tag->GetMaterial(TRUE), nullptr);
}

TEST_F(SceneTagTest, SetPhongAddsUpdatesAndRemovesOneTag) {
  ObjPtr owner(PolygonObject::Alloc(3, 1));
  ASSERT_TRUE(owner);
  BaseObject* op = owner.get();
  ASSERT_TRUE(op->SetPhong(TRUE, TRUE, Rad(30)));
  BaseTag* phong = op->GetTag(Tphong);
  ASSERT_TRUE(phong);
  EXPECT_EQ(TagTypes(op), "5600,5604,5612");  // appended after the data tags
  EXPECT_TRUE(phong->GetDataInstance()->GetBool(PHONGTAG_PHONG_ANGLELIMIT));
  EXPECT_DOUBLE_EQ(phong->GetDataInstance()->GetReal(PHONGTAG_PHONG_ANGLE), Rad(30));

  ASSERT_TRUE(op->SetPhong(TRUE, FALSE, Rad(60)));
  EXPECT_EQ(op->GetTag(Tphong), phong);
  EXPECT_EQ(op->GetTag(Tphong, 1), nullptr);
  EXPECT_FALSE(phong->GetDataInstance()->GetBool(PHONGTAG_PHONG_ANGLELIMIT, TRUE));
  EXPECT_DOUBLE_EQ(phong->GetDataInstance()->GetReal(PHONGTAG_PHONG_ANGLE), Rad(60));

  ASSERT_TRUE(op->SetPhong(FALSE, FALSE, 0));
  EXPECT_EQ(op->GetTag(Tphong), nullptr);
  EXPECT_TRUE(op->SetPhong(FALSE, FALSE, 0));  // already off

  // A new Phong tag has the host's defaults.
  TagPtr fresh(BaseTag::Alloc(Tphong));
  ASSERT_TRUE(fresh);
  EXPECT_DOUBLE_EQ(fresh->GetDataInstance()->GetReal(PHONGTAG_PHONG_ANGLE), Rad(80));
  EXPECT_TRUE(fresh->GetDataInstance()->GetBool(PHONGTAG_PHONG_USEEDGES));
}

// --- BaseSelect --------------------------------------------------------------------------

class BaseSelectTest : public HostTest {};

namespace {

std::vector<std::pair<LONG, LONG>> Ranges(const BaseSelect& bs, LONG maxElements = INT_MAX) {
  std::vector<std::pair<LONG, LONG>> out;
  LONG a = 0, b = 0;
  for (LONG seg = 0; bs.GetRange(seg, maxElements, &a, &b); ++seg) out.emplace_back(a, b);
  return out;
}

std::vector<std::pair<LONG, LONG>> Runs(const std::set<LONG>& s) {
  std::vector<std::pair<LONG, LONG>> out;
  for (LONG v : s) {
    if (!out.empty() && out.back().second + 1 == v)
      out.back().second = v;
    else
      out.emplace_back(v, v);
  }
  return out;
}

}  // namespace

TEST_F(BaseSelectTest, RangesMergeSplitAndStayAscending) {
  SelPtr owner(BaseSelect::Alloc());
  ASSERT_TRUE(owner);
  BaseSelect& bs = *owner;
  EXPECT_EQ(bs.GetCount(), 0);
  EXPECT_EQ(bs.GetSegments(), 0);
  EXPECT_EQ(bs.GetLastElement(), -1);

  // Out of order; 5 and 7 are joined by 6, 10..12 by a range.
  for (LONG n : {20, 5, 7, 3, 10, 12}) ASSERT_TRUE(bs.Select(n));
  using R = std::vector<std::pair<LONG, LONG>>;
  EXPECT_EQ(Ranges(bs), (R{{3, 3}, {5, 5}, {7, 7}, {10, 10}, {12, 12}, {20, 20}}));
  ASSERT_TRUE(bs.Select(6));
  ASSERT_TRUE(bs.SelectAll(12, 10));  // bounds in either order
  ASSERT_TRUE(bs.Select(4));
  EXPECT_EQ(Ranges(bs), (R{{3, 7}, {10, 12}, {20, 20}}));
  EXPECT_EQ(bs.GetCount(), 9);
  EXPECT_EQ(bs.GetSegments(), 3);
  EXPECT_EQ(bs.GetLastElement(), 20);
  ASSERT_TRUE(bs.Select(5));  // already in: nothing changes
  EXPECT_EQ(bs.GetCount(), 9);

  // One range touching the ends of two others swallows them.
  ASSERT_TRUE(bs.SelectAll(8, 19));
  EXPECT_EQ(Ranges(bs), (R{{3, 20}}));

  // Deselect splits, trims or removes.
  ASSERT_TRUE(bs.Deselect(10));
  ASSERT_TRUE(bs.Deselect(3));
  ASSERT_TRUE(bs.Deselect(20));
  ASSERT_TRUE(bs.Deselect(100));  // not selected: fine
  EXPECT_EQ(Ranges(bs), (R{{4, 9}, {11, 19}}));
  EXPECT_FALSE(bs.IsSelected(10));
  EXPECT_TRUE(bs.IsSelected(11));
  EXPECT_TRUE(bs.IsSelected(4));
  EXPECT_FALSE(bs.IsSelected(3));
  EXPECT_FALSE(bs.IsSelected(-1));
  ASSERT_TRUE(bs.Toggle(10));
  ASSERT_TRUE(bs.Toggle(4));
  EXPECT_EQ(Ranges(bs), (R{{5, 19}}));

  EXPECT_FALSE(bs.Select(-1));
  EXPECT_FALSE(bs.SelectAll(-3, 2));
  EXPECT_FALSE(bs.Deselect(-1));
  EXPECT_EQ(Ranges(bs), (R{{5, 19}}));

  ASSERT_TRUE(bs.DeselectAll());
  EXPECT_EQ(bs.GetCount(), 0);
  EXPECT_EQ(bs.GetLastElement(), -1);
}

TEST_F(BaseSelectTest, GetRangeClampsToTheElementCount) {
  SelPtr owner(BaseSelect::Alloc());
  ASSERT_TRUE(owner);
  BaseSelect& bs = *owner;
  ASSERT_TRUE(bs.SelectAll(2, 4));
  ASSERT_TRUE(bs.SelectAll(8, 15));
  ASSERT_TRUE(bs.Select(30));
  LONG a = -1, b = -1;
  ASSERT_TRUE(bs.GetRange(1, 10, &a, &b));
  EXPECT_EQ(a, 8);
  EXPECT_EQ(b, 9);
  ASSERT_TRUE(bs.GetRange(0, 10, &a, &b));
  EXPECT_EQ(b, 4);
  EXPECT_FALSE(bs.GetRange(2, 10, &a, &b));  // starts beyond the elements
  EXPECT_FALSE(bs.GetRange(1, 8, &a, &b));
  ASSERT_TRUE(bs.GetRange(1, 9, &a, &b));
  EXPECT_EQ(a, 8);
  EXPECT_EQ(b, 8);
  EXPECT_FALSE(bs.GetRange(3, 100, &a, &b));
  EXPECT_FALSE(bs.GetRange(-1, 100, &a, &b));
  EXPECT_TRUE(bs.GetRange(2, 100, nullptr, nullptr));
}

TEST_F(BaseSelectTest, RandomOperationsMatchASetOfIndices) {
  SelPtr owner(BaseSelect::Alloc());
  ASSERT_TRUE(owner);
  BaseSelect& bs = *owner;
  std::set<LONG> ref;
  std::mt19937 rng(20240611u);
  std::uniform_int_distribution<LONG> index(0, 299), op(0, 99);
  for (int step = 0; step < 5000; ++step) {
    const LONG n = index(rng);
    const LONG kind = op(rng);
    if (kind < 40) {
      ASSERT_TRUE(bs.Select(n));
      ref.insert(n);
    } else if (kind < 70) {
      ASSERT_TRUE(bs.Deselect(n));
      ref.erase(n);
    } else if (kind < 90) {
      ASSERT_TRUE(bs.Toggle(n));
      if (!ref.erase(n)) ref.insert(n);
    } else if (kind < 99) {
      const LONG m = std::min<LONG>(299, n + index(rng) % 12);
      ASSERT_TRUE(kind % 2 ? bs.SelectAll(n, m) : bs.SelectAll(m, n));
      for (LONG i = n; i <= m; ++i) ref.insert(i);
    } else {
      ASSERT_TRUE(bs.DeselectAll());
      ref.clear();
    }
    ASSERT_EQ(bs.GetCount(), static_cast<LONG>(ref.size())) << "step " << step;
    ASSERT_EQ(bs.GetLastElement(), ref.empty() ? -1 : *ref.rbegin()) << "step " << step;
    const LONG probe = index(rng);
    ASSERT_EQ(bs.IsSelected(probe), ref.count(probe) == 1) << "step " << step << " probe " << probe;
    if (step % 25 == 0) {
      const auto runs = Runs(ref);
      ASSERT_EQ(Ranges(bs), runs) << "step " << step;
      ASSERT_EQ(bs.GetSegments(), static_cast<LONG>(runs.size()));
      // Clamped to a limit inside the selection.
      const LONG limit = index(rng) + 1;
      std::vector<std::pair<LONG, LONG>> clamped;
      for (const auto& r : runs)
        if (r.first < limit) clamped.emplace_back(r.first, std::min(r.second, limit - 1));
      ASSERT_EQ(Ranges(bs, limit), clamped) << "step " << step << " limit " << limit;
    }
  }
}

TEST_F(BaseSelectTest, CopiesAreIndependentAndEqual) {
  SelPtr a(BaseSelect::Alloc());
  SelPtr b(BaseSelect::Alloc());
  ASSERT_TRUE(a && b);
  for (LONG n = 0; n < 40; n += 3) ASSERT_TRUE(a->Select(n));
  ASSERT_TRUE(b->SelectAll(100, 200));
  ASSERT_TRUE(a->CopyTo(b.get()));
  EXPECT_TRUE(*a == *b);
  EXPECT_EQ(Ranges(*b), Ranges(*a));
  EXPECT_FALSE(a->CopyTo(nullptr));
  EXPECT_TRUE(a->CopyTo(a.get()));
  SelPtr clone(a->GetClone());
  ASSERT_TRUE(clone);
  EXPECT_TRUE(*clone == *a);
  ASSERT_TRUE(clone->Select(1));
  EXPECT_FALSE(a->IsSelected(1));
  EXPECT_FALSE(*clone == *a);
  SelPtr empty(BaseSelect::Alloc());
  ASSERT_TRUE(empty);
  ASSERT_TRUE(empty->CopyTo(a.get()));
  EXPECT_EQ(a->GetCount(), 0);
}

TEST_F(BaseSelectTest, FailedAllocationLeavesTheSelectionUnchanged) {
  SelPtr owner(BaseSelect::Alloc());
  ASSERT_TRUE(owner);
  BaseSelect& bs = *owner;
  // Four ranges fill the first block; the fifth range and a split need a bigger one.
  for (LONG n = 0; n < 8; n += 2) ASSERT_TRUE(bs.Select(n));
  const auto before = Ranges(bs);
  host::FailAllocationAt(1);
  EXPECT_FALSE(bs.Select(20));
  host::FailAllocationAt(1);
  EXPECT_FALSE(bs.SelectAll(30, 40));
  EXPECT_EQ(Ranges(bs), before);
  ASSERT_TRUE(bs.SelectAll(0, 6));
  ASSERT_TRUE(bs.SelectAll(10, 11));
  ASSERT_TRUE(bs.SelectAll(13, 14));
  ASSERT_TRUE(bs.SelectAll(16, 17));
  const auto four = Ranges(bs);
  ASSERT_EQ(four.size(), 4u);
  host::FailAllocationAt(1);
  EXPECT_FALSE(bs.Deselect(3));  // a split needs a fifth range
  host::ResetFaults();
  EXPECT_EQ(Ranges(bs), four);
  EXPECT_TRUE(bs.Deselect(3));
  EXPECT_EQ(bs.GetSegments(), 5);
}

// A range may end at the largest index: selecting next to it, and counting it, must
// not overflow.
TEST_F(BaseSelectTest, RangesEndingAtTheLargestIndex) {
  SelPtr owner(BaseSelect::Alloc());
  ASSERT_TRUE(owner);
  BaseSelect& bs = *owner;
  ASSERT_TRUE(bs.SelectAll(INT_MAX - 2, INT_MAX));
  ASSERT_TRUE(bs.Select(5));
  EXPECT_TRUE(bs.IsSelected(5));
  EXPECT_TRUE(bs.IsSelected(INT_MAX));
  EXPECT_EQ(bs.GetSegments(), 2);
  EXPECT_EQ(bs.GetCount(), 4);
}

// --- materials and shaders ---------------------------------------------------------------

class MaterialTest : public HostTest {};

namespace {

LONG ShaderCount(const BaseMaterial* mat) {
  LONG n = 0;
  for (const BaseShader* s = mat->GetFirstShader(); s; s = s->GetNext()) ++n;
  return n;
}

}  // namespace

TEST_F(MaterialTest, ChannelsSwitchAndHoldTheirData) {
  MatPtr owner(Material::Alloc());
  ASSERT_TRUE(owner);
  auto* mat = static_cast<Material*>(owner.get());
  EXPECT_EQ(mat->GetType(), Mmaterial);
  EXPECT_TRUE(mat->IsInstanceOf(Mbase));
  for (LONG id = 0; id < CHANNEL_COUNT; ++id)
    EXPECT_EQ(mat->GetChannelState(id), id == CHANNEL_COLOR || id == CHANNEL_SPECULAR) << id;
  EXPECT_FALSE(mat->GetChannelState(-1));
  EXPECT_FALSE(mat->GetChannelState(CHANNEL_COUNT));
  EXPECT_EQ(mat->GetChannel(-1), nullptr);
  EXPECT_EQ(mat->GetChannel(CHANNEL_COUNT), nullptr);
  mat->SetChannelState(CHANNEL_BUMP, TRUE);
  mat->SetChannelState(CHANNEL_COLOR, FALSE);
  mat->SetChannelState(CHANNEL_COUNT, TRUE);  // ignored
  EXPECT_TRUE(mat->GetChannelState(CHANNEL_BUMP));
  EXPECT_FALSE(mat->GetChannelState(CHANNEL_COLOR));

  BaseChannel* color = mat->GetChannel(CHANNEL_COLOR);
  ASSERT_TRUE(color);
  EXPECT_EQ(color->GetData().GetVector(BASECHANNEL_COLOR_EX), Vector(0.8, 0.8, 0.8));
  EXPECT_EQ(color->GetData().GetString(BASECHANNEL_TEXTURE, String("x")).Std(), "");
  BaseContainer bc;
  bc.SetVector(BASECHANNEL_COLOR_EX, Vector(0.1, 0.2, 0.3));
  bc.SetReal(BASECHANNEL_BRIGHTNESS_EX, 0.75);
  bc.SetLong(BASECHANNEL_MIXMODE_EX, 2);
  color->SetData(bc);
  const BaseContainer back = color->GetData();
  EXPECT_EQ(back.GetVector(BASECHANNEL_COLOR_EX), Vector(0.1, 0.2, 0.3));
  EXPECT_EQ(back.GetReal(BASECHANNEL_BRIGHTNESS_EX), 0.75);
  EXPECT_EQ(back.GetLong(BASECHANNEL_MIXMODE_EX), 2);
  // Channels are separate.
  EXPECT_EQ(mat->GetChannel(CHANNEL_LUMINANCE)->GetData().GetVector(BASECHANNEL_COLOR_EX), Vector(1, 1, 1));
  EXPECT_EQ(mat->GetChannel(CHANNEL_LUMINANCE)->GetData().GetReal(BASECHANNEL_BRIGHTNESS_EX), 1.0);
}

TEST_F(MaterialTest, ATextureNameBringsABitmapShaderAndAnEmptyOneRemovesIt) {
  MatPtr owner(Material::Alloc());
  ASSERT_TRUE(owner);
  auto* mat = static_cast<Material*>(owner.get());
  BaseChannel* color = mat->GetChannel(CHANNEL_COLOR);
  BaseChannel* bump = mat->GetChannel(CHANNEL_BUMP);
  BaseContainer bc;
  bc.SetString(BASECHANNEL_TEXTURE, String("textures/wood.png"));
  color->SetData(bc);
  BaseShader* shader = color->GetShader();
  ASSERT_TRUE(shader);
  EXPECT_EQ(shader->GetType(), Xbitmap);
  EXPECT_EQ(mat->GetFirstShader(), shader);
  EXPECT_EQ(shader->GetDataInstance()->GetFilename(BITMAPSHADER_FILENAME).GetString().Std(), "textures/wood.png");
  EXPECT_EQ(color->GetData().GetString(BASECHANNEL_TEXTURE).Std(), "textures/wood.png");
  // The name is not kept twice: the channel's own container does not hold it.
  EXPECT_EQ(NodeAccess::ChannelData(*color).GetDataPointer(BASECHANNEL_TEXTURE), nullptr);

  // A new name changes the same shader; another channel gets its own.
  bc.SetString(BASECHANNEL_TEXTURE, String("stone.jpg"));
  color->SetData(bc);
  EXPECT_EQ(color->GetShader(), shader);
  EXPECT_EQ(ShaderCount(mat), 1);
  bc.SetString(BASECHANNEL_TEXTURE, String("bumps.tif"));
  bump->SetData(bc);
  EXPECT_EQ(ShaderCount(mat), 2);
  EXPECT_NE(bump->GetShader(), shader);
  EXPECT_EQ(color->GetData().GetString(BASECHANNEL_TEXTURE).Std(), "stone.jpg");
  EXPECT_EQ(bump->GetData().GetString(BASECHANNEL_TEXTURE).Std(), "bumps.tif");

  // Data without a texture entry leaves the shader.
  BaseContainer plain;
  plain.SetReal(BASECHANNEL_BRIGHTNESS_EX, 0.5);
  color->SetData(plain);
  EXPECT_EQ(color->GetShader(), shader);

  bc.SetString(BASECHANNEL_TEXTURE, String());
  color->SetData(bc);
  EXPECT_EQ(color->GetShader(), nullptr);
  EXPECT_EQ(ShaderCount(mat), 1);
  EXPECT_EQ(color->GetData().GetString(BASECHANNEL_TEXTURE, String("x")).Std(), "");
  EXPECT_EQ(bump->GetData().GetString(BASECHANNEL_TEXTURE).Std(), "bumps.tif");
}

TEST_F(MaterialTest, LayerShaderHoldsABitmapShaderThroughItsLink) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  Material* mat = Material::Alloc();
  ASSERT_TRUE(mat);
  doc->InsertMaterial(mat);
  BaseShader* layer = BaseShader::Alloc(Xlayer);
  BaseShader* bitmap = BaseShader::Alloc(Xbitmap);
  ASSERT_TRUE(layer && bitmap);
  EXPECT_EQ(layer->GetDataInstance()->GetLink(LAYERSHADER_SHADER, nullptr), nullptr);
  mat->InsertShader(layer);
  layer->InsertShader(bitmap);
  bitmap->GetDataInstance()->SetFilename(BITMAPSHADER_FILENAME, Filename("/maps/leaf.png"));
  layer->GetDataInstance()->SetLink(LAYERSHADER_SHADER, bitmap);
  BaseChannel* color = mat->GetChannel(CHANNEL_COLOR);
  color->SetShader(layer);

  EXPECT_EQ(color->GetShader(), layer);
  EXPECT_EQ(layer->GetDown(), bitmap);
  EXPECT_EQ(layer->GetDataInstance()->GetLink(LAYERSHADER_SHADER, doc.get(), Xbase), bitmap);
  // The channel's shader is no bitmap: no texture name.
  EXPECT_EQ(color->GetData().GetString(BASECHANNEL_TEXTURE, String("x")).Std(), "");

  // A copy of the material links its own shaders.
  MatPtr copyOwner(static_cast<BaseMaterial*>(mat->GetClone(COPYFLAGS_0, nullptr)));
  ASSERT_TRUE(copyOwner);
  auto* copy = static_cast<Material*>(copyOwner.get());
  BaseShader* copyLayer = copy->GetChannel(CHANNEL_COLOR)->GetShader();
  ASSERT_TRUE(copyLayer);
  EXPECT_NE(copyLayer, layer);
  EXPECT_EQ(copyLayer, copy->GetFirstShader());
  BaseShader* copyBitmap = copyLayer->GetDown();
  ASSERT_TRUE(copyBitmap);
  EXPECT_NE(copyBitmap, bitmap);
  EXPECT_EQ(copyLayer->GetDataInstance()->GetLink(LAYERSHADER_SHADER, nullptr), copyBitmap);
  EXPECT_EQ(copyBitmap->GetDataInstance()->GetFilename(BITMAPSHADER_FILENAME).GetString().Std(), "/maps/leaf.png");

  // A shader of another material is not a channel's shader.
  copy->GetChannel(CHANNEL_BUMP)->SetShader(bitmap);
  EXPECT_EQ(copy->GetChannel(CHANNEL_BUMP)->GetShader(), nullptr);

  // A texture name replaces the layer shader with a bitmap shader; the layer shader goes
  // with what it held.
  BaseContainer bc;
  bc.SetString(BASECHANNEL_TEXTURE, String("bark.png"));
  color->SetData(bc);
  ASSERT_EQ(ShaderCount(mat), 1);
  EXPECT_EQ(mat->GetFirstShader()->GetType(), Xbitmap);
  EXPECT_EQ(mat->GetFirstShader()->GetDown(), nullptr);
  EXPECT_EQ(color->GetData().GetString(BASECHANNEL_TEXTURE).Std(), "bark.png");
}

TEST_F(MaterialTest, DocumentMaterialsUpdatesAndOtherTypes) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  BaseMaterial* a = BaseMaterial::Alloc(Mmaterial);
  BaseMaterial* fog = BaseMaterial::Alloc(Mfog);
  BaseMaterial* c = Material::Alloc();
  ASSERT_TRUE(a && fog && c);
  a->SetName("a");
  c->SetName("c");
  EXPECT_EQ(Name(fog), "Fog");
  EXPECT_EQ(fog->GetType(), Mfog);
  EXPECT_TRUE(fog->IsInstanceOf(Mbase));
  EXPECT_FALSE(fog->IsInstanceOf(Mmaterial));
  EXPECT_EQ(fog->GetFirstShader(), nullptr);
  doc->InsertMaterial(a);
  doc->InsertMaterial(c, a);
  doc->InsertMaterial(fog, a);
  std::string order;
  for (BaseMaterial* m = doc->GetFirstMaterial(); m; m = m->GetNext()) order += Name(m) + ";";
  EXPECT_EQ(order, "a;Fog;c;");
  EXPECT_EQ(doc->SearchMaterial(String("c")), c);
  EXPECT_EQ(doc->SearchMaterial(String("Fog")), fog);
  EXPECT_EQ(doc->SearchMaterial(String("none")), nullptr);

  EXPECT_EQ(a->GetUpdateCount(), 0);
  a->Update(TRUE, TRUE);
  a->Update(FALSE, FALSE);
  EXPECT_EQ(a->GetUpdateCount(), 2);
  EXPECT_EQ(c->GetUpdateCount(), 0);

  EXPECT_EQ(BaseMaterial::Alloc(123456), nullptr);
  EXPECT_EQ(BaseMaterial::Alloc(0), nullptr);
  EXPECT_EQ(BaseShader::Alloc(0), nullptr);
}

// --- texture files -----------------------------------------------------------------------

class TextureSearchTest : public HostTest {
 protected:
  std::string Touch(const std::string& rel) { return WriteFile(rel, "x"); }
};

TEST_F(TextureSearchTest, SearchFileLooksThroughSubFoldersIgnoringCase) {
  const std::string root = TempDir() + "/lib";
  const std::string deep = Touch("lib/a/b/Grain.PNG");
  const std::string shallow = Touch("lib/c/grain.png");
  const std::string top = Touch("lib/rock.jpg");
  Touch("lib/a/other.png");
  Filename found;
  // Breadth first: the shallower folder wins.
  ASSERT_TRUE(GeSearchFile(Filename(root.c_str()), Filename("grain.png"), &found));
  EXPECT_EQ(Slashed(found.GetString().Std()), Slashed(shallow));
  ASSERT_TRUE(GeSearchFile(Filename((root + "/a").c_str()), Filename("GRAIN.png"), &found));
  EXPECT_EQ(Slashed(found.GetString().Std()), Slashed(deep));
  // Only the file part of the name counts, whatever the separator.
  ASSERT_TRUE(GeSearchFile(Filename(root.c_str()), Filename("C:\\old\\maps\\ROCK.JPG"), &found));
  EXPECT_EQ(Slashed(found.GetString().Std()), Slashed(top));
  ASSERT_TRUE(GeSearchFile(Filename(root.c_str()), Filename("/elsewhere/rock.jpg"), nullptr));

  EXPECT_FALSE(GeSearchFile(Filename(root.c_str()), Filename("missing.png"), &found));
  EXPECT_FALSE(GeSearchFile(Filename(root.c_str()), Filename(""), &found));
  EXPECT_FALSE(GeSearchFile(Filename(""), Filename("rock.jpg"), &found));
  EXPECT_FALSE(GeSearchFile(Filename((root + "/nope").c_str()), Filename("rock.jpg"), &found));
  // A folder of the name is not a file.
  fs::create_directories(root + "/x/folder.png");
  EXPECT_FALSE(GeSearchFile(Filename((root + "/x").c_str()), Filename("folder.png"), &found));
}

TEST_F(TextureSearchTest, GenerateTexturePathTriesTheSuggestedFolderThenTheDocument) {
  const std::string docDir = TempDir() + "/scene";
  const std::string inTex = Touch("scene/tex/wall.png");
  const std::string beside = Touch("scene/floor.png");
  const std::string suggested = Touch("suggested/floor.png");
  const std::string absolute = Touch("abs/roof.png");
  const Filename docpath(docDir.c_str());
  Filename out;

  ASSERT_TRUE(GenerateTexturePath(docpath, Filename(absolute.c_str()), Filename(), &out));
  EXPECT_EQ(Slashed(out.GetString().Std()), Slashed(absolute));
  ASSERT_TRUE(GenerateTexturePath(docpath, Filename("D:\\textures\\wall.png"), Filename(), &out));
  EXPECT_EQ(Slashed(out.GetString().Std()), Slashed(inTex));
  ASSERT_TRUE(GenerateTexturePath(docpath, Filename("floor.png"), Filename(), &out));
  EXPECT_EQ(Slashed(out.GetString().Std()), Slashed(beside));
  ASSERT_TRUE(GenerateTexturePath(docpath, Filename("floor.png"), Filename((TempDir() + "/suggested").c_str()), &out));
  EXPECT_EQ(Slashed(out.GetString().Std()), Slashed(suggested));
  // A missing absolute name is looked for by its file part.
  ASSERT_TRUE(GenerateTexturePath(docpath, Filename("/gone/away/floor.png"), Filename(), &out));
  EXPECT_EQ(Slashed(out.GetString().Std()), Slashed(beside));

  EXPECT_FALSE(GenerateTexturePath(docpath, Filename("roof.png"), Filename(), &out));
  EXPECT_FALSE(GenerateTexturePath(docpath, Filename(""), Filename(), &out));
  EXPECT_FALSE(GenerateTexturePath(Filename(), Filename("floor.png"), Filename(), &out));
}

// --- layers ------------------------------------------------------------------------------

class LayerTest : public HostTest {};

TEST_F(LayerTest, NodesLinkTheirLayerUntilItIsFreed) {
  DocPtr doc = NewDoc();
  DocPtr other = NewDoc();
  ASSERT_TRUE(doc && other);
  LayerObject* outer = LayerObject::Alloc();
  LayerObject* inner = LayerObject::Alloc();
  ASSERT_TRUE(outer && inner);
  EXPECT_EQ(Name(outer), "Layer");
  EXPECT_TRUE(outer->GetDataInstance()->GetBool(ID_LAYER_VIEW));
  EXPECT_TRUE(outer->GetDataInstance()->GetBool(ID_LAYER_RENDER));
  EXPECT_FALSE(outer->GetDataInstance()->GetBool(ID_LAYER_SOLO, TRUE));
  EXPECT_FALSE(outer->GetDataInstance()->GetBool(ID_LAYER_LOCKED, TRUE));
  EXPECT_TRUE(outer->IsInstanceOf(Olayer));
  EXPECT_TRUE(outer->IsInstanceOf(Lbase));
  doc->GetLayerObjectRoot()->InsertLast(outer);
  inner->InsertUnder(outer);
  EXPECT_EQ(doc->GetLayerObjectRoot()->GetFirst(), outer);
  EXPECT_EQ(outer->GetDown(), inner);

  BaseObject* op = AddObject(doc.get(), Onull, "op");
  Material* mat = Material::Alloc();
  ASSERT_TRUE(op && mat);
  doc->InsertMaterial(mat);
  EXPECT_EQ(op->GetLayerObject(nullptr), nullptr);
  ASSERT_TRUE(op->SetLayerObject(inner));
  ASSERT_TRUE(mat->SetLayerObject(outer));
  EXPECT_EQ(op->GetLayerObject(doc.get()), inner);
  EXPECT_EQ(op->GetLayerObject(nullptr), inner);
  EXPECT_EQ(op->GetLayerObject(other.get()), nullptr);
  EXPECT_EQ(mat->GetLayerObject(doc.get()), outer);

  // The layer link as a parameter.
  GeData d;
  ASSERT_TRUE(op->GetParameter(DescID(ID_LAYER_LINK), d, DESCFLAGS_GET_0));
  EXPECT_EQ(d.GetLink(doc.get()), inner);
  GeData link;
  link.SetBaseList2D(outer);
  ASSERT_TRUE(op->SetParameter(DescID(ID_LAYER_LINK), link, DESCFLAGS_SET_0));
  EXPECT_EQ(op->GetLayerObject(doc.get()), outer);
  // A link to something that is not a layer clears it.
  link.SetBaseList2D(mat);
  op->SetParameter(DescID(ID_LAYER_LINK), link, DESCFLAGS_SET_0);
  EXPECT_EQ(op->GetLayerObject(nullptr), nullptr);
  ASSERT_TRUE(op->SetLayerObject(inner));

  // Freeing the outer layer frees the inner one too: both links read null.
  LayerObject* gone = outer;
  LayerObject::Free(gone);
  EXPECT_EQ(gone, nullptr);
  EXPECT_EQ(op->GetLayerObject(nullptr), nullptr);
  EXPECT_EQ(mat->GetLayerObject(nullptr), nullptr);
  EXPECT_EQ(doc->GetLayerObjectRoot()->GetFirst(), nullptr);
  ASSERT_TRUE(op->SetLayerObject(nullptr));
}

// --- undo --------------------------------------------------------------------------------

class UndoTest : public HostTest {};

TEST_F(UndoTest, ChangeRecordRestoresPointsNameAndMatrix) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  PolygonObject* poly = PolygonObject::Alloc(3, 1);
  ASSERT_TRUE(poly);
  poly->SetName("before");
  for (LONG i = 0; i < 3; ++i) poly->GetPointW()[i] = Vector(i, 0, 0);
  poly->GetPolygonW()[0] = CPolygon(0, 1, 2);
  doc->InsertObject(poly, nullptr, nullptr);
  EXPECT_EQ(doc->GetUndoCount(), 0);
  EXPECT_FALSE(doc->DoUndo());

  ASSERT_TRUE(doc->StartUndo());
  ASSERT_TRUE(doc->AddUndo(UNDOTYPE_CHANGE, poly));
  ASSERT_TRUE(poly->ResizeObject(5, 2));
  for (LONG i = 0; i < 5; ++i) poly->GetPointW()[i] = Vector(9, 9, i);
  poly->SetName("after");
  poly->SetRelPos(Vector(1, 2, 3));
  ASSERT_TRUE(doc->EndUndo());
  EXPECT_EQ(doc->GetUndoCount(), 1);

  ASSERT_TRUE(doc->DoUndo());
  EXPECT_EQ(doc->GetUndoCount(), 0);
  EXPECT_EQ(Name(poly), "before");
  ASSERT_EQ(poly->GetPointCount(), 3);
  for (LONG i = 0; i < 3; ++i) EXPECT_EQ(poly->GetPointR()[i], Vector(i, 0, 0));
  ASSERT_EQ(poly->GetPolygonCount(), 1);
  EXPECT_EQ(poly->GetPolygonR()[0], CPolygon(0, 1, 2));
  EXPECT_EQ(poly->GetRelPos(), Vector());
  EXPECT_EQ(poly->GetDocument(), doc.get());
  // The data tags belong to the object again.
  EXPECT_EQ(poly->GetTag(Tpoint)->GetObject(), poly);
  EXPECT_FALSE(doc->DoUndo());
}

TEST_F(UndoTest, NewRecordRemovesTheNode) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  BaseObject* op = AddObject(doc.get(), Onull, "op");
  ASSERT_TRUE(op);
  ASSERT_TRUE(doc->StartUndo());
  BaseTag* tag = op->MakeTag(Ttexture);
  ASSERT_TRUE(tag);
  ASSERT_TRUE(doc->AddUndo(UNDOTYPE_NEW, tag));
  BaseObject* child = BaseObject::Alloc(Onull);
  ASSERT_TRUE(child);
  doc->InsertObject(child, op, nullptr);
  ASSERT_TRUE(doc->AddUndo(UNDOTYPE_NEW, child));
  ASSERT_TRUE(doc->EndUndo());
  ASSERT_TRUE(doc->DoUndo());
  EXPECT_EQ(op->GetFirstTag(), nullptr);
  EXPECT_EQ(op->GetDown(), nullptr);
}

TEST_F(UndoTest, GroupsNestCountAndRefuseRecordsOutsideThem) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  BaseObject* op = AddObject(doc.get(), Onull, "v0");
  ASSERT_TRUE(op);
  EXPECT_FALSE(doc->AddUndo(UNDOTYPE_CHANGE, op));  // outside a group
  EXPECT_FALSE(doc->EndUndo());
  ASSERT_TRUE(doc->StartUndo());
  EXPECT_FALSE(doc->AddUndo(12345, op));  // unknown kind
  EXPECT_FALSE(doc->AddUndo(UNDOTYPE_CHANGE, nullptr));
  ASSERT_TRUE(doc->EndUndo());
  EXPECT_EQ(doc->GetUndoCount(), 0);  // an empty group is not kept

  // Three groups, the second with an inner StartUndo/EndUndo pair: one group.
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(doc->StartUndo());
    if (i == 2) {
      ASSERT_TRUE(doc->StartUndo());
    }
    ASSERT_TRUE(doc->AddUndo(UNDOTYPE_CHANGE, op));
    op->SetName(String(("v" + std::to_string(i)).c_str()));
    if (i == 2) {
      ASSERT_TRUE(doc->EndUndo());
    }
    ASSERT_TRUE(doc->EndUndo());
  }
  EXPECT_EQ(doc->GetUndoCount(), 3);
  ASSERT_TRUE(doc->DoUndo());
  EXPECT_EQ(Name(op), "v2");
  ASSERT_TRUE(doc->DoUndo(TRUE));  // all the rest
  EXPECT_EQ(Name(op), "v0");
  EXPECT_EQ(doc->GetUndoCount(), 0);
}

TEST_F(UndoTest, UndoOfAFreedNodeIsSkipped) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  BaseObject* op = AddObject(doc.get(), Onull, "op");
  BaseObject* keep = AddObject(doc.get(), Onull, "keep");
  ASSERT_TRUE(op && keep);
  ASSERT_TRUE(doc->StartUndo());
  ASSERT_TRUE(doc->AddUndo(UNDOTYPE_CHANGE, op));
  ASSERT_TRUE(doc->AddUndo(UNDOTYPE_CHANGE, keep));
  keep->SetName("renamed");
  ASSERT_TRUE(doc->EndUndo());
  BaseObject::Free(op);
  ASSERT_TRUE(doc->DoUndo());
  EXPECT_EQ(Name(keep), "keep");
  EXPECT_EQ(TopNames(doc.get()), "keep");
}

TEST_F(UndoTest, TagChangeRestoresSelectionsAndVariableData) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  PolygonObject* poly = PolygonObject::Alloc(4, 2);
  ASSERT_TRUE(poly);
  doc->InsertObject(poly, nullptr, nullptr);
  auto* sel = static_cast<SelectionTag*>(poly->MakeTag(Tpolygonselection));
  auto* uvw = static_cast<UVWTag*>(poly->MakeVariableTag(Tuvw, 2));
  ASSERT_TRUE(sel && uvw);
  ASSERT_TRUE(sel->GetBaseSelect()->Select(1));
  uvw->SetSlow(0, UVWStruct{Vector(0.5, 0.5, 0), Vector(), Vector(), Vector()});
  ASSERT_TRUE(doc->StartUndo());
  ASSERT_TRUE(doc->AddUndo(UNDOTYPE_CHANGE, sel));
  ASSERT_TRUE(doc->AddUndo(UNDOTYPE_CHANGE, uvw));
  ASSERT_TRUE(sel->GetBaseSelect()->SelectAll(0, 9));
  sel->SetName("changed");
  ASSERT_TRUE(uvw->Resize(5));
  uvw->SetSlow(0, UVWStruct{Vector(1, 1, 1), Vector(), Vector(), Vector()});
  ASSERT_TRUE(doc->EndUndo());
  ASSERT_TRUE(doc->DoUndo());
  EXPECT_EQ(sel->GetBaseSelect()->GetCount(), 1);
  EXPECT_TRUE(sel->GetBaseSelect()->IsSelected(1));
  EXPECT_EQ(Name(sel), "");
  EXPECT_EQ(uvw->GetDataCount(), 2);
  EXPECT_EQ(uvw->GetSlow(0).a, Vector(0.5, 0.5, 0));
  EXPECT_EQ(sel->GetObject(), poly);
}

TEST_F(UndoTest, MaterialChangeRestoresChannelsAndShaders) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  Material* mat = Material::Alloc();
  ASSERT_TRUE(mat);
  doc->InsertMaterial(mat);
  BaseContainer bc;
  bc.SetString(BASECHANNEL_TEXTURE, String("a.png"));
  mat->GetChannel(CHANNEL_COLOR)->SetData(bc);
  ASSERT_TRUE(doc->StartUndo());
  ASSERT_TRUE(doc->AddUndo(UNDOTYPE_CHANGE, mat));
  bc.SetString(BASECHANNEL_TEXTURE, String("b.png"));
  mat->GetChannel(CHANNEL_COLOR)->SetData(bc);
  mat->GetChannel(CHANNEL_BUMP)->SetData(bc);
  mat->SetChannelState(CHANNEL_BUMP, TRUE);
  ASSERT_TRUE(doc->EndUndo());
  ASSERT_TRUE(doc->DoUndo());
  EXPECT_EQ(mat->GetChannel(CHANNEL_COLOR)->GetData().GetString(BASECHANNEL_TEXTURE).Std(), "a.png");
  EXPECT_EQ(mat->GetChannel(CHANNEL_BUMP)->GetShader(), nullptr);
  EXPECT_FALSE(mat->GetChannelState(CHANNEL_BUMP));
  EXPECT_EQ(ShaderCount(mat), 1);
}

// A group that records a new tag and then the change of the object that holds it leaves
// the object as it was before the group: the change's snapshot holds a copy of the new
// tag, which must go with the tag.
TEST_F(UndoTest, NewTagRecordedBeforeItsObjectsChangeIsUndone) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  BaseObject* op = AddObject(doc.get(), Onull, "before");
  ASSERT_TRUE(op);
  ASSERT_TRUE(doc->StartUndo());
  BaseTag* tag = op->MakeTag(Ttexture);
  ASSERT_TRUE(tag);
  ASSERT_TRUE(doc->AddUndo(UNDOTYPE_NEW, tag));
  ASSERT_TRUE(doc->AddUndo(UNDOTYPE_CHANGE, op));
  op->SetName("after");
  ASSERT_TRUE(doc->EndUndo());
  ASSERT_TRUE(doc->DoUndo());
  EXPECT_EQ(Name(op), "before");
  EXPECT_EQ(op->GetFirstTag(), nullptr) << TagTypes(op);
}

// --- clones, link translation, messages ----------------------------------------------------

class CloneTest : public HostTest {};

TEST_F(CloneTest, CloneCopiesChildrenAndTagsOrOnlyTheNode) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  BaseObject* root = AddObject(doc.get(), Onull, "root");
  BaseObject* kid1 = AddObject(doc.get(), Onull, "kid1", root);
  ASSERT_TRUE(root && kid1);
  PolygonObject* kid2 = PolygonObject::Alloc(2, 1);
  ASSERT_TRUE(kid2);
  kid2->SetName("kid2");
  kid2->GetPointW()[1] = Vector(4, 5, 6);
  doc->InsertObject(kid2, root, kid1);
  ASSERT_TRUE(root->MakeTag(Tphong));
  auto* sel = static_cast<SelectionTag*>(kid2->MakeTag(Tpolygonselection));
  ASSERT_TRUE(sel);
  sel->SetName("sel");
  ASSERT_TRUE(sel->GetBaseSelect()->SelectAll(0, 0));
  root->SetMl(Placement(Vector(0.1, 0.2, 0.3), Vector(1, 2, 1), Vector(5, 0, 0)));
  root->SetEditorMode(MODE_OFF);
  root->SetRenderMode(MODE_ON);
  root->GetDataInstance()->SetString(5000, String("payload"));
  root->SetBit(BIT_ACTIVE);

  ObjPtr copy(static_cast<BaseObject*>(root->GetClone(COPYFLAGS_0, nullptr)));
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->GetDocument(), nullptr);
  EXPECT_EQ(copy->GetUp(), nullptr);
  EXPECT_EQ(copy->GetNext(), nullptr);
  EXPECT_EQ(Name(copy.get()), "root");
  EXPECT_EQ(copy->GetMl(), root->GetMl());
  EXPECT_EQ(copy->GetEditorMode(), MODE_OFF);
  EXPECT_EQ(copy->GetRenderMode(), MODE_ON);
  EXPECT_EQ(copy->GetDataInstance()->GetString(5000).Std(), "payload");
  EXPECT_TRUE(copy->GetBit(BIT_ACTIVE));
  EXPECT_EQ(ChildNames(copy.get()), "kid1,kid2");
  EXPECT_EQ(TagTypes(copy.get()), "5612");
  auto* kid2copy = ToPoly(copy->GetDownLast());
  ASSERT_EQ(kid2copy->GetType(), Opolygon);
  EXPECT_NE(kid2copy, kid2);
  EXPECT_EQ(kid2copy->GetPointR()[1], Vector(4, 5, 6));
  EXPECT_NE(kid2copy->GetPointR(), kid2->GetPointR());
  auto* selCopy = static_cast<SelectionTag*>(kid2copy->GetTag(Tpolygonselection));
  ASSERT_TRUE(selCopy);
  EXPECT_TRUE(*selCopy->GetBaseSelect() == *sel->GetBaseSelect());
  EXPECT_NE(selCopy->GetBaseSelect(), sel->GetBaseSelect());
  // The copy is separate from the original.
  kid2copy->GetPointW()[1] = Vector();
  EXPECT_EQ(kid2->GetPointR()[1], Vector(4, 5, 6));

  ObjPtr alone(static_cast<BaseObject*>(root->GetClone(COPYFLAGS_NO_HIERARCHY | COPYFLAGS_NO_BITS, nullptr)));
  ASSERT_TRUE(alone);
  EXPECT_EQ(alone->GetDown(), nullptr);
  EXPECT_EQ(TagTypes(alone.get()), "5612");
  EXPECT_FALSE(alone->GetBit(BIT_ACTIVE));
}

TEST_F(CloneTest, AliasTransPointsLinksBetweenCopiesAtTheCopies) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  BaseObject* a = AddObject(doc.get(), Onull, "a");
  BaseObject* b = AddObject(doc.get(), Onull, "b");
  BaseObject* aKid = AddObject(doc.get(), Onull, "aKid", a);
  BaseObject* outside = AddObject(doc.get(), Onull, "outside");
  ASSERT_TRUE(a && b && aKid && outside);
  a->GetDataInstance()->SetLink(100, b);
  a->GetDataInstance()->SetLink(101, aKid);
  a->GetDataInstance()->SetLink(102, outside);
  BaseContainer nested;
  nested.SetLink(1, b);
  a->GetDataInstance()->SetContainer(103, nested);
  b->GetDataInstance()->SetLink(100, a);
  auto* tex = static_cast<TextureTag*>(b->MakeTag(Ttexture));
  ASSERT_TRUE(tex);
  tex->GetDataInstance()->SetLink(5000, aKid);
  LayerObject* layer = LayerObject::Alloc();
  ASSERT_TRUE(layer);
  doc->GetLayerObjectRoot()->InsertLast(layer);
  ASSERT_TRUE(a->SetLayerObject(layer));

  AliasTrans* trn = AliasTrans::Alloc();
  ASSERT_TRUE(trn);
  ASSERT_TRUE(trn->Init(doc.get()));
  ObjPtr aCopy(static_cast<BaseObject*>(a->GetClone(COPYFLAGS_0, trn)));
  ObjPtr bCopy(static_cast<BaseObject*>(b->GetClone(COPYFLAGS_0, trn)));
  std::unique_ptr<LayerObject, void (*)(LayerObject*)> layerCopy(
      static_cast<LayerObject*>(layer->GetClone(COPYFLAGS_0, trn)), [](LayerObject* l) { LayerObject::Free(l); });
  ASSERT_TRUE(aCopy && bCopy && layerCopy);
  // Before the translation the copies still link the originals.
  EXPECT_EQ(aCopy->GetDataInstance()->GetLink(100, nullptr), b);
  trn->Translate(TRUE);
  AliasTrans::Free(trn);
  EXPECT_EQ(trn, nullptr);

  EXPECT_EQ(aCopy->GetDataInstance()->GetLink(100, nullptr), bCopy.get());
  EXPECT_EQ(aCopy->GetDataInstance()->GetLink(101, nullptr), aCopy->GetDown());
  EXPECT_EQ(aCopy->GetDataInstance()->GetLink(102, nullptr), outside);  // not copied
  EXPECT_EQ(aCopy->GetDataInstance()->GetContainer(103).GetLink(1, nullptr), bCopy.get());
  EXPECT_EQ(bCopy->GetDataInstance()->GetLink(100, nullptr), aCopy.get());
  EXPECT_EQ(bCopy->GetFirstTag()->GetDataInstance()->GetLink(5000, nullptr), aCopy->GetDown());
  EXPECT_EQ(aCopy->GetLayerObject(nullptr), layerCopy.get());
  // The originals are untouched.
  EXPECT_EQ(a->GetDataInstance()->GetLink(100, nullptr), b);
  EXPECT_EQ(tex->GetDataInstance()->GetLink(5000, nullptr), aKid);
  EXPECT_EQ(a->GetLayerObject(doc.get()), layer);
}

TEST_F(CloneTest, CloneUnderFailingAllocationGivesNullWithoutLeaks) {
  DocPtr doc = NewDoc();
  ASSERT_TRUE(doc);
  BaseObject* root = AddObject(doc.get(), Onull, "root");
  ASSERT_TRUE(root);
  PolygonObject* kid = PolygonObject::Alloc(10, 4);
  ASSERT_TRUE(kid);
  doc->InsertObject(kid, root, nullptr);
  ASSERT_TRUE(kid->MakeTag(Tpolygonselection));
  ASSERT_TRUE(kid->MakeVariableTag(Tuvw, 4));
  bool done = false;
  for (LLONG n = 1; n < 200 && !done; ++n) {
    host::FailAllocationAt(n);
    BaseObject* copy = static_cast<BaseObject*>(root->GetClone(COPYFLAGS_0, nullptr));
    host::ResetFaults();
    done = copy != nullptr;
    if (copy) {
      EXPECT_EQ(ChildNames(copy), "Polygon");
      EXPECT_EQ(TagTypes(copy->GetDown()), "5671,5673,5600,5604");
      BaseObject::Free(copy);
    }
  }
  EXPECT_TRUE(done);
}

TEST_F(CloneTest, UpdateMessagesAreCounted) {
  ObjPtr op(BaseObject::Alloc(Onull));
  ASSERT_TRUE(op);
  EXPECT_EQ(host::UpdateMessageCount(op.get()), 0);
  EXPECT_TRUE(op->Message(MSG_UPDATE));
  EXPECT_TRUE(op->Message(MSG_UPDATE));
  EXPECT_TRUE(op->Message(MSG_UPDATE + 1000));  // another message does not count
  EXPECT_EQ(host::UpdateMessageCount(op.get()), 2);
  EXPECT_EQ(host::UpdateMessageCount(nullptr), 0);
}

// --- the polygonised copy ------------------------------------------------------------------

class PolygonizeTest : public HostTest {
 protected:
  void TearDown() override {
    doc.reset();  // before the leak check
    HostTest::TearDown();
  }

  // layers:   L { L2 }
  // material: M (colour texture)
  // objects:  Group (null) { Box (cube 2x3x4, texture tag -> M, layer L2) }
  //           Floor (plane 3x2)
  //           Ring (array of 5, radius 100) { Brick (cube) }
  //           Mesh (polygon object)
  void Build() {
    doc.reset(BaseDocument::Alloc());
    ASSERT_TRUE(doc);
    layer = LayerObject::Alloc();
    sublayer = LayerObject::Alloc();
    ASSERT_TRUE(layer && sublayer);
    layer->SetName("L");
    sublayer->SetName("L2");
    doc->GetLayerObjectRoot()->InsertLast(layer);
    sublayer->InsertUnder(layer);
    mat = Material::Alloc();
    ASSERT_TRUE(mat);
    mat->SetName("M");
    doc->InsertMaterial(mat);
    BaseContainer bc;
    bc.SetString(BASECHANNEL_TEXTURE, String("wood.png"));
    mat->GetChannel(CHANNEL_COLOR)->SetData(bc);

    group = AddObject(doc.get(), Onull, "Group");
    box = AddObject(doc.get(), Ocube, "Box", group);
    plane = AddObject(doc.get(), Oplane, "Floor");
    ring = AddObject(doc.get(), Oarray, "Ring");
    brick = AddObject(doc.get(), Ocube, "Brick", ring);
    ASSERT_TRUE(group && box && plane && ring && brick);
    group->SetMl(Placement(Vector(0.5, 0, 0), Vector(1, 1, 1), Vector(0, 50, 0)));
    box->SetMl(Placement(Vector(0.1, 0.2, 0.3), Vector(1, 2, 1), Vector(10, 20, 30)));
    box->GetDataInstance()->SetLong(PRIM_CUBE_SUBX, 2);
    box->GetDataInstance()->SetLong(PRIM_CUBE_SUBY, 3);
    box->GetDataInstance()->SetLong(PRIM_CUBE_SUBZ, 4);
    box->GetDataInstance()->SetVector(PRIM_CUBE_LEN, Vector(20, 30, 40));
    box->SetEditorMode(MODE_OFF);
    ASSERT_TRUE(box->SetLayerObject(sublayer));
    auto* tex = static_cast<TextureTag*>(box->MakeTag(Ttexture));
    ASSERT_TRUE(tex);
    tex->SetMaterial(mat);
    plane->GetDataInstance()->SetLong(PRIM_PLANE_SUBW, 3);
    plane->GetDataInstance()->SetLong(PRIM_PLANE_SUBH, 2);
    ring->GetDataInstance()->SetLong(ARRAYOBJECT_COPIES, 5);
    ring->GetDataInstance()->SetReal(ARRAYOBJECT_RADIUS, 100);

    PolygonObject* mesh = PolygonObject::Alloc(3, 1);
    ASSERT_TRUE(mesh);
    mesh->SetName("Mesh");
    mesh->GetPointW()[2] = Vector(1, 2, 3);
    mesh->GetPolygonW()[0] = CPolygon(0, 1, 2);
    doc->InsertObject(mesh, nullptr, ring);
    doc->SetActiveObject(box);
  }

  DocPtr doc;
  LayerObject* layer = nullptr;
  LayerObject* sublayer = nullptr;
  Material* mat = nullptr;
  BaseObject *group = nullptr, *box = nullptr, *plane = nullptr, *ring = nullptr, *brick = nullptr;
};

namespace {

// Every polygon of a closed mesh around the origin faces away from it, and every point
// is used and distinct.
void ExpectClosedOutwardMesh(const PolygonObject* mesh) {
  const Vector* p = mesh->GetPointR();
  const CPolygon* v = mesh->GetPolygonR();
  const LONG pc = mesh->GetPointCount();
  std::vector<bool> used(static_cast<size_t>(pc), false);
  for (LONG i = 0; i < mesh->GetPolygonCount(); ++i) {
    for (LONG k : {v[i].a, v[i].b, v[i].c, v[i].d}) {
      ASSERT_TRUE(k >= 0 && k < pc) << "polygon " << i;
      used[static_cast<size_t>(k)] = true;
    }
    const Vector centre = (p[v[i].a] + p[v[i].b] + p[v[i].c] + p[v[i].d]) * 0.25;
    const Vector normal = (p[v[i].b] - p[v[i].a]) % (p[v[i].c] - p[v[i].a]);
    EXPECT_GT(normal * centre, 0.0) << "polygon " << i;
  }
  EXPECT_EQ(std::count(used.begin(), used.end(), true), pc);
  std::set<std::tuple<double, double, double>> distinct;
  for (LONG i = 0; i < pc; ++i) distinct.emplace(p[i].x, p[i].y, p[i].z);
  EXPECT_EQ(static_cast<LONG>(distinct.size()), pc);
}

// --- the host's list of documents -------------------------------------------------------

class DocumentListTest : public HostTest {};

TEST_F(DocumentListTest, InsertingSwitchingAndFreeingDocuments) {
  BaseDocument* first = BaseDocument::Alloc();
  BaseDocument* second = BaseDocument::Alloc();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(GetActiveDocument(), nullptr);
  InsertBaseDocument(first);
  InsertBaseDocument(first);  // once only
  SetActiveDocument(second);  // an active document is listed too
  EXPECT_EQ(GetFirstDocument(), first);
  EXPECT_EQ(first->GetNext(), second);
  EXPECT_EQ(second->GetNext(), nullptr);
  EXPECT_EQ(GetActiveDocument(), second);
  EXPECT_EQ(first->GetDocument(), first);

  SetActiveDocument(first);
  EXPECT_EQ(GetActiveDocument(), first);
  // Freeing a listed, active document takes it off the list and leaves no active one.
  BaseDocument::Free(first);
  EXPECT_EQ(GetFirstDocument(), second);
  EXPECT_EQ(GetActiveDocument(), nullptr);
  KillDocument(second);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(GetFirstDocument(), nullptr);

  // FreeDocuments empties the list (the shell does it before the plug-in goes).
  BaseDocument* third = BaseDocument::Alloc();
  ASSERT_TRUE(third);
  SetActiveDocument(third);
  host::FreeDocuments();
  EXPECT_EQ(GetFirstDocument(), nullptr);
  EXPECT_EQ(GetActiveDocument(), nullptr);
}

TEST_F(DocumentListTest, NodesAreNamedAfterTheirTypes) {
  const std::pair<LONG, const char*> objects[] = {{Onull, "Null"}, {Opolygon, "Polygon"}, {Ospline, "Spline"},
                                                   {Ocube, "Cube"}, {Oplane, "Plane"},     {Oarray, "Array"}};
  for (const auto& [type, name] : objects) {
    BaseObject* op = BaseObject::Alloc(type);
    ASSERT_TRUE(op) << type;
    EXPECT_EQ(op->GetName(), String(name));
    EXPECT_EQ(op->GetTypeName(), String(name));
    BaseObject::Free(op);
  }
  BaseTag* phong = BaseTag::Alloc(Tphong);
  ASSERT_TRUE(phong);
  EXPECT_EQ(phong->GetTypeName(), String("Phong"));
  EXPECT_FALSE(phong->GetName().Content()) << "tags start unnamed";
  BaseTag::Free(phong);
}

}  // namespace

TEST_F(PolygonizeTest, GeneratorsBecomePolygonObjectsWithNamesMatricesTagsAndLayers) {
  ASSERT_NO_FATAL_FAILURE(Build());
  ASSERT_TRUE(doc);
  DocPtr copy(doc->Polygonize());
  ASSERT_TRUE(copy);
  EXPECT_EQ(TopNames(copy.get()), "Group,Floor,Ring,Mesh");

  BaseObject* cGroup = copy->GetFirstObject();
  EXPECT_EQ(cGroup->GetType(), Onull);
  EXPECT_EQ(cGroup->GetMl(), group->GetMl());
  EXPECT_EQ(ChildNames(cGroup), "Box");
  auto* cBox = ToPoly(cGroup->GetDown());
  ASSERT_EQ(cBox->GetType(), Opolygon);
  // sx, sy, sz = 2, 3, 4: 2 (6 + 12 + 8) polygons, two more points.
  EXPECT_EQ(cBox->GetPolygonCount(), 52);
  EXPECT_EQ(cBox->GetPointCount(), 54);
  EXPECT_EQ(cBox->GetMl(), box->GetMl());
  EXPECT_EQ(cBox->GetEditorMode(), MODE_OFF);
  EXPECT_EQ(copy->GetActiveObject(), cBox);
  ExpectClosedOutwardMesh(cBox);
  // The box spans its edge lengths.
  Vector lo(1e9), hi(-1e9);
  for (LONG i = 0; i < cBox->GetPointCount(); ++i) {
    const Vector q = cBox->GetPointR()[i];
    lo = Vector(std::min(lo.x, q.x), std::min(lo.y, q.y), std::min(lo.z, q.z));
    hi = Vector(std::max(hi.x, q.x), std::max(hi.y, q.y), std::max(hi.z, q.z));
  }
  EXPECT_TRUE(VectorNear(lo, Vector(-10, -15, -20), 1e-12));
  EXPECT_TRUE(VectorNear(hi, Vector(10, 15, 20), 1e-12));
  auto* uvw = static_cast<UVWTag*>(cBox->GetTag(Tuvw));
  ASSERT_TRUE(uvw);
  EXPECT_EQ(uvw->GetDataCount(), 52);

  // The texture tag came along and links the copy's material.
  auto* cTex = static_cast<TextureTag*>(cBox->GetTag(Ttexture));
  ASSERT_TRUE(cTex);
  BaseMaterial* cMat = cTex->GetMaterial();
  ASSERT_TRUE(cMat);
  EXPECT_NE(cMat, mat);
  EXPECT_EQ(cMat->GetDocument(), copy.get());
  EXPECT_EQ(cMat, copy->GetFirstMaterial());
  EXPECT_EQ(Name(cMat), "M");
  EXPECT_EQ(static_cast<Material*>(cMat)->GetChannel(CHANNEL_COLOR)->GetData().GetString(BASECHANNEL_TEXTURE).Std(),
            "wood.png");
  // And the layer, nested as before.
  LayerObject* cLayer = cBox->GetLayerObject(copy.get());
  ASSERT_TRUE(cLayer);
  EXPECT_EQ(Name(cLayer), "L2");
  EXPECT_NE(cLayer, sublayer);
  ASSERT_TRUE(cLayer->GetUp());
  EXPECT_EQ(Name(cLayer->GetUp()), "L");
  EXPECT_EQ(copy->GetLayerObjectRoot()->GetFirst(), cLayer->GetUp());

  // The plane: (3 + 1) x (2 + 1) points, 3 x 2 quads facing +Y.
  auto* cFloor = ToPoly(cGroup->GetNext());
  ASSERT_EQ(cFloor->GetType(), Opolygon);
  EXPECT_EQ(Name(cFloor), "Floor");
  EXPECT_EQ(cFloor->GetPointCount(), 12);
  EXPECT_EQ(cFloor->GetPolygonCount(), 6);
  for (LONG i = 0; i < 6; ++i) {
    const CPolygon& q = cFloor->GetPolygonR()[i];
    const Vector* p = cFloor->GetPointR();
    EXPECT_GT(((p[q.b] - p[q.a]) % (p[q.c] - p[q.a])).y, 0.0) << i;
  }

  // The array: a null with five bricks on the circle, the brick itself not repeated.
  BaseObject* cRing = cFloor->GetNext();
  EXPECT_EQ(cRing->GetType(), Onull);
  EXPECT_EQ(Name(cRing), "Ring");
  EXPECT_EQ(ChildNames(cRing), "Brick,Brick,Brick,Brick,Brick");
  std::set<std::pair<long long, long long>> places;
  for (BaseObject* b = cRing->GetDown(); b; b = b->GetNext()) {
    ASSERT_EQ(b->GetType(), Opolygon);
    EXPECT_EQ(ToPoly(b)->GetPolygonCount(), 6);
    EXPECT_EQ(ToPoly(b)->GetPointCount(), 8);
    EXPECT_EQ(b->GetDown(), nullptr);
    EXPECT_NEAR(Len(b->GetRelPos()), 100.0, 1e-9);
    places.emplace(std::llround(b->GetRelPos().x), std::llround(b->GetRelPos().z));
  }
  EXPECT_EQ(places.size(), 5u);

  // A plain polygon object is copied as it is.
  auto* cMesh = ToPoly(cRing->GetNext());
  ASSERT_EQ(cMesh->GetType(), Opolygon);
  EXPECT_EQ(cMesh->GetPointR()[2], Vector(1, 2, 3));
  EXPECT_EQ(cMesh->GetPolygonR()[0], CPolygon(0, 1, 2));

  // The original is untouched; freeing it leaves the copy whole.
  EXPECT_EQ(box->GetType(), Ocube);
  EXPECT_EQ(ring->GetDown(), brick);
  doc.reset();
  EXPECT_EQ(cTex->GetMaterial(), cMat);
  EXPECT_EQ(cBox->GetLayerObject(copy.get()), cLayer);
  EXPECT_EQ(Name(copy->GetFirstObject()->GetDown()), "Box");
}

TEST_F(PolygonizeTest, CubeCountsForSeveralSegmentations) {
  struct Case {
    LONG sx, sy, sz;
  };
  const Case cases[] = {{1, 1, 1}, {1, 2, 3}, {5, 1, 1}, {4, 4, 4}, {0, -3, 2}};  // the last clamps to 1
  for (const Case& c : cases) {
    DocPtr d = NewDoc();
    ASSERT_TRUE(d);
    BaseObject* cube = AddObject(d.get(), Ocube, "c");
    ASSERT_TRUE(cube);
    cube->GetDataInstance()->SetLong(PRIM_CUBE_SUBX, c.sx);
    cube->GetDataInstance()->SetLong(PRIM_CUBE_SUBY, c.sy);
    cube->GetDataInstance()->SetLong(PRIM_CUBE_SUBZ, c.sz);
    DocPtr copy(d->Polygonize());
    ASSERT_TRUE(copy);
    const LONG x = std::max<LONG>(c.sx, 1), y = std::max<LONG>(c.sy, 1), z = std::max<LONG>(c.sz, 1);
    const LONG polygons = 2 * (x * y + y * z + x * z);
    auto* mesh = ToPoly(copy->GetFirstObject());
    ASSERT_EQ(mesh->GetType(), Opolygon);
    EXPECT_EQ(mesh->GetPolygonCount(), polygons) << c.sx << c.sy << c.sz;
    EXPECT_EQ(mesh->GetPointCount(), polygons + 2) << c.sx << c.sy << c.sz;
    ExpectClosedOutwardMesh(mesh);
  }
}
