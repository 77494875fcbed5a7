// Pictures through the Windows Imaging Component, which reads TIFF (and the other
// formats Windows knows) without a library of our own.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <wincodec.h>

#include <cstdio>
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

std::string HexCode(HRESULT code) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08lx", static_cast<unsigned long>(code));
  return text;
}

}  // namespace

PictureResult ReadPicture(const std::string& path, Picture* picture, std::string* unavailable) {
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
    const HRESULT made = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IWICImagingFactory, reinterpret_cast<void**>(&factory.p));
    if (FAILED(made)) {
      *unavailable = "the Windows Imaging Component is not available (" + HexCode(made) + ")";
    } else {
      const HRESULT opened = wide.empty() ? E_INVALIDARG
                                          : factory.p->CreateDecoderFromFilename(
                                                wide.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                &decoder.p);
      // No decoder took the file: damaged, or this Windows reads no TIFF at all.
      Released<IWICBitmapDecoder> tiff;
      if (opened == WINCODEC_ERR_COMPONENTNOTFOUND &&
          FAILED(factory.p->CreateDecoder(GUID_ContainerFormatTiff, nullptr, &tiff.p)))
        *unavailable = "this Windows has no TIFF decoder in its imaging component";
    }
    if (decoder.p && SUCCEEDED(decoder.p->GetFrame(0, &frame.p)) && SUCCEEDED(frame.p->GetSize(&width, &height)) &&
        width > 0 && height > 0 &&
        SUCCEEDED(::WICConvertBitmapSource(GUID_WICPixelFormat32bppPRGBA, frame.p, &converted.p))) {
      // RGBA bytes in memory are the packed words with red in the low byte. Colours come
      // multiplied by their alpha, as libtiff's RGBA reading gives them elsewhere: a
      // half-transparent pixel reads the same on every system.
      result = FillPicture(width, height, picture, [&](uint32_t* pixels) {
        return SUCCEEDED(converted.p->CopyPixels(nullptr, width * 4, static_cast<UINT>(width * height * 4),
                                                 reinterpret_cast<BYTE*>(pixels)));
      });
    }
  }
  if (uninit) ::CoUninitialize();
  return result;
}

}  // namespace host::internal
