// Host bitmaps: TIFF loading (written byte by byte here, so damaged variants are easy
// to make), made images and pixel access, and the cache of the plug-in's images.
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "c4d_bitmap.h"
#include "host_fixture.h"
#include "host_internal.h"

namespace fs = std::filesystem;

namespace {

struct Px {
  uint8_t r, g, b, a;
};

void Put16(std::string& s, uint16_t v) {
  s += char(v & 0xff);
  s += char(v >> 8);
}
void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += char((v >> (8 * i)) & 0xff);
}

// An uncompressed little-endian TIFF, one strip, top row first; with samples == 4 the
// fourth sample is associated alpha (so the stored values come back unchanged).
std::string MakeTiff(uint32_t width, uint32_t height, const std::vector<Px>& pixels, int samples = 4) {
  std::string strip;
  for (const Px& p : pixels) {
    strip += char(p.r);
    strip += char(p.g);
    strip += char(p.b);
    if (samples == 4) strip += char(p.a);
  }
  const uint16_t entries = samples == 4 ? 11 : 10;
  const uint32_t ifd = 8;
  const uint32_t bitsAt = ifd + 2 + entries * 12 + 4;
  const uint32_t stripAt = bitsAt + 8;
  std::string s = "II";
  Put16(s, 42);
  Put32(s, ifd);
  Put16(s, entries);
  auto entry = [&s](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    Put16(s, tag);
    Put16(s, type);
    Put32(s, count);
    if (type == 3 && count == 1) {
      Put16(s, uint16_t(value));
      Put16(s, 0);
    } else {
      Put32(s, value);
    }
  };
  const uint16_t SHORT = 3, LONG_ = 4;
  entry(256, LONG_, 1, width);
  entry(257, LONG_, 1, height);
  entry(258, SHORT, uint32_t(samples), bitsAt);  // the bit counts do not fit the entry
  entry(259, SHORT, 1, 1);                       // no compression
  entry(262, SHORT, 1, 2);                       // RGB
  entry(273, LONG_, 1, stripAt);
  entry(277, SHORT, 1, uint32_t(samples));
  entry(278, LONG_, 1, height);
  entry(279, LONG_, 1, uint32_t(strip.size()));
  entry(284, SHORT, 1, 1);  // contiguous samples
  if (samples == 4) entry(338, SHORT, 1, 1);  // associated alpha
  Put32(s, 0);  // no further image
  for (int i = 0; i < 4; ++i) Put16(s, 8);
  s += strip;
  return s;
}

// Three columns, two rows, every pixel different, so swapped axes or a flipped
// origin show.
const std::vector<Px> kPixels = {
    {255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255},
    {10, 20, 30, 255}, {100, 50, 0, 128}, {0, 0, 0, 0},
};

class BitmapTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    m_bmp = BaseBitmap::Alloc();
    ASSERT_NE(m_bmp, nullptr);
  }
  void TearDown() override {
    BaseBitmap::Free(m_bmp);
    HostTest::TearDown();
  }
  static Filename Name(const std::string& path) { return Filename(path.c_str()); }
  BaseBitmap* m_bmp = nullptr;
};

void ExpectPixel(const BaseBitmap& bmp, LONG x, LONG y, const Px& want) {
  UWORD r = 9999, g = 9999, b = 9999;
  bmp.GetPixel(x, y, &r, &g, &b);
  EXPECT_EQ(r, want.r) << "at " << x << "," << y;
  EXPECT_EQ(g, want.g) << "at " << x << "," << y;
  EXPECT_EQ(b, want.b) << "at " << x << "," << y;
  EXPECT_EQ(bmp.GetAlpha(x, y), want.a) << "at " << x << "," << y;
}

TEST_F(BitmapTest, LoadsRgbaTiffWithTheTopRowFirst) {
  const std::string path = WriteFile("six.tif", MakeTiff(3, 2, kPixels));
  ASSERT_EQ(m_bmp->Init(Name(path)), IMAGERESULT_OK);
  EXPECT_EQ(m_bmp->GetBw(), 3);
  EXPECT_EQ(m_bmp->GetBh(), 2);
  for (LONG y = 0; y < 2; ++y)
    for (LONG x = 0; x < 3; ++x) ExpectPixel(*m_bmp, x, y, kPixels[size_t(y * 3 + x)]);
  EXPECT_EQ(m_bmp->GetSource().GetString().Std(), path);
}

TEST_F(BitmapTest, RgbTiffWithoutAlphaIsOpaque) {
  const std::vector<Px> rgb = {{1, 2, 3, 0}, {4, 5, 6, 0}};
  const std::string path = WriteFile("rgb.tif", MakeTiff(1, 2, rgb, 3));
  ASSERT_EQ(m_bmp->Init(Name(path)), IMAGERESULT_OK);
  ASSERT_EQ(m_bmp->GetBw(), 1);
  ASSERT_EQ(m_bmp->GetBh(), 2);
  ExpectPixel(*m_bmp, 0, 0, {1, 2, 3, 255});
  ExpectPixel(*m_bmp, 0, 1, {4, 5, 6, 255});
}

TEST_F(BitmapTest, MissingFilesAndFoldersAreNotExisting) {
  EXPECT_EQ(m_bmp->Init(Name(TempDir() + "/none.tif")), IMAGERESULT_NOTEXISTING);
  EXPECT_EQ(m_bmp->Init(Name(TempDir())), IMAGERESULT_NOTEXISTING);
  EXPECT_EQ(m_bmp->Init(Name("")), IMAGERESULT_NOTEXISTING);
  EXPECT_EQ(m_bmp->GetBw(), 0);
}

#ifdef _WIN32
TEST_F(BitmapTest, ADeviceIsRefusedWithoutReadingIt) {
  // Never a picture, never an end: Windows opens it as a character device (the wrong
  // type), wine finds no such file.
  const LONG result = m_bmp->Init(Name("NUL"));
  EXPECT_TRUE(result == IMAGERESULT_WRONGTYPE || result == IMAGERESULT_NOTEXISTING) << result;
  EXPECT_EQ(m_bmp->GetBw(), 0);
}
#else
TEST_F(BitmapTest, APipeOrDeviceIsRefusedWithoutReadingIt) {
  const std::string fifo = TempDir() + "/pipe.tif";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  EXPECT_EQ(m_bmp->Init(Name(fifo)), IMAGERESULT_WRONGTYPE);  // would block on open
  if (::access("/dev/zero", R_OK) == 0) {
    EXPECT_EQ(m_bmp->Init(Name("/dev/zero")), IMAGERESULT_WRONGTYPE);  // would never end
  }
  EXPECT_EQ(m_bmp->GetBw(), 0);
}
#endif

TEST_F(BitmapTest, DamagedFilesFailQuietlyAndLeaveAnEmptyImage) {
  const std::string good = MakeTiff(3, 2, kPixels);
  std::string hugeHeader = good;  // claims 100000 x 100000 pixels
  {
    std::string v;
    Put32(v, 100000);
    hugeHeader.replace(8 + 2 + 8, 4, v);
    hugeHeader.replace(8 + 2 + 12 + 8, 4, v);
  }
  std::string badStrip = good;  // strip offset far past the end of the file
  {
    std::string v;
    Put32(v, 0x7ffffff0u);
    badStrip.replace(8 + 2 + 5 * 12 + 8, 4, v);
  }
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"text", "v 0 0 0\nf 1 2 3\n"},
      {"header only", good.substr(0, 8)},
      {"cut in the directory", good.substr(0, 40)},
      {"cut in the pixels", good.substr(0, good.size() - 5)},
      {"huge size", hugeHeader},
      {"strip outside the file", badStrip},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(m_bmp->Init(3, 3), IMAGERESULT_OK);  // a previous image must not survive
    const std::string path = WriteFile("damaged.tif", c.bytes);
    ::testing::internal::CaptureStderr();
    const LONG result = m_bmp->Init(Name(path));
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, IMAGERESULT_WRONGTYPE);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(m_bmp->GetBw(), 0);
    EXPECT_EQ(m_bmp->GetBh(), 0);
    EXPECT_FALSE(m_bmp->GetSource().Content());
  }
}

TEST_F(BitmapTest, MadeImageStartsTransparentAndClampsChannels) {
  ASSERT_EQ(m_bmp->Init(4, 3), IMAGERESULT_OK);
  EXPECT_EQ(m_bmp->GetBw(), 4);
  EXPECT_EQ(m_bmp->GetBh(), 3);
  for (LONG y = 0; y < 3; ++y)
    for (LONG x = 0; x < 4; ++x) ExpectPixel(*m_bmp, x, y, {0, 0, 0, 0});
  m_bmp->SetPixel(3, 2, 300, -5, 128);
  ExpectPixel(*m_bmp, 3, 2, {255, 0, 128, 255});
  m_bmp->SetPixel(0, 1, 1, 2, 3, 4);
  ExpectPixel(*m_bmp, 0, 1, {1, 2, 3, 4});
  ExpectPixel(*m_bmp, 1, 1, {0, 0, 0, 0});
}

TEST_F(BitmapTest, CoordinatesOutsideReadZeroAndAreNotWritten) {
  ASSERT_EQ(m_bmp->Init(2, 2), IMAGERESULT_OK);
  for (LONG y = 0; y < 2; ++y)
    for (LONG x = 0; x < 2; ++x) m_bmp->SetPixel(x, y, 50, 60, 70, 80);
  const LONG outside[][2] = {{-1, 0}, {0, -1}, {2, 0}, {0, 2}, {2, 2}, {-1, -1}, {0x7fffffff, 0}};
  for (const auto& p : outside) {
    m_bmp->SetPixel(p[0], p[1], 1, 1, 1, 1);
    ExpectPixel(*m_bmp, p[0], p[1], {0, 0, 0, 0});
  }
  for (LONG y = 0; y < 2; ++y)
    for (LONG x = 0; x < 2; ++x) ExpectPixel(*m_bmp, x, y, {50, 60, 70, 80});
  m_bmp->GetPixel(0, 0, nullptr, nullptr, nullptr);  // channels may be left out
}

TEST_F(BitmapTest, MadeImageRejectsEmptyAndOversizedSizes) {
  EXPECT_EQ(m_bmp->Init(0, 5), IMAGERESULT_WRONGTYPE);
  EXPECT_EQ(m_bmp->Init(5, -1), IMAGERESULT_WRONGTYPE);
  EXPECT_EQ(m_bmp->Init(0x7fffffff, 0x7fffffff), IMAGERESULT_OUTOFMEMORY);
  EXPECT_EQ(m_bmp->GetBw(), 0);
}

// --- AutoBitmap ---------------------------------------------------------------

class AutoBitmapTest : public HostTest {};

TEST_F(AutoBitmapTest, LoadsFromTheResourceFolderOnceAndKeepsIt) {
  host::SetPluginFolder(TempDir());
  const std::string path = WriteFile("res/icon.tif", MakeTiff(3, 2, kPixels));
  BaseBitmap* first = AutoBitmap(String("icon.tif"));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->GetBw(), 3);
  ExpectPixel(*first, 2, 0, kPixels[2]);

  fs::remove(path);  // the cached image no longer needs the file
  EXPECT_EQ(AutoBitmap(String("icon.tif")), first);

  host::internal::ResetBitmaps();
  EXPECT_EQ(AutoBitmap(String("icon.tif")), nullptr);
}

TEST_F(AutoBitmapTest, FailedLoadsGiveNullAndAreRetried) {
  host::SetPluginFolder(TempDir());
  EXPECT_EQ(AutoBitmap(String("later.tif")), nullptr);
  EXPECT_EQ(AutoBitmap(String("")), nullptr);
  WriteFile("res/bad.tif", "not an image");
  EXPECT_EQ(AutoBitmap(String("bad.tif")), nullptr);

  WriteFile("res/later.tif", MakeTiff(3, 2, kPixels));
  BaseBitmap* bmp = AutoBitmap(String("later.tif"));
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(bmp->GetBh(), 2);
}

TEST_F(AutoBitmapTest, DistinctFilesGetDistinctImages) {
  host::SetPluginFolder(TempDir());
  WriteFile("res/a.tif", MakeTiff(3, 2, kPixels));
  WriteFile("res/b.tif", MakeTiff(1, 2, {{1, 2, 3, 0}, {4, 5, 6, 0}}, 3));
  BaseBitmap* a = AutoBitmap(String("a.tif"));
  BaseBitmap* b = AutoBitmap(String("b.tif"));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(a->GetBw(), 3);
  EXPECT_EQ(b->GetBw(), 1);
}

TEST_F(AutoBitmapTest, ThePluginImagesLoadWithTheirSizesAndDiffer) {
  host::SetPluginFolder(SourceDir());
  struct Image {
    const char* name;
    LONG width, height;
  };
  const Image images[] = {
      {"export.tif", 32, 32},     {"import.tif", 32, 32},       {"mdd_mp.tif", 32, 32},
      {"mdd_xp.tif", 32, 32},     {"mdd_deform.tif", 32, 32},   {"GroupTag.tif", 32, 32},
      {"RegionTag.tif", 32, 32},  {"dontXP.tif", 32, 32},       {"url.tif", 32, 32},
      {"kvpdocs.tif", 32, 32},    {"record_key.tif", 32, 32},   {"brantwelllogo.tif", 64, 64},
      {"kelvane.tif", 64, 64},    {"progbar.tif", 64, 12},
  };
  std::set<std::vector<uint32_t>> contents;
  for (const Image& img : images) {
    SCOPED_TRACE(img.name);
    BaseBitmap* bmp = AutoBitmap(String(img.name));
    ASSERT_NE(bmp, nullptr);
    EXPECT_EQ(bmp->GetBw(), img.width);
    EXPECT_EQ(bmp->GetBh(), img.height);
    std::vector<uint32_t> pixels;
    for (LONG y = 0; y < bmp->GetBh(); ++y)
      for (LONG x = 0; x < bmp->GetBw(); ++x) {
        UWORD r, g, b;
        bmp->GetPixel(x, y, &r, &g, &b);
        pixels.push_back(uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16 | uint32_t(bmp->GetAlpha(x, y)) << 24);
      }
    EXPECT_TRUE(contents.insert(pixels).second) << "same picture as an earlier image";
  }
}

TEST_F(AutoBitmapTest, ProgressBarCapsFrameAStretchableMiddle) {
  host::SetPluginFolder(SourceDir());
  BaseBitmap* bar = AutoBitmap(String("progbar.tif"));
  ASSERT_NE(bar, nullptr);
  const LONG cap = (bar->GetBw() - 16) / 2;
  ASSERT_EQ(cap, 24);
  // The middle column repeats across its 16 pixels (it is stretched when drawn) and
  // differs from the caps beside it.
  const LONG y = bar->GetBh() / 2;
  UWORD r0, g0, b0;
  bar->GetPixel(cap, y, &r0, &g0, &b0);
  for (LONG x = cap; x < cap + 16; ++x) {
    UWORD r, g, b;
    bar->GetPixel(x, y, &r, &g, &b);
    EXPECT_EQ(r, r0);
    EXPECT_EQ(g, g0);
    EXPECT_EQ(b, b0);
  }
  UWORD lr, lg, lb, rr, rg, rb;
  bar->GetPixel(cap - 1, y, &lr, &lg, &lb);
  bar->GetPixel(cap + 16, y, &rr, &rg, &rb);
  EXPECT_TRUE(lr != r0 || lg != g0 || lb != b0);
  EXPECT_TRUE(rr != r0 || rg != g0 || rb != b0);
}

}  // namespace
