// What the screen shows, read back as a user's eye would: pixels of a screen area, the GDI objects a
// process holds, and the mouse pointer's picture as the X server draws it.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

struct CRgb
{
    int r = 0;
    int g = 0;
    int b = 0;
};

// A 32-bit top-down DIB section with its own memory DC.
struct CDibCanvas
{
    CDibCanvas(int cx, int cy) : width(cx), height(cy)
    {
        BITMAPINFO bmi = {};
        bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bmi.bmiHeader.biWidth = cx;
        bmi.bmiHeader.biHeight = -cy;
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        hdc = CreateCompatibleDC(nullptr);
        hbm = CreateDIBSection(hdc, &bmi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
        if (!hdc || !hbm) throw std::runtime_error("cannot make a drawing surface");
        hOld = SelectObject(hdc, hbm);
    }
    CDibCanvas(const CDibCanvas&) = delete;
    CDibCanvas& operator=(const CDibCanvas&) = delete;
    ~CDibCanvas()
    {
        SelectObject(hdc, hOld);
        DeleteObject(hbm);
        DeleteDC(hdc);
    }

    int width;
    int height;
    HDC hdc = nullptr;
    HBITMAP hbm = nullptr;
    HGDIOBJ hOld = nullptr;
    DWORD* bits = nullptr;
};

// A copy of a screen area, addressed in screen coordinates.
class CScreenImage
{
public:
    static CScreenImage Capture(const RECT& area);

    const RECT& Area() const { return m_area; }
    CRgb At(int x, int y) const; // x, y must lie inside Area()
    void SaveBmp(const std::wstring& path) const;

private:
    RECT m_area = {};
    std::vector<DWORD> m_pixels; // top-down rows, 0x00RRGGBB
};

// GDI objects a process holds, by object type (the type byte of its handle table entry: 0x01 DC,
// 0x04 region, 0x05 bitmap, 0x08 palette, 0x0A font, 0x10 brush, ...).
struct CGdiCount
{
    int total = -1; // -1: the table could not be read
    std::vector<std::pair<int, int>> byType;
    int Of(int type) const;
    std::string Describe() const;
};
CGdiCount CountGdiObjects(HANDLE hProcess);

// The pointer the X server shows right now. Wine shows the system cursors (IDC_WAIT, IDC_ARROW, ...) with
// the X cursor theme's own, which carry their theme names ("watch", "left_ptr", ...).
struct CPointerImage
{
    bool valid = false;
    int width = 0;
    int height = 0;
    int xHot = 0;
    int yHot = 0;
    std::string name;        // the X cursor name, when the cursor came from the X cursor theme
    std::vector<DWORD> argb; // premultiplied, top-down rows
};
CPointerImage ReadPointerImage();
