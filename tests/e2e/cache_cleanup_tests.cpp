// What a start leaves of other versions' caches beside its own: the newest other one, those another start
// or a running copy holds, names that are no version, and whatever links point at; after a failed start,
// everything.
#include "base/unique_any.h"
#include "harness/wine_test_env.h"
#include "pack/content_cache_lock.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <set>

using corvane::CUniqueHandle;

namespace
{
const std::wstring c_current = L"v" TEST_VERSION;

std::set<std::wstring> NamesIn(const std::wstring& folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW fd;
    const HANDLE hFind = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE) return names;
    do
        if (wcscmp(fd.cFileName, L".") != 0 && wcscmp(fd.cFileName, L"..") != 0) names.insert(fd.cFileName);
    while (FindNextFileW(hFind, &fd));
    FindClose(hFind);
    return names;
}

std::string Join(const std::set<std::wstring>& names)
{
    std::string text;
    for (const std::wstring& name : names)
        text += (text.empty() ? "" : ", ") + Narrow(name);
    return "{" + text + "}";
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// An old release's cache as its launcher left it: the pack, a file in a folder, the stamp beside it.
std::wstring MakeOldVersion(const std::wstring& versionFolder)
{
    const std::wstring cache = versionFolder + L"\\ProductContentCache";
    SHCreateDirectory(nullptr, (cache + L"\\bin").c_str());
    WriteFileBytes(cache + L"\\ProductContent.chm", "pack");
    WriteFileBytes(cache + L"\\bin\\app.dll", "app");
    WriteFileBytes(cache + L".stamp", "stamp");
    return cache;
}

// Runs a Unix command from the test (Wine starts a Unix program but gives no handle to wait on) and waits
// until the path shows the item it makes or removes.
bool RunUnixUntil(std::wstring command, const std::wstring& path, bool fExists)
{
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    const CUniqueHandle hProcess(pi.hProcess), hThread(pi.hThread);
    for (int n = 0; n < 1000 && Exists(path) != fExists; ++n)
        Sleep(10);
    return Exists(path) == fExists;
}

std::wstring UnixPath(std::wstring path)
{
    for (wchar_t& ch : path)
        if (ch == L'\\') ch = L'/';
    return path.substr(2);
}

// A Unix symbolic link to a folder, which Wine shows as a reparse point (its CreateSymbolicLinkW makes
// nothing); gone again afterwards, whatever the launcher did with it.
class CFolderLink
{
public:
    CFolderLink(const std::wstring& link, const std::wstring& target) : m_link(link)
    {
        m_fMade =
            link.compare(0, 3, L"Z:\\") == 0 &&
            RunUnixUntil(L"/bin/ln -s " + UnixPath(target) + L" " + UnixPath(link), link, true) &&
            GetFileAttributesW(link.c_str()) == (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    }
    CFolderLink(const CFolderLink&) = delete;
    CFolderLink& operator=(const CFolderLink&) = delete;
    ~CFolderLink()
    {
        if (m_fMade) RunUnixUntil(L"/bin/rm -f " + UnixPath(m_link), m_link, false);
    }
    bool IsMade() const { return m_fMade; }

private:
    std::wstring m_link;
    bool m_fMade = false;
};

class CacheCleanup : public ::testing::Test
{
protected:
    void SetUp() override { InstallSimulatedRuntime(L"full"); }

    CTempFolder m_scratch{L"cache-cleanup"};
    const std::wstring m_maker = m_scratch / L"temp\\" TEST_MAKER;
    const std::wstring m_product = m_maker + L"\\" TEST_PRODUCT;

    CLauncherStart Start(const std::wstring& scenario) const
    {
        CLauncherStart start = ScenarioStart(m_scratch, scenario);
        start.exePath = BuildPath(L"tests\\packs\\corvane-pack-full.exe");
        return start;
    }
};
} // namespace

TEST_F(CacheCleanup, TheCurrentTheNewestOtherAndWhatIsHeldOrNoVersionRemain)
{
    enum class EHeld
    {
        Nothing,
        Lock,      // another start is unpacking v1.1.0.0
        InUseMark, // a running copy uses v1.1.0.0
        File,      // a copy of an old release, which sets no mark, holds a file of v1.1.0.0
    };
    const std::set<std::wstring> all = {c_current,   L"v1.0.0.0", L"v1.1.0.0",
                                        L"v1.1.1.9", L"v9.0.0.0", L"keep-me"};
    const struct
    {
        const char* what;
        std::wstring scenario;
        EHeld held;
        std::set<std::wstring> remaining;
    } rows[] = {
        {"a clean start", L"", EHeld::Nothing, {c_current, L"v9.0.0.0", L"keep-me"}},
        {"a version another start holds",
         L"",
         EHeld::Lock,
         {c_current, L"v1.1.0.0", L"v9.0.0.0", L"keep-me"}},
        {"a failed start", L"entry.throw = The application fell over.\n", EHeld::Nothing, all},
        {"a version with a file held open",
         L"",
         EHeld::File,
         {c_current, L"v1.1.0.0", L"v9.0.0.0", L"keep-me"}},
        // Last: the mark stays with this process to its end.
        {"a version a running copy uses",
         L"",
         EHeld::InUseMark,
         {c_current, L"v1.1.0.0", L"v9.0.0.0", L"keep-me"}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.what);
        RemoveTree(m_maker);
        for (const wchar_t* szVersion : {L"v1.0.0.0", L"v1.1.0.0", L"v1.1.1.9", L"v9.0.0.0"})
            MakeOldVersion(m_product + L"\\" + szVersion);
        MakeOldVersion(m_product + L"\\keep-me");
        const std::wstring otherProduct = MakeOldVersion(m_maker + L"\\Other\\v1.0.0.0");
        const std::wstring held = m_product + L"\\v1.1.0.0\\ProductContentCache";
        CUniqueHandle hLock;
        if (row.held == EHeld::Lock)
            hLock.Reset(CreateMutexW(nullptr, TRUE, corvane::GetContentCacheLockName(held.c_str())));
        if (row.held == EHeld::InUseMark)
            corvane::MarkContentFolderInUse(corvane::GetContentCacheLockName(held.c_str()));
        corvane::CUniqueHFile hFile;
        if (row.held == EHeld::File)
            hFile.Reset(CreateFileW((held + L"\\bin\\app.dll").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr));

        const CLaunchResult result = Start(row.scenario).Run();
        EXPECT_EQ(result.boxes.empty(), row.scenario.empty()) << Narrow(result.transcript);
        EXPECT_EQ(result.exitCode == 0, row.scenario.empty()) << Narrow(result.transcript);
        EXPECT_EQ(Join(NamesIn(m_product)), Join(row.remaining));
        // What is kept is kept whole; a version whose removal stopped at a held file is unstamped, so that
        // its next start fills it again.
        for (const std::wstring& name : row.remaining)
        {
            if (name != c_current)
                EXPECT_EQ(Exists(m_product + L"\\" + name + L"\\ProductContentCache.stamp"),
                          row.held != EHeld::File || name != L"v1.1.0.0")
                    << Narrow(name);
        }
        if (row.held == EHeld::File) EXPECT_EQ(ReadFileBytes(held + L"\\bin\\app.dll"), "app");
        EXPECT_TRUE(Exists(otherProduct + L".stamp"));
    }
}

// Wine cannot remove a Unix link to a folder (it reports access denied), so there the old folders holding
// links stay; what the links point at is never touched either way, and the other old versions go all the
// same.
TEST_F(CacheCleanup, LinksAreRemovedWithoutEnteringThem)
{
    const std::wstring outside = m_scratch / L"outside";
    CreateDirectoryW(outside.c_str(), nullptr);
    WriteFileBytes(outside + L"\\precious.txt", "precious");
    const std::wstring elsewhere = m_scratch / L"elsewhere";
    const std::wstring elsewhereCache = MakeOldVersion(elsewhere);
    const std::wstring linkHolder = MakeOldVersion(m_product + L"\\v1.0.0.0");
    MakeOldVersion(m_product + L"\\v1.1.0.0");
    MakeOldVersion(m_product + L"\\v9.0.0.0");
    const CFolderLink inside(linkHolder + L"\\outside", outside);
    const CFolderLink versionLink(m_product + L"\\v1.0.5.0", elsewhere);
    if (!inside.IsMade() || !versionLink.IsMade()) GTEST_SKIP() << "no folder link can be made here";

    CLauncherStart start = Start(L"");
    start.timeoutMs = 150000;
    const CLaunchResult result = start.Run();
    EXPECT_TRUE(result.boxes.empty()) << Narrow(result.transcript);
    EXPECT_EQ(result.exitCode, 0u) << Narrow(result.transcript);
    EXPECT_EQ(ReadFileBytes(outside + L"\\precious.txt"), "precious");
    EXPECT_EQ(ReadFileBytes(elsewhereCache + L".stamp"), "stamp");
    EXPECT_EQ(ReadFileBytes(elsewhereCache + L"\\bin\\app.dll"), "app");
    EXPECT_FALSE(Exists(linkHolder + L".stamp"));
    EXPECT_FALSE(Exists(m_product + L"\\v1.1.0.0"));
    EXPECT_TRUE(Exists(m_product + L"\\v9.0.0.0\\ProductContentCache.stamp"));
}
