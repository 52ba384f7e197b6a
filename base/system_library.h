// Libraries of the system folder loaded by full path, exports looked up by type, and shell32's two calls with
// shell32 loaded on first use.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace corvane
{
// The library of that file name from the system folder, never one found elsewhere; null when it cannot be
// loaded (GetLastError tells why). It stays loaded for the process's life.
HMODULE LoadSystemLibrary(const wchar_t* szFileName);

// An export of a loaded module as the function type the caller declares; null when there is none.
template <class TProc> TProc GetModuleExport(HMODULE hmod, const char* szName)
{
    return hmod ? reinterpret_cast<TProc>(reinterpret_cast<void*>(GetProcAddress(hmod, szName))) : nullptr;
}

// The folder and every missing one above it, with SHCreateDirectory's codes (ERROR_SUCCESS, or
// ERROR_ALREADY_EXISTS or ERROR_FILE_EXISTS when an item of that name is there, or the failure's).
int CreateFolderTree(const wchar_t* szPath);

// ShellExecuteW with the default verb and no owner, parameters or folder; its result is not looked at.
void OpenWithShell(const wchar_t* szTarget, int nShowCommand);
} // namespace corvane
