// shell32 is mapped when first needed, not at start: with its dependencies it is a measurable share of a
// start (most of all under emulation), and a start whose cache folders all exist never calls it.
#include "system_library.h"

#include <cwchar>

namespace corvane
{
namespace
{
typedef int(WINAPI* PfnSHCreateDirectory)(HWND hwnd, LPCWSTR pszPath);
typedef HINSTANCE(WINAPI* PfnShellExecuteW)(HWND hwnd, LPCWSTR pszVerb, LPCWSTR pszFile,
                                            LPCWSTR pszParameters, LPCWSTR pszDirectory, INT nShowCmd);

HMODULE GetShellLibrary()
{
    static const HMODULE s_hmodShell = LoadSystemLibrary(L"shell32.dll");
    return s_hmodShell;
}

template <class TProc> TProc GetShellExport(const char* szName)
{
    return GetModuleExport<TProc>(GetShellLibrary(), szName);
}
} // namespace

HMODULE LoadSystemLibrary(const wchar_t* szFileName)
{
    wchar_t szPath[MAX_PATH];
    const UINT cch = GetSystemDirectoryW(szPath, MAX_PATH);
    if (cch == 0 || cch + 1 + wcslen(szFileName) >= MAX_PATH)
    {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    szPath[cch] = L'\\';
    wcscpy(szPath + cch + 1, szFileName);
    return LoadLibraryW(szPath);
}

int CreateFolderTree(const wchar_t* szPath)
{
    // Where the parent is there, as for every subfolder of the walk, CreateDirectoryW makes the same folder;
    // under Wine it costs several milliseconds less a folder than SHCreateDirectory, which is kept for the
    // missing parents and for the code of a failure.
    if (CreateDirectoryW(szPath, nullptr)) return ERROR_SUCCESS;
    // SHCreateDirectory is exported by ordinal 165 on every supported system, by name only on later ones.
    const auto pfn = GetShellExport<PfnSHCreateDirectory>(MAKEINTRESOURCEA(165));
    // A defined code, never the last error: shell32 was loaded (or not) at an earlier call.
    if (!pfn) return GetShellLibrary() ? ERROR_PROC_NOT_FOUND : ERROR_MOD_NOT_FOUND;
    return pfn(nullptr, szPath);
}

void OpenWithShell(const wchar_t* szTarget, int nShowCommand)
{
    if (const auto pfn = GetShellExport<PfnShellExecuteW>("ShellExecuteW"))
        pfn(nullptr, nullptr, szTarget, nullptr, nullptr, nShowCommand);
}
} // namespace corvane
