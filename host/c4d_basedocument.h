// Documents: the object tree, materials, layers, time, undo, the polygonised copy, and
// the host's list of open documents with the active one.
#pragma once

#include "c4d_basematerial.h"
#include "c4d_baseobject.h"
#include "c4d_basetag.h"
#include "c4d_basetime.h"
#include "c4d_file.h"

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
  // the objects it generates, every other object copied, with names, matrices,
  // visibility, tags, layers and materials. keepanimation is accepted for the host's
  // signature (the scene has no animation yet).
  // Null when memory is missing.
  BaseDocument* Polygonize(Bool keepanimation = FALSE) const;

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

// The host's open documents. Inserted documents belong to the host.
void InsertBaseDocument(BaseDocument* doc);
BaseDocument* GetFirstDocument();
BaseDocument* GetActiveDocument();
void SetActiveDocument(BaseDocument* doc);
// Removes the document from the host's list and frees it.
void KillDocument(BaseDocument*& doc);
