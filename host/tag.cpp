// Tags: creation by type, variable tag data, UVW and normal access, selection tags and
// texture tags.
#include <cstring>

#include "c4d_memory.h"
#include "host_internal.h"
#include "scene_internal.h"

namespace {

// UVW and normal tags keep twelve floats per polygon: a, b, c, d with x, y, z each.
void ReadCorners(const void* data, LONG i, Vector* corners) {
  const SReal* f = static_cast<const SReal*>(data) + 12 * static_cast<VLONG>(i);
  for (int k = 0; k < 4; ++k) corners[k] = Vector(f[3 * k], f[3 * k + 1], f[3 * k + 2]);
}

void WriteCorners(void* data, LONG i, const Vector* corners) {
  SReal* f = static_cast<SReal*>(data) + 12 * static_cast<VLONG>(i);
  for (int k = 0; k < 4; ++k) {
    f[3 * k] = static_cast<SReal>(corners[k].x);
    f[3 * k + 1] = static_cast<SReal>(corners[k].y);
    f[3 * k + 2] = static_cast<SReal>(corners[k].z);
  }
}

}  // namespace

BaseTag* NodeAccess::MakeTag(LONG type, bool allowMissing) {
  BaseTag* tag = nullptr;
  const BasePlugin* plugin = nullptr;
  switch (type) {
    case Tpoint:
    case Tpolygon:
    case Tsegment:
      tag = gNew VariableTag(type, VariableTag::EntrySize(type));
      break;
    case Tuvw:
      tag = gNew UVWTag;
      break;
    case Tnormal:
      tag = gNew NormalTag;
      break;
    case Tpolygonselection:
    case Tpointselection: {
      SelectionTag* selection = gNew SelectionTag(type);
      if (!selection) return nullptr;
      selection->m_pSelect = BaseSelect::Alloc();
      if (!selection->m_pSelect) {
        Destroy(selection);
        return nullptr;
      }
      tag = selection;
      break;
    }
    case Ttexture:
      tag = gNew TextureTag;
      break;
    case Tphong:
      tag = gNew BaseTag(Tphong);
      if (tag) {
        tag->GetDataInstance()->SetBool(PHONGTAG_PHONG_ANGLELIMIT, FALSE);
        tag->GetDataInstance()->SetReal(PHONGTAG_PHONG_ANGLE, Rad(80.0));
        tag->GetDataInstance()->SetBool(PHONGTAG_PHONG_USEEDGES, TRUE);
      }
      break;
    default:
      plugin = FindPlugin(type, PLUGINTYPE_TAG);
      if ((!plugin && !allowMissing) || type <= 0) return nullptr;
      tag = gNew BaseTag(type);
      break;
  }
  if (tag && plugin && !AttachPlugin(tag, PLUGINTYPE_TAG)) {
    Destroy(tag);
    return nullptr;
  }
  return tag;
}

// --- BaseTag --------------------------------------------------------------------------

BaseTag* BaseTag::Alloc(LONG type) { return NodeAccess::MakeTag(type, false); }

void BaseTag::Free(BaseTag*& tag) {
  NodeAccess::Destroy(tag);
  tag = nullptr;
}

BaseObject* BaseTag::GetObject() const {
  const GeListHead* head = GetListHead();
  GeListNode* owner = head ? head->GetMain() : nullptr;
  return (owner && owner->GetClassification() == Obase) ? static_cast<BaseObject*>(owner) : nullptr;
}

BaseList2D* BaseTag::MakeEmpty() const { return NodeAccess::MakeTag(GetType(), true); }

// --- VariableTag ----------------------------------------------------------------------

LONG VariableTag::EntrySize(LONG type) {
  switch (type) {
    case Tpoint: return static_cast<LONG>(sizeof(Vector));
    case Tpolygon: return static_cast<LONG>(sizeof(CPolygon));
    case Tsegment: return static_cast<LONG>(sizeof(Segment));
    case Tuvw:
    case Tnormal: return static_cast<LONG>(12 * sizeof(SReal));
    default: return 0;
  }
}

VariableTag* VariableTag::Alloc(LONG type, LONG count) {
  if (EntrySize(type) == 0 || count < 0) return nullptr;
  auto* tag = static_cast<VariableTag*>(NodeAccess::MakeTag(type, false));
  if (tag && !tag->Resize(count)) NodeAccess::Destroy(tag), tag = nullptr;
  return tag;
}

VariableTag::~VariableTag() { GeFree(m_pData); }

bool NodeAccess::ReserveTag(VariableTag* tag, LONG count) {
  if (count < 0) return false;
  if (count <= tag->m_capacity) return true;
  void* data = GeRealloc(tag->m_pData, static_cast<VLONG>(count) * tag->m_entrySize);
  if (!data) return false;
  tag->m_pData = data;
  tag->m_capacity = count;
  return true;
}

Bool VariableTag::Resize(LONG count) {
  if (!NodeAccess::ReserveTag(this, count)) return FALSE;
  // Entries a shrink left behind may hold old values: those a growth takes back are
  // cleared. Entries never handed out come zeroed from the allocator; leaving them
  // untouched spares a pass over memory that may not even be mapped yet (also when the
  // room was reserved beforehand).
  const LONG stale = count < m_used ? count : m_used;
  if (stale > m_count)
    std::memset(static_cast<char*>(m_pData) + static_cast<VLONG>(m_count) * m_entrySize, 0,
                static_cast<size_t>(stale - m_count) * static_cast<size_t>(m_entrySize));
  m_count = count;
  if (count > m_used) m_used = count;
  return TRUE;
}

BaseList2D* VariableTag::MakeEmpty() const { return NodeAccess::MakeTag(GetType(), true); }

Bool VariableTag::CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const {
  if (!BaseTag::CopyContentTo(dst, flags, trn)) return FALSE;
  auto* tag = static_cast<VariableTag*>(dst);
  if (!tag->Resize(m_count)) return FALSE;
  if (m_count > 0) std::memcpy(tag->m_pData, m_pData, static_cast<size_t>(m_count) * static_cast<size_t>(m_entrySize));
  return TRUE;
}

void VariableTag::SwapContent(BaseList2D* other) {
  BaseTag::SwapContent(other);
  auto* tag = static_cast<VariableTag*>(other);
  std::swap(m_pData, tag->m_pData);
  std::swap(m_count, tag->m_count);
  std::swap(m_capacity, tag->m_capacity);
  std::swap(m_used, tag->m_used);
}

// --- UVWTag, NormalTag --------------------------------------------------------------------

UVWTag* UVWTag::Alloc(LONG count) { return static_cast<UVWTag*>(VariableTag::Alloc(Tuvw, count)); }

BaseList2D* UVWTag::MakeEmpty() const { return gNew UVWTag; }

void UVWTag::Get(ConstUVWHandle dataptr, LONG i, UVWStruct& res) { ReadCorners(dataptr, i, &res.a); }

void UVWTag::Set(UVWHandle dataptr, LONG i, const UVWStruct& s) { WriteCorners(dataptr, i, &s.a); }

UVWStruct UVWTag::GetSlow(LONG i) const {
  UVWStruct s;
  if (i >= 0 && i < GetDataCount()) Get(GetDataAddressR(), i, s);
  return s;
}

void UVWTag::SetSlow(LONG i, const UVWStruct& s) {
  if (i >= 0 && i < GetDataCount()) Set(GetDataAddressW(), i, s);
}

NormalTag* NormalTag::Alloc(LONG count) { return static_cast<NormalTag*>(VariableTag::Alloc(Tnormal, count)); }

BaseList2D* NormalTag::MakeEmpty() const { return gNew NormalTag; }

void NormalTag::Get(ConstNormalHandle dataptr, LONG i, NormalStruct& res) { ReadCorners(dataptr, i, &res.a); }

void NormalTag::Set(NormalHandle dataptr, LONG i, const NormalStruct& s) { WriteCorners(dataptr, i, &s.a); }

// --- SelectionTag ---------------------------------------------------------------------

SelectionTag* SelectionTag::Alloc(LONG type) {
  if (type != Tpolygonselection && type != Tpointselection) return nullptr;
  return static_cast<SelectionTag*>(NodeAccess::MakeTag(type, false));
}

SelectionTag::~SelectionTag() { BaseSelect::Free(m_pSelect); }

BaseList2D* SelectionTag::MakeEmpty() const { return NodeAccess::MakeTag(GetType(), true); }

Bool SelectionTag::CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const {
  return BaseTag::CopyContentTo(dst, flags, trn) && m_pSelect->CopyTo(static_cast<SelectionTag*>(dst)->m_pSelect);
}

void SelectionTag::SwapContent(BaseList2D* other) {
  BaseTag::SwapContent(other);
  std::swap(m_pSelect, static_cast<SelectionTag*>(other)->m_pSelect);
}

// --- TextureTag -----------------------------------------------------------------------

TextureTag::TextureTag() : BaseTag(Ttexture) {
  BaseContainer* bc = GetDataInstance();
  bc->SetReal(TEXTURETAG_OFFSETX, 0.0);
  bc->SetReal(TEXTURETAG_OFFSETY, 0.0);
  bc->SetReal(TEXTURETAG_LENGTHX, 1.0);
  bc->SetReal(TEXTURETAG_LENGTHY, 1.0);
  bc->SetLong(TEXTURETAG_PROJECTION, TEXTURETAG_PROJECTION_UVW);
  bc->SetBool(TEXTURETAG_TILE, TRUE);
  bc->SetString(TEXTURETAG_RESTRICTION, String());
  bc->SetLink(TEXTURETAG_MATERIAL, nullptr);
  bc->SetVector(TEXTURETAG_POSITION, Vector());
  bc->SetVector(TEXTURETAG_SIZE, Vector(100, 100, 100));
  bc->SetVector(TEXTURETAG_ROTATION, Vector());
}

TextureTag* TextureTag::Alloc() { return static_cast<TextureTag*>(NodeAccess::MakeTag(Ttexture, false)); }

BaseList2D* TextureTag::MakeEmpty() const { return gNew TextureTag; }

void TextureTag::SetMaterial(BaseMaterial* mat) { GetDataInstance()->SetLink(TEXTURETAG_MATERIAL, mat); }

BaseMaterial* TextureTag::GetMaterial(Bool ignoredoc) const {
  const BaseDocument* doc = ignoredoc ? nullptr : GetDocument();
  return static_cast<BaseMaterial*>(GetDataInstance()->GetLink(TEXTURETAG_MATERIAL, doc, Mbase));
}

// The placement: position, then rotation, with the size as the lengths of the axes.
Matrix TextureTag::GetMl() const {
  const BaseContainer* bc = GetDataInstance();
  Matrix m = HPBToMatrix(bc->GetVector(TEXTURETAG_ROTATION));
  const Vector size = bc->GetVector(TEXTURETAG_SIZE, Vector(100, 100, 100));
  m.v1 = m.v1 * size.x;
  m.v2 = m.v2 * size.y;
  m.v3 = m.v3 * size.z;
  m.off = bc->GetVector(TEXTURETAG_POSITION);
  return m;
}

void TextureTag::SetMl(const Matrix& m) {
  BaseContainer* bc = GetDataInstance();
  bc->SetVector(TEXTURETAG_POSITION, m.off);
  bc->SetVector(TEXTURETAG_SIZE, Vector(Len(m.v1), Len(m.v2), Len(m.v3)));
  bc->SetVector(TEXTURETAG_ROTATION, MatrixToHPB(m));
}
