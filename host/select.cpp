// BaseSelect: ascending, disjoint, non-adjacent ranges of selected indices. Selecting in
// ascending order (the common case) extends the last range without a search.
#include <cstring>

#include "c4d_basetag.h"
#include "c4d_memory.h"

BaseSelect* BaseSelect::Alloc() { return gNew BaseSelect; }

void BaseSelect::Free(BaseSelect*& bs) { gDelete(bs); }

BaseSelect::~BaseSelect() { bDelete(m_pRanges); }

LONG BaseSelect::Find(LONG num) const {
  LONG lo = 0, hi = m_rangeCount;
  while (lo < hi) {
    const LONG mid = lo + (hi - lo) / 2;
    if (m_pRanges[mid].b < num)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

Bool BaseSelect::Reserve(LONG count) {
  if (count <= m_capacity) return TRUE;
  LONG capacity = m_capacity > 0 ? m_capacity : 4;
  while (capacity < count) capacity = capacity > 0x3FFFFFFF ? count : capacity * 2;
  auto* ranges = static_cast<Range*>(GeRealloc(m_pRanges, static_cast<VLONG>(capacity) * sizeof(Range)));
  if (!ranges) return FALSE;
  m_pRanges = ranges;
  m_capacity = capacity;
  return TRUE;
}

LONG BaseSelect::GetCount() const {
  LLONG count = 0;
  for (LONG i = 0; i < m_rangeCount; ++i) count += LLONG(m_pRanges[i].b) - m_pRanges[i].a + 1;
  // [0, 2^31 - 1] holds one more element than a LONG counts.
  return count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<LONG>(count);
}

Bool BaseSelect::GetRange(LONG seg, LONG maxElements, LONG* a, LONG* b) const {
  if (seg < 0 || seg >= m_rangeCount || m_pRanges[seg].a >= maxElements) return FALSE;
  if (a) *a = m_pRanges[seg].a;
  if (b) *b = m_pRanges[seg].b < maxElements ? m_pRanges[seg].b : maxElements - 1;
  return TRUE;
}

LONG BaseSelect::GetLastElement() const { return m_rangeCount > 0 ? m_pRanges[m_rangeCount - 1].b : -1; }

Bool BaseSelect::Select(LONG num) {
  if (num < 0) return FALSE;
  if (m_rangeCount > 0) {
    Range& last = m_pRanges[m_rangeCount - 1];
    if (LLONG(num) == LLONG(last.b) + 1) {
      last.b = num;
      return TRUE;
    }
  }
  return SelectAll(num, num);
}

Bool BaseSelect::SelectAll(LONG min, LONG max) {
  if (min > max) std::swap(min, max);
  if (min < 0) return FALSE;
  // Ranges from first to last (exclusive) touch [min, max] or lie next to it: they merge.
  const LONG first = Find(min > 0 ? min - 1 : 0);
  LONG last = first;
  LONG lo = min, hi = max;
  while (last < m_rangeCount && (max == 0x7FFFFFFF || m_pRanges[last].a <= max + 1)) {
    lo = m_pRanges[last].a < lo ? m_pRanges[last].a : lo;
    hi = m_pRanges[last].b > hi ? m_pRanges[last].b : hi;
    ++last;
  }
  if (first == last) {
    if (!Reserve(m_rangeCount + 1)) return FALSE;
    std::memmove(m_pRanges + first + 1, m_pRanges + first, static_cast<size_t>(m_rangeCount - first) * sizeof(Range));
    ++m_rangeCount;
  } else if (last - first > 1) {
    std::memmove(m_pRanges + first + 1, m_pRanges + last, static_cast<size_t>(m_rangeCount - last) * sizeof(Range));
    m_rangeCount -= last - first - 1;
  }
  m_pRanges[first] = Range{lo, hi};
  return TRUE;
}

Bool BaseSelect::Deselect(LONG num) {
  if (num < 0) return FALSE;
  const LONG i = Find(num);
  if (i >= m_rangeCount || m_pRanges[i].a > num) return TRUE;
  Range& r = m_pRanges[i];
  if (r.a == r.b) {
    std::memmove(m_pRanges + i, m_pRanges + i + 1, static_cast<size_t>(m_rangeCount - i - 1) * sizeof(Range));
    --m_rangeCount;
  } else if (num == r.a) {
    ++r.a;
  } else if (num == r.b) {
    --r.b;
  } else {
    if (!Reserve(m_rangeCount + 1)) return FALSE;
    Range& split = m_pRanges[i];
    std::memmove(m_pRanges + i + 1, m_pRanges + i, static_cast<size_t>(m_rangeCount - i) * sizeof(Range));
    ++m_rangeCount;
    m_pRanges[i + 1].a = num + 1;
    split.b = num - 1;
  }
  return TRUE;
}

Bool BaseSelect::DeselectAll() {
  m_rangeCount = 0;
  return TRUE;
}

Bool BaseSelect::Toggle(LONG num) { return IsSelected(num) ? Deselect(num) : Select(num); }

Bool BaseSelect::IsSelected(LONG num) const {
  if (num < 0) return FALSE;
  const LONG i = Find(num);
  return i < m_rangeCount && m_pRanges[i].a <= num;
}

Bool BaseSelect::CopyTo(BaseSelect* dest) const {
  if (!dest) return FALSE;
  if (dest == this) return TRUE;
  if (!dest->Reserve(m_rangeCount)) return FALSE;
  if (m_rangeCount > 0) std::memcpy(dest->m_pRanges, m_pRanges, static_cast<size_t>(m_rangeCount) * sizeof(Range));
  dest->m_rangeCount = m_rangeCount;
  return TRUE;
}

BaseSelect* BaseSelect::GetClone() const {
  BaseSelect* copy = Alloc();
  if (copy && !CopyTo(copy)) Free(copy);
  return copy;
}

bool BaseSelect::operator==(const BaseSelect& o) const {
  return m_rangeCount == o.m_rangeCount &&
         (m_rangeCount == 0 || std::memcmp(m_pRanges, o.m_pRanges, static_cast<size_t>(m_rangeCount) * sizeof(Range)) == 0);
}
