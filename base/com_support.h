// COM support: the compiler's smart pointers, shared strings and COM error type, and the one set of
// smart-pointer typedefs for every interface the launcher holds.
#pragma once

#include "platform_interfaces.h"

#include <comdef.h>
#include <wincodec.h>

// MSVC's comdef.h typedefs the smart pointers of the standard interfaces; mingw-w64 leaves them out.
#ifndef _MSC_VER
_COM_SMARTPTR_TYPEDEF(IUnknown, __uuidof(IUnknown));
_COM_SMARTPTR_TYPEDEF(IErrorInfo, __uuidof(IErrorInfo));
_COM_SMARTPTR_TYPEDEF(ISupportErrorInfo, __uuidof(ISupportErrorInfo));
_COM_SMARTPTR_TYPEDEF(IEnumUnknown, __uuidof(IEnumUnknown));
_COM_SMARTPTR_TYPEDEF(IStorage, __uuidof(IStorage));
_COM_SMARTPTR_TYPEDEF(IStream, __uuidof(IStream));
_COM_SMARTPTR_TYPEDEF(IEnumSTATSTG, __uuidof(IEnumSTATSTG));
#endif

_COM_SMARTPTR_TYPEDEF(IWICImagingFactory, __uuidof(IWICImagingFactory));
_COM_SMARTPTR_TYPEDEF(IWICStream, __uuidof(IWICStream));
_COM_SMARTPTR_TYPEDEF(IWICBitmapDecoder, __uuidof(IWICBitmapDecoder));
_COM_SMARTPTR_TYPEDEF(IWICBitmapFrameDecode, __uuidof(IWICBitmapFrameDecode));
_COM_SMARTPTR_TYPEDEF(IWICFormatConverter, __uuidof(IWICFormatConverter));
_COM_SMARTPTR_TYPEDEF(IWICBitmapFlipRotator, __uuidof(IWICBitmapFlipRotator));

_COM_SMARTPTR_TYPEDEF(ITStorage, IID_ITStorage);
_COM_SMARTPTR_TYPEDEF(ICLRMetaHost, IID_ICLRMetaHost);
_COM_SMARTPTR_TYPEDEF(ICLRRuntimeInfo, IID_ICLRRuntimeInfo);
_COM_SMARTPTR_TYPEDEF(ICorRuntimeHost, IID_ICorRuntimeHost);
_COM_SMARTPTR_TYPEDEF(IAppDomainSetup, IID_IAppDomainSetup);
_COM_SMARTPTR_TYPEDEF(_AppDomain, IID__AppDomain);
_COM_SMARTPTR_TYPEDEF(_Assembly, IID__Assembly);
_COM_SMARTPTR_TYPEDEF(_Type, IID__Type);
