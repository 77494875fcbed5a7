// Selection tags of an import at scale: a million polygons in blocks of consecutive
// faces, one block per group, made into group selection tags on one object; the same
// when each block's faces alternate between a group "g<k> all" and a group "g<k>" (two
// groups feeding one selection); the material tags of one object; and split objects
// built polygon by polygon. Beside each, the plain way: every face index selected on
// its own, group after group, as a walk over the groups' faces does.
//
//   bench_selections [polygons [groups]]
//
// Figures are the best of three runs; the ratios matter more than absolute numbers on a
// shared machine.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "c4d.h"
#include "host_control.h"
#include "iogroup.h"
#include "iomtl.h"

namespace {

using bench::Seconds;

void Fail(const std::string& what) { bench::Fail("bench_selections", what); }

struct Model {
  ioGroupList* groups = nullptr;
  ioMaterialList* materials = nullptr;
  std::vector<ioFace> faces;
  // The selection slot of each group's words, for the plain walk.
  std::vector<std::vector<LONG>> slots;
};

// groups blocks of faces; interleaved: block k alternates between "g<k> all" and
// "g<k>". Materials follow the blocks as well.
Model MakeModel(LONG polygons, LONG groups, bool interleaved) {
  Model m;
  m.groups = ioGroupList::Alloc();
  m.materials = ioMaterialList::Alloc();
  if (!m.groups || !m.materials) Fail("not enough memory for the lists");
  m.faces.assign(static_cast<size_t>(polygons), ioFace{});
  for (LONG k = 0; k < groups; ++k) {
    const std::string name = "g" + std::to_string(k);
    if (interleaved) {
      if (!m.groups->FindOrAdd(String(name + " all"), TRUE)) Fail("FindOrAdd");
      m.groups->AddKnownName(String(name));
      m.groups->AddKnownName(String("all"));
      m.slots.push_back({m.groups->KnownNameIndex(String(name)), m.groups->KnownNameIndex(String("all"))});
    }
    if (!m.groups->FindOrAdd(String(name), FALSE)) Fail("FindOrAdd");
    m.groups->AddKnownName(String(name));
    m.slots.push_back({m.groups->KnownNameIndex(String(name))});
    if (!m.materials->FindOrAdd(nullptr, String("m" + std::to_string(k)))) Fail("FindOrAdd");
  }
  const LONG block = (polygons + groups - 1) / groups;
  for (LONG i = 0; i < polygons; ++i) {
    const LONG k = i / block;
    const LONG group = interleaved ? 2 * k + (i % 2) : k;
    m.faces[static_cast<size_t>(i)].group = group;
    m.faces[static_cast<size_t>(i)].material = k;
    m.faces[static_cast<size_t>(i)].sequence = i;
    ++m.groups->FindByIndex(group)->faceCount;
    ++m.materials->FindByIndex(k)->faceCount;
  }
  if (!m.groups->SetFaceIndices(m.faces.data(), static_cast<ULONG>(polygons)) ||
      !m.materials->SetFaceIndices(m.faces.data(), static_cast<ULONG>(polygons)))
    Fail("not enough memory for the face indices");
  return m;
}

void FreeModel(Model& m) {
  ioGroupList::Free(m.groups);
  ioMaterialList::Free(m.materials);
}

// The plain way: one selection per known name, each face index selected on its own,
// group after group.
void PlainWalk(const Model& m) {
  std::vector<BaseSelect*> selections(static_cast<size_t>(m.groups->KnownNameCount()), nullptr);
  for (auto& bs : selections)
    if (!(bs = BaseSelect::Alloc())) Fail("BaseSelect::Alloc");
  size_t g = 0;
  for (const ioGroup* group = m.groups->First(); group; group = group->Next(), ++g)
    for (ULONG i = 0; i < group->faceIndexCount; ++i)
      for (LONG slot : m.slots[g])
        selections[static_cast<size_t>(slot)]->Select(static_cast<LONG>(group->faceIndices[i]));
  for (auto& bs : selections) BaseSelect::Free(bs);
}

double TimeTags(LONG polygons, const std::function<void(PolygonObject*)>& build) {
  return Seconds([&]() {
    BaseDocument* doc = BaseDocument::Alloc();
    PolygonObject* op = PolygonObject::Alloc(4, polygons);
    if (!doc || !op) Fail("not enough memory for the object");
    doc->InsertObject(op, nullptr, nullptr);
    build(op);
    BaseDocument::Free(doc);
  });
}

void Row(const char* what, double ours, double plain) {
  std::printf("%-44s %8.3f s   plain walk %8.3f s   ratio %5.2f\n", what, ours, plain, plain > 0 ? ours / plain : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  const LONG polygons = argc > 1 ? std::atol(argv[1]) : 1000000;
  const LONG groups = argc > 2 ? std::atol(argv[2]) : 2000;
  if (polygons <= 0 || groups <= 0 || groups > polygons) Fail("usage: bench_selections [polygons [groups]]");
  host::EchoConsole(false);
  host::DrawStatus(0);
  std::printf("%ld polygons, %ld groups\n", static_cast<long>(polygons), static_cast<long>(groups));

  for (bool interleaved : {false, true}) {
    Model m = MakeModel(polygons, groups, interleaved);
    const double ours = TimeTags(polygons, [&](PolygonObject* op) { m.groups->BuildSelectionTags(op); });
    const double plain = Seconds([&]() { PlainWalk(m); });
    Row(interleaved ? "group tags, two groups per selection" : "group tags, one group per selection", ours, plain);
    if (!interleaved) {
      const double split = TimeTags(polygons, [&](PolygonObject* op) {
        if (!m.groups->ResetObjectSelections()) Fail("ResetObjectSelections");
        for (LONG i = 0; i < polygons; ++i) m.groups->AssignPolygon(op, m.faces[static_cast<size_t>(i)].group, i);
      });
      Row("group tags polygon by polygon (split object)", split, plain);
      const double single = TimeTags(polygons, [&](PolygonObject* op) { m.materials->SetTexTags(op, TRUE); });
      Row("material tags, one object", single, plain);
      const double perPolygon = TimeTags(polygons, [&](PolygonObject* op) {
        if (!m.materials->ResetObjectSelections()) Fail("ResetObjectSelections");
        for (LONG i = 0; i < polygons; ++i)
          m.materials->AssignPolygon(op, m.faces[static_cast<size_t>(i)].material, i, TRUE);
      });
      Row("material tags polygon by polygon", perPolygon, plain);
    }
    FreeModel(m);
  }
  return 0;
}
