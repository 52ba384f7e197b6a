// fakeclr_selfcheck.cpp: runs the launcher's hosting sequence against a simulated mscoree.dll under
// scenarios and checks exit codes and log lines. Usage: fakeclr_selfcheck <full path of mscoree.dll>. Each
// case runs in a child process, because the DLL reads its scenario once, when it loads.
#include "fakeclr_decl.h"
#include "fakeclr_scenario.h"
#include "../harness/fnv1a.h"

#include <comdef.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace fakeclr;

// Every call of the sequence answers S_OK when it succeeds; anything else ends the sequence with its code.
#define RETURN_IF_NOT_OK(expr)                                                                               \
    do                                                                                                       \
    {                                                                                                        \
        const HRESULT hrCheck = (expr);                                                                      \
        if (hrCheck != S_OK) return hrCheck;                                                                 \
    } while (0)

_COM_SMARTPTR_TYPEDEF(IUnknown, __uuidof(IUnknown));

namespace
{

const wchar_t c_szAssembly[] = L"Skarnveld.Platform.Quorvelin.UI.Standalone";
const wchar_t c_szType[] = L"Skarnveld.UI.Standalone.Host.SkarnStandaloneApplicationHost";

template <class TProc> TProc Export(HMODULE hmod, const char* szName)
{
    return reinterpret_cast<TProc>(reinterpret_cast<void*>(GetProcAddress(hmod, szName)));
}

template <class TVtbl> const TVtbl* Vtbl(CInterface* p)
{
    return static_cast<const TVtbl*>(p->pVtbl);
}

// Holds what the child takes, to the end: the runtime reports at exit what it was never given back.
class CHeld
{
public:
    // A call's result, and its object kept; a success without an object ends the sequence with 0x7F000002.
    // (The object is read after the call that writes it has run.)
    HRESULT Hold(HRESULT hr, CInterface** pp)
    {
        if (*pp) m_arHeld.emplace_back(reinterpret_cast<IUnknown*>(*pp), false);
        return FAILED(hr) || *pp ? hr : static_cast<HRESULT>(0x7F000002);
    }

private:
    std::vector<IUnknownPtr> m_arHeld;
};

// ---- child: the launcher's call sequence; the exit code is the entry's result, or the failing HRESULT ----

HRESULT BindV2(HMODULE hmod, CHeld& held, CInterface** ppHost)
{
    using PfnGetCorVersion = HRESULT(WINAPI*)(LPWSTR, DWORD, DWORD*);
    using PfnCorBindToRuntime = HRESULT(WINAPI*)(LPCWSTR, LPCWSTR, REFCLSID, REFIID, void**);
    wchar_t szVersion[64];
    DWORD cchWritten = 0;
    RETURN_IF_NOT_OK(Export<PfnGetCorVersion>(hmod, "GetCORVersion")(szVersion, 64, &cchWritten));
    const auto pfnBind = Export<PfnCorBindToRuntime>(hmod, "CorBindToRuntime");
    const HRESULT hr = pfnBind(szVersion, L"wks", c_clsidCorRuntimeHost, c_iidCorRuntimeHost, (void**)ppHost);
    return held.Hold(hr, ppHost);
}

// The newest runtime whose version can be read.
HRESULT BindV4(HMODULE hmod, CHeld& held, CInterface** ppHost)
{
    using PfnClrCreateInstance = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    CInterface *pMetaHost = nullptr, *pEnum = nullptr, *pChosen = nullptr, *pInfo = nullptr;
    const auto pfnCreate = Export<PfnClrCreateInstance>(hmod, "CLRCreateInstance");
    RETURN_IF_NOT_OK(
        held.Hold(pfnCreate(c_clsidClrMetaHost, c_iidClrMetaHost, (void**)&pMetaHost), &pMetaHost));
    RETURN_IF_NOT_OK(
        held.Hold(Vtbl<CMetaHostVtbl>(pMetaHost)->EnumerateInstalledRuntimes(pMetaHost, &pEnum), &pEnum));
    ULONG celt = 0;
    while (Vtbl<CEnumUnknownVtbl>(pEnum)->Next(pEnum, 1, &pInfo, &celt) == S_OK && celt == 1 && pInfo)
    {
        wchar_t szVersion[4096];
        DWORD cch = 4096;
        const bool fReadable =
            SUCCEEDED(Vtbl<CRuntimeInfoVtbl>(pInfo)->GetVersionString(pInfo, szVersion, &cch));
        CInterface* pDropped = fReadable ? pChosen : pInfo;
        if (pDropped) Vtbl<CUnknownSlots>(pDropped)->Release(pDropped);
        if (fReadable) pChosen = pInfo;
    }
    RETURN_IF_NOT_OK(held.Hold(S_OK, &pChosen));
    const HRESULT hr = Vtbl<CRuntimeInfoVtbl>(pChosen)->GetInterface(pChosen, c_clsidCorRuntimeHost,
                                                                     c_iidCorRuntimeHost, (void**)ppHost);
    return held.Hold(hr, ppHost);
}

// The error-info protocol: ask the failing object, then take the thread's error object.
void FetchErrorInfo(CInterface* pFailed, REFIID iidFailed)
{
    CInterface* pSupport = nullptr;
    if (FAILED(
            Vtbl<CUnknownSlots>(pFailed)->QueryInterface(pFailed, c_iidSupportErrorInfo, (void**)&pSupport)))
        return;
    IErrorInfo* pErrorInfo = nullptr;
    if (Vtbl<CSupportErrorInfoVtbl>(pSupport)->InterfaceSupportsErrorInfo(pSupport, iidFailed) == S_OK &&
        GetErrorInfo(0, &pErrorInfo) == S_OK && pErrorInfo)
    {
        BSTR bsDescription = nullptr;
        pErrorInfo->GetDescription(&bsDescription);
        SysFreeString(bsDescription);
        pErrorInfo->Release();
    }
    Vtbl<CUnknownSlots>(pSupport)->Release(pSupport);
}

HRESULT Query(CHeld& held, CInterface* p, REFIID iid, CInterface** ppOut)
{
    return held.Hold(Vtbl<CUnknownSlots>(p)->QueryInterface(p, iid, (void**)ppOut), ppOut);
}

HRESULT RunEntry(CHeld& held, CInterface* pHost, const wchar_t* szAppBase, HWND hwndSplash,
                 VARIANT* pvtResult)
{
    const CCorRuntimeHostVtbl* pHostVtbl = Vtbl<CCorRuntimeHostVtbl>(pHost);
    CInterface *pSetupUnk = nullptr, *pSetup = nullptr, *pDomainUnk = nullptr, *pDomain = nullptr;
    CInterface *pAssembly = nullptr, *pType = nullptr;
    RETURN_IF_NOT_OK(held.Hold(pHostVtbl->CreateDomainSetup(pHost, &pSetupUnk), &pSetupUnk));
    RETURN_IF_NOT_OK(Query(held, pSetupUnk, c_iidAppDomainSetup, &pSetup));
    RETURN_IF_NOT_OK(Vtbl<CAppDomainSetupVtbl>(pSetup)->put_ApplicationBase(pSetup, _bstr_t(szAppBase)));
    Vtbl<CAppDomainSetupVtbl>(pSetup)->put_ApplicationName(pSetup, _bstr_t(L"Corvane"));
    RETURN_IF_NOT_OK(held.Hold(pHostVtbl->CreateDomainEx(pHost, L"Entryway", pSetupUnk, nullptr, &pDomainUnk),
                               &pDomainUnk));
    RETURN_IF_NOT_OK(Query(held, pDomainUnk, c_iidAppDomain, &pDomain));
    HRESULT hr = Vtbl<CAppDomainVtbl>(pDomain)->Load_2(pDomain, _bstr_t(c_szAssembly), &pAssembly);
    if (FAILED(hr)) FetchErrorInfo(pDomain, c_iidAppDomain);
    RETURN_IF_NOT_OK(held.Hold(hr, &pAssembly));
    RETURN_IF_NOT_OK(held.Hold(
        Vtbl<CAssemblyVtbl>(pAssembly)->GetType_3(pAssembly, _bstr_t(c_szType), 1, &pType), &pType));
    SAFEARRAY* psaArgs = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    VARIANT* pvtArgs = nullptr;
    SafeArrayAccessData(psaArgs, (void**)&pvtArgs);
    pvtArgs[0].vt = VT_BSTR;
    pvtArgs[0].bstrVal = SysAllocString(L"Corvane");
    pvtArgs[1].vt = VT_UI8;
    pvtArgs[1].ullVal = reinterpret_cast<UINT_PTR>(hwndSplash);
    SafeArrayUnaccessData(psaArgs);
    VARIANT vtTarget;
    VariantInit(&vtTarget);
    hr = Vtbl<CTypeVtbl>(pType)->InvokeMember_3(pType, _bstr_t(L"RunApplicationInAssembly"), 0x118, nullptr,
                                                vtTarget, psaArgs, pvtResult);
    SafeArrayDestroy(psaArgs);
    return hr;
}

int RunChild(const wchar_t* szDll, const wchar_t* szAppBase, const std::wstring& strMode)
{
    const HMODULE hmod = LoadLibraryW(szDll);
    if (!hmod) return 0x7F000001;
    const HWND hwndSplash =
        CreateWindowExW(0, L"STATIC", L"splash", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr, nullptr, nullptr);
    CHeld held;
    CInterface* pHost = nullptr;
    RETURN_IF_NOT_OK(strMode == L"v2" ? BindV2(hmod, held, &pHost) : BindV4(hmod, held, &pHost));
    RETURN_IF_NOT_OK(Vtbl<CCorRuntimeHostVtbl>(pHost)->Start(pHost));
    if (strMode == L"unexpected") // CreateDomain, a slot the runtime does not model
        reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(CInterface*)>(Vtbl<CCorRuntimeHostVtbl>(pHost)->s12[0])(
            pHost);
    VARIANT vtResult, vtExitCode;
    VariantInit(&vtResult);
    VariantInit(&vtExitCode);
    HRESULT hr = RunEntry(held, pHost, szAppBase, hwndSplash, &vtResult);
    if (SUCCEEDED(hr)) hr = VariantChangeType(&vtExitCode, &vtResult, 0, VT_I4);
    VariantClear(&vtResult);
    const HRESULT hrStop = Vtbl<CCorRuntimeHostVtbl>(pHost)->Stop(pHost);
    RETURN_IF_NOT_OK(hr);
    RETURN_IF_NOT_OK(hrStop);
    return vtExitCode.lVal;
}

// ---- parent: one case = scenario text, expected exit code, expected log lines ----

struct CCase
{
    const char* szName;
    std::string strScenario;
    long long nExitCode;
    std::vector<std::string>
        arLines; // each a whole line of the log, in this order; a trailing '*' matches a prefix
    std::wstring strMode = L"v4";
    bool fEmptyBase = false; // an application base without the assembly
};

void WriteWholeFile(const std::wstring& strPath, const std::string& strData)
{
    const HANDLE hFile = CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD cbWritten = 0;
    WriteFile(hFile, strData.data(), static_cast<DWORD>(strData.size()), &cbWritten, nullptr);
    CloseHandle(hFile);
}

// The tree line's hash of strData, worked out from the bytes the check wrote, to hold the runtime's to.
std::string HexFnv1a64(const std::string& strData)
{
    char sz[32];
    snprintf(sz, sizeof(sz), "%016llx", static_cast<unsigned long long>(Fnv1a64(strData)));
    return sz;
}

// The first expected line not found, in this order, in the log; empty when all are there.
std::string MissingLine(const std::string& strLog, const std::vector<std::string>& arWanted)
{
    size_t nPos = 0;
    for (const std::string& strWanted : arWanted)
    {
        const bool fPrefix = !strWanted.empty() && strWanted.back() == '*';
        const std::string strBody = fPrefix ? strWanted.substr(0, strWanted.size() - 1) : strWanted;
        bool fFound = false;
        while (!fFound && nPos < strLog.size())
        {
            const size_t nEnd = std::min(strLog.find('\n', nPos), strLog.size());
            const std::string strLine = strLog.substr(nPos, nEnd - nPos);
            nPos = nEnd + 1;
            fFound = fPrefix ? strLine.compare(0, strBody.size(), strBody) == 0 : strLine == strBody;
        }
        if (!fFound) return strWanted;
    }
    return "";
}

bool RunCase(const std::wstring& strSelf, const std::wstring& strDll, const std::wstring& strDir,
             const CCase& c)
{
    const std::wstring strScenario = strDir + L"\\scenario.txt", strLog = strDir + L"\\log.txt";
    WriteWholeFile(strScenario, c.strScenario);
    DeleteFileW(strLog.c_str());
    SetEnvironmentVariableW(L"CORVANE_FAKECLR_SCENARIO", strScenario.c_str());
    SetEnvironmentVariableW(L"CORVANE_FAKECLR_LOG", strLog.c_str());
    const std::wstring strBase = strDir + (c.fEmptyBase ? L"\\empty" : L"\\app");
    std::wstring strCommand =
        L"\"" + strSelf + L"\" --child \"" + strDll + L"\" \"" + strBase + L"\" " + c.strMode;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    DWORD dwExitCode = 0;
    if (CreateProcessW(nullptr, &strCommand[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    {
        WaitForSingleObject(pi.hProcess, 60000);
        GetExitCodeProcess(pi.hProcess, &dwExitCode);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    std::string strText;
    ReadWholeFile(strLog, strText);
    std::vector<std::string> arWanted = c.arLines;
    if (c.nExitCode != 0xFC)
        arWanted.push_back("DllMain detach live=0 exiting"); // an unexpected call never gets there
    const std::string strMissing = MissingLine(strText, arWanted);
    const bool fProblems =
        strText.find("VIOLATION") != std::string::npos || strText.find("scenario error") != std::string::npos;
    const bool fOk = static_cast<DWORD>(c.nExitCode) == dwExitCode && strMissing.empty() &&
                     (!fProblems || std::string(c.szName) == "scenario-error");
    printf("%s %s (exit 0x%08lX, expected 0x%08lX)%s%s\n", fOk ? "PASS" : "FAIL", c.szName, dwExitCode,
           static_cast<unsigned long>(c.nExitCode),
           strMissing.empty() ? "" : " missing: ", strMissing.c_str());
    if (!fOk) printf("---- log ----\n%s-------------\n", strText.c_str());
    return fOk;
}

int RunParent(const std::wstring& strSelf, const std::wstring& strDll)
{
    wchar_t szTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, szTemp);
    const std::wstring strDir =
        szTemp + std::wstring(L"fakeclr_selfcheck_") + std::to_wstring(GetCurrentProcessId());
    for (const wchar_t* szFolder : {L"", L"\\app", L"\\empty"})
        CreateDirectoryW((strDir + szFolder).c_str(), nullptr);
    // A stand-in assembly: metadata keeps namespace and type name as separate NUL-terminated strings.
    const std::string strAssembly = std::string("MZ fake assembly", 16) + '\0' +
                                    "Skarnveld.UI.Standalone.Host" + '\0' + "SkarnStandaloneApplicationHost" +
                                    '\0';
    WriteWholeFile(strDir + L"\\app\\" + c_szAssembly + L".dll", strAssembly);
    SetEnvironmentVariableW(L"WINEDLLOVERRIDES", L"mscoree=n");

    const std::string strBase = Utf8(strDir + L"\\app"), strAssemblyName = Utf8(c_szAssembly);
    const std::string strCorRuntimeHost =
        "clsid={CB2F6723-AB3A-11D2-9C40-00C04FA30A3E} iid={CB2F6722-AB3A-11D2-9C40-00C04FA30A3E}";
    const std::vector<CCase> arCases = {
        {"default-v4",
         "# all defaults\n",
         0,
         {"DllMain attach path=" + Utf8(strDll),
          "CLRCreateInstance clsid={9280188D-0E8E-4867-B30C-7FA83884E8DE} "
          "iid={D332DB9E-B9B3-4125-8207-A14884F53216}",
          "EnumerateInstalledRuntimes",
          "Next celt=1 fetched=nonnull",
          "GetVersionString cch=4096",
          "GetVersionString -> 0x00000000 cch=11",
          "Next -> 0x00000001 fetched=0",
          "GetInterface " + strCorRuntimeHost,
          "runtime \"v4.0.30319\" for CorRuntimeHost#1",
          "Start",
          "Start -> 0x00000000",
          "CreateDomainSetup",
          "put_ApplicationBase \"" + strBase + "\"",
          "put_ApplicationName \"Corvane\"",
          "CreateDomainEx name=\"Entryway\" setup=nonnull evidence=null",
          "CreateDomainEx -> 0x00000000 appbase=\"" + strBase + "\"",
          "Load_2 \"" + strAssemblyName + "\"",
          "Load_2 -> 0x00000000 path=\"" + strBase + "\\" + strAssemblyName + ".dll\"",
          "GetType_3 \"Skarnveld.UI.Standalone.Host.SkarnStandaloneApplicationHost\" throwOnError=1",
          "InvokeMember_3 name=\"RunApplicationInAssembly\" flags=0x118 binder=null target=VT_EMPTY "
          "args=[VT_BSTR \"Corvane\", VT_UI8 *",
          "app return VT_I4 0",
          "InvokeMember_3 -> 0x00000000",
          "Stop",
          "Stop -> 0x00000000",
          "Release CorRuntimeHost#1 final"}},
        {"result-negative", "entry.result = i4:-7\n", -7, {"app return VT_I4 -7"}},
        {"result-bstr-number", "entry.result = bstr:42\n", 42, {"app return VT_BSTR \"42\""}},
        {"result-not-convertible", "entry.result = bstr:abc\n", 0x80020005, {}},
        {"result-dispatch", "entry.result = dispatch\n", 0x80020005, {"Release ResultObject#1 final"}},
        {"managed-exception",
         "entry.throw = Boom\nentry.splash = destroy\n",
         0x80131604,
         {"app DestroyWindow *", "app throw 0x80131604 \"Boom\"",
          "SetErrorInfo ErrorInfo#1 \"Boom\" -> 0x00000000", "InvokeMember_3 -> 0x80131604"}},
        {"assembly-missing",
         "",
         0x80070002,
         {"Load_2 -> 0x80070002",
          "InterfaceSupportsErrorInfo AppDomain#1 iid={05F696DC-2B29-3663-AD8B-C4389CF2A713} -> 0x00000000",
          "GetDescription ErrorInfo#1"},
         L"v4",
         true},
        {"getinterface-fails",
         "GetInterface.hr = CLR_E_SHIM_RUNTIMELOAD\nGetInterface.errorinfo.qi = no runtime\n",
         0x80131700,
         {"GetInterface -> 0x80131700"}},
        {"second-runtime-unreadable",
         "GetVersionString.runtime = 2\nGetVersionString.hr = E_FAIL\n",
         0,
         {"GetVersionString -> 0x80004005", "runtime \"v2.0.50727\" for CorRuntimeHost#1"}},
        {"enumeration-ends-early",
         "Next.nth = 1\nNext.hr = S_FALSE\n",
         0x7F000002,
         {"Next -> 0x00000001 fetched=0"}},
        {"metahost-not-implemented",
         "CLRCreateInstance.hr = E_NOTIMPL\n",
         0x80004001,
         {"CLRCreateInstance -> 0x80004001"}},
        {"setup-without-interface",
         "CreateDomainSetup.qi = E_NOINTERFACE\n",
         0x80004002,
         {"QueryInterface AppDomainSetup#1 iid={27FFF232-A7A8-40DD-8D4A-734AD59FCD41} -> 0x80004002"}},
        {"legacy-v2",
         "",
         0,
         {"GetCORVersion cch=64", "GetCORVersion -> 0x00000000 written=11",
          "CorBindToRuntime version=\"v2.0.50727\" flavor=\"wks\" " + strCorRuntimeHost, "Start",
          "app return VT_I4 0"},
         L"v2"},
        {"tree-hash",
         "entry.hashtree = 1\n",
         0,
         {"app tree base=\"" + strBase + "\" files=1", "file " + strAssemblyName + ".dll " +
                                                           std::to_string(strAssembly.size()) + " " +
                                                           HexFnv1a64(strAssembly)}},
        {"scenario-error", "bogus = 1\n", 0, {"scenario error line 1: unknown key (bogus)"}},
        {"unexpected-slot",
         "",
         0xFC,
         {"Start -> 0x00000000", "FATAL unexpected call ICorRuntimeHost slot 12"},
         L"unexpected"},
    };
    int cFailed = 0;
    for (const CCase& c : arCases)
        cFailed += RunCase(strSelf, strDll, strDir, c) ? 0 : 1;
    printf("%d of %u cases failed\n", cFailed, static_cast<unsigned>(arCases.size()));
    return cFailed ? 1 : 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 5 && std::wstring(argv[1]) == L"--child") return RunChild(argv[2], argv[3], argv[4]);
    if (argc != 2)
    {
        fprintf(stderr, "usage: fakeclr_selfcheck <full path of mscoree.dll>\n");
        return 2;
    }
    wchar_t szSelf[MAX_PATH * 4], szDll[MAX_PATH * 4];
    GetModuleFileNameW(nullptr, szSelf, MAX_PATH * 4);
    // Normalised (backslashes, absolute) so it compares equal to the path the DLL logs for itself.
    if (!GetFullPathNameW(argv[1], MAX_PATH * 4, szDll, nullptr)) return 2;
    return RunParent(szSelf, szDll);
}
