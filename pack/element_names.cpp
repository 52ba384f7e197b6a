// Element names of the pack as file names.
#include "element_names.h"

#include <cwchar>

namespace corvane
{
bool IsDeviceName(const wchar_t* szName)
{
    // The system takes the part before the first dot, without the blanks that end it ("NUL .txt" is
    // NUL); COM and LPT go with a digit from 1 to 9 or a superscript one, two or three.
    size_t nBase = wcscspn(szName, L".");
    while (nBase > 0 && szName[nBase - 1] == L' ')
        --nBase;
    const wchar_t* const c_devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* szDevice : c_devices)
        if (nBase == wcslen(szDevice) && _wcsnicmp(szName, szDevice, nBase) == 0) return true;
    if (nBase != 4 || (_wcsnicmp(szName, L"COM", 3) != 0 && _wcsnicmp(szName, L"LPT", 3) != 0)) return false;
    const wchar_t chNumber = szName[3];
    return (chNumber >= L'1' && chNumber <= L'9') || chNumber == L'\x00B9' || chNumber == L'\x00B2' ||
           chNumber == L'\x00B3';
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
