// The process entry and the start-up in the order it runs, read from the top: each step that fails has
// told the user itself, and its result ends start-up and becomes the exit code.
#include "base/error_report.h"
#include "base/product.h"
#include "base/system_library.h"
#include "host/app_domain.h"
#include "host/clr_binding.h"
#include "requirements/framework_survey.h"
#include "requirements/os_requirement.h"
#include "requirements/runtime_requirements_dialog.h"
#include "splash/splash_window.h"
#include "startup_guard.h"

namespace corvane
{
namespace
{
void RestrictLibrarySearch();
void InitRequiredVersions(CVersion4& verClrRequired, CVersion4& verNetfxRequired);
HRESULT LoadRuntimeShim(CVersion4 verClrRequired, CVersion4 verNetfxRequired, HMODULE& hmodMscoree);
HRESULT BindRuntime(HMODULE hmodMscoree, CVersion4 verClrRequired, CVersion4 verNetfxRequired,
                    CClrBindResult& clrresult);
} // namespace

HRESULT StartUp(HINSTANCE hInstance);
HRESULT LoadAndRunApplication();

// The process entry: the whole start-up inside the guard that turns its outcome into the exit code.
int LauncherMain(HINSTANCE hInstance, LPWSTR, int)
{
    RestrictLibrarySearch();
    return ExitCodeOfStartup(StartUp, hInstance);
}

// The system gate, COM, the splash screen, then the application.
HRESULT StartUp(HINSTANCE hInstance)
{
    RETURN_IF_FAILED(CheckOperatingSystem());
    RETURN_IF_FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ShowSplashScreen(hInstance); // best effort: a start-up without a splash goes on
    return LoadAndRunApplication();
}

// Everything after the splash screen: the runtime shim, a bound runtime, the framework check, and the
// application step, inside which the managed application runs (host/app_domain.cpp).
HRESULT LoadAndRunApplication()
{
    SetErrorMode(SEM_FAILCRITICALERRORS);
    CVersion4 verClrRequired;
    CVersion4 verNetfxRequired;
    InitRequiredVersions(verClrRequired, verNetfxRequired);

    HMODULE hmodMscoree = nullptr;
    RETURN_IF_FAILED(LoadRuntimeShim(verClrRequired, verNetfxRequired, hmodMscoree));
    CClrBindResult clrresult;
    RETURN_IF_FAILED(BindRuntime(hmodMscoree, verClrRequired, verNetfxRequired, clrresult));
    RETURN_IF_FAILED(CheckFrameworkRequirement(verClrRequired, verNetfxRequired, clrresult.verClr));
    return RunManagedApplication(clrresult.oClrHost);
}

namespace
{
// Libraries are looked for in the system folder only, never in the executable's or the working folder,
// where a planted DLL could wait. Both calls are younger than the oldest supported system: look them up.
void RestrictLibrarySearch()
{
    typedef BOOL(WINAPI * PfnSetDefaultDllDirectories)(DWORD);
    typedef BOOL(WINAPI * PfnSetDllDirectoryW)(LPCWSTR);
    const HMODULE hmodKernel = GetModuleHandleW(L"kernel32.dll");
    if (const auto pfn = GetModuleExport<PfnSetDefaultDllDirectories>(hmodKernel, "SetDefaultDllDirectories"))
        pfn(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (const auto pfn = GetModuleExport<PfnSetDllDirectoryW>(hmodKernel, "SetDllDirectoryW")) pfn(L"");
}

// The two minimum versions the application demands of the runtime and of the framework.
void InitRequiredVersions(CVersion4& verClrRequired, CVersion4& verNetfxRequired)
{
    verNetfxRequired = CVersion4(CORVANE_NETFX_REQUIRED);
    verClrRequired = CVersion4(CORVANE_CLR_REQUIRED);
}

// The shim from the system folder only: a "mscoree.dll" planted beside a downloaded executable, or in
// the working folder, must never be loaded in its place. Without it there is no runtime at all.
HRESULT LoadRuntimeShim(CVersion4 verClrRequired, CVersion4 verNetfxRequired, HMODULE& hmodMscoree)
{
    hmodMscoree = LoadSystemLibrary(L"mscoree.dll");
    return hmodMscoree ? S_OK
                       : ExplainMissingRuntime(CVersion4(), verClrRequired, verNetfxRequired, E_NOINTERFACE);
}

// Through the version-4 interfaces, or the version-2 ones where the shim predates them.
HRESULT BindRuntime(HMODULE hmodMscoree, CVersion4 verClrRequired, CVersion4 verNetfxRequired,
                    CClrBindResult& clrresult)
{
    HRESULT hr = BindClrV4(hmodMscoree, verClrRequired, verNetfxRequired, clrresult);
    if (hr == S_FALSE) hr = BindClrV2(hmodMscoree, verClrRequired, verNetfxRequired, clrresult);
    if (hr == S_FALSE) return ExplainMissingRuntime(CVersion4(), verClrRequired, verNetfxRequired, E_FAIL);
    return hr;
}
} // namespace
} // namespace corvane

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR pszCmdLine, int nCmdShow)
{
    return corvane::LauncherMain(hInstance, pszCmdLine, nCmdShow);
}
