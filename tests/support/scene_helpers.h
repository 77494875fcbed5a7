// Helpers for tests that build scenes: owners that free host nodes when a test ends
// early (a failed ASSERT must not leak host blocks), and appending objects.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "c4d_basedocument.h"
#include "c4d_gui.h"

struct FreeDocument {
  void operator()(BaseDocument* doc) const { BaseDocument::Free(doc); }
};
struct FreeObject {
  void operator()(BaseObject* op) const { BaseObject::Free(op); }
};
struct FreeMaterial {
  void operator()(BaseMaterial* mat) const { BaseMaterial::Free(mat); }
};
struct FreeTag {
  void operator()(BaseTag* tag) const { BaseTag::Free(tag); }
};
struct FreeSelect {
  void operator()(BaseSelect* bs) const { BaseSelect::Free(bs); }
};
using DocPtr = std::unique_ptr<BaseDocument, FreeDocument>;
using ObjPtr = std::unique_ptr<BaseObject, FreeObject>;
using MatPtr = std::unique_ptr<BaseMaterial, FreeMaterial>;
using TagPtr = std::unique_ptr<BaseTag, FreeTag>;
using SelPtr = std::unique_ptr<BaseSelect, FreeSelect>;

// Names op and inserts it as the last child of parent (last at the top level when
// parent is null). Returns op; null stays null.
inline BaseObject* InsertLast(BaseDocument* doc, BaseObject* op, const char* name, BaseObject* parent = nullptr) {
  if (!op) return nullptr;
  op->SetName(String(name));
  BaseObject* last = parent ? parent->GetDownLast() : nullptr;
  if (!parent)
    for (BaseObject* o = doc->GetFirstObject(); o; o = o->GetNext()) last = o;
  doc->InsertObject(op, parent, last);
  return op;
}

inline std::string Name(const BaseList2D* node) { return node ? node->GetName().Std() : std::string("<null>"); }

// A rotated (heading, pitch, bank), scaled and translated matrix.
inline Matrix Placement(const Vector& hpb, const Vector& scale, const Vector& off) {
  Matrix m = HPBToMatrix(hpb);
  m.v1 = m.v1 * scale.x;
  m.v2 = m.v2 * scale.y;
  m.v3 = m.v3 * scale.z;
  m.off = off;
  return m;
}

// An n-gon edge word: the polygon and its side (0 a-b, 1 b-c, 2 c-d, 3 d-a).
inline LONG E(LONG polygon, LONG side) { return polygon * 4 + side; }

// A polygon object of w x h unit quads; quad (i, j) is polygon j * w + i, sides 0 bottom,
// 1 right, 2 top, 3 left. Null when memory is missing.
inline PolygonObject* Grid(LONG w, LONG h) {
  PolygonObject* op = PolygonObject::Alloc((w + 1) * (h + 1), w * h);
  if (!op) return nullptr;
  for (LONG j = 0; j <= h; ++j)
    for (LONG i = 0; i <= w; ++i) op->GetPointW()[j * (w + 1) + i] = Vector(i, j, 0);
  for (LONG j = 0; j < h; ++j)
    for (LONG i = 0; i < w; ++i) {
      const LONG a = j * (w + 1) + i;
      op->GetPolygonW()[j * w + i] = CPolygon(a, a + 1, a + w + 2, a + w + 1);
    }
  return op;
}

// The selected elements of a polygon selection tag, ascending; empty for another tag.
inline std::vector<LONG> SelectedIndices(const BaseTag* tag) {
  std::vector<LONG> out;
  if (!tag || tag->GetType() != Tpolygonselection) return out;
  const BaseSelect* bs = static_cast<const SelectionTag*>(tag)->GetBaseSelect();
  LONG a = 0, b = 0;
  for (LONG seg = 0; bs->GetRange(seg, MAXLONGl, &a, &b); ++seg)
    for (LONG i = a; i <= b; ++i) out.push_back(i);
  return out;
}

// A new layer of that name appended to the document's layers; null when memory is missing.
inline LayerObject* AppendLayer(BaseDocument* doc, const char* name) {
  LayerObject* layer = LayerObject::Alloc();
  if (!layer) return nullptr;
  layer->SetName(String(name));
  doc->GetLayerObjectRoot()->InsertLast(layer);
  return layer;
}
