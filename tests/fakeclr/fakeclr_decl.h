// fakeclr_decl.h: the fake runtime's own declarations of the CLR hosting and mscorlib COM interfaces.
#pragma once
#include <cstddef>
// windows.h must come before oleauto.h.
#include <windows.h>

#include <oleauto.h>

namespace fc {

// What a caller holds: a pointer to a vtable pointer.
struct Iface {
    const void *vtbl;
};

using SlotFn = void(STDMETHODCALLTYPE *)();

// GUIDs, written out here rather than taken from any SDK header or library.
constexpr GUID IID_IUnknown_{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID IID_IDispatch_{0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID IID_IEnumUnknown_{
    0x00000100, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID IID_ICLRMetaHost_{
    0xD332DB9E, 0xB9B3, 0x4125, {0x82, 0x07, 0xA1, 0x48, 0x84, 0xF5, 0x32, 0x16}};
constexpr GUID CLSID_CLRMetaHost_{
    0x9280188D, 0x0E8E, 0x4867, {0xB3, 0x0C, 0x7F, 0xA8, 0x38, 0x84, 0xE8, 0xDE}};
constexpr GUID IID_ICLRRuntimeInfo_{
    0xBD39D1D2, 0xBA2F, 0x486A, {0x89, 0xB0, 0xB4, 0xB0, 0xCB, 0x46, 0x68, 0x91}};
constexpr GUID IID_ICorRuntimeHost_{
    0xCB2F6722, 0xAB3A, 0x11D2, {0x9C, 0x40, 0x00, 0xC0, 0x4F, 0xA3, 0x0A, 0x3E}};
constexpr GUID CLSID_CorRuntimeHost_{
    0xCB2F6723, 0xAB3A, 0x11D2, {0x9C, 0x40, 0x00, 0xC0, 0x4F, 0xA3, 0x0A, 0x3E}};
constexpr GUID IID_IAppDomainSetup_{
    0x27FFF232, 0xA7A8, 0x40DD, {0x8D, 0x4A, 0x73, 0x4A, 0xD5, 0x9F, 0xCD, 0x41}};
constexpr GUID IID__AppDomain_{0x05F696DC, 0x2B29, 0x3663, {0xAD, 0x8B, 0xC4, 0x38, 0x9C, 0xF2, 0xA7, 0x13}};
constexpr GUID IID__Assembly_{0x17156360, 0x2F1A, 0x384A, {0xBC, 0x52, 0xFD, 0xE9, 0x3C, 0x21, 0x5C, 0x5B}};
constexpr GUID IID__Type_{0xBCA8B44D, 0xAAD6, 0x3A86, {0x8A, 0xB7, 0x03, 0x34, 0x9F, 0x4F, 0x2D, 0xA2}};
constexpr GUID IID_ISupportErrorInfo_{
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
constexpr GUID IID_IErrorInfo_{0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

// Slots 0-2 of every interface.
struct UnknownSlots {
    HRESULT(STDMETHODCALLTYPE *QueryInterface)(Iface *, REFIID, void **);
    ULONG(STDMETHODCALLTYPE *AddRef)(Iface *);
    ULONG(STDMETHODCALLTYPE *Release)(Iface *);
};

// Slots 3-6: inherited from IDispatch or declared explicitly; the ABI is the same either way.
struct DispatchSlots {
    HRESULT(STDMETHODCALLTYPE *GetTypeInfoCount)(Iface *, UINT *);
    HRESULT(STDMETHODCALLTYPE *GetTypeInfo)(Iface *, UINT, LCID, void **);
    HRESULT(STDMETHODCALLTYPE *GetIDsOfNames)(Iface *, REFIID, LPOLESTR *, UINT, LCID, DISPID *);
    HRESULT(STDMETHODCALLTYPE *Invoke)
    (Iface *, DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *);
};

struct EnumUnknownVtbl {
    UnknownSlots unk;
    HRESULT(STDMETHODCALLTYPE *Next)(Iface *, ULONG celt, Iface **rgelt, ULONG *fetched); // 3
    HRESULT(STDMETHODCALLTYPE *Skip)(Iface *, ULONG);                                     // 4
    HRESULT(STDMETHODCALLTYPE *Reset)(Iface *);                                           // 5
    HRESULT(STDMETHODCALLTYPE *Clone)(Iface *, Iface **);                                 // 6
};

struct MetaHostVtbl {
    UnknownSlots unk;
    HRESULT(STDMETHODCALLTYPE *GetRuntime)(Iface *, LPCWSTR, REFIID, void **);         // 3
    HRESULT(STDMETHODCALLTYPE *GetVersionFromFile)(Iface *, LPCWSTR, LPWSTR, DWORD *); // 4
    HRESULT(STDMETHODCALLTYPE *EnumerateInstalledRuntimes)(Iface *, Iface **);         // 5
    HRESULT(STDMETHODCALLTYPE *EnumerateLoadedRuntimes)(Iface *, HANDLE, Iface **);    // 6
    HRESULT(STDMETHODCALLTYPE *RequestRuntimeLoadedNotification)(Iface *, void *);     // 7
    HRESULT(STDMETHODCALLTYPE *QueryLegacyV2RuntimeBinding)(Iface *, REFIID, void **); // 8
    HRESULT(STDMETHODCALLTYPE *ExitProcess)(Iface *, INT32);                           // 9
};

struct RuntimeInfoVtbl {
    UnknownSlots unk;
    HRESULT(STDMETHODCALLTYPE *GetVersionString)(Iface *, LPWSTR, DWORD *);            // 3
    HRESULT(STDMETHODCALLTYPE *GetRuntimeDirectory)(Iface *, LPWSTR, DWORD *);         // 4
    HRESULT(STDMETHODCALLTYPE *IsLoaded)(Iface *, HANDLE, BOOL *);                     // 5
    HRESULT(STDMETHODCALLTYPE *LoadErrorString)(Iface *, UINT, LPWSTR, DWORD *, LONG); // 6
    HRESULT(STDMETHODCALLTYPE *LoadLib)(Iface *, LPCWSTR, HMODULE *);                  // 7 (LoadLibrary)
    HRESULT(STDMETHODCALLTYPE *GetProcAddr)(Iface *, LPCSTR, void **);                 // 8 (GetProcAddress)
    HRESULT(STDMETHODCALLTYPE *GetInterface)(Iface *, REFCLSID, REFIID, void **);      // 9
    HRESULT(STDMETHODCALLTYPE *IsLoadable)(Iface *, BOOL *);                           // 10
    HRESULT(STDMETHODCALLTYPE *SetDefaultStartupFlags)(Iface *, DWORD, LPCWSTR);       // 11
    HRESULT(STDMETHODCALLTYPE *GetDefaultStartupFlags)(Iface *, DWORD *, LPWSTR, DWORD *); // 12
    HRESULT(STDMETHODCALLTYPE *BindAsLegacyV2Runtime)(Iface *);                            // 13
    HRESULT(STDMETHODCALLTYPE *IsStarted)(Iface *, BOOL *, DWORD *);                       // 14
};

struct CorRuntimeHostVtbl {
    UnknownSlots unk;
    HRESULT(STDMETHODCALLTYPE *CreateLogicalThreadState)(Iface *);                                   // 3
    HRESULT(STDMETHODCALLTYPE *DeleteLogicalThreadState)(Iface *);                                   // 4
    HRESULT(STDMETHODCALLTYPE *SwitchInLogicalThreadState)(Iface *, DWORD *);                        // 5
    HRESULT(STDMETHODCALLTYPE *SwitchOutLogicalThreadState)(Iface *, DWORD **);                      // 6
    HRESULT(STDMETHODCALLTYPE *LocksHeldByLogicalThread)(Iface *, DWORD *);                          // 7
    HRESULT(STDMETHODCALLTYPE *MapFile)(Iface *, HANDLE, HMODULE *);                                 // 8
    HRESULT(STDMETHODCALLTYPE *GetConfiguration)(Iface *, void **);                                  // 9
    HRESULT(STDMETHODCALLTYPE *Start)(Iface *);                                                      // 10
    HRESULT(STDMETHODCALLTYPE *Stop)(Iface *);                                                       // 11
    HRESULT(STDMETHODCALLTYPE *CreateDomain)(Iface *, LPCWSTR, Iface *identity, Iface **);           // 12
    HRESULT(STDMETHODCALLTYPE *GetDefaultDomain)(Iface *, Iface **);                                 // 13
    HRESULT(STDMETHODCALLTYPE *EnumDomains)(Iface *, void **);                                       // 14
    HRESULT(STDMETHODCALLTYPE *NextDomain)(Iface *, void *, Iface **);                               // 15
    HRESULT(STDMETHODCALLTYPE *CloseEnum)(Iface *, void *);                                          // 16
    HRESULT(STDMETHODCALLTYPE *CreateDomainEx)(Iface *, LPCWSTR, Iface *setup, Iface *ev, Iface **); // 17
    HRESULT(STDMETHODCALLTYPE *CreateDomainSetup)(Iface *, Iface **);                                // 18
    HRESULT(STDMETHODCALLTYPE *CreateEvidence)(Iface *, Iface **);                                   // 19
    HRESULT(STDMETHODCALLTYPE *UnloadDomain)(Iface *, Iface *);                                      // 20
    HRESULT(STDMETHODCALLTYPE *CurrentDomain)(Iface *, Iface **);                                    // 21
};

// IAppDomainSetup: ten string properties, getter before setter.
struct StringProperty {
    HRESULT(STDMETHODCALLTYPE *get)(Iface *, BSTR *);
    HRESULT(STDMETHODCALLTYPE *put)(Iface *, BSTR);
};
enum SetupProperty {
    ApplicationBase,
    ApplicationName,
    CachePath,
    ConfigurationFile,
    DynamicBase,
    LicenseFile,
    PrivateBinPath,
    PrivateBinPathProbe,
    ShadowCopyDirectories,
    ShadowCopyFiles,
    SetupPropertyCount
};
struct AppDomainSetupVtbl {
    UnknownSlots unk;
    StringProperty prop[SetupPropertyCount]; // slots 3-22, indexed by SetupProperty
};

struct AppDomainVtbl {
    UnknownSlots unk;
    DispatchSlots disp;
    SlotFn s7_43[37];
    HRESULT(STDMETHODCALLTYPE *Load_2)(Iface *, BSTR assemblyString, Iface **); // 44
    SlotFn s45_52[8];
    HRESULT(STDMETHODCALLTYPE *get_FriendlyName)(Iface *, BSTR *);  // 53
    HRESULT(STDMETHODCALLTYPE *get_BaseDirectory)(Iface *, BSTR *); // 54
    SlotFn s55_69[15];
};

struct AssemblyVtbl {
    UnknownSlots unk;
    DispatchSlots disp;
    SlotFn s7_14[8];
    HRESULT(STDMETHODCALLTYPE *get_FullName)(Iface *, BSTR *); // 15
    SlotFn s16[1];
    HRESULT(STDMETHODCALLTYPE *GetType_2)(Iface *, BSTR, Iface **);               // 17
    HRESULT(STDMETHODCALLTYPE *GetType_3)(Iface *, BSTR, VARIANT_BOOL, Iface **); // 18
    SlotFn s19_27[9];
    HRESULT(STDMETHODCALLTYPE *get_Location)(Iface *, BSTR *); // 28
    SlotFn s29_50[22];
};

struct TypeVtbl {
    UnknownSlots unk;
    DispatchSlots disp;
    SlotFn s7_21[15];
    HRESULT(STDMETHODCALLTYPE *get_FullName)(Iface *, BSTR *); // 22
    SlotFn s23_56[34];
    HRESULT(STDMETHODCALLTYPE *InvokeMember_3)
    (Iface *, BSTR name, int invokeAttr, Iface *binder, VARIANT target, SAFEARRAY *args, VARIANT *ret); // 57
    SlotFn s58_114[57];
};

struct SupportErrorInfoVtbl {
    UnknownSlots unk;
    HRESULT(STDMETHODCALLTYPE *InterfaceSupportsErrorInfo)(Iface *, REFIID); // 3
};

struct ErrorInfoVtbl {
    UnknownSlots unk;
    HRESULT(STDMETHODCALLTYPE *GetGUID)(Iface *, GUID *);         // 3
    HRESULT(STDMETHODCALLTYPE *GetSource)(Iface *, BSTR *);       // 4
    HRESULT(STDMETHODCALLTYPE *GetDescription)(Iface *, BSTR *);  // 5
    HRESULT(STDMETHODCALLTYPE *GetHelpFile)(Iface *, BSTR *);     // 6
    HRESULT(STDMETHODCALLTYPE *GetHelpContext)(Iface *, DWORD *); // 7
};

// A plain dispatch object, used as a VT_DISPATCH entry result that has no default value.
struct DispatchVtbl {
    UnknownSlots unk;
    DispatchSlots disp;
};

constexpr std::size_t P = sizeof(void *);
#define FC_SLOT(T, m, n) static_assert(offsetof(T, m) == (n)*P, #T "::" #m " must be slot " #n)
#define FC_SLOTS(T, n) static_assert(sizeof(T) == (n)*P, #T " must have " #n " slots")
FC_SLOTS(EnumUnknownVtbl, 7);
FC_SLOTS(MetaHostVtbl, 10);
FC_SLOT(MetaHostVtbl, EnumerateInstalledRuntimes, 5);
FC_SLOTS(RuntimeInfoVtbl, 15);
FC_SLOT(RuntimeInfoVtbl, GetVersionString, 3);
FC_SLOT(RuntimeInfoVtbl, GetInterface, 9);
FC_SLOTS(CorRuntimeHostVtbl, 22);
FC_SLOT(CorRuntimeHostVtbl, Start, 10);
FC_SLOT(CorRuntimeHostVtbl, Stop, 11);
FC_SLOT(CorRuntimeHostVtbl, GetDefaultDomain, 13);
FC_SLOT(CorRuntimeHostVtbl, CreateDomainEx, 17);
FC_SLOT(CorRuntimeHostVtbl, CreateDomainSetup, 18);
FC_SLOT(CorRuntimeHostVtbl, UnloadDomain, 20);
FC_SLOTS(AppDomainSetupVtbl, 23);
FC_SLOT(AppDomainSetupVtbl, prop[ApplicationBase].put, 4);
FC_SLOT(AppDomainSetupVtbl, prop[ApplicationName].put, 6);
FC_SLOT(AppDomainSetupVtbl, prop[ShadowCopyFiles].put, 22);
FC_SLOTS(AppDomainVtbl, 70);
FC_SLOT(AppDomainVtbl, Load_2, 44);
FC_SLOT(AppDomainVtbl, get_FriendlyName, 53);
FC_SLOTS(AssemblyVtbl, 51);
FC_SLOT(AssemblyVtbl, get_FullName, 15);
FC_SLOT(AssemblyVtbl, GetType_3, 18);
FC_SLOT(AssemblyVtbl, get_Location, 28);
FC_SLOTS(TypeVtbl, 115);
FC_SLOT(TypeVtbl, get_FullName, 22);
FC_SLOT(TypeVtbl, InvokeMember_3, 57);
FC_SLOTS(SupportErrorInfoVtbl, 4);
FC_SLOTS(ErrorInfoVtbl, 8);
FC_SLOT(ErrorInfoVtbl, GetDescription, 5);
#if defined(__i386__)
// The x86 byte offsets the fact sheet names.
static_assert(offsetof(AppDomainSetupVtbl, prop[ApplicationBase].put) == 0x10, "put_ApplicationBase");
static_assert(offsetof(AppDomainSetupVtbl, prop[ApplicationName].put) == 0x18, "put_ApplicationName");
static_assert(offsetof(AppDomainVtbl, Load_2) == 0xB0, "Load_2");
static_assert(offsetof(AssemblyVtbl, GetType_3) == 0x48, "GetType_3");
static_assert(offsetof(TypeVtbl, InvokeMember_3) == 0xE4, "InvokeMember_3");
static_assert(offsetof(CorRuntimeHostVtbl, Start) == 40 &&
                  offsetof(CorRuntimeHostVtbl, CreateDomainEx) == 68 &&
                  offsetof(CorRuntimeHostVtbl, CreateDomainSetup) == 72 &&
                  offsetof(CorRuntimeHostVtbl, UnloadDomain) == 80,
              "ICorRuntimeHost offsets");
static_assert(sizeof(VARIANT) == 16 && sizeof(VARIANT_BOOL) == 2, "VARIANT layout");
#endif
#undef FC_SLOT
#undef FC_SLOTS

} // namespace fc
