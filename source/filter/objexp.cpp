// The OBJ export command: the polygonised copy and its pre-pass, the options dialog,
// then the file sets of the chosen mode, named and walked here and written by the OBJ
// and MTL writers.
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
#include "plugopts.h"
#include "progress.h"
#include "plugin_messages.h"
#include "registration.h"
#include "validate.h"

ObjExportContext* ObjExportContext::Alloc() { return gNew ObjExportContext; }

void ObjExportContext::Free(ObjExportContext*& ctx) { gDelete(ctx); }

ObjExportContext::~ObjExportContext() {
  CloseFileSet(this, FALSE);
  gDelete(progressDialog);
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
  const ULONG geom = ctx->GeomFlags();
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

namespace {

// Visits op (and with siblings its next siblings) and the children by the export-mask
// tag and visibility rules; counts every exported polygon object into *count and
// progressTotal and, with checkNgons while n-gons may be exported, checks it. False
// when the check cancelled the export.
Bool VisitExported(ObjExportContext* ctx, BaseObject* op, Bool visible, Bool siblings, Bool checkNgons, LONG* count) {
  for (; op; op = siblings ? op->GetNext() : nullptr) {
    ReadObjectState(ctx, op);
    // The state is the context's until the children are visited.
    const Bool skipChildren = ctx->maskSkipChildren;
    const LONG mode = ctx->visibilityMode;
    const Bool shown = mode == MODE_ON || (mode == MODE_UNDEF && visible);
    if (op->GetType() == Opolygon && !ctx->maskSkipObject && shown) {
      CountObject(ctx, op);
      ++*count;
      if (checkNgons && ctx->exportNgons && !ValidatePolygons(ctx, op)) return FALSE;
    }
    if (!skipChildren && op->GetDown() && !VisitExported(ctx, op->GetDown(), shown, TRUE, checkNgons, count))
      return FALSE;
  }
  return TRUE;
}

}  // namespace

Bool PrePassObjects(ObjExportContext* ctx, BaseObject* op, Bool visible) {
  LONG count = 0;
  return VisitExported(ctx, op, visible, TRUE, TRUE, &count);
}

LONG CountExported(ObjExportContext* ctx, BaseObject* op, Bool visible, Bool siblings) {
  LONG count = 0;
  VisitExported(ctx, op, visible, siblings, FALSE, &count);
  return count;
}

LONG CountFileSets(ObjExportContext* ctx, BaseObject* first) {
  const ULONG progressTotal = ctx->progressTotal;
  LONG sets = 0;
  if (ctx->exportMode == 2) {
    sets = CountExported(ctx, first, TRUE, TRUE);
  } else if (ctx->exportMode == 1) {
    for (BaseObject* op = first; op; op = op->GetNext())
      if (CountExported(ctx, op, TRUE, FALSE) > 0) ++sets;
  }
  ctx->progressTotal = progressTotal;
  return sets;
}

namespace {

// Makes folder and the folders above it that are missing.
Bool MakeFolders(const Filename& folder, LONG depth = 0) {
  if (!folder.Content() || GeFExist(folder, TRUE)) return TRUE;
  const Filename parent = folder.GetDirectory();
  if (depth > 256 || parent.GetString() == folder.GetString() || !MakeFolders(parent, depth + 1)) return FALSE;
  return GeFCreateDir(folder);
}

// The key of a file this run opened: its path without case, as file systems that
// ignore case see it (two objects "Cube" and "cube" must not share a file there).
std::string OpenedKey(const Filename& name) {
  std::string key = name.GetString().Std();
  for (char& c : key) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return key;
}

// A file of this name is there, or this run wrote one already.
Bool FileTaken(const ObjExportContext* ctx, const Filename& name) {
  return ctx->openedFiles.count(OpenedKey(name)) != 0 || GeFExist(name) || GeFExist(name, TRUE);
}

Filename WithSuffix(const Filename& folder, const String& file, const CHAR* suffix) {
  return folder + Filename(file + String(".") + String(suffix));
}

}  // namespace

Bool BuildFileNames(ObjExportContext* ctx) {
  const ULONG layout = ctx->LayoutFlags();
  Filename folder = ctx->baseDirectory;
  if (ctx->exportMode == 2 && (layout & XP_OBJECT_SUBFOLDERS) && ctx->subFolder.Content() &&
      MakeFolders(ctx->subFolder))
    folder = ctx->subFolder;
  // The name is built whole rather than through the suffix operations, so that an
  // object named "v1.2" keeps its dot.
  String file = ctx->baseFile;
  String libraryFile = file;
  if (ctx->exportMode == 3) {
    CHAR number[32];
    std::snprintf(number, sizeof(number), "_%06ld", static_cast<long>(ctx->fileNumber));
    file += String(number);
    if (!(layout & XP_ONE_MTL)) libraryFile = file;
  }
  Filename obj = WithSuffix(folder, file, "obj");
  Filename mtl = WithSuffix(folder, libraryFile, "mtl");
  const ULONG rule = layout & XP_EXISTING_MASK;
  const Bool writtenThisRun = ctx->openedFiles.count(OpenedKey(obj)) != 0;
  if (writtenThisRun || (rule != XP_EXISTING_OVERWRITE && GeFExist(obj))) {
    if (rule == XP_EXISTING_ASK && !writtenThisRun) {
      const String title = GeLoadString(IDS_EXPORT_SAVE_FILE);
      if (!obj.FileSelect(FILESELECTTYPE_ANYTHING, FILESELECT_SAVE, &title)) return FALSE;
      if (!obj.GetSuffix().Content()) obj.SetSuffix(String("obj"));
    } else {
      // Numbered: "-01", "-02", ... (more digits past 99) until the name is free.
      for (LONG n = 1;; ++n) {
        CHAR number[32];
        std::snprintf(number, sizeof(number), "-%02ld", static_cast<long>(n));
        obj = WithSuffix(folder, file + String(number), "obj");
        if (!FileTaken(ctx, obj)) break;
      }
    }
    // The library follows the new name: a renamed set never replaces the library an
    // earlier set (or an earlier export) refers to. Frames sharing one library keep it.
    if (!(ctx->exportMode == 3 && (layout & XP_ONE_MTL))) {
      mtl = obj;
      mtl.SetSuffix(String("mtl"));
    }
  }
  ctx->objFileName = obj;
  ctx->mtlFileName = mtl;
  ctx->openedFiles.insert(OpenedKey(obj));
  if (ctx->progressDialog) ctx->progressDialog->SetLabel(obj.GetString());
  return !ctx->cancelled;
}

namespace {

// The last texture tag of op, or null.
TextureTag* LastTextureTag(BaseObject* op) {
  TextureTag* last = nullptr;
  for (BaseTag* tag = op->GetFirstTag(); tag; tag = tag->GetNext())
    if (tag->GetType() == Ttexture) last = static_cast<TextureTag*>(tag);
  return last;
}

}  // namespace

Bool NameObjectFiles(ObjExportContext* ctx, BaseObject* op) {
  ctx->baseFile = SafeFileName(op->GetName());
  ctx->progressTotal = 0;
  CountObject(ctx, op);
  return BuildFileNames(ctx);
}

Bool WalkObjects(ObjExportContext* ctx, BaseObject* op, Bool visible, LONG depth, TextureTag* inherited,
                 const Filename& subFolder) {
  const ULONG layout = ctx->LayoutFlags();
  for (; op; op = op->GetNext()) {
    const Matrix mg = op->GetMg();
    ReadObjectState(ctx, op);
    const Bool skipObject = ctx->maskSkipObject, skipChildren = ctx->maskSkipChildren;
    const LONG mode = ctx->visibilityMode;
    const Bool shown = mode == MODE_ON || (mode == MODE_UNDEF && visible);
    // Mode 1: a set per top-level object whose subtree (itself included) has
    // something to export, named after it.
    const Bool setPerObject = ctx->exportMode == 1 && depth == 0;
    if (setPerObject) {
      ctx->progressTotal = 0;
      if (CountExported(ctx, op, visible, FALSE) > 0) {
        ctx->baseFile = SafeFileName(op->GetName());
        if (!BuildFileNames(ctx) || !OpenFileSet(ctx)) return FALSE;
      }
    }
    TextureTag* passOn = inherited;
    if (op->GetType() != Opolygon) {
      if (TextureTag* last = LastTextureTag(op)) passOn = last;
    } else if (!skipObject && shown) {
      BaseMaterial* material = inherited ? inherited->GetMaterial() : nullptr;
      ctx->objectTextureTag = material ? inherited : nullptr;
      ctx->objectMaterial = material;
      ctx->objectMaterialName = material ? ExportName(material->GetName()) : String("default_Mat");
      ctx->subFolder = subFolder;
      if (!WriteObject(ctx, op, mg)) return FALSE;
    }
    if (!skipChildren && op->GetDown()) {
      const Filename childFolder = ctx->exportMode == 2 && (layout & XP_OBJECT_SUBFOLDERS)
                                       ? subFolder + Filename(SafeFileName(op->GetName()))
                                       : subFolder;
      if (!WalkObjects(ctx, op->GetDown(), shown, depth + 1, passOn, childFolder)) return FALSE;
    }
    if (setPerObject && !CloseFileSet(ctx)) return FALSE;
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

// The folder the next export's file and folder dialogs start in; the import shares it.
void SetLastExportPath(PresetStore& presets, const Filename& folder) {
  BaseContainer entry;
  entry.SetString(PRESETS_LAST_PATH, folder.GetString());
  SetWorldPluginData(ID_EXPORT_PLUGIN, entry, TRUE);
  presets.lastPath = folder.GetString();
}

// The folder dialog of modes 1 to 3; false when the user cancelled it.
Bool ChooseFolder(ObjExportContext* ctx, PresetStore& presets) {
  Filename folder = ctx->baseDirectory;
  const String title = GeLoadString(IDS_EXPORT_SELECT_FOLDER);
  if (!folder.FileSelect(FILESELECTTYPE_ANYTHING, FILESELECT_DIRECTORY, &title)) return FALSE;
  ctx->baseDirectory = folder;
  SetLastExportPath(presets, folder);
  return TRUE;
}

// The progress window of a run that writes several file sets.
void OpenProgress(ObjExportContext* ctx) {
  if (!ctx->progressDialog && !(ctx->progressDialog = gNew ProgBarDialog)) return;  // runs without a window
  ProgBarDialog* dialog = ctx->progressDialog;
  dialog->SetOwner(&ctx->cancelled, "progbar.tif");
  if (!dialog->Open(DLG_TYPE_ASYNC, ID_EXPORT_PLUGIN, -1, -1)) return;
  dialog->SetTitle(GeLoadString(IDS_PROGRESS_TITLE));
  dialog->SetTotal(ctx->filesTotal);
  dialog->SetCurrent(0);
}

Bool ExportDocumentFile(ObjExportContext* ctx, PresetStore& presets) {
  Filename chosen = ctx->baseDirectory + Filename(ctx->baseFile + String(".obj"));
  const String title = GeLoadString(IDS_EXPORT_SAVE_FILE);
  if (!chosen.FileSelect(FILESELECTTYPE_ANYTHING, FILESELECT_SAVE, &title)) return FALSE;
  if (!chosen.GetSuffix().Content()) chosen.SetSuffix(String("obj"));
  ctx->baseDirectory = chosen.GetDirectory();
  SetLastExportPath(presets, ctx->baseDirectory);
  Filename file = chosen.GetFile();
  file.ClearSuffix();
  ctx->baseFile = file.GetString();
  ctx->objFileName = chosen;
  ctx->mtlFileName = chosen;
  ctx->mtlFileName.SetSuffix(String("mtl"));
  // Only this run's single file can be cancelled from the keyboard while it is written.
  ctx->watchEscape = TRUE;
  if (!OpenFileSet(ctx)) return FALSE;
  BaseObject* first = ctx->sourceDocument->GetFirstObject();
  ctx->progressTotal = 0;
  CountExported(ctx, first, TRUE, TRUE);
  const Real started = GeGetMilliSeconds();
  const Bool written = WalkObjects(ctx, first, TRUE, 0, nullptr, ctx->baseDirectory);
  ReportElapsed("ExportObjFile() total", GeGetMilliSeconds() - started);
  return written && CloseFileSet(ctx);
}

Bool ExportObjectFiles(ObjExportContext* ctx, PresetStore& presets) {
  if (!ChooseFolder(ctx, presets)) return FALSE;
  BaseObject* first = ctx->sourceDocument->GetFirstObject();
  ctx->filesTotal = CountFileSets(ctx, first);
  OpenProgress(ctx);
  if (ctx->exportMode == 2) ctx->nameObjectFiles = NameObjectFiles;
  if (!WalkObjects(ctx, first, TRUE, 0, nullptr, ctx->baseDirectory)) return FALSE;
  MessageDialog(GeLoadString(IDS_EXPORT_FINISHED));
  return TRUE;
}

Bool ExportFrameFiles(ObjExportContext* ctx, PresetStore& presets, BaseDocument* doc) {
  BaseDocument::Free(ctx->sourceDocument);
  if (!ChooseFolder(ctx, presets)) return FALSE;
  const PluginOpts& opts = *ctx->options;
  const LONG step = opts.frameStep > 0 ? opts.frameStep : 1;
  const LONG fps = opts.frameRate > 0 ? opts.frameRate : doc->GetFps();
  ctx->fileNumber = opts.useFirstFileNumber == 1 ? opts.firstFileNumber : opts.startFrame;
  ctx->filesTotal =
      opts.endFrame >= opts.startFrame ? LONG((LLONG(opts.endFrame) - opts.startFrame) / step + 1) : 0;
  ctx->firstFrameFile = TRUE;
  OpenProgress(ctx);
  const BaseTime documentTime = doc->GetTime();
  Bool written = TRUE;
  for (LLONG frame = opts.startFrame; written && frame <= opts.endFrame; frame += step) {
    doc->SetTime(BaseTime(Real(frame), Real(fps)));
    doc->ExecutePasses(nullptr, TRUE, TRUE, TRUE, 0);
    ctx->sourceDocument = doc->Polygonize(FALSE);
    if (!ctx->sourceDocument) {
      ReportMemoryError("BaseDocument::Polygonize()");
      written = FALSE;
      break;
    }
    written = BuildFileNames(ctx) && OpenFileSet(ctx);
    if (written) {
      BaseObject* first = ctx->sourceDocument->GetFirstObject();
      ctx->progressTotal = 0;
      CountExported(ctx, first, TRUE, TRUE);
      written = WalkObjects(ctx, first, TRUE, 0, nullptr, ctx->baseDirectory) && CloseFileSet(ctx);
    }
    if (!written) break;
    BaseDocument::Free(ctx->sourceDocument);
    ctx->firstFrameFile = FALSE;
    ctx->fileNumber += (opts.layoutFlags & XP_NUMBER_BY_STEP) ? step : 1;
  }
  // The document is left at the time it had.
  doc->SetTime(documentTime);
  doc->ExecutePasses(nullptr, TRUE, TRUE, TRUE, 0);
  if (written) MessageDialog(GeLoadString(IDS_EXPORT_FINISHED));
  return written;
}

// Writes the files of the confirmed export. False when nothing more could be written:
// a dialog was cancelled, a file could not be made or written, or the user stopped
// the run; a file set still open is then closed without keeping it.
Bool ExportByMode(ObjExportContext* ctx, PresetStore& presets, BaseDocument* doc) {
  ctx->progressShown = PROGRESS_STATUS_BAR;
  ctx->cancelled = FALSE;
  Filename name = doc->GetDocumentName();
  name.ClearSuffix();
  ctx->baseFile = SafeFileName(name.GetString());
  ctx->baseDirectory = Filename(presets.lastPath);
  switch (ctx->exportMode) {
    case 0:
      return ExportDocumentFile(ctx, presets);
    case 1:
    case 2:
      return ExportObjectFiles(ctx, presets);
    case 3:
      return ExportFrameFiles(ctx, presets, doc);
    default:
      MessageDialog(String("Unknown or Unimplemented Export Mode"));
      return FALSE;
  }
}

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
  if (!RunExportOptions(ctx, m_presets, doc, nullptr)) {
    ObjExportContext::Free(ctx);
    return FALSE;
  }
  const Bool exported = ExportByMode(ctx, m_presets, doc);
  if (ctx->progressDialog && ctx->progressDialog->IsOpen()) ctx->progressDialog->Close();
  CloseFileSet(ctx, exported);
  StatusClear();
  if (ctx->cancelled)
    MessageDialog(GeLoadString(IDS_EXPORT_CANCELLED_1) + String("\n") + GeLoadString(IDS_EXPORT_CANCELLED_2));
  ObjExportContext::Free(ctx);
  return exported;
}

CommandData* AllocExportPlugin() { return gNew ExportPlugin; }

}  // namespace

Bool RegisterExportPlugin() {
  return RegisterCommandFromResource(ID_EXPORT_PLUGIN, IDS_EXPORT_NAME, IDS_EXPORT_HELP, "export.tif",
                                     AllocExportPlugin);
}

void FreeExportPlugin() {}
