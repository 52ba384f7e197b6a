// The demo's core assembly: the entry type and method that the launcher calls.
using System;
using System.IO;
using System.Reflection;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;

namespace Skarnveld.UI.Standalone.Host
{
    public static class SkarnStandaloneApplicationHost
    {
        // The demo's other assemblies lie in this folder below the application base. The launcher's domain
        // has no configuration file, so no private path reaches the loader: a resolver finds them instead.
        const string PrivateFolder = "bin";
        const uint WM_CLOSE = 0x0010;

        // productName: the name the launcher was built with. splashWindow: the launcher's splash window
        // (sign-extended to 64 bits), or 0 when it has none. A negative result is the launcher's exit code.
        public static int RunApplicationInAssembly(string productName, ulong splashWindow)
        {
            AppDomain.CurrentDomain.AssemblyResolve += ResolveFromPrivateFolder;
            if (splashWindow != 0)
                PostMessageW(new IntPtr((long)splashWindow), WM_CLOSE, IntPtr.Zero, IntPtr.Zero);
            return RunShell(productName);
        }

        // Apart from the entry, so that the shell assembly is bound only once the resolver is in place.
        [MethodImpl(MethodImplOptions.NoInlining)]
        static int RunShell(string productName)
        {
            return Skarnveld.Platform.Quorvelin.UI.Shell.DemoShell.Run(productName);
        }

        static Assembly ResolveFromPrivateFolder(object sender, ResolveEventArgs args)
        {
            string folder = Path.Combine(AppDomain.CurrentDomain.BaseDirectory, PrivateFolder);
            string path = Path.Combine(folder, new AssemblyName(args.Name).Name + ".dll");
            return File.Exists(path) ? Assembly.LoadFrom(path) : null;
        }

        [DllImport("user32.dll")]
        static extern bool PostMessageW(IntPtr window, uint message, IntPtr wParam, IntPtr lParam);
    }
}
