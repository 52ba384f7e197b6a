// corvane-bench-empty: the smallest GUI program, the floor a launcher's start is measured against. It
// gets a message queue, as every program with a window does first, and ends. With --hold it stays until
// it is killed: make bench keeps the desktop up with it, as Windows always has it (Wine closes a desktop a
// second after its last program and starts it anew, at the next one's cost).
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR pszCmdLine, int)
{
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    if (wcscmp(pszCmdLine, L"--hold") == 0)
    {
        // Asking for the desktop window starts the desktop here, so that its process inherits this
        // program's streams and not those of a start being timed.
        GetDesktopWindow();
        Sleep(INFINITE);
    }
    return 0;
}
