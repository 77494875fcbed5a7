// Pictures through libtiff.
#include <tiffio.h>

#include <cstdarg>
#include <new>

#include "picture_reader.h"

namespace host::internal {

namespace {

int SilentTiffMessage(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Damaged files must fail quietly: libtiff would otherwise print to standard error.
void SilenceLibtiff() {
  static const bool done = [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    return true;
  }();
  (void)done;
}

TIFF* OpenTiff(const std::string& path) {
  SilenceLibtiff();
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, SilentTiffMessage, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, SilentTiffMessage, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(kMaxPicturePixels * 4 + 65536));
  TIFF* tif = TIFFOpenExt(path.c_str(), "r", options);
  TIFFOpenOptionsFree(options);
  return tif;
}

}  // namespace

PictureResult ReadPicture(const std::string& path, Picture* picture, std::string*) {
  TIFF* tif = OpenTiff(path);
  if (!tif) return PictureResult::kWrongType;
  uint32_t width = 0, height = 0;
  PictureResult result = PictureResult::kWrongType;
  if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) == 1 && TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) == 1 &&
      width > 0 && height > 0) {
    if (int64_t(width) * int64_t(height) <= kMaxPicturePixels) {
      std::vector<uint32_t> pixels;
      try {
        pixels.assign(static_cast<size_t>(width) * height, 0u);
      } catch (const std::bad_alloc&) {
        pixels.clear();
        result = PictureResult::kOutOfMemory;
      }
      // Stop at the first damaged strip rather than return a partial picture.
      if (!pixels.empty() && TIFFReadRGBAImageOriented(tif, width, height, pixels.data(), ORIENTATION_TOPLEFT, 1) == 1) {
        picture->rgba.swap(pixels);
        picture->width = static_cast<int32_t>(width);
        picture->height = static_cast<int32_t>(height);
        result = PictureResult::kOk;
      }
    }
  }
  TIFFClose(tif);
  return result;
}

}  // namespace host::internal
