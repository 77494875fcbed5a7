// Reading the plug-in's pictures (TIFF): libtiff where the build has it
// (platform/picture_libtiff.cpp), the Windows Imaging Component on Windows
// (platform/picture_wic.cpp). Either way the pixels come as 8-bit RGBA packed into one
// 32-bit word (red in the low byte), rows top to bottom.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <vector>

namespace host::internal {

// Resource images are small; a header claiming more is damaged, not an image to load.
constexpr int64_t kMaxPicturePixels = int64_t(1) << 26;

// Kept free of the host's types, so that the Windows reader can include windows.h.
struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> rgba;
};

enum class PictureResult { kOk, kWrongType, kOutOfMemory };

// Reads the regular file at path: kWrongType when it is not a picture this build reads
// or is damaged (no partial picture). When the system lacks the means to read pictures
// at all (no imaging component, no TIFF decoder), *unavailable says so, for the user.
PictureResult ReadPicture(const std::string& path, Picture* picture, std::string* unavailable);

// For the readers: a picture of width x height pixels (both above 0), its pixels filled
// by read(pixels), which answers false for a damaged picture. *picture changes only on
// kOk; a size beyond kMaxPicturePixels is kWrongType, missing memory kOutOfMemory.
template <typename ReadPixels>
PictureResult FillPicture(uint32_t width, uint32_t height, Picture* picture, ReadPixels read) {
  if (width == 0 || height == 0 || int64_t(width) * int64_t(height) > kMaxPicturePixels) return PictureResult::kWrongType;
  std::vector<uint32_t> pixels;
  try {
    pixels.assign(static_cast<size_t>(width) * height, 0u);
  } catch (const std::bad_alloc&) {
    return PictureResult::kOutOfMemory;
  }
  if (!read(pixels.data())) return PictureResult::kWrongType;
  picture->rgba.swap(pixels);
  picture->width = static_cast<int32_t>(width);
  picture->height = static_cast<int32_t>(height);
  return PictureResult::kOk;
}

}  // namespace host::internal
