// fakeclr_scenario.h: the simulated runtime's scenario (what to answer, read from a file), its call log and
// the text helpers both use.
#pragma once
#include <map>
#include <string>
#include <vector>
// windows.h must come before oleauto.h.
#include <windows.h>

#include <oleauto.h>

namespace fakeclr
{

// How one named call behaves; every field comes from a "<Call>.<field> = value" line.
struct CCallRule
{
    bool fHasHr = false;
    HRESULT hr = S_OK;
    int nNth = 0;          // 0: every call, else only the n-th call of that name (from 1)
    int nRuntime = 0;      // GetVersionString and GetInterface: 0 any, else the n-th runtime of the list
    bool fNullOut = false; // succeed with a NULL out pointer
    bool fHasErrorInfo = false;
    std::wstring strErrorInfo;          // the description of the thread's error object
    bool fSupportInterface = true;      // the failing object answers QueryInterface(IID_ISupportErrorInfo)
    HRESULT hrSupportsErrorInfo = S_OK; // what its InterfaceSupportsErrorInfo says
    bool fHasQiErrorInfo = false;
    std::wstring strQiErrorInfo; // offered through QueryInterface(IID_IErrorInfo) on the failing object
    HRESULT hrQi = S_OK; // a failure: the returned object refuses the interface the launcher needs with it
};

struct CScenario
{
    CScenario();

    std::wstring strSource; // file path, or empty for the default scenario
    std::vector<std::wstring> arRuntimes{L"v2.0.50727", L"v4.0.30319"};
    std::map<std::string, CCallRule> mapRules;
    // The application behind the entry method.
    std::wstring strEntryMethod = L"RunApplicationInAssembly";
    VARIANT vtResult;         // for VT_DISPATCH and VT_UNKNOWN an object is made per call, unless fResultNull
    bool fResultNull = false; // dispatch:null, unknown:null
    bool fThrows = false;
    HRESULT hrThrow = static_cast<HRESULT>(0x80131604);
    std::wstring strThrowMessage;
    bool fDestroySplash = false;
    bool fMessageBox = false;
    std::wstring strMessageBoxText, strMessageBoxCaption = L"Corvane";
    bool fHashTree = false;
    std::wstring strDllDirectory;      // below the application base; empty: SetDllDirectoryW is not called
    std::wstring strLoadLibrary;       // a bare library name the application loads; empty: none
    std::vector<std::string> arErrors; // problems of the scenario file, logged after loading
};

CScenario& Scenario();
void LoadScenario(); // reads CORVANE_FAKECLR_SCENARIO and CORVANE_FAKECLR_LOG; call once

// Counts a call of this name and returns its rule when the rule applies to this call, else nullptr.
const CCallRule* RuleFor(const char* szCall, int nRuntime = 0);

// Log: one UTF-8 line per call, appended to CORVANE_FAKECLR_LOG and on disk at once.
void LogF(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));
void LogWithoutLock(); // for process exit, when a dead thread may hold the lock

bool ReadWholeFile(const std::wstring& strPath, std::string& strData);
std::string Utf8(const wchar_t* sz, size_t cch);
std::string Utf8(const std::wstring& str);
std::wstring Widen(const std::string& str);
std::string Quote(const wchar_t* sz); // "text" with " and control characters escaped, or null
std::string QuoteBstr(BSTR bs);       // the same for a BSTR, by its length
std::string GuidText(REFGUID guid);   // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
std::string HrText(HRESULT hr);       // 0xXXXXXXXX

} // namespace fakeclr
