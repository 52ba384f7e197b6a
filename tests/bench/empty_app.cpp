// corvane-bench-empty: the smallest GUI program, the floor a launcher's start is measured against. It
// gets a message queue, as every program with a window does first, and ends.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    return 0;
}
