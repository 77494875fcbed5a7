// Helpers for tests that build scenes: owners that free host nodes when a test ends
// early (a failed ASSERT must not leak host blocks), and appending objects.
#pragma once

#include <memory>
#include <string>

#include "c4d_basedocument.h"

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
