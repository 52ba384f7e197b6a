// The runtime hosting interfaces the toolchain's headers lack, declared in the platform's exact slot
// order. Slots the launcher never calls are kept as placeholders so that the called ones land right.
#pragma once

#include "launcher/com_support.h"

extern const CLSID CLSID_CLRMetaHost;
extern const IID IID_ICLRMetaHost;
extern const IID IID_ICLRRuntimeInfo;
extern const CLSID CLSID_CorRuntimeHost;
extern const IID IID_ICorRuntimeHost;
extern const IID IID_IAppDomainSetup;
extern const IID IID__AppDomain;
extern const IID IID__Assembly;
extern const IID IID__Type;

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

_COM_SMARTPTR_TYPEDEF(ICLRMetaHost, IID_ICLRMetaHost);
_COM_SMARTPTR_TYPEDEF(ICLRRuntimeInfo, IID_ICLRRuntimeInfo);
_COM_SMARTPTR_TYPEDEF(ICorRuntimeHost, IID_ICorRuntimeHost);
_COM_SMARTPTR_TYPEDEF(IAppDomainSetup, IID_IAppDomainSetup);
_COM_SMARTPTR_TYPEDEF(_AppDomain, IID__AppDomain);
_COM_SMARTPTR_TYPEDEF(_Assembly, IID__Assembly);
_COM_SMARTPTR_TYPEDEF(_Type, IID__Type);

// Raises _com_error for a failing call through a runtime interface, carrying the thread's error object
// when the called object says it supports error information for that interface.
void CheckRuntimeCall(HRESULT hr, IUnknown* pObject, REFIID iid);
