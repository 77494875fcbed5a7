// The OBJ reader: one Wavefront OBJ file into the import model of ObjImporter. Pass 1
// (ScanObj) counts every element and names every mesh object, group, region and
// material; AllocModel allocates the arrays at exactly those sizes; pass 2 (ReadObj)
// reads the file again and fills them. Both passes stream the file line by line
// through one line buffer; nothing of the file is held in memory. Large files are read
// as two ranges on two threads in each pass, with the result of one reading.
#pragma once

#include "c4d.h"
#include "fileio.h"
#include "ioface.h"
#include "iogroup.h"
#include "iomtl.h"
#include "ioregion.h"
#include "linknode.h"
#include "meshobj.h"
#include "ngonsplit.h"
#include "optrecord.h"

// What a file contained (contentFlags), set by pass 1.
enum : ULONG {
  OBJ_HAS_VERTICES = 0x2,
  OBJ_HAS_NORMALS = 0x4,
  OBJ_HAS_UVS = 0x8,
  OBJ_HAS_FACES = 0x10,
  OBJ_HAS_GROUPS = 0x20,
  OBJ_HAS_REGIONS = 0x40,
  OBJ_HAS_MATERIALS = 0x80,
  OBJ_HAS_MTLLIB = 0x100,
  OBJ_HAS_SEGMENTS = 0x4000,
  OBJ_HAS_OBJECTS = 0x8000,
};

// Capacities of the reader. Longer input is skipped (lines, faces, line elements) or
// cut (names); docs/obj-import.md lists them with what happens to such input.
enum : LONG {
  OBJ_LINE_BUFFER_SIZE = 2048,    // a line of up to 2047 characters
  OBJ_MAX_FACE_CORNERS = 500,     // corners of one face line
  OBJ_MAX_SEGMENT_POINTS = 1500,  // points of one line element
  OBJ_MAX_NAME_LENGTH = 255,      // object, material, region and group names
  OBJ_MAX_MTLLIB_LENGTH = 259,    // the material library's file name
};

// Large new arrays made present by a worker thread while the calling thread fills
// them: the system clears every new page at its first write, which otherwise costs the
// filling thread about as much as the filling. Forwards for a slow filler (the worker
// stays ahead); backwards for a fast one (the two meet in the middle). Nothing happens
// for small arrays, or with one thread (KELVANE_THREADS=1). The destructor waits.
class ObjPrefault {
 public:
  ObjPrefault() = default;
  ObjPrefault(const ObjPrefault&) = delete;
  ObjPrefault& operator=(const ObjPrefault&) = delete;
  ~ObjPrefault() { Finish(); }
  void Add(void* block, VLONG size);
  void Start(Bool backwards);
  void Finish();

 private:
  static void Run(void* data);
  static constexpr LONG kRanges = 4;
  struct Range {
    void* block;
    VLONG size;
  } m_ranges[kRanges] = {};
  LONG m_count = 0;
  VLONG m_bytes = 0;
  Bool m_backwards = FALSE;
  BackgroundJob* m_job = nullptr;
};

struct IndexTokens;  // the index tokens of one face or line element line (objread.cpp)

class ObjImporter {
 public:
  // A new importer with its four lists and its line buffer; null when memory is missing.
  static ObjImporter* Alloc();
  // Closes the file, frees the model, the lists and the importer; sets importer to null.
  static void Free(ObjImporter*& importer);

  ObjImporter(const ObjImporter&) = delete;
  ObjImporter& operator=(const ObjImporter&) = delete;
  ~ObjImporter();

  // The options of this run; scaleFactor multiplies every vertex coordinate.
  void SetOptions(const PluginOpts& opts, Real scaleFactor);

  // Opens an OBJ file, read in blocks of blockSize bytes. 0, or the host's file error
  // code (FILEERROR_MEMORY when memory is missing).
  LONG Open(const Filename& file, LONG blockSize = TEXTFILE_BLOCKSIZE);
  void Close() { input.Close(); }
  // Frees the model arrays and empties the lists and counts, ready for another file.
  void ClearModel();

  // Pass 1 over the open file. True when at least one vertex was counted; false also
  // when memory ran out (reported, scanOutOfMemory set).
  // defaultObjectName names the mesh object of faces and line elements that come
  // before any "o" statement (the file's name without its folder).
  Bool ScanObj(const String& defaultObjectName);
  // The model arrays at the sizes pass 1 counted. False after reporting the missing
  // memory.
  Bool AllocModel();
  // Whether pass 2 keeps the normals' values (the default). Without them (an import
  // that makes no normal tag) the array stays null, and vn lines are only counted, by
  // the rule the stored ones follow, their values that are no numbers still counted
  // for the report. Set before AllocModel.
  void KeepNormals(Bool keep) { m_keepNormals = keep; }
  // Pass 2 from the start of the file. False when a line element's arrays could not
  // be allocated.
  Bool ReadObj();
  // Reads the material library that pass 1 found ("mtllib"), from the folder of
  // objFile, into the material list. Without a library name, or when it cannot be
  // opened, OBJ_HAS_MTLLIB is cleared and nothing is reported.
  void LoadMaterialLibrary(const Filename& objFile);
  // Says on the console, once per library and run, that the library the file names
  // cannot be opened.
  void WarnMissingLibrary(const Filename& library, const Filename& objFile);
  // Drops faces and line elements whose point indices are out of range (renumbering the
  // rest, the n-gon records and the entries' counts with them) and takes the UVs or
  // normals off faces whose UV or normal indices are. Afterwards every index the scene
  // builder reads is inside its array.
  // Pass 2 keeps indices as the file gives them; this runs after it, before the list
  // indices, and prints one console line for the faces and one for the line elements
  // it changed.
  void DropIndicesOutOfRange();
  // Merges near-equal materials when the options ask for it (MAT_CONSOLIDATE).
  void ConsolidateMaterials();
  // The index lists of the four lists: which faces and segments each entry holds. The
  // mesh objects get lists of faces only for a build of one object per mesh object
  // (IMP_OBJECT_PER_MESH), the only one that reads them. Reports the failing list ("Mem: m_pGroupList->SetFaceIndices()", ...) and returns
  // false when memory is missing.
  Bool SetListIndices();

  // Stores one face line: a triangle or quad as one face, a larger face as the faces
  // the host's modeling library splits it into (dropped when it cannot). A larger face
  // with its n-gon record is split after pass 2 (SplitPendingNgons): its corners wait
  // in the n - 2 face slots pass 1 counted for it.
  void StoreFace(LONG cornerCount, const LONG* vertexIndices, const LONG* uvIndices, const LONG* normalIndices,
                 ObjFace* slot, ioGroup* group, ioRegion* region, ioMaterial* material, meshObj* object);
  // The waiting n-gons split on the threads there are, in parts of about equal corners,
  // then counted in their entries and the face table closed up over the slots they left
  // free, in file order: the faces come out as a split at their place would have made
  // them.
  struct PendingNgon;
  struct NgonSplitJob;
  void SplitPendingNgons();
  // Splits the waiting n-gons [from, to) with splitter; adds the n-gons left unsplit to
  // *notSplit and sets *outOfMemory when memory was missing. Touches only their slots
  // and records, so two parts run at once.
  void SplitNgons(ULONG from, ULONG to, NgonSplitter& splitter, ULONG* notSplit, Bool* outOfMemory);
  // An n-gon could not be split for want of memory: reported once per read.
  void ReportNgonMemory();

  // --- the scene builder (newmesh.cpp) ------------------------------------------------
  // Builds the model read from file into doc, under parent (null: at the top). Objects
  // that cannot be allocated are reported in a box and left out; the rest is built.
  void BuildScene(BaseDocument* doc, BaseObject* parent, const Filename& file);
  // One polygon object of every point and face.
  void BuildSingleObject(BaseDocument* doc, BaseObject* parent, const String& name);
  // One polygon object per entry of the list the layout names (IMP_OBJECT_PER_*).
  void BuildSplitObjects(BaseDocument* doc, BaseObject* parent, ULONG layout);
  void BuildSplines(BaseDocument* doc, BaseObject* parent);
  // Moves the object's axis to the centre of its points' bounding box; the points keep
  // their place in the scene.
  void CenterAxis(PolygonObject* op);
  // The UVW and normal tags of the single object (polygon i = face i).
  void MakeUVWTag(PolygonObject* op);
  // The one-object build, once the polygons are made and only the UVW tag still reads
  // the faces: each face's UV indices in corner order take the place of its record at
  // the front of the array, which shrinks to them (m_facesAreUVCorners).
  void CompactFacesToUVCorners();
  void MakeNormalTag(PolygonObject* op);
  // The n-gons of the single object over the polygons they were split into.
  void RebuildNgons(PolygonObject* op);

  // Layers of the last build, or null (found by name among the document's layers, or
  // made when the options ask for them and the file has what goes on them).
  LayerObject* polygonLayer = nullptr;
  LayerObject* splineLayer = nullptr;
  LayerObject* textureTagLayer = nullptr;
  LayerObject* materialSelLayer = nullptr;
  LayerObject* groupSelLayer = nullptr;
  LayerObject* regionSelLayer = nullptr;
  LayerObject* normalTagLayer = nullptr;
  LayerObject* phongTagLayer = nullptr;
  LayerObject* uvwTagLayer = nullptr;

  // --- counts: pass 1 totals, set to what was stored by pass 2 --------------------------
  ULONG vertexCount = 0;
  ULONG normalCount = 0;
  ULONG uvCount = 0;
  ULONG faceCount = 0;  // pass 1: an n-gon of n corners counts n - 2
  LONG curGroupMark = 0;
  LONG curRegionMark = 0;
  LONG curMaterialMark = 0;
  ULONG ngonCount = 0;
  LONG groupNameCount = 0;
  ULONG segmentCount = 0;
  LONG curMeshObjMark = 0;

  // --- pass 2 cursors ------------------------------------------------------------------
  LONG curMaterial = 0;
  LONG curGroup = 0;
  LONG curRegion = 0;
  LONG curMeshObj = 0;
  ULONG verticesRead = 0;
  ULONG normalsRead = 0;
  ULONG uvsRead = 0;
  ULONG facesStored = 0;
  ULONG ngonsStored = 0;
  ULONG segmentsStored = 0;

  // --- the model -----------------------------------------------------------------------
  CHAR* lineBuffer = nullptr;  // OBJ_LINE_BUFFER_SIZE + TEXTLINE_SLACK bytes
  ObjSegment* segments = nullptr;
  Vector* vertices = nullptr;
  Vector* normals = nullptr;
  Vector* uvs = nullptr;  // u, v, w with w = 1
  ObjFace* faces = nullptr;
  LLONG* ngonScratch = nullptr;  // 72 bytes per corner of the largest n-gon (BuildNgon)
  LONG ngonScratchCount = 0;
  linkList ngons;      // NgonRecord payloads, one per face of five or more corners
  linkList ngonParts;  // a record of the same counts per n-gon, made by a scene build by entries

  ioGroupList* m_pGroupList = nullptr;
  ioRegionList* m_pRegionList = nullptr;
  ioMaterialList* m_pMaterialList = nullptr;
  meshObjList* m_pMeshObjList = nullptr;

  TextReader input;
  ULONG linesRead = 0;
  ULONG lineTotal = 0;
  CHAR mtlLibName[OBJ_MAX_MTLLIB_LENGTH + 1] = {};
  // The material libraries found missing in this run (String payloads): a folder's
  // files that name the same one warn of it once.
  linkList m_missingLibraries;

  PluginOpts importOpts;
  ULONG contentFlags = 0;
  Real scaleFactor = 1.0;

  // --- input the reader skipped for its capacities, counted by pass 2 ------------------
  ULONG linesTooLong = 0;      // statements longer than the line buffer
  ULONG facesTooLarge = 0;     // face lines of more than OBJ_MAX_FACE_CORNERS corners
  ULONG segmentsTooLarge = 0;  // line elements of more than OBJ_MAX_SEGMENT_POINTS points
  ULONG ngonsNotSplit = 0;     // faces the modeling library could not split
  ULONG valuesNotFinite = 0;   // v, vt and vn values (after scaling) that were NaN or infinite, read as 0
  Bool scanOutOfMemory = FALSE;  // pass 1 could not record a name or an n-gon
  Bool scannedByRanges = FALSE;  // pass 1 read the file as two ranges on two threads
  LLONG scanMiddle = -1;         // where pass 1 looked for the line end between its ranges (-1: nowhere)
  Bool readByRanges = FALSE;     // pass 2 read the file as two ranges on two threads
  // Indices out of range, found after pass 2 before anything reads the arrays.
  ULONG facesDropped = 0;              // a corner names a point that does not exist
  ULONG facesWithoutUVsOrNormals = 0;  // kept; their UV or normal indices were out of range
  ULONG segmentsDropped = 0;           // line elements naming a point that does not exist

 private:
  ObjImporter() = default;

  // Next statement into lineBuffer; false at the end of the file. A line longer than
  // the buffer is skipped whole (counted in *tooLong when given).
  Bool NextStatement(ULONG* tooLong);
  void CreateDefaultEntries();
  // After a FindOrAdd of pass 1: the list's count becomes the mark, or the scan
  // remembers that memory ran out (entry null).
  template <class List>
  void MarkEntry(const void* entry, const List& list, LONG* mark);
  void ScanGroup(const CHAR* text);
  // Pass 1 of the statement in m_line (counted in lineTotal).
  void ScanStatement(IndexTokens* tokens);
  // Pass 1's short way for a line it only counts (TextReader::TakeLinesInPlace): a
  // coordinate line counted unread, a face line whose shape is guessed. False for any
  // other line, which ScanStatement reads.
  static Bool CountWithoutReading(void* importer, const CHAR* line, LONG length);
  // A face line of three or four tokens counted as one face with its guessed shape
  // recorded for pass 2 (GuessFaceForm); false for any other, which pass 1 reads.
  Bool CountGuessedFace(const CHAR* text, const CHAR* end);
  // Lines taken the short way up to the file offset `before`, then the next statement.
  Bool NextScanStatement(LLONG before);
  // A "g", "# r", "o", "usemtl" or "mtllib" statement into the lists.
  void ScanNaming(LONG statement, const CHAR* text, const CHAR* lineEnd);
  // Pass 1 by ranges: a second importer scans from a line boundary near the middle of
  // pass 1's work (FindLineBoundary; -1 when there is none) to the end while this one
  // scans up to it; FinishScanRange adds the second's findings, or reads on alone when
  // they cannot be used. Pass 2 splits the file near the middle of its own work, or at
  // the boundary when that comes first.
  struct NamingLog;
  struct ScanRange;
  // The file offsets where half of pass 1's work and half of pass 2's work are done,
  // as samples of the file let them be estimated.
  void FindMiddlesOfWork(LLONG* scanAt, LLONG* readAt) const;
  LLONG FindLineBoundary(LLONG middle) const;
  void FinishScanRange(ScanRange& second, Bool pending, IndexTokens* tokens);
  void FreeSegments();
  // The form each face and line element line got in pass 1, taken in order by pass 2
  // so that it needs no second selection.
  void RecordForm(UCHAR form);
  void RecordForms(const UCHAR* forms, ULONG count);
  // Room for `more` forms after those recorded (growing by doubling); false, with the
  // forms lost, when there is none.
  Bool FormRoom(ULONG more);
  Bool TakeRecordedForm(UCHAR* form);
  // Pass 2 itself (ReadObj runs it, with the arrays prefaulted beside it).
  Bool ReadObjLines();
  // One v, vn or vt statement (Statement) into its array at read[0], read[1] or
  // read[2] (vertices, normals, UVs stored so far), counted there; false when it holds
  // no such element or its array is full.
  // Values that are no finite numbers are stored as 0 and counted in *notFinite.
  Bool StoreCoordinate(LONG statement, const CHAR* text, const CHAR* end, ULONG* read, ULONG* notFinite) const;
  // Pass 2's loop from where the reader stands, with the cursors as they are; ends at
  // the end of the file or after m_stopAfter statements (when not 0).
  Bool ReadStatements();
  // Pass 2 on two threads by ranges of the file: pass 1 notes the split point (the
  // boundary of its own two ranges, or, when a coordinate thread counted beside it, the
  // first statement that ends in the second half of the file) with the counts up to it;
  // pass 2 reads up to it on the calling thread while a second importer (SecondRange)
  // reads from there to the end into the same arrays at the counts' offsets. Only for
  // files whose elements take exactly the places pass 1 counted: no line elements, and
  // n-gons only as they wait for their split after pass 2 (the second range's join the
  // first's); one that cannot wait, or a first range that ends with other counts, has
  // the first importer read the rest alone.
  struct SplitPoint {
    Bool found = FALSE;
    LLONG offset = 0;          // where the statements after it start
    ULONG statements = 0;      // statements up to and with it
    ULONG faces = 0;           // faces counted up to it
    ULONG ngons = 0;           // n-gons (their records) counted up to it
    ULONG forms = 0;           // forms recorded up to it
    ULONG coordinates[3] = {};  // v, vn and vt lines counted up to it
    Bool coordinatesFound = FALSE;
  };
  struct SecondRange;
  struct EntryTally;
  void NoteSplit();
  // Pass 1 keeps the last statement of each naming kind that selects an entry before the
  // split point (kind: 0 "g", 1 "# r", 2 "o", 3 "usemtl"); the second range reads them first.
  void NoteNaming(LONG kind);
  // Pass 2 by ranges when the file allows it: true when it ran (*ok its result), false
  // when the calling thread is to read it all.
  Bool ReadByRanges(Bool* ok);
  // Both passes on two threads: a second reading of the file counts (pass 1) or stores
  // (pass 2, store) the v, vn and vt lines while the calling thread reads the rest.
  // False when it does not pay (small file, one thread) or cannot start; then the
  // calling thread does everything.
  struct CoordinateJob;
  Bool StartCoordinateJob(Bool store);
  // Waits for the second thread and ends it: from then on the coordinates are stored.
  void FinishCoordinateJob();
  // Pass 1: waits for the second thread and adds what it counted.
  void FinishCoordinateCount();
  void PrintSkippedInput() const;
  void PrintIndicesOutOfRange() const;

  // Scene builder steps (newmesh.cpp).
  struct SplitState;
  // Pieces that an object can do without (a layer, a tag, a null, the n-gons): the
  // object is built without them, and the first such loss of a build is reported.
  void PartLost(const CHAR* what);
  void MakeLayers(BaseDocument* doc);
  ULONG PolygonLayout() const;
  Bool LayoutHasContent(ULONG layout) const;
  ioMaterialBuildOptions MaterialOptions() const;
  void SetCorners(const ObjFace& face, const LONG* vertexMap, CPolygon* polygon) const;
  void SetUVW(const ObjFace& face, UVWHandle data, LONG polygon) const;
  void SetNormals(const ObjFace& face, NormalHandle data, LONG polygon) const;
  void FinishObject(BaseDocument* doc, PolygonObject* op);
  Bool BuildNgon(NgonBase* base, NgonRecord& record, const CPolygon* polygons, const Vector* points);
  Bool SortNgonsByEntry(SplitState& state, LONG NgonRecord::*field);
  void RebuildEntryNgons(PolygonObject* op, const SplitState& state, LONG entry, ULONG stamp);
  template <class Entry>
  void BuildEntryObjects(BaseDocument* doc, BaseObject* parent, Entry* first, LONG entries,
                         LONG NgonRecord::*ngonField, Bool lastWordOnly);
  SplineObject* MakeSpline(BaseDocument* doc, BaseObject* parent, const String& name, const ULONG* segmentIndices,
                           ULONG count, LONG onlyGroup);
  BaseObject* MakeNull(BaseDocument* doc, BaseObject* parent, const String& name);

  String m_defaultObjectName;
  Filename m_file;  // the file Open opened, for a second reading
  LONG m_blockSize = TEXTFILE_BLOCKSIZE;
  CoordinateJob* m_coordinateJob = nullptr;
  SplitPoint m_split;
  CHAR* m_namings = nullptr;         // 4 statements of OBJ_LINE_BUFFER_SIZE bytes and the slack (NoteNaming)
  const CHAR* m_prelude[4] = {};     // statements NextStatement hands out before the file's
  LONG m_preludeCount = 0;
  LONG m_preludeNext = 0;
  ULONG m_stopAfter = 0;             // ReadStatements: statements to read (0: all)
  // Pass 2 checks the indices of each triangle and quad it stores against the counts
  // pass 1 found (m_checkedCounts: points, UVs, normals). The faces before
  // m_firstFaceToCheck passed; DropIndicesOutOfRange looks at them again only when the
  // counts read differ from those. An n-gon's faces, made after pass 2, are not checked.
  ULONG m_firstFaceToCheck = 0;
  ULONG m_checkedCounts[3] = {};
  ULONG m_progressTotal = 0;         // statements the progress bar counts to (0: no bar)
  EntryTally* m_tally = nullptr;     // the second range counts its faces per entry here
  NamingLog* m_namingLog = nullptr;  // pass 1 of a second range logs its naming statements here
  ULONG m_coordinatesSkipped = 0;  // pass 1: v, vn and vt lines whose numbers did not read
  // Where pass 1's counts need not be exact before the end of the file (one thread; the
  // second range), it reads the numbers of a coordinate line only until a line of its
  // kind held them (bit 1 v, 2 vn, 4 vt) and counts the later ones unread: the counts are
  // then an upper bound that pass 2 makes exact (ReadObjLines). The split point's counts,
  // where pass 2's second range starts, stay exact.
  Bool m_countUnread = FALSE;
  ULONG m_soundKinds = 0;
  Bool m_coordinatesUnread = FALSE;  // pass 1 counted coordinate lines it did not read
  Bool m_coordinatesStored = FALSE;  // pass 2: the second thread stored every coordinate
  Bool m_keepNormals = TRUE;        // KeepNormals
  Bool m_facesAreUVCorners = FALSE;  // faces holds four LONG per face: CompactFacesToUVCorners
  const CHAR* m_line = nullptr;     // the statement: in the reader's block or in lineBuffer
  LONG m_lineLength = 0;            // characters of m_line
  ULONG m_segmentSlots = 0;         // segments allocated
  linkNode* m_pNextNgon = nullptr;  // pass 2: the n-gon record of the next large face
  UCHAR* m_pForms = nullptr;        // one form per face or line element line
  ULONG m_formCount = 0;
  ULONG m_formCapacity = 0;
  ULONG m_formCursor = 0;
  Bool m_formsLost = FALSE;         // memory ran out while recording
  Bool m_ngonMemoryReported = FALSE;  // pass 2 said that an n-gon could not be split for memory
  Bool m_partLossReported = FALSE;    // the scene builder reported a piece it left out
  PendingNgon* m_pending = nullptr;   // pass 2: the n-gons to split, in file order
  Bool m_ngonCannotWait = FALSE;      // pass 2's second range met an n-gon to split at once
  ULONG m_pendingCount = 0;
  ULONG m_pendingRoom = 0;
  NgonSplitter* m_splitter = nullptr;  // the calling thread's, for n-gons split at once
};

// The seconds of ReadObjModel's steps.
struct ObjReadTimes {
  double scan = 0;          // Alloc, Open and pass 1
  double prepare = 0;       // the material library, AllocModel
  double read = 0;          // pass 2
  double checkIndices = 0;  // DropIndicesOutOfRange
  double listIndices = 0;   // SetListIndices
};

// One file read into a new importer, step by step as the import does it: Open, ScanObj,
// LoadMaterialLibrary, ConsolidateMaterials, AllocModel, ReadObj, DropIndicesOutOfRange
// (unless checkIndices is false: the model then holds indices as the file gave them)
// and SetListIndices.
// Null when a step fails; the failure has been reported ("Open Failed", "File Parsing
// Failed", "vertex buffer allocation Failed", the memory and list-indexing texts). Used by tools, the benchmark and the fuzz
// targets; the import command runs the same steps itself.
// times, when given, gets the seconds of the steps (the benchmarks print them).
ObjImporter* ReadObjModel(const Filename& file, const PluginOpts& opts, Real scaleFactor,
                          LONG blockSize = TEXTFILE_BLOCKSIZE, Bool checkIndices = TRUE, ObjReadTimes* times = nullptr);
