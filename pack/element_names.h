// Element names of the pack as file names: which names are safe to create in a folder, and which clash.
#pragma once

#include "base/com_support.h"

#include <memory>

namespace corvane
{
// True for one name that creates a file in its own folder (the rule the pack tool applies too).
bool IsSafeFileName(const wchar_t* szName);

// The element's own file name from the name a storage reports, or empty when it cannot be one.
_bstr_t GetElementFileName(const wchar_t* szReportedName);

// The names of one folder's elements so far, case-folded as the pack tool folds them: two that differ only
// in case would be one file on the disk, and one of them would be lost.
class CFolderNames
{
public:
    CFolderNames() = default;
    CFolderNames(const CFolderNames&) = delete;
    CFolderNames& operator=(const CFolderNames&) = delete;
    ~CFolderNames();

    // False when a name equal to this one but for case is there already; bsClashing then holds that name.
    bool Add(const wchar_t* szName, _bstr_t& bsClashing);

private:
    struct CEntry
    {
        BSTR bsFolded;
        BSTR bsName;
    };
    void Grow();

    std::unique_ptr<CEntry[]> m_arNames; // sorted by the folded name
    size_t m_cNames = 0;
    size_t m_cCapacity = 0;
};
} // namespace corvane
