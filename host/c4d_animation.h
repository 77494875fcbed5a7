// Animation: tracks on nodes, their curves and keys. A value track animates one number
// of its node (a component of an object's position, rotation or scale, or any real or
// integer parameter); the point-level track (CTpla) keeps a whole point array per key
// and moves the points of its point object.
#pragma once

#include "c4d_baselist.h"
#include "c4d_basetime.h"
#include "ge_types.h"

class BaseDocument;
class CCurve;
class CTrack;

enum : LONG {
  // Point-level animation: the track's type and its one-level description ID.
  CTpla = 100004812,
  // The curve of a track (the only kind a track has here).
  CCURVE_CURVE = 1,
};

// How a key's value leads to the next key's.
enum : LONG {
  CINTERPOLATION_LINEAR = 2,
  CINTERPOLATION_STEP = 3,  // holds the key's value until the next key
};

// FindKey: a key exactly at the time, or the nearest one at or before / at or after it.
enum : LONG {
  FINDANIM_EXACT = 0,
  FINDANIM_LEFT = 1,
  FINDANIM_RIGHT = 2,
};

// A key of a curve: a time, a value (value tracks) or a point array (point-level
// tracks), and the interpolation towards the next key. Keys are made by their curve
// (CCurve::AddKey) and belong to it.
class CKey : public BaseList2D {
 public:
  BaseTime GetTime() const { return m_time; }
  // Moves the key in time; the curve it lies on stays sorted (seq, the key's curve, may
  // be null). A time that is not a finite number, or the time of another
  // key of the curve, is ignored.
  void SetTime(CCurve* seq, const BaseTime& t);
  Real GetValue() const { return m_value; }
  void SetValue(CCurve* seq, Real v);
  LONG GetInterpolation() const { return m_interpolation; }
  // CINTERPOLATION_LINEAR or CINTERPOLATION_STEP; other values are ignored.
  void SetInterpolation(CCurve* seq, LONG inter);
  // The curve and track the key lies on, or null.
  CCurve* GetCurve() const { return m_pCurve; }
  CTrack* GetTrack() const;

 protected:
  friend struct NodeAccess;
  friend class CCurve;
  friend class CTrack;
  CKey();
  ~CKey() override;
  BaseList2D* MakeEmpty() const override;
  Bool CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const override;
  void SwapContent(BaseList2D* other) override;

 private:
  BaseTime m_time;
  Real m_value = 0.0;
  LONG m_interpolation = CINTERPOLATION_LINEAR;
  Vector* m_pPoints = nullptr;  // point-level keys: the points at the key
  LONG m_pointCount = 0;
  CCurve* m_pCurve = nullptr;
};

// The keys of a track, sorted by time (no two at the same time).
class CCurve {
 public:
  // A key at time. When the curve already has a key at that very time, that key is
  // returned unchanged (no second key is made). *nidx receives the key's index. Null
  // for a time that is not a finite number or when memory is missing.
  CKey* AddKey(const BaseTime& time, LONG* nidx = nullptr);
  LONG GetKeyCount() const { return m_count; }
  // The index-th key in time order, or null.
  CKey* GetKey(LONG index) const;
  // The key at time (FINDANIM_EXACT), or the last key at or before it (FINDANIM_LEFT),
  // or the first key at or after it (FINDANIM_RIGHT); null when there is none.
  CKey* FindKey(const BaseTime& time, LONG* nidx = nullptr, LONG match = FINDANIM_EXACT) const;
  // Frees the index-th key; false for an index out of range.
  Bool DelKey(LONG index);
  // Frees every key.
  void FlushKeys();
  // Gives the key the host's default settings: linear interpolation.
  void SetKeyDefault(BaseDocument* doc, LONG kidx);
  // The curve's value at time (value tracks): the keys' values interpolated; the first
  // key's before it, the last key's after it, 0 without keys.
  Real GetValue(const BaseTime& time) const;
  CTrack* GetTrack() const { return m_pTrack; }

  CCurve(const CCurve&) = delete;
  CCurve& operator=(const CCurve&) = delete;

 private:
  friend class CKey;
  friend class CTrack;
  friend struct NodeAccess;
  explicit CCurve(CTrack* track) : m_pTrack(track) {}
  ~CCurve();
  // Room for count keys; false when memory is missing.
  bool Reserve(LONG count);
  // Takes key out of the array (the key is not freed).
  void Detach(const CKey* key);
  // Puts the key at index back into time order after its time changed.
  void Resort(LONG index);
  LONG IndexOf(const CKey* key) const;
  // The index of the first key later than time.
  LONG UpperBound(Real time) const;

  CTrack* m_pTrack;
  CKey** m_ppKeys = nullptr;
  LONG m_count = 0;
  LONG m_capacity = 0;
};

// An animation track of a node: the parameter it animates (its description ID) and its
// curve. Tracks lie in their node's track list (BaseList2D::GetFirstCTrack) and are
// copied and freed with the node.
class CTrack : public BaseList2D {
 public:
  // A new track for the parameter id of bl (not yet inserted: see
  // BaseList2D::InsertTrackSorted). id CTpla makes the point-level track of a point
  // object; any other id must name a real or integer parameter of bl (a vector
  // component takes two levels, e.g. position with VECTOR_X). Null for a parameter that
  // cannot be animated or when memory is missing.
  static CTrack* Alloc(BaseList2D* bl, const DescID& id);
  // Frees the track (removing it from its node first).
  static void Free(CTrack*& track);

  CTrack* GetNext() const { return static_cast<CTrack*>(GeListNode::GetNext()); }
  CTrack* GetPred() const { return static_cast<CTrack*>(GeListNode::GetPred()); }
  const DescID& GetDescriptionID() const { return m_id; }
  // The node whose track list holds the track, or null.
  BaseList2D* GetObject() const;

  // The track's curve (CCURVE_CURVE), made when create is set and it has none yet. Null
  // for another type, without create, or when memory is missing.
  CCurve* GetCurve(LONG type = CCURVE_CURVE, Bool create = TRUE);
  // Fills key from bl's current state: for the point-level track a copy of bl's points,
  // otherwise the parameter's current value. False when bl cannot give it or memory is
  // missing (the key is then unchanged).
  Bool FillKey(BaseDocument* doc, BaseList2D* bl, CKey* key);
  // Gives key of a point-level track a new array of count points in place of its points
  // and returns it, for the caller to write the key's points straight into (instead of
  // FillKey from the object). The caller writes every point: the array is not cleared
  // first, and a large one has its pages made present already. Null for
  // another track type, a count below 1 or when memory is missing (the key is then
  // unchanged).
  Vector* AllocKeyPoints(CKey* key, LONG count);
  // Plays the track on its node at time: writes the parameter, or the points of a point
  // object. An integer parameter takes the rounded value, cut to the integer range (a
  // value that is no number is not applied). Nothing happens without keys, and a
  // point-level key whose point count differs from the object's is not applied. True
  // when the node changed.
  Bool Animate(const BaseTime& time);

 protected:
  friend struct NodeAccess;
  CTrack(LONG type, const DescID& id);
  ~CTrack() override;
  BaseList2D* MakeEmpty() const override;
  Bool CopyContentTo(BaseList2D* dst, LONG flags, AliasTrans* trn) const override;
  void SwapContent(BaseList2D* other) override;

 private:
  DescID m_id;
  CCurve* m_pCurve = nullptr;
};
