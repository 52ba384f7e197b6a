// Owners: one template for every kind of handle, a line per kind, and the scope guard for the rest.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace corvane
{
// Owns one value of type T and frees it with Close when replaced or destroyed, in the manner of WIL's
// unique_any. "Nothing owned" is nInvalid: null for most kinds, -1 (INVALID_HANDLE_VALUE) for files.
template <class T, auto Close, INT_PTR nInvalid = 0> class CUniqueAny
{
public:
    CUniqueAny() = default;
    explicit CUniqueAny(T value) : m_value(value) {}
    CUniqueAny(const CUniqueAny&) = delete;
    CUniqueAny& operator=(const CUniqueAny&) = delete;
    CUniqueAny(CUniqueAny&& other) noexcept : m_value(other.Release()) {}
    CUniqueAny& operator=(CUniqueAny&& other) noexcept
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~CUniqueAny() { Reset(); }

    static T Invalid() { return reinterpret_cast<T>(nInvalid); }
    bool IsValid() const { return m_value != Invalid(); }
    T Get() const { return m_value; }

    void Reset(T value = Invalid())
    {
        if (IsValid()) Close(m_value);
        m_value = value;
    }
    // Hands the value over to the caller, who frees it; nothing is owned afterwards.
    T Release()
    {
        const T value = m_value;
        m_value = Invalid();
        return value;
    }
    // For a call that hands out a new value through a pointer: the old one is freed first.
    T* Put()
    {
        Reset();
        return &m_value;
    }

private:
    T m_value = Invalid();
};

typedef CUniqueAny<HANDLE, &CloseHandle, -1> CUniqueHFile; // what CreateFileW opens
typedef CUniqueAny<HANDLE, &CloseHandle> CUniqueHandle;    // other kernel objects: null when none
typedef CUniqueAny<HKEY, &RegCloseKey> CUniqueHKey;
typedef CUniqueAny<HDC, &DeleteDC> CUniqueHdc;
typedef CUniqueAny<HBITMAP, &DeleteObject> CUniqueHBitmap;
typedef CUniqueAny<LPWSTR, &LocalFree> CUniqueLocalString; // what FormatMessageW allocates
typedef CUniqueAny<SAFEARRAY*, &SafeArrayDestroy> CUniqueSafeArray;

// Runs an action when its scope is left on any path.
template <class TAction> class CScopeGuard
{
public:
    explicit CScopeGuard(TAction action) : m_action(std::move(action)) {}
    CScopeGuard(const CScopeGuard&) = delete;
    CScopeGuard& operator=(const CScopeGuard&) = delete;
    ~CScopeGuard() { m_action(); }

private:
    TAction m_action;
};
} // namespace corvane
