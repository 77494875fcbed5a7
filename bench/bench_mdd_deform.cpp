// The MDD deformer playing a large cache: forwards frame by frame, backwards and by
// random jumps, against a reader that opens the file for every evaluation and reads the
// two frames point by point, 12 bytes a read. Both run on the host's file service; the
// host counts file opens and reads, which shows what an evaluation at an unchanged frame
// pair costs.
//
//   bench_mdd_deform [--points N] [--frames N] [--folder DIR]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "binfile.h"
#include "c4d.h"
#include "c4d_symbols.h"
#include "host_control.h"
#include "main.h"
#include "mddformat.h"
#include "plugin_ids.h"

namespace fs = std::filesystem;

namespace {

const char* const kProgram = "bench_mdd_deform";
constexpr LONG kFps = 30;

Vector PointAt(LONG i, LONG k) { return Vector(Real(i % 1000), std::sin(0.01 * i + 0.1 * k) * 50.0, Real(i / 1000) + k); }

void WriteCache(const std::string& path, LONG points, LONG frames) {
  gantryBinFile* file = gantryBinFile::Alloc();
  std::vector<Real> times(static_cast<size_t>(frames), 0.0);
  for (LONG k = 0; k < frames; ++k) times[size_t(k)] = Real(k) / kFps;
  mdd::FrameBlock* block = mdd::FrameBlock::Alloc(points);
  bool ok = file && block && file->Open(Filename(path.c_str()), BINFILE_WRITE, BINFILE_BUFFERSIZE) == 0 &&
            mdd::WriteHeader(file, frames, points, times.data());
  for (LONG k = 0; ok && k < frames; ++k) {
    for (LONG i = 0; i < points; ++i) block->Set(i, PointAt(i, k));
    ok = block->Write(file);
  }
  ok = file && file->Close() == 0 && ok;
  mdd::FrameBlock::Free(block);
  gantryBinFile::Free(file);
  if (!ok) bench::Fail(kProgram, "cannot write " + path);
}

float BigEndianFloat(const unsigned char* p) { return mdd::GetFloatBE(p); }

// The reader to beat: opens the file, reads the header and time table, finds the frame
// pair, and reads both frames 12 bytes at a time, at every evaluation.
bool NaiveEvaluate(const Filename& name, Real t, std::vector<Vector>* out, std::vector<Vector>* left,
                   std::vector<Vector>* right) {
  BaseFile* file = BaseFile::Alloc();
  bool ok = file && file->Open(name, FILEOPEN_READ);
  unsigned char b[12];
  ok = ok && file->ReadBytes(b, 8) == 8;
  const LONG frames = ok ? LONG((b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3]) : 0;
  const LONG points = ok ? LONG((b[4] << 24) | (b[5] << 16) | (b[6] << 8) | b[7]) : 0;
  std::vector<Real> times(size_t(frames > 0 ? frames : 0));
  for (LONG k = 0; ok && k < frames; ++k) {
    ok = file->ReadBytes(b, 4) == 4;
    times[size_t(k)] = BigEndianFloat(b);
  }
  LONG L = 0;
  while (ok && L + 1 < frames && t >= times[size_t(L + 1)]) ++L;
  const LONG R = L + 1 < frames ? L + 1 : L;
  out->resize(size_t(points));
  left->resize(size_t(points));
  right->resize(size_t(points));
  for (int side = 0; ok && side < 2; ++side) {
    std::vector<Vector>& dst = side ? *right : *left;
    ok = file->Seek(VLONG(mdd::FrameOffset(frames, points, side ? R : L)), FILESEEK_START);
    for (LONG i = 0; ok && i < points; ++i) {
      ok = file->ReadBytes(b, 12) == 12;
      dst[size_t(i)] = Vector(BigEndianFloat(b), BigEndianFloat(b + 4), BigEndianFloat(b + 8));
    }
  }
  if (ok) {
    const Real w = R == L ? 0.0 : (t - times[size_t(L)]) / (times[size_t(R)] - times[size_t(L)]);
    for (LONG i = 0; i < points; ++i) (*out)[size_t(i)] = w * (*right)[size_t(i)] + (1.0 - w) * (*left)[size_t(i)];
  }
  if (file) file->Close();
  BaseFile::Free(file);
  return ok;
}

struct Player {
  BaseDocument* doc = nullptr;
  BaseObject* deformer = nullptr;
  PolygonObject* target = nullptr;
  PolygonObject* copy = nullptr;

  // One evaluation as the host runs it: the deformer on a copy of the points.
  void At(Real seconds) {
    doc->SetTime(BaseTime(seconds));
    auto* data = static_cast<ObjectData*>(deformer->GetNodeData());
    data->ModifyObject(deformer, doc, copy, Matrix(), Matrix(), 1.0, 0, nullptr);
  }
};

double Milliseconds(const std::chrono::steady_clock::time_point& start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  LONG points = 100000, frames = 250;
  std::string folder;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--points")
      points = std::atoi(argv[i + 1]);
    else if (flag == "--frames")
      frames = std::atoi(argv[i + 1]);
    else if (flag == "--folder")
      folder = argv[i + 1];
    else
      bench::Fail(kProgram, "usage: bench_mdd_deform [--points N] [--frames N] [--folder DIR]");
  }
  if (points < 1 || frames < 3) bench::Fail(kProgram, "--points must be at least 1 and --frames at least 3");
  char made[] = "/tmp/bench_mdd_deform_XXXXXX";
  const bool own = folder.empty();
  if (own) {
    if (!::mkdtemp(made)) bench::Fail(kProgram, "cannot make a folder");
    folder = made;
  }
  host::EchoConsole(false);
  host::EchoMessageBoxes(false);
  host::DrawStatus(0);
  host::SetSettingsFolder(folder + "/settings");
  std::error_code ec;
  host::SetPluginFolder(fs::read_symlink("/proc/self/exe", ec).parent_path().string());
  if (!PluginMessage(C4DPL_INIT_SYS, nullptr) || !PluginStart())
    bench::Fail(kProgram, "cannot start the plug-in: " + host::ResourceError());

  const std::string cache = folder + "/cache.mdd";
  WriteCache(cache, points, frames);
  std::printf("bench_mdd_deform: %d points x %d frames, %.1f MB cache, in %s\n", int(points), int(frames),
              double(mdd::FileBytes(frames, points)) / 1e6, folder.c_str());

  Player player;
  player.doc = BaseDocument::Alloc();
  player.doc->SetFps(kFps);
  player.target = PolygonObject::Alloc(points, 0);
  player.copy = PolygonObject::Alloc(points, 0);
  player.deformer = BaseObject::Alloc(ID_MDD_DEFORMER);
  if (!player.doc || !player.target || !player.copy || !player.deformer) bench::Fail(kProgram, "memory");
  player.doc->InsertObject(player.target, nullptr, nullptr);
  player.deformer->InsertUnder(player.target);
  player.deformer->GetDataInstance()->SetLong(MDDDEFORM_SCALE, 1);
  player.deformer->GetDataInstance()->SetFilename(MDDDEFORM_FILE, Filename(cache.c_str()));
  player.At(0.0);  // loads the header

  // Evaluation times: halfway between frames, so that every evaluation blends.
  std::vector<LONG> forwards, backwards, jumps;
  for (LONG f = 0; f + 1 < frames; ++f) forwards.push_back(f);
  for (LONG f = frames - 2; f >= 0; --f) backwards.push_back(f);
  std::mt19937 random(12345);
  for (LONG n = 0; n + 1 < frames; ++n) jumps.push_back(LONG(random() % unsigned(frames - 1)));
  const auto Time = [](LONG f) { return (Real(f) + 0.5) / kFps; };

  struct Pattern {
    const char* name;
    const std::vector<LONG>* frames;
  } patterns[] = {{"forwards", &forwards}, {"backwards", &backwards}, {"random jumps", &jumps}};

  std::printf("\ntime per evaluation when the frame pair changes (deformer: best of %d over all evaluations;\n"
              "reader: every 10th evaluation of the pattern)\n",
              bench::kRepeats);
  std::printf("  %-13s %14s %14s %10s %22s\n", "pattern", "deformer ms", "reader ms", "ratio", "host reads/eval");
  double worstRatio = 1e30;
  bool same = true;
  std::vector<Vector> out, left, right;
  for (const Pattern& p : patterns) {
    // Start each pass away from the pattern's first frame pair.
    const auto pass = [&] {
      player.At(Time((*p.frames)[0] + (frames > 4 ? 2 : 1)));
      for (LONG f : *p.frames) player.At(Time(f));
    };
    host::ResetFileAccesses();
    pass();
    const LLONG reads = host::FileAccesses().reads;
    const double deformer = bench::Seconds(pass) * 1000.0 / double(p.frames->size() + 1);

    double naive = 0.0;
    LONG runs = 0;
    for (size_t n = 0; n < p.frames->size(); n += 10) {
      const Real t = Time((*p.frames)[n]);
      const auto start = std::chrono::steady_clock::now();
      if (!NaiveEvaluate(Filename(cache.c_str()), t, &out, &left, &right)) bench::Fail(kProgram, "reader failed");
      naive += Milliseconds(start);
      ++runs;
      player.At(t);
      for (LONG i = 0; i < points; i += 997)
        if (std::fabs(player.copy->GetPointR()[i].y - out[size_t(i)].y) + std::fabs(player.copy->GetPointR()[i].z - out[size_t(i)].z) > 1e-4) same = false;
    }
    naive /= runs;
    const double ratio = naive / deformer;
    worstRatio = std::fmin(worstRatio, ratio);
    std::printf("  %-13s %14.3f %14.3f %9.1fx %22.2f\n", p.name, deformer, naive, ratio,
                double(reads) / double(p.frames->size() + 1));
  }

  // An unchanged pair: time moves within frames f and f + 1 only.
  const LONG mid = frames / 2;
  player.At((Real(mid) + 0.1) / kFps);
  host::ResetFileAccesses();
  const LONG steps = 200;
  const auto start = std::chrono::steady_clock::now();
  for (LONG n = 0; n < steps; ++n) player.At((Real(mid) + 0.15 + 0.7 * Real(n) / steps) / kFps);
  const double within = Milliseconds(start) / steps;
  const host::FileAccessCounts still = host::FileAccesses();
  std::printf("\nunchanged frame pair: %.3f ms per evaluation (blend and place only), %lld opens and %lld reads in "
              "%d evaluations\n",
              within, (long long)still.opens, (long long)still.reads, int(steps));
  std::printf("deformer and reader give the same points: %s\n", same ? "yes" : "NO");

  std::printf("\ngoal at least 5 x faster than reopening and reading per point when frames change (worst %.1f x): %s\n",
              worstRatio, worstRatio >= 5.0 && same ? "met" : "NOT met");
  std::printf("goal no file access at an unchanged frame pair (%lld opens, %lld reads): %s\n", (long long)still.opens,
              (long long)still.reads, still.opens == 0 && still.reads == 0 ? "met" : "NOT met");

  BaseDocument::Free(player.doc);
  BaseObject* c = player.copy;
  BaseObject::Free(c);
  PluginEnd();
  if (own) fs::remove_all(folder, ec);
  return 0;
}
