// Runtime hosting end to end: binding through the version-4 and version-2 interfaces, the framework
// check, the application domain and the managed entry, against the simulated runtime; and against
// Wine's own runtime shim, which has no runtime to give.
#include "harness/fnv1a.h"
#include "harness/wine_test_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace
{
const std::wstring c_loading = TEST_LOADING_CAPTION;
const std::wstring c_v4 = L"There were problems loading the Common Language Runtime through v4 interfaces.";
const std::wstring c_v2 = L"There were problems loading the Common Language Runtime through v2 interfaces.";
const std::wstring c_requirements = TEST_REQUIREMENTS_CAPTION;

// One start of the product against the simulated runtime with a scenario.
struct CHostRun
{
    explicit CHostRun(const std::wstring& scenario, std::vector<int> answers = {},
                      const std::wstring& variant = L"full",
                      const std::wstring& exePath = BuildPath(TEST_EXE_NAME))
        : temp(CurrentTestName())
    {
        InstallSimulatedRuntime(variant);
        CLauncherStart start = ScenarioStart(temp, scenario);
        start.exePath = exePath;
        start.answers = std::move(answers);
        result = start.Run();
        log = ReadClrLog(start.clrLog);
    }

    std::string Transcript() const { return Narrow(result.transcript); }

    CTempFolder temp;
    CLaunchResult result;
    std::vector<std::string> log;
};

std::wstring Detailed(const std::wstring& headline, const std::wstring& detail, HRESULT hr)
{
    return headline + L"\n\n" + detail + L"\n" + PlatformHresultText(hr);
}

// The single error box of a run, with its caption and its owner, the splash window.
void ExpectOneErrorBox(const CHostRun& run, const std::wstring& text, DWORD exitCode)
{
    ASSERT_EQ(run.result.boxes.size(), 1u) << run.Transcript();
    EXPECT_EQ(run.result.boxes[0].caption, c_loading);
    EXPECT_EQ(run.result.boxes[0].text, text);
    EXPECT_EQ(run.result.boxes[0].ownerClass, TEST_SPLASH_CLASS);
    EXPECT_EQ(run.result.exitCode, exitCode);
    EXPECT_TRUE(ClrLogProblems(run.log).empty()) << ClrLogProblems(run.log).front();
}

void CollectTree(const std::wstring& root, const std::wstring& relative, std::vector<std::string>& lines)
{
    WIN32_FIND_DATAW fd;
    const HANDLE hFind = FindFirstFileW((root + relative + L"\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE) return;
    do
    {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring child = relative + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CollectTree(root, child, lines);
        else
        {
            const std::string data = ReadFileBytes(root + child);
            char sz[64];
            snprintf(sz, sizeof(sz), " %zu %016llx", data.size(),
                     static_cast<unsigned long long>(Fnv1a64(data)));
            lines.push_back("file " + Narrow(child.substr(1)) + sz);
        }
    } while (FindNextFileW(hFind, &fd));
    FindClose(hFind);
}
} // namespace

TEST(HostSuccess, StartsTheEntryInTheDomainOverTheUnpackedTreeAndStopsTheRuntime)
{
    // The application holds a box of its own until the driver answers it, so that the splash window is
    // seen however fast the launcher gets there; the launcher itself shows none.
    CHostRun run(L"entry.hashtree = 1\nentry.result = i4:0\nentry.messagebox = The application runs.\n");
    ASSERT_EQ(run.result.boxes.size(), 1u) << run.Transcript();
    EXPECT_EQ(run.result.boxes[0].text, L"The application runs.");
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_TRUE(ClrLogProblems(run.log).empty());

    const std::string base = Narrow(run.temp / L"temp\\" TEST_CACHE_BELOW_TEMP);
    std::vector<std::string> calls;
    for (const auto& line : run.log)
        if (line.find(" -> ") == std::string::npos && line.rfind("new ", 0) != 0 &&
            line.rfind("Query", 0) != 0 && line.rfind("Release", 0) != 0 && line.rfind("file ", 0) != 0 &&
            line.rfind("DllMain", 0) != 0 && line.rfind("process", 0) != 0 &&
            line.rfind("scenario", 0) != 0 && line.rfind("runtime ", 0) != 0 && line.rfind("app ", 0) != 0 &&
            line.rfind("Next", 0) != 0 && line.rfind("GetVersionString", 0) != 0)
            calls.push_back(line);
    char szHwnd[32];
    snprintf(szHwnd, sizeof(szHwnd), "0x%08llX",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(run.result.splash.hwnd)));
    const std::vector<std::string> expected = {
        "CLRCreateInstance clsid={9280188D-0E8E-4867-B30C-7FA83884E8DE} "
        "iid={D332DB9E-B9B3-4125-8207-A14884F53216}",
        "EnumerateInstalledRuntimes",
        "GetInterface clsid={CB2F6723-AB3A-11D2-9C40-00C04FA30A3E} "
        "iid={CB2F6722-AB3A-11D2-9C40-00C04FA30A3E}",
        "Start",
        "CreateDomainSetup",
        "put_ApplicationBase \"" + base + "\"",
        "put_ApplicationName \"" TEST_PRODUCT_A "\"",
        "CreateDomainEx name=\"Entryway\" setup=nonnull evidence=null",
        "Load_2 \"" TEST_ENTRY_ASSEMBLY_A "\"",
        "GetType_3 \"" TEST_ENTRY_TYPE_A "\" throwOnError=1",
        "InvokeMember_3 name=\"" TEST_ENTRY_METHOD_A "\" flags=0x118 binder=null target=VT_EMPTY "
        "args=[VT_BSTR "
        "\"" TEST_PRODUCT_A "\", VT_UI8 " +
            std::string(szHwnd) + "]",
        "Stop",
    };
    EXPECT_EQ(calls, expected);
    EXPECT_TRUE(LogHas(run.log, "runtime \"v4.0.30319\" for CorRuntimeHost#1"));
    EXPECT_TRUE(LogHas(run.log, "Release CorRuntimeHost#1 final"));
    EXPECT_TRUE(run.result.splash.visible);

    // The tree the application saw is the packed content folder, byte for byte, beside the pack file.
    std::vector<std::string> tree;
    for (const auto& line : run.log)
        if (line.rfind("file ", 0) == 0 && line.find("ProductContent.chm") == std::string::npos)
            tree.push_back(line);
    std::vector<std::string> source;
    CollectTree(TEST_CONTENT_DIR, L"", source);
    std::sort(source.begin(), source.end());
    std::sort(tree.begin(), tree.end());
    EXPECT_EQ(tree, source);
}

TEST(HostSuccess, EntryResultBecomesTheExitCode)
{
    const struct
    {
        const wchar_t* result;
        DWORD exitCode;
    } cases[] = {{L"i4:0", 0},
                 {L"i4:5", 0},
                 {L"i4:-7", 0xFFFFFFF9u},
                 {L"int:-2147024891", 0x80070005u},
                 {L"i2:-3", 0xFFFFFFFDu},
                 {L"bstr:42", 0},
                 {L"r8:-2", 0xFFFFFFFEu}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(Narrow(c.result));
        CHostRun run(std::wstring(L"entry.result = ") + c.result + L"\n");
        EXPECT_TRUE(run.result.boxes.empty()) << run.Transcript();
        EXPECT_EQ(run.result.exitCode, c.exitCode);
        EXPECT_TRUE(LogHas(run.log, "Stop"));
    }
}

TEST(HostSuccess, ChoosesTheNewestRuntimeWhateverTheEnumerationOrder)
{
    for (const wchar_t* runtimes : {L"runtime = v4.0.30319\nruntime = v2.0.50727\n",
                                    L"runtime = v2.0.50727\nruntime = v4.0.30319\nruntime = v1.1.4322\n",
                                    // more than the list's first allocation holds
                                    L"runtime = v1.0.3705\nruntime = v2.0.50727\nruntime = v1.1.4322\n"
                                    L"runtime = v2.0.50727\nruntime = v4.0.30319\nruntime = v3.5\n"})
    {
        CHostRun run(runtimes);
        EXPECT_EQ(run.result.exitCode, 0u) << run.Transcript();
        EXPECT_TRUE(LogHas(run.log, "runtime \"v4.0.30319\" for CorRuntimeHost#1"));
        EXPECT_FALSE(LogHas(run.log, "GetCORVersion")); // the version-2 route is not taken
    }
}

TEST(BindingV4, FailuresShowTheirMessageAndEndStartUp)
{
    const struct
    {
        const wchar_t* scenario;
        std::wstring text;
        DWORD exitCode;
    } cases[] = {
        {L"CLRCreateInstance.hr = 0x80131700",
         Detailed(c_v4, L"MsCorEE failed to provide an instance of the CLR Meta Host.", 0x80131700),
         0x80131700},
        {L"CLRCreateInstance.null = 1",
         Detailed(c_v4, L"MsCorEE failed to provide an instance of the CLR Meta Host.", E_POINTER),
         0x80004003},
        {L"EnumerateInstalledRuntimes.hr = 0x80131701\nEnumerateInstalledRuntimes.errorinfo.qi = The meta "
         L"host is tired.",
         Detailed(c_v4, L"The MsCorEE CLR Meta Host failed to enumerate the available runtimes.",
                  0x80131701) +
             L"\nThe meta host is tired.",
         0x80131701},
        {L"EnumerateInstalledRuntimes.null = 1",
         Detailed(c_v4, L"The MsCorEE CLR Meta Host failed to enumerate the available runtimes.", E_POINTER),
         0x80004003},
        {L"Next.nth = 2\nNext.hr = 0x80131702",
         Detailed(
             c_v4,
             L"The enumeration of availabe runtimes in the MsCorEE CLR Meta Host could not be completed.",
             0x80131702),
         0x80131702},
        {L"runtimes = none", Detailed(c_v4, L"The MsCorEE CLR Meta Host has no available runtimes.", E_FAIL),
         0x8000FFFF},
        {L"GetInterface.hr = 0x80131700\nGetInterface.errorinfo.qi = No runtime here.",
         Detailed(c_v4, L"The selected runtime failed to provide the ICorRuntimeHost interface.",
                  0x80131700) +
             L"\nNo runtime here.",
         0x80131700},
        {L"GetInterface.null = 1",
         Detailed(c_v4, L"The selected runtime failed to provide the ICorRuntimeHost interface.", E_POINTER),
         0x80004003},
        {L"GetVersionString.runtime = 2\nGetVersionString.hr = 0x80131703",
         c_v4 + L"\n" + PlatformHresultText(0x80131703), 0x80131703},
        {L"Next.nth = 1\nNext.null = 1", c_v4 + L"\n" + PlatformHresultText(E_POINTER), 0x80004003},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(Narrow(c.scenario));
        CHostRun run(c.scenario);
        ExpectOneErrorBox(run, c.text, c.exitCode);
        EXPECT_FALSE(LogHas(run.log, "GetCORVersion")); // no version-2 route after a version-4 failure
        EXPECT_FALSE(LogHas(run.log, "Start"));
    }
}

TEST(BindingV4, NewestRuntimeBelowTheMinimumShowsTheRequirementsDialog)
{
    CHostRun run(L"runtime = v1.0.3705\nruntime = v1.1.4322\n");
    ASSERT_EQ(run.result.boxes.size(), 1u) << run.Transcript();
    EXPECT_EQ(run.result.boxes[0].caption, c_requirements);
    EXPECT_NE(
        run.result.boxes[0].text.find(L"\n\nMaximum CLR version found: 1.1.4322.0.\nMinimum .NET Framework"),
        std::wstring::npos);
    EXPECT_EQ(run.result.boxes[0].buttons.size(), 2u);
    EXPECT_EQ(run.result.exitCode, 0x80004005u);
    EXPECT_FALSE(LogHas(run.log, "GetInterface"));
}

TEST(BindingV2, UsedOnlyWhenTheMetaHostIsNotAvailable)
{
    {
        SCOPED_TRACE("no CLRCreateInstance export");
        CNdpRegistry ndp;
        ndp.SetDword(L"v3.5", L"Install", 1);
        CHostRun run(L"runtime = v2.0.50727\n", {}, L"nov4");
        EXPECT_TRUE(run.result.boxes.empty()) << run.Transcript();
        EXPECT_EQ(run.result.exitCode, 0u);
        EXPECT_TRUE(LogHas(run.log, "CorBindToRuntime version=\"v2.0.50727\" flavor=null "
                                    "clsid={CB2F6723-AB3A-11D2-9C40-00C04FA30A3E} "
                                    "iid={CB2F6722-AB3A-11D2-9C40-00C04FA30A3E}"));
    }
    {
        SCOPED_TRACE("CLRCreateInstance answers E_NOTIMPL");
        CNdpRegistry ndp;
        ndp.SetDword(L"v3.5", L"Install", 1);
        CHostRun run(L"runtime = v2.0.50727\nCLRCreateInstance.hr = E_NOTIMPL\n");
        EXPECT_TRUE(run.result.boxes.empty()) << run.Transcript();
        EXPECT_EQ(run.result.exitCode, 0u);
        EXPECT_TRUE(LogHas(run.log, "GetCORVersion"));
    }
}

TEST(BindingV2, FailuresShowTheirMessageAndEndStartUp)
{
    const struct
    {
        const wchar_t* scenario;
        const wchar_t* variant;
        std::wstring text;
        DWORD exitCode;
    } cases[] = {
        {L"GetCORVersion.hr = 0x80131700", L"nov4",
         Detailed(c_v2, L"MsCorEE failed to return the version of the installed CLR.", 0x80131700),
         0x80131700},
        {L"CLRCreateInstance.hr = E_NOTIMPL", L"nobind",
         Detailed(c_v2, L"MsCorEE is missing the CorBindToRuntime exported function.", E_NOINTERFACE),
         0x80004002},
        {L"CorBindToRuntime.hr = 0x80131700", L"nov4",
         Detailed(c_v2, L"The selected runtime failed to provide the ICorRuntimeHost interface.", 0x80131700),
         0x80131700},
        {L"CorBindToRuntime.null = 1", L"nov4",
         Detailed(c_v2, L"The selected runtime failed to provide the ICorRuntimeHost interface.", E_POINTER),
         0x80004003},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(Narrow(c.scenario));
        CHostRun run(c.scenario, {}, c.variant);
        ExpectOneErrorBox(run, c.text, c.exitCode);
        EXPECT_FALSE(LogHas(run.log, "Start"));
    }
}

TEST(BindingV2, OldRuntimeShowsTheDialogWithoutBinding)
{
    CHostRun run(L"runtime = v1.1.4322\n", {}, L"nov4");
    ASSERT_EQ(run.result.boxes.size(), 1u) << run.Transcript();
    EXPECT_EQ(run.result.boxes[0].caption, c_requirements);
    EXPECT_NE(run.result.boxes[0].text.find(L"Maximum CLR version found: 1.1.4322.0.\n"), std::wstring::npos);
    EXPECT_EQ(run.result.exitCode, 0x80004005u);
    EXPECT_FALSE(LogHas(run.log, "CorBindToRuntime"));
}

TEST(BindingV2, NeitherRouteFindsARuntime)
{
    CHostRun run(L"", {}, L"noentries");
    ASSERT_EQ(run.result.boxes.size(), 1u) << run.Transcript();
    EXPECT_EQ(run.result.boxes[0].caption, c_requirements);
    EXPECT_EQ(run.result.boxes[0].text.find(L"Maximum"), std::wstring::npos);
    EXPECT_EQ(run.result.exitCode, 0x80004005u);
}

TEST(FrameworkCheck, OldRuntimeNeedsAFullFrameworkInTheRegistryOrARetry)
{
    const std::wstring scenario = L"runtime = v2.0.50727\n";
    {
        SCOPED_TRACE("3.5 installed");
        CNdpRegistry ndp;
        ndp.SetDword(L"v3.5", L"Install", 1);
        ndp.SetString(L"v3.5", L"Version", L"3.5.30729.01");
        CHostRun run(scenario);
        EXPECT_TRUE(run.result.boxes.empty()) << run.Transcript();
        EXPECT_EQ(run.result.exitCode, 0u);
    }
    {
        SCOPED_TRACE("only 3.0: No, then Retry starts the application");
        CNdpRegistry ndp;
        ndp.SetDword(L"v3.0", L"Install", 1);
        CHostRun run(scenario, {IDNO, IDRETRY});
        ASSERT_EQ(run.result.boxes.size(), 2u) << run.Transcript();
        EXPECT_NE(run.result.boxes[0].text.find(
                      L"Maximum .NET Framework version found: 3.0.0.0.\nMaximum CLR version "
                      L"found: 2.0.50727.0.\n"),
                  std::wstring::npos);
        EXPECT_EQ(run.result.exitCode, 0u);
        EXPECT_TRUE(LogHas(run.log, "InvokeMember_3"));
    }
    {
        SCOPED_TRACE("no framework key: No, then Cancel");
        CNdpRegistry ndp;
        CHostRun run(scenario, {IDNO, IDCANCEL});
        ASSERT_EQ(run.result.boxes.size(), 2u) << run.Transcript();
        EXPECT_EQ(run.result.boxes[0].text.find(L"Maximum .NET"), std::wstring::npos);
        EXPECT_EQ(run.result.exitCode, 0x80004004u);
        EXPECT_FALSE(LogHas(run.log, "Start"));
    }
}

TEST(ApplicationStep, FailuresShowTheirMessageAndEndStartUp)
{
    const std::wstring assembly =
        L"Could not load the application core assembly \x201C" TEST_ENTRY_ASSEMBLY L"\x201D.";
    const std::wstring type = L"Could not load the entry type from the application core assembly.";
    const std::wstring entry =
        L"Could not call the startup method on the entry type from the application core assembly.";
    const std::wstring setup = L"Could not create the appdomain setup object.";
    const struct
    {
        const wchar_t* scenario;
        std::wstring text;
        DWORD exitCode;
        bool stopped;
    } cases[] = {
        {L"Start.hr = 0x80131704", L"The CLR could not be started.\n" + PlatformHresultText(0x80131704),
         0x80131704, false},
        {L"CreateDomainSetup.hr = 0x80131705", setup + L"\n" + PlatformHresultText(0x80131705), 0x80131705,
         false},
        {L"CreateDomainEx.hr = 0x80131706",
         L"Could not create the primary appdomain.\n" + PlatformHresultText(0x80131706), 0x80131706, false},
        {L"Load_2.hr = 0x80070002\nLoad_2.errorinfo = Could not load file or assembly.",
         assembly + L"\n" + PlatformHresultText(0x80070002) + L"\nCould not load file or assembly.",
         0x80070002, false},
        {L"Load_2.hr = 0x80070002\nLoad_2.errorinfo = hidden\nLoad_2.errorinfo.support = sfalse",
         assembly + L"\n" + PlatformHresultText(0x80070002), 0x80070002, false},
        {L"GetType_3.hr = 0x80131522\nGetType_3.errorinfo = Could not load type.",
         type + L"\n" + PlatformHresultText(0x80131522) + L"\nCould not load type.", 0x80131522, false},
        {L"GetType_3.null = 1", entry + L"\n" + PlatformHresultText(E_POINTER), 0x80004003, false},
        {L"entry.throw = The application fell over.",
         entry + L"\n" + PlatformHresultText(0x80131604) + L"\nThe application fell over.", 0x80131604,
         false},
        {L"entry.result = bstr:abc", entry + L"\n" + PlatformHresultText(DISP_E_TYPEMISMATCH), 0x80020005,
         false},
        {L"Stop.hr = 0x80131707", L"The CLR could not be terminated.\n" + PlatformHresultText(0x80131707),
         0x80131707, true},
        // Deliberately reported: the unguarded setup queries and property stores.
        {L"CreateDomainSetup.qi = E_UNEXPECTED", setup + L"\n" + PlatformHresultText(E_UNEXPECTED),
         0x8000FFFF, false},
        {L"CreateDomainSetup.qi = E_NOINTERFACE", setup + L"\n" + PlatformHresultText(E_POINTER), 0x80004003,
         false},
        {L"put_ApplicationBase.hr = 0x80131708\nput_ApplicationBase.errorinfo = No such base.",
         setup + L"\n" + PlatformHresultText(0x80131708) + L"\nNo such base.", 0x80131708, false},
        {L"CreateDomainEx.qi = E_UNEXPECTED",
         L"Could not create the primary appdomain.\n" + PlatformHresultText(E_UNEXPECTED), 0x8000FFFF, false},
        {L"CreateDomainEx.qi = E_NOINTERFACE", assembly + L"\n" + PlatformHresultText(E_POINTER), 0x80004003,
         false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(Narrow(c.scenario));
        CHostRun run(c.scenario);
        ExpectOneErrorBox(run, c.text, c.exitCode);
        EXPECT_EQ(LogHas(run.log, "Stop"), c.stopped);
    }
}

TEST(RuntimeShim, WineOwnShimHasNoRuntimeToGive)
{
    CTempFolder temp(L"wine-shim");
    CLauncherStart start;
    start.tempFolder = temp.Path();
    start.dllOverride = L"builtin";
    const CLaunchResult result = start.Run();
    ASSERT_EQ(result.boxes.size(), 1u) << Narrow(result.transcript);
    EXPECT_EQ(result.boxes[0].caption, c_loading);
    EXPECT_EQ(
        result.boxes[0].text,
        Detailed(c_v4, L"The selected runtime failed to provide the ICorRuntimeHost interface.", 0x80131700));
    EXPECT_EQ(result.exitCode, 0x80131700u);
}

TEST(RuntimeShim, AShimBesideTheExecutableOrInTheWorkingFolderIsNotLoaded)
{
    CTempFolder temp(L"planted");
    InstallSimulatedRuntime(L"full");
    const std::wstring exe = temp / TEST_EXE_NAME;
    ASSERT_TRUE(CopyFileW(BuildPath(TEST_EXE_NAME).c_str(), exe.c_str(), FALSE));
    // The planted shims lack the version-4 entry: had one been loaded, the log would say so.
    ASSERT_TRUE(
        CopyFileW(BuildPath(L"fakeclr\\nov4\\mscoree.dll").c_str(), (temp / L"mscoree.dll").c_str(), FALSE));
    CreateDirectoryW((temp / L"work").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(BuildPath(L"fakeclr\\nov4\\mscoree.dll").c_str(),
                          (temp / L"work\\mscoree.dll").c_str(), FALSE));
    CreateDirectoryW((temp / L"temp").c_str(), nullptr);

    CLauncherStart start;
    start.exePath = exe;
    start.workDir = temp / L"work";
    start.tempFolder = temp / L"temp";
    start.clrLog = temp / L"clr.log";
    const CLaunchResult result = start.Run();
    const auto log = ReadClrLog(start.clrLog);
    EXPECT_EQ(result.exitCode, 0u) << Narrow(result.transcript);
    std::string attach;
    for (const auto& line : log)
        if (line.rfind("DllMain attach", 0) == 0) attach += line + "\n";
    std::string system = Narrow(SystemFolder());
    std::transform(system.begin(), system.end(), system.begin(), ::tolower);
    std::transform(attach.begin(), attach.end(), attach.begin(), ::tolower);
    EXPECT_EQ(attach, "dllmain attach path=" + system + "\\mscoree.dll\n");
    EXPECT_TRUE(LogHas(log, "CLRCreateInstance"));
}

TEST(ApplicationStep, WithoutUnpackedContentTheDefaultDomainIsAsked)
{
    // A launcher that carries no pack has no content folder to create a domain over.
    const std::wstring exe = BuildPath(L"tests\\packs\\corvane-pack-none.exe");
    const std::wstring message = L"Could not get the default application domain.";
    {
        CHostRun run(L"GetDefaultDomain.hr = 0x80131709\nGetDefaultDomain.errorinfo.qi = No default domain.",
                     {}, L"full", exe);
        ExpectOneErrorBox(run, message + L"\n" + PlatformHresultText(0x80131709) + L"\nNo default domain.",
                          0x80131709);
        EXPECT_FALSE(LogHas(run.log, "CreateDomainSetup"));
    }
    {
        SCOPED_TRACE("the default domain refuses its interface with another code than E_NOINTERFACE");
        CHostRun run(L"GetDefaultDomain.qi = E_UNEXPECTED", {}, L"full", exe);
        ExpectOneErrorBox(run, message + L"\n" + PlatformHresultText(E_UNEXPECTED), 0x8000FFFF);
    }
}
