// corvane-drive: starts a launcher under the driver and prints what a user sees, box by box, and the
// full exit code. Usage: corvane-drive EXE [--answer OK|Cancel|Yes|No|Retry ...] [--env NAME=VALUE ...]
#include "harness/launch_driver.h"

#include <cstdio>
#include <cwchar>

namespace
{
int ButtonId(const wchar_t* szName)
{
    const std::pair<const wchar_t*, int> names[] = {
        {L"OK", IDOK},       {L"Cancel", IDCANCEL}, {L"Yes", IDYES},      {L"No", IDNO},
        {L"Retry", IDRETRY}, {L"Abort", IDABORT},   {L"Ignore", IDIGNORE}};
    for (const auto& name : names)
        if (_wcsicmp(name.first, szName) == 0) return name.second;
    return _wtoi(szName);
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
    {
        fputs("usage: corvane-drive EXE [--answer BUTTON ...] [--env NAME=VALUE ...] [--cwd DIR]\n", stderr);
        return 2;
    }
    CLaunchOptions options;
    options.exePath = argv[1];
    options.timeoutMs = 600000;
    for (int i = 2; i + 1 < argc; i += 2)
    {
        if (wcscmp(argv[i], L"--answer") == 0)
            options.answers.push_back(ButtonId(argv[i + 1]));
        else if (wcscmp(argv[i], L"--cwd") == 0)
            options.workDir = argv[i + 1];
        else if (wcscmp(argv[i], L"--env") == 0)
        {
            const wchar_t* pEq = wcschr(argv[i + 1], L'=');
            if (pEq)
                options.env.emplace_back(std::wstring(argv[i + 1], static_cast<size_t>(pEq - argv[i + 1])),
                                         pEq + 1);
        }
    }
    const CLaunchResult result = RunLauncher(options);
    const std::string text = ToUtf8(result.transcript);
    DWORD dwWritten = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &dwWritten,
              nullptr);
    return result.timedOut ? 1 : 0;
}
