// The process entry: the fixed order of the start-up steps.
#include "main_flow.h"
#include "requirements/os_requirement.h"
#include "splash/splash_window.h"
#include "startup_guard.h"

namespace corvane
{
namespace
{
template <class TProc> TProc GetKernelExport(const char* szName)
{
    return reinterpret_cast<TProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), szName)));
}

// Libraries are looked for in the system folder only, never in the executable's or the working folder,
// where a planted DLL could wait. Both calls are younger than the oldest supported system: look them up.
void RestrictLibrarySearch()
{
    typedef BOOL(WINAPI * PfnSetDefaultDllDirectories)(DWORD);
    typedef BOOL(WINAPI * PfnSetDllDirectoryW)(LPCWSTR);
    if (const auto pfn = GetKernelExport<PfnSetDefaultDllDirectories>("SetDefaultDllDirectories"))
        pfn(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (const auto pfn = GetKernelExport<PfnSetDllDirectoryW>("SetDllDirectoryW")) pfn(L"");
}

HRESULT RunStartup(HINSTANCE hInstance)
{
    HRESULT hr = CheckOperatingSystem();
    if (FAILED(hr)) return hr;
    hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) return hr;
    ShowSplashScreen(hInstance); // best effort: a start-up without a splash goes on
    return LoadAndRunApplication();
}
} // namespace

int LauncherMain(HINSTANCE hInstance, LPWSTR, int)
{
    RestrictLibrarySearch();
    return RunGuardedStartup(RunStartup, hInstance);
}
} // namespace corvane

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR pszCmdLine, int nCmdShow)
{
    return corvane::LauncherMain(hInstance, pszCmdLine, nCmdShow);
}
