#include "ngonsplit.h"

NgonSplitter::~NgonSplitter() {
  Modeling::Free(m_modeling);
  BaseObject* object = m_object;
  BaseObject::Free(object);
  bDelete(m_ids);
}

const CPolygon* NgonSplitter::Split(LONG cornerCount, const Vector* corners, LONG* count, Bool* outOfMemory) {
  *count = 0;
  if (cornerCount < 3 || !corners) return nullptr;
  if (!m_modeling) m_modeling = Modeling::Alloc();
  if (!m_object) m_object = PolygonObject::Alloc(0, 0);
  if (cornerCount > m_idRoom) {
    bDelete(m_ids);
    m_idRoom = 0;
    if ((m_ids = bNew(LONG, cornerCount))) m_idRoom = cornerCount;
  }
  // The object keeps what the last outline made until it is emptied here; its points
  // and polygons are then the new outline's alone.
  if (!m_modeling || !m_object || !m_ids || !m_object->ResizeObject(0, 0) || !m_modeling->InitObject(m_object, 0)) {
    *outOfMemory = TRUE;
    return nullptr;
  }
  for (LONG i = 0; i < cornerCount; ++i)
    if (!(m_ids[i] = m_modeling->AddPoint(m_object, corners[i]))) return nullptr;
  // From here a refused outline and missing memory look alike: the n-gon is left unsplit.
  if (!m_modeling->CreateNgon(m_object, m_ids, cornerCount, 0) || !m_modeling->Commit(m_object, 0, nullptr))
    return nullptr;
  *count = m_object->GetPolygonCount();
  return m_object->GetPolygonR();
}
