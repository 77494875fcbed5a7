// The OBJ export command. The file writing is not part of this build yet: a confirmed
// options dialog ends with a console line saying so.
#include "objexp.h"

#include "c4d_symbols.h"
#include "compat.h"
#include "fileio.h"
#include "iomesh.h"
#include "main.h"
#include "namehash.h"
#include "objwrite.h"
#include "optdialogs.h"
#include "plugin_ids.h"
#include "plugin_messages.h"
#include "registration.h"
#include "validate.h"

ObjExportContext* ObjExportContext::Alloc() { return gNew ObjExportContext; }

void ObjExportContext::Free(ObjExportContext*& ctx) { gDelete(ctx); }

ObjExportContext::~ObjExportContext() {
  CloseFileSet(this, FALSE);
  ioMesh::Free(mesh);
  gDelete(objOut);
  gDelete(mtlOut);
  nameHash::Destroy(&writtenMaterials);
  BaseDocument::Free(sourceDocument);
}

void ReadObjectState(ObjExportContext* ctx, BaseObject* op) {
  ctx->maskSkipObject = FALSE;
  ctx->maskSkipChildren = FALSE;
  if (const BaseTag* mask = op->GetTag(ID_XPMASK_TAG)) {
    const BaseContainer* data = mask->GetDataInstance();
    ctx->maskSkipObject = data->GetBool(XPMASK_SKIP_OBJECT);
    // Skipping the children is only read for an object that is skipped.
    if (ctx->maskSkipObject) ctx->maskSkipChildren = data->GetBool(XPMASK_SKIP_CHILDREN);
  }
  ctx->visibilityMode = ctx->ignoreVisibility ? MODE_ON : op->GetEditorMode();
}

void CountObject(ObjExportContext* ctx, BaseObject* op) {
  if (!op || op->GetType() != Opolygon) return;
  const PolygonObject* poly = ToPoly(op);
  const ULONG geom = ctx->options ? ctx->options->geomFlags : 0;
  const LONG polygonCount = poly->GetPolygonCount();
  ULONG total = ctx->progressTotal + ULONG(poly->GetPointCount());
  if (geom & GEOM_FACES) total += ULONG(polygonCount);
  const ULONG perCorner = ((geom & GEOM_UVS) ? 1u : 0u) + ((geom & GEOM_NORMALS) ? 1u : 0u);
  if (perCorner) {
    const CPolygon* polygons = poly->GetPolygonR();
    for (LONG i = 0; i < polygonCount; ++i) total += perCorner * (polygons[i].c != polygons[i].d ? 4u : 3u);
  }
  ctx->progressTotal = total;
}

Bool PrePassObjects(ObjExportContext* ctx, BaseObject* op, Bool visible) {
  for (; op; op = op->GetNext()) {
    ReadObjectState(ctx, op);
    // The state is the context's until the children are visited.
    const Bool skipChildren = ctx->maskSkipChildren;
    const LONG mode = ctx->visibilityMode;
    const Bool shown = mode == MODE_ON || (mode == MODE_UNDEF && visible);
    if (op->GetType() == Opolygon && !ctx->maskSkipObject && shown) {
      CountObject(ctx, op);
      if (ctx->exportNgons && !ValidatePolygons(ctx, op)) return FALSE;
    }
    if (skipChildren || !op->GetDown()) continue;
    const Bool childrenVisible = mode == MODE_ON || (mode == MODE_UNDEF && visible);
    if (!PrePassObjects(ctx, op->GetDown(), childrenVisible)) return FALSE;
  }
  return TRUE;
}

ExportPreparation PrepareExport(ObjExportContext* ctx, BaseDocument* doc) {
  if (!doc) return EXPORT_NO_COPY;
  BaseDocument::Free(ctx->sourceDocument);
  ctx->sourceDocument = doc->Polygonize(FALSE);
  if (!ctx->sourceDocument) {
    ReportMemoryError("BaseDocument::Polygonize()");
    return EXPORT_NO_COPY;
  }
  StatusSetText(GeLoadString(IDS_STATUS_PREPARING_EXPORT));
  const Bool goOn = PrePassObjects(ctx, ctx->sourceDocument->GetFirstObject(), TRUE);
  StatusClear();
  return goOn ? EXPORT_PREPARED : EXPORT_CANCELLED;
}

Bool RunExportOptions(ObjExportContext* ctx, PresetStore& presets, BaseDocument* doc, Bool* opened) {
  SaveOptsDialog dialog(&presets, ctx, doc);
  if (!PlayOptionsDialog(presets, dialog, opened)) return FALSE;
  const ConfirmedExportOpts adjusted = AdjustConfirmedExportOpts(presets.exportOpts);
  ctx->ignoreVisibility = adjusted.ignoreVisibility;
  ctx->faceForm = adjusted.faceForm;
  ctx->exportMode = presets.exportOpts.mode;
  ctx->scaleFactor = presets.exportOpts.ScaleFactor();
  return TRUE;
}

Bool ShowExportOptions(OptionsDialogRequest* request) {
  if (!request) return FALSE;
  ObjExportContext* ctx = ObjExportContext::Alloc();
  if (!ctx) {
    ReportMemoryError("ObjExportContext::Alloc()");
    return FALSE;
  }
  PresetStore presets;
  ctx->options = &presets.exportOpts;
  Bool handled = TRUE;
  if (request->doc) {
    const ExportPreparation prepared = PrepareExport(ctx, request->doc);
    if (prepared == EXPORT_CANCELLED) {
      // The question clears exportNgons before it is asked; a host failure does not.
      request->cancelledByValidation = !ctx->exportNgons;
      ObjExportContext::Free(ctx);
      return TRUE;
    }
    handled = prepared == EXPORT_PREPARED;
  }
  if (handled) request->confirmed = RunExportOptions(ctx, presets, request->doc, &request->opened);
  ObjExportContext::Free(ctx);
  return handled;
}

namespace {

class ExportPlugin : public CommandData {
 public:
  Bool Execute(BaseDocument* doc) override;
  LONG GetState(BaseDocument* doc) override {
    (void)doc;
    return CMD_ENABLED;
  }

 private:
  PresetStore m_presets;
};

Bool ExportPlugin::Execute(BaseDocument* doc) {
  if (!doc) return FALSE;
  ObjExportContext* ctx = ObjExportContext::Alloc();
  if (!ctx) {
    ReportMemoryError("ObjExportContext::Alloc()");
    return FALSE;
  }
  ctx->options = &m_presets.exportOpts;
  if (PrepareExport(ctx, doc) != EXPORT_PREPARED) {
    ObjExportContext::Free(ctx);
    return FALSE;
  }
  if (ctx->progressTotal == 0) {
    MessageDialog(GeLoadString(IDS_NOTHING_TO_EXPORT_1) + String("\n") + GeLoadString(IDS_NOTHING_TO_EXPORT_2));
    ObjExportContext::Free(ctx);
    return FALSE;
  }
  if (RunExportOptions(ctx, m_presets, doc, nullptr))
    GePrint(String("Kelvane: The OBJ file export is not available in this build."));
  ObjExportContext::Free(ctx);
  return FALSE;
}

CommandData* AllocExportPlugin() { return gNew ExportPlugin; }

}  // namespace

Bool RegisterExportPlugin() {
  return RegisterCommandFromResource(ID_EXPORT_PLUGIN, IDS_EXPORT_NAME, IDS_EXPORT_HELP, "export.tif",
                                     AllocExportPlugin);
}

void FreeExportPlugin() {}
