// List links, named nodes, parameters, layers, node numbers and link translation.
#include <mutex>
#include <unordered_map>
#include <vector>

#include "c4d_memory.h"
#include "host_internal.h"
#include "scene_internal.h"

// --- node numbers ---------------------------------------------------------------------

namespace {

struct NodeRegistry {
  std::mutex mutex;
  std::unordered_map<LLONG, BaseList2D*> nodes;
  LLONG next = 1;
};

// Never destroyed: nodes may be freed by static destructors at exit.
NodeRegistry& Registry() {
  static NodeRegistry* registry = new NodeRegistry;
  return *registry;
}

bool IsHead(const GeListNode* node) { return node && node->GetClassification() == GeListHeadType; }

}  // namespace

namespace host::internal {

LLONG RegisterNode(BaseList2D* node) {
  NodeRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const LLONG serial = r.next++;
  r.nodes.emplace(serial, node);
  return serial;
}

void UnregisterNode(LLONG serial) {
  NodeRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.nodes.erase(serial);
}

BaseList2D* FindNode(LLONG serial) {
  if (serial <= 0) return nullptr;
  NodeRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const auto it = r.nodes.find(serial);
  return it == r.nodes.end() ? nullptr : it->second;
}

LLONG NodeSerial(const BaseList2D* node) { return NodeAccess::Serial(node); }

}  // namespace host::internal

// --- GeListNode -----------------------------------------------------------------------

GeListNode::GeListNode(LONG type, LONG classification) : m_type(type), m_classification(classification) {}

GeListNode::~GeListNode() {
  while (m_pDown) NodeAccess::Destroy(m_pDown);
}

GeListNode* GeListNode::GetUp() const { return IsHead(m_pParent) ? nullptr : m_pParent; }

void GeListNode::Unlink() {
  if (m_pPrev)
    m_pPrev->m_pNext = m_pNext;
  else if (m_pParent)
    m_pParent->m_pDown = m_pNext;
  if (m_pNext)
    m_pNext->m_pPrev = m_pPrev;
  else if (m_pParent)
    m_pParent->m_pDownLast = m_pPrev;
  m_pParent = m_pPrev = m_pNext = nullptr;
}

void GeListNode::LinkBetween(GeListNode* parent, GeListNode* prev, GeListNode* next) {
  m_pParent = parent;
  m_pPrev = prev;
  m_pNext = next;
  if (prev)
    prev->m_pNext = this;
  else if (parent)
    parent->m_pDown = this;
  if (next)
    next->m_pPrev = this;
  else if (parent)
    parent->m_pDownLast = this;
}

namespace {

// A node cannot be linked next to or under itself or one of its descendants.
bool WouldCycle(const GeListNode* node, const GeListNode* target) {
  for (const GeListNode* p = target; p; p = p->GetUp())
    if (p == node) return true;
  return false;
}

}  // namespace

void GeListNode::InsertBefore(GeListNode* bl) {
  if (!bl || WouldCycle(this, bl)) return;
  Unlink();
  LinkBetween(bl->m_pParent, bl->m_pPrev, bl);
}

void GeListNode::InsertAfter(GeListNode* bl) {
  if (!bl || WouldCycle(this, bl)) return;
  Unlink();
  LinkBetween(bl->m_pParent, bl, bl->m_pNext);
}

void GeListNode::InsertUnder(GeListNode* bl) {
  if (!bl || WouldCycle(this, bl)) return;
  Unlink();
  LinkBetween(bl, nullptr, bl->m_pDown);
}

void GeListNode::InsertUnderLast(GeListNode* bl) {
  if (!bl || WouldCycle(this, bl)) return;
  Unlink();
  LinkBetween(bl, bl->m_pDownLast, nullptr);
}

void GeListNode::Remove() { Unlink(); }

GeListHead* GeListNode::GetListHead() const {
  const GeListNode* node = this;
  while (node->m_pParent) {
    if (IsHead(node->m_pParent)) return static_cast<GeListHead*>(node->m_pParent);
    node = node->m_pParent;
  }
  return nullptr;
}

BaseDocument* GeListNode::GetDocument() const {
  const GeListNode* node = this;
  while (node) {
    if (node->m_type == Tbasedocument && node->m_classification == Tbasedocument)
      return static_cast<BaseDocument*>(const_cast<GeListNode*>(node));
    if (!node->m_pParent) return nullptr;
    node = IsHead(node->m_pParent) ? node->m_pParent->m_pOwner : node->m_pParent;
  }
  return nullptr;
}

Bool GeListNode::IsInstanceOf(LONG id) const { return id == m_type || id == m_classification; }

Bool GeListNode::Message(LONG type, void* data) {
  if (type == MSG_UPDATE) ++m_updates;
  if (m_pNodeData) return m_pNodeData->Message(this, type, data);
  return TRUE;
}

// --- GeListHead -----------------------------------------------------------------------

GeListHead* GeListHead::Alloc() { return gNew GeListHead; }

void GeListHead::Free(GeListHead*& head) {
  NodeAccess::Destroy(head);
  head = nullptr;
}

void GeListHead::InsertFirst(GeListNode* node) {
  if (node) node->InsertUnder(this);
}

void GeListHead::InsertLast(GeListNode* node) {
  if (node) node->InsertUnderLast(this);
}

void GeListHead::FlushAll() {
  while (GetDown()) NodeAccess::Destroy(GetDown());
}

// --- node life ------------------------------------------------------------------------

void NodeAccess::Destroy(GeListNode* node) {
  if (!node) return;
  node->Unlink();
  if (node->m_pNodeData) {
    node->m_pNodeData->Free(node);
    gDelete(node->m_pNodeData);
  }
  // Nodes are made with gNew; their destructors are not public, so the block is freed
  // here rather than through gDelete.
  void* block = dynamic_cast<void*>(node);
  node->~GeListNode();
  GeFreeTagged(block);
}

bool NodeAccess::AttachPlugin(GeListNode* node, LONG pluginType) {
  const BasePlugin* plugin = FindPlugin(node->GetType(), pluginType);
  if (!plugin || !plugin->GetAllocator()) return false;
  NodeData* data = plugin->GetAllocator()();
  if (!data) return false;
  node->m_pNodeData = data;
  return data->Init(node) != 0;
}

// --- BaseList2D -----------------------------------------------------------------------

BaseList2D::BaseList2D(LONG type, LONG classification)
    : GeListNode(type, classification), m_serial(host::internal::RegisterNode(this)) {}

BaseList2D::~BaseList2D() {
  if (m_pTracks) NodeAccess::Destroy(m_pTracks);
  host::internal::UnregisterNode(m_serial);
}

void BaseList2D::SetDirty(LONG flags) {
  if (flags & DIRTYFLAGS_DATA) ++m_dirtyData;
  if (flags & DIRTYFLAGS_MATRIX) ++m_dirtyMatrix;
}

ULONG BaseList2D::GetDirty(LONG flags) const {
  ULONG count = 0;
  if (flags & DIRTYFLAGS_DATA) count += m_dirtyData + static_cast<ULONG>(NodeAccess::UpdateCount(this));
  if (flags & DIRTYFLAGS_MATRIX) count += m_dirtyMatrix;
  return count;
}

String BaseList2D::GetTypeName() const {
  switch (GetType()) {
    case Onull: return String("Null");
    case Opolygon: return String("Polygon");
    case Ospline: return String("Spline");
    case Ocube: return String("Cube");
    case Oplane: return String("Plane");
    case Oarray: return String("Array");
    case Olayer: return String("Layer");
    case Tpoint: return String("Point");
    case Tpolygon: return String("Polygon");
    case Tphong: return String("Phong");
    case Ttexture: return String("Texture");
    case Tuvw: return String("UVW");
    case Tsegment: return String("Segment");
    case Tpolygonselection: return String("Polygon Selection");
    case Tpointselection: return String("Point Selection");
    case Tnormal: return String("Normal");
    case Mmaterial: return String("Material");
    case Mfog: return String("Fog");
    case Xbitmap: return String("Bitmap");
    case Xlayer: return String("Layer");
    case Tbasedocument: return String("Document");
    default: break;
  }
  const LONG pluginType = GetClassification() == Obase ? PLUGINTYPE_OBJECT
                          : GetClassification() == Tbase ? PLUGINTYPE_TAG
                                                         : PLUGINTYPE_ANY;
  const BasePlugin* plugin = pluginType != PLUGINTYPE_ANY ? FindPlugin(GetType(), pluginType) : nullptr;
  return plugin ? plugin->GetName() : String();
}

void BaseList2D::SetData(const BaseContainer& bc, Bool add) {
  if (!add) {
    const LONG id = m_data.GetId();
    m_data = bc;
    m_data.SetId(id);
    return;
  }
  for (LONG i = 0; i < bc.GetEntryCount(); ++i) m_data.SetData(bc.GetIndexId(i), *bc.GetIndexData(i));
}

namespace {

// Reads a whole parameter or, with a second level VECTOR_X/Y/Z, one component of it.
bool ReadLevels(const DescID& id, const GeData& whole, GeData& out) {
  if (id.GetDepth() < 2) {
    out = whole;
    return true;
  }
  if (whole.GetType() != DA_VECTOR) return false;
  const Vector v = whole.GetVector();
  switch (id[1].id) {
    case VECTOR_X: out = GeData(v.x); return true;
    case VECTOR_Y: out = GeData(v.y); return true;
    case VECTOR_Z: out = GeData(v.z); return true;
    default: return false;
  }
}

// The whole parameter after writing value at the address's second level (or whole).
bool WriteLevels(const DescID& id, const GeData& whole, const GeData& value, GeData& out) {
  if (id.GetDepth() < 2) {
    out = value;
    return true;
  }
  Vector v = whole.GetVector();
  switch (id[1].id) {
    case VECTOR_X: v.x = value.GetReal(); break;
    case VECTOR_Y: v.y = value.GetReal(); break;
    case VECTOR_Z: v.z = value.GetReal(); break;
    default: return false;
  }
  out = GeData(v);
  return true;
}

}  // namespace

Bool BaseList2D::GetParameter(const DescID& id, GeData& t_data, DESCFLAGS_GET flags) {
  if (id.GetDepth() < 1) return FALSE;
  if (NodeData* data = GetNodeData()) {
    DESCFLAGS_GET handled = flags;
    if (!data->GetDParameter(this, id, t_data, handled)) return FALSE;
    if (handled & DESCFLAGS_GET_PARAM_GET) return TRUE;
  }
  GeData whole;
  if (!GetOwnParameter(DescID(id[0]), whole)) {
    const GeData* entry = m_data.GetDataPointer(id[0].id);
    if (!entry) return FALSE;
    whole = *entry;
  }
  return ReadLevels(id, whole, t_data);
}

Bool BaseList2D::SetParameter(const DescID& id, const GeData& t_data, DESCFLAGS_SET flags) {
  if (id.GetDepth() < 1) return FALSE;
  if (NodeData* data = GetNodeData()) {
    DESCFLAGS_SET handled = flags;
    if (!data->SetDParameter(this, id, t_data, handled)) return FALSE;
    if (handled & DESCFLAGS_SET_PARAM_SET) return TRUE;
  }
  const DescID first(id[0]);
  GeData whole;
  const bool own = GetOwnParameter(first, whole);
  if (!own) whole = m_data.GetData(id[0].id);
  GeData value;
  if (!WriteLevels(id, whole, t_data, value)) return FALSE;
  if (own) {
    if (!SetOwnParameter(first, value)) return FALSE;
  } else {
    m_data.SetData(id[0].id, value);
  }
  SetDirty(DIRTYFLAGS_DATA);
  return TRUE;
}

Bool BaseList2D::GetOwnParameter(const DescID& id, GeData& t_data) {
  switch (id[0].id) {
    case ID_BASELIST_NAME:
      t_data = GeData(m_name);
      return TRUE;
    case ID_LAYER_LINK:
      t_data = GeData::LinkSerial(m_layer);
      return TRUE;
    default:
      return FALSE;
  }
}

Bool BaseList2D::SetOwnParameter(const DescID& id, const GeData& t_data) {
  switch (id[0].id) {
    case ID_BASELIST_NAME:
      m_name = t_data.GetString();
      return TRUE;
    case ID_LAYER_LINK:
      return SetLayerObject(static_cast<LayerObject*>(t_data.GetLink(nullptr, Olayer)));
    default:
      return FALSE;
  }
}

LayerObject* BaseList2D::GetLayerObject(const BaseDocument* doc) const {
  return static_cast<LayerObject*>(GeData::LinkSerial(m_layer).GetLink(doc, Olayer));
}

Bool BaseList2D::SetLayerObject(LayerObject* layer) {
  m_layer = NodeAccess::Serial(layer);
  return TRUE;
}

BaseList2D* BaseList2D::GetClone(LONG flags, AliasTrans* trn) const {
  BaseList2D* copy = MakeEmpty();
  if (!copy) return nullptr;
  if (!CopyContentTo(copy, flags, trn)) {
    NodeAccess::Destroy(copy);
    return nullptr;
  }
  NodeAccess::RecordCopy(trn, this, copy);
  if (!(flags & COPYFLAGS_NO_HIERARCHY)) {
    for (const GeListNode* child = GetDown(); child; child = child->GetNext()) {
      BaseList2D* childCopy = static_cast<const BaseList2D*>(child)->GetClone(flags, trn);
      if (!childCopy) {
        NodeAccess::Destroy(copy);
        return nullptr;
      }
      childCopy->InsertUnderLast(copy);
    }
  }
  return copy;
}

Bool BaseList2D::CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const {
  dst->m_name = m_name;
  dst->m_data = m_data;
  if (!(flags & COPYFLAGS_NO_BITS)) dst->m_bits = m_bits;
  dst->m_layer = m_layer;
  NodeData* data = GetNodeData();
  NodeData* dstData = dst->GetNodeData();
  if (data && dstData && !data->CopyTo(dstData, const_cast<BaseList2D*>(this), dst, flags, trn)) return FALSE;
  if (dst->m_pTracks) dst->m_pTracks->FlushAll();
  if (flags & COPYFLAGS_NO_ANIMATION) return TRUE;
  for (const GeListNode* track = m_pTracks ? m_pTracks->GetFirst() : nullptr; track; track = track->GetNext()) {
    BaseList2D* copy = NodeAccess::CloneAlone(static_cast<const BaseList2D*>(track), flags, trn);
    if (!copy) return FALSE;
    if (!NodeAccess::TrackHead(dst)) {
      NodeAccess::Destroy(copy);
      return FALSE;
    }
    NodeAccess::TrackHead(dst)->InsertLast(copy);
  }
  return TRUE;
}

void BaseList2D::SwapContent(BaseList2D* other) {
  std::swap(m_name, other->m_name);
  std::swap(m_data, other->m_data);
  std::swap(m_bits, other->m_bits);
  std::swap(m_layer, other->m_layer);
  std::swap(m_pTracks, other->m_pTracks);
  if (m_pTracks) m_pTracks->SetParent(this);
  if (other->m_pTracks) other->m_pTracks->SetParent(other);
  // Whatever was built from the old state is stale now.
  SetDirty(DIRTYFLAGS_DATA | DIRTYFLAGS_MATRIX);
}

void NodeAccess::ForEachLink(BaseList2D* node, const std::function<void(LLONG&)>& fn) {
  if (node->m_layer) fn(node->m_layer);
  BaseContainerAccess::ForEachLink(&node->m_data, fn);
  if (node->GetType() == Mmaterial && node->GetClassification() == Mbase) {
    Material* mat = static_cast<Material*>(node);
    for (BaseChannel& channel : mat->m_channels) {
      if (channel.m_shader) fn(channel.m_shader);
      BaseContainerAccess::ForEachLink(&channel.m_data, fn);
    }
  }
}

// --- LayerObject ----------------------------------------------------------------------

LayerObject::LayerObject() : BaseList2D(Olayer, Lbase) {}

LayerObject* LayerObject::Alloc() { return NodeAccess::MakeLayer(); }

void LayerObject::Free(LayerObject*& layer) {
  NodeAccess::Destroy(layer);
  layer = nullptr;
}

BaseList2D* LayerObject::MakeEmpty() const { return gNew LayerObject; }

LayerObject* NodeAccess::MakeLayer() {
  LayerObject* layer = gNew LayerObject;
  if (!layer) return nullptr;
  layer->SetName(String("Layer"));
  BaseContainer* bc = layer->GetDataInstance();
  bc->SetBool(ID_LAYER_SOLO, FALSE);
  bc->SetBool(ID_LAYER_VIEW, TRUE);
  bc->SetBool(ID_LAYER_RENDER, TRUE);
  bc->SetBool(ID_LAYER_LOCKED, FALSE);
  bc->SetVector(ID_LAYER_COLOR, Vector(0.5, 0.5, 0.5));
  return layer;
}

// --- AliasTrans -----------------------------------------------------------------------

struct AliasTrans::Map {
  std::unordered_map<LLONG, LLONG> copies;  // original -> copy
  std::vector<LLONG> made;                  // every copy, in order
};

AliasTrans* AliasTrans::Alloc() {
  AliasTrans* trn = gNew AliasTrans;
  if (trn) trn->m_map = new (std::nothrow) Map;
  if (trn && !trn->m_map) Free(trn);
  return trn;
}

void AliasTrans::Free(AliasTrans*& trn) {
  if (!trn) return;
  trn->~AliasTrans();
  GeFreeTagged(trn);
  trn = nullptr;
}

AliasTrans::~AliasTrans() { delete m_map; }

Bool AliasTrans::Init(const BaseDocument*) {
  if (!m_map) return FALSE;
  m_map->copies.clear();
  m_map->made.clear();
  return TRUE;
}

void AliasTrans::Translate(Bool) {
  if (!m_map) return;
  for (LLONG serial : m_map->made) {
    BaseList2D* copy = host::internal::FindNode(serial);
    if (!copy) continue;
    NodeAccess::ForEachLink(copy, [this](LLONG& link) {
      const auto it = m_map->copies.find(link);
      if (it != m_map->copies.end()) link = it->second;
    });
  }
}

LLONG NodeAccess::CopyOf(const AliasTrans* trn, LLONG original) {
  if (!trn || !trn->m_map) return 0;
  const auto it = trn->m_map->copies.find(original);
  return it == trn->m_map->copies.end() ? 0 : it->second;
}

void NodeAccess::RecordCopy(AliasTrans* trn, const BaseList2D* original, BaseList2D* copy) {
  if (!trn || !trn->m_map) return;
  trn->m_map->copies.emplace(original->m_serial, copy->m_serial);
  trn->m_map->made.push_back(copy->m_serial);
}
