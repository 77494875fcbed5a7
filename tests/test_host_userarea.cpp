// User areas drawn off-screen: sizes from the layout, redraw messages, pens and
// rectangles, and bitmaps drawn scaled with alpha (the progress bar's caps and
// stretched middle, from a small TIFF written here with libtiff).
#include <tiffio.h>

#include <string>
#include <vector>

#include "c4d.h"
#include "host_fixture.h"
#include "pixels.h"

namespace {

const Px kBg = kDialogBackground;
const Px kRed{255, 0, 0, 255};
const Px kYellow{255, 255, 0, 255};
const Px kBlue{0, 0, 255, 255};
const Px kClear{0, 0, 0, 0};
// Half-covering green, premultiplied as the file stores it.
const Px kGlass{0, 128, 0, 128};
// kGlass over kBg: each channel is src + bg * (255 - 128) / 255, rounded.
const Px kGlassOnBg{76, 204, 76, 255};

// A bar picture: 4-pixel caps around a 16-pixel middle, 3 rows. The caps' outer
// columns are transparent and their last row is another colour, so the placement,
// the vertical stretch and the alpha all show in the drawn pixels.
constexpr int kCap = 4, kImageW = 2 * kCap + 16, kImageH = 3;
Px BarPixel(int x, int y) {
  if (x == 0 || x == kImageW - 1) return kClear;
  if (x < kCap) return y == kImageH - 1 ? kYellow : kRed;
  if (x >= kImageW - kCap) return kBlue;
  return kGlass;
}

bool WriteBarTiff(const std::string& path) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(kImageW));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(kImageH));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(4));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(kImageH));
  const uint16_t extra[] = {EXTRASAMPLE_ASSOCALPHA};
  TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), extra);
  bool ok = true;
  for (int y = 0; y < kImageH && ok; ++y) {
    std::vector<uint8_t> row;
    for (int x = 0; x < kImageW; ++x) {
      const Px p = BarPixel(x, y);
      row.insert(row.end(), {uint8_t(p.r), uint8_t(p.g), uint8_t(p.b), uint8_t(p.a)});
    }
    ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) == 1;
  }
  TIFFClose(tif);
  return ok;
}

// The progress bar's drawing: caps and a middle stretched to the filled fraction.
class BarArea : public GeUserArea {
 public:
  BaseBitmap* image = nullptr;
  LONG current = 0, total = 100;
  LONG minW = 60, minH = 6;
  std::vector<std::pair<LONG, LONG>> sizes;
  int draws = 0;

  Bool GetMinSize(LONG& w, LONG& h) override {
    w = minW;
    h = minH;
    return TRUE;
  }
  void Sized(LONG w, LONG h) override { sizes.emplace_back(w, h); }
  void DrawMsg(LONG x1, LONG y1, LONG x2, LONG y2, const BaseContainer& msg) override {
    (void)msg;
    ++draws;
    OffScreenOn();
    DrawSetPen(COLOR_BG);
    DrawRectangle(x1, y1, x2, y2);
    if (!image) return;
    const LONG w = GetWidth(), h = GetHeight();
    const Real f = (current && total) ? Real(current) / Real(total) : 0.0;
    const LONG l = LONG(f * Real(w - 2 * kCap));
    DrawBitmap(image, 0, 0, kCap, h, 0, 0, kCap, kImageH, BMP_NORMALSCALED | BMP_ALLOWALPHA);
    if (l > 0) DrawBitmap(image, kCap, 0, l, h, kCap, 0, 16, kImageH, 257);
    DrawBitmap(image, kCap + l, 0, kCap, h, kImageW - kCap, 0, kCap, kImageH, 257);
  }
};

class BarWindow : public GeDialog {
 public:
  BarArea bar;
  Bool CreateLayout() override {
    GroupBegin(6000, BFH_SCALEFIT, 1, 0, String("Files"), 0);
    AddUserArea(6002, BFH_SCALEFIT);
    GroupEnd();
    return AttachUserArea(bar, 6002);
  }
};

class UserAreaTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    const std::string path = TempDir() + "/bar.tif";
    ASSERT_TRUE(WriteBarTiff(path));
    m_image = BaseBitmap::Alloc();
    ASSERT_NE(m_image, nullptr);
    ASSERT_EQ(m_image->Init(Filename(path.c_str())), IMAGERESULT_OK);
  }
  void TearDown() override {
    BaseBitmap::Free(m_image);
    HostTest::TearDown();
  }
  BaseBitmap* m_image = nullptr;
};

// Checks every pixel of a row band against the expected column colours.
void ExpectColumns(const BaseBitmap* bmp, LONG y, const std::vector<Px>& columns) {
  ASSERT_EQ(bmp->GetBw(), LONG(columns.size()));
  for (LONG x = 0; x < bmp->GetBw(); ++x) EXPECT_EQ(PixelAt(bmp, x, y), columns[size_t(x)]) << "at " << x << "," << y;
}

// The columns of a 60-pixel bar with fill l: background, cap, l glass, cap, background.
std::vector<Px> BarRow(LONG l, bool lastRows) {
  const Px cap = lastRows ? kYellow : kRed;
  std::vector<Px> row(60, kBg);
  for (LONG x = 1; x < kCap; ++x) row[size_t(x)] = cap;
  for (LONG x = kCap; x < kCap + l; ++x) row[size_t(x)] = kGlassOnBg;
  for (LONG x = 0; x < kCap - 1; ++x) row[size_t(kCap + l + x)] = kBlue;  // its last column is clear
  return row;
}

TEST_F(UserAreaTest, TheBarIsDrawnWithScaledAlphaAwareBitmapsPixelByPixel) {
  BarWindow win;
  win.bar.image = m_image;
  win.bar.current = 3;
  win.bar.total = 10;
  ASSERT_TRUE(win.Open(DLG_TYPE_ASYNC, 1022493));
  EXPECT_EQ(win.bar.GetWidth(), 60);
  EXPECT_EQ(win.bar.GetHeight(), 6);
  const BaseBitmap* screen = host::UserAreaBitmap(&win.bar);
  ASSERT_NE(screen, nullptr);
  // 30 % of the 52 pixels between the caps; the 3 picture rows each fill 2 area rows.
  const LONG l = 15;
  for (LONG y = 0; y < 6; ++y) ExpectColumns(screen, y, BarRow(l, y >= 4));

  // With nothing done only the caps are drawn, side by side at the left.
  win.bar.current = 0;
  win.bar.Redraw();
  for (LONG y = 0; y < 6; ++y) ExpectColumns(screen, y, BarRow(0, y >= 4));
  // A total of 0 counts as nothing done.
  win.bar.current = 4;
  win.bar.total = 0;
  win.bar.Redraw();
  ExpectColumns(screen, 0, BarRow(0, false));
  EXPECT_TRUE(win.Close());
}

TEST_F(UserAreaTest, ARedrawMessageRedrawsTheRectangleItCarries) {
  BarWindow win;
  win.bar.image = m_image;
  win.bar.current = 0;
  ASSERT_TRUE(win.Open(DLG_TYPE_ASYNC, 1));
  const BaseBitmap* screen = host::UserAreaBitmap(&win.bar);
  ASSERT_NE(screen, nullptr);
  const int drawsBefore = win.bar.draws;

  win.bar.current = 50;  // l = 26
  BaseContainer msg(BFM_DRAW);
  msg.SetLong(BFM_DRAW_LEFT, 0);
  msg.SetLong(BFM_DRAW_TOP, 0);
  msg.SetLong(BFM_DRAW_RIGHT, 10);
  msg.SetLong(BFM_DRAW_BOTTOM, 6);
  EXPECT_EQ(win.SendMessage(6002, msg), 1);
  EXPECT_EQ(win.bar.draws, drawsBefore + 1);
  // Left of x 10 shows the new state, the rest still the old one.
  const std::vector<Px> now = BarRow(26, false), before = BarRow(0, false);
  for (LONG x = 0; x < 60; ++x) EXPECT_EQ(PixelAt(screen, x, 2), x < 10 ? now[size_t(x)] : before[size_t(x)]) << x;

  // A rectangle outside the area draws nothing; an unknown gadget takes no message.
  msg.SetLong(BFM_DRAW_LEFT, 100);
  msg.SetLong(BFM_DRAW_RIGHT, 200);
  win.SendMessage(6002, msg);
  EXPECT_EQ(win.bar.draws, drawsBefore + 1);
  EXPECT_EQ(win.SendMessage(4711, msg), 0);
}

TEST_F(UserAreaTest, TheAreaGetsAtLeastItsMinimumAndCanBeResized) {
  BarWindow win;
  win.bar.minW = 214;
  win.bar.minH = 12;
  ASSERT_TRUE(win.Open(DLG_TYPE_ASYNC, 1));
  EXPECT_EQ(win.bar.sizes, (std::vector<std::pair<LONG, LONG>>{{214, 12}}));
  ASSERT_TRUE(host::ResizeUserArea(&win.bar, 300, 4));  // not below the minimum height
  EXPECT_EQ(win.bar.GetWidth(), 300);
  EXPECT_EQ(win.bar.GetHeight(), 12);
  EXPECT_EQ(win.bar.sizes.back(), std::make_pair(LONG(300), LONG(12)));
  const BaseBitmap* screen = host::UserAreaBitmap(&win.bar);
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(screen->GetBw(), 300);
  // No picture: the area is cleared to the background and nothing else.
  EXPECT_EQ(PixelAt(screen, 299, 11), kBg);
  EXPECT_FALSE(host::ResizeUserArea(&win.bar, 0, 10));
  win.Close();
  EXPECT_FALSE(host::ResizeUserArea(&win.bar, 400, 20));  // the window is closed

  // A layout size above the minimum wins.
  class Wide : public GeDialog {
   public:
    BarArea area;
    Bool CreateLayout() override { return AddUserArea(7, 0, 120, 30) && AttachUserArea(area, 7); }
  } wide;
  ASSERT_TRUE(wide.Open(DLG_TYPE_ASYNC, 2));
  EXPECT_EQ(wide.area.GetWidth(), 120);
  EXPECT_EQ(wide.area.GetHeight(), 30);
  BarArea loose;
  EXPECT_FALSE(host::ResizeUserArea(&loose, 10, 10));
  EXPECT_EQ(host::UserAreaBitmap(&loose), nullptr);
  EXPECT_FALSE(wide.AttachUserArea(loose, 4711));
}

class Painter : public GeUserArea {
 public:
  const BaseBitmap* image = nullptr;
  LONG mode = BMP_NORMAL;
  Bool GetMinSize(LONG& w, LONG& h) override {
    w = 8;
    h = 4;
    return TRUE;
  }
  void DrawMsg(LONG x1, LONG y1, LONG x2, LONG y2, const BaseContainer& msg) override {
    (void)msg;
    DrawSetPen(Vector(1.0, 0.5, 0.0));
    DrawRectangle(x1, y1, x2, y2);
    // Far outside, inverted and enormous: clipped, never written outside the area.
    DrawRectangle(-1000000, -5, MAXLONGl, 0);
    DrawRectangle(7, 3, 100, 100);
    DrawLine(-2000000000, 0, 2000000000, 0);
    DrawBitmap(image, -3, -3, MAXLONGl, MAXLONGl, -5, -5, 2, 2, BMP_NORMALSCALED | BMP_ALLOWALPHA);
    DrawBitmap(nullptr, 0, 0, 4, 4, 0, 0, 4, 4, mode);
    // The picture's right cap copied 1:1 at x 2: its 4 columns, cut at the area's edge.
    DrawBitmap(image, 2, 1, 40, 40, kImageW - kCap, 0, kCap, kImageH, mode);
  }
};

TEST_F(UserAreaTest, PensRectanglesAndUnscaledBitmapsStayInsideTheArea) {
  class PaintDialog : public GeModalDialog {
   public:
    Painter painter;
    Bool CreateLayout() override { return AddUserArea(3, 0) && AttachUserArea(painter, 3); }
  } dlg;
  dlg.painter.image = m_image;
  ASSERT_TRUE(dlg.Open());
  const BaseBitmap* screen = host::UserAreaBitmap(&dlg.painter);
  ASSERT_NE(screen, nullptr);
  const Px orange{255, 128, 0, 255};
  // Row 0: orange everywhere but the copied cap is not on it (it starts at row 1).
  for (LONG x = 0; x < 8; ++x) EXPECT_EQ(PixelAt(screen, x, 0), orange) << x;
  // Rows 1 to 3: the cap's columns at x 2..5, copied as opaque colour (its clear
  // column turns black), the pen elsewhere.
  for (LONG y = 1; y < 4; ++y) {
    for (LONG x = 0; x < 8; ++x) {
      Px want = orange;
      if (x >= 2 && x < 6) {
        want = BarPixel(kImageW - kCap + (x - 2), y - 1);
        want.a = 255;
      }
      EXPECT_EQ(PixelAt(screen, x, y), want) << x << "," << y;
    }
  }

  // With alpha the clear column shows what was under it.
  dlg.painter.mode = BMP_ALLOWALPHA;
  dlg.painter.Redraw();
  EXPECT_EQ(PixelAt(screen, 5, 1), orange);
  EXPECT_EQ(PixelAt(screen, 4, 1), kBlue);
}

TEST_F(UserAreaTest, OpeningSurvivesMissingMemoryForTheArea) {
  int opened = 0;
  for (LLONG n = 1; n <= 6; ++n) {
    BarWindow win;
    win.bar.image = m_image;
    host::FailAllocationAt(n);
    const Bool ok = win.Open(DLG_TYPE_ASYNC, 1);
    host::ResetFaults();
    if (ok) {
      ++opened;
      EXPECT_NE(host::UserAreaBitmap(&win.bar), nullptr);
      win.Close();
    } else {
      EXPECT_FALSE(win.IsOpen());
    }
  }
  // The state of the dialog, of the area and the area's screen can each be missing.
  EXPECT_LE(opened, 3);
  EXPECT_GE(opened, 1);
}

TEST_F(UserAreaTest, AnAreaAndItsDialogMayGoInEitherOrder) {
  {
    BarArea outlives;
    {
      class Holder : public GeDialog {
       public:
        BarArea* area = nullptr;
        Bool CreateLayout() override { return AddUserArea(1, 0) && AttachUserArea(*area, 1); }
      } holder;
      holder.area = &outlives;
      ASSERT_TRUE(holder.Open(DLG_TYPE_ASYNC, 1));
    }
    EXPECT_EQ(outlives.GetDialog(), nullptr);
    outlives.Redraw();  // still has its picture, no dialog to reach
  }
  class Holder : public GeDialog {
   public:
    BarArea* area = nullptr;
    Bool CreateLayout() override { return AddUserArea(1, 0) && AttachUserArea(*area, 1); }
  } holder;
  {
    BarArea gone;
    holder.area = &gone;
    ASSERT_TRUE(holder.Open(DLG_TYPE_ASYNC, 1));
  }
  BaseContainer msg(BFM_DRAW);
  EXPECT_EQ(holder.SendMessage(1, msg), 0);  // the area left its gadget
  holder.Close();
}

}  // namespace
