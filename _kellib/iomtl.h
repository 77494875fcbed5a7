// Materials of one import or export: one ioMaterial per material name with the values an
// MTL file (or a host material) gives it, found by name through a name table. The MTL
// reader fills the records of names already in the list; the merge step folds records
// of (nearly) equal values into one, keeping every name findable.
#pragma once

#include "c4d.h"
#include "fileio.h"
#include "iofaceset.h"
#include "ioface.h"
#include "linknode.h"
#include "namehash.h"

// Map names: at most 255 characters and the terminator.
enum : LONG { IOMTL_MAPNAME_SIZE = 256 };

// The materialFlags bits the host-material step reads.
enum : ULONG {
  IOMTL_BUILD = 0x1,               // make host materials at all
  IOMTL_TEXTURES = 0x2,            // maps of the colour, luminance and specular colour channels
  IOMTL_COLOR = 0x4,
  IOMTL_LUMINANCE = 0x8,
  IOMTL_TRANSPARENCY = 0x10,
  IOMTL_REFRACTION = 0x20,
  IOMTL_BUMP = 0x80,
  IOMTL_ALPHA = 0x100,
  IOMTL_SPECULAR = 0x200,
  IOMTL_SPECULAR_COLOR = 0x400,
  IOMTL_DISPLACEMENT = 0x800,
  IOMTL_REUSE = 0x8000,            // take the document's material of the same name
  IOMTL_REWRITE_REUSED = 0x10000,  // and write the channels of a reused one anew
};

// What the host-material step needs of the import options.
struct ioMaterialBuildOptions {
  ULONG materialFlags = 0;   // the import's materialFlags bits
  String texturePath;        // folder to look maps up in; empty: none
  LONG shaderParam1005 = 0;
  LONG shaderParam1006 = 0;
  Bool libraryRead = FALSE;  // the OBJ file's material library was read (contentFlags 0x100)
};

class ioMaterial : public linkNode {
 public:
  ~ioMaterial() override;
  ioMaterial(const ioMaterial&) = delete;
  ioMaterial& operator=(const ioMaterial&) = delete;

  ioMaterial* Next() const { return static_cast<ioMaterial*>(linkNode::Next()); }

  // Back to the initial values of everything a file or host material gives (colours,
  // numbers, flags, maps, isStandard); name, index, links and face counts stay.
  void ResetValues();
  // Export side: ResetValues, then hostMaterial = mat and the values of its channels
  // that are switched on. A material that is not a standard material only gets
  // hasDiffuse, with isStandard cleared. Null mat: only the reset.
  void ReadHostMaterial(BaseMaterial* mat);
  // True when any of the six map names is set.
  Bool HasMap() const;
  // Equal for the merge: neither has a map, the five has-flags are equal, colours differ
  // per component by less than tolerance (x, y, z for r, g, b), the four numbers by less
  // than 0.01.
  Bool Matches(const ioMaterial& other, const Vector& tolerance) const;
  // Fills faceIndices with the sequence numbers of the first faceCount faces of
  // faces[0, faceTotal) whose material is this entry's index, in face order.
  // faceCount 0 empties the array. False (array empty) when faces is null,
  // faceTotal < faceCount, or memory is missing.
  Bool SetFaceIndices(const ioFace* faces, ULONG faceTotal);

  BaseMaterial* hostMaterial = nullptr;
  TextureTag* textureTag = nullptr;
  String name;
  LONG isStandard = 1;  // cleared when a reused host material is not a standard one
  LONG index = 0;
  Vector defaultColor{0.34902, 0.376471, 0.407843};
  Vector diffuse{0.34902, 0.376471, 0.407843};  // Kd
  Vector ambient{0.0, 0.0, 0.0};                // Ka
  Vector specular{1.0, 1.0, 1.0};               // Ks
  Vector filter{1.0, 1.0, 1.0};                 // Tf
  Real transparency = 0.0;                      // 1 - d
  Real shininess = 65.0;                        // Ns, scaled to 0..128
  Real shininessScale = 100.0;
  Real refraction = 1.0;                        // Ni
  LONG hasAmbient = 0;
  LONG hasDiffuse = 0;
  LONG hasSpecularHighlight = 0;
  LONG hasSpecularColor = 0;
  LONG hasTransparency = 0;
  CHAR mapDiffuse[IOMTL_MAPNAME_SIZE] = {};
  CHAR mapBump[IOMTL_MAPNAME_SIZE] = {};
  CHAR mapDisplacement[IOMTL_MAPNAME_SIZE] = {};
  CHAR mapSpecular[IOMTL_MAPNAME_SIZE] = {};
  CHAR mapAmbient[IOMTL_MAPNAME_SIZE] = {};
  CHAR mapAlpha[IOMTL_MAPNAME_SIZE] = {};
  ULONG faceCount = 0;            // faces counted into the material
  ULONG* faceIndices = nullptr;   // owned: face sequence numbers, in face order
  ULONG faceIndexCount = 0;       // entries in faceIndices
  LONG isDefault = 0;             // the "default_Mat" entry of faces without "usemtl"

 private:
  friend class ioMaterialList;
  ioMaterial(const String& materialName, LONG materialIndex) : name(materialName), index(materialIndex) {}
  // Everything but the list links, index and face index array.
  void CopyFrom(const ioMaterial& other);
};

class ioMaterialList {
 public:
  // An empty list; null when memory is missing.
  static ioMaterialList* Alloc();
  static void Free(ioMaterialList*& list);
  ~ioMaterialList();
  ioMaterialList(const ioMaterialList&) = delete;
  ioMaterialList& operator=(const ioMaterialList&) = delete;

  LONG Count() const { return m_pEntries->Count(); }
  ioMaterial* First() const { return static_cast<ioMaterial*>(m_pEntries->First()); }

  // The entry of name (names and merged aliases compare by their first 255 characters),
  // or a new one with index = Count() and the initial values, filled from hostMaterial
  // when one is given. Null when memory is missing (the list is then unchanged).
  ioMaterial* FindOrAdd(BaseMaterial* hostMaterial, const String& name);
  // The entry of name (or of a merged alias), or null.
  ioMaterial* FindByName(const String& name) const;
  // The entry of that index, else the first entry (null only for an empty list).
  ioMaterial* FindByIndex(LONG index) const;
  // Marks the entry for faces without a material: isDefault and hasDiffuse.
  void MarkDefault(ioMaterial* entry);

  // Every entry's SetFaceIndices, in list order; false at the first that fails.
  Bool SetFaceIndices(const ioFace* faces, ULONG faceTotal);
  // SetFaceIndices for a scan shared with other lists, as ioFaceSetList's.
  Bool PrepareFaceIndices(FaceIndexScan* scan, const ioFace* faces, ULONG faceTotal);

  // Reads an open MTL file from its current position into the entries it names
  // ("newmtl" of a name not in the list reads into nothing). Malformed lines are
  // skipped. Prints the time taken, labelled "LoadMTLs()". Reading allocates nothing
  // and cannot fail: the result is always true.
  Bool LoadMTLs(TextReader& reader);
  // The first step of reading a lone MTL file: an entry for every "newmtl" name (blanks
  // turned into "_"). Returns Count() afterwards, or -1 after reporting a memory failure
  // (the names added before it stay). The caller rewinds the reader before LoadMTLs.
  LONG AddMTLNames(TextReader& reader);
  // Folds entries into the first earlier entry they match (ioMaterial::Matches with the
  // colour tolerances tolR, tolG and tolB in 1/255 steps); the folded names stay
  // findable and lead to the kept entry, which are renumbered from 0. Prints
  // "NumMaterials: <count before>" and "Merged: <count after>". False when memory is
  // missing: the list is then unchanged.
  Bool Consolidate(Real tolR, Real tolG, Real tolB);

  // Deletes every entry and name and forgets the per-object selections.
  void Clear();
  // Empties the per-object selections for the next object: one slot per entry. False
  // when memory is missing (no slots then: the object gets no material tags, a loss
  // reported).
  Bool ResetObjectSelections();

  // Makes (or reuses) a host material per entry in doc when materialFlags has
  // IOMTL_BUILD; does nothing otherwise. With IOMTL_REUSE the document's material of
  // the entry's name is taken: a standard one keeps its channels unless
  // IOMTL_REWRITE_REUSED, another type is only linked (isStandard cleared). Every other
  // entry gets a new standard material of its name, inserted after the document's
  // materials in list order. The channels the flags name are each switched on or off
  // and filled from the entry. Sets each entry's hostMaterial (null for one whose
  // material could not be allocated: it is skipped, and the first loss reported).
  // Returns FALSE only when nothing could be done for lack of memory.
  Bool SetBaseMaterials(BaseDocument* doc, const ioMaterialBuildOptions& opts);
  // Single object (polygons in face order): per entry with faces a selection tag named
  // after it, selecting its face indices, and when makeTextureTags and the entry has a
  // host material, a texture tag applying it to that selection (the entry's
  // textureTag). The tags follow op's other tags, in list order.
  void SetTexTags(BaseObject* op, Bool makeTextureTags);
  // Split object: polygon joins material materialIndex's selection on op, tags made as
  // in SetTexTags on first use after ResetObjectSelections().
  void AssignPolygon(BaseObject* op, LONG materialIndex, LONG polygon, Bool makeTextureTags);

  // Import, per object being built (filled by the scene builder).
  ioSelectionSlots m_objectSelections;       // the selection tag of each entry
  SelectionTag* m_pCurrentSelectionTag = nullptr;  // the selection tag made last
  LayerObject* m_pTextureTagLayer = nullptr;       // layers for the tags, or none
  LayerObject* m_pSelectionTagLayer = nullptr;

 private:
  ioMaterialList() = default;
  // Applies one MTL line to the current entry (or chooses it).
  void ReadMTLLine(CHAR* line, ioMaterial*& current) const;
  // The entry's selection tag on op after pred, and its texture tag after that when
  // makeTextureTags; pred becomes the last tag made. Null (nothing made) when the
  // selection tag cannot be allocated.
  SelectionTag* MakeTags(BaseObject* op, ioMaterial* entry, Bool makeTextureTags, BaseTag*& pred);
  // Reports a part of the scene lost for want of memory (a material, a tag, polygons of
  // a selection), naming it: the first loss of the list only.
  void ReportLoss(const CHAR* what);

  linkList* m_pEntries = nullptr;      // the ioMaterial records, in order of addition
  materialHash* m_pNames = nullptr;    // names and merged aliases -> entry
  BaseTag* m_pLastTag = nullptr;       // the material tag made last on the object being built
  ioPolygonLimit m_polygonLimit;       // of the object being built
  Bool m_lossReported = FALSE;
};
