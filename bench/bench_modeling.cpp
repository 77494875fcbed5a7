// Splitting n-gons through the modeling library, as the OBJ reader does it (a fresh
// polygon object per outline: InitObject, AddPoint per corner, CreateNgon, Commit):
// many small outlines, and single concave outlines of growing size, whose time should
// grow like n log n; then a ring walked as one outline (outside, a bridge in, the hole,
// the bridge back) beside a simple outline of as many corners.
//
//   bench_modeling [outlines]
//
// Figures are the best of three runs; the ratios matter more than absolute numbers on a
// shared machine.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "c4d.h"

namespace {

using bench::Seconds;

void Fail(const std::string& what) { bench::Fail("bench_modeling", what); }

// Commits one outline into a fresh object and returns its polygon count.
LONG Split(const std::vector<Vector>& pts, std::vector<LONG>& ids) {
  PolygonObject* op = PolygonObject::Alloc(0, 0);
  Modeling* mod = Modeling::Alloc();
  if (!op || !mod || !mod->InitObject(op)) Fail("not enough memory");
  ids.clear();
  for (const Vector& p : pts) ids.push_back(mod->AddPoint(op, p));
  if (!mod->CreateNgon(op, ids.data(), LONG(ids.size())) || !mod->Commit()) Fail("an outline did not split");
  const LONG polygons = op->GetPolygonCount();
  Modeling::Free(mod);
  BaseObject* gone = op;
  BaseObject::Free(gone);
  return polygons;
}

// A star of n corners with random radii (concave at most corners), tilted in space.
std::vector<Vector> Star(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<Real> radius(0.2, 1.0);
  const Matrix m = HPBToMatrix(Vector(0.4, 0.9, -0.3));
  std::vector<Vector> pts;
  for (int i = 0; i < n; ++i) {
    const Real a = 2 * pi * i / n, r = i % 2 ? radius(rng) * 0.5 : radius(rng);
    pts.push_back(m * Vector(r * std::cos(a), r * std::sin(a), 0));
  }
  return pts;
}

// A comb of n corners: teeth up from a bar, long collinear runs.
std::vector<Vector> Comb(int n) {
  const int teeth = n / 4;
  std::vector<Vector> pts{Vector(0, 0, 0), Vector(2 * teeth - 1, 0, 0)};
  for (int j = teeth - 1; j >= 0; --j) {
    pts.emplace_back(2 * j + 1, 5, 0);
    pts.emplace_back(2 * j, 5, 0);
    if (j > 0) {
      pts.emplace_back(2 * j, 1, 0);
      pts.emplace_back(2 * j - 1, 1, 0);
    }
  }
  return pts;
}

// A ring of n corners as one outline: n/2 - 1 on the outside, the hole's n/2 - 1 walked
// the other way, joined by a bridge walked both ways.
std::vector<Vector> Ring(int n) {
  const int m = n / 2 - 1;
  std::vector<Vector> pts;
  for (int i = 0; i < m; ++i) pts.emplace_back(std::cos(2 * pi * i / m), std::sin(2 * pi * i / m), 0);
  pts.push_back(pts[0]);
  for (int i = 0; i < m; ++i) pts.emplace_back(0.5 * std::cos(-2 * pi * i / m), 0.5 * std::sin(-2 * pi * i / m), 0);
  pts.push_back(pts[size_t(m) + 1]);
  return pts;
}

}  // namespace

int main(int argc, char** argv) {
  const int outlines = argc > 1 ? std::atoi(argv[1]) : 100000;
  std::vector<LONG> ids;

  std::vector<std::vector<Vector>> small;
  for (int i = 0; i < outlines; ++i) small.push_back(Star(8, unsigned(i)));
  LLONG polygons = 0;
  const double manySmall = Seconds([&] {
    polygons = 0;
    for (const auto& pts : small) polygons += Split(pts, ids);
  });
  std::printf("%d outlines of 8 corners: %.3f s (%.2f us each, %lld polygons)\n", outlines, manySmall,
              manySmall / outlines * 1e6, static_cast<long long>(polygons));

  std::printf("\n%-8s %10s %12s %14s %14s\n", "shape", "corners", "seconds", "t(N)/t(1000)", "NlogN ratio");
  for (const char* shape : {"star", "comb"}) {
    double base = 0;
    for (int n : {1000, 10000, 100000}) {
      const std::vector<Vector> pts = std::string(shape) == "star" ? Star(n, 1) : Comb(n);
      LONG made = 0;
      const double t = Seconds([&] { made = Split(pts, ids); });
      if (n == 1000) base = t;
      const double expected = (n * std::log(double(n))) / (1000 * std::log(1000.0));
      std::printf("%-8s %10d %12.5f %14.1f %14.1f   (%d polygons)\n", shape, n, t, t / base, expected, made);
    }
  }

  std::printf("\n%-8s %10s %12s %14s\n", "shape", "corners", "seconds", "ring/star");
  for (int n : {1000, 10000, 100000}) {
    const std::vector<Vector> ring = Ring(n), star = Star(n, 1);
    LONG made = 0;
    const double t = Seconds([&] { made = Split(ring, ids); });
    const double s = Seconds([&] { Split(star, ids); });
    std::printf("%-8s %10d %12.5f %14.2f   (%d polygons)\n", "ring", int(ring.size()), t, t / s, made);
  }
  return 0;
}
