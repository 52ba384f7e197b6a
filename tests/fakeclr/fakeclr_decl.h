// fakeclr_decl.h: the simulated runtime's own declarations of the CLR hosting and mscorlib COM interfaces,
// written from the fact sheet and shared with nothing in the launcher, so that a slot mistake on either
// side fails a test. Only the slots the launcher calls are named; the others are placeholders.
#pragma once
#include <cstddef>
// windows.h must come before oleauto.h.
#include <windows.h>

#include <oleauto.h>

namespace fakeclr
{

// What a caller holds: a pointer to a vtable pointer.
struct CInterface
{
    const void* pVtbl;
};

using SlotFn = void(STDMETHODCALLTYPE*)();

// GUIDs, written out here rather than taken from any SDK header or library.
constexpr GUID c_iidUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID c_iidDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID c_iidEnumUnknown{0x00000100, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID c_iidClrMetaHost{0xD332DB9E, 0xB9B3, 0x4125, {0x82, 0x07, 0xA1, 0x48, 0x84, 0xF5, 0x32, 0x16}};
constexpr GUID c_clsidClrMetaHost{
    0x9280188D, 0x0E8E, 0x4867, {0xB3, 0x0C, 0x7F, 0xA8, 0x38, 0x84, 0xE8, 0xDE}};
constexpr GUID c_iidClrRuntimeInfo{
    0xBD39D1D2, 0xBA2F, 0x486A, {0x89, 0xB0, 0xB4, 0xB0, 0xCB, 0x46, 0x68, 0x91}};
constexpr GUID c_iidCorRuntimeHost{
    0xCB2F6722, 0xAB3A, 0x11D2, {0x9C, 0x40, 0x00, 0xC0, 0x4F, 0xA3, 0x0A, 0x3E}};
constexpr GUID c_clsidCorRuntimeHost{
    0xCB2F6723, 0xAB3A, 0x11D2, {0x9C, 0x40, 0x00, 0xC0, 0x4F, 0xA3, 0x0A, 0x3E}};
constexpr GUID c_iidAppDomainSetup{
    0x27FFF232, 0xA7A8, 0x40DD, {0x8D, 0x4A, 0x73, 0x4A, 0xD5, 0x9F, 0xCD, 0x41}};
constexpr GUID c_iidAppDomain{0x05F696DC, 0x2B29, 0x3663, {0xAD, 0x8B, 0xC4, 0x38, 0x9C, 0xF2, 0xA7, 0x13}};
constexpr GUID c_iidAssembly{0x17156360, 0x2F1A, 0x384A, {0xBC, 0x52, 0xFD, 0xE9, 0x3C, 0x21, 0x5C, 0x5B}};
constexpr GUID c_iidType{0xBCA8B44D, 0xAAD6, 0x3A86, {0x8A, 0xB7, 0x03, 0x34, 0x9F, 0x4F, 0x2D, 0xA2}};
constexpr GUID c_iidSupportErrorInfo{
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
constexpr GUID c_iidErrorInfo{0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

// Slots 0-2 of every interface.
struct CUnknownSlots
{
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(CInterface*, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* AddRef)(CInterface*);
    ULONG(STDMETHODCALLTYPE* Release)(CInterface*);
};

struct CEnumUnknownVtbl
{
    CUnknownSlots unk;
    HRESULT(STDMETHODCALLTYPE* Next)(CInterface*, ULONG celt, CInterface** rgelt, ULONG* pceltFetched); // 3
    SlotFn s4_6[3];
};

struct CMetaHostVtbl
{
    CUnknownSlots unk;
    SlotFn s3_4[2];
    HRESULT(STDMETHODCALLTYPE* EnumerateInstalledRuntimes)(CInterface*, CInterface**); // 5
    SlotFn s6_9[4];
};

struct CRuntimeInfoVtbl
{
    CUnknownSlots unk;
    HRESULT(STDMETHODCALLTYPE* GetVersionString)(CInterface*, LPWSTR, DWORD*); // 3
    SlotFn s4_8[5];
    HRESULT(STDMETHODCALLTYPE* GetInterface)(CInterface*, REFCLSID, REFIID, void**); // 9
    SlotFn s10_14[5];
};

struct CCorRuntimeHostVtbl
{
    CUnknownSlots unk;
    SlotFn s3_9[7];
    HRESULT(STDMETHODCALLTYPE* Start)(CInterface*);                          // 10
    HRESULT(STDMETHODCALLTYPE* Stop)(CInterface*);                           // 11
    SlotFn s12[1];                                                           // CreateDomain
    HRESULT(STDMETHODCALLTYPE* GetDefaultDomain)(CInterface*, CInterface**); // 13
    SlotFn s14_16[3];
    HRESULT(STDMETHODCALLTYPE* CreateDomainEx)
    (CInterface*, LPCWSTR, CInterface* pSetup, CInterface* pEvidence, CInterface**); // 17
    HRESULT(STDMETHODCALLTYPE* CreateDomainSetup)(CInterface*, CInterface**);        // 18
    SlotFn s19_21[3]; // CreateEvidence, UnloadDomain, CurrentDomain
};

// Ten string properties, the getter before the setter.
struct CAppDomainSetupVtbl
{
    CUnknownSlots unk;
    SlotFn get_ApplicationBase;                                         // 3
    HRESULT(STDMETHODCALLTYPE* put_ApplicationBase)(CInterface*, BSTR); // 4
    SlotFn get_ApplicationName;                                         // 5
    HRESULT(STDMETHODCALLTYPE* put_ApplicationName)(CInterface*, BSTR); // 6
    SlotFn s7_22[16];
};

// Slots 3-6 of _AppDomain, _Assembly and _Type are the dispatch methods, declared or inherited.
struct CAppDomainVtbl
{
    CUnknownSlots unk;
    SlotFn s3_43[41];
    HRESULT(STDMETHODCALLTYPE* Load_2)(CInterface*, BSTR bsAssemblyString, CInterface**); // 44
    SlotFn s45_69[25];
};

struct CAssemblyVtbl
{
    CUnknownSlots unk;
    SlotFn s3_17[15];
    HRESULT(STDMETHODCALLTYPE* GetType_3)(CInterface*, BSTR, VARIANT_BOOL fThrowOnError, CInterface**); // 18
    SlotFn s19_50[32];
};

struct CTypeVtbl
{
    CUnknownSlots unk;
    SlotFn s3_56[54];
    HRESULT(STDMETHODCALLTYPE* InvokeMember_3)
    (CInterface*, BSTR, int invokeAttr, CInterface* pBinder, VARIANT target, SAFEARRAY* psaArgs,
     VARIANT* pRet); // 57
    SlotFn s58_114[57];
};

// A plain dispatch object: what a VT_DISPATCH result of the application holds.
struct CDispatchVtbl
{
    CUnknownSlots unk;
    SlotFn s3_5[3];
    HRESULT(STDMETHODCALLTYPE* Invoke)
    (CInterface*, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*); // 6
};

struct CSupportErrorInfoVtbl
{
    CUnknownSlots unk;
    HRESULT(STDMETHODCALLTYPE* InterfaceSupportsErrorInfo)(CInterface*, REFIID); // 3
};

struct CErrorInfoVtbl
{
    CUnknownSlots unk;
    SlotFn s3_4[2];                                                 // GetGUID, GetSource
    HRESULT(STDMETHODCALLTYPE* GetDescription)(CInterface*, BSTR*); // 5
    SlotFn s6_7[2];                                                 // GetHelpFile, GetHelpContext
};

#define FAKECLR_SLOT(T, m, n) static_assert(offsetof(T, m) == (n) * sizeof(void*), #T "::" #m " is slot " #n)
#define FAKECLR_SLOTS(T, n) static_assert(sizeof(T) == (n) * sizeof(void*), #T " has " #n " slots")
FAKECLR_SLOTS(CEnumUnknownVtbl, 7);
FAKECLR_SLOT(CEnumUnknownVtbl, Next, 3);
FAKECLR_SLOTS(CMetaHostVtbl, 10);
FAKECLR_SLOT(CMetaHostVtbl, EnumerateInstalledRuntimes, 5);
FAKECLR_SLOTS(CRuntimeInfoVtbl, 15);
FAKECLR_SLOT(CRuntimeInfoVtbl, GetVersionString, 3);
FAKECLR_SLOT(CRuntimeInfoVtbl, GetInterface, 9);
FAKECLR_SLOTS(CCorRuntimeHostVtbl, 22);
FAKECLR_SLOT(CCorRuntimeHostVtbl, Start, 10);
FAKECLR_SLOT(CCorRuntimeHostVtbl, Stop, 11);
FAKECLR_SLOT(CCorRuntimeHostVtbl, GetDefaultDomain, 13);
FAKECLR_SLOT(CCorRuntimeHostVtbl, CreateDomainEx, 17);
FAKECLR_SLOT(CCorRuntimeHostVtbl, CreateDomainSetup, 18);
FAKECLR_SLOTS(CAppDomainSetupVtbl, 23);
FAKECLR_SLOT(CAppDomainSetupVtbl, put_ApplicationBase, 4);
FAKECLR_SLOT(CAppDomainSetupVtbl, put_ApplicationName, 6);
FAKECLR_SLOTS(CAppDomainVtbl, 70);
FAKECLR_SLOT(CAppDomainVtbl, Load_2, 44);
FAKECLR_SLOTS(CAssemblyVtbl, 51);
FAKECLR_SLOT(CAssemblyVtbl, GetType_3, 18);
FAKECLR_SLOTS(CTypeVtbl, 115);
FAKECLR_SLOT(CTypeVtbl, InvokeMember_3, 57);
FAKECLR_SLOTS(CDispatchVtbl, 7);
FAKECLR_SLOTS(CSupportErrorInfoVtbl, 4);
FAKECLR_SLOTS(CErrorInfoVtbl, 8);
FAKECLR_SLOT(CErrorInfoVtbl, GetDescription, 5);
#undef FAKECLR_SLOT
#undef FAKECLR_SLOTS
#if defined(__i386__) || defined(_M_IX86)
// The x86 byte offsets the fact sheet names.
static_assert(offsetof(CAppDomainSetupVtbl, put_ApplicationBase) == 0x10, "put_ApplicationBase");
static_assert(offsetof(CAppDomainSetupVtbl, put_ApplicationName) == 0x18, "put_ApplicationName");
static_assert(offsetof(CAppDomainVtbl, Load_2) == 0xB0, "Load_2");
static_assert(offsetof(CAssemblyVtbl, GetType_3) == 0x48, "GetType_3");
static_assert(offsetof(CTypeVtbl, InvokeMember_3) == 0xE4, "InvokeMember_3");
static_assert(offsetof(CCorRuntimeHostVtbl, Start) == 40 &&
                  offsetof(CCorRuntimeHostVtbl, CreateDomainEx) == 68 &&
                  offsetof(CCorRuntimeHostVtbl, CreateDomainSetup) == 72,
              "ICorRuntimeHost offsets");
static_assert(sizeof(VARIANT) == 16 && sizeof(VARIANT_BOOL) == 2, "VARIANT layout");
#endif

} // namespace fakeclr
