// The opt-in trace: each line opened, appended and closed, so that a start that ends anywhere leaves
// every line before it on disk.
#include "trace.h"

#include "unique_any.h"

#include <cstdarg>
#include <cwchar>

namespace corvane
{
namespace
{
// The trace file's path, read once; empty when the variable is not set (or does not fit).
const wchar_t* TracePath()
{
    static wchar_t s_szPath[MAX_PATH] = {};
    static bool s_fRead = false;
    if (!s_fRead)
    {
        s_fRead = true;
        const DWORD cch = GetEnvironmentVariableW(L"CORVANE_TRACE", s_szPath, MAX_PATH);
        if (cch == 0 || cch >= MAX_PATH) s_szPath[0] = L'\0';
    }
    return s_szPath;
}

void AppendLine(const wchar_t* szPath, const wchar_t* szLine)
{
    char szUtf8[4 * 1024 + 8];
    const int cb = WideCharToMultiByte(CP_UTF8, 0, szLine, -1, szUtf8, sizeof(szUtf8) - 2, nullptr, nullptr);
    if (cb <= 0) return;
    szUtf8[cb - 1] = '\r';
    szUtf8[cb] = '\n';
    const CUniqueHFile hFile(CreateFileW(szPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD dwWritten = 0;
    if (hFile.IsValid()) WriteFile(hFile.Get(), szUtf8, static_cast<DWORD>(cb + 1), &dwWritten, nullptr);
}
} // namespace

void Trace(const wchar_t* szFormat, ...)
{
    const wchar_t* szPath = TracePath();
    if (!*szPath) return;
    static const DWORD s_dwStart = GetTickCount();
    wchar_t szLine[1024];
    const int cchTime =
        swprintf(szLine, 32, L"%6lu ms  ", static_cast<unsigned long>(GetTickCount() - s_dwStart));
    va_list args;
    va_start(args, szFormat);
    _vsnwprintf(szLine + cchTime, 1024 - cchTime - 1, szFormat, args);
    va_end(args);
    szLine[1023] = L'\0';
    // One line per entry: a box's line breaks become blanks.
    for (wchar_t* pch = szLine; *pch; ++pch)
        if (*pch == L'\r' || *pch == L'\n') *pch = L' ';
    AppendLine(szPath, szLine);
}

HRESULT TraceStep(const wchar_t* szStep, HRESULT hr)
{
    Trace(L"%ls -> 0x%08lX", szStep, static_cast<unsigned long>(hr));
    return hr;
}
} // namespace corvane
