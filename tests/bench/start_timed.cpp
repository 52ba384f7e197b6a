// corvane-bench-start: starts one program and prints how long it ran, from the call that creates its
// process to its exit, plus the tick count at both ends (the clock of Wine's +timestamp debug lines) and
// the process's peak working set, as last read before its exit.
// Usage: corvane-bench-start [--env NAME=VALUE ...] [--copy FROM TO] [--timeout MS] [--probe CLASS] EXE
// [ARGS ...]
// --copy copies a file inside the timed span, before the start: the baseline's copy of the pack file.
// --probe sends the program's visible window of that class WM_NULL over and over while it runs, and
// prints the longest it took to answer.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace
{
std::wstring Quoted(const wchar_t* szArg)
{
    return std::wstring(L"\"") + szArg + L"\"";
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
}

struct CWindowSearch
{
    DWORD dwProcessId;
    const wchar_t* szClass;
    HWND hwnd;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lParam)
{
    CWindowSearch& search = *reinterpret_cast<CWindowSearch*>(lParam);
    DWORD dwProcessId = 0;
    GetWindowThreadProcessId(hwnd, &dwProcessId);
    wchar_t szClass[256] = L"";
    GetClassNameW(hwnd, szClass, 256);
    if (dwProcessId != search.dwProcessId || wcscmp(szClass, search.szClass) != 0 || !IsWindowVisible(hwnd))
        return TRUE;
    search.hwnd = hwnd;
    return FALSE;
}

// While the process runs: the longest its window took to answer (ms) and the peak working set last read.
struct CWatch
{
    double dLongestMs = 0;
    unsigned uProbes = 0;
    SIZE_T cbPeak = 0;
};

DWORD WaitWatching(HANDLE hProcess, DWORD dwProcessId, const wchar_t* szProbeClass, DWORD dwTimeoutMs,
                   CWatch& watch)
{
    const DWORD dwStart = GetTickCount();
    for (;;)
    {
        PROCESS_MEMORY_COUNTERS counters = {};
        if (GetProcessMemoryInfo(hProcess, &counters, sizeof(counters)) &&
            counters.PeakWorkingSetSize > watch.cbPeak)
            watch.cbPeak = counters.PeakWorkingSetSize;
        CWindowSearch search = {dwProcessId, szProbeClass, nullptr};
        if (szProbeClass) EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.hwnd)
        {
            LARGE_INTEGER sent, answered;
            DWORD_PTR result = 0;
            QueryPerformanceCounter(&sent);
            // Answered, timed out or ended by the window's destruction at the process's end: until then the
            // message waited.
            SendMessageTimeoutW(search.hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
            QueryPerformanceCounter(&answered);
            const double dMs = Milliseconds(sent, answered);
            watch.dLongestMs = dMs > watch.dLongestMs ? dMs : watch.dLongestMs;
            ++watch.uProbes;
        }
        const DWORD dwWait = WaitForSingleObject(hProcess, 5);
        if (dwWait != WAIT_TIMEOUT || GetTickCount() - dwStart >= dwTimeoutMs) return dwWait;
    }
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* szCopyFrom = nullptr;
    const wchar_t* szCopyTo = nullptr;
    const wchar_t* szProbeClass = nullptr;
    DWORD dwTimeoutMs = 600000;
    int i = 1;
    for (; i + 1 < argc && wcsncmp(argv[i], L"--", 2) == 0; i += 2)
    {
        if (wcscmp(argv[i], L"--env") == 0)
        {
            // The child inherits the environment: set here, not handed over in a block, as a shell would.
            std::wstring var = argv[i + 1];
            const size_t eq = var.find(L'=');
            if (eq != std::wstring::npos)
                SetEnvironmentVariableW(var.substr(0, eq).c_str(), var.c_str() + eq + 1);
        }
        else if (wcscmp(argv[i], L"--copy") == 0 && i + 2 < argc)
        {
            szCopyFrom = argv[i + 1];
            szCopyTo = argv[i + 2];
            ++i;
        }
        else if (wcscmp(argv[i], L"--timeout") == 0)
            dwTimeoutMs = static_cast<DWORD>(_wtoi(argv[i + 1]));
        else if (wcscmp(argv[i], L"--probe") == 0)
            szProbeClass = argv[i + 1];
    }
    if (i >= argc)
    {
        fputs("usage: corvane-bench-start [--env NAME=VALUE ...] [--copy FROM TO] [--timeout MS] [--probe "
              "CLASS] "
              "EXE [ARGS ...]\n",
              stderr);
        return 2;
    }
    std::wstring commandLine = Quoted(argv[i]);
    for (int j = i + 1; j < argc; ++j)
        commandLine += L" " + Quoted(argv[j]);

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    LARGE_INTEGER start, end;
    const DWORD dwTickStart = GetTickCount();
    QueryPerformanceCounter(&start);
    if (szCopyFrom && !CopyFileW(szCopyFrom, szCopyTo, FALSE))
    {
        printf("error=copy %lu\n", GetLastError());
        return 1;
    }
    if (!CreateProcessW(argv[i], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    {
        printf("error=start %lu\n", GetLastError());
        return 1;
    }
    CWatch watch;
    const DWORD dwWait = WaitWatching(pi.hProcess, pi.dwProcessId, szProbeClass, dwTimeoutMs, watch);
    QueryPerformanceCounter(&end);
    const DWORD dwTickEnd = GetTickCount();
    if (dwWait != WAIT_OBJECT_0)
    {
        TerminateProcess(pi.hProcess, 0xDEAD);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    DWORD dwExit = 0;
    GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    printf("ms=%.1f exit=%lu pid=%04lx tick0=%lu tick1=%lu peak=%lu longest=%.1f probes=%u%s\n",
           Milliseconds(start, end), dwExit, pi.dwProcessId, dwTickStart, dwTickEnd,
           static_cast<unsigned long>(watch.cbPeak), watch.dLongestMs, watch.uProbes,
           dwWait == WAIT_OBJECT_0 ? "" : " timeout");
    return dwWait == WAIT_OBJECT_0 ? 0 : 1;
}
