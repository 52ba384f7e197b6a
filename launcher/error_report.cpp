// Error reporting: box texts built from the caller's sentence and what the system knows of the code.
#include "error_report.h"

#include "product.h"
#include "splash/splash_window.h"

#include <cwchar>
#include <string>

namespace
{
// "Corvane – Loading": the product name, a blank, an en dash, a blank and the topic.
const _bstr_t& LoadingCaption()
{
    static const _bstr_t bsCaption = _bstr_t(g_szProductName) + L" \x2013 Loading";
    return bsCaption;
}

// Frees a buffer that FormatMessageW allocated.
class CLocalBuffer
{
public:
    CLocalBuffer() = default;
    CLocalBuffer(const CLocalBuffer&) = delete;
    CLocalBuffer& operator=(const CLocalBuffer&) = delete;
    ~CLocalBuffer()
    {
        if (m_psz) LocalFree(m_psz);
    }
    LPWSTR* operator&() { return &m_psz; }
    LPCWSTR Get() const { return m_psz; }

private:
    LPWSTR m_psz = nullptr;
};

void ShowErrorBox(const _bstr_t& bsText)
{
    MessageBoxW(GetMessageBoxOwner(), bsText, LoadingCaption(), MB_OK | MB_ICONERROR);
}
} // namespace

HWND GetMessageBoxOwner()
{
    return IsWindow(g_hwndSplash) ? g_hwndSplash : nullptr;
}

_bstr_t GetHresultText(HRESULT hr)
{
    CLocalBuffer buffer;
    DWORD dwChars = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                   reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (dwChars != 0 && buffer.Get() != nullptr)
    {
        std::wstring text(buffer.Get());
        if (text.size() > 1 && text.back() == L'\n')
        {
            text.pop_back();
            if (!text.empty() && text.back() == L'\r') text.pop_back();
        }
        return _bstr_t(text.c_str());
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
    return _bstr_t(szText) + L" (" + szCode + L")";
}

IErrorInfoPtr GetErrorInfoSource(IUnknown* pObject)
{
    IErrorInfoPtr oSource;
    // Any failure of the query, not only E_NOINTERFACE, leaves the report without a description.
    if (pObject) pObject->QueryInterface(__uuidof(IErrorInfo), reinterpret_cast<void**>(&oSource));
    return oSource;
}

void ReportHresult(HRESULT hr, IErrorInfoPtr oSource, const _bstr_t& bsSentence)
{
    // The error takes over the source's reference and releases it once, after the box has closed.
    ReportComError(_com_error(hr, oSource.Detach(), false), bsSentence);
}

void ReportComError(_com_error error, const _bstr_t& bsSentence)
{
    _bstr_t bsText = bsSentence + L"\n" + GetHresultText(error.Error());

    _bstr_t bsDescription;
    IErrorInfoPtr oErrorInfo(error.ErrorInfo(), false); // ErrorInfo() hands out a reference of its own
    if (oErrorInfo)
    {
        BSTR bstr = nullptr;
        if (SUCCEEDED(oErrorInfo->GetDescription(&bstr))) bsDescription.Attach(bstr);
    }
    if (bsDescription.length() != 0) bsText += L"\n" + bsDescription;

    ShowErrorBox(bsText);
}

void ReportWin32Error(DWORD dwCode, const _bstr_t& bsSentence)
{
    ShowErrorBox(bsSentence + L" " + GetWin32ErrorText(dwCode));
}
