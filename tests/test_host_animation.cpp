// Tracks, curves and keys: the sorted track list, keys in time order, point-level and
// value tracks played by the document, undo of new tracks and keys and of an object
// change, copies, scene files, and memory failures while building animation.
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "c4d.h"
#include "container_codec.h"
#include "host_fixture.h"
#include "scene_file.h"
#include "scene_helpers.h"
#include "scene_internal.h"

namespace {

const DescID kPla = DescID(DescLevel(CTpla, CTpla, 0));
const DescID kPosX = DescID(DescLevel(ID_BASEOBJECT_REL_POSITION), DescLevel(VECTOR_X));
const DescID kPosY = DescID(DescLevel(ID_BASEOBJECT_REL_POSITION), DescLevel(VECTOR_Y));
const DescID kRotH = DescID(DescLevel(ID_BASEOBJECT_REL_ROTATION), DescLevel(VECTOR_X));

// A document with one polygon object of three points at x = 0, 1, 2.
struct Scene {
  DocPtr doc{BaseDocument::Alloc()};
  PolygonObject* op = nullptr;
  Scene() {
    if (!doc) return;
    op = PolygonObject::Alloc(3, 1);
    if (!op) return;
    InsertLast(doc.get(), op, "Mesh");
    for (LONG i = 0; i < 3; ++i) op->GetPointW()[i] = Vector(i, 0, 0);
  }
  void SetPoints(const Vector& offset) {
    for (LONG i = 0; i < 3; ++i) op->GetPointW()[i] = Vector(i, 0, 0) + offset;
  }
  void Play(Real seconds) {
    doc->SetTime(BaseTime(seconds));
    doc->ExecutePasses(nullptr, TRUE, TRUE, TRUE, 0);
  }
};

// The point-level track of op with keys at the times, each holding op's points moved by
// the matching offset. Returns the track (inserted), or null.
CTrack* AddPlaKeys(Scene& s, std::initializer_list<std::pair<Real, Vector>> keys) {
  CTrack* track = s.op->FindCTrack(kPla);
  if (!track) {
    track = CTrack::Alloc(s.op, kPla);
    if (!track || !s.op->InsertTrackSorted(track)) return nullptr;
  }
  CCurve* curve = track->GetCurve();
  if (!curve) return nullptr;
  for (const auto& [t, offset] : keys) {
    LONG index = -1;
    CKey* key = curve->AddKey(BaseTime(t), &index);
    if (!key) return nullptr;
    curve->SetKeyDefault(s.doc.get(), index);
    s.SetPoints(offset);
    if (!track->FillKey(s.doc.get(), s.op, key)) return nullptr;
  }
  return track;
}

std::string Times(const CCurve* curve) {
  std::string text;
  for (LONG k = 0; k < curve->GetKeyCount(); ++k) text += (k ? " " : "") + std::to_string(curve->GetKey(k)->GetTime().Get()).substr(0, 4);
  return text;
}

using AnimationTest = HostTest;

TEST_F(AnimationTest, PointLevelTrackPlaysLinearlyBetweenItsKeysAndHoldsTheEnds) {
  Scene s;
  ASSERT_TRUE(s.op);
  CTrack* track = AddPlaKeys(s, {{1.0, Vector(0, 10, 0)}, {2.0, Vector(0, 20, 4)}});
  ASSERT_NE(track, nullptr);
  EXPECT_EQ(track->GetType(), CTpla);
  EXPECT_EQ(track->GetObject(), s.op);
  s.SetPoints(Vector(0, -99, 0));

  s.Play(1.5);
  for (LONG i = 0; i < 3; ++i) EXPECT_EQ(s.op->GetPointR()[i], Vector(i, 15, 2)) << i;
  s.Play(1.25);
  EXPECT_EQ(s.op->GetPointR()[2], Vector(2, 12.5, 1));
  s.Play(0.0);  // before the first key
  EXPECT_EQ(s.op->GetPointR()[1], Vector(1, 10, 0));
  s.Play(7.0);  // after the last
  EXPECT_EQ(s.op->GetPointR()[1], Vector(1, 20, 4));
  s.Play(2.0);  // exactly on a key
  EXPECT_EQ(s.op->GetPointR()[0], Vector(0, 20, 4));

  // Playing without the animation pass leaves the points alone.
  s.SetPoints(Vector());
  s.doc->SetTime(BaseTime(1.5));
  s.doc->ExecutePasses(nullptr, FALSE, TRUE, TRUE, 0);
  EXPECT_EQ(s.op->GetPointR()[1], Vector(1, 0, 0));
}

TEST_F(AnimationTest, PlayingMarksThePointsChangedOnlyWhenTheyMove) {
  Scene s;
  ASSERT_TRUE(s.op);
  ASSERT_TRUE(AddPlaKeys(s, {{0.0, Vector()}, {1.0, Vector(0, 1, 0)}}));
  s.Play(0.5);
  const ULONG dirty = s.op->GetDirty(DIRTYFLAGS_DATA);
  s.Play(0.5);
  EXPECT_EQ(s.op->GetDirty(DIRTYFLAGS_DATA), dirty) << "the same time writes the same points";
  s.Play(0.75);
  EXPECT_NE(s.op->GetDirty(DIRTYFLAGS_DATA), dirty);
}

TEST_F(AnimationTest, KeysWhosePointCountDiffersAreNotApplied) {
  Scene s;
  ASSERT_TRUE(s.op);
  ASSERT_TRUE(AddPlaKeys(s, {{0.0, Vector(0, 1, 0)}, {1.0, Vector(0, 2, 0)}}));
  ASSERT_TRUE(s.op->ResizeObject(4, 1));
  s.op->GetPointW()[3] = Vector(7, 7, 7);
  s.Play(0.5);
  EXPECT_EQ(s.op->GetPointR()[1], Vector(1, 2, 0)) << "points keep what they were";
  EXPECT_EQ(s.op->GetPointR()[3], Vector(7, 7, 7));
  // One matching key beside one that does not match: still nothing.
  ASSERT_TRUE(AddPlaKeys(s, {{2.0, Vector(0, 5, 0)}}));
  s.Play(1.5);
  EXPECT_EQ(s.op->GetPointR()[1], Vector(1, 5, 0)) << "only what FillKey put back";
  s.Play(2.5);  // after the last key, which matches
  EXPECT_EQ(s.op->GetPointR()[1], Vector(1, 5, 0));
}

TEST_F(AnimationTest, KeysStaySortedAndOneTimeHoldsOneKey) {
  Scene s;
  ASSERT_TRUE(s.op);
  CTrack* track = CTrack::Alloc(s.op, kPosX);
  ASSERT_NE(track, nullptr);
  ASSERT_TRUE(s.op->InsertTrackSorted(track));
  EXPECT_EQ(track->GetCurve(CCURVE_CURVE, FALSE), nullptr) << "no curve until asked";
  EXPECT_EQ(track->GetCurve(CCURVE_CURVE + 1), nullptr);
  CCurve* curve = track->GetCurve();
  ASSERT_NE(curve, nullptr);
  EXPECT_EQ(track->GetCurve(), curve);
  EXPECT_EQ(curve->GetTrack(), track);
  for (Real t : {3.0, 1.0, 2.0, 0.5, 2.5}) {
    LONG index = -1;
    CKey* key = curve->AddKey(BaseTime(t), &index);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(curve->GetKey(index), key);
    key->SetValue(curve, t * 10);
  }
  EXPECT_EQ(Times(curve), "0.50 1.00 2.00 2.50 3.00");

  // A key at an existing time is that key, unchanged.
  LONG index = -1;
  CKey* again = curve->AddKey(BaseTime(60.0, 30.0), &index);
  EXPECT_EQ(again, curve->GetKey(2));
  EXPECT_EQ(index, 2);
  EXPECT_EQ(again->GetValue(), 20.0);
  EXPECT_EQ(curve->GetKeyCount(), 5);

  EXPECT_EQ(curve->FindKey(BaseTime(2.5), &index), curve->GetKey(3));
  EXPECT_EQ(index, 3);
  EXPECT_EQ(curve->FindKey(BaseTime(2.4)), nullptr);
  EXPECT_EQ(curve->FindKey(BaseTime(2.4), &index, FINDANIM_LEFT), curve->GetKey(2));
  EXPECT_EQ(curve->FindKey(BaseTime(2.4), &index, FINDANIM_RIGHT), curve->GetKey(3));
  EXPECT_EQ(curve->FindKey(BaseTime(0.1), nullptr, FINDANIM_LEFT), nullptr);
  EXPECT_EQ(curve->FindKey(BaseTime(9.0), nullptr, FINDANIM_RIGHT), nullptr);
  EXPECT_EQ(curve->GetKey(-1), nullptr);
  EXPECT_EQ(curve->GetKey(5), nullptr);
  EXPECT_EQ(curve->AddKey(BaseTime(std::nan(""))), nullptr);
  EXPECT_EQ(curve->AddKey(BaseTime(1.0, 0.0) + BaseTime(HUGE_VAL)), nullptr);
  curve->GetKey(0)->SetTime(curve, BaseTime(-HUGE_VAL));
  EXPECT_EQ(Times(curve), "0.50 1.00 2.00 2.50 3.00") << "non-finite times are refused";

  // Moving a key in time moves it in the order.
  curve->GetKey(0)->SetTime(curve, BaseTime(2.75));
  EXPECT_EQ(Times(curve), "1.00 2.00 2.50 2.75 3.00");
  EXPECT_EQ(curve->GetKey(3)->GetValue(), 5.0);
  curve->GetKey(4)->SetTime(nullptr, BaseTime(0.0));
  EXPECT_EQ(Times(curve), "0.00 1.00 2.00 2.50 2.75");

  EXPECT_TRUE(curve->DelKey(1));
  EXPECT_FALSE(curve->DelKey(4));
  EXPECT_FALSE(curve->DelKey(-1));
  EXPECT_EQ(Times(curve), "0.00 2.00 2.50 2.75");
  curve->FlushKeys();
  EXPECT_EQ(curve->GetKeyCount(), 0);
  EXPECT_EQ(curve->GetValue(BaseTime(1.0)), 0.0);
  ASSERT_NE(curve->AddKey(BaseTime(1.0)), nullptr) << "a flushed curve takes keys again";
}

TEST_F(AnimationTest, TracksAreKeptInDescriptionOrderAndFoundByTheirIds) {
  Scene s;
  ASSERT_TRUE(s.op);
  EXPECT_EQ(s.op->GetFirstCTrack(), nullptr);
  EXPECT_EQ(s.op->GetCTrackRoot(), nullptr) << "no list before the first track";
  const DescID order[] = {kRotH, kPla, kPosY, kPosX};
  for (const DescID& id : order) {
    CTrack* track = CTrack::Alloc(s.op, id);
    ASSERT_NE(track, nullptr);
    ASSERT_TRUE(s.op->InsertTrackSorted(track));
  }
  std::string ids;
  for (CTrack* t = s.op->GetFirstCTrack(); t; t = t->GetNext())
    ids += std::to_string(t->GetDescriptionID()[0].id) + "." + std::to_string(t->GetDescriptionID()[1].id) + " ";
  EXPECT_EQ(ids, "903.1000 903.1001 904.1000 100004812.0 ");
  CTrack* posY = s.op->FindCTrack(kPosY);
  ASSERT_NE(posY, nullptr);
  EXPECT_EQ(posY->GetDescriptionID(), kPosY);
  EXPECT_EQ(s.op->FindCTrack(DescID(DescLevel(CTpla))), s.op->FindCTrack(kPla)) << "type 0 matches any";
  EXPECT_EQ(s.op->FindCTrack(DescID(DescLevel(ID_BASEOBJECT_REL_SCALE), DescLevel(VECTOR_X))), nullptr);

  // Removing a track gives it to the caller; inserting it again puts it back in order.
  posY->Remove();
  EXPECT_EQ(s.op->FindCTrack(kPosY), nullptr);
  EXPECT_EQ(posY->GetObject(), nullptr);
  ASSERT_TRUE(s.op->InsertTrackSorted(posY));
  EXPECT_EQ(s.op->GetFirstCTrack()->GetNext(), posY);
  EXPECT_EQ(posY->GetDocument(), s.doc.get());
  CTrack::Free(posY);
  EXPECT_EQ(posY, nullptr);
  EXPECT_EQ(s.op->FindCTrack(kPosY), nullptr);
}

TEST_F(AnimationTest, OnlyParametersThatHoldNumbersCanBeAnimated) {
  Scene s;
  ASSERT_TRUE(s.op);
  ObjPtr null(BaseObject::Alloc(Onull));
  ASSERT_TRUE(null);
  EXPECT_EQ(CTrack::Alloc(null.get(), kPla), nullptr) << "a point-level track needs points";
  EXPECT_EQ(CTrack::Alloc(nullptr, kPosX), nullptr);
  EXPECT_EQ(CTrack::Alloc(s.op, DescID()), nullptr);
  EXPECT_EQ(CTrack::Alloc(s.op, DescID(DescLevel(ID_BASEOBJECT_REL_POSITION))), nullptr) << "a whole vector";
  EXPECT_EQ(CTrack::Alloc(s.op, DescID(DescLevel(ID_BASELIST_NAME))), nullptr) << "a string";
  EXPECT_EQ(CTrack::Alloc(s.op, DescID(DescLevel(4242))), nullptr) << "no such parameter";
  EXPECT_EQ(CTrack::Alloc(s.op, DescID(DescLevel(CTpla), DescLevel(VECTOR_X))), nullptr);
  // An integer parameter of a container can be.
  null->GetDataInstance()->SetLong(4242, 3);
  CTrack* track = CTrack::Alloc(null.get(), DescID(DescLevel(4242)));
  ASSERT_NE(track, nullptr);
  EXPECT_EQ(track->GetType(), CTbase);
  ASSERT_TRUE(null->InsertTrackSorted(track));
}

TEST_F(AnimationTest, FillKeyTakesTheCurrentPointsOrValue) {
  Scene s;
  ASSERT_TRUE(s.op);
  s.op->SetRelPos(Vector(12, 0, 0));
  CTrack* pla = CTrack::Alloc(s.op, kPla);
  CTrack* pos = CTrack::Alloc(s.op, kPosX);
  ASSERT_TRUE(pla && pos);
  ASSERT_TRUE(s.op->InsertTrackSorted(pla));
  ASSERT_TRUE(s.op->InsertTrackSorted(pos));
  CKey* pkey = pla->GetCurve()->AddKey(BaseTime(0.0));
  CKey* vkey = pos->GetCurve()->AddKey(BaseTime(0.0));
  ASSERT_TRUE(pkey && vkey);
  s.SetPoints(Vector(0, 3, 0));
  ASSERT_TRUE(pla->FillKey(s.doc.get(), s.op, pkey));
  ASSERT_EQ(host::KeyPointCount(pkey), 3);
  s.SetPoints(Vector());  // the key holds a copy
  EXPECT_EQ(NodeAccess::KeyPoints(pkey)[2], Vector(2, 3, 0));
  ASSERT_TRUE(pos->FillKey(s.doc.get(), s.op, vkey));
  EXPECT_EQ(vkey->GetValue(), 12.0);
  EXPECT_EQ(host::KeyPointCount(vkey), 0);

  ObjPtr null(BaseObject::Alloc(Onull));
  ASSERT_TRUE(null);
  EXPECT_FALSE(pla->FillKey(s.doc.get(), null.get(), pkey)) << "a null has no points";
  EXPECT_EQ(host::KeyPointCount(pkey), 3) << "a failed fill leaves the key";
  EXPECT_FALSE(pla->FillKey(s.doc.get(), nullptr, pkey));
  EXPECT_FALSE(pla->FillKey(s.doc.get(), s.op, nullptr));
}

// Keys written in place: each call gives the key a new array of its count, and
// what is written there is what plays.
TEST_F(AnimationTest, KeyPointsWrittenInPlaceAreWhatPlays) {
  Scene s;
  ASSERT_TRUE(s.op);
  CTrack* pla = CTrack::Alloc(s.op, kPla);
  CTrack* pos = CTrack::Alloc(s.op, kPosX);
  ASSERT_TRUE(pla && pos && s.op->InsertTrackSorted(pla) && s.op->InsertTrackSorted(pos));
  CCurve* curve = pla->GetCurve();
  CKey* keys[3] = {curve->AddKey(BaseTime(0.0)), curve->AddKey(BaseTime(1.0)), curve->AddKey(BaseTime(2.0))};
  CKey* vkey = pos->GetCurve()->AddKey(BaseTime(0.0));
  ASSERT_TRUE(keys[0] && keys[1] && keys[2] && vkey);
  // Key 1 twice: the second call replaces the first array.
  const LONG steps[][2] = {{0, 3}, {1, 4}, {1, 3}, {2, 3}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step[0]);
    Vector* points = pla->AllocKeyPoints(keys[step[0]], step[1]);
    ASSERT_NE(points, nullptr);
    EXPECT_EQ(host::KeyPointCount(keys[step[0]]), step[1]);
    for (LONG i = 0; i < step[1]; ++i) points[i] = Vector(i, step[0] + 1, 0);
  }
  s.Play(1.0);
  EXPECT_EQ(s.op->GetPointR()[2], Vector(2, 2, 0));
  const Vector* kept = NodeAccess::KeyPoints(keys[0]);
  EXPECT_EQ(pos->AllocKeyPoints(vkey, 3), nullptr) << "a value track has no points";
  EXPECT_EQ(pla->AllocKeyPoints(keys[0], 0), nullptr);
  EXPECT_EQ(pla->AllocKeyPoints(nullptr, 3), nullptr);
  EXPECT_EQ(NodeAccess::KeyPoints(keys[0]), kept) << "a refused call leaves the key";
}

TEST_F(AnimationTest, ValueTracksMoveTheMatrix) {
  Scene s;
  ASSERT_TRUE(s.op);
  CTrack* x = CTrack::Alloc(s.op, kPosX);
  CTrack* h = CTrack::Alloc(s.op, kRotH);
  ASSERT_TRUE(x && h);
  ASSERT_TRUE(s.op->InsertTrackSorted(x));
  ASSERT_TRUE(s.op->InsertTrackSorted(h));
  CCurve* cx = x->GetCurve();
  CCurve* ch = h->GetCurve();
  ASSERT_TRUE(cx && ch);
  cx->AddKey(BaseTime(0.0))->SetValue(cx, 0.0);
  cx->AddKey(BaseTime(2.0))->SetValue(cx, 100.0);
  ch->AddKey(BaseTime(0.0))->SetValue(ch, 0.0);
  ch->AddKey(BaseTime(1.0))->SetValue(ch, pi / 2);

  s.Play(0.5);
  EXPECT_DOUBLE_EQ(s.op->GetRelPos().x, 25.0);
  EXPECT_NEAR(s.op->GetRelRot().x, pi / 4, 1e-12);
  s.Play(3.0);
  EXPECT_DOUBLE_EQ(s.op->GetRelPos().x, 100.0);
  EXPECT_NEAR(s.op->GetRelRot().x, pi / 2, 1e-12);
  // Heading pi/2 turns the X axis onto -Z (or +Z, by the host's convention): not X.
  EXPECT_NEAR(std::abs(s.op->GetMl().v1.z), 1.0, 1e-12);

  // A step key holds its value up to the next key.
  cx->GetKey(0)->SetInterpolation(cx, CINTERPOLATION_STEP);
  cx->GetKey(0)->SetInterpolation(cx, 77);  // ignored
  EXPECT_EQ(cx->GetKey(0)->GetInterpolation(), CINTERPOLATION_STEP);
  s.Play(1.9);
  EXPECT_DOUBLE_EQ(s.op->GetRelPos().x, 0.0);
  cx->SetKeyDefault(s.doc.get(), 0);
  EXPECT_EQ(cx->GetKey(0)->GetInterpolation(), CINTERPOLATION_LINEAR);
  s.Play(1.0);
  EXPECT_DOUBLE_EQ(s.op->GetRelPos().x, 50.0);
}

TEST_F(AnimationTest, IntegerParametersTakeTheRoundedValue) {
  Scene s;
  ASSERT_TRUE(s.op);
  s.op->GetDataInstance()->SetLong(4242, 0);
  CTrack* track = CTrack::Alloc(s.op, DescID(DescLevel(4242)));
  ASSERT_NE(track, nullptr);
  ASSERT_TRUE(s.op->InsertTrackSorted(track));
  CCurve* curve = track->GetCurve();
  curve->AddKey(BaseTime(0.0))->SetValue(curve, 0.0);
  curve->AddKey(BaseTime(1.0))->SetValue(curve, -10.0);
  s.Play(0.26);
  EXPECT_EQ(s.op->GetDataInstance()->GetData(4242).GetType(), DA_LONG);
  EXPECT_EQ(s.op->GetDataInstance()->GetLong(4242), -3);
}

TEST_F(AnimationTest, IntegerParametersStayInRangeForValuesBeyondIt) {
  Scene s;
  ASSERT_TRUE(s.op);
  s.op->GetDataInstance()->SetLong(4242, 7);
  CTrack* track = CTrack::Alloc(s.op, DescID(DescLevel(4242)));
  ASSERT_TRUE(track && s.op->InsertTrackSorted(track));
  CCurve* curve = track->GetCurve();
  ASSERT_NE(curve, nullptr);
  CKey* key = curve->AddKey(BaseTime(0.0));
  ASSERT_NE(key, nullptr);
  key->SetValue(curve, 1e12);
  s.Play(0.0);
  EXPECT_EQ(s.op->GetDataInstance()->GetLong(4242), MAXLONGl);
  key->SetValue(curve, -1e12);
  s.Play(0.0);
  EXPECT_EQ(s.op->GetDataInstance()->GetLong(4242), MINLONGl);
  // A value that is no number leaves the parameter as it is.
  s.op->GetDataInstance()->SetLong(4242, 7);
  key->SetValue(curve, std::nan(""));
  EXPECT_FALSE(track->Animate(BaseTime(0.0)));
  EXPECT_EQ(s.op->GetDataInstance()->GetLong(4242), 7);
}

// The import's undo group: a change of the object, a new track, new keys.
void ImportKeys(Scene& s, std::initializer_list<Real> times) {
  BaseDocument* doc = s.doc.get();
  doc->StartUndo();
  ASSERT_TRUE(doc->AddUndo(UNDOTYPE_CHANGE, s.op));
  CTrack* track = s.op->FindCTrack(kPla);
  if (!track) {
    track = CTrack::Alloc(s.op, kPla);
    ASSERT_NE(track, nullptr);
    s.op->InsertTrackSorted(track);
    ASSERT_TRUE(doc->AddUndo(UNDOTYPE_NEW, track));
  }
  CCurve* curve = track->GetCurve();
  ASSERT_NE(curve, nullptr);
  for (Real t : times) {
    LONG index = 0;
    CKey* key = curve->AddKey(BaseTime(t), &index);
    ASSERT_NE(key, nullptr);
    ASSERT_TRUE(doc->AddUndo(UNDOTYPE_NEW, key));
    curve->SetKeyDefault(doc, index);
    s.SetPoints(Vector(0, t, 0));
    ASSERT_TRUE(track->FillKey(doc, s.op, key));
  }
  doc->EndUndo();
}

TEST_F(AnimationTest, UndoRemovesNewTracksAndKeysAndRestoresTheObjectsTracks) {
  Scene s;
  ASSERT_TRUE(s.op);
  ImportKeys(s, {0.0, 1.0, 2.0});
  ASSERT_NE(s.op->FindCTrack(kPla), nullptr);
  EXPECT_EQ(s.op->GetPointR()[0], Vector(0, 2, 0));
  ASSERT_TRUE(s.doc->DoUndo());
  EXPECT_EQ(s.op->GetFirstCTrack(), nullptr) << "the new track is gone";
  EXPECT_EQ(s.op->GetPointR()[0], Vector(0, 0, 0)) << "the points are back";

  // Again, then a second import onto the same track: undo keeps the first import's keys.
  ImportKeys(s, {0.0, 1.0});
  ImportKeys(s, {1.0, 5.0, 6.0});  // 1.0 meets an existing key
  CCurve* curve = s.op->FindCTrack(kPla)->GetCurve();
  EXPECT_EQ(Times(curve), "0.00 1.00 5.00 6.00");
  ASSERT_TRUE(s.doc->DoUndo());
  CTrack* track = s.op->FindCTrack(kPla);
  ASSERT_NE(track, nullptr);
  curve = track->GetCurve(CCURVE_CURVE, FALSE);
  ASSERT_NE(curve, nullptr);
  EXPECT_EQ(Times(curve), "0.00 1.00");
  EXPECT_EQ(NodeAccess::KeyPoints(curve->GetKey(1))[0], Vector(0, 1, 0)) << "the old key's points are back";
  EXPECT_EQ(curve->GetTrack(), track);
  EXPECT_EQ(track->GetObject(), s.op);
  ASSERT_TRUE(s.doc->DoUndo());
  EXPECT_EQ(s.op->GetFirstCTrack(), nullptr);
  EXPECT_FALSE(s.doc->DoUndo());
}

TEST_F(AnimationTest, UndoOfANewKeyAloneTakesOnlyThatKey) {
  Scene s;
  ASSERT_TRUE(s.op);
  CTrack* track = AddPlaKeys(s, {{0.0, Vector()}, {2.0, Vector()}});
  ASSERT_NE(track, nullptr);
  CCurve* curve = track->GetCurve();
  s.doc->StartUndo();
  CKey* key = curve->AddKey(BaseTime(1.0));
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(s.doc->AddUndo(UNDOTYPE_NEW, key));
  s.doc->EndUndo();
  ASSERT_TRUE(s.doc->DoUndo());
  EXPECT_EQ(Times(curve), "0.00 2.00");
}

TEST_F(AnimationTest, TracksAreCopiedWithTheirNodeUnlessAnimationIsLeftOut) {
  Scene s;
  ASSERT_TRUE(s.op);
  ASSERT_TRUE(AddPlaKeys(s, {{0.0, Vector(0, 1, 0)}, {1.0, Vector(0, 2, 0)}}));
  CTrack* x = CTrack::Alloc(s.op, kPosX);
  ASSERT_TRUE(x && s.op->InsertTrackSorted(x));
  ASSERT_TRUE(x->GetCurve()->AddKey(BaseTime(0.5)));

  ObjPtr copy(static_cast<BaseObject*>(s.op->GetClone(COPYFLAGS_0, nullptr)));
  ASSERT_TRUE(copy);
  CTrack* pla = copy->FindCTrack(kPla);
  ASSERT_NE(pla, nullptr);
  EXPECT_NE(pla, s.op->FindCTrack(kPla));
  EXPECT_EQ(pla->GetObject(), copy.get());
  CCurve* curve = pla->GetCurve(CCURVE_CURVE, FALSE);
  ASSERT_NE(curve, nullptr);
  EXPECT_EQ(Times(curve), "0.00 1.00");
  EXPECT_EQ(curve->GetKey(1)->GetCurve(), curve);
  EXPECT_EQ(NodeAccess::KeyPoints(curve->GetKey(1))[2], Vector(2, 2, 0));
  EXPECT_NE(NodeAccess::KeyPoints(curve->GetKey(1)), NodeAccess::KeyPoints(s.op->FindCTrack(kPla)->GetCurve()->GetKey(1)));
  EXPECT_EQ(copy->GetFirstCTrack()->GetDescriptionID(), kPosX);

  ObjPtr bare(static_cast<BaseObject*>(s.op->GetClone(COPYFLAGS_NO_ANIMATION, nullptr)));
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->GetFirstCTrack(), nullptr);

  // The polygonised document keeps them only when asked to.
  DocPtr flat(s.doc->Polygonize(FALSE));
  DocPtr animated(s.doc->Polygonize(TRUE));
  ASSERT_TRUE(flat && animated);
  EXPECT_EQ(flat->GetFirstObject()->GetFirstCTrack(), nullptr);
  ASSERT_NE(animated->GetFirstObject()->FindCTrack(kPla), nullptr);
  EXPECT_EQ(animated->GetFirstObject()->FindCTrack(kPla)->GetCurve()->GetKeyCount(), 2);
}

class AnimationFileTest : public HostTest {
 protected:
  std::string Path(const char* name) { return TempDir() + "/" + name; }
};

TEST_F(AnimationFileTest, TracksAndKeysSurviveSaveAndLoadByteForByte) {
  Scene s;
  ASSERT_TRUE(s.op);
  ASSERT_TRUE(AddPlaKeys(s, {{0.0, Vector(0, 1, 0)}, {0.04, Vector(0, 2, 0)}, {1.0 / 3.0, Vector(0, 3, -1)}}));
  CTrack* x = CTrack::Alloc(s.op, kPosX);
  ASSERT_TRUE(x && s.op->InsertTrackSorted(x));
  CKey* key = x->GetCurve()->AddKey(BaseTime(25.0, 30.0));
  ASSERT_NE(key, nullptr);
  key->SetValue(x->GetCurve(), -4.5);
  key->SetInterpolation(x->GetCurve(), CINTERPOLATION_STEP);
  // A track without a curve and one on a tag.
  ASSERT_TRUE(s.op->InsertTrackSorted(CTrack::Alloc(s.op, kPosY)));
  BaseTag* phong = s.op->MakeTag(Tphong);
  ASSERT_NE(phong, nullptr);
  CTrack* angle = CTrack::Alloc(phong, DescID(DescLevel(PHONGTAG_PHONG_ANGLE)));
  ASSERT_TRUE(angle && phong->InsertTrackSorted(angle));
  ASSERT_TRUE(angle->GetCurve()->AddKey(BaseTime(2.0)));
  s.op->SetDeformMode(FALSE);

  std::string error;
  const std::string first = Path("a.kscn"), second = Path("b.kscn");
  ASSERT_TRUE(host::SaveScene(s.doc.get(), first, &error)) << error;
  DocPtr loaded(host::LoadScene(first, &error));
  ASSERT_TRUE(loaded) << error;
  ASSERT_TRUE(host::SaveScene(loaded.get(), second, &error)) << error;
  EXPECT_TRUE(ReadFile(first) == ReadFile(second));

  BaseObject* op = loaded->GetFirstObject();
  EXPECT_FALSE(op->GetDeformMode());
  CTrack* pla = op->FindCTrack(kPla);
  ASSERT_NE(pla, nullptr);
  EXPECT_EQ(pla->GetType(), CTpla);
  CCurve* curve = pla->GetCurve(CCURVE_CURVE, FALSE);
  ASSERT_NE(curve, nullptr);
  ASSERT_EQ(curve->GetKeyCount(), 3);
  EXPECT_EQ(curve->GetKey(2)->GetTime().Get(), 1.0 / 3.0);
  EXPECT_EQ(NodeAccess::KeyPoints(curve->GetKey(2))[1], Vector(1, 3, -1));
  CTrack* lx = op->FindCTrack(kPosX);
  ASSERT_NE(lx, nullptr);
  CKey* lkey = lx->GetCurve()->GetKey(0);
  EXPECT_EQ(lkey->GetTime().GetNumerator(), 25.0);
  EXPECT_EQ(lkey->GetTime().GetDenominator(), 30.0);
  EXPECT_EQ(lkey->GetValue(), -4.5);
  EXPECT_EQ(lkey->GetInterpolation(), CINTERPOLATION_STEP);
  EXPECT_EQ(op->FindCTrack(kPosY)->GetCurve(CCURVE_CURVE, FALSE), nullptr);
  ASSERT_NE(op->GetTag(Tphong)->GetFirstCTrack(), nullptr);
  // The loaded track plays.
  loaded->SetTime(BaseTime(0.02));
  loaded->ExecutePasses(nullptr, TRUE, FALSE, FALSE, 0);
  EXPECT_DOUBLE_EQ(static_cast<PointObject*>(op)->GetPointR()[0].y, 1.5);
}

TEST_F(AnimationFileTest, AKeyMovedOntoAnotherKeysTimeCannotMakeAnUnloadableFile) {
  Scene s;
  ASSERT_TRUE(s.op);
  CTrack* x = CTrack::Alloc(s.op, kPosX);
  ASSERT_TRUE(x && s.op->InsertTrackSorted(x));
  CCurve* curve = x->GetCurve();
  ASSERT_NE(curve, nullptr);
  for (Real t : {0.0, 1.0, 2.0}) ASSERT_NE(curve->AddKey(BaseTime(t)), nullptr);
  curve->GetKey(0)->SetTime(curve, BaseTime(30.0, 30.0));
  curve->GetKey(2)->SetTime(nullptr, BaseTime(1.0));
  EXPECT_EQ(Times(curve), "0.00 1.00 2.00") << "one time holds one key";
  curve->GetKey(2)->SetTime(nullptr, BaseTime(1.5));
  EXPECT_EQ(Times(curve), "0.00 1.00 1.50") << "a free time is taken";
  // Handed another curve, the key still keeps its own in order.
  CTrack* y = CTrack::Alloc(s.op, kPosY);
  ASSERT_TRUE(y && s.op->InsertTrackSorted(y) && y->GetCurve());
  curve->GetKey(0)->SetTime(y->GetCurve(), BaseTime(3.0));
  EXPECT_EQ(Times(curve), "1.00 1.50 3.00");

  std::string error;
  ASSERT_TRUE(host::SaveScene(s.doc.get(), Path("moved.kscn"), &error)) << error;
  DocPtr loaded(host::LoadScene(Path("moved.kscn"), &error));
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(loaded->GetFirstObject()->FindCTrack(kPosX)->GetCurve()->GetKeyCount(), 3);
}

// Little-endian pieces of a hand-made payload.
void U32(std::string* out, uint32_t v) { host::internal::PutU32(out, v); }
std::string Chunk(const char* code, const std::string& body) {
  std::string out(code, 4);
  host::internal::PutU64(&out, body.size());
  return out + body;
}
std::string Head(LONG type, const char* name) {
  std::string body;
  U32(&body, static_cast<uint32_t>(type));
  host::internal::PutText(&body, name);
  U32(&body, 0);
  U32(&body, 0xFFFFFFFFu);
  host::internal::EncodeContainer(BaseContainer(), &body, nullptr);
  return Chunk("HEAD", body);
}
std::string Placement(bool withDeformMode) {
  std::string body;
  const Matrix m;
  for (const Vector& v : {m.off, m.v1, m.v2, m.v3}) host::internal::PutVector(&body, v);
  U32(&body, MODE_UNDEF);
  U32(&body, MODE_UNDEF);
  if (withDeformMode) U32(&body, 1);
  return Chunk("OBJD", body);
}
// A track chunk: type, one-level ID, keys (time, value, interpolation, points).
struct KeyBytes {
  Real time;
  LONG interpolation;
  uint32_t points;
};
std::string Track(LONG type, LONG id, std::initializer_list<KeyBytes> keys) {
  std::string body;
  U32(&body, static_cast<uint32_t>(type));
  U32(&body, 1);
  U32(&body, static_cast<uint32_t>(id));
  U32(&body, 0);
  U32(&body, 0);
  U32(&body, static_cast<uint32_t>(keys.size()));
  for (const KeyBytes& k : keys) {
    host::internal::PutReal(&body, k.time);
    host::internal::PutReal(&body, 1.0);
    host::internal::PutReal(&body, 0.0);
    U32(&body, static_cast<uint32_t>(k.interpolation));
    U32(&body, k.points);
    for (uint32_t i = 0; i < k.points; ++i) host::internal::PutVector(&body, Vector(i, 0, 0));
  }
  return Chunk("TRAK", body);
}
std::string Document(const std::string& objects) { return Chunk("DOCU", Head(Tbasedocument, "Doc") + objects); }

TEST_F(AnimationFileTest, VersionOneFilesLoadWithoutTracksAndSwitchedOn) {
  const std::string payload = Document(Chunk("OBJE", Head(Onull, "Old") + Placement(false)));
  std::string error;
  const std::string file = Path("old.kscn");
  ASSERT_TRUE(host::internal::WriteFramedFile(file, host::internal::kSceneMagic, 1, payload, &error)) << error;
  DocPtr doc(host::LoadScene(file, &error));
  ASSERT_TRUE(doc) << error;
  ASSERT_NE(doc->GetFirstObject(), nullptr);
  EXPECT_EQ(Name(doc->GetFirstObject()), "Old");
  EXPECT_TRUE(doc->GetFirstObject()->GetDeformMode());
  // The same payload claims to be version 2: its placement is short.
  EXPECT_EQ(host::internal::DecodeScene(payload, 2, &error), nullptr);
  // Tracks are refused in a version 1 payload.
  const std::string tracked =
      Document(Chunk("OBJE", Head(Opolygon, "P") + Placement(false) + Track(CTpla, CTpla, {{0.0, 2, 0}})));
  EXPECT_EQ(host::internal::DecodeScene(tracked, 1, &error), nullptr);
  EXPECT_NE(error.find("TRAK"), std::string::npos) << error;
}

TEST_F(AnimationFileTest, DamagedTracksAreRefusedWithAReason) {
  auto refusal = [](const std::string& objectBody) {
    std::string error;
    BaseDocument* doc = host::internal::DecodeScene(Document(Chunk("OBJE", objectBody)), 2, &error);
    const std::string outcome = doc ? std::string("loaded") : error;
    BaseDocument::Free(doc);
    return outcome;
  };
  const std::string poly = Head(Opolygon, "P") + Placement(true);
  EXPECT_EQ(refusal(poly + Track(CTpla, CTpla, {{0.0, 2, 3}, {1.0, 3, 3}})), "loaded");
  EXPECT_NE(refusal(poly + Track(CTpla, CTpla, {{1.0, 2, 0}, {0.5, 2, 0}})).find("not after"), std::string::npos);
  EXPECT_NE(refusal(poly + Track(CTpla, CTpla, {{1.0, 2, 0}, {1.0, 2, 0}})).find("not after"), std::string::npos);
  EXPECT_NE(refusal(poly + Track(CTpla, CTpla, {{0.0, 9, 0}})).find("interpolation 9"), std::string::npos);
  EXPECT_NE(refusal(poly + Track(CTbase, 4242, {{0.0, 2, 2}})).find("points"), std::string::npos)
      << "value keys hold no points";
  EXPECT_NE(refusal(poly + Track(CTbase, CTpla, {})).find("track of type"), std::string::npos);
  EXPECT_NE(refusal(poly + Track(777, 4242, {})).find("track of type"), std::string::npos);
  EXPECT_NE(refusal(Head(Onull, "N") + Placement(true) + Track(CTpla, CTpla, {})).find("without points"),
            std::string::npos);
  // A key count beyond the bytes, and a point count beyond them.
  std::string many = Track(CTpla, CTpla, {{0.0, 2, 0}});
  std::memcpy(&many[12 + 4 + 4 + 12], "\xff\xff\xff\x0f", 4);
  EXPECT_NE(refusal(poly + many).find("keys in"), std::string::npos);
  std::string points = Track(CTpla, CTpla, {{0.0, 2, 1}});
  points.resize(points.size() - 8);
  const uint64_t length = points.size() - 12;
  for (int i = 0; i < 8; ++i) points[4 + static_cast<size_t>(i)] = static_cast<char>((length >> (8 * i)) & 0xFF);
  EXPECT_NE(refusal(poly + points).find("points in"), std::string::npos);
  EXPECT_NE(refusal(poly + Chunk("TRAK", std::string(8, '\0'))).find("description levels"), std::string::npos);
}

using AnimationFaultTest = HostTest;

TEST_F(AnimationFaultTest, BuildingTracksAndKeysFailsCleanly) {
  EveryAllocation([] {
    Scene s;
    if (!s.op) return false;
    CTrack* track = CTrack::Alloc(s.op, kPla);
    if (!track) return false;
    EXPECT_TRUE(s.op->InsertTrackSorted(track)) << "a track made for the node always fits";
    CCurve* curve = track->GetCurve();
    if (!curve) return false;
    for (int k = 0; k < 12; ++k) {
      CKey* key = curve->AddKey(BaseTime(k * 0.5));
      if (!key) {
        EXPECT_EQ(curve->GetKeyCount(), k) << "a failed key leaves the others";
        return false;
      }
      if (!track->FillKey(s.doc.get(), s.op, key)) {
        EXPECT_EQ(host::KeyPointCount(key), 0);
        return false;
      }
    }
    return curve->GetKeyCount() == 12;
  });
}

TEST_F(AnimationFaultTest, KeyPointsInPlaceFailCleanly) {
  EveryAllocation([] {
    Scene s;
    CTrack* track = s.op ? CTrack::Alloc(s.op, kPla) : nullptr;
    if (!track || !s.op->InsertTrackSorted(track) || !track->GetCurve()) return false;
    CKey* key = track->GetCurve()->AddKey(BaseTime(0.0));
    if (!key) return false;
    Vector* points = track->AllocKeyPoints(key, 3);
    EXPECT_EQ(host::KeyPointCount(key), points ? 3 : 0);
    return points != nullptr;
  });
}

TEST_F(AnimationFaultTest, CopyingUndoingAndLoadingAnimationFailCleanly) {
  Scene s;
  ASSERT_TRUE(s.op);
  ASSERT_TRUE(AddPlaKeys(s, {{0.0, Vector()}, {1.0, Vector(0, 1, 0)}, {2.0, Vector(0, 2, 0)}}));
  const std::string payload = host::internal::EncodeScene(s.doc.get());
  EveryAllocation([&] {
    BaseList2D* copy = s.op->GetClone(COPYFLAGS_0, nullptr);
    if (!copy) return false;
    const bool whole = static_cast<BaseObject*>(copy)->FindCTrack(kPla)->GetCurve()->GetKeyCount() == 3;
    NodeAccess::Destroy(copy);
    return whole;
  });
  EveryAllocation([&] {
    s.doc->StartUndo();
    const bool recorded = s.doc->AddUndo(UNDOTYPE_CHANGE, s.op);
    s.doc->EndUndo();
    if (!recorded) return false;
    s.op->FindCTrack(kPla)->GetCurve()->DelKey(0);
    s.doc->DoUndo();
    return s.op->FindCTrack(kPla)->GetCurve()->GetKeyCount() == 3;
  });
  EveryAllocation([&] {
    std::string error;
    bool outOfMemory = false;
    BaseDocument* doc = host::internal::DecodeScene(payload, host::internal::kSceneVersion, &error, &outOfMemory);
    if (!doc) {
      EXPECT_TRUE(outOfMemory) << error;
      return false;
    }
    BaseDocument::Free(doc);
    return true;
  });
}

}  // namespace
