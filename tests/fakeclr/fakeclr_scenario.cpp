// fakeclr_scenario.cpp: parses the simulated runtime's scenario file and writes its call log.
#include "fakeclr_scenario.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace fakeclr
{
namespace
{

CScenario g_scenario;
std::map<std::string, int> g_mapCallCounts;
CRITICAL_SECTION g_csLog;
bool g_fLogLock = false;
std::wstring g_strLogPath;

const std::set<std::string> c_setCalls = {"CLRCreateInstance",
                                          "EnumerateInstalledRuntimes",
                                          "Next",
                                          "GetVersionString",
                                          "GetInterface",
                                          "GetCORVersion",
                                          "CorBindToRuntime",
                                          "CorBindToRuntimeEx",
                                          "Start",
                                          "Stop",
                                          "CreateDomainSetup",
                                          "CreateDomainEx",
                                          "GetDefaultDomain",
                                          "put_ApplicationBase",
                                          "put_ApplicationName",
                                          "Load_2",
                                          "GetType_3",
                                          "InvokeMember_3"};

std::wstring EnvironmentVariable(const wchar_t* szName)
{
    const DWORD cch = GetEnvironmentVariableW(szName, nullptr, 0);
    std::wstring str(cch, L'\0');
    str.resize(cch ? GetEnvironmentVariableW(szName, &str[0], cch) : 0);
    return str;
}

std::string Trim(const std::string& str)
{
    const size_t nFirst = str.find_first_not_of(" \t\r\n");
    if (nFirst == std::string::npos) return "";
    return str.substr(nFirst, str.find_last_not_of(" \t\r\n") - nFirst + 1);
}

bool ParseHr(const std::string& strValue, HRESULT& hr)
{
    static const std::map<std::string, unsigned long> c_mapNames = {
        {"S_OK", 0},
        {"S_FALSE", 1},
        {"E_NOTIMPL", 0x80004001},
        {"E_NOINTERFACE", 0x80004002},
        {"E_POINTER", 0x80004003},
        {"E_FAIL", 0x80004005},
        {"E_UNEXPECTED", 0x8000FFFF},
        {"E_ACCESSDENIED", 0x80070005},
        {"E_OUTOFMEMORY", 0x8007000E},
        {"E_INVALIDARG", 0x80070057},
        {"DISP_E_TYPEMISMATCH", 0x80020005},
        {"CLASS_E_CLASSNOTAVAILABLE", 0x80040111},
        {"CLR_E_SHIM_RUNTIMELOAD", 0x80131700},
        {"COR_E_TARGETINVOCATION", 0x80131604},
        {"COR_E_TYPELOAD", 0x80131522},
        {"COR_E_MISSINGMEMBER", 0x80131512},
        {"COR_E_MISSINGMETHOD", 0x80131513},
        {"COR_E_FILENOTFOUND", 0x80070002},
    };
    const auto it = c_mapNames.find(strValue);
    if (it != c_mapNames.end())
    {
        hr = static_cast<HRESULT>(it->second);
        return true;
    }
    if (strValue.empty()) return false;
    char* pEnd = nullptr;
    if (strValue.size() > 2 && strValue[0] == '0' && (strValue[1] == 'x' || strValue[1] == 'X'))
        hr = static_cast<HRESULT>(strtoul(strValue.c_str() + 2, &pEnd, 16));
    else
        hr = static_cast<HRESULT>(strtol(strValue.c_str(), &pEnd, 10));
    return *pEnd == '\0';
}

bool ParseInteger(const std::string& strValue, long long& n)
{
    char* pEnd = nullptr;
    n = strtoll(strValue.c_str(), &pEnd, 0);
    return !strValue.empty() && *pEnd == '\0';
}

bool ParseCount(const std::string& strValue, int& n)
{
    long long nValue = 0;
    const bool fOk = ParseInteger(strValue, nValue) && nValue >= 1;
    n = static_cast<int>(nValue);
    return fOk;
}

bool ParseBool(const std::string& strValue, bool& f)
{
    f = strValue == "1" || strValue == "yes" || strValue == "true";
    return f || strValue == "0" || strValue == "no" || strValue == "false";
}

// entry.result = TYPE:VALUE, or a bare type for empty, null, dispatch and unknown.
bool ParseResult(const std::string& strValue, CScenario& s)
{
    static const std::map<std::string, VARTYPE> c_mapTypes = {
        {"i1", VT_I1},          {"i2", VT_I2},       {"i4", VT_I4},
        {"int", VT_INT},        {"i8", VT_I8},       {"ui1", VT_UI1},
        {"ui2", VT_UI2},        {"ui4", VT_UI4},     {"uint", VT_UINT},
        {"ui8", VT_UI8},        {"r4", VT_R4},       {"r8", VT_R8},
        {"bool", VT_BOOL},      {"error", VT_ERROR}, {"bstr", VT_BSTR},
        {"empty", VT_EMPTY},    {"null", VT_NULL},   {"dispatch", VT_DISPATCH},
        {"unknown", VT_UNKNOWN}};
    const size_t nColon = strValue.find(':');
    const bool fHasArg = nColon != std::string::npos;
    const std::string strArg = fHasArg ? strValue.substr(nColon + 1) : "";
    const auto it = c_mapTypes.find(strValue.substr(0, nColon));
    if (it == c_mapTypes.end()) return false;
    VARIANT& vt = s.vtResult;
    VariantClear(&vt);
    vt.vt = it->second;
    s.fResultNull = false;
    switch (vt.vt)
    {
    case VT_EMPTY:
    case VT_NULL:
        return !fHasArg;
    case VT_DISPATCH:
    case VT_UNKNOWN:
        s.fResultNull = strArg == "null";
        return !fHasArg || s.fResultNull;
    case VT_BSTR: {
        const std::wstring str = Widen(strArg);
        vt.bstrVal = SysAllocStringLen(str.data(), static_cast<UINT>(str.size()));
        return fHasArg;
    }
    case VT_BOOL: {
        bool f = false;
        vt.boolVal = VARIANT_FALSE;
        if (!ParseBool(strArg, f)) return false;
        vt.boolVal = f ? VARIANT_TRUE : VARIANT_FALSE;
        return true;
    }
    case VT_ERROR:
        return ParseHr(strArg, vt.scode);
    case VT_R4:
    case VT_R8: {
        char* pEnd = nullptr;
        const double dbl = strtod(strArg.c_str(), &pEnd);
        if (vt.vt == VT_R4)
            vt.fltVal = static_cast<FLOAT>(dbl);
        else
            vt.dblVal = dbl;
        return !strArg.empty() && *pEnd == '\0';
    }
    default:
        // Every integer type of the union lies in the low bytes of llVal, as a cast to it would leave it.
        return ParseInteger(strArg, vt.llVal);
    }
}

std::string ApplyRuleField(CCallRule& rule, const std::string& strCall, const std::string& strField,
                           const std::string& strValue)
{
    if (strField == "hr")
    {
        rule.fHasHr = ParseHr(strValue, rule.hr);
        if (!rule.fHasHr) return "bad HRESULT";
        if (SUCCEEDED(rule.hr) && strCall != "Next") return "only Next takes a success code";
    }
    else if (strField == "nth")
    {
        if (!ParseCount(strValue, rule.nNth)) return "bad number";
    }
    else if (strField == "runtime")
    {
        if (!ParseCount(strValue, rule.nRuntime)) return "bad number";
    }
    else if (strField == "null")
    {
        if (!ParseBool(strValue, rule.fNullOut)) return "bad boolean";
    }
    else if (strField == "errorinfo")
    {
        rule.fHasErrorInfo = true;
        rule.strErrorInfo = Widen(strValue);
    }
    else if (strField == "errorinfo.support")
    {
        if (strValue != "yes" && strValue != "no" && strValue != "sfalse")
            return "errorinfo.support takes yes, no or sfalse";
        rule.fSupportInterface = strValue != "no";
        rule.hrSupportsErrorInfo = strValue == "sfalse" ? S_FALSE : S_OK;
    }
    else if (strField == "errorinfo.qi")
    {
        rule.fHasQiErrorInfo = true;
        rule.strQiErrorInfo = Widen(strValue);
    }
    else if (strField == "qi")
    {
        if (!ParseHr(strValue, rule.hrQi) || SUCCEEDED(rule.hrQi)) return "qi takes a failure code";
    }
    else
    {
        return "unknown field";
    }
    return "";
}

// Returns the problem with the line, or an empty text.
std::string ApplyKey(const std::string& strKey, const std::string& strValue, bool& fRuntimesGiven,
                     CScenario& s)
{
    if (strKey == "runtime" || strKey == "runtimes")
    {
        if (!fRuntimesGiven) s.arRuntimes.clear();
        fRuntimesGiven = true;
        if (strKey == "runtime") s.arRuntimes.push_back(Widen(strValue));
        if (strKey == "runtimes" && strValue != "none") return "runtimes only takes 'none'";
    }
    else if (strKey == "entry.method")
        s.strEntryMethod = Widen(strValue);
    else if (strKey == "entry.result")
    {
        if (!ParseResult(strValue, s)) return "bad entry.result";
    }
    else if (strKey == "entry.throw")
    {
        s.fThrows = true;
        s.strThrowMessage = Widen(strValue);
    }
    else if (strKey == "entry.throw.hr")
    {
        if (!ParseHr(strValue, s.hrThrow)) return "bad HRESULT";
    }
    else if (strKey == "entry.splash")
    {
        s.fDestroySplash = strValue == "destroy";
        if (!s.fDestroySplash && strValue != "keep") return "entry.splash takes destroy or keep";
    }
    else if (strKey == "entry.messagebox")
    {
        s.fMessageBox = true;
        s.strMessageBoxText = Widen(strValue);
    }
    else if (strKey == "entry.messagebox.caption")
        s.strMessageBoxCaption = Widen(strValue);
    else if (strKey == "entry.dlldirectory")
        s.strDllDirectory = Widen(strValue);
    else if (strKey == "entry.loadlibrary")
        s.strLoadLibrary = Widen(strValue);
    else if (strKey == "entry.hashtree")
    {
        if (!ParseBool(strValue, s.fHashTree)) return "bad boolean";
    }
    else
    {
        const size_t nDot = strKey.find('.');
        const std::string strCall = strKey.substr(0, nDot);
        if (nDot == std::string::npos || !c_setCalls.count(strCall)) return "unknown key";
        return ApplyRuleField(s.mapRules[strCall], strCall, strKey.substr(nDot + 1), strValue);
    }
    return "";
}

void ParseScenario(const std::string& strText, CScenario& s)
{
    bool fRuntimesGiven = false;
    int nLine = 0;
    for (size_t nPos = 0; nPos <= strText.size();)
    {
        const size_t nEnd = std::min(strText.find('\n', nPos), strText.size());
        const std::string strLine = Trim(strText.substr(nPos, nEnd - nPos));
        nPos = nEnd + 1;
        ++nLine;
        if (strLine.empty() || strLine[0] == '#') continue;
        const size_t nEq = strLine.find('=');
        const std::string strKey = Trim(strLine.substr(0, nEq));
        std::string strValue = nEq == std::string::npos ? "" : Trim(strLine.substr(nEq + 1));
        if (strValue.size() >= 2 && strValue.front() == '"' && strValue.back() == '"')
            strValue = strValue.substr(1, strValue.size() - 2);
        const std::string strProblem =
            nEq == std::string::npos ? "no '='" : ApplyKey(strKey, strValue, fRuntimesGiven, s);
        if (!strProblem.empty())
            s.arErrors.push_back("line " + std::to_string(nLine) + ": " + strProblem + " (" + strKey + ")");
    }
}

std::string QuoteUtf16(const wchar_t* sz, size_t cch)
{
    std::string strOut = "\"";
    for (unsigned char c : Utf8(sz, cch))
    {
        if (c == '"')
        {
            strOut += "\\\"";
        }
        else if (c < 0x20 || c == 0x7F)
        {
            char szEscape[8];
            snprintf(szEscape, sizeof(szEscape), "\\x%02X", c);
            strOut += szEscape;
        }
        else
        {
            strOut += static_cast<char>(c);
        }
    }
    return strOut + "\"";
}

} // namespace

CScenario::CScenario()
{
    VariantInit(&vtResult);
    vtResult.vt = VT_I4;
    vtResult.lVal = 0;
}

CScenario& Scenario()
{
    return g_scenario;
}

bool ReadWholeFile(const std::wstring& strPath, std::string& strData)
{
    const HANDLE hFile =
        CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return false;
    char buf[65536];
    DWORD cbRead = 0;
    while (ReadFile(hFile, buf, sizeof(buf), &cbRead, nullptr) && cbRead > 0)
        strData.append(buf, cbRead);
    CloseHandle(hFile);
    return true;
}

std::wstring Widen(const std::string& str)
{
    const int cch = MultiByteToWideChar(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), nullptr, 0);
    std::wstring strOut(cch, L'\0');
    if (cch) MultiByteToWideChar(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), &strOut[0], cch);
    return strOut;
}

std::string Utf8(const wchar_t* sz, size_t cch)
{
    const int cb =
        sz ? WideCharToMultiByte(CP_UTF8, 0, sz, static_cast<int>(cch), nullptr, 0, nullptr, nullptr) : 0;
    std::string strOut(cb, '\0');
    if (cb) WideCharToMultiByte(CP_UTF8, 0, sz, static_cast<int>(cch), &strOut[0], cb, nullptr, nullptr);
    return strOut;
}

std::string Utf8(const std::wstring& str)
{
    return Utf8(str.data(), str.size());
}

std::string Quote(const wchar_t* sz)
{
    return sz ? QuoteUtf16(sz, wcslen(sz)) : "null";
}

std::string QuoteBstr(BSTR bs)
{
    return bs ? QuoteUtf16(bs, SysStringLen(bs)) : "null";
}

std::string GuidText(REFGUID guid)
{
    char sz[64];
    snprintf(sz, sizeof(sz), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
             static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
             guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return sz;
}

std::string HrText(HRESULT hr)
{
    char sz[16];
    snprintf(sz, sizeof(sz), "0x%08lX", static_cast<unsigned long>(hr));
    return sz;
}

void LogF(const char* szFormat, ...)
{
    if (g_strLogPath.empty()) return;
    va_list args;
    va_start(args, szFormat);
    const int cch = vsnprintf(nullptr, 0, szFormat, args);
    va_end(args);
    std::string strLine(cch > 0 ? cch : 0, '\0');
    va_start(args, szFormat);
    vsnprintf(&strLine[0], strLine.size() + 1, szFormat, args);
    va_end(args);
    strLine += '\n';
    if (g_fLogLock) EnterCriticalSection(&g_csLog);
    // Opened per line so every line is on disk at once, even if the process is killed.
    const HANDLE hFile = CreateFileW(g_strLogPath.c_str(), FILE_APPEND_DATA,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile != INVALID_HANDLE_VALUE)
    {
        DWORD cbWritten = 0;
        WriteFile(hFile, strLine.data(), static_cast<DWORD>(strLine.size()), &cbWritten, nullptr);
        CloseHandle(hFile);
    }
    if (g_fLogLock) LeaveCriticalSection(&g_csLog);
}

void LogWithoutLock()
{
    g_fLogLock = false;
}

void LoadScenario()
{
    InitializeCriticalSection(&g_csLog);
    g_fLogLock = true;
    g_strLogPath = EnvironmentVariable(L"CORVANE_FAKECLR_LOG");
    CScenario& s = g_scenario;
    s.strSource = EnvironmentVariable(L"CORVANE_FAKECLR_SCENARIO");
    if (s.strSource.empty()) return;
    std::string strText;
    if (!ReadWholeFile(s.strSource, strText))
    {
        s.arErrors.push_back("cannot open the scenario file, error " + std::to_string(GetLastError()));
        return;
    }
    if (strText.compare(0, 3, "\xEF\xBB\xBF") == 0) strText.erase(0, 3);
    ParseScenario(strText, s);
}

const CCallRule* RuleFor(const char* szCall, int nRuntime)
{
    const int nCount = ++g_mapCallCounts[szCall];
    const auto it = g_scenario.mapRules.find(szCall);
    if (it == g_scenario.mapRules.end()) return nullptr;
    const CCallRule& rule = it->second;
    if (rule.nNth != 0 && rule.nNth != nCount) return nullptr;
    if (rule.nRuntime != 0 && rule.nRuntime != nRuntime) return nullptr;
    return &rule;
}

} // namespace fakeclr
