// The splash picture: resource 129 decoded by the imaging component and put on the layered window.
#pragma once

#include "base/com_support.h"

namespace corvane
{
// The resource bytes in place, and their size.
HRESULT LoadSplashImageResource(const BYTE*& pResBytes, DWORD& dwSize);

// Decodes the picture, gives it to the splash window at 229/255 opacity, centres and shows the window.
HRESULT RenderSplashImage();
} // namespace corvane
