// kelvane scene make: small example scenes built from the host's generators, so the
// export and point-cache commands can be tried without a file of one's own.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "c4d.h"
#include "host_control.h"
#include "shell_commands.h"

namespace {

Material* MakeMaterial(BaseDocument* doc, const char* name, const Vector& colour) {
  Material* mat = Material::Alloc();
  if (!mat) return nullptr;
  mat->SetName(String(name));
  BaseContainer data;
  data.SetVector(BASECHANNEL_COLOR_EX, colour);
  data.SetReal(BASECHANNEL_BRIGHTNESS_EX, 1.0);
  mat->GetChannel(CHANNEL_COLOR)->SetData(data);
  mat->Update(TRUE, TRUE);
  BaseMaterial* last = doc->GetFirstMaterial();
  while (last && last->GetNext()) last = last->GetNext();
  doc->InsertMaterial(mat, last);
  return mat;
}

LayerObject* MakeLayer(BaseDocument* doc, const char* name) {
  LayerObject* layer = LayerObject::Alloc();
  if (!layer) return nullptr;
  layer->SetName(String(name));
  doc->GetLayerObjectRoot()->InsertLast(layer);
  return layer;
}

// A texture tag applying mat, placed after the object's other tags.
bool Texture(BaseObject* op, BaseMaterial* mat, const char* selection = "") {
  BaseTag* last = op->GetFirstTag();
  while (last && last->GetNext()) last = last->GetNext();
  auto* tag = static_cast<TextureTag*>(op->MakeTag(Ttexture, last));
  if (!tag) return false;
  tag->SetMaterial(mat);
  tag->GetDataInstance()->SetString(TEXTURETAG_RESTRICTION, String(selection));
  return true;
}

BaseObject* Generator(LONG type, const char* name) {
  BaseObject* op = BaseObject::Alloc(type);
  if (op) op->SetName(String(name));
  return op;
}

// Gives a flat polygon object a normal tag whose normals all point up (+Y).
bool AddUpNormals(PolygonObject* op) {
  const LONG count = op->GetPolygonCount();
  auto* normals = static_cast<NormalTag*>(op->MakeVariableTag(Tnormal, count, op->GetTag(Tuvw)));
  if (!normals) return false;
  const Vector up(0, 1, 0);
  NormalHandle handle = normals->GetDataAddressW();
  for (LONG p = 0; p < count; ++p) NormalTag::Set(handle, p, NormalStruct{up, up, up, up});
  return true;
}

// A wedge: a pentagon prism made of polygons, with a "top" selection and its own
// material on the top.
PolygonObject* Wedge(BaseMaterial* topMaterial) {
  const LONG corners = 5;
  PolygonObject* wedge = PolygonObject::Alloc(2 * corners + 2, 3 * corners);
  if (!wedge) return nullptr;
  wedge->SetName(String("Wedge"));
  Vector* points = wedge->GetPointW();
  for (LONG i = 0; i < corners; ++i) {
    const Real a = 2.0 * pi * i / corners;
    points[i] = Vector(60 * std::sin(a), 0, 60 * std::cos(a));
    points[corners + i] = Vector(60 * std::sin(a), 40, 60 * std::cos(a));
  }
  const LONG bottomCentre = 2 * corners, topCentre = 2 * corners + 1;
  points[bottomCentre] = Vector(0, 0, 0);
  points[topCentre] = Vector(0, 40, 0);
  CPolygon* polygons = wedge->GetPolygonW();
  auto* top = static_cast<SelectionTag*>(wedge->MakeTag(Tpolygonselection, wedge->GetTag(Tpolygon)));
  if (!top) {
    BaseObject* op = wedge;
    BaseObject::Free(op);
    return nullptr;
  }
  top->SetName(String("top"));
  for (LONG i = 0; i < corners; ++i) {
    const LONG j = (i + 1) % corners;
    polygons[i] = CPolygon(i, j, corners + j, corners + i);                 // side
    polygons[corners + i] = CPolygon(corners + i, corners + j, topCentre);  // top
    polygons[2 * corners + i] = CPolygon(j, i, bottomCentre);               // bottom
    top->GetBaseSelect()->Select(corners + i);
  }
  wedge->SetPhong(TRUE, TRUE, Rad(40.0));
  if (!Texture(wedge, topMaterial, "top")) {
    BaseObject* op = wedge;
    BaseObject::Free(op);
    return nullptr;
  }
  return wedge;
}

// A closed linear spline: a circle of n points.
SplineObject* Ring(LONG n, Real radius) {
  SplineObject* ring = SplineObject::Alloc(n, SPLINETYPE_LINEAR);
  if (!ring) return nullptr;
  ring->SetName(String("Path"));
  ring->GetDataInstance()->SetBool(SPLINEOBJECT_CLOSED, TRUE);
  Vector* points = ring->GetPointW();
  for (LONG i = 0; i < n; ++i) points[i] = Vector(radius * std::cos(2 * pi * i / n), 0, radius * std::sin(2 * pi * i / n));
  if (!ring->ResizeObject(n, 1)) {
    BaseObject* op = ring;
    BaseObject::Free(op);
    return nullptr;
  }
  ring->GetSegmentW()[0] = Segment{n, TRUE};
  return ring;
}

// Inserts op as the last child of parent (or at the top level).
void Append(BaseDocument* doc, BaseObject* op, BaseObject* parent) {
  BaseObject* last = parent ? parent->GetDown() : doc->GetFirstObject();
  while (last && last->GetNext()) last = last->GetNext();
  doc->InsertObject(op, parent, last);
}

bool BuildDemo(BaseDocument* doc, LONG segments) {
  LayerObject* geometry = MakeLayer(doc, "Geometry");
  LayerObject* helpers = MakeLayer(doc, "Helpers");
  Material* red = MakeMaterial(doc, "Red", Vector(0.8, 0.1, 0.1));
  Material* checker = MakeMaterial(doc, "Checker", Vector(1, 1, 1));
  Material* glass = MakeMaterial(doc, "Glass", Vector(0.9, 0.95, 1));
  if (!geometry || !helpers || !red || !checker || !glass) return false;
  BaseContainer texture;
  texture.SetString(BASECHANNEL_TEXTURE, String("checker.tif"));
  checker->GetChannel(CHANNEL_COLOR)->SetData(texture);
  glass->SetChannelState(CHANNEL_TRANSPARENCY, TRUE);
  BaseContainer clear;
  clear.SetReal(BASECHANNEL_BRIGHTNESS_EX, 0.8);
  glass->GetChannel(CHANNEL_TRANSPARENCY)->SetData(clear);
  glass->GetDataInstance()->SetReal(MATERIAL_TRANSPARENCY_REFRACTION, 1.5);

  BaseObject* group = Generator(Onull, "Demo");
  BaseObject* cube = Generator(Ocube, "Cube");
  BaseObject* floor = Generator(Oplane, "Floor");
  BaseObject* array = Generator(Oarray, "Ring of cubes");
  BaseObject* small = Generator(Ocube, "Small cube");
  PolygonObject* wedge = Wedge(glass);
  SplineObject* path = Ring(8, 300);
  if (!group || !cube || !floor || !array || !small || !wedge || !path) {
    for (BaseObject* op : {group, cube, floor, array, small, static_cast<BaseObject*>(wedge), static_cast<BaseObject*>(path)})
      BaseObject::Free(op);
    return false;
  }
  Append(doc, group, nullptr);
  Append(doc, cube, group);
  Append(doc, floor, group);
  Append(doc, wedge, group);
  Append(doc, array, group);
  Append(doc, small, array);
  Append(doc, path, nullptr);

  cube->GetDataInstance()->SetLong(PRIM_CUBE_SUBX, segments);
  cube->GetDataInstance()->SetLong(PRIM_CUBE_SUBY, segments);
  cube->GetDataInstance()->SetLong(PRIM_CUBE_SUBZ, segments);
  cube->SetRelPos(Vector(0, 100, 0));
  cube->SetPhong(TRUE, TRUE, Rad(80.0));
  floor->GetDataInstance()->SetReal(PRIM_PLANE_WIDTH, 1000);
  floor->GetDataInstance()->SetReal(PRIM_PLANE_HEIGHT, 1000);
  floor->GetDataInstance()->SetLong(PRIM_PLANE_SUBW, 4 * segments);
  floor->GetDataInstance()->SetLong(PRIM_PLANE_SUBH, 4 * segments);
  wedge->SetRelPos(Vector(-250, 0, 0));
  array->GetDataInstance()->SetLong(ARRAYOBJECT_COPIES, 6);
  array->GetDataInstance()->SetReal(ARRAYOBJECT_RADIUS, 400);
  small->GetDataInstance()->SetVector(PRIM_CUBE_LEN, Vector(40, 40, 40));
  path->SetEditorMode(MODE_OFF);
  for (BaseObject* op : {cube, floor, static_cast<BaseObject*>(wedge), array}) op->SetLayerObject(geometry);
  path->SetLayerObject(helpers);
  if (!Texture(cube, red) || !Texture(floor, checker) || !Texture(small, red)) return false;

  doc->SetMaxTime(BaseTime(60.0, 30.0));
  doc->SetLoopMaxTime(BaseTime(60.0, 30.0));
  doc->SetActiveObject(cube);
  return true;
}

// A grid whose points ride a wave: point-level keys every 10 frames from 0 to 60 (the
// host plays the frames between them), the object lifted 50 units. Its point order is
// that of the grid of the same segments, a still copy to put a point cache on.
bool AddWave(BaseDocument* doc) {
  auto* grid = ToPoly(doc->GetFirstObject());
  if (!grid) return false;
  grid->SetName(String("Wave"));
  grid->SetRelPos(Vector(0, 50, 0));
  const LONG count = grid->GetPointCount();
  std::vector<Vector> rest(grid->GetPointR(), grid->GetPointR() + count);
  CTrack* track = CTrack::Alloc(grid, DescID(DescLevel(CTpla, CTpla, 0)));
  if (!track) return false;
  grid->InsertTrackSorted(track);
  CCurve* curve = track->GetCurve(CCURVE_CURVE, TRUE);
  if (!curve) return false;
  Vector* points = grid->GetPointW();
  for (LONG frame = 0; frame <= 60; frame += 10) {
    const Real phase = 2.0 * pi * frame / 60.0;
    for (LONG i = 0; i < count; ++i)
      points[i] = rest[size_t(i)] + Vector(0, 40 * std::sin(phase + rest[size_t(i)].x / 150.0), 0);
    LONG index = 0;
    CKey* key = curve->AddKey(BaseTime(Real(frame), 30.0), &index);
    if (!key || !track->FillKey(doc, grid, key)) return false;
  }
  for (LONG i = 0; i < count; ++i) points[i] = rest[size_t(i)];
  doc->SetMaxTime(BaseTime(60.0, 30.0));
  doc->SetLoopMaxTime(BaseTime(60.0, 30.0));
  return true;
}

}  // namespace

int RunSceneMake(const ShellOptions&, const SceneMakeOptions& make) {
  BaseDocument* doc = BaseDocument::Alloc();
  if (!doc) {
    std::fprintf(stderr, "kelvane: not enough memory for a document\n");
    return 1;
  }
  std::string name = make.kind;
  name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  doc->SetName(String(name));
  doc->SetDocumentName(Filename(String(name + ".c4d")));
  bool built = false;
  if (make.kind == "demo") {
    built = BuildDemo(doc, make.segments > 0 ? make.segments : 2);
  } else if (make.kind == "cube" || make.kind == "plane") {
    BaseObject* op = Generator(make.kind == "cube" ? Ocube : Oplane, make.kind == "cube" ? "Cube" : "Plane");
    if (op) {
      if (make.segments > 0) {
        const LONG first = make.kind == "cube" ? PRIM_CUBE_SUBX : PRIM_PLANE_SUBW;
        const LONG last = make.kind == "cube" ? PRIM_CUBE_SUBZ : PRIM_PLANE_SUBH;
        for (LONG id = first; id <= last; ++id) op->GetDataInstance()->SetLong(id, make.segments);
      }
      op->SetPhong(TRUE, TRUE, Rad(80.0));
      doc->InsertObject(op, nullptr, nullptr);
      doc->SetActiveObject(op);
      built = true;
    }
  } else if (make.kind == "grid" || make.kind == "wave") {
    // The grid is the polygon object of a plane generator, with normals added.
    BaseObject* plane = Generator(Oplane, "Grid");
    if (plane) {
      const LONG n = make.segments > 0 ? make.segments : make.kind == "wave" ? 20 : 100;
      BaseContainer* bc = plane->GetDataInstance();
      bc->SetReal(PRIM_PLANE_WIDTH, 1000);
      bc->SetReal(PRIM_PLANE_HEIGHT, 1000);
      bc->SetLong(PRIM_PLANE_SUBW, n);
      bc->SetLong(PRIM_PLANE_SUBH, n);
      doc->InsertObject(plane, nullptr, nullptr);
      doc->SetActiveObject(plane);
      BaseDocument* grid = doc->Polygonize(FALSE);
      BaseDocument::Free(doc);
      doc = grid;
      built = doc && AddUpNormals(ToPoly(doc->GetFirstObject()));
      if (built && make.kind == "wave") built = AddWave(doc);
    }
  }
  if (!built) {
    std::fprintf(stderr, "kelvane: not enough memory to build the %s scene\n", make.kind.c_str());
    if (doc) BaseDocument::Free(doc);
    return 1;
  }
  if (make.polygonize) {
    BaseDocument* polygons = doc->Polygonize(FALSE);
    BaseDocument::Free(doc);
    doc = polygons;
    if (!doc) {
      std::fprintf(stderr, "kelvane: not enough memory to polygonize the scene\n");
      return 1;
    }
  }
  std::string error;
  const bool saved = host::SaveScene(doc, make.output, &error);
  BaseDocument::Free(doc);
  if (!saved) {
    std::fprintf(stderr, "kelvane: cannot save scene '%s': %s\n", make.output.c_str(), error.c_str());
    return 1;
  }
  std::printf("Saved the %s scene to %s\n", make.kind.c_str(), make.output.c_str());
  return 0;
}
