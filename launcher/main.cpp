// The process entry and the start-up in the order it runs, read from the top: each step that fails has
// told the user itself, and its result ends start-up and becomes the exit code.
#include "base/error_report.h"
#include "base/product.h"
#include "base/system_library.h"
#include "base/trace.h"
#include "host/app_domain.h"
#include "host/clr_binding.h"
#include "pack/cache_cleanup.h"
#include "pack/storage_extraction.h"
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
void RestoreLibrarySearch();
void InitRequiredVersions(CVersion4& verClrRequired, CVersion4& verNetfxRequired);
HRESULT LoadRuntimeShim(CVersion4 verClrRequired, CVersion4 verNetfxRequired, HMODULE& hmodMscoree);
HRESULT BindRuntime(HMODULE hmodMscoree, CVersion4 verClrRequired, CVersion4 verNetfxRequired,
                    CClrBindResult& clrresult);
} // namespace

HRESULT StartUp(HINSTANCE hInstance);
HRESULT LoadAndRunApplication();
HRESULT RunApplication(ICorRuntimeHost* pClrHost);

// The process entry: the whole start-up inside the guard that turns its outcome into the exit code.
int LauncherMain(HINSTANCE hInstance, LPWSTR, int)
{
    Trace(L"%ls %ls %ls starts: %ls", g_szMakerName, g_szProductName, CORVANE_VERSION_TEXT,
          GetCommandLineW());
    RestrictLibrarySearch();
    const int nExitCode = ExitCodeOfStartup(StartUp, hInstance);
    Trace(L"exit code 0x%08lX", static_cast<unsigned long>(nExitCode));
    return nExitCode;
}

// The system gate, COM, the splash screen, then the application.
HRESULT StartUp(HINSTANCE hInstance)
{
    RETURN_IF_FAILED(TraceStep(L"operating system", CheckOperatingSystem()));
    RETURN_IF_FAILED(TraceStep(L"COM", CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    TraceStep(L"splash screen", ShowSplashScreen(hInstance)); // best effort: a start without it goes on
    return LoadAndRunApplication();
}

// Everything after the splash screen: the runtime shim, a bound runtime, the framework check, then the
// application.
HRESULT LoadAndRunApplication()
{
    SetErrorMode(SEM_FAILCRITICALERRORS);
    CVersion4 verClrRequired;
    CVersion4 verNetfxRequired;
    InitRequiredVersions(verClrRequired, verNetfxRequired);

    HMODULE hmodMscoree = nullptr;
    RETURN_IF_FAILED(
        TraceStep(L"runtime shim", LoadRuntimeShim(verClrRequired, verNetfxRequired, hmodMscoree)));
    CClrBindResult clrresult;
    RETURN_IF_FAILED(
        TraceStep(L"runtime binding", BindRuntime(hmodMscoree, verClrRequired, verNetfxRequired, clrresult)));
    Trace(L"bound runtime %ls", static_cast<const wchar_t*>(clrresult.verClr.ToText(4)));
    RETURN_IF_FAILED(
        TraceStep(L"framework requirement",
                  CheckFrameworkRequirement(verClrRequired, verNetfxRequired, clrresult.verClr)));
    RestoreLibrarySearch();
    return RunApplication(clrresult.oClrHost);
}

// The runtime started, the pack unpacked, the domain over it, the managed entry called, the runtime
// stopped, the caches of old versions removed: the entry's result. Only a start with nothing to unpack (no
// pack, no temporary folder) gets the default domain: after a failure start-up ends, since the default
// domain's base is the executable's folder, where an assembly of the core assembly's name could wait to be
// run instead.
HRESULT RunApplication(ICorRuntimeHost* pClrHost)
{
    RETURN_IF_FAILED(TraceStep(L"runtime start", StartRuntime(pClrHost)));
    _bstr_t bsContentFolder;
    RETURN_IF_FAILED(TraceStep(L"product content", PrepareProductContent(bsContentFolder)));
    _AppDomainPtr oAppDomain;
    RETURN_IF_FAILED(
        TraceStep(L"application domain", CreateApplicationDomain(pClrHost, bsContentFolder, oAppDomain)));
    _TypePtr oType;
    RETURN_IF_FAILED(TraceStep(L"entry type", LoadEntryType(oAppDomain, oType)));
    int nResult = 0;
    RETURN_IF_FAILED(TraceStep(L"entry method", InvokeEntryMethod(oType, nResult)));
    Trace(L"the application returned %d", nResult);
    RETURN_IF_FAILED(TraceStep(L"runtime stop", StopRuntime(pClrHost)));
    // Best effort and silent: the application has done its work whatever becomes of old folders.
    TraceStep(L"old versions", RemoveOldContentVersions(bsContentFolder));
    return nResult;
}

namespace
{
// The launcher loads its own libraries by full path from the system folder. While its own steps run, a
// library that the system loads for it by name is not looked for in the working folder, where a planted
// DLL could wait. SetDllDirectoryW is younger than the oldest supported system: it is looked up.
void SetLibrarySearchFolder(LPCWSTR pszFolder)
{
    typedef BOOL(WINAPI * PfnSetDllDirectoryW)(LPCWSTR);
    if (const auto pfn =
            GetModuleExport<PfnSetDllDirectoryW>(GetModuleHandleW(L"kernel32.dll"), "SetDllDirectoryW"))
        pfn(pszFolder);
}

void RestrictLibrarySearch()
{
    SetLibrarySearchFolder(L"");
}

// The application runs in this process and gets the search order of a process started normally: its own
// SetDllDirectoryW and bare-name loads must work as they would there. (A process-wide
// SetDefaultDllDirectories cannot be undone, so the launcher never makes that call.)
void RestoreLibrarySearch()
{
    SetLibrarySearchFolder(nullptr);
}

// The two minimum versions the application demands of the runtime and of the framework.
void InitRequiredVersions(CVersion4& verClrRequired, CVersion4& verNetfxRequired)
{
    verNetfxRequired = CVersion4(CORVANE_NETFX_REQUIRED);
    verClrRequired = CVersion4(CORVANE_CLR_REQUIRED);
}

// The shim from the system folder only: a "mscoree.dll" planted beside a downloaded executable, or in
// the working folder, must never be loaded in its place. Without it there is no runtime at all: the
// requirements box says so, and the start ends with E_NOINTERFACE, not the load's own error, by design.
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
