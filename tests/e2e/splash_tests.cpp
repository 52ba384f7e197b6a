// The splash window as a user meets it: where it stands, what it shows on the screen, the pictures that
// fail quietly, who owns the boxes, the pointer over it, the input it ignores, the GDI objects it leaves,
// and during a long first start: that it answers, and the progress it shows.
#include "harness/screen_capture.h"
#include "harness/wine_test_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

namespace
{
const wchar_t c_splashClass[] = TEST_SPLASH_CLASS;
const int c_width = 512, c_height = 197;
const RECT c_centred = {384, 413, 384 + c_width, 413 + c_height}; // on the 1280 x 1024 test screen
const int c_opacity = 229;
const int c_tolerance = 6; // rounding of the blend; a wrong opacity or blend is several times further off

// The binding fails with an error box before the application runs; the variants end with its code.
const wchar_t c_bindFailure[] = L"GetInterface.hr = 0x80131700\n";
const DWORD c_bindFailureExit = 0x80131700;
// The application itself shows a box without owner and waits: the splash stays enabled behind it.
const wchar_t c_applicationBox[] = L"entry.messagebox = The application is starting\n";

// The colours of tests/pictures/make_test_images.py.
const CRgb c_quadrants[4] = {{220, 40, 40}, {40, 200, 60}, {50, 60, 210}, {230, 210, 40}};
const CRgb c_secondFrame[4] = {{10, 230, 230}, {240, 20, 240}, {250, 250, 250}, {0, 0, 0}};
const int c_alphaBands[4] = {255, 192, 64, 0};
const CRgb c_alphaTop = {240, 120, 20}, c_alphaBottom = {20, 100, 240};

struct CPicturePixel
{
    CRgb rgb;
    int alpha = 255;
};
using CPicture = std::function<CPicturePixel(int x, int y)>;

CPicturePixel Quadrants(int x, int y)
{
    return {c_quadrants[(x >= 256 ? 1 : 0) + (y >= 98 ? 2 : 0)], 255};
}

CPicturePixel AlphaBands(int x, int y)
{
    return {y < 98 ? c_alphaTop : c_alphaBottom, c_alphaBands[x / 128]};
}

std::wstring Variant(const std::wstring& name)
{
    return BuildPath(L"tests\\pictures\\Corvane-splash-" + name + L".exe");
}

// The screen colour of a picture pixel put on the window at the constant opacity over a background pixel.
// premultiplied: whether the pixel's colour was scaled by its alpha first, as AlphaBlend requires.
CRgb Blend(const CPicturePixel& pixel, int opacity, bool premultiplied, const CRgb& background)
{
    const double coverage = pixel.alpha / 255.0 * opacity / 255.0;
    const auto channel = [&](int source, int behind) {
        const double colour = (premultiplied ? source * pixel.alpha / 255.0 : source) * opacity / 255.0;
        return static_cast<int>(std::lround(std::min(255.0, colour + behind * (1.0 - coverage))));
    };
    return {channel(pixel.rgb.r, background.r), channel(pixel.rgb.g, background.g),
            channel(pixel.rgb.b, background.b)};
}

int Distance(const CRgb& a, const CRgb& b)
{
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

std::string Text(const CRgb& c)
{
    char sz[40];
    snprintf(sz, sizeof(sz), "(%d,%d,%d)", c.r, c.g, c.b);
    return sz;
}

RECT Inflated(const RECT& rect, int by)
{
    return {rect.left - by, rect.top - by, rect.right + by, rect.bottom + by};
}

// One start of a launcher in a scenario: the screen around the centre before the start and while the
// first box is up (moved aside first, as a user drags it, so that it hides nothing of the splash), and
// the launcher's GDI objects at that moment. A scratch folder given is shared with other starts (its
// cache stays filled); otherwise the start has a fresh one.
struct CSplashRun
{
    CSplashRun(const std::wstring& exePath, const std::wstring& scenario,
               std::function<void(const CWindowSnapshot&, HANDLE)> atBox = {},
               std::shared_ptr<CTempFolder> scratch = nullptr)
        : temp(scratch ? scratch : std::make_shared<CTempFolder>(CurrentTestName()))
    {
        InstallSimulatedRuntime(L"full");
        CLauncherStart start = ScenarioStart(*temp, scenario);
        start.exePath = exePath;
        before = CScreenImage::Capture(Inflated(c_centred, 24));
        bool first = true;
        start.onBox = [&](const CWindowSnapshot& box, HANDLE hProcess) {
            if (!first) return;
            first = false;
            gdi = CountGdiObjects(hProcess);
            for (HWND hwnd : TopLevelWindowsOf(GetProcessId(hProcess)))
                if (SnapshotWindow(hwnd).className == c_splashClass) splash = SnapshotWindow(hwnd);
            SetWindowPos(box.hwnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            Sleep(300);
            shown = CScreenImage::Capture(Inflated(c_centred, 24));
            if (atBox) atBox(box, hProcess);
        };
        result = start.Run();
        log = ReadClrLog(start.clrLog);
    }

    std::string Transcript() const { return Narrow(result.transcript); }

    std::shared_ptr<CTempFolder> temp;
    CScreenImage before;
    CScreenImage shown;
    CGdiCount gdi;
    CWindowSnapshot splash; // the splash window while the first box was up
    CLaunchResult result;
    std::vector<std::string> log;
};

// Picture points to compare: the outermost rows and columns, both sides of every edge between regions
// of the test pictures, and points in between.
std::vector<POINT> SamplePoints()
{
    std::vector<POINT> points;
    for (int x : {0, 1, 64, 127, 128, 200, 255, 256, 300, 383, 384, 450, 510, 511})
        for (int y : {0, 1, 40, 97, 98, 150, 195, 196})
            points.push_back({x, y});
    return points;
}

// The splash area on the screen against the picture blended over what lay there before. Also proves the
// points could tell: a fully opaque window (and, for pictures with alpha, colours not premultiplied) would
// have missed somewhere by far more than the tolerance.
void ExpectPictureOnScreen(const CSplashRun& run, const CPicture& picture, bool hasAlpha)
{
    int mismatches = 0;
    std::string report;
    int opaqueMiss = 0, straightMiss = 0;
    for (const POINT& p : SamplePoints())
    {
        const int x = c_centred.left + p.x, y = c_centred.top + p.y;
        const CPicturePixel pixel = picture(p.x, p.y);
        const CRgb behind = run.before.At(x, y);
        const CRgb seen = run.shown.At(x, y);
        const CRgb expected = Blend(pixel, c_opacity, true, behind);
        opaqueMiss = std::max(opaqueMiss, Distance(seen, Blend(pixel, 255, true, behind)));
        straightMiss = std::max(straightMiss, Distance(seen, Blend(pixel, c_opacity, false, behind)));
        if (Distance(seen, expected) > c_tolerance && ++mismatches <= 8)
            report += "  picture " + std::to_string(p.x) + "," + std::to_string(p.y) + ": saw " + Text(seen) +
                      ", expected " + Text(expected) + " over " + Text(behind) + "\n";
    }
    EXPECT_EQ(mismatches, 0) << report;
    EXPECT_GT(opaqueMiss, 3 * c_tolerance);
    if (hasAlpha)
    {
        EXPECT_GT(straightMiss, 3 * c_tolerance);
    }
}

// Nothing of the launcher on the screen: the centre looks as it did before the start.
void ExpectScreenUnchanged(const CSplashRun& run)
{
    int changed = 0;
    for (const POINT& p : SamplePoints())
    {
        const int x = c_centred.left + p.x, y = c_centred.top + p.y;
        if (Distance(run.before.At(x, y), run.shown.At(x, y)) > 2) ++changed;
    }
    EXPECT_EQ(changed, 0);
}

void ExpectShownSplash(const CSplashRun& run)
{
    ASSERT_NE(run.splash.hwnd, nullptr) << run.Transcript();
    const CWindowSnapshot& splash = run.splash;
    EXPECT_TRUE(splash.visible);
    EXPECT_EQ(splash.caption, TEST_SPLASH_CAPTION);
    EXPECT_EQ(splash.rect.left, c_centred.left);
    EXPECT_EQ(splash.rect.top, c_centred.top);
    EXPECT_EQ(splash.rect.right - splash.rect.left, c_width);
    EXPECT_EQ(splash.rect.bottom - splash.rect.top, c_height);
    EXPECT_EQ(splash.style & (WS_POPUP | WS_CAPTION | WS_THICKFRAME), static_cast<DWORD>(WS_POPUP));
    EXPECT_TRUE(splash.exStyle & WS_EX_LAYERED);
}

// The error box of the failed binding, owned by the splash window whether that is visible or not.
void ExpectBindFailureBoxOwnedBySplash(const CSplashRun& run)
{
    ASSERT_EQ(run.result.boxes.size(), 1u) << run.Transcript();
    EXPECT_EQ(run.result.boxes[0].caption, TEST_LOADING_CAPTION);
    EXPECT_EQ(run.result.boxes[0].ownerClass, c_splashClass);
    EXPECT_EQ(run.result.boxes[0].owner, run.splash.hwnd);
    EXPECT_EQ(run.result.exitCode, c_bindFailureExit);
}

// The framework check passes for the runs whose application starts.
struct CFrameworkInstalled
{
    CFrameworkInstalled() { ndp.SetDword(L"v3.5", L"Install", 1); }
    CNdpRegistry ndp;
};

// Sends real input: what the system gets from the keyboard.
void PressKeys(std::initializer_list<std::pair<WORD, bool>> keys)
{
    std::vector<INPUT> inputs;
    for (const auto& key : keys)
    {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key.first;
        input.ki.dwFlags = key.second ? 0 : KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    Sleep(300);
}

// The DC, region and bitmap objects that a shown layered window keeps under this Wine, learnt from one that
// this process shows: its drawing objects are released, so what remains belongs to the window.
CGdiCount OwnObjectsOfAShownLayeredWindow()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = L"SplashTestsLayeredWindow";
    RegisterClassW(&wc);
    const HWND hwnd = CreateWindowExW(WS_EX_LAYERED, wc.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                      nullptr, nullptr, nullptr);
    const CGdiCount before = CountGdiObjects(GetCurrentProcess());
    {
        BITMAPINFO bmi = {};
        bmi.bmiHeader = {sizeof(BITMAPINFOHEADER), c_width, c_height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* pBits = nullptr;
        const HBITMAP hbm = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0);
        const HDC hdcScreen = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
        const HDC hdcMemory = CreateCompatibleDC(hdcScreen);
        const HGDIOBJ hOld = SelectObject(hdcMemory, hbm);
        POINT ptWindow = {0, 0}, ptSource = {0, 0};
        SIZE size = {c_width, c_height};
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, c_opacity, AC_SRC_ALPHA};
        UpdateLayeredWindow(hwnd, hdcScreen, &ptWindow, &size, hdcMemory, &ptSource, 0, &blend, ULW_ALPHA);
        SetWindowPos(hwnd, HWND_TOP, 0, 0, c_width, c_height, SWP_FRAMECHANGED | SWP_SHOWWINDOW);
        SelectObject(hdcMemory, hOld);
        DeleteObject(hbm);
        DeleteDC(hdcMemory);
        DeleteDC(hdcScreen);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    const CGdiCount after = CountGdiObjects(GetCurrentProcess());
    DestroyWindow(hwnd);
    CGdiCount own;
    own.total = 0;
    for (int type : {0x01, 0x04, 0x05})
    {
        own.byType.emplace_back(type, after.Of(type) - before.Of(type));
        own.total += own.byType.back().second;
    }
    return own;
}

// The share of pixels whose coverage differs clearly between two pointer pictures (1 if sizes differ).
double OutlineDifference(const CPointerImage& a, const CPointerImage& b)
{
    if (a.width != b.width || a.height != b.height || a.argb.size() != b.argb.size() || a.argb.empty())
        return 1.0;
    size_t differing = 0;
    for (size_t i = 0; i < a.argb.size(); ++i)
        if (std::abs(static_cast<int>(a.argb[i] >> 24) - static_cast<int>(b.argb[i] >> 24)) > 64) ++differing;
    return static_cast<double>(differing) / static_cast<double>(a.argb.size());
}

// The pointer as X shows it over a window of this process with the given system cursor as class cursor.
CPointerImage PointerOverOwnWindow(LPCWSTR cursor)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hCursor = LoadCursorW(nullptr, cursor);
    wc.lpszClassName = L"SplashTestsPointerWindow";
    RegisterClassW(&wc);
    const HWND hwnd = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE, 0, 700,
                                      200, 200, nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(hwnd);
    SetCursorPos(100, 800);
    // The cursor is set while this thread handles the pointer's messages.
    for (DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < 400; Sleep(10))
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    const CPointerImage image = ReadPointerImage();
    DestroyWindow(hwnd);
    UnregisterClassW(wc.lpszClassName, nullptr);
    return image;
}

void ClickAt(int x, int y)
{
    SetCursorPos(x, y);
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, inputs, sizeof(INPUT));
    Sleep(300);
}

// The launcher with 3,000 files to unpack (tests/bench): a first start long enough to show its progress.
std::wstring ManyFilesLauncher()
{
    return BuildPath(L"tests\\bench\\corvane-many-files.exe");
}

const CRgb c_progressBar = {CORVANE_SPLASH_PROGRESS_RGB >> 16 & 0xFF, CORVANE_SPLASH_PROGRESS_RGB >> 8 & 0xFF,
                            CORVANE_SPLASH_PROGRESS_RGB & 0xFF};
const int c_barRow = c_centred.top + c_height - 2; // a screen row through the bar over the bottom edge

// The visible splash window of a process started from this executable, or null.
HWND FindSplashOf(const std::wstring& exePath)
{
    for (HWND hwnd = FindWindowExW(nullptr, nullptr, c_splashClass, nullptr); hwnd;
         hwnd = FindWindowExW(nullptr, hwnd, c_splashClass, nullptr))
    {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        const HANDLE hProcess = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        wchar_t path[MAX_PATH] = L"";
        DWORD cch = MAX_PATH;
        const bool same = hProcess && QueryFullProcessImageNameW(hProcess, 0, path, &cch) &&
                          _wcsicmp(path, exePath.c_str()) == 0;
        if (hProcess) CloseHandle(hProcess);
        if (same && IsWindowVisible(hwnd)) return hwnd;
    }
    return nullptr;
}

// Watches a start from beside it until stopped: asks its splash, over and over, for an answer within
// 500 ms, and keeps the splash area of the screen each time the row through the bar changes.
class CSplashWatch
{
public:
    explicit CSplashWatch(const std::wstring& exePath) : m_thread([this, exePath] { Watch(exePath); }) {}
    CSplashWatch(const CSplashWatch&) = delete;
    CSplashWatch& operator=(const CSplashWatch&) = delete;
    ~CSplashWatch() { Stop(); }
    void Stop()
    {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
    }

    int answered = 0;
    int unanswered = 0;
    std::vector<CScreenImage> screens;

private:
    void Watch(const std::wstring& exePath)
    {
        std::vector<DWORD> lastRow;
        while (!m_stop)
        {
            // Paced, so that the watch leaves the launcher the processor.
            Sleep(10);
            const HWND hwnd = FindSplashOf(exePath);
            if (!hwnd) continue;
            DWORD_PTR result = 0;
            if (SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 500, &result))
                ++answered;
            else if (GetLastError() == ERROR_TIMEOUT && IsWindow(hwnd))
                ++unanswered;
            CScreenImage screen = CScreenImage::Capture(Inflated(c_centred, 24));
            std::vector<DWORD> row;
            for (int x = c_centred.left; x < c_centred.right; ++x)
            {
                const CRgb rgb = screen.At(x, c_barRow);
                row.push_back(static_cast<DWORD>(rgb.r << 16 | rgb.g << 8 | rgb.b));
            }
            if (row != lastRow) screens.push_back(std::move(screen));
            lastRow = std::move(row);
        }
    }

    std::atomic<bool> m_stop{false};
    std::thread m_thread; // last: it starts once the members it writes are there
};

// The length of the progress bar on a screen: the pixels from the left edge of the row that show the bar's
// colour over what lay there before; -1 when any pixel after them shows it too (no bar, but noise).
int BarLength(const CSplashRun& run, const CScreenImage& screen)
{
    const auto isBar = [&](int x) {
        const int sx = c_centred.left + x;
        return Distance(screen.At(sx, c_barRow), Blend({c_progressBar, 255}, c_opacity, true,
                                                       run.before.At(sx, c_barRow))) <= c_tolerance;
    };
    int length = 0;
    while (length < c_width && isBar(length))
        ++length;
    for (int x = length; x < c_width; ++x)
        if (isBar(x)) return -1;
    return length;
}

// The splash area of two runs over the same background, pixel for pixel.
int DifferingPixels(const CSplashRun& a, const CSplashRun& b)
{
    int differing = 0;
    for (int y = c_centred.top; y < c_centred.bottom; ++y)
        for (int x = c_centred.left; x < c_centred.right; ++x)
            if (Distance(a.shown.At(x, y), b.shown.At(x, y)) > 2) ++differing;
    return differing;
}
} // namespace

class SplashScreen : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 1280)
            << "the splash tests expect the 1280 x 1024 test screen";
        ASSERT_EQ(GetSystemMetrics(SM_CYSCREEN), 1024);
    }
};

TEST_F(SplashScreen, ShowsThePictureUprightAtTheCentreBlendedAt229Of255)
{
    CSplashRun run(Variant(L"quadrants"), c_bindFailure);
    ExpectShownSplash(run);
    ExpectBindFailureBoxOwnedBySplash(run);
    ExpectPictureOnScreen(run, Quadrants, false);
}

TEST_F(SplashScreen, TheProductPictureStandsUpright)
{
    // The product's artwork drawn with 8 x 8 squares in its corners (tools/make-artwork.py --marks): red,
    // green, blue, yellow from the top left.
    CSplashRun run(Variant(L"marked"), c_bindFailure);
    ExpectShownSplash(run);
    const struct
    {
        int x, y;
        CRgb colour;
    } corners[] = {
        {3, 3, {255, 0, 0}}, {508, 3, {0, 255, 0}}, {3, 193, {0, 0, 255}}, {508, 193, {255, 255, 0}}};
    for (const auto& corner : corners)
    {
        const int x = c_centred.left + corner.x, y = c_centred.top + corner.y;
        const CRgb expected = Blend({corner.colour, 255}, c_opacity, true, run.before.At(x, y));
        EXPECT_LE(Distance(run.shown.At(x, y), expected), c_tolerance)
            << "corner " << corner.x << "," << corner.y << ": saw " << Text(run.shown.At(x, y))
            << ", expected " << Text(expected);
    }
}

TEST_F(SplashScreen, PictureAlphaMakesPixelsTranslucentOnTopOfTheConstantOpacity)
{
    CSplashRun run(Variant(L"alpha"), c_bindFailure);
    ExpectShownSplash(run);
    ExpectPictureOnScreen(run, AlphaBands, true);
}

// Wine's imaging component decodes both GIF and TIFF as two frames (its PNG decoder has no APNG frames).
TEST_F(SplashScreen, AMultiFramePictureShowsItsFirstFrame)
{
    for (const wchar_t* name : {L"gif", L"tiff"})
    {
        SCOPED_TRACE(Narrow(name));
        CSplashRun run(Variant(name), c_bindFailure);
        ExpectShownSplash(run);
        ExpectPictureOnScreen(run, Quadrants, false);
        const int x = c_centred.left + 300, y = c_centred.top + 150;
        EXPECT_GT(Distance(run.shown.At(x, y),
                           Blend({c_secondFrame[3], 255}, c_opacity, true, run.before.At(x, y))),
                  3 * c_tolerance);
    }
}

// A picture that cannot be shown costs the user nothing: no splash, no box about it, and the start-up goes
// on as it would have (here to the binding's error box, owned by the hidden window, and the same code).
TEST_F(SplashScreen, APictureThatCannotBeShownLeavesAHiddenOwnerAndChangesNothingElse)
{
    CSplashRun normal(BuildPath(TEST_EXE_NAME), c_bindFailure);
    ASSERT_EQ(normal.result.boxes.size(), 1u) << normal.Transcript();
    // Kept for the documentation: the product's splash as Xvfb showed it, with the box dragged aside.
    normal.shown.SaveBmp(BuildPath(L"splash-screenshot.bmp"));
    const struct
    {
        const wchar_t* variant;
        const char* what;
    } cases[] = {{L"garbage", "no decoder recognises the resource"},
                 {L"none", "no resource 129"},
                 {L"truncated", "the pixels cannot be read"}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        CSplashRun run(Variant(c.variant), c_bindFailure);
        ASSERT_NE(run.splash.hwnd, nullptr) << run.Transcript();
        EXPECT_FALSE(run.splash.visible);
        EXPECT_FALSE(run.result.splash.visible); // nor at any moment the driver looked
        ExpectBindFailureBoxOwnedBySplash(run);
        EXPECT_EQ(run.result.boxes[0].text, normal.result.boxes[0].text);
        EXPECT_EQ(run.result.exitCode, normal.result.exitCode);
        ExpectScreenUnchanged(run);
    }
}

// Over the splash the pointer is the wait cursor, as the X server shows it; over the box it is the arrow.
TEST_F(SplashScreen, ThePointerOverTheSplashIsTheWaitCursor)
{
    CFrameworkInstalled framework;
    CPointerImage overSplash, overBox;
    CSplashRun run(BuildPath(TEST_EXE_NAME), c_applicationBox, [&](const CWindowSnapshot& box, HANDLE) {
        SetCursorPos(c_centred.left + 100, c_centred.top + 100);
        Sleep(400);
        overSplash = ReadPointerImage();
        RECT rect;
        GetWindowRect(box.hwnd, &rect);
        SetCursorPos((rect.left + rect.right) / 2, rect.top + 60);
        Sleep(400);
        overBox = ReadPointerImage();
    });
    ExpectShownSplash(run);
    ASSERT_EQ(run.result.boxes.size(), 1u) << run.Transcript();
    EXPECT_EQ(run.result.boxes[0].owner, nullptr);
    ASSERT_TRUE(overSplash.valid);
    ASSERT_TRUE(overBox.valid);

    // The reference: the pointer X shows over a window of this process whose class cursor is IDC_WAIT.
    const CPointerImage wait = PointerOverOwnWindow(IDC_WAIT);
    ASSERT_TRUE(wait.valid);
    // The theme's wait cursor is animated: its frames share their outline, not their colours.
    EXPECT_EQ(overSplash.xHot, wait.xHot);
    EXPECT_EQ(overSplash.yHot, wait.yHot);
    EXPECT_LE(OutlineDifference(overSplash, wait), 0.02)
        << "the pointer over the splash is not the wait cursor";
    EXPECT_GE(OutlineDifference(overBox, wait), 0.1)
        << "the reading cannot tell the box's arrow from the wait cursor";
}

// A click, Escape, Enter and Space on the splash leave it standing; the start-up goes on behind it.
TEST_F(SplashScreen, ClicksAndKeysDoNotCloseIt)
{
    CFrameworkInstalled framework;
    bool foreground = false, standing = false;
    CSplashRun run(BuildPath(TEST_EXE_NAME), c_applicationBox, [&](const CWindowSnapshot&, HANDLE) {
        const HWND hwndSplash = FindWindowW(c_splashClass, nullptr);
        ClickAt(c_centred.left + 100, c_centred.top + 100);
        foreground = GetForegroundWindow() == hwndSplash;
        PressKeys({{VK_ESCAPE, true}, {VK_ESCAPE, false}, {VK_RETURN, true}, {VK_RETURN, false}});
        PressKeys({{VK_SPACE, true}, {VK_SPACE, false}});
        ClickAt(c_centred.left + 400, c_centred.top + 150);
        standing = IsWindow(hwndSplash) && IsWindowVisible(hwndSplash);
    });
    ExpectShownSplash(run);
    EXPECT_TRUE(foreground) << "the click did not bring the splash to the front";
    EXPECT_TRUE(standing);
    ASSERT_EQ(run.result.boxes.size(), 1u) << run.Transcript();
    EXPECT_EQ(run.result.exitCode, 0u);
}

// Alt+F4 is what a user presses to close a window: on the splash it does nothing either.
TEST_F(SplashScreen, AltF4DoesNotCloseIt)
{
    CFrameworkInstalled framework;
    bool foreground = false, standing = false;
    CSplashRun run(BuildPath(TEST_EXE_NAME), c_applicationBox, [&](const CWindowSnapshot&, HANDLE) {
        const HWND hwndSplash = FindWindowW(c_splashClass, nullptr);
        ClickAt(c_centred.left + 100, c_centred.top + 100);
        foreground = GetForegroundWindow() == hwndSplash;
        PressKeys({{VK_MENU, true}, {VK_F4, true}, {VK_F4, false}, {VK_MENU, false}});
        standing = IsWindow(hwndSplash) && IsWindowVisible(hwndSplash);
    });
    EXPECT_TRUE(foreground);
    EXPECT_TRUE(standing);
    EXPECT_EQ(run.result.exitCode, 0u) << run.Transcript();
}

// The drawing objects of the rendering are gone by the first box, whether the picture was shown or failed
// (undecodable, missing, pixels unreadable: the pixels are read before any drawing object is made).
// GetGuiResources is a stub in Wine; the process's GDI handle table is read instead. A shown layered window
// holds objects of its own in Wine (its surface): this process shows one to learn how many.
TEST_F(SplashScreen, GdiObjectsAreReleasedOnEveryPath)
{
    const int c_dc = 0x01, c_region = 0x04, c_bitmap = 0x05;
    const CGdiCount own = OwnObjectsOfAShownLayeredWindow();
    CSplashRun garbage(Variant(L"garbage"), c_bindFailure);
    ASSERT_GT(garbage.gdi.total, 0) << "the launcher's GDI handle table could not be read";
    for (const wchar_t* name : {L"quadrants", L"truncated", L"none"})
    {
        SCOPED_TRACE(Narrow(name));
        CSplashRun run(Variant(name), c_bindFailure);
        const bool shown = run.splash.visible;
        EXPECT_EQ(shown, std::wstring(name) == L"quadrants");
        for (const auto& type : run.gdi.byType)
        {
            const bool surface = type.first == c_dc || type.first == c_region || type.first == c_bitmap;
            EXPECT_EQ(type.second, garbage.gdi.Of(type.first) + (shown && surface ? own.Of(type.first) : 0))
                << "type " << type.first << "\nthis run: " << run.gdi.Describe()
                << "\nwithout a picture: " << garbage.gdi.Describe()
                << "\na window's own: " << own.Describe();
        }
        EXPECT_EQ(run.gdi.byType.size(), garbage.gdi.byType.size()) << run.gdi.Describe();
    }
}

// The unpacking of 3,000 files never keeps the splash from answering for half a second: the launcher serves
// its messages between files and between the pieces of a large one, the pack's check and its write.
TEST_F(SplashScreen, AnswersWithinHalfASecondThroughoutALongFirstStart)
{
    CFrameworkInstalled framework;
    CSplashWatch watch(ManyFilesLauncher());
    CSplashRun run(ManyFilesLauncher(), c_applicationBox,
                   [&](const CWindowSnapshot&, HANDLE) { watch.Stop(); });
    ASSERT_EQ(run.result.boxes.size(), 1u) << run.Transcript();
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_EQ(watch.unanswered, 0) << "of " << watch.answered + watch.unanswered << " messages";
    EXPECT_GE(watch.answered, 10) << "the splash was hardly asked: the watch did not find it";
}

// A first start that unpacks for longer than half a second shows a bar over the picture's bottom edge that
// grows with the bytes written and is full once the tree is in place (the application's box is up).
TEST_F(SplashScreen, ALongFirstStartShowsAGrowingBarThatIsFullWhenTheTreeIsInPlace)
{
    CFrameworkInstalled framework;
    CSplashWatch watch(ManyFilesLauncher());
    CSplashRun run(ManyFilesLauncher(), c_applicationBox,
                   [&](const CWindowSnapshot&, HANDLE) { watch.Stop(); });
    ExpectShownSplash(run);
    std::vector<int> lengths;
    const CScreenImage* halfway = nullptr;
    for (const CScreenImage& screen : watch.screens)
    {
        lengths.push_back(BarLength(run, screen));
        if (lengths.back() > 0 && lengths.back() < c_width &&
            (!halfway ||
             std::abs(lengths.back() - c_width / 2) < std::abs(BarLength(run, *halfway) - c_width / 2)))
            halfway = &screen;
    }
    std::string seen;
    for (int length : lengths)
        seen += std::to_string(length) + " ";
    ASSERT_NE(halfway, nullptr) << "no bar part of the way along; lengths seen: " << seen;
    EXPECT_TRUE(std::is_sorted(lengths.begin(), lengths.end())) << "the bar shrank or flickered: " << seen;
    EXPECT_EQ(BarLength(run, run.shown), c_width) << seen;
    // Kept for the documentation: the bar part of the way along.
    halfway->SaveBmp(BuildPath(L"splash-progress-screenshot.bmp"));
}

// No bar on a warm start, even of 3,000 files, nor on a first start of a small pack: the picture as a start
// that unpacks nothing at all (its binding fails first) shows it, pixel for pixel.
TEST_F(SplashScreen, AWarmStartOrAShortFirstStartShowsThePictureUntouched)
{
    CFrameworkInstalled framework;
    const struct
    {
        std::wstring exe;
        bool warm;
        const char* what;
    } cases[] = {{BuildPath(TEST_EXE_NAME), false, "a first start of the demo pack"},
                 {ManyFilesLauncher(), true, "a warm start of 3,000 files"}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        CSplashRun plain(c.exe, c_bindFailure);
        CSplashRun first(c.exe, c_applicationBox);
        std::unique_ptr<CSplashRun> again;
        if (c.warm) again = std::make_unique<CSplashRun>(c.exe, c_applicationBox, nullptr, first.temp);
        const CSplashRun& run = again ? *again : first;
        ASSERT_EQ(run.result.boxes.size(), 1u) << run.Transcript();
        EXPECT_EQ(DifferingPixels(run, plain), 0);
    }
}
