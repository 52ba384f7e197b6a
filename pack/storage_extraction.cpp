// Storage tree extraction: a depth-first, pre-order copy of the pack's tree into the cache folder.
#include "storage_extraction.h"

#include "base/error_report.h"
#include "base/unique_any.h"
#include "content_cache.h"
#include "element_names.h"
#include "product_pack.h"

namespace corvane
{
namespace
{
HRESULT ExtractStream(const _bstr_t& bsName, ULARGE_INTEGER size, const _bstr_t& bsFolder,
                      IStoragePtr oStorage)
{
    const _bstr_t bsFileOnDisk = bsFolder + L"\\" + bsName;
    if (IsFileUpToDate(bsFileOnDisk, size)) return S_OK;

    IStreamPtr oStream;
    HRESULT hr = oStorage->OpenStream(bsName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &oStream);
    if (FAILED(hr))
        return ReportHresult(hr, GetErrorInfoSource(oStorage),
                             L"Could not open product content stream " + Quoted(bsName) + L" for reading.");
    const CUniqueHFile hFile(CreateFileW(bsFileOnDisk, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile.IsValid())
        return ReportWin32Error(GetLastError(), L"Could not open the product content file " +
                                                    Quoted(bsFileOnDisk) + L" for writing.");

    BYTE buffer[65536];
    ULONGLONG ullCopied = 0;
    for (;;)
    {
        ULONG ulRead = 0;
        hr = oStream->Read(buffer, sizeof(buffer), &ulRead);
        if (FAILED(hr))
            return ReportHresult(hr, GetErrorInfoSource(oStorage),
                                 L"Error reading content stream " + Quoted(bsName) + L".");
        // A damaged or cut pack ends its streams early without an error; the file, left at another size
        // than its stream, is written again on the next start.
        if (ulRead == 0 && ullCopied != size.QuadPart)
            return ReportHresult(HRESULT_FROM_WIN32(ERROR_HANDLE_EOF), IErrorInfoPtr(),
                                 L"Error reading content stream " + Quoted(bsName) + L".");
        if (ulRead == 0) return S_OK;
        ullCopied += ulRead;
        // A truncated file must never be left for the application to start from.
        DWORD dwError = 0;
        if (!WriteWholeBuffer(hFile.Get(), buffer, ulRead, dwError))
            return ReportWin32Error(dwError, L"Could not write the product content file " +
                                                 Quoted(bsFileOnDisk) + L".");
    }
}

HRESULT ExtractSubStorage(const _bstr_t& bsName, const _bstr_t& bsFolder, IStoragePtr oStorage)
{
    const _bstr_t bsSubfolder = bsFolder + L"\\" + bsName;
    RETURN_IF_FAILED(
        CreateCacheFolder(bsSubfolder, L"Could not create the product content cache subfolder at "));
    IStoragePtr oSubStorage;
    const HRESULT hr =
        oStorage->OpenStorage(bsName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &oSubStorage);
    if (FAILED(hr))
        return ReportHresult(
            hr, IErrorInfoPtr(),
            L"Could not open the structured storage over the product content cache subfolder " +
                Quoted(bsName) + L".");
    return ExtractStorageTree(oSubStorage, bsSubfolder);
}

// One element of the storage: a sub-storage becomes a folder, a stream a file, anything else is passed over.
HRESULT ExtractElement(DWORD dwType, ULARGE_INTEGER size, const _bstr_t& bsReportedName,
                       const _bstr_t& bsFolder, IStoragePtr oStorage)
{
    if (dwType != STGTY_STORAGE && dwType != STGTY_STREAM) return S_OK;

    // A name that is not one safe file name would write outside its folder or into another
    // file's stream: refuse the pack rather than extract it anywhere.
    const _bstr_t bsName = GetElementFileName(bsReportedName);
    if (bsName.length() == 0)
        return ReportWin32Error(ERROR_INVALID_NAME, L"Could not extract the product content element " +
                                                        Quoted(bsReportedName) +
                                                        L": its name cannot be a file name.");
    return dwType == STGTY_STORAGE ? ExtractSubStorage(bsName, bsFolder, oStorage)
                                   : ExtractStream(bsName, size, bsFolder, oStorage);
}
} // namespace

HRESULT ExtractStorageTree(IStoragePtr oStorage, const _bstr_t& bsFolder)
{
    IEnumSTATSTGPtr oEnum;
    HRESULT hr = oStorage->EnumElements(0, nullptr, 0, &oEnum);
    if (FAILED(hr))
        return ReportHresult(hr, GetErrorInfoSource(oStorage),
                             L"Could not start enumeration of the storage contents.");
    for (;;)
    {
        STATSTG stat = {};
        ULONG uFetched = 0;
        hr = oEnum->Next(1, &stat, &uFetched);
        if (FAILED(hr))
            return ReportHresult(hr, GetErrorInfoSource(oStorage),
                                 L"Could not enumerate the storage contents.");
        if (uFetched == 0) return S_OK;

        const _bstr_t bsReportedName(stat.pwcsName ? stat.pwcsName : L"");
        CoTaskMemFree(stat.pwcsName);
        RETURN_IF_FAILED(ExtractElement(stat.type, stat.cbSize, bsReportedName, bsFolder, oStorage));
    }
}

HRESULT PrepareProductContent(_bstr_t& bsContentFolder)
{
    _bstr_t bsFolder;
    HRESULT hr = GetProductContentCacheFolder(bsFolder);
    if (hr != S_OK) return hr;

    const CContentCacheLock lock(bsFolder);
    IStoragePtr oStorage;
    hr = OpenProductPack(bsFolder, oStorage);
    if (hr != S_OK) return hr;
    hr = ExtractStorageTree(oStorage, bsFolder);
    oStorage.Release(); // no reference to the pack may remain while the runtime loads from the folder
    if (FAILED(hr)) return hr;
    bsContentFolder = bsFolder;
    return S_OK;
}
} // namespace corvane
