// Element names of the pack as file names.
#include "element_names.h"

#include <cwchar>

namespace corvane
{
bool IsDeviceName(const wchar_t* szName)
{
    const size_t nBase = wcscspn(szName, L".");
    auto isPrefix = [szName](const wchar_t* szDevice) { return _wcsnicmp(szName, szDevice, 3) == 0; };
    if (nBase == 3) return isPrefix(L"CON") || isPrefix(L"PRN") || isPrefix(L"AUX") || isPrefix(L"NUL");
    return nBase == 4 && (isPrefix(L"COM") || isPrefix(L"LPT")) && szName[3] >= L'1' && szName[3] <= L'9';
}

bool IsSafeFileName(const wchar_t* szName)
{
    const size_t nLength = wcslen(szName);
    if (nLength == 0 || wcscmp(szName, L".") == 0 || wcscmp(szName, L"..") == 0) return false;
    if (szName[nLength - 1] == L'.' || szName[nLength - 1] == L' ') return false;
    for (const wchar_t* pch = szName; *pch; ++pch)
        if (*pch < 32 || wcschr(L"<>:\"/\\|?*", *pch)) return false;
    return !IsDeviceName(szName);
}

_bstr_t GetElementFileName(const wchar_t* szReportedName)
{
    // Wine's storage reports elements of a sub-storage by their path from the root ("x86/native.dll");
    // the element's own name is the last part, which is what opening it and the file system need.
    const wchar_t* pszLastSlash = wcsrchr(szReportedName, L'/');
    const wchar_t* pszName = pszLastSlash ? pszLastSlash + 1 : szReportedName;
    return IsSafeFileName(pszName) ? _bstr_t(pszName) : _bstr_t();
}
} // namespace corvane
