// The requirement checks: the operating-system decision, the runtime requirements dialog in its three
// situations with every answer, and the framework survey of the registry.
#include "harness/box_answerer.h"
#include "harness/wine_test_env.h"
#include "product_names.h"
#include "requirements/framework_survey.h"
#include "requirements/os_requirement.h"
#include "requirements/runtime_requirements_dialog.h"

#include <gtest/gtest.h>

using namespace corvane;

namespace
{
const std::wstring c_title = TEST_REQUIREMENTS_CAPTION;
const std::wstring c_intro = std::wstring(L"To run ") + TEST_MAKER + L" " + TEST_PRODUCT +
                             L", you must have the .NET Framework installed on your computer.\n\n";
const std::wstring c_minimums =
    L"Minimum .NET Framework version required: 3.5.0.0 (Full edition).\n"
    L"Minimum CLR version required: 2.0.0.0.\n\n"
    L"Would you like to open the Mirosoft website with a free download of the .NET "
    L"Framework?";
const std::wstring c_retryText =
    std::wstring(TEST_PRODUCT) +
    L" has found the CLR version capable of running its code, but the .NET Framework version is outdated. "
    L"Some of the features might be missing, and the application might not run properly.\n\nIf you hit "
    L"Retry, "
    L"the application will attempt to start in the current environment. If it fails, please proceed with "
    L"installing a newer .NET Framework version.";
const CVersion4 c_clrRequired(2, 0, 0, 0);
const CVersion4 c_netfxRequired(3, 5, 0, 0);

OSVERSIONINFOW Os(DWORD dwPlatform, DWORD dwMajor, DWORD dwMinor)
{
    OSVERSIONINFOW osvi = {};
    osvi.dwOSVersionInfoSize = sizeof(osvi);
    osvi.dwPlatformId = dwPlatform;
    osvi.dwMajorVersion = dwMajor;
    osvi.dwMinorVersion = dwMinor;
    return osvi;
}
} // namespace

TEST(OperatingSystem, NeedsNt51OrLater)
{
    EXPECT_FALSE(IsSupportedOperatingSystem(true, Os(2, 5, 0)));
    EXPECT_FALSE(IsSupportedOperatingSystem(true, Os(2, 4, 0)));
    EXPECT_FALSE(IsSupportedOperatingSystem(true, Os(1, 4, 10)));
    EXPECT_FALSE(IsSupportedOperatingSystem(true, Os(1, 6, 1))); // not NT, whatever the numbers say
    EXPECT_TRUE(IsSupportedOperatingSystem(true, Os(2, 5, 1)));
    EXPECT_TRUE(IsSupportedOperatingSystem(true, Os(2, 5, 2)));
    EXPECT_TRUE(IsSupportedOperatingSystem(true, Os(2, 6, 0)));
    EXPECT_TRUE(IsSupportedOperatingSystem(true, Os(2, 10, 0)));
}

TEST(OperatingSystem, AFailedVersionQueryCountsAsUnsupported)
{
    EXPECT_FALSE(IsSupportedOperatingSystem(false, Os(2, 10, 0)));
}

TEST(RequirementsDialog, NothingFoundListsOnlyTheMinimums)
{
    CBoxAnswerer answerer({IDNO});
    EXPECT_EQ(ShowRuntimeRequirementsDialog(CVersion4(), CVersion4(), FALSE, c_clrRequired, c_netfxRequired),
              E_ABORT);
    const auto boxes = answerer.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, c_title);
    EXPECT_EQ(boxes[0].text, c_intro + c_minimums);
    EXPECT_EQ(boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
    ASSERT_EQ(boxes[0].buttons.size(), 2u);
    EXPECT_EQ(boxes[0].buttons[0].first, IDYES);
    EXPECT_EQ(boxes[0].buttons[1].first, IDNO);
}

TEST(RequirementsDialog, TooOldRuntimeShowsItsVersionAndNoRetry)
{
    CBoxAnswerer answerer({IDNO});
    EXPECT_EQ(ShowRuntimeRequirementsDialog(CVersion4(1, 1, 4322, 0), CVersion4(), FALSE, c_clrRequired,
                                            c_netfxRequired),
              E_ABORT);
    const auto boxes = answerer.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c_intro + L"Maximum CLR version found: 1.1.4322.0.\n" + c_minimums);
}

TEST(RequirementsDialog, OutdatedFrameworkOffersRetry)
{
    const CVersion4 verClr(2, 0, 50727, 0), verNetfx(3, 0, 4506, 0);
    const std::wstring firstText = c_intro + L"Maximum .NET Framework version found: 3.0.4506.0.\n" +
                                   L"Maximum CLR version found: 2.0.50727.0.\n" + c_minimums;
    {
        CBoxAnswerer answerer({IDNO, IDRETRY});
        EXPECT_EQ(ShowRuntimeRequirementsDialog(verClr, verNetfx, TRUE, c_clrRequired, c_netfxRequired),
                  S_FALSE);
        const auto boxes = answerer.Boxes();
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[0].text, firstText);
        EXPECT_EQ(boxes[1].caption, c_title);
        EXPECT_EQ(boxes[1].text, c_retryText);
        EXPECT_EQ(boxes[1].icon, static_cast<UINT>(MB_ICONWARNING));
        ASSERT_EQ(boxes[1].buttons.size(), 2u);
        EXPECT_EQ(boxes[1].buttons[0].first, IDRETRY);
        EXPECT_EQ(boxes[1].buttons[1].first, IDCANCEL);
    }
    {
        CBoxAnswerer answerer({IDNO, IDCANCEL});
        EXPECT_EQ(ShowRuntimeRequirementsDialog(verClr, verNetfx, TRUE, c_clrRequired, c_netfxRequired),
                  E_ABORT);
        EXPECT_EQ(answerer.Boxes().size(), 2u);
    }
}

TEST(RequirementsDialog, YesOpensTheDownloadPageOverHttpsAndNeverOffersRetry)
{
    RegisterUrlRecorder();
    CTempFolder temp(L"download");
    const std::wstring urlLog = temp / L"url.log";
    SetEnvironmentVariableW(L"CORVANE_URL_LOG", urlLog.c_str());
    {
        CBoxAnswerer answerer({IDYES});
        EXPECT_EQ(ShowRuntimeRequirementsDialog(CVersion4(2, 0, 50727, 0), CVersion4(3, 0, 0, 0), TRUE,
                                                c_clrRequired, c_netfxRequired),
                  E_ABORT);
        EXPECT_EQ(answerer.Boxes().size(), 1u);
    }
    std::vector<std::string> urls;
    for (int n = 0; n < 100 && urls.empty(); ++n, Sleep(50))
        urls = ReadLines(urlLog);
    SetEnvironmentVariableW(L"CORVANE_URL_LOG", nullptr);
    ASSERT_EQ(urls.size(), 1u);
    EXPECT_EQ(urls[0], "https://www.microsoft.com/download/en/"
                       "details.aspx?id=17851&WT.mc_id=MSCOM_EN_US_DLC_DETAILS_121LSUS007996");
}

TEST(FrameworkSurvey, KeyNamesNeedAVAndAVersion)
{
    EXPECT_EQ(ParseRegistryKeyName(L"v2.0.50727"), CVersion4(2, 0, 50727, 0));
    EXPECT_EQ(ParseRegistryKeyName(L"V4"), CVersion4(4, 0, 0, 0));
    EXPECT_TRUE(ParseRegistryKeyName(L"v").IsZero());
    EXPECT_TRUE(ParseRegistryKeyName(L"v0").IsZero());
    EXPECT_TRUE(ParseRegistryKeyName(L"vX").IsZero());
    EXPECT_TRUE(ParseRegistryKeyName(L"CDF").IsZero());
}

TEST(FrameworkSurvey, FindsTheHighestFullInstallWhateverTheOrder)
{
    CNdpRegistry ndp;
    EXPECT_TRUE(FindMaximumInstalledFramework().IsZero()); // no root key at all
    ndp.CreateRoot();
    EXPECT_TRUE(FindMaximumInstalledFramework().IsZero());

    ndp.SetDword(L"v3.5", L"Install", 1);
    ndp.SetString(L"v3.5", L"Version", L"3.5.30729.01");
    ndp.SetDword(L"v2.0.50727", L"Install", 1);
    ndp.SetString(L"v2.0.50727", L"Version", L"2.0.50727.4927");
    ndp.SetDword(L"CDF", L"Install", 1);
    EXPECT_EQ(FindMaximumInstalledFramework(), CVersion4(3, 5, 30729, 1));

    // Installed only in "Full": the version comes from there, and only component 0 must agree.
    ndp.SetDword(L"v4\\Full", L"Install", 1);
    ndp.SetString(L"v4\\Full", L"Version", L"4.5.50709");
    EXPECT_EQ(FindMaximumInstalledFramework(), CVersion4(4, 5, 50709, 0));
}

TEST(FrameworkSurvey, ClientOnlyAndZeroInstallsDoNotCount)
{
    CNdpRegistry ndp;
    ndp.SetDword(L"v4\\Client", L"Install", 1);
    ndp.SetString(L"v4\\Client", L"Version", L"4.8.03761");
    ndp.SetDword(L"v4.5", L"Install", 0);
    ndp.SetDword(L"v3.0", L"Install", 1);
    EXPECT_EQ(FindMaximumInstalledFramework(), CVersion4(3, 0, 0, 0));
}

TEST(FrameworkSurvey, VersionValuesThatContradictTheKeyAreIgnored)
{
    CNdpRegistry ndp;
    ndp.SetDword(L"v3.5", L"Install", 1);
    ndp.SetString(L"v3.5", L"Version", L"3.0.4506");
    EXPECT_EQ(FindMaximumInstalledFramework(), CVersion4(3, 5, 0, 0));
    ndp.SetString(L"v3.5", L"Version", L"");
    EXPECT_EQ(FindMaximumInstalledFramework(), CVersion4(3, 5, 0, 0));
    // A value too long for the 260-byte query does not fit and is ignored.
    ndp.SetString(L"v3.5", L"Version", L"3.5.1." + std::wstring(150, L'1'));
    EXPECT_EQ(FindMaximumInstalledFramework(), CVersion4(3, 5, 0, 0));
    // "Install" 0 in the key but 1 in "Full": installed, versioned from "Full".
    ndp.SetDword(L"v3.5", L"Install", 0);
    ndp.SetDword(L"v3.5\\Full", L"Install", 1);
    ndp.SetString(L"v3.5\\Full", L"Version", L"3.5.21022.8");
    EXPECT_EQ(FindMaximumInstalledFramework(), CVersion4(3, 5, 21022, 8));
}

TEST(FrameworkCheck, SettledByTheBoundRuntimeWithoutTheRegistry)
{
    CNdpRegistry ndp; // empty: a survey would find nothing and show the dialog
    CBoxAnswerer answerer;
    EXPECT_EQ(CheckFrameworkRequirement(c_clrRequired, c_netfxRequired, CVersion4(4, 0, 30319, 0)), S_OK);
    EXPECT_EQ(CheckFrameworkRequirement(c_clrRequired, CVersion4(2, 0, 5, 5), CVersion4(2, 0, 50727, 0)),
              S_OK);
    EXPECT_TRUE(answerer.Boxes().empty());
}

TEST(FrameworkCheck, OldRuntimeWithOutdatedFrameworkAsksAndReturnsTheAnswer)
{
    CNdpRegistry ndp;
    ndp.SetDword(L"v2.0.50727", L"Install", 1);
    ndp.SetString(L"v3.0", L"Version", L"3.0.4506.2152");
    ndp.SetDword(L"v3.0", L"Install", 1);
    CBoxAnswerer answerer({IDNO, IDRETRY});
    EXPECT_EQ(CheckFrameworkRequirement(c_clrRequired, c_netfxRequired, CVersion4(2, 0, 50727, 8000)),
              S_FALSE);
    const auto boxes = answerer.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[0].text.find(L"Maximum .NET Framework version found: 3.0.4506.2152.\n"
                                 L"Maximum CLR version found: 2.0.50727.8000.\n"),
              std::wstring::npos);

    ndp.SetDword(L"v3.5", L"Install", 1);
    ndp.SetString(L"v3.5", L"Version", L"3.5.30729.01");
    EXPECT_EQ(CheckFrameworkRequirement(c_clrRequired, c_netfxRequired, CVersion4(2, 0, 50727, 8000)), S_OK);
}
