// A library of the build's own architecture, for the application to load from the unpacked tree.
#include <windows.h>

extern "C" __declspec(dllexport) int CorvaneTestNative()
{
    return 1;
}
