// The framework check and the survey of "SOFTWARE\Microsoft\NET Framework Setup\NDP".
#include "framework_survey.h"

#include "base/unique_any.h"
#include "runtime_requirements_dialog.h"

namespace corvane
{
namespace
{
const wchar_t c_szNdpKey[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP";

// Opens a subkey for reading; the owner closes it.
LONG OpenKey(HKEY hkeyParent, const wchar_t* szSubkey, CUniqueHKey& hkey)
{
    return RegOpenKeyExW(hkeyParent, szSubkey, 0, KEY_READ, hkey.Put());
}

// True when the key's "Install" value reads as a non-zero 4-byte number.
bool HasInstallFlag(HKEY hkey)
{
    DWORD dwInstall = 0;
    DWORD cbData = sizeof(dwInstall);
    return RegQueryValueExW(hkey, L"Install", nullptr, nullptr, reinterpret_cast<BYTE*>(&dwInstall),
                            &cbData) == ERROR_SUCCESS &&
           dwInstall != 0;
}

// Replaces the version with the key's "Version" value unless that is unreadable or contradicts it.
void ReadVersionValue(HKEY hkey, CVersion4& ver)
{
    wchar_t szVersion[260];
    // 260 bytes, not characters, is what the survey has always asked for: longer values do not fit.
    DWORD cbData = 260;
    if (RegQueryValueExW(hkey, L"Version", nullptr, nullptr, reinterpret_cast<BYTE*>(szVersion), &cbData) !=
            ERROR_SUCCESS ||
        cbData == 0 || cbData > 260)
        return;
    // A value without its own terminator ends after the returned data.
    szVersion[cbData / sizeof(wchar_t) < 260 ? cbData / sizeof(wchar_t) : 259] = L'\0';

    const CVersion4 verFromData = CVersion4::ParseComponents(szVersion);
    if (verFromData.IsZero()) return;
    for (unsigned u = 0; u < 4; ++u)
        if (ver.GetComponent(u) != 0 && ver.GetComponent(u) != verFromData.GetComponent(u)) return;
    ver = verFromData;
}

// True when the version named by the subkey is installed directly or in its full edition.
bool ReadInstalledVersion(HKEY hkeyRoot, const wchar_t* szName, CVersion4& ver)
{
    CUniqueHKey hkeyVersion;
    if (OpenKey(hkeyRoot, szName, hkeyVersion) != ERROR_SUCCESS) return false;
    if (HasInstallFlag(hkeyVersion.Get()))
    {
        ReadVersionValue(hkeyVersion.Get(), ver);
        return true;
    }
    CUniqueHKey hkeyFull;
    if (OpenKey(hkeyVersion.Get(), L"Full", hkeyFull) != ERROR_SUCCESS || !HasInstallFlag(hkeyFull.Get()))
        return false;
    ReadVersionValue(hkeyFull.Get(), ver);
    return true;
}
} // namespace

CVersion4 ParseRegistryKeyName(const wchar_t* szName)
{
    if ((szName[0] != L'v' && szName[0] != L'V') || szName[1] == L'\0') return CVersion4();
    return CVersion4::ParseComponents(szName + 1);
}

CVersion4 FindMaximumInstalledFramework()
{
    CUniqueHKey hkeyNetfxes;
    if (OpenKey(HKEY_LOCAL_MACHINE, c_szNdpKey, hkeyNetfxes) != ERROR_SUCCESS) return CVersion4();

    CVersion4 verMaxFound;
    for (DWORD dwIndex = 0; dwIndex < 4096; ++dwIndex)
    {
        wchar_t szName[260];
        DWORD nCchName = 260;
        const LONG lResult =
            RegEnumKeyExW(hkeyNetfxes.Get(), dwIndex, szName, &nCchName, nullptr, nullptr, nullptr, nullptr);
        if (lResult == ERROR_NO_MORE_ITEMS) break;
        if (lResult != ERROR_SUCCESS || nCchName == 0) continue;
        szName[nCchName < 260 ? nCchName : 259] = L'\0';

        CVersion4 verItem = ParseRegistryKeyName(szName);
        if (verItem.IsZero() || !ReadInstalledVersion(hkeyNetfxes.Get(), szName, verItem)) continue;
        if (verItem > verMaxFound) verMaxFound = verItem;
    }
    return verMaxFound;
}

HRESULT CheckFrameworkRequirement(CVersion4 verClrRequired, CVersion4 verNetfxRequired, CVersion4 verClrFound)
{
    if (verNetfxRequired.GetComponent(0) == verClrRequired.GetComponent(0) &&
        verNetfxRequired.GetComponent(1) == verClrRequired.GetComponent(1))
        return S_OK;
    if (verClrFound >= verNetfxRequired) return S_OK;

    const CVersion4 verNetfxMaxInstalled = FindMaximumInstalledFramework();
    if (verNetfxMaxInstalled < verNetfxRequired)
        return ShowRuntimeRequirementsDialog(verClrFound, verNetfxMaxInstalled, TRUE, verClrRequired,
                                             verNetfxRequired);
    return S_OK;
}
} // namespace corvane
