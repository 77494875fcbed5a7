#include "c4d_basecontainer.h"

#include <algorithm>

#include "c4d_baselist.h"
#include "host_internal.h"

// --- GeData -------------------------------------------------------------------

GeData::GeData(const BaseContainer& bc) : m_type(DA_CONTAINER), m_container(new BaseContainer(bc)) {}

GeData::GeData(const GeData& o)
    : m_type(o.m_type),
      m_long(o.m_long),
      m_llong(o.m_llong),
      m_real(o.m_real),
      m_denominator(o.m_denominator),
      m_vector(o.m_vector),
      m_matrix(o.m_matrix),
      m_string(o.m_string),
      m_container(o.m_container ? new BaseContainer(*o.m_container) : nullptr) {}

GeData& GeData::operator=(const GeData& o) {
  if (this == &o) return *this;
  // The copy is made before the old value goes: o may live inside the container
  // this value holds.
  std::unique_ptr<BaseContainer> container(o.m_container ? new BaseContainer(*o.m_container) : nullptr);
  m_type = o.m_type;
  m_long = o.m_long;
  m_llong = o.m_llong;
  m_real = o.m_real;
  m_denominator = o.m_denominator;
  m_vector = o.m_vector;
  m_matrix = o.m_matrix;
  m_string = o.m_string;
  m_container = std::move(container);
  return *this;
}

GeData::~GeData() = default;

LONG GeData::GetLong() const { return m_type == DA_LONG ? m_long : 0; }

LLONG GeData::GetLLong() const {
  if (m_type == DA_LLONG) return m_llong;
  if (m_type == DA_LONG) return m_long;
  return 0;
}

Real GeData::GetReal() const {
  switch (m_type) {
    case DA_REAL:
      return m_real;
    case DA_LONG:
      return static_cast<Real>(m_long);
    case DA_LLONG:
      return static_cast<Real>(m_llong);
    default:
      return 0.0;
  }
}

static bool SameMatrix(const Matrix& a, const Matrix& b) {
  return a.off == b.off && a.v1 == b.v1 && a.v2 == b.v2 && a.v3 == b.v3;
}

bool GeData::operator==(const GeData& o) const {
  if (m_type != o.m_type) return false;
  switch (m_type) {
    case DA_NIL:
      return true;
    case DA_LONG:
      return m_long == o.m_long;
    case DA_LLONG:
    case DA_ALIASLINK:
      return m_llong == o.m_llong;
    case DA_REAL:
      return m_real == o.m_real;
    case DA_TIME:
      return m_real == o.m_real && m_denominator == o.m_denominator;
    case DA_VECTOR:
      return m_vector == o.m_vector;
    case DA_MATRIX:
      return SameMatrix(m_matrix, o.m_matrix);
    case DA_STRING:
    case DA_FILENAME:
      return m_string == o.m_string;
    case CUSTOMDATATYPE_BITMAPBUTTON:
      return m_llong == o.m_llong && m_long == o.m_long && m_real == o.m_real;
    case DA_CONTAINER:
      if (!m_container || !o.m_container) return m_container == o.m_container;
      return *m_container == *o.m_container;
    default:
      return false;
  }
}

GeData::GeData(LONG type, const BitmapButtonStruct& bbs) {
  if (type != CUSTOMDATATYPE_BITMAPBUTTON) return;
  m_type = type;
  m_llong = host::internal::NodeSerial(bbs.op);
  m_long = bbs.id;
  m_real = bbs.dirty;
}

BitmapButtonStruct GeData::GetBitmapButton() const {
  if (m_type != CUSTOMDATATYPE_BITMAPBUTTON) return BitmapButtonStruct();
  return BitmapButtonStruct(LinkSerial(m_llong).GetLink(nullptr), m_long, LONG(m_real));
}

void GeData::SetBaseList2D(const BaseList2D* node) { *this = LinkSerial(host::internal::NodeSerial(node)); }

GeData GeData::LinkSerial(LLONG serial) {
  GeData data;
  data.m_type = DA_ALIASLINK;
  data.m_llong = serial;
  return data;
}

BaseList2D* GeData::GetLink(const BaseDocument* doc, LONG instanceof) const {
  if (m_type != DA_ALIASLINK || m_llong <= 0) return nullptr;
  BaseList2D* node = host::internal::FindNode(m_llong);
  if (!node) return nullptr;
  if (doc && node->GetDocument() != doc) return nullptr;
  if (instanceof != 0 && !node->IsInstanceOf(instanceof)) return nullptr;
  return node;
}

// --- BaseContainer ----------------------------------------------------------------

const BaseContainer::Entry* BaseContainer::Find(LONG id) const {
  if (m_ascending) {
    const auto it = std::lower_bound(m_entries.begin(), m_entries.end(), id,
                                     [](const Entry& e, LONG wanted) { return e.id < wanted; });
    return it != m_entries.end() && it->id == id ? &*it : nullptr;
  }
  for (const Entry& e : m_entries)
    if (e.id == id) return &e;
  return nullptr;
}

void BaseContainer::Append(LONG id, GeData&& value) {
  if (!m_entries.empty() && id <= m_entries.back().id) m_ascending = false;
  m_entries.push_back(Entry{id, std::move(value)});
}

LONG BaseContainer::GetLong(LONG id, LONG preset) const {
  const Entry* e = Find(id);
  return (e && e->value.GetType() == DA_LONG) ? e->value.GetLong() : preset;
}

Bool BaseContainer::GetBool(LONG id, Bool preset) const {
  const Entry* e = Find(id);
  return (e && e->value.GetType() == DA_LONG) ? e->value.GetBool() : preset;
}

LLONG BaseContainer::GetLLong(LONG id, LLONG preset) const {
  const Entry* e = Find(id);
  if (!e) return preset;
  const LONG type = e->value.GetType();
  return (type == DA_LLONG || type == DA_LONG) ? e->value.GetLLong() : preset;
}

Real BaseContainer::GetReal(LONG id, Real preset) const {
  const Entry* e = Find(id);
  if (!e) return preset;
  const LONG type = e->value.GetType();
  return (type == DA_REAL || type == DA_LONG || type == DA_LLONG) ? e->value.GetReal() : preset;
}

Vector BaseContainer::GetVector(LONG id, const Vector& preset) const {
  const Entry* e = Find(id);
  return (e && e->value.GetType() == DA_VECTOR) ? e->value.GetVector() : preset;
}

Matrix BaseContainer::GetMatrix(LONG id, const Matrix& preset) const {
  const Entry* e = Find(id);
  return (e && e->value.GetType() == DA_MATRIX) ? e->value.GetMatrix() : preset;
}

String BaseContainer::GetString(LONG id, const String& preset) const {
  const Entry* e = Find(id);
  if (!e) return preset;
  const LONG type = e->value.GetType();
  return (type == DA_STRING || type == DA_FILENAME) ? e->value.GetString() : preset;
}

Filename BaseContainer::GetFilename(LONG id, const Filename& preset) const {
  const Entry* e = Find(id);
  if (!e) return preset;
  const LONG type = e->value.GetType();
  return (type == DA_STRING || type == DA_FILENAME) ? e->value.GetFilename() : preset;
}

BaseTime BaseContainer::GetTime(LONG id, const BaseTime& preset) const {
  const Entry* e = Find(id);
  return (e && e->value.GetType() == DA_TIME) ? e->value.GetTime() : preset;
}

BaseList2D* BaseContainer::GetLink(LONG id, const BaseDocument* doc, LONG instanceof) const {
  const Entry* e = Find(id);
  return e ? e->value.GetLink(doc, instanceof) : nullptr;
}

void BaseContainer::SetLink(LONG id, const BaseList2D* node) {
  GeData link;
  link.SetBaseList2D(node);
  SetData(id, link);
}

BaseContainer BaseContainer::GetContainer(LONG id) const {
  const BaseContainer* bc = GetContainerInstance(id);
  return bc ? *bc : BaseContainer();
}

BaseContainer* BaseContainer::GetContainerInstance(LONG id) {
  const Entry* e = Find(id);
  return e ? e->value.GetContainer() : nullptr;
}

const BaseContainer* BaseContainer::GetContainerInstance(LONG id) const {
  const Entry* e = Find(id);
  return e ? e->value.GetContainer() : nullptr;
}

const GeData* BaseContainer::GetDataPointer(LONG id) const {
  const Entry* e = Find(id);
  return e ? &e->value : nullptr;
}

GeData BaseContainer::GetData(LONG id) const {
  const Entry* e = Find(id);
  return e ? e->value : GeData();
}

void BaseContainer::SetData(LONG id, const GeData& value) {
  if (const Entry* e = Find(id)) {
    const_cast<Entry*>(e)->value = value;
    return;
  }
  // Copied first: value may be an entry of this container, which the growth of the
  // vector would move.
  GeData copy(value);
  Append(id, std::move(copy));
}

Bool BaseContainer::RemoveData(LONG id) {
  const Entry* e = Find(id);
  if (!e) return FALSE;
  m_entries.erase(m_entries.begin() + (e - m_entries.data()));
  return TRUE;
}

LONG BaseContainer::GetIndexId(LONG index) const {
  if (index < 0 || index >= GetEntryCount()) return NOTOK;
  return m_entries[static_cast<size_t>(index)].id;
}

const GeData* BaseContainer::GetIndexData(LONG index) const {
  if (index < 0 || index >= GetEntryCount()) return nullptr;
  return &m_entries[static_cast<size_t>(index)].value;
}
