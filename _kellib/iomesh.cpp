#include "iomesh.h"

#include <cmath>

#include "compat.h"
#include "fileio.h"
#include "lib_ngon.h"
#include "namehash.h"
#include "tstorage.h"

namespace {

// The object's texture tags, in tag order.
template <class Visit>
void ForEachTextureTag(BaseObject* op, Visit visit) {
  for (BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext())
    if (tag->GetType() == Ttexture) visit(static_cast<TextureTag*>(tag));
}

String RestrictionOf(const TextureTag* tag) {
  return tag->GetDataInstance()->GetString(TEXTURETAG_RESTRICTION);
}

// The selection's polygons below limit, ascending.
template <class Visit>
void ForEachSelected(const SelectionTag* tag, ULONG limit, Visit visit) {
  const BaseSelect* bs = tag->GetBaseSelect();
  if (!bs || limit == 0) return;
  LONG a = 0, b = 0;
  for (LONG seg = 0; bs->GetRange(seg, LONG(limit), &a, &b); ++seg)
    for (LONG i = a; i <= b; ++i) visit(ULONG(i));
}

// Shared normals: finds the earliest stored normal that agrees with a new one within the
// tolerance in every component (that equals it, with tolerance 0). Normals are filed by
// the cube of side kCell they lie in; one within the tolerance of another lies in the
// same cube or, near a face of it, in the next, so a lookup visits one cube, rarely more.
class NormalIndex {
 public:
  // expected: entries to size the table for at once (it grows beyond when needed).
  NormalIndex(Real tolerance, ULONG expected) : m_tolerance(tolerance) {
    LULONG slots = 1024;
    while (slots < LULONG(expected) * 2 && slots < (LULONG(1) << 23)) slots *= 2;
    if (!Grow(nullptr, slots)) Grow(nullptr, 1024);
  }
  ~NormalIndex() { GeFree(m_pSlots); }
  NormalIndex(const NormalIndex&) = delete;
  NormalIndex& operator=(const NormalIndex&) = delete;

  // The index of the matching entry of table, or -1.
  LONG Find(const ioUVW* table, const Vector& n) const {
    if (!m_pSlots) return -1;
    LLONG cells[3][2];
    LONG counts[3];
    const Real v[3] = {n.x, n.y, n.z};
    for (LONG axis = 0; axis < 3; ++axis) {
      const Real scaled = v[axis] / kCell;
      const LLONG cell = Cell(v[axis]);
      cells[axis][0] = cell;
      counts[axis] = 1;
      if (m_tolerance > 0.0) {
        const Real fraction = scaled - Real(cell);
        if (fraction * kCell < m_tolerance) cells[axis][counts[axis]++] = cell - 1;
        else if ((1.0 - fraction) * kCell < m_tolerance) cells[axis][counts[axis]++] = cell + 1;
      }
    }
    LONG best = -1;
    for (LONG i = 0; i < counts[0]; ++i)
      for (LONG j = 0; j < counts[1]; ++j)
        for (LONG k = 0; k < counts[2]; ++k) {
          const LULONG key = Key(cells[0][i], cells[1][j], cells[2][k]);
          const ULONG print = Print(key);
          for (LULONG h = Mix(key);; ++h) {
            const Slot& slot = m_pSlots[h & m_mask];
            if (slot.index < 0) break;
            if (slot.print != print || (best >= 0 && slot.index >= best)) continue;
            const ioUVW& s = table[slot.index];
            if (Same(s.u, n.x) && Same(s.v, n.y) && Same(s.w, n.z)) best = slot.index;
          }
        }
    return best;
  }

  Bool Matches(const ioUVW& stored, const Vector& n) const {
    return Same(stored.u, n.x) && Same(stored.v, n.y) && Same(stored.w, n.z);
  }

  // False when memory is missing. table holds every normal added so far.
  Bool Add(const ioUVW* table, const Vector& n, LONG index) {
    if ((m_count + 1) * 2 > m_mask + 1 && !Grow(table, (m_mask + 1) * 2)) return FALSE;
    Insert(Key(Cell(n.x), Cell(n.y), Cell(n.z)), index);
    ++m_count;
    return TRUE;
  }

 private:
  static constexpr Real kCell = 1e-6;
  // A slot keeps the index and a fingerprint of its cube; the normal itself is read from
  // the table when the fingerprint matches.
  struct Slot {
    ULONG print;
    LONG index;  // -1: empty
  };
  Bool Same(Real a, Real b) const { return m_tolerance > 0.0 ? std::fabs(a - b) < m_tolerance : a == b; }
  static LLONG Cell(Real v) {
    const Real scaled = std::floor(v / kCell);
    // Unit normals stay far inside; the clamp only keeps other input in the key's range
    // (a NaN, from points that are no numbers, takes the cube at zero).
    if (scaled != scaled) return 0;
    return scaled > 1048000.0 ? 1048000 : scaled < -1048000.0 ? -1048000 : LLONG(scaled);
  }
  static LULONG Key(LLONG x, LLONG y, LLONG z) {
    return (LULONG(x + 1048576) << 42) | (LULONG(y + 1048576) << 21) | LULONG(z + 1048576);
  }
  static LULONG Mix(LULONG key) { return (key * 0x9E3779B97F4A7C15ull) >> 20; }
  static ULONG Print(LULONG key) { return ULONG((key * 0xC2B2AE3D27D4EB4Full) >> 32); }
  // The probe sequence starts where the cube's key sends it; rehashing needs the key,
  // which the slot does not keep, so it is taken from the stored normal.
  void Insert(LULONG key, LONG index) {
    LULONG h = Mix(key);
    while (m_pSlots[h & m_mask].index >= 0) ++h;
    m_pSlots[h & m_mask] = Slot{Print(key), index};
  }
  Bool Grow(const ioUVW* table, LULONG size) {
    Slot* grown = bNew(Slot, VLONG(size));
    if (!grown) return FALSE;
    for (LULONG i = 0; i < size; ++i) grown[i].index = -1;
    Slot* old = m_pSlots;
    const LULONG oldSize = old ? m_mask + 1 : 0;
    m_pSlots = grown;
    m_mask = size - 1;
    for (LULONG i = 0; i < oldSize; ++i) {
      if (old[i].index < 0) continue;
      const ioUVW& n = table[old[i].index];
      Insert(Key(Cell(n.u), Cell(n.v), Cell(n.w)), old[i].index);
    }
    GeFree(old);
    return TRUE;
  }

  Slot* m_pSlots = nullptr;
  LULONG m_mask = 0;
  LULONG m_count = 0;
  Real m_tolerance;
};

void FreeNgonArrays(ioNgon& ngon) {
  GeFree(ngon.vertex);
  GeFree(ngon.uv);
  GeFree(ngon.normal);
}

}  // namespace

ioMesh* ioMesh::Alloc(PolygonObject* op, const String& name, LONG objectIndex, Bool combineGroups,
                      BaseMaterial* material, TextureTag* textureTag) {
  ioMesh* mesh = gNew ioMesh;
  if (!mesh) {
    ConsolePrintf("ioMesh::Alloc() - gNew ioMesh() failure");
    return nullptr;
  }
  mesh->name = SafeName(name.Content() || !op ? name : op->GetName());
  mesh->objectIndex = objectIndex;
  mesh->material = material;
  mesh->textureTag = textureTag;
  if (material) {
    mesh->hasMaterial = TRUE;
    mesh->defaultMaterialName = SafeName(material->GetName());
  } else {
    mesh->defaultMaterialName = "default_Mat";
  }
  const CHAR* failure = nullptr;
  if (!(mesh->groups = ioGroupList::Alloc()))
    failure = "ioMesh::Alloc() - ioGroupList::Alloc() failure";
  else if (!(mesh->regions = ioRegionList::Alloc()))
    failure = "ioMesh::Alloc() - ioRegionList::Alloc() failure";
  else if (!(mesh->materials = ioMaterialList::Alloc()))
    failure = "ioMesh::Alloc() - ioMaterialList::Alloc() failure";
  else if (!mesh->GetMeshInfo(op, combineGroups))
    failure = "ioMesh::Alloc() - GetMeshInfo() failure";
  if (failure) {
    ConsolePrintf("%s", failure);
    Free(mesh);
  }
  return mesh;
}

void ioMesh::Free(ioMesh*& mesh) { gDelete(mesh); }

ioMesh::~ioMesh() {
  if (ngons)
    for (ULONG i = 0; i < ngonCount; ++i) FreeNgonArrays(ngons[i]);
  GeFree(ngons);
  GeFree(faces);
  GeFree(normals);
  FreeUVTable();
  ioGroupList::Free(groups);
  ioRegionList::Free(regions);
  ioMaterialList::Free(materials);
}

void ioMesh::FreeUVTable() {
  GeFree(uvs);
  uvCount = 0;
  if (ownsUVTag) {
    BaseTag* tag = uvTag;
    BaseTag::Free(tag);
  }
  uvTag = nullptr;
  ownsUVTag = FALSE;
}

Bool ioMesh::GetMeshInfo(PolygonObject* op, Bool combineGroups) {
  if (!op) return FALSE;
  object = op;
  document = op->GetDocument();
  matrix = op->GetMg();
  pointCount = ULONG(op->GetPointCount());
  polygonCount = ULONG(op->GetPolygonCount());
  ngonCount = ULONG(op->GetNgonCount());
  polygonArray = op->GetPolygonR();
  pointArray = op->GetPointR();
  tableCapacity = polygonCount * 4 > pointCount ? polygonCount * 4 : pointCount;
  if (pointCount == 0) return FALSE;
  if (polygonCount > 0 && !(faces = bNew(ioFace, polygonCount))) return FALSE;

  // Which polygons a selection has already claimed, one byte per polygon and kind.
  UCHAR* claimed = polygonCount > 0 ? bNew(UCHAR, VLONG(polygonCount) * 3) : nullptr;
  if (polygonCount > 0 && !claimed) {
    MessageDialog(String("Mem: grp_pPolymask"));
    return FALSE;
  }

  // The object's own material: the last texture tag without a restriction, unless one
  // was given. It names the default material entry, which faces without a material take.
  if (!hasMaterial) {
    ForEachTextureTag(op, [this](TextureTag* tag) {
      if (RestrictionOf(tag).Content()) return;
      BaseMaterial* mat = tag->GetMaterial();
      if (!mat) return;
      material = mat;
      textureTag = tag;
      hasMaterial = TRUE;
      contentFlags |= IOMESH_HAS_MATERIALS;
      defaultMaterialName = SafeName(mat->GetName());
    });
  }
  Bool ok = groups->InitFromObject(document, op) && regions->InitFromObject(document, op);
  ioMaterial* defaultEntry = ok ? materials->FindOrAdd(material, defaultMaterialName) : nullptr;
  if (defaultEntry) {
    materials->MarkDefault(defaultEntry);
    defaultEntry->textureTag = textureTag;
  }
  ok = ok && defaultEntry && AssignSelections(combineGroups, claimed, claimed + polygonCount,
                                               claimed + 2 * VLONG(polygonCount));
  if (!ok) {
    GeFree(claimed);
    return FALSE;
  }

  ioGroup* defaultGroup = groups->First();
  ioRegion* defaultRegion = regions->First();
  for (ULONG i = 0; i < polygonCount; ++i) {
    const CPolygon& p = polygonArray[i];
    ioFace& face = faces[i];
    face.v[0] = p.a;
    face.v[1] = p.b;
    face.v[2] = p.c;
    face.v[3] = p.d;
    face.cornerCount = p.c != p.d ? 4 : 3;
    face.flags = 0;
    face.ngon = 0;
    face.reserved = 0;
    face.meshObj = objectIndex;
    face.sequence = LONG(i);
    if (!claimed[i]) {
      face.material = 0;
      ++defaultEntry->faceCount;
    }
    if (!claimed[polygonCount + i]) {
      face.group = 0;
      ++defaultGroup->faceCount;
    }
    if (!claimed[2 * VLONG(polygonCount) + i]) {
      face.region = 0;
      ++defaultRegion->faceCount;
    }
  }
  GeFree(claimed);

  if (!groups->SetFaceIndices(faces, polygonCount)) {
    MessageDialog(String("Mem: m_pGrpList->pFaceIndices"));
    return FALSE;
  }
  if (!regions->SetFaceIndices(faces, polygonCount)) {
    MessageDialog(String("Mem: m_pRgnList->pFaceIndices"));
    return FALSE;
  }
  if (!materials->SetFaceIndices(faces, polygonCount)) {
    MessageDialog(String("Mem: m_pMatList->pFaceIndices"));
    return FALSE;
  }
  return TRUE;
}

Bool ioMesh::AssignSelections(Bool combineGroups, UCHAR* claimedMaterial, UCHAR* claimedGroup, UCHAR* claimedRegion) {
  meshHash* restricted = meshHash::Create();
  if (!restricted) {
    MessageDialog(String("Mem: pTagHash"));
    return FALSE;
  }
  Bool ok = TRUE;
  ForEachTextureTag(object, [&](TextureTag* tag) {
    const String restriction = RestrictionOf(tag);
    if (ok && restriction.Content() && !restricted->AddEntry(restriction, tag)) ok = FALSE;
  });

  for (BaseTag* tag = object->GetFirstTag(); ok && tag; tag = tag->GetNext()) {
    if (tag->GetType() != Tpolygonselection || !tag->GetName().Content()) continue;
    const SelectionTag* selection = static_cast<SelectionTag*>(tag);
    const String selectionName = SafeName(tag->GetName());
    const meshHash::Entry* textured = restricted->Find(tag->GetName());
    const Bool isGroup = groups->IsKnownName(selectionName);
    const Bool isRegion = regions->IsKnownName(selectionName);
    if (!textured && !isGroup && !isRegion) continue;

    if (textured) {
      TextureTag* texture = static_cast<TextureTag*>(textured->value);
      BaseMaterial* mat = texture->GetMaterial();
      ioMaterial* entry = nullptr;
      ForEachSelected(selection, polygonCount, [&](ULONG i) {
        if (!ok || claimedMaterial[i]) return;
        if (!entry) {
          contentFlags |= IOMESH_HAS_MATERIALS;
          entry = materials->FindOrAdd(mat, mat ? SafeName(mat->GetName()) : selectionName);
          if (!entry) {
            ok = FALSE;
            return;
          }
          if (!entry->textureTag) entry->textureTag = texture;
        }
        faces[i].material = entry->index;
        claimedMaterial[i] = 1;
        ++entry->faceCount;
      });
    }
    if (isGroup) {
      ioGroup* group = nullptr;
      ForEachSelected(selection, polygonCount, [&](ULONG i) {
        if (!ok) return;
        if (!claimedGroup[i]) {
          if (!group) {
            contentFlags |= IOMESH_HAS_GROUPS;
            if (!(group = groups->FindOrAdd(selectionName, FALSE))) {
              ok = FALSE;
              return;
            }
          }
          faces[i].group = group->index;
          claimedGroup[i] = 1;
          ++group->faceCount;
        } else if (combineGroups) {
          ioGroup* old = groups->FindByIndex(faces[i].group);
          const String combinedName = old->name + String(" ") + selectionName;
          ioGroup* combined = groups->FindOrAdd(combinedName, FALSE);
          if (!combined || !groups->AddKnownName(combinedName)) {
            ok = FALSE;
            return;
          }
          if (combined == old) return;
          if (old->faceCount > 0) --old->faceCount;
          ++combined->faceCount;
          faces[i].group = combined->index;
        }
      });
    }
    if (isRegion) {
      ioRegion* region = nullptr;
      ForEachSelected(selection, polygonCount, [&](ULONG i) {
        if (!ok || claimedRegion[i]) return;
        if (!region) {
          contentFlags |= IOMESH_HAS_REGIONS;
          if (!(region = regions->FindOrAdd(selectionName))) {
            ok = FALSE;
            return;
          }
        }
        faces[i].region = region->index;
        claimedRegion[i] = 1;
        ++region->faceCount;
      });
    }
  }
  meshHash::Destroy(&restricted);
  return ok;
}

Bool ioMesh::BuildNormals(Bool compress) {
  if (!object || (!faces && polygonCount > 0)) return FALSE;
  GeFree(normals);
  normalCount = 0;

  // Four corner normals per polygon: the host's smoothed normals, else per point the
  // average of the normals of the polygons around it.
  // A normal tag of the object's size is read in place rather than copied.
  const NormalTag* normalTag = static_cast<const NormalTag*>(object->GetTag(Tnormal));
  ConstNormalHandle tagData =
      normalTag && normalTag->GetDataCount() == LONG(polygonCount) ? normalTag->GetDataAddressR() : nullptr;
  SVector* corners = tagData ? nullptr : object->CreatePhongNormals();
  if (!tagData && !corners && polygonCount > 0) {
    Neighbor neighbor;
    if (!neighbor.Init(LONG(pointCount), polygonArray, LONG(polygonCount))) return FALSE;
    // Vectors are plain doubles: zero-filled blocks are zero vectors.
    Vector* faceNormals = static_cast<Vector*>(GeAlloc(sizeof(Vector) * VLONG(polygonCount)));
    Vector* pointNormals = faceNormals ? static_cast<Vector*>(GeAlloc(sizeof(Vector) * VLONG(pointCount))) : nullptr;
    corners = pointNormals ? static_cast<SVector*>(GeAlloc(sizeof(SVector) * 4 * VLONG(polygonCount))) : nullptr;
    if (corners) {
      for (ULONG i = 0; i < polygonCount; ++i) {
        const CPolygon& p = polygonArray[i];
        faceNormals[i] = (pointArray[p.c] - pointArray[p.a]) % (pointArray[p.d] - pointArray[p.b]);
        const Real len = Len(faceNormals[i]);
        if (len > 0.0) faceNormals[i] = faceNormals[i] * (1.0 / len);
      }
      for (ULONG pt = 0; pt < pointCount; ++pt) {
        LONG* around = nullptr;
        LONG count = 0;
        neighbor.GetPointPolys(LONG(pt), &around, &count);
        Vector sum;
        for (LONG k = 0; k < count; ++k) sum = sum + faceNormals[around[k]];
        pointNormals[pt] = sum;
      }
      for (ULONG i = 0; i < polygonCount; ++i) {
        const CPolygon& p = polygonArray[i];
        const LONG corner[4] = {p.a, p.b, p.c, p.d};
        for (LONG k = 0; k < 4; ++k) {
          const Vector& n = pointNormals[corner[k]];
          corners[4 * i + k] = SVector{SReal(n.x), SReal(n.y), SReal(n.z)};
        }
      }
    }
    GeFree(pointNormals);
    GeFree(faceNormals);
  }
  if (!tagData && !corners) return FALSE;

  normals = bNew(ioUVW, tableCapacity);
  if (!normals) {
    GeFree(corners);
    ReportMemoryError("no Normal Vertices");
    return FALSE;
  }
  NormalIndex shared(exactSharing ? 0.0 : NormStorage::NORM_TOLERANCE, compress ? pointCount : 0);
  // The entry each point's corners took last, compared first (see BakeUVs).
  LONG* lastOfPoint = compress ? bNew(LONG, pointCount) : nullptr;
  if (lastOfPoint)
    for (ULONG p = 0; p < pointCount; ++p) lastOfPoint[p] = -1;
  Bool ok = TRUE;
  for (ULONG i = 0; ok && i < polygonCount; ++i) {
    ioFace& face = faces[i];
    Vector polygonNormals[4];
    if (tagData) {
      NormalStruct ns;
      NormalTag::Get(tagData, LONG(i), ns);
      polygonNormals[0] = ns.a;
      polygonNormals[1] = ns.b;
      polygonNormals[2] = ns.c;
      polygonNormals[3] = ns.d;
    } else {
      for (LONG k = 0; k < 4; ++k) {
        const SVector& s = corners[4 * i + k];
        polygonNormals[k] = Vector(s.x, s.y, s.z);
      }
    }
    for (LONG k = 0; k < face.cornerCount; ++k) {
      Vector n = polygonNormals[k];
      const Real len = Len(n);
      if (len != 0.0) n = n * (1.0 / len);
      LONG* last = lastOfPoint && ULONG(face.v[k]) < pointCount ? &lastOfPoint[face.v[k]] : nullptr;
      LONG index = -1;
      if (last && *last >= 0 && shared.Matches(normals[*last], n)) index = *last;
      else if (compress) index = shared.Find(normals, n);
      if (index < 0) {
        index = LONG(normalCount);
        normals[normalCount++] = ioUVW{n.x, n.y, n.z};
        if (compress && !shared.Add(normals, n, index)) ok = FALSE;
      }
      if (last) *last = index;
      face.vn[k] = index;
    }
    if (face.cornerCount == 3) face.vn[3] = face.vn[2];
  }
  GeFree(lastOfPoint);
  GeFree(corners);
  if (!ok) {
    GeFree(normals);
    normalCount = 0;
    ReportMemoryError("no Normal Vertices");
  }
  return ok;
}

Bool ioMesh::BuildNgons() {
  if (!object || !faces || ngonCount == 0) return FALSE;
  Pgon* outlines = object->GetAndBuildNgon();
  if (!outlines) {
    ConsolePrintf("Kelvane Error: GetAndBuildNgon() failed");
    return FALSE;
  }
  ngons = bNew(ioNgon, ngonCount);
  if (!ngons) {
    ReportMemoryError("no ioNgon");
    return FALSE;
  }
  Bool all = TRUE;
  for (ULONG i = 0; i < ngonCount; ++i) {
    const Pgon& pgon = outlines[i];
    // An outline with holes has no single face line; its polygons stay separate.
    if (pgon.GetSegmentCount() != 1) {
      all = FALSE;
      continue;
    }
    const LONG corners = pgon.GetOutlineCount();
    ioNgon& ngon = ngons[i];
    ngon.vertex = bNew(LONG, corners + 2);
    ngon.uv = bNew(LONG, corners + 2);
    ngon.normal = bNew(LONG, corners + 2);
    if (!ngon.vertex || !ngon.uv || !ngon.normal) {
      FreeNgonArrays(ngon);
      return FALSE;
    }
    LONG stored = 0;
    auto append = [&](const ioFace& face, LONG corner) {
      ngon.vertex[stored] = face.v[corner];
      ngon.uv[stored] = face.vt[corner];
      ngon.normal[stored] = face.vn[corner];
      ++stored;
    };
    for (LONG e = 0; e < pgon.GetCount(); ++e) {
      const PgonEdge* edge = pgon.GetEdge(e);
      const LONG p = edge->GetPolygon();
      if (p < 0 || ULONG(p) >= polygonCount) continue;
      ioFace& face = faces[p];
      // Inner edges mark the members that touch no outline, so that none of them is
      // written a second time on its own.
      face.flags |= FACE_NGON_MEMBER;
      face.ngon = LONG(i);
      if (!edge->IsOutline() || stored >= corners) continue;
      const LONG side = edge->GetSide() & 3;
      if (stored == 0) append(face, side);
      if (stored < corners) append(face, (side + 1) & 3);
    }
    ngon.cornerCount = stored;
    ngon.written = 0;
  }
  return all;
}
