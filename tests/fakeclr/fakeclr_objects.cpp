// fakeclr_objects.cpp: the fake runtime's COM objects, its exports and DllMain, driven by the scenario.
#include "fakeclr_decl.h"
#include "fakeclr_scenario.h"

#include <algorithm>
#include <array>
#include <memory>
#include <set>
#include <utility>

namespace fc {
namespace {

HINSTANCE g_module;

// ---- object base: one C++ object, up to three COM interface pointers into it ----

struct Object;
struct Part { // what a COM pointer points at: a vtable and the object it belongs to
    const void *vtbl;
    Object *owner;
};

std::set<Object *> g_live;
std::map<std::string, int> g_serials;

struct Object {
    Part primary, sei, ei;
    LONG refs = 1;
    std::string name;
    GUID iid;
    bool managed;  // CLR-made object: ISupportErrorInfo answers S_OK for every interface
    bool dispatch; // also answers IDispatch (slots 3-6 are dispatch methods)
    bool hasQiFailure = false;
    HRESULT qiFailure = S_OK;
    int seiMode; // -1 no ISupportErrorInfo, 0 S_OK, 2 S_FALSE
    GUID seiIid{};
    bool offerErrorInfo = false; // QueryInterface(IID_IErrorInfo) succeeds
    std::wstring eiText;
    GUID eiGuid{};

    Object(const void *vtbl, const char *cls, REFIID i, bool isManaged, bool isDispatch = false);
    virtual ~Object() { g_live.erase(this); }
    Iface *iface() { return reinterpret_cast<Iface *>(&primary); }
};

extern const SupportErrorInfoVtbl kSeiVtbl;
extern const ErrorInfoVtbl kEiVtbl;

Object::Object(const void *vtbl, const char *cls, REFIID i, bool isManaged, bool isDispatch)
    : primary{vtbl, this}, sei{&kSeiVtbl, this}, ei{&kEiVtbl, this}, iid(i), managed(isManaged),
      dispatch(isDispatch), seiMode(isManaged ? 0 : -1) {
    name = std::string(cls) + "#" + std::to_string(++g_serials[cls]);
    g_live.insert(this);
    logf("new %s", name.c_str());
}

template <typename T> T *self(Iface *p) {
    return static_cast<T *>(reinterpret_cast<Part *>(p)->owner);
}

bool same(REFGUID a, REFGUID b) {
    return memcmp(&a, &b, sizeof(GUID)) == 0;
}

HRESULT STDMETHODCALLTYPE QueryInterface_(Iface *p, REFIID riid, void **ppv) {
    Object *o = self<Object>(p);
    HRESULT hr = E_NOINTERFACE;
    Part *out = nullptr;
    if (!ppv) {
        hr = E_POINTER;
    } else if (same(riid, IID_IUnknown_)) {
        out = &o->primary;
    } else if (same(riid, o->iid) || (o->dispatch && same(riid, IID_IDispatch_))) {
        if (o->hasQiFailure)
            hr = o->qiFailure;
        else
            out = &o->primary;
    } else if (same(riid, IID_ISupportErrorInfo_) && o->seiMode >= 0) {
        out = &o->sei;
    } else if (same(riid, IID_IErrorInfo_) && o->offerErrorInfo) {
        out = &o->ei;
    }
    if (out) {
        InterlockedIncrement(&o->refs);
        hr = S_OK;
    }
    if (ppv)
        *ppv = out;
    logf("QueryInterface %s iid=%s -> %s", o->name.c_str(), guidText(riid).c_str(), hrText(hr).c_str());
    return hr;
}

ULONG STDMETHODCALLTYPE AddRef_(Iface *p) {
    return InterlockedIncrement(&self<Object>(p)->refs);
}

ULONG STDMETHODCALLTYPE Release_(Iface *p) {
    Object *o = self<Object>(p);
    LONG n = InterlockedDecrement(&o->refs);
    if (n == 0) {
        logf("Release %s final", o->name.c_str());
        delete o;
    } else if (n < 0) {
        logf("VIOLATION Release %s below zero", o->name.c_str());
    }
    return (ULONG)(n < 0 ? 0 : n);
}

constexpr UnknownSlots kUnknown = {QueryInterface_, AddRef_, Release_};

// ---- error information ----

HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo_(Iface *p, REFIID riid) {
    Object *o = self<Object>(p);
    HRESULT hr = S_FALSE;
    if (o->seiMode == 0 && (o->managed || same(riid, o->seiIid)))
        hr = S_OK;
    logf("InterfaceSupportsErrorInfo %s iid=%s -> %s", o->name.c_str(), guidText(riid).c_str(),
         hrText(hr).c_str());
    return hr;
}
const SupportErrorInfoVtbl kSeiVtbl = {kUnknown, InterfaceSupportsErrorInfo_};

HRESULT STDMETHODCALLTYPE EiGetGUID(Iface *p, GUID *g) {
    if (!g)
        return E_POINTER;
    *g = self<Object>(p)->eiGuid;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE EiGetSource(Iface *p, BSTR *b) {
    if (!b)
        return E_POINTER;
    *b = SysAllocString(L"fakeclr");
    return S_OK;
}
HRESULT STDMETHODCALLTYPE EiGetDescription(Iface *p, BSTR *b) {
    Object *o = self<Object>(p);
    logf("GetDescription %s", o->name.c_str());
    if (!b)
        return E_POINTER;
    *b = SysAllocStringLen(o->eiText.data(), (UINT)o->eiText.size());
    return S_OK;
}
HRESULT STDMETHODCALLTYPE EiGetHelpFile(Iface *, BSTR *b) {
    if (!b)
        return E_POINTER;
    *b = nullptr;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE EiGetHelpContext(Iface *, DWORD *c) {
    if (!c)
        return E_POINTER;
    *c = 0;
    return S_OK;
}
const ErrorInfoVtbl kEiVtbl = {kUnknown,         EiGetGUID,     EiGetSource,
                               EiGetDescription, EiGetHelpFile, EiGetHelpContext};

struct ErrorObject : Object {
    ErrorObject(const std::wstring &text, REFIID failed)
        : Object(&kEiVtbl, "ErrorInfo", IID_IErrorInfo_, false) {
        eiText = text;
        eiGuid = failed;
    }
};

// Puts an error object on the thread, as the runtime does when a call fails.
void setThreadError(const std::wstring &text, REFIID failed) {
    ErrorObject *e = new ErrorObject(text, failed);
    HRESULT hr = SetErrorInfo(0, reinterpret_cast<IErrorInfo *>(e->iface()));
    logf("SetErrorInfo %s %s -> %s", e->name.c_str(), quote(text.c_str()).c_str(), hrText(hr).c_str());
    Release_(e->iface());
}

// Each real method starts here: a callee clears stale error information.
void enter() {
    SetErrorInfo(0, nullptr);
}

HRESULT done(const char *call, HRESULT hr, const std::string &extra = "") {
    logf("%s -> %s%s%s", call, hrText(hr).c_str(), extra.empty() ? "" : " ", extra.c_str());
    return hr;
}

// A failure the scenario asked for: HRESULT plus the error information it describes.
HRESULT scenarioFailure(Object *o, const CallRule *r, REFIID failedIid) {
    if (r->hasErrorInfo) {
        setThreadError(r->errorInfo, failedIid);
        if (o) {
            o->seiMode = r->errorInfoSupport == 1 ? -1 : r->errorInfoSupport;
            o->seiIid = failedIid;
        }
    }
    if (r->hasQiErrorInfo && o) {
        o->offerErrorInfo = true;
        o->eiText = r->qiErrorInfo;
        o->eiGuid = failedIid;
    }
    return r->hr;
}

// A failure the fake runtime finds itself, reported the way the CLR reports managed exceptions.
HRESULT runtimeFailure(HRESULT hr, const std::wstring &message, REFIID failedIid) {
    setThreadError(message, failedIid);
    return hr;
}

bool wantsFailure(const CallRule *r) {
    return r && r->hasHr && FAILED(r->hr);
}

// Hands out object o through interface riid, applying a scenario QueryInterface failure; consumes o's ref.
HRESULT handOut(Object *o, const CallRule *r, REFIID riid, void **ppv) {
    if (r && r->hasQi) {
        o->hasQiFailure = true;
        o->qiFailure = r->qi;
    }
    HRESULT hr = QueryInterface_(o->iface(), riid, ppv);
    Release_(o->iface());
    return hr;
}

// ---- unexpected slots: a call the fake does not model ends the process, loudly ----

enum Tag { TagAppDomain, TagAssembly, TagType, TagCount };
const char *const kTagNames[TagCount] = {"_AppDomain", "_Assembly", "_Type"};

template <int T, int N> void STDMETHODCALLTYPE unexpectedSlot() {
    // The callee-pops convention cannot return safely without knowing the argument size.
    logf("FATAL unexpected call %s slot %d", kTagNames[T], N);
    TerminateProcess(GetCurrentProcess(), 0xFC);
}
template <int T, std::size_t... I> std::array<SlotFn, sizeof...(I)> makeStubs(std::index_sequence<I...>) {
    return {{&unexpectedSlot<T, (int)I>...}};
}
template <int T, typename V> void fillUnexpected(V &v) {
    static const auto stubs = makeStubs<T>(std::make_index_sequence<sizeof(V) / sizeof(void *)>());
    SlotFn *slots = reinterpret_cast<SlotFn *>(&v);
    for (std::size_t i = 0; i < stubs.size(); ++i)
        if (!slots[i])
            slots[i] = stubs[i];
}

// Slots 3-6 of _AppDomain, _Assembly and _Type.
HRESULT STDMETHODCALLTYPE DispGetTypeInfoCount(Iface *p, UINT *n) {
    logf("GetTypeInfoCount %s", self<Object>(p)->name.c_str());
    if (!n)
        return E_POINTER;
    *n = 0;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE DispGetTypeInfo(Iface *p, UINT, LCID, void **out) {
    logf("GetTypeInfo %s", self<Object>(p)->name.c_str());
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE DispGetIDsOfNames(Iface *p, REFIID, LPOLESTR *, UINT, LCID, DISPID *) {
    logf("GetIDsOfNames %s", self<Object>(p)->name.c_str());
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE DispInvoke(Iface *p, DISPID id, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *,
                                     EXCEPINFO *, UINT *) {
    logf("Invoke %s dispid=%ld", self<Object>(p)->name.c_str(), (long)id);
    return DISP_E_MEMBERNOTFOUND;
}
constexpr DispatchSlots kDispatch = {DispGetTypeInfoCount, DispGetTypeInfo, DispGetIDsOfNames, DispInvoke};

// An object with no default member, for a VT_DISPATCH entry result.
const DispatchVtbl kResultDispatchVtbl = {kUnknown, kDispatch};

// ---- shared state of the runtime graph ----

struct HostState {
    std::wstring version;
    bool started = false, stopped = false;
};

struct DomainState {
    std::shared_ptr<HostState> host;
    std::wstring name, appBase;
    bool isDefault = false, unloaded = false;
};

std::wstring exeFolder() {
    wchar_t buf[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, buf, sizeof buf / sizeof buf[0]);
    std::wstring p(buf, n);
    size_t slash = p.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : p.substr(0, slash);
}

std::wstring joinPath(const std::wstring &dir, const std::wstring &leaf) {
    if (dir.empty())
        return leaf;
    wchar_t last = dir.back();
    return dir + (last == L'\\' || last == L'/' ? L"" : L"\\") + leaf;
}

// Calls on objects of a stopped runtime or an unloaded domain fail as the CLR fails them.
HRESULT domainGone(const std::shared_ptr<DomainState> &d, const char *call) {
    if (d->host->stopped) {
        logf("VIOLATION %s after Stop", call);
        return (HRESULT)0x80131014; // COR_E_APPDOMAINUNLOADED
    }
    if (d->unloaded) {
        logf("VIOLATION %s on an unloaded domain", call);
        return (HRESULT)0x80131014;
    }
    return S_OK;
}

std::string variantText(const VARIANT &v) {
    char buf[64];
    switch (v.vt) {
    case VT_EMPTY:
        return "VT_EMPTY";
    case VT_NULL:
        return "VT_NULL";
    case VT_BSTR:
        return "VT_BSTR " + quoteBstr(v.bstrVal);
    case VT_UI8:
        snprintf(buf, sizeof buf, "VT_UI8 0x%08llX", (unsigned long long)v.ullVal);
        return buf;
    case VT_I8:
        snprintf(buf, sizeof buf, "VT_I8 %lld", (long long)v.llVal);
        return buf;
    case VT_I4:
        return "VT_I4 " + std::to_string(v.lVal);
    case VT_INT:
        return "VT_INT " + std::to_string(v.intVal);
    case VT_UI4:
        snprintf(buf, sizeof buf, "VT_UI4 0x%08lX", (unsigned long)v.ulVal);
        return buf;
    case VT_UINT:
        snprintf(buf, sizeof buf, "VT_UINT 0x%08X", v.uintVal);
        return buf;
    case VT_I2:
        return "VT_I2 " + std::to_string(v.iVal);
    case VT_UI2:
        return "VT_UI2 " + std::to_string(v.uiVal);
    case VT_UI1:
        return "VT_UI1 " + std::to_string(v.bVal);
    case VT_BOOL:
        return "VT_BOOL " + std::to_string(v.boolVal);
    case VT_DISPATCH:
        return std::string("VT_DISPATCH ") + (v.pdispVal ? "nonnull" : "null");
    case VT_UNKNOWN:
        return std::string("VT_UNKNOWN ") + (v.punkVal ? "nonnull" : "null");
    default:
        snprintf(buf, sizeof buf, "vt=0x%04X", v.vt);
        return buf;
    }
}

const char *nullness(const void *p) {
    return p ? "nonnull" : "null";
}

// ---- _Type ----

struct TypeObject : Object {
    std::shared_ptr<DomainState> domain;
    std::wstring fullName, assemblyName;
    TypeObject();
};

std::string utf8(const std::wstring &w) {
    return fc::utf8(w.data(), w.size());
}

// The "application": what the entry method does once the call has bound.
void hashTree(const std::wstring &base) {
    struct Entry {
        std::string rel;
        std::wstring full;
        unsigned long long size;
    };
    std::vector<Entry> files;
    std::vector<std::wstring> pending{L""};
    while (!pending.empty()) {
        std::wstring rel = pending.back();
        pending.pop_back();
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW(joinPath(joinPath(base, rel), L"*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE)
            continue;
        do {
            std::wstring leaf = fd.cFileName;
            if (leaf == L"." || leaf == L"..")
                continue;
            std::wstring r = rel.empty() ? leaf : rel + L"\\" + leaf;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                pending.push_back(r);
            else
                files.push_back({utf8(r), joinPath(base, r),
                                 ((unsigned long long)fd.nFileSizeHigh << 32) | fd.nFileSizeLow});
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    std::sort(files.begin(), files.end(), [](const Entry &a, const Entry &b) { return a.rel < b.rel; });
    logf("app tree base=%s files=%u", quote(base.c_str()).c_str(), (unsigned)files.size());
    for (const Entry &e : files) {
        unsigned long long hash = 0xcbf29ce484222325ULL, size = 0;
        HANDLE h =
            CreateFileW(e.full.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            logf("file %s unreadable error=%lu", e.rel.c_str(), GetLastError());
            continue;
        }
        unsigned char buf[65536];
        DWORD got = 0;
        while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) {
            for (DWORD i = 0; i < got; ++i) {
                hash ^= buf[i];
                hash *= 0x100000001b3ULL;
            }
            size += got;
        }
        CloseHandle(h);
        logf("file %s %llu %016llx", e.rel.c_str(), size, hash);
    }
}

void makeResult(VARIANT *ret) {
    const Scenario &s = scenario();
    VariantInit(ret);
    ret->vt = s.resultVt;
    switch (s.resultVt) {
    case VT_I1:
        ret->cVal = (CHAR)s.resultInt;
        break;
    case VT_I2:
        ret->iVal = (SHORT)s.resultInt;
        break;
    case VT_I4:
        ret->lVal = (LONG)s.resultInt;
        break;
    case VT_INT:
        ret->intVal = (INT)s.resultInt;
        break;
    case VT_I8:
        ret->llVal = s.resultInt;
        break;
    case VT_UI1:
        ret->bVal = (BYTE)s.resultInt;
        break;
    case VT_UI2:
        ret->uiVal = (USHORT)s.resultInt;
        break;
    case VT_UI4:
        ret->ulVal = (ULONG)s.resultInt;
        break;
    case VT_UINT:
        ret->uintVal = (UINT)s.resultInt;
        break;
    case VT_UI8:
        ret->ullVal = (ULONGLONG)s.resultInt;
        break;
    case VT_R4:
        ret->fltVal = (FLOAT)s.resultReal;
        break;
    case VT_R8:
        ret->dblVal = s.resultReal;
        break;
    case VT_BOOL:
        ret->boolVal = s.resultInt ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case VT_ERROR:
        ret->scode = (SCODE)s.resultInt;
        break;
    case VT_BSTR:
        ret->bstrVal = SysAllocStringLen(s.resultText.data(), (UINT)s.resultText.size());
        break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
        if (s.resultNullPtr) {
            ret->pdispVal = nullptr;
        } else {
            Object *o = new Object(&kResultDispatchVtbl, "ResultObject", IID_IDispatch_, true, true);
            ret->pdispVal = reinterpret_cast<IDispatch *>(o->iface());
        }
        break;
    default:
        break;
    }
}

HRESULT runApplication(TypeObject *t, const VARIANT &product, const VARIANT &splash, VARIANT *ret) {
    const Scenario &s = scenario();
    HWND hwnd = (HWND)(UINT_PTR)(splash.vt == VT_UI8 ? splash.ullVal : splash.ulVal);
    DWORD pid = 0, tid = hwnd ? GetWindowThreadProcessId(hwnd, &pid) : 0;
    logf("app start product=%s splash=0x%08llX iswindow=%d thread=%s", variantText(product).c_str(),
         (unsigned long long)(UINT_PTR)hwnd, IsWindow(hwnd) ? 1 : 0,
         tid == 0                      ? "none"
         : tid == GetCurrentThreadId() ? "same"
                                       : "other");
    if (s.hashTree)
        hashTree(t->domain->appBase);
    if (s.destroySplash) {
        BOOL ok = DestroyWindow(hwnd);
        DWORD err = ok ? 0 : GetLastError();
        logf("app DestroyWindow 0x%08llX -> %s error=%lu", (unsigned long long)(UINT_PTR)hwnd,
             ok ? "ok" : "failed", err);
    }
    if (s.hasMessageBox) {
        logf("app MessageBox text=%s caption=%s", quote(s.messageBoxText.c_str()).c_str(),
             quote(s.messageBoxCaption.c_str()).c_str());
        int r = MessageBoxW(nullptr, s.messageBoxText.c_str(), s.messageBoxCaption.c_str(),
                            MB_OK | MB_SETFOREGROUND);
        logf("app MessageBox -> %d", r);
    }
    if (s.waitMs) {
        logf("app wait %lu", (unsigned long)s.waitMs);
        Sleep(s.waitMs);
    }
    if (s.entryThrows) {
        logf("app throw %s %s", hrText(s.entryThrowHr).c_str(), quote(s.entryThrowMessage.c_str()).c_str());
        return runtimeFailure(s.entryThrowHr, s.entryThrowMessage, IID__Type_);
    }
    makeResult(ret);
    logf("app return %s", variantText(*ret).c_str());
    return S_OK;
}

bool bindsToString(VARTYPE vt) {
    return vt == VT_BSTR || vt == VT_EMPTY || vt == VT_NULL;
}
// The default binder widens unsigned integers to the UInt64 parameter; signed ones do not bind.
bool bindsToUInt64(VARTYPE vt) {
    return vt == VT_UI8 || vt == VT_UI4 || vt == VT_UINT || vt == VT_UI2 || vt == VT_UI1;
}

HRESULT invokeMember(TypeObject *t, BSTR name, int flags, SAFEARRAY *args, VARIANT *ret) {
    const Scenario &s = scenario();
    std::wstring member = name ? std::wstring(name, SysStringLen(name)) : L"";
    std::wstring where = t->fullName + L"." + member;
    if (!name)
        return runtimeFailure(E_POINTER, L"Value cannot be null.\r\nParameter name: name", IID__Type_);
    if (!ret)
        return E_POINTER;
    if ((flags & 0x3F00) == 0)
        return runtimeFailure(E_INVALIDARG,
                              L"Must specify binding flags describing the invoke operation required "
                              L"(BindingFlags.InvokeMethod CreateInstance GetField SetField GetProperty "
                              L"SetProperty).\r\nParameter name: invokeAttr",
                              IID__Type_);
    if (!(flags & 0x100))
        return runtimeFailure((HRESULT)0x80131512, L"Member '" + where + L"' not found.", IID__Type_);
    std::vector<VARIANT> argv;
    if (args) {
        VARTYPE vt = VT_EMPTY;
        if (FAILED(SafeArrayGetVartype(args, &vt)) || vt != VT_VARIANT)
            return runtimeFailure((HRESULT)0x80131533, L"Specified array was not of the expected type.",
                                  IID__Type_);
        if (SafeArrayGetDim(args) != 1)
            return runtimeFailure((HRESULT)0x80131534, L"Specified array was not of the expected rank.",
                                  IID__Type_);
        LONG lo = 0, hi = -1;
        SafeArrayGetLBound(args, 1, &lo);
        SafeArrayGetUBound(args, 1, &hi);
        VARIANT *data = nullptr;
        if (SUCCEEDED(SafeArrayAccessData(args, (void **)&data))) {
            argv.assign(data, data + (hi - lo + 1));
            SafeArrayUnaccessData(args);
        }
    }
    bool nameMatches =
        (flags & 0x1) ? _wcsicmp(member.c_str(), s.entryMethod.c_str()) == 0 : member == s.entryMethod;
    bool binds = nameMatches && (flags & 0x8) && (flags & 0x10) && argv.size() == 2 &&
                 bindsToString(argv[0].vt) && bindsToUInt64(argv[1].vt);
    if (!binds)
        return runtimeFailure((HRESULT)0x80131513, L"Method '" + where + L"' not found.", IID__Type_);
    return runApplication(t, argv[0], argv[1], ret);
}

std::string argsText(SAFEARRAY *args) {
    if (!args)
        return "null";
    VARTYPE vt = VT_EMPTY;
    SafeArrayGetVartype(args, &vt);
    UINT dims = SafeArrayGetDim(args);
    if (vt != VT_VARIANT || dims != 1)
        return "<SAFEARRAY vt=" + std::to_string(vt) + " dims=" + std::to_string(dims) + ">";
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(args, 1, &lo);
    SafeArrayGetUBound(args, 1, &hi);
    std::string out = "[";
    VARIANT *data = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(args, (void **)&data))) {
        for (LONG i = 0; i <= hi - lo; ++i)
            out += (i ? ", " : "") + variantText(data[i]);
        SafeArrayUnaccessData(args);
    }
    return out + "]";
}

HRESULT STDMETHODCALLTYPE TypeInvokeMember_3(Iface *p, BSTR name, int flags, Iface *binder, VARIANT target,
                                             SAFEARRAY *args, VARIANT *ret) {
    TypeObject *t = self<TypeObject>(p);
    enter();
    logf("InvokeMember_3 name=%s flags=0x%X binder=%s target=%s args=%s", quoteBstr(name).c_str(), flags,
         nullness(binder), variantText(target).c_str(), argsText(args).c_str());
    if (ret)
        VariantInit(ret);
    const CallRule *r = ruleFor("InvokeMember_3");
    if (wantsFailure(r))
        return done("InvokeMember_3", scenarioFailure(t, r, IID__Type_));
    HRESULT hr = domainGone(t->domain, "InvokeMember_3");
    if (FAILED(hr))
        return done("InvokeMember_3", hr);
    return done("InvokeMember_3", invokeMember(t, name, flags, args, ret));
}

HRESULT STDMETHODCALLTYPE TypeGetFullName(Iface *p, BSTR *out) {
    TypeObject *t = self<TypeObject>(p);
    logf("get_FullName %s", t->name.c_str());
    if (!out)
        return E_POINTER;
    *out = SysAllocString(t->fullName.c_str());
    return S_OK;
}

TypeVtbl g_typeVtbl;
TypeObject::TypeObject() : Object(&g_typeVtbl, "Type", IID__Type_, true, true) {}

// ---- _Assembly ----

struct AssemblyObject : Object {
    std::shared_ptr<DomainState> domain;
    std::wstring simpleName, path;
    AssemblyObject();
};

bool contains(const std::string &hay, const std::string &needle) {
    return hay.find(needle) != std::string::npos;
}

// Where a type name lives in an assembly file: whole, or as metadata keeps it (namespace and name apart).
bool fileHasType(const std::wstring &path, const std::wstring &typeName) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    std::string data;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0)
        data.append(buf, got);
    CloseHandle(h);
    std::string ascii = utf8(typeName);
    std::string wide(reinterpret_cast<const char *>(typeName.data()), typeName.size() * sizeof(wchar_t));
    if (contains(data, ascii) || contains(data, wide))
        return true;
    size_t dot = ascii.rfind('.');
    if (dot == std::string::npos)
        return false;
    std::string ns = ascii.substr(0, dot), leaf = ascii.substr(dot + 1);
    return contains(data, std::string(1, '\0') + ns + '\0') &&
           contains(data, std::string(1, '\0') + leaf + '\0');
}

std::wstring displayName(const AssemblyObject *a) {
    return a->simpleName + L", Version=1.0.0.0, Culture=neutral, PublicKeyToken=null";
}

HRESULT getType(AssemblyObject *a, const char *call, BSTR name, bool throwOnError, Iface **out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    HRESULT hr = domainGone(a->domain, call);
    if (FAILED(hr))
        return hr;
    if (!name)
        return runtimeFailure(E_POINTER, L"Value cannot be null.\r\nParameter name: name", IID__Assembly_);
    std::wstring typeName(name, SysStringLen(name));
    if (typeName.empty() || !fileHasType(a->path, typeName)) {
        if (!throwOnError)
            return S_OK;
        return runtimeFailure((HRESULT)0x80131522,
                              L"Could not load type '" + typeName + L"' from assembly '" + displayName(a) +
                                  L"'.",
                              IID__Assembly_);
    }
    TypeObject *t = new TypeObject();
    t->domain = a->domain;
    t->fullName = typeName;
    t->assemblyName = a->simpleName;
    *out = t->iface();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AsmGetType_3(Iface *p, BSTR name, VARIANT_BOOL throwOnError, Iface **out) {
    AssemblyObject *a = self<AssemblyObject>(p);
    enter();
    logf("GetType_3 %s throwOnError=%d", quoteBstr(name).c_str(), (int)throwOnError);
    const CallRule *r = ruleFor("GetType_3");
    if (out)
        *out = nullptr;
    if (wantsFailure(r))
        return done("GetType_3", scenarioFailure(a, r, IID__Assembly_));
    if (r && r->nullOut)
        return done("GetType_3", S_OK, "out=null");
    HRESULT hr = getType(a, "GetType_3", name, throwOnError != 0, out);
    if (SUCCEEDED(hr) && *out && r && r->hasQi) {
        self<Object>(*out)->hasQiFailure = true;
        self<Object>(*out)->qiFailure = r->qi;
    }
    return done("GetType_3", hr, out && *out ? "" : "out=null");
}

HRESULT STDMETHODCALLTYPE AsmGetType_2(Iface *p, BSTR name, Iface **out) {
    AssemblyObject *a = self<AssemblyObject>(p);
    enter();
    logf("GetType_2 %s", quoteBstr(name).c_str());
    const CallRule *r = ruleFor("GetType_2");
    if (out)
        *out = nullptr;
    if (wantsFailure(r))
        return done("GetType_2", scenarioFailure(a, r, IID__Assembly_));
    HRESULT hr = getType(a, "GetType_2", name, false, out);
    return done("GetType_2", hr, out && *out ? "" : "out=null");
}

HRESULT STDMETHODCALLTYPE AsmGetFullName(Iface *p, BSTR *out) {
    AssemblyObject *a = self<AssemblyObject>(p);
    logf("get_FullName %s", a->name.c_str());
    if (!out)
        return E_POINTER;
    *out = SysAllocString(displayName(a).c_str());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AsmGetLocation(Iface *p, BSTR *out) {
    AssemblyObject *a = self<AssemblyObject>(p);
    logf("get_Location %s", a->name.c_str());
    if (!out)
        return E_POINTER;
    *out = SysAllocString(a->path.c_str());
    return S_OK;
}

AssemblyVtbl g_assemblyVtbl;
AssemblyObject::AssemblyObject() : Object(&g_assemblyVtbl, "Assembly", IID__Assembly_, true, true) {}

// ---- _AppDomain ----

struct DomainObject : Object {
    std::shared_ptr<DomainState> state;
    DomainObject();
};

bool isFile(const std::wstring &path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool startsWithMz(const std::wstring &path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    char mz[2] = {};
    DWORD got = 0;
    ReadFile(h, mz, 2, &got, nullptr);
    CloseHandle(h);
    return got == 2 && mz[0] == 'M' && mz[1] == 'Z';
}

HRESULT loadAssembly(DomainObject *d, BSTR nameB, Iface **out, std::string &extra) {
    HRESULT hr = domainGone(d->state, "Load_2");
    if (FAILED(hr))
        return hr;
    if (!nameB)
        return runtimeFailure(E_POINTER, L"Value cannot be null.\r\nParameter name: assemblyString",
                              IID__AppDomain_);
    std::wstring full(nameB, SysStringLen(nameB));
    if (full.empty())
        return runtimeFailure(E_INVALIDARG, L"String cannot have zero length.", IID__AppDomain_);
    std::wstring simple = full.substr(0, full.find(L','));
    while (!simple.empty() && simple.back() == L' ')
        simple.pop_back();
    std::wstring path;
    for (const wchar_t *ext : {L".dll", L".exe"}) {
        std::wstring candidate = joinPath(d->state->appBase, simple + ext);
        if (isFile(candidate)) {
            path = candidate;
            break;
        }
    }
    const std::wstring prefix =
        L"Could not load file or assembly '" + full + L"' or one of its dependencies. ";
    if (path.empty())
        return runtimeFailure((HRESULT)0x80070002, prefix + L"The system cannot find the file specified.",
                              IID__AppDomain_);
    if (scenario().requirePe && !startsWithMz(path))
        return runtimeFailure((HRESULT)0x8007000B,
                              prefix + L"An attempt was made to load a program with an incorrect format.",
                              IID__AppDomain_);
    AssemblyObject *a = new AssemblyObject();
    a->domain = d->state;
    a->simpleName = simple;
    a->path = path;
    *out = a->iface();
    extra = "path=" + quote(path.c_str());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DomLoad_2(Iface *p, BSTR name, Iface **out) {
    DomainObject *d = self<DomainObject>(p);
    enter();
    logf("Load_2 %s", quoteBstr(name).c_str());
    const CallRule *r = ruleFor("Load_2");
    if (!out)
        return done("Load_2", E_POINTER);
    *out = nullptr;
    if (wantsFailure(r))
        return done("Load_2", scenarioFailure(d, r, IID__AppDomain_));
    if (r && r->nullOut)
        return done("Load_2", S_OK, "out=null");
    std::string extra;
    HRESULT hr = loadAssembly(d, name, out, extra);
    if (SUCCEEDED(hr) && *out && r && r->hasQi) {
        self<Object>(*out)->hasQiFailure = true;
        self<Object>(*out)->qiFailure = r->qi;
    }
    return done("Load_2", hr, extra);
}

HRESULT STDMETHODCALLTYPE DomGetFriendlyName(Iface *p, BSTR *out) {
    DomainObject *d = self<DomainObject>(p);
    logf("get_FriendlyName %s", d->name.c_str());
    if (!out)
        return E_POINTER;
    *out = SysAllocString(d->state->name.c_str());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DomGetBaseDirectory(Iface *p, BSTR *out) {
    DomainObject *d = self<DomainObject>(p);
    logf("get_BaseDirectory %s", d->name.c_str());
    if (!out)
        return E_POINTER;
    *out = SysAllocString(d->state->appBase.c_str());
    return S_OK;
}

AppDomainVtbl g_domainVtbl;
DomainObject::DomainObject() : Object(&g_domainVtbl, "AppDomain", IID__AppDomain_, true, true) {}

// ---- IAppDomainSetup ----

const char *const kPropNames[SetupPropertyCount] = {
    "ApplicationBase", "ApplicationName", "CachePath",           "ConfigurationFile",     "DynamicBase",
    "LicenseFile",     "PrivateBinPath",  "PrivateBinPathProbe", "ShadowCopyDirectories", "ShadowCopyFiles"};

struct SetupObject : Object {
    std::wstring props[SetupPropertyCount];
    bool isSet[SetupPropertyCount] = {};
    SetupObject();
};

template <int Prop> HRESULT STDMETHODCALLTYPE SetupGet(Iface *p, BSTR *out) {
    SetupObject *s = self<SetupObject>(p);
    enter();
    logf("get_%s", kPropNames[Prop]);
    if (!out)
        return E_POINTER;
    *out = s->isSet[Prop] ? SysAllocStringLen(s->props[Prop].data(), (UINT)s->props[Prop].size()) : nullptr;
    return S_OK;
}

template <int Prop> HRESULT STDMETHODCALLTYPE SetupPut(Iface *p, BSTR value) {
    SetupObject *s = self<SetupObject>(p);
    enter();
    std::string call = std::string("put_") + kPropNames[Prop];
    logf("%s %s", call.c_str(), quoteBstr(value).c_str());
    const CallRule *r = ruleFor(call.c_str());
    if (wantsFailure(r))
        return done(call.c_str(), scenarioFailure(s, r, IID_IAppDomainSetup_));
    s->isSet[Prop] = value != nullptr;
    s->props[Prop] = value ? std::wstring(value, SysStringLen(value)) : L"";
    return done(call.c_str(), S_OK);
}

template <std::size_t... I> AppDomainSetupVtbl makeSetupVtbl(std::index_sequence<I...>) {
    return {kUnknown, {{SetupGet<(int)I>, SetupPut<(int)I>}...}};
}
const AppDomainSetupVtbl kSetupVtbl = makeSetupVtbl(std::make_index_sequence<SetupPropertyCount>());
SetupObject::SetupObject() : Object(&kSetupVtbl, "AppDomainSetup", IID_IAppDomainSetup_, true) {}

// ---- ICorRuntimeHost ----

struct HostObject : Object {
    std::shared_ptr<HostState> state = std::make_shared<HostState>();
    HostObject(const std::wstring &version);
};

HRESULT notImplemented(const char *call) {
    enter();
    logf("%s", call);
    return done(call, E_NOTIMPL);
}

HRESULT STDMETHODCALLTYPE HostStart(Iface *p) {
    HostObject *h = self<HostObject>(p);
    enter();
    logf("Start");
    const CallRule *r = ruleFor("Start");
    if (wantsFailure(r))
        return done("Start", scenarioFailure(h, r, IID_ICorRuntimeHost_));
    if (h->state->stopped) {
        logf("VIOLATION Start after Stop");
        return done("Start", E_UNEXPECTED);
    }
    h->state->started = true;
    return done("Start", S_OK);
}

HRESULT STDMETHODCALLTYPE HostStop(Iface *p) {
    HostObject *h = self<HostObject>(p);
    enter();
    logf("Stop");
    const CallRule *r = ruleFor("Stop");
    if (wantsFailure(r))
        return done("Stop", scenarioFailure(h, r, IID_ICorRuntimeHost_));
    if (!h->state->started || h->state->stopped) {
        logf("VIOLATION Stop %s", h->state->stopped ? "twice" : "before Start");
        return done("Stop", E_UNEXPECTED);
    }
    h->state->stopped = true;
    return done("Stop", S_OK);
}

// Domains and setups need a running runtime.
HRESULT needRunning(HostObject *h, const char *call) {
    if (!h->state->started) {
        logf("VIOLATION %s before Start", call);
        return E_UNEXPECTED;
    }
    if (h->state->stopped) {
        logf("VIOLATION %s after Stop", call);
        return E_UNEXPECTED;
    }
    return S_OK;
}

HRESULT makeDomain(HostObject *h, const char *call, const wchar_t *name, Iface *setup, bool isDefault,
                   const CallRule *r, Iface **out) {
    auto st = std::make_shared<DomainState>();
    st->host = h->state;
    st->isDefault = isDefault;
    st->name = isDefault ? L"DefaultDomain" : name;
    st->appBase = exeFolder();
    if (setup && reinterpret_cast<Part *>(setup)->vtbl == &kSetupVtbl) {
        SetupObject *s = self<SetupObject>(setup);
        if (s->isSet[ApplicationBase] && !s->props[ApplicationBase].empty())
            st->appBase = s->props[ApplicationBase];
    } else if (setup) {
        logf("VIOLATION %s setup is not an object of this runtime", call);
    }
    DomainObject *d = new DomainObject();
    d->state = st;
    return handOut(d, r, IID_IUnknown_, reinterpret_cast<void **>(out));
}

HRESULT STDMETHODCALLTYPE HostCreateDomainEx(Iface *p, LPCWSTR name, Iface *setup, Iface *evidence,
                                             Iface **out) {
    HostObject *h = self<HostObject>(p);
    enter();
    logf("CreateDomainEx name=%s setup=%s evidence=%s", quote(name).c_str(), nullness(setup),
         nullness(evidence));
    const CallRule *r = ruleFor("CreateDomainEx");
    if (!out)
        return done("CreateDomainEx", E_POINTER);
    *out = nullptr;
    if (wantsFailure(r))
        return done("CreateDomainEx", scenarioFailure(h, r, IID_ICorRuntimeHost_));
    HRESULT hr = needRunning(h, "CreateDomainEx");
    if (FAILED(hr))
        return done("CreateDomainEx", hr);
    if (!name)
        return done("CreateDomainEx", E_POINTER);
    if (r && r->nullOut)
        return done("CreateDomainEx", S_OK, "out=null");
    hr = makeDomain(h, "CreateDomainEx", name, setup, false, r, out);
    return done("CreateDomainEx", hr,
                *out ? "appbase=" + quote(self<DomainObject>(*out)->state->appBase.c_str()) : "");
}

HRESULT STDMETHODCALLTYPE HostCreateDomain(Iface *p, LPCWSTR name, Iface *identity, Iface **out) {
    HostObject *h = self<HostObject>(p);
    enter();
    logf("CreateDomain name=%s identity=%s", quote(name).c_str(), nullness(identity));
    const CallRule *r = ruleFor("CreateDomain");
    if (!out)
        return done("CreateDomain", E_POINTER);
    *out = nullptr;
    if (wantsFailure(r))
        return done("CreateDomain", scenarioFailure(h, r, IID_ICorRuntimeHost_));
    HRESULT hr = needRunning(h, "CreateDomain");
    if (FAILED(hr))
        return done("CreateDomain", hr);
    if (!name)
        return done("CreateDomain", E_POINTER);
    if (r && r->nullOut)
        return done("CreateDomain", S_OK, "out=null");
    return done("CreateDomain", makeDomain(h, "CreateDomain", name, nullptr, false, r, out));
}

HRESULT defaultDomain(Iface *p, const char *call, Iface **out) {
    HostObject *h = self<HostObject>(p);
    enter();
    logf("%s", call);
    const CallRule *r = ruleFor(call);
    if (!out)
        return done(call, E_POINTER);
    *out = nullptr;
    if (wantsFailure(r))
        return done(call, scenarioFailure(h, r, IID_ICorRuntimeHost_));
    HRESULT hr = needRunning(h, call);
    if (FAILED(hr))
        return done(call, hr);
    if (r && r->nullOut)
        return done(call, S_OK, "out=null");
    hr = makeDomain(h, call, nullptr, nullptr, true, r, out);
    return done(call, hr, *out ? "appbase=" + quote(self<DomainObject>(*out)->state->appBase.c_str()) : "");
}

HRESULT STDMETHODCALLTYPE HostGetDefaultDomain(Iface *p, Iface **out) {
    return defaultDomain(p, "GetDefaultDomain", out);
}
HRESULT STDMETHODCALLTYPE HostCurrentDomain(Iface *p, Iface **out) {
    return defaultDomain(p, "CurrentDomain", out);
}

HRESULT STDMETHODCALLTYPE HostCreateDomainSetup(Iface *p, Iface **out) {
    HostObject *h = self<HostObject>(p);
    enter();
    logf("CreateDomainSetup");
    const CallRule *r = ruleFor("CreateDomainSetup");
    if (!out)
        return done("CreateDomainSetup", E_POINTER);
    *out = nullptr;
    if (wantsFailure(r))
        return done("CreateDomainSetup", scenarioFailure(h, r, IID_ICorRuntimeHost_));
    HRESULT hr = needRunning(h, "CreateDomainSetup");
    if (FAILED(hr))
        return done("CreateDomainSetup", hr);
    if (r && r->nullOut)
        return done("CreateDomainSetup", S_OK, "out=null");
    return done("CreateDomainSetup",
                handOut(new SetupObject(), r, IID_IUnknown_, reinterpret_cast<void **>(out)));
}

HRESULT STDMETHODCALLTYPE HostUnloadDomain(Iface *p, Iface *domain) {
    HostObject *h = self<HostObject>(p);
    enter();
    bool ours = domain && reinterpret_cast<Part *>(domain)->vtbl == &g_domainVtbl;
    logf("UnloadDomain domain=%s", ours ? self<DomainObject>(domain)->name.c_str() : nullness(domain));
    const CallRule *r = ruleFor("UnloadDomain");
    if (wantsFailure(r))
        return done("UnloadDomain", scenarioFailure(h, r, IID_ICorRuntimeHost_));
    if (!ours)
        return done("UnloadDomain", E_INVALIDARG);
    DomainState &st = *self<DomainObject>(domain)->state;
    if (st.isDefault) // the default domain cannot be unloaded (CannotUnloadAppDomainException)
        return done("UnloadDomain", runtimeFailure((HRESULT)0x80131015, L"Error while unloading appdomain.",
                                                   IID_ICorRuntimeHost_));
    st.unloaded = true;
    return done("UnloadDomain", S_OK);
}

HRESULT STDMETHODCALLTYPE HostCreateLogicalThreadState(Iface *) {
    return notImplemented("CreateLogicalThreadState");
}
HRESULT STDMETHODCALLTYPE HostDeleteLogicalThreadState(Iface *) {
    return notImplemented("DeleteLogicalThreadState");
}
HRESULT STDMETHODCALLTYPE HostSwitchIn(Iface *, DWORD *) {
    return notImplemented("SwitchInLogicalThreadState");
}
HRESULT STDMETHODCALLTYPE HostSwitchOut(Iface *, DWORD **) {
    return notImplemented("SwitchOutLogicalThreadState");
}
HRESULT STDMETHODCALLTYPE HostLocksHeld(Iface *, DWORD *) {
    return notImplemented("LocksHeldByLogicalThread");
}
HRESULT STDMETHODCALLTYPE HostMapFile(Iface *, HANDLE, HMODULE *) {
    return notImplemented("MapFile");
}
HRESULT STDMETHODCALLTYPE HostGetConfiguration(Iface *, void **) {
    return notImplemented("GetConfiguration");
}
HRESULT STDMETHODCALLTYPE HostEnumDomains(Iface *, void **) {
    return notImplemented("EnumDomains");
}
HRESULT STDMETHODCALLTYPE HostNextDomain(Iface *, void *, Iface **) {
    return notImplemented("NextDomain");
}
HRESULT STDMETHODCALLTYPE HostCloseEnum(Iface *, void *) {
    return notImplemented("CloseEnum");
}
HRESULT STDMETHODCALLTYPE HostCreateEvidence(Iface *, Iface **) {
    return notImplemented("CreateEvidence");
}

const CorRuntimeHostVtbl kHostVtbl = {kUnknown,
                                      HostCreateLogicalThreadState,
                                      HostDeleteLogicalThreadState,
                                      HostSwitchIn,
                                      HostSwitchOut,
                                      HostLocksHeld,
                                      HostMapFile,
                                      HostGetConfiguration,
                                      HostStart,
                                      HostStop,
                                      HostCreateDomain,
                                      HostGetDefaultDomain,
                                      HostEnumDomains,
                                      HostNextDomain,
                                      HostCloseEnum,
                                      HostCreateDomainEx,
                                      HostCreateDomainSetup,
                                      HostCreateEvidence,
                                      HostUnloadDomain,
                                      HostCurrentDomain};

HostObject::HostObject(const std::wstring &version)
    : Object(&kHostVtbl, "CorRuntimeHost", IID_ICorRuntimeHost_, false) {
    state->version = version;
    logf("runtime %s for %s", quote(version.c_str()).c_str(), name.c_str());
}

// ---- ICLRRuntimeInfo ----

struct RuntimeInfoObject : Object {
    std::wstring version;
    int index; // 1-based position in the scenario's runtime list
    RuntimeInfoObject(const std::wstring &v, int i);
};

// Copies text into a caller's buffer the way the shim does: size in characters with the terminator.
HRESULT copyOut(const std::wstring &text, LPWSTR buf, DWORD cch, DWORD *needed) {
    DWORD n = (DWORD)text.size() + 1;
    if (needed)
        *needed = n;
    if (!buf || cch < n)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    memcpy(buf, text.c_str(), n * sizeof(wchar_t));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RtGetVersionString(Iface *p, LPWSTR buf, DWORD *pcch) {
    RuntimeInfoObject *ri = self<RuntimeInfoObject>(p);
    enter();
    std::string cch = pcch ? std::to_string(*pcch) : "null";
    logf("GetVersionString cch=%s%s", cch.c_str(), buf ? "" : " buf=null");
    const CallRule *r = ruleFor("GetVersionString", ri->index);
    if (wantsFailure(r))
        return done("GetVersionString", scenarioFailure(ri, r, IID_ICLRRuntimeInfo_));
    if (!pcch)
        return done("GetVersionString", E_POINTER);
    HRESULT hr = copyOut(ri->version, buf, *pcch, pcch);
    return done("GetVersionString", hr, "cch=" + std::to_string(*pcch));
}

HRESULT getHost(Object *from, const char *call, const std::wstring &version, REFCLSID clsid, REFIID riid,
                void **ppv, const CallRule *r) {
    if (!same(clsid, CLSID_CorRuntimeHost_))
        return CLASS_E_CLASSNOTAVAILABLE;
    if (r && r->nullOut)
        return S_OK;
    return handOut(new HostObject(version), r, riid, ppv);
}

HRESULT STDMETHODCALLTYPE RtGetInterface(Iface *p, REFCLSID clsid, REFIID riid, void **ppv) {
    RuntimeInfoObject *ri = self<RuntimeInfoObject>(p);
    enter();
    logf("GetInterface clsid=%s iid=%s", guidText(clsid).c_str(), guidText(riid).c_str());
    const CallRule *r = ruleFor("GetInterface", ri->index);
    if (!ppv)
        return done("GetInterface", E_POINTER);
    *ppv = nullptr;
    if (wantsFailure(r))
        return done("GetInterface", scenarioFailure(ri, r, IID_ICLRRuntimeInfo_));
    HRESULT hr = getHost(ri, "GetInterface", ri->version, clsid, riid, ppv, r);
    return done("GetInterface", hr, *ppv ? "" : "out=null");
}

HRESULT STDMETHODCALLTYPE RtGetRuntimeDirectory(Iface *p, LPWSTR buf, DWORD *pcch) {
    RuntimeInfoObject *ri = self<RuntimeInfoObject>(p);
    enter();
    logf("GetRuntimeDirectory");
    if (!pcch)
        return done("GetRuntimeDirectory", E_POINTER);
    return done("GetRuntimeDirectory",
                copyOut(L"C:\\windows\\Microsoft.NET\\Framework\\" + ri->version + L"\\", buf, *pcch, pcch));
}
HRESULT STDMETHODCALLTYPE RtIsLoaded(Iface *, HANDLE, BOOL *b) {
    enter();
    logf("IsLoaded");
    if (!b)
        return done("IsLoaded", E_POINTER);
    *b = FALSE;
    return done("IsLoaded", S_OK);
}
HRESULT STDMETHODCALLTYPE RtLoadErrorString(Iface *, UINT, LPWSTR, DWORD *, LONG) {
    return notImplemented("LoadErrorString");
}
HRESULT STDMETHODCALLTYPE RtLoadLib(Iface *, LPCWSTR, HMODULE *) {
    return notImplemented("LoadLibrary");
}
HRESULT STDMETHODCALLTYPE RtGetProcAddr(Iface *, LPCSTR, void **) {
    return notImplemented("GetProcAddress");
}
HRESULT STDMETHODCALLTYPE RtIsLoadable(Iface *, BOOL *b) {
    enter();
    logf("IsLoadable");
    if (!b)
        return done("IsLoadable", E_POINTER);
    *b = TRUE;
    return done("IsLoadable", S_OK);
}
HRESULT STDMETHODCALLTYPE RtSetDefaultStartupFlags(Iface *, DWORD flags, LPCWSTR config) {
    enter();
    logf("SetDefaultStartupFlags flags=0x%lX config=%s", (unsigned long)flags, quote(config).c_str());
    return done("SetDefaultStartupFlags", S_OK);
}
HRESULT STDMETHODCALLTYPE RtGetDefaultStartupFlags(Iface *, DWORD *, LPWSTR, DWORD *) {
    return notImplemented("GetDefaultStartupFlags");
}
HRESULT STDMETHODCALLTYPE RtBindAsLegacyV2Runtime(Iface *) {
    return notImplemented("BindAsLegacyV2Runtime");
}
HRESULT STDMETHODCALLTYPE RtIsStarted(Iface *, BOOL *b, DWORD *f) {
    enter();
    logf("IsStarted");
    if (!b || !f)
        return done("IsStarted", E_POINTER);
    *b = FALSE;
    *f = 0;
    return done("IsStarted", S_OK);
}

const RuntimeInfoVtbl kRuntimeInfoVtbl = {kUnknown,
                                          RtGetVersionString,
                                          RtGetRuntimeDirectory,
                                          RtIsLoaded,
                                          RtLoadErrorString,
                                          RtLoadLib,
                                          RtGetProcAddr,
                                          RtGetInterface,
                                          RtIsLoadable,
                                          RtSetDefaultStartupFlags,
                                          RtGetDefaultStartupFlags,
                                          RtBindAsLegacyV2Runtime,
                                          RtIsStarted};

RuntimeInfoObject::RuntimeInfoObject(const std::wstring &v, int i)
    : Object(&kRuntimeInfoVtbl, "RuntimeInfo", IID_ICLRRuntimeInfo_, false), version(v), index(i) {}

// ---- IEnumUnknown over the installed runtimes ----

struct EnumObject : Object {
    size_t pos = 0;
    EnumObject();
};

HRESULT STDMETHODCALLTYPE EnumNext(Iface *p, ULONG celt, Iface **rgelt, ULONG *fetched) {
    EnumObject *e = self<EnumObject>(p);
    enter();
    logf("Next celt=%lu fetched=%s", (unsigned long)celt, nullness(fetched));
    const CallRule *r = ruleFor("Next");
    if (!rgelt || (celt != 1 && !fetched))
        return done("Next", E_POINTER);
    if (r && (r->hasHr || r->hasFetched || r->nullOut)) {
        // A misbehaving enumerator, as the scenario asks: nothing real is handed out.
        for (ULONG i = 0; i < celt; ++i)
            rgelt[i] = nullptr;
        ULONG n = r->hasFetched ? r->fetched : (r->nullOut ? 1 : 0);
        if (fetched)
            *fetched = n;
        HRESULT hr = r->hasHr ? r->hr : S_OK;
        if (FAILED(hr))
            scenarioFailure(e, r, IID_IEnumUnknown_);
        return done("Next", hr, "fetched=" + std::to_string(n));
    }
    const auto &rts = scenario().runtimes;
    ULONG n = 0;
    while (n < celt && e->pos < rts.size()) {
        RuntimeInfoObject *ri = new RuntimeInfoObject(rts[e->pos], (int)e->pos + 1);
        ++e->pos;
        rgelt[n++] = ri->iface();
    }
    for (ULONG i = n; i < celt; ++i)
        rgelt[i] = nullptr;
    if (fetched)
        *fetched = n;
    return done("Next", n == celt ? S_OK : S_FALSE, "fetched=" + std::to_string(n));
}

HRESULT STDMETHODCALLTYPE EnumSkip(Iface *p, ULONG celt) {
    EnumObject *e = self<EnumObject>(p);
    enter();
    logf("Skip celt=%lu", (unsigned long)celt);
    size_t total = scenario().runtimes.size();
    bool all = e->pos + celt <= total;
    e->pos = std::min<size_t>(total, e->pos + celt);
    return done("Skip", all ? S_OK : S_FALSE);
}

HRESULT STDMETHODCALLTYPE EnumReset(Iface *p) {
    enter();
    logf("Reset");
    self<EnumObject>(p)->pos = 0;
    return done("Reset", S_OK);
}

HRESULT STDMETHODCALLTYPE EnumClone(Iface *, Iface **out) {
    if (out)
        *out = nullptr;
    return notImplemented("Clone");
}

const EnumUnknownVtbl kEnumVtbl = {kUnknown, EnumNext, EnumSkip, EnumReset, EnumClone};
EnumObject::EnumObject() : Object(&kEnumVtbl, "RuntimeEnum", IID_IEnumUnknown_, false) {}

// ---- ICLRMetaHost ----

struct MetaHostObject : Object {
    MetaHostObject();
};

HRESULT STDMETHODCALLTYPE MhEnumerateInstalledRuntimes(Iface *p, Iface **out) {
    MetaHostObject *m = self<MetaHostObject>(p);
    enter();
    logf("EnumerateInstalledRuntimes");
    const CallRule *r = ruleFor("EnumerateInstalledRuntimes");
    if (!out)
        return done("EnumerateInstalledRuntimes", E_POINTER);
    *out = nullptr;
    if (wantsFailure(r))
        return done("EnumerateInstalledRuntimes", scenarioFailure(m, r, IID_ICLRMetaHost_));
    if (r && r->nullOut)
        return done("EnumerateInstalledRuntimes", S_OK, "out=null");
    return done("EnumerateInstalledRuntimes",
                handOut(new EnumObject(), r, IID_IEnumUnknown_, reinterpret_cast<void **>(out)));
}

HRESULT STDMETHODCALLTYPE MhGetRuntime(Iface *p, LPCWSTR version, REFIID riid, void **ppv) {
    MetaHostObject *m = self<MetaHostObject>(p);
    enter();
    logf("GetRuntime version=%s iid=%s", quote(version).c_str(), guidText(riid).c_str());
    const CallRule *r = ruleFor("GetRuntime");
    if (!ppv)
        return done("GetRuntime", E_POINTER);
    *ppv = nullptr;
    if (wantsFailure(r))
        return done("GetRuntime", scenarioFailure(m, r, IID_ICLRMetaHost_));
    const auto &rts = scenario().runtimes;
    for (size_t i = 0; version && i < rts.size(); ++i)
        if (rts[i] == version)
            return done("GetRuntime", handOut(new RuntimeInfoObject(rts[i], (int)i + 1), r, riid, ppv));
    return done("GetRuntime", (HRESULT)0x80131700);
}

HRESULT STDMETHODCALLTYPE MhGetVersionFromFile(Iface *, LPCWSTR, LPWSTR, DWORD *) {
    return notImplemented("GetVersionFromFile");
}
HRESULT STDMETHODCALLTYPE MhEnumerateLoadedRuntimes(Iface *, HANDLE, Iface **out) {
    if (out)
        *out = nullptr;
    return notImplemented("EnumerateLoadedRuntimes");
}
HRESULT STDMETHODCALLTYPE MhRequestNotification(Iface *, void *) {
    return notImplemented("RequestRuntimeLoadedNotification");
}
HRESULT STDMETHODCALLTYPE MhQueryLegacy(Iface *, REFIID, void **out) {
    if (out)
        *out = nullptr;
    return notImplemented("QueryLegacyV2RuntimeBinding");
}
HRESULT STDMETHODCALLTYPE MhExitProcess(Iface *, INT32 code) {
    logf("ExitProcess %d", (int)code);
    ExitProcess((UINT)code);
    return S_OK;
}

const MetaHostVtbl kMetaHostVtbl = {kUnknown,
                                    MhGetRuntime,
                                    MhGetVersionFromFile,
                                    MhEnumerateInstalledRuntimes,
                                    MhEnumerateLoadedRuntimes,
                                    MhRequestNotification,
                                    MhQueryLegacy,
                                    MhExitProcess};
MetaHostObject::MetaHostObject() : Object(&kMetaHostVtbl, "MetaHost", IID_ICLRMetaHost_, false) {}

// ---- tables that mix real methods and unexpected slots ----

void buildVtables() {
    g_domainVtbl.unk = kUnknown;
    g_domainVtbl.disp = kDispatch;
    g_domainVtbl.Load_2 = DomLoad_2;
    g_domainVtbl.get_FriendlyName = DomGetFriendlyName;
    g_domainVtbl.get_BaseDirectory = DomGetBaseDirectory;
    fillUnexpected<TagAppDomain>(g_domainVtbl);
    g_assemblyVtbl.unk = kUnknown;
    g_assemblyVtbl.disp = kDispatch;
    g_assemblyVtbl.get_FullName = AsmGetFullName;
    g_assemblyVtbl.GetType_2 = AsmGetType_2;
    g_assemblyVtbl.GetType_3 = AsmGetType_3;
    g_assemblyVtbl.get_Location = AsmGetLocation;
    fillUnexpected<TagAssembly>(g_assemblyVtbl);
    g_typeVtbl.unk = kUnknown;
    g_typeVtbl.disp = kDispatch;
    g_typeVtbl.get_FullName = TypeGetFullName;
    g_typeVtbl.InvokeMember_3 = TypeInvokeMember_3;
    fillUnexpected<TagType>(g_typeVtbl);
}

// The runtime GetCORVersion reports and CorBindToRuntime(NULL) binds: the newest one before version 4.
bool legacyRuntime(std::wstring &out) {
    const Scenario &s = scenario();
    bool found = false;
    for (const auto &v : s.runtimes)
        if (v.compare(0, 3, L"v1.") == 0 || v.compare(0, 3, L"v2.") == 0) {
            out = v;
            found = true;
        }
    return found;
}

HRESULT bindToRuntime(const char *call, LPCWSTR version, LPCWSTR flavor, DWORD flags, bool hasFlags,
                      REFCLSID clsid, REFIID riid, void **ppv) {
    enter();
    std::string flagText = hasFlags ? " flags=0x" + std::to_string(flags) : "";
    logf("%s version=%s flavor=%s%s clsid=%s iid=%s", call, quote(version).c_str(), quote(flavor).c_str(),
         flagText.c_str(), guidText(clsid).c_str(), guidText(riid).c_str());
    const CallRule *r = ruleFor(call);
    if (!ppv)
        return done(call, E_POINTER);
    *ppv = nullptr;
    if (wantsFailure(r))
        return done(call, scenarioFailure(nullptr, r, IID_ICorRuntimeHost_));
    std::wstring chosen;
    if (version) {
        for (const auto &v : scenario().runtimes)
            if (v == version)
                chosen = v;
    } else {
        legacyRuntime(chosen);
    }
    if (chosen.empty())
        return done(call, (HRESULT)0x80131700);
    HRESULT hr = getHost(nullptr, call, chosen, clsid, riid, ppv, r);
    return done(call, hr, *ppv ? "runtime=" + quote(chosen.c_str()) : "out=null");
}

} // namespace
} // namespace fc

using namespace fc;

extern "C" {

HRESULT WINAPI CLRCreateInstance(REFCLSID clsid, REFIID riid, void **ppv) {
    enter();
    logf("CLRCreateInstance clsid=%s iid=%s", guidText(clsid).c_str(), guidText(riid).c_str());
    const CallRule *r = ruleFor("CLRCreateInstance");
    if (!ppv)
        return done("CLRCreateInstance", E_POINTER);
    *ppv = nullptr;
    if (wantsFailure(r))
        return done("CLRCreateInstance", scenarioFailure(nullptr, r, IID_ICLRMetaHost_));
    if (!same(clsid, CLSID_CLRMetaHost_))
        return done("CLRCreateInstance", CLASS_E_CLASSNOTAVAILABLE);
    if (r && r->nullOut)
        return done("CLRCreateInstance", S_OK, "out=null");
    return done("CLRCreateInstance", handOut(new MetaHostObject(), r, riid, ppv));
}

HRESULT WINAPI GetCORVersion(LPWSTR buf, DWORD cch, DWORD *written) {
    enter();
    logf("GetCORVersion cch=%lu%s%s", (unsigned long)cch, buf ? "" : " buf=null",
         written ? "" : " written=null");
    const CallRule *r = ruleFor("GetCORVersion");
    if (wantsFailure(r))
        return done("GetCORVersion", scenarioFailure(nullptr, r, IID_IUnknown_));
    std::wstring v = scenario().corVersion;
    if (!scenario().hasCorVersion && !legacyRuntime(v))
        return done("GetCORVersion", (HRESULT)0x80131700);
    DWORD need = 0;
    HRESULT hr = copyOut(v, buf, cch, &need);
    if (written)
        *written = need;
    return done("GetCORVersion", hr, "written=" + std::to_string(need));
}

HRESULT WINAPI CorBindToRuntime(LPCWSTR version, LPCWSTR flavor, REFCLSID clsid, REFIID riid, void **ppv) {
    return bindToRuntime("CorBindToRuntime", version, flavor, 0, false, clsid, riid, ppv);
}

HRESULT WINAPI CorBindToRuntimeEx(LPCWSTR version, LPCWSTR flavor, DWORD flags, REFCLSID clsid, REFIID riid,
                                  void **ppv) {
    return bindToRuntime("CorBindToRuntimeEx", version, flavor, flags, true, clsid, riid, ppv);
}

BOOL WINAPI DllMain(HINSTANCE inst, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = inst;
        DisableThreadLibraryCalls(inst);
        loadScenario();
        buildVtables();
        wchar_t path[MAX_PATH * 4];
        DWORD n = GetModuleFileNameW(inst, path, sizeof path / sizeof path[0]);
        logf("DllMain attach path=%s", utf8(path, n).c_str());
        wchar_t exe[MAX_PATH * 4];
        n = GetModuleFileNameW(nullptr, exe, sizeof exe / sizeof exe[0]);
        logf("process pid=%lu exe=%s", (unsigned long)GetCurrentProcessId(), utf8(exe, n).c_str());
        const Scenario &s = scenario();
        logf("scenario %s", s.source.empty() ? "default" : quote(s.source.c_str()).c_str());
        for (const auto &e : s.errors)
            logf("scenario error %s", e.c_str());
    } else if (reason == DLL_PROCESS_DETACH) {
        // No locks here: at process exit other threads are already gone, maybe mid-call.
        if (reserved)
            logWithoutLock();
        logf("DllMain detach live=%u%s", (unsigned)g_live.size(), reserved ? " exiting" : "");
        for (Object *o : g_live)
            logf("leak %s refs=%ld", o->name.c_str(), (long)o->refs);
    }
    return TRUE;
}

} // extern "C"
