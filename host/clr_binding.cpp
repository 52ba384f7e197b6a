// Runtime binding through the shim's meta host (version 4) or its flat exports (version 2).
#include "clr_binding.h"

#include "base/error_report.h"
#include "base/system_library.h"
#include "base/trace.h"
#include "requirements/runtime_requirements_dialog.h"

#include <objbase.h>

namespace corvane
{
namespace
{
typedef HRESULT(WINAPI* PfnClrCreateInstance)(REFCLSID clsid, REFIID riid, LPVOID* ppInterface);
typedef HRESULT(WINAPI* PfnGetCorVersion)(LPWSTR pbBuffer, DWORD cchBuffer, DWORD* dwLength);
typedef HRESULT(WINAPI* PfnCorBindToRuntime)(LPCWSTR pwszVersion, LPCWSTR pwszBuildFlavor, REFCLSID rclsid,
                                             REFIID riid, LPVOID* ppv);

const wchar_t c_szV4Headline[] =
    L"There were problems loading the Common Language Runtime through v4 interfaces.";
const wchar_t c_szV2Headline[] =
    L"There were problems loading the Common Language Runtime through v2 interfaces.";
const wchar_t c_szNoRuntimeHost[] = L"The selected runtime failed to provide the ICorRuntimeHost interface.";

// A binding message: the route's headline, two line feeds and what went wrong.
HRESULT ReportBindFailure(const wchar_t* szHeadline, HRESULT hr, IUnknown* pSource, const wchar_t* szDetail)
{
    return ReportHresult(hr, GetErrorInfoSource(pSource), Joined({szHeadline, L"\n\n", szDetail}));
}

// A call that succeeded without giving its object still fails the binding, with E_POINTER.
HRESULT FailureCode(HRESULT hr)
{
    return FAILED(hr) ? hr : E_POINTER;
}

// The runtime's version as its version text gives it; an enumerator that hands out a null element in
// place of a runtime gets E_POINTER.
HRESULT GetRuntimeInfoVersion(ICLRRuntimeInfo* pRuntimeInfo, CVersion4& ver)
{
    if (!pRuntimeInfo) return E_POINTER;
    wchar_t szVersion[4096];
    DWORD dwChars = 4096;
    RETURN_IF_FAILED(pRuntimeInfo->GetVersionString(szVersion, &dwChars));
    szVersion[4095] = L'\0';
    ver = CVersion4::ParseVersionString(szVersion);
    return S_OK;
}

// The newest installed runtime and its version (of equal versions, the one enumerated last): null when
// the meta host lists none.
HRESULT FindNewestRuntime(ICLRMetaHost* pMetaHost, ICLRRuntimeInfoPtr& oNewest, CVersion4& verNewest)
{
    IEnumUnknownPtr oEnum;
    HRESULT hr = pMetaHost->EnumerateInstalledRuntimes(&oEnum);
    if (FAILED(hr) || !oEnum)
        return ReportBindFailure(c_szV4Headline, FailureCode(hr), pMetaHost,
                                 L"The MsCorEE CLR Meta Host failed to enumerate the available runtimes.");
    ICLRRuntimeInfoPtr oRuntimeInfo;
    ULONG celt = 0;
    for (;;)
    {
        // The enumerator's elements are runtime information objects as they come, without a query.
        hr = oEnum->Next(1, reinterpret_cast<IUnknown**>(&oRuntimeInfo), &celt);
        if (hr != S_OK || celt == 0) break;
        CVersion4 ver;
        const HRESULT hrVersion = GetRuntimeInfoVersion(oRuntimeInfo, ver);
        // A runtime whose version cannot be read ends the binding; it is not skipped.
        if (FAILED(hrVersion)) return ReportHresult(hrVersion, IErrorInfoPtr(), c_szV4Headline);
        Trace(L"runtime found: %ls", static_cast<const wchar_t*>(ver.ToText(4)));
        if (!oNewest || !(ver < verNewest))
        {
            oNewest = oRuntimeInfo;
            verNewest = ver;
        }
    }
    if (FAILED(hr))
        return ReportBindFailure(
            c_szV4Headline, hr, oEnum,
            L"The enumeration of availabe runtimes in the MsCorEE CLR Meta Host could not be completed.");
    return S_OK;
}

// The newest runtime must meet the minimum; otherwise the requirements dialog explains it.
HRESULT CheckNewestRuntime(CVersion4 verNewest, CVersion4 verClrRequired, CVersion4 verNetfxRequired)
{
    return verNewest < verClrRequired
               ? ExplainMissingRuntime(verNewest, verClrRequired, verNetfxRequired, E_FAIL)
               : S_OK;
}
} // namespace

HRESULT BindClrV4(HMODULE hmodMscoree, CVersion4 verClrRequired, CVersion4 verNetfxRequired,
                  CClrBindResult& clrresult)
{
    const auto pfnClrCreateInstance = GetModuleExport<PfnClrCreateInstance>(hmodMscoree, "CLRCreateInstance");
    if (!pfnClrCreateInstance) return S_FALSE;

    ICLRMetaHostPtr oMetaHost;
    const HRESULT hr =
        pfnClrCreateInstance(CLSID_CLRMetaHost, IID_ICLRMetaHost, reinterpret_cast<void**>(&oMetaHost));
    if (hr == E_NOTIMPL) return S_FALSE;
    if (FAILED(hr) || !oMetaHost)
        return ReportBindFailure(c_szV4Headline, FailureCode(hr), nullptr,
                                 L"MsCorEE failed to provide an instance of the CLR Meta Host.");

    ICLRRuntimeInfoPtr oClrInfoSelected;
    CVersion4 verClrInfoSelected;
    RETURN_IF_FAILED(FindNewestRuntime(oMetaHost, oClrInfoSelected, verClrInfoSelected));
    if (!oClrInfoSelected)
    {
        // The box names E_FAIL and the binding ends with E_UNEXPECTED: the two codes differ by design.
        ReportBindFailure(c_szV4Headline, E_FAIL, nullptr,
                          L"The MsCorEE CLR Meta Host has no available runtimes.");
        return E_UNEXPECTED;
    }
    // A runtime is chosen exactly when the newest one meets the minimum.
    RETURN_IF_FAILED(CheckNewestRuntime(verClrInfoSelected, verClrRequired, verNetfxRequired));

    ICorRuntimeHostPtr oClrHost;
    const HRESULT hrHost = oClrInfoSelected->GetInterface(CLSID_CorRuntimeHost, IID_ICorRuntimeHost,
                                                          reinterpret_cast<void**>(&oClrHost));
    if (FAILED(hrHost) || !oClrHost)
        return ReportBindFailure(c_szV4Headline, FailureCode(hrHost), oClrInfoSelected, c_szNoRuntimeHost);
    clrresult.verClr = verClrInfoSelected;
    clrresult.oClrHost = oClrHost;
    return S_OK;
}

HRESULT BindClrV2(HMODULE hmodMscoree, CVersion4 verClrRequired, CVersion4 verNetfxRequired,
                  CClrBindResult& clrresult)
{
    const auto pfnGetCorVersion = GetModuleExport<PfnGetCorVersion>(hmodMscoree, "GetCORVersion");
    if (!pfnGetCorVersion) return S_FALSE;

    wchar_t szVersion[256] = {};
    DWORD nCchVersion = 256;
    HRESULT hr = pfnGetCorVersion(szVersion, 256, &nCchVersion);
    if (FAILED(hr))
        return ReportBindFailure(c_szV2Headline, hr, nullptr,
                                 L"MsCorEE failed to return the version of the installed CLR.");
    szVersion[255] = L'\0'; // the text must end within the buffer whatever the shim wrote
    Trace(L"runtime found (version-2 shim): %ls", szVersion);

    const CVersion4 dwMaxVersion = CVersion4::ParseVersionString(szVersion);
    RETURN_IF_FAILED(CheckNewestRuntime(dwMaxVersion, verClrRequired, verNetfxRequired));

    const auto pfnCorBindToRuntime = GetModuleExport<PfnCorBindToRuntime>(hmodMscoree, "CorBindToRuntime");
    if (!pfnCorBindToRuntime)
        return ReportBindFailure(c_szV2Headline, E_NOINTERFACE, nullptr,
                                 L"MsCorEE is missing the CorBindToRuntime exported function.");

    IUnknownPtr oUnk;
    hr = pfnCorBindToRuntime(szVersion, nullptr, CLSID_CorRuntimeHost, IID_ICorRuntimeHost,
                             reinterpret_cast<void**>(&oUnk));
    ICorRuntimeHostPtr oClrHost;
    if (oUnk)
    {
        // An object without the interface leaves no host; any other failure of the query ends the binding.
        const HRESULT hrQuery =
            oUnk->QueryInterface(IID_ICorRuntimeHost, reinterpret_cast<void**>(&oClrHost));
        if (FAILED(hrQuery) && hrQuery != E_NOINTERFACE)
            return ReportHresult(hrQuery, IErrorInfoPtr(), c_szV2Headline);
    }
    if (FAILED(hr) || !oClrHost)
        return ReportBindFailure(c_szV2Headline, FailureCode(hr), nullptr, c_szNoRuntimeHost);
    clrresult.verClr = dwMaxVersion;
    clrresult.oClrHost = oClrHost;
    return S_OK;
}
} // namespace corvane
