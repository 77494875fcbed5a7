// The n-gon check before an export: an OBJ face has one outline, so n-gons with holes
// cannot be written as n-gons.
#pragma once

#include "c4d.h"

class ObjExportContext;

// Reads the n-gons of polygon object op. At the first one with more than one outline,
// clears ctx->exportNgons and asks whether to go on without n-gons: true for Yes (or
// when there is no holed n-gon), false for No or when the host could not read the
// n-gons (a console line says which step failed).
Bool ValidatePolygons(ObjExportContext* ctx, BaseObject* op);
