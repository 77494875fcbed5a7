// Access to the inner state of scene nodes for the host's own files (node creation by
// type, copies, undo, scene files). Not part of the interface a plug-in sees.
#pragma once

#include <functional>
#include <string>

#include "c4d_animation.h"
#include "c4d_basedocument.h"
#include "c4d_memory.h"
#include "c4d_plugin.h"

// Entries of containers in place: the decoder appends without look-ups, link walks
// rewrite node numbers.
struct BaseContainerAccess {
  static void Append(BaseContainer* bc, LONG id, const GeData& value) { bc->Append(id, GeData(value)); }
  static BaseContainer* LastContainer(BaseContainer* bc) { return bc->m_entries.back().value.GetContainer(); }
  // Calls fn with the node number of every link in bc and its sub-containers; fn may
  // change it.
  static void ForEachLink(BaseContainer* bc, const std::function<void(LLONG&)>& fn) {
    for (auto& entry : bc->m_entries) {
      if (entry.value.m_type == DA_ALIASLINK) fn(entry.value.m_llong);
      if (entry.value.m_container) ForEachLink(entry.value.m_container.get(), fn);
    }
  }
};

struct NodeAccess {
  // --- creation by type; allowMissing keeps a node of an unknown plug-in type (its
  // data container survives, it does nothing) instead of refusing it.
  static BaseObject* MakeObject(LONG type, bool allowMissing);
  static BaseTag* MakeTag(LONG type, bool allowMissing);
  static BaseMaterial* MakeMaterial(LONG type);
  static BaseShader* MakeShader(LONG type);
  static LayerObject* MakeLayer();
  static BaseDocument* MakeDocument();

  // Frees a node and what hangs under it; calls the plug-in's Free first.
  static void Destroy(GeListNode* node);
  // Attaches a plug-in's class (made by its allocator) to a new node and runs Init.
  static bool AttachPlugin(GeListNode* node, LONG pluginType);

  // Makes room for count entries without changing the tag's count; afterwards Resize up
  // to count cannot fail.
  static bool ReserveTag(VariableTag* tag, LONG count);

  // --- inner state
  static LLONG Serial(const BaseList2D* node) { return node ? node->m_serial : 0; }
  static LLONG LayerSerial(const BaseList2D* node) { return node->m_layer; }
  static void SetLayerSerial(BaseList2D* node, LLONG serial) { node->m_layer = serial; }
  static LLONG UpdateCount(const GeListNode* node) { return node->m_updates; }
  static GeListHead* TagHead(const BaseObject* op) { return op->m_pTags; }
  // A bare track (no checks of the node it will animate), for the scene reader.
  static CTrack* MakeTrack(LONG type, const DescID& id) { return gNew CTrack(type, id); }
  // The node's track list, made when it has none yet; null when memory is missing.
  static GeListHead* TrackHead(BaseList2D* node);
  // The points of a point-level key (count 0 and null when it has none).
  static LONG KeyPointCount(const CKey* key) { return key->m_pointCount; }
  static const Vector* KeyPoints(const CKey* key) { return key->m_pPoints; }
  static Vector* KeyPointsW(CKey* key) { return key->m_pPoints; }
  // Replaces a key's points with a copy of count points; when points is null, with zeros,
  // or unset values for the caller to write whole when cleared is false. False when
  // memory is missing (the key is then unchanged).
  static bool SetKeyPoints(CKey* key, const Vector* points, LONG count, bool cleared = true);
  // Evaluation caches of an object (owned by it, not in any list).
  static BaseObject* Cache(const BaseObject* op) { return op->m_pCache; }
  static BaseObject* DeformCache(const BaseObject* op) { return op->m_pDeformCache; }
  static void SetCache(BaseObject* op, BaseObject* cache);
  static void SetDeformCache(BaseObject* op, BaseObject* cache, LULONG stamp);
  static LULONG DeformStamp(const BaseObject* op) { return op->m_deformStamp; }
  static GeListHead* ShaderHead(const BaseMaterial* mat) { return mat->m_pShaders; }
  static GeListHead* ObjectHead(const BaseDocument* doc) { return doc->m_pObjects; }
  static GeListHead* MaterialHead(const BaseDocument* doc) { return doc->m_pMaterials; }
  static GeListHead* LayerHead(const BaseDocument* doc) { return doc->m_pLayers; }
  static BaseChannel& Channel(Material* mat, LONG id) { return mat->m_channels[id]; }
  static const BaseChannel& Channel(const Material* mat, LONG id) { return mat->m_channels[id]; }
  static LLONG ChannelShaderSerial(const BaseChannel& ch) { return ch.m_shader; }
  static void SetChannelShaderSerial(BaseChannel& ch, LLONG serial) { ch.m_shader = serial; }
  static const BaseContainer& ChannelData(const BaseChannel& ch) { return ch.m_data; }
  static void SetChannelData(BaseChannel& ch, const BaseContainer& bc) { ch.m_data = bc; }
  static Bool ChannelEnabled(const BaseChannel& ch) { return ch.m_enabled; }

  // Calls fn with every node number a node holds as a link (its layer, container links,
  // channel shaders); fn may change them.
  static void ForEachLink(BaseList2D* node, const std::function<void(LLONG&)>& fn);

  // Exchanges the content of two nodes of one class (undo).
  static void SwapContent(BaseList2D* a, BaseList2D* b) { a->SwapContent(b); }
  // The copy made of a node's content without its children.
  static BaseList2D* CloneAlone(const BaseList2D* node, LONG flags, AliasTrans* trn) {
    return node->GetClone(flags | COPYFLAGS_NO_HIERARCHY, trn);
  }
  // The ranges of a selection as they are kept (not cut like GetRange).
  static LONG RangeCount(const BaseSelect* bs) { return bs->m_rangeCount; }
  static void Range(const BaseSelect* bs, LONG i, LONG* a, LONG* b) {
    *a = bs->m_pRanges[i].a;
    *b = bs->m_pRanges[i].b;
  }
  // The node number of the copy trn recorded for original, or 0.
  static LLONG CopyOf(const AliasTrans* trn, LLONG original);

  // Records in trn that copy was made from original (the first copy of an original is
  // the one links are pointed at).
  static void RecordCopy(AliasTrans* trn, const BaseList2D* original, BaseList2D* copy);

  // The n-gon outlines of a polygon object: per n-gon its outline edges (polygon x 4
  // + side, with the segment-end and no-outline-edge marks).
  static LONG NgonEdgeCount(const PolygonObject* op, LONG ngon);
  static const LONG* NgonEdges(const PolygonObject* op, LONG ngon);
  // Replaces the object's n-gons (count n-gons whose edges follow each other in edges,
  // counts[i] edges each). False when memory is missing (the object is unchanged).
  static bool SetNgons(PolygonObject* op, LONG count, const LONG* counts, const LONG* edges);
  // Appends one n-gon of count edges; false when memory is missing (nothing changed).
  static bool AppendNgon(PolygonObject* op, const LONG* edges, LONG count);
  // Makes room for ngons more n-gons of edges more edge words in all; false when memory
  // is missing.
  static bool ReserveNgons(PolygonObject* op, LONG ngons, LLONG edges);
  // Replaces the object's n-gons by count n-gons in blocks the object takes over:
  // start (count + 1 offsets, start[0] = 0) and edges. Cannot fail.
  static void AdoptNgons(PolygonObject* op, LONG count, LONG* start, LONG* edges);
};

// The polygonal state of one object: a new polygon object (or a null with the
// generated objects under it) for a generator, a copy otherwise (without children),
// with the object's active deformers run on its points. The state keeps the object's
// name, matrix, visibility, layer and tags. flags are those of
// GetClone; copies are recorded in trn. Null when memory is missing.
BaseObject* MakeCurrentState(const BaseObject* op, LONG flags, AliasTrans* trn);
// A generator's own result (as MakeCurrentState, without running its deformers).
BaseObject* MakeGenerated(const BaseObject* op, LONG flags, AliasTrans* trn);
// The same for op and its children: children of generators that use them as input (the
// array) are not repeated, and active deformers, whose work the state holds, are left out.
BaseObject* MakePolygonalTree(const BaseObject* op, LONG flags, AliasTrans* trn);
// Whether the type is one of the host's generators (cube, plane, array).
bool IsGenerator(LONG type);
// Whether op is a deformer that takes part in evaluation: an object plug-in registered
// as a modifier, switched on (deform mode).
bool IsActiveDeformer(const BaseObject* op);
// Runs the active deformers among source's children, in order, on target (a copy made
// for them, whose global matrix is target_mg). Nothing happens when source lies in no
// document (deformers read the document's time). thread null: the host's thread.
void RunDeformers(const BaseObject* source, BaseObject* target, const Matrix& target_mg, BaseThread* thread);
