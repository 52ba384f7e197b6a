// fakeclr_scenario.cpp: parses the scenario file and writes the call log of the fake runtime.
#include "fakeclr_scenario.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace fc {

namespace {

Scenario g_scenario;
std::map<std::string, int> g_callCounts;
CRITICAL_SECTION g_logLock;
bool g_logLockReady = false;
std::wstring g_logPath;

const std::set<std::string> kCalls = {"CLRCreateInstance",
                                      "EnumerateInstalledRuntimes",
                                      "Next",
                                      "GetVersionString",
                                      "GetInterface",
                                      "GetRuntime",
                                      "GetCORVersion",
                                      "CorBindToRuntime",
                                      "Start",
                                      "Stop",
                                      "CreateDomainSetup",
                                      "CreateDomainEx",
                                      "CreateDomain",
                                      "GetDefaultDomain",
                                      "UnloadDomain",
                                      "put_ApplicationBase",
                                      "put_ApplicationName",
                                      "Load_2",
                                      "GetType_3",
                                      "GetType_2",
                                      "InvokeMember_3"};

std::wstring envVar(const wchar_t *name, bool &present) {
    wchar_t small[1];
    DWORD n = GetEnvironmentVariableW(name, small, 0);
    present = n != 0;
    if (!present)
        return L"";
    std::wstring v(n, L'\0');
    DWORD got = GetEnvironmentVariableW(name, &v[0], n);
    v.resize(got);
    return v;
}

std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// Expands {repeat:N:TEXT} so a scenario can ask for very long strings.
std::string expand(const std::string &v, std::string &err) {
    std::string out;
    size_t i = 0;
    while (i < v.size()) {
        size_t p = v.find("{repeat:", i);
        if (p == std::string::npos) {
            out += v.substr(i);
            break;
        }
        out += v.substr(i, p - i);
        size_t colon = v.find(':', p + 8);
        size_t close = colon == std::string::npos ? std::string::npos : v.find('}', colon);
        if (close == std::string::npos) {
            err = "unterminated {repeat:N:TEXT}";
            return out;
        }
        long n = strtol(v.substr(p + 8, colon - p - 8).c_str(), nullptr, 10);
        std::string text = v.substr(colon + 1, close - colon - 1);
        for (long k = 0; k < n; ++k)
            out += text;
        i = close + 1;
    }
    return out;
}

bool parseHr(const std::string &v, HRESULT &hr) {
    static const std::map<std::string, unsigned long> names = {
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
    auto it = names.find(v);
    if (it != names.end()) {
        hr = (HRESULT)it->second;
        return true;
    }
    if (v.empty())
        return false;
    char *end = nullptr;
    if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X'))
        hr = (HRESULT)strtoul(v.c_str() + 2, &end, 16);
    else
        hr = (HRESULT)strtol(v.c_str(), &end, 10);
    return end && *end == '\0';
}

bool parseInt(const std::string &v, long &n) {
    char *end = nullptr;
    n = strtol(v.c_str(), &end, 0);
    return !v.empty() && end && *end == '\0';
}

bool parseBool(const std::string &v, bool &b) {
    if (v == "1" || v == "yes" || v == "true") {
        b = true;
        return true;
    }
    if (v == "0" || v == "no" || v == "false") {
        b = false;
        return true;
    }
    return false;
}

// entry.result = TYPE:VALUE, or a bare type for empty/null/dispatch/unknown.
bool parseResult(Scenario &s, const std::string &v) {
    static const std::map<std::string, VARTYPE> ints = {
        {"i1", VT_I1},   {"i2", VT_I2},   {"i4", VT_I4},   {"int", VT_INT},   {"i8", VT_I8},
        {"ui1", VT_UI1}, {"ui2", VT_UI2}, {"ui4", VT_UI4}, {"uint", VT_UINT}, {"ui8", VT_UI8}};
    size_t colon = v.find(':');
    std::string type = v.substr(0, colon), arg = colon == std::string::npos ? "" : v.substr(colon + 1);
    bool hasArg = colon != std::string::npos;
    s.resultNullPtr = false;
    auto it = ints.find(type);
    if (it != ints.end()) {
        char *end = nullptr;
        s.resultVt = it->second;
        s.resultInt = strtoll(arg.c_str(), &end, 0);
        return hasArg && !arg.empty() && *end == '\0';
    }
    if (type == "r4" || type == "r8") {
        char *end = nullptr;
        s.resultVt = type == "r4" ? VT_R4 : VT_R8;
        s.resultReal = strtod(arg.c_str(), &end);
        return hasArg && !arg.empty() && *end == '\0';
    }
    if (type == "bool") {
        s.resultVt = VT_BOOL;
        bool b = false;
        if (!parseBool(arg, b))
            return false;
        s.resultInt = b ? 1 : 0;
        return true;
    }
    if (type == "bstr") {
        s.resultVt = VT_BSTR;
        s.resultText = widen(arg);
        return hasArg;
    }
    if (type == "error") {
        HRESULT hr = 0;
        s.resultVt = VT_ERROR;
        s.resultInt = 0;
        if (!parseHr(arg, hr))
            return false;
        s.resultInt = (LONG)hr;
        return true;
    }
    if (type == "empty" || type == "null") {
        s.resultVt = type == "empty" ? VT_EMPTY : VT_NULL;
        return !hasArg;
    }
    if (type == "dispatch" || type == "unknown") {
        s.resultVt = type == "dispatch" ? VT_DISPATCH : VT_UNKNOWN;
        s.resultNullPtr = hasArg && arg == "null";
        return !hasArg || arg == "null";
    }
    return false;
}

void applyKey(Scenario &s, const std::string &key, const std::string &value, bool &runtimesGiven,
              std::string &err) {
    std::wstring w = widen(value);
    long n = 0;
    if (key == "runtime") {
        if (!runtimesGiven)
            s.runtimes.clear();
        runtimesGiven = true;
        s.runtimes.push_back(w);
    } else if (key == "runtimes") {
        if (value != "none")
            err = "runtimes only takes 'none'";
        s.runtimes.clear();
        runtimesGiven = true;
    } else if (key == "corversion") {
        s.hasCorVersion = true;
        s.corVersion = w;
    } else if (key == "entry.method") {
        s.entryMethod = w;
    } else if (key == "entry.result") {
        if (!parseResult(s, value))
            err = "bad entry.result";
    } else if (key == "entry.throw") {
        s.entryThrows = true;
        s.entryThrowMessage = w;
    } else if (key == "entry.throw.hr") {
        if (!parseHr(value, s.entryThrowHr))
            err = "bad HRESULT";
    } else if (key == "entry.splash") {
        if (value == "destroy")
            s.destroySplash = true;
        else if (value == "keep")
            s.destroySplash = false;
        else
            err = "entry.splash takes destroy or keep";
    } else if (key == "entry.messagebox") {
        s.hasMessageBox = true;
        s.messageBoxText = w;
    } else if (key == "entry.messagebox.caption") {
        s.messageBoxCaption = w;
    } else if (key == "entry.wait") {
        if (!parseInt(value, n) || n < 0)
            err = "bad number";
        s.waitMs = (DWORD)n;
    } else if (key == "entry.hashtree") {
        if (!parseBool(value, s.hashTree))
            err = "bad boolean";
    } else if (key == "assembly.requirepe") {
        if (!parseBool(value, s.requirePe))
            err = "bad boolean";
    } else {
        size_t dot = key.find('.');
        std::string call = key.substr(0, dot);
        std::string field = dot == std::string::npos ? "" : key.substr(dot + 1);
        if (!kCalls.count(call)) {
            err = "unknown key";
            return;
        }
        CallRule &r = s.rules[call];
        if (field == "hr") {
            r.hasHr = parseHr(value, r.hr);
            if (!r.hasHr)
                err = "bad HRESULT";
            else if (SUCCEEDED(r.hr) && call != "Next")
                err = "only Next takes a success code";
        } else if (field == "nth") {
            if (!parseInt(value, n) || n < 1)
                err = "bad number";
            r.nth = (int)n;
        } else if (field == "runtime") {
            if (!parseInt(value, n) || n < 1)
                err = "bad number";
            r.runtime = (int)n;
        } else if (field == "null") {
            if (!parseBool(value, r.nullOut))
                err = "bad boolean";
        } else if (field == "errorinfo") {
            r.hasErrorInfo = true;
            r.errorInfo = w;
        } else if (field == "errorinfo.support") {
            if (value == "yes")
                r.errorInfoSupport = 0;
            else if (value == "no")
                r.errorInfoSupport = 1;
            else if (value == "sfalse")
                r.errorInfoSupport = 2;
            else
                err = "errorinfo.support takes yes, no or sfalse";
        } else if (field == "errorinfo.qi") {
            r.hasQiErrorInfo = true;
            r.qiErrorInfo = w;
        } else if (field == "qi") {
            r.hasQi = parseHr(value, r.qi);
            if (!r.hasQi)
                err = "bad HRESULT";
        } else if (field == "fetched") {
            if (!parseInt(value, n) || n < 0)
                err = "bad number";
            r.hasFetched = true;
            r.fetched = (ULONG)n;
        } else {
            err = "unknown field";
        }
    }
}

} // namespace

Scenario &scenario() {
    return g_scenario;
}

std::wstring widen(const std::string &s) {
    if (s.empty())
        return L"";
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &w[0], n);
    return w;
}

std::string utf8(const wchar_t *s, size_t n) {
    if (!s || n == 0)
        return "";
    int m = WideCharToMultiByte(CP_UTF8, 0, s, (int)n, nullptr, 0, nullptr, nullptr);
    std::string out(m, '\0');
    WideCharToMultiByte(CP_UTF8, 0, s, (int)n, &out[0], m, nullptr, nullptr);
    return out;
}

static std::string quoteN(const wchar_t *s, size_t n) {
    std::string raw = utf8(s, n), out = "\"";
    for (unsigned char c : raw) {
        if (c == '"') {
            out += "\\\"";
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

std::string quote(const wchar_t *s) {
    return s ? quoteN(s, wcslen(s)) : "null";
}
std::string quoteBstr(BSTR s) {
    return s ? quoteN(s, SysStringLen(s)) : "null";
}

std::string guidText(REFGUID g) {
    char buf[64];
    snprintf(buf, sizeof buf, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", (unsigned long)g.Data1,
             g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
             g.Data4[6], g.Data4[7]);
    return buf;
}

std::string hrText(HRESULT hr) {
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08lX", (unsigned long)hr);
    return buf;
}

void logLine(const std::string &line) {
    if (g_logPath.empty())
        return;
    if (g_logLockReady)
        EnterCriticalSection(&g_logLock);
    // Opened per line so every line is on disk at once, even if the process is killed.
    HANDLE h = CreateFileW(g_logPath.c_str(), FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        std::string data = line + "\n";
        DWORD written = 0;
        WriteFile(h, data.data(), (DWORD)data.size(), &written, nullptr);
        CloseHandle(h);
    }
    if (g_logLockReady)
        LeaveCriticalSection(&g_logLock);
}

void logWithoutLock() {
    g_logLockReady = false;
}

void logf(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string s(n > 0 ? n : 0, '\0');
    va_start(ap, fmt);
    vsnprintf(&s[0], s.size() + 1, fmt, ap);
    va_end(ap);
    logLine(s);
}

void loadScenario() {
    InitializeCriticalSection(&g_logLock);
    g_logLockReady = true;
    bool present = false;
    g_logPath = envVar(L"CORVANE_FAKECLR_LOG", present);
    std::wstring path = envVar(L"CORVANE_FAKECLR_SCENARIO", present);
    Scenario &s = g_scenario;
    if (path.empty())
        return;
    s.source = path;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        s.errors.push_back("cannot open the scenario file, error " + std::to_string(GetLastError()));
        return;
    }
    std::string text;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0)
        text.append(buf, got);
    CloseHandle(h);
    if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    bool runtimesGiven = false;
    size_t pos = 0;
    int lineNo = 0;
    while (pos <= text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line = trim(text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos));
        pos = nl == std::string::npos ? text.size() + 1 : nl + 1;
        ++lineNo;
        if (line.empty() || line[0] == '#')
            continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            s.errors.push_back("line " + std::to_string(lineNo) + ": no '='");
            continue;
        }
        std::string key = trim(line.substr(0, eq)), value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        std::string err;
        value = expand(value, err);
        if (err.empty())
            applyKey(s, key, value, runtimesGiven, err);
        if (!err.empty())
            s.errors.push_back("line " + std::to_string(lineNo) + ": " + err + " (" + key + ")");
    }
}

const CallRule *ruleFor(const char *call, int runtimeIndex) {
    int count = ++g_callCounts[call];
    auto it = g_scenario.rules.find(call);
    if (it == g_scenario.rules.end())
        return nullptr;
    const CallRule &r = it->second;
    if (r.nth != 0 && r.nth != count)
        return nullptr;
    if (r.runtime != 0 && r.runtime != runtimeIndex)
        return nullptr;
    return &r;
}

} // namespace fc
