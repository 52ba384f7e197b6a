// The application step: the domain "Entryway" over the content folder and the call of the managed entry.
#include "app_domain.h"

#include "launcher/error_report.h"
#include "launcher/product.h"
#include "pack/storage_extraction.h"

namespace
{
// Owns the argument array until it is destroyed.
class CSafeArray
{
public:
    explicit CSafeArray(SAFEARRAY* psa) : m_psa(psa) {}
    CSafeArray(const CSafeArray&) = delete;
    CSafeArray& operator=(const CSafeArray&) = delete;
    ~CSafeArray() { Destroy(); }
    void Destroy()
    {
        if (m_psa) SafeArrayDestroy(m_psa);
        m_psa = nullptr;
    }
    SAFEARRAY* Get() const { return m_psa; }

private:
    SAFEARRAY* m_psa;
};

// The domain over the content folder, with the product as its application name.
_AppDomainPtr CreatePrimaryDomain(ICorRuntimeHostPtr oClrHost, const _bstr_t& bsBaseDir, HRESULT& hr)
{
    IUnknownPtr oUnk;
    hr = oClrHost->CreateDomainSetup(&oUnk);
    if (FAILED(hr))
    {
        ReportHresult(hr, GetErrorInfoSource(oClrHost), L"Could not create the appdomain setup object.");
        return _AppDomainPtr();
    }
    try
    {
        IAppDomainSetupPtr oSetup(oUnk);
        CheckRuntimeCall(oSetup->put_ApplicationBase(bsBaseDir), oSetup, IID_IAppDomainSetup);
        CheckRuntimeCall(oSetup->put_ApplicationName(_bstr_t(g_szProductName)), oSetup, IID_IAppDomainSetup);

        hr = oClrHost->CreateDomainEx(L"Entryway", oSetup, nullptr, &oUnk);
    }
    catch (const _com_error& error)
    {
        ReportComError(error, L"Could not create the appdomain setup object.");
        hr = error.Error();
        return _AppDomainPtr();
    }
    if (FAILED(hr))
    {
        ReportHresult(hr, GetErrorInfoSource(oClrHost), L"Could not create the primary appdomain.");
        return _AppDomainPtr();
    }
    try
    {
        return _AppDomainPtr(oUnk);
    }
    catch (const _com_error& error)
    {
        ReportComError(error, L"Could not create the primary appdomain.");
        hr = error.Error();
        return _AppDomainPtr();
    }
}

// The default domain, whose settings then decide where the assembly is looked for.
_AppDomainPtr GetDefaultAppDomain(ICorRuntimeHostPtr oClrHost, HRESULT& hr)
{
    IUnknownPtr unkAppDomain;
    hr = oClrHost->GetDefaultDomain(&unkAppDomain);
    try
    {
        if (SUCCEEDED(hr)) return _AppDomainPtr(unkAppDomain);
    }
    catch (const _com_error& error)
    {
        hr = error.Error();
        ReportComError(error, L"Could not get the default application domain.");
        return _AppDomainPtr();
    }
    ReportHresult(hr, GetErrorInfoSource(oClrHost), L"Could not get the default application domain.");
    return _AppDomainPtr();
}

// Calls the entry method with the product name and the splash window; its result as an integer.
int InvokeEntryMethod(_TypePtr oType)
{
    CSafeArray args(SafeArrayCreateVector(VT_VARIANT, 0, 2));
    if (!args.Get()) throw _com_error(E_OUTOFMEMORY);

    LONG index = 0;
    _variant_t vtAssemblyName(g_szProductName);
    _com_util::CheckError(SafeArrayPutElement(args.Get(), &index, &vtAssemblyName));
    index = 1;
    // The handle is widened with sign extension, as a pointer-sized value converts to 64 bits.
    _variant_t vtHwnd(
        static_cast<ULONGLONG>(static_cast<LONGLONG>(reinterpret_cast<LONG_PTR>(GetMessageBoxOwner()))));
    _com_util::CheckError(SafeArrayPutElement(args.Get(), &index, &vtHwnd));

    VARIANT vtEmpty;
    VariantInit(&vtEmpty);
    _variant_t vtRetval;
    CheckRuntimeCall(
        oType->InvokeMember_3(_bstr_t(CORVANE_ENTRY_METHOD), 0x118, nullptr, vtEmpty, args.Get(), &vtRetval),
        oType, IID__Type);
    args.Destroy();

    if (vtRetval.vt != VT_INT) vtRetval.ChangeType(VT_INT);
    return vtRetval.intVal;
}
} // namespace

HRESULT RunManagedApplication(ICorRuntimeHostPtr oClrHost)
{
    HRESULT hr = oClrHost->Start();
    if (FAILED(hr))
    {
        ReportHresult(hr, GetErrorInfoSource(oClrHost), L"The CLR could not be started.");
        return hr;
    }

    const _bstr_t bsBaseDir = PrepareProductContent();
    _AppDomainPtr oAppDomain = bsBaseDir.length() != 0 ? CreatePrimaryDomain(oClrHost, bsBaseDir, hr)
                                                       : GetDefaultAppDomain(oClrHost, hr);
    if (FAILED(hr)) return hr;

    const _bstr_t bsAssName(CORVANE_ENTRY_ASSEMBLY);
    _AssemblyPtr oAssembly;
    try
    {
        CheckRuntimeCall(oAppDomain->Load_2(bsAssName, &oAssembly), oAppDomain, IID__AppDomain);
    }
    catch (const _com_error& error)
    {
        ReportComError(error,
                       L"Could not load the application core assembly \x201C" + bsAssName + L"\x201D.");
        return error.Error();
    }

    _TypePtr oType;
    try
    {
        CheckRuntimeCall(oAssembly->GetType_3(_bstr_t(CORVANE_ENTRY_TYPE), 1, &oType), oAssembly,
                         IID__Assembly);
    }
    catch (const _com_error& error)
    {
        ReportComError(error, L"Could not load the entry type from the application core assembly.");
        return error.Error();
    }

    int nResult = 0;
    try
    {
        nResult = InvokeEntryMethod(oType);
    }
    catch (const _com_error& error)
    {
        ReportComError(error,
                       L"Could not call the startup method on the entry type from the application core "
                       L"assembly.");
        return error.Error();
    }

    hr = oClrHost->Stop();
    if (FAILED(hr))
    {
        ReportHresult(hr, GetErrorInfoSource(oClrHost), L"The CLR could not be terminated.");
        return hr;
    }
    return nResult;
}
