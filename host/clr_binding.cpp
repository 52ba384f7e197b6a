// Runtime binding through the shim's meta host (version 4) or its flat exports (version 2).
#include "clr_binding.h"

#include "launcher/error_report.h"
#include "requirements/runtime_requirements_dialog.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace
{
typedef HRESULT(WINAPI* PfnClrCreateInstance)(REFCLSID clsid, REFIID riid, LPVOID* ppInterface);
typedef HRESULT(WINAPI* PfnGetCorVersion)(LPWSTR pbBuffer, DWORD cchBuffer, DWORD* dwLength);
typedef HRESULT(WINAPI* PfnCorBindToRuntime)(LPCWSTR pwszVersion, LPCWSTR pwszBuildFlavor, REFCLSID rclsid,
                                             REFIID riid, LPVOID* ppv);

template <class TProc> TProc GetShimExport(HMODULE hmodMscoree, const char* szName)
{
    return reinterpret_cast<TProc>(reinterpret_cast<void*>(GetProcAddress(hmodMscoree, szName)));
}

const wchar_t c_szV4Headline[] =
    L"There were problems loading the Common Language Runtime through v4 interfaces.";
const wchar_t c_szV2Headline[] =
    L"There were problems loading the Common Language Runtime through v2 interfaces.";

_bstr_t DetailedMessage(const wchar_t* szHeadline, const wchar_t* szDetail)
{
    return _bstr_t(szHeadline) + L"\n\n" + szDetail;
}

// A call that succeeded without giving its object still fails the binding, with E_POINTER.
HRESULT FailureCode(HRESULT hr)
{
    return FAILED(hr) ? hr : E_POINTER;
}

CClrBindResult ReportV4Failure(HRESULT hr, IUnknown* pSource, const wchar_t* szDetail)
{
    ReportHresult(hr, GetErrorInfoSource(pSource), DetailedMessage(c_szV4Headline, szDetail));
    return CClrBindResult(hr);
}

CClrBindResult BindNewestRuntime(HMODULE hmodMscoree, CVersion4 verClrRequired, CVersion4 verNetfxRequired)
{
    const auto pfnClrCreateInstance = GetShimExport<PfnClrCreateInstance>(hmodMscoree, "CLRCreateInstance");
    if (!pfnClrCreateInstance) return CClrBindResult(S_FALSE);

    ICLRMetaHostPtr oMetaHost;
    HRESULT hr =
        pfnClrCreateInstance(CLSID_CLRMetaHost, IID_ICLRMetaHost, reinterpret_cast<void**>(&oMetaHost));
    if (hr == E_NOTIMPL) return CClrBindResult(S_FALSE);
    if (FAILED(hr) || !oMetaHost)
        return ReportV4Failure(FailureCode(hr), nullptr,
                               L"MsCorEE failed to provide an instance of the CLR Meta Host.");

    IEnumUnknownPtr oEnum;
    hr = oMetaHost->EnumerateInstalledRuntimes(&oEnum);
    if (FAILED(hr) || !oEnum)
        return ReportV4Failure(FailureCode(hr), oMetaHost,
                               L"The MsCorEE CLR Meta Host failed to enumerate the available runtimes.");

    std::vector<std::pair<ICLRRuntimeInfoPtr, CVersion4>> arRuntimeInfos;
    ICLRRuntimeInfoPtr oRuntimeInfo;
    ULONG celt = 0;
    for (;;)
    {
        // The enumerator's elements are runtime information objects as they come, without a query.
        hr = oEnum->Next(1, reinterpret_cast<IUnknown**>(&oRuntimeInfo), &celt);
        if (hr != S_OK || celt == 0) break;
        arRuntimeInfos.emplace_back(oRuntimeInfo, GetRuntimeInfoVersion(oRuntimeInfo));
    }
    if (FAILED(hr))
        return ReportV4Failure(
            hr, oEnum,
            L"The enumeration of availabe runtimes in the MsCorEE CLR Meta Host could not be "
            L"completed.");
    if (arRuntimeInfos.empty())
    {
        ReportHresult(
            E_FAIL, IErrorInfoPtr(),
            DetailedMessage(c_szV4Headline, L"The MsCorEE CLR Meta Host has no available runtimes."));
        return CClrBindResult(E_UNEXPECTED);
    }

    std::sort(arRuntimeInfos.begin(), arRuntimeInfos.end(),
              [](const auto& a, const auto& b) { return a.second < b.second; });
    // Sorted ascending: a runtime is chosen exactly when the newest one meets the minimum.
    const auto& newest = arRuntimeInfos.back();
    if (newest.second < verClrRequired)
    {
        ShowRuntimeRequirementsDialog(newest.second, CVersion4(), FALSE, verClrRequired, verNetfxRequired);
        return CClrBindResult(E_FAIL);
    }
    const ICLRRuntimeInfoPtr oClrInfoSelected = newest.first;
    const CVersion4 verClrInfoSelected = newest.second;
    arRuntimeInfos.clear();

    ICorRuntimeHostPtr oClrHost;
    hr = oClrInfoSelected->GetInterface(CLSID_CorRuntimeHost, IID_ICorRuntimeHost,
                                        reinterpret_cast<void**>(&oClrHost));
    if (FAILED(hr) || !oClrHost)
        return ReportV4Failure(FailureCode(hr), oClrInfoSelected,
                               L"The selected runtime failed to provide the ICorRuntimeHost interface.");
    return CClrBindResult(S_OK, verClrInfoSelected, oClrHost);
}

CClrBindResult BindInstalledRuntime(HMODULE hmodMscoree, CVersion4 verClrRequired, CVersion4 verNetfxRequired)
{
    const auto pfnGetCorVersion = GetShimExport<PfnGetCorVersion>(hmodMscoree, "GetCORVersion");
    if (!pfnGetCorVersion) return CClrBindResult(S_FALSE);

    wchar_t szVersion[256] = {};
    DWORD nCchVersion = 256;
    HRESULT hr = pfnGetCorVersion(szVersion, 256, &nCchVersion);
    if (FAILED(hr))
    {
        ReportHresult(
            hr, IErrorInfoPtr(),
            DetailedMessage(c_szV2Headline, L"MsCorEE failed to return the version of the installed CLR."));
        return CClrBindResult(hr);
    }
    szVersion[255] = L'\0'; // the text must end within the buffer whatever the shim wrote

    const CVersion4 dwMaxVersion = CVersion4::ParseVersionString(szVersion);
    if (dwMaxVersion < verClrRequired)
    {
        ShowRuntimeRequirementsDialog(dwMaxVersion, CVersion4(), FALSE, verClrRequired, verNetfxRequired);
        return CClrBindResult(E_FAIL);
    }

    const auto pfnCorBindToRuntime = GetShimExport<PfnCorBindToRuntime>(hmodMscoree, "CorBindToRuntime");
    if (!pfnCorBindToRuntime)
    {
        ReportHresult(
            E_NOINTERFACE, IErrorInfoPtr(),
            DetailedMessage(c_szV2Headline, L"MsCorEE is missing the CorBindToRuntime exported function."));
        return CClrBindResult(E_NOINTERFACE);
    }

    IUnknownPtr oUnk;
    hr = pfnCorBindToRuntime(szVersion, nullptr, CLSID_CorRuntimeHost, IID_ICorRuntimeHost,
                             reinterpret_cast<void**>(&oUnk));
    const ICorRuntimeHostPtr oClrHost(oUnk); // E_NOINTERFACE leaves it null; other failures raise
    if (FAILED(hr) || !oClrHost)
    {
        ReportHresult(
            FailureCode(hr), IErrorInfoPtr(),
            DetailedMessage(c_szV2Headline,
                            L"The selected runtime failed to provide the ICorRuntimeHost interface."));
        return CClrBindResult(FailureCode(hr));
    }
    return CClrBindResult(S_OK, dwMaxVersion, oClrHost);
}
} // namespace

CVersion4 GetRuntimeInfoVersion(ICLRRuntimeInfoPtr oRuntimeInfo)
{
    wchar_t szVersion[4096];
    DWORD dwChars = 4096;
    const HRESULT hr = oRuntimeInfo->GetVersionString(szVersion, &dwChars);
    if (FAILED(hr)) throw _com_error(hr);
    szVersion[4095] = L'\0';
    return CVersion4::ParseVersionString(szVersion);
}

CClrBindResult BindClrV4(HMODULE hmodMscoree, CVersion4 verClrRequired, CVersion4 verNetfxRequired)
{
    try
    {
        return BindNewestRuntime(hmodMscoree, verClrRequired, verNetfxRequired);
    }
    catch (const _com_error& error)
    {
        ReportComError(error, c_szV4Headline);
        return CClrBindResult(error.Error());
    }
}

CClrBindResult BindClrV2(HMODULE hmodMscoree, CVersion4 verClrRequired, CVersion4 verNetfxRequired)
{
    try
    {
        return BindInstalledRuntime(hmodMscoree, verClrRequired, verNetfxRequired);
    }
    catch (const _com_error& error)
    {
        ReportComError(error, c_szV2Headline);
        return CClrBindResult(error.Error());
    }
}
