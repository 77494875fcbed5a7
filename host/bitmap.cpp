// Bitmaps: picture loading (picture_reader.h), made images, pixel access, and the
// cache of the plug-in's own images.
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>

#include "c4d_bitmap.h"
#include "c4d_general.h"
#include "c4d_memory.h"
#include "host_internal.h"
#include "picture_reader.h"
#include "platform.h"

namespace {

// Resource images are small; a header claiming more is damaged, not an image to load.
constexpr LLONG kMaxPixels = host::internal::kMaxPicturePixels;

// A system that cannot read pictures at all says so on the console, once per reason,
// rather than leaving every icon silently empty.
void ReportPicturesUnavailable(const std::string& path, const std::string& why) {
  static std::set<std::string> reported;
  if (!reported.insert(why).second) return;
  GePrint(String("Kelvane host: cannot read the picture '") + String(path) + String("': ") + String(why));
}

}  // namespace

BaseBitmap* BaseBitmap::Alloc() { return gNew BaseBitmap; }

void BaseBitmap::Free(BaseBitmap*& bitmap) { gDelete(bitmap); }

LONG BaseBitmap::Init(LONG width, LONG height) {
  m_source = Filename();
  m_width = m_height = 0;
  m_rgba.clear();
  if (width <= 0 || height <= 0) return IMAGERESULT_WRONGTYPE;
  if (LLONG(width) * LLONG(height) > kMaxPixels) return IMAGERESULT_OUTOFMEMORY;
  try {
    m_rgba.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0u);
  } catch (const std::bad_alloc&) {
    return IMAGERESULT_OUTOFMEMORY;
  }
  m_width = width;
  m_height = height;
  return IMAGERESULT_OK;
}

LONG BaseBitmap::Init(const Filename& name) {
  m_source = Filename();
  m_width = m_height = 0;
  m_rgba.clear();

  const std::string& path = name.GetString().Std();
  host::platform::FileStatus st;
  if (!host::platform::Status(path, &st) || st.isDir) return IMAGERESULT_NOTEXISTING;
  // A pipe or device would block the reading or never end.
  if (!st.isRegular) return IMAGERESULT_WRONGTYPE;

  host::internal::Picture picture;
  std::string unavailable;
  const host::internal::PictureResult read = host::internal::ReadPicture(path, &picture, &unavailable);
  if (!unavailable.empty()) ReportPicturesUnavailable(path, unavailable);
  switch (read) {
    case host::internal::PictureResult::kOk: break;
    case host::internal::PictureResult::kOutOfMemory: return IMAGERESULT_OUTOFMEMORY;
    default: return IMAGERESULT_WRONGTYPE;
  }
  m_rgba.swap(picture.rgba);
  m_width = picture.width;
  m_height = picture.height;
  m_source = name;
  return IMAGERESULT_OK;
}

void BaseBitmap::GetPixel(LONG x, LONG y, UWORD* r, UWORD* g, UWORD* b) const {
  uint32_t p = 0;
  if (x >= 0 && y >= 0 && x < m_width && y < m_height) p = m_rgba[static_cast<size_t>(y) * m_width + x];
  if (r) *r = static_cast<UWORD>(p & 0xff);
  if (g) *g = static_cast<UWORD>((p >> 8) & 0xff);
  if (b) *b = static_cast<UWORD>((p >> 16) & 0xff);
}

LONG BaseBitmap::GetAlpha(LONG x, LONG y) const {
  if (x < 0 || y < 0 || x >= m_width || y >= m_height) return 0;
  return static_cast<LONG>(m_rgba[static_cast<size_t>(y) * m_width + x] >> 24);
}

void BaseBitmap::SetPixel(LONG x, LONG y, LONG r, LONG g, LONG b, LONG a) {
  if (x < 0 || y < 0 || x >= m_width || y >= m_height) return;
  auto channel = [](LONG v) { return static_cast<uint32_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
  m_rgba[static_cast<size_t>(y) * m_width + x] =
      channel(r) | (channel(g) << 8) | (channel(b) << 16) | (channel(a) << 24);
}

// --- the plug-in's images ------------------------------------------------------

namespace {

// Cached images live outside the host allocator: they belong to the host, not to the
// plug-in, and must not count as the plug-in's blocks.
std::map<std::string, std::unique_ptr<BaseBitmap>>& Cache() {
  static std::map<std::string, std::unique_ptr<BaseBitmap>> cache;
  return cache;
}

}  // namespace

BaseBitmap* AutoBitmap(const String& file) {
  if (!file.Content()) return nullptr;
  const Filename path = GeGetPluginPath() + Filename("res") + Filename(file);
  const std::string& key = path.GetString().Std();
  auto& cache = Cache();
  const auto found = cache.find(key);
  if (found != cache.end()) return found->second.get();

  BaseBitmap* loaded = BaseBitmap::Alloc();
  if (!loaded) return nullptr;
  BaseBitmap* kept = nullptr;
  if (loaded->Init(path) == IMAGERESULT_OK) {
    try {
      std::unique_ptr<BaseBitmap> owned(new BaseBitmap(std::move(*loaded)));
      BaseBitmap* raw = owned.get();
      cache.emplace(key, std::move(owned));
      kept = raw;
    } catch (const std::bad_alloc&) {
      kept = nullptr;
    }
  }
  BaseBitmap::Free(loaded);
  return kept;
}

namespace host::internal {

void ResetBitmaps() { Cache().clear(); }

}  // namespace host::internal
