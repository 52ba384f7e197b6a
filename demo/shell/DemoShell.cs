// The demo's shell assembly, loaded from the bin folder of the unpacked tree: what the application shows.
using System;

namespace Skarnveld.Platform.Quorvelin.UI.Shell
{
    public static class DemoShell
    {
        // Set to 1, the demo shows no window and writes its text and its own location to standard output:
        // for a runtime check on a machine without a desktop.
        public const string HeadlessVariable = "CORVANE_DEMO_HEADLESS";

        public static int Run(string productName)
        {
            string text = productName + " is running: the launcher unpacked the demo application and called its entry method.";
            if (Environment.GetEnvironmentVariable(HeadlessVariable) == "1")
            {
                Console.WriteLine(text);
                Console.WriteLine("Shell assembly: " + typeof(DemoShell).Assembly.Location);
                return 0;
            }
            return DemoWindow.Show(productName, text);
        }
    }
}
