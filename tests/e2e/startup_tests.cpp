// Start-up as a user meets it: the operating-system gate and a machine whose runtime shim cannot load.
#include "harness/wine_test_env.h"

#include <gtest/gtest.h>

namespace
{
const std::wstring c_osText =
    std::wstring(TEST_MAKER) + L" " + TEST_PRODUCT +
    L" currently requires Windows NT 5.1 or higher to run. Your operation system version is not supported.";
const std::wstring c_requirementsNothingFound =
    std::wstring(L"To run ") + TEST_MAKER + L" " + TEST_PRODUCT +
    L", you must have the .NET Framework installed on your computer.\n\n"
    L"Minimum .NET Framework version required: 3.5.0.0 (Full edition).\n"
    L"Minimum CLR version required: 2.0.0.0.\n\n"
    L"Would you like to open the Mirosoft website with a free download of the .NET Framework?";
const std::wstring c_downloadUrl = L"https://www.microsoft.com/download/en/"
                                   L"details.aspx?id=17851&WT.mc_id=MSCOM_EN_US_DLC_DETAILS_121LSUS007996";
} // namespace

TEST(OperatingSystemGate, OlderSystemsGetTheRequirementsBoxWithoutOwner)
{
    for (const wchar_t* version : {L"win2k", L"nt40", L"win98"})
    {
        SCOPED_TRACE(Narrow(version));
        CTempFolder temp(L"os-gate");
        CWineAppSetting wineVersion(TEST_EXE_NAME, L"", L"Version", version);
        CLauncherStart start;
        start.tempFolder = temp.Path();
        const CLaunchResult result = start.Run();

        ASSERT_EQ(result.boxes.size(), 1u) << Narrow(result.transcript);
        EXPECT_EQ(result.boxes[0].caption, TEST_SYSTEM_CAPTION);
        EXPECT_EQ(result.boxes[0].text, c_osText);
        EXPECT_EQ(result.boxes[0].owner, nullptr);
        EXPECT_EQ(result.boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
        ASSERT_EQ(result.boxes[0].buttons.size(), 1u);
        EXPECT_EQ(result.boxes[0].buttons[0].first, IDOK);
        EXPECT_FALSE(result.splashSeen); // nothing else started before the gate
        EXPECT_EQ(result.exitCode, 0x80004004u);
    }
}

TEST(OperatingSystemGate, SupportedSystemsPassTheGate)
{
    for (const wchar_t* version : {L"winxp", L"win2003", L"vista", L"win7", L"win8", L"win10"})
    {
        SCOPED_TRACE(Narrow(version));
        CTempFolder temp(L"os-pass");
        CWineAppSetting wineVersion(TEST_EXE_NAME, L"", L"Version", version);
        CLauncherStart start;
        start.tempFolder = temp.Path();
        start.dllOverride = L""; // no runtime shim: the next thing a user sees is the requirements box
        const CLaunchResult result = start.Run();

        ASSERT_EQ(result.boxes.size(), 1u) << Narrow(result.transcript);
        EXPECT_EQ(result.boxes[0].caption, TEST_REQUIREMENTS_CAPTION);
        EXPECT_EQ(result.exitCode, 0x80004002u);
    }
}

TEST(MissingRuntimeShim, ShowsOnlyTheMinimumsWithoutRetryWhateverTheAnswer)
{
    RegisterUrlRecorder();
    for (int answer : {IDNO, IDYES})
    {
        SCOPED_TRACE(answer);
        CTempFolder temp(L"no-shim");
        CLauncherStart start;
        start.tempFolder = temp.Path();
        start.dllOverride = L"";
        start.urlLog = temp / L"url.log";
        start.answers = {answer};
        const CLaunchResult result = start.Run();

        ASSERT_EQ(result.boxes.size(), 1u) << Narrow(result.transcript);
        const CWindowSnapshot& box = result.boxes[0];
        EXPECT_EQ(box.caption, TEST_REQUIREMENTS_CAPTION);
        EXPECT_EQ(box.text, c_requirementsNothingFound);
        EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONERROR));
        ASSERT_EQ(box.buttons.size(), 2u);
        EXPECT_EQ(result.exitCode, 0x80004002u);

        // The recorder runs detached from the launcher: give it a moment to write.
        std::vector<std::string> urls;
        for (int n = 0; n < 100 && answer == IDYES && urls.empty(); ++n, Sleep(50))
            urls = ReadLines(start.urlLog);
        if (answer == IDYES)
        {
            ASSERT_EQ(urls.size(), 1u);
            EXPECT_EQ(urls[0], Narrow(c_downloadUrl));
        }
        else
        {
            Sleep(300);
            EXPECT_TRUE(ReadLines(start.urlLog).empty());
        }
    }
}
