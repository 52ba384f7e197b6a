// The product pack as a user's machine meets it: the cache folder below TEMP, the pack file and the
// extracted tree on first and later starts, and every failure that can be put in the launcher's way.
#include "base/unique_any.h"
#include "harness/fnv1a.h"
#include "harness/wine_test_env.h"
#include "base/product.h"
#include "pack/content_cache.h"
#include "pack/content_cache_lock.h"
#include "pack/pack_digest.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <thread>

using corvane::CUniqueHandle;
using corvane::CUniqueHFile;

namespace
{
const wchar_t c_szCacheBelowTemp[] = TEST_CACHE_BELOW_TEMP;
const wchar_t c_szCaption[] = TEST_LOADING_CAPTION;
const wchar_t c_szSplashClass[] = TEST_SPLASH_CLASS;
const std::wstring c_assemblyFailure =
    L"Could not load the application core assembly \x201C" TEST_ENTRY_ASSEMBLY L"\x201D.";

std::wstring PackExe(const std::wstring& variant)
{
    return BuildPath(L"tests\\packs\\corvane-pack-" + variant + L".exe");
}

std::wstring FullSource()
{
    return BuildPath(L"tests\\packs\\trees\\full");
}

std::wstring Quoted(const std::wstring& text)
{
    return L"\x201C" + text + L"\x201D";
}

// What the system says about a code, as it is, line end included; empty when it says nothing.
std::wstring SystemText(DWORD dwCode)
{
    wchar_t sz[4096] = {};
    if (!FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwCode, 0, sz,
                        4096, nullptr))
        return std::wstring();
    return sz;
}

// A Win32 failure as a box shows it: the system text, then the code in brackets.
std::wstring Win32Tail(DWORD dwCode)
{
    const std::wstring text = SystemText(dwCode);
    EXPECT_FALSE(text.empty()) << "no system text for " << dwCode;
    return text + L" (" + std::to_wstring(dwCode) + L")";
}

// An HRESULT's system text on a line of its own, without the line end.
std::wstring HresultLine(DWORD dwCode)
{
    std::wstring text = SystemText(dwCode);
    EXPECT_FALSE(text.empty()) << "no system text for " << dwCode;
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
        text.pop_back();
    return text;
}

struct CTree
{
    std::map<std::wstring, std::string> files; // relative path -> content
    std::set<std::wstring> folders;
};

void CollectTree(const std::wstring& root, const std::wstring& prefix, CTree& tree)
{
    WIN32_FIND_DATAW fd;
    const HANDLE hFind =
        FindFirstFileW((root + (prefix.empty() ? L"" : L"\\" + prefix) + L"\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE) return;
    do
    {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring rel = prefix.empty() ? name : prefix + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            tree.folders.insert(rel);
            CollectTree(root, rel, tree);
        }
        else
            tree.files[rel] = ReadFileBytes(root + L"\\" + rel);
    } while (FindNextFileW(hFind, &fd));
    FindClose(hFind);
}

CTree ReadTree(const std::wstring& root)
{
    CTree tree;
    CollectTree(root, L"", tree);
    return tree;
}

std::set<std::wstring> Keys(const std::map<std::wstring, std::string>& files)
{
    std::set<std::wstring> keys;
    for (const auto& file : files)
        keys.insert(file.first);
    return keys;
}

std::string Join(const std::set<std::wstring>& names)
{
    std::string text;
    for (const auto& name : names)
        text += (text.empty() ? "" : ", ") + Narrow(name);
    return "{" + text + "}";
}

// Every file and folder of the expected tree, byte for byte, and nothing else.
void ExpectSameTree(const CTree& actual, const CTree& expected)
{
    EXPECT_EQ(Join(Keys(actual.files)), Join(Keys(expected.files)));
    EXPECT_EQ(Join(actual.folders), Join(expected.folders));
    for (const auto& file : expected.files)
    {
        const auto it = actual.files.find(file.first);
        if (it == actual.files.end()) continue;
        EXPECT_TRUE(it->second == file.second) << Narrow(file.first) << " differs";
    }
}

// The source tree of the full pack with the pack file beside it, as the cache holds it after a start.
CTree ExpectedFullCache()
{
    CTree tree = ReadTree(FullSource());
    tree.files[L"ProductContent.chm"] = ReadFileBytes(BuildPath(L"tests\\packs\\full.chm"));
    return tree;
}

// The simulated runtime's line for a file below the application base: 64-bit FNV-1a of the content.
std::string HashLine(const std::wstring& rel, const std::string& bytes)
{
    char sz[64];
    snprintf(sz, sizeof(sz), " %llu %016llx", static_cast<unsigned long long>(bytes.size()),
             static_cast<unsigned long long>(Fnv1a64(bytes)));
    return "file " + Narrow(rel) + sz;
}

std::vector<std::string> LinesStartingWith(const std::wstring& log, const std::string& prefix)
{
    std::vector<std::string> lines;
    for (const auto& line : ReadLines(log))
        if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
    return lines;
}

// A handle the test holds without write sharing while the launcher runs, as another program would.
std::unique_ptr<CUniqueHFile> HoldFile(const std::wstring& path, DWORD dwCreation = OPEN_EXISTING)
{
    auto held = std::make_unique<CUniqueHFile>(
        CreateFileW(path.c_str(), GENERIC_READ | (dwCreation == OPEN_EXISTING ? 0 : GENERIC_WRITE),
                    FILE_SHARE_READ, nullptr, dwCreation, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held->IsValid()) ADD_FAILURE() << "cannot hold " << Narrow(path);
    return held;
}

std::string PackBytes(const std::wstring& name)
{
    return ReadFileBytes(BuildPath(L"tests\\packs\\" + name));
}

// A launcher of the product's code carrying this pack and, unless empty, these digests: the one built
// without either, with the resources added as the build adds them.
std::wstring LauncherWith(const std::wstring& exePath, const std::string& pack, const std::string& digests)
{
    EXPECT_TRUE(CopyFileW(PackExe(L"none").c_str(), exePath.c_str(), FALSE));
    const HANDLE hUpdate = BeginUpdateResourceW(exePath.c_str(), FALSE);
    EXPECT_TRUE(hUpdate != nullptr);
    const WORD wLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    EXPECT_TRUE(UpdateResourceW(hUpdate, RT_RCDATA, MAKEINTRESOURCEW(CORVANE_PACK_RESOURCE_ID), wLanguage,
                                const_cast<char*>(pack.data()), static_cast<DWORD>(pack.size())));
    if (!digests.empty())
    {
        EXPECT_TRUE(UpdateResourceW(hUpdate, RT_RCDATA, MAKEINTRESOURCEW(CORVANE_DIGESTS_RESOURCE_ID),
                                    wLanguage, const_cast<char*>(digests.data()),
                                    static_cast<DWORD>(digests.size())));
    }
    EXPECT_TRUE(EndUpdateResourceW(hUpdate, FALSE));
    return exePath;
}

void Flip(std::string& bytes, size_t offset)
{
    bytes.at(offset) = static_cast<char>(bytes.at(offset) ^ 0x10);
}

size_t Find(const std::string& bytes, const std::string& what)
{
    const size_t at = bytes.find(what);
    EXPECT_NE(at, std::string::npos) << what << " is not in the pack";
    return at == std::string::npos ? 0 : at;
}

// The digests with their own hash made anew, as if the tool had written them so.
std::string Resealed(std::string digests)
{
    uint64_t ullHash = corvane::HashContent(digests.data() + 16, digests.size() - 16);
    for (int n = 0; n < 8; ++n, ullHash >>= 8)
        digests[8 + n] = static_cast<char>(ullHash & 0xFF);
    return digests;
}

// One scratch area per start: TEMP inside it, the runtime's log and scenario beside TEMP.
class PackTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { InstallSimulatedRuntime(L"full"); }

    CLaunchResult Launch(const std::wstring& variant, const std::wstring& tempFolder,
                         const std::wstring& scenario = L"")
    {
        return LaunchExe(PackExe(variant), tempFolder, scenario);
    }

    CLaunchResult LaunchExe(const std::wstring& exePath, const std::wstring& tempFolder,
                            const std::wstring& scenario = L"")
    {
        CLauncherStart start;
        start.exePath = exePath;
        start.tempFolder = tempFolder;
        start.clrLog = m_scratch / L"clr.log";
        DeleteFileW(start.clrLog.c_str());
        if (!scenario.empty())
        {
            start.scenario = scenario;
            start.scenarioFile = m_scratch / L"scenario.txt";
        }
        return start.Run();
    }

    std::wstring Log() const { return m_scratch / L"clr.log"; }

    // The simulated runtime saw its calls in a runtime's order and understood its scenario.
    void ExpectOrderlyRuntimeCalls()
    {
        EXPECT_TRUE(LinesStartingWith(Log(), "VIOLATION").empty());
        EXPECT_TRUE(LinesStartingWith(Log(), "scenario error").empty());
    }

    // The start went through: no box, the entry's result 0 as exit code, the domain over the cache.
    void ExpectCleanStart(const CLaunchResult& result, const std::wstring& cache)
    {
        EXPECT_TRUE(result.boxes.empty()) << Narrow(result.transcript);
        EXPECT_EQ(result.exitCode, 0u) << Narrow(result.transcript);
        EXPECT_EQ(LinesStartingWith(Log(), "put_ApplicationBase \""),
                  std::vector<std::string>{"put_ApplicationBase \"" + Narrow(cache) + "\""});
        ExpectOrderlyRuntimeCalls();
    }

    // The pack's box, the only one: its failure ends the start with its code, and no domain is made.
    void ExpectPackFailure(const CLaunchResult& result, const std::wstring& text, HRESULT hr)
    {
        ASSERT_EQ(result.boxes.size(), 1u) << Narrow(result.transcript);
        const CWindowSnapshot& box = result.boxes[0];
        EXPECT_EQ(box.caption, c_szCaption);
        EXPECT_EQ(box.text, text) << Narrow(result.transcript);
        EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(box.ownerClass, c_szSplashClass);
        ASSERT_EQ(box.buttons.size(), 1u);
        EXPECT_EQ(box.buttons[0].first, IDOK);
        EXPECT_EQ(result.exitCode, static_cast<DWORD>(hr));
        EXPECT_TRUE(LinesStartingWith(Log(), "GetDefaultDomain").empty());
        EXPECT_TRUE(LinesStartingWith(Log(), "CreateDomainEx").empty());
        EXPECT_TRUE(LinesStartingWith(Log(), "Load_2").empty());
        ExpectOrderlyRuntimeCalls();
    }

    void ExpectDefaultDomainFailure(const CLaunchResult& result, size_t index)
    {
        ASSERT_GT(result.boxes.size(), index);
        EXPECT_EQ(SplitLines(result.boxes[index].text)[0], c_assemblyFailure);
        EXPECT_EQ(result.exitCode, 0x80070002u);
        EXPECT_EQ(LinesStartingWith(Log(), "GetDefaultDomain ->").size(), 1u);
        EXPECT_TRUE(LinesStartingWith(Log(), "CreateDomainEx").empty());
        ExpectOrderlyRuntimeCalls();
    }

    CTempFolder m_scratch{L"pack"};
    const std::wstring m_temp = MakeFolder(m_scratch / L"temp");
    const std::wstring m_cache = m_temp + L"\\" + c_szCacheBelowTemp;

    static std::wstring MakeFolder(const std::wstring& path)
    {
        CreateDirectoryW(path.c_str(), nullptr);
        return path;
    }
};

// The groups: starts that go through, where the cache lies, and what stops the extraction.
using PackStarts = PackTest;
using PackCacheFolder = PackTest;
using PackFailures = PackTest;
using PackIntegrity = PackTest;
using PackDesktops = PackTest;
using PackTouched = PackTest;

// Another program (a scanner, an indexer) holding a file for a while, as HoldFile does, on a thread of its
// own; the file is let go of when the time is up.
std::thread HoldFor(const std::wstring& path, DWORD dwMs, DWORD dwCreation = OPEN_EXISTING)
{
    std::shared_ptr<CUniqueHFile> held = HoldFile(path, dwCreation);
    return std::thread([held, dwMs]() mutable {
        Sleep(dwMs);
        held.reset();
    });
}

// A scanner that opens a file, without any sharing, as soon as the launcher has closed it after writing.
std::thread ScanOnceWritten(const std::wstring& path, DWORD dwMs)
{
    return std::thread([path, dwMs] {
        for (int n = 0; n < 20000; ++n)
        {
            const CUniqueHFile hFile(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
            if (hFile.IsValid())
            {
                Sleep(dwMs);
                return;
            }
            Sleep(1);
        }
        ADD_FAILURE() << "the scanner never got " << Narrow(path);
    });
}

void MakeReadOnly(const std::wstring& path)
{
    EXPECT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY)) << Narrow(path);
}
} // namespace

// Three folder levels below a sub-storage only land right because the launcher takes the last part of
// the names Wine's storage reports ("b/a/a/deep.bin"); the application must see exactly the source.
TEST_F(PackStarts, FirstStartWritesThePackAndTheWholeTreeByteForByte)
{
    const CLaunchResult result = Launch(L"full", m_temp, L"entry.hashtree = 1\n");
    ExpectCleanStart(result, m_cache);

    const CTree expected = ExpectedFullCache();
    ASSERT_TRUE(expected.files.count(L"b\\a\\a\\deep.bin") && expected.files.count(L"c.txt") &&
                expected.folders.count(L"b\\c") && expected.files.size() == 10u)
        << "the test tree is not what this test was written for";
    ExpectSameTree(ReadTree(m_cache), expected);

    // What the application itself read below its base, in the simulated runtime's order.
    std::map<std::string, std::string> sorted;
    for (const auto& file : expected.files)
        sorted[Narrow(file.first)] = HashLine(file.first, file.second);
    std::vector<std::string> hashLines;
    for (const auto& line : sorted)
        hashLines.push_back(line.second);
    EXPECT_EQ(LinesStartingWith(Log(), "file "), hashLines);
}

// A later start must not open one file for writing: every file is held without write sharing, which
// makes any such open fail, and the start still goes through untouched.
TEST_F(PackStarts, LaterStartWritesNothingWhenEverySizeMatches)
{
    ASSERT_EQ(Launch(L"full", m_temp).exitCode, 0u);
    const CTree before = ReadTree(m_cache);
    ASSERT_EQ(before.files.size(), 10u);

    std::vector<std::unique_ptr<CUniqueHFile>> held;
    for (const auto& file : before.files)
        held.push_back(HoldFile(m_cache + L"\\" + file.first));
    const HANDLE hProbe = CreateFileW((m_cache + L"\\ProductContent.chm").c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(hProbe, INVALID_HANDLE_VALUE) << "holding the files does not keep writers out";
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    const CLaunchResult result = Launch(L"full", m_temp);
    ExpectCleanStart(result, m_cache);
    held.clear();
    ExpectSameTree(ReadTree(m_cache), before);
}

// A folder in place of an empty stream's file passes: its size, 0, matches. Nothing else changes.
TEST_F(PackStarts, FolderInPlaceOfAnEmptyStreamPasses)
{
    SHCreateDirectory(nullptr, (m_cache + L"\\c.txt").c_str());
    const CLaunchResult result = Launch(L"full", m_temp);
    ExpectCleanStart(result, m_cache);
    CTree expected = ExpectedFullCache();
    expected.files.erase(L"c.txt");
    expected.folders.insert(L"c.txt");
    ExpectSameTree(ReadTree(m_cache), expected);
}

// GetTempPathW's folder with or without its trailing backslash, and one of non-ASCII characters.
TEST_F(PackCacheFolder, LiesBelowTempHoweverTempIsWritten)
{
    const std::wstring nonAscii = MakeFolder(m_scratch / L"T\x00EBmp \x2013 \x03A9 \x65E5\x672C");
    const struct
    {
        std::wstring temp;
        std::wstring folder;
    } rows[] = {{m_temp, m_temp}, {m_temp + L"\\", m_temp}, {nonAscii, nonAscii}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(Narrow(row.temp));
        const std::wstring cache = row.folder + L"\\" + c_szCacheBelowTemp;
        RemoveTree(row.folder + L"\\" TEST_MAKER);
        const CLaunchResult result = Launch(L"full", row.temp);
        ExpectCleanStart(result, cache);
        ExpectSameTree(ReadTree(cache), ExpectedFullCache());
    }
}

// Failures before the tree: the cache folder, the pack file and the TEMP path itself.
TEST_F(PackFailures, CacheFolderPackFileAndTempPathAreReported)
{
    const std::wstring longTemp = m_temp + L"\\" + std::wstring(300, L'x');
    const struct
    {
        const char* what;
        std::wstring temp;
        std::function<void()> arrange;
        std::wstring text;
        DWORD dwError;
    } rows[] = {
        {"a file where a folder of the cache path goes", m_temp,
         [&] { WriteFileBytes(m_temp + L"\\" TEST_MAKER, "in the way"); },
         L"Could not create the product content cache folder at " + Quoted(m_cache) + L".\n" + HresultLine(3),
         ERROR_PATH_NOT_FOUND},
        {"a file where the cache folder goes", m_temp,
         [&] {
             MakeFolder(m_temp + L"\\" TEST_MAKER);
             MakeFolder(m_temp + L"\\" TEST_MAKER L"\\" TEST_PRODUCT);
             MakeFolder(m_temp + L"\\" TEST_MAKER L"\\" TEST_PRODUCT L"\\v" TEST_VERSION);
             WriteFileBytes(m_cache, "in the way");
         },
         L"Could not open the product content cache file for writing. " + Win32Tail(ERROR_PATH_NOT_FOUND),
         ERROR_PATH_NOT_FOUND},
        {"a TEMP longer than any path", longTemp, [] {},
         L"Could not get the TEMP folder path. " + Win32Tail(ERROR_FILENAME_EXCED_RANGE),
         ERROR_FILENAME_EXCED_RANGE},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.what);
        RemoveTree(m_temp);
        MakeFolder(m_temp);
        row.arrange();
        const CLaunchResult result = Launch(L"full", row.temp);
        ExpectPackFailure(result, row.text, HRESULT_FROM_WIN32(row.dwError));
    }
}

TEST_F(PackFailures, ContentThatIsNoContainerIsWrittenThenRefused)
{
    const CLaunchResult result = Launch(L"invalid", m_temp);
    ExpectPackFailure(result,
                      L"Could not open the structured document storage on the product pack.\n" +
                          HresultLine(static_cast<DWORD>(E_FAIL)),
                      E_FAIL);
    EXPECT_TRUE(ReadFileBytes(m_cache + L"\\ProductContent.chm") ==
                ReadFileBytes(BuildPath(L"tests\\packs\\trees\\not-a-pack.bin")));
}

// Without a pack resource the launcher says nothing of it and the application starts from the default
// domain, where its assembly is missing.
TEST_F(PackFailures, NoPackResourceIsSilent)
{
    const CLaunchResult result = Launch(L"none", m_temp);
    ASSERT_EQ(result.boxes.size(), 1u) << Narrow(result.transcript);
    ExpectDefaultDomainFailure(result, 0);
    const CTree cache = ReadTree(m_cache);
    EXPECT_TRUE(cache.files.empty() && cache.folders.empty()) << Join(Keys(cache.files));
}

// The walk is depth-first and pre-order and ends at its first failure: what comes before the obstacle in
// that order is on disk, nothing after it is. The obstacle is a file another program holds past the bound
// of the wait for it: one box names it and says so.
TEST_F(PackFailures, AFileHeldPastTheBoundStopsTheExtractionInPreOrder)
{
    SHCreateDirectory(nullptr, (m_cache + L"\\b").c_str());
    const std::wstring heldFile = m_cache + L"\\b\\b.bin";
    std::unique_ptr<CUniqueHFile> held = HoldFile(heldFile, CREATE_ALWAYS);
    CLauncherStart start;
    start.exePath = PackExe(L"full");
    start.tempFolder = m_temp;
    start.clrLog = Log();
    start.timeoutMs = 150000;
    const CLaunchResult result = start.Run();
    held.reset();
    ExpectPackFailure(
        result,
        L"Another program is using the product content file " + Quoted(heldFile) +
            L" and did not let go of it within 50 seconds. Close that program, or wait until it "
            L"is done, and start again. " +
            Win32Tail(ERROR_SHARING_VIOLATION),
        HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));

    const CTree source = ExpectedFullCache();
    CTree expected;
    expected.folders = {L"b", L"b\\a", L"b\\a\\a"};
    for (const wchar_t* rel : {L"ProductContent.chm", L"a.txt", L"b\\a\\a\\deep.bin", L"b\\a\\b.txt"})
        expected.files[rel] = source.files.at(rel);
    expected.files[L"b\\b.bin"] = "";
    ExpectSameTree(ReadTree(m_cache), expected);
}

// An element whose name would open a device is refused before anything is written for it.
TEST_F(PackFailures, ElementNamedLikeADeviceStopsExtraction)
{
    const CLaunchResult result = Launch(L"unsafe", m_temp);
    ExpectPackFailure(result,
                      L"Could not extract the product content element " + Quoted(L"aux.txt") +
                          L": its name cannot be a file name. " + Win32Tail(ERROR_INVALID_NAME),
                      HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
    const CTree cache = ReadTree(m_cache);
    EXPECT_EQ(Join(Keys(cache.files)), Join({L"ProductContent.chm", L"a.txt"}));
    EXPECT_TRUE(cache.files.count(L"a.txt") &&
                cache.files.at(L"a.txt") == ReadFileBytes(BuildPath(L"tests\\packs\\trees\\unsafe\\a.txt")));
}

// Two elements of one folder whose names differ only in case would be one file on the disk: the box names
// the element and the name it clashes with, as the pack tool does.
TEST_F(PackFailures, NamesEqualButForCaseStopExtraction)
{
    const CLaunchResult result = Launch(L"clash", m_temp);
    ExpectPackFailure(result,
                      L"Could not extract the product content element " + Quoted(m_cache + L"\\A.txt") +
                          L": its name differs only in case from " + Quoted(L"a.txt") +
                          L", another element of its folder. " + Win32Tail(ERROR_INVALID_NAME),
                      HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
}

// A pack cut short or with a broken control block ends its streams early and quietly: the first short
// one stops the start with its box and code, and its file is left at another size, to be written again.
TEST_F(PackFailures, ShortStreamsOfADamagedPackStopTheStart)
{
    const HRESULT hrShort = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    for (const wchar_t* variant : {L"damaged-cut50", L"damaged-cut90", L"damaged-cut99", L"damaged-control"})
    {
        SCOPED_TRACE(Narrow(variant));
        RemoveTree(m_temp);
        MakeFolder(m_temp);
        const CLaunchResult result = Launch(variant, m_temp);
        ExpectPackFailure(result,
                          L"Error reading content stream " + Quoted(L"a.txt") + L".\n" +
                              HresultLine(static_cast<DWORD>(hrShort)),
                          hrShort);
        EXPECT_NE(ReadFileBytes(m_cache + L"\\a.txt").size(),
                  ReadFileBytes(FullSource() + L"\\a.txt").size());
    }
}

// A start that fails inside the pack lets go of the pack file before its box: another start meanwhile can
// write the file again (with the launcher's own sharing) instead of failing on it.
TEST_F(PackFailures, ThePackFileIsFreeWhileAFailedWalksBoxIsUp)
{
    CLauncherStart start;
    start.exePath = PackExe(L"damaged-cut50");
    start.tempFolder = m_temp;
    start.clrLog = Log();
    DWORD dwOpenError = ERROR_SUCCESS;
    start.onBox = [&](const CWindowSnapshot&, HANDLE) {
        const CUniqueHFile hFile(CreateFileW((m_cache + L"\\ProductContent.chm").c_str(), GENERIC_WRITE,
                                             FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                             nullptr));
        dwOpenError = hFile.IsValid() ? ERROR_SUCCESS : GetLastError();
    };
    const CLaunchResult result = start.Run();
    ASSERT_EQ(result.boxes.size(), 1u) << Narrow(result.transcript);
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)));
    EXPECT_EQ(dwOpenError, static_cast<DWORD>(ERROR_SUCCESS));
}

// Nothing starts from beside the executable after a failure: a Downloads folder can hold anything that
// is named like the core assembly, and the default domain would load it from there.
TEST_F(PackFailures, AnAssemblyBesideTheExecutableIsNeverLoadedAfterAFailure)
{
    const std::wstring downloads = MakeFolder(m_scratch / L"Downloads");
    const std::wstring exe = downloads + L"\\" TEST_EXE_NAME;
    ASSERT_TRUE(CopyFileW(PackExe(L"full").c_str(), exe.c_str(), FALSE));
    const std::wstring assembly = L"\\" TEST_ENTRY_ASSEMBLY L".dll";
    ASSERT_TRUE(CopyFileW((FullSource() + assembly).c_str(), (downloads + assembly).c_str(), FALSE));
    WriteFileBytes(m_temp + L"\\" TEST_MAKER, "in the way");

    const CLaunchResult result = LaunchExe(exe, m_temp);
    ExpectPackFailure(result,
                      L"Could not create the product content cache folder at " + Quoted(m_cache) + L".\n" +
                          HresultLine(ERROR_PATH_NOT_FOUND),
                      HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
}

// A pack file of the right size with other bytes (a power cut can leave it zero-filled, a bad disk can
// flip a bit anywhere) never reaches the reader: once a file is to be unpacked, it is written again from
// the executable first, and the start goes through with the whole tree.
TEST_F(PackStarts, APackFileOfTheRightSizeWithOtherBytesIsWrittenAgainBeforeItIsRead)
{
    ExpectCleanStart(Launch(L"full", m_temp), m_cache);
    const std::wstring pack = m_cache + L"\\ProductContent.chm";
    const std::string good = ReadFileBytes(pack);
    std::vector<std::string> damaged{std::string(good.size(), '\0')};
    for (double at : {0.0, 0.05, 0.1, 0.25, 0.4, 0.6, 0.8, 0.999})
    {
        damaged.push_back(good);
        Flip(damaged.back(), static_cast<size_t>(at * good.size()));
    }
    for (const auto& bytes : damaged)
    {
        SCOPED_TRACE(&bytes - damaged.data());
        WriteFileBytes(pack, bytes);
        DeleteFileW((m_cache + L"\\a.txt").c_str());
        ExpectCleanStart(Launch(L"full", m_temp), m_cache);
        ExpectSameTree(ReadTree(m_cache), ExpectedFullCache());
    }
}

// First starts at once, as a repeated double click makes them: the later ones wait while the first one
// unpacks, then find the whole tree. Each runs as an executable of its own name, so that each has its
// own Wine settings; half of them know TEMP by its short (8.3) name, which must lock the same folder.
TEST_F(PackStarts, FirstStartsAtOnceAllRunFromTheWholeTree)
{
    const int c_nStarts = 4;
    std::vector<std::wstring> exes;
    for (int i = 0; i < c_nStarts; ++i)
    {
        exes.push_back(m_scratch / (L"start" + std::to_wstring(i) + L".exe"));
        ASSERT_TRUE(CopyFileW(PackExe(L"full").c_str(), exes.back().c_str(), FALSE));
    }
    for (int round = 0; round < 3; ++round)
    {
        SCOPED_TRACE(round);
        RemoveTree(m_temp);
        MakeFolder(m_temp);
        const std::wstring temp = MakeFolder(m_temp + L"\\Temporary Files");
        wchar_t szShort[MAX_PATH];
        ASSERT_NE(GetShortPathNameW(temp.c_str(), szShort, MAX_PATH), 0u);
        ASSERT_NE(std::wstring(szShort), temp);
        std::vector<CLaunchResult> results(c_nStarts);
        std::vector<std::thread> threads;
        for (int i = 0; i < c_nStarts; ++i)
            threads.emplace_back([&, i] {
                CLauncherStart start;
                start.exePath = exes[i];
                start.tempFolder = i % 2 ? std::wstring(szShort) : temp;
                results[i] = start.Run();
            });
        for (auto& thread : threads)
            thread.join();
        for (const auto& result : results)
        {
            EXPECT_TRUE(result.boxes.empty()) << Narrow(result.transcript);
            EXPECT_EQ(result.exitCode, 0u) << Narrow(result.transcript);
        }
        ExpectSameTree(ReadTree(temp + L"\\" + c_szCacheBelowTemp), ExpectedFullCache());
    }
}

// A launcher that died holding the cache folder's lock leaves it abandoned: the next start takes it.
TEST_F(PackStarts, ALockLeftByALauncherThatDiedDoesNotBlockTheNextStart)
{
    SHCreateDirectory(nullptr, m_cache.c_str());
    CUniqueHandle hMutex;
    std::thread([&] {
        hMutex.Reset(CreateMutexW(nullptr, TRUE, corvane::GetContentCacheLockName(m_cache.c_str())));
    }).join();
    ASSERT_TRUE(hMutex.IsValid());
    ExpectCleanStart(Launch(L"full", m_temp), m_cache);
}

// Damage to the pack inside the executable, wherever it lies, is found before anything is written: one
// box, ERROR_FILE_CORRUPT, no file in the cache and no domain.
TEST_F(PackIntegrity, ADamagedPackIsRefusedBeforeAnythingIsWritten)
{
    const std::string good = PackBytes(L"full.chm");
    const std::string digests = PackBytes(L"full.chm.digests");
    const std::function<void(std::string&)> damages[] = {
        [](std::string& b) { b.pop_back(); },
        [](std::string& b) { b.resize(b.size() / 2); },
        [](std::string& b) { Flip(b, 0x10); },                   // ITSF header
        [](std::string& b) { Flip(b, Find(b, "ITSP") + 0x20); }, // directory header
        [](std::string& b) { Flip(b, Find(b, "PMGL") + 0x30); }, // directory entries
        [](std::string& b) { Flip(b, Find(b, "LZXC") + 8); },    // LZX control data
        [](std::string& b) { Flip(b, b.size() / 2); },           // content
        [](std::string& b) { Flip(b, b.size() - 5); },           // content or reset table
        [](std::string& b) { std::fill(b.begin() + b.size() / 3, b.begin() + b.size() / 3 + 4096, '\0'); },
        [](std::string& b) { // a.txt declared one byte longer
            size_t at = Find(b, "\x06/a.txt") + 7;
            while (b[++at] & 0x80)
            {
            } // the section, then the offset, as 7-bit groups
            while (b[++at] & 0x80)
            {
            }
            while (b[++at] & 0x80)
            {
            }
            ++b[at];
        },
    };
    for (const auto& damage : damages)
    {
        SCOPED_TRACE(&damage - damages);
        RemoveTree(m_temp);
        MakeFolder(m_temp);
        std::string bytes = good;
        damage(bytes);
        const CLaunchResult result =
            LaunchExe(LauncherWith(m_scratch / L"damaged.exe", bytes, digests), m_temp);
        ExpectPackFailure(result,
                          L"The product pack is damaged: its bytes are not those it was built with. " +
                              Win32Tail(ERROR_FILE_CORRUPT),
                          HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT));
        EXPECT_TRUE(ReadTree(m_cache).files.empty());
    }

    std::string broken = digests;
    Flip(broken, broken.size() - 3);
    const CLaunchResult result = LaunchExe(LauncherWith(m_scratch / L"damaged.exe", good, broken), m_temp);
    ExpectPackFailure(result,
                      L"The product pack is damaged: the digests it was built with do not read back whole. " +
                          Win32Tail(ERROR_FILE_CORRUPT),
                      HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT));
}

// A file that does not unpack to the bytes it was packed with is named in one box and removed, so that
// the next start writes it again; nothing runs.
TEST_F(PackIntegrity, AFileThatDoesNotUnpackToItsDigestIsNamedAndRemoved)
{
    std::string digests = PackBytes(L"full.chm.digests");
    const std::string name("a\0.\0t\0x\0t\0", 10);
    Flip(digests, Find(digests, name) - 4); // a byte of the file's hash, which precedes its path's length
    const std::wstring exe =
        LauncherWith(m_scratch / L"mismatch.exe", PackBytes(L"full.chm"), Resealed(digests));

    const CLaunchResult result = LaunchExe(exe, m_temp);
    ExpectPackFailure(result,
                      L"The product content file " + Quoted(m_cache + L"\\a.txt") +
                          L" did not unpack to the bytes that were packed. " + Win32Tail(ERROR_FILE_CORRUPT),
                      HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT));
    EXPECT_EQ(GetFileAttributesW((m_cache + L"\\a.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

// A release rebuilt under the same version with one file changed at its size: the next start finds the
// cache filled from another pack and writes every file whose bytes differ, both ways.
TEST_F(PackIntegrity, APackChangedUnderTheSameVersionRefreshesTheFilesThatDiffer)
{
    const std::wstring changedExe = LauncherWith(m_scratch / L"changed.exe", PackBytes(L"changed.chm"),
                                                 PackBytes(L"changed.chm.digests"));
    CTree changed = ReadTree(BuildPath(L"tests\\packs\\trees\\changed"));
    changed.files[L"ProductContent.chm"] = PackBytes(L"changed.chm");
    ASSERT_NE(changed.files[L"b\\a\\b.txt"], ExpectedFullCache().files[L"b\\a\\b.txt"]);

    ExpectCleanStart(Launch(L"full", m_temp), m_cache);
    ExpectCleanStart(LaunchExe(changedExe, m_temp), m_cache);
    ExpectSameTree(ReadTree(m_cache), changed);
    ExpectCleanStart(Launch(L"full", m_temp), m_cache);
    ExpectSameTree(ReadTree(m_cache), ExpectedFullCache());
}

// A pack with nothing in it (a destroyed directory lists no element) is refused as damaged, not blamed on
// the application whose assembly is then missing.
TEST_F(PackIntegrity, APackWithNoElementsIsRefused)
{
    std::string destroyed = PackBytes(L"full.chm");
    const size_t at = Find(destroyed, "PMGL");
    std::fill(destroyed.begin() + at + 4, destroyed.begin() + at + 0x400, '\0');
    const CLaunchResult result = LaunchExe(LauncherWith(m_scratch / L"empty.exe", destroyed, ""), m_temp);
    ExpectPackFailure(result,
                      L"The product pack is damaged: it holds no files. " + Win32Tail(ERROR_FILE_CORRUPT),
                      HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT));
}

// Paths that cannot fit are refused before anything is made for them: a cache folder too long for its own
// files leaves TEMP empty, a file too long leaves the cache folder empty; the box names the path.
TEST_F(PackIntegrity, PathsThatCannotFitAreRefusedBeforeAnythingIsCreated)
{
    const std::wstring longExe =
        LauncherWith(m_scratch / L"long.exe", PackBytes(L"long.chm"), PackBytes(L"long.chm.digests"));
    const std::wstring cacheBelow = std::wstring(L"\\") + c_szCacheBelowTemp;
    for (const size_t cchTemp : {180u, 225u, 241u, 258u})
    {
        SCOPED_TRACE(cchTemp);
        RemoveTree(m_temp);
        MakeFolder(m_temp);
        const std::wstring temp =
            MakeFolder(m_temp + L"\\" + std::wstring(cchTemp - m_temp.size() - 1, L't'));
        ASSERT_EQ(temp.size(), cchTemp);
        const std::wstring cache = temp + cacheBelow;
        const CLaunchResult result = LaunchExe(longExe, temp);
        const HRESULT hrTooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        if (cache.size() + 19 < MAX_PATH)
        {
            // One line wider than the screen: the box's icon lies off it, so the box is read without it.
            ASSERT_EQ(result.boxes.size(), 1u) << Narrow(result.transcript);
            EXPECT_EQ(result.boxes[0].text, L"Could not open the product content file " +
                                                Quoted(cache + L"\\" + std::wstring(60, L'n') + L".txt") +
                                                L" for writing. " + Win32Tail(ERROR_FILENAME_EXCED_RANGE));
            EXPECT_EQ(result.exitCode, static_cast<DWORD>(hrTooLong));
            EXPECT_TRUE(LinesStartingWith(Log(), "CreateDomainEx").empty());
            const CTree tree = ReadTree(cache);
            EXPECT_TRUE(tree.files.empty() && tree.folders.empty());
        }
        else
        {
            ExpectPackFailure(result,
                              L"Could not create the product content cache folder at " + Quoted(cache) +
                                  L".\n" + HresultLine(ERROR_FILENAME_EXCED_RANGE),
                              hrTooLong);
            const CTree tree = ReadTree(temp);
            EXPECT_TRUE(tree.files.empty() && tree.folders.empty()) << Join(tree.folders);
        }
    }
}

// The application runs in the launcher's process and loads its libraries as in a process started
// normally: by bare name from the folder its SetDllDirectoryW names, and from beside the executable.
TEST_F(PackStarts, TheApplicationLoadsItsLibrariesAsInAProcessStartedNormally)
{
    const std::wstring exe =
        LauncherWith(m_scratch / L"native.exe", PackBytes(L"native.chm"), PackBytes(L"native.chm.digests"));
    ASSERT_TRUE(CopyFileW(BuildPath(L"tests\\packs\\corvane-test-native.dll").c_str(),
                          (m_scratch / L"beside-native.dll").c_str(), FALSE));
    const std::wstring arch = sizeof(void*) == 8 ? L"x64" : L"x86";
    const struct
    {
        std::wstring scenario;
        std::string line;
    } rows[] = {
        {L"entry.dlldirectory = " + arch + L"\nentry.loadlibrary = corvane-native.dll\n",
         "app LoadLibrary \"corvane-native.dll\" -> ok"},
        {L"entry.loadlibrary = beside-native.dll\n", "app LoadLibrary \"beside-native.dll\" -> ok"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.line);
        ExpectCleanStart(LaunchExe(exe, m_temp, row.scenario), m_cache);
        EXPECT_EQ(LinesStartingWith(Log(), "app LoadLibrary"), std::vector<std::string>{row.line});
    }
}

// A start never waits behind another start's error box: the lock goes before the box. The second start
// runs while the first one's box is up; were it to wait for the lock, it would time out here.
TEST_F(PackStarts, NoStartWaitsBehindAnotherStartsBox)
{
    std::string damaged = PackBytes(L"full.chm");
    damaged.pop_back();
    CLauncherStart first;
    first.exePath = LauncherWith(m_scratch / L"damaged.exe", damaged, PackBytes(L"full.chm.digests"));
    first.tempFolder = m_temp;
    CLaunchResult second;
    first.onBox = [&](const CWindowSnapshot&, HANDLE) {
        CLauncherStart start;
        start.exePath = PackExe(L"full");
        start.tempFolder = m_temp;
        start.timeoutMs = 30000;
        second = start.Run();
    };
    const CLaunchResult result = first.Run();
    ASSERT_EQ(result.boxes.size(), 1u) << Narrow(result.transcript);
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT)));
    EXPECT_FALSE(second.timedOut);
    EXPECT_TRUE(second.boxes.empty()) << Narrow(second.transcript);
    EXPECT_EQ(second.exitCode, 0u);
}

// While a start waits for the lock, its splash keeps answering messages (it would otherwise be "not
// responding"), and once the lock is free the start goes through.
TEST_F(PackStarts, TheSplashAnswersWhileTheStartWaitsForTheLock)
{
    SHCreateDirectory(nullptr, m_cache.c_str());
    const CUniqueHandle hMutex(
        CreateMutexW(nullptr, TRUE, corvane::GetContentCacheLockName(m_cache.c_str())));
    ASSERT_TRUE(hMutex.IsValid());
    CLaunchResult result;
    std::thread starter([&] { result = Launch(L"full", m_temp); });

    HWND hwndSplash = nullptr;
    for (int n = 0; n < 600 && !hwndSplash; ++n, Sleep(100))
        hwndSplash = FindWindowW(c_szSplashClass, nullptr);
    ASSERT_TRUE(hwndSplash != nullptr);
    DWORD_PTR dwResult = 0;
    const LRESULT lAnswered = SendMessageTimeoutW(hwndSplash, WM_NULL, 0, 0, SMTO_NORMAL, 20000, &dwResult);
    ReleaseMutex(hMutex.Get());
    starter.join();
    EXPECT_NE(lAnswered, 0) << "the splash did not answer while its start waited";
    ExpectCleanStart(result, m_cache);
}

// With CORVANE_TRACE naming a file, a start appends its steps with their times and codes, the runtimes it
// found, the cache's paths and the box it showed; without the variable nothing is written.
TEST_F(PackStarts, ATraceIsWrittenWhenAskedForAndOnlyThen)
{
    const std::wstring trace = m_scratch / L"trace.log";
    std::string damaged = PackBytes(L"full.chm");
    damaged.pop_back();
    CLauncherStart start;
    start.exePath = LauncherWith(m_scratch / L"damaged.exe", damaged, PackBytes(L"full.chm.digests"));
    start.tempFolder = m_temp;
    start.env = {{L"CORVANE_TRACE", trace}};
    EXPECT_EQ(start.Run().exitCode, 0x80070570u);

    const std::vector<std::string> expected = {
        " starts: ",
        "  operating system -> 0x00000000",
        "  runtime found: 2.0.50727.0",
        "  runtime found: 4.0.30319.0",
        "  bound runtime 4.0.30319.0",
        "  content cache folder " + Narrow(m_cache),
        "  error box: The product pack is damaged: its bytes are not those it was built with.",
        "  product content -> 0x80070570",
        "  exit code 0x80070570",
    };
    const std::vector<std::string> lines = ReadLines(trace);
    size_t nLine = 0;
    for (const std::string& part : expected)
    {
        while (nLine < lines.size() && lines[nLine].find(part) == std::string::npos)
            ++nLine;
        EXPECT_LT(nLine, lines.size()) << "no line with \"" << part << "\" in its place";
    }
    for (const std::string& line : lines)
        EXPECT_NE(line.find(" ms  "), std::string::npos) << line;

    DeleteFileW(trace.c_str());
    ExpectCleanStart(Launch(L"full", m_temp), m_cache);
    EXPECT_EQ(GetFileAttributesW(trace.c_str()), INVALID_FILE_ATTRIBUTES);
}

// A launcher signed after the build (the signature is appended outside the resources) starts as before:
// its pack and digests still check out and the whole tree is unpacked.
TEST_F(PackStarts, ASignedLauncherStartsAsBefore)
{
    const std::wstring signedExe = PackExe(L"signed");
    ASSERT_GT(ReadFileBytes(signedExe).size(), ReadFileBytes(PackExe(L"full")).size()) << "not signed";
    ExpectCleanStart(LaunchExe(signedExe, m_temp), m_cache);
    ExpectSameTree(ReadTree(m_cache), ExpectedFullCache());
}

// Files held by another program for a few seconds (a scanner at a fresh file, an indexer, a backup) are
// waited out, whichever file it is: the start goes through with the whole tree.
TEST_F(PackDesktops, FilesHeldForAFewSecondsAreWaitedOut)
{
    const std::wstring pack = m_cache + L"\\ProductContent.chm";
    const std::wstring stamp = m_cache + L".stamp";
    const struct
    {
        const char* what;
        std::function<std::thread()> arrange;
    } rows[] = {
        {"a file to be rewritten",
         [&] {
             SHCreateDirectory(nullptr, (m_cache + L"\\b").c_str());
             return HoldFor(m_cache + L"\\b\\b.bin", 3000, CREATE_ALWAYS);
         }},
        {"the pack file to be rewritten",
         [&] {
             SHCreateDirectory(nullptr, m_cache.c_str());
             return HoldFor(pack, 3000, CREATE_ALWAYS);
         }},
        {"the stamp to be removed",
         [&] {
             EXPECT_EQ(Launch(L"full", m_temp).exitCode, 0u);
             DeleteFileW((m_cache + L"\\a.txt").c_str());
             return HoldFor(stamp, 3000);
         }},
        {"the pack file just written", [&] { return ScanOnceWritten(pack, 3000); }},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.what);
        RemoveTree(m_temp);
        MakeFolder(m_temp);
        std::thread holder = row.arrange();
        const CLaunchResult result = Launch(L"full", m_temp);
        holder.join();
        ExpectCleanStart(result, m_cache);
        ExpectSameTree(ReadTree(m_cache), ExpectedFullCache());
    }
}

// The stamp's promise holds when the stamp resists removal (read-only; held by another program for a few
// seconds): a release of the same version with another pack, then the first again, each get exactly their
// own files. A stamp left in place would vouch for the other pack's files of the same size.
TEST_F(PackDesktops, TheStampNeverVouchesForAnotherPacksFiles)
{
    const std::wstring changedExe = LauncherWith(m_scratch / L"changed.exe", PackBytes(L"changed.chm"),
                                                 PackBytes(L"changed.chm.digests"));
    CTree changed = ReadTree(BuildPath(L"tests\\packs\\trees\\changed"));
    changed.files[L"ProductContent.chm"] = PackBytes(L"changed.chm");
    const std::wstring stamp = m_cache + L".stamp";
    const struct
    {
        const char* what;
        std::function<std::thread()> obstruct;
    } rows[] = {
        {"a read-only stamp",
         [&] {
             MakeReadOnly(stamp);
             return std::thread();
         }},
        {"a stamp held for a few seconds", [&] { return HoldFor(stamp, 3000); }},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.what);
        RemoveTree(m_temp);
        MakeFolder(m_temp);
        ExpectCleanStart(Launch(L"full", m_temp), m_cache);
        for (const std::wstring& exe : {changedExe, PackExe(L"full")})
        {
            std::thread holder = row.obstruct();
            ExpectCleanStart(LaunchExe(exe, m_temp), m_cache);
            if (holder.joinable()) holder.join();
            ExpectSameTree(ReadTree(m_cache), exe == changedExe ? changed : ExpectedFullCache());
        }
    }
}

// While the application runs from the folder, another start changes nothing in it: one of the same pack
// runs beside it; one that would have to rewrite files (the same version with another pack) says to close
// the other copy, with a code of its own, and the running copy's files stay as they were.
TEST_F(PackDesktops, ARunningCopyIsNeverChangedBeneathIt)
{
    const std::wstring changedExe = LauncherWith(m_scratch / L"changed.exe", PackBytes(L"changed.chm"),
                                                 PackBytes(L"changed.chm.digests"));
    CLauncherStart running;
    running.exePath = PackExe(L"full");
    running.tempFolder = m_temp;
    running.scenario = L"entry.messagebox = running\n";
    running.scenarioFile = m_scratch / L"running.txt";
    CLaunchResult same;
    CLaunchResult other;
    CTree during;
    running.onBox = [&](const CWindowSnapshot&, HANDLE) {
        same = Launch(L"full", m_temp);
        other = LaunchExe(changedExe, m_temp);
        during = ReadTree(m_cache);
    };
    const CLaunchResult result = running.Run();
    EXPECT_EQ(result.exitCode, 0u) << Narrow(result.transcript);
    EXPECT_TRUE(same.boxes.empty()) << Narrow(same.transcript);
    EXPECT_EQ(same.exitCode, 0u);
    ASSERT_EQ(other.boxes.size(), 1u) << Narrow(other.transcript);
    EXPECT_EQ(other.boxes[0].text,
              L"Another copy of " TEST_PRODUCT L" is running from " + Quoted(m_cache) +
                  L", and this start would have to change " + Quoted(m_cache + L"\\ProductContent.chm") +
                  L" in it. Close the other copy and start again. " + Win32Tail(ERROR_BUSY));
    EXPECT_EQ(other.exitCode, static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_BUSY)));
    ExpectSameTree(during, ExpectedFullCache());

    // Once it has ended, its folder is free to change again.
    ExpectCleanStart(LaunchExe(changedExe, m_temp), m_cache);
}

// A cache that a disk cleaner, a sync tool or a careless user touched: a refresh compares every file it
// keeps with its digest, replaces items of the wrong kind and writes read-only ones all the same. The
// application then gets exactly the packed tree, and so does every warm start after.
TEST_F(PackTouched, EveryTouchedCacheIsMadeWholeAgain)
{
    const std::wstring a = m_cache + L"\\a.txt";
    const std::wstring pack = m_cache + L"\\ProductContent.chm";
    const std::string aBytes = ReadFileBytes(FullSource() + L"\\a.txt");
    const auto deleteOther = [&] { DeleteFileW((m_cache + L"\\e.txt").c_str()); };
    const auto replaceFolderB = [&] {
        RemoveTree(m_cache + L"\\b");
        WriteFileBytes(m_cache + L"\\b", "in the way");
    };
    const struct
    {
        const char* what;
        std::function<void()> touch;
    } rows[] = {
        {"a file zeroed at its size, another deleted, the stamp kept",
         [&] {
             WriteFileBytes(a, std::string(aBytes.size(), '\0'));
             deleteOther();
         }},
        {"a file of other bytes at its size, another deleted, the stamp kept",
         [&] {
             WriteFileBytes(a, std::string(aBytes.size(), 'x'));
             deleteOther();
         }},
        {"a file where a folder goes", replaceFolderB},
        {"a folder where a file goes",
         [&] {
             DeleteFileW(a.c_str());
             SHCreateDirectory(nullptr, (a + L"\\inner").c_str());
         }},
        {"a folder where the pack file goes",
         [&] {
             DeleteFileW(pack.c_str());
             SHCreateDirectory(nullptr, pack.c_str());
         }},
        {"a read-only file of other bytes, the stamp gone",
         [&] {
             WriteFileBytes(a, std::string(aBytes.size(), 'x'));
             MakeReadOnly(a);
             DeleteFileW((m_cache + L".stamp").c_str());
         }},
        {"a read-only pack file of other bytes, a file deleted",
         [&] {
             std::string bytes = ReadFileBytes(pack);
             Flip(bytes, bytes.size() / 2);
             WriteFileBytes(pack, bytes);
             MakeReadOnly(pack);
             deleteOther();
         }},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.what);
        RemoveTree(m_temp);
        MakeFolder(m_temp);
        ASSERT_EQ(Launch(L"full", m_temp).exitCode, 0u);
        row.touch();
        ExpectCleanStart(Launch(L"full", m_temp), m_cache);
        ExpectSameTree(ReadTree(m_cache), ExpectedFullCache());
        ExpectCleanStart(Launch(L"full", m_temp), m_cache);
        ExpectSameTree(ReadTree(m_cache), ExpectedFullCache());
    }
}
