// The host's generators and what they generate: a cube and a plane (polygon objects with
// texture coordinates) and an array (copies of its first child on a circle).
#include <cmath>
#include <unordered_map>

#include "c4d_general.h"
#include "c4d_memory.h"
#include "host_internal.h"
#include "scene_internal.h"

namespace {

constexpr LONG kMaxCubeSegments = 500;
constexpr LONG kMaxPlaneSegments = 5000;
constexpr LONG kMaxArrayCopies = 1000;

// What one array may generate: copies of copies multiply, and a scene file can ask for
// more polygons than any memory holds (a thousand arrays of a thousand cubes of 1.5
// million polygons each). An array beyond this fails with a console line instead.
constexpr LLONG kMaxArrayPolygons = LLONG(1) << 27;

LONG Clamp(LONG v, LONG lo, LONG hi) { return v < lo ? lo : (v > hi ? hi : v); }

// The polygons op and its children generate, as the generators below would, saturating
// at kMaxArrayPolygons + 1 (an estimate never overflows, however deep the arrays go).
LLONG GeneratedPolygons(const BaseObject* op) {
  constexpr LLONG kBeyond = kMaxArrayPolygons + 1;
  const BaseContainer* bc = op->GetDataInstance();
  LLONG own = 0;
  switch (op->GetType()) {
    case Ocube: {
      const LLONG x = Clamp(bc->GetLong(PRIM_CUBE_SUBX, 1), 1, kMaxCubeSegments);
      const LLONG y = Clamp(bc->GetLong(PRIM_CUBE_SUBY, 1), 1, kMaxCubeSegments);
      const LLONG z = Clamp(bc->GetLong(PRIM_CUBE_SUBZ, 1), 1, kMaxCubeSegments);
      own = 2 * (x * y + y * z + x * z);
      break;
    }
    case Oplane:
      own = LLONG(Clamp(bc->GetLong(PRIM_PLANE_SUBW, 20), 1, kMaxPlaneSegments)) *
            Clamp(bc->GetLong(PRIM_PLANE_SUBH, 20), 1, kMaxPlaneSegments);
      break;
    case Oarray: {
      const BaseObject* child = op->GetDown();
      while (child && IsActiveDeformer(child)) child = child->GetNext();
      const LLONG copies = Clamp(bc->GetLong(ARRAYOBJECT_COPIES, 7), 0, kMaxArrayCopies);
      const LLONG each = child ? GeneratedPolygons(child) : 0;
      return copies > 0 && each > kBeyond / copies ? kBeyond : copies * each;
    }
    case Opolygon:
      own = static_cast<const PolygonObject*>(op)->GetPolygonCount();
      break;
    default:
      break;
  }
  for (const BaseObject* child = op->GetDown(); child && own <= kBeyond; child = child->GetNext())
    own += GeneratedPolygons(child);
  return own < kBeyond ? own : kBeyond;
}

// A polygon object with a UVW tag of one entry per polygon; null when memory is missing.
PolygonObject* AllocMesh(LONG points, LONG polygons, UVWTag** uvw) {
  PolygonObject* mesh = PolygonObject::Alloc(points, polygons);
  if (!mesh) return nullptr;
  *uvw = static_cast<UVWTag*>(mesh->MakeVariableTag(Tuvw, polygons, mesh->GetTag(Tpolygon)));
  if (!*uvw) {
    BaseObject* op = mesh;
    BaseObject::Free(op);
    return nullptr;
  }
  return mesh;
}

// A grid of subw x subh quads in the XZ plane, facing +Y, centred on the origin.
PolygonObject* MakePlane(const BaseContainer& bc) {
  const Real width = bc.GetReal(PRIM_PLANE_WIDTH, 400), height = bc.GetReal(PRIM_PLANE_HEIGHT, 400);
  const LONG nu = Clamp(bc.GetLong(PRIM_PLANE_SUBW, 20), 1, kMaxPlaneSegments);
  const LONG nv = Clamp(bc.GetLong(PRIM_PLANE_SUBH, 20), 1, kMaxPlaneSegments);
  UVWTag* uvw = nullptr;
  PolygonObject* mesh = AllocMesh((nu + 1) * (nv + 1), nu * nv, &uvw);
  if (!mesh) return nullptr;
  Vector* points = mesh->GetPointW();
  for (LONG j = 0; j <= nv; ++j)
    for (LONG i = 0; i <= nu; ++i)
      points[j * (nu + 1) + i] = Vector(-width / 2 + width * i / nu, 0.0, height / 2 - height * j / nv);
  CPolygon* polygons = mesh->GetPolygonW();
  UVWHandle handle = uvw->GetDataAddressW();
  for (LONG j = 0; j < nv; ++j) {
    for (LONG i = 0; i < nu; ++i) {
      const LONG p = j * nu + i, a = j * (nu + 1) + i;
      polygons[p] = CPolygon(a, a + 1, a + nu + 2, a + nu + 1);
      const Real u0 = Real(i) / nu, u1 = Real(i + 1) / nu, v0 = Real(j) / nv, v1 = Real(j + 1) / nv;
      UVWTag::Set(handle, p, UVWStruct{Vector(u0, v0, 0), Vector(u1, v0, 0), Vector(u1, v1, 0), Vector(u0, v1, 0)});
    }
  }
  return mesh;
}

// A box of the given edge lengths with segs[axis] segments along each axis; the points
// on shared edges are shared by the faces.
PolygonObject* MakeCube(const BaseContainer& bc) {
  const Vector size = bc.GetVector(PRIM_CUBE_LEN, Vector(200, 200, 200));
  const LONG segs[3] = {Clamp(bc.GetLong(PRIM_CUBE_SUBX, 1), 1, kMaxCubeSegments),
                        Clamp(bc.GetLong(PRIM_CUBE_SUBY, 1), 1, kMaxCubeSegments),
                        Clamp(bc.GetLong(PRIM_CUBE_SUBZ, 1), 1, kMaxCubeSegments)};
  const Real len[3] = {size.x, size.y, size.z};
  const LONG polygonCount = 2 * (segs[0] * segs[1] + segs[1] * segs[2] + segs[0] * segs[2]);
  const LONG pointCount = polygonCount + 2;  // Euler: V - E + F = 2 on a quad surface
  UVWTag* uvw = nullptr;
  PolygonObject* mesh = AllocMesh(pointCount, polygonCount, &uvw);
  if (!mesh) return nullptr;
  Vector* points = mesh->GetPointW();
  CPolygon* polygons = mesh->GetPolygonW();
  UVWHandle handle = uvw->GetDataAddressW();

  std::unordered_map<LLONG, LONG> index;  // lattice position -> point index
  index.reserve(static_cast<size_t>(pointCount));
  LONG used = 0;
  auto pointAt = [&](const LONG (&g)[3]) {
    const LLONG key = (LLONG(g[0]) * (segs[1] + 1) + g[1]) * (segs[2] + 1) + g[2];
    const auto [it, added] = index.emplace(key, used);
    if (added) {
      points[used++] = Vector(-len[0] / 2 + len[0] * g[0] / segs[0], -len[1] / 2 + len[1] * g[1] / segs[1],
                              -len[2] / 2 + len[2] * g[2] / segs[2]);
    }
    return it->second;
  };

  LONG p = 0;
  for (int axis = 0; axis < 3; ++axis) {
    const int b = (axis + 1) % 3, c = (axis + 2) % 3;
    for (int side = 0; side < 2; ++side) {
      for (LONG v = 0; v < segs[c]; ++v) {
        for (LONG u = 0; u < segs[b]; ++u) {
          LONG corner[4];
          const LONG cells[4][2] = {{u, v}, {u + 1, v}, {u + 1, v + 1}, {u, v + 1}};
          for (int k = 0; k < 4; ++k) {
            LONG g[3];
            g[axis] = side ? segs[axis] : 0;
            g[b] = cells[k][0];
            g[c] = cells[k][1];
            corner[k] = pointAt(g);
          }
          // Counter-clockwise seen from outside: the far side as is, the near side reversed.
          const Real u0 = Real(u) / segs[b], u1 = Real(u + 1) / segs[b];
          const Real v0 = Real(v) / segs[c], v1 = Real(v + 1) / segs[c];
          if (side) {
            polygons[p] = CPolygon(corner[0], corner[1], corner[2], corner[3]);
            UVWTag::Set(handle, p, UVWStruct{Vector(u0, v0, 0), Vector(u1, v0, 0), Vector(u1, v1, 0), Vector(u0, v1, 0)});
          } else {
            polygons[p] = CPolygon(corner[3], corner[2], corner[1], corner[0]);
            UVWTag::Set(handle, p, UVWStruct{Vector(u0, v1, 0), Vector(u1, v1, 0), Vector(u1, v0, 0), Vector(u0, v0, 0)});
          }
          ++p;
        }
      }
    }
  }
  return mesh;
}

// A null holding copies of the first child's polygonal tree on a circle in XZ. The
// array's deformers are not its input.
BaseObject* MakeArray(const BaseObject* op, LONG flags, AliasTrans* trn) {
  BaseObject* group = BaseObject::Alloc(Onull);
  if (!group) return nullptr;
  const BaseObject* child = op->GetDown();
  while (child && IsActiveDeformer(child)) child = child->GetNext();
  if (!child) return group;
  const LONG copies = Clamp(op->GetDataInstance()->GetLong(ARRAYOBJECT_COPIES, 7), 0, kMaxArrayCopies);
  if (GeneratedPolygons(op) > kMaxArrayPolygons) {
    GePrint(String("Kelvane host: the array \"") + op->GetName() +
            String("\" would generate more than 134217728 polygons; it generates nothing"));
    return group;
  }
  const Real radius = op->GetDataInstance()->GetReal(ARRAYOBJECT_RADIUS, 250);
  for (LONG n = 0; n < copies; ++n) {
    BaseObject* copy = MakePolygonalTree(child, flags, trn);
    if (!copy) {
      BaseObject::Free(group);
      return nullptr;
    }
    const Real angle = 2.0 * pi * n / copies;
    Matrix place;
    place.off = Vector(radius * std::sin(angle), 0.0, radius * std::cos(angle));
    copy->SetMl(place * copy->GetMl());
    copy->InsertUnderLast(group);
  }
  return group;
}

// The generator's own name, placement, visibility, layer and tags on its result.
bool TakeShell(const BaseObject* op, BaseObject* state, LONG flags, AliasTrans* trn) {
  state->SetName(op->GetName());
  state->SetMl(op->GetMl());
  state->SetEditorMode(op->GetEditorMode());
  state->SetRenderMode(op->GetRenderMode());
  NodeAccess::SetLayerSerial(state, NodeAccess::LayerSerial(op));
  BaseTag* last = nullptr;
  for (BaseTag* t = state->GetFirstTag(); t; t = t->GetNext()) last = t;
  for (const BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext()) {
    auto* copy = static_cast<BaseTag*>(NodeAccess::CloneAlone(tag, flags, trn));
    if (!copy) return false;
    state->InsertTag(copy, last);
    last = copy;
  }
  NodeAccess::RecordCopy(trn, op, state);
  return true;
}

// Runs source's deformers on every point object of a generated tree; mg is the global
// matrix the tree's root stands at.
void DeformTree(const BaseObject* source, BaseObject* node, const Matrix& mg) {
  if (node->IsInstanceOf(Opoint)) RunDeformers(source, node, mg, nullptr);
  for (BaseObject* child = node->GetDown(); child; child = child->GetNext()) DeformTree(source, child, mg * child->GetMl());
}

bool HasActiveDeformer(const BaseObject* op) {
  for (const BaseObject* child = op->GetDown(); child; child = child->GetNext())
    if (IsActiveDeformer(child)) return true;
  return false;
}

}  // namespace

BaseObject* MakeGenerated(const BaseObject* op, LONG flags, AliasTrans* trn) {
  BaseObject* state = nullptr;
  switch (op->GetType()) {
    case Ocube: state = MakeCube(*op->GetDataInstance()); break;
    case Oplane: state = MakePlane(*op->GetDataInstance()); break;
    case Oarray: state = MakeArray(op, flags, trn); break;
    default: break;
  }
  if (state && !TakeShell(op, state, flags, trn)) BaseObject::Free(state);
  return state;
}

BaseObject* MakeCurrentState(const BaseObject* op, LONG flags, AliasTrans* trn) {
  BaseObject* state = IsGenerator(op->GetType()) ? MakeGenerated(op, flags, trn)
                                                 : static_cast<BaseObject*>(NodeAccess::CloneAlone(op, flags, trn));
  if (state && HasActiveDeformer(op)) DeformTree(op, state, op->GetMg());
  return state;
}

BaseObject* MakePolygonalTree(const BaseObject* op, LONG flags, AliasTrans* trn) {
  BaseObject* state = MakeCurrentState(op, flags, trn);
  if (!state || op->GetType() == Oarray) return state;
  for (const BaseObject* child = op->GetDown(); child; child = child->GetNext()) {
    // A deformer's work is in the state already.
    if (IsActiveDeformer(child)) continue;
    BaseObject* childState = MakePolygonalTree(child, flags, trn);
    if (!childState) {
      BaseObject::Free(state);
      return nullptr;
    }
    childState->InsertUnderLast(state);
  }
  return state;
}
