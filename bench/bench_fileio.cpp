// Throughput of the buffered text and binary files beside plain 1 MiB-block reads and
// writes of the same bytes, measured in the same run.
//
//   bench_fileio [folder [megabytes]]
//
// The files are generated in folder (default: a new folder under the system's temporary
// folder) and removed at the end. Figures are the best of three runs; ratios matter more
// than absolute numbers on a shared machine.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench_util.h"
#include "binfile.h"
#include "c4d.h"
#include "fileio.h"

namespace fs = std::filesystem;

namespace {

constexpr VLONG kBlock = 0x100000;
constexpr LONG kLineSize = 2048;      // what the OBJ reader asks for
constexpr LONG kFrameValues = 30000;  // one point-cache frame of 10 000 points

using bench::Seconds;

double MBps(LLONG bytes, double seconds) { return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0; }

void Fail(const std::string& what) { bench::Fail("bench_fileio", what); }

// An OBJ-like text: rows of a grid with positions, UVs, normals and quads, a group and a
// comment now and then.
std::string GenerateObjText(size_t targetBytes) {
  std::string text;
  text.reserve(targetBytes + 4096);
  text += "# generated grid\nmtllib grid.mtl\n";
  const int kRow = 1000;
  char line[160];
  long base = 1;
  for (int row = 0; text.size() < targetBytes; ++row) {
    if (row % 100 == 0) {
      std::snprintf(line, sizeof(line), "g rows_%d\nusemtl material_%d\n", row, row % 7);
      text += line;
    }
    for (int i = 0; i <= kRow; ++i) {
      const double x = i * 0.013, y = row * 0.021, z = (i * 7 + row * 3) % 101 * 0.001;
      int n = std::snprintf(line, sizeof(line), "v %.6f %.6f %.6f\n", x, y, z);
      text.append(line, static_cast<size_t>(n));
      n = std::snprintf(line, sizeof(line), "vt %.6f %.6f\n", i / 1000.0, (row % 1000) / 1000.0);
      text.append(line, static_cast<size_t>(n));
      n = std::snprintf(line, sizeof(line), "vn %.6f %.6f %.6f\n", 0.0, z, 1.0 - z);
      text.append(line, static_cast<size_t>(n));
    }
    if (row > 0) {
      for (int i = 0; i < kRow; ++i) {
        const long a = base - (kRow + 1) + i, b = a + 1, c = base + i + 1, d = base + i;
        const int n = std::snprintf(line, sizeof(line), "f %ld/%ld/%ld %ld/%ld/%ld %ld/%ld/%ld %ld/%ld/%ld\n", a, a, a,
                                    b, b, b, c, c, c, d, d, d);
        text.append(line, static_cast<size_t>(n));
      }
    }
    base += kRow + 1;
  }
  return text;
}

void WriteWhole(const std::string& path, const char* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) Fail("cannot write " + path);
}

// One pass over the file in 1 MiB blocks through the host file; also warms the page cache.
LLONG PlainRead(const std::string& path, std::vector<char>& block) {
  BaseFile* file = BaseFile::Alloc();
  if (!file || !file->Open(Filename(path.c_str()), FILEOPEN_READ, FILEDIALOG_NONE)) Fail("cannot open " + path);
  LLONG total = 0;
  for (;;) {
    const VLONG got = file->ReadBytes(block.data(), kBlock, TRUE);
    total += got;
    if (got < kBlock) break;
  }
  BaseFile::Free(file);
  return total;
}

void PlainWrite(const std::string& path, const char* data, size_t size) {
  GeFKill(Filename(path.c_str()), GE_FKILL_FORCE);
  BaseFile* file = BaseFile::Alloc();
  if (!file || !file->Open(Filename(path.c_str()), FILEOPEN_WRITE, FILEDIALOG_NONE)) Fail("cannot create " + path);
  for (size_t at = 0; at < size; at += static_cast<size_t>(kBlock)) {
    const VLONG n = static_cast<VLONG>(std::min(size - at, static_cast<size_t>(kBlock)));
    if (!file->WriteBytes(data + at, n)) Fail("write failed: " + path);
  }
  file->Close();
  BaseFile::Free(file);
}

struct Row {
  std::string name;
  double mbps;
  double peer;     // the plain figure it is compared with; 0 for a plain figure itself
  double goal;     // least ratio to the peer; 0 when none is set
};

void Print(const Row& row) {
  std::printf("  %-34s %9.1f MB/s", row.name.c_str(), row.mbps);
  if (row.peer > 0) {
    const double ratio = row.mbps / row.peer;
    std::printf("   %5.2f x plain", ratio);
    if (row.goal > 0)
      std::printf("   goal >= %.2f: %s", row.goal, ratio >= row.goal ? "met" : "NOT met");
    else
      std::printf("   (no goal set)");
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const bool ownFolder = argc < 2;
  const fs::path folder =
      ownFolder ? fs::temp_directory_path() / ("kelvane_bench_" + std::to_string(::getpid())) : fs::path(argv[1]);
  const double megabytes = argc >= 3 ? std::atof(argv[2]) : 200.0;
  if (!(megabytes > 0)) Fail("the size must be a positive number of megabytes");
  std::error_code ec;
  fs::create_directories(folder, ec);
  const std::string textPath = (folder / "bench_grid.obj").string();
  const std::string textCopy = (folder / "bench_grid_copy.obj").string();
  const std::string floatPath = (folder / "bench_points.mdd").string();
  const std::string floatCopy = (folder / "bench_points_copy.mdd").string();
  const size_t target = static_cast<size_t>(megabytes * 1e6);

  std::vector<char> block(static_cast<size_t>(kBlock));
  std::vector<Row> rows;

  // --- text ---------------------------------------------------------------------------
  const std::string text = GenerateObjText(target);
  WriteWhole(textPath, text.data(), text.size());
  const LLONG textBytes = static_cast<LLONG>(text.size());

  // The lines as the writers hand them over: zero-terminated, each with its "\n".
  std::vector<char> lineData;
  std::vector<uint32_t> lineStart;
  lineData.reserve(text.size() + text.size() / 16);
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    end = (end == std::string::npos) ? text.size() : end + 1;
    lineStart.push_back(static_cast<uint32_t>(lineData.size()));
    lineData.insert(lineData.end(), text.begin() + static_cast<std::ptrdiff_t>(from),
                    text.begin() + static_cast<std::ptrdiff_t>(end));
    lineData.push_back(0);
    from = end;
  }

  std::printf("Kelvane file I/O: text %.1f MB in %zu lines, floats %.1f MB, in %s\n", textBytes / 1e6,
              lineStart.size(), megabytes, folder.string().c_str());
  std::printf("Every file is read once before its reads are timed (page cache warm); writes end in the\n"
              "page cache (no fsync). Best of %d runs each.\n\n",
              bench::kRepeats);

  PlainRead(textPath, block);  // warm
  LLONG check = 0;
  const double plainRead = MBps(textBytes, Seconds([&] { check = PlainRead(textPath, block); }));
  if (check != textBytes) Fail("plain read came up short");
  rows.push_back({"plain read, 1 MiB blocks", plainRead, 0, 0});

  LLONG lines = 0;
  const double readLine = MBps(textBytes, Seconds([&] {
    TextReader reader;
    if (reader.Open(Filename(textPath.c_str())) != 0) Fail("TextReader::Open failed");
    CHAR line[kLineSize];
    lines = 0;
    while (reader.ReadLine(line, kLineSize) > 0) ++lines;
    reader.Close();
  }));
  if (lines != static_cast<LLONG>(lineStart.size())) Fail("ReadLine returned another number of lines");
  rows.push_back({"TextReader::ReadLine", readLine, plainRead, 0.25});

  const double plainWrite = MBps(textBytes, Seconds([&] { PlainWrite(textCopy, text.data(), text.size()); }));
  rows.push_back({"plain write, 1 MiB blocks", plainWrite, 0, 0});

  const double buffered = MBps(textBytes, Seconds([&] {
    GeFKill(Filename(textCopy.c_str()), GE_FKILL_FORCE);
    BufferedOutput out;
    if (out.Open(Filename(textCopy.c_str())) != 0) Fail("BufferedOutput::Open failed");
    for (const uint32_t start : lineStart) out.Write(lineData.data() + start);
    if (out.Close() != 0) Fail("BufferedOutput reported a write failure");
  }));
  if (static_cast<LLONG>(fs::file_size(textCopy, ec)) != textBytes) Fail("BufferedOutput wrote another size");
  rows.push_back({"BufferedOutput::Write per line", buffered, plainWrite, 0.30});

  GeFKill(Filename(textCopy.c_str()), GE_FKILL_FORCE);
  GeFKill(Filename(textPath.c_str()), GE_FKILL_FORCE);
  lineData = {};
  lineStart = {};

  // --- big-endian floats ----------------------------------------------------------------
  const LONG frames = static_cast<LONG>(target / (static_cast<size_t>(kFrameValues) * 4)) + 1;
  const size_t count = static_cast<size_t>(frames) * kFrameValues;
  const LLONG floatBytes = static_cast<LLONG>(count) * 4;
  std::vector<SReal> floats(count);
  std::vector<Real> reals(count);
  for (size_t i = 0; i < count; ++i) {
    floats[i] = static_cast<SReal>((i % 10007) * 0.25 - 1000.0);
    reals[i] = floats[i];
  }

  auto writeBin = [&](const std::function<Bool(gantryBinFile*, size_t)>& frame) {
    GeFKill(Filename(floatCopy.c_str()), GE_FKILL_FORCE);
    gantryBinFile* file = gantryBinFile::Alloc();
    if (!file || file->Open(Filename(floatCopy.c_str()), BINFILE_WRITE, BINFILE_BUFFERSIZE) != 0)
      Fail("gantryBinFile::Open for writing failed");
    for (size_t at = 0; at < count; at += kFrameValues)
      if (!frame(file, at)) Fail("gantryBinFile write failed");
    file->Close();
    gantryBinFile::Free(file);
  };
  auto readBin = [&](const std::function<Bool(gantryBinFile*, size_t)>& frame) {
    gantryBinFile* file = gantryBinFile::Alloc();
    if (!file || file->Open(Filename(floatCopy.c_str()), BINFILE_READ, BINFILE_BUFFERSIZE) != 0)
      Fail("gantryBinFile::Open for reading failed");
    for (size_t at = 0; at < count; at += kFrameValues)
      if (!frame(file, at)) Fail("gantryBinFile read failed");
    gantryBinFile::Free(file);
  };

  const double plainFloatWrite = MBps(floatBytes, Seconds([&] {
    PlainWrite(floatPath, reinterpret_cast<const char*>(floats.data()), count * 4);
  }));
  rows.push_back({"plain write of the floats", plainFloatWrite, 0, 0});
  rows.push_back({"gantryBinFile::WriteFloats", MBps(floatBytes, Seconds([&] {
                    writeBin([&](gantryBinFile* f, size_t at) { return f->WriteFloats(&floats[at], kFrameValues); });
                  })),
                  plainFloatWrite, 0.30});
  rows.push_back({"gantryBinFile::WriteReals", MBps(floatBytes, Seconds([&] {
                    writeBin([&](gantryBinFile* f, size_t at) { return f->WriteReals(&reals[at], kFrameValues); });
                  })),
                  plainFloatWrite, 0.30});

  PlainRead(floatCopy, block);  // warm
  const double plainFloatRead = MBps(floatBytes, Seconds([&] { check = PlainRead(floatCopy, block); }));
  if (check != floatBytes) Fail("plain read of the floats came up short");
  rows.push_back({"plain read of the floats", plainFloatRead, 0, 0});

  std::vector<SReal> floatsBack(count);
  std::vector<Real> realsBack(count);
  rows.push_back({"gantryBinFile::ReadFloats", MBps(floatBytes, Seconds([&] {
                    readBin([&](gantryBinFile* f, size_t at) { return f->ReadFloats(&floatsBack[at], kFrameValues); });
                  })),
                  plainFloatRead, 0});
  rows.push_back({"gantryBinFile::ReadReals", MBps(floatBytes, Seconds([&] {
                    readBin([&](gantryBinFile* f, size_t at) { return f->ReadReals(&realsBack[at], kFrameValues); });
                  })),
                  plainFloatRead, 0});
  if (floatsBack != floats || realsBack != reals) Fail("the floats did not come back as written");

  GeFKill(Filename(floatPath.c_str()), GE_FKILL_FORCE);
  GeFKill(Filename(floatCopy.c_str()), GE_FKILL_FORCE);
  if (ownFolder) fs::remove_all(folder, ec);

  for (const auto& row : rows) Print(row);
  return 0;
}
