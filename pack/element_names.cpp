// Element names of the pack as file names, and the names of one folder told apart as the disk does.
#include "element_names.h"

#include "base/error_report.h"

#include <cstring>
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

CFolderNames::~CFolderNames()
{
    for (size_t n = 0; n < m_cNames; ++n)
        SysFreeString(m_arNames[n]);
}

bool CFolderNames::Add(const wchar_t* szName)
{
    const UINT cchName = static_cast<UINT>(wcslen(szName));
    BSTR bsUpper = SysAllocStringLen(szName, cchName);
    if (!bsUpper) throw CHresultException(E_OUTOFMEMORY);
    CharUpperBuffW(bsUpper, cchName);
    size_t nLow = 0;
    size_t nHigh = m_cNames;
    while (nLow < nHigh)
    {
        const size_t nMiddle = nLow + (nHigh - nLow) / 2;
        const int nOrder = wcscmp(m_arNames[nMiddle], bsUpper);
        if (nOrder == 0)
        {
            SysFreeString(bsUpper);
            return false;
        }
        if (nOrder < 0)
            nLow = nMiddle + 1;
        else
            nHigh = nMiddle;
    }
    if (m_cNames == m_cCapacity) Grow();
    memmove(&m_arNames[nLow + 1], &m_arNames[nLow], (m_cNames - nLow) * sizeof(BSTR));
    m_arNames[nLow] = bsUpper;
    ++m_cNames;
    return true;
}

void CFolderNames::Grow()
{
    const size_t cCapacity = m_cCapacity ? 2 * m_cCapacity : 16;
    std::unique_ptr<BSTR[]> arNames(new BSTR[cCapacity]);
    if (m_cNames) memcpy(arNames.get(), m_arNames.get(), m_cNames * sizeof(BSTR));
    m_arNames = std::move(arNames);
    m_cCapacity = cCapacity;
}
} // namespace corvane
