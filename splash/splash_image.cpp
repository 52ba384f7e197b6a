// The splash picture: PNG to premultiplied, upright 32-bit pixels in one pass, then UpdateLayeredWindow.
#include "splash_image.h"

#include "launcher/product.h"
#include "splash_window.h"

#include <wincodec.h>

_COM_SMARTPTR_TYPEDEF(IWICImagingFactory, __uuidof(IWICImagingFactory));
_COM_SMARTPTR_TYPEDEF(IWICStream, __uuidof(IWICStream));
_COM_SMARTPTR_TYPEDEF(IWICBitmapDecoder, __uuidof(IWICBitmapDecoder));
_COM_SMARTPTR_TYPEDEF(IWICBitmapFrameDecode, __uuidof(IWICBitmapFrameDecode));
_COM_SMARTPTR_TYPEDEF(IWICFormatConverter, __uuidof(IWICFormatConverter));
_COM_SMARTPTR_TYPEDEF(IWICBitmapFlipRotator, __uuidof(IWICBitmapFlipRotator));

namespace
{
HRESULT LastErrorResult()
{
    return HRESULT_FROM_WIN32(GetLastError());
}

// The drawing objects of one rendering, undone in this order whichever way it ends.
struct SplashGdiHandles
{
    SplashGdiHandles() = default;
    SplashGdiHandles(const SplashGdiHandles&) = delete;
    SplashGdiHandles& operator=(const SplashGdiHandles&) = delete;
    ~SplashGdiHandles()
    {
        if (hPrevious && hdcMemory) SelectObject(hdcMemory, hPrevious);
        if (hBitmap) DeleteObject(hBitmap);
        if (hdcScreen) DeleteDC(hdcScreen);
        if (hdcMemory) DeleteDC(hdcMemory);
    }

    HBITMAP hBitmap = nullptr;
    HDC hdcScreen = nullptr;
    HDC hdcMemory = nullptr;
    HGDIOBJ hPrevious = nullptr;
};

// Draws the converted picture onto the window; the imaging objects outlive the GDI handles.
HRESULT PutPixelsOnWindow(IWICBitmapFlipRotator* pFlipRotator)
{
    UINT dwWidth = 0;
    UINT dwHeight = 0;
    HRESULT hr = pFlipRotator->GetSize(&dwWidth, &dwHeight);
    if (FAILED(hr)) return hr;

    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = static_cast<LONG>(dwWidth);
    bmi.bmiHeader.biHeight = static_cast<LONG>(dwHeight); // positive: rows run bottom-up
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    bmi.bmiHeader.biSizeImage = dwWidth * 4 * dwHeight;

    SplashGdiHandles handles;
    void* pBitmapBits = nullptr;
    handles.hBitmap = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &pBitmapBits, nullptr, 0);
    if (!handles.hBitmap) return LastErrorResult();

    // Decode, convert and flip in one pass, straight into the bitmap's memory.
    const WICRect rect = {0, 0, static_cast<INT>(dwWidth), static_cast<INT>(dwHeight)};
    hr =
        pFlipRotator->CopyPixels(&rect, dwWidth * 4, dwWidth * 4 * dwHeight, static_cast<BYTE*>(pBitmapBits));
    if (FAILED(hr)) return hr;

    POINT ptScreen;
    ptScreen.x = static_cast<LONG>((static_cast<DWORD>(GetSystemMetrics(SM_CXSCREEN)) - dwWidth) >> 1);
    ptScreen.y = static_cast<LONG>((static_cast<DWORD>(GetSystemMetrics(SM_CYSCREEN)) - dwHeight) >> 1);

    handles.hdcScreen = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
    if (!handles.hdcScreen) return LastErrorResult();
    handles.hdcMemory = CreateCompatibleDC(handles.hdcScreen);
    if (!handles.hdcMemory) return LastErrorResult();
    handles.hPrevious = SelectObject(handles.hdcMemory, handles.hBitmap);
    if (!handles.hPrevious) return LastErrorResult();

    SIZE size = {static_cast<LONG>(dwWidth), static_cast<LONG>(dwHeight)};
    POINT ptSource = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 229, AC_SRC_ALPHA};
    if (!UpdateLayeredWindow(g_hwndSplash, handles.hdcScreen, &ptScreen, &size, handles.hdcMemory, &ptSource,
                             0, &blend, ULW_ALPHA))
        return LastErrorResult();
    if (!SetWindowPos(g_hwndSplash, HWND_TOP, ptScreen.x, ptScreen.y, size.cx, size.cy,
                      SWP_FRAMECHANGED | SWP_SHOWWINDOW))
        return LastErrorResult();
    return S_OK;
}
} // namespace

HRESULT LoadSplashImageResource(const BYTE*& pResBytes, DWORD& dwSize)
{
    const HRSRC hrsrc = FindResourceW(nullptr, MAKEINTRESOURCEW(CORVANE_SPLASH_RESOURCE_ID), RT_RCDATA);
    if (!hrsrc) return LastErrorResult();
    const HGLOBAL hglobal = LoadResource(nullptr, hrsrc);
    if (!hglobal) return LastErrorResult();
    pResBytes = static_cast<const BYTE*>(LockResource(hglobal));
    if (!pResBytes) return LastErrorResult();
    dwSize = SizeofResource(nullptr, hrsrc);
    if (dwSize == 0) return LastErrorResult();
    return S_OK;
}

HRESULT RenderSplashImage()
{
    const BYTE* pResBytes = nullptr;
    DWORD dwSize = 0;
    HRESULT hr = LoadSplashImageResource(pResBytes, dwSize);
    if (FAILED(hr)) return hr;

    IWICImagingFactoryPtr oFactory;
    hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                          reinterpret_cast<void**>(&oFactory));
    if (FAILED(hr)) return hr;
    IWICStreamPtr oStream;
    hr = oFactory->CreateStream(&oStream);
    if (FAILED(hr)) return hr;
    hr = oStream->InitializeFromMemory(const_cast<BYTE*>(pResBytes), dwSize);
    if (FAILED(hr)) return hr;
    IWICBitmapDecoderPtr oDecoder;
    hr = oFactory->CreateDecoderFromStream(oStream, nullptr, WICDecodeMetadataCacheOnDemand, &oDecoder);
    if (FAILED(hr)) return hr;
    IWICBitmapFrameDecodePtr oFrameDecode;
    hr = oDecoder->GetFrame(0, &oFrameDecode);
    if (FAILED(hr)) return hr;
    IWICFormatConverterPtr oFormatConverter;
    hr = oFactory->CreateFormatConverter(&oFormatConverter);
    if (FAILED(hr)) return hr;
    hr = oFormatConverter->Initialize(oFrameDecode, GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone,
                                      nullptr, 0.0, WICBitmapPaletteTypeCustom);
    if (FAILED(hr)) return hr;
    IWICBitmapFlipRotatorPtr oFlipRotator;
    hr = oFactory->CreateBitmapFlipRotator(&oFlipRotator);
    if (FAILED(hr)) return hr;
    hr = oFlipRotator->Initialize(oFormatConverter, WICBitmapTransformFlipVertical);
    if (FAILED(hr)) return hr;
    return PutPixelsOnWindow(oFlipRotator);
}
