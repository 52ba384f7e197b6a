// The pure rules of the product pack: which element names may become files, and where the cache lies.
#include "product_names.h"
#include "pack/content_cache.h"
#include "pack/content_cache_lock.h"
#include "pack/element_names.h"
#include "pack/name_rule_cases.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace corvane;

namespace
{
std::wstring Str(const _bstr_t& bs)
{
    return bs.length() ? std::wstring(static_cast<const wchar_t*>(bs)) : std::wstring();
}
} // namespace

// The rule the pack tool applies too, from one table of cases.
TEST(ElementNames, OnlyNamesTheRuleTakesAreExtracted)
{
    for (const CNameCase& c : c_nameCases)
    {
        const wchar_t* sz = reinterpret_cast<const wchar_t*>(c.pszName);
        EXPECT_EQ(IsSafeFileName(sz), c.problem == ENameProblem::None) << Str(sz);
    }
    EXPECT_TRUE(IsSafeFileName(std::wstring(255, L'n').c_str()));
    EXPECT_FALSE(IsSafeFileName(std::wstring(256, L'n').c_str()));
}

TEST(ElementNames, ReportedPathsGiveTheirLastPart)
{
    EXPECT_EQ(Str(GetElementFileName(L"x86/native.dll")), L"native.dll");
    EXPECT_EQ(Str(GetElementFileName(L"b/a/a/deep.bin")), L"deep.bin");
    EXPECT_EQ(Str(GetElementFileName(L"plain.txt")), L"plain.txt");
    EXPECT_EQ(Str(GetElementFileName(L"b/..")), L"");
    EXPECT_EQ(Str(GetElementFileName(L"b/")), L"");
    EXPECT_EQ(Str(GetElementFileName(L"b/con.txt")), L"");
}

// Two names in one folder: the second is refused exactly when it equals the first but for case (the
// pack tool's table), and the first is named as the one it clashes with, also past the first growth of the
// list and in any order.
TEST(ElementNames, NamesEqualButForCaseClashInOneFolder)
{
    _bstr_t bsClashing;
    for (const CNamePair& pair : c_namePairs)
    {
        CFolderNames names;
        const wchar_t* pszFirst = reinterpret_cast<const wchar_t*>(pair.pszFirst);
        EXPECT_TRUE(names.Add(pszFirst, bsClashing));
        EXPECT_EQ(names.Add(reinterpret_cast<const wchar_t*>(pair.pszSecond), bsClashing), !pair.fClash)
            << Str(reinterpret_cast<const wchar_t*>(pair.pszSecond));
        if (pair.fClash)
        {
            EXPECT_EQ(Str(bsClashing), pszFirst);
        }
    }
    CFolderNames many;
    for (int n = 0; n < 100; ++n)
        EXPECT_TRUE(many.Add((L"f" + std::to_wstring(n * 37 % 100)).c_str(), bsClashing));
    for (int n = 0; n < 100; ++n)
    {
        EXPECT_FALSE(many.Add((L"F" + std::to_wstring(n)).c_str(), bsClashing));
        EXPECT_EQ(Str(bsClashing), L"f" + std::to_wstring(n));
    }
}

TEST(ContentCache, FolderLiesBelowTempWithOneSeparator)
{
    const std::wstring below = std::wstring(L"\\") + TEST_CACHE_BELOW_TEMP;
    EXPECT_EQ(Str(GetContentCacheFolderBelow(L"C:\\Temp\\")), L"C:\\Temp" + below);
    EXPECT_EQ(Str(GetContentCacheFolderBelow(L"C:\\Temp")), L"C:\\Temp" + below);
    EXPECT_EQ(Str(GetContentCacheFolderBelow(L"\\\\server\\share\\T\x00EBmp\\")),
              L"\\\\server\\share\\T\x00EBmp" + below);
}

TEST(ContentCache, LockNameIsOneKernelObjectNamePerFolderWhateverItsCase)
{
    const std::wstring name = Str(GetContentCacheLockName(L"C:\\Temp\\Skarnveld\\ProductContentCache"));
    EXPECT_EQ(name.rfind(L"Local\\", 0), 0u) << name;
    EXPECT_EQ(name.find(L'\\', 6), std::wstring::npos) << name;
    EXPECT_EQ(Str(GetContentCacheLockName(L"c:\\temp\\SKARNVELD\\productcontentcache")), name);
    EXPECT_NE(Str(GetContentCacheLockName(L"C:\\Temp2\\Skarnveld\\ProductContentCache")), name);
    EXPECT_LE(Str(GetContentCacheLockName(std::wstring(400, L'x').c_str())).size(), size_t(MAX_PATH));
}

// An existing folder is known by its identity: its long and short spellings name one lock, another
// folder another.
TEST(ContentCache, LockNameOfAnExistingFolderIsTheSameForEverySpelling)
{
    wchar_t szTemp[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, szTemp), 0u);
    const std::wstring folder = std::wstring(szTemp) + L"Corvane lock name test folder";
    const std::wstring other = folder + L" 2";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW(other.c_str(), nullptr);
    wchar_t szShort[MAX_PATH];
    ASSERT_NE(GetShortPathNameW(folder.c_str(), szShort, MAX_PATH), 0u);
    EXPECT_NE(std::wstring(szShort), folder);
    EXPECT_EQ(Str(GetContentCacheLockName(szShort)), Str(GetContentCacheLockName(folder.c_str())));
    EXPECT_NE(Str(GetContentCacheLockName(other.c_str())), Str(GetContentCacheLockName(folder.c_str())));
    RemoveDirectoryW(folder.c_str());
    RemoveDirectoryW(other.c_str());
}
