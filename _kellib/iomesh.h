// The export-side model of one polygon object: its polygons as a flat face table with
// per-face group, region and material indices, the group, region and material lists with
// their face index lists, and on demand the texture-coordinate, normal and n-gon tables.
// The OBJ writer gathers one mesh per object and prints it without asking the host again.
#pragma once

#include "c4d.h"
#include "ioface.h"
#include "iogroup.h"
#include "iomtl.h"
#include "ioregion.h"
#include "linknode.h"

// contentFlags: what the selections gave the mesh.
enum : ULONG {
  IOMESH_HAS_GROUPS = 0x20,     // a group selection assigned a polygon
  IOMESH_HAS_REGIONS = 0x40,    // a region selection assigned a polygon
  IOMESH_HAS_MATERIALS = 0x80,  // a material selection assigned a polygon, or the object's
                                // own texture tag supplied the material
};

// ioFace::flags on export.
enum : ULONG { FACE_NGON_MEMBER = 0x100 };

// One host n-gon as the writer prints it: the corners of its outline in order, each with
// its vertex, texture-coordinate and normal index. The arrays hold cornerCount + 2 entries.
struct ioNgon {
  LONG written;  // set by the writer once the n-gon's face line is out
  LONG cornerCount;
  LONG* vertex;
  LONG* uv;
  LONG* normal;
};

// Texture coordinates and normals of the tables.
struct ioUVW {
  Real u, v, w;
};

class ioMesh : public linkNode {
 public:
  // Gathers op. An empty name takes op's own; material and textureTag (may be null) are
  // the material the object inherits. Null after a console line naming the failed step.
  static ioMesh* Alloc(PolygonObject* op, const String& name, LONG objectIndex, Bool combineGroups,
                       BaseMaterial* material, TextureTag* textureTag);
  static void Free(ioMesh*& mesh);
  ~ioMesh() override;
  ioMesh(const ioMesh&) = delete;
  ioMesh& operator=(const ioMesh&) = delete;

  // Reads op's points, polygons and tags into the face table and the three lists.
  // combineGroups: a polygon selected by a second group moves to a group named after
  // both. False when op has no points or memory is missing.
  Bool GetMeshInfo(PolygonObject* op, Bool combineGroups);
  // The texture-coordinate table and every face's uv indices. compress: corners whose
  // coordinates agree to four decimals (exactSharing: that are equal) share an entry.
  Bool BakeUVs(Bool compress);
  // The normal table (the object's smoothed normals) and every face's normal indices.
  // compress: corners whose normals agree within 1e-8 (exactSharing: that are equal)
  // share an entry. False when the object has no normals to give.
  Bool BuildNormals(Bool compress);
  // The n-gon table; marks member faces with FACE_NGON_MEMBER. The uv and normal indices
  // of the corners are those of the tables built so far (0 without). False when the
  // object has no n-gons or one cannot be built; the faces are then written one by one.
  Bool BuildNgons();

  PolygonObject* object = nullptr;
  Matrix matrix;
  String name;  // safe name
  ULONG contentFlags = 0;
  LONG objectIndex = 0;
  ULONG polygonCount = 0, pointCount = 0, ngonCount = 0;
  ULONG uvCount = 0, normalCount = 0;
  ULONG tableCapacity = 0;  // max(4 x polygonCount, pointCount)
  ioFace* faces = nullptr;
  ioNgon* ngons = nullptr;
  ioUVW* uvs = nullptr;
  ioUVW* normals = nullptr;
  UVWTag* uvTag = nullptr;  // the baked coordinates
  Bool ownsUVTag = FALSE;   // false while uvTag is the object's own (nothing was projected)
  Bool hasMaterial = FALSE;
  Bool exactSharing = FALSE;  // compression shares only equal values
  String defaultMaterialName;
  BaseMaterial* material = nullptr;
  TextureTag* textureTag = nullptr;
  const CPolygon* polygonArray = nullptr;
  const Vector* pointArray = nullptr;
  BaseDocument* document = nullptr;
  ioGroupList* groups = nullptr;
  ioRegionList* regions = nullptr;
  ioMaterialList* materials = nullptr;

 private:
  ioMesh() = default;
  void FreeUVTable();
  // The selection tags' assignments of step "selections" of GetMeshInfo.
  Bool AssignSelections(Bool combineGroups, UCHAR* claimedMaterial, UCHAR* claimedGroup, UCHAR* claimedRegion);
};

// The UVW tag whose coordinates op's texture tags show: op's own UVW tag (or a flat
// projection when it has none) with each texture tag's projection, offset and tiling
// applied to the polygons it covers. *owned tells whether the result is new (the
// caller frees it) or op's own tag. Null when memory is missing.
UVWTag* BakeTextureProjections(PolygonObject* op, Bool* owned);
