// The test prefix as the tests arrange it: build paths, scratch folders, per-executable Windows
// versions, the framework setup keys, the runtime shim in the system folder and the web-address recorder.
#pragma once

#include "launch_driver.h"
#include "product_names.h"
#include "test_paths.h"

#include <string>
#include <vector>

std::wstring BuildPath(const std::wstring& relative);
std::wstring SourcePath(const std::wstring& relative);

std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::vector<std::string> ReadLines(const std::wstring& path); // UTF-8 lines, no line ends; none if missing
std::string Narrow(const std::wstring& text);                 // UTF-8
std::wstring Widen(const std::string& utf8);

// A fresh, empty folder below the build folder, removed with everything in it afterwards.
class CTempFolder
{
public:
    explicit CTempFolder(const std::wstring& name);
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;
    ~CTempFolder();
    const std::wstring& Path() const { return m_path; }
    std::wstring operator/(const std::wstring& relative) const { return m_path + L"\\" + relative; }

private:
    std::wstring m_path;
};

void RemoveTree(const std::wstring& path);

// A per-executable Wine setting while the object lives: the Windows version Wine reports
// (subkey "", name "Version") or how a DLL is loaded (subkey "DllOverrides", name the DLL).
class CWineAppSetting
{
public:
    CWineAppSetting(const std::wstring& exeName, const std::wstring& subkey, const std::wstring& name,
                    const std::wstring& value);
    CWineAppSetting(const CWineAppSetting&) = delete;
    CWineAppSetting& operator=(const CWineAppSetting&) = delete;
    ~CWineAppSetting();

private:
    std::wstring m_key;
    std::wstring m_name;
};

// HKLM\SOFTWARE\Microsoft\NET Framework Setup\NDP, empty (or absent) at first and removed afterwards.
class CNdpRegistry
{
public:
    CNdpRegistry();
    CNdpRegistry(const CNdpRegistry&) = delete;
    CNdpRegistry& operator=(const CNdpRegistry&) = delete;
    ~CNdpRegistry();
    void CreateRoot();
    // Creates NDP\subkey (intermediate keys too) and sets a DWORD and/or a string value in it.
    void SetDword(const std::wstring& subkey, const std::wstring& name, DWORD value);
    void SetString(const std::wstring& subkey, const std::wstring& name, const std::wstring& value);
};

// Copies a variant of the simulated runtime (full, nov4, noentries, nobind) over system32\mscoree.dll.
void InstallSimulatedRuntime(const std::wstring& variant);
std::wstring SystemFolder();

// Opening an https address runs the recorder, which appends the address to CORVANE_URL_LOG.
void RegisterUrlRecorder();

// One start of a launcher in a scratch temporary folder, with the runtime shim chosen by dllOverride
// ("native": the simulated one in the system folder, "builtin": Wine's own, "": none can load) and an
// optional scenario. Wine takes DLL overrides of a child process from the registry, not from the
// environment block its parent hands over.
struct CLauncherStart
{
    std::wstring exePath = BuildPath(TEST_EXE_NAME);
    std::wstring tempFolder; // TEMP and TMP
    std::wstring dllOverride = L"native";
    std::wstring scenario;     // scenario text for the simulated runtime; empty: its default
    std::wstring scenarioFile; // where to write it (inside the temp folder's parent by default)
    std::wstring clrLog;       // the simulated runtime's call log
    std::wstring urlLog;       // the recorder's log
    std::wstring workDir;
    std::vector<int> answers;
    std::function<void(const CWindowSnapshot&, HANDLE)> onBox;
    DWORD timeoutMs = 60000;
    std::vector<std::pair<std::wstring, std::wstring>> env; // more variables for the launcher

    CLaunchResult Run() const;
};

// The platform's text for an HRESULT as the error boxes show it: the system text without its final
// line break, or the fallbacks for codes the system has no text for.
std::wstring PlatformHresultText(HRESULT hr);

// The simulated runtime's call log lines, and whether any line reports a problem it detected
// (a call out of order, a scenario error, an unexpected slot, an object never released).
std::vector<std::string> ReadClrLog(const std::wstring& path);
std::vector<std::string> ClrLogProblems(const std::vector<std::string>& log);
bool LogHas(const std::vector<std::string>& log, const std::string& prefix);

// Everything Wine has printed on standard error for this test program and the processes it started, from
// the file cmake/wine-run.sh gives it; a failure of the test when the program was not run so.
std::string ReadWineStderr();

// The running test's "Suite.Name", for scratch folders of its own.
std::wstring CurrentTestName();

// A start against the simulated runtime with everything kept in a scratch folder: TEMP is its "temp",
// the scenario goes to "scenario.txt" and the call log to "clr.log".
CLauncherStart ScenarioStart(const CTempFolder& scratch, const std::wstring& scenario);
