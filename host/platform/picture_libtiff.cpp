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
  if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) == 1 && TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) == 1) {
    // Stop at the first damaged strip rather than return a partial picture.
    result = FillPicture(width, height, picture, [&](uint32_t* pixels) {
      return TIFFReadRGBAImageOriented(tif, width, height, pixels, ORIENTATION_TOPLEFT, 1) == 1;
    });
  }
  TIFFClose(tif);
  return result;
}

}  // namespace host::internal
