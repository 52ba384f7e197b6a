// Starts the launcher as a user would and meets its windows from outside: the splash window and every
// message box (caption, text, buttons, owner), pressing the buttons a test names, and the exit code.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

struct CWindowSnapshot
{
    HWND hwnd = nullptr;
    std::wstring className;
    std::wstring caption;
    std::wstring text; // a message box's body
    std::vector<std::pair<int, std::wstring>> buttons;
    HWND owner = nullptr;
    std::wstring ownerClass; // empty when the window has no owner
    bool visible = false;
    RECT rect = {};
    DWORD style = 0;
    DWORD exStyle = 0;
    UINT icon = 0; // a message box's icon: MB_ICONERROR, MB_ICONWARNING, ... or 0
};

struct CLaunchOptions
{
    std::wstring exePath;
    std::wstring workDir;                                   // empty: the driver's own
    std::vector<std::pair<std::wstring, std::wstring>> env; // added to or replacing the driver's own
    std::vector<int> answers; // the button for each box in turn; past the end: OK, else Cancel, else No
    // Called while each box is up, before it is answered (a screenshot, a look at the splash, ...).
    std::function<void(const CWindowSnapshot& box, HANDLE hProcess)> onBox;
    DWORD timeoutMs = 60000;
};

struct CLaunchResult
{
    DWORD exitCode = 0;
    bool timedOut = false;
    std::vector<CWindowSnapshot> boxes;
    std::vector<int> pressed; // the button pressed on each box
    bool splashSeen = false;
    CWindowSnapshot splash;  // the splash window as last seen shown (or hidden, if never shown)
    std::wstring transcript; // what a user saw, in words
};

CLaunchResult RunLauncher(const CLaunchOptions& options);

// The Windows path (on Wine's drive Z:) of the Unix path that an environment variable holds, or an empty
// string when the variable is not set.
std::wstring WinePathOfVariable(const wchar_t* name);

// A snapshot of any top-level window, message box or not.
CWindowSnapshot SnapshotWindow(HWND hwnd);

// The visible top-level windows of a process.
std::vector<HWND> TopLevelWindowsOf(DWORD dwProcessId);

// The button a user would press when a test names none: OK, else Cancel, else No.
int DefaultAnswer(const CWindowSnapshot& box);

// The lines of a box text (split at line feeds, carriage returns kept as they are).
std::vector<std::wstring> SplitLines(const std::wstring& text);

// Text for console output: UTF-8.
std::string ToUtf8(const std::wstring& text);
