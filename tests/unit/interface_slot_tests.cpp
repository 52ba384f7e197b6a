// The hosting interfaces are declared by hand: every slot the launcher calls must sit where the
// platform puts it, or the call lands in another method. Slots from the interfaces' published layout.
#include "host/clr_interfaces.h"
#include "pack/itstorage.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{
// A pointer to a virtual member holds 1 + the slot's byte offset in its first word (the Itanium C++ ABI
// that GCC uses on Windows too).
template <class TMember> size_t SlotOf(TMember member)
{
    static_assert(sizeof(TMember) == 2 * sizeof(void*), "pointer to member of a single-inheritance class");
    ptrdiff_t value = 0;
    std::memcpy(&value, &member, sizeof(value));
    EXPECT_EQ(value & 1, 1) << "not a virtual member";
    return static_cast<size_t>(value - 1) / sizeof(void*);
}
} // namespace

TEST(InterfaceSlots, CalledMethodsSitInThePublishedSlots)
{
    EXPECT_EQ(SlotOf(&ICLRMetaHost::EnumerateInstalledRuntimes), 5u);
    EXPECT_EQ(SlotOf(&ICLRRuntimeInfo::GetVersionString), 3u);
    EXPECT_EQ(SlotOf(&ICLRRuntimeInfo::GetInterface), 9u);
    EXPECT_EQ(SlotOf(&ICorRuntimeHost::Start), 10u);
    EXPECT_EQ(SlotOf(&ICorRuntimeHost::Stop), 11u);
    EXPECT_EQ(SlotOf(&ICorRuntimeHost::GetDefaultDomain), 13u);
    EXPECT_EQ(SlotOf(&ICorRuntimeHost::CreateDomainEx), 17u);
    EXPECT_EQ(SlotOf(&ICorRuntimeHost::CreateDomainSetup), 18u);
    EXPECT_EQ(SlotOf(&IAppDomainSetup::put_ApplicationBase), 4u);
    EXPECT_EQ(SlotOf(&IAppDomainSetup::put_ApplicationName), 6u);
    EXPECT_EQ(SlotOf(&_AppDomain::Load_2), 44u);
    EXPECT_EQ(SlotOf(&_Assembly::GetType_3), 18u);
    EXPECT_EQ(SlotOf(&_Type::InvokeMember_3), 57u);
}

TEST(InterfaceSlots, IdentifiersAreThePublishedOnes)
{
    wchar_t sz[40];
    const std::pair<const GUID*, const wchar_t*> ids[] = {
        {&CLSID_CLRMetaHost, L"{9280188D-0E8E-4867-B30C-7FA83884E8DE}"},
        {&IID_ICLRMetaHost, L"{D332DB9E-B9B3-4125-8207-A14884F53216}"},
        {&IID_ICLRRuntimeInfo, L"{BD39D1D2-BA2F-486A-89B0-B4B0CB466891}"},
        {&CLSID_CorRuntimeHost, L"{CB2F6723-AB3A-11D2-9C40-00C04FA30A3E}"},
        {&IID_ICorRuntimeHost, L"{CB2F6722-AB3A-11D2-9C40-00C04FA30A3E}"},
        {&IID_IAppDomainSetup, L"{27FFF232-A7A8-40DD-8D4A-734AD59FCD41}"},
        {&IID__AppDomain, L"{05F696DC-2B29-3663-AD8B-C4389CF2A713}"},
        {&IID__Assembly, L"{17156360-2F1A-384A-BC52-FDE93C215C5B}"},
        {&IID__Type, L"{BCA8B44D-AAD6-3A86-8AB7-03349F4F2DA2}"},
    };
    for (const auto& id : ids)
    {
        StringFromGUID2(*id.first, sz, 40);
        EXPECT_STREQ(sz, id.second);
    }
}
