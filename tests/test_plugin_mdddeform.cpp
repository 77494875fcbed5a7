// The MDD deformer in-process: caches written here by hand, played on a point object as
// the host evaluates the document; frame search, blending, play modes, the record
// button, reloading, and caches that do not fit.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "c4d_symbols.h"
#include "host_fixture.h"
#include "main.h"
#include "mddformat.h"
#include "plugin_ids.h"
#include "scene_helpers.h"

namespace {

constexpr LONG kPoints = 6;
constexpr LONG kFps = 30;

void PutU32(std::string* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(char((v >> shift) & 0xFF));
}
void PutF32(std::string* out, float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  PutU32(out, bits);
}

// A cache of frames whose point i of frame k stands at (i, ybase + 10 k, 0); times
// k * dt. headerFrames (when not 0) is what the header claims.
std::string CacheBytes(LONG frames, LONG points, Real dt, Real ybase = 0.0, LONG headerFrames = 0) {
  std::string b;
  PutU32(&b, uint32_t(headerFrames ? headerFrames : frames));
  PutU32(&b, uint32_t(points));
  for (LONG k = 0; k < (headerFrames ? headerFrames : frames); ++k) PutF32(&b, float(k * dt));
  for (LONG k = 0; k < frames; ++k)
    for (LONG i = 0; i < points; ++i) {
      PutF32(&b, float(i));
      PutF32(&b, float(ybase + 10.0 * k));
      PutF32(&b, 0.0f);
    }
  return b;
}

class MddDeformerTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    host::EchoMessageBoxes(false);
    ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr)) << host::ResourceError();
    ASSERT_TRUE(PluginStart());
    host::ClearConsole();
    doc.reset(BaseDocument::Alloc());
    doc->SetFps(kFps);
    doc->SetMaxTime(BaseTime(100.0, kFps));
    target = PolygonObject::Alloc(kPoints, 0);
    for (LONG i = 0; i < kPoints; ++i) target->GetPointW()[i] = Vector(100 + i, -5, 7);
    InsertLast(doc.get(), target, "Target");
    deformer = BaseObject::Alloc(ID_MDD_DEFORMER);
    ASSERT_NE(deformer, nullptr);
    deformer->Message(MSG_MENUPREPARE);
    deformer->InsertUnder(target);
    Set(MDDDEFORM_SCALE, 1);
  }
  void TearDown() override {
    doc.reset();
    host::FreeDocuments();
    PluginEnd();
    resource.Free();
    host::FreeRegistry();
    HostTest::TearDown();
  }

  void Set(LONG id, const GeData& value) { deformer->SetParameter(DescID(DescLevel(id)), value, DESCFLAGS_SET_0); }
  void Play(const std::string& path) { Set(MDDDEFORM_FILE, GeData(Filename(path.c_str()))); }
  LONG Long(LONG id) const { return deformer->GetDataInstance()->GetLong(id); }
  std::string Info() const { return deformer->GetDataInstance()->GetString(MDDDEFORM_INFO).Std(); }

  // The points the deformer leaves at time seconds; empty when it left none (no cache).
  std::vector<Vector> At(Real seconds) {
    doc->SetTime(BaseTime(seconds));
    doc->ExecutePasses(nullptr, TRUE, TRUE, TRUE, 0);
    const auto* cache = static_cast<const PointObject*>(target->GetDeformCache());
    if (!cache) return {};
    return std::vector<Vector>(cache->GetPointR(), cache->GetPointR() + cache->GetPointCount());
  }
  // The y every point of the evaluated object has (points stand at y = 10 k in the
  // caches); NaN when they differ or the object is undeformed.
  Real YAt(Real seconds) {
    const std::vector<Vector> p = At(seconds);
    if (p.empty() || p[0].x != 0.0) return std::nan("");
    for (LONG i = 0; i < LONG(p.size()); ++i)
      if (std::fabs(p[size_t(i)].x - i) > 1e-6 || std::fabs(p[size_t(i)].y - p[0].y) > 1e-6) return std::nan("");
    return p[0].y;
  }
  bool Undeformed(Real seconds) {
    const std::vector<Vector> p = At(seconds);
    if (p.size() != size_t(kPoints)) return false;
    for (LONG i = 0; i < kPoints; ++i)
      if (p[size_t(i)] != Vector(100 + i, -5, 7)) return false;
    return true;
  }

  DocPtr doc;
  PolygonObject* target = nullptr;
  BaseObject* deformer = nullptr;
};

TEST_F(MddDeformerTest, StartsWithTheDescribedParameters) {
  EXPECT_EQ(Long(MDDDEFORM_SCALE), 1);  // set by the fixture; Init gives 1000
  BaseObject* fresh = BaseObject::Alloc(ID_MDD_DEFORMER);
  ASSERT_NE(fresh, nullptr);
  const BaseContainer* bc = fresh->GetDataInstance();
  EXPECT_EQ(bc->GetLong(MDDDEFORM_SCALE), 1000);
  EXPECT_EQ(bc->GetString(MDDDEFORM_INFO).Std(), "no file loaded");
  EXPECT_EQ(bc->GetString(MDDDEFORM_LABEL).Std(), "user label/info (for keyframe/clip labeling)");
  EXPECT_TRUE(fresh->GetDeformMode());
  BaseObject::Free(fresh);

  std::string title, error;
  std::vector<host::ParameterInfo> parameters;
  ASSERT_TRUE(host::DescribeDescription("Omdddeformer", &title, &parameters, &error)) << error;
  std::vector<LONG> ids;
  for (const auto& p : parameters) {
    ids.push_back(p.id);
    if (p.id == MDDDEFORM_FILE) {
      EXPECT_EQ(p.kind, host::ParameterKind::FileName);
    }
    if (p.id == MDDDEFORM_RECORD) {
      EXPECT_EQ(p.kind, host::ParameterKind::BitmapButton);
    }
  }
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<LONG>{1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010}));
}

TEST_F(MddDeformerTest, BlendsTheTwoFramesAroundTheTime) {
  Play(WriteFile("a.mdd", CacheBytes(10, kPoints, 1.0 / 30)));
  // 0.05 s lies halfway between frames 1 (1/30 s) and 2 (2/30 s).
  EXPECT_NEAR(YAt(0.05), 15.0, 1e-4);
  EXPECT_NEAR(YAt(1.0 / 30), 10.0, 1e-4);
  EXPECT_NEAR(YAt(0.0), 0.0, 1e-4);
  EXPECT_EQ(Long(MDDDEFORM_START_INDEX), 0);
  EXPECT_EQ(Long(MDDDEFORM_END_INDEX), 9);
  EXPECT_NE(Info().find("Points: 6 Keys: 10 Total Time: "), std::string::npos) << Info();
  // The cache is in the deformer's coordinates: moving the deformer moves the points.
  deformer->SetRelPos(Vector(0, 1000, 0));
  EXPECT_NEAR(YAt(0.05), 1015.0, 1e-4);
  // Scale multiplies the cached coordinates.
  deformer->SetRelPos(Vector());
  Set(MDDDEFORM_SCALE, 3);
  const std::vector<Vector> scaled = At(0.05);
  ASSERT_EQ(scaled.size(), size_t(kPoints));
  EXPECT_NEAR(scaled[2].x, 6.0, 1e-4);
  EXPECT_NEAR(scaled[2].y, 45.0, 1e-4);
}

TEST_F(MddDeformerTest, PlayModesOutsideTheRange) {
  // 11 frames 0.1 s apart: the range is 0 to 1 s.
  Play(WriteFile("a.mdd", CacheBytes(11, kPoints, 0.1)));
  struct Case {
    LONG mode;
    LONG startFrame;
    Real seconds;
    Real y;  // NaN: undeformed
  } cases[] = {
      {0, 10, 0.0, std::nan("")},   // none, before the start frame
      {0, 0, 1.5, std::nan("")},    // none, after the end
      {0, 0, 0.55, 55.0},           // none, inside
      {2, 0, 2.25, 25.0},           // loop: 2.25 s shows 0.25 s
      {2, 0, -0.25, 75.0},          // loop before the start: 0.75 s
      {1, 0, 5.0, 100.0},           // hold after the end: the end frame
      {1, 30, 0.0, 0.0},            // hold before the start frame: the start frame
      {2, 30, 1.0 + 0.25, 25.0},    // loop from the start frame (frame 30 is 1 s)
  };
  for (const Case& c : cases) {
    Set(MDDDEFORM_PLAY_MODE, c.mode);
    Set(MDDDEFORM_START_FRAME, c.startFrame);
    if (std::isnan(c.y))
      EXPECT_TRUE(Undeformed(c.seconds)) << "mode " << c.mode << " at " << c.seconds;
    else
      EXPECT_NEAR(YAt(c.seconds), c.y, 1e-4) << "mode " << c.mode << " at " << c.seconds;
  }
  EXPECT_TRUE(host::ConsoleLines().empty()) << host::ConsoleLines().front();
}

TEST_F(MddDeformerTest, StartAndEndIndicesBoundThePlayedRange) {
  Play(WriteFile("a.mdd", CacheBytes(11, kPoints, 0.1)));
  ASSERT_NEAR(YAt(0.0), 0.0, 1e-4);
  Set(MDDDEFORM_START_INDEX, 2);
  Set(MDDDEFORM_END_INDEX, 5);
  Set(MDDDEFORM_PLAY_MODE, 1);
  // The start index plays at the start frame (0).
  EXPECT_NEAR(YAt(0.0), 20.0, 1e-4);
  EXPECT_NEAR(YAt(0.15), 35.0, 1e-4);
  EXPECT_NEAR(YAt(0.9), 50.0, 1e-4);
  Set(MDDDEFORM_PLAY_MODE, 2);
  EXPECT_NEAR(YAt(0.35), 25.0, 1e-4);  // 0.2 + 0.35 wraps at 0.5 to 0.25
  EXPECT_NE(deformer->GetDataInstance()->GetString(MDDDEFORM_START_TIME).Std(), "");
  EXPECT_NE(deformer->GetDataInstance()->GetString(MDDDEFORM_END_TIME).Std(), "");
}

TEST_F(MddDeformerTest, IndicesBeyondTheCacheAreBroughtIntoIt) {
  // As a scene saved with a longer cache holds them: read before the header is.
  Set(MDDDEFORM_START_INDEX, 300);
  Set(MDDDEFORM_END_INDEX, 400);
  Set(MDDDEFORM_PLAY_MODE, 1);
  Play(WriteFile("a.mdd", CacheBytes(5, kPoints, 0.1)));
  EXPECT_NEAR(YAt(0.0), 40.0, 1e-4);
  EXPECT_EQ(Long(MDDDEFORM_START_INDEX), 4);
  EXPECT_EQ(Long(MDDDEFORM_END_INDEX), 4);
  // Set after loading, without validation.
  Set(MDDDEFORM_START_INDEX, -3);
  Set(MDDDEFORM_END_INDEX, 99);
  EXPECT_NEAR(YAt(10.0), 40.0, 1e-4);
  EXPECT_NEAR(YAt(0.0), 0.0, 1e-4);
  // Validation clamps to the file's frames; the end never falls below the start.
  Set(MDDDEFORM_START_INDEX, 3);
  Set(MDDDEFORM_END_INDEX, 1);
  Set(MDDDEFORM_START_FRAME, 500);
  deformer->Message(MSG_DESCRIPTION_VALIDATE);
  EXPECT_EQ(Long(MDDDEFORM_START_INDEX), 3);
  EXPECT_EQ(Long(MDDDEFORM_END_INDEX), 3);
  EXPECT_EQ(Long(MDDDEFORM_START_FRAME), 100);
  Set(MDDDEFORM_END_INDEX, 77);
  deformer->Message(MSG_DESCRIPTION_VALIDATE);
  EXPECT_EQ(Long(MDDDEFORM_END_INDEX), 4);
}

TEST_F(MddDeformerTest, ASingleFrameSpanHoldsThatFrameInLoopMode) {
  Set(MDDDEFORM_PLAY_MODE, 2);
  Play(WriteFile("one.mdd", CacheBytes(1, kPoints, 0.1)));
  for (Real t : {0.0, 0.5, 3.0, -1.0}) EXPECT_NEAR(YAt(t), 0.0, 1e-9) << t;
  Play(WriteFile("many.mdd", CacheBytes(8, kPoints, 0.1)));
  ASSERT_NEAR(YAt(0.0), 0.0, 1e-9);
  Set(MDDDEFORM_START_INDEX, 3);
  Set(MDDDEFORM_END_INDEX, 3);
  for (Real t : {0.0, 0.25, 7.0}) EXPECT_NEAR(YAt(t), 30.0, 1e-9) << t;
}

TEST_F(MddDeformerTest, RecordButtonSetsTheStartFrame) {
  Play(WriteFile("a.mdd", CacheBytes(11, kPoints, 0.1)));
  doc->SetTime(BaseTime(40.0, kFps));
  GeData button;
  ASSERT_TRUE(deformer->GetParameter(DescID(DescLevel(MDDDEFORM_RECORD)), button, DESCFLAGS_GET_0));
  EXPECT_EQ(button.GetType(), CUSTOMDATATYPE_BITMAPBUTTON);
  EXPECT_EQ(button.GetBitmapButton().op, deformer);
  // Set by code without the user it only counts as handled.
  EXPECT_TRUE(deformer->SetParameter(DescID(DescLevel(MDDDEFORM_RECORD)), button, DESCFLAGS_SET_0));
  EXPECT_EQ(Long(MDDDEFORM_START_FRAME), 0);
  EXPECT_EQ(deformer->GetDataInstance()->GetDataPointer(MDDDEFORM_RECORD), nullptr);
  EXPECT_TRUE(deformer->SetParameter(DescID(DescLevel(MDDDEFORM_RECORD)), button, DESCFLAGS_SET_USERINTERACTION));
  EXPECT_EQ(Long(MDDDEFORM_START_FRAME), 40);
  // The cache's start index now plays at frame 40.
  EXPECT_NEAR(YAt(40.0 / kFps), 0.0, 1e-4);
  EXPECT_NEAR(YAt(40.0 / kFps + 0.25), 25.0, 1e-4);
  // The description command does the same.
  doc->SetTime(BaseTime(12.0, kFps));
  DescriptionCommand dc;
  dc.id = DescID(DescLevel(MDDDEFORM_RECORD));
  deformer->Message(MSG_DESCRIPTION_COMMAND, &dc);
  EXPECT_EQ(Long(MDDDEFORM_START_FRAME), 12);
  // Its image comes from the plug-in's res folder.
  BaseBitmap* bmp = BaseBitmap::Alloc();
  DescID id{DescLevel(MDDDEFORM_RECORD)};
  DescriptionGetBitmap dgb;
  dgb.id = &id;
  dgb.bmp = bmp;
  deformer->Message(MSG_DESCRIPTION_GETBITMAP, &dgb);
  EXPECT_GT(bmp->GetBw(), 0);
  BaseBitmap::Free(bmp);
}

TEST_F(MddDeformerTest, AnotherFileNameLoadsTheOtherCache) {
  Play(WriteFile("a.mdd", CacheBytes(3, kPoints, 0.1)));
  EXPECT_NEAR(YAt(0.1), 10.0, 1e-4);
  Play(WriteFile("b.mdd", CacheBytes(7, kPoints, 0.1, 1000.0)));
  EXPECT_NEAR(YAt(0.1), 1010.0, 1e-4);
  EXPECT_EQ(Long(MDDDEFORM_END_INDEX), 6);
  EXPECT_NE(Info().find("Keys: 7"), std::string::npos) << Info();
  Set(MDDDEFORM_FILE, GeData(Filename()));
  EXPECT_TRUE(Undeformed(0.1));
  EXPECT_EQ(Info(), "no file loaded");
}

TEST_F(MddDeformerTest, CachesThatDoNotFitLeaveTheObjectAlone) {
  Play(WriteFile("more.mdd", CacheBytes(3, kPoints + 1, 0.1)));
  EXPECT_TRUE(Undeformed(0.1));
  EXPECT_EQ(Info(), "*** Points-count Error *** - Object: 6  File: 7");

  host::ClearConsole();
  Play(WriteFile("empty.mdd", CacheBytes(0, kPoints, 0.1)));
  EXPECT_TRUE(Undeformed(0.1));
  EXPECT_NE(Info().find("is not a usable MDD point cache"), std::string::npos) << Info();
  EXPECT_TRUE(ConsoleHas("is not a usable MDD point cache"));

  // Reported once, not at every frame; tried again once the file is there.
  host::ClearConsole();
  Play(TempDir() + "/missing.mdd");
  EXPECT_TRUE(Undeformed(0.1));
  EXPECT_TRUE(Undeformed(0.2));
  EXPECT_TRUE(Undeformed(0.3));
  EXPECT_EQ(host::ConsoleLines(), std::vector<std::string>{"m_pMddFile->Open(" + TempDir() + "/missing.mdd) Failed."});
  WriteFile("missing.mdd", CacheBytes(5, kPoints, 0.1));
  EXPECT_NEAR(YAt(0.3), 30.0, 1e-4);

  // Fewer whole frames than the header says: the whole ones play.
  host::ClearConsole();
  Set(MDDDEFORM_PLAY_MODE, 1);
  std::string cut = CacheBytes(4, kPoints, 0.1, 0.0, 10);
  cut += std::string(7, '\0');
  Play(WriteFile("cut.mdd", cut));
  EXPECT_NEAR(YAt(0.15), 15.0, 1e-4);
  EXPECT_NEAR(YAt(0.8), 30.0, 1e-4);
  EXPECT_EQ(Long(MDDDEFORM_END_INDEX), 3);
  EXPECT_TRUE(ConsoleHas("holds 4 whole frames of the 10"));
}

TEST_F(MddDeformerTest, ACacheRewrittenOnDiskIsLoadedAgain) {
  const std::string path = WriteFile("a.mdd", CacheBytes(3, kPoints, 0.1));
  Play(path);
  Set(MDDDEFORM_PLAY_MODE, 1);
  EXPECT_NEAR(YAt(0.1), 10.0, 1e-4);
  // Same name, other content and size; its time is moved on so that a coarse clock
  // cannot hide the change.
  const auto moved = std::filesystem::last_write_time(path) + std::chrono::hours(1000);
  WriteFile("a.mdd", CacheBytes(9, kPoints, 0.1, 500.0));
  std::filesystem::last_write_time(path, moved);
  EXPECT_NEAR(YAt(0.1), 510.0, 1e-4);
  EXPECT_NEAR(YAt(0.8), 580.0, 1e-4);  // frames 3 to 8 exist only in the new file
  EXPECT_EQ(Long(MDDDEFORM_END_INDEX), 8);
#ifndef _WIN32
  // Replaced by another file of the same size and time (moved over it). Windows refuses
  // to move a file over one that is open, as the deformer's cache is.
  const std::string other = WriteFile("other.mdd", CacheBytes(9, kPoints, 0.1, 700.0));
  std::filesystem::last_write_time(other, moved);
  ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
  EXPECT_NEAR(YAt(0.8), 780.0, 1e-4);
#endif
  // Cut short on disk: never read with the old header.
  WriteFile("a.mdd", std::string(5, '\0'));
  std::filesystem::last_write_time(path, moved + std::chrono::microseconds(1));
  EXPECT_TRUE(Undeformed(0.8));
  EXPECT_NE(Info().find("too small"), std::string::npos) << Info();
}

TEST_F(MddDeformerTest, ReadsOnlyWhenTheFramePairChanges) {
  Play(WriteFile("a.mdd", CacheBytes(20, kPoints, 0.1)));
  ASSERT_NEAR(YAt(0.12), 12.0, 1e-4);
  host::ResetFileAccesses();
  // Within the pair: only the blend.
  EXPECT_NEAR(YAt(0.15), 15.0, 1e-4);
  EXPECT_NEAR(YAt(0.19), 19.0, 1e-4);
  EXPECT_EQ(host::FileAccesses().opens, 0);
  EXPECT_EQ(host::FileAccesses().reads, 0);
  // One frame on: the file stays open and the old right frame is kept.
  EXPECT_NEAR(YAt(0.25), 25.0, 1e-4);
  EXPECT_EQ(host::FileAccesses().opens, 0);
  const LLONG oneFrame = host::FileAccesses().reads;
  EXPECT_GE(oneFrame, 1);
  host::ResetFileAccesses();
  // A jump reads both frames, and no more than their two blocks.
  host::FailReadsAfter(2 * mdd::FrameBytes(kPoints));
  EXPECT_NEAR(YAt(1.05), 105.0, 1e-4);
  host::FailReadsAfter(-1);
  EXPECT_EQ(host::FileAccesses().opens, 0);
  EXPECT_GE(host::FileAccesses().reads, 1);
}

TEST_F(MddDeformerTest, DeformersOnSeveralObjectsRunAtOnce) {
  // Each deformer owns its state: four objects deformed from four threads.
  const std::string path = WriteFile("a.mdd", CacheBytes(50, kPoints, 0.1));
  constexpr int kObjects = 4;
  std::vector<BaseObject*> deformers;
  for (int n = 0; n < kObjects; ++n) {
    BaseObject* d = BaseObject::Alloc(ID_MDD_DEFORMER);
    ASSERT_NE(d, nullptr);
    PolygonObject* op = PolygonObject::Alloc(kPoints, 0);
    InsertLast(doc.get(), op, "Object");
    d->InsertUnder(op);
    d->GetDataInstance()->SetLong(MDDDEFORM_SCALE, 1);
    d->GetDataInstance()->SetFilename(MDDDEFORM_FILE, Filename(path.c_str()));
    d->GetDataInstance()->SetLong(MDDDEFORM_START_FRAME, n);
    deformers.push_back(d);
  }
  // At 0.5 s deformer n, starting at frame n, shows its cache at 0.5 - n / 30 s.
  doc->SetTime(BaseTime(0.5));
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int n = 0; n < kObjects; ++n)
    threads.emplace_back([&, n] {
      auto* data = static_cast<ObjectData*>(deformers[size_t(n)]->GetNodeData());
      PolygonObject* copy = PolygonObject::Alloc(kPoints, 0);
      const Real y = 100.0 * (0.5 - Real(n) / kFps);
      for (int round = 0; round < 200; ++round) {
        deformers[size_t(n)]->GetDataInstance()->SetLong(MDDDEFORM_START_FRAME, n + (round % 2) * 3);
        data->ModifyObject(deformers[size_t(n)], doc.get(), copy, Matrix(), Matrix(), 1.0, 0, nullptr);
        const Real expected = round % 2 ? y - 10.0 : y;
        if (std::fabs(copy->GetPointR()[1].y - expected) > 1e-4 || copy->GetPointR()[1].x != 1.0) ++wrong;
      }
      BaseObject* p = copy;
      BaseObject::Free(p);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(MddDeformerTest, MissingMemoryOrABreakLeavesThePointsAlone) {
  const std::string path = WriteFile("a.mdd", CacheBytes(4, kPoints, 0.1));
  PolygonObject* copy = PolygonObject::Alloc(kPoints, 0);
  ASSERT_NE(copy, nullptr);
  doc->SetTime(BaseTime(0.15));
  EveryAllocation([&] {
    for (LONG i = 0; i < kPoints; ++i) copy->GetPointW()[i] = Vector(-1, -1, -1);
    BaseObject* d = BaseObject::Alloc(ID_MDD_DEFORMER);
    if (!d) return false;
    d->GetDataInstance()->SetLong(MDDDEFORM_SCALE, 1);
    d->GetDataInstance()->SetFilename(MDDDEFORM_FILE, Filename(path.c_str()));
    auto* data = static_cast<ObjectData*>(d->GetNodeData());
    EXPECT_TRUE(data->ModifyObject(d, doc.get(), copy, Matrix(), Matrix(), 1.0, 0, nullptr));
    BaseObject::Free(d);
    const Vector got = copy->GetPointR()[3];
    const bool moved = std::fabs(got.x - 3) + std::fabs(got.y - 15) + std::fabs(got.z) < 1e-4;
    const bool untouched = copy->GetPointR()[3] == Vector(-1, -1, -1);
    EXPECT_TRUE(moved || untouched) << copy->GetPointR()[3].y;
    return moved;
  });
  BaseObject* c = copy;
  BaseObject::Free(c);

  // The host asks to stop: no point is moved.
  Play(path);
  host::BreakThreadsAfter(0);
  EXPECT_TRUE(Undeformed(0.15));
  EXPECT_GE(host::ThreadBreakTests(), 1);
  host::BreakThreadsAfter(-1);
  EXPECT_NEAR(YAt(0.15), 15.0, 1e-4);  // the same time is deformed in full next time
}

}  // namespace
