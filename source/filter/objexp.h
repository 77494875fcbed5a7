// The OBJ export command's working record and the steps that come before the export
// options dialog: the polygonised copy, the pre-pass over it (export mask, editor
// visibility, expected item count, n-gon check) and the option stage itself.
#pragma once

#include <set>
#include <string>

#include "c4d.h"
#include "optrecord.h"

class BufferedOutput;
class PresetStore;
class ProgBarDialog;
class ioMesh;
class nameHash;

// progressShown: the status bar shows the export's progress.
enum : ULONG { PROGRESS_STATUS_BAR = 0x10 };

// The state of one export run, owned by the export command from start to end.
class ObjExportContext {
 public:
  // Null when memory is missing.
  static ObjExportContext* Alloc();
  // Frees the context and the polygonised copy it owns.
  static void Free(ObjExportContext*& ctx);

  BaseDocument* sourceDocument = nullptr;  // the polygonised copy (owned)
  PluginOpts* options = nullptr;           // the export record, in the command's preset store
  ULONG progressTotal = 0;                 // expected items of the current file set
  Real scaleFactor = 1.0;                  // applied to every coordinate
  LONG faceForm = 7;                       // index-token form of face lines, 1..8
  LONG exportMode = 0;                     // 0..3, from the confirmed options
  Bool exportNgons = TRUE;                 // cleared when the user declines holed n-gons
  Bool ignoreVisibility = TRUE;

  // The file set being written (see objwrite.h).
  Filename objFileName, mtlFileName;
  BufferedOutput* objOut = nullptr;  // owned
  BufferedOutput* mtlOut = nullptr;  // owned; open only while the MTL file is
  nameHash* writtenMaterials = nullptr;  // names written into the current MTL file
  Bool fileOpen = FALSE;
  Bool writeMaterials = FALSE;  // the set has an MTL file (or shares the first frame's)
  ULONG vertexBase = 0, uvBase = 0, normalBase = 0;
  ULONG progressCount = 0;
  ULONG progressShown = 0;
  ProgBarDialog* progressDialog = nullptr;  // counts closed files in modes 1 to 3
  LONG filesClosed = 0;                     // file sets closed so far
  LONG filesTotal = 0;                      // file sets the run expects (modes 1 to 3)
  LONG fileNumber = 0;                      // of the current file (per-frame sets)
  Bool firstFrameFile = TRUE;               // the first file of a per-frame run
  // Set by the progress window (Escape while a file name is shown) or, with
  // watchEscape, by the writer polling the keyboard every 64 items: the run stops
  // and the file set being written is discarded.
  Bool cancelled = FALSE;
  Bool watchEscape = FALSE;
  // Where the files go: the chosen folder, the name of the next set without suffix,
  // and the folder of the current object in per-object mode with sub-folders.
  Filename baseDirectory;
  String baseFile;
  Filename subFolder;
  // The OBJ files opened in this run (paths in lower case), so that two objects of one
  // name never share a file whatever the existing-file rule.
  std::set<std::string> openedFiles;
  // In mode 2 (a file set per object): names the files of op and sets progressTotal
  // for it; false stops the export. Without one, the current names are used.
  Bool (*nameObjectFiles)(ObjExportContext* ctx, BaseObject* op) = nullptr;
  // The object being written.
  ULONG vertexCount = 0, uvCount = 0, normalCount = 0, polygonCount = 0;
  ioMesh* mesh = nullptr;  // owned while an object is written
  BaseMaterial* objectMaterial = nullptr;  // the material the object inherits, if any
  TextureTag* objectTextureTag = nullptr;
  String objectMaterialName;  // its name, "default_Mat" when there is none
  CHAR line[1024];  // every line is formatted here, then written

  // The object being visited.
  Bool maskSkipObject = FALSE;
  Bool maskSkipChildren = FALSE;
  LONG visibilityMode = MODE_ON;  // 0 on, 1 off, 2 inherit

  // The option words of the run (0 without a record).
  ULONG GeomFlags() const { return options ? options->geomFlags : 0; }
  ULONG LayoutFlags() const { return options ? options->layoutFlags : 0; }

  ObjExportContext(const ObjExportContext&) = delete;
  ObjExportContext& operator=(const ObjExportContext&) = delete;
  ~ObjExportContext();

 private:
  ObjExportContext() = default;
};

// The export-mask tag and editor visibility of op into maskSkipObject, maskSkipChildren
// and visibilityMode (0 whenever visibility is ignored).
void ReadObjectState(ObjExportContext* ctx, BaseObject* op);
// Adds the items polygon object op will write to progressTotal: its points, its
// polygons when faces are written, and per polygon 3 (4 for a quad) for each of
// texture coordinates and normals that is written.
void CountObject(ObjExportContext* ctx, BaseObject* op);
// Walks op, its siblings and their children in hierarchy order: counts every exported
// polygon object and, while n-gons may be exported, checks it for holed n-gons. False
// when the check cancelled the export.
Bool PrePassObjects(ObjExportContext* ctx, BaseObject* op, Bool visible);

// What preparing an export came to.
enum ExportPreparation : LONG {
  EXPORT_PREPARED = 0,
  EXPORT_NO_COPY = 1,    // the polygonised copy could not be made
  EXPORT_CANCELLED = 2,  // the n-gon check cancelled (No, or a host failure)
};
// Makes the polygonised copy of doc into ctx->sourceDocument and runs the pre-pass
// over it.
ExportPreparation PrepareExport(ObjExportContext* ctx, BaseDocument* doc);

// Names the next file set from baseDirectory, baseFile, the mode and the numbering
// into objFileName and mtlFileName, applying the existing-file rule, and shows the OBJ
// file in the progress window. False when the user cancelled (a file dialog, or
// Escape seen by the progress window: the cancel message is shown).
Bool BuildFileNames(ObjExportContext* ctx);
// Mode 2 (the nameObjectFiles hook): the file set of polygon object op, named after it.
Bool NameObjectFiles(ObjExportContext* ctx, BaseObject* op);
// Writes op, its siblings and their children in hierarchy order into the file sets
// the export mode gives them; inherited is the texture tag a polygon object takes its
// material from, subFolder the folder of this level's objects in per-object mode. False
// when a file set could not be made or written, or the run was cancelled.
Bool WalkObjects(ObjExportContext* ctx, BaseObject* op, Bool visible, LONG depth, TextureTag* inherited,
                 const Filename& subFolder);
// The exported polygon objects of op's subtree (op itself included; with siblings,
// those of its next siblings too), by the pre-pass's rules: adds their expected items
// to progressTotal, and returns how many there are.
LONG CountExported(ObjExportContext* ctx, BaseObject* op, Bool visible, Bool siblings);
// The file sets a run in mode 1 (a set per top-level object with something to export)
// or mode 2 (a set per exported polygon object) writes for the document's objects.
LONG CountFileSets(ObjExportContext* ctx, BaseObject* first);

// The option stage: loads the presets, shows the export options dialog and saves the
// presets when it closes (OK or Cancel); on OK the record is adjusted and the context
// takes the ignore-visibility switch, the face form, the export mode and the scale
// factor. *opened (may be null) tells whether the dialog was shown. True on OK.
Bool RunExportOptions(ObjExportContext* ctx, PresetStore& presets, BaseDocument* doc, Bool* opened);

