// The OBJ input of bench_objread: a grid of side x side points with v, vt and vn per
// point and one quad "f a/a/a b/b/b c/c/c d/d/d" per cell, in several groups and
// materials, written as a stream (never held in memory). Its last line records the
// file's size, so a file left from an earlier run can be checked without reading it.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace objgrid {

constexpr int kGroups = 8;     // "g band_<k>": the rows in kGroups bands
constexpr int kMaterials = 5;  // "usemtl mat_<k>": 25 bands of rows, cycling
constexpr int kMaterialBands = 25;
constexpr const char* kTrailerStart = "# end of grid, ";
constexpr int kSizeDigits = 12;  // the trailer's size field: fixed width, zero-padded
constexpr const char* kTrailerEnd = " bytes\n";

inline std::string Header(long side) {
  return "# kelvane bench grid " + std::to_string(side) + " x " + std::to_string(side) + " points, v1\n";
}
inline size_t TrailerLength() { return std::strlen(kTrailerStart) + kSizeDigits + std::strlen(kTrailerEnd); }
inline long Rows(long side) { return side - 1; }
inline long RowsPerGroup(long side) { return (Rows(side) + kGroups - 1) / kGroups; }
inline long RowsPerMaterial(long side) { return Rows(side) / kMaterialBands > 0 ? Rows(side) / kMaterialBands : 1; }

// Streams text to a file through one fixed buffer. A failed write is remembered; the
// caller asks Close.
class Writer {
 public:
  explicit Writer(const std::string& path) : m_file(std::fopen(path.c_str(), "wb")) { m_ok = m_file != nullptr; }
  ~Writer() {
    if (m_file) std::fclose(m_file);
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void Put(const char* text, size_t n) {
    if (m_used + n > sizeof(m_buffer)) Flush();
    std::memcpy(m_buffer + m_used, text, n);
    m_used += n;
  }
  void Put(const char* text) { Put(text, std::strlen(text)); }
  void Put(const std::string& text) { Put(text.data(), text.size()); }
  void Put(char c) { Put(&c, 1); }
  // The characters of "%.6f": std::to_chars in fixed form with a precision gives them.
  void Fixed(double value) {
    char text[400];
    const auto end = std::to_chars(text, text + sizeof(text), value, std::chars_format::fixed, 6).ptr;
    Put(text, static_cast<size_t>(end - text));
  }
  void Integer(long value) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof(text), value).ptr;
    Put(text, static_cast<size_t>(end - text));
  }
  unsigned long long Written() const { return m_total + m_used; }
  // False when the file could not be created or a write failed.
  bool Close() {
    Flush();
    if (m_file && std::fclose(m_file) != 0) m_ok = false;
    m_file = nullptr;
    return m_ok;
  }

 private:
  void Flush() {
    if (m_used && (!m_file || std::fwrite(m_buffer, 1, m_used, m_file) != m_used)) m_ok = false;
    m_total += m_used;
    m_used = 0;
  }
  std::FILE* m_file;
  bool m_ok = false;
  char m_buffer[1 << 16];
  size_t m_used = 0;
  unsigned long long m_total = 0;
};

// A gently rolling surface, so the coordinates have signs and varied digits.
inline double Height(long i, long j) {
  return 2.5 * std::sin(i * 0.05) * std::cos(j * 0.04) + 0.001 * ((i * 7 + j * 3) % 11);
}

// Writes the grid (side >= 2) to path; false when the file cannot be written.
inline bool GenerateGrid(const std::string& path, long side) {
  Writer out(path);
  out.Put(Header(side));
  out.Put("mtllib grid.mtl\n");
  for (long j = 0; j < side; ++j)
    for (long i = 0; i < side; ++i) {
      out.Put("v ");
      out.Fixed((i - side / 2) * 0.1);
      out.Put(' ');
      out.Fixed(Height(i, j));
      out.Put(' ');
      out.Fixed((j - side / 2) * 0.1);
      out.Put('\n');
    }
  for (long j = 0; j < side; ++j)
    for (long i = 0; i < side; ++i) {
      out.Put("vt ");
      out.Fixed(static_cast<double>(i) / (side - 1));
      out.Put(' ');
      out.Fixed(static_cast<double>(j) / (side - 1));
      out.Put('\n');
    }
  for (long j = 0; j < side; ++j)
    for (long i = 0; i < side; ++i) {
      const double dx = (Height(i + 1, j) - Height(i - 1, j)) / 0.2;
      const double dz = (Height(i, j + 1) - Height(i, j - 1)) / 0.2;
      const double length = std::sqrt(dx * dx + 1.0 + dz * dz);
      out.Put("vn ");
      out.Fixed(-dx / length);
      out.Put(' ');
      out.Fixed(1.0 / length);
      out.Put(' ');
      out.Fixed(-dz / length);
      out.Put('\n');
    }
  for (long j = 0; j < Rows(side); ++j) {
    if (j % RowsPerGroup(side) == 0) {
      out.Put("g band_");
      out.Integer(j / RowsPerGroup(side));
      out.Put('\n');
    }
    if (j % RowsPerMaterial(side) == 0) {
      out.Put("usemtl mat_");
      out.Integer((j / RowsPerMaterial(side)) % kMaterials);
      out.Put('\n');
    }
    for (long i = 0; i < side - 1; ++i) {
      const long a = j * side + i + 1;
      const long corners[4] = {a, a + 1, a + side + 1, a + side};
      out.Put('f');
      for (const long c : corners) {
        out.Put(' ');
        out.Integer(c);
        out.Put('/');
        out.Integer(c);
        out.Put('/');
        out.Integer(c);
      }
      out.Put('\n');
    }
  }
  const unsigned long long size = out.Written() + TrailerLength();
  char trailer[64];
  std::snprintf(trailer, sizeof(trailer), "%s%0*llu%s", kTrailerStart, kSizeDigits, size, kTrailerEnd);
  out.Put(trailer);
  return out.Close();
}

// True when path holds a complete grid of this side: its header, and a last line whose
// size is the file's.
inline bool GridIsComplete(const std::string& path, long side) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  const std::string header = Header(side);
  std::string head(header.size(), '\0');
  std::string tail(TrailerLength(), '\0');
  bool ok = std::fread(&head[0], 1, head.size(), file) == head.size() && head == header &&
            std::fseek(file, -static_cast<long>(tail.size()), SEEK_END) == 0 &&
            std::fread(&tail[0], 1, tail.size(), file) == tail.size();
  const long size = ok ? std::ftell(file) : -1;
  std::fclose(file);
  if (!ok || tail.compare(0, std::strlen(kTrailerStart), kTrailerStart) != 0 ||
      tail.compare(tail.size() - std::strlen(kTrailerEnd), std::string::npos, kTrailerEnd) != 0)
    return false;
  const std::string digits = tail.substr(std::strlen(kTrailerStart), kSizeDigits);
  if (digits.find_first_not_of("0123456789") != std::string::npos) return false;
  return std::strtoull(digits.c_str(), nullptr, 10) == static_cast<unsigned long long>(size);
}

// The material library the grid names: kMaterials materials.
inline bool WriteMaterials(const std::string& path) {
  static const char* const kColours[kMaterials] = {"0.8 0.1 0.1", "0.1 0.8 0.1", "0.1 0.1 0.8", "0.8 0.8 0.1",
                                                    "0.5 0.5 0.5"};
  Writer out(path);
  for (int m = 0; m < kMaterials; ++m) {
    out.Put("newmtl mat_");
    out.Integer(m);
    out.Put("\nKa 0 0 0\nKd ");
    out.Put(kColours[m]);
    out.Put("\nKs 0.2 0.2 0.2\nNs 20\nd 1\nillum 2\n\n");
  }
  return out.Close();
}

}  // namespace objgrid
