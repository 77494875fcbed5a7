// Covering an outline: projection onto the Newell plane, a sweep that cuts the outline
// into y-monotone pieces, the stack triangulation of each piece, then the merge of
// triangle pairs into convex planar quads. O(n log n); every step checks what a
// non-simple outline could break and gives up instead of looping or reading astray.
// An outline that comes back to a point it visited (a hole joined by a bridge walked
// both ways, loops touching at a corner) is first pulled apart at those points, in the
// projection only, then covered and mapped back.
#include "triangulate.h"

#include <algorithm>
#include <cmath>

#include "ngon_internal.h"

namespace {

struct P2 {
  Real x, y;
};

inline Real Orient(const P2& a, const P2& b, const P2& c) {
  return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

enum : UCHAR { kStart, kEnd, kSplit, kMerge, kRegular };

// One side of a vertex star: an edge seen from one of its ends, pointing to the other.
struct Spoke {
  Real dx, dy;
  Real angle;  // atan2(dy, dx), for a corner with more than two spokes
  LONG from, to;
  bool usable;   // bounds an inner face when walked from this vertex
  bool visited;

  // Whether two spokes leave in one direction, as equal atan2 angles would say, without
  // computing them: they lie in the same part of the turn (below the x axis; from the x
  // axis up to the left; straight left), each narrower than half a turn, and their cross
  // product is zero. A spoke of no length counts as pointing right, as atan2(0, 0) = 0
  // has it.
  int Part() const {
    if (dy < 0) return 0;
    if (dy == 0 && dx < 0) return 2;
    return 1;
  }
  Real Cross(const Spoke& o) const {
    const bool still = dx == 0 && dy == 0, otherStill = o.dx == 0 && o.dy == 0;
    const Real ax = still ? 1 : dx, ay = still ? 0 : dy;
    const Real bx = otherStill ? 1 : o.dx, by = otherStill ? 0 : o.dy;
    return ax * by - ay * bx;
  }
  bool SameDirection(const Spoke& o) const { return Part() == o.Part() && Cross(o) == 0; }
};

struct Tri {
  LONG v[3];
};

class Cover {
 public:
  // cut: whether the outline may be cut into loops meeting at a corner (see Split).
  Cover(const Vector* pts, LONG n, bool cut) : m_pts(pts), m_n(n), m_cut(cut) {}
  CoverResult Run(CPolygon* out, LONG* count, LONG* sides);
  // After a failed Run: the outline has loops meeting at a point, each to be covered on
  // its own.
  bool Split() const { return m_split; }
  // Then: the corners where loops meet, and each corner's place (the first corner there).
  const UCHAR* Necks() const { return &m_neck[0]; }
  const LONG* Places() const { return &m_place[0]; }

 private:
  LONG Next(LONG i) const { return i + 1 == m_n ? 0 : i + 1; }
  LONG Prev(LONG i) const { return i == 0 ? m_n - 1 : i - 1; }
  // Sweep order: higher y first, then lower x (a sweep line turned by an infinitesimal
  // angle, so no two corners are level).
  bool Above(LONG a, LONG b) const {
    const P2& p = m_p[a];
    const P2& q = m_p[b];
    if (p.y != q.y) return p.y > q.y;
    if (p.x != q.x) return p.x < q.x;
    return a < b;
  }
  // Edge e runs from corner e to corner e + 1.
  LONG Top(LONG e) const { return Above(e, Next(e)) ? e : Next(e); }
  LONG Bottom(LONG e) const { return Above(e, Next(e)) ? Next(e) : e; }

  bool Project();
  bool Sweep();
  bool Separate();
  bool Simple();
  bool Cross(LONG s, LONG t) const;
  void Around(LONG e, LONG& before, LONG& after) const;
  bool Rejoin();
  // Outline edges by the places they join, for outlines with repeated places.
  bool Edges();
  // The outline edge running from corner a to corner b (by place), or -1.
  LONG OutlineEdge(LONG a, LONG b) const;
  bool Sides(const CPolygon* out, LONG count, LONG* sides);
  bool EdgeLess(LONG s, LONG t) const;
  void Split(LONG t, LONG key, LONG& l, LONG& r);
  LONG Join(LONG l, LONG r);
  void Insert(LONG e);
  bool Remove(LONG e);
  LONG LeftOf(LONG v) const;
  bool Diagonal(LONG a, LONG b);
  bool Faces();
  bool Monotone(const LONG* f, LONG m);
  bool Emit(LONG a, LONG b, LONG c);
  bool Verify() const;
  bool Merge(CPolygon* out, LONG* count);
  bool OutOfMemory() {
    m_outOfMemory = true;
    return false;
  }

  const Vector* m_pts;
  LONG m_n;
  Vector m_normal;
  Real m_scale3 = 0;  // size of the outline in space
  Real m_eps = 0;     // orientations below this count as flat
  Real m_area2 = 0;   // twice the projected area
  Real m_scale2 = 0;  // size of the projection
  // The arrays of every outline, in one block (Run).
  ScratchArena m_arena;
  P2* m_p = nullptr;
  UCHAR* m_type = nullptr;
  LONG *m_helper = nullptr, *m_left = nullptr, *m_right = nullptr;
  ULONG* m_prio = nullptr;
  LONG m_root = -1;
  LONG* m_diag = nullptr;  // pairs
  LONG m_diagCount = 0;
  Tri* m_tri = nullptr;
  LONG m_triCount = 0;
  bool m_outOfMemory = false;
  bool m_repeats = false;  // the sweep met corners at one place
  bool m_cut;
  bool m_split = false;
  Scratch<UCHAR> m_neck;
  LONG* m_order = nullptr;  // corners in sweep order
  // Where repeated corners really are while the sweep works on them pulled apart; the
  // first corner at each place names it.
  Scratch<P2> m_at;
  Scratch<LONG> m_place;
  Real m_realArea2 = 0;
  struct PlaceEdge {
    LONG from, to, corner;
  };
  Scratch<PlaceEdge> m_edges;
  // Monotone piece scratch.
  LONG *m_sorted = nullptr, *m_stack = nullptr;
  UCHAR* m_chain = nullptr;
};

bool Cover::Project() {
  Vector lo = m_pts[0], hi = m_pts[0], centre;
  for (LONG i = 0; i < m_n; ++i) {
    const Vector& p = m_pts[i];
    lo = Vector(std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z));
    hi = Vector(std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z));
  }
  if (!std::isfinite(lo.x + lo.y + lo.z + hi.x + hi.y + hi.z)) return false;
  centre = (lo + hi) * 0.5;
  m_scale3 = Len(hi - lo);
  if (!(m_scale3 > 0)) return false;
  Vector normal;
  for (LONG i = 0; i < m_n; ++i) normal += (m_pts[i] - centre) % (m_pts[Next(i)] - centre);
  const Real len = Len(normal);
  if (!(len > 1e-12 * m_scale3 * m_scale3)) return false;
  m_normal = normal * (1.0 / len);
  // u, v and the normal form a right-handed frame, so the outline runs counter-clockwise
  // in (u, v).
  const Vector& nn = m_normal;
  const Vector axis = std::fabs(nn.x) <= std::fabs(nn.y) && std::fabs(nn.x) <= std::fabs(nn.z) ? Vector(1, 0, 0)
                      : std::fabs(nn.y) <= std::fabs(nn.z)                                    ? Vector(0, 1, 0)
                                                                                              : Vector(0, 0, 1);
  const Vector u = !(axis % nn);
  const Vector v = nn % u;
  Real minX = 0, maxX = 0, minY = 0, maxY = 0;
  for (LONG i = 0; i < m_n; ++i) {
    const Vector d = m_pts[i] - centre;
    m_p[i] = P2{d * u, d * v};
    minX = i ? std::min(minX, m_p[i].x) : m_p[i].x;
    maxX = i ? std::max(maxX, m_p[i].x) : m_p[i].x;
    minY = i ? std::min(minY, m_p[i].y) : m_p[i].y;
    maxY = i ? std::max(maxY, m_p[i].y) : m_p[i].y;
  }
  const Real scale2 = std::max(maxX - minX, maxY - minY);
  m_scale2 = scale2;
  m_eps = 1e-14 * scale2 * scale2;
  m_area2 = 0;
  for (LONG i = 0; i < m_n; ++i) m_area2 += Orient(P2{0, 0}, m_p[i], m_p[Next(i)]);
  return m_area2 > 1e-12 * scale2 * scale2;
}

// Left-to-right order of two edges that both cross the sweep line and do not cross each
// other: decided by the side of one edge's line the other lies on.
bool Cover::EdgeLess(LONG s, LONG t) const {
  if (s == t) return false;
  const P2& st = m_p[Top(s)];
  const P2& sb = m_p[Bottom(s)];
  const P2& tt = m_p[Top(t)];
  const P2& tb = m_p[Bottom(t)];
  // Walking an edge downwards, positive orientation lies to the right (+x).
  const Real o1 = Orient(st, sb, tt), o2 = Orient(st, sb, tb);
  if (o1 >= 0 && o2 >= 0 && (o1 > 0 || o2 > 0)) return true;
  if (o1 <= 0 && o2 <= 0 && (o1 < 0 || o2 < 0)) return false;
  const Real o3 = Orient(tt, tb, st), o4 = Orient(tt, tb, sb);
  if (o3 >= 0 && o4 >= 0 && (o3 > 0 || o4 > 0)) return false;
  if (o3 <= 0 && o4 <= 0 && (o3 < 0 || o4 < 0)) return true;
  return s < t;  // crossing or overlapping: the outline is not simple; any fixed order
}

// Treap over the edges left of the outline's inside, keyed by EdgeLess.
void Cover::Split(LONG t, LONG key, LONG& l, LONG& r) {
  if (t < 0) {
    l = r = -1;
    return;
  }
  if (EdgeLess(t, key)) {
    Split(m_right[t], key, m_right[t], r);
    l = t;
  } else {
    Split(m_left[t], key, l, m_left[t]);
    r = t;
  }
}

LONG Cover::Join(LONG l, LONG r) {
  if (l < 0) return r;
  if (r < 0) return l;
  if (m_prio[l] > m_prio[r]) {
    m_right[l] = Join(m_right[l], r);
    return l;
  }
  m_left[r] = Join(l, m_left[r]);
  return r;
}

void Cover::Insert(LONG e) {
  m_left[e] = m_right[e] = -1;
  LONG l, r;
  Split(m_root, e, l, r);
  m_root = Join(Join(l, e), r);
}

bool Cover::Remove(LONG e) {
  LONG l, r;
  Split(m_root, e, l, r);
  LONG m = r, parent = -1;
  while (m >= 0 && m_left[m] >= 0) {
    parent = m;
    m = m_left[m];
  }
  if (m != e) {
    m_root = Join(l, r);
    return false;
  }
  if (parent < 0)
    r = m_right[m];
  else
    m_left[parent] = m_right[m];
  m_root = Join(l, r);
  return true;
}

// The edge directly left of corner v, or -1.
LONG Cover::LeftOf(LONG v) const {
  LONG best = -1;
  for (LONG t = m_root; t >= 0;) {
    if (Orient(m_p[Top(t)], m_p[Bottom(t)], m_p[v]) > 0) {
      best = t;
      t = m_right[t];
    } else {
      t = m_left[t];
    }
  }
  return best;
}

bool Cover::Diagonal(LONG a, LONG b) {
  if (a < 0 || b < 0 || a == b) return false;
  if (Next(a) == b || Prev(a) == b) return true;  // already an edge
  if (m_diagCount >= 2 * m_n) return false;
  m_diag[2 * m_diagCount] = a;
  m_diag[2 * m_diagCount + 1] = b;
  ++m_diagCount;
  return true;
}

bool Cover::Sweep() {
  LONG* order = m_order;
  for (LONG i = 0; i < m_n; ++i) order[i] = i;
  std::sort(order, order + m_n, [this](LONG a, LONG b) { return Above(a, b); });
  for (LONG i = 1; i < m_n; ++i) {
    const P2& a = m_p[order[i - 1]];
    const P2& b = m_p[order[i]];
    if (a.x == b.x && a.y == b.y) {
      m_repeats = true;
      return false;
    }
  }
  m_root = -1;
  m_diagCount = 0;
  m_triCount = 0;
  for (LONG v = 0; v < m_n; ++v) {
    const bool prevAbove = Above(Prev(v), v), nextAbove = Above(Next(v), v);
    const Real o = Orient(m_p[Prev(v)], m_p[v], m_p[Next(v)]);
    if (prevAbove == nextAbove && o == 0) return false;  // a spike folding back on itself
    if (!prevAbove && !nextAbove)
      m_type[v] = o > 0 ? kStart : kSplit;
    else if (prevAbove && nextAbove)
      m_type[v] = o > 0 ? kEnd : kMerge;
    else
      m_type[v] = kRegular;
    m_helper[v] = -1;
  }
  ULONG seed = 0x9E3779B9u;
  for (LONG i = 0; i < m_n; ++i) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    m_prio[i] = seed;
  }
  auto mergeHelper = [this](LONG e) { return m_type[m_helper[e]] == kMerge; };
  for (LONG k = 0; k < m_n; ++k) {
    const LONG v = order[k];
    const LONG e = Prev(v);  // the edge arriving at v
    switch (m_type[v]) {
      case kStart:
        Insert(v);
        m_helper[v] = v;
        break;
      case kEnd:
        if (m_helper[e] < 0 || (mergeHelper(e) && !Diagonal(v, m_helper[e])) || !Remove(e)) return false;
        break;
      case kSplit: {
        const LONG j = LeftOf(v);
        if (j < 0 || !Diagonal(v, m_helper[j])) return false;
        m_helper[j] = v;
        Insert(v);
        m_helper[v] = v;
        break;
      }
      case kMerge: {
        if (m_helper[e] < 0 || (mergeHelper(e) && !Diagonal(v, m_helper[e])) || !Remove(e)) return false;
        const LONG j = LeftOf(v);
        if (j < 0 || (mergeHelper(j) && !Diagonal(v, m_helper[j]))) return false;
        m_helper[j] = v;
        break;
      }
      default:
        if (Above(Prev(v), v)) {  // on a left boundary: the inside is to the right
          if (m_helper[e] < 0 || (mergeHelper(e) && !Diagonal(v, m_helper[e])) || !Remove(e)) return false;
          Insert(v);
          m_helper[v] = v;
        } else {
          const LONG j = LeftOf(v);
          if (j < 0 || (mergeHelper(j) && !Diagonal(v, m_helper[j]))) return false;
          m_helper[j] = v;
        }
        break;
    }
  }
  return true;
}

bool Cover::Emit(LONG a, LONG b, LONG c) {
  Real o = Orient(m_p[a], m_p[b], m_p[c]);
  if (o < 0) {
    std::swap(b, c);
    o = -o;
  }
  if (!(o > m_eps) || m_triCount >= m_n - 2) return false;
  m_tri[m_triCount++] = Tri{{a, b, c}};
  return true;
}

// The stack triangulation of one y-monotone piece f (counter-clockwise, m corners).
bool Cover::Monotone(const LONG* f, LONG m) {
  if (m < 3) return false;
  if (m == 3) return Emit(f[0], f[1], f[2]);
  LONG top = 0, bottom = 0;
  for (LONG i = 1; i < m; ++i) {
    if (Above(f[i], f[top])) top = i;
    if (Above(f[bottom], f[i])) bottom = i;
  }
  // Counter-clockwise from the top runs down the left chain (ending at the bottom);
  // back from the top, the right chain. Merged by sweep order, each must descend.
  enum : UCHAR { kLeft = 1, kRight = 2 };
  LONG leftCount = (bottom - top + m) % m, rightCount = m - 1 - leftCount;
  LONG l = top + 1 == m ? 0 : top + 1, r = top == 0 ? m - 1 : top - 1, k = 1;
  LONG lastL = f[top], lastR = f[top];
  m_sorted[0] = f[top];
  m_chain[0] = kLeft;
  while (leftCount > 0 || rightCount > 0) {
    if (rightCount == 0 || (leftCount > 0 && Above(f[l], f[r]))) {
      if (!Above(lastL, f[l])) return false;
      lastL = m_sorted[k] = f[l];
      m_chain[k++] = kLeft;
      l = l + 1 == m ? 0 : l + 1;
      --leftCount;
    } else {
      if (!Above(lastR, f[r])) return false;
      lastR = m_sorted[k] = f[r];
      m_chain[k++] = kRight;
      r = r == 0 ? m - 1 : r - 1;
      --rightCount;
    }
  }
  LONG sp = 0;
  m_stack[sp++] = 0;
  m_stack[sp++] = 1;
  for (LONG j = 2; j < m - 1; ++j) {
    const LONG uj = m_sorted[j];
    if (m_chain[j] != m_chain[m_stack[sp - 1]]) {
      for (; sp > 1; --sp)
        if (!Emit(uj, m_sorted[m_stack[sp - 1]], m_sorted[m_stack[sp - 2]])) return false;
      sp = 0;
      m_stack[sp++] = j - 1;
      m_stack[sp++] = j;
    } else {
      LONG last = m_stack[--sp];
      while (sp > 0) {
        const LONG s = m_stack[sp - 1];
        const P2& ps = m_p[m_sorted[s]];
        const P2& pl = m_p[m_sorted[last]];
        const P2& pu = m_p[uj];
        const Real o = m_chain[j] == kLeft ? Orient(ps, pl, pu) : Orient(pu, pl, ps);
        if (!(o > m_eps)) break;
        if (!Emit(uj, m_sorted[last], m_sorted[s])) return false;
        last = s;
        --sp;
      }
      m_stack[sp++] = last;
      m_stack[sp++] = j;
    }
  }
  const LONG un = m_sorted[m - 1];
  for (LONG i = sp - 1; i > 0; --i)
    if (!Emit(un, m_sorted[m_stack[i]], m_sorted[m_stack[i - 1]])) return false;
  return true;
}

// Walks the faces of the outline cut by the diagonals; each is y-monotone.
bool Cover::Faces() {
  ScratchArena arena;
  LONG *start = nullptr, *fill = nullptr, *face = nullptr;
  Spoke* spokes = nullptr;
  const LONG total = 2 * m_n + 2 * m_diagCount;
  if (!arena.Alloc(start, m_n + 1, fill, m_n, spokes, total, face, m_n)) return OutOfMemory();
  for (LONG v = 0; v < m_n; ++v) start[v + 1] = 2;
  for (LONG d = 0; d < 2 * m_diagCount; ++d) ++start[m_diag[d] + 1];
  for (LONG v = 0; v < m_n; ++v) start[v + 1] += start[v];
  auto add = [&](LONG v, LONG w, bool usable) {
    spokes[start[v] + fill[v]++] = Spoke{m_p[w].x - m_p[v].x, m_p[w].y - m_p[v].y, 0, v, w, usable, false};
  };
  for (LONG v = 0; v < m_n; ++v) {
    add(v, Prev(v), false);
    add(v, Next(v), true);
  }
  for (LONG d = 0; d < m_diagCount; ++d) {
    add(m_diag[2 * d], m_diag[2 * d + 1], true);
    add(m_diag[2 * d + 1], m_diag[2 * d], true);
  }
  for (LONG v = 0; v < m_n; ++v) {
    Spoke* b = spokes + start[v];
    Spoke* e = spokes + start[v + 1];
    // Most corners have only their two sides, in either order around them (the walk
    // below goes on by the other one), so that their angles are not needed.
    if (e - b == 2) {
      if (b[0].SameDirection(b[1])) return false;  // overlapping edges
      continue;
    }
    for (Spoke* s = b; s < e; ++s) s->angle = std::atan2(s->dy, s->dx);
    std::sort(b, e, [](const Spoke& x, const Spoke& y) { return x.angle < y.angle; });
    for (Spoke* s = b + 1; s < e; ++s)
      if (s->angle == (s - 1)->angle) return false;  // overlapping edges
  }
  for (LONG first = 0; first < total; ++first) {
    if (!spokes[first].usable || spokes[first].visited) continue;
    LONG m = 0, cur = first, from = spokes[first].from;
    for (;;) {
      if (m >= m_n) return false;
      spokes[cur].visited = true;
      face[m++] = from;
      const LONG to = spokes[cur].to;
      // Arriving at `to` from `from`: the next spoke is the one clockwise of the way back.
      LONG back = -1;
      for (LONG s = start[to]; s < start[to + 1]; ++s)
        if (spokes[s].to == from) back = s;
      if (back < 0) return false;
      const LONG next = back == start[to] ? start[to + 1] - 1 : back - 1;
      if (!spokes[next].usable) return false;
      from = to;
      cur = next;
      if (cur == first) break;
      if (spokes[cur].visited) return false;
    }
    if (!Monotone(face, m)) return false;
  }
  return true;
}

bool Cover::Verify() const {
  if (m_triCount != m_n - 2) return false;
  Real sum = 0;
  for (LONG t = 0; t < m_triCount; ++t) sum += Orient(m_p[m_tri[t].v[0]], m_p[m_tri[t].v[1]], m_p[m_tri[t].v[2]]);
  return std::fabs(sum - m_area2) <= 1e-9 * m_area2;
}

// Pulls corners that share a place apart, in the projection only. Each visit to the
// place comes in along one ray and leaves along another; as the outline only touches
// itself there, the rays of different visits do not interleave, and a visit moves a
// little way into the angle between its own two rays that holds no other visit's ray:
// a bridge walked both ways opens into a slit, loops touching at a corner get a thin
// neck. A visit with other rays on both sides (nested between others) stays; two such
// at one place meet again in the sweep, which then fails. The step is far above
// rounding and far below the outline's features; what it cannot part cleanly fails the
// checks after the sweep. Fails at once for a place shared by corners that differ in
// space (a fold seen edge on), by neighbours (an edge of no length), or by a visit that
// leaves the way it came.
bool Cover::Separate() {
  Scratch<Real> rays;
  if (!m_at.Alloc(m_n) || !m_place.Alloc(m_n) || !m_neck.Alloc(m_n) || !rays.Alloc(2 * VLONG(m_n)))
    return OutOfMemory();
  for (LONG i = 0; i < m_n; ++i) {
    m_at[i] = m_p[i];
    m_place[i] = i;
  }
  const Real step = 1e-6 * m_scale2, turn = 2 * std::acos(Real(-1));
  auto ray = [this](LONG from, LONG to) { return std::atan2(m_at[to].y - m_at[from].y, m_at[to].x - m_at[from].x); };
  const LONG* order = m_order;
  for (LONG i = 0; i < m_n;) {
    const P2 at = m_at[order[i]];
    LONG j = i + 1, first = order[i];
    for (; j < m_n && m_at[order[j]].x == at.x && m_at[order[j]].y == at.y; ++j) first = std::min(first, order[j]);
    if (j - i == 1) {
      ++i;
      continue;
    }
    Real* r = rays.Get();
    LONG count = 0;
    for (LONG v = i; v < j; ++v) {
      const LONG c = order[v];
      if (!(m_pts[c] == m_pts[first])) return false;
      m_place[c] = first;
      r[count++] = ray(c, Prev(c));
      r[count++] = ray(c, Next(c));
    }
    std::sort(r, r + count);
    // Rays strictly inside the angle turning counter-clockwise from `from` to `to`.
    auto within = [r, count](Real from, Real to) {
      const LONG above = LONG(r + count - std::upper_bound(r, r + count, from));
      const LONG below = LONG(std::lower_bound(r, r + count, to) - r);
      return from < to ? above + below - count : above + below;
    };
    for (LONG v = i; v < j; ++v) {
      const LONG c = order[v];
      const Real back = ray(c, Prev(c)), on = ray(c, Next(c));
      const Real lp = std::hypot(m_at[Prev(c)].x - at.x, m_at[Prev(c)].y - at.y);
      const Real lq = std::hypot(m_at[Next(c)].x - at.x, m_at[Next(c)].y - at.y);
      if (!(lp > 0 && lq > 0) || back == on) return false;
      // The corner's own inside turns counter-clockwise from the way on to the way back.
      Real from = on, to = back;
      if (within(on, back) > 0) {
        if (within(back, on) > 0) continue;
        // The walk passes by, with the inside on both hands: loops meet here.
        if (!m_cut) return false;
        m_neck[c] = 1;
        m_split = true;
        from = back;
        to = on;
      }
      const Real span = to > from ? to - from : to - from + turn;
      const Real mid = from + span / 2, d = std::min(step, 0.01 * std::min(lp, lq));
      m_p[c] = P2{at.x + d * std::cos(mid), at.y + d * std::sin(mid)};
    }
    i = j;
  }
  m_realArea2 = m_area2;
  m_area2 = 0;
  for (LONG i = 0; i < m_n; ++i) m_area2 += Orient(P2{0, 0}, m_p[i], m_p[Next(i)]);
  return m_area2 > 0;
}

// Whether edges s and t meet anywhere but at a corner they share as neighbours.
bool Cover::Cross(LONG s, LONG t) const {
  if (s < 0 || t < 0 || s == t || Next(s) == t || Next(t) == s) return false;
  const P2& a = m_p[s];
  const P2& b = m_p[Next(s)];
  const P2& c = m_p[t];
  const P2& d = m_p[Next(t)];
  const Real o1 = Orient(a, b, c), o2 = Orient(a, b, d), o3 = Orient(c, d, a), o4 = Orient(c, d, b);
  if (((o1 > 0 && o2 < 0) || (o1 < 0 && o2 > 0)) && ((o3 > 0 && o4 < 0) || (o3 < 0 && o4 > 0))) return true;
  auto on = [](const P2& p, const P2& q, const P2& r, Real o) {
    return o == 0 && std::min(p.x, q.x) <= r.x && r.x <= std::max(p.x, q.x) && std::min(p.y, q.y) <= r.y &&
           r.y <= std::max(p.y, q.y);
  };
  return on(a, b, c, o1) || on(a, b, d, o2) || on(c, d, a, o3) || on(c, d, b, o4);
}

// The edges next to e (in the tree or not) left and right along the sweep line, or -1.
void Cover::Around(LONG e, LONG& before, LONG& after) const {
  before = after = -1;
  for (LONG t = m_root; t >= 0;) {
    if (t == e) {
      for (LONG l = m_left[t]; l >= 0; l = m_right[l]) before = l;
      for (LONG r = m_right[t]; r >= 0; r = m_left[r]) after = r;
      return;
    }
    if (EdgeLess(t, e)) {
      before = t;
      t = m_right[t];
    } else {
      after = t;
      t = m_left[t];
    }
  }
}

// The pulled-apart outline must be simple: a sweep over all edges that checks each
// pair that becomes neighbours along the sweep line. A bridge that crossed an edge is
// caught here, even though walking it both ways leaves the area alone.
bool Cover::Simple() {
  m_root = -1;
  for (LONG k = 0; k < m_n; ++k) {
    const LONG v = m_order[k];
    LONG before, after;
    for (const LONG e : {Prev(v), v}) {
      if (Bottom(e) != v) continue;
      Around(e, before, after);
      if (!Remove(e) || Cross(before, after)) return false;
    }
    for (const LONG e : {Prev(v), v}) {
      if (Top(e) != v) continue;
      Insert(e);
      Around(e, before, after);
      if (Cross(e, before) || Cross(e, after)) return false;
    }
  }
  return true;
}

// Maps the cover of the pulled-apart outline back onto the real corners. A triangle
// with two corners at one place was a sliver of a slit and goes. One that comes back
// flat ran along a slit to a corner in line with it: the edge it lies along is flipped
// with the triangle beyond (a few times at most). Every other triangle must still turn
// with the outline, each outline edge (told by the places it joins) must be a side of
// exactly one of them, and together they must have the outline's area.
bool Cover::Rejoin() {
  for (LONG i = 0; i < m_n; ++i) m_p[i] = m_at[i];
  m_area2 = m_realArea2;
  Scratch<UCHAR> sided;
  if (!sided.Alloc(m_n)) return OutOfMemory();
  auto area = [this](const Tri& t) { return Orient(m_p[t.v[0]], m_p[t.v[1]], m_p[t.v[2]]); };
  LONG kept = 0;
  for (LONG t = 0; t < m_triCount; ++t) {
    const Tri tri = m_tri[t];
    const LONG a = m_place[tri.v[0]], b = m_place[tri.v[1]], c = m_place[tri.v[2]];
    if (a != b && b != c && c != a) m_tri[kept++] = tri;
  }
  m_triCount = kept;
  LONG flips = 0;
  for (LONG t = 0; t < kept; ++t) {
    while (std::fabs(area(m_tri[t])) <= m_eps) {
      if (++flips > 64) return false;
      // b lies between a and c; the triangle beyond side c -> a is flipped with this one.
      const LONG* v = m_tri[t].v;
      LONG i = 0;
      Real least = 0;
      for (LONG k = 0; k < 3; ++k) {
        const P2& o = m_p[v[k]];
        const P2& p = m_p[v[(k + 1) % 3]];
        const P2& q = m_p[v[(k + 2) % 3]];
        const Real dot = (p.x - o.x) * (q.x - o.x) + (p.y - o.y) * (q.y - o.y);
        if (k == 0 || dot < least) {
          least = dot;
          i = k;
        }
      }
      const LONG b = v[i], c = v[(i + 1) % 3], a = v[(i + 2) % 3];
      LONG u = -1, x = -1;
      for (LONG w = 0; w < kept && u < 0; ++w)
        for (LONG k = 0; k < 3; ++k)
          if (w != t && m_tri[w].v[k] == a && m_tri[w].v[(k + 1) % 3] == c) {
            u = w;
            x = m_tri[w].v[(k + 2) % 3];
          }
      if (u < 0 || m_place[x] == m_place[a] || m_place[x] == m_place[b] || m_place[x] == m_place[c]) return false;
      m_tri[t] = Tri{{a, b, x}};
      m_tri[u] = Tri{{b, c, x}};
      if (area(m_tri[u]) < -m_eps || area(m_tri[t]) < -m_eps) return false;
    }
  }
  Real sum = 0;
  for (LONG t = 0; t < kept; ++t) {
    const Tri tri = m_tri[t];
    const Real o = area(tri);
    if (!(o > m_eps)) return false;
    for (LONG s = 0; s < 3; ++s) {
      const LONG e = OutlineEdge(tri.v[s], tri.v[s == 2 ? 0 : s + 1]);
      if (e < 0) continue;
      if (sided[e]) return false;
      sided[e] = 1;
    }
    sum += o;
  }
  for (LONG c = 0; c < m_n; ++c)
    if (!sided[c]) return false;
  return std::fabs(sum - m_area2) <= 1e-9 * m_area2;
}

bool Cover::Edges() {
  if (!m_repeats) return true;
  if (!m_edges.Alloc(m_n)) return OutOfMemory();
  for (LONG c = 0; c < m_n; ++c) m_edges[c] = PlaceEdge{m_place[c], m_place[Next(c)], c};
  std::sort(m_edges.Get(), m_edges.Get() + m_n, [](const PlaceEdge& x, const PlaceEdge& y) {
    return x.from != y.from ? x.from < y.from : x.to < y.to;
  });
  for (LONG i = 1; i < m_n; ++i)
    if (m_edges[i].from == m_edges[i - 1].from && m_edges[i].to == m_edges[i - 1].to) return false;  // run twice
  return true;
}

LONG Cover::OutlineEdge(LONG a, LONG b) const {
  if (!m_repeats) return b == Next(a) ? a : -1;
  const PlaceEdge key{m_place[a], m_place[b], 0};
  const PlaceEdge* begin = &m_edges[0];
  const PlaceEdge* end = begin + m_n;
  const PlaceEdge* at = std::lower_bound(begin, end, key, [](const PlaceEdge& x, const PlaceEdge& y) {
    return x.from != y.from ? x.from < y.from : x.to < y.to;
  });
  return at != end && at->from == key.from && at->to == key.to ? at->corner : -1;
}

// Pairs triangles into convex planar quads, greedily in triangle order.
bool Cover::Merge(CPolygon* out, LONG* outCount) {
  const LONG t = m_triCount;
  struct Side {
    LLONG key;
    LONG tri, side;
  };
  ScratchArena arena;
  Side* sides = nullptr;
  LONG* mate = nullptr;
  UCHAR* used = nullptr;
  LONG count = 0;
  if (!arena.Alloc(sides, 3 * VLONG(t), mate, 3 * VLONG(t), used, t)) return false;
  {
    for (LONG i = 0; i < t; ++i) {
      for (LONG s = 0; s < 3; ++s) {
        const LONG a = m_tri[i].v[s], b = m_tri[i].v[(s + 1) % 3];
        sides[3 * i + s] = Side{LLONG(std::min(a, b)) << 32 | std::max(a, b), i, s};
        mate[3 * i + s] = -1;
      }
    }
    std::sort(sides, sides + 3 * t, [](const Side& x, const Side& y) { return x.key < y.key; });
    for (LONG i = 0; i + 1 < 3 * t; ++i) {
      if (sides[i].key != sides[i + 1].key) continue;
      mate[3 * sides[i].tri + sides[i].side] = sides[i + 1].tri;
      mate[3 * sides[i + 1].tri + sides[i + 1].side] = sides[i].tri;
    }
  }
  const Real flat = 1e-9 * m_scale3;
  for (LONG i = 0; i < t; ++i) {
    const LONG* v = m_tri[i].v;
    if (used[i]) continue;
    bool merged = false;
    for (LONG s = 0; s < 3 && !merged; ++s) {
      const LONG j = mate[3 * i + s];
      if (j < 0 || used[j]) continue;
      const LONG a = v[s], b = v[(s + 1) % 3], c = v[(s + 2) % 3];
      const LONG* w = m_tri[j].v;
      const LONG d = w[0] != a && w[0] != b ? w[0] : w[1] != a && w[1] != b ? w[1] : w[2];
      if (!(Orient(m_p[a], m_p[d], m_p[b]) > m_eps && Orient(m_p[d], m_p[b], m_p[c]) > m_eps &&
            Orient(m_p[c], m_p[a], m_p[d]) > m_eps))
        continue;
      const Vector n = (m_pts[b] - m_pts[a]) % (m_pts[c] - m_pts[a]);
      const Real len = Len(n);
      if (!(len > 0) || std::fabs((m_pts[d] - m_pts[a]) * n) > flat * len) continue;
      out[count++] = CPolygon(c, a, d, b);
      used[i] = used[j] = 1;
      merged = true;
    }
    if (!merged) out[count++] = CPolygon(v[0], v[1], v[2]);
  }
  *outCount = count;
  return true;
}

// Which polygon side runs along each outline edge: exactly one for each.
bool Cover::Sides(const CPolygon* out, LONG count, LONG* sides) {
  std::fill(sides, sides + m_n, -1);
  for (LONG p = 0; p < count; ++p) {
    const CPolygon& q = out[p];
    for (LONG side = 0; side < 4; ++side) {
      if (side == 2 && q.c == q.d) continue;
      const LONG e = OutlineEdge(EdgeStart(q, side), EdgeEnd(q, side));
      if (e < 0) continue;
      if (sides[e] >= 0) return false;
      sides[e] = 4 * p + side;
    }
  }
  for (LONG c = 0; c < m_n; ++c)
    if (sides[c] < 0) return false;
  return true;
}

CoverResult Cover::Run(CPolygon* out, LONG* count, LONG* sides) {
  *count = 0;
  if (m_n < 3) return CoverResult::kBadOutline;
  if (!m_arena.Alloc(m_p, m_n, m_type, m_n, m_helper, m_n, m_left, m_n, m_right, m_n, m_prio, m_n, m_diag,
                     4 * VLONG(m_n), m_tri, m_n, m_sorted, m_n, m_stack, m_n, m_chain, m_n, m_order, m_n))
    return CoverResult::kNoMemory;
  if (!Project()) return CoverResult::kBadOutline;
  bool ok = Sweep();
  if (ok)
    ok = Faces() && Verify();
  else if (m_repeats) {
    ok = Separate() && Edges() && Sweep() && Simple();
    if (ok && m_split) return CoverResult::kBadOutline;
    m_split = false;
    ok = ok && Faces() && Verify() && Rejoin();
  }
  if (!ok) return m_outOfMemory ? CoverResult::kNoMemory : CoverResult::kBadOutline;
  if (!Merge(out, count)) return CoverResult::kNoMemory;
  if (Sides(out, *count, sides)) return CoverResult::kOk;
  *count = 0;
  return CoverResult::kBadOutline;
}

// Cuts an outline into the loops that meet at its neck corners and covers each: the
// walk from one neck corner to the next at the same place is a loop of its own. The
// loops nest like brackets along the outline, or the outline crosses itself.
CoverResult CoverLoops(const Vector* pts, LONG n, const UCHAR* neck, const LONG* place, CPolygon* out, LONG* count,
                       LONG* sides) {
  Scratch<LONG> last, end, piece, stack, first, corner;
  Scratch<Vector> at;
  if (!last.Alloc(n) || !end.Alloc(n) || !piece.Alloc(n) || !stack.Alloc(2 * VLONG(n)) || !first.Alloc(n + 1) ||
      !corner.Alloc(n) || !at.Alloc(n))
    return CoverResult::kNoMemory;
  std::fill(last.Get(), last.Get() + n, -1);
  std::fill(end.Get(), end.Get() + n, -1);
  for (LONG c = 0; c < n; ++c) {
    if (!neck[c]) continue;
    if (last[place[c]] >= 0) end[last[place[c]]] = c;
    last[place[c]] = c;
  }
  LONG depth = 0, pieces = 1;  // piece 0: what lies outside every loop
  for (LONG c = 0; c < n; ++c) {
    while (depth > 0 && stack[2 * (depth - 1)] == c) --depth;
    if (end[c] >= 0) {
      if (depth > 0 && end[c] > stack[2 * (depth - 1)]) return CoverResult::kBadOutline;  // loops cross
      stack[2 * depth] = end[c];
      stack[2 * depth + 1] = pieces++;
      ++depth;
    }
    piece[c] = depth > 0 ? stack[2 * depth - 1] : 0;
  }
  // The corners of each piece, in outline order.
  std::fill(first.Get(), first.Get() + n + 1, 0);
  for (LONG c = 0; c < n; ++c) ++first[piece[c] + 1];
  for (LONG p = 0; p < pieces; ++p) first[p + 1] += first[p];
  std::copy(first.Get(), first.Get() + n, last.Get());
  for (LONG c = 0; c < n; ++c) corner[last[piece[c]]++] = c;
  LONG made = 0;
  for (LONG p = 0; p < pieces; ++p) {
    const LONG* map = corner.Get() + first[p];
    const LONG m = first[p + 1] - first[p];
    for (LONG i = 0; i < m; ++i) at[i] = pts[map[i]];
    LONG got = 0;
    // A loop's closing edge runs to the place its first corner shares with the corner
    // after its last one, so local edge i stands for outline edge map[i].
    Cover cover(at.Get(), m, false);
    const CoverResult r = m < 3 ? CoverResult::kBadOutline : cover.Run(out + made, &got, end.Get());
    if (r != CoverResult::kOk) {
      *count = 0;
      return r;
    }
    for (LONG i = 0; i < m; ++i) sides[map[i]] = end[i] + 4 * made;
    for (LONG q = made; q < made + got; ++q)
      out[q] = CPolygon(map[out[q].a], map[out[q].b], map[out[q].c], map[out[q].d]);
    made += got;
  }
  *count = made;
  return CoverResult::kOk;
}

}  // namespace

CoverResult CoverOutline(const Vector* pts, LONG n, CPolygon* out, LONG* count, LONG* sides) {
  if (!pts || !out || !count || !sides || n < 3) {
    if (count) *count = 0;
    return CoverResult::kBadOutline;
  }
  Cover cover(pts, n, true);
  const CoverResult r = cover.Run(out, count, sides);
  if (r != CoverResult::kBadOutline || !cover.Split()) return r;
  return CoverLoops(pts, n, cover.Necks(), cover.Places(), out, count, sides);
}
