// fakeclr_objects.cpp: the simulated runtime's COM objects, its exports and DllMain, driven by the scenario.
// Only the methods the launcher calls are modelled; any other slot ends the process with a FATAL line.
#include "fakeclr_decl.h"
#include "fakeclr_scenario.h"
#include "../harness/fnv1a.h"

#include <algorithm>
#include <array>
#include <memory>
#include <set>
#include <utility>

namespace fakeclr
{
namespace
{

const HRESULT c_hrRuntimeLoad = static_cast<HRESULT>(0x80131700);    // CLR_E_SHIM_RUNTIMELOAD
const HRESULT c_hrDomainUnloaded = static_cast<HRESULT>(0x80131014); // COR_E_APPDOMAINUNLOADED

class CObject;

// What a COM pointer points at: a vtable and the object it belongs to.
struct CPart
{
    const void* pVtbl;
    CObject* pOwner;
};

// What the objects of one class share.
struct CClass
{
    template <class TVtbl>
    CClass(const char* szName, const char* szInterface, const GUID& iid, TVtbl* pVtbl, bool fManaged)
        : szName(szName), szInterface(szInterface), iid(iid), pVtbl(pVtbl), cbVtbl(sizeof(TVtbl)),
          fManaged(fManaged)
    {
    }

    const char* szName;      // in the log as <szName>#<n>
    const char* szInterface; // the interface the object is made for, as FATAL lines name it
    const GUID& iid;
    void* pVtbl;
    size_t cbVtbl;
    bool fManaged; // made by the runtime: ISupportErrorInfo says S_OK for every interface, as the CLR's do
};

extern CMetaHostVtbl g_vtblMetaHost;
extern CEnumUnknownVtbl g_vtblRuntimeEnum;
extern CRuntimeInfoVtbl g_vtblRuntimeInfo;
extern CCorRuntimeHostVtbl g_vtblRuntimeHost;
extern CAppDomainSetupVtbl g_vtblDomainSetup;
extern CAppDomainVtbl g_vtblAppDomain;
extern CAssemblyVtbl g_vtblAssembly;
extern CTypeVtbl g_vtblType;
extern CDispatchVtbl g_vtblResult;
extern CSupportErrorInfoVtbl g_vtblSupportErrorInfo;
extern CErrorInfoVtbl g_vtblErrorInfo;

const CClass g_classMetaHost("MetaHost", "ICLRMetaHost", c_iidClrMetaHost, &g_vtblMetaHost, false);
const CClass g_classRuntimeEnum("RuntimeEnum", "IEnumUnknown", c_iidEnumUnknown, &g_vtblRuntimeEnum, false);
const CClass g_classRuntimeInfo("RuntimeInfo", "ICLRRuntimeInfo", c_iidClrRuntimeInfo, &g_vtblRuntimeInfo,
                                false);
const CClass g_classRuntimeHost("CorRuntimeHost", "ICorRuntimeHost", c_iidCorRuntimeHost, &g_vtblRuntimeHost,
                                false);
const CClass g_classDomainSetup("AppDomainSetup", "IAppDomainSetup", c_iidAppDomainSetup, &g_vtblDomainSetup,
                                true);
const CClass g_classAppDomain("AppDomain", "_AppDomain", c_iidAppDomain, &g_vtblAppDomain, true);
const CClass g_classAssembly("Assembly", "_Assembly", c_iidAssembly, &g_vtblAssembly, true);
const CClass g_classType("Type", "_Type", c_iidType, &g_vtblType, true);
const CClass g_classResult("ResultObject", "IDispatch", c_iidDispatch, &g_vtblResult, true);
const CClass g_classErrorInfo("ErrorInfo", "IErrorInfo", c_iidErrorInfo, &g_vtblErrorInfo, false);

std::set<CObject*> g_setLive;
std::map<std::string, int> g_mapSerials;

// One C++ object behind up to three COM interface pointers: its own, ISupportErrorInfo and IErrorInfo.
class CObject
{
public:
    explicit CObject(const CClass& cls)
        : m_partPrimary{cls.pVtbl, this}, m_partSupport{&g_vtblSupportErrorInfo, this},
          m_partErrorInfo{&g_vtblErrorInfo, this}, m_class(cls), m_fSupportInterface(cls.fManaged)
    {
        m_strName = std::string(cls.szName) + "#" + std::to_string(++g_mapSerials[cls.szName]);
        g_setLive.insert(this);
        LogF("new %s", m_strName.c_str());
    }
    virtual ~CObject() { g_setLive.erase(this); }
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;

    CInterface* Interface() { return reinterpret_cast<CInterface*>(&m_partPrimary); }

    CPart m_partPrimary, m_partSupport, m_partErrorInfo;
    const CClass& m_class;
    std::string m_strName;
    LONG m_cRefs = 1;
    HRESULT m_hrQi = S_OK;                // a failure: QueryInterface for the class's interface fails with it
    bool m_fSupportInterface;             // answers QueryInterface(IID_ISupportErrorInfo)
    HRESULT m_hrSupportsErrorInfo = S_OK; // InterfaceSupportsErrorInfo's answer
    GUID m_iidSupported{};                // the interface it answers S_OK for, unless managed
    bool m_fOfferErrorInfo = false;       // answers QueryInterface(IID_IErrorInfo)
    std::wstring m_strErrorText;
    GUID m_iidError{};
};

template <class T> T* Self(CInterface* p)
{
    return static_cast<T*>(reinterpret_cast<CPart*>(p)->pOwner);
}

const char* Nullness(const void* p)
{
    return p ? "nonnull" : "null";
}

HRESULT Violation(const std::string& strWhat, HRESULT hr)
{
    LogF("VIOLATION %s", strWhat.c_str());
    return hr;
}

// ---- IUnknown, for every object ----

HRESULT STDMETHODCALLTYPE QueryInterface(CInterface* p, REFIID riid, void** ppv)
{
    CObject* pObject = Self<CObject>(p);
    HRESULT hr = E_NOINTERFACE;
    CPart* pPart = nullptr;
    if (!ppv)
        hr = E_POINTER;
    else if (riid == c_iidUnknown || (riid == pObject->m_class.iid && SUCCEEDED(pObject->m_hrQi)))
        pPart = &pObject->m_partPrimary;
    else if (riid == pObject->m_class.iid)
        hr = pObject->m_hrQi;
    else if (riid == c_iidSupportErrorInfo && pObject->m_fSupportInterface)
        pPart = &pObject->m_partSupport;
    else if (riid == c_iidErrorInfo && pObject->m_fOfferErrorInfo)
        pPart = &pObject->m_partErrorInfo;
    if (pPart)
    {
        InterlockedIncrement(&pObject->m_cRefs);
        hr = S_OK;
    }
    if (ppv) *ppv = pPart;
    LogF("QueryInterface %s iid=%s -> %s", pObject->m_strName.c_str(), GuidText(riid).c_str(),
         HrText(hr).c_str());
    return hr;
}

ULONG STDMETHODCALLTYPE AddRef(CInterface* p)
{
    return InterlockedIncrement(&Self<CObject>(p)->m_cRefs);
}

ULONG STDMETHODCALLTYPE Release(CInterface* p)
{
    CObject* pObject = Self<CObject>(p);
    const LONG cRefs = InterlockedDecrement(&pObject->m_cRefs);
    if (cRefs == 0)
    {
        LogF("Release %s final", pObject->m_strName.c_str());
        delete pObject;
    }
    if (cRefs < 0) Violation("Release " + pObject->m_strName + " below zero", S_OK);
    return static_cast<ULONG>(std::max<LONG>(cRefs, 0));
}

const CUnknownSlots c_unknown = {QueryInterface, AddRef, Release};

// ---- error information ----

HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(CInterface* p, REFIID riid)
{
    CObject* pObject = Self<CObject>(p);
    const HRESULT hr = pObject->m_hrSupportsErrorInfo == S_OK &&
                               (pObject->m_class.fManaged || riid == pObject->m_iidSupported)
                           ? S_OK
                           : S_FALSE;
    LogF("InterfaceSupportsErrorInfo %s iid=%s -> %s", pObject->m_strName.c_str(), GuidText(riid).c_str(),
         HrText(hr).c_str());
    return hr;
}

HRESULT STDMETHODCALLTYPE GetDescription(CInterface* p, BSTR* pbs)
{
    CObject* pObject = Self<CObject>(p);
    LogF("GetDescription %s", pObject->m_strName.c_str());
    if (!pbs) return E_POINTER;
    // An empty description is an empty string, not a NULL one.
    *pbs =
        SysAllocStringLen(pObject->m_strErrorText.data(), static_cast<UINT>(pObject->m_strErrorText.size()));
    return S_OK;
}

// Puts an error object on the thread, as the runtime does when a call fails.
void SetThreadError(const std::wstring& strText, REFIID iidFailed)
{
    CObject* pError = new CObject(g_classErrorInfo);
    pError->m_strErrorText = strText;
    pError->m_iidError = iidFailed;
    const HRESULT hr = SetErrorInfo(0, reinterpret_cast<IErrorInfo*>(pError->Interface()));
    LogF("SetErrorInfo %s %s -> %s", pError->m_strName.c_str(), Quote(strText.c_str()).c_str(),
         HrText(hr).c_str());
    Release(pError->Interface());
}

// A failure the simulated runtime finds itself, reported the way the CLR reports managed exceptions.
HRESULT RuntimeFailure(HRESULT hr, const std::wstring& strMessage, REFIID iidFailed)
{
    SetThreadError(strMessage, iidFailed);
    return hr;
}

// ---- one call of a modelled method, from its call line to its result line ----

class CCall
{
public:
    // Clears the thread's error object as every callee does, logs the call line and finds the rule.
    explicit CCall(const char* szName, const std::string& strArgs = std::string(), int nRuntime = 0)
        : m_szName(szName)
    {
        SetErrorInfo(0, nullptr);
        LogF("%s%s%s", szName, strArgs.empty() ? "" : " ", strArgs.c_str());
        m_pRule = RuleFor(szName, nRuntime);
    }

    HRESULT Return(HRESULT hr, const std::string& strExtra = std::string()) const
    {
        LogF("%s -> %s%s%s", m_szName, HrText(hr).c_str(), strExtra.empty() ? "" : " ", strExtra.c_str());
        return hr;
    }

    const CCallRule* Rule() const { return m_pRule; }
    bool ScenarioFails() const { return m_pRule && m_pRule->fHasHr && FAILED(m_pRule->hr); }

    // The failure the scenario asks for, with the error information it describes on the failing object
    // (none for an export).
    HRESULT Fail(CObject* pObject, REFIID iidFailed) const
    {
        const CCallRule& rule = *m_pRule;
        if (rule.fHasErrorInfo) SetThreadError(rule.strErrorInfo, iidFailed);
        if (rule.fHasErrorInfo && pObject)
        {
            pObject->m_fSupportInterface = rule.fSupportInterface;
            pObject->m_hrSupportsErrorInfo = rule.hrSupportsErrorInfo;
            pObject->m_iidSupported = iidFailed;
        }
        if (rule.fHasQiErrorInfo && pObject)
        {
            pObject->m_fOfferErrorInfo = true;
            pObject->m_strErrorText = rule.strQiErrorInfo;
            pObject->m_iidError = iidFailed;
        }
        return rule.hr;
    }

    // For a call with an out pointer, before it does its work: true when a NULL out pointer, or a failure
    // or a NULL result the scenario asks for, settles the call; *phr is then its result, logged.
    bool Settled(CObject* pObject, REFIID iidFailed, void* ppOut, HRESULT* phr) const
    {
        if (!ppOut) *phr = Return(E_POINTER);
        if (!ppOut) return true;
        *static_cast<void**>(ppOut) = nullptr;
        if (ScenarioFails())
            *phr = Return(Fail(pObject, iidFailed));
        else if (m_pRule && m_pRule->fNullOut)
            *phr = Return(S_OK, "out=null");
        else
            return false;
        return true;
    }

    // Hands a new object to the caller as it is, taking over its reference.
    void Give(CObject* pObject, void* ppOut) const
    {
        if (m_pRule) pObject->m_hrQi = m_pRule->hrQi;
        *static_cast<CInterface**>(ppOut) = pObject->Interface();
    }

    // Hands a new object to the caller through interface riid.
    HRESULT HandOut(CObject* pObject, REFIID riid, void* ppOut) const
    {
        if (m_pRule) pObject->m_hrQi = m_pRule->hrQi;
        const HRESULT hr = QueryInterface(pObject->Interface(), riid, static_cast<void**>(ppOut));
        Release(pObject->Interface());
        return hr;
    }

private:
    const char* m_szName;
    const CCallRule* m_pRule;
};

// ---- unexpected slots ----

// With callee-popped arguments of unknown size such a call cannot return safely: the process ends.
template <size_t nSlot> void STDMETHODCALLTYPE UnexpectedCall(CInterface* p)
{
    const CObject* pObject = Self<CObject>(p);
    const bool fErrorInfo = reinterpret_cast<const CPart*>(p) == &pObject->m_partErrorInfo;
    LogF("FATAL unexpected call %s slot %d", fErrorInfo ? "IErrorInfo" : pObject->m_class.szInterface,
         static_cast<int>(nSlot));
    TerminateProcess(GetCurrentProcess(), 0xFC);
}

template <size_t... nSlots>
std::array<SlotFn, sizeof...(nSlots)> UnexpectedCalls(std::index_sequence<nSlots...>)
{
    return {{reinterpret_cast<SlotFn>(&UnexpectedCall<nSlots>)...}};
}

void FillUnexpectedSlots(const CClass& cls)
{
    static const auto c_arCalls =
        UnexpectedCalls(std::make_index_sequence<sizeof(CTypeVtbl) / sizeof(SlotFn)>());
    SlotFn* pSlots = static_cast<SlotFn*>(cls.pVtbl);
    for (size_t n = 0; n < cls.cbVtbl / sizeof(SlotFn); ++n)
        if (!pSlots[n]) pSlots[n] = c_arCalls[n];
}

// ---- the objects' state ----

struct CRuntimeState
{
    bool fStarted = false;
    bool fStopped = false;
};

class CRuntimeEnum : public CObject
{
public:
    CRuntimeEnum() : CObject(g_classRuntimeEnum) {}
    size_t m_nNext = 0;
};

class CRuntimeInfo : public CObject
{
public:
    CRuntimeInfo(const std::wstring& strVersion, int nIndex)
        : CObject(g_classRuntimeInfo), m_strVersion(strVersion), m_nIndex(nIndex)
    {
    }
    std::wstring m_strVersion;
    int m_nIndex; // position in the scenario's runtime list, from 1
};

class CRuntimeHost : public CObject
{
public:
    explicit CRuntimeHost(const std::wstring& strVersion) : CObject(g_classRuntimeHost)
    {
        LogF("runtime %s for %s", Quote(strVersion.c_str()).c_str(), m_strName.c_str());
    }

    // Domains and setups need a running runtime.
    HRESULT NeedRunning(const char* szCall) const
    {
        if (!m_pState->fStarted) return Violation(std::string(szCall) + " before Start", E_UNEXPECTED);
        if (m_pState->fStopped) return Violation(std::string(szCall) + " after Stop", E_UNEXPECTED);
        return S_OK;
    }

    std::shared_ptr<CRuntimeState> m_pState = std::make_shared<CRuntimeState>();
};

class CDomainSetup : public CObject
{
public:
    CDomainSetup() : CObject(g_classDomainSetup) {}
    std::wstring m_strApplicationBase;
};

// A domain, an assembly or a type: objects of a runtime that lives on after them.
class CManaged : public CObject
{
public:
    CManaged(const CClass& cls, std::shared_ptr<CRuntimeState> pState, const std::wstring& strAppBase)
        : CObject(cls), m_pState(std::move(pState)), m_strAppBase(strAppBase)
    {
    }

    // Calls on objects of a stopped runtime fail as the CLR fails them.
    HRESULT Gone(const char* szCall) const
    {
        return m_pState->fStopped ? Violation(std::string(szCall) + " after Stop", c_hrDomainUnloaded) : S_OK;
    }

    std::shared_ptr<CRuntimeState> m_pState;
    std::wstring m_strAppBase;
    std::wstring m_strName; // the assembly's simple name, or the type's full name
    std::wstring m_strPath; // the assembly's file
};

// ---- files ----

std::wstring JoinPath(const std::wstring& strFolder, const std::wstring& strLeaf)
{
    if (strFolder.empty()) return strLeaf;
    const bool fSeparator = strFolder.back() == L'\\' || strFolder.back() == L'/';
    return strFolder + (fSeparator ? L"" : L"\\") + strLeaf;
}

std::wstring ExeFolder()
{
    wchar_t szPath[MAX_PATH * 4];
    const std::wstring strPath(szPath, GetModuleFileNameW(nullptr, szPath, MAX_PATH * 4));
    const size_t nSlash = strPath.find_last_of(L"\\/");
    return nSlash == std::wstring::npos ? L"." : strPath.substr(0, nSlash);
}

bool IsFile(const std::wstring& strPath)
{
    const DWORD dwAttributes = GetFileAttributesW(strPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Logs every file below the folder, sorted by path, with its size and 64-bit FNV-1a hash.
void HashTree(const std::wstring& strBase)
{
    std::vector<std::pair<std::string, std::wstring>> arFiles; // relative path in UTF-8, full path
    std::vector<std::wstring> arPending{L""};
    while (!arPending.empty())
    {
        const std::wstring strFolder = arPending.back();
        arPending.pop_back();
        WIN32_FIND_DATAW fd;
        const HANDLE hFind = FindFirstFileW(JoinPath(JoinPath(strBase, strFolder), L"*").c_str(), &fd);
        if (hFind == INVALID_HANDLE_VALUE) continue;
        do
        {
            const std::wstring strLeaf = fd.cFileName;
            if (strLeaf == L"." || strLeaf == L"..") continue;
            const std::wstring strRelative = strFolder.empty() ? strLeaf : strFolder + L"\\" + strLeaf;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                arPending.push_back(strRelative);
            else
                arFiles.emplace_back(Utf8(strRelative), JoinPath(strBase, strRelative));
        } while (FindNextFileW(hFind, &fd));
        FindClose(hFind);
    }
    std::sort(arFiles.begin(), arFiles.end());
    LogF("app tree base=%s files=%u", Quote(strBase.c_str()).c_str(), static_cast<unsigned>(arFiles.size()));
    for (const auto& file : arFiles)
    {
        std::string strData;
        if (!ReadWholeFile(file.second, strData))
        {
            LogF("file %s unreadable error=%lu", file.first.c_str(), GetLastError());
            continue;
        }
        LogF("file %s %llu %016llx", file.first.c_str(), static_cast<unsigned long long>(strData.size()),
             static_cast<unsigned long long>(Fnv1a64(strData)));
    }
}

// Whether the assembly file holds the type's name whole (ASCII or UTF-16), or as metadata keeps it:
// namespace and name as separate NUL-delimited strings.
bool FileHasType(const std::wstring& strPath, const std::wstring& strType)
{
    std::string strData;
    if (!ReadWholeFile(strPath, strData)) return false;
    const std::string strAscii = Utf8(strType);
    const std::string strWide(reinterpret_cast<const char*>(strType.data()),
                              strType.size() * sizeof(wchar_t));
    if (strData.find(strAscii) != std::string::npos || strData.find(strWide) != std::string::npos)
        return true;
    const size_t nDot = strAscii.rfind('.');
    return nDot != std::string::npos &&
           strData.find('\0' + strAscii.substr(0, nDot) + '\0') != std::string::npos &&
           strData.find('\0' + strAscii.substr(nDot + 1) + '\0') != std::string::npos;
}

// ---- ICLRMetaHost, IEnumUnknown, ICLRRuntimeInfo ----

HRESULT STDMETHODCALLTYPE EnumerateInstalledRuntimes(CInterface* p, CInterface** ppEnum)
{
    const CCall call("EnumerateInstalledRuntimes");
    HRESULT hr;
    if (call.Settled(Self<CObject>(p), c_iidClrMetaHost, ppEnum, &hr)) return hr;
    return call.Return(call.HandOut(new CRuntimeEnum(), c_iidEnumUnknown, ppEnum));
}

HRESULT STDMETHODCALLTYPE Next(CInterface* p, ULONG celt, CInterface** rgelt, ULONG* pceltFetched)
{
    CRuntimeEnum* pEnum = Self<CRuntimeEnum>(p);
    const CCall call("Next", "celt=" + std::to_string(celt) + " fetched=" + Nullness(pceltFetched));
    if (!rgelt || (celt != 1 && !pceltFetched)) return call.Return(E_POINTER);
    // Any of Next.hr and Next.null makes the enumerator misbehave: it hands out no runtime.
    const CCallRule* pRule = call.Rule();
    const bool fMisbehave = pRule && (pRule->fHasHr || pRule->fNullOut);
    const std::vector<std::wstring>& arRuntimes = Scenario().arRuntimes;
    ULONG celtFetched = 0;
    for (; !fMisbehave && celtFetched < celt && pEnum->m_nNext < arRuntimes.size(); ++pEnum->m_nNext)
    {
        const size_t n = pEnum->m_nNext;
        rgelt[celtFetched++] = (new CRuntimeInfo(arRuntimes[n], static_cast<int>(n) + 1))->Interface();
    }
    std::fill(rgelt + celtFetched, rgelt + celt, nullptr);
    HRESULT hr = celtFetched == celt ? S_OK : S_FALSE;
    if (fMisbehave)
    {
        celtFetched = pRule->fNullOut ? 1 : 0;
        hr = !pRule->fHasHr ? S_OK : call.ScenarioFails() ? call.Fail(pEnum, c_iidEnumUnknown) : pRule->hr;
    }
    if (pceltFetched) *pceltFetched = celtFetched;
    return call.Return(hr, "fetched=" + std::to_string(celtFetched));
}

// Copies text into a caller's buffer the way the shim does: sizes in characters with the terminator.
HRESULT CopyOut(const std::wstring& str, LPWSTR szBuffer, DWORD cchBuffer, DWORD* pcchNeeded)
{
    *pcchNeeded = static_cast<DWORD>(str.size() + 1);
    if (!szBuffer || cchBuffer < *pcchNeeded) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    memcpy(szBuffer, str.c_str(), *pcchNeeded * sizeof(wchar_t));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GetVersionString(CInterface* p, LPWSTR szBuffer, DWORD* pcch)
{
    CRuntimeInfo* pInfo = Self<CRuntimeInfo>(p);
    const std::string strCch = pcch ? std::to_string(*pcch) : "null";
    const CCall call("GetVersionString", "cch=" + strCch + (szBuffer ? "" : " buf=null"), pInfo->m_nIndex);
    if (call.ScenarioFails()) return call.Return(call.Fail(pInfo, c_iidClrRuntimeInfo));
    if (!pcch) return call.Return(E_POINTER);
    const HRESULT hr = CopyOut(pInfo->m_strVersion, szBuffer, *pcch, pcch);
    return call.Return(hr, "cch=" + std::to_string(*pcch));
}

HRESULT MakeHost(const CCall& call, const std::wstring& strVersion, REFCLSID clsid, REFIID riid, void** ppv)
{
    if (clsid != c_clsidCorRuntimeHost) return CLASS_E_CLASSNOTAVAILABLE;
    return call.HandOut(new CRuntimeHost(strVersion), riid, ppv);
}

HRESULT STDMETHODCALLTYPE GetInterface(CInterface* p, REFCLSID clsid, REFIID riid, void** ppv)
{
    CRuntimeInfo* pInfo = Self<CRuntimeInfo>(p);
    const CCall call("GetInterface", "clsid=" + GuidText(clsid) + " iid=" + GuidText(riid), pInfo->m_nIndex);
    HRESULT hr;
    if (call.Settled(pInfo, c_iidClrRuntimeInfo, ppv, &hr)) return hr;
    hr = MakeHost(call, pInfo->m_strVersion, clsid, riid, ppv);
    return call.Return(hr, *ppv ? "" : "out=null");
}

// The runtime GetCORVersion reports and CorBindToRuntime(NULL) binds: the last one before version 4.
bool LegacyRuntime(std::wstring& strVersion)
{
    for (const std::wstring& str : Scenario().arRuntimes)
        if (str.compare(0, 3, L"v1.") == 0 || str.compare(0, 3, L"v2.") == 0) strVersion = str;
    return !strVersion.empty();
}

HRESULT BindToRuntime(const char* szCall, LPCWSTR szVersion, LPCWSTR szFlavor, const std::string& strFlags,
                      REFCLSID clsid, REFIID riid, void** ppv)
{
    const CCall call(szCall, "version=" + Quote(szVersion) + " flavor=" + Quote(szFlavor) + strFlags +
                                 " clsid=" + GuidText(clsid) + " iid=" + GuidText(riid));
    HRESULT hr;
    if (call.Settled(nullptr, c_iidCorRuntimeHost, ppv, &hr)) return hr;
    const std::vector<std::wstring>& arRuntimes = Scenario().arRuntimes;
    std::wstring strChosen;
    if (!szVersion)
        LegacyRuntime(strChosen);
    else if (std::find(arRuntimes.begin(), arRuntimes.end(), szVersion) != arRuntimes.end())
        strChosen = szVersion;
    if (strChosen.empty()) return call.Return(c_hrRuntimeLoad);
    hr = MakeHost(call, strChosen, clsid, riid, ppv);
    return call.Return(hr, *ppv ? "runtime=" + Quote(strChosen.c_str()) : "out=null");
}

// ---- ICorRuntimeHost, IAppDomainSetup ----

HRESULT STDMETHODCALLTYPE Start(CInterface* p)
{
    CRuntimeHost* pHost = Self<CRuntimeHost>(p);
    const CCall call("Start");
    if (call.ScenarioFails()) return call.Return(call.Fail(pHost, c_iidCorRuntimeHost));
    if (pHost->m_pState->fStopped) return call.Return(Violation("Start after Stop", E_UNEXPECTED));
    pHost->m_pState->fStarted = true;
    return call.Return(S_OK);
}

HRESULT STDMETHODCALLTYPE Stop(CInterface* p)
{
    CRuntimeHost* pHost = Self<CRuntimeHost>(p);
    const CCall call("Stop");
    if (call.ScenarioFails()) return call.Return(call.Fail(pHost, c_iidCorRuntimeHost));
    if (pHost->m_pState->fStopped) return call.Return(Violation("Stop twice", E_UNEXPECTED));
    if (!pHost->m_pState->fStarted) return call.Return(Violation("Stop before Start", E_UNEXPECTED));
    pHost->m_pState->fStopped = true;
    return call.Return(S_OK);
}

HRESULT STDMETHODCALLTYPE CreateDomainSetup(CInterface* p, CInterface** ppSetup)
{
    CRuntimeHost* pHost = Self<CRuntimeHost>(p);
    const CCall call("CreateDomainSetup");
    HRESULT hr;
    if (call.Settled(pHost, c_iidCorRuntimeHost, ppSetup, &hr)) return hr;
    if (FAILED(hr = pHost->NeedRunning("CreateDomainSetup"))) return call.Return(hr);
    return call.Return(call.HandOut(new CDomainSetup(), c_iidUnknown, ppSetup));
}

HRESULT PutProperty(CInterface* p, const char* szCall, BSTR bsValue, std::wstring* pstrStored)
{
    CDomainSetup* pSetup = Self<CDomainSetup>(p);
    const CCall call(szCall, QuoteBstr(bsValue));
    if (call.ScenarioFails()) return call.Return(call.Fail(pSetup, c_iidAppDomainSetup));
    if (pstrStored) *pstrStored = bsValue ? std::wstring(bsValue, SysStringLen(bsValue)) : L"";
    return call.Return(S_OK);
}

HRESULT STDMETHODCALLTYPE PutApplicationBase(CInterface* p, BSTR bsValue)
{
    return PutProperty(p, "put_ApplicationBase", bsValue, &Self<CDomainSetup>(p)->m_strApplicationBase);
}

HRESULT STDMETHODCALLTYPE PutApplicationName(CInterface* p, BSTR bsValue)
{
    return PutProperty(p, "put_ApplicationName", bsValue, nullptr);
}

// A new domain over the setup's application base, else over the executable's folder, as the CLR does.
HRESULT MakeDomain(const CCall& call, const char* szCall, CRuntimeHost* pHost, CInterface* pSetup,
                   CInterface** ppDomain)
{
    std::wstring strAppBase = ExeFolder();
    if (pSetup && pSetup->pVtbl != &g_vtblDomainSetup)
        Violation(std::string(szCall) + " setup is not an object of this runtime", S_OK);
    else if (pSetup && !Self<CDomainSetup>(pSetup)->m_strApplicationBase.empty())
        strAppBase = Self<CDomainSetup>(pSetup)->m_strApplicationBase;
    const HRESULT hr =
        call.HandOut(new CManaged(g_classAppDomain, pHost->m_pState, strAppBase), c_iidUnknown, ppDomain);
    return call.Return(hr, *ppDomain ? "appbase=" + Quote(strAppBase.c_str()) : "");
}

HRESULT STDMETHODCALLTYPE CreateDomainEx(CInterface* p, LPCWSTR szName, CInterface* pSetup,
                                         CInterface* pEvidence, CInterface** ppDomain)
{
    CRuntimeHost* pHost = Self<CRuntimeHost>(p);
    const CCall call("CreateDomainEx", "name=" + Quote(szName) + " setup=" + Nullness(pSetup) +
                                           " evidence=" + Nullness(pEvidence));
    HRESULT hr;
    if (call.Settled(pHost, c_iidCorRuntimeHost, ppDomain, &hr)) return hr;
    if (FAILED(hr = pHost->NeedRunning("CreateDomainEx"))) return call.Return(hr);
    if (!szName) return call.Return(E_POINTER);
    return MakeDomain(call, "CreateDomainEx", pHost, pSetup, ppDomain);
}

HRESULT STDMETHODCALLTYPE GetDefaultDomain(CInterface* p, CInterface** ppDomain)
{
    CRuntimeHost* pHost = Self<CRuntimeHost>(p);
    const CCall call("GetDefaultDomain");
    HRESULT hr;
    if (call.Settled(pHost, c_iidCorRuntimeHost, ppDomain, &hr)) return hr;
    if (FAILED(hr = pHost->NeedRunning("GetDefaultDomain"))) return call.Return(hr);
    return MakeDomain(call, "GetDefaultDomain", pHost, nullptr, ppDomain);
}

// ---- _AppDomain, _Assembly ----

HRESULT STDMETHODCALLTYPE Load_2(CInterface* p, BSTR bsName, CInterface** ppAssembly)
{
    CManaged* pDomain = Self<CManaged>(p);
    const CCall call("Load_2", QuoteBstr(bsName));
    HRESULT hr;
    if (call.Settled(pDomain, c_iidAppDomain, ppAssembly, &hr)) return hr;
    if (FAILED(hr = pDomain->Gone("Load_2"))) return call.Return(hr);
    if (!bsName)
        return call.Return(RuntimeFailure(
            E_POINTER, L"Value cannot be null.\r\nParameter name: assemblyString", c_iidAppDomain));
    const std::wstring strFull(bsName, SysStringLen(bsName));
    if (strFull.empty())
        return call.Return(RuntimeFailure(E_INVALIDARG, L"String cannot have zero length.", c_iidAppDomain));
    // The simple name, then .dll or .exe, in the application base.
    std::wstring strSimple = strFull.substr(0, strFull.find(L','));
    strSimple.erase(strSimple.find_last_not_of(L' ') + 1);
    for (const wchar_t* szExtension : {L".dll", L".exe"})
    {
        const std::wstring strPath = JoinPath(pDomain->m_strAppBase, strSimple + szExtension);
        if (!IsFile(strPath)) continue;
        CManaged* pAssembly = new CManaged(g_classAssembly, pDomain->m_pState, pDomain->m_strAppBase);
        pAssembly->m_strName = strSimple;
        pAssembly->m_strPath = strPath;
        call.Give(pAssembly, ppAssembly);
        return call.Return(S_OK, "path=" + Quote(strPath.c_str()));
    }
    return call.Return(
        RuntimeFailure(static_cast<HRESULT>(0x80070002),
                       L"Could not load file or assembly '" + strFull +
                           L"' or one of its dependencies. The system cannot find the file specified.",
                       c_iidAppDomain));
}

HRESULT FindType(const CCall& call, CManaged* pAssembly, BSTR bsName, bool fThrowOnError, CInterface** ppType)
{
    const HRESULT hr = pAssembly->Gone("GetType_3");
    if (FAILED(hr)) return hr;
    if (!bsName)
        return RuntimeFailure(E_POINTER, L"Value cannot be null.\r\nParameter name: name", c_iidAssembly);
    const std::wstring strType(bsName, SysStringLen(bsName));
    if (!strType.empty() && FileHasType(pAssembly->m_strPath, strType))
    {
        CManaged* pType = new CManaged(g_classType, pAssembly->m_pState, pAssembly->m_strAppBase);
        pType->m_strName = strType;
        call.Give(pType, ppType);
        return S_OK;
    }
    if (!fThrowOnError) return S_OK;
    return RuntimeFailure(static_cast<HRESULT>(0x80131522),
                          L"Could not load type '" + strType + L"' from assembly '" + pAssembly->m_strName +
                              L", Version=1.0.0.0, Culture=neutral, PublicKeyToken=null'.",
                          c_iidAssembly);
}

HRESULT STDMETHODCALLTYPE GetType_3(CInterface* p, BSTR bsName, VARIANT_BOOL fThrowOnError,
                                    CInterface** ppType)
{
    CManaged* pAssembly = Self<CManaged>(p);
    const CCall call("GetType_3", QuoteBstr(bsName) + " throwOnError=" + std::to_string(fThrowOnError));
    HRESULT hr;
    if (call.Settled(pAssembly, c_iidAssembly, ppType, &hr)) return hr;
    hr = FindType(call, pAssembly, bsName, fThrowOnError != 0, ppType);
    return call.Return(hr, *ppType ? "" : "out=null");
}

// ---- _Type: binding the entry method, and the application behind it ----

std::string VariantText(const VARIANT& vt)
{
    char sz[64];
    switch (vt.vt)
    {
    case VT_EMPTY:
        return "VT_EMPTY";
    case VT_NULL:
        return "VT_NULL";
    case VT_BSTR:
        return "VT_BSTR " + QuoteBstr(vt.bstrVal);
    case VT_I4:
        return "VT_I4 " + std::to_string(vt.lVal);
    case VT_INT:
        return "VT_INT " + std::to_string(vt.intVal);
    case VT_I2:
        return "VT_I2 " + std::to_string(vt.iVal);
    case VT_UI2:
        return "VT_UI2 " + std::to_string(vt.uiVal);
    case VT_UI1:
        return "VT_UI1 " + std::to_string(vt.bVal);
    case VT_BOOL:
        return "VT_BOOL " + std::to_string(vt.boolVal);
    case VT_DISPATCH:
        return std::string("VT_DISPATCH ") + Nullness(vt.pdispVal);
    case VT_UNKNOWN:
        return std::string("VT_UNKNOWN ") + Nullness(vt.punkVal);
    case VT_UI8:
        snprintf(sz, sizeof(sz), "VT_UI8 0x%08llX", static_cast<unsigned long long>(vt.ullVal));
        return sz;
    case VT_I8:
        snprintf(sz, sizeof(sz), "VT_I8 %lld", static_cast<long long>(vt.llVal));
        return sz;
    case VT_UI4:
        snprintf(sz, sizeof(sz), "VT_UI4 0x%08lX", static_cast<unsigned long>(vt.ulVal));
        return sz;
    case VT_UINT:
        snprintf(sz, sizeof(sz), "VT_UINT 0x%08X", vt.uintVal);
        return sz;
    default:
        snprintf(sz, sizeof(sz), "vt=0x%04X", vt.vt);
        return sz;
    }
}

// The elements of a one-dimensional SAFEARRAY of VARIANT; false for any other array.
bool ReadArgs(SAFEARRAY* psa, std::vector<VARIANT>& arArgs)
{
    VARTYPE vt = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(psa, &vt)) || vt != VT_VARIANT || SafeArrayGetDim(psa) != 1) return false;
    LONG nLower = 0, nUpper = -1;
    SafeArrayGetLBound(psa, 1, &nLower);
    SafeArrayGetUBound(psa, 1, &nUpper);
    VARIANT* pvt = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(psa, reinterpret_cast<void**>(&pvt))))
    {
        arArgs.assign(pvt, pvt + (nUpper - nLower + 1));
        SafeArrayUnaccessData(psa);
    }
    return true;
}

std::string ArgsText(SAFEARRAY* psa)
{
    std::vector<VARIANT> arArgs;
    if (!psa) return "null";
    if (!ReadArgs(psa, arArgs))
    {
        VARTYPE vt = VT_EMPTY;
        SafeArrayGetVartype(psa, &vt);
        return "<SAFEARRAY vt=" + std::to_string(vt) + " dims=" + std::to_string(SafeArrayGetDim(psa)) + ">";
    }
    std::string strOut = "[";
    for (size_t n = 0; n < arArgs.size(); ++n)
        strOut += (n ? ", " : "") + VariantText(arArgs[n]);
    return strOut + "]";
}

void MakeResult(VARIANT* pvtResult)
{
    const CScenario& s = Scenario();
    if (s.vtResult.vt != VT_DISPATCH && s.vtResult.vt != VT_UNKNOWN)
    {
        VariantCopy(pvtResult, const_cast<VARIANT*>(&s.vtResult));
        return;
    }
    // An object without a default member.
    pvtResult->vt = s.vtResult.vt;
    pvtResult->punkVal =
        s.fResultNull ? nullptr : reinterpret_cast<IUnknown*>((new CObject(g_classResult))->Interface());
}

// What the application does once the entry method has bound, in the order the scenario's keys describe.
HRESULT RunApplication(CManaged* pType, const VARIANT& vtProduct, const VARIANT& vtSplash, VARIANT* pvtResult)
{
    const CScenario& s = Scenario();
    const HWND hwnd = reinterpret_cast<HWND>(
        static_cast<UINT_PTR>(vtSplash.vt == VT_UI8 ? vtSplash.ullVal : vtSplash.ulVal));
    const DWORD dwThread = hwnd ? GetWindowThreadProcessId(hwnd, nullptr) : 0;
    const char* szThread = dwThread == 0 ? "none" : dwThread == GetCurrentThreadId() ? "same" : "other";
    LogF("app start product=%s splash=0x%08llX iswindow=%d thread=%s", VariantText(vtProduct).c_str(),
         static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(hwnd)), IsWindow(hwnd) ? 1 : 0, szThread);
    if (s.fHashTree) HashTree(pType->m_strAppBase);
    if (!s.strDllDirectory.empty())
        SetDllDirectoryW(JoinPath(pType->m_strAppBase, s.strDllDirectory).c_str());
    if (!s.strLoadLibrary.empty())
    {
        const HMODULE hmod = LoadLibraryW(s.strLoadLibrary.c_str());
        LogF("app LoadLibrary %s -> %s", Quote(s.strLoadLibrary.c_str()).c_str(),
             hmod ? "ok" : ("error=" + std::to_string(GetLastError())).c_str());
    }
    if (s.fDestroySplash)
    {
        const BOOL fOk = DestroyWindow(hwnd);
        LogF("app DestroyWindow 0x%08llX -> %s error=%lu",
             static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(hwnd)), fOk ? "ok" : "failed",
             fOk ? 0 : GetLastError());
    }
    if (s.fMessageBox)
    {
        LogF("app MessageBox text=%s caption=%s", Quote(s.strMessageBoxText.c_str()).c_str(),
             Quote(s.strMessageBoxCaption.c_str()).c_str());
        const int nButton = MessageBoxW(nullptr, s.strMessageBoxText.c_str(), s.strMessageBoxCaption.c_str(),
                                        MB_OK | MB_SETFOREGROUND);
        LogF("app MessageBox -> %d", nButton);
    }
    if (s.fThrows)
    {
        LogF("app throw %s %s", HrText(s.hrThrow).c_str(), Quote(s.strThrowMessage.c_str()).c_str());
        return RuntimeFailure(s.hrThrow, s.strThrowMessage, c_iidType);
    }
    MakeResult(pvtResult);
    LogF("app return %s", VariantText(*pvtResult).c_str());
    return S_OK;
}

// The default binder: a public static method of the scenario's name taking a string and a UInt64, to which
// it widens the unsigned integer types.
bool BindsEntryMethod(const std::wstring& strMember, int nFlags, const std::vector<VARIANT>& arArgs)
{
    const std::wstring& strMethod = Scenario().strEntryMethod;
    const bool fNameMatches =
        (nFlags & 0x1) ? _wcsicmp(strMember.c_str(), strMethod.c_str()) == 0 : strMember == strMethod;
    if (!fNameMatches || !(nFlags & 0x8) || !(nFlags & 0x10) || arArgs.size() != 2) return false;
    const VARTYPE vtString = arArgs[0].vt, vtNumber = arArgs[1].vt;
    return (vtString == VT_BSTR || vtString == VT_EMPTY || vtString == VT_NULL) &&
           (vtNumber == VT_UI8 || vtNumber == VT_UI4 || vtNumber == VT_UINT || vtNumber == VT_UI2 ||
            vtNumber == VT_UI1);
}

HRESULT InvokeMember(CManaged* pType, BSTR bsName, int nFlags, SAFEARRAY* psaArgs, VARIANT* pvtResult)
{
    if (!bsName)
        return RuntimeFailure(E_POINTER, L"Value cannot be null.\r\nParameter name: name", c_iidType);
    if (!pvtResult) return E_POINTER;
    const std::wstring strMember(bsName, SysStringLen(bsName));
    const std::wstring strWhere = pType->m_strName + L"." + strMember;
    if ((nFlags & 0x3F00) == 0)
        return RuntimeFailure(E_INVALIDARG,
                              L"Must specify binding flags describing the invoke operation required "
                              L"(BindingFlags.InvokeMethod CreateInstance GetField SetField GetProperty "
                              L"SetProperty).\r\nParameter name: invokeAttr",
                              c_iidType);
    if (!(nFlags & 0x100))
        return RuntimeFailure(static_cast<HRESULT>(0x80131512), L"Member '" + strWhere + L"' not found.",
                              c_iidType);
    std::vector<VARIANT> arArgs;
    VARTYPE vt = VT_VARIANT;
    if (psaArgs && (FAILED(SafeArrayGetVartype(psaArgs, &vt)) || vt != VT_VARIANT))
        return RuntimeFailure(static_cast<HRESULT>(0x80131533),
                              L"Specified array was not of the expected type.", c_iidType);
    if (psaArgs && !ReadArgs(psaArgs, arArgs))
        return RuntimeFailure(static_cast<HRESULT>(0x80131534),
                              L"Specified array was not of the expected rank.", c_iidType);
    if (!BindsEntryMethod(strMember, nFlags, arArgs))
        return RuntimeFailure(static_cast<HRESULT>(0x80131513), L"Method '" + strWhere + L"' not found.",
                              c_iidType);
    return RunApplication(pType, arArgs[0], arArgs[1], pvtResult);
}

HRESULT STDMETHODCALLTYPE InvokeMember_3(CInterface* p, BSTR bsName, int nFlags, CInterface* pBinder,
                                         VARIANT vtTarget, SAFEARRAY* psaArgs, VARIANT* pvtResult)
{
    CManaged* pType = Self<CManaged>(p);
    char szFlags[16];
    snprintf(szFlags, sizeof(szFlags), "0x%X", static_cast<unsigned>(nFlags));
    const CCall call("InvokeMember_3", "name=" + QuoteBstr(bsName) + " flags=" + szFlags +
                                           " binder=" + Nullness(pBinder) +
                                           " target=" + VariantText(vtTarget) + " args=" + ArgsText(psaArgs));
    if (pvtResult) VariantInit(pvtResult);
    if (call.ScenarioFails()) return call.Return(call.Fail(pType, c_iidType));
    const HRESULT hr = pType->Gone("InvokeMember_3");
    return call.Return(FAILED(hr) ? hr : InvokeMember(pType, bsName, nFlags, psaArgs, pvtResult));
}

// What VariantChangeType asks a VT_DISPATCH result for: its default member, which it does not have.
HRESULT STDMETHODCALLTYPE Invoke(CInterface* p, DISPID dispid, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                                 EXCEPINFO*, UINT*)
{
    LogF("Invoke %s dispid=%ld", Self<CObject>(p)->m_strName.c_str(), static_cast<long>(dispid));
    return DISP_E_MEMBERNOTFOUND;
}

// ---- the tables: what is not named here ends the process as an unexpected call ----

CMetaHostVtbl g_vtblMetaHost = {c_unknown, {}, EnumerateInstalledRuntimes, {}};
CEnumUnknownVtbl g_vtblRuntimeEnum = {c_unknown, Next, {}};
CRuntimeInfoVtbl g_vtblRuntimeInfo = {c_unknown, GetVersionString, {}, GetInterface, {}};
CCorRuntimeHostVtbl g_vtblRuntimeHost = {
    c_unknown, {}, Start, Stop, {}, GetDefaultDomain, {}, CreateDomainEx, CreateDomainSetup, {}};
CAppDomainSetupVtbl g_vtblDomainSetup = {c_unknown,          nullptr, PutApplicationBase, nullptr,
                                         PutApplicationName, {}};
CAppDomainVtbl g_vtblAppDomain = {c_unknown, {}, Load_2, {}};
CAssemblyVtbl g_vtblAssembly = {c_unknown, {}, GetType_3, {}};
CTypeVtbl g_vtblType = {c_unknown, {}, InvokeMember_3, {}};
CDispatchVtbl g_vtblResult = {c_unknown, {}, Invoke};
CSupportErrorInfoVtbl g_vtblSupportErrorInfo = {c_unknown, InterfaceSupportsErrorInfo};
CErrorInfoVtbl g_vtblErrorInfo = {c_unknown, {}, GetDescription, {}};

} // namespace
} // namespace fakeclr

using namespace fakeclr;

extern "C" HRESULT WINAPI CLRCreateInstance(REFCLSID clsid, REFIID riid, void** ppv)
{
    const CCall call("CLRCreateInstance", "clsid=" + GuidText(clsid) + " iid=" + GuidText(riid));
    HRESULT hr;
    if (call.Settled(nullptr, c_iidClrMetaHost, ppv, &hr)) return hr;
    if (clsid != c_clsidClrMetaHost) return call.Return(CLASS_E_CLASSNOTAVAILABLE);
    return call.Return(call.HandOut(new CObject(g_classMetaHost), riid, ppv));
}

extern "C" HRESULT WINAPI GetCORVersion(LPWSTR szBuffer, DWORD cchBuffer, DWORD* pcchWritten)
{
    const CCall call("GetCORVersion", "cch=" + std::to_string(cchBuffer) + (szBuffer ? "" : " buf=null") +
                                          (pcchWritten ? "" : " written=null"));
    if (call.ScenarioFails()) return call.Return(call.Fail(nullptr, c_iidUnknown));
    std::wstring strVersion;
    if (!LegacyRuntime(strVersion)) return call.Return(c_hrRuntimeLoad);
    DWORD cchNeeded = 0;
    const HRESULT hr = CopyOut(strVersion, szBuffer, cchBuffer, &cchNeeded);
    if (pcchWritten) *pcchWritten = cchNeeded;
    return call.Return(hr, "written=" + std::to_string(cchNeeded));
}

extern "C" HRESULT WINAPI CorBindToRuntime(LPCWSTR szVersion, LPCWSTR szFlavor, REFCLSID clsid, REFIID riid,
                                           void** ppv)
{
    return BindToRuntime("CorBindToRuntime", szVersion, szFlavor, "", clsid, riid, ppv);
}

extern "C" HRESULT WINAPI CorBindToRuntimeEx(LPCWSTR szVersion, LPCWSTR szFlavor, DWORD dwFlags,
                                             REFCLSID clsid, REFIID riid, void** ppv)
{
    // The flags print in decimal after "0x", as they always have in this log.
    return BindToRuntime("CorBindToRuntimeEx", szVersion, szFlavor, " flags=0x" + std::to_string(dwFlags),
                         clsid, riid, ppv);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hinst, DWORD dwReason, LPVOID pvReserved)
{
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        DisableThreadLibraryCalls(hinst);
        LoadScenario();
        for (const CClass* pClass : {&g_classMetaHost, &g_classRuntimeEnum, &g_classRuntimeInfo,
                                     &g_classRuntimeHost, &g_classDomainSetup, &g_classAppDomain,
                                     &g_classAssembly, &g_classType, &g_classResult, &g_classErrorInfo})
            FillUnexpectedSlots(*pClass);
        wchar_t szPath[MAX_PATH * 4];
        DWORD cch = GetModuleFileNameW(hinst, szPath, MAX_PATH * 4);
        LogF("DllMain attach path=%s", Utf8(szPath, cch).c_str());
        cch = GetModuleFileNameW(nullptr, szPath, MAX_PATH * 4);
        LogF("process pid=%lu exe=%s", GetCurrentProcessId(), Utf8(szPath, cch).c_str());
        const CScenario& s = Scenario();
        LogF("scenario %s", s.strSource.empty() ? "default" : Quote(s.strSource.c_str()).c_str());
        for (const std::string& strError : s.arErrors)
            LogF("scenario error %s", strError.c_str());
    }
    else if (dwReason == DLL_PROCESS_DETACH)
    {
        // No locks here: at process exit other threads are already gone, maybe mid-call.
        if (pvReserved) LogWithoutLock();
        LogF("DllMain detach live=%u%s", static_cast<unsigned>(g_setLive.size()),
             pvReserved ? " exiting" : "");
        for (const CObject* pObject : g_setLive)
            LogF("leak %s refs=%ld", pObject->m_strName.c_str(), static_cast<long>(pObject->m_cRefs));
    }
    return TRUE;
}
