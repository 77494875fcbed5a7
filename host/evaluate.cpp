// Evaluation: playing the tracks, building generator caches, running deformers on
// copies of the points they deform, the current state as a modeling command, and the
// host's event, redraw and thread calls (counted: the embedded host has no views).
#include <atomic>
#include <cstring>

#include "c4d_memory.h"
#include "dialog_internal.h"
#include "host_control.h"
#include "host_internal.h"
#include "scene_internal.h"

namespace {

struct EvaluationState {
  std::atomic<LLONG> events{0};
  std::atomic<LLONG> draws{0};
  std::atomic<LONG> lastDrawFlags{0};
  std::atomic<LLONG> stops{0};
  std::atomic<LLONG> breakAfter{-1};  // TestBreak answers false this many more times
  std::atomic<LLONG> breakTests{0};
};

EvaluationState& State() {
  static EvaluationState state;
  return state;
}

// The thread evaluation runs on when the caller names none.
BaseThread& HostThread() {
  static BaseThread thread;
  return thread;
}

// FNV-1a over the bytes of values: what a deform cache was built from.
struct Stamp {
  LULONG hash = 1469598103934665603ull;
  void Add(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  }
  template <class T>
  void Add(const T& value) {
    Add(&value, sizeof(value));
  }
  void AddNode(const BaseObject* op) {
    Add(NodeAccess::Serial(op));
    Add(op->GetDirty(DIRTYFLAGS_DATA | DIRTYFLAGS_MATRIX));
    const Matrix mg = op->GetMg();
    for (const Vector* v : {&mg.off, &mg.v1, &mg.v2, &mg.v3}) Add(*v);
  }
};

bool HasActiveDeformer(const BaseObject* op) {
  for (const BaseObject* child = op->GetDown(); child; child = child->GetNext())
    if (IsActiveDeformer(child)) return true;
  return false;
}

void CheckDeformers(BaseObject* op, BaseDocument* doc) {
  for (BaseObject* child = op->GetDown(); child; child = child->GetNext())
    if (IsActiveDeformer(child)) static_cast<ObjectData*>(child->GetNodeData())->CheckDirty(child, doc);
}

LULONG DeformStamp(const BaseObject* op) {
  Stamp stamp;
  stamp.AddNode(op);
  for (const BaseObject* child = op->GetDown(); child; child = child->GetNext())
    if (IsActiveDeformer(child)) stamp.AddNode(child);
  return stamp.hash ? stamp.hash : 1;
}

// A copy of a point object's own points (and tags) for deformers to work on.
BaseObject* PointCopy(const BaseObject* op) {
  return static_cast<BaseObject*>(NodeAccess::CloneAlone(op, COPYFLAGS_NO_ANIMATION, nullptr));
}

// Deform caches for the point objects of a generator's cache; mg is where node stands.
bool DeformGenerated(const BaseObject* source, BaseObject* node, const Matrix& mg, BaseThread* bt) {
  bool ok = true;
  if (node->IsInstanceOf(Opoint)) {
    BaseObject* copy = PointCopy(node);
    if (copy)
      RunDeformers(source, copy, mg, bt);
    else
      ok = false;
    NodeAccess::SetDeformCache(node, copy, 0);
  }
  for (BaseObject* child = node->GetDown(); child; child = child->GetNext())
    ok = DeformGenerated(source, child, mg * child->GetMl(), bt) && ok;
  return ok;
}

bool BuildCaches(BaseObject* op, BaseDocument* doc, BaseThread* bt) {
  bool ok = true;
  const bool deformed = HasActiveDeformer(op);
  if (IsGenerator(op->GetType())) {
    // Generators are cheap to rebuild and read their input children: built every pass.
    BaseObject* cache = MakeGenerated(op, COPYFLAGS_NO_ANIMATION, nullptr);
    ok = cache != nullptr;
    NodeAccess::SetCache(op, cache);
    if (cache && deformed) {
      CheckDeformers(op, doc);
      ok = DeformGenerated(op, cache, op->GetMg(), bt);
    }
  } else if (op->IsInstanceOf(Opoint) && deformed) {
    CheckDeformers(op, doc);
    const LULONG stamp = DeformStamp(op);
    if (!NodeAccess::DeformCache(op) || NodeAccess::DeformStamp(op) != stamp) {
      BaseObject* copy = PointCopy(op);
      ok = copy != nullptr;
      if (copy) RunDeformers(op, copy, op->GetMg(), bt);
      NodeAccess::SetDeformCache(op, copy, copy ? stamp : 0);
    }
  } else {
    NodeAccess::SetCache(op, nullptr);
    NodeAccess::SetDeformCache(op, nullptr, 0);
  }
  for (BaseObject* child = op->GetDown(); child; child = child->GetNext()) ok = BuildCaches(child, doc, bt) && ok;
  return ok;
}

void AnimateNode(BaseList2D* node, const BaseTime& time) {
  for (CTrack* track = node->GetFirstCTrack(); track; track = track->GetNext()) track->Animate(time);
}

void AnimateObjects(BaseObject* op, const BaseTime& time) {
  for (; op; op = op->GetNext()) {
    AnimateNode(op, time);
    for (BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext()) AnimateNode(tag, time);
    AnimateObjects(op->GetDown(), time);
  }
}

}  // namespace

// --- threads ------------------------------------------------------------------------------

Bool BaseThread::TestBreak() {
  EvaluationState& s = State();
  ++s.breakTests;
  LLONG left = s.breakAfter.load();
  while (left > 0 && !s.breakAfter.compare_exchange_weak(left, left - 1)) {
  }
  return left == 0;
}

// --- object plug-ins ----------------------------------------------------------------------

Bool ObjectData::ModifyObject(BaseObject*, BaseDocument*, BaseObject*, const Matrix&, const Matrix&, Real, LONG,
                              BaseThread*) {
  return TRUE;
}

void ObjectData::CheckDirty(BaseObject*, BaseDocument*) {}

void ObjectData::GetDimension(BaseObject*, Vector* mp, Vector* rad) {
  if (mp) *mp = Vector();
  if (rad) *rad = Vector();
}

bool IsActiveDeformer(const BaseObject* op) {
  if (!op || !op->GetNodeData() || !op->GetDeformMode()) return false;
  const BasePlugin* plugin = FindPlugin(op->GetType(), PLUGINTYPE_OBJECT);
  return plugin && (plugin->GetInfo() & OBJECT_MODIFIER);
}

void RunDeformers(const BaseObject* source, BaseObject* target, const Matrix& target_mg, BaseThread* thread) {
  BaseDocument* doc = source->GetDocument();
  if (!doc) return;
  BaseThread* bt = thread ? thread : &HostThread();
  for (BaseObject* child = source->GetDown(); child; child = child->GetNext()) {
    if (!IsActiveDeformer(child)) continue;
    auto* data = static_cast<ObjectData*>(child->GetNodeData());
    if (!data->ModifyObject(child, doc, target, target_mg, child->GetMg(), 1.0, 0, bt)) break;
  }
}

// --- documents ----------------------------------------------------------------------------

Bool BaseDocument::ExecutePasses(BaseThread* bt, Bool animation, Bool, Bool caches, LONG) {
  if (animation) AnimateObjects(GetFirstObject(), GetTime());
  bool ok = true;
  if (caches) {
    BaseThread* thread = bt ? bt : &HostThread();
    for (BaseObject* op = GetFirstObject(); op; op = op->GetNext()) ok = BuildCaches(op, this, thread) && ok;
  }
  return ok;
}

// --- node lists ---------------------------------------------------------------------------

AtomArray* AtomArray::Alloc() { return gNew AtomArray; }

void AtomArray::Free(AtomArray*& arr) {
  if (!arr) return;
  arr->~AtomArray();
  GeFreeTagged(arr);
  arr = nullptr;
}

AtomArray::~AtomArray() { bDelete(m_pNodes); }

GeListNode* AtomArray::GetIndex(LONG index) const {
  return (index >= 0 && index < m_count) ? m_pNodes[index] : nullptr;
}

Bool AtomArray::Append(GeListNode* node) {
  if (m_count == m_capacity) {
    if (m_capacity > 0x3FFFFFFF) return FALSE;
    const LONG capacity = m_capacity ? m_capacity * 2 : 8;
    auto** nodes = static_cast<GeListNode**>(GeRealloc(m_pNodes, static_cast<VLONG>(capacity) * static_cast<VLONG>(sizeof(GeListNode*))));
    if (!nodes) return FALSE;
    m_pNodes = nodes;
    m_capacity = capacity;
  }
  m_pNodes[m_count++] = node;
  return TRUE;
}

// --- modeling commands --------------------------------------------------------------------

Bool SendModelingCommand(LONG command, ModelingCommandData& mcd) {
  if (command != MCOMMAND_CURRENTSTATETOOBJECT || !mcd.op) return FALSE;
  const bool keep = mcd.bc && mcd.bc->GetBool(MDATA_CURRENTSTATETOOBJECT_KEEPANIMATION);
  AliasTrans* trn = AliasTrans::Alloc();
  if (!trn) return FALSE;
  trn->Init(mcd.doc);
  BaseObject* state = MakePolygonalTree(mcd.op, keep ? COPYFLAGS_0 : COPYFLAGS_NO_ANIMATION, trn);
  // Links between the copied nodes point at the copies; others keep their targets.
  if (state) trn->Translate(TRUE);
  AliasTrans::Free(trn);
  if (!state) return FALSE;
  const bool made = mcd.result == nullptr;
  if (made) mcd.result = AtomArray::Alloc();
  if (!mcd.result || !mcd.result->Append(state)) {
    BaseObject::Free(state);
    if (made) AtomArray::Free(mcd.result);
    return FALSE;
  }
  return TRUE;
}

// --- events, views, threads ---------------------------------------------------------------

// Posting an event lets the host run its message loop: open non-modal dialogs take the
// user's actions addressed to them.
void EventAdd(LONG) {
  ++State().events;
  host::internal::PumpAsyncDialogs();
}

Bool DrawViews(LONG flags) {
  ++State().draws;
  State().lastDrawFlags = flags;
  return TRUE;
}

void StopAllThreads() { ++State().stops; }
void GeStopAllThreads() { StopAllThreads(); }

namespace host {

LLONG EventCount() { return State().events; }
LLONG DrawViewsCount() { return State().draws; }
LONG LastDrawViewsFlags() { return State().lastDrawFlags; }
LLONG StopAllThreadsCount() { return State().stops; }
void BreakThreadsAfter(LLONG n) { State().breakAfter = n < 0 ? -1 : n; }
LLONG ThreadBreakTests() { return State().breakTests; }

}  // namespace host

namespace host::internal {

void ResetEvaluation() {
  EvaluationState& s = State();
  s.events = 0;
  s.draws = 0;
  s.lastDrawFlags = 0;
  s.stops = 0;
  s.breakAfter = -1;
  s.breakTests = 0;
}

}  // namespace host::internal
