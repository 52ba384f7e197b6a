// The content cache folder: the temporary folder, then Skarnveld\Corvane\v<version>\ProductContentCache.
#include "content_cache.h"
#include "cache_root.h"

#include "base/error_report.h"
#include "base/product.h"
#include "base/system_library.h"
#include "cache_files.h"
#include "cache_stamp.h"

#include <cwchar>

namespace corvane
{
namespace
{
HRESULT ReportFolderFailure(int nResult, const _bstr_t& bsFolder, const wchar_t* szSentenceStart)
{
    // By design the box shows the folder call's code as the result code it is (as SHCreateDirectory gives
    // it), and the step ends with it as a failing HRESULT.
    ReportHresult(nResult, IErrorInfoPtr(), Joined({szSentenceStart, Quoted(bsFolder), L"."}));
    return HRESULT_FROM_WIN32(nResult);
}
} // namespace

_bstr_t GetContentCacheFolderBelow(const wchar_t* szTempFolder)
{
    const size_t len = wcslen(szTempFolder);
    _bstr_t bsFolder(szTempFolder);
    if (len == 0 || szTempFolder[len - 1] != L'\\') bsFolder += L"\\";
    return Joined({bsFolder, g_szMakerName, L"\\", g_szProductName, L"\\v", CORVANE_VERSION_TEXT,
                   L"\\ProductContentCache"});
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
        !PathFits(GetCacheStampPath(bsFolder).length(), false))
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

} // namespace corvane
