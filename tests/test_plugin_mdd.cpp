// The MDD export and import commands in-process: the scripted user picks the file and
// plays the options dialog; caches are checked against the document's evaluated points.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "binfile.h"
#include "host_fixture.h"
#include "main.h"
#include "mddformat.h"
#include "plugin_ids.h"
#include "scene_helpers.h"
#include "scene_internal.h"

namespace {

using host::DialogAction;

constexpr LONG kPoints = 12;
constexpr LONG kFps = 25;

class MddCommandTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    host::EchoMessageBoxes(false);
    ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr)) << host::ResourceError();
    ASSERT_TRUE(PluginStart());
    host::ClearConsole();
    doc.reset(BaseDocument::Alloc());
    doc->SetFps(kFps);
    doc->SetMaxTime(BaseTime(40.0, kFps));
    doc->SetLoopMaxTime(BaseTime(40.0, kFps));
    animated = MakeObject("Animated", kPoints);
    still = MakeObject("Still", kPoints);
    AddWaveKeys(animated);
    // Both stand somewhere else: the cache is in world space.
    animated->SetRelPos(Vector(100, 20, -30));
    animated->SetRelRot(Vector(0.3, 0.1, 0));
    still->SetRelPos(Vector(-40, 0, 5));
    still->SetRelScale(Vector(2, 1, 1));
  }
  void TearDown() override {
    doc.reset();
    host::FreeDocuments();
    PluginEnd();
    resource.Free();
    host::FreeRegistry();
    HostTest::TearDown();
  }

  PolygonObject* MakeObject(const char* name, LONG points) {
    PolygonObject* op = PolygonObject::Alloc(points, 0);
    Vector* p = op->GetPointW();
    for (LONG i = 0; i < points; ++i) p[i] = Vector(10.0 * i, 5.0 * (i % 3), -7.0 * (i % 4));
    InsertLast(doc.get(), op, name);
    return op;
  }

  // Point-level keys at frames 0, 10, 20, 30, 40; the host plays the frames between.
  void AddWaveKeys(PolygonObject* op) {
    CTrack* track = CTrack::Alloc(op, DescID(DescLevel(CTpla, CTpla, 0)));
    ASSERT_NE(track, nullptr);
    op->InsertTrackSorted(track);
    CCurve* curve = track->GetCurve();
    std::vector<Vector> rest(op->GetPointR(), op->GetPointR() + op->GetPointCount());
    for (LONG frame = 0; frame <= 40; frame += 10) {
      for (LONG i = 0; i < op->GetPointCount(); ++i)
        op->GetPointW()[i] = rest[size_t(i)] + Vector(0, 30 * std::sin(frame / 7.0 + i), 3.0 * frame);
      CKey* key = curve->AddKey(BaseTime(Real(frame), kFps));
      ASSERT_TRUE(track->FillKey(doc.get(), op, key));
    }
    for (LONG i = 0; i < op->GetPointCount(); ++i) op->GetPointW()[i] = rest[size_t(i)];
  }

  // World positions of op's points at time seconds, the document evaluated there.
  std::vector<Vector> WorldAt(BaseObject* op, Real seconds) {
    doc->SetTime(BaseTime(seconds * kFps, kFps));
    doc->ExecutePasses(nullptr, TRUE, TRUE, TRUE, 0);
    std::vector<Vector> out;
    const Matrix mg = op->GetMg();
    for (LONG i = 0; i < ToPoint(op)->GetPointCount(); ++i) out.push_back(mg * ToPoint(op)->GetPointR()[i]);
    return out;
  }

  bool Run(LONG commandId, LONG dialogId, BaseObject* op, const std::string& path, const std::vector<DialogAction>& actions) {
    doc->SetActiveObject(op);
    host::ClearUserLog();
    host::SetStrictDialogs(true);
    for (const DialogAction& a : actions) host::QueueDialogAction(a.For(std::to_string(dialogId)));
    host::QueueDialogAction(DialogAction::Ok().For(std::to_string(dialogId)));
    host::QueueFileSelection(path);
    const bool ok = FindPlugin(commandId, PLUGINTYPE_COMMAND)->GetCommand()->Execute(doc.get());
    EXPECT_TRUE(host::DialogErrors().empty()) << host::DialogErrors().front();
    return ok;
  }
  bool Export(const std::string& path, LONG start, LONG end, LONG step, std::vector<DialogAction> more = {}) {
    std::vector<DialogAction> actions = {DialogAction::Set("start-frame", std::to_string(start)),
                                         DialogAction::Set("end-frame", std::to_string(end)),
                                         DialogAction::Set("frame-step", std::to_string(step))};
    actions.insert(actions.end(), more.begin(), more.end());
    return Run(ID_MDDXP_PLUGIN, DLG_MDD_EXPORT_OPTIONS_ID, animated, path, actions);
  }
  bool Import(BaseObject* op, const std::string& path, const std::vector<DialogAction>& actions) {
    return Run(ID_MDDMP_PLUGIN, DLG_MDD_IMPORT_OPTIONS_ID, op, path, actions);
  }

  static constexpr LONG DLG_MDD_EXPORT_OPTIONS_ID = 10274;
  static constexpr LONG DLG_MDD_IMPORT_OPTIONS_ID = 10262;

  struct Cache {
    bool ok = false;
    mdd::Info info;
    std::vector<Real> times;
    std::vector<std::vector<Vector>> frames;
  };
  static Cache ReadCache(const std::string& path) {
    Cache c;
    gantryBinFile* file = gantryBinFile::Alloc();
    String problem, warning;
    c.ok = file->Open(Filename(path.c_str()), BINFILE_READ, 4096) == 0 &&
           mdd::ReadHeader(file, Filename(path.c_str()), &c.info, &problem, &warning);
    if (c.ok) {
      c.times.resize(size_t(c.info.frames));
      c.ok = mdd::ReadTimes(file, c.info, c.times.data());
      mdd::FrameBlock* block = mdd::FrameBlock::Alloc(c.info.points);
      for (LONG k = 0; c.ok && k < c.info.wholeFrames && block->Read(file); ++k) {
        c.frames.emplace_back(size_t(c.info.points));
        block->GetAll(c.frames.back().data());
      }
      mdd::FrameBlock::Free(block);
    }
    gantryBinFile::Free(file);
    return c;
  }

  std::vector<Real> KeyTimes(BaseObject* op) {
    std::vector<Real> times;
    CTrack* track = op->FindCTrack(DescID(DescLevel(CTpla, CTpla, 0)));
    CCurve* curve = track ? track->GetCurve(CCURVE_CURVE, FALSE) : nullptr;
    for (LONG k = 0; curve && k < curve->GetKeyCount(); ++k) times.push_back(curve->GetKey(k)->GetTime().Get());
    return times;
  }

  static void ExpectNear(const std::vector<Vector>& a, const std::vector<Vector>& b, Real tolerance, const std::string& what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    for (size_t i = 0; i < a.size(); ++i) {
      EXPECT_NEAR(a[i].x, b[i].x, tolerance) << what << " point " << i;
      EXPECT_NEAR(a[i].y, b[i].y, tolerance) << what << " point " << i;
      EXPECT_NEAR(a[i].z, b[i].z, tolerance) << what << " point " << i;
    }
  }

  DocPtr doc;
  PolygonObject* animated = nullptr;
  PolygonObject* still = nullptr;
};

TEST_F(MddCommandTest, ExportWritesEvaluatedWorldPointsOfEverySampledFrame) {
  struct Case {
    LONG start, end, step;
    std::vector<LONG> frames;
  };
  const Case cases[] = {{0, 10, 3, {0, 3, 6, 9}}, {10, 0, 3, {10, 7, 4, 1}}, {6, 6, 1, {6}}};
  for (const Case& c : cases) {
    const std::string path = TempDir() + "/a.mdd";
    doc->SetTime(BaseTime(5.0, kFps));
    ASSERT_TRUE(Export(path, c.start, c.end, c.step, {DialogAction::Set("multiply", "on"), DialogAction::Set("scale", "1")}));
    EXPECT_EQ(doc->GetTime().GetFrame(kFps), 5) << "the document time is restored";
    const Cache cache = ReadCache(path);
    ASSERT_TRUE(cache.ok);
    ASSERT_EQ(cache.info.frames, LONG(c.frames.size()));
    EXPECT_EQ(cache.info.points, kPoints);
    for (size_t k = 0; k < c.frames.size(); ++k) {
      EXPECT_NEAR(cache.times[k], Real(k * c.step) / kFps, 1e-6);
      ExpectNear(cache.frames[k], WorldAt(animated, Real(c.frames[k]) / kFps), 1e-3,
                 "frame " + std::to_string(c.frames[k]));
    }
  }
}

TEST_F(MddCommandTest, ExportDividesByTheScaleByDefault) {
  animated->SetRelPos(Vector());
  animated->SetRelRot(Vector());
  CTrack* track = animated->FindCTrack(DescID(DescLevel(CTpla, CTpla, 0)));
  CTrack::Free(track);
  animated->GetPointW()[1] = Vector(250, -500, 1000);
  const std::string path = TempDir() + "/s.mdd";
  ASSERT_TRUE(Export(path, 0, 0, 1));
  const Cache cache = ReadCache(path);
  ASSERT_TRUE(cache.ok);
  EXPECT_EQ(cache.frames[0][1], Vector(0.25, -0.5, 1.0));
}

// Import settings by start mode; the still object is compared with the animated one
// at every key: key k of the cache is block k, placed at time[k] (reversed: time[F-1-k])
// plus the mode's offset.
TEST_F(MddCommandTest, ImportGivesTheEvaluatedPointsBackInEveryMode) {
  const std::string path = TempDir() + "/wave.mdd";
  ASSERT_TRUE(Export(path, 0, 20, 2));
  const Cache cache = ReadCache(path);
  ASSERT_TRUE(cache.ok);
  const LONG F = cache.info.frames;
  ASSERT_EQ(F, 11);
  struct Case {
    const char* name;
    std::vector<DialogAction> actions;
    Real offset;  // seconds
    bool reverse;
  };
  const Case cases[] = {
      {"file times", {DialogAction::Set("start-file-times", "on")}, 0.0, false},
      {"current frame", {DialogAction::Set("start-current-frame", "on")}, 7.0 / kFps, false},
      {"at frame 25", {DialogAction::Set("start-at-frame", "on"), DialogAction::Set("start-frame", "25")}, 1.0, false},
      {"reversed", {DialogAction::Set("start-file-times", "on"), DialogAction::Set("reverse", "on")}, 0.0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<DialogAction> actions = c.actions;
    actions.push_back(DialogAction::Set("replace-keys", "on"));
    doc->SetTime(BaseTime(7.0, kFps));
    const LONG undos = doc->GetUndoCount();
    ASSERT_TRUE(Import(still, path, actions));
    EXPECT_EQ(doc->GetUndoCount(), undos + 1) << "one undo step";
    EXPECT_EQ(doc->GetTime().GetFrame(kFps), 7);
    const std::vector<Real> keys = KeyTimes(still);
    ASSERT_EQ(keys.size(), size_t(F));
    for (LONG k = 0; k < F; ++k) {
      const Real t = cache.times[size_t(c.reverse ? F - 1 - k : k)] + c.offset;
      EXPECT_NEAR(keys[size_t(c.reverse ? F - 1 - k : k)], t, 1e-6);  // on the frame the float time stands for
      ExpectNear(WorldAt(still, t), WorldAt(animated, 2.0 * k / kFps), 2e-3, "key " + std::to_string(k));
    }
  }
  // Keys at 1.0 s .. 1.8 s reach past the 40-frame document: its range grows to the last key.
  EXPECT_GE(doc->GetMaxTime().Get(), 1.8 - 1e-9);
  EXPECT_GE(doc->GetLoopMaxTime().Get(), 1.8 - 1e-9);
}

TEST_F(MddCommandTest, StartAfterLastKeyAppendsAndReplaceStartsOver) {
  const std::string path = TempDir() + "/wave.mdd";
  ASSERT_TRUE(Export(path, 0, 10, 5));  // times 0, 0.2, 0.4
  const std::vector<DialogAction> fileTimes = {DialogAction::Set("start-file-times", "on")};
  ASSERT_TRUE(Import(still, path, fileTimes));
  ASSERT_TRUE(Import(still, path, {DialogAction::Set("start-after-last-key", "on")}));
  // The first appended key lands on the last old one (0.4 s) and takes its block.
  const std::vector<Real> keys = KeyTimes(still);
  ASSERT_EQ(keys.size(), 5u);
  for (size_t k = 0; k < 5; ++k) EXPECT_NEAR(keys[k], 0.2 * Real(k), 1e-9);
  ExpectNear(WorldAt(still, 0.4), WorldAt(animated, 0.0), 2e-3, "appended first block");
  ExpectNear(WorldAt(still, 0.8), WorldAt(animated, 0.4), 2e-3, "appended last block");
  // With replace-keys the old keys go first: the keys start at 0 again.
  ASSERT_TRUE(Import(still, path, {DialogAction::Set("start-after-last-key", "on"), DialogAction::Set("replace-keys", "on")}));
  EXPECT_EQ(KeyTimes(still), (std::vector<Real>{0.0, 0.2, 0.4}));
}

TEST_F(MddCommandTest, UndoTakesTheWholeImportBack) {
  const std::string path = TempDir() + "/wave.mdd";
  ASSERT_TRUE(Export(path, 0, 4, 1));
  ASSERT_TRUE(Import(still, path, {DialogAction::Set("start-file-times", "on")}));
  ASSERT_EQ(KeyTimes(still).size(), 5u);
  ASSERT_TRUE(doc->DoUndo());
  BaseObject* restored = doc->SearchObject(String("Still"));
  ASSERT_NE(restored, nullptr);
  EXPECT_TRUE(KeyTimes(restored).empty());
}

TEST_F(MddCommandTest, PointCountMismatchShowsTheBoxAndChangesNothing) {
  const std::string path = TempDir() + "/wave.mdd";
  ASSERT_TRUE(Export(path, 0, 4, 1));
  PolygonObject* small = MakeObject("Small", 5);
  const LONG undos = doc->GetUndoCount();
  EXPECT_FALSE(Import(small, path, {}));
  ASSERT_EQ(host::MessageBoxes().size(), 1u);
  EXPECT_EQ(host::MessageBoxes()[0],
            "The Point Count of the selected mesh object [5]\nDoes not match the Point Count in the .mdd file[12]\n"
            "Operation Aborted.");
  EXPECT_TRUE(KeyTimes(small).empty());
  EXPECT_EQ(small->FindCTrack(DescID(DescLevel(CTpla, CTpla, 0))), nullptr);
  EXPECT_EQ(doc->GetUndoCount(), undos);
}

TEST_F(MddCommandTest, ShortCacheGivesKeysForItsWholeFramesAndWarns) {
  const std::string path = TempDir() + "/wave.mdd";
  ASSERT_TRUE(Export(path, 0, 4, 1));
  std::filesystem::resize_file(path, static_cast<uintmax_t>(mdd::FrameOffset(5, kPoints, 3) + 20));
  ASSERT_TRUE(Import(still, path, {DialogAction::Set("start-file-times", "on")}));
  EXPECT_EQ(KeyTimes(still).size(), 3u);
  EXPECT_TRUE(ConsoleHas("holds 3 whole frames of the 5 its header promises"));
}

// Keys large enough to have their new arrays made present before the conversion writes
// them: each key holds exactly its block converted to the object, also when the cache is
// cut short or the blocks go onto keys that are there already.
TEST_F(MddCommandTest, LargeKeysHoldExactlyTheirBlocks) {
  constexpr LONG P = 50000, F = 4;  // 1.2 MB a key
  PolygonObject* big = MakeObject("Big", P);
  big->SetRelPos(Vector(-40, 0, 5));
  big->SetRelScale(Vector(2, 1, 1));
  const std::string path = TempDir() + "/large.mdd", cut = TempDir() + "/cut.mdd";
  std::vector<std::vector<Vector>> expected(F, std::vector<Vector>(P));
  {
    gantryBinFile* file = gantryBinFile::Alloc();
    mdd::FrameBlock* block = mdd::FrameBlock::Alloc(P);
    const Real times[F] = {0.0, 1.0 / kFps, 2.0 / kFps, 3.0 / kFps};
    bool ok = file->Open(Filename(path.c_str()), BINFILE_WRITE, BINFILE_BUFFERSIZE) == 0 &&
              mdd::WriteHeader(file, F, P, times);
    for (LONG k = 0; ok && k < F; ++k) {
      for (LONG i = 0; i < P; ++i) block->Set(i, Vector(0.001 * (i % 211), 0.01 * k - 0.5, -0.002 * (i / 211)));
      block->GetAll(expected[size_t(k)].data(), !big->GetMg(), 1000.0);
      ok = block->Write(file);
    }
    ok = file->Close() == 0 && ok;
    mdd::FrameBlock::Free(block);
    gantryBinFile::Free(file);
    ASSERT_TRUE(ok);
  }
  std::filesystem::copy_file(path, cut);
  std::filesystem::resize_file(cut, static_cast<uintmax_t>(mdd::FrameOffset(F, P, 2) + 100));
  struct Case {
    const char* name;
    const std::string& file;
    bool replace, reverse;
    LONG keys;  // whole blocks
  };
  const Case cases[] = {
      {"whole", path, true, false, F},
      {"reversed onto the keys there", path, false, true, F},
      {"cut short", cut, true, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool imported = Import(big, c.file,
                                 {DialogAction::Set("start-file-times", "on"), DialogAction::Set("multiply", "on"),
                                  DialogAction::Set("scale", "1000"), DialogAction::Set("replace-keys", c.replace ? "on" : "off"),
                                  DialogAction::Set("reverse", c.reverse ? "on" : "off")});
    ASSERT_TRUE(imported);
    CCurve* curve = big->FindCTrack(DescID(DescLevel(CTpla, CTpla, 0)))->GetCurve();
    ASSERT_EQ(curve->GetKeyCount(), c.keys);
    for (LONG k = 0; k < c.keys; ++k) {
      const CKey* key = curve->GetKey(k);
      EXPECT_EQ(key->GetTime().GetFrame(kFps), k);
      ASSERT_EQ(host::KeyPointCount(key), P);
      const std::vector<Vector>& block = expected[size_t(c.reverse ? F - 1 - k : k)];
      EXPECT_EQ(std::memcmp(NodeAccess::KeyPoints(key), block.data(), sizeof(Vector) * size_t(P)), 0) << "key " << k;
    }
  }
}

TEST_F(MddCommandTest, DamagedHeaderIsRefusedWithItsReason) {
  const std::string path = WriteFile("bad.mdd", std::string("\x00\x00\x00\x05\x00\x00\x00\x0c", 8) + "short");
  EXPECT_FALSE(Import(still, path, {}));
  EXPECT_TRUE(ConsoleHas("5 frames of 12 points need at least 172 bytes"));
  EXPECT_TRUE(KeyTimes(still).empty());
}

TEST_F(MddCommandTest, FailedWritesLeaveNoCacheAndRestoreTheTime) {
  struct Case {
    const char* name;
    std::string path;
    LLONG budget;  // bytes the disk takes; -1: no limit
    const char* says;
  };
  const std::string folderFile = WriteFile("plain.txt", "x");
  const Case cases[] = {
      {"disk fills", TempDir() + "/full.mdd", 300, "could not be saved"},
      {"no folder", TempDir() + "/missing/a.mdd", -1, "m_pMddFile->Open("},
      {"under a file", folderFile + "/a.mdd", -1, "m_pMddFile->Open("},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host::ClearConsole();
    doc->SetTime(BaseTime(3.0, kFps));
    host::FailWritesAfter(c.budget);
    EXPECT_FALSE(Export(c.path, 0, 20, 1));
    host::ResetFaults();
    EXPECT_TRUE(ConsoleHas(c.says));
    EXPECT_FALSE(std::filesystem::exists(c.path));
    EXPECT_EQ(doc->GetTime().GetFrame(kFps), 3);
  }
  // A big cache fails in the middle of the frames, at a buffer flush.
  PolygonObject* big = MakeObject("Big", 50000);
  const std::string path = TempDir() + "/big.mdd";
  WriteFile("big.mdd", "an older cache");
  host::FailWritesAfter(2 * 1048576);
  doc->SetActiveObject(big);
  EXPECT_FALSE(Run(ID_MDDXP_PLUGIN, DLG_MDD_EXPORT_OPTIONS_ID, big, path,
                   {DialogAction::Set("start-frame", "0"), DialogAction::Set("end-frame", "20")}));
  host::ResetFaults();
  EXPECT_TRUE(ConsoleHas("failed (disk full or not writable)"));
  EXPECT_EQ(ReadFile(path), "an older cache");
}

TEST_F(MddCommandTest, StepStaysAtLeastOneInAOneFrameDocument) {
  doc->SetMaxTime(BaseTime(0.0, kFps));
  doc->SetLoopMaxTime(BaseTime(0.0, kFps));
  const std::string path = TempDir() + "/one.mdd";
  ASSERT_TRUE(Run(ID_MDDXP_PLUGIN, DLG_MDD_EXPORT_OPTIONS_ID, animated, path, {}));
  ASSERT_EQ(host::DialogLog().size(), 1u);
  const host::GadgetRecord* step = host::DialogLog()[0].Find(10282);
  ASSERT_NE(step, nullptr);
  EXPECT_EQ(step->number, 1.0);
  EXPECT_EQ(ReadCache(path).info.frames, 1);
}

TEST_F(MddCommandTest, NarrowerRangeLowersTheStep) {
  // The document's 40 frames allow a step of 20; a range of 0..4 allows 2.
  const std::string path = TempDir() + "/step.mdd";
  ASSERT_TRUE(Run(ID_MDDXP_PLUGIN, DLG_MDD_EXPORT_OPTIONS_ID, animated, path,
                  {DialogAction::Set("frame-step", "10"), DialogAction::Set("start-frame", "0"),
                   DialogAction::Set("end-frame", "4")}));
  const host::GadgetRecord* step = host::DialogLog().back().Find(10282);
  ASSERT_NE(step, nullptr);
  EXPECT_EQ(step->number, 2.0);
  const Cache cache = ReadCache(path);
  ASSERT_TRUE(cache.ok);
  EXPECT_EQ(cache.info.frames, 3);
  for (size_t k = 0; k < 3; ++k) EXPECT_EQ(cache.times[k], Real(SReal(2.0 * k / kFps)));
}

TEST_F(MddCommandTest, SettingsAreKeptUnderTheirIds) {
  const std::string path = TempDir() + "/wave.mdd";
  ASSERT_TRUE(Export(path, 0, 4, 2, {DialogAction::Set("multiply", "on"), DialogAction::Set("scale", "7")}));
  const BaseContainer* xp = GetWorldPluginData(ID_MDDXP_PLUGIN);
  ASSERT_NE(xp, nullptr);
  EXPECT_TRUE(xp->GetBool(1003));
  EXPECT_EQ(xp->GetLong(1004), 7);
  EXPECT_EQ(xp->GetLong(1007), 2);
  ASSERT_TRUE(Import(still, path,
                     {DialogAction::Set("start-at-frame", "on"), DialogAction::Set("start-frame", "12"),
                      DialogAction::Set("reverse", "on")}));
  const BaseContainer* mp = GetWorldPluginData(ID_MDDMP_PLUGIN);
  ASSERT_NE(mp, nullptr);
  EXPECT_EQ(mp->GetLong(1006), 2) << "start mode under 1006";
  EXPECT_EQ(mp->GetLong(1005), 12) << "start frame under 1005";
  EXPECT_TRUE(mp->GetBool(1002));
  // A nonzero reset marker brings the defaults back on the next run.
  BaseContainer reset;
  reset.SetLong(1000, 1);
  SetWorldPluginData(ID_MDDMP_PLUGIN, reset, TRUE);
  ASSERT_TRUE(Import(still, path, {}));
  mp = GetWorldPluginData(ID_MDDMP_PLUGIN);
  EXPECT_EQ(mp->GetLong(1006), 1);
  EXPECT_FALSE(mp->GetBool(1002));
  EXPECT_EQ(mp->GetLong(1000), 0);
}

}  // namespace
