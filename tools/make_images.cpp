// Writes the plug-in's images (command and tag icons, dialog logos, the progress bar
// picture) as small RGBA TIFF files into the folder given on the command line.
// Usage: make_images <folder>
#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Rgb {
  uint8_t r, g, b;
};

class Image {
 public:
  Image(int width, int height) : m_width(width), m_height(height), m_pixels(size_t(width) * height * 4, 0) {}

  int Width() const { return m_width; }
  int Height() const { return m_height; }

  void Set(int x, int y, Rgb c, uint8_t a = 255) {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) return;
    uint8_t* p = &m_pixels[(size_t(y) * m_width + x) * 4];
    // Associated (premultiplied) alpha, as the file declares.
    p[0] = uint8_t(c.r * a / 255);
    p[1] = uint8_t(c.g * a / 255);
    p[2] = uint8_t(c.b * a / 255);
    p[3] = a;
  }
  void Fill(int x0, int y0, int w, int h, Rgb c) {
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) Set(x, y, c);
  }
  // A rounded tile with a darker rim: the common ground of every icon.
  void Tile(Rgb face, Rgb rim) {
    const int r = m_width / 8;
    for (int y = 0; y < m_height; ++y)
      for (int x = 0; x < m_width; ++x) {
        const int dx = x < r ? r - x : (x >= m_width - r ? x - (m_width - 1 - r) : 0);
        const int dy = y < r ? r - y : (y >= m_height - r ? y - (m_height - 1 - r) : 0);
        const int d2 = dx * dx + dy * dy;
        if (d2 > r * r) continue;
        const bool edge = x == 0 || y == 0 || x == m_width - 1 || y == m_height - 1 || d2 > (r - 1) * (r - 1);
        Set(x, y, edge ? rim : face);
      }
  }
  void Disc(int cx, int cy, int radius, Rgb c) {
    for (int y = cy - radius; y <= cy + radius; ++y)
      for (int x = cx - radius; x <= cx + radius; ++x)
        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius) Set(x, y, c);
  }
  // A thick line from (x0, y0) to (x1, y1).
  void Line(int x0, int y0, int x1, int y1, int thickness, Rgb c) {
    const int steps = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
    for (int i = 0; i <= steps; ++i) {
      const int x = steps ? x0 + (x1 - x0) * i / steps : x0;
      const int y = steps ? y0 + (y1 - y0) * i / steps : y0;
      Fill(x - thickness / 2, y - thickness / 2, thickness, thickness, c);
    }
  }

  bool Write(const std::string& path) const {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) return false;
    const uint16_t extra[] = {EXTRASAMPLE_ASSOCALPHA};
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(m_width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(m_height));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(4));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), extra);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(ORIENTATION_TOPLEFT));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_LZW));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(m_height));
    bool ok = true;
    for (int y = 0; y < m_height && ok; ++y) {
      std::vector<uint8_t> row(m_pixels.begin() + ptrdiff_t(y) * m_width * 4,
                               m_pixels.begin() + ptrdiff_t(y + 1) * m_width * 4);
      ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) == 1;
    }
    TIFFClose(tif);
    return ok;
  }

 private:
  int m_width, m_height;
  std::vector<uint8_t> m_pixels;
};

// 5 x 7 glyphs, one string per row, '#' set.
struct Glyph {
  char ch;
  const char* rows[7];
};
const Glyph kFont[] = {
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'D', {"###..", "#..#.", "#...#", "#...#", "#...#", "#..#.", "###.."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".###."}},
    {'J', {"..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {'W', {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "##.##", "#...#"}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'?', {".###.", "#...#", "....#", "...#.", "..#..", ".....", "..#.."}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
};

const Glyph* FindGlyph(char ch) {
  for (const Glyph& g : kFont)
    if (g.ch == ch) return &g;
  return nullptr;
}

// Draws text with its top left corner at (x, y), each font dot scale pixels wide.
void Text(Image& img, int x, int y, const char* text, int scale, Rgb c) {
  for (; *text; ++text, x += 6 * scale) {
    const Glyph* g = FindGlyph(*text);
    if (!g) continue;
    for (int row = 0; row < 7; ++row)
      for (int col = 0; col < 5; ++col)
        if (g->rows[row][col] == '#') img.Fill(x + col * scale, y + row * scale, scale, scale, c);
  }
}

int TextWidth(const char* text, int scale) { return int(std::strlen(text)) * 6 * scale - scale; }

void CentredText(Image& img, int y, const char* text, int scale, Rgb c) {
  Text(img, (img.Width() - TextWidth(text, scale)) / 2, y, text, scale, c);
}

// An arrow along the lower half of an icon, pointing right (outwards) or left (inwards).
void Arrow(Image& img, bool right, Rgb c) {
  const int y = 23;
  img.Fill(7, y - 2, 18, 5, c);
  for (int i = 0; i < 7; ++i) {
    const int x = right ? 22 + i : 9 - i;
    img.Fill(x, y - 6 + i, 1, 13 - 2 * i, c);
  }
}

const Rgb kWhite{255, 255, 255};
const Rgb kBlack{20, 20, 24};

Image ExportIcon() {
  Image img(32, 32);
  img.Tile({40, 96, 190}, {18, 44, 96});
  CentredText(img, 4, "OBJ", 1, kWhite);
  Arrow(img, true, kWhite);
  return img;
}

Image ImportIcon() {
  Image img(32, 32);
  img.Tile({40, 150, 70}, {16, 70, 30});
  CentredText(img, 4, "OBJ", 1, kWhite);
  Arrow(img, false, kWhite);
  return img;
}

Image MddImportIcon() {
  Image img(32, 32);
  img.Tile({120, 60, 170}, {56, 24, 84});
  CentredText(img, 4, "MDD", 1, kWhite);
  Arrow(img, false, {255, 220, 120});
  return img;
}

Image MddExportIcon() {
  Image img(32, 32);
  img.Tile({170, 60, 60}, {84, 24, 24});
  CentredText(img, 4, "MDD", 1, kWhite);
  Arrow(img, true, {255, 220, 120});
  return img;
}

Image MddDeformIcon() {
  Image img(32, 32);
  img.Tile({30, 140, 140}, {12, 66, 66});
  CentredText(img, 4, "MDD", 1, kWhite);
  // A wave: the cache bending the mesh.
  for (int x = 5; x < 27; ++x) {
    static const int kWave[] = {0, 1, 2, 2, 3, 2, 2, 1, 0, -1, -2, -2, -3, -2, -2, -1};
    img.Fill(x, 22 + kWave[(x - 5) % 16], 2, 3, kWhite);
  }
  return img;
}

Image LetterTag(const char* letter, Rgb face, Rgb rim) {
  Image img(32, 32);
  img.Tile(face, rim);
  // A tag label shape with a hole, then the letter on it.
  img.Disc(6, 6, 2, rim);
  Text(img, (32 - TextWidth(letter, 3)) / 2 + 2, 6, letter, 3, kBlack);
  return img;
}

Image DontExportIcon() {
  Image img(32, 32);
  img.Tile({230, 230, 230}, {110, 110, 110});
  CentredText(img, 9, "XP", 2, kBlack);
  img.Line(5, 26, 26, 5, 3, {210, 30, 30});
  return img;
}

Image UrlIcon() {
  Image img(32, 32);
  img.Tile({40, 170, 210}, {14, 80, 110});
  img.Disc(16, 10, 5, kWhite);
  img.Disc(16, 10, 3, {40, 170, 210});
  img.Fill(11, 10, 11, 1, kWhite);
  img.Fill(16, 5, 1, 11, kWhite);
  CentredText(img, 19, "WWW", 1, kWhite);
  return img;
}

Image DocsIcon() {
  Image img(32, 32);
  img.Tile({225, 190, 80}, {120, 90, 20});
  img.Fill(8, 5, 16, 22, kWhite);
  Text(img, 11, 9, "?", 2, kBlack);
  return img;
}

Image RecordKeyIcon() {
  Image img(32, 32);
  img.Tile({60, 60, 66}, {24, 24, 28});
  img.Disc(16, 16, 9, {220, 30, 30});
  img.Disc(13, 13, 2, {255, 140, 140});
  return img;
}

Image MakerLogo() {
  Image img(64, 64);
  img.Tile({28, 36, 70}, {10, 14, 30});
  Text(img, (64 - TextWidth("B", 5)) / 2, 8, "B", 5, {230, 190, 90});
  img.Fill(12, 50, 40, 2, {230, 190, 90});
  return img;
}

Image ProductLogo() {
  Image img(64, 64);
  img.Tile({236, 240, 246}, {90, 100, 120});
  Text(img, (64 - TextWidth("K", 5)) / 2, 5, "K", 5, {40, 96, 190});
  CentredText(img, 48, "KELVANE", 1, kBlack);
  return img;
}

// The bar is read as a left cap, a 16-pixel middle column that is stretched to the
// filled width, and a right cap: caps of (width - 16) / 2 pixels each.
Image ProgressBar() {
  const int width = 64, height = 12, middle = 16, cap = (width - middle) / 2;
  Image img(width, height);
  const Rgb frame{70, 70, 80}, track{200, 200, 205}, fill{60, 170, 80}, shine{140, 220, 150};
  img.Fill(0, 0, width, height, frame);
  img.Fill(1, 1, cap - 1, height - 2, track);
  img.Fill(cap + middle, 1, cap - 1, height - 2, track);
  img.Fill(cap, 1, middle, height - 2, fill);
  img.Fill(cap, 2, middle, 2, shine);
  return img;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_images <folder>\n");
    return 2;
  }
  const std::string folder = argv[1];
  struct Entry {
    const char* name;
    Image image;
  };
  const Entry entries[] = {
      {"export.tif", ExportIcon()},
      {"import.tif", ImportIcon()},
      {"mdd_mp.tif", MddImportIcon()},
      {"mdd_xp.tif", MddExportIcon()},
      {"mdd_deform.tif", MddDeformIcon()},
      {"GroupTag.tif", LetterTag("G", {250, 210, 60}, {130, 100, 10})},
      {"RegionTag.tif", LetterTag("R", {250, 150, 60}, {130, 70, 10})},
      {"dontXP.tif", DontExportIcon()},
      {"url.tif", UrlIcon()},
      {"kvpdocs.tif", DocsIcon()},
      {"record_key.tif", RecordKeyIcon()},
      {"brantwelllogo.tif", MakerLogo()},
      {"kelvane.tif", ProductLogo()},
      {"progbar.tif", ProgressBar()},
  };
  int failures = 0;
  for (const Entry& e : entries) {
    const std::string path = folder + "/" + e.name;
    if (!e.image.Write(path)) {
      std::fprintf(stderr, "make_images: cannot write %s\n", path.c_str());
      ++failures;
    }
  }
  return failures ? 1 : 0;
}
