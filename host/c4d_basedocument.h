// Documents: the object tree, materials, layers, time, undo, the polygonised copy, and
// the host's list of open documents with the active one.
#pragma once

#include "c4d_animation.h"
#include "c4d_basematerial.h"
#include "c4d_baseobject.h"
#include "c4d_basetag.h"
#include "c4d_basetime.h"
#include "c4d_file.h"
#include "c4d_thread.h"

// Undo record kinds.
enum : LONG {
  UNDOTYPE_CHANGE = 40,  // the node's state before a change (restored by undo)
  UNDOTYPE_NEW = 44,     // a node just inserted (removed and freed by undo)
};

// Modes of SetActiveObject.
enum : LONG {
  SELECTION_NEW = 0,
  SELECTION_ADD = 1,
  SELECTION_SUB = 2,
};

// Document parameters (the document's data container).
enum : LONG {
  DOCUMENT_FPS = 1000,
  DOCUMENT_TIME = 1001,
  DOCUMENT_MINTIME = 1002,
  DOCUMENT_MAXTIME = 1003,
  DOCUMENT_LOOPMINTIME = 1004,
  DOCUMENT_LOOPMAXTIME = 1005,
  DOCUMENT_NAME = 1010,
  DOCUMENT_PATH = 1011,
  DOCUMENT_ACTIVEOBJECT = 1020,  // link
};

class BaseDocument : public BaseList2D {
 public:
  // An empty document: 30 frames per second, time 0, range and preview range 0 to 90
  // frames, named "Untitled". Null when memory is missing.
  static BaseDocument* Alloc();
  // Frees the document and everything in it (removing it from the host's list first).
  static void Free(BaseDocument*& doc);

  BaseDocument* GetNext() const { return static_cast<BaseDocument*>(GeListNode::GetNext()); }

  // Name (a file name, e.g. "scene.c4d") and the folder the document lives in.
  Filename GetDocumentName() const;
  void SetDocumentName(const Filename& name);
  Filename GetDocumentPath() const;
  void SetDocumentPath(const Filename& path);

  // --- objects
  BaseObject* GetFirstObject() const;
  // Inserts op under parent (top level when null) after pred, or as the first child
  // when pred is null. checknames is accepted for the host's signature.
  void InsertObject(BaseObject* op, BaseObject* parent, BaseObject* pred, Bool checknames = FALSE);
  // The first object of the name (depth first), or null.
  BaseObject* SearchObject(const String& name) const;
  BaseObject* GetActiveObject() const;
  void SetActiveObject(BaseObject* op, LONG mode = SELECTION_NEW);

  // --- materials
  BaseMaterial* GetFirstMaterial() const;
  // Inserts mat after pred, or first when pred is null.
  void InsertMaterial(BaseMaterial* mat, BaseMaterial* pred = nullptr, Bool checknames = FALSE);
  BaseMaterial* SearchMaterial(const String& name) const;

  // --- layers: the root's children are the document's layers
  GeListHead* GetLayerObjectRoot() const { return m_pLayers; }

  // --- time
  LONG GetFps() const;
  void SetFps(LONG fps);
  BaseTime GetTime() const;
  void SetTime(const BaseTime& t);
  BaseTime GetMinTime() const;
  void SetMinTime(const BaseTime& t);
  BaseTime GetMaxTime() const;
  void SetMaxTime(const BaseTime& t);
  // The preview range.
  BaseTime GetLoopMinTime() const;
  void SetLoopMinTime(const BaseTime& t);
  BaseTime GetLoopMaxTime() const;
  void SetLoopMaxTime(const BaseTime& t);

  // --- undo: StartUndo opens a group, AddUndo records into it, EndUndo closes it;
  // DoUndo reverts the last closed group.
  Bool StartUndo();
  // type UNDOTYPE_CHANGE before a node (object, tag, material) is changed,
  // UNDOTYPE_NEW after a node was inserted. False outside a group, for another type, or
  // when the node's state cannot be kept.
  Bool AddUndo(LONG type, void* data);
  Bool EndUndo();
  Bool DoUndo(Bool multiple = FALSE);
  // Closed undo groups that DoUndo can revert.
  LONG GetUndoCount() const;

  // A new document holding the polygonal state of this one: every generator replaced by
  // the objects it generates, every other object copied with its deformers applied (the
  // deformers themselves are left out), with names, matrices, visibility, tags, layers
  // and materials. Tracks are kept only with keepanimation.
  // Null when memory is missing.
  BaseDocument* Polygonize(Bool keepanimation = FALSE) const;

  // Evaluates the document at its time: animation plays every track of the objects and
  // their tags; caches builds the generators' caches, then runs the deformers on copies
  // of the points of the objects they sit under (GetDeformCache). Expressions and flags
  // are accepted for the host's signature (there are no expressions). bt is handed to
  // the deformers (null: the host's own thread). False when memory ran out; what could
  // be built is kept.
  Bool ExecutePasses(BaseThread* bt, Bool animation, Bool expressions, Bool caches, LONG flags);

 protected:
  friend struct NodeAccess;
  BaseDocument();
  ~BaseDocument() override;
  BaseList2D* MakeEmpty() const override;

 private:
  GeListHead* m_pObjects = nullptr;
  GeListHead* m_pMaterials = nullptr;
  GeListHead* m_pLayers = nullptr;
  struct UndoStack;
  UndoStack* m_pUndo = nullptr;
};

// A list of nodes handed between the host and a plug-in. It does not own the nodes.
class AtomArray {
 public:
  static AtomArray* Alloc();
  static void Free(AtomArray*& arr);
  LONG GetCount() const { return m_count; }
  // The index-th node, or null.
  GeListNode* GetIndex(LONG index) const;
  // False when memory is missing.
  Bool Append(GeListNode* node);
  void Flush() { m_count = 0; }

  AtomArray(const AtomArray&) = delete;
  AtomArray& operator=(const AtomArray&) = delete;

 private:
  AtomArray() = default;
  ~AtomArray();
  GeListNode** m_pNodes = nullptr;
  LONG m_count = 0;
  LONG m_capacity = 0;
};

// Modeling commands.
enum : LONG {
  MCOMMAND_CURRENTSTATETOOBJECT = 245,
  // Settings of the current state: keep the tracks on the result (Bool, off when absent).
  MDATA_CURRENTSTATETOOBJECT_KEEPANIMATION = 2141,
};

// What a modeling command works on and what it returns. The host makes result (when
// it is null) and appends the new objects; the caller owns and frees those objects,
// and the destructor frees the array.
struct ModelingCommandData {
  BaseDocument* doc = nullptr;
  BaseObject* op = nullptr;
  BaseContainer* bc = nullptr;
  LONG mode = 0;
  LONG flags = 0;
  AtomArray* result = nullptr;

  ModelingCommandData() = default;
  ModelingCommandData(const ModelingCommandData&) = delete;
  ModelingCommandData& operator=(const ModelingCommandData&) = delete;
  ~ModelingCommandData() { AtomArray::Free(result); }
};

// Runs a modeling command. MCOMMAND_CURRENTSTATETOOBJECT appends to mcd.result the
// current state of mcd.op with its children: a polygon object for a point object, its
// points as tracks and deformers leave them at the document's time (run ExecutePasses
// first for the tracks); for a generator the objects it generates (a null with children
// for the array). False for another command, without an object, or when memory is
// missing (nothing is appended then).
Bool SendModelingCommand(LONG command, ModelingCommandData& mcd);

// The host's open documents. Inserted documents belong to the host.
void InsertBaseDocument(BaseDocument* doc);
BaseDocument* GetFirstDocument();
BaseDocument* GetActiveDocument();
void SetActiveDocument(BaseDocument* doc);
// Removes the document from the host's list and frees it.
void KillDocument(BaseDocument*& doc);
