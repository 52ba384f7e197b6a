// Cache file operations that wait out holders and never follow links.
#include "cache_files.h"

#include "base/error_report.h"
#include "base/message_pump.h"

namespace corvane
{
namespace
{
// A read-only item of the cache is the launcher's all the same: the attribute goes. True when it was set.
bool ClearReadOnly(const wchar_t* szPath)
{
    const DWORD dwAttributes = GetFileAttributesW(szPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_READONLY) &&
           SetFileAttributesW(szPath, dwAttributes & ~FILE_ATTRIBUTE_READONLY);
}

// Runs an operation that sets the last error on failure until it succeeds, fails otherwise than a holder
// makes it fail, or the bound is reached: ERROR_SUCCESS or the last failure. A link is held by nobody: a
// link the system refuses to remove is refused at once.
template <class TOperation>
DWORD RetryWhileHeld(const wchar_t* szPath, TOperation operation, DWORD dwHeldWaitMs = c_dwHeldFileWaitMs,
                     bool fLink = false)
{
    CHeldFileWait wait(dwHeldWaitMs);
    for (;;)
    {
        if (operation()) return ERROR_SUCCESS;
        const DWORD dwError = GetLastError();
        if (dwError == ERROR_ACCESS_DENIED && ClearReadOnly(szPath)) continue;
        if ((fLink && dwError == ERROR_ACCESS_DENIED) || !wait.PauseAfter(dwError))
            return dwError == ERROR_SUCCESS ? ERROR_GEN_FAILURE : dwError;
    }
}

DWORD RemoveFolderContents(const _bstr_t& bsFolder, DWORD dwHeldWaitMs)
{
    WIN32_FIND_DATAW fd;
    const HANDLE hFind = FindFirstFileW(Joined({bsFolder, L"\\*"}), &fd);
    if (hFind == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : GetLastError();
    const CUniqueAny<HANDLE, &FindClose, -1> find(hFind);
    do
    {
        if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0) continue;
        const HRESULT hr = RemoveCacheItem(Joined({bsFolder, L"\\", fd.cFileName}), dwHeldWaitMs);
        if (FAILED(hr)) return HRESULT_CODE(hr);
    } while (FindNextFileW(find.Get(), &fd));
    return GetLastError() == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : GetLastError();
}
} // namespace

bool CHeldFileWait::PauseAfter(DWORD dwError)
{
    const DWORD dwElapsed = GetTickCount() - m_dwStart;
    if (!IsHeldFileError(dwError) || dwElapsed >= m_dwBoundMs) return false;
    const DWORD dwLeft = m_dwBoundMs - dwElapsed;
    WaitPumpingMessages(nullptr, m_dwPauseMs < dwLeft ? m_dwPauseMs : dwLeft);
    if (m_dwPauseMs < 1000) m_dwPauseMs *= 2;
    return true;
}

bool IsHeldFileError(DWORD dwError)
{
    return dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION ||
           dwError == ERROR_ACCESS_DENIED;
}

HRESULT ReportHeldFile(DWORD dwError, const _bstr_t& bsPath)
{
    return ReportWin32Error(dwError,
                            Joined({L"Another program is using the product content file ", Quoted(bsPath),
                                    L" and did not let go of it within 50 seconds. Close that "
                                    L"program, or wait until it is done, and start again."}));
}

DWORD OpenCacheFileForWriting(const _bstr_t& bsPath, CUniqueHFile& hFile)
{
    return RetryWhileHeld(bsPath, [&] {
        hFile.Reset(CreateFileW(bsPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        return hFile.IsValid();
    });
}

HRESULT CreateCacheFile(const _bstr_t& bsPath, const wchar_t* pszSentence, CUniqueHFile& hFile)
{
    const DWORD dwError = OpenCacheFileForWriting(bsPath, hFile);
    if (dwError == ERROR_SUCCESS) return S_OK;
    // Access denied to a folder standing in the file's place is no holder's doing.
    if (IsHeldFileError(dwError) && GetItemKind(bsPath) == EItemKind::File)
        return ReportHeldFile(dwError, bsPath);
    return ReportWin32Error(dwError, pszSentence);
}

HRESULT RemoveCacheItem(const _bstr_t& bsPath, DWORD dwHeldWaitMs)
{
    DWORD dwError = ERROR_SUCCESS;
    switch (GetItemKind(bsPath))
    {
    case EItemKind::None:
        return S_OK;
    case EItemKind::File:
        dwError = RetryWhileHeld(
            bsPath, [&] { return DeleteFileW(bsPath) != FALSE; }, dwHeldWaitMs);
        break;
    case EItemKind::Link:
        // A link to a folder goes with RemoveDirectoryW, one to a file with DeleteFileW; neither enters it.
        dwError = RetryWhileHeld(
            bsPath, [&] { return RemoveDirectoryW(bsPath) != FALSE || DeleteFileW(bsPath) != FALSE; },
            dwHeldWaitMs, true);
        break;
    case EItemKind::Folder:
        dwError = RemoveFolderContents(bsPath, dwHeldWaitMs);
        if (dwError == ERROR_SUCCESS)
            dwError = RetryWhileHeld(
                bsPath, [&] { return RemoveDirectoryW(bsPath) != FALSE; }, dwHeldWaitMs);
        break;
    }
    return HRESULT_FROM_WIN32(dwError);
}

EItemKind GetItemKind(const wchar_t* szPath, ULONGLONG* pcbSize)
{
    WIN32_FILE_ATTRIBUTE_DATA attrs = {};
    const bool fFound = GetFileAttributesExW(szPath, GetFileExInfoStandard, &attrs) != FALSE;
    if (pcbSize) *pcbSize = static_cast<ULONGLONG>(attrs.nFileSizeHigh) << 32 | attrs.nFileSizeLow;
    if (!fFound) return EItemKind::None;
    if (attrs.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return EItemKind::Link;
    return attrs.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? EItemKind::Folder : EItemKind::File;
}

bool IsFileOfSize(const _bstr_t& bsPath, ULARGE_INTEGER size)
{
    ULONGLONG cbOnDisk = 0;
    return GetItemKind(bsPath, &cbOnDisk) != EItemKind::None && cbOnDisk == size.QuadPart;
}

HRESULT WriteWholeBuffer(HANDLE hFile, const void* pvData, DWORD cbData)
{
    DWORD dwWritten = 0;
    if (!WriteFile(hFile, pvData, cbData, &dwWritten, nullptr))
    {
        // A failed write with no code left behind has still failed.
        const DWORD dwError = GetLastError();
        return HRESULT_FROM_WIN32(dwError ? dwError : ERROR_WRITE_FAULT);
    }
    // A disk file only comes up short when the volume has no room left.
    return dwWritten == cbData ? S_OK : HRESULT_FROM_WIN32(ERROR_DISK_FULL);
}
} // namespace corvane
