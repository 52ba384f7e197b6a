// The product pack: resource 666 copied to ProductContent.chm and opened through the ITStorage object.
#include "product_pack.h"

#include "base/error_report.h"
#include "base/module_resource.h"
#include "base/product.h"
#include "base/unique_any.h"
#include "content_cache.h"

namespace corvane
{
namespace
{
const wchar_t* ResourceFailureSentence(EResourceStep step)
{
    switch (step)
    {
    case ResourceLoad:
        return L"The product pack resource could not be loaded.";
    case ResourceLock:
        return L"The product pack resource could not be locked to memory.";
    default:
        return L"The product pack resource could not be measured for size.";
    }
}

HRESULT WritePackFile(const _bstr_t& bsContentFile, const void* pvPack, DWORD dwSize)
{
    const CUniqueHFile hFile(CreateFileW(bsContentFile, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile.IsValid())
        return ReportWin32Error(GetLastError(),
                                L"Could not open the product content cache file for writing.");

    // One write straight from the mapped resource; a short file would only fail the size test later.
    DWORD dwError = 0;
    if (!WriteWholeBuffer(hFile.Get(), pvPack, dwSize, dwError))
        return ReportWin32Error(dwError, L"Could not write the product content cache file " +
                                             Quoted(bsContentFile) + L".");
    return S_OK;
}

HRESULT CreateItStorage(ITStoragePtr& oItStorage)
{
    const HRESULT hr = CoCreateInstance(CLSID_ITStorage, nullptr,
                                        CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                            CLSCTX_REMOTE_SERVER,
                                        IID_ITStorage, reinterpret_cast<void**>(&oItStorage));
    if (FAILED(hr))
        return ReportHresult(hr, IErrorInfoPtr(),
                             L"Could not create an ITStorage instance to read the product pack.");
    return S_OK;
}

HRESULT OpenPackStorage(ITStoragePtr oItStorage, const _bstr_t& bsContentFile, IStoragePtr& oStorage)
{
    return oItStorage->StgOpenStorage(bsContentFile, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                      &oStorage);
}
} // namespace

HRESULT OpenProductPack(const _bstr_t& bsFolder, IStoragePtr& oStorage)
{
    const BYTE* pbPack = nullptr;
    DWORD dwSize = 0;
    DWORD dwError = 0;
    const EResourceStep step = LoadRcdataResource(CORVANE_PACK_RESOURCE_ID, pbPack, dwSize, dwError);
    if (step == ResourceFind) return S_FALSE; // an executable without a pack: nothing to say
    if (step != ResourceReady) return ReportWin32Error(dwError, ResourceFailureSentence(step));

    const _bstr_t bsContentFile = bsFolder + L"\\ProductContent.chm";
    ULARGE_INTEGER size = {};
    size.LowPart = dwSize;
    const bool fUpToDate = IsFileUpToDate(bsContentFile, size);
    if (!fUpToDate) RETURN_IF_FAILED(WritePackFile(bsContentFile, pbPack, dwSize));

    ITStoragePtr oItStorage;
    RETURN_IF_FAILED(CreateItStorage(oItStorage));
    HRESULT hr = OpenPackStorage(oItStorage, bsContentFile, oStorage);
    // A file of the right size can still be damaged (a power cut leaves zeros): the good bytes are in
    // the executable, so it is written once more before the failure counts.
    if (FAILED(hr) && fUpToDate)
    {
        RETURN_IF_FAILED(WritePackFile(bsContentFile, pbPack, dwSize));
        hr = OpenPackStorage(oItStorage, bsContentFile, oStorage);
    }
    if (FAILED(hr))
        return ReportHresult(hr, IErrorInfoPtr(),
                             L"Could not open the structured document storage on the product pack.");
    return S_OK;
}
} // namespace corvane
