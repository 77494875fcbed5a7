// MDD point caches of 100 000 points over 250 frames (about 300 MB), in one run:
//   - the cache writer and reader (header, time table, frame blocks converted to and
//     from big-endian floats) against a raw write and read of the same bytes;
//   - the time per frame of the evaluation the export does (document at the frame,
//     current state of the object), and the export command's whole time per frame;
//   - the import command's whole time per key against the time to read one frame block.
// Goals: the cache I/O at least 50 % of the raw speed (both written durably: the cache is
// synced by the host's safe saving, the raw file by fsync); an imported key at most 3
// times the reading of its frame block into points (the bytes of the block read and
// widened to the double vectors a key holds; the ratio to the bytes alone is printed too).
//
//   bench_mdd [--points N] [--frames N] [--folder DIR]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_util.h"
#include "binfile.h"
#include "c4d.h"
#include "host_control.h"
#include "main.h"
#include "mddformat.h"
#include "plugin_ids.h"

namespace fs = std::filesystem;

namespace {

const char* const kProgram = "bench_mdd";

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

const char* Verdict(bool met) { return met ? "met" : "NOT met"; }

Vector PointAt(LONG i, LONG k) {
  return Vector(Real(i % 317), Real(i / 317), std::sin(0.01 * i + 0.05 * k) * 10.0);
}

// --- raw bytes --------------------------------------------------------------------

void RawWrite(const std::string& path, const std::vector<unsigned char>& header, const std::vector<unsigned char>& frame,
              LONG frames) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) bench::Fail(kProgram, "cannot write " + path);
  bool ok = ::write(fd, header.data(), header.size()) == ssize_t(header.size());
  for (LONG k = 0; ok && k < frames; ++k) ok = ::write(fd, frame.data(), frame.size()) == ssize_t(frame.size());
  // As durable as the cache, which the host's safe saving syncs before it takes its place.
  ok = ok && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !ok) bench::Fail(kProgram, "raw write of " + path + " failed");
}

long long RawRead(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) bench::Fail(kProgram, "cannot read " + path);
  std::vector<unsigned char> buffer(1 << 20);
  long long total = 0;
  ssize_t n;
  while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) total += n;
  ::close(fd);
  return total;
}

// --- the cache's own writer and reader ------------------------------------------------

void CacheWrite(const std::string& path, LONG points, LONG frames) {
  gantryBinFile* file = gantryBinFile::Alloc();
  mdd::FrameBlock* block = mdd::FrameBlock::Alloc(points);
  std::vector<Real> times(static_cast<size_t>(frames));
  for (LONG k = 0; k < frames; ++k) times[size_t(k)] = k / 30.0;
  std::vector<Vector> base(static_cast<size_t>(points));
  for (LONG i = 0; i < points; ++i) base[size_t(i)] = PointAt(i, 0);
  bool ok = file && block && file->Open(Filename(path.c_str()), BINFILE_WRITE, BINFILE_BUFFERSIZE) == 0 &&
            mdd::WriteHeader(file, frames, points, times.data());
  for (LONG k = 0; ok && k < frames; ++k) {
    Matrix m;  // the export's conversion: a world matrix (here a shift per frame) and a factor
    m.off = Vector(0, 0, Real(k));
    block->SetAll(base.data(), m, 0.001);
    ok = block->Write(file);
  }
  ok = file && file->Close() == 0 && ok;
  mdd::FrameBlock::Free(block);
  gantryBinFile::Free(file);
  if (!ok) bench::Fail(kProgram, "the cache writer failed on " + path);
}

// Reads header, times and every block; with widen, each block is also converted to
// double vectors (what the import and the deformer use).
void CacheRead(const std::string& path, bool widen) {
  gantryBinFile* file = gantryBinFile::Alloc();
  mdd::Info info;
  String problem, warning;
  bool ok = file && file->Open(Filename(path.c_str()), BINFILE_READ, BINFILE_BUFFERSIZE) == 0 &&
            mdd::ReadHeader(file, Filename(path.c_str()), &info, &problem, &warning);
  std::vector<Real> times(ok ? size_t(info.frames) : 0);
  std::vector<Vector> points(ok ? size_t(info.points) : 0);
  mdd::FrameBlock* block = ok ? mdd::FrameBlock::Alloc(info.points) : nullptr;
  ok = ok && block && mdd::ReadTimes(file, info, times.data());
  for (LONG k = 0; ok && k < info.wholeFrames; ++k) {
    ok = block->Read(file);
    if (widen) block->GetAll(points.data(), Matrix(), 1000.0);  // the import's conversion
  }
  mdd::FrameBlock::Free(block);
  gantryBinFile::Free(file);
  if (!ok) bench::Fail(kProgram, "the cache reader failed on " + path + ": " + problem.Std());
}

// --- the commands -------------------------------------------------------------------

PolygonObject* MakeObject(BaseDocument* doc, const char* name, LONG points) {
  PolygonObject* op = PolygonObject::Alloc(points, 0);
  if (!op) bench::Fail(kProgram, "no memory for the object");
  op->SetName(String(name));
  for (LONG i = 0; i < points; ++i) op->GetPointW()[i] = PointAt(i, 0) * 100.0;
  doc->InsertObject(op, nullptr, nullptr);
  return op;
}

// Point-level keys at the first, middle and last frame: the host plays every frame
// between them.
void Animate(BaseDocument* doc, PolygonObject* op, LONG frames) {
  CTrack* track = CTrack::Alloc(op, DescID(DescLevel(CTpla, CTpla, 0)));
  op->InsertTrackSorted(track);
  CCurve* curve = track->GetCurve();
  const LONG count = op->GetPointCount();
  std::vector<Vector> rest(op->GetPointR(), op->GetPointR() + count);
  for (LONG frame : {LONG(0), frames / 2, frames - 1}) {
    for (LONG i = 0; i < count; ++i) op->GetPointW()[i] = rest[size_t(i)] + Vector(0, 0, 50.0 * frame);
    if (!track->FillKey(doc, op, curve->AddKey(BaseTime(Real(frame), 30.0))))
      bench::Fail(kProgram, "cannot key the object");
  }
  for (LONG i = 0; i < count; ++i) op->GetPointW()[i] = rest[size_t(i)];
}

CommandData* Command(LONG id) {
  const BasePlugin* plugin = FindPlugin(id, PLUGINTYPE_COMMAND);
  return plugin ? plugin->GetCommand() : nullptr;
}

bool RunCommand(LONG id, LONG dialog, BaseDocument* doc, const std::string& path,
                const std::vector<host::DialogAction>& actions) {
  host::ClearUserLog();
  host::ClearConsole();
  for (const auto& a : actions) host::QueueDialogAction(a.For(std::to_string(dialog)));
  host::QueueDialogAction(host::DialogAction::Ok().For(std::to_string(dialog)));
  host::QueueFileSelection(path);
  CommandData* command = Command(id);
  const bool ok = command && command->Execute(doc);
  if (!ok)
    for (const auto& line : host::ConsoleLines()) std::fprintf(stderr, "  %s\n", line.c_str());
  return ok;
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
      bench::Fail(kProgram, "usage: bench_mdd [--points N] [--frames N] [--folder DIR]");
  }
  if (points < 1 || frames < 2) bench::Fail(kProgram, "--points must be at least 1 and --frames at least 2");
  char made[] = "/tmp/bench_mdd_XXXXXX";
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

  const std::string raw = folder + "/raw.bin", cache = folder + "/cache.mdd", exported = folder + "/export.mdd";
  const LLONG bytes = mdd::FileBytes(frames, points);
  const double mb = double(bytes) / 1e6;
  std::printf("bench_mdd: %d points x %d frames, %.1f MB per cache, in %s\n", int(points), int(frames), mb,
              folder.c_str());

  // Raw bytes: the header and one frame's bytes prepared once, the frame written F times.
  std::vector<unsigned char> header(size_t(mdd::TableEnd(frames)), 0), frameBytes;
  {
    mdd::FrameBlock* block = mdd::FrameBlock::Alloc(points);
    for (LONG i = 0; i < points; ++i) block->Set(i, PointAt(i, 0));
    frameBytes.assign(block->Bytes(), block->Bytes() + mdd::FrameBytes(points));
    mdd::FrameBlock::Free(block);
  }
  const double rawWrite = bench::Seconds([&] { RawWrite(raw, header, frameBytes, frames); });
  const double cacheWrite = bench::Seconds([&] { CacheWrite(cache, points, frames); });
  const double rawRead = bench::Seconds([&] {
    if (RawRead(raw) != bytes) bench::Fail(kProgram, "raw read short");
  });
  const double blockRead = bench::Seconds([&] { CacheRead(cache, false); });
  const double cacheRead = bench::Seconds([&] { CacheRead(cache, true); });
  fs::remove(raw, ec);

  std::printf("\ncache I/O against raw bytes (best of %d)\n", bench::kRepeats);
  std::printf("  raw write:                        %8.3f s  %8.1f MB/s\n", rawWrite, mb / rawWrite);
  std::printf("  cache write (convert + write):    %8.3f s  %8.1f MB/s  %5.1f %% of raw\n", cacheWrite,
              mb / cacheWrite, 100.0 * rawWrite / cacheWrite);
  std::printf("  raw read:                         %8.3f s  %8.1f MB/s\n", rawRead, mb / rawRead);
  std::printf("  cache read (blocks only):         %8.3f s  %8.1f MB/s  %5.1f %% of raw\n", blockRead,
              mb / blockRead, 100.0 * rawRead / blockRead);
  std::printf("  cache read (read + widen):        %8.3f s  %8.1f MB/s  %5.1f %% of raw\n", cacheRead,
              mb / cacheRead, 100.0 * rawRead / cacheRead);
  const double ioShare = (rawWrite + rawRead) / (cacheWrite + cacheRead);

  // The export: evaluation alone, then the whole command.
  BaseDocument* doc = BaseDocument::Alloc();
  InsertBaseDocument(doc);
  SetActiveDocument(doc);
  doc->SetFps(30);
  doc->SetMaxTime(BaseTime(Real(frames - 1), 30.0));
  doc->SetLoopMaxTime(BaseTime(Real(frames - 1), 30.0));
  PolygonObject* animated = MakeObject(doc, "Animated", points);
  Animate(doc, animated, frames);
  // One still object per import run, all kept to the end: no run's keys reuse the
  // memory of an earlier run's.
  PolygonObject* stills[bench::kRepeats];
  for (PolygonObject*& still : stills) still = MakeObject(doc, "Still", points);

  double start = Now();
  for (LONG f = 0; f < frames; ++f) {
    doc->SetTime(BaseTime(Real(f), 30.0));
    doc->ExecutePasses(nullptr, TRUE, TRUE, TRUE, 0);
    BaseContainer settings;
    ModelingCommandData mcd;
    mcd.doc = doc;
    mcd.op = animated;
    mcd.bc = &settings;
    if (!SendModelingCommand(MCOMMAND_CURRENTSTATETOOBJECT, mcd)) bench::Fail(kProgram, "no current state");
    BaseObject* state = static_cast<BaseObject*>(mcd.result->GetIndex(0));
    BaseObject::Free(state);
  }
  const double evaluation = (Now() - start) / frames;

  using host::DialogAction;
  doc->SetActiveObject(animated);
  start = Now();
  if (!RunCommand(ID_MDDXP_PLUGIN, 10274, doc, exported,
                  {DialogAction::Set("start-frame", "0"), DialogAction::Set("end-frame", std::to_string(frames - 1))}))
    bench::Fail(kProgram, "the export command failed");
  const double exportTotal = Now() - start;

  // The import, best of kRepeats runs like the reads it is compared with.
  double importTotal = 0.0;
  std::string importRuns;
  for (PolygonObject* still : stills) {
    doc->SetActiveObject(still);
    start = Now();
    if (!RunCommand(ID_MDDMP_PLUGIN, 10262, doc, exported, {DialogAction::Set("start-file-times", "on")}))
      bench::Fail(kProgram, "the import command failed");
    const double total = Now() - start;
    CTrack* track = still->FindCTrack(DescID(DescLevel(CTpla, CTpla, 0)));
    const LONG keys = track ? track->GetCurve()->GetKeyCount() : 0;
    if (keys != frames) bench::Fail(kProgram, "the import made " + std::to_string(keys) + " keys");
    if (importTotal == 0.0 || total < importTotal) importTotal = total;
    char run[32];
    std::snprintf(run, sizeof(run), "%s%.3f", importRuns.empty() ? "" : ", ", 1e3 * total / frames);
    importRuns += run;
  }

  // The host's own cost of a point-level key: a new key filled from the object's points
  // (what the import asks of it per key), on a scratch copy.
  double keyFill = 0.0;
  {
    PolygonObject* scratch = MakeObject(doc, "Scratch", points);
    CTrack* scratchTrack = CTrack::Alloc(scratch, DescID(DescLevel(CTpla, CTpla, 0)));
    scratch->InsertTrackSorted(scratchTrack);
    CCurve* curve = scratchTrack->GetCurve();
    start = Now();
    for (LONG k = 0; k < frames; ++k)
      if (!scratchTrack->FillKey(doc, scratch, curve->AddKey(BaseTime(Real(k), 30.0))))
        bench::Fail(kProgram, "cannot fill a key");
    keyFill = (Now() - start) / frames;
    BaseObject* op = scratch;
    BaseObject::Free(op);
  }

  const double perKey = importTotal / frames;
  const double perBlock = blockRead / frames;
  // Reading a key's frame block: the bytes from the file and their points as doubles.
  const double perBlockPoints = cacheRead / frames;
  std::printf("\nexport command (%d frames)\n", int(frames));
  std::printf("  evaluation per frame:             %8.3f ms  (document at the frame, current state)\n",
              1e3 * evaluation);
  std::printf("  cache write per frame:            %8.3f ms\n", 1e3 * cacheWrite / frames);
  std::printf("  whole command per frame:          %8.3f ms  (%.3f s in all)\n", 1e3 * exportTotal / frames,
              exportTotal);
  std::printf("\nimport command (%d keys)\n", int(frames));
  std::printf("  frame block read (bytes only):    %8.3f ms\n", 1e3 * perBlock);
  std::printf("  frame block read (into points):   %8.3f ms\n", 1e3 * perBlockPoints);
  std::printf("  host key fill alone (new key):    %8.3f ms\n", 1e3 * keyFill);
  std::printf("  whole command per key:            %8.3f ms  (%.3f s in all)  %5.2f x the bytes, %5.2f x into points\n",
              1e3 * perKey, importTotal, perKey / perBlock, perKey / perBlockPoints);
  std::printf("    (best of %d runs: %s ms per key)\n", bench::kRepeats, importRuns.c_str());

  std::printf("\ngoal cache I/O at least 50 %% of raw write + read (%.1f %%): %s\n", 100.0 * ioShare,
              Verdict(ioShare >= 0.5));
  std::printf("goal import per key at most 3 x reading its frame block into points (%.2f x): %s\n",
              perKey / perBlockPoints, Verdict(perKey <= 3.0 * perBlockPoints));

  host::FreeDocuments();
  PluginEnd();
  host::FreeRegistry();
  resource.Free();
  fs::remove(cache, ec);
  fs::remove(exported, ec);
  if (own) fs::remove_all(folder, ec);
  return 0;
}
