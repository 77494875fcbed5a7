#include "uvndxhash.h"

#include <cmath>
#include <cstring>

#include "compat.h"
#include "iomesh.h"
#include "namehash.h"

// --- the hash --------------------------------------------------------------------------

uvIndexHash* uvIndexHash::Create(ULONG factor, ULONG expected) {
  uvIndexHash* hash = gNew uvIndexHash;
  if (!hash) return nullptr;
  hash->m_factor = factor;
  // Sized at once up to a few million entries; a larger table grows as it fills, so that
  // a poor guess cannot make the creation fail.
  LULONG slots = 1024;
  while (slots < LULONG(expected) * 2 && slots < (LULONG(1) << 23)) slots *= 2;
  if (!hash->Grow(slots) && !hash->Grow(1024)) Destroy(hash);
  return hash;
}

void uvIndexHash::Destroy(uvIndexHash*& hash) { gDelete(hash); }

uvIndexHash::~uvIndexHash() { GeFree(m_pSlots); }

void uvIndexHash::Key(Real u, Real v, ULONG* ku, ULONG* kv) const {
  if (m_factor == 0) {
    const SReal su = SReal(u), sv = SReal(v);
    std::memcpy(ku, &su, sizeof(su));
    std::memcpy(kv, &sv, sizeof(sv));
    return;
  }
  // Truncation toward zero to a 32-bit integer; out-of-range products saturate.
  auto quantise = [this](Real t) -> ULONG {
    const Real q = t * Real(m_factor);
    LONG n = 0;
    if (q >= 2147483647.0) n = 2147483647;
    else if (q <= -2147483648.0) n = LONG(-2147483647 - 1);
    else if (q == q) n = LONG(q);
    return ULONG(n);
  };
  *ku = quantise(u);
  *kv = quantise(v);
}

Bool uvIndexHash::Grow(LULONG slots) {
  Slot* grown = bNew(Slot, VLONG(slots));
  if (!grown) return FALSE;
  for (LULONG i = 0; i < slots; ++i) grown[i].index = -1;
  const LULONG mask = slots - 1;
  for (LULONG i = 0; m_pSlots && i <= m_mask; ++i) {
    if (m_pSlots[i].index < 0) continue;
    LULONG h = Hash(m_pSlots[i].u, m_pSlots[i].v);
    while (grown[h & mask].index >= 0) ++h;
    grown[h & mask] = m_pSlots[i];
  }
  GeFree(m_pSlots);
  m_pSlots = grown;
  m_mask = mask;
  return TRUE;
}

LONG uvIndexHash::FindOrAdd(Real u, Real v, Real /*w*/, LONG nextIndex) {
  ULONG ku = 0, kv = 0;
  Key(u, v, &ku, &kv);
  // Keep at most half the slots used, so probes stay short.
  if (LULONG(m_count + 1) * 2 > m_mask + 1 && !Grow((m_mask + 1) * 2)) {
    // Without room to store, a lookup still finds what is there.
    for (LULONG h = Hash(ku, kv);; ++h) {
      const Slot& slot = m_pSlots[h & m_mask];
      if (slot.index < 0) return nextIndex;
      if (slot.u == ku && slot.v == kv) return slot.index;
    }
  }
  for (LULONG h = Hash(ku, kv);; ++h) {
    Slot& slot = m_pSlots[h & m_mask];
    if (slot.index < 0) {
      slot = Slot{ku, kv, nextIndex};
      ++m_count;
      return nextIndex;
    }
    if (slot.u == ku && slot.v == kv) return slot.index;
  }
}

// --- the baked coordinates ---------------------------------------------------------------

namespace {

void FreeTag(UVWTag*& tag) {
  BaseTag* base = tag;
  BaseTag::Free(base);
  tag = nullptr;
}

// Five decimals, rounding half up.
Real FiveDecimals(Real t) { return std::floor(t * 100000.0 + 0.5) / 100000.0; }

// A flat projection of op's points onto its global x-y plane, the bounding box mapped to
// 0..1 (boxes beyond +-100000 are clipped there).
UVWTag* FlatProjection(PolygonObject* op) {
  const LONG polygonCount = op->GetPolygonCount();
  UVWTag* tag = UVWTag::Alloc(polygonCount);
  if (!tag) return nullptr;
  const Matrix mg = op->GetMg();
  const Vector* points = op->GetPointR();
  const LONG pointCount = op->GetPointCount();
  Real xmin = 100000.0, ymin = 100000.0, xmax = -100000.0, ymax = -100000.0;
  for (LONG i = 0; i < pointCount; ++i) {
    const Vector g = mg * points[i];
    if (g.x < xmin) xmin = g.x;
    if (g.x > xmax) xmax = g.x;
    if (g.y < ymin) ymin = g.y;
    if (g.y > ymax) ymax = g.y;
  }
  const Real cx = (xmin + xmax) * 0.5, cy = (ymin + ymax) * 0.5;
  const Real ix = xmax != xmin ? 1.0 / std::fabs(xmax - xmin) : 0.0;
  const Real iy = ymax != ymin ? 1.0 / std::fabs(ymax - ymin) : 0.0;
  const CPolygon* polygons = op->GetPolygonR();
  UVWHandle handle = tag->GetDataAddressW();
  auto corner = [&](LONG point) {
    const Vector& p = points[point];
    return Vector(FiveDecimals((mg.off.x + p.x - cx) * ix + 0.5), FiveDecimals(0.5 - (mg.off.y + p.y - cy) * iy),
                  0.0);
  };
  for (LONG i = 0; i < polygonCount; ++i) {
    const CPolygon& p = polygons[i];
    UVWTag::Set(handle, i, UVWStruct{corner(p.a), corner(p.b), corner(p.c), corner(p.d)});
  }
  return tag;
}

UVWTag* CopyOf(const UVWTag* base, LONG polygonCount) {
  UVWTag* copy = UVWTag::Alloc(polygonCount);
  if (!copy) return nullptr;
  ConstUVWHandle from = base->GetDataAddressR();
  UVWHandle to = copy->GetDataAddressW();
  UVWStruct uvw;
  for (LONG i = 0; i < polygonCount; ++i) {
    UVWTag::Get(from, i, uvw);
    UVWTag::Set(to, i, uvw);
  }
  return copy;
}

}  // namespace

UVWTag* BakeTextureProjections(PolygonObject* op, Bool* owned) {
  *owned = FALSE;
  const LONG polygonCount = op->GetPolygonCount();
  UVWTag* base = static_cast<UVWTag*>(op->GetTag(Tuvw));
  if (base && base->GetDataCount() < polygonCount) base = nullptr;  // a tag of another mesh
  Bool baseOwned = FALSE;
  if (!base) {
    if (!(base = FlatProjection(op))) return nullptr;
    baseOwned = TRUE;
  }
  nameMap<SelectionTag>* selections = nameMap<SelectionTag>::Create();
  if (!selections) {
    if (baseOwned) FreeTag(base);
    return nullptr;
  }
  for (BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext())
    if (tag->GetType() == Tpolygonselection && tag->GetName().Content())
      selections->AddEntry(tag->GetName(), static_cast<SelectionTag*>(tag));

  // The result starts as the base; it is copied only once a texture tag changes it.
  UVWTag* result = base;
  Bool resultOwned = baseOwned;
  Bool failed = FALSE;
  const Matrix mg = op->GetMg();
  for (BaseTag* t = op->GetFirstTag(); t && !failed; t = t->GetNext()) {
    if (t->GetType() != Ttexture) continue;
    TextureTag* texture = static_cast<TextureTag*>(t);
    const BaseContainer* data = texture->GetDataInstance();
    const String restriction = data->GetString(TEXTURETAG_RESTRICTION);
    const SelectionTag* selection = nullptr;
    if (restriction.Content()) {
      const nameMap<SelectionTag>::Entry* entry = selections->Find(restriction);
      if (!entry) continue;  // restricted to a selection the object does not have
      selection = entry->value;
    }
    const Real lengthX = data->GetReal(TEXTURETAG_LENGTHX, 1.0), lengthY = data->GetReal(TEXTURETAG_LENGTHY, 1.0);
    const Real su = lengthX != 0.0 ? 1.0 / lengthX : 1.0, sv = lengthY != 0.0 ? 1.0 / lengthY : 1.0;
    const Real ou = -data->GetReal(TEXTURETAG_OFFSETX) * su, ov = -data->GetReal(TEXTURETAG_OFFSETY) * sv;
    // A UVW projection shows the base coordinates; the others are the host's.
    UVWTag* projected = nullptr;
    if (data->GetLong(TEXTURETAG_PROJECTION) != TEXTURETAG_PROJECTION_UVW)
      projected = GenerateUVW(op, mg, texture, mg);
    if (!projected && su == 1.0 && sv == 1.0 && ou == 0.0 && ov == 0.0) continue;  // changes nothing
    if (!resultOwned) {
      if (!(result = CopyOf(base, polygonCount))) {
        failed = TRUE;
      } else {
        resultOwned = TRUE;
      }
    }
    if (!failed) {
      const UVWTag* source = projected ? projected : base;
      ConstUVWHandle from = source->GetDataAddressR();
      UVWHandle to = result->GetDataAddressW();
      const LONG sourceCount = source->GetDataCount();
      auto apply = [&](LONG i) {
        if (i >= polygonCount || i >= sourceCount) return;
        UVWStruct uvw;
        UVWTag::Get(from, i, uvw);
        for (Vector* c : {&uvw.a, &uvw.b, &uvw.c, &uvw.d}) {
          c->x = c->x * su + ou;
          c->y = c->y * sv + ov;
        }
        UVWTag::Set(to, i, uvw);
      };
      if (selection) {
        const BaseSelect* bs = selection->GetBaseSelect();
        LONG a = 0, b = 0;
        for (LONG seg = 0; bs && bs->GetRange(seg, polygonCount, &a, &b); ++seg)
          for (LONG i = a; i <= b; ++i) apply(i);
      } else {
        for (LONG i = 0; i < polygonCount; ++i) apply(i);
      }
    }
    if (projected) FreeTag(projected);
  }
  nameMap<SelectionTag>::Destroy(&selections);
  if (baseOwned && result != base) FreeTag(base);
  if (failed) {
    if (resultOwned) FreeTag(result);
    return nullptr;
  }
  *owned = resultOwned;
  return result;
}

Bool ioMesh::BakeUVs(Bool compress) {
  FreeUVTable();
  if (!object || (!faces && polygonCount > 0)) return FALSE;
  uvs = bNew(ioUVW, tableCapacity);
  if (!uvs) {
    ReportMemoryError("no Texture Vertices");
    return FALSE;
  }
  LONG started = GeGetTimer();
  uvTag = BakeTextureProjections(object, &ownsUVTag);
  ReportElapsed("BakeUVs()", Real(GeGetTimer() - started));
  if (!uvTag) {
    ReportMemoryError("no uvTag");
    return FALSE;
  }
  ConstUVWHandle handle = uvTag->GetDataAddressR();
  if (!handle && polygonCount > 0) {
    ReportMemoryError("no UVWHndl");
    return FALSE;
  }
  started = GeGetTimer();
  uvIndexHash* hash = nullptr;
  // Most meshes have about one texture coordinate per point.
  if (compress && !(hash = uvIndexHash::Create(exactSharing ? 0 : 10000, pointCount)))
    ConsolePrintf("uvHasher Allocation ERROR");
  // The entry each point's corners took last: a point's corners mostly share theirs, so
  // comparing with it first spares most lookups (an entry found so is the one the hash
  // holds for those coordinates).
  LONG* lastOfPoint = hash ? bNew(LONG, pointCount) : nullptr;
  if (lastOfPoint)
    for (ULONG p = 0; p < pointCount; ++p) lastOfPoint[p] = -1;
  UVWStruct uvw;
  for (ULONG i = 0; i < polygonCount; ++i) {
    UVWTag::Get(handle, LONG(i), uvw);
    ioFace& face = faces[i];
    const Vector* corner[4] = {&uvw.a, &uvw.b, &uvw.c, &uvw.d};
    for (LONG k = 0; k < face.cornerCount; ++k) {
      const Real u = corner[k]->x, v = corner[k]->y;
      LONG index = LONG(uvCount);
      LONG* last = lastOfPoint && ULONG(face.v[k]) < pointCount ? &lastOfPoint[face.v[k]] : nullptr;
      if (last && *last >= 0 && hash->SameEntry(u, v, uvs[*last].u, uvs[*last].v)) {
        index = *last;
      } else {
        if (hash) index = hash->FindOrAdd(u, v, 0.0, index);
        if (index == LONG(uvCount)) uvs[uvCount++] = ioUVW{u, v, 0.0};
        if (last) *last = index;
      }
      face.vt[k] = index;
    }
    // A triangle's fourth corner is its third, for every reader of the indices.
    if (face.cornerCount == 3) face.vt[3] = face.vt[2];
  }
  GeFree(lastOfPoint);
  if (hash) {
    uvIndexHash::Destroy(hash);
    ReportElapsed("CompressUVs()", Real(GeGetTimer() - started));
  }
  return TRUE;
}
