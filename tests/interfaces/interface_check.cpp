// Holds the launcher's hand-declared COM interfaces against independent declarations, in the flavour's own
// compiler: the native ones against Wine's and mingw-w64's headers, the managed ones against declarations
// generated from Mono's mscorlib. Per method: vtable slot, __stdcall and parameter types; per interface: IID.
// Usage: interface_check native|managed. One line per check; the exit code counts the failures.
#include <windows.h>
#include <ole2.h>
// The independent headers' GUIDs become definitions here, to compare with.
#include <initguid.h>
#include <mscoree.h>                  // mingw-w64: ICorRuntimeHost
#include WINE_METAHOST_H              // Wine: ICLRMetaHost, ICLRRuntimeInfo (mingw-w64 10 has no metahost.h)
#include WINE_ITSS_H                  // Wine: IITStorage
#include "managed_com_declarations.h" // namespace mono, generated at build time

// The product's declarations beside the others: everything they include is already in, so only their
// own names land in the namespace.
#include "base/com_support.h"
namespace product
{
#include "host/clr_interfaces.h"
#include "pack/itstorage.h"
} // namespace product

#include <cstdio>
#include <cstring>
#include <cstdint>
#include <iterator>
#include <type_traits>

namespace
{
// A pointer to a virtual member holds 1 + the slot's byte offset in its first word (the Itanium C++ ABI,
// which GCC uses on Windows too); anything else reads as no slot.
template <class M> size_t SlotOf(M member)
{
    static_assert(sizeof(M) == 2 * sizeof(void*), "pointer to member of a single-inheritance class");
    ptrdiff_t word = 0;
    std::memcpy(&word, &member, sizeof(word));
    return (word & 1) ? static_cast<size_t>(word - 1) / sizeof(void*) : SIZE_MAX;
}

// The managed interfaces name each other: one tag per interface, whichever side declares it.
template <class T> struct Norm
{
    using type = T;
};
template <class T> struct Norm<T*>
{
    using type = typename Norm<T>::type*;
};
#define SAME_INTERFACES(ns)                                                                                  \
    template <> struct Norm<ns::IAppDomainSetup>                                                             \
    {                                                                                                        \
        using type = struct TagAppDomainSetup;                                                               \
    };                                                                                                       \
    template <> struct Norm<ns::_AppDomain>                                                                  \
    {                                                                                                        \
        using type = struct TagAppDomain;                                                                    \
    };                                                                                                       \
    template <> struct Norm<ns::_Assembly>                                                                   \
    {                                                                                                        \
        using type = struct TagAssembly;                                                                     \
    };                                                                                                       \
    template <> struct Norm<ns::_Type>                                                                       \
    {                                                                                                        \
        using type = struct TagType;                                                                         \
    };
SAME_INTERFACES(product)
SAME_INTERFACES(mono)

// What the machine sees of a parameter: any pointer, an integer or enum of its size, or the type itself.
template <class T>
using Abi = std::conditional_t<std::is_pointer_v<T>, void*,
                               std::conditional_t<std::is_integral_v<T> || std::is_enum_v<T>,
                                                  std::integral_constant<size_t, sizeof(T)>, T>>;

// Only a __stdcall member matches (on x86; x86-64 has one convention, so there everything does).
template <class M> struct Method
{
    static constexpr bool stdcall = false;
};
template <class R, class C, class... A> struct Method<R (STDMETHODCALLTYPE C::*)(A...)>
{
    static constexpr bool stdcall = true;
    using exact = R(typename Norm<A>::type...);
    using abi = R(Abi<A>...);
};
template <class P, class Q> constexpr int Types()
{
    if constexpr (!Method<P>::stdcall || !Method<Q>::stdcall)
        return 0;
    else if constexpr (std::is_same_v<typename Method<P>::exact, typename Method<Q>::exact>)
        return 2;
    else
        return std::is_same_v<typename Method<P>::abi, typename Method<Q>::abi> ? 1 : 0;
}

// A method the launcher calls must match exactly; one it only declares, to keep the slots, may use
// stand-in types of the same machine form.
enum Use
{
    Declared = 1,
    Called = 2
};
struct Row
{
    const char* name;
    size_t slot, expected, slack; // slack: members of unknown place (see ManagedComDeclarations.cs)
    bool stdcall;
    int types, needed; // 2 same types, 1 same machine form, 0 neither
};
#define ROW(P, R, M, use, slack)                                                                             \
    Row                                                                                                      \
    {                                                                                                        \
#P "::" #M, SlotOf(&product::P::M), SlotOf(&R::M), slack,                                            \
            Method < decltype(&product::P::M)> ::stdcall&& Method < decltype(&R::M)> ::stdcall,              \
            Types < decltype(&product::P::M), decltype(&R::M)>(), use                                        \
    }
#define NATIVE(P, R, M, use) ROW(P, ::R, M, use, 0)
#define MANAGED(P, M) ROW(P, mono::P, M, Called, mono::Unplaced_##P)

struct Id
{
    const char* name;
    GUID product, independent;
};

int Check(const Row* rows, size_t rowCount, const Id* ids, size_t idCount)
{
    static const char* const typeWords[] = {
        "__stdcall, other types", "__stdcall, same machine form, other types", "__stdcall, same types"};
    int failures = 0;
    for (const Row* r = rows; r != rows + rowCount; ++r)
    {
        bool ok = r->slot >= r->expected && r->slot <= r->expected + r->slack && r->stdcall &&
                  r->types >= r->needed;
        failures += !ok;
        std::printf("%s %-42s slot %zu, independent %zu", ok ? "ok  " : "FAIL", r->name, r->slot,
                    r->expected);
        if (r->slack) std::printf(" to %zu", r->expected + r->slack);
        std::printf("; %s\n", r->stdcall ? typeWords[r->types] : "NOT __stdcall, types not compared");
    }
    for (const Id* i = ids; i != ids + idCount; ++i)
    {
        bool ok = IsEqualGUID(i->product, i->independent);
        failures += !ok;
        std::printf("%s %s\n", ok ? "ok  " : "FAIL", i->name);
    }
    return failures;
}
} // namespace

int main(int argc, char** argv)
{
    // The slot reading itself, on interfaces whose layout is not in question.
    if (SlotOf(&IUnknown::Release) != 2 || SlotOf(&IDispatch::Invoke) != 6)
    {
        std::printf("FAIL reading slots from member pointers\n");
        return 1;
    }
    const char* group = argc > 1 ? argv[1] : "";
    if (std::strcmp(group, "native") == 0)
    {
        const Row rows[] = {
            NATIVE(ICLRMetaHost, ICLRMetaHost, EnumerateInstalledRuntimes, Called),
            NATIVE(ICLRRuntimeInfo, ICLRRuntimeInfo, GetVersionString, Called),
            NATIVE(ICLRRuntimeInfo, ICLRRuntimeInfo, GetInterface, Called),
            NATIVE(ICorRuntimeHost, ICorRuntimeHost, Start, Called),
            NATIVE(ICorRuntimeHost, ICorRuntimeHost, Stop, Called),
            NATIVE(ICorRuntimeHost, ICorRuntimeHost, GetDefaultDomain, Called),
            NATIVE(ICorRuntimeHost, ICorRuntimeHost, CreateDomainEx, Called),
            NATIVE(ICorRuntimeHost, ICorRuntimeHost, CreateDomainSetup, Called),
            NATIVE(ITStorage, IITStorage, StgCreateDocfile, Declared),
            NATIVE(ITStorage, IITStorage, StgCreateDocfileOnILockBytes, Declared),
            NATIVE(ITStorage, IITStorage, StgIsStorageFile, Declared),
            NATIVE(ITStorage, IITStorage, StgIsStorageILockBytes, Declared),
            NATIVE(ITStorage, IITStorage, StgOpenStorage, Called),
            NATIVE(ITStorage, IITStorage, StgOpenStorageOnILockBytes, Declared),
            NATIVE(ITStorage, IITStorage, StgSetTimes, Declared),
            NATIVE(ITStorage, IITStorage, SetControlData, Declared),
            NATIVE(ITStorage, IITStorage, DefaultControlData, Declared),
            NATIVE(ITStorage, IITStorage, Compact, Declared),
        };
        const Id ids[] = {
            {"IID_ICLRMetaHost", product::IID_ICLRMetaHost, IID_ICLRMetaHost},
            {"CLSID_CLRMetaHost", product::CLSID_CLRMetaHost, CLSID_CLRMetaHost},
            {"IID_ICLRRuntimeInfo", product::IID_ICLRRuntimeInfo, IID_ICLRRuntimeInfo},
            {"IID_ICorRuntimeHost", product::IID_ICorRuntimeHost, IID_ICorRuntimeHost},
            {"CLSID_CorRuntimeHost", product::CLSID_CorRuntimeHost, CLSID_CorRuntimeHost},
            {"IID_ITStorage", product::IID_ITStorage, IID_IITStorage},
            {"CLSID_ITStorage", product::CLSID_ITStorage, CLSID_ITStorage},
        };
        return Check(rows, std::size(rows), ids, std::size(ids));
    }
    if (std::strcmp(group, "managed") == 0)
    {
        const Row rows[] = {
            MANAGED(IAppDomainSetup, put_ApplicationBase),
            MANAGED(IAppDomainSetup, put_ApplicationName),
            MANAGED(_AppDomain, Load_2),
            MANAGED(_Assembly, GetType_3),
            MANAGED(_Type, InvokeMember_3),
        };
        const Id ids[] = {
            {"IID_IAppDomainSetup", product::IID_IAppDomainSetup, mono::IID_IAppDomainSetup},
            {"IID__AppDomain", product::IID__AppDomain, mono::IID__AppDomain},
            {"IID__Assembly", product::IID__Assembly, mono::IID__Assembly},
            {"IID__Type", product::IID__Type, mono::IID__Type},
        };
        return Check(rows, std::size(rows), ids, std::size(ids));
    }
    std::printf("usage: interface_check native|managed\n");
    return 1;
}
