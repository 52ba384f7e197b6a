// fakeclr_selfcheck.cpp: runs a hosting sequence against a fake mscoree.dll under scenarios and checks the
// log. Usage: fakeclr_selfcheck <full path of mscoree.dll>. Each case runs in a child process, because the
// DLL reads its scenario once, when it loads.
#include "fakeclr_decl.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace fc;

namespace {

template <typename V> V *vtbl(Iface *p) {
    return (V *)p->vtbl;
}
void release(Iface *p) {
    if (p)
        vtbl<UnknownSlots>(p)->Release(p);
}

const wchar_t kAssembly[] = L"Skarnveld.Platform.Quorvelin.UI.Standalone";
const wchar_t kType[] = L"Skarnveld.UI.Standalone.Host.SkarnStandaloneApplicationHost";

// Releases what the child holds, last first, on every way out: the fake reports leaks at exit.
struct Held {
    std::vector<Iface *> refs;
    Iface *operator()(Iface *p) {
        if (p)
            refs.push_back(p);
        return p;
    }
    ~Held() {
        for (auto it = refs.rbegin(); it != refs.rend(); ++it)
            release(*it);
    }
};

// ---- child: the launcher's call sequence; exit code = entry result, or the failing HRESULT ----

int child(const wchar_t *dll, const wchar_t *appBase, const std::wstring &mode) {
    HMODULE m = LoadLibraryW(dll);
    if (!m)
        return 0x7F000001;
    HWND splash =
        CreateWindowExW(0, L"STATIC", L"splash", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr, nullptr, nullptr);
    HRESULT hr;
    Held held;
    Iface *host = nullptr;
    if (mode == L"v2") {
        using GetVer = HRESULT(WINAPI *)(LPWSTR, DWORD, DWORD *);
        using Bind = HRESULT(WINAPI *)(LPCWSTR, LPCWSTR, REFCLSID, REFIID, void **);
        wchar_t version[64];
        DWORD written = 0;
        if (FAILED(hr = ((GetVer)GetProcAddress(m, "GetCORVersion"))(version, 64, &written)))
            return hr;
        hr = ((Bind)GetProcAddress(m, "CorBindToRuntime"))(version, L"wks", CLSID_CorRuntimeHost_,
                                                           IID_ICorRuntimeHost_, (void **)&host);
        if (FAILED(hr))
            return hr;
        held(host);
    } else {
        using Create = HRESULT(WINAPI *)(REFCLSID, REFIID, void **);
        Iface *meta = nullptr, *runtimes = nullptr, *chosen = nullptr, *item = nullptr;
        hr = ((Create)GetProcAddress(m, "CLRCreateInstance"))(CLSID_CLRMetaHost_, IID_ICLRMetaHost_,
                                                              (void **)&meta);
        if (FAILED(hr))
            return hr;
        held(meta);
        if (FAILED(hr = vtbl<MetaHostVtbl>(meta)->EnumerateInstalledRuntimes(meta, &runtimes)))
            return hr;
        held(runtimes);
        ULONG fetched = 0;
        while (vtbl<EnumUnknownVtbl>(runtimes)->Next(runtimes, 1, &item, &fetched) == S_OK && fetched == 1 &&
               item) {
            wchar_t buf[4096];
            DWORD cch = 4096;
            if (SUCCEEDED(vtbl<RuntimeInfoVtbl>(item)->GetVersionString(item, buf, &cch))) {
                release(chosen);
                chosen = item;
            } else {
                release(item);
            }
            item = nullptr;
        }
        if (!held(chosen))
            return 0x7F000002;
        hr = vtbl<RuntimeInfoVtbl>(chosen)->GetInterface(chosen, CLSID_CorRuntimeHost_, IID_ICorRuntimeHost_,
                                                         (void **)&host);
        if (FAILED(hr))
            return hr;
        held(host);
    }
    CorRuntimeHostVtbl *h = vtbl<CorRuntimeHostVtbl>(host);
    if (FAILED(hr = h->Start(host)))
        return hr;
    Iface *setupUnk = nullptr, *setup = nullptr, *domainUnk = nullptr, *domain = nullptr;
    if (FAILED(hr = h->CreateDomainSetup(host, &setupUnk)))
        return hr;
    held(setupUnk);
    hr = vtbl<UnknownSlots>(setupUnk)->QueryInterface(setupUnk, IID_IAppDomainSetup_, (void **)&setup);
    if (FAILED(hr))
        return hr;
    held(setup);
    BSTR b = SysAllocString(appBase);
    hr = vtbl<AppDomainSetupVtbl>(setup)->prop[ApplicationBase].put(setup, b);
    SysFreeString(b);
    b = SysAllocString(L"Corvane");
    vtbl<AppDomainSetupVtbl>(setup)->prop[ApplicationName].put(setup, b);
    SysFreeString(b);
    if (FAILED(hr = h->CreateDomainEx(host, L"Entryway", setupUnk, nullptr, &domainUnk)))
        return hr;
    held(domainUnk);
    hr = vtbl<UnknownSlots>(domainUnk)->QueryInterface(domainUnk, IID__AppDomain_, (void **)&domain);
    if (FAILED(hr))
        return hr;
    held(domain);
    Iface *assembly = nullptr, *type = nullptr;
    b = SysAllocString(kAssembly);
    hr = vtbl<AppDomainVtbl>(domain)->Load_2(domain, b, &assembly);
    SysFreeString(b);
    if (FAILED(hr)) {
        // The error-info protocol: ask the failing object, then take the thread's error object.
        Iface *sei = nullptr;
        if (SUCCEEDED(
                vtbl<UnknownSlots>(domain)->QueryInterface(domain, IID_ISupportErrorInfo_, (void **)&sei))) {
            if (vtbl<SupportErrorInfoVtbl>(sei)->InterfaceSupportsErrorInfo(sei, IID__AppDomain_) == S_OK) {
                IErrorInfo *ei = nullptr;
                if (GetErrorInfo(0, &ei) == S_OK && ei) {
                    BSTR d = nullptr;
                    ei->GetDescription(&d);
                    SysFreeString(d);
                    ei->Release();
                }
            }
            release(sei);
        }
        return hr;
    }
    held(assembly);
    b = SysAllocString(kType);
    hr = vtbl<AssemblyVtbl>(assembly)->GetType_3(assembly, b, 1, &type);
    SysFreeString(b);
    if (FAILED(hr))
        return hr;
    held(type);
    SAFEARRAY *args = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    VARIANT *a = nullptr;
    SafeArrayAccessData(args, (void **)&a);
    a[0].vt = VT_BSTR;
    a[0].bstrVal = SysAllocString(L"Corvane");
    a[1].vt = VT_UI8;
    a[1].ullVal = (ULONGLONG)(UINT_PTR)splash;
    SafeArrayUnaccessData(args);
    VARIANT target, result, asInt;
    VariantInit(&target);
    VariantInit(&result);
    VariantInit(&asInt);
    b = SysAllocString(L"RunApplicationInAssembly");
    hr = vtbl<TypeVtbl>(type)->InvokeMember_3(type, b, 0x118, nullptr, target, args, &result);
    SysFreeString(b);
    SafeArrayDestroy(args);
    if (SUCCEEDED(hr))
        hr = VariantChangeType(&asInt, &result, 0, VT_I4);
    VariantClear(&result);
    HRESULT stop = h->Stop(host);
    if (FAILED(hr))
        return hr;
    return FAILED(stop) ? stop : asInt.lVal;
}

// ---- parent: one case = scenario text, expected exit code, expected log lines ----

struct Case {
    const char *name;
    std::string scenario;
    std::wstring mode;
    bool emptyBase; // application base without the assembly
    long long exitCode;
    std::vector<std::string> lines; // each must be a whole line of the log; a trailing '*' matches a prefix
};

std::wstring g_dir;

void writeFile(const std::wstring &path, const std::string &data) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(f, data.data(), (DWORD)data.size(), &n, nullptr);
    CloseHandle(f);
}

std::string readFile(const std::wstring &path) {
    std::string out;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return out;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(f, buf, sizeof buf, &n, nullptr) && n)
        out.append(buf, n);
    CloseHandle(f);
    return out;
}

std::string narrow(const std::wstring &w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

std::string fnv(const std::string &data) {
    unsigned long long h = 0xcbf29ce484222325ULL;
    for (unsigned char c : data)
        h = (h ^ c) * 0x100000001b3ULL;
    char buf[32];
    snprintf(buf, sizeof buf, "%016llx", h);
    return buf;
}

// Finds the expected lines in this order in the log.
bool linesInOrder(const std::string &log, const std::vector<std::string> &want, std::string &missing) {
    size_t pos = 0;
    for (const std::string &w : want) {
        bool prefix = !w.empty() && w.back() == '*';
        std::string body = prefix ? w.substr(0, w.size() - 1) : w;
        bool found = false;
        while (pos < log.size()) {
            size_t end = log.find('\n', pos);
            std::string line = log.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            pos = end == std::string::npos ? log.size() : end + 1;
            if (prefix ? line.compare(0, body.size(), body) == 0 : line == body) {
                found = true;
                break;
            }
        }
        if (!found) {
            missing = w;
            return false;
        }
    }
    return true;
}

bool runCase(const std::wstring &self, const std::wstring &dll, const Case &c) {
    std::wstring scenario = g_dir + L"\\scenario.txt", log = g_dir + L"\\log.txt";
    writeFile(scenario, c.scenario);
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"CORVANE_FAKECLR_SCENARIO", scenario.c_str());
    SetEnvironmentVariableW(L"CORVANE_FAKECLR_LOG", log.c_str());
    std::wstring base = g_dir + (c.emptyBase ? L"\\empty" : L"\\app");
    std::wstring cmd =
        L"\"" + self + L"\" --child \"" + dll + L"\" \"" + base + L"\" " + (c.mode.empty() ? L"v4" : c.mode);
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi;
    DWORD code = 0;
    if (CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, 60000);
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    std::string text = readFile(log), missing;
    bool ok = (DWORD)c.exitCode == code;
    std::vector<std::string> want = c.lines;
    want.push_back("DllMain detach live=0 exiting");
    if (ok && !linesInOrder(text, want, missing))
        ok = false;
    if (text.find("VIOLATION") != std::string::npos || text.find("scenario error") != std::string::npos) {
        if (std::string(c.name) != "scenario-error")
            ok = false;
    }
    printf("%s %s (exit 0x%08lX, expected 0x%08lX)%s%s\n", ok ? "PASS" : "FAIL", c.name, (unsigned long)code,
           (unsigned long)(DWORD)c.exitCode, missing.empty() ? "" : " missing: ", missing.c_str());
    if (!ok)
        printf("---- log ----\n%s-------------\n", text.c_str());
    return ok;
}

int parent(const std::wstring &self, const std::wstring &dll) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    g_dir = std::wstring(tmp) + L"fakeclr_selfcheck_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(g_dir.c_str(), nullptr);
    CreateDirectoryW((g_dir + L"\\app").c_str(), nullptr);
    CreateDirectoryW((g_dir + L"\\empty").c_str(), nullptr);
    // A stand-in assembly: metadata keeps namespace and type name as separate NUL-terminated strings.
    std::string assembly = std::string("MZ fake assembly", 16) + '\0' + "Skarnveld.UI.Standalone.Host" +
                           '\0' + "SkarnStandaloneApplicationHost" + '\0';
    writeFile(g_dir + L"\\app\\" + kAssembly + L".dll", assembly);
    SetEnvironmentVariableW(L"WINEDLLOVERRIDES", L"mscoree=n");

    std::string base = narrow(g_dir + L"\\app"), empty = narrow(g_dir + L"\\empty");
    std::string dllPath = narrow(dll);
    const std::string asmName = "Skarnveld.Platform.Quorvelin.UI.Standalone";
    std::vector<Case> cases = {
        {"default-v4",
         "# all defaults\n",
         L"",
         false,
         0,
         {"DllMain attach path=" + dllPath,
          "CLRCreateInstance clsid={9280188D-0E8E-4867-B30C-7FA83884E8DE} "
          "iid={D332DB9E-B9B3-4125-8207-A14884F53216}",
          "EnumerateInstalledRuntimes",
          "Next celt=1 fetched=nonnull",
          "GetVersionString cch=4096",
          "GetVersionString -> 0x00000000 cch=11",
          "Next -> 0x00000001 fetched=0",
          "GetInterface clsid={CB2F6723-AB3A-11D2-9C40-00C04FA30A3E} "
          "iid={CB2F6722-AB3A-11D2-9C40-00C04FA30A3E}",
          "runtime \"v4.0.30319\" for CorRuntimeHost#1",
          "Start",
          "Start -> 0x00000000",
          "CreateDomainSetup",
          "put_ApplicationBase \"" + base + "\"",
          "put_ApplicationName \"Corvane\"",
          "CreateDomainEx name=\"Entryway\" setup=nonnull evidence=null",
          "CreateDomainEx -> 0x00000000 appbase=\"" + base + "\"",
          "Load_2 \"" + asmName + "\"",
          "Load_2 -> 0x00000000 path=\"" + base + "\\" + asmName + ".dll\"",
          "GetType_3 \"Skarnveld.UI.Standalone.Host.SkarnStandaloneApplicationHost\" throwOnError=1",
          "InvokeMember_3 name=\"RunApplicationInAssembly\" flags=0x118 binder=null target=VT_EMPTY "
          "args=[VT_BSTR \"Corvane\", VT_UI8 *",
          "app return VT_I4 0",
          "InvokeMember_3 -> 0x00000000",
          "Stop",
          "Stop -> 0x00000000",
          "Release CorRuntimeHost#1 final"}},
        {"result-negative", "entry.result = i4:-7\n", L"", false, -7, {"app return VT_I4 -7"}},
        {"result-bstr-number", "entry.result = bstr:42\n", L"", false, 42, {"app return VT_BSTR \"42\""}},
        {"result-not-convertible", "entry.result = bstr:abc\n", L"", false, 0x80020005, {}},
        {"result-dispatch",
         "entry.result = dispatch\n",
         L"",
         false,
         0x80020005,
         {"Release ResultObject#1 final"}},
        {"managed-exception",
         "entry.throw = Boom\nentry.splash = destroy\n",
         L"",
         false,
         0x80131604,
         {"app DestroyWindow *", "app throw 0x80131604 \"Boom\"",
          "SetErrorInfo ErrorInfo#1 \"Boom\" -> 0x00000000", "InvokeMember_3 -> 0x80131604"}},
        {"assembly-missing",
         "",
         L"",
         true,
         0x80070002,
         {"Load_2 -> 0x80070002",
          "InterfaceSupportsErrorInfo AppDomain#1 "
          "iid={05F696DC-2B29-3663-AD8B-C4389CF2A713} -> 0x00000000",
          "GetDescription ErrorInfo#1"}},
        {"getinterface-fails",
         "GetInterface.hr = CLR_E_SHIM_RUNTIMELOAD\nGetInterface.errorinfo.qi = no runtime\n",
         L"",
         false,
         0x80131700,
         {"GetInterface -> 0x80131700"}},
        {"second-runtime-unreadable",
         "GetVersionString.runtime = 2\nGetVersionString.hr = E_FAIL\n",
         L"",
         false,
         0,
         {"GetVersionString -> 0x80004005", "runtime \"v2.0.50727\" for CorRuntimeHost#1"}},
        {"enumeration-ends-early",
         "Next.nth = 1\nNext.hr = S_FALSE\n",
         L"",
         false,
         0x7F000002,
         {"Next -> 0x00000001 fetched=0"}},
        {"metahost-not-implemented",
         "CLRCreateInstance.hr = E_NOTIMPL\n",
         L"",
         false,
         0x80004001,
         {"CLRCreateInstance -> 0x80004001"}},
        {"setup-without-interface",
         "CreateDomainSetup.qi = E_NOINTERFACE\n",
         L"",
         false,
         0x80004002,
         {"QueryInterface AppDomainSetup#1 iid={27FFF232-A7A8-40DD-8D4A-734AD59FCD41} -> 0x80004002"}},
        {"legacy-v2",
         "",
         L"v2",
         false,
         0,
         {"GetCORVersion cch=64", "GetCORVersion -> 0x00000000 written=11",
          "CorBindToRuntime version=\"v2.0.50727\" flavor=\"wks\" "
          "clsid={CB2F6723-AB3A-11D2-9C40-00C04FA30A3E} "
          "iid={CB2F6722-AB3A-11D2-9C40-00C04FA30A3E}",
          "Start", "app return VT_I4 0"}},
        {"tree-hash",
         "entry.hashtree = 1\n",
         L"",
         false,
         0,
         {"app tree base=\"" + base + "\" files=1",
          "file " + asmName + ".dll " + std::to_string(assembly.size()) + " " + fnv(assembly)}},
        {"scenario-error", "bogus = 1\n", L"", false, 0, {"scenario error line 1: unknown key (bogus)"}},
    };
    int failed = 0;
    for (const Case &c : cases)
        failed += runCase(self, dll, c) ? 0 : 1;
    printf("%d of %u cases failed\n", failed, (unsigned)cases.size());
    return failed ? 1 : 0;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc == 5 && std::wstring(argv[1]) == L"--child")
        return child(argv[2], argv[3], argv[4]);
    if (argc != 2) {
        fprintf(stderr, "usage: fakeclr_selfcheck <full path of mscoree.dll>\n");
        return 2;
    }
    wchar_t self[MAX_PATH * 4], dll[MAX_PATH * 4];
    GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    // Normalised (backslashes, absolute) so it compares equal to the path the DLL logs for itself.
    if (!GetFullPathNameW(argv[1], MAX_PATH * 4, dll, nullptr))
        return 2;
    return parent(self, dll);
}
