// CVersion4: parsing, comparison and text form.
#include "version.h"

#include <cwchar>

namespace corvane
{
bool CVersion4::operator==(const CVersion4& other) const
{
    for (unsigned u = 0; u < 4; ++u)
        if (m_an[u] != other.m_an[u]) return false;
    return true;
}

bool CVersion4::operator>(CVersion4 other) const
{
    for (unsigned u = 0; u < 4; ++u)
        if (m_an[u] != other.m_an[u]) return m_an[u] > other.m_an[u];
    return false;
}

_bstr_t CVersion4::ToText(int nCount) const
{
    _bstr_t bsText(L"");
    for (int n = 0; n < nCount; ++n)
    {
        wchar_t szComponent[16];
        swprintf(szComponent, 16, n == 0 ? L"%d" : L".%d", GetComponent(static_cast<unsigned>(n)));
        bsText += szComponent;
    }
    return bsText;
}

CVersion4 CVersion4::ParseComponents(const wchar_t* szText)
{
    CVersion4 ver;
    unsigned uCount = 0;
    wchar_t szComponent[4096];
    size_t nLength = 0;
    for (const wchar_t* pch = szText;; ++pch)
    {
        if (*pch != L'.' && *pch != L'\0')
        {
            // A component longer than the buffer is cut: its leading digits already decide its value.
            if (nLength < 4095) szComponent[nLength++] = *pch;
            continue;
        }
        if (nLength == 0) break;
        szComponent[nLength] = L'\0';
        // long is 32 bits on Windows, so wcstol's own clamping gives the 32-bit range.
        ver.SetComponent(uCount++, static_cast<int>(wcstol(szComponent, nullptr, 10)));
        nLength = 0;
        if (uCount == 4 || *pch == L'\0') break;
    }
    return ver;
}

CVersion4 CVersion4::ParseVersionString(const wchar_t* szText)
{
    if (szText[0] == L'v' || szText[0] == L'V') ++szText;
    return ParseComponents(szText);
}
} // namespace corvane
