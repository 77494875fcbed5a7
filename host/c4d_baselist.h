// The scene graph's nodes: list links (GeListNode, GeListHead), named nodes with a data
// container and parameters (BaseList2D), layers, parameter addresses (DescID) and the
// translation of links when nodes are copied (AliasTrans).
#pragma once

#include "c4d_basecontainer.h"
#include "c4d_string.h"
#include "ge_types.h"

class BaseDocument;
class GeListHead;
class LayerObject;
class NodeData;
class AliasTrans;
class CTrack;

// Classifications: the family a node belongs to.
enum : LONG {
  Obase = 5155,
  Tbase = 5611,
  Mbase = 5702,
  Xbase = 5707,
  Lbase = 100004800,
  CTbase = 5350,
  CKbase = 5354,
  GeListHeadType = 1000,
};

// Parameter data types used in description IDs.
enum : LONG {
  DTYPE_NONE = 0,
  DTYPE_LONG = 15,
  DTYPE_REAL = 19,
  DTYPE_TIME = 22,
  DTYPE_VECTOR = 23,
  DTYPE_MATRIX = 25,
  DTYPE_STRING = 130,
  DTYPE_FILENAME = 131,
  DTYPE_BASELISTLINK = 133,
  DTYPE_BOOL = 400006001,
};

// One level of a parameter address.
struct DescLevel {
  LONG id = 0;
  LONG dtype = DTYPE_NONE;
  LONG creator = 0;
  DescLevel() = default;
  DescLevel(LONG t_id) : id(t_id) {}  // NOLINT(google-explicit-constructor)
  DescLevel(LONG t_id, LONG t_dtype, LONG t_creator) : id(t_id), dtype(t_dtype), creator(t_creator) {}
  // Levels are equal when their IDs are; a type or creator of 0 matches any.
  bool operator==(const DescLevel& o) const {
    return id == o.id && (dtype == 0 || o.dtype == 0 || dtype == o.dtype) &&
           (creator == 0 || o.creator == 0 || creator == o.creator);
  }
  bool operator!=(const DescLevel& o) const { return !(*this == o); }
};

// A parameter address: one to three levels (a parameter, or a component of one).
class DescID {
 public:
  static constexpr LONG kMaxDepth = 3;
  DescID() = default;
  DescID(const DescLevel& a) : m_depth(1) { m_levels[0] = a; }  // NOLINT(google-explicit-constructor)
  DescID(const DescLevel& a, const DescLevel& b) : m_depth(2) {
    m_levels[0] = a;
    m_levels[1] = b;
  }
  DescID(const DescLevel& a, const DescLevel& b, const DescLevel& c) : m_depth(3) {
    m_levels[0] = a;
    m_levels[1] = b;
    m_levels[2] = c;
  }
  LONG GetDepth() const { return m_depth; }
  // Level pos; a zero level past the depth.
  const DescLevel& operator[](LONG pos) const {
    static const DescLevel none;
    return (pos >= 0 && pos < m_depth) ? m_levels[pos] : none;
  }
  void PushId(const DescLevel& level) {
    if (m_depth < kMaxDepth) m_levels[m_depth++] = level;
  }
  bool operator==(const DescID& o) const {
    if (m_depth != o.m_depth) return false;
    for (LONG i = 0; i < m_depth; ++i)
      if (m_levels[i] != o.m_levels[i]) return false;
    return true;
  }
  bool operator!=(const DescID& o) const { return !(*this == o); }

 private:
  DescLevel m_levels[kMaxDepth];
  LONG m_depth = 0;
};

// Flags of GetParameter / SetParameter and of the plug-in's GetDParameter / SetDParameter.
typedef LONG DESCFLAGS_GET;
typedef LONG DESCFLAGS_SET;
enum : LONG {
  DESCFLAGS_GET_0 = 0,
  DESCFLAGS_GET_PARAM_GET = 2,  // the plug-in answered the parameter itself
  DESCFLAGS_SET_0 = 0,
  DESCFLAGS_SET_PARAM_SET = 2,  // the plug-in stored the parameter itself
  DESCFLAGS_SET_USERINTERACTION = 4,
};

// Flags of GetClone.
enum : LONG {
  COPYFLAGS_0 = 0,
  COPYFLAGS_NO_BITS = 2,
  COPYFLAGS_NO_HIERARCHY = 4,  // without children
  COPYFLAGS_NO_ANIMATION = 8,  // without tracks
};

// Second-level IDs that address one component of a vector parameter.
enum : LONG {
  VECTOR_X = 1000,
  VECTOR_Y = 1001,
  VECTOR_Z = 1002,
};

// Parameters every node answers besides its container entries.
enum : LONG {
  ID_BASELIST_NAME = 900,
  ID_LAYER_LINK = 898,
};

// What changed about a node (SetDirty / GetDirty).
enum : LONG {
  DIRTYFLAGS_MATRIX = 2,  // an object's placement
  DIRTYFLAGS_DATA = 4,    // parameters, points, anything else
};

// Node bits.
enum : LONG {
  BIT_ACTIVE = 2,
};

// A node of a list: a next and a previous node, a parent and children. A node is linked
// into at most one place; inserting a linked node moves it.
class GeListNode {
 public:
  GeListNode(const GeListNode&) = delete;
  GeListNode& operator=(const GeListNode&) = delete;

  GeListNode* GetNext() const { return m_pNext; }
  GeListNode* GetPred() const { return m_pPrev; }
  // The parent node; null at the top of a list (the list head is not a parent).
  GeListNode* GetUp() const;
  GeListNode* GetDown() const { return m_pDown; }
  GeListNode* GetDownLast() const { return m_pDownLast; }

  // Links this node before / after bl, as the first / last child of bl.
  void InsertBefore(GeListNode* bl);
  void InsertAfter(GeListNode* bl);
  void InsertUnder(GeListNode* bl);
  void InsertUnderLast(GeListNode* bl);
  // Unlinks this node (with its children); the caller owns it afterwards.
  void Remove();

  // The head of the list this node's top-most ancestor lies in, or null.
  GeListHead* GetListHead() const;
  // The document the node belongs to, or null while it is not inserted in one.
  BaseDocument* GetDocument() const;

  LONG GetType() const { return m_type; }
  // The family: Obase, Tbase, Mbase, Xbase, Lbase, CTbase, CKbase.
  LONG GetClassification() const { return m_classification; }
  // True for the node's own type, its family, and the families it belongs to (a
  // polygon object is also a point object, Opoint).
  virtual Bool IsInstanceOf(LONG id) const;

  // The plug-in class behind a plug-in node, or null.
  NodeData* GetNodeData() const { return m_pNodeData; }

  // Sends a message to the node (and its plug-in class). MSG_UPDATE also marks the node
  // as changed.
  Bool Message(LONG type, void* data = nullptr);

 protected:
  GeListNode(LONG type, LONG classification);
  // Frees the children (and, in derived classes, the node's own lists).
  virtual ~GeListNode();

  // Internal: the node owning a list head.
  GeListNode* m_pOwner = nullptr;

 private:
  friend struct NodeAccess;
  friend class GeListHead;
  void Unlink();
  void LinkBetween(GeListNode* parent, GeListNode* prev, GeListNode* next);

  GeListNode* m_pNext = nullptr;
  GeListNode* m_pPrev = nullptr;
  GeListNode* m_pParent = nullptr;  // a node or a list head
  GeListNode* m_pDown = nullptr;
  GeListNode* m_pDownLast = nullptr;
  NodeData* m_pNodeData = nullptr;
  LONG m_type;
  LONG m_classification;
  LLONG m_updates = 0;
};

// The head of a list: documents hold one for objects, materials and layers, objects one
// for their tags, materials one for their shaders, nodes one for their tracks.
class GeListHead : public GeListNode {
 public:
  static GeListHead* Alloc();
  // Frees the head with every node in its list.
  static void Free(GeListHead*& head);

  GeListNode* GetFirst() const { return GetDown(); }
  GeListNode* GetLast() const { return GetDownLast(); }
  void InsertFirst(GeListNode* node);
  void InsertLast(GeListNode* node);
  // Frees every node of the list.
  void FlushAll();
  // The node (or document) that owns this list, or null.
  GeListNode* GetMain() const { return m_pOwner; }
  void SetParent(GeListNode* owner) { m_pOwner = owner; }

 protected:
  friend struct NodeAccess;
  GeListHead() : GeListNode(GeListHeadType, GeListHeadType) {}
};

// A named node with a data container of parameters.
class BaseList2D : public GeListNode {
 public:
  BaseList2D* GetNext() const { return static_cast<BaseList2D*>(GeListNode::GetNext()); }
  BaseList2D* GetPred() const { return static_cast<BaseList2D*>(GeListNode::GetPred()); }

  String GetName() const { return m_name; }
  void SetName(const String& name) { m_name = name; }
  // The name of the node's type ("Polygon", "Phong", a plug-in's registered name...);
  // empty for a type the host does not know.
  String GetTypeName() const;

  // The parameter container, in place.
  BaseContainer* GetDataInstance() { return &m_data; }
  const BaseContainer* GetDataInstance() const { return &m_data; }
  BaseContainer GetData() const { return m_data; }
  // add = TRUE merges bc's entries into the container; FALSE replaces it whole.
  void SetData(const BaseContainer& bc, Bool add = TRUE);

  // A parameter by address: the plug-in class is asked first, then the node's own
  // parameters (name, matrix, visibility...), then the container entry of the first
  // level. GetParameter is false when there is no such parameter.
  Bool GetParameter(const DescID& id, GeData& t_data, DESCFLAGS_GET flags);
  Bool SetParameter(const DescID& id, const GeData& t_data, DESCFLAGS_SET flags);

  // The node's layer, when it lies in doc (any document when doc is null).
  LayerObject* GetLayerObject(const BaseDocument* doc) const;
  // Puts the node on a layer (null: on none).
  Bool SetLayerObject(LayerObject* layer);

  void SetBit(LONG mask) { m_bits |= mask; }
  void DelBit(LONG mask) { m_bits &= ~mask; }
  Bool GetBit(LONG mask) const { return (m_bits & mask) != 0; }
  LONG GetAllBits() const { return m_bits; }

  // A copy of the node (with its children unless COPYFLAGS_NO_HIERARCHY). Links inside
  // the copy that point into the copied nodes are recorded in trn, whose Translate then
  // points them at the copies. Null when memory is missing.
  BaseList2D* GetClone(LONG flags, AliasTrans* trn) const;

  // Marks the node as changed (DIRTYFLAGS_*). GetDirty is a count that grows with every
  // change of the asked kinds (an MSG_UPDATE counts as a data change): compare two
  // readings to see whether something changed between them.
  void SetDirty(LONG flags);
  ULONG GetDirty(LONG flags) const;

  // Animation tracks, sorted by description ID.
  CTrack* GetFirstCTrack() const;
  // The track of the parameter, or null.
  CTrack* FindCTrack(const DescID& id) const;
  // Inserts the track (removed from where it was) before the first track whose
  // description ID sorts after its own. False when memory for the node's track list is
  // missing (a track allocated for this node never meets that): the track stays where
  // it was.
  Bool InsertTrackSorted(CTrack* track);
  // The head of the track list; null until the node has had a track.
  GeListHead* GetCTrackRoot() const { return m_pTracks; }

 protected:
  BaseList2D(LONG type, LONG classification);
  ~BaseList2D() override;

  // The node's own parameters besides container entries; false when id is not one.
  virtual Bool GetOwnParameter(const DescID& id, GeData& t_data);
  virtual Bool SetOwnParameter(const DescID& id, const GeData& t_data);
  // A bare node of the same type and class (no content), for GetClone.
  virtual BaseList2D* MakeEmpty() const = 0;
  // Copies the node's own content (not its children) into dst, a node from MakeEmpty.
  virtual Bool CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const;
  // Exchanges the node's own content with other's (of the same class): undo.
  virtual void SwapContent(BaseList2D* other);

 private:
  friend struct NodeAccess;
  String m_name;
  BaseContainer m_data;
  LONG m_bits = 0;
  LLONG m_layer = 0;  // node number of the layer, 0: none
  LLONG m_serial;     // this node's number, for links
  GeListHead* m_pTracks = nullptr;
  ULONG m_dirtyData = 0;
  ULONG m_dirtyMatrix = 0;
};

// A layer of the document (the layer root's children, which may nest).
class LayerObject : public BaseList2D {
 public:
  static LayerObject* Alloc();
  static void Free(LayerObject*& layer);
  LayerObject* GetNext() const { return static_cast<LayerObject*>(GeListNode::GetNext()); }
  LayerObject* GetPred() const { return static_cast<LayerObject*>(GeListNode::GetPred()); }
  LayerObject* GetDown() const { return static_cast<LayerObject*>(GeListNode::GetDown()); }
  LayerObject* GetUp() const { return static_cast<LayerObject*>(GeListNode::GetUp()); }

 protected:
  friend struct NodeAccess;
  LayerObject();
  BaseList2D* MakeEmpty() const override;
};

// Layer parameters (container entries, all on by default except solo and locked).
enum : LONG {
  ID_LAYER_SOLO = 1000,
  ID_LAYER_VIEW = 1001,
  ID_LAYER_RENDER = 1002,
  ID_LAYER_LOCKED = 1004,
  ID_LAYER_COLOR = 1006,
};

// Records which nodes were copied into which, so that links between copied nodes can
// be pointed at the copies.
class AliasTrans {
 public:
  static AliasTrans* Alloc();
  static void Free(AliasTrans*& trn);
  // Starts a translation for copies of nodes of doc.
  Bool Init(const BaseDocument* doc);
  // Points every link held by a recorded copy, whose target was copied too, at the
  // target's copy. connect_oldgoals is accepted for the host's signature.
  void Translate(Bool connect_oldgoals);

 private:
  friend struct NodeAccess;
  AliasTrans() = default;
  ~AliasTrans();
  struct Map;
  Map* m_map = nullptr;
};
