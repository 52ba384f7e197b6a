// A small top-level window with one line of text, drawn through the Windows API alone.
using System;
using System.Runtime.InteropServices;

namespace Skarnveld.Platform.Quorvelin.UI.Shell
{
    static class DemoWindow
    {
        const uint WS_OVERLAPPED = 0x00000000, WS_CAPTION = 0x00C00000, WS_SYSMENU = 0x00080000;
        const uint WS_VISIBLE = 0x10000000, WS_CHILD = 0x40000000, SS_CENTER = 0x00000001;
        const int CW_USEDEFAULT = unchecked((int)0x80000000);
        const uint WM_DESTROY = 0x0002;
        const int COLOR_WINDOW = 5, IDC_ARROW = 32512;
        const string ClassName = "SkarnveldDemoWindow";

        delegate IntPtr WindowProcedure(IntPtr window, uint message, IntPtr wParam, IntPtr lParam);

        [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Unicode)]
        struct WNDCLASSW
        {
            public uint style;
            public WindowProcedure lpfnWndProc;
            public int cbClsExtra, cbWndExtra;
            public IntPtr hInstance, hIcon, hCursor, hbrBackground;
            public string lpszMenuName, lpszClassName;
        }

        [StructLayout(LayoutKind.Sequential)]
        struct MSG
        {
            public IntPtr hwnd;
            public uint message;
            public IntPtr wParam, lParam;
            public uint time;
            public int x, y;
        }

        // Held here: the native side keeps only a pointer, which must outlive every call into it.
        static readonly WindowProcedure s_procedure = Procedure;

        // Shows the window and runs its messages until the user closes it; the result is 0.
        public static int Show(string caption, string text)
        {
            WNDCLASSW windowClass = new WNDCLASSW();
            windowClass.lpfnWndProc = s_procedure;
            windowClass.hInstance = GetModuleHandleW(null);
            windowClass.hCursor = LoadCursorW(IntPtr.Zero, new IntPtr(IDC_ARROW));
            windowClass.hbrBackground = new IntPtr(COLOR_WINDOW + 1);
            windowClass.lpszClassName = ClassName;
            RegisterClassW(ref windowClass);
            IntPtr window = CreateWindowExW(0, ClassName, caption, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE,
                CW_USEDEFAULT, CW_USEDEFAULT, 440, 150, IntPtr.Zero, IntPtr.Zero, windowClass.hInstance, IntPtr.Zero);
            CreateWindowExW(0, "STATIC", text, WS_CHILD | WS_VISIBLE | SS_CENTER, 20, 30, 390, 50, window, IntPtr.Zero,
                windowClass.hInstance, IntPtr.Zero);
            MSG message;
            while (GetMessageW(out message, IntPtr.Zero, 0, 0) > 0)
            {
                TranslateMessage(ref message);
                DispatchMessageW(ref message);
            }
            return (int)message.wParam;
        }

        static IntPtr Procedure(IntPtr window, uint message, IntPtr wParam, IntPtr lParam)
        {
            if (message == WM_DESTROY)
                PostQuitMessage(0);
            return DefWindowProcW(window, message, wParam, lParam);
        }

        [DllImport("kernel32.dll", CharSet = CharSet.Unicode)]
        static extern IntPtr GetModuleHandleW(string name);
        [DllImport("user32.dll")]
        static extern IntPtr LoadCursorW(IntPtr instance, IntPtr name);
        [DllImport("user32.dll", CharSet = CharSet.Unicode)]
        static extern ushort RegisterClassW(ref WNDCLASSW windowClass);
        [DllImport("user32.dll", CharSet = CharSet.Unicode)]
        static extern IntPtr CreateWindowExW(uint exStyle, string className, string text, uint style, int x, int y,
            int width, int height, IntPtr parent, IntPtr menu, IntPtr instance, IntPtr param);
        [DllImport("user32.dll")]
        static extern int GetMessageW(out MSG message, IntPtr window, uint first, uint last);
        [DllImport("user32.dll")]
        static extern bool TranslateMessage(ref MSG message);
        [DllImport("user32.dll")]
        static extern IntPtr DispatchMessageW(ref MSG message);
        [DllImport("user32.dll")]
        static extern void PostQuitMessage(int exitCode);
        [DllImport("user32.dll")]
        static extern IntPtr DefWindowProcW(IntPtr window, uint message, IntPtr wParam, IntPtr lParam);
    }
}
