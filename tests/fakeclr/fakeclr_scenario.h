// fakeclr_scenario.h: the scenario file of the fake runtime (what to answer) and its call log.
#pragma once
#include <map>
#include <string>
#include <vector>
// windows.h must come before oleauto.h.
#include <windows.h>

#include <oleauto.h>

namespace fc {

// How one named call behaves; every field comes from "<Call>.<field> = value" lines.
struct CallRule {
    bool hasHr = false;
    HRESULT hr = S_OK;
    int nth = 0;          // 0: every call, else only the n-th call of that name (1-based)
    int runtime = 0;      // runtime-info calls only: 0 any, else the 1-based runtime index
    bool nullOut = false; // succeed with a null out pointer
    bool hasErrorInfo = false;
    std::wstring errorInfo;   // thread error object's description (SetErrorInfo)
    int errorInfoSupport = 0; // 0: ISupportErrorInfo says S_OK, 1: no ISupportErrorInfo, 2: it says S_FALSE
    bool hasQiErrorInfo = false;
    std::wstring qiErrorInfo; // description offered through QueryInterface(IID_IErrorInfo) on the object
    bool hasQi = false;
    HRESULT qi = S_OK; // QueryInterface of the returned object for the interface the launcher needs
    bool hasFetched = false;
    ULONG fetched = 0; // Next only
};

struct Scenario {
    std::wstring source; // file path, or empty for the default scenario
    std::vector<std::wstring> runtimes{L"v2.0.50727", L"v4.0.30319"};
    bool hasCorVersion = false;
    std::wstring corVersion;
    std::map<std::string, CallRule> rules;
    // The "application" behind the entry method.
    std::wstring entryMethod = L"RunApplicationInAssembly";
    // entry.result, parsed: the VARIANT type and its value
    VARTYPE resultVt = VT_I4;
    LONGLONG resultInt = 0;
    double resultReal = 0;
    std::wstring resultText;
    bool resultNullPtr = false; // dispatch:null / unknown:null
    bool entryThrows = false;
    HRESULT entryThrowHr = (HRESULT)0x80131604;
    std::wstring entryThrowMessage;
    bool destroySplash = false;
    bool hasMessageBox = false;
    std::wstring messageBoxText, messageBoxCaption = L"Corvane";
    DWORD waitMs = 0;
    bool hashTree = false;
    bool requirePe = false;
    std::vector<std::string> errors; // scenario problems, logged after loading
};

Scenario &scenario();
void loadScenario(); // reads CORVANE_FAKECLR_SCENARIO; call once

// Counts a call of this name and returns its rule when the rule applies to this call, else nullptr.
const CallRule *ruleFor(const char *call, int runtimeIndex = 0);

// Log: one UTF-8 line per call, appended to CORVANE_FAKECLR_LOG and flushed at once.
void logLine(const std::string &line);
void logWithoutLock(); // for process exit, when a dead thread may hold the lock
void logf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string utf8(const wchar_t *s, size_t n);
std::string quote(const wchar_t *s); // "text" with " and control characters escaped, or null
std::string quoteBstr(BSTR s);       // the same for a BSTR, using its length
std::string guidText(REFGUID g);     // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
std::string hrText(HRESULT hr);      // 0xXXXXXXXX
std::wstring widen(const std::string &s);

} // namespace fc
