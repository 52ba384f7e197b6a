// The exit-code convention of the process entry.
#include "startup_guard.h"

#include "base/error_report.h"

#include <new>

namespace corvane
{
namespace
{
int ExitCodeOf(long n)
{
    return n != 0 ? static_cast<int>(n) : static_cast<int>(E_FAIL);
}

const wchar_t c_szUnexpected[] = L"The start-up ended with an unexpected error.";
} // namespace

int ExitCodeOfStartup(HRESULT (*pfnStartup)(HINSTANCE), HINSTANCE hInstance)
{
    try
    {
        const HRESULT hr = pfnStartup(hInstance);
        return FAILED(hr) ? hr : S_OK;
    }
    catch (int n)
    {
        return ExitCodeOf(n);
    }
    catch (unsigned int n)
    {
        return ExitCodeOf(static_cast<long>(n));
    }
    catch (long n)
    {
        return ExitCodeOf(n);
    }
    catch (unsigned long n)
    {
        return ExitCodeOf(static_cast<long>(n));
    }
    catch (const CHresultException& e)
    {
        return ExitCodeOf(e.GetHresult());
    }
    catch (const _com_error& error)
    {
        ReportComError(error, c_szUnexpected);
        return ExitCodeOf(error.Error());
    }
    catch (const std::bad_alloc&)
    {
        ReportHresult(E_OUTOFMEMORY, IErrorInfoPtr(), c_szUnexpected);
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        ReportHresult(E_UNEXPECTED, IErrorInfoPtr(), c_szUnexpected);
        return E_UNEXPECTED;
    }
}
} // namespace corvane
