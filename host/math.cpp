// Vector and matrix arithmetic of the host.
#include <cmath>

#include "ge_types.h"

Real Len(const Vector& v) { return std::sqrt(v * v); }

Vector operator!(const Vector& v) {
  const Real length = Len(v);
  return length > 0.0 ? v * (1.0 / length) : v;
}

Matrix operator*(const Matrix& a, const Matrix& b) {
  Matrix m;
  m.off = a * b.off;
  m.v1 = TransformDirection(a, b.v1);
  m.v2 = TransformDirection(a, b.v2);
  m.v3 = TransformDirection(a, b.v3);
  return m;
}

Matrix operator!(const Matrix& m) {
  // The inverse of the 3x3 part is the transposed matrix of cofactors over the determinant.
  const Vector c1 = m.v2 % m.v3;
  const Vector c2 = m.v3 % m.v1;
  const Vector c3 = m.v1 % m.v2;
  const Real det = m.v1 * c1;
  // Axes that (nearly) lie in one plane leave a determinant of rounding noise: singular.
  const Real scale = Len(m.v1) * Len(m.v2) * Len(m.v3);
  if (!std::isfinite(det) || std::fabs(det) <= 1e-12 * scale) return Matrix();
  const Real inv = 1.0 / det;
  Matrix r;
  r.v1 = Vector(c1.x, c2.x, c3.x) * inv;
  r.v2 = Vector(c1.y, c2.y, c3.y) * inv;
  r.v3 = Vector(c1.z, c2.z, c3.z) * inv;
  r.off = -TransformDirection(r, m.off);
  return r;
}

// R = Ry(heading) * Rx(pitch) * Rz(bank); the columns are the axes v1, v2, v3.
Matrix HPBToMatrix(const Vector& hpb) {
  const Real ch = std::cos(hpb.x), sh = std::sin(hpb.x);
  const Real cp = std::cos(hpb.y), sp = std::sin(hpb.y);
  const Real cb = std::cos(hpb.z), sb = std::sin(hpb.z);
  Matrix m;
  m.v1 = Vector(ch * cb + sh * sp * sb, cp * sb, -sh * cb + ch * sp * sb);
  m.v2 = Vector(-ch * sb + sh * sp * cb, cp * cb, sh * sb + ch * sp * cb);
  m.v3 = Vector(sh * cp, -sp, ch * cp);
  return m;
}

Vector MatrixToHPB(const Matrix& m) {
  const Vector v1 = !m.v1, v2 = !m.v2, v3 = !m.v3;
  const Real sp = -v3.y;
  const Real pitch = std::asin(sp < -1.0 ? -1.0 : (sp > 1.0 ? 1.0 : sp));
  if (std::fabs(std::cos(pitch)) > 1e-9) return Vector(std::atan2(v3.x, v3.z), pitch, std::atan2(v1.y, v2.y));
  // Gimbal lock: bank is folded into heading.
  return Vector(std::atan2(-v1.z, v1.x), pitch, 0.0);
}
