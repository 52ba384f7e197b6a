// The content cache folder: the temporary folder, then Skarnveld\Corvane\v<version>\ProductContentCache.
#include "content_cache.h"
#include "cache_root.h"

#include "base/error_report.h"
#include "base/product.h"
#include "base/system_library.h"
#include "cache_files.h"

#include <cstring>
#include <cwchar>

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
    CUniqueHFile hFile;
    DWORD dwWritten = 0;
    if (OpenCacheFileForWriting(CacheStampPath(bsFolder), hFile) == ERROR_SUCCESS)
        WriteFile(hFile.Get(), pbStamp, cbStamp, &dwWritten, nullptr);
}

HRESULT RemoveCacheStamp(const _bstr_t& bsFolder)
{
    const _bstr_t bsStamp = CacheStampPath(bsFolder);
    const HRESULT hr = RemoveCacheItem(bsStamp);
    if (SUCCEEDED(hr)) return S_OK;
    if (IsHeldFileError(HRESULT_CODE(hr))) return ReportHeldFile(HRESULT_CODE(hr), bsStamp);
    return ReportWin32Error(HRESULT_CODE(hr), L"Could not remove the product content cache stamp " +
                                                  Quoted(bsStamp) + L", which must go before files change.");
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
