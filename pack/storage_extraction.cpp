// Storage tree extraction: a depth-first, pre-order copy of the pack's tree into the cache folder.
#include "storage_extraction.h"

#include "content_cache.h"
#include "launcher/error_report.h"
#include "launcher/scope_guard.h"
#include "product_pack.h"

#include <shlobj.h>
#include <cwchar>
#include <cwctype>

namespace
{
bool ExtractStream(const _bstr_t& bsName, ULARGE_INTEGER size, const _bstr_t& bsFolder, IStoragePtr oStorage);
bool ExtractSubStorage(const _bstr_t& bsName, const _bstr_t& bsFolder, IStoragePtr oStorage);

// True for CON, PRN, AUX, NUL, COM1-9 and LPT1-9, with or without an extension: such names open a device.
bool IsDeviceName(const wchar_t* szName)
{
    const size_t nBase = wcscspn(szName, L".");
    auto isPrefix = [szName](const wchar_t* szDevice) { return _wcsnicmp(szName, szDevice, 3) == 0; };
    if (nBase == 3) return isPrefix(L"CON") || isPrefix(L"PRN") || isPrefix(L"AUX") || isPrefix(L"NUL");
    return nBase == 4 && (isPrefix(L"COM") || isPrefix(L"LPT")) && szName[3] >= L'1' && szName[3] <= L'9';
}

bool IsSafeFileName(const wchar_t* szName)
{
    const size_t nLength = wcslen(szName);
    if (nLength == 0 || wcscmp(szName, L".") == 0 || wcscmp(szName, L"..") == 0) return false;
    if (szName[nLength - 1] == L'.' || szName[nLength - 1] == L' ') return false;
    for (const wchar_t* pch = szName; *pch; ++pch)
        if (*pch < 32 || wcschr(L"<>:\"/\\|?*", *pch)) return false;
    return !IsDeviceName(szName);
}

bool IsFileUpToDate(const _bstr_t& bsFileOnDisk, ULARGE_INTEGER size)
{
    WIN32_FILE_ATTRIBUTE_DATA attrs = {};
    return GetFileAttributesExW(bsFileOnDisk, GetFileExInfoStandard, &attrs) &&
           attrs.nFileSizeHigh == size.HighPart && attrs.nFileSizeLow == size.LowPart;
}

bool ExtractStream(const _bstr_t& bsName, ULARGE_INTEGER size, const _bstr_t& bsFolder, IStoragePtr oStorage)
{
    const _bstr_t bsFileOnDisk = bsFolder + L"\\" + bsName;
    if (IsFileUpToDate(bsFileOnDisk, size)) return true;

    IStreamPtr oStream;
    HRESULT hr = oStorage->OpenStream(bsName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &oStream);
    if (FAILED(hr))
    {
        ReportHresult(hr, GetErrorInfoSource(oStorage),
                      L"Could not open product content stream " + Quoted(bsName) + L" for reading.");
        return false;
    }
    const HANDLE hFile = CreateFileW(bsFileOnDisk, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        ReportWin32Error(GetLastError(), L"Could not open the product content file " + Quoted(bsFileOnDisk) +
                                             L" for writing.");
        return false;
    }
    CScopeGuard sca([hFile] { CloseHandle(hFile); });

    BYTE buffer[65536];
    for (;;)
    {
        ULONG ulRead = 0;
        hr = oStream->Read(buffer, sizeof(buffer), &ulRead);
        if (FAILED(hr))
        {
            ReportHresult(hr, GetErrorInfoSource(oStorage),
                          L"Error reading content stream " + Quoted(bsName) + L".");
            return false;
        }
        if (ulRead == 0) return true;
        // A truncated file must never be left for the application to start from.
        DWORD dwError = 0;
        if (!WriteWholeBuffer(hFile, buffer, ulRead, dwError))
        {
            ReportWin32Error(dwError,
                             L"Could not write the product content file " + Quoted(bsFileOnDisk) + L".");
            return false;
        }
    }
}

bool ExtractSubStorage(const _bstr_t& bsName, const _bstr_t& bsFolder, IStoragePtr oStorage)
{
    const _bstr_t bsSubfolder = bsFolder + L"\\" + bsName;
    const int nResult = SHCreateDirectory(nullptr, bsSubfolder);
    if (nResult != ERROR_SUCCESS && nResult != ERROR_FILE_EXISTS && nResult != ERROR_ALREADY_EXISTS)
    {
        ReportHresult(nResult, IErrorInfoPtr(),
                      L"Could not create the product content cache subfolder at " + Quoted(bsSubfolder) +
                          L".");
        return false;
    }
    IStoragePtr oSubStorage;
    const HRESULT hr =
        oStorage->OpenStorage(bsName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &oSubStorage);
    if (FAILED(hr))
    {
        ReportHresult(hr, IErrorInfoPtr(),
                      L"Could not open the structured storage over the product content cache subfolder " +
                          Quoted(bsName) + L".");
        return false;
    }
    return ExtractStorageTree(oSubStorage, bsSubfolder);
}
} // namespace

_bstr_t GetElementFileName(const wchar_t* szReportedName)
{
    // Wine's storage reports elements of a sub-storage by their path from the root ("x86/native.dll");
    // the element's own name is the last part, which is what opening it and the file system need.
    const wchar_t* pszLastSlash = wcsrchr(szReportedName, L'/');
    const wchar_t* pszName = pszLastSlash ? pszLastSlash + 1 : szReportedName;
    return IsSafeFileName(pszName) ? _bstr_t(pszName) : _bstr_t();
}

bool ExtractStorageTree(IStoragePtr oStorage, _bstr_t bsFolder)
{
    IEnumSTATSTGPtr oEnum;
    HRESULT hr = oStorage->EnumElements(0, nullptr, 0, &oEnum);
    if (FAILED(hr))
    {
        ReportHresult(hr, GetErrorInfoSource(oStorage),
                      L"Could not start enumeration of the storage contents.");
        return false;
    }
    for (;;)
    {
        STATSTG stat = {};
        ULONG uFetched = 0;
        hr = oEnum->Next(1, &stat, &uFetched);
        if (FAILED(hr))
        {
            ReportHresult(hr, GetErrorInfoSource(oStorage), L"Could not enumerate the storage contents.");
            return false;
        }
        if (uFetched == 0) return true;

        const _bstr_t bsReportedName(stat.pwcsName ? stat.pwcsName : L"");
        CoTaskMemFree(stat.pwcsName);
        if (stat.type != STGTY_STORAGE && stat.type != STGTY_STREAM) continue;

        // A name that is not one safe file name would write outside its folder or into another
        // file's stream: refuse the pack rather than extract it anywhere.
        const _bstr_t bsName = GetElementFileName(bsReportedName);
        if (bsName.length() == 0)
        {
            ReportWin32Error(ERROR_INVALID_NAME, L"Could not extract the product content element " +
                                                     Quoted(bsReportedName) +
                                                     L": its name cannot be a file name.");
            return false;
        }
        const bool fOk = stat.type == STGTY_STORAGE ? ExtractSubStorage(bsName, bsFolder, oStorage)
                                                    : ExtractStream(bsName, stat.cbSize, bsFolder, oStorage);
        if (!fOk) return false;
    }
}

_bstr_t PrepareProductContent()
{
    const _bstr_t bsContentFolder = GetProductContentCacheFolder();
    if (bsContentFolder.length() == 0) return _bstr_t();

    IStoragePtr oStorage = OpenProductPack(bsContentFolder);
    if (!oStorage) return _bstr_t();
    const bool fOk = ExtractStorageTree(oStorage, bsContentFolder);
    oStorage.Release(); // no reference to the pack may remain while the runtime loads from the folder
    return fOk ? bsContentFolder : _bstr_t();
}
