// Error reporting: the one error box of the launcher, the platform texts of result codes, and the
// exception that carries a result code to the process entry.
#pragma once

#include "com_support.h"

// Ends start-up early with a result code; the process entry turns it into the exit code.
class CHresultException
{
public:
    explicit CHresultException(HRESULT hr) : m_hr(hr) {}
    HRESULT GetHresult() const { return m_hr; }

private:
    HRESULT m_hr;
};

// The splash window while it still exists, else no owner.
HWND GetMessageBoxOwner();

// The system text of an HRESULT without its final line break, or a fallback text.
_bstr_t GetHresultText(HRESULT hr);

// The system text of a Win32 error code followed by the code in decimal between parentheses.
_bstr_t GetWin32ErrorText(DWORD dwCode);

// The error-information source of a failing object: its IErrorInfo, or null when it offers none.
IErrorInfoPtr GetErrorInfoSource(IUnknown* pObject);

// The three ways of telling the user that something could not be done.
void ReportHresult(HRESULT hr, IErrorInfoPtr oSource, const _bstr_t& bsSentence);
void ReportComError(_com_error error, const _bstr_t& bsSentence);
void ReportWin32Error(DWORD dwCode, const _bstr_t& bsSentence);
