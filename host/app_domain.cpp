// The application step: the runtime started and stopped, the domain "Entryway" over the content folder, and
// the call of the managed entry.
#include "app_domain.h"

#include "base/error_report.h"
#include "base/product.h"
#include "base/unique_any.h"

namespace corvane
{
namespace
{
const wchar_t c_szSetupFailure[] = L"Could not create the appdomain setup object.";
const wchar_t c_szPrimaryDomainFailure[] = L"Could not create the primary appdomain.";
const wchar_t c_szDefaultDomainFailure[] = L"Could not get the default application domain.";
const wchar_t c_szEntryTypeFailure[] = L"Could not load the entry type from the application core assembly.";
const wchar_t c_szEntryCallFailure[] =
    L"Could not call the startup method on the entry type from the application core assembly.";

// The _AppDomain of a domain object. A domain that does not offer it (or no object at all) is left null,
// which the assembly load then reports as E_POINTER; any other failure of the query is reported here.
HRESULT QueryAppDomain(IUnknown* pUnk, const wchar_t* szSentence, _AppDomainPtr& oAppDomain)
{
    if (!pUnk) return S_OK;
    const HRESULT hr = pUnk->QueryInterface(IID__AppDomain, reinterpret_cast<void**>(&oAppDomain));
    if (FAILED(hr) && hr != E_NOINTERFACE) return ReportHresult(hr, IErrorInfoPtr(), szSentence);
    return S_OK;
}

// The setup object with the content folder as application base and the product as application name.
HRESULT CreateDomainSetup(ICorRuntimeHost* pClrHost, const _bstr_t& bsBaseDir, IAppDomainSetupPtr& oSetup)
{
    IUnknownPtr oUnk;
    HRESULT hr = pClrHost->CreateDomainSetup(&oUnk);
    if (FAILED(hr)) return ReportHresult(hr, GetErrorInfoSource(pClrHost), c_szSetupFailure);
    // An object without the setup interface, or none at all, has no properties to set: E_POINTER.
    hr = oUnk ? oUnk->QueryInterface(IID_IAppDomainSetup, reinterpret_cast<void**>(&oSetup)) : E_POINTER;
    if (hr == E_NOINTERFACE) hr = E_POINTER;
    if (FAILED(hr)) return ReportHresult(hr, IErrorInfoPtr(), c_szSetupFailure);

    hr = oSetup->put_ApplicationBase(bsBaseDir);
    if (FAILED(hr)) return ReportHresult(hr, GetCallErrorInfo(oSetup, IID_IAppDomainSetup), c_szSetupFailure);
    hr = oSetup->put_ApplicationName(_bstr_t(g_szProductName));
    if (FAILED(hr)) return ReportHresult(hr, GetCallErrorInfo(oSetup, IID_IAppDomainSetup), c_szSetupFailure);
    return S_OK;
}

// The domain over the content folder, with the product as its application name.
HRESULT CreatePrimaryDomain(ICorRuntimeHost* pClrHost, const _bstr_t& bsBaseDir, _AppDomainPtr& oAppDomain)
{
    IAppDomainSetupPtr oSetup;
    RETURN_IF_FAILED(CreateDomainSetup(pClrHost, bsBaseDir, oSetup));
    IUnknownPtr oUnk;
    const HRESULT hr = pClrHost->CreateDomainEx(L"Entryway", oSetup, nullptr, &oUnk);
    if (FAILED(hr)) return ReportHresult(hr, GetErrorInfoSource(pClrHost), c_szPrimaryDomainFailure);
    return QueryAppDomain(oUnk, c_szPrimaryDomainFailure, oAppDomain);
}

// The default domain, whose settings then decide where the assembly is looked for.
HRESULT GetDefaultAppDomain(ICorRuntimeHost* pClrHost, _AppDomainPtr& oAppDomain)
{
    IUnknownPtr unkAppDomain;
    const HRESULT hr = pClrHost->GetDefaultDomain(&unkAppDomain);
    if (FAILED(hr)) return ReportHresult(hr, GetErrorInfoSource(pClrHost), c_szDefaultDomainFailure);
    return QueryAppDomain(unkAppDomain, c_szDefaultDomainFailure, oAppDomain);
}

// The argument array of the entry method: the product name and the splash window (or 0).
HRESULT BuildEntryArguments(CUniqueSafeArray& args)
{
    args.Reset(SafeArrayCreateVector(VT_VARIANT, 0, 2));
    if (!args.IsValid()) return E_OUTOFMEMORY;
    LONG index = 0;
    _variant_t vtAssemblyName(g_szProductName);
    RETURN_IF_FAILED(SafeArrayPutElement(args.Get(), &index, &vtAssemblyName));
    index = 1;
    // The handle is widened with sign extension, as a pointer-sized value converts to 64 bits.
    _variant_t vtHwnd(
        static_cast<ULONGLONG>(static_cast<LONGLONG>(reinterpret_cast<LONG_PTR>(GetMessageBoxOwner()))));
    return SafeArrayPutElement(args.Get(), &index, &vtHwnd);
}

} // namespace

HRESULT StartRuntime(ICorRuntimeHost* pClrHost)
{
    const HRESULT hr = pClrHost->Start();
    if (FAILED(hr)) return ReportHresult(hr, GetErrorInfoSource(pClrHost), L"The CLR could not be started.");
    return S_OK;
}

HRESULT CreateApplicationDomain(ICorRuntimeHost* pClrHost, const _bstr_t& bsContentFolder,
                                _AppDomainPtr& oAppDomain)
{
    if (bsContentFolder.length() > 0) return CreatePrimaryDomain(pClrHost, bsContentFolder, oAppDomain);
    return GetDefaultAppDomain(pClrHost, oAppDomain);
}

// The entry type of the core assembly, loaded into the domain. A missing domain or assembly (a call
// that succeeded without its object) fails the step that needs it, with E_POINTER.
HRESULT LoadEntryType(_AppDomain* pAppDomain, _TypePtr& oType)
{
    const _bstr_t bsAssName(CORVANE_ENTRY_ASSEMBLY);
    const _bstr_t bsAssemblyFailure =
        Joined({L"Could not load the application core assembly ", Quoted(bsAssName), L"."});
    if (!pAppDomain) return ReportHresult(E_POINTER, IErrorInfoPtr(), bsAssemblyFailure);
    _AssemblyPtr oAssembly;
    HRESULT hr = pAppDomain->Load_2(bsAssName, &oAssembly);
    if (FAILED(hr)) return ReportHresult(hr, GetCallErrorInfo(pAppDomain, IID__AppDomain), bsAssemblyFailure);

    if (!oAssembly) return ReportHresult(E_POINTER, IErrorInfoPtr(), c_szEntryTypeFailure);
    hr = oAssembly->GetType_3(_bstr_t(CORVANE_ENTRY_TYPE), 1, &oType);
    if (FAILED(hr))
        return ReportHresult(hr, GetCallErrorInfo(oAssembly, IID__Assembly), c_szEntryTypeFailure);
    return S_OK;
}

// Calls the entry method with the product name and the splash window; its result as an integer.
HRESULT InvokeEntryMethod(_Type* pType, int& nResult)
{
    if (!pType) return ReportHresult(E_POINTER, IErrorInfoPtr(), c_szEntryCallFailure);
    CUniqueSafeArray args;
    HRESULT hr = BuildEntryArguments(args);
    if (FAILED(hr)) return ReportHresult(hr, IErrorInfoPtr(), c_szEntryCallFailure);

    VARIANT vtEmpty;
    VariantInit(&vtEmpty);
    _variant_t vtRetval;
    hr = pType->InvokeMember_3(_bstr_t(CORVANE_ENTRY_METHOD), 0x118, nullptr, vtEmpty, args.Get(), &vtRetval);
    if (FAILED(hr)) return ReportHresult(hr, GetCallErrorInfo(pType, IID__Type), c_szEntryCallFailure);
    args.Reset();

    if (vtRetval.vt != VT_INT) hr = VariantChangeType(&vtRetval, &vtRetval, 0, VT_INT);
    if (FAILED(hr)) return ReportHresult(hr, IErrorInfoPtr(), c_szEntryCallFailure);
    nResult = vtRetval.intVal;
    return S_OK;
}
HRESULT StopRuntime(ICorRuntimeHost* pClrHost)
{
    const HRESULT hr = pClrHost->Stop();
    if (FAILED(hr))
        return ReportHresult(hr, GetErrorInfoSource(pClrHost), L"The CLR could not be terminated.");
    return S_OK;
}
} // namespace corvane
