// The splash window: a layered popup that shows the packed picture while the launcher starts.
#pragma once

#include "base/com_support.h"

namespace corvane
{
// The splash window's handle: null until it has been created, never cleared afterwards.
extern HWND g_hwndSplash;

// S_OK when the window was created, given its picture and shown; otherwise the first failure.
HRESULT ShowSplashScreen(HINSTANCE hInstance);
} // namespace corvane
