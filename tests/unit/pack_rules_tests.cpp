// The pure rules of the product pack: which element names may become files, and where the cache lies.
#include "product_names.h"
#include "pack/content_cache.h"
#include "pack/element_names.h"

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

TEST(ElementNames, DevicesWithOrWithoutExtensionAreRefused)
{
    for (const wchar_t* sz : {L"CON", L"prn", L"Aux.txt", L"nul.tar.gz", L"COM1", L"lpt9.log"})
        EXPECT_TRUE(IsDeviceName(sz)) << Str(sz);
    for (const wchar_t* sz : {L"CONSOLE", L"COM0", L"COM10", L"LPT", L"auxiliary.txt", L"con_", L"xNUL"})
        EXPECT_FALSE(IsDeviceName(sz)) << Str(sz);
}

TEST(ElementNames, DevicesBehindBlanksConsolesAndSuperscriptPortsAreRefused)
{
    for (const wchar_t* sz : {L"NUL .txt", L"con  .log", L"AUX ", L"CONIN$", L"conout$.txt", L"COM\x00B9",
                              L"lpt\x00B2.txt", L"COM\x00B3"})
        EXPECT_TRUE(IsDeviceName(sz)) << Str(sz);
    for (const wchar_t* sz :
         {L" NUL.txt", L"CONIN", L"CONIN$x", L"COM\x2074", L"LPT\x00B9\x00B2", L"NUL_.txt"})
        EXPECT_FALSE(IsDeviceName(sz)) << Str(sz);
}

TEST(ElementNames, OnlyOneNameThatStaysInItsFolderIsSafe)
{
    for (const wchar_t* sz : {L"a.txt", L"Platform.UI.dll", L".hidden", L"x86", L"\x65E5\x672C.txt"})
        EXPECT_TRUE(IsSafeFileName(sz)) << Str(sz);
    for (const wchar_t* sz : {L"", L".", L"..", L"a/b", L"a\\b", L"c:x", L"a*", L"q?", L"trail.", L"trail ",
                              L"tab\there", L"aux.txt"})
        EXPECT_FALSE(IsSafeFileName(sz)) << Str(sz);
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

// Each row: names added to one folder in turn, and which of them are refused as a clash with an earlier one.
TEST(ElementNames, NamesEqualButForCaseClashInOneFolder)
{
    const struct
    {
        std::vector<const wchar_t*> names;
        std::vector<bool> accepted;
    } rows[] = {
        {{L"Dup.dll", L"dup.dll"}, {true, false}},
        {{L"Lib", L"lib", L"LIB", L"lib2"}, {true, false, false, true}},
        {{L"\x00C4rger.txt", L"\x00E4RGER.TXT",
          L"Stra\x00DF"
          L"e",
          L"STRASSE"},
         {true, false, true, true}},
        {{L"b", L"a", L"c", L"B", L"A", L"C"}, {true, true, true, false, false, false}},
    };
    for (const auto& row : rows)
    {
        CFolderNames names;
        for (size_t n = 0; n < row.names.size(); ++n)
            EXPECT_EQ(names.Add(row.names[n]), row.accepted[n]) << Str(row.names[n]);
    }
    // Past the first growth of the list, and in both orders.
    CFolderNames many;
    for (int n = 0; n < 100; ++n)
        EXPECT_TRUE(many.Add((L"f" + std::to_wstring(n * 37 % 100)).c_str()));
    for (int n = 0; n < 100; ++n)
        EXPECT_FALSE(many.Add((L"F" + std::to_wstring(n)).c_str()));
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
