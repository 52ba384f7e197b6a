// The main flow: load the runtime shim, bind a runtime, check the framework, run the application.
#include "main_flow.h"

#include "base/error_report.h"
#include "base/product.h"
#include "host/app_domain.h"
#include "host/clr_binding.h"
#include "requirements/framework_survey.h"
#include "requirements/runtime_requirements_dialog.h"

namespace corvane
{
namespace
{
// The shim from the system folder only: a "mscoree.dll" planted beside a downloaded executable, or in
// the working folder, must never be loaded in its place.
HMODULE LoadRuntimeShim()
{
    wchar_t szPath[MAX_PATH];
    const UINT cch = GetSystemDirectoryW(szPath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH - 13) return nullptr;
    wcscpy(szPath + cch, L"\\mscoree.dll");
    return LoadLibraryW(szPath);
}
} // namespace

void InitRequiredVersions(CVersion4& verClrRequired, CVersion4& verNetfxRequired)
{
    verNetfxRequired = CVersion4(CORVANE_NETFX_REQUIRED);
    verClrRequired = CVersion4(CORVANE_CLR_REQUIRED);
}

HRESULT LoadAndRunApplication()
{
    SetErrorMode(SEM_FAILCRITICALERRORS);

    CVersion4 verClrRequired;
    CVersion4 verNetfxRequired;
    InitRequiredVersions(verClrRequired, verNetfxRequired);

    const HMODULE hmodMscoree = LoadRuntimeShim();
    if (!hmodMscoree)
        return ExplainMissingRuntime(CVersion4(), verClrRequired, verNetfxRequired, E_NOINTERFACE);

    CClrBindResult clrresult;
    HRESULT hr = BindClrV4(hmodMscoree, verClrRequired, verNetfxRequired, clrresult);
    if (hr == S_FALSE) hr = BindClrV2(hmodMscoree, verClrRequired, verNetfxRequired, clrresult);
    if (hr == S_FALSE) return ExplainMissingRuntime(CVersion4(), verClrRequired, verNetfxRequired, E_FAIL);
    RETURN_IF_FAILED(hr);

    RETURN_IF_FAILED(CheckFrameworkRequirement(verClrRequired, verNetfxRequired, clrresult.verClr));
    return RunManagedApplication(clrresult.oClrHost);
}
} // namespace corvane
