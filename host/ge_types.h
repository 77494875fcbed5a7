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
};

// Host type IDs.
enum : LONG {
  Opolygon = 5100,
  Onull = 5140,
  Opoint = 5156,  // type test: any point object
  Tpoint = 5600,
  Tpolygon = 5604,
  Tphong = 5612,
  Ttexture = 5616,
  Tuvw = 5671,
  Tsegment = 5672,
  Tpolygonselection = 5673,
  Tnormal = 5711,
  Mmaterial = 5703,
  MSG_UPDATE = 5,
};

// Byte orders.
enum : LONG {
  BYTEORDER_MOTOROLA = 1,  // big-endian
  BYTEORDER_INTEL = 2,     // little-endian
};
