// The scene builder: the import model of one file (what ObjImporter read) becomes host
// objects in the target document. Polygon objects come in one of five layouts (one
// object, or one per mesh object, group, region or material), line elements become
// splines in one of four. Every index the builder reads was checked by the reader
// (DropIndicesOutOfRange), so the arrays are read without further tests.
#include <algorithm>

#include "c4d_symbols.h"
#include "compat.h"
#include "lib_ngon.h"
#include "objread.h"

#include <cstring>
#include "optrecord.h"

namespace {

constexpr ULONG kMaxCount = 0x7FFFFFFF;  // host counts are 32-bit signed

// "Polygon Object Allocation Failed" and its kin: one box, the build of that object ends.
void AllocationFailed(const CHAR* what) { MessageDialog(String(what)); }

// Which stored corner becomes host corner 0..3: (a, b, c, d) or, reversed, (d, c, b, a);
// a triangle (a, b, c, c) or (c, b, a, a).
struct CornerOrder {
  LONG k[4];
};
inline CornerOrder OrderOf(const ObjFace& face, Bool reverse) {
  if (face.cornerCount == 3) return reverse ? CornerOrder{{2, 1, 0, 0}} : CornerOrder{{0, 1, 2, 2}};
  return reverse ? CornerOrder{{3, 2, 1, 0}} : CornerOrder{{0, 1, 2, 3}};
}

// Runs fill(from, to) over the entries [0, count) of a new array `block` (bytes long):
// for large arrays with a second thread to be had, the later half on that thread while
// this one fills the first, each making its own pages present as it writes them;
// otherwise all on this thread, with a worker making the pages present ahead of it.
template <class Fill>
void FillByHalves(ULONG count, void* block, VLONG bytes, const Fill& fill) {
  struct Half {
    const Fill* fill;
    ULONG from, to;
    static void Run(void* data) {
      const auto* half = static_cast<const Half*>(data);
      (*half->fill)(half->from, half->to);
    }
  };
  constexpr ULONG kHalvesFrom = 1 << 16;
  if (count >= kHalvesFrom && GeGetWorkerThreadCount() >= 2) {
    Half later{&fill, count / 2, count};
    BackgroundJob* job = BackgroundJob::Alloc();
    if (job && job->Start(Half::Run, &later)) {
      fill(0, count / 2);
      BackgroundJob::Free(job);
      return;
    }
    BackgroundJob::Free(job);
  }
  ObjPrefault prefault;
  prefault.Add(block, bytes);
  prefault.Start(TRUE);
  fill(0, count);
}

BaseTag* LastTag(BaseObject* op) {
  BaseTag* tag = op->GetFirstTag();
  while (tag && tag->GetNext()) tag = tag->GetNext();
  return tag;
}

// The layer of that name among the document's top layers, or a new one appended; null
// when none could be made.
LayerObject* FindOrMakeLayer(BaseDocument* doc, const String& name) {
  GeListHead* root = doc->GetLayerObjectRoot();
  if (!root) return nullptr;
  for (GeListNode* node = root->GetFirst(); node; node = node->GetNext()) {
    LayerObject* layer = static_cast<LayerObject*>(node);
    if (layer->GetName().Compare(name) == 0) return layer;
  }
  LayerObject* layer = LayerObject::Alloc();
  if (!layer) return nullptr;
  layer->SetName(name);
  root->InsertLast(layer);
  return layer;
}

// The face's own normal, for faces that name none in a file that has normals.
Vector FaceNormal(const Vector* points, const CPolygon& p) {
  const Vector n = (points[p.c] - points[p.a]) % (points[p.d] - points[p.b]);
  const Real length = Len(n);
  return length > 0.0 ? n * (1.0 / length) : Vector(0.0, 0.0, 0.0);
}

// Entry names of the per-mesh-object and per-material layouts: the part after the last
// blank. At most 2047 characters either way.
String ObjectNameOf(const String& name, Bool lastWordOnly) {
  String result = name;
  if (lastWordOnly) {
    const LONG length = result.GetLength();
    for (LONG i = length - 1; i >= 0; --i) {
      const CHAR c = result[i];
      if (c == ' ' || c == '\t') {
        result = result.SubStr(i + 1, length - i - 1);
        break;
      }
    }
  }
  if (result.GetLength() > 2047) result = result.Left(2047);
  return result;
}

}  // namespace

void ObjImporter::PartLost(const CHAR* what) {
  if (m_partLossReported) return;
  m_partLossReported = TRUE;
  ReportMemoryError(what);
}

// --- corners, UVs and normals of one polygon -------------------------------------------

void ObjImporter::SetCorners(const ObjFace& face, const LONG* vertexMap, CPolygon* polygon) const {
  const CornerOrder o = OrderOf(face, (importOpts.geomFlags & GEOM_REVERSE_ORDER) != 0);
  LONG v[4];
  for (LONG k = 0; k < 4; ++k) v[k] = vertexMap ? vertexMap[face.v[o.k[k]]] : face.v[o.k[k]];
  *polygon = CPolygon(v[0], v[1], v[2], v[3]);
}

void ObjImporter::SetUVW(const ObjFace& face, UVWHandle data, LONG polygon) const {
  UVWStruct uvw;
  uvw.a = uvw.b = uvw.c = uvw.d = Vector(0.0, 0.0, 0.0);
  if (face.flags & FACE_HAS_UVS) {
    const CornerOrder o = OrderOf(face, (importOpts.geomFlags & GEOM_REVERSE_ORDER) != 0);
    uvw.a = uvs[face.vt[o.k[0]]];
    uvw.b = uvs[face.vt[o.k[1]]];
    uvw.c = uvs[face.vt[o.k[2]]];
    if (face.cornerCount == 4) uvw.d = uvs[face.vt[o.k[3]]];
  }
  UVWTag::Set(data, polygon, uvw);
}

void ObjImporter::SetNormals(const ObjFace& face, NormalHandle data, LONG polygon) const {
  NormalStruct n;
  if (face.flags & FACE_HAS_NORMALS) {
    const CornerOrder o = OrderOf(face, (importOpts.geomFlags & GEOM_REVERSE_ORDER) != 0);
    n.a = normals[face.vn[o.k[0]]];
    n.b = normals[face.vn[o.k[1]]];
    n.c = normals[face.vn[o.k[2]]];
    n.d = normals[face.vn[o.k[3]]];
  } else {
    CPolygon p;
    SetCorners(face, nullptr, &p);
    n.a = n.b = n.c = n.d = FaceNormal(vertices, p);
  }
  NormalTag::Set(data, polygon, n);
}

// --- the dispatch ---------------------------------------------------------------------

void ObjImporter::MakeLayers(BaseDocument* doc) {
  const ULONG layout = importOpts.layoutFlags;
  const ULONG content = contentFlags;
  auto layer = [&](Bool wanted, LONG nameId) -> LayerObject* {
    if (!wanted) return nullptr;
    LayerObject* found = FindOrMakeLayer(doc, GeLoadString(nameId));
    if (!found) PartLost("Layer");
    return found;
  };
  polygonLayer = layer((layout & IMP_LAYER_POLYGON_OBJECTS) != 0, IDS_LAYER_POLYGONS);
  splineLayer = layer((layout & IMP_LAYER_SPLINE_OBJECTS) && (content & OBJ_HAS_SEGMENTS), IDS_LAYER_SPLINES);
  textureTagLayer = layer((layout & IMP_LAYER_TEXTURE_TAGS) && (content & OBJ_HAS_MATERIALS), IDS_LAYER_TEXTURES);
  materialSelLayer =
      layer((layout & IMP_LAYER_MATERIAL_SELECTIONS) && (content & OBJ_HAS_MATERIALS), IDS_LAYER_MATERIAL_SELECTIONS);
  groupSelLayer =
      layer((layout & IMP_LAYER_GROUP_SELECTIONS) && (content & OBJ_HAS_GROUPS), IDS_LAYER_GROUP_SELECTIONS);
  regionSelLayer =
      layer((layout & IMP_LAYER_REGION_SELECTIONS) && (content & OBJ_HAS_REGIONS), IDS_LAYER_REGION_SELECTIONS);
  normalTagLayer = layer((layout & IMP_LAYER_NORMAL_TAGS) && (content & OBJ_HAS_NORMALS), IDS_LAYER_NORMALS);
  phongTagLayer = layer((layout & IMP_LAYER_PHONG_TAGS) != 0, IDS_LAYER_PHONG);
  uvwTagLayer = layer((layout & IMP_LAYER_UVW_TAGS) && (content & OBJ_HAS_UVS), IDS_LAYER_UVW);

  m_pGroupList->m_pSelectionLayer = groupSelLayer;
  m_pRegionList->m_pSelectionLayer = regionSelLayer;
  m_pMaterialList->m_pSelectionTagLayer = materialSelLayer;
  m_pMaterialList->m_pTextureTagLayer = textureTagLayer;
}

ULONG ObjImporter::PolygonLayout() const {
  const ULONG layout = importOpts.layoutFlags;
  if (layout & IMP_OBJECT_PER_GROUP) return IMP_OBJECT_PER_GROUP;
  if (layout & IMP_OBJECT_PER_MESH) return IMP_OBJECT_PER_MESH;
  if (layout & IMP_OBJECT_PER_REGION) return IMP_OBJECT_PER_REGION;
  if (layout & IMP_OBJECT_PER_MATERIAL) return IMP_OBJECT_PER_MATERIAL;
  return 0;
}

Bool ObjImporter::LayoutHasContent(ULONG layout) const {
  switch (layout) {
    case IMP_OBJECT_PER_GROUP: return (contentFlags & OBJ_HAS_GROUPS) != 0;
    case IMP_OBJECT_PER_MESH: return (contentFlags & OBJ_HAS_OBJECTS) != 0;
    case IMP_OBJECT_PER_REGION: return (contentFlags & OBJ_HAS_REGIONS) != 0;
    case IMP_OBJECT_PER_MATERIAL: return (contentFlags & OBJ_HAS_MATERIALS) != 0;
    default: return FALSE;
  }
}

void ObjImporter::BuildScene(BaseDocument* doc, BaseObject* parent, const Filename& file) {
  const ULONG layout = PolygonLayout();
  const String fileName = FileName(file);
  m_partLossReported = FALSE;
  if ((contentFlags & OBJ_HAS_SEGMENTS) || LayoutHasContent(layout)) {
    BaseObject* null = BaseObject::Alloc(Onull);
    if (null) {
      null->SetName(fileName);
      // Under a folder's null the files follow one another in the walk's order.
      doc->InsertObject(null, parent, parent ? parent->GetDownLast() : nullptr);
      parent = null;
    } else {
      PartLost("Null Object");
    }
  }
  MakeLayers(doc);
  StatusSetText(GeLoadString(IDS_STATUS_BUILDING_OBJECTS));
  // Without normal tags nothing below reads the normals: their memory goes back before
  // the objects and tags are made (the model is cleared after the build anyway).
  if (!(importOpts.geomFlags & GEOM_NORMALS)) bDelete(normals);

  if (faceCount && layout && LayoutHasContent(layout))
    BuildSplitObjects(doc, parent, layout);
  else
    BuildSingleObject(doc, parent, fileName);

  BuildSplines(doc, parent);
}

// --- the steps every polygon object shares -----------------------------------------------

void ObjImporter::FinishObject(BaseDocument* doc, PolygonObject* op) {
  if (importOpts.layoutFlags & IMP_CENTER_AXES) CenterAxis(op);
  if (op->GetPolygonCount() && (importOpts.layoutFlags & IMP_PHONG_TAGS)) {
    if (op->SetPhong(TRUE, TRUE, importOpts.smoothAngle)) {
      if (BaseTag* phong = op->GetTag(Tphong)) phong->SetLayerObject(phongTagLayer);
    } else {
      PartLost("Phong Tag");
    }
  }
  op->Message(MSG_UPDATE);
  doc->SetActiveObject(op, SELECTION_NEW);
}

void ObjImporter::CenterAxis(PolygonObject* op) {
  const LONG count = op->GetPointCount();
  Vector* points = op->GetPointW();
  if (!count || !points) return;
  Vector low = points[0], high = points[0];
  for (LONG i = 1; i < count; ++i) {
    low = Vector(std::min(low.x, points[i].x), std::min(low.y, points[i].y), std::min(low.z, points[i].z));
    high = Vector(std::max(high.x, points[i].x), std::max(high.y, points[i].y), std::max(high.z, points[i].z));
  }
  const Vector centre = low + (high - low) * 0.5;
  for (LONG i = 0; i < count; ++i) points[i] = points[i] - centre;
  Matrix m;  // unit axes
  m.off = centre;
  op->SetMl(m);
  op->Message(MSG_UPDATE);
}

void ObjImporter::MakeUVWTag(PolygonObject* op) {
  if (!faceCount || !(contentFlags & OBJ_HAS_UVS)) return;
  UVWTag* tag = UVWTag::Alloc(static_cast<LONG>(faceCount));
  if (!tag) {
    PartLost("UVW Tag");
    return;
  }
  tag->SetLayerObject(uvwTagLayer);
  StatusSetText(GeLoadString(IDS_STATUS_BUILDING_UVW));
  UVWHandle data = tag->GetDataAddressW();
  FillByHalves(faceCount, data, static_cast<VLONG>(tag->GetDataSize()) * faceCount, [&](ULONG from, ULONG to) {
    if (m_facesAreUVCorners) {
      const CHAR* corners = reinterpret_cast<const CHAR*>(faces);
      for (ULONG i = from; i < to; ++i) {
        LONG k[4];
        std::memcpy(k, corners + sizeof(k) * i, sizeof(k));
        UVWStruct uvw;
        const Vector zero(0.0, 0.0, 0.0);
        uvw.a = k[0] >= 0 ? uvs[k[0]] : zero;
        uvw.b = k[1] >= 0 ? uvs[k[1]] : zero;
        uvw.c = k[2] >= 0 ? uvs[k[2]] : zero;
        uvw.d = k[3] >= 0 ? uvs[k[3]] : zero;
        UVWTag::Set(data, static_cast<LONG>(i), uvw);
      }
    } else {
      for (ULONG i = from; i < to; ++i) SetUVW(faces[i], data, static_cast<LONG>(i));
    }
  });
  op->InsertTag(tag, LastTag(op));
}

void ObjImporter::CompactFacesToUVCorners() {
  if (!faces || !faceCount || m_facesAreUVCorners) return;
  // Four words a face, in the order SetUVW reads them; -1 where it writes zero. Record i
  // goes to bytes [16 i, 16 i + 16), which only overlap faces already read.
  CHAR* corners = reinterpret_cast<CHAR*>(faces);
  const Bool reverse = (importOpts.geomFlags & GEOM_REVERSE_ORDER) != 0;
  for (ULONG i = 0; i < faceCount; ++i) {
    const ObjFace face = faces[i];
    LONG k[4] = {-1, -1, -1, -1};
    if (face.flags & FACE_HAS_UVS) {
      const CornerOrder o = OrderOf(face, reverse);
      for (LONG c = 0; c < (face.cornerCount == 4 ? 4 : 3); ++c) k[c] = face.vt[o.k[c]];
    }
    std::memcpy(corners + sizeof(k) * i, k, sizeof(k));
  }
  m_facesAreUVCorners = TRUE;
  // Shrinking the block gives the rest back (the block stays as it is when it cannot).
  if (void* shrunk = GeRealloc(faces, static_cast<VLONG>(4 * sizeof(LONG)) * faceCount))
    faces = static_cast<ObjFace*>(shrunk);
}

void ObjImporter::MakeNormalTag(PolygonObject* op) {
  if (!faceCount || !(contentFlags & OBJ_HAS_NORMALS)) return;
  NormalTag* tag = NormalTag::Alloc(static_cast<LONG>(faceCount));
  if (!tag) {
    PartLost("Normal Tag");
    return;
  }
  StatusSetText(GeLoadString(IDS_STATUS_BUILDING_NORMALS));
  NormalHandle data = tag->GetDataAddressW();
  ObjPrefault prefault;
  prefault.Add(data, static_cast<VLONG>(tag->GetDataSize()) * faceCount);
  prefault.Start(TRUE);
  for (ULONG i = 0; i < faceCount; ++i) SetNormals(faces[i], data, static_cast<LONG>(i));
  tag->SetLayerObject(normalTagLayer);
  op->InsertTag(tag, LastTag(op));
}

// --- n-gons --------------------------------------------------------------------------

Bool ObjImporter::BuildNgon(NgonBase* base, NgonRecord& record, const CPolygon* polygons, const Vector* points) {
  const LONG corners = record.cornerCount;
  const LONG members = record.polygonCount;
  // The scratch block: the edge words (two words a corner), then the members' sides
  // (four a corner).
  LONG* outer = reinterpret_cast<LONG*>(ngonScratch);
  const LONG room = ngonScratchCount * 2;
  struct Side {
    uint64_t ends;  // start point, end point
    LONG order;   // member * 4 + the rank of the side within it
    LONG side;
  };
  Side* sides = reinterpret_cast<Side*>(ngonScratch + ngonScratchCount);
  if (!outer || corners + members > room || members <= 0 || members > ngonScratchCount) return FALSE;

  // Each outline edge runs along the first member side with its two ends, members in
  // their order and a member's sides in the order 0, 1, 3, 2 (a triangle has no side 2).
  // The sides sorted by their ends, that first one is found by a search.
  LONG sideCount = 0;
  auto add = [&](LONG from, LONG to, LONG order, LONG side) {
    sides[sideCount++] = Side{uint64_t(ULONG(from)) << 32 | ULONG(to), order, side};
  };
  for (LONG p = 0; p < members; ++p) {
    record.edgeCounts[p] = 0;
    const CPolygon& q = polygons[record.polygons[p]];
    add(q.a, q.b, 4 * p, 0);
    add(q.b, q.c, 4 * p + 1, 1);
    add(q.d, q.a, 4 * p + 2, 3);
    if (q.c != q.d) add(q.c, q.d, 4 * p + 3, 2);
  }
  auto before = [](const Side& x, const Side& y) { return x.ends != y.ends ? x.ends < y.ends : x.order < y.order; };
  std::sort(sides, sides + sideCount, before);
  LONG written = 0;
  for (LONG i = 0; i < corners; ++i) {
    const LONG u = record.corners[i];
    const LONG v = record.corners[i + 1 < corners ? i + 1 : 0];
    const Side key{uint64_t(ULONG(u)) << 32 | ULONG(v), -1, 0};
    const Side* found = std::lower_bound(sides, sides + sideCount, key, before);
    if (found == sides + sideCount || found->ends != key.ends) continue;
    const LONG p = found->order / 4;
    outer[written++] = record.polygons[p] * 4 + found->side;
    ++record.edgeCounts[p];
  }
  if (written < corners) {
    GePrint(String("Kelvane: Error parsing Ngon edges"));
    return FALSE;
  }
  outer[written - 1] |= NGON_EDGE_SEGMENTEND;
  for (LONG p = 0; p < members; ++p)
    if (record.edgeCounts[p] == 0) outer[written++] = (record.polygons[p] * 4) | NGON_EDGE_MEMBER;
  if (base->BuildNgon(nullptr, outer, 0, written, polygons, points) != NOTOK) return TRUE;
  // Refused by the host (an outline that meets itself, or no memory for it): the
  // polygons stay as they are.
  GePrint(String("Kelvane: Error parsing Ngon edges"));
  return FALSE;
}

void ObjImporter::RebuildNgons(PolygonObject* op) {
  StatusSetText(GeLoadString(IDS_STATUS_REBUILDING_NGONS));
  NgonBase* base = nullptr;
  if (!op->ResizeObject(op->GetPointCount(), op->GetPolygonCount(), static_cast<LONG>(ngonCount)) ||
      !(base = op->GetNgonBase())) {
    PartLost("Ngons");
    return;
  }
  op->Message(MSG_UPDATE);
  const CPolygon* polygons = op->GetPolygonR();
  const Vector* points = op->GetPointR();
  ULONG j = 0;
  for (linkNode* node = ngons.First(); node && j < ngonCount; node = node->Next(), ++j) {
    NgonRecord* record = static_cast<NgonRecord*>(node->Data());
    if (record && record->polygonCount > 0) BuildNgon(base, *record, polygons, points);
  }
  if (!base->InitMap()) PartLost("Ngons");
}

// --- one object for everything ---------------------------------------------------------

void ObjImporter::BuildSingleObject(BaseDocument* doc, BaseObject* parent, const String& name) {
  PolygonObject* op = nullptr;
  if (vertexCount <= kMaxCount && faceCount <= kMaxCount)
    op = PolygonObject::Alloc(static_cast<LONG>(vertexCount), static_cast<LONG>(faceCount));
  if (!op) {
    AllocationFailed("Polygon Object Allocation Failed");
    return;
  }
  op->SetName(name);
  // One object for all faces: the objects' lists of faces and the forms pass 1 chose
  // are not read again (the splines use the objects' lists of line elements).
  for (meshObj* object = m_pMeshObjList->First(); object; object = object->Next()) {
    bDelete(object->faceIndices);
    object->faceIndexCount = 0;
    object->faceTable = nullptr;
  }
  GeFree(m_pForms);
  m_formCount = m_formCapacity = m_formCursor = 0;
  Vector* points = op->GetPointW();
  CPolygon* polygons = op->GetPolygonW();
  FillByHalves(vertexCount, points, static_cast<VLONG>(sizeof(Vector)) * vertexCount, [&](ULONG from, ULONG to) {
    if (to > from) std::memcpy(static_cast<void*>(points + from), vertices + from, sizeof(Vector) * (to - from));
  });
  FillByHalves(faceCount, polygons, static_cast<VLONG>(sizeof(CPolygon)) * faceCount, [&](ULONG from, ULONG to) {
    for (ULONG i = from; i < to; ++i) SetCorners(faces[i], nullptr, &polygons[i]);
  });
  // The positions live on in the object; only the faces' own normals (normal tag) and
  // the splines read the model's copy later. Without a normal tag only the UVW tag
  // reads the faces from here on.
  if (!(importOpts.geomFlags & GEOM_NORMALS)) {
    if (!segmentCount) bDelete(vertices);
    CompactFacesToUVCorners();
  }

  const ULONG geom = importOpts.geomFlags;
  if (geom & GEOM_UVS) MakeUVWTag(op);
  if (geom & GEOM_REGIONS) m_pRegionList->BuildSelectionTags(op);
  if (geom & GEOM_GROUPS) m_pGroupList->BuildSelectionTags(op);
  if ((geom & GEOM_MATERIALS) && (contentFlags & OBJ_HAS_MATERIALS)) {
    m_pMaterialList->SetBaseMaterials(doc, MaterialOptions());
    m_pMaterialList->SetTexTags(op, (importOpts.materialFlags & MAT_TEXTURE_TAGS) != 0);
  }
  if (geom & GEOM_NORMALS) MakeNormalTag(op);
  if ((geom & GEOM_NGONS) && ngonCount) RebuildNgons(op);

  op->SetLayerObject(polygonLayer);
  doc->InsertObject(op, parent, parent ? parent->GetDownLast() : nullptr);
  FinishObject(doc, op);
}

ioMaterialBuildOptions ObjImporter::MaterialOptions() const {
  ioMaterialBuildOptions options;
  options.materialFlags = importOpts.materialFlags;
  options.texturePath = importOpts.texturePath;
  options.shaderParam1005 = importOpts.shaderParam1005;
  options.shaderParam1006 = importOpts.shaderParam1006;
  options.libraryRead = (contentFlags & OBJ_HAS_MTLLIB) != 0;
  return options;
}

// --- one object per entry ---------------------------------------------------------------

// What the split builder keeps between entries: which points the entry's faces use
// (a stamp per point, so nothing is cleared between entries) and their local numbers,
// and the n-gon records sorted by the entry they belong to.
struct ObjImporter::SplitState {
  ULONG* pointStamp = nullptr;  // vertexCount words: the entry (plus one) that used it last
  LONG* pointMap = nullptr;     // vertexCount words: its local number in that entry
  NgonRecord** ngonRecords = nullptr;  // ngonCount pairs: record, then its part record
  LONG* ngonStart = nullptr;  // entries + 1 words: each entry's first n-gon pair
  LONG entries = 0;

  ~SplitState() {
    bDelete(pointStamp);
    bDelete(pointMap);
    bDelete(ngonRecords);
    bDelete(ngonStart);
  }
};

Bool ObjImporter::SortNgonsByEntry(SplitState& state, LONG NgonRecord::*field) {
  if (!ngonCount || !(importOpts.geomFlags & GEOM_NGONS)) return TRUE;
  // The part records are made for the first build by entries: one object for
  // everything reads the n-gon records themselves.
  if (ngonParts.Count() == 0) {
    for (linkNode* node = ngons.First(); node; node = node->Next()) {
      const NgonRecord* record = static_cast<const NgonRecord*>(node->Data());
      if (!ngonParts.AddNgonRecord(record->cornerCount, record->polygonCount)) return FALSE;
    }
  }
  state.ngonRecords = bNew(NgonRecord*, ngonCount * 2);
  state.ngonStart = bNew(LONG, state.entries + 1);
  if (!state.ngonRecords || !state.ngonStart) return FALSE;
  for (LONG e = 0; e <= state.entries; ++e) state.ngonStart[e] = 0;
  auto each = [&](auto fn) {
    linkNode* part = ngonParts.First();
    ULONG j = 0;
    for (linkNode* node = ngons.First(); node && part && j < ngonCount; node = node->Next(), part = part->Next(), ++j) {
      NgonRecord* record = static_cast<NgonRecord*>(node->Data());
      NgonRecord* partRecord = static_cast<NgonRecord*>(part->Data());
      if (!record || !partRecord || record->polygonCount <= 0) continue;
      const LONG entry = record->*field;
      if (entry < 0 || entry >= state.entries) continue;
      fn(entry, record, partRecord);
    }
  };
  each([&](LONG entry, NgonRecord*, NgonRecord*) { ++state.ngonStart[entry + 1]; });
  for (LONG e = 0; e < state.entries; ++e) state.ngonStart[e + 1] += state.ngonStart[e];
  // Counting sort, stable: each entry's records keep the file's order.
  LONG* cursor = bNew(LONG, state.entries);
  if (!cursor) return FALSE;
  for (LONG e = 0; e < state.entries; ++e) cursor[e] = state.ngonStart[e];
  each([&](LONG entry, NgonRecord* record, NgonRecord* partRecord) {
    const LONG at = cursor[entry]++;
    state.ngonRecords[at * 2] = record;
    state.ngonRecords[at * 2 + 1] = partRecord;
  });
  bDelete(cursor);
  return TRUE;
}

void ObjImporter::RebuildEntryNgons(PolygonObject* op, const SplitState& state, LONG entry, ULONG stamp) {
  if (!state.ngonRecords || entry < 0 || entry >= state.entries) return;
  const LONG first = state.ngonStart[entry], last = state.ngonStart[entry + 1];
  if (first == last) return;
  StatusSetText(GeLoadString(IDS_STATUS_REBUILDING_NGONS));
  NgonBase* base = nullptr;
  if (!op->ResizeObject(op->GetPointCount(), op->GetPolygonCount(), last - first) || !(base = op->GetNgonBase())) {
    PartLost("Ngons");
    return;
  }
  op->Message(MSG_UPDATE);
  const CPolygon* polygons = op->GetPolygonR();
  const Vector* points = op->GetPointR();
  for (LONG at = first; at < last; ++at) {
    const NgonRecord& record = *state.ngonRecords[at * 2];
    NgonRecord& part = *state.ngonRecords[at * 2 + 1];
    Bool mapped = part.cornerCount >= record.cornerCount;
    for (LONG i = 0; mapped && i < record.cornerCount; ++i) {
      const LONG vertex = record.corners[i];
      mapped = state.pointStamp[vertex] == stamp;
      if (mapped) part.corners[i] = state.pointMap[vertex];
    }
    if (!mapped) {
      // A corner none of the n-gon's polygons uses: the outline cannot be matched.
      GePrint(String("Kelvane: Error parsing Ngon edges"));
      continue;
    }
    part.polygonCount = record.polygonCount;
    for (LONG p = 0; p < record.polygonCount; ++p) part.polygons[p] = faces[record.polygons[p]].reserved;
    part.cornerCount = record.cornerCount;
    BuildNgon(base, part, polygons, points);
  }
  if (!base->InitMap()) PartLost("Ngons");
}

template <class Entry>
void ObjImporter::BuildEntryObjects(BaseDocument* doc, BaseObject* parent, Entry* first, LONG entries,
                                    LONG NgonRecord::*ngonField, Bool lastWordOnly) {
  SplitState state;
  state.entries = entries;
  state.pointStamp = bNew(ULONG, vertexCount ? vertexCount : 1);
  state.pointMap = bNew(LONG, vertexCount ? vertexCount : 1);
  if (!state.pointStamp || !state.pointMap || !SortNgonsByEntry(state, ngonField)) {
    ReportMemoryError("Mem: vertex map");
    return;
  }
  for (ULONG i = 0; i < vertexCount; ++i) state.pointStamp[i] = 0;

  const ULONG geom = importOpts.geomFlags;
  const Bool groupSelections = (geom & GEOM_GROUPS) && (contentFlags & OBJ_HAS_GROUPS);
  const Bool regionSelections = (geom & GEOM_REGIONS) && (contentFlags & OBJ_HAS_REGIONS);
  const Bool textureTags = (importOpts.materialFlags & MAT_TEXTURE_TAGS) != 0;
  const Bool wantNormals = (geom & GEOM_NORMALS) && (contentFlags & OBJ_HAS_NORMALS);
  const Bool wantUVs = (geom & GEOM_UVS) && (contentFlags & OBJ_HAS_UVS);

  BaseObject* pred = nullptr;
  ULONG stamp = 0;
  for (Entry* entry = first; entry; entry = entry->Next()) {
    const ULONG* indices = entry->faceIndices;
    const ULONG count = entry->faceIndexCount;
    if (!count || !indices) continue;
    ++stamp;

    // The points this entry's faces use, numbered in order of first use.
    LONG used = 0;
    for (ULONG k = 0; k < count; ++k) {
      const ObjFace& face = faces[indices[k]];
      for (LONG c = 0; c < face.cornerCount; ++c) {
        const LONG vertex = face.v[c];
        if (state.pointStamp[vertex] != stamp) {
          state.pointStamp[vertex] = stamp;
          state.pointMap[vertex] = used++;
        }
      }
    }

    PolygonObject* op = count <= kMaxCount ? PolygonObject::Alloc(used, static_cast<LONG>(count))
                                                                : nullptr;
    if (!op) {
      AllocationFailed("Polygon Object Allocation Failed");
      return;
    }
    op->SetName(ObjectNameOf(entry->name, lastWordOnly));
    Vector* points = op->GetPointW();
    for (ULONG k = 0; k < count; ++k) {
      const ObjFace& face = faces[indices[k]];
      for (LONG c = 0; c < face.cornerCount; ++c) points[state.pointMap[face.v[c]]] = vertices[face.v[c]];
    }

    NormalTag* normalTag = wantNormals ? NormalTag::Alloc(static_cast<LONG>(count)) : nullptr;
    UVWTag* uvwTag = wantUVs ? UVWTag::Alloc(static_cast<LONG>(count)) : nullptr;
    if (wantNormals && !normalTag) PartLost("Normal Tag");
    if (wantUVs && !uvwTag) PartLost("UVW Tag");
    if (uvwTag) {
      uvwTag->SetLayerObject(uvwTagLayer);
      op->InsertTag(uvwTag, LastTag(op));
    }
    m_pGroupList->ResetObjectSelections();
    m_pRegionList->ResetObjectSelections();
    m_pMaterialList->ResetObjectSelections();

    CPolygon* polygons = op->GetPolygonW();
    UVWHandle uvwData = uvwTag ? uvwTag->GetDataAddressW() : nullptr;
    NormalHandle normalData = normalTag ? normalTag->GetDataAddressW() : nullptr;
    for (ULONG k = 0; k < count; ++k) {
      ObjFace& face = faces[indices[k]];
      const LONG polygon = static_cast<LONG>(k);
      face.reserved = polygon;  // the face's polygon on this object, for its n-gon
      SetCorners(face, state.pointMap, &polygons[k]);
      if (uvwData) SetUVW(face, uvwData, polygon);
      if (normalData) SetNormals(face, normalData, polygon);
      if (groupSelections) m_pGroupList->AssignPolygon(op, face.group, polygon);
      if (regionSelections) m_pRegionList->AssignPolygon(op, face.region, polygon);
      m_pMaterialList->AssignPolygon(op, face.material, polygon, textureTags);
    }
    if (normalTag) {
      normalTag->SetLayerObject(normalTagLayer);
      op->InsertTag(normalTag, LastTag(op));
    }
    if ((geom & GEOM_NGONS) && ngonCount) RebuildEntryNgons(op, state, entry->index, stamp);

    op->SetLayerObject(polygonLayer);
    doc->InsertObject(op, parent, pred);
    pred = op;
    FinishObject(doc, op);
  }
}

void ObjImporter::BuildSplitObjects(BaseDocument* doc, BaseObject* parent, ULONG layout) {
  if (!LayoutHasContent(layout)) {
    BuildSingleObject(doc, parent, m_defaultObjectName);
    return;
  }
  m_pMaterialList->SetBaseMaterials(doc, MaterialOptions());
  switch (layout) {
    case IMP_OBJECT_PER_MESH:
      BuildEntryObjects(doc, parent, m_pMeshObjList->First(), m_pMeshObjList->Count(), &NgonRecord::meshObj, TRUE);
      break;
    case IMP_OBJECT_PER_GROUP:
      BuildEntryObjects(doc, parent, m_pGroupList->First(), m_pGroupList->Count(), &NgonRecord::group, FALSE);
      break;
    case IMP_OBJECT_PER_REGION:
      BuildEntryObjects(doc, parent, m_pRegionList->First(), m_pRegionList->Count(), &NgonRecord::region, FALSE);
      break;
    default:
      BuildEntryObjects(doc, parent, m_pMaterialList->First(), m_pMaterialList->Count(), &NgonRecord::material, TRUE);
      break;
  }
}

// --- splines -------------------------------------------------------------------------------

SplineObject* ObjImporter::MakeSpline(BaseDocument* doc, BaseObject* parent, const String& name,
                                      const ULONG* segmentIndices, ULONG count, LONG onlyGroup) {
  ULONG segmentTotal = 0;
  ULONG pointTotal = 0;
  for (ULONG i = 0; i < count; ++i) {
    const ObjSegment& segment = segments[segmentIndices[i]];
    if (onlyGroup >= 0 && segment.group != onlyGroup) continue;
    ++segmentTotal;
    pointTotal += static_cast<ULONG>(segment.pointCount);
  }
  if (!segmentTotal) return nullptr;
  SplineObject* spline =
      pointTotal <= kMaxCount ? SplineObject::Alloc(static_cast<LONG>(pointTotal), SPLINETYPE_LINEAR)
                                                  : nullptr;
  if (!spline) {
    AllocationFailed("Spline Object Allocation Failed");
    return nullptr;
  }
  spline->MakeVariableTag(Tsegment, static_cast<LONG>(segmentTotal));
  Vector* points = spline->GetPointW();
  Segment* segmentData = spline->GetSegmentW();
  if (!points || !segmentData || spline->GetSegmentCount() != static_cast<LONG>(segmentTotal)) {
    AllocationFailed("Spline Object Data Setup Failed");
    BaseObject* dropped = spline;
    BaseObject::Free(dropped);
    return nullptr;
  }
  const Bool closed = (importOpts.layoutFlags & IMP_SPLINES_CLOSED) != 0;
  LONG at = 0, s = 0;
  for (ULONG i = 0; i < count; ++i) {
    const ObjSegment& segment = segments[segmentIndices[i]];
    if (onlyGroup >= 0 && segment.group != onlyGroup) continue;
    segmentData[s].cnt = segment.pointCount;
    segmentData[s].closed = closed;
    ++s;
    for (LONG k = 0; k < segment.pointCount; ++k) points[at++] = vertices[segment.points[k]];
  }
  spline->SetName(name);
  spline->SetParameter(DescID(DescLevel(SPLINEOBJECT_CLOSED)), GeData(closed), DESCFLAGS_SET_0);
  spline->SetLayerObject(splineLayer);
  doc->InsertObject(spline, parent, parent ? parent->GetDownLast() : nullptr);
  spline->Message(MSG_UPDATE);
  return spline;
}

BaseObject* ObjImporter::MakeNull(BaseDocument* doc, BaseObject* parent, const String& name) {
  BaseObject* null = BaseObject::Alloc(Onull);
  if (!null) {
    PartLost("Null Object");
    return parent;  // without the null its children go to its parent
  }
  null->SetName(name);
  doc->InsertObject(null, parent, parent ? parent->GetDownLast() : nullptr);
  return null;
}

void ObjImporter::BuildSplines(BaseDocument* doc, BaseObject* parent) {
  if (!segmentCount) return;
  const ULONG layout = importOpts.layoutFlags & IMP_SPLINE_LAYOUT_MASK;
  if (!layout) {
    // One spline of every segment, in file order.
    ULONG* all = bNew(ULONG, segmentCount);
    if (!all) {
      AllocationFailed("Spline Object Allocation Failed");
      return;
    }
    for (ULONG i = 0; i < segmentCount; ++i) all[i] = i;
    MakeSpline(doc, parent, String("Spline"), all, segmentCount, -1);
    bDelete(all);
    return;
  }

  StatusSetText(GeLoadString(IDS_STATUS_BUILDING_SPLINES));
  BaseObject* splines = MakeNull(doc, parent, String("Splines"));
  const Bool objectNulls = (contentFlags & OBJ_HAS_OBJECTS) && (importOpts.layoutFlags & IMP_SPLINE_NULL_MASK);
  const Bool groupNulls = (importOpts.layoutFlags & IMP_SPLINE_NULL_PER_GROUP) && (contentFlags & OBJ_HAS_GROUPS);
  for (meshObj* object = m_pMeshObjList->First(); object; object = object->Next()) {
    const ULONG* indices = object->segIndices;
    const ULONG count = object->segIndexCount;
    if (!count || !indices) continue;
    BaseObject* home = objectNulls ? MakeNull(doc, splines, object->name) : splines;
    if (layout & IMP_SPLINE_PER_MESH) {
      MakeSpline(doc, home, object->name, indices, count, -1);
    } else if (layout & IMP_SPLINE_PER_GROUP) {
      for (ioGroup* group = m_pGroupList->First(); group; group = group->Next()) {
        const LONG g = group->index;
        if (g < 0 || static_cast<ULONG>(g) >= object->groupUsedCount || !object->groupUsed[g]) continue;
        MakeSpline(doc, home, group->name, indices, count, g);
      }
    } else {
      // One spline per segment, named after its place in the object's list.
      auto segmentSpline = [&](BaseObject* under, ULONG k) {
        MakeSpline(doc, under, String("Spline") + String::LongToString(static_cast<LONG>(k)), &indices[k], 1, -1);
      };
      if (!groupNulls) {
        for (ULONG k = 0; k < count; ++k) segmentSpline(home, k);
        continue;
      }
      for (ioGroup* group = m_pGroupList->First(); group; group = group->Next()) {
        BaseObject* groupNull = nullptr;
        for (ULONG k = 0; k < count; ++k) {
          if (segments[indices[k]].group != group->index) continue;
          if (!groupNull) groupNull = MakeNull(doc, home, group->name);
          segmentSpline(groupNull, k);
        }
      }
    }
  }
}
