// The exit-code convention of the process entry: a start-up's result, or what it threw, as the code.
#pragma once

#include "base/com_support.h"

namespace corvane
{
// Runs the start-up and returns its exit code: a failing HRESULT as it is, any success as 0. A thrown
// integer or CHresultException ends it with that code (E_FAIL for 0); any other exception is reported
// once and ends it with its code, rather than with the runtime library's abort.
int ExitCodeOfStartup(HRESULT (*pfnStartup)(HINSTANCE), HINSTANCE hInstance);
} // namespace corvane
