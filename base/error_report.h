// Error reporting: the one error box of the launcher, the platform texts of result codes, the macro
// that passes a failure up, and the exception that carries a result code to the process entry.
#pragma once

#include "com_support.h"

#include <initializer_list>

// Ends the calling step with a failing result, which the step that failed has already reported.
#define RETURN_IF_FAILED(expr)                                                                               \
    do                                                                                                       \
    {                                                                                                        \
        const HRESULT hrFailed_ = (expr);                                                                    \
        if (FAILED(hrFailed_)) return hrFailed_;                                                             \
    } while (0)

namespace corvane
{
// Ends start-up early with a result code; the process entry turns it into the exit code.
class CHresultException
{
public:
    explicit CHresultException(HRESULT hr) : m_hr(hr) {}
    HRESULT GetHresult() const { return m_hr; }

private:
    HRESULT m_hr;
};

// What another start may wait for (a lock) is let go of before the first error box: every failure ends
// the start, and a box can stay up for as long as the user leaves it. An owner of such a thing derives
// from this; it is on the list from its construction to its destruction, and released at most once.
class CReleasedBeforeErrorBox
{
public:
    CReleasedBeforeErrorBox(const CReleasedBeforeErrorBox&) = delete;
    CReleasedBeforeErrorBox& operator=(const CReleasedBeforeErrorBox&) = delete;

    // Lets go of everything on the list; the boxes call it.
    static void ReleaseAll();

protected:
    CReleasedBeforeErrorBox();
    ~CReleasedBeforeErrorBox();
    virtual void ReleaseBeforeErrorBox() = 0;

private:
    void Unlink();

    CReleasedBeforeErrorBox* m_pNext = nullptr;
    static CReleasedBeforeErrorBox* s_pFirst;
};

// The window that owns every error box while it exists: the splash window registers itself here.
void SetMessageBoxOwner(HWND hwnd);
// The registered window while it still exists, else no owner.
HWND GetMessageBoxOwner();

// The system text of an HRESULT without its final line break, or a fallback text.
_bstr_t GetHresultText(HRESULT hr);

// The system text of a Win32 error code followed by the code in decimal between parentheses.
_bstr_t GetWin32ErrorText(DWORD dwCode);

// The error-information source of a failing object: its IErrorInfo, or null when it offers none.
IErrorInfoPtr GetErrorInfoSource(IUnknown* pObject);
// After a failed call through interface iid: the thread's error object, when the called object says it
// supports error information for that interface; else null.
IErrorInfoPtr GetCallErrorInfo(IUnknown* pObject, REFIID iid);

// The ways of telling the user that something could not be done, once, where it happened. Each returns
// the failure for the step to end with: hr itself, the error's code, or the Win32 code as an HRESULT.
HRESULT ReportHresult(HRESULT hr, IErrorInfoPtr oSource, const wchar_t* pszSentence);
HRESULT ReportComError(_com_error error, const wchar_t* pszSentence);
HRESULT ReportWin32Error(DWORD dwCode, const wchar_t* pszSentence);

// The parts one after the other in one string, allocated once (a null part is empty): each message is
// built in one call instead of a chain of concatenations, each with a temporary of its own.
_bstr_t Joined(std::initializer_list<const wchar_t*> parts);

// "“" text "”": names and paths are quoted typographically in every message.
_bstr_t Quoted(const _bstr_t& bsText);
} // namespace corvane
