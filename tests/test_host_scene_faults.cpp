// Memory failures inside the scene model: every allocation of building, copying,
// polygonising, saving and loading a scene is made to fail in turn. Each run must end
// with a clean failure (null, false or an error) or a complete result, and leave no
// block behind.
#include <functional>
#include <string>

#include "c4d.h"
#include "host_fixture.h"
#include "scene_file.h"

namespace {

// A small scene with something of every kind that allocates.
BaseDocument* BuildScene() {
  BaseDocument* doc = BaseDocument::Alloc();
  if (!doc) return nullptr;
  LayerObject* layer = LayerObject::Alloc();
  Material* mat = Material::Alloc();
  BaseObject* cube = BaseObject::Alloc(Ocube);
  BaseObject* array = BaseObject::Alloc(Oarray);
  PolygonObject* poly = PolygonObject::Alloc(4, 1);
  SplineObject* spline = SplineObject::Alloc(3, SPLINETYPE_LINEAR);
  if (layer) doc->GetLayerObjectRoot()->InsertLast(layer);
  if (mat) doc->InsertMaterial(mat);
  for (BaseObject* op : {cube, array, static_cast<BaseObject*>(poly), static_cast<BaseObject*>(spline)})
    if (op) doc->InsertObject(op, nullptr, nullptr);
  if (!layer || !mat || !cube || !array || !poly || !spline) {
    BaseDocument::Free(doc);
    return nullptr;
  }
  BaseObject* child = BaseObject::Alloc(Oplane);
  if (!child) {
    BaseDocument::Free(doc);
    return nullptr;
  }
  child->GetDataInstance()->SetLong(PRIM_PLANE_SUBW, 2);
  child->GetDataInstance()->SetLong(PRIM_PLANE_SUBH, 2);
  doc->InsertObject(child, array, nullptr);
  array->GetDataInstance()->SetLong(ARRAYOBJECT_COPIES, 3);
  BaseContainer texture;
  texture.SetString(BASECHANNEL_TEXTURE, String("wood.jpg"));
  mat->GetChannel(CHANNEL_COLOR)->SetData(texture);
  auto* tag = static_cast<TextureTag*>(cube->MakeTag(Ttexture));
  auto* selection = static_cast<SelectionTag*>(poly->MakeTag(Tpolygonselection));
  VariableTag* uvw = poly->MakeVariableTag(Tuvw, 1);
  VariableTag* segments = spline->MakeVariableTag(Tsegment, 2);
  if (!tag || !selection || !uvw || !segments || !selection->GetBaseSelect()->Select(0) ||
      !cube->SetPhong(TRUE, TRUE, 1.0)) {
    BaseDocument::Free(doc);
    return nullptr;
  }
  tag->SetMaterial(mat);
  cube->SetLayerObject(layer);
  return doc;
}

using SceneFaultTest = HostTest;

TEST_F(SceneFaultTest, BuildingAScene) {
  EveryAllocation([] {
    BaseDocument* doc = BuildScene();
    const bool ok = doc != nullptr;
    BaseDocument::Free(doc);
    return ok;
  });
}

TEST_F(SceneFaultTest, CopyingPolygonisingAndUndo) {
  BaseDocument* doc = BuildScene();
  ASSERT_NE(doc, nullptr);
  EveryAllocation([doc] {
    BaseDocument* copy = doc->Polygonize(FALSE);
    const bool ok = copy != nullptr;
    if (copy) {
      // A complete copy: the array's three planes are there and the material link holds.
      BaseObject* array = copy->SearchObject(String("Array"));
      EXPECT_TRUE(array && array->GetDown() && array->GetDown()->GetNext() && array->GetDown()->GetNext()->GetNext());
      BaseObject* cube = copy->SearchObject(String("Cube"));
      EXPECT_TRUE(cube && static_cast<TextureTag*>(cube->GetTag(Ttexture))->GetMaterial() == copy->GetFirstMaterial());
    }
    BaseDocument::Free(copy);
    return ok;
  });
  EveryAllocation([doc] {
    BaseList2D* clone = doc->GetFirstObject()->GetClone(COPYFLAGS_0, nullptr);
    const bool ok = clone != nullptr;
    BaseObject* op = static_cast<BaseObject*>(clone);
    BaseObject::Free(op);
    return ok;
  });
  EveryAllocation([doc] {
    if (!doc->StartUndo()) return false;
    const bool ok = doc->AddUndo(UNDOTYPE_CHANGE, doc->GetFirstObject());
    doc->EndUndo();
    if (ok) doc->DoUndo();
    return ok;
  });
  BaseDocument::Free(doc);
}

TEST_F(SceneFaultTest, LoadingAScene) {
  BaseDocument* doc = BuildScene();
  ASSERT_NE(doc, nullptr);
  const std::string payload = host::internal::EncodeScene(doc);
  BaseDocument::Free(doc);
  EveryAllocation([&payload] {
    std::string error;
    bool outOfMemory = false;
    BaseDocument* loaded = host::internal::DecodeScene(payload, host::internal::kSceneVersion, &error, &outOfMemory);
    if (!loaded) {
      EXPECT_TRUE(outOfMemory) << error;
      EXPECT_NE(error.find("not enough memory"), std::string::npos) << error;
      return false;
    }
    EXPECT_EQ(host::internal::EncodeScene(loaded), payload);
    BaseDocument::Free(loaded);
    return true;
  });
}

}  // namespace
