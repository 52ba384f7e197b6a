// The content cache root: where it comes from, and the check that a root someone named can hold the cache.
#include "cache_root.h"

#include "base/error_report.h"
#include "base/product.h"
#include "base/trace.h"
#include "base/unique_any.h"

namespace corvane
{
namespace
{
const wchar_t c_szPolicyValue[] = L"CacheRoot";
const wchar_t c_szRootVariable[] = L"CORVANE_CACHE_ROOT";

// A string of cch characters for a call to fill in, owned from the start. Out of memory it throws, as
// _bstr_t's own allocations do.
_bstr_t AllocateText(DWORD cch)
{
    const BSTR bstr = SysAllocStringLen(nullptr, cch);
    if (!bstr) _com_issue_error(E_OUTOFMEMORY);
    return _bstr_t(bstr, false);
}

_bstr_t PolicyKeyPath()
{
    return Joined({L"Software\\Policies\\", g_szMakerName, L"\\", g_szProductName});
}

_bstr_t ExpandVariables(const _bstr_t& bsText)
{
    const DWORD cch = ExpandEnvironmentStringsW(bsText, nullptr, 0);
    if (cch == 0) return bsText;
    _bstr_t bsExpanded = AllocateText(cch);
    if (ExpandEnvironmentStringsW(bsText, bsExpanded, cch) != cch) return bsText;
    return _bstr_t(static_cast<const wchar_t*>(bsExpanded));
}

// The policy's root with its variables expanded; empty when no policy names one. A value of another kind
// names no folder, and the start goes on as without it.
_bstr_t ReadPolicyRoot()
{
    // The 64-bit view, because that is where an administrator's 64-bit tools and group policy write the
    // value: where 64-bit Windows redirects the key for 32-bit processes, the 32-bit product would otherwise
    // read its Wow6432Node copy. Where the key is shared (as Wine shares it) and on 32-bit Windows, the flag
    // changes nothing.
    CUniqueHKey hkey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PolicyKeyPath(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                      hkey.Put()) != ERROR_SUCCESS)
        return _bstr_t();
    DWORD dwType = 0;
    DWORD cb = 0;
    if (RegQueryValueExW(hkey.Get(), c_szPolicyValue, nullptr, &dwType, nullptr, &cb) != ERROR_SUCCESS ||
        (dwType != REG_SZ && dwType != REG_EXPAND_SZ))
        return _bstr_t();
    // The stored string need not end with a null character: one more is kept for it.
    const DWORD cch = cb / sizeof(wchar_t);
    _bstr_t bsValue = AllocateText(cch + 1);
    wchar_t* szValue = bsValue;
    if (RegQueryValueExW(hkey.Get(), c_szPolicyValue, nullptr, nullptr, reinterpret_cast<BYTE*>(szValue),
                         &cb) != ERROR_SUCCESS)
        return _bstr_t();
    szValue[cb / sizeof(wchar_t)] = L'\0';
    const _bstr_t bsRoot(static_cast<const wchar_t*>(bsValue));
    return dwType == REG_EXPAND_SZ ? ExpandVariables(bsRoot) : bsRoot;
}

// The variable's root; empty when it is not set.
_bstr_t ReadVariableRoot()
{
    const DWORD cch = GetEnvironmentVariableW(c_szRootVariable, nullptr, 0);
    if (cch == 0) return _bstr_t();
    _bstr_t bsValue = AllocateText(cch);
    if (GetEnvironmentVariableW(c_szRootVariable, bsValue, cch) >= cch) return _bstr_t();
    return _bstr_t(static_cast<const wchar_t*>(bsValue));
}

// A root someone named must be a folder that files and folders can be added to. Asking for that right on
// the folder itself checks its permissions without writing anything in it.
HRESULT UseNamedRoot(const _bstr_t& bsNamed, const _bstr_t& bsSource, _bstr_t& bsRoot)
{
    const CUniqueHFile hFolder(CreateFileW(bsNamed, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    DWORD dwError = ERROR_SUCCESS;
    if (!hFolder.IsValid() || !GetFileInformationByHandle(hFolder.Get(), &info))
        dwError = GetLastError();
    else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        dwError = ERROR_DIRECTORY;
    if (dwError != ERROR_SUCCESS)
        return ReportWin32Error(dwError, Joined({L"Could not use the product content cache root ",
                                                 Quoted(bsNamed), L" from ", bsSource, L"."}));
    Trace(L"content cache root %ls, from %ls", static_cast<const wchar_t*>(bsNamed),
          static_cast<const wchar_t*>(bsSource));
    bsRoot = bsNamed;
    return S_OK;
}

HRESULT UseTemporaryRoot(_bstr_t& bsRoot)
{
    wchar_t szPath[MAX_PATH + 1];
    const DWORD dwLength = GetTempPathW(MAX_PATH, szPath);
    if (dwLength == 0) return ReportWin32Error(GetLastError(), L"Could not get the TEMP folder path.");
    // A longer path was not written: the buffer holds nothing defined, so it must not be read.
    if (dwLength >= MAX_PATH)
        return ReportWin32Error(ERROR_FILENAME_EXCED_RANGE, L"Could not get the TEMP folder path.");
    if (szPath[0] == L'\0') return S_FALSE;
    Trace(L"content cache root %ls, the temporary folder", szPath);
    bsRoot = szPath;
    return S_OK;
}
} // namespace

HRESULT GetContentCacheRoot(_bstr_t& bsRoot)
{
    const _bstr_t bsPolicyRoot = ReadPolicyRoot();
    if (bsPolicyRoot.length() != 0)
        return UseNamedRoot(
            bsPolicyRoot,
            Joined({L"the policy value ", c_szPolicyValue, L" of HKEY_LOCAL_MACHINE\\", PolicyKeyPath()}),
            bsRoot);
    const _bstr_t bsVariableRoot = ReadVariableRoot();
    if (bsVariableRoot.length() != 0)
        return UseNamedRoot(bsVariableRoot, Joined({L"the environment variable ", c_szRootVariable}), bsRoot);
    return UseTemporaryRoot(bsRoot);
}
} // namespace corvane
