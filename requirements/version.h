// CVersion4: the one version type of the launcher (four signed components, parsing, order, text form).
#pragma once

#include "base/com_support.h"

namespace corvane
{
class CVersion4
{
public:
    CVersion4() = default;
    CVersion4(int nMajor, int nMinor, int nBuild, int nRevision) : m_an{nMajor, nMinor, nBuild, nRevision} {}

    int GetComponent(unsigned uIndex) const { return uIndex < 4 ? m_an[uIndex] : 0; }
    void SetComponent(unsigned uIndex, int nValue)
    {
        if (uIndex < 4) m_an[uIndex] = nValue;
    }
    bool IsZero() const { return *this == CVersion4(); }

    bool operator==(const CVersion4& other) const;
    bool operator!=(const CVersion4& other) const { return !(*this == other); }
    bool operator>(CVersion4 other) const;
    bool operator>=(CVersion4 other) const { return *this == other || *this > other; }
    bool operator<(CVersion4 other) const { return !(*this >= other); }

    // The first nCount components joined by "."; indexes above 3 print as 0.
    _bstr_t ToText(int nCount) const;

    // Up to four "."-separated components, each read like wcstol; an empty component ends the parse.
    static CVersion4 ParseComponents(const wchar_t* szText);
    // As ParseComponents, after skipping one leading "v" or "V" (runtime version strings).
    static CVersion4 ParseVersionString(const wchar_t* szText);

private:
    int m_an[4] = {0, 0, 0, 0};
};
} // namespace corvane
