// Writes that fail for want of room: the pack file or an unpacked file never stays behind truncated
// without a word, and the application is not started from it.
#include "harness/wine_test_env.h"

#include <gtest/gtest.h>

namespace
{
// A folder on a small disk that the test script mounts (as root); the test is skipped without it.
bool SmallDiskAvailable(const std::wstring& folder)
{
    wchar_t szRoot[MAX_PATH];
    ULARGE_INTEGER free = {}, total = {};
    return GetVolumePathNameW(folder.c_str(), szRoot, MAX_PATH) &&
           GetDiskFreeSpaceExW(folder.c_str(), &free, &total, nullptr) && total.QuadPart <= 256 * 1024;
}

struct CFullDiskRun
{
    explicit CFullDiskRun(const std::wstring& disk) : tempFolder(BuildPath(disk))
    {
        RemoveTree(tempFolder + L"\\" TEST_MAKER);
        InstallSimulatedRuntime(L"full");
        CLauncherStart start;
        start.tempFolder = tempFolder;
        start.clrLog = BuildPath(L"test-tmp-" + disk + L".log");
        DeleteFileW(start.clrLog.c_str());
        result = start.Run();
        log = ReadClrLog(start.clrLog);
    }
    ~CFullDiskRun() { RemoveTree(tempFolder + L"\\" TEST_MAKER); }

    std::wstring tempFolder;
    CLaunchResult result;
    std::vector<std::string> log;
};

const std::wstring c_cache = L"\\" TEST_CACHE_BELOW_TEMP;

// The write's box was the only one: its code ends the start, and no domain is made.
void ExpectTheStartEnded(const CFullDiskRun& run)
{
    EXPECT_EQ(run.result.boxes.size(), 1u) << Narrow(run.result.transcript);
    EXPECT_EQ(run.result.exitCode, static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_DISK_FULL)));
    EXPECT_FALSE(LogHas(run.log, "GetDefaultDomain"));
    EXPECT_FALSE(LogHas(run.log, "CreateDomainEx"));
}

std::wstring Win32Text(DWORD code)
{
    wchar_t sz[4096] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, sz, 4096, nullptr);
    return std::wstring(sz) + L" (" + std::to_wstring(code) + L")";
}
} // namespace

TEST(FullDisk, PackFileThatDoesNotFitIsReportedAndNotOpened)
{
    if (!SmallDiskAvailable(BuildPath(L"test-disk-64k")))
        GTEST_SKIP() << "no small disk mounted (needs root)";
    CFullDiskRun run(L"test-disk-64k");
    ASSERT_GE(run.result.boxes.size(), 1u) << Narrow(run.result.transcript);
    const std::wstring packFile = run.tempFolder + c_cache + L"\\ProductContent.chm";
    EXPECT_EQ(run.result.boxes[0].text, L"Could not write the product content cache file \x201C" + packFile +
                                            L"\x201D. " + Win32Text(ERROR_DISK_FULL));
    // No storage was opened on the short file, and the failure ended the start.
    ExpectTheStartEnded(run);
    // The half-written file went, and with it what it took of the disk.
    EXPECT_EQ(GetFileAttributesW(packFile.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(FullDisk, UnpackedFileThatDoesNotFitIsReportedAndStopsTheExtraction)
{
    if (!SmallDiskAvailable(BuildPath(L"test-disk-128k")))
        GTEST_SKIP() << "no small disk mounted (needs root)";
    CFullDiskRun run(L"test-disk-128k");
    ASSERT_GE(run.result.boxes.size(), 1u) << Narrow(run.result.transcript);
    // The demo's one large file is the one that no longer fits beside the pack.
    const std::wstring file = run.tempFolder + c_cache + L"\\data\\themes\\dark\\icons\\noise.bin";
    EXPECT_EQ(run.result.boxes[0].text, L"Could not write the product content file \x201C" + file +
                                            L"\x201D. " + Win32Text(ERROR_DISK_FULL));
    ExpectTheStartEnded(run);
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
}
