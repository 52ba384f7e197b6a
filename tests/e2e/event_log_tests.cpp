// The trail in the Application event log: a failing start leaves one error event with its box's text and
// result code, a clean start none. Wine keeps no event log; it prints each string of an error event on
// standard error as an "err:eventlog:ReportEventW" line, which the launcher does with WINEDEBUG letting
// that channel through.
#include "harness/wine_test_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace
{
// One string of an event as Wine prints it: L"..." with C escapes and \xxxx for other characters, and at
// most about 290 characters, the rest cut off and marked with "..." after the closing quote.
struct CLoggedString
{
    std::wstring text;
    bool cut = false;
};

std::vector<CLoggedString> EventStrings(const std::string& wineStderr)
{
    const std::string marker = ":err:eventlog:ReportEventW L\"";
    std::vector<CLoggedString> strings;
    for (size_t at = wineStderr.find(marker); at != std::string::npos; at = wineStderr.find(marker, at))
    {
        CLoggedString logged;
        for (at += marker.size(); at < wineStderr.size() && wineStderr[at] != '"'; ++at)
        {
            const char ch = wineStderr[at];
            if (ch != '\\' || at + 1 >= wineStderr.size())
            {
                logged.text += static_cast<wchar_t>(static_cast<unsigned char>(ch));
                continue;
            }
            const char escaped = wineStderr[++at];
            if (escaped == 'n' || escaped == 'r' || escaped == 't')
                logged.text += escaped == 'n' ? L'\n' : escaped == 'r' ? L'\r' : L'\t';
            else if (isxdigit(static_cast<unsigned char>(escaped)))
            {
                logged.text += static_cast<wchar_t>(strtoul(wineStderr.substr(at, 4).c_str(), nullptr, 16));
                at += 3;
            }
            else
                logged.text += static_cast<wchar_t>(escaped); // \" and \\ .
        }
        logged.cut = wineStderr.compare(at, 4, "\"...") == 0;
        strings.push_back(logged);
    }
    return strings;
}
} // namespace

TEST(EventLog, AFailingStartLeavesOneErrorEventWithItsBoxAndCodeAndACleanStartNone)
{
    InstallSimulatedRuntime(L"full");
    CTempFolder scratch(L"event-log");
    const struct
    {
        const char* what;
        std::wstring windowsVersion; // empty: as the prefix says
        std::wstring dllOverride;
        std::wstring cacheRoot; // empty: not set
        DWORD exitCode;
    } rows[] = {
        {"a clean start", L"", L"native", L"", 0},
        {"the operating-system box", L"win2k", L"native", L"", 0x80004004},
        {"the requirements box", L"", L"", L"", 0x80004002},
        {"an error box", L"", L"native", L"Z:\\no-such-cache-root", 0x80070002},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.what);
        std::unique_ptr<CWineAppSetting> version;
        if (!row.windowsVersion.empty())
            version = std::make_unique<CWineAppSetting>(L"corvane-pack-full.exe", L"", L"Version",
                                                        row.windowsVersion);
        CLauncherStart start;
        start.exePath = BuildPath(L"tests\\packs\\corvane-pack-full.exe");
        start.tempFolder = scratch.Path();
        start.dllOverride = row.dllOverride;
        start.env = {{L"WINEDEBUG", L"-all,err+eventlog"}};
        if (!row.cacheRoot.empty()) start.env.emplace_back(L"CORVANE_CACHE_ROOT", row.cacheRoot);
        const size_t cbBefore = ReadWineStderr().size();
        const CLaunchResult result = start.Run();
        const std::vector<CLoggedString> strings = EventStrings(ReadWineStderr().substr(cbBefore));

        EXPECT_EQ(result.exitCode, row.exitCode) << Narrow(result.transcript);
        if (row.exitCode == 0)
        {
            EXPECT_TRUE(result.boxes.empty()) << Narrow(result.transcript);
            EXPECT_TRUE(strings.empty()) << "an event after a clean start";
            continue;
        }
        ASSERT_EQ(result.boxes.size(), 1u) << Narrow(result.transcript);
        ASSERT_EQ(strings.size(), 2u) << "not one event of two strings";
        const std::wstring& boxText = result.boxes[0].text;
        if (strings[0].cut)
        {
            EXPECT_GT(strings[0].text.size(), 200u);
            EXPECT_EQ(boxText.substr(0, strings[0].text.size()), strings[0].text);
        }
        else
            EXPECT_EQ(strings[0].text, boxText);
        wchar_t szCode[16];
        swprintf(szCode, 16, L"0x%08lX", static_cast<unsigned long>(row.exitCode));
        EXPECT_EQ(strings[1].text, szCode);
        EXPECT_FALSE(strings[1].cut);
    }
}
