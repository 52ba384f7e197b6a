// The content cache folder: the temporary folder, then Skarnveld\Corvane\v<version>\ProductContentCache.
#include "content_cache.h"

#include "launcher/error_report.h"
#include "launcher/product.h"

#include <shlobj.h>
#include <cwchar>

_bstr_t Quoted(const _bstr_t& bsText)
{
    return L"\x201C" + bsText + L"\x201D";
}

bool WriteWholeBuffer(HANDLE hFile, const void* pvData, DWORD cbData, DWORD& dwError)
{
    DWORD dwWritten = 0;
    if (!WriteFile(hFile, pvData, cbData, &dwWritten, nullptr))
    {
        dwError = GetLastError();
        return false;
    }
    // A disk file only comes up short when the volume has no room left.
    dwError = ERROR_DISK_FULL;
    return dwWritten == cbData;
}

_bstr_t GetProductContentCacheFolder()
{
    wchar_t szPath[MAX_PATH + 1];
    const DWORD dwLength = GetTempPathW(MAX_PATH, szPath);
    if (dwLength == 0)
    {
        ReportWin32Error(GetLastError(), L"Could not get the TEMP folder path.");
        return _bstr_t();
    }
    // A longer path was not written: the buffer holds nothing defined, so it must not be read.
    if (dwLength >= MAX_PATH)
    {
        ReportWin32Error(ERROR_FILENAME_EXCED_RANGE, L"Could not get the TEMP folder path.");
        return _bstr_t();
    }
    if (szPath[0] == L'\0') return _bstr_t();

    const size_t len = wcsnlen(szPath, MAX_PATH + 1);
    _bstr_t bsFolder(szPath);
    if (szPath[len - 1] != L'\\') bsFolder += L"\\";
    bsFolder += _bstr_t(g_szMakerName) + L"\\" + g_szProductName + L"\\v" + CORVANE_VERSION_TEXT +
                L"\\ProductContentCache";

    const int nResult = SHCreateDirectory(nullptr, bsFolder);
    if (nResult != ERROR_SUCCESS && nResult != ERROR_FILE_EXISTS && nResult != ERROR_ALREADY_EXISTS)
    {
        ReportHresult(nResult, IErrorInfoPtr(),
                      L"Could not create the product content cache folder at " + Quoted(bsFolder) + L".");
        return _bstr_t();
    }
    return bsFolder;
}
