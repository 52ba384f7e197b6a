// The product pack: resource 666 copied to ProductContent.chm and opened through the ITStorage object.
#include "product_pack.h"

#include "content_cache.h"
#include "launcher/error_report.h"
#include "launcher/product.h"
#include "launcher/scope_guard.h"

// The platform's compiled-help storage; only StgOpenStorage is called, the rest keep the slot order.
// Declared outside any unnamed namespace: the compiler would take an interface of internal linkage,
// which nothing in the program implements, as one that cannot be called.
struct ITStorage : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE StgCreateDocfile(const WCHAR*, DWORD, DWORD, IStorage**) = 0;
    virtual HRESULT STDMETHODCALLTYPE StgCreateDocfileOnILockBytes(ILockBytes*, DWORD, DWORD, IStorage**) = 0;
    virtual HRESULT STDMETHODCALLTYPE StgIsStorageFile(const WCHAR*) = 0;
    virtual HRESULT STDMETHODCALLTYPE StgIsStorageILockBytes(ILockBytes*) = 0;
    virtual HRESULT STDMETHODCALLTYPE StgOpenStorage(const WCHAR* pwcsName, IStorage* pstgPriority,
                                                     DWORD grfMode, SNB snbExclude, DWORD reserved,
                                                     IStorage** ppstgOpen) = 0;
    virtual HRESULT STDMETHODCALLTYPE StgOpenStorageOnILockBytes(ILockBytes*, IStorage*, DWORD, SNB, DWORD,
                                                                 IStorage**) = 0;
    virtual HRESULT STDMETHODCALLTYPE StgSetTimes(const WCHAR*, const FILETIME*, const FILETIME*,
                                                  const FILETIME*) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetControlData(void*) = 0;
    virtual HRESULT STDMETHODCALLTYPE DefaultControlData(void**) = 0;
    virtual HRESULT STDMETHODCALLTYPE Compact(const WCHAR*, int) = 0;
};

namespace
{
const CLSID CLSID_ITStorage = {0x5D02926A, 0x212E, 0x11D0, {0x9D, 0xF9, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};
const IID IID_ITStorage = {0x88CC31DE, 0x27AB, 0x11D0, {0x9D, 0xF9, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};
} // namespace

_COM_SMARTPTR_TYPEDEF(ITStorage, IID_ITStorage);

namespace
{
// True when the pack file exists with exactly the resource's size; nothing else is compared.
bool IsPackFileUpToDate(const _bstr_t& bsContentFile, DWORD dwSize)
{
    WIN32_FILE_ATTRIBUTE_DATA attrs = {};
    return GetFileAttributesExW(bsContentFile, GetFileExInfoStandard, &attrs) && attrs.nFileSizeHigh == 0 &&
           attrs.nFileSizeLow == dwSize;
}

bool WritePackFile(const _bstr_t& bsContentFile, const void* pvPack, DWORD dwSize)
{
    const HANDLE hFile = CreateFileW(bsContentFile, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        ReportWin32Error(GetLastError(), L"Could not open the product content cache file for writing.");
        return false;
    }
    CScopeGuard sca([hFile] { CloseHandle(hFile); });

    // One write straight from the mapped resource; a short file would only fail the size test later.
    DWORD dwError = 0;
    if (!WriteWholeBuffer(hFile, pvPack, dwSize, dwError))
    {
        ReportWin32Error(dwError,
                         L"Could not write the product content cache file " + Quoted(bsContentFile) + L".");
        return false;
    }
    return true;
}
} // namespace

IStoragePtr OpenProductPack(_bstr_t bsFolder)
{
    const HRSRC hrsrc = FindResourceW(nullptr, MAKEINTRESOURCEW(CORVANE_PACK_RESOURCE_ID), RT_RCDATA);
    if (!hrsrc) return IStoragePtr();
    const HGLOBAL hglobal = LoadResource(nullptr, hrsrc);
    if (!hglobal)
    {
        ReportWin32Error(GetLastError(), L"The product pack resource could not be loaded.");
        return IStoragePtr();
    }
    const void* pvPack = LockResource(hglobal);
    if (!pvPack)
    {
        ReportWin32Error(GetLastError(), L"The product pack resource could not be locked to memory.");
        return IStoragePtr();
    }
    const DWORD dwSize = SizeofResource(nullptr, hrsrc);
    if (dwSize == 0)
    {
        ReportWin32Error(GetLastError(), L"The product pack resource could not be measured for size.");
        return IStoragePtr();
    }

    const _bstr_t bsContentFile = bsFolder + L"\\ProductContent.chm";
    if (!IsPackFileUpToDate(bsContentFile, dwSize) && !WritePackFile(bsContentFile, pvPack, dwSize))
        return IStoragePtr();

    ITStoragePtr oItStorage;
    HRESULT hr = CoCreateInstance(CLSID_ITStorage, nullptr,
                                  CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                      CLSCTX_REMOTE_SERVER,
                                  IID_ITStorage, reinterpret_cast<void**>(&oItStorage));
    if (FAILED(hr))
    {
        ReportHresult(hr, IErrorInfoPtr(),
                      L"Could not create an ITStorage instance to read the product pack.");
        return IStoragePtr();
    }
    IStoragePtr oStorage;
    hr = oItStorage->StgOpenStorage(bsContentFile, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                    &oStorage);
    if (FAILED(hr))
    {
        ReportHresult(hr, IErrorInfoPtr(),
                      L"Could not open the structured document storage on the product pack.");
        return IStoragePtr();
    }
    return oStorage;
}
