// Screen pixels, a process's GDI objects and the X server's pointer picture, read from outside.
#include "screen_capture.h"

#include "wine_test_env.h"

#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace
{
std::wstring UnixPathOf(const std::wstring& windowsPath)
{
    typedef char*(CDECL * PfnUnixName)(LPCWSTR);
    const auto pfn = reinterpret_cast<PfnUnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!pfn) throw std::runtime_error("not running under Wine: no Unix paths");
    char* psz = pfn(windowsPath.c_str());
    if (!psz) throw std::runtime_error("no Unix path for " + Narrow(windowsPath));
    const std::wstring path = Widen(psz);
    HeapFree(GetProcessHeap(), 0, psz);
    return path;
}
} // namespace

CScreenImage CScreenImage::Capture(const RECT& area)
{
    CScreenImage image;
    image.m_area = area;
    const int cx = area.right - area.left, cy = area.bottom - area.top;
    CDibCanvas canvas(cx, cy);
    HDC hdcScreen = GetDC(nullptr);
    BitBlt(canvas.hdc, 0, 0, cx, cy, hdcScreen, area.left, area.top, SRCCOPY);
    ReleaseDC(nullptr, hdcScreen);
    GdiFlush();
    image.m_pixels.assign(canvas.bits, canvas.bits + cx * cy);
    return image;
}

CRgb CScreenImage::At(int x, int y) const
{
    const DWORD px =
        m_pixels[static_cast<size_t>((y - m_area.top) * (m_area.right - m_area.left) + x - m_area.left)];
    return CRgb{static_cast<int>((px >> 16) & 0xFF), static_cast<int>((px >> 8) & 0xFF),
                static_cast<int>(px & 0xFF)};
}

void CScreenImage::SaveBmp(const std::wstring& path) const
{
    const int cx = m_area.right - m_area.left, cy = m_area.bottom - m_area.top;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof(info);
    info.biWidth = cx;
    info.biHeight = -cy;
    info.biPlanes = 1;
    info.biBitCount = 32;
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(m_pixels.size() * 4);
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof(file));
    bytes.append(reinterpret_cast<const char*>(&info), sizeof(info));
    bytes.append(reinterpret_cast<const char*>(m_pixels.data()), m_pixels.size() * 4);
    WriteFileBytes(path, bytes);
}

int CGdiCount::Of(int type) const
{
    for (const auto& entry : byType)
        if (entry.first == type) return entry.second;
    return 0;
}

std::string CGdiCount::Describe() const
{
    std::string text = "total " + std::to_string(total);
    for (const auto& type : byType)
    {
        char sz[32];
        snprintf(sz, sizeof(sz), ", type 0x%02X: %d", type.first, type.second);
        text += sz;
    }
    return text;
}

// Wine, like Windows, keeps a process's GDI handle table where its PEB's GdiSharedHandleTable points; an
// entry with a non-zero type byte is a live object. GetGuiResources is a stub in Wine (it answers 0).
CGdiCount CountGdiObjects(HANDLE hProcess)
{
    struct CHandleEntry
    {
        UINT64 object;
        ULONG owner;
        USHORT unique;
        UCHAR type;
        UCHAR flags;
        UINT64 user;
    };
    static_assert(sizeof(CHandleEntry) == 24, "GDI handle entry layout");
    const size_t c_entries = 0x10000;

    CGdiCount count;
    typedef NTSTATUS(NTAPI * PfnQueryProcess)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    const auto pfnQuery = reinterpret_cast<PfnQueryProcess>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION pbi = {};
    ULONG cb = 0;
    if (!pfnQuery || pfnQuery(hProcess, ProcessBasicInformation, &pbi, sizeof(pbi), &cb) != 0) return count;
    const size_t c_tableOffset = sizeof(void*) == 8 ? 0xF8 : 0x94;
    void* pTable = nullptr;
    SIZE_T cbRead = 0;
    BYTE* const pPeb = reinterpret_cast<BYTE*>(pbi.PebBaseAddress);
    if (!ReadProcessMemory(hProcess, pPeb + c_tableOffset, &pTable, sizeof(pTable), &cbRead)) return count;
    // Under Wine's WoW64 a 32-bit process has a 64-bit PEB too, the page below the 32-bit one the query
    // returns, and only that one points at the (64-bit layout) table.
    BOOL fWow64 = FALSE;
    UINT64 ullTable = 0;
    if (!pTable && sizeof(void*) == 4 && IsWow64Process(hProcess, &fWow64) && fWow64 &&
        ReadProcessMemory(hProcess, pPeb - 0x1000 + 0xF8, &ullTable, sizeof(ullTable), &cbRead))
        pTable = reinterpret_cast<void*>(static_cast<ULONG_PTR>(ullTable));
    if (!pTable) return count;
    std::vector<CHandleEntry> entries(c_entries);
    if (!ReadProcessMemory(hProcess, pTable, entries.data(), entries.size() * sizeof(CHandleEntry), &cbRead))
        return count;
    int perType[256] = {};
    count.total = 0;
    for (const auto& entry : entries)
        if (entry.type)
        {
            ++perType[entry.type];
            ++count.total;
        }
    for (int type = 0; type < 256; ++type)
        if (perType[type]) count.byType.emplace_back(type, perType[type]);
    return count;
}

// Wine starts Unix programs too: a Python script asks the X server (XFixes) for the pointer's picture.
CPointerImage ReadPointerImage()
{
    CPointerImage image;
    wchar_t szTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, szTemp);
    const std::wstring output =
        std::wstring(szTemp) + L"corvane-pointer-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    DeleteFileW(output.c_str());
    std::wstring commandLine = L"/usr/bin/python3 \"" +
                               UnixPathOf(SourcePath(L"tests\\pictures\\read_pointer.py")) + L"\" \"" +
                               UnixPathOf(output) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return image;
    // Wine gives no waitable handle for a Unix child: wait for the file, which the script renames into place.
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::string text;
    for (int n = 0; n < 200 && text.empty(); ++n, Sleep(50))
        text = ReadFileBytes(output);
    DeleteFileW(output.c_str());
    const char* p = text.c_str();
    int consumed = 0;
    char szName[128] = {};
    if (sscanf(p, "%d %d %d %d %127s%n", &image.width, &image.height, &image.xHot, &image.yHot, szName,
               &consumed) != 5)
        return image;
    image.name = strcmp(szName, "-") ? szName : "";
    p += consumed;
    for (int i = 0; i < image.width * image.height; ++i)
    {
        unsigned int argb = 0;
        if (sscanf(p, "%x%n", &argb, &consumed) != 1) return image;
        p += consumed;
        image.argb.push_back(argb);
    }
    image.valid = image.width > 0 && image.height > 0;
    return image;
}
