// Objects: null, polygon and spline objects, generators and plug-in objects, with their
// matrices, visibility, tags and the point, polygon and segment data of point objects.
#pragma once

#include "c4d_baselist.h"
#include "ge_types.h"

class BaseTag;
class VariableTag;
class PolygonObject;
class SplineObject;
class PointObject;
class NgonBase;
struct Pgon;
struct PgonEdge;

// A polygon: four point indices; a triangle has c == d.
struct CPolygon {
  LONG a, b, c, d;
  CPolygon() = default;
  CPolygon(LONG t_a, LONG t_b, LONG t_c) : a(t_a), b(t_b), c(t_c), d(t_c) {}
  CPolygon(LONG t_a, LONG t_b, LONG t_c, LONG t_d) : a(t_a), b(t_b), c(t_c), d(t_d) {}
  bool operator==(const CPolygon& o) const { return a == o.a && b == o.b && c == o.c && d == o.d; }
};

// One segment of a spline: its point count and whether it is closed.
struct Segment {
  LONG cnt;
  Bool closed;
};

// Editor and render visibility.
enum : LONG {
  MODE_ON = 0,
  MODE_OFF = 1,
  MODE_UNDEF = 2,  // inherit from the parent
};

// Spline types.
enum : LONG {
  SPLINETYPE_LINEAR = 0,
  SPLINETYPE_CUBIC = 1,
  SPLINETYPE_AKIMA = 2,
  SPLINETYPE_BSPLINE = 3,
  SPLINETYPE_BEZIER = 4,
};

// Object parameters every object answers (besides its container entries).
enum : LONG {
  ID_BASEOBJECT_VISIBILITY_EDITOR = 901,
  ID_BASEOBJECT_VISIBILITY_RENDER = 902,
  ID_BASEOBJECT_REL_POSITION = 903,
  ID_BASEOBJECT_REL_ROTATION = 904,
  ID_BASEOBJECT_REL_SCALE = 905,
};

// Spline parameters.
enum : LONG {
  SPLINEOBJECT_TYPE = 1000,
  SPLINEOBJECT_CLOSED = 1002,
};

// Generator parameters: cube, plane and array.
enum : LONG {
  PRIM_CUBE_LEN = 1100,  // Vector: edge lengths
  PRIM_CUBE_SUBX = 1102,
  PRIM_CUBE_SUBY = 1103,
  PRIM_CUBE_SUBZ = 1104,
  PRIM_PLANE_WIDTH = 1100,
  PRIM_PLANE_HEIGHT = 1101,
  PRIM_PLANE_SUBW = 1102,
  PRIM_PLANE_SUBH = 1103,
  ARRAYOBJECT_COPIES = 1000,
  ARRAYOBJECT_RADIUS = 1001,
};

class BaseObject : public BaseList2D {
 public:
  // A new object of the type: Onull, Opolygon, Ospline, Ocube, Oplane, Oarray, or the
  // ID of a registered object plug-in. Null for an unknown type or missing memory.
  static BaseObject* Alloc(LONG type);
  // Frees the object with its children and tags (removing it from where it is first).
  static void Free(BaseObject*& op);

  BaseObject* GetNext() const { return static_cast<BaseObject*>(GeListNode::GetNext()); }
  BaseObject* GetPred() const { return static_cast<BaseObject*>(GeListNode::GetPred()); }
  BaseObject* GetUp() const { return static_cast<BaseObject*>(GeListNode::GetUp()); }
  BaseObject* GetDown() const { return static_cast<BaseObject*>(GeListNode::GetDown()); }
  BaseObject* GetDownLast() const { return static_cast<BaseObject*>(GeListNode::GetDownLast()); }

  Bool IsInstanceOf(LONG id) const override;

  // Local matrix (relative to the parent) and global matrix (in the world).
  Matrix GetMl() const { return m_ml; }
  void SetMl(const Matrix& m) {
    m_ml = m;
    SetDirty(DIRTYFLAGS_MATRIX);
  }
  Matrix GetMg() const;
  void SetMg(const Matrix& m);
  // The parent's global matrix (the unit matrix at the top).
  Matrix GetUpMg() const;
  // Position, rotation (heading, pitch, bank in radians) and scale of the local matrix.
  Vector GetRelPos() const { return m_ml.off; }
  void SetRelPos(const Vector& v) {
    m_ml.off = v;
    SetDirty(DIRTYFLAGS_MATRIX);
  }
  Vector GetRelRot() const;
  void SetRelRot(const Vector& hpb);
  Vector GetRelScale() const;
  void SetRelScale(const Vector& scale);

  // Visibility: MODE_ON, MODE_OFF or MODE_UNDEF (inherit).
  LONG GetEditorMode() const { return m_editorMode; }
  void SetEditorMode(LONG mode) { m_editorMode = mode; }
  LONG GetRenderMode() const { return m_renderMode; }
  void SetRenderMode(LONG mode) { m_renderMode = mode; }

  // Tags, in order.
  BaseTag* GetFirstTag() const;
  // The nr-th tag (0-based) of the type, or null.
  BaseTag* GetTag(LONG type, LONG nr = 0) const;
  // A new tag of the type inserted after pred (first when pred is null); null on failure.
  BaseTag* MakeTag(LONG type, BaseTag* pred = nullptr);
  // The same for a variable tag with count entries. A point, polygon or segment tag
  // replaces the object's own tag of that type (its data resized to count).
  VariableTag* MakeVariableTag(LONG type, LONG count, BaseTag* pred = nullptr);
  // Inserts tp (removed from where it was) after pred, or first when pred is null.
  void InsertTag(BaseTag* tp, BaseTag* pred = nullptr);
  // Frees the nr-th tag of the type.
  void KillTag(LONG type, LONG nr = 0);

  // Whether a generator or deformer is switched on (on for new objects). Only a
  // deformer that is on takes part in evaluation.
  Bool GetDeformMode() const { return m_deformMode; }
  void SetDeformMode(Bool mode);

  // What the last evaluation (BaseDocument::ExecutePasses) built, owned by the object:
  // a generator's generated objects, and a point object's points after its deformers
  // (for a generator, its generated point objects carry the deform caches). Null when
  // nothing was built.
  BaseObject* GetCache() const { return m_pCache; }
  BaseObject* GetDeformCache() const { return m_pDeformCache; }

  // The extent of the object's own points (a plug-in object answers through its
  // GetDimension): centre and half-size; zero for an object without points.
  Vector GetMp() const;
  Vector GetRad() const;

  // Phong shading: on adds (or updates) a Phong tag with the angle limit and angle
  // (radians); off removes it. False when the tag cannot be made.
  Bool SetPhong(Bool on, Bool anglelimit, Real angle);

 protected:
  explicit BaseObject(LONG type);
  ~BaseObject() override;
  Bool GetOwnParameter(const DescID& id, GeData& t_data) override;
  Bool SetOwnParameter(const DescID& id, const GeData& t_data) override;
  BaseList2D* MakeEmpty() const override;
  Bool CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const override;
  void SwapContent(BaseList2D* other) override;

 private:
  friend struct NodeAccess;
  Matrix m_ml;
  LONG m_editorMode = MODE_UNDEF;
  LONG m_renderMode = MODE_UNDEF;
  Bool m_deformMode = TRUE;
  GeListHead* m_pTags = nullptr;
  BaseObject* m_pCache = nullptr;
  BaseObject* m_pDeformCache = nullptr;
  LULONG m_deformStamp = 0;  // what the deform cache was built from
};

// An object with points (polygon and spline objects). The points live in the object's
// point tag (Tpoint).
class PointObject : public BaseObject {
 public:
  const Vector* GetPointR() const;
  Vector* GetPointW();
  LONG GetPointCount() const;

 protected:
  explicit PointObject(LONG type) : BaseObject(type) {}
  // Sets the point count (new points at the origin); false when memory is missing.
  Bool ResizePoints(LONG count);
};

class PolygonObject : public PointObject {
 public:
  // A polygon object with pcnt points and vcnt polygons, all zero; null on failure.
  static PolygonObject* Alloc(LONG pcnt, LONG vcnt);

  const CPolygon* GetPolygonR() const;
  CPolygon* GetPolygonW();
  LONG GetPolygonCount() const;
  // The object's smoothed corner normals, four per polygon (a, b, c, d), in a block the
  // caller frees with GeFree: the normal tag's when the object has one of the right
  // size, else smoothing between polygons whose normals differ by at most the Phong
  // tag's angle limit (all of them when the limit is off). Null without either tag, for
  // an object without polygons, or when memory is missing.
  SVector* CreatePhongNormals() const;
  // New point and polygon counts, keeping the common part (new entries are zero). A
  // change of the polygon count drops the n-gons, which name polygons by index. False
  // when memory is missing; the object is then unchanged.
  Bool ResizeObject(LONG pcnt, LONG vcnt);
  // The preparation call before building n-gons: the same, and the n-gon base exists
  // afterwards with room for ncnt more n-gons. False when memory is missing.
  Bool ResizeObject(LONG pcnt, LONG vcnt, LONG ncnt);
  // The number of n-gons of the object.
  LONG GetNgonCount() const { return m_ngonCount; }
  // The object's n-gon builder (made on first use; null when memory is missing). It
  // belongs to the object.
  NgonBase* GetNgonBase();
  // The edges of every n-gon (GetNgonCount() entries, see lib_ngon.h), owned by the
  // object and valid until the next call or until its polygons or n-gons change. Null
  // when there are no n-gons, when stored edges do not form closed outlines over the
  // object's polygons, or when memory is missing.
  Pgon* GetAndBuildNgon();

 protected:
  friend struct NodeAccess;
  PolygonObject() : PointObject(Opolygon) {}
  ~PolygonObject() override;
  Bool CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const override;
  void SwapContent(BaseList2D* other) override;

 private:
  void FreeNgons();
  // Drops what is derived from the n-gons (edge lists, the builder's map).
  void DropNgonCaches();
  // N-gon i's outline edges are m_pNgonEdges[m_pNgonStart[i] .. m_pNgonStart[i + 1]).
  LONG m_ngonCount = 0;
  LONG* m_pNgonStart = nullptr;
  LONG* m_pNgonEdges = nullptr;
  LONG m_ngonRoom = 0;  // n-gons m_pNgonStart has room for
  LONG m_edgeRoom = 0;  // edge words m_pNgonEdges has room for
  NgonBase* m_pNgonBase = nullptr;
  Pgon* m_pPgons = nullptr;
  PgonEdge* m_pPgonEdges = nullptr;
};

class SplineObject : public PointObject {
 public:
  // A spline with pcnt points of the given type (SPLINETYPE_*), one open segment
  // implied until a segment tag says otherwise; null on failure.
  static SplineObject* Alloc(LONG pcnt, LONG type);

  // Segments from the object's segment tag; 0 when it has none, and then all points
  // form one segment.
  LONG GetSegmentCount() const;
  const Segment* GetSegmentR() const;
  Segment* GetSegmentW();
  // Closed parameter (SPLINEOBJECT_CLOSED) of the whole spline.
  Bool IsClosed() const;
  LONG GetInterpolationType() const;
  // New point and segment counts (0 segments removes the segment tag); false when
  // memory is missing.
  Bool ResizeObject(LONG pcnt, LONG scnt);

 protected:
  friend struct NodeAccess;
  SplineObject() : PointObject(Ospline) {}
};

inline PointObject* ToPoint(BaseObject* op) { return static_cast<PointObject*>(op); }
inline PolygonObject* ToPoly(BaseObject* op) { return static_cast<PolygonObject*>(op); }
inline SplineObject* ToSpline(BaseObject* op) { return static_cast<SplineObject*>(op); }
