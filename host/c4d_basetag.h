// Tags: plain tags with a data container (Phong, plug-in tags), variable tags with one
// entry per point, polygon or segment (point, polygon, UVW, normal, segment), selection
// tags with their BaseSelect, and texture tags that apply a material.
#pragma once

#include "c4d_baselist.h"
#include "ge_types.h"

class BaseObject;
class BaseMaterial;

// A set of element indices kept as ascending, disjoint ranges.
class BaseSelect {
 public:
  static BaseSelect* Alloc();
  static void Free(BaseSelect*& bs);

  // Selected elements, and the number of ranges ("segments") they form.
  LONG GetCount() const;
  LONG GetSegments() const { return m_rangeCount; }
  // The seg-th range (ascending order) as first and last element; the last is cut to
  // maxElements - 1. False past the last range.
  Bool GetRange(LONG seg, LONG maxElements, LONG* a, LONG* b) const;
  // The highest selected element, or -1.
  LONG GetLastElement() const;

  // Each is false when memory is missing (the selection is then unchanged) or the
  // index is negative.
  Bool Select(LONG num);
  Bool SelectAll(LONG min, LONG max);
  Bool Deselect(LONG num);
  Bool DeselectAll();
  Bool Toggle(LONG num);
  Bool IsSelected(LONG num) const;

  Bool CopyTo(BaseSelect* dest) const;
  BaseSelect* GetClone() const;
  bool operator==(const BaseSelect& o) const;

  ~BaseSelect();

 private:
  BaseSelect() = default;
  friend struct NodeAccess;
  struct Range {
    LONG a, b;
  };
  // Index of the first range whose end is >= num.
  LONG Find(LONG num) const;
  Bool Reserve(LONG count);
  Range* m_pRanges = nullptr;
  LONG m_rangeCount = 0;
  LONG m_capacity = 0;
};

class BaseTag : public BaseList2D {
 public:
  // A new tag of the type (a built-in tag or a registered tag plug-in); null for an
  // unknown type or missing memory. Variable tags start with 0 entries.
  static BaseTag* Alloc(LONG type);
  static void Free(BaseTag*& tag);

  BaseTag* GetNext() const { return static_cast<BaseTag*>(GeListNode::GetNext()); }
  BaseTag* GetPred() const { return static_cast<BaseTag*>(GeListNode::GetPred()); }
  // The object the tag sits on, or null.
  BaseObject* GetObject() const;

 protected:
  friend struct NodeAccess;
  explicit BaseTag(LONG type) : BaseList2D(type, Tbase) {}
  BaseList2D* MakeEmpty() const override;
};

// A tag with one fixed-size entry per element.
class VariableTag : public BaseTag {
 public:
  // A new variable tag of the type with count zeroed entries; null on failure.
  static VariableTag* Alloc(LONG type, LONG count);

  LONG GetDataCount() const { return m_count; }
  // Size of one entry in bytes.
  LONG GetDataSize() const { return m_entrySize; }
  const void* GetDataAddressR() const { return m_pData; }
  void* GetDataAddressW() { return m_pData; }
  // New entry count, keeping the common part, zeroing new entries. False when memory
  // is missing (the tag is then unchanged).
  Bool Resize(LONG count);

  // The entry size of a variable tag type, or 0 for another type.
  static LONG EntrySize(LONG type);

 protected:
  VariableTag(LONG type, LONG entrySize) : BaseTag(type), m_entrySize(entrySize) {}
  ~VariableTag() override;
  BaseList2D* MakeEmpty() const override;
  Bool CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const override;
  void SwapContent(BaseList2D* other) override;

 private:
  friend struct NodeAccess;
  void* m_pData = nullptr;
  LONG m_count = 0;
  LONG m_capacity = 0;
  LONG m_used = 0;  // the highest count so far: entries from here on were never handed out, so hold zeros
  LONG m_entrySize;
};

// Texture coordinates of one polygon: corners a, b, c, d (u, v, w in x, y, z).
struct UVWStruct {
  Vector a, b, c, d;
};
typedef void* UVWHandle;
typedef const void* ConstUVWHandle;

// Four texture coordinates per polygon, kept in single precision.
class UVWTag : public VariableTag {
 public:
  static UVWTag* Alloc(LONG count);

  UVWHandle GetDataAddressW() { return VariableTag::GetDataAddressW(); }
  ConstUVWHandle GetDataAddressR() const { return VariableTag::GetDataAddressR(); }
  static void Get(ConstUVWHandle dataptr, LONG i, UVWStruct& res);
  static void Set(UVWHandle dataptr, LONG i, const UVWStruct& s);
  UVWStruct GetSlow(LONG i) const;
  void SetSlow(LONG i, const UVWStruct& s);

 protected:
  friend struct NodeAccess;
  UVWTag() : VariableTag(Tuvw, 12 * sizeof(SReal)) {}
  BaseList2D* MakeEmpty() const override;
};

// Normals of one polygon's corners a, b, c, d.
struct NormalStruct {
  Vector a, b, c, d;
};
typedef void* NormalHandle;
typedef const void* ConstNormalHandle;

// Four normals per polygon, kept in single precision.
class NormalTag : public VariableTag {
 public:
  static NormalTag* Alloc(LONG count);

  NormalHandle GetDataAddressW() { return VariableTag::GetDataAddressW(); }
  ConstNormalHandle GetDataAddressR() const { return VariableTag::GetDataAddressR(); }
  static void Get(ConstNormalHandle dataptr, LONG i, NormalStruct& res);
  static void Set(NormalHandle dataptr, LONG i, const NormalStruct& s);

 protected:
  friend struct NodeAccess;
  NormalTag() : VariableTag(Tnormal, 12 * sizeof(SReal)) {}
  BaseList2D* MakeEmpty() const override;
};

// A named selection of polygons (Tpolygonselection) or points (Tpointselection).
class SelectionTag : public BaseTag {
 public:
  static SelectionTag* Alloc(LONG type);
  BaseSelect* GetBaseSelect() const { return m_pSelect; }

 protected:
  friend struct NodeAccess;
  explicit SelectionTag(LONG type) : BaseTag(type) {}
  ~SelectionTag() override;
  BaseList2D* MakeEmpty() const override;
  Bool CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const override;
  void SwapContent(BaseList2D* other) override;

 private:
  BaseSelect* m_pSelect = nullptr;
};

// Texture tag parameters.
enum : LONG {
  TEXTURETAG_OFFSETX = 1000,
  TEXTURETAG_OFFSETY = 1001,
  TEXTURETAG_LENGTHX = 1002,
  TEXTURETAG_LENGTHY = 1003,
  TEXTURETAG_PROJECTION = 1004,
  TEXTURETAG_TILE = 1005,
  TEXTURETAG_RESTRICTION = 1006,
  TEXTURETAG_MATERIAL = 1010,  // link
  TEXTURETAG_POSITION = 1040,  // texture placement relative to the object
  TEXTURETAG_SIZE = 1041,
  TEXTURETAG_ROTATION = 1042,
};

// Projections (TEXTURETAG_PROJECTION).
enum : LONG {
  TEXTURETAG_PROJECTION_SPHERICAL = 0,
  TEXTURETAG_PROJECTION_CYLINDRICAL = 1,
  TEXTURETAG_PROJECTION_FLAT = 2,
  TEXTURETAG_PROJECTION_CUBIC = 3,
  TEXTURETAG_PROJECTION_FRONTAL = 4,
  TEXTURETAG_PROJECTION_SPATIAL = 5,
  TEXTURETAG_PROJECTION_UVW = 6,
  TEXTURETAG_PROJECTION_SHRINKWRAP = 7,
  TEXTURETAG_PROJECTION_CAMERA = 8,
};

// Applies a material to an object (or to the polygons of one selection).
class TextureTag : public BaseTag {
 public:
  static TextureTag* Alloc();

  void SetMaterial(BaseMaterial* mat);
  // The linked material when it lies in the tag's document (ignoredoc: anywhere).
  BaseMaterial* GetMaterial(Bool ignoredoc = FALSE) const;
  // Placement of the texture relative to the object.
  Matrix GetMl() const;
  void SetMl(const Matrix& m);

 protected:
  friend struct NodeAccess;
  TextureTag();
  BaseList2D* MakeEmpty() const override;
};

// Phong tag parameters.
enum : LONG {
  PHONGTAG_PHONG_ANGLELIMIT = 1000,  // Bool
  PHONGTAG_PHONG_ANGLE = 1001,       // Real, radians
  PHONGTAG_PHONG_USEEDGES = 1002,    // Bool
};
