// The MDD point-cache layout: frame lists, byte-exact files, files of other writers,
// refused headers, short files and caches past 4 GiB.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "binfile.h"
#include "host_fixture.h"
#include "mddformat.h"

namespace {

class MddFormatTest : public HostTest {
 protected:
  // Writes frames of points (times from the list) as a cache through the binary file.
  bool WriteCache(const std::string& path, const std::vector<Real>& times, const std::vector<std::vector<Vector>>& frames) {
    gantryBinFile* file = gantryBinFile::Alloc();
    if (!file) return false;
    bool ok = file->Open(Filename(path.c_str()), BINFILE_WRITE, 64) == 0;
    const LONG points = LONG(frames.front().size());
    ok = ok && mdd::WriteHeader(file, LONG(times.size()), points, times.data());
    mdd::FrameBlock* block = mdd::FrameBlock::Alloc(points);
    for (const auto& frame : frames) {
      for (LONG i = 0; ok && i < points; ++i) block->Set(i, frame[size_t(i)]);
      ok = ok && block->Write(file);
    }
    mdd::FrameBlock::Free(block);
    ok = file->Close() == 0 && ok;
    gantryBinFile::Free(file);
    return ok;
  }

  struct Read {
    bool opened = false, accepted = false;
    mdd::Info info;
    std::string problem, warning;
    std::vector<Real> times;
    std::vector<std::vector<Vector>> frames;
  };
  // Reads a cache as the import does: header, times, then every whole frame block.
  Read ReadCache(const std::string& path) {
    Read r;
    gantryBinFile* file = gantryBinFile::Alloc();
    r.opened = file->Open(Filename(path.c_str()), BINFILE_READ, 64) == 0;
    String problem, warning;
    if (r.opened) r.accepted = mdd::ReadHeader(file, Filename(path.c_str()), &r.info, &problem, &warning);
    r.problem = problem.Std();
    r.warning = warning.Std();
    if (r.accepted) {
      r.times.resize(size_t(r.info.frames));
      EXPECT_TRUE(mdd::ReadTimes(file, r.info, r.times.data()));
      mdd::FrameBlock* block = mdd::FrameBlock::Alloc(r.info.points);
      for (LONG k = 0; k < r.info.wholeFrames && block->Read(file); ++k) {
        r.frames.emplace_back(size_t(r.info.points));
        block->GetAll(r.frames.back().data());
      }
      mdd::FrameBlock::Free(block);
    }
    gantryBinFile::Free(file);
    return r;
  }
};

TEST(MddFrameList, SamplesForwardBackwardAndSingle) {
  struct Case {
    LONG start, end, step;
    std::vector<LONG> frames;
  };
  const Case cases[] = {
      {0, 10, 3, {0, 3, 6, 9}},
      {10, 0, 3, {10, 7, 4, 1}},
      {5, 5, 1, {5}},
      {0, 10, 10, {0, 10}},
      {0, 2, 0, {0, 1, 2}},      // a step below 1 counts as 1
      {-4, -10, 2, {-4, -6, -8, -10}},
  };
  for (const Case& c : cases) {
    const mdd::FrameList list = mdd::MakeFrameList(c.start, c.end, c.step);
    ASSERT_EQ(list.count, LONG(c.frames.size())) << c.start << ".." << c.end << " step " << c.step;
    for (LONG k = 0; k < list.count; ++k) EXPECT_EQ(list.Frame(k), c.frames[size_t(k)]);
  }
  // Times always increase from 0, also backwards, at the option's rate.
  const mdd::FrameList back = mdd::MakeFrameList(10, 0, 3);
  const Real expected[] = {0.0, 3.0 / 25, 6.0 / 25, 9.0 / 25};
  for (LONG k = 0; k < 4; ++k) EXPECT_DOUBLE_EQ(mdd::FrameTime(back, k, 25), expected[k]);
  EXPECT_DOUBLE_EQ(mdd::FrameTime(mdd::MakeFrameList(7, 7, 1), 0, 30), 0.0);
}

TEST(MddLayout, OffsetsAre64Bit) {
  // 360 frames of a million points: past 4 GiB, where 32-bit offsets would wrap.
  EXPECT_EQ(mdd::FrameOffset(360, 1000000, 359), 8 + 4 * 360 + 12LL * 1000000 * 359);
  EXPECT_EQ(mdd::FileBytes(360, 1000000), 4320001448LL);
  // The largest header's first frame still fits: what the reader checks before allocating.
  EXPECT_EQ(mdd::FrameOffset(0x7fffffff, 0x7fffffff, 1), 8 + 16LL * 0x7fffffff);
}

TEST_F(MddFormatTest, WritesExactBytes) {
  const std::string path = TempDir() + "/two.mdd";
  ASSERT_TRUE(WriteCache(path, {0.0, 0.5}, {{Vector(1, 2, 3)}, {Vector(-1, 0.25, 4)}}));
  const unsigned char expected[] = {
      0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01,                          // 2 frames, 1 point
      0x00, 0x00, 0x00, 0x00, 0x3f, 0x00, 0x00, 0x00,                          // 0.0, 0.5
      0x3f, 0x80, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x40, 0x40, 0x00, 0x00,  // 1, 2, 3
      0xbf, 0x80, 0x00, 0x00, 0x3e, 0x80, 0x00, 0x00, 0x40, 0x80, 0x00, 0x00,  // -1, 0.25, 4
  };
  EXPECT_EQ(ReadFile(path), std::string(reinterpret_cast<const char*>(expected), sizeof(expected)));
  const Read r = ReadCache(path);
  ASSERT_TRUE(r.accepted) << r.problem;
  EXPECT_EQ(r.warning, "");
  ASSERT_EQ(r.frames.size(), 2u);
  EXPECT_EQ(r.frames[1][0], Vector(-1, 0.25, 4));
}

TEST_F(MddFormatTest, ReadsAnotherWritersFile) {
  // Laid out by hand: 3 frames of 2 points, a time table from 1.5 s in steps of 0.25 s.
  std::string bytes;
  auto be = [&](uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(char((v >> shift) & 0xff));
  };
  auto f = [&](float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    be(bits);
  };
  be(3);
  be(2);
  for (float t : {1.5f, 1.75f, 2.0f}) f(t);
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 2; ++i)
      for (int c = 0; c < 3; ++c) f(float(100 * k + 10 * i + c) + 0.5f);
  const Read r = ReadCache(WriteFile("other.mdd", bytes));
  ASSERT_TRUE(r.accepted) << r.problem;
  EXPECT_EQ(r.info.frames, 3);
  EXPECT_EQ(r.info.points, 2);
  EXPECT_EQ(r.info.wholeFrames, 3);
  EXPECT_EQ(r.times, (std::vector<Real>{1.5, 1.75, 2.0}));
  ASSERT_EQ(r.frames.size(), 3u);
  EXPECT_EQ(r.frames[2][1], Vector(210.5, 211.5, 212.5));
  EXPECT_EQ(r.frames[0][0], Vector(0.5, 1.5, 2.5));
}

TEST_F(MddFormatTest, RefusesImpossibleHeadersBeforeAllocating) {
  auto header = [](int32_t frames, int32_t points, size_t extra) {
    std::string bytes;
    for (uint32_t v : {uint32_t(frames), uint32_t(points)})
      for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(char((v >> shift) & 0xff));
    return bytes + std::string(extra, '\0');
  };
  struct Case {
    const char* name;
    std::string bytes;
    const char* says;  // a piece of the message
  };
  const Case cases[] = {
      {"empty", "", "0 bytes"},
      {"five", "abcde", "5 bytes"},
      {"negative_frames", header(-1, 4, 100), "-1 frames of 4 points"},
      {"negative_points", header(2, -4, 100), "2 frames of -4 points"},
      {"points_no_frames", header(0, 4, 100), "0 frames of 4 points"},
      {"frames_no_points", header(3, 0, 100), "3 frames of 0 points"},
      {"no_whole_frame", header(2, 3, 8 + 35), "need at least 52 bytes"},
      {"no_table", header(1000, 1, 12), "need at least 4020 bytes"},
      {"huge", header(0x7fffffff, 0x7fffffff, 64), "2147483647 frames of 2147483647 points"},
  };
  for (const Case& c : cases) {
    const std::string path = WriteFile(std::string(c.name) + ".mdd", c.bytes);
    gantryBinFile* file = gantryBinFile::Alloc();
    ASSERT_EQ(file->Open(Filename(path.c_str()), BINFILE_READ, 64), 0);
    mdd::Info info;
    String problem, warning;
    host::FailAllocationAt(0);  // counts from here
    EXPECT_FALSE(mdd::ReadHeader(file, Filename(path.c_str()), &info, &problem, &warning)) << c.name;
    EXPECT_EQ(host::AllocationsSinceArmed(), 0) << c.name;
    gantryBinFile::Free(file);
    const std::string text = problem.Std();
    EXPECT_NE(text.find(path), std::string::npos) << text;
    EXPECT_NE(text.find(std::to_string(c.bytes.size()) + " bytes"), std::string::npos) << text;
    EXPECT_NE(text.find(c.says), std::string::npos) << text;
  }
}

TEST_F(MddFormatTest, ShortFileUsesItsWholeFrames) {
  const std::string path = TempDir() + "/short.mdd";
  ASSERT_TRUE(WriteCache(path, {0.0, 0.1, 0.2}, {{Vector(1, 1, 1), Vector(2, 2, 2)},
                                                {Vector(3, 3, 3), Vector(4, 4, 4)},
                                                {Vector(5, 5, 5), Vector(6, 6, 6)}}));
  std::filesystem::resize_file(path, 8 + 12 + 24 * 2 + 13);  // frame 3 cut after a point
  const Read r = ReadCache(path);
  ASSERT_TRUE(r.accepted) << r.problem;
  EXPECT_EQ(r.info.frames, 3);
  EXPECT_EQ(r.info.wholeFrames, 2);
  ASSERT_EQ(r.frames.size(), 2u);
  EXPECT_EQ(r.frames[1][1], Vector(4, 4, 4));
  EXPECT_NE(r.warning.find("holds 2 whole frames of the 3 its header promises"), std::string::npos) << r.warning;
}

TEST_F(MddFormatTest, CachePast4GiBIsReadAtItsTrueOffsets) {
  // A sparse file: header and table at the start, the last frame's first point written
  // at its 64-bit offset; nothing in between is ever written.
  const LONG frames = 360, points = 1000000;
  const std::string path = TempDir() + "/big.mdd";
  const LLONG size = mdd::FileBytes(frames, points);
  ASSERT_GT(size, 4LL << 30);
  {
    gantryBinFile* file = gantryBinFile::Alloc();
    ASSERT_EQ(file->Open(Filename(path.c_str()), BINFILE_WRITE, 4096), 0);
    std::vector<Real> times(frames);
    for (LONG k = 0; k < frames; ++k) times[size_t(k)] = k / 30.0;
    ASSERT_TRUE(mdd::WriteHeader(file, frames, points, times.data()));
    ASSERT_EQ(file->Close(), 0);
    gantryBinFile::Free(file);
  }
  std::error_code ec;
  std::filesystem::resize_file(path, static_cast<uintmax_t>(size), ec);
  if (ec) GTEST_SKIP() << "the temporary folder cannot hold a sparse file of " << size << " bytes";
  {
    // Written through the host's own file at its 64-bit offset, as a 32-bit build must.
    BaseFile* raw = BaseFile::Alloc();
    ASSERT_TRUE(raw->Open(Filename(path.c_str()), FILEOPEN_READWRITE));
    unsigned char point[12];
    mdd::PutFloatBE(point, 7.0f);
    mdd::PutFloatBE(point + 4, -8.0f);
    mdd::PutFloatBE(point + 8, 9.5f);
    const LLONG at = mdd::FrameOffset(frames, points, frames - 1);
    ASSERT_TRUE(raw->Seek(at, FILESEEK_START));
    ASSERT_TRUE(raw->WriteBytes(point, 12));
    EXPECT_EQ(raw->GetPosition(), at + 12);
    EXPECT_EQ(raw->GetLength(), size);
    ASSERT_TRUE(raw->Close());
    BaseFile::Free(raw);
  }

  gantryBinFile* file = gantryBinFile::Alloc();
  ASSERT_EQ(file->Open(Filename(path.c_str()), BINFILE_READ, BINFILE_BUFFERSIZE), 0);
  mdd::Info info;
  String problem, warning;
  ASSERT_TRUE(mdd::ReadHeader(file, Filename(path.c_str()), &info, &problem, &warning)) << problem.Std();
  EXPECT_EQ(info.wholeFrames, frames);
  EXPECT_EQ(info.fileSize, size);
  EXPECT_EQ(warning.Std(), "");
  ASSERT_TRUE(mdd::SeekFrame(file, info, frames - 1));
  UCHAR first[12];
  ASSERT_EQ(file->ReadBytes(first, 12), 12);
  EXPECT_EQ(mdd::GetFloatBE(first), 7.0f);
  EXPECT_EQ(mdd::GetFloatBE(first + 4), -8.0f);
  EXPECT_EQ(mdd::GetFloatBE(first + 8), 9.5f);
  EXPECT_FALSE(mdd::SeekFrame(file, info, frames));
  gantryBinFile::Free(file);

  // One byte short: the last frame is not whole.
  std::filesystem::resize_file(path, static_cast<uintmax_t>(size - 1));
  const Read r = [&] {
    Read out;
    gantryBinFile* f = gantryBinFile::Alloc();
    f->Open(Filename(path.c_str()), BINFILE_READ, 64);
    String p, w;
    out.accepted = mdd::ReadHeader(f, Filename(path.c_str()), &out.info, &p, &w);
    out.warning = w.Std();
    gantryBinFile::Free(f);
    return out;
  }();
  EXPECT_TRUE(r.accepted);
  EXPECT_EQ(r.info.wholeFrames, frames - 1);
  EXPECT_NE(r.warning.find("holds 359 whole frames of the 360"), std::string::npos) << r.warning;
}

TEST_F(MddFormatTest, FailedWriteLeavesNoCache) {
  const std::string path = TempDir() + "/full.mdd";
  host::FailWritesAfter(100);
  std::vector<std::vector<Vector>> frames(4, std::vector<Vector>(10, Vector(1, 2, 3)));
  EXPECT_FALSE(WriteCache(path, {0, 1, 2, 3}, frames));
  host::ResetFaults();
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
