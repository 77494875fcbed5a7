// Basic host types: integers, reals, vectors, matrices and the host's type IDs.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int16_t SWORD;
typedef uint16_t UWORD;
typedef int64_t LLONG;
typedef uint64_t LULONG;
typedef std::ptrdiff_t VLONG;  // pointer-sized signed integer
typedef std::size_t VULONG;
typedef char CHAR;
typedef unsigned char UCHAR;
typedef double Real;
typedef float SReal;
typedef double LReal;
typedef bool Bool;

#ifndef TRUE
#define TRUE true
#define FALSE false
#endif

// Vector of three doubles (points, normals, colours).
struct Vector {
  Real x = 0.0, y = 0.0, z = 0.0;
  Vector() = default;
  Vector(Real ix, Real iy, Real iz) : x(ix), y(iy), z(iz) {}
  explicit Vector(Real v) : x(v), y(v), z(v) {}
  Vector operator+(const Vector& o) const { return {x + o.x, y + o.y, z + o.z}; }
  Vector operator-(const Vector& o) const { return {x - o.x, y - o.y, z - o.z}; }
  Vector operator-() const { return {-x, -y, -z}; }
  Vector operator*(Real s) const { return {x * s, y * s, z * s}; }
  Vector& operator+=(const Vector& o) { x += o.x; y += o.y; z += o.z; return *this; }
  Vector& operator-=(const Vector& o) { x -= o.x; y -= o.y; z -= o.z; return *this; }
  bool operator==(const Vector& o) const { return x == o.x && y == o.y && z == o.z; }
  bool operator!=(const Vector& o) const { return !(*this == o); }
};
inline Vector operator*(Real s, const Vector& v) { return v * s; }
// Dot product, cross product, length and unit vector, as the host writes them.
inline Real operator*(const Vector& a, const Vector& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vector operator%(const Vector& a, const Vector& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Real Len(const Vector& v);
// The unit vector of v; v itself when its length is 0.
Vector operator!(const Vector& v);

// Vector of three single-precision floats (host normal storage).
struct SVector {
  SReal x = 0.0f, y = 0.0f, z = 0.0f;
};

// Matrix: offset and three axes. A point p maps to off + p.x*v1 + p.y*v2 + p.z*v3.
struct Matrix {
  Vector off{0, 0, 0};
  Vector v1{1, 0, 0};
  Vector v2{0, 1, 0};
  Vector v3{0, 0, 1};
  Vector operator*(const Vector& p) const { return off + v1 * p.x + v2 * p.y + v3 * p.z; }
  bool operator==(const Matrix& o) const { return off == o.off && v1 == o.v1 && v2 == o.v2 && v3 == o.v3; }
  bool operator!=(const Matrix& o) const { return !(*this == o); }
};
// a * b applies b first, then a.
Matrix operator*(const Matrix& a, const Matrix& b);
// The inverse; the unit matrix for a singular one.
Matrix operator!(const Matrix& m);
// The rotation part only (a direction through a matrix).
inline Vector TransformDirection(const Matrix& m, const Vector& d) { return m.v1 * d.x + m.v2 * d.y + m.v3 * d.z; }

// Rotation as heading (about Y), pitch (about X) and bank (about Z), in radians, applied
// bank first; the matrix has unit axes and no offset.
Matrix HPBToMatrix(const Vector& hpb);
// The rotation of m's (normalised) axes as heading, pitch and bank.
Vector MatrixToHPB(const Matrix& m);

constexpr Real pi = 3.1415926535897932384626433832795;
inline Real Rad(Real degrees) { return degrees * (pi / 180.0); }
inline Real Deg(Real radians) { return radians * (180.0 / pi); }

// Host type IDs.
enum : LONG {
  // objects
  Opolygon = 5100,
  Ospline = 5101,
  Ocube = 5159,
  Oplane = 5168,
  Oarray = 5150,
  Onull = 5140,
  Opoint = 5156,  // type test: any point object (polygon or spline)
  Olayer = 100004801,
  // tags
  Tpoint = 5600,
  Tpolygon = 5604,
  Tphong = 5612,
  Ttexture = 5616,
  Tuvw = 5671,
  Tsegment = 5672,
  Tpolygonselection = 5673,
  Tpointselection = 5674,
  Tnormal = 5711,
  // materials and shaders
  Mmaterial = 5703,
  Mfog = 8803,
  Xbitmap = 5833,
  Xlayer = 1026706,
  // the document
  Tbasedocument = 110059,
  // messages
  MSG_UPDATE = 5,
  MSG_DESCRIPTION_COMMAND = 18,   // a button of the node's description was pressed
  MSG_DESCRIPTION_VALIDATE = 20,  // the node's parameters were edited: clamp them
  MSG_EDIT = 21,                  // the user double-clicked the node: open its editor
  MSG_MENUPREPARE = 22,           // the node was made from the menu, before insertion
  MSG_DESCRIPTION_GETBITMAP = 27, // a bitmap button asks for its image
};

// Byte orders.
enum : LONG {
  BYTEORDER_MOTOROLA = 1,  // big-endian
  BYTEORDER_INTEL = 2,     // little-endian
};
