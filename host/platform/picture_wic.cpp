// Pictures through the Windows Imaging Component, which reads TIFF (and the other
// formats Windows knows) without a library of our own.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <wincodec.h>

#include <new>

#include "picture_reader.h"

namespace host::internal {

namespace {

template <typename T>
struct Released {
  T* p = nullptr;
  ~Released() {
    if (p) p->Release();
  }
};

std::wstring Widen(const std::string& text) {
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

}  // namespace

PictureResult ReadPicture(const std::string& path, Picture* picture) {
  // COM for this thread; a caller that set it up already keeps its own apartment.
  const HRESULT init = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const bool uninit = SUCCEEDED(init);
  PictureResult result = PictureResult::kWrongType;
  {
    Released<IWICImagingFactory> factory;
    Released<IWICBitmapDecoder> decoder;
    Released<IWICBitmapFrameDecode> frame;
    Released<IWICBitmapSource> converted;
    UINT width = 0, height = 0;
    const std::wstring wide = Widen(path);
    if (!wide.empty() &&
        SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                     reinterpret_cast<void**>(&factory.p))) &&
        SUCCEEDED(factory.p->CreateDecoderFromFilename(wide.c_str(), nullptr, GENERIC_READ,
                                                       WICDecodeMetadataCacheOnDemand, &decoder.p)) &&
        SUCCEEDED(decoder.p->GetFrame(0, &frame.p)) && SUCCEEDED(frame.p->GetSize(&width, &height)) && width > 0 &&
        height > 0 && SUCCEEDED(::WICConvertBitmapSource(GUID_WICPixelFormat32bppRGBA, frame.p, &converted.p))) {
      if (int64_t(width) * int64_t(height) <= kMaxPicturePixels) {
        std::vector<uint32_t> pixels;
        try {
          pixels.assign(static_cast<size_t>(width) * height, 0u);
        } catch (const std::bad_alloc&) {
          pixels.clear();
          result = PictureResult::kOutOfMemory;
        }
        // RGBA bytes in memory are the packed words with red in the low byte.
        if (!pixels.empty() &&
            SUCCEEDED(converted.p->CopyPixels(nullptr, width * 4, static_cast<UINT>(pixels.size() * 4),
                                              reinterpret_cast<BYTE*>(pixels.data())))) {
          picture->rgba.swap(pixels);
          picture->width = static_cast<int32_t>(width);
          picture->height = static_cast<int32_t>(height);
          result = PictureResult::kOk;
        }
      }
    }
  }
  if (uninit) ::CoUninitialize();
  return result;
}

}  // namespace host::internal
