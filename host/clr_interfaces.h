// The runtime hosting interfaces and the managed interfaces reached through COM interop, declared in the
// platform's exact slot order (the toolchain's headers lack them). Slots the launcher never calls are kept
// as placeholders so that the called ones land right. Declared outside any unnamed namespace: the compiler
// would take an interface of internal linkage, which nothing in the program implements, as one that
// cannot be called.
#pragma once

#include "base/com_support.h"

inline constexpr CLSID CLSID_CLRMetaHost = {
    0x9280188D, 0x0E8E, 0x4867, {0xB3, 0x0C, 0x7F, 0xA8, 0x38, 0x84, 0xE8, 0xDE}};
inline constexpr IID IID_ICLRMetaHost = {
    0xD332DB9E, 0xB9B3, 0x4125, {0x82, 0x07, 0xA1, 0x48, 0x84, 0xF5, 0x32, 0x16}};
inline constexpr IID IID_ICLRRuntimeInfo = {
    0xBD39D1D2, 0xBA2F, 0x486A, {0x89, 0xB0, 0xB4, 0xB0, 0xCB, 0x46, 0x68, 0x91}};
inline constexpr CLSID CLSID_CorRuntimeHost = {
    0xCB2F6723, 0xAB3A, 0x11D2, {0x9C, 0x40, 0x00, 0xC0, 0x4F, 0xA3, 0x0A, 0x3E}};
inline constexpr IID IID_ICorRuntimeHost = {
    0xCB2F6722, 0xAB3A, 0x11D2, {0x9C, 0x40, 0x00, 0xC0, 0x4F, 0xA3, 0x0A, 0x3E}};
inline constexpr IID IID_IAppDomainSetup = {
    0x27FFF232, 0xA7A8, 0x40DD, {0x8D, 0x4A, 0x73, 0x4A, 0xD5, 0x9F, 0xCD, 0x41}};
inline constexpr IID IID__AppDomain = {
    0x05F696DC, 0x2B29, 0x3663, {0xAD, 0x8B, 0xC4, 0x38, 0x9C, 0xF2, 0xA7, 0x13}};
inline constexpr IID IID__Assembly = {
    0x17156360, 0x2F1A, 0x384A, {0xBC, 0x52, 0xFD, 0xE9, 0x3C, 0x21, 0x5C, 0x5B}};
inline constexpr IID IID__Type = {
    0xBCA8B44D, 0xAAD6, 0x3A86, {0x8A, 0xB7, 0x03, 0x34, 0x9F, 0x4F, 0x2D, 0xA2}};

#define CORVANE_UNUSED_SLOT(n) virtual HRESULT STDMETHODCALLTYPE UnusedSlot##n() = 0

struct ICLRRuntimeInfo : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE GetVersionString(LPWSTR pwzBuffer, DWORD* pcchBuffer) = 0;
    CORVANE_UNUSED_SLOT(4); // GetRuntimeDirectory
    CORVANE_UNUSED_SLOT(5); // IsLoaded
    CORVANE_UNUSED_SLOT(6); // LoadErrorString
    CORVANE_UNUSED_SLOT(7); // LoadLibrary
    CORVANE_UNUSED_SLOT(8); // GetProcAddress
    virtual HRESULT STDMETHODCALLTYPE GetInterface(REFCLSID rclsid, REFIID riid, LPVOID* ppUnk) = 0;
};

struct ICLRMetaHost : public IUnknown
{
    CORVANE_UNUSED_SLOT(3); // GetRuntime
    CORVANE_UNUSED_SLOT(4); // GetVersionFromFile
    virtual HRESULT STDMETHODCALLTYPE EnumerateInstalledRuntimes(IEnumUnknown** ppEnumerator) = 0;
};

struct ICorRuntimeHost : public IUnknown
{
    CORVANE_UNUSED_SLOT(3); // CreateLogicalThreadState
    CORVANE_UNUSED_SLOT(4); // DeleteLogicalThreadState
    CORVANE_UNUSED_SLOT(5); // SwitchInLogicalThreadState
    CORVANE_UNUSED_SLOT(6); // SwitchOutLogicalThreadState
    CORVANE_UNUSED_SLOT(7); // LocksHeldByLogicalThread
    CORVANE_UNUSED_SLOT(8); // MapFile
    CORVANE_UNUSED_SLOT(9); // GetConfiguration
    virtual HRESULT STDMETHODCALLTYPE Start() = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    CORVANE_UNUSED_SLOT(12); // CreateDomain
    virtual HRESULT STDMETHODCALLTYPE GetDefaultDomain(IUnknown** pAppDomain) = 0;
    CORVANE_UNUSED_SLOT(14); // EnumDomains
    CORVANE_UNUSED_SLOT(15); // NextDomain
    CORVANE_UNUSED_SLOT(16); // CloseEnum
    virtual HRESULT STDMETHODCALLTYPE CreateDomainEx(LPCWSTR pwzFriendlyName, IUnknown* pSetup,
                                                     IUnknown* pEvidence, IUnknown** pAppDomain) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateDomainSetup(IUnknown** pAppDomainSetup) = 0;
};

struct IAppDomainSetup : public IUnknown
{
    CORVANE_UNUSED_SLOT(3); // get_ApplicationBase
    virtual HRESULT STDMETHODCALLTYPE put_ApplicationBase(BSTR pRetVal) = 0;
    CORVANE_UNUSED_SLOT(5); // get_ApplicationName
    virtual HRESULT STDMETHODCALLTYPE put_ApplicationName(BSTR pRetVal) = 0;
};

struct _Type;
struct _Assembly;

// Slots 3 to 6 are the dispatch methods, which the managed interfaces declare explicitly.
struct _AppDomain : public IUnknown
{
    CORVANE_UNUSED_SLOT(3);
    CORVANE_UNUSED_SLOT(4);
    CORVANE_UNUSED_SLOT(5);
    CORVANE_UNUSED_SLOT(6);
    CORVANE_UNUSED_SLOT(7);
    CORVANE_UNUSED_SLOT(8);
    CORVANE_UNUSED_SLOT(9);
    CORVANE_UNUSED_SLOT(10);
    CORVANE_UNUSED_SLOT(11);
    CORVANE_UNUSED_SLOT(12);
    CORVANE_UNUSED_SLOT(13);
    CORVANE_UNUSED_SLOT(14);
    CORVANE_UNUSED_SLOT(15);
    CORVANE_UNUSED_SLOT(16);
    CORVANE_UNUSED_SLOT(17);
    CORVANE_UNUSED_SLOT(18);
    CORVANE_UNUSED_SLOT(19);
    CORVANE_UNUSED_SLOT(20);
    CORVANE_UNUSED_SLOT(21);
    CORVANE_UNUSED_SLOT(22);
    CORVANE_UNUSED_SLOT(23);
    CORVANE_UNUSED_SLOT(24);
    CORVANE_UNUSED_SLOT(25);
    CORVANE_UNUSED_SLOT(26);
    CORVANE_UNUSED_SLOT(27);
    CORVANE_UNUSED_SLOT(28);
    CORVANE_UNUSED_SLOT(29);
    CORVANE_UNUSED_SLOT(30);
    CORVANE_UNUSED_SLOT(31);
    CORVANE_UNUSED_SLOT(32);
    CORVANE_UNUSED_SLOT(33);
    CORVANE_UNUSED_SLOT(34);
    CORVANE_UNUSED_SLOT(35);
    CORVANE_UNUSED_SLOT(36);
    CORVANE_UNUSED_SLOT(37);
    CORVANE_UNUSED_SLOT(38);
    CORVANE_UNUSED_SLOT(39);
    CORVANE_UNUSED_SLOT(40);
    CORVANE_UNUSED_SLOT(41);
    CORVANE_UNUSED_SLOT(42);
    CORVANE_UNUSED_SLOT(43);
    virtual HRESULT STDMETHODCALLTYPE Load_2(BSTR assemblyString, _Assembly** pRetVal) = 0;
};

// A dual interface: slots 3 to 6 are the inherited IDispatch methods.
struct _Assembly : public IDispatch
{
    CORVANE_UNUSED_SLOT(7);
    CORVANE_UNUSED_SLOT(8);
    CORVANE_UNUSED_SLOT(9);
    CORVANE_UNUSED_SLOT(10);
    CORVANE_UNUSED_SLOT(11);
    CORVANE_UNUSED_SLOT(12);
    CORVANE_UNUSED_SLOT(13);
    CORVANE_UNUSED_SLOT(14);
    CORVANE_UNUSED_SLOT(15);
    CORVANE_UNUSED_SLOT(16);
    CORVANE_UNUSED_SLOT(17);
    virtual HRESULT STDMETHODCALLTYPE GetType_3(BSTR name, VARIANT_BOOL throwOnError, _Type** pRetVal) = 0;
};

struct _Type : public IUnknown
{
    CORVANE_UNUSED_SLOT(3);
    CORVANE_UNUSED_SLOT(4);
    CORVANE_UNUSED_SLOT(5);
    CORVANE_UNUSED_SLOT(6);
    CORVANE_UNUSED_SLOT(7);
    CORVANE_UNUSED_SLOT(8);
    CORVANE_UNUSED_SLOT(9);
    CORVANE_UNUSED_SLOT(10);
    CORVANE_UNUSED_SLOT(11);
    CORVANE_UNUSED_SLOT(12);
    CORVANE_UNUSED_SLOT(13);
    CORVANE_UNUSED_SLOT(14);
    CORVANE_UNUSED_SLOT(15);
    CORVANE_UNUSED_SLOT(16);
    CORVANE_UNUSED_SLOT(17);
    CORVANE_UNUSED_SLOT(18);
    CORVANE_UNUSED_SLOT(19);
    CORVANE_UNUSED_SLOT(20);
    CORVANE_UNUSED_SLOT(21);
    CORVANE_UNUSED_SLOT(22);
    CORVANE_UNUSED_SLOT(23);
    CORVANE_UNUSED_SLOT(24);
    CORVANE_UNUSED_SLOT(25);
    CORVANE_UNUSED_SLOT(26);
    CORVANE_UNUSED_SLOT(27);
    CORVANE_UNUSED_SLOT(28);
    CORVANE_UNUSED_SLOT(29);
    CORVANE_UNUSED_SLOT(30);
    CORVANE_UNUSED_SLOT(31);
    CORVANE_UNUSED_SLOT(32);
    CORVANE_UNUSED_SLOT(33);
    CORVANE_UNUSED_SLOT(34);
    CORVANE_UNUSED_SLOT(35);
    CORVANE_UNUSED_SLOT(36);
    CORVANE_UNUSED_SLOT(37);
    CORVANE_UNUSED_SLOT(38);
    CORVANE_UNUSED_SLOT(39);
    CORVANE_UNUSED_SLOT(40);
    CORVANE_UNUSED_SLOT(41);
    CORVANE_UNUSED_SLOT(42);
    CORVANE_UNUSED_SLOT(43);
    CORVANE_UNUSED_SLOT(44);
    CORVANE_UNUSED_SLOT(45);
    CORVANE_UNUSED_SLOT(46);
    CORVANE_UNUSED_SLOT(47);
    CORVANE_UNUSED_SLOT(48);
    CORVANE_UNUSED_SLOT(49);
    CORVANE_UNUSED_SLOT(50);
    CORVANE_UNUSED_SLOT(51);
    CORVANE_UNUSED_SLOT(52);
    CORVANE_UNUSED_SLOT(53);
    CORVANE_UNUSED_SLOT(54);
    CORVANE_UNUSED_SLOT(55);
    CORVANE_UNUSED_SLOT(56);
    // The target is a VARIANT passed by value, sixteen bytes on the stack.
    virtual HRESULT STDMETHODCALLTYPE InvokeMember_3(BSTR name, long invokeAttr, IUnknown* Binder,
                                                     VARIANT Target, SAFEARRAY* args, VARIANT* pRetVal) = 0;
};

#undef CORVANE_UNUSED_SLOT

#ifndef _MSC_VER
_COM_SMARTPTR_TYPEDEF(IEnumUnknown, __uuidof(IEnumUnknown));
#endif
_COM_SMARTPTR_TYPEDEF(ICLRMetaHost, IID_ICLRMetaHost);
_COM_SMARTPTR_TYPEDEF(ICLRRuntimeInfo, IID_ICLRRuntimeInfo);
_COM_SMARTPTR_TYPEDEF(ICorRuntimeHost, IID_ICorRuntimeHost);
_COM_SMARTPTR_TYPEDEF(IAppDomainSetup, IID_IAppDomainSetup);
_COM_SMARTPTR_TYPEDEF(_AppDomain, IID__AppDomain);
_COM_SMARTPTR_TYPEDEF(_Assembly, IID__Assembly);
_COM_SMARTPTR_TYPEDEF(_Type, IID__Type);
