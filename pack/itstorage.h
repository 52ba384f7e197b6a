// The compiled-help storage object that opens the product pack, declared in the platform's slot order
// (the toolchain's headers lack it); only StgOpenStorage is called, the rest keep the order. Declared
// outside any unnamed namespace: the compiler would take an interface of internal linkage, which nothing
// in the program implements, as one that cannot be called.
#pragma once

#include "base/com_support.h"

inline constexpr CLSID CLSID_ITStorage = {
    0x5D02926A, 0x212E, 0x11D0, {0x9D, 0xF9, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};
inline constexpr IID IID_ITStorage = {
    0x88CC31DE, 0x27AB, 0x11D0, {0x9D, 0xF9, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};

// The compiled-help storage; only StgOpenStorage is called, the rest keep the slot order.
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

#ifndef _MSC_VER
_COM_SMARTPTR_TYPEDEF(IStorage, __uuidof(IStorage));
_COM_SMARTPTR_TYPEDEF(IStream, __uuidof(IStream));
_COM_SMARTPTR_TYPEDEF(IEnumSTATSTG, __uuidof(IEnumSTATSTG));
#endif
_COM_SMARTPTR_TYPEDEF(ITStorage, IID_ITStorage);
