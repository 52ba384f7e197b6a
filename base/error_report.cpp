// Error reporting: box texts built from the caller's sentence and what the system knows of the code.
#include "error_report.h"

#include "event_log.h"
#include "product.h"
#include "trace.h"
#include "unique_any.h"

#include <cwchar>

namespace corvane
{
namespace
{
HWND g_hwndMessageBoxOwner = nullptr;

// "Corvane – Loading": the product name, a blank, an en dash, a blank and the topic.
const _bstr_t& LoadingCaption()
{
    static const _bstr_t bsCaption = Joined({g_szProductName, L" \x2013 Loading"});
    return bsCaption;
}

// hr: the result the report returns, which the event log keeps beside the text.
void ShowErrorBox(const _bstr_t& bsText, HRESULT hr)
{
    Trace(L"error box: %ls", static_cast<const wchar_t*>(bsText));
    WriteBoxEvent(bsText, hr);
    CReleasedBeforeErrorBox::ReleaseAll();
    MessageBoxW(GetMessageBoxOwner(), bsText, LoadingCaption(), MB_OK | MB_ICONERROR);
}
} // namespace

CReleasedBeforeErrorBox* CReleasedBeforeErrorBox::s_pFirst = nullptr;

CReleasedBeforeErrorBox::CReleasedBeforeErrorBox() : m_pNext(s_pFirst)
{
    s_pFirst = this;
}

CReleasedBeforeErrorBox::~CReleasedBeforeErrorBox()
{
    Unlink();
}

void CReleasedBeforeErrorBox::Unlink()
{
    for (CReleasedBeforeErrorBox** ppLink = &s_pFirst; *ppLink; ppLink = &(*ppLink)->m_pNext)
        if (*ppLink == this)
        {
            *ppLink = m_pNext;
            return;
        }
}

void CReleasedBeforeErrorBox::ReleaseAll()
{
    while (CReleasedBeforeErrorBox* pFirst = s_pFirst)
    {
        pFirst->Unlink(); // off the list first: each is released once
        pFirst->ReleaseBeforeErrorBox();
    }
}

void SetMessageBoxOwner(HWND hwnd)
{
    g_hwndMessageBoxOwner = hwnd;
}

HWND GetMessageBoxOwner()
{
    return IsWindow(g_hwndMessageBoxOwner) ? g_hwndMessageBoxOwner : nullptr;
}

_bstr_t GetHresultText(HRESULT hr)
{
    CUniqueLocalString szBuffer;
    DWORD dwChars = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                   reinterpret_cast<LPWSTR>(szBuffer.Put()), 0, nullptr);
    if (dwChars != 0 && szBuffer.IsValid())
    {
        // The system's text ends with a line break that the box does not want; cut it in place.
        const LPWSTR szText = szBuffer.Get();
        size_t cch = wcslen(szText);
        if (cch > 1 && szText[cch - 1] == L'\n')
        {
            szText[--cch] = L'\0';
            if (cch > 0 && szText[cch - 1] == L'\r') szText[--cch] = L'\0';
        }
        return _bstr_t(szText);
    }

    wchar_t szFallback[32];
    const DWORD dwCode = static_cast<DWORD>(hr);
    if (dwCode >= 0x80040200 && dwCode <= 0x8004FFFF && dwCode - 0x80040200 != 0)
        swprintf(szFallback, 32, L"IDispatch error #%d", static_cast<int>(dwCode - 0x80040200));
    else
        swprintf(szFallback, 32, L"Unknown error 0x%0lX", static_cast<unsigned long>(dwCode));
    return _bstr_t(szFallback);
}

_bstr_t GetWin32ErrorText(DWORD dwCode)
{
    wchar_t szText[4096];
    DWORD dwChars = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, dwCode, 0, szText, 4096, nullptr);
    // Without a system text the buffer holds nothing defined; say so in words instead of reading it.
    if (dwChars == 0) wcscpy(szText, L"No system text is available for this error.");

    wchar_t szCode[16];
    swprintf(szCode, 16, L"%lu", static_cast<unsigned long>(dwCode));
    return Joined({szText, L" (", szCode, L")"});
}

IErrorInfoPtr GetErrorInfoSource(IUnknown* pObject)
{
    IErrorInfoPtr oSource;
    // Any failure of the query, not only E_NOINTERFACE, leaves the report without a description.
    if (pObject) pObject->QueryInterface(__uuidof(IErrorInfo), reinterpret_cast<void**>(&oSource));
    return oSource;
}

IErrorInfoPtr GetCallErrorInfo(IUnknown* pObject, REFIID iid)
{
    IErrorInfoPtr oErrorInfo;
    ISupportErrorInfoPtr oSupport;
    if (pObject &&
        SUCCEEDED(
            pObject->QueryInterface(__uuidof(ISupportErrorInfo), reinterpret_cast<void**>(&oSupport))) &&
        oSupport && oSupport->InterfaceSupportsErrorInfo(iid) == S_OK)
    {
        // GetErrorInfo hands over the thread's error object and clears it; the report owns it from here.
        if (GetErrorInfo(0, &oErrorInfo) != S_OK) oErrorInfo = nullptr;
    }
    return oErrorInfo;
}

HRESULT ReportHresult(HRESULT hr, IErrorInfoPtr oSource, const wchar_t* pszSentence)
{
    // The error takes over the source's reference and releases it once, after the box has closed.
    return ReportComError(_com_error(hr, oSource.Detach(), false), pszSentence);
}

HRESULT ReportComError(_com_error error, const wchar_t* pszSentence)
{
    _bstr_t bsDescription;
    IErrorInfoPtr oErrorInfo(error.ErrorInfo(), false); // ErrorInfo() hands out a reference of its own
    if (oErrorInfo)
    {
        BSTR bstr = nullptr;
        if (SUCCEEDED(oErrorInfo->GetDescription(&bstr))) bsDescription.Attach(bstr);
    }
    const _bstr_t bsText = Joined({pszSentence, L"\n", GetHresultText(error.Error()),
                                   bsDescription.length() != 0 ? L"\n" : nullptr, bsDescription});

    ShowErrorBox(bsText, error.Error());
    return error.Error();
}

HRESULT ReportWin32Error(DWORD dwCode, const wchar_t* pszSentence)
{
    const HRESULT hrCode = HRESULT_FROM_WIN32(dwCode);
    // A step that failed fails even when the system left no code behind.
    const HRESULT hr = FAILED(hrCode) ? hrCode : E_FAIL;
    ShowErrorBox(Joined({pszSentence, L" ", GetWin32ErrorText(dwCode)}), hr);
    return hr;
}

_bstr_t Joined(std::initializer_list<const wchar_t*> parts)
{
    size_t cch = 0;
    for (const wchar_t* pszPart : parts)
        if (pszPart) cch += wcslen(pszPart);
    BSTR bsJoined = SysAllocStringLen(nullptr, static_cast<UINT>(cch));
    if (!bsJoined) _com_issue_error(E_OUTOFMEMORY);
    wchar_t* pchEnd = bsJoined;
    for (const wchar_t* pszPart : parts)
        if (pszPart)
        {
            const size_t cchPart = wcslen(pszPart);
            wmemcpy(pchEnd, pszPart, cchPart);
            pchEnd += cchPart;
        }
    return _bstr_t(bsJoined, false);
}

_bstr_t Quoted(const _bstr_t& bsText)
{
    return Joined({L"\x201C", bsText, L"\x201D"});
}
} // namespace corvane
