#include "objimp.h"

#include "c4d_symbols.h"
#include "compat.h"
#include "main.h"
#include "objread.h"
#include "optdialogs.h"
#include "plugin_ids.h"
#include "plugin_messages.h"
#include "registration.h"
#include "uthash_host.h"

Bool RunImportOptions(PresetStore& presets, Real* scaleFactor, Bool* opened) {
  LoadOptsDialog dialog(&presets, scaleFactor);
  if (!PlayOptionsDialog(presets, dialog, opened)) return FALSE;
  AdjustConfirmedImportOpts(presets.importOpts);
  return TRUE;
}

Bool ShowImportOptions(OptionsDialogRequest* request) {
  if (!request) return FALSE;
  PresetStore presets;
  Real scaleFactor = 1.0;
  request->confirmed = RunImportOptions(presets, &scaleFactor, &request->opened);
  return TRUE;
}

namespace {

// Folder levels a folder import walks at most: each becomes a null object when the
// options ask for nulls, and the objects of a file sit a few levels below its folder's;
// scene files load trees of up to 512 levels.
constexpr LONG kMaxFolderDepth = 256;

// The files and folders a folder import has reached, by identity, so that symbolic links
// lead to each only once (a link loop ends, a file is never imported twice).
class VisitedFiles {
 public:
  VisitedFiles() = default;
  VisitedFiles(const VisitedFiles&) = delete;
  VisitedFiles& operator=(const VisitedFiles&) = delete;
  ~VisitedFiles() { Clear(); }

  // True when id was not reached before (it is now). *outOfMemory when it could not be
  // kept (it then counts as not reached).
  Bool Add(const FileIdentity& id, Bool* outOfMemory) {
    *outOfMemory = FALSE;
    Entry* found = nullptr;
    HASH_FIND(hh, m_pEntries, &id, sizeof(FileIdentity), found);
    if (found) return FALSE;
    Entry* entry = gNew Entry;
    if (!entry) {
      *outOfMemory = TRUE;
      return TRUE;
    }
    entry->id = id;
    UthashClearOutOfMemory();
    HASH_ADD(hh, m_pEntries, id, sizeof(FileIdentity), entry);
    if (UthashOutOfMemory()) {
      UthashClearOutOfMemory();
      gDelete(entry);
      *outOfMemory = TRUE;
    }
    return TRUE;
  }

  void Clear() {
    Entry *entry = nullptr, *next = nullptr;
    HASH_ITER(hh, m_pEntries, entry, next) {
      HASH_DEL(m_pEntries, entry);
      gDelete(entry);
    }
  }

 private:
  struct Entry {
    FileIdentity id;
    UT_hash_handle hh;
  };
  Entry* m_pEntries = nullptr;
};

class ImportPlugin : public CommandData {
 public:
  Bool Execute(BaseDocument* doc) override;
  LONG GetState(BaseDocument* doc) override {
    (void)doc;
    return CMD_ENABLED;
  }

 private:
  LONG ImportObjFile(BaseDocument* doc);
  // The document that receives the import: a new one named after chosen when the
  // options ask for it (inserted and made active), else the command's.
  BaseDocument* TargetDocument(const Filename& chosen);
  LONG ImportFolder(const Filename& folder, BaseObject* parent, LONG depth);
  // Whether the walk goes into folder at depth: not deeper than kMaxFolderDepth, not a
  // folder reached before. Says why when it does not.
  Bool EnterFolder(const Filename& folder, LONG depth);
  // Whether file was reached before (through a link); says so when it was.
  Bool ReachedBefore(const Filename& file);
  LONG ImportMaterialLibrary(BaseDocument* doc, const Filename& file);
  Bool BuildFile(BaseObject* parent);
  LONG LoadObj(const String& defaultObjectName);
  Filename GetLastPath() const;
  void SetLastPath(const Filename& path);

  PresetStore m_presets;
  ObjImporter* m_pImporter = nullptr;
  VisitedFiles m_visited;
  BaseDocument* document = nullptr;
  Filename objFile;
  Real scaleFactor = 1000.0;
};

Bool ImportPlugin::Execute(BaseDocument* doc) {
  m_pImporter = ObjImporter::Alloc();
  if (!m_pImporter) {
    ReportMemoryError("ObjImporter");
    return FALSE;
  }
  document = doc;
  // The dialog sets the factor; this is the importer's value before it runs.
  scaleFactor = 1000.0;
  Bool opened = FALSE;
  if (!RunImportOptions(m_presets, &scaleFactor, &opened)) {
    if (!opened) GePrint(String("Kelvane: The import options dialog could not be opened."));
    ObjImporter::Free(m_pImporter);
    return FALSE;
  }
  m_pImporter->SetOptions(m_presets.importOpts, scaleFactor);
  GeShowMouse(MOUSE_BUSY);
  const LONG result = ImportObjFile(doc);
  StatusClear();
  GeShowMouse(MOUSE_NORMAL);
  EventAdd();
  ObjImporter::Free(m_pImporter);
  document = nullptr;
  return result != 0;
}

LONG ImportPlugin::ImportObjFile(BaseDocument* doc) {
  Filename chosen = GetLastPath();
  const PluginOpts& opts = m_presets.importOpts;
  if (opts.mode == 1) {
    const String title = GeLoadString(IDS_IMPORT_SELECT_FOLDER);
    if (!chosen.FileSelect(FILESELECTTYPE_ANYTHING, FILESELECT_DIRECTORY, &title)) return 0;
    BaseDocument* target = TargetDocument(chosen);
    if (!target) return 0;
    SetLastPath(chosen);
    BaseObject* null = BaseObject::Alloc(Onull);
    if (!null) {
      ReportMemoryError("Folder Null Object");
      return 0;
    }
    null->SetName(FileName(chosen));
    target->InsertObject(null, nullptr, nullptr);
    m_visited.Clear();
    const LONG result = EnterFolder(chosen, 0) ? ImportFolder(chosen, null, 0) : 0;
    m_visited.Clear();
    return result;
  }

  const String title = GeLoadString(IDS_IMPORT_SELECT_FILE);
  if (!chosen.FileSelect(FILESELECTTYPE_SCENES, FILESELECT_LOAD, &title)) return 0;
  if (chosen.CheckSuffix(String("MTL"))) return ImportMaterialLibrary(doc, chosen);
  if (!chosen.CheckSuffix(String("OBJ"))) {
    MessageDialog(String("This plugin will only import Wavefront '.obj'\nor '.mtl' format files - operation canceled."));
    return 0;
  }
  if (!TargetDocument(chosen)) return 0;
  SetLastPath(chosen.GetDirectory());
  const Real start = GeGetMilliSeconds();
  objFile = chosen;
  const Bool built = BuildFile(nullptr);
  ReportElapsed("ImportObjFile() total", GeGetMilliSeconds() - start);
  return built ? 1 : 0;
}

BaseDocument* ImportPlugin::TargetDocument(const Filename& chosen) {
  if (!(m_presets.importOpts.layoutFlags & IMP_NEW_DOCUMENT)) return document;
  BaseDocument* doc = BaseDocument::Alloc();
  if (!doc) {
    ReportMemoryError("BaseDocument");
    return nullptr;
  }
  Filename name = chosen.GetFile();
  name.SetSuffix(String("c4d"));
  doc->SetDocumentName(name);
  doc->SetDocumentPath(chosen.GetDirectory());
  InsertBaseDocument(doc);
  SetActiveDocument(doc);
  document = doc;
  return doc;
}

Bool ImportPlugin::EnterFolder(const Filename& folder, LONG depth) {
  if (depth > kMaxFolderDepth) {
    GePrint(String("Kelvane: the folder '") + folder.GetString() + String("' lies more than ") +
            LongToString(kMaxFolderDepth) + String(" folders deep and was not imported"));
    return FALSE;
  }
  FileIdentity id;
  if (!GeFGetIdentity(folder, &id)) {
    GePrint(String("Kelvane: the folder '") + folder.GetString() + String("' cannot be read and was not imported"));
    return FALSE;
  }
  Bool outOfMemory = FALSE;
  if (!m_visited.Add(id, &outOfMemory)) {
    GePrint(String("Kelvane: the folder '") + folder.GetString() +
            String("' leads to a folder imported already (a symbolic link) and was skipped"));
    return FALSE;
  }
  if (outOfMemory) {
    ReportMemoryError("Folder Walk");
    return FALSE;
  }
  return TRUE;
}

Bool ImportPlugin::ReachedBefore(const Filename& file) {
  FileIdentity id;
  // A file that cannot be reached is left to the import, which says why.
  if (!GeFGetIdentity(file, &id)) return FALSE;
  Bool outOfMemory = FALSE;
  if (m_visited.Add(id, &outOfMemory)) return FALSE;
  GePrint(String("Kelvane: '") + file.GetString() + String("' is a file imported already (a symbolic link) and was skipped"));
  return TRUE;
}

LONG ImportPlugin::ImportFolder(const Filename& folder, BaseObject* parent, LONG depth) {
  BrowseFiles* browse = BrowseFiles::Alloc();
  if (!browse) {
    ReportMemoryError("BrowseFiles");
    return 0;
  }
  const ULONG layout = m_presets.importOpts.layoutFlags;
  LONG result = 1;
  if (!browse->Init(folder, 0))
    GePrint(String("Kelvane: the folder '") + folder.GetString() + String("' cannot be read and was not imported"));
  while (result && browse->GetNext()) {
    const Filename entry = folder + browse->GetFilename();
    // An entry that cannot be reached (a link to nothing, a folder gone meanwhile) could
    // have been a folder of the walk: said, not passed over. An OBJ file that cannot be
    // opened fails its import, which stops the walk.
    if ((layout & IMP_FOLDER_SUBFOLDERS) && !entry.CheckSuffix(String("OBJ")) && !GeFGetIdentity(entry, nullptr)) {
      GePrint(String("Kelvane: '") + entry.GetString() + String("' cannot be read and was skipped"));
      continue;
    }
    if (browse->IsDir()) {
      if (!(layout & IMP_FOLDER_SUBFOLDERS)) continue;
      if (!EnterFolder(entry, depth + 1)) continue;
      BaseObject* under = parent;
      if (layout & IMP_FOLDER_NULLS) {
        if (BaseObject* null = BaseObject::Alloc(Onull)) {
          null->SetName(browse->GetFilename().GetString());
          document->InsertObject(null, parent, parent ? parent->GetDownLast() : nullptr);
          under = null;
        }
      }
      result = ImportFolder(entry, under, depth + 1);
    } else if (entry.CheckSuffix(String("OBJ"))) {
      if (ReachedBefore(entry)) continue;
      objFile = entry;
      if (!BuildFile(parent)) result = 0;
    }
  }
  BrowseFiles::Free(browse);
  return result;
}

LONG ImportPlugin::ImportMaterialLibrary(BaseDocument* doc, const Filename& file) {
  ioMaterialList* materials = m_pImporter->m_pMaterialList;
  m_pImporter->ClearModel();
  TextReader mtlInput;
  if (mtlInput.Open(file) != FILEERROR_NONE) {
    ReportFileError("Open Failed");
    return 0;
  }
  const LONG count = materials->AddMTLNames(mtlInput);
  if (count < 0) return 0;
  m_pImporter->curMaterialMark = count;
  m_pImporter->contentFlags |= OBJ_HAS_MATERIALS;
  mtlInput.Rewind();
  materials->LoadMTLs(mtlInput);
  mtlInput.Close();
  ioMaterialBuildOptions options;
  const PluginOpts& opts = m_presets.importOpts;
  options.materialFlags = opts.materialFlags;
  options.texturePath = opts.texturePath;
  options.shaderParam1005 = opts.shaderParam1005;
  options.shaderParam1006 = opts.shaderParam1006;
  // No OBJ file named this library: the colour channel rule treats it as none read, so
  // every material keeps its colour.
  options.libraryRead = FALSE;
  materials->SetBaseMaterials(doc, options);
  return 1;
}

Bool ImportPlugin::BuildFile(BaseObject* parent) {
  String name = FileName(objFile);
  if (name.GetLength() > OBJ_MAX_NAME_LENGTH) name = name.Left(OBJ_MAX_NAME_LENGTH);
  if (LoadObj(name) != 0) {
    GePrint(String("Failed to load: ") + objFile.GetString());
    m_pImporter->ClearModel();
    return FALSE;
  }
  m_pImporter->BuildScene(document, parent, objFile);
  m_pImporter->ClearModel();
  return TRUE;
}

LONG ImportPlugin::LoadObj(const String& defaultObjectName) {
  ObjImporter& in = *m_pImporter;
  const LONG opened = in.Open(objFile);
  if (opened != FILEERROR_NONE) {
    ReportFileError("Open Failed");
    return opened;
  }
  in.ClearModel();
  StatusSetText(GeLoadString(IDS_STATUS_SCANNING));
  StatusSetSpin();
  if (!in.ScanObj(defaultObjectName)) {
    in.Close();
    if (!in.scanOutOfMemory) ReportFileError("File Parsing Failed");
    return -7;
  }
  StatusSetText(String("Loading Materials..."));
  in.LoadMaterialLibrary(objFile);
  if (in.importOpts.materialFlags & MAT_CONSOLIDATE) StatusSetText(String("Consolidating Materials..."));
  in.ConsolidateMaterials();
  StatusSetText(GeLoadString(IDS_STATUS_ALLOCATING));
  // The normals' values serve the normal tag alone.
  in.KeepNormals((in.importOpts.geomFlags & GEOM_NORMALS) != 0);
  if (!in.AllocModel()) {
    in.Close();
    return -7;
  }
  StatusSetText(GeLoadString(IDS_STATUS_READING));
  const Real start = GeGetMilliSeconds();
  if (!in.ReadObj()) {
    in.Close();
    ReportMemoryError("vertex buffer allocation Failed");
    return -7;
  }
  ReportElapsed("ReadObj()", GeGetMilliSeconds() - start);
  in.Close();
  in.DropIndicesOutOfRange();
  return in.SetListIndices() ? 0 : -7;
}

Filename ImportPlugin::GetLastPath() const {
  const BaseContainer* stored = GetWorldPluginData(ID_EXPORT_PLUGIN);
  return stored ? Filename(stored->GetString(PRESETS_LAST_PATH, String())) : Filename();
}

void ImportPlugin::SetLastPath(const Filename& path) {
  // Import and export share the remembered folder in the export command's container.
  BaseContainer entry;
  entry.SetString(PRESETS_LAST_PATH, path.GetString());
  SetWorldPluginData(ID_EXPORT_PLUGIN, entry, TRUE);
  m_presets.lastPath = path.GetString();
}

CommandData* AllocImportPlugin() { return gNew ImportPlugin; }

}  // namespace

Bool RegisterImportPlugin() {
  return RegisterCommandFromResource(ID_IMPORT_PLUGIN, IDS_IMPORT_NAME, IDS_IMPORT_HELP, "import.tif",
                                     AllocImportPlugin);
}

void FreeImportPlugin() {}
