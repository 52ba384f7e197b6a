// The cleanup of other versions' cache folders, after the application has returned.
#include "cache_cleanup.h"

#include "base/trace.h"
#include "base/unique_any.h"
#include "cache_files.h"
#include "content_cache_lock.h"

#include <cwchar>

namespace corvane
{
namespace
{
// The part of a path before its last backslash; empty when there is none.
_bstr_t ParentFolder(const _bstr_t& bsPath)
{
    const wchar_t* const szPath = bsPath;
    const wchar_t* const pchLast = szPath ? wcsrchr(szPath, L'\\') : nullptr;
    return pchLast ? _bstr_t(SysAllocStringLen(szPath, static_cast<UINT>(pchLast - szPath)), false)
                   : _bstr_t();
}

// The four numbers of a version folder's name, "v<a>.<b>.<c>.<d>" with each of 0-65535 as the build
// allows, in one value that orders as the versions do; false for any other name.
bool ParseVersionFolderName(const wchar_t* szName, unsigned long long& ullVersion)
{
    if (*szName++ != L'v') return false;
    ullVersion = 0;
    for (int nPart = 0; nPart < 4; ++nPart)
    {
        if (nPart > 0 && *szName++ != L'.') return false;
        const wchar_t* const pchStart = szName;
        unsigned long ulPart = 0;
        while (*szName >= L'0' && *szName <= L'9' && szName - pchStart < 5)
            ulPart = ulPart * 10 + (*szName++ - L'0');
        if (szName == pchStart || ulPart > 0xFFFF) return false;
        ullVersion = ullVersion << 16 | ulPart;
    }
    return *szName == L'\0';
}

// Calls visit(name, version) for each folder (or link to one) of the product folder named as a version,
// the current version's excepted.
template <class TVisit>
void ForEachOtherVersion(const _bstr_t& bsProductFolder, const wchar_t* szCurrentName, TVisit visit)
{
    WIN32_FIND_DATAW fd;
    const CUniqueAny<HANDLE, &FindClose, -1> find(FindFirstFileW(Joined({bsProductFolder, L"\\*"}), &fd));
    if (!find.IsValid()) return;
    do
    {
        unsigned long long ullVersion = 0;
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && _wcsicmp(fd.cFileName, szCurrentName) != 0 &&
            ParseVersionFolderName(fd.cFileName, ullVersion))
            visit(fd.cFileName, ullVersion);
    } while (FindNextFileW(find.Get(), &fd));
}

// The stamp first, so that a removal that stops halfway leaves a folder that the next start of that
// version fills again; then the cache tree; then the version folder. A version folder that is a link
// goes as a link: nothing is removed through it. A held file is not waited for: something still uses that
// version (a copy started by a release that set no in-use mark holds its libraries), and the removal stops.
HRESULT RemoveVersionFolder(const _bstr_t& bsVersionFolder, const _bstr_t& bsCacheFolder)
{
    HRESULT hr = S_OK;
    if (GetItemKind(bsVersionFolder) != EItemKind::Link)
    {
        hr = RemoveCacheItem(Joined({bsCacheFolder, L".stamp"}), 0);
        if (SUCCEEDED(hr)) hr = RemoveCacheItem(bsCacheFolder, 0);
    }
    return SUCCEEDED(hr) ? RemoveCacheItem(bsVersionFolder, 0) : hr;
}

// One old version, unless a start holds its lock or a running copy its folder.
HRESULT RemoveUnusedVersion(const _bstr_t& bsVersionFolder, const wchar_t* szCacheName)
{
    const _bstr_t bsCacheFolder = Joined({bsVersionFolder, L"\\", szCacheName});
    // No wait: a start that holds the lock is unpacking that version.
    const _bstr_t bsLockName = GetContentCacheLockName(bsCacheFolder);
    const CContentCacheLock lock(bsLockName, 0);
    if (!lock.IsHeld() || IsContentFolderInUse(bsLockName))
    {
        Trace(L"old version %ls in use, kept", static_cast<const wchar_t*>(bsVersionFolder));
        return S_OK;
    }
    const HRESULT hr = RemoveVersionFolder(bsVersionFolder, bsCacheFolder);
    Trace(L"old version %ls removed -> 0x%08lX", static_cast<const wchar_t*>(bsVersionFolder),
          static_cast<unsigned long>(hr));
    return hr;
}
} // namespace

HRESULT RemoveOldContentVersions(const _bstr_t& bsContentFolder)
{
    // <product folder>\v<version>\<cache folder>, as the start found it.
    const _bstr_t bsVersionFolder = ParentFolder(bsContentFolder);
    const _bstr_t bsProductFolder = ParentFolder(bsVersionFolder);
    if (bsProductFolder.length() == 0) return S_FALSE;
    const wchar_t* const szCacheName =
        static_cast<const wchar_t*>(bsContentFolder) + bsVersionFolder.length() + 1;
    const wchar_t* const szVersionName =
        static_cast<const wchar_t*>(bsVersionFolder) + bsProductFolder.length() + 1;

    _bstr_t bsNewest;
    unsigned long long ullNewest = 0;
    ForEachOtherVersion(bsProductFolder, szVersionName, [&](const wchar_t* szName, unsigned long long ull) {
        if (bsNewest.length() == 0 || ull > ullNewest)
        {
            bsNewest = szName;
            ullNewest = ull;
        }
    });
    if (bsNewest.length() == 0) return S_OK;
    HRESULT hrFirst = S_OK;
    ForEachOtherVersion(bsProductFolder, szVersionName, [&](const wchar_t* szName, unsigned long long) {
        if (_wcsicmp(szName, bsNewest) == 0) return;
        const HRESULT hr = RemoveUnusedVersion(Joined({bsProductFolder, L"\\", szName}), szCacheName);
        if (FAILED(hr) && SUCCEEDED(hrFirst)) hrFirst = hr;
    });
    return hrFirst;
}
} // namespace corvane
