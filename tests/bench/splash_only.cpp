// corvane-bench-splash: the launcher's first steps alone (system gate, COM, the splash screen with the
// product's picture) and nothing after them. Every start shows the splash before anything else, so this is
// the floor of a warm start with the demo pack.
#include "requirements/os_requirement.h"
#include "splash/splash_window.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int)
{
    if (FAILED(corvane::CheckOperatingSystem()) || FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    corvane::ShowSplashScreen(hInstance);
    return 0;
}
