// The operating-system gate: refuses Windows older than NT 5.1 with a box of its own.
#include "os_requirement.h"

#include "base/event_log.h"
#include "base/product.h"

#include <strsafe.h>

namespace corvane
{
bool IsSupportedOperatingSystem(bool fQueried, const OSVERSIONINFOW& osvi)
{
    if (!fQueried || osvi.dwPlatformId != VER_PLATFORM_WIN32_NT) return false;
    return osvi.dwMajorVersion > 5 || (osvi.dwMajorVersion == 5 && osvi.dwMinorVersion >= 1);
}

HRESULT CheckOperatingSystem()
{
    OSVERSIONINFOW osvi = {};
    osvi.dwOSVersionInfoSize = sizeof(osvi);
    // The gate needs the version that the system reports to this executable, deprecated or not.
#ifdef _MSC_VER
#pragma warning(suppress : 4996)
#endif
    const bool fQueried = GetVersionExW(&osvi) != FALSE;
    if (IsSupportedOperatingSystem(fQueried, osvi)) return S_OK;

    wchar_t szText[4096];
    StringCchPrintfW(szText, 4096,
                     L"%s %s currently requires Windows NT 5.1 or higher to run. Your operation system "
                     L"version is not supported.",
                     g_szMakerName, g_szProductName);
    wchar_t szCaption[4096];
    StringCchPrintfW(szCaption, 4096, L"%s \x2013 System Requirements", g_szProductName);
    WriteBoxEvent(szText, E_ABORT);
    MessageBoxW(nullptr, szText, szCaption, MB_OK | MB_ICONERROR);
    return E_ABORT;
}
} // namespace corvane
