// The splash picture: resource 129 decoded by the imaging component and put on the layered window.
#pragma once

#include "base/com_support.h"

#include <wincodec.h>

_COM_SMARTPTR_TYPEDEF(IWICImagingFactory, __uuidof(IWICImagingFactory));
_COM_SMARTPTR_TYPEDEF(IWICStream, __uuidof(IWICStream));
_COM_SMARTPTR_TYPEDEF(IWICBitmapDecoder, __uuidof(IWICBitmapDecoder));
_COM_SMARTPTR_TYPEDEF(IWICBitmapFrameDecode, __uuidof(IWICBitmapFrameDecode));
_COM_SMARTPTR_TYPEDEF(IWICFormatConverter, __uuidof(IWICFormatConverter));
_COM_SMARTPTR_TYPEDEF(IWICBitmapFlipRotator, __uuidof(IWICBitmapFlipRotator));

namespace corvane
{
// The resource bytes in place, and their size.
HRESULT LoadSplashImageResource(const BYTE*& pResBytes, DWORD& dwSize);

// Decodes the picture, gives it to the window at 229/255 opacity, centres and shows the window. The
// picture is kept for the progress drawn over it.
HRESULT RenderSplashImage(HWND hwnd);

// The picture again with a slim bar over its bottom edge that shows this share done; nothing without a
// picture shown. Best effort: a bar that cannot be drawn leaves the picture as it was.
void DrawSplashProgress(HWND hwnd, ULONGLONG ullDone, ULONGLONG ullTotal);
} // namespace corvane
