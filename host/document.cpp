// Documents: object tree, materials, layers, time, undo, the polygonised copy, and the
// host's list of open documents.
#include <vector>

#include "c4d_memory.h"
#include "host_control.h"
#include "host_internal.h"
#include "scene_internal.h"

// --- undo -------------------------------------------------------------------------------

namespace {

struct UndoRecord {
  LONG type;
  LLONG serial;                    // the node the record is about
  BaseList2D* snapshot = nullptr;  // UNDOTYPE_CHANGE: the node's state before the change
  AliasTrans* copies = nullptr;    // which nodes the snapshot holds copies of
};

void FreeRecords(std::vector<UndoRecord>& records) {
  for (UndoRecord& r : records) {
    NodeAccess::Destroy(r.snapshot);
    AliasTrans::Free(r.copies);
  }
  records.clear();
}

}  // namespace

struct BaseDocument::UndoStack {
  std::vector<std::vector<UndoRecord>> groups;  // closed groups, oldest first
  std::vector<UndoRecord> open;
  LONG depth = 0;  // StartUndo calls not yet ended

  ~UndoStack() {
    FreeRecords(open);
    for (auto& group : groups) FreeRecords(group);
  }
};

Bool BaseDocument::StartUndo() {
  if (m_pUndo->depth++ == 0) FreeRecords(m_pUndo->open);
  return TRUE;
}

Bool BaseDocument::AddUndo(LONG type, void* data) {
  if (m_pUndo->depth == 0 || !data) return FALSE;
  auto* node = static_cast<BaseList2D*>(static_cast<GeListNode*>(data));
  UndoRecord record{type, NodeAccess::Serial(node)};
  switch (type) {
    case UNDOTYPE_CHANGE:
      record.copies = AliasTrans::Alloc();
      if (record.copies) record.snapshot = NodeAccess::CloneAlone(node, COPYFLAGS_0, record.copies);
      if (!record.snapshot) {
        AliasTrans::Free(record.copies);
        return FALSE;
      }
      break;
    case UNDOTYPE_NEW:
      break;
    default:
      return FALSE;
  }
  m_pUndo->open.push_back(record);
  return TRUE;
}

Bool BaseDocument::EndUndo() {
  if (m_pUndo->depth == 0) return FALSE;
  if (--m_pUndo->depth == 0 && !m_pUndo->open.empty()) {
    m_pUndo->groups.push_back(std::move(m_pUndo->open));
    m_pUndo->open.clear();
  }
  return TRUE;
}

Bool BaseDocument::DoUndo(Bool multiple) {
  if (m_pUndo->groups.empty()) return FALSE;
  do {
    std::vector<UndoRecord> group = std::move(m_pUndo->groups.back());
    m_pUndo->groups.pop_back();
    // Latest first. A state restored by a change record taken after a node was
    // recorded as new may hold a copy of it: such copies go with the new node. A change
    // recorded before holds the node only when it existed already (a key added at the
    // time of an existing key is that key), and then its copy is what undo restores.
    for (size_t i = group.size(); i-- > 0;) {
      const UndoRecord& record = group[i];
      BaseList2D* node = host::internal::FindNode(record.serial);
      if (record.type == UNDOTYPE_CHANGE) {
        if (node) NodeAccess::SwapContent(node, record.snapshot);
        continue;
      }
      NodeAccess::Destroy(node);
      for (size_t j = i + 1; j < group.size(); ++j)
        if (group[j].type == UNDOTYPE_CHANGE)
          NodeAccess::Destroy(host::internal::FindNode(NodeAccess::CopyOf(group[j].copies, record.serial)));
    }
    FreeRecords(group);
  } while (multiple && !m_pUndo->groups.empty());
  return TRUE;
}

LONG BaseDocument::GetUndoCount() const { return static_cast<LONG>(m_pUndo->groups.size()); }

// --- the host's list of documents ---------------------------------------------------------

namespace {

struct DocumentList {
  BaseDocument* first = nullptr;  // documents are linked as siblings without a parent
  LLONG active = 0;               // node number of the active document
};

DocumentList& Documents() {
  static DocumentList list;
  return list;
}

bool IsListed(const BaseDocument* doc) {
  for (BaseDocument* d = Documents().first; d; d = d->GetNext())
    if (d == doc) return true;
  return false;
}

void Unlist(BaseDocument* doc) {
  DocumentList& list = Documents();
  if (!IsListed(doc)) return;
  if (list.first == doc) list.first = doc->GetNext();
  doc->Remove();
}

}  // namespace

// --- BaseDocument -------------------------------------------------------------------------

BaseDocument::BaseDocument() : BaseList2D(Tbasedocument, Tbasedocument) {}

BaseDocument::~BaseDocument() {
  // Undo snapshots and objects may link materials and layers: they go first.
  delete m_pUndo;
  if (m_pObjects) NodeAccess::Destroy(m_pObjects);
  if (m_pMaterials) NodeAccess::Destroy(m_pMaterials);
  if (m_pLayers) NodeAccess::Destroy(m_pLayers);
}

BaseDocument* NodeAccess::MakeDocument() {
  BaseDocument* doc = gNew BaseDocument;
  if (!doc) return nullptr;
  doc->m_pUndo = new (std::nothrow) BaseDocument::UndoStack;
  doc->m_pObjects = GeListHead::Alloc();
  doc->m_pMaterials = GeListHead::Alloc();
  doc->m_pLayers = GeListHead::Alloc();
  if (!doc->m_pUndo || !doc->m_pObjects || !doc->m_pMaterials || !doc->m_pLayers) {
    Destroy(doc);
    return nullptr;
  }
  doc->m_pObjects->SetParent(doc);
  doc->m_pMaterials->SetParent(doc);
  doc->m_pLayers->SetParent(doc);
  doc->SetName(String("Untitled"));
  BaseContainer* bc = doc->GetDataInstance();
  bc->SetLong(DOCUMENT_FPS, 30);
  bc->SetTime(DOCUMENT_TIME, BaseTime(0.0));
  bc->SetTime(DOCUMENT_MINTIME, BaseTime(0.0));
  bc->SetTime(DOCUMENT_MAXTIME, BaseTime(90.0, 30.0));
  bc->SetTime(DOCUMENT_LOOPMINTIME, BaseTime(0.0));
  bc->SetTime(DOCUMENT_LOOPMAXTIME, BaseTime(90.0, 30.0));
  bc->SetFilename(DOCUMENT_NAME, Filename("Untitled.c4d"));
  bc->SetFilename(DOCUMENT_PATH, Filename());
  bc->SetLink(DOCUMENT_ACTIVEOBJECT, nullptr);
  return doc;
}

BaseDocument* BaseDocument::Alloc() { return NodeAccess::MakeDocument(); }

void BaseDocument::Free(BaseDocument*& doc) {
  if (!doc) return;
  if (GetActiveDocument() == doc) SetActiveDocument(nullptr);
  Unlist(doc);
  NodeAccess::Destroy(doc);
  doc = nullptr;
}

BaseList2D* BaseDocument::MakeEmpty() const { return NodeAccess::MakeDocument(); }

Filename BaseDocument::GetDocumentName() const { return GetDataInstance()->GetFilename(DOCUMENT_NAME); }
void BaseDocument::SetDocumentName(const Filename& name) { GetDataInstance()->SetFilename(DOCUMENT_NAME, name); }
Filename BaseDocument::GetDocumentPath() const { return GetDataInstance()->GetFilename(DOCUMENT_PATH); }
void BaseDocument::SetDocumentPath(const Filename& path) { GetDataInstance()->SetFilename(DOCUMENT_PATH, path); }

BaseObject* BaseDocument::GetFirstObject() const { return static_cast<BaseObject*>(m_pObjects->GetFirst()); }

void BaseDocument::InsertObject(BaseObject* op, BaseObject* parent, BaseObject* pred, Bool) {
  if (!op || op == parent || op == pred) return;
  if (parent && parent->GetDocument() != this) return;
  const bool predFits = pred && pred->GetDocument() == this && pred->GetUp() == parent;
  if (predFits)
    op->InsertAfter(pred);
  else if (parent)
    op->InsertUnder(parent);
  else
    m_pObjects->InsertFirst(op);
}

BaseObject* BaseDocument::SearchObject(const String& name) const {
  // Depth first without recursion: down, else next, else up until a next exists.
  for (BaseObject* op = GetFirstObject(); op;) {
    if (op->GetName() == name) return op;
    if (op->GetDown()) {
      op = op->GetDown();
      continue;
    }
    while (op && !op->GetNext()) op = op->GetUp();
    if (op) op = op->GetNext();
  }
  return nullptr;
}

BaseObject* BaseDocument::GetActiveObject() const {
  return static_cast<BaseObject*>(GetDataInstance()->GetLink(DOCUMENT_ACTIVEOBJECT, this, Obase));
}

void BaseDocument::SetActiveObject(BaseObject* op, LONG mode) {
  BaseObject* previous = GetActiveObject();
  if (mode == SELECTION_SUB) {
    if (op) op->DelBit(BIT_ACTIVE);
    if (op == previous) GetDataInstance()->SetLink(DOCUMENT_ACTIVEOBJECT, nullptr);
    return;
  }
  if (mode == SELECTION_NEW && previous) previous->DelBit(BIT_ACTIVE);
  if (op && op->GetDocument() != this) op = nullptr;
  if (op) op->SetBit(BIT_ACTIVE);
  GetDataInstance()->SetLink(DOCUMENT_ACTIVEOBJECT, op);
}

BaseMaterial* BaseDocument::GetFirstMaterial() const { return static_cast<BaseMaterial*>(m_pMaterials->GetFirst()); }

void BaseDocument::InsertMaterial(BaseMaterial* mat, BaseMaterial* pred, Bool) {
  if (!mat || mat == pred) return;
  if (pred && pred->GetListHead() == m_pMaterials)
    mat->InsertAfter(pred);
  else
    m_pMaterials->InsertFirst(mat);
}

BaseMaterial* BaseDocument::SearchMaterial(const String& name) const {
  for (BaseMaterial* mat = GetFirstMaterial(); mat; mat = mat->GetNext())
    if (mat->GetName() == name) return mat;
  return nullptr;
}

LONG BaseDocument::GetFps() const { return GetDataInstance()->GetLong(DOCUMENT_FPS, 30); }
void BaseDocument::SetFps(LONG fps) { GetDataInstance()->SetLong(DOCUMENT_FPS, fps > 0 ? fps : 1); }
BaseTime BaseDocument::GetTime() const { return GetDataInstance()->GetTime(DOCUMENT_TIME); }
void BaseDocument::SetTime(const BaseTime& t) { GetDataInstance()->SetTime(DOCUMENT_TIME, t); }
BaseTime BaseDocument::GetMinTime() const { return GetDataInstance()->GetTime(DOCUMENT_MINTIME); }
void BaseDocument::SetMinTime(const BaseTime& t) { GetDataInstance()->SetTime(DOCUMENT_MINTIME, t); }
BaseTime BaseDocument::GetMaxTime() const { return GetDataInstance()->GetTime(DOCUMENT_MAXTIME); }
void BaseDocument::SetMaxTime(const BaseTime& t) { GetDataInstance()->SetTime(DOCUMENT_MAXTIME, t); }
BaseTime BaseDocument::GetLoopMinTime() const { return GetDataInstance()->GetTime(DOCUMENT_LOOPMINTIME); }
void BaseDocument::SetLoopMinTime(const BaseTime& t) { GetDataInstance()->SetTime(DOCUMENT_LOOPMINTIME, t); }
BaseTime BaseDocument::GetLoopMaxTime() const { return GetDataInstance()->GetTime(DOCUMENT_LOOPMAXTIME); }
void BaseDocument::SetLoopMaxTime(const BaseTime& t) { GetDataInstance()->SetTime(DOCUMENT_LOOPMAXTIME, t); }

BaseDocument* BaseDocument::Polygonize(Bool keepanimation) const {
  BaseDocument* copy = NodeAccess::MakeDocument();
  AliasTrans* trn = AliasTrans::Alloc();
  if (!copy || !trn) {
    BaseDocument::Free(copy);
    AliasTrans::Free(trn);
    return nullptr;
  }
  trn->Init(this);
  const LONG flags = keepanimation ? COPYFLAGS_0 : COPYFLAGS_NO_ANIMATION;
  copy->SetName(GetName());
  copy->SetData(GetData(), FALSE);
  bool ok = true;
  for (const GeListNode* layer = m_pLayers->GetFirst(); layer && ok; layer = layer->GetNext()) {
    BaseList2D* layerCopy = static_cast<const BaseList2D*>(layer)->GetClone(flags, trn);
    ok = layerCopy != nullptr;
    if (ok) copy->m_pLayers->InsertLast(layerCopy);
  }
  for (const BaseMaterial* mat = GetFirstMaterial(); mat && ok; mat = mat->GetNext()) {
    BaseList2D* matCopy = mat->GetClone(flags, trn);
    ok = matCopy != nullptr;
    if (ok) copy->m_pMaterials->InsertLast(matCopy);
  }
  for (const BaseObject* op = GetFirstObject(); op && ok; op = op->GetNext()) {
    BaseObject* tree = MakePolygonalTree(op, flags, trn);
    ok = tree != nullptr;
    if (ok) copy->m_pObjects->InsertLast(tree);
  }
  if (ok) {
    // The copy's own links (its active object) follow too.
    NodeAccess::RecordCopy(trn, this, copy);
    trn->Translate(TRUE);
  } else {
    BaseDocument::Free(copy);
  }
  AliasTrans::Free(trn);
  return copy;
}

void InsertBaseDocument(BaseDocument* doc) {
  DocumentList& list = Documents();
  if (!doc || IsListed(doc) || doc->GetUp() || doc->GetPred() || doc->GetNext()) return;
  BaseDocument* last = list.first;
  while (last && last->GetNext()) last = last->GetNext();
  if (last)
    doc->InsertAfter(last);
  else
    list.first = doc;
}

BaseDocument* GetFirstDocument() { return Documents().first; }

BaseDocument* GetActiveDocument() {
  BaseList2D* node = host::internal::FindNode(Documents().active);
  return node && node->GetType() == Tbasedocument ? static_cast<BaseDocument*>(node) : nullptr;
}

void SetActiveDocument(BaseDocument* doc) {
  if (doc) InsertBaseDocument(doc);
  Documents().active = NodeAccess::Serial(doc);
}

void KillDocument(BaseDocument*& doc) { BaseDocument::Free(doc); }

namespace host::internal {

void ResetDocuments() {
  DocumentList& list = Documents();
  while (list.first) {
    BaseDocument* doc = list.first;
    KillDocument(doc);
  }
  list.active = 0;
}

}  // namespace host::internal

namespace host {

void FreeDocuments() { internal::ResetDocuments(); }

LLONG UpdateMessageCount(const GeListNode* node) { return node ? NodeAccess::UpdateCount(node) : 0; }

}  // namespace host
