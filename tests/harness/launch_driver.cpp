// Starts the launcher and meets its windows from outside, as a user at the screen would.
#include "launch_driver.h"

#include "product_names.h"
#include "screen_capture.h"

#include <cstdlib>
#include <cwchar>
#include <map>

namespace
{
// The splash window's class is the maker's name and "LauncherSplash": a branded launcher's too.
bool IsSplashClass(const std::wstring& className)
{
    const std::wstring suffix = L"LauncherSplash";
    return className.size() > suffix.size() &&
           className.compare(className.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::wstring WindowText(HWND hwnd)
{
    wchar_t sz[8192] = {};
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(sz), SMTO_BLOCK, 2000, nullptr);
    return sz;
}

std::wstring ClassOf(HWND hwnd)
{
    wchar_t sz[256] = {};
    GetClassNameW(hwnd, sz, 256);
    return sz;
}

BOOL CALLBACK CollectButton(HWND hwndChild, LPARAM lParam)
{
    if (ClassOf(hwndChild) == L"Button" && IsWindowVisible(hwndChild))
        reinterpret_cast<CWindowSnapshot*>(lParam)->buttons.emplace_back(GetDlgCtrlID(hwndChild),
                                                                         WindowText(hwndChild));
    return TRUE;
}

// Which standard icon the box shows, read off the screen as a user sees it: the pixels of the box's
// icon control against each standard icon drawn over the same background.
HWND IconControlOf(HWND hwndBox)
{
    HWND hwndIcon = nullptr;
    for (int id : {0x440, 0x14}) // Wine's and Windows' id of the box's icon control
        if (!hwndIcon) hwndIcon = GetDlgItem(hwndBox, id);
    return hwndIcon && IsWindowVisible(hwndIcon) ? hwndIcon : nullptr;
}

UINT IconOf(HWND hwndBox)
{
    const HWND hwndIcon = IconControlOf(hwndBox);
    if (!hwndIcon) return 0;
    RECT rect;
    GetWindowRect(hwndIcon, &rect);
    const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    const RECT area = {rect.left, rect.top, rect.left + cx, rect.top + cy};
    const CScreenImage shot = CScreenImage::Capture(area);
    const CRgb background = shot.At(rect.left, rect.top); // the control's background, from its corner

    const std::pair<LPCWSTR, UINT> icons[] = {{IDI_HAND, MB_ICONERROR},
                                              {IDI_EXCLAMATION, MB_ICONWARNING},
                                              {IDI_ASTERISK, MB_ICONINFORMATION},
                                              {IDI_QUESTION, MB_ICONQUESTION}};
    UINT uBest = 0;
    long long llBest = -1;
    CDibCanvas drawn(cx, cy);
    for (const auto& icon : icons)
    {
        for (int i = 0; i < cx * cy; ++i)
            drawn.bits[i] = static_cast<DWORD>((background.r << 16) | (background.g << 8) | background.b);
        DrawIconEx(drawn.hdc, 0, 0, LoadIconW(nullptr, icon.first), cx, cy, 0, nullptr, DI_NORMAL);
        GdiFlush();
        long long llDiff = 0;
        for (int y = 0; y < cy; ++y)
            for (int x = 0; x < cx; ++x)
            {
                const DWORD px = drawn.bits[y * cx + x];
                const CRgb seen = shot.At(rect.left + x, rect.top + y);
                llDiff += std::abs(static_cast<int>((px >> 16) & 0xFF) - seen.r) +
                          std::abs(static_cast<int>((px >> 8) & 0xFF) - seen.g) +
                          std::abs(static_cast<int>(px & 0xFF) - seen.b);
            }
        if (llBest < 0 || llDiff < llBest)
        {
            llBest = llDiff;
            uBest = icon.second;
        }
    }
    // A close match only: the icons differ in thousands of colour steps, a match in next to none.
    return llBest >= 0 && llBest < cx * cy * 8 ? uBest : 0;
}

std::wstring ButtonName(int id)
{
    switch (id)
    {
    case IDOK:
        return L"OK";
    case IDCANCEL:
        return L"Cancel";
    case IDABORT:
        return L"Abort";
    case IDRETRY:
        return L"Retry";
    case IDIGNORE:
        return L"Ignore";
    case IDYES:
        return L"Yes";
    case IDNO:
        return L"No";
    default:
        return L"#" + std::to_wstring(id);
    }
}

// The driver's environment with the options' variables added or replaced, as a CreateProcessW block.
std::vector<wchar_t> BuildEnvironment(const std::vector<std::pair<std::wstring, std::wstring>>& overrides)
{
    std::map<std::wstring, std::wstring, bool (*)(const std::wstring&, const std::wstring&)> vars(
        [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
    if (LPWCH pEnv = GetEnvironmentStringsW())
    {
        for (LPWCH p = pEnv; *p; p += wcslen(p) + 1)
        {
            const wchar_t* pEq = wcschr(p + 1, L'=');
            if (pEq) vars[std::wstring(p, static_cast<size_t>(pEq - p))] = pEq + 1;
        }
        FreeEnvironmentStringsW(pEnv);
    }
    for (const auto& var : overrides)
        vars[var.first] = var.second;

    std::vector<wchar_t> block;
    for (const auto& var : vars)
    {
        const std::wstring entry = var.first + L"=" + var.second;
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

std::wstring Describe(const CWindowSnapshot& window)
{
    wchar_t sz[256];
    swprintf(sz, 256, L"%ldx%ld at %ld,%ld, %ls", window.rect.right - window.rect.left,
             window.rect.bottom - window.rect.top, window.rect.left, window.rect.top,
             window.visible ? L"visible" : L"hidden");
    return sz;
}
} // namespace

int DefaultAnswer(const CWindowSnapshot& box)
{
    for (int id : {IDOK, IDCANCEL, IDNO})
        for (const auto& button : box.buttons)
            if (button.first == id) return id;
    return box.buttons.empty() ? IDCANCEL : box.buttons.front().first;
}

std::vector<std::wstring> SplitLines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (;;)
    {
        const size_t end = text.find(L'\n', start);
        lines.push_back(text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos) return lines;
        start = end + 1;
    }
}

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty()) return std::string();
    const int cb = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
    std::string utf8(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], cb, nullptr,
                        nullptr);
    return utf8;
}

CWindowSnapshot SnapshotWindow(HWND hwnd)
{
    CWindowSnapshot window;
    window.hwnd = hwnd;
    window.className = ClassOf(hwnd);
    window.caption = WindowText(hwnd);
    window.owner = GetWindow(hwnd, GW_OWNER);
    if (window.owner) window.ownerClass = ClassOf(window.owner);
    window.visible = IsWindowVisible(hwnd) != FALSE;
    GetWindowRect(hwnd, &window.rect);
    window.style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
    window.exStyle = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE));
    if (window.className == L"#32770")
    {
        if (HWND hwndText = GetDlgItem(hwnd, 0xFFFF)) window.text = WindowText(hwndText);
        EnumChildWindows(hwnd, CollectButton, reinterpret_cast<LPARAM>(&window));
        window.icon = IconOf(hwnd);
    }
    return window;
}

namespace
{
struct CWindowSearch
{
    DWORD dwProcessId;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindowOfProcess(HWND hwnd, LPARAM lParam)
{
    auto* pSearch = reinterpret_cast<CWindowSearch*>(lParam);
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hwnd, &dwPid);
    if (dwPid == pSearch->dwProcessId) pSearch->windows.push_back(hwnd);
    return TRUE;
}
} // namespace

std::vector<HWND> TopLevelWindowsOf(DWORD dwProcessId)
{
    CWindowSearch search{dwProcessId, {}};
    EnumWindows(CollectWindowOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.windows;
}

std::wstring WinePathOfVariable(const wchar_t* name)
{
    wchar_t szUnixPath[MAX_PATH] = {};
    const DWORD cch = GetEnvironmentVariableW(name, szUnixPath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH) return std::wstring();
    std::wstring path = L"Z:" + std::wstring(szUnixPath); // Wine's drive for the Unix root
    for (wchar_t& ch : path)
        if (ch == L'/') ch = L'\\';
    return path;
}

namespace
{
// Appends the lines to the list of restarts that make test prints (CORVANE_RESTARTS), when it keeps one.
void NoteRestart(const std::wstring& lines)
{
    const std::wstring path = WinePathOfVariable(L"CORVANE_RESTARTS");
    if (path.empty()) return;
    const HANDLE hFile = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return;
    const std::string text = ToUtf8(lines);
    DWORD dwWritten = 0;
    WriteFile(hFile, text.data(), static_cast<DWORD>(text.size()), &dwWritten, nullptr);
    CloseHandle(hFile);
}
} // namespace

CLaunchResult RunLauncher(const CLaunchOptions& options)
{
    CLaunchResult result;
    std::vector<wchar_t> env = BuildEnvironment(options.env);
    std::wstring commandLine = L"\"" + options.exePath + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    // Under load Wine has, once in a CI run, failed a start before the program ran. A failed start runs
    // nothing of the launcher, so it is made again (twice at most) and listed for make test's summary.
    for (int attempt = 1;; ++attempt)
    {
        if (CreateProcessW(options.exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                           CREATE_UNICODE_ENVIRONMENT, env.data(),
                           options.workDir.empty() ? nullptr : options.workDir.c_str(), &si, &pi))
            break;
        result.exitCode = GetLastError();
        const std::wstring failure =
            L"could not start " + options.exePath + L": error " + std::to_wstring(result.exitCode);
        if (attempt == 3)
        {
            result.transcript += failure + L"\n";
            result.timedOut = true;
            return result;
        }
        result.transcript += failure + L"; started again\n";
        NoteRestart(L"launch_driver: " + failure + L"; started again\n");
    }
    CloseHandle(pi.hThread);

    const DWORD dwStart = GetTickCount();
    while (WaitForSingleObject(pi.hProcess, 20) == WAIT_TIMEOUT)
    {
        if (GetTickCount() - dwStart > options.timeoutMs)
        {
            result.timedOut = true;
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
        for (HWND hwnd : TopLevelWindowsOf(pi.dwProcessId))
        {
            const std::wstring className = ClassOf(hwnd);
            if (IsSplashClass(className))
            {
                const CWindowSnapshot splash = SnapshotWindow(hwnd);
                if (!result.splashSeen || (splash.visible && !result.splash.visible))
                    result.transcript +=
                        L"splash window \"" + splash.caption + L"\" " + Describe(splash) + L"\n";
                // Keep the window as it was last seen shown; a process that ends takes it down first.
                if (!result.splashSeen || splash.visible || !result.splash.visible) result.splash = splash;
                result.splashSeen = true;
                continue;
            }
            if (className != L"#32770" || !IsWindowVisible(hwnd) || !GetDlgItem(hwnd, 0xFFFF)) continue;

            Sleep(50); // let the box finish laying itself out
            CWindowSnapshot box = SnapshotWindow(hwnd);
            if (box.buttons.empty()) continue;
            // Under load a box can be up before its icon is painted: look again for a while.
            for (int n = 0; n < 20 && box.icon == 0 && IconControlOf(hwnd); ++n, Sleep(100))
                box.icon = IconOf(hwnd);
            if (options.onBox) options.onBox(box, pi.hProcess);
            const size_t index = result.boxes.size();
            const int answer = index < options.answers.size() ? options.answers[index] : DefaultAnswer(box);

            result.transcript +=
                L"box \"" + box.caption + L"\", owner " +
                (box.owner ? (IsSplashClass(box.ownerClass) ? L"splash window" : box.ownerClass) : L"none") +
                L", buttons";
            for (const auto& button : box.buttons)
                result.transcript += L" [" + ButtonName(button.first) + L"]";
            result.transcript += L"\n";
            for (const auto& line : SplitLines(box.text))
                result.transcript += L"  | " + line + L"\n";
            result.transcript += L"  pressed " + ButtonName(answer) + L"\n";

            result.boxes.push_back(box);
            result.pressed.push_back(answer);
            PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
            for (int n = 0; n < 250 && IsWindow(hwnd) && IsWindowVisible(hwnd); ++n)
                if (WaitForSingleObject(pi.hProcess, 20) != WAIT_TIMEOUT) break;
        }
    }
    GetExitCodeProcess(pi.hProcess, &result.exitCode);
    CloseHandle(pi.hProcess);

    wchar_t szExit[64];
    swprintf(szExit, 64, L"exit code 0x%08lX (%lu)\n", static_cast<unsigned long>(result.exitCode),
             static_cast<unsigned long>(result.exitCode));
    result.transcript += result.timedOut ? L"timed out\n" : szExit;
    return result;
}
