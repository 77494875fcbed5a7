#include "validate.h"

#include "objexp.h"

Bool ValidatePolygons(ObjExportContext* ctx, BaseObject* op) {
  if (!ctx || !op || op->GetType() != Opolygon) return TRUE;
  PolygonObject* poly = ToPoly(op);
  const LONG polygonCount = poly->GetPolygonCount();
  const LONG ngonCount = poly->GetNgonCount();
  if (ngonCount <= 0) return TRUE;

  Modeling* modeling = Modeling::Alloc();
  if (!modeling || !modeling->InitObject(op)) {
    GePrint(String("ValidatePolygons::InitObject() failed"));
    Modeling::Free(modeling);
    return FALSE;
  }
  Bool result = TRUE;
  Ngon ngon;
  for (LONG i = 0; i < ngonCount; ++i) {
    // N-gon ids follow the polygon indices.
    if (!modeling->GetNgon(op, polygonCount + i, &ngon)) {
      GePrint(String("ValidatePolygons::GetNgon() failed"));
      result = FALSE;
      break;
    }
    if (ngon.segcount <= 1) continue;
    ctx->exportNgons = FALSE;
    result = QuestionDialog(
        String("At least one mesh object contains Ngons with 'holes'...\n\n"
               "Click Yes to disable exporting Ngons and Continue.\nClick No to Cancel."));
    break;
  }
  ngon.Free();
  modeling->ReleaseObject(op);
  Modeling::Free(modeling);
  return result;
}
