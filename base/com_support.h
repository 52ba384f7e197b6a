// COM support: the compiler's smart pointers, shared strings and COM error type, with the smart-pointer
// typedefs of the standard interfaces every subsystem's errors go through.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <ole2.h>

#include <comdef.h>

// MSVC's comdef.h typedefs the smart pointers of the standard interfaces; mingw-w64 leaves them out.
#ifndef _MSC_VER
_COM_SMARTPTR_TYPEDEF(IUnknown, __uuidof(IUnknown));
_COM_SMARTPTR_TYPEDEF(IErrorInfo, __uuidof(IErrorInfo));
_COM_SMARTPTR_TYPEDEF(ISupportErrorInfo, __uuidof(ISupportErrorInfo));
#endif
