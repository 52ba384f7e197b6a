// The splash picture: PNG to premultiplied, upright 32-bit pixels in one pass, then UpdateLayeredWindow;
// again with a progress bar over it while a long first start unpacks.
#include "splash_image.h"

#include "base/error_report.h"
#include "base/module_resource.h"
#include "base/product.h"
#include "base/unique_any.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>

namespace corvane
{
namespace
{
HRESULT LastErrorResult()
{
    return HRESULT_FROM_WIN32(GetLastError());
}

// The picture as the window shows it, premultiplied, rows bottom-up: kept for the progress drawn over it.
struct CSplashPicture
{
    std::unique_ptr<BYTE[]> pbPixels;
    UINT cx = 0;
    UINT cy = 0;
    POINT ptScreen = {};
    UINT cxProgress = UINT_MAX; // the length of the progress bar shown; UINT_MAX: none
};
CSplashPicture g_picture;

// The slim bar over the picture's bottom edge; its colour is set when building (0xRRGGBB).
const UINT c_cyProgressBar = 4;
const DWORD c_rgbProgressBar = CORVANE_SPLASH_PROGRESS_RGB;

// The bar in the bitmap's first rows (the picture's bottom edge): the part done in the bar's colour, the
// rest of the picture's edge dimmed, so that the whole length shows from the start.
void DrawProgressBar(BYTE* pbBits, UINT cx, UINT cy, UINT cxDone)
{
    const UINT cyBar = cy < c_cyProgressBar ? cy : c_cyProgressBar;
    for (UINT y = 0; y < cyBar; ++y)
        for (UINT x = 0; x < cx; ++x)
        {
            BYTE* pb = pbBits + (static_cast<size_t>(y) * cx + x) * 4;
            if (x < cxDone)
            {
                pb[0] = static_cast<BYTE>(c_rgbProgressBar & 0xFF);
                pb[1] = static_cast<BYTE>(c_rgbProgressBar >> 8 & 0xFF);
                pb[2] = static_cast<BYTE>(c_rgbProgressBar >> 16 & 0xFF);
                pb[3] = 0xFF;
            }
            else
                for (int n = 0; n < 3; ++n)
                    pb[n] = static_cast<BYTE>(pb[n] / 2);
        }
}

// Puts the kept picture, with a progress bar of that length when there is one, on the window at
// 229/255 opacity.
HRESULT PutPictureOnWindow(HWND hwnd, bool fProgress, UINT cxProgress)
{
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = static_cast<LONG>(g_picture.cx);
    bmi.bmiHeader.biHeight = static_cast<LONG>(g_picture.cy); // positive: rows run bottom-up
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    bmi.bmiHeader.biSizeImage = g_picture.cx * 4 * g_picture.cy;

    // The drawing objects are undone in the reverse order of these lines: the bitmap is selected out
    // of the memory context, then the bitmap, the screen context and the memory context are deleted.
    CUniqueHdc hdcMemory;
    CUniqueHdc hdcScreen;
    CUniqueHBitmap hBitmap;
    void* pBitmapBits = nullptr;
    hBitmap.Reset(CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &pBitmapBits, nullptr, 0));
    if (!hBitmap.IsValid()) return LastErrorResult();
    memcpy(pBitmapBits, g_picture.pbPixels.get(), bmi.bmiHeader.biSizeImage);
    if (fProgress) DrawProgressBar(static_cast<BYTE*>(pBitmapBits), g_picture.cx, g_picture.cy, cxProgress);

    hdcScreen.Reset(CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
    if (!hdcScreen.IsValid()) return LastErrorResult();
    hdcMemory.Reset(CreateCompatibleDC(hdcScreen.Get()));
    if (!hdcMemory.IsValid()) return LastErrorResult();
    const HGDIOBJ hPrevious = SelectObject(hdcMemory.Get(), hBitmap.Get());
    if (!hPrevious) return LastErrorResult();
    CScopeGuard restoreSelection([&] { SelectObject(hdcMemory.Get(), hPrevious); });

    SIZE size = {static_cast<LONG>(g_picture.cx), static_cast<LONG>(g_picture.cy)};
    POINT ptSource = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 229, AC_SRC_ALPHA};
    if (!UpdateLayeredWindow(hwnd, hdcScreen.Get(), &g_picture.ptScreen, &size, hdcMemory.Get(), &ptSource, 0,
                             &blend, ULW_ALPHA))
        return LastErrorResult();
    return S_OK;
}

// Decodes, converts and flips in one pass into the kept picture, centred on the screen.
HRESULT KeepPicture(IWICBitmapFlipRotator* pFlipRotator)
{
    UINT cx = 0;
    UINT cy = 0;
    RETURN_IF_FAILED(pFlipRotator->GetSize(&cx, &cy));
    const size_t cbPixels = static_cast<size_t>(cx) * 4 * cy;
    std::unique_ptr<BYTE[]> pbPixels(new (std::nothrow) BYTE[cbPixels]);
    if (!pbPixels) return E_OUTOFMEMORY;
    const WICRect rect = {0, 0, static_cast<INT>(cx), static_cast<INT>(cy)};
    RETURN_IF_FAILED(pFlipRotator->CopyPixels(&rect, cx * 4, static_cast<UINT>(cbPixels), pbPixels.get()));

    g_picture.pbPixels = std::move(pbPixels);
    g_picture.cx = cx;
    g_picture.cy = cy;
    g_picture.ptScreen.x = static_cast<LONG>((static_cast<DWORD>(GetSystemMetrics(SM_CXSCREEN)) - cx) >> 1);
    g_picture.ptScreen.y = static_cast<LONG>((static_cast<DWORD>(GetSystemMetrics(SM_CYSCREEN)) - cy) >> 1);
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
    RETURN_IF_FAILED(KeepPicture(oFlipRotator));
    RETURN_IF_FAILED(PutPictureOnWindow(hwnd, false, 0));
    if (!SetWindowPos(hwnd, HWND_TOP, g_picture.ptScreen.x, g_picture.ptScreen.y,
                      static_cast<int>(g_picture.cx), static_cast<int>(g_picture.cy),
                      SWP_FRAMECHANGED | SWP_SHOWWINDOW))
        return LastErrorResult();
    return S_OK;
}

void DrawSplashProgress(HWND hwnd, ULONGLONG ullDone, ULONGLONG ullTotal)
{
    if (!g_picture.pbPixels || ullTotal == 0) return;
    const UINT cxDone = static_cast<UINT>(ullDone * g_picture.cx / ullTotal);
    // Drawn again only when it has grown by a pixel.
    if (cxDone == g_picture.cxProgress) return;
    if (SUCCEEDED(PutPictureOnWindow(hwnd, true, cxDone))) g_picture.cxProgress = cxDone;
}
} // namespace corvane
