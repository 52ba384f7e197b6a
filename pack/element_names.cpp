// Element names of the pack as file names, and the names of one folder told apart as the disk does.
#include "element_names.h"

#include "name_rule.h"
#include "sorted_search.h"

#include <cstring>
#include <cwchar>

namespace corvane
{
bool IsSafeFileName(const wchar_t* szName)
{
    return CheckElementName(reinterpret_cast<const char16_t*>(szName), wcslen(szName)) == ENameProblem::None;
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
    {
        SysFreeString(m_arNames[n].bsFolded);
        SysFreeString(m_arNames[n].bsName);
    }
}

bool CFolderNames::Add(const wchar_t* szName, _bstr_t& bsClashing)
{
    const UINT cchName = static_cast<UINT>(wcslen(szName));
    _bstr_t bsFolded(szName);
    for (UINT n = 0; n < cchName; ++n)
        bsFolded.GetBSTR()[n] = static_cast<wchar_t>(FoldCase(static_cast<char16_t>(szName[n])));
    bool fFound = false;
    const size_t nAt = FindSorted(
        m_cNames, [&](size_t n) { return wcscmp(m_arNames[n].bsFolded, bsFolded); }, fFound);
    if (fFound)
    {
        bsClashing = m_arNames[nAt].bsName;
        return false;
    }
    _bstr_t bsName(szName);
    if (m_cNames == m_cCapacity) Grow();
    memmove(&m_arNames[nAt + 1], &m_arNames[nAt], (m_cNames - nAt) * sizeof(CEntry));
    m_arNames[nAt] = CEntry{bsFolded.Detach(), bsName.Detach()};
    ++m_cNames;
    return true;
}

void CFolderNames::Grow()
{
    const size_t cCapacity = m_cCapacity ? 2 * m_cCapacity : 16;
    std::unique_ptr<CEntry[]> arNames(new CEntry[cCapacity]);
    if (m_cNames) memcpy(arNames.get(), m_arNames.get(), m_cNames * sizeof(CEntry));
    m_arNames = std::move(arNames);
    m_cCapacity = cCapacity;
}
} // namespace corvane
