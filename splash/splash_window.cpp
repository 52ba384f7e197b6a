// The splash window: its class, the hidden layered popup, the first drain of its message queue, and the
// progress shown on it.
#include "splash_window.h"

#include "base/error_report.h"
#include "base/message_pump.h"
#include "base/progress.h"
#include "base/product.h"
#include "splash_image.h"

#include <strsafe.h>

namespace corvane
{
HWND g_hwndSplash = nullptr;
HINSTANCE g_hInstance = nullptr;

namespace
{
const wchar_t c_szSplashClass[] = CORVANE_MAKER_NAME L"LauncherSplash";

// The layered window keeps its picture, and clicks or keys never close it: Alt+F4 and the taskbar's Close
// arrive as SC_CLOSE, which default processing would turn into WM_CLOSE and DestroyWindow. WM_CLOSE itself
// still works, for the application that is handed the window.
LRESULT CALLBACK SplashWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) return 0;
    return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}

HRESULT RegisterSplashWindowClass()
{
    WNDCLASSEXW wcex = {};
    wcex.cbSize = sizeof(wcex);
    wcex.style = CS_DROPSHADOW;
    wcex.lpfnWndProc = SplashWindowProc;
    wcex.hInstance = g_hInstance;
    wcex.hIcon = LoadIconW(g_hInstance, MAKEINTRESOURCEW(CORVANE_ICON_RESOURCE_ID));
    wcex.hCursor = LoadCursorW(nullptr, IDC_WAIT);
    wcex.lpszClassName = c_szSplashClass;
    wcex.hIconSm = LoadIconW(g_hInstance, MAKEINTRESOURCEW(CORVANE_ICON_RESOURCE_ID));
    return RegisterClassExW(&wcex) != 0 ? S_OK : E_FAIL;
}

HRESULT CreateSplashWindow()
{
    wchar_t szCaption[4096];
    StringCchPrintfW(szCaption, 4096, L"Starting %s %s", g_szMakerName, g_szProductName);
    g_hwndSplash =
        CreateWindowExW(WS_EX_LAYERED, c_szSplashClass, szCaption, WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, g_hInstance, nullptr);
    // The window owns the error boxes from now on, shown or not.
    SetMessageBoxOwner(g_hwndSplash);
    return g_hwndSplash ? S_OK : E_FAIL;
}

void ShowProgressOnSplash(ULONGLONG ullDone, ULONGLONG ullTotal)
{
    if (IsWindow(g_hwndSplash)) DrawSplashProgress(g_hwndSplash, ullDone, ullTotal);
}
} // namespace

HRESULT ShowSplashScreen(HINSTANCE hInstance)
{
    g_hInstance = hInstance;
    RETURN_IF_FAILED(RegisterSplashWindowClass());
    RETURN_IF_FAILED(CreateSplashWindow());
    RETURN_IF_FAILED(RenderSplashImage(g_hwndSplash));
    // A long first start shows on the picture how far its unpacking has come.
    SetProgressSink(ShowProgressOnSplash);
    PumpWaitingMessages();
    return S_OK;
}
} // namespace corvane
