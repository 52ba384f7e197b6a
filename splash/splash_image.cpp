// The splash picture: PNG to premultiplied, upright 32-bit pixels in one pass, then UpdateLayeredWindow.
#include "splash_image.h"

#include "base/error_report.h"
#include "base/module_resource.h"
#include "base/product.h"
#include "base/unique_any.h"

namespace corvane
{
namespace
{
HRESULT LastErrorResult()
{
    return HRESULT_FROM_WIN32(GetLastError());
}

// Draws the converted picture onto the window; the imaging objects outlive the GDI handles.
HRESULT PutPixelsOnWindow(HWND hwnd, IWICBitmapFlipRotator* pFlipRotator)
{
    UINT dwWidth = 0;
    UINT dwHeight = 0;
    RETURN_IF_FAILED(pFlipRotator->GetSize(&dwWidth, &dwHeight));

    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = static_cast<LONG>(dwWidth);
    bmi.bmiHeader.biHeight = static_cast<LONG>(dwHeight); // positive: rows run bottom-up
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    bmi.bmiHeader.biSizeImage = dwWidth * 4 * dwHeight;

    // The drawing objects are undone in the reverse order of these lines: the bitmap is selected out
    // of the memory context, then the bitmap, the screen context and the memory context are deleted.
    CUniqueHdc hdcMemory;
    CUniqueHdc hdcScreen;
    CUniqueHBitmap hBitmap;
    void* pBitmapBits = nullptr;
    hBitmap.Reset(CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &pBitmapBits, nullptr, 0));
    if (!hBitmap.IsValid()) return LastErrorResult();

    // Decode, convert and flip in one pass, straight into the bitmap's memory.
    const WICRect rect = {0, 0, static_cast<INT>(dwWidth), static_cast<INT>(dwHeight)};
    RETURN_IF_FAILED(pFlipRotator->CopyPixels(&rect, dwWidth * 4, dwWidth * 4 * dwHeight,
                                              static_cast<BYTE*>(pBitmapBits)));

    POINT ptScreen;
    ptScreen.x = static_cast<LONG>((static_cast<DWORD>(GetSystemMetrics(SM_CXSCREEN)) - dwWidth) >> 1);
    ptScreen.y = static_cast<LONG>((static_cast<DWORD>(GetSystemMetrics(SM_CYSCREEN)) - dwHeight) >> 1);

    hdcScreen.Reset(CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
    if (!hdcScreen.IsValid()) return LastErrorResult();
    hdcMemory.Reset(CreateCompatibleDC(hdcScreen.Get()));
    if (!hdcMemory.IsValid()) return LastErrorResult();
    const HGDIOBJ hPrevious = SelectObject(hdcMemory.Get(), hBitmap.Get());
    if (!hPrevious) return LastErrorResult();
    CScopeGuard restoreSelection([&] { SelectObject(hdcMemory.Get(), hPrevious); });

    SIZE size = {static_cast<LONG>(dwWidth), static_cast<LONG>(dwHeight)};
    POINT ptSource = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 229, AC_SRC_ALPHA};
    if (!UpdateLayeredWindow(hwnd, hdcScreen.Get(), &ptScreen, &size, hdcMemory.Get(), &ptSource, 0, &blend,
                             ULW_ALPHA))
        return LastErrorResult();
    if (!SetWindowPos(hwnd, HWND_TOP, ptScreen.x, ptScreen.y, size.cx, size.cy,
                      SWP_FRAMECHANGED | SWP_SHOWWINDOW))
        return LastErrorResult();
    return S_OK;
}
} // namespace

HRESULT LoadSplashImageResource(const BYTE*& pResBytes, DWORD& dwSize)
{
    DWORD dwError = 0;
    if (LoadRcdataResource(CORVANE_SPLASH_RESOURCE_ID, pResBytes, dwSize, dwError) != ResourceReady)
        return HRESULT_FROM_WIN32(dwError);
    return S_OK;
}

HRESULT RenderSplashImage(HWND hwnd)
{
    const BYTE* pResBytes = nullptr;
    DWORD dwSize = 0;
    RETURN_IF_FAILED(LoadSplashImageResource(pResBytes, dwSize));

    IWICImagingFactoryPtr oFactory;
    RETURN_IF_FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, reinterpret_cast<void**>(&oFactory)));
    IWICStreamPtr oStream;
    RETURN_IF_FAILED(oFactory->CreateStream(&oStream));
    RETURN_IF_FAILED(oStream->InitializeFromMemory(const_cast<BYTE*>(pResBytes), dwSize));
    IWICBitmapDecoderPtr oDecoder;
    RETURN_IF_FAILED(
        oFactory->CreateDecoderFromStream(oStream, nullptr, WICDecodeMetadataCacheOnDemand, &oDecoder));
    IWICBitmapFrameDecodePtr oFrameDecode;
    RETURN_IF_FAILED(oDecoder->GetFrame(0, &oFrameDecode));
    IWICFormatConverterPtr oFormatConverter;
    RETURN_IF_FAILED(oFactory->CreateFormatConverter(&oFormatConverter));
    RETURN_IF_FAILED(oFormatConverter->Initialize(oFrameDecode, GUID_WICPixelFormat32bppPBGRA,
                                                  WICBitmapDitherTypeNone, nullptr, 0.0,
                                                  WICBitmapPaletteTypeCustom));
    IWICBitmapFlipRotatorPtr oFlipRotator;
    RETURN_IF_FAILED(oFactory->CreateBitmapFlipRotator(&oFlipRotator));
    RETURN_IF_FAILED(oFlipRotator->Initialize(oFormatConverter, WICBitmapTransformFlipVertical));
    return PutPixelsOnWindow(hwnd, oFlipRotator);
}
} // namespace corvane
