// The MTL writer: the material library that accompanies each OBJ file of an export.
#pragma once

#include "c4d.h"
#include "objexp.h"

class ioMesh;

// Right after the OBJ header: the "mtllib" line naming the library (its file name made
// safe, which the created file then carries) and, unless this is a later frame of a
// per-frame export that shares the first frame's library, the MTL file with its header.
// A library that cannot be made is reported on the console; the export goes on without
// material blocks for this file set.
void StartMaterialLibrary(ObjExportContext* ctx);
// After each object: a "newmtl" block for every material of the mesh that faces use and
// that the library does not hold yet.
void WriteMaterials(ObjExportContext* ctx, const ioMesh* mesh);
