// The process entry: the fixed order of the start-up steps and the exit-code convention.
#include "error_report.h"
#include "main_flow.h"
#include "requirements/os_requirement.h"
#include "splash/splash_window.h"

#include <new>

namespace
{
int ExitCodeOf(long n)
{
    return n != 0 ? static_cast<int>(n) : static_cast<int>(E_FAIL);
}

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
    ShowSplashScreen(hInstance);
    hr = LoadAndRunApplication();
    return FAILED(hr) ? hr : S_OK;
}
} // namespace

int LauncherMain(HINSTANCE hInstance, LPWSTR, int)
{
    RestrictLibrarySearch();
    try
    {
        return RunStartup(hInstance);
    }
    catch (int n)
    {
        return ExitCodeOf(n);
    }
    catch (unsigned int n)
    {
        return ExitCodeOf(static_cast<long>(n));
    }
    catch (long n)
    {
        return ExitCodeOf(n);
    }
    catch (unsigned long n)
    {
        return ExitCodeOf(static_cast<long>(n));
    }
    catch (const CHresultException& e)
    {
        return ExitCodeOf(e.GetHresult());
    }
    // Anything else would end in the runtime library's abort box: tell the user once and end with its code.
    catch (const _com_error& error)
    {
        ReportComError(error, L"The start-up ended with an unexpected error.");
        return ExitCodeOf(error.Error());
    }
    catch (const std::bad_alloc&)
    {
        ReportHresult(E_OUTOFMEMORY, IErrorInfoPtr(), L"The start-up ended with an unexpected error.");
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        ReportHresult(E_UNEXPECTED, IErrorInfoPtr(), L"The start-up ended with an unexpected error.");
        return E_UNEXPECTED;
    }
}

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR pszCmdLine, int nCmdShow)
{
    return LauncherMain(hInstance, pszCmdLine, nCmdShow);
}
