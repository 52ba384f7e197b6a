// The main flow: load the runtime shim, bind a runtime, check the framework, run the application.
#include "main_flow.h"

#include "host/app_domain.h"
#include "host/clr_binding.h"
#include "product.h"
#include "requirements/framework_survey.h"
#include "requirements/runtime_requirements_dialog.h"

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
    {
        ShowRuntimeRequirementsDialog(CVersion4(), CVersion4(), FALSE, verClrRequired, verNetfxRequired);
        return E_NOINTERFACE;
    }

    CClrBindResult clrresult = BindClrV4(hmodMscoree, verClrRequired, verNetfxRequired);
    if (!clrresult.oClrHost)
    {
        if (FAILED(clrresult.hr)) return clrresult.hr;
        clrresult = BindClrV2(hmodMscoree, verClrRequired, verNetfxRequired);
        if (!clrresult.oClrHost)
        {
            if (FAILED(clrresult.hr)) return clrresult.hr;
            ShowRuntimeRequirementsDialog(CVersion4(), CVersion4(), FALSE, verClrRequired, verNetfxRequired);
            return E_FAIL;
        }
    }

    const HRESULT hr = CheckFrameworkRequirement(verClrRequired, verNetfxRequired, clrresult.verClr);
    if (FAILED(hr)) return hr;
    return RunManagedApplication(clrresult.oClrHost);
}
