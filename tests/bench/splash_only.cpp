// corvane-bench-splash: the launcher's first steps alone (system gate, COM, the splash screen with the
// product's picture) and nothing after them. Every start shows the splash before anything else, so this is
// the floor of a warm start with the demo pack. With --storage it also creates the ITStorage object every
// start opens the pack with, which brings in itss.dll and what that imports.
#include "base/com_support.h"
#include "pack/itstorage.h"
#include "requirements/os_requirement.h"
#include "splash/splash_window.h"

#include <cwchar>

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR pszCmdLine, int)
{
    if (FAILED(corvane::CheckOperatingSystem()) || FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    corvane::ShowSplashScreen(hInstance);
    if (wcsstr(pszCmdLine, L"--storage"))
    {
        ITStoragePtr oItStorage;
        if (FAILED(CoCreateInstance(CLSID_ITStorage, nullptr, CLSCTX_INPROC_SERVER, IID_ITStorage,
                                    reinterpret_cast<void**>(&oItStorage))))
            return 2;
    }
    return 0;
}
