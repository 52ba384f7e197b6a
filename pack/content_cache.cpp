// The content cache folder: the temporary folder, then Skarnveld\Corvane\v<version>\ProductContentCache.
#include "content_cache.h"

#include "cache_root.h"

#include "base/error_report.h"
#include "base/product.h"
#include "base/system_library.h"

#include <cstring>
#include <cwchar>
#include <cwctype>
#include <cstdio>

namespace corvane
{
namespace
{
HRESULT ReportFolderFailure(int nResult, const _bstr_t& bsFolder, const wchar_t* szSentenceStart)
{
    // By design the box shows the folder call's code as the result code it is (as SHCreateDirectory gives
    // it), and the step ends with it as a failing HRESULT.
    ReportHresult(nResult, IErrorInfoPtr(), szSentenceStart + Quoted(bsFolder) + L".");
    return HRESULT_FROM_WIN32(nResult);
}

_bstr_t CacheStampPath(const _bstr_t& bsFolder)
{
    return bsFolder + L".stamp";
}
} // namespace

_bstr_t GetContentCacheFolderBelow(const wchar_t* szTempFolder)
{
    const size_t len = wcslen(szTempFolder);
    _bstr_t bsFolder(szTempFolder);
    if (len == 0 || szTempFolder[len - 1] != L'\\') bsFolder += L"\\";
    return bsFolder + g_szMakerName + L"\\" + g_szProductName + L"\\v" + CORVANE_VERSION_TEXT +
           L"\\ProductContentCache";
}

HRESULT GetProductContentCacheFolder(_bstr_t& bsFolder)
{
    _bstr_t bsRoot;
    const HRESULT hrRoot = GetContentCacheRoot(bsRoot);
    if (hrRoot != S_OK) return hrRoot;

    bsFolder = GetContentCacheFolderBelow(bsRoot);
    const wchar_t c_szSentenceStart[] = L"Could not create the product content cache folder at ";
    // Its own files must fit too: the folder is not made when the pack file could not be written in it.
    if (!PathFits(bsFolder.length() + 1 + wcslen(c_szPackFileName), false) ||
        !PathFits(CacheStampPath(bsFolder).length(), false))
        return ReportFolderFailure(ERROR_FILENAME_EXCED_RANGE, bsFolder, c_szSentenceStart);
    return CreateCacheFolder(bsFolder, c_szSentenceStart);
}

bool PathFits(size_t cchPath, bool fFolder)
{
    return cchPath < (fFolder ? MAX_PATH - 12 : MAX_PATH);
}

HRESULT CreateCacheFolder(const _bstr_t& bsFolder, const wchar_t* szSentenceStart)
{
    // An item of that name already there is what SHCreateDirectory reports as success; asking the file
    // system first keeps shell32 out of a start whose folders all exist.
    if (GetFileAttributesW(bsFolder) != INVALID_FILE_ATTRIBUTES) return S_OK;
    // SHCreateDirectory cuts a path that does not fit and reports success for the stump it made.
    if (!PathFits(bsFolder.length(), true))
        return ReportFolderFailure(ERROR_FILENAME_EXCED_RANGE, bsFolder, szSentenceStart);
    int nResult = CreateFolderTree(bsFolder);
    if (nResult == ERROR_SUCCESS || nResult == ERROR_FILE_EXISTS || nResult == ERROR_ALREADY_EXISTS)
    {
        if (GetFileAttributesW(bsFolder) != INVALID_FILE_ATTRIBUTES) return S_OK;
        nResult = ERROR_PATH_NOT_FOUND;
    }
    return ReportFolderFailure(nResult, bsFolder, szSentenceStart);
}

bool IsFileUpToDate(const _bstr_t& bsPath, ULARGE_INTEGER size)
{
    WIN32_FILE_ATTRIBUTE_DATA attrs = {};
    return GetFileAttributesExW(bsPath, GetFileExInfoStandard, &attrs) &&
           attrs.nFileSizeHigh == size.HighPart && attrs.nFileSizeLow == size.LowPart;
}

bool IsCacheStampOf(const _bstr_t& bsFolder, const BYTE* pbStamp, DWORD cbStamp)
{
    const CUniqueHFile hFile(CreateFileW(CacheStampPath(bsFolder), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BYTE buffer[64];
    DWORD cbRead = 0;
    // One byte more than the stamp is asked for, so that a longer file never matches.
    return hFile.IsValid() && cbStamp < sizeof(buffer) &&
           ReadFile(hFile.Get(), buffer, cbStamp + 1, &cbRead, nullptr) && cbRead == cbStamp &&
           memcmp(buffer, pbStamp, cbStamp) == 0;
}

void WriteCacheStamp(const _bstr_t& bsFolder, const BYTE* pbStamp, DWORD cbStamp)
{
    // A short write leaves a stamp of another length, which never matches.
    const CUniqueHFile hFile(CreateFileW(CacheStampPath(bsFolder), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD dwWritten = 0;
    if (hFile.IsValid()) WriteFile(hFile.Get(), pbStamp, cbStamp, &dwWritten, nullptr);
}

void RemoveCacheStamp(const _bstr_t& bsFolder)
{
    DeleteFileW(CacheStampPath(bsFolder));
}

_bstr_t GetContentCacheLockName(const wchar_t* szFolder)
{
    unsigned long long ullIdentity = 0;
    unsigned long ulVolume = 0;
    const CUniqueHFile hFolder(CreateFileW(szFolder, FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (hFolder.IsValid() && GetFileInformationByHandle(hFolder.Get(), &info))
    {
        ulVolume = info.dwVolumeSerialNumber;
        ullIdentity = static_cast<unsigned long long>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    }
    else
    {
        // Object names take no further backslash and at most MAX_PATH characters: the path goes in hashed.
        ullIdentity = 14695981039346656037ull;
        for (const wchar_t* pch = szFolder; *pch; ++pch)
        {
            ullIdentity ^= static_cast<unsigned short>(towupper(*pch));
            ullIdentity *= 1099511628211ull;
        }
    }
    wchar_t szIdentity[32];
    swprintf(szIdentity, 32, L"%08lX.%08lX%08lX", ulVolume, static_cast<unsigned long>(ullIdentity >> 32),
             static_cast<unsigned long>(ullIdentity & 0xFFFFFFFF));
    return _bstr_t(L"Local\\") + g_szMakerName + L"." + g_szProductName + L".ContentCache." + szIdentity;
}

namespace
{
// Waits for the object while the thread's windows go on answering their messages; true once it is owned.
bool WaitPumpingMessages(HANDLE hObject, DWORD dwTimeoutMs)
{
    const DWORD dwStart = GetTickCount();
    for (;;)
    {
        const DWORD dwElapsed = GetTickCount() - dwStart;
        if (dwElapsed >= dwTimeoutMs) return false;
        const DWORD dwWait =
            MsgWaitForMultipleObjects(1, &hObject, FALSE, dwTimeoutMs - dwElapsed, QS_ALLINPUT);
        if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED_0) return true;
        if (dwWait != WAIT_OBJECT_0 + 1) return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            // A request to quit is not the launcher's to act on: it stays for whoever runs a loop after it.
            if (msg.message == WM_QUIT)
            {
                PostQuitMessage(static_cast<int>(msg.wParam));
                const DWORD dwLeft = dwTimeoutMs - (GetTickCount() - dwStart);
                const DWORD dwLast = WaitForSingleObject(hObject, dwLeft > dwTimeoutMs ? 0 : dwLeft);
                return dwLast == WAIT_OBJECT_0 || dwLast == WAIT_ABANDONED;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}
} // namespace

CContentCacheLock* CContentCacheLock::s_pHeld = nullptr;

CContentCacheLock::CContentCacheLock(const _bstr_t& bsFolder)
    : m_hMutex(CreateMutexW(nullptr, FALSE, GetContentCacheLockName(bsFolder)))
{
    // Unpacking the largest pack takes seconds; a start that waited this long stands behind a hung one.
    const DWORD c_dwWaitMs = 5 * 60 * 1000;
    if (m_hMutex.IsValid() && WaitPumpingMessages(m_hMutex.Get(), c_dwWaitMs))
    {
        s_pHeld = this;
        SetReleaseBeforeErrorBox(&CContentCacheLock::ReleaseHeld);
    }
}

CContentCacheLock::~CContentCacheLock()
{
    if (s_pHeld != this) return;
    SetReleaseBeforeErrorBox(nullptr);
    ReleaseHeld();
}

void CContentCacheLock::ReleaseHeld()
{
    ReleaseMutex(s_pHeld->m_hMutex.Get());
    s_pHeld = nullptr;
}

HRESULT WriteWholeBuffer(HANDLE hFile, const void* pvData, DWORD cbData)
{
    DWORD dwWritten = 0;
    if (!WriteFile(hFile, pvData, cbData, &dwWritten, nullptr)) return HRESULT_FROM_WIN32(GetLastError());
    // A disk file only comes up short when the volume has no room left.
    return dwWritten == cbData ? S_OK : HRESULT_FROM_WIN32(ERROR_DISK_FULL);
}
} // namespace corvane
