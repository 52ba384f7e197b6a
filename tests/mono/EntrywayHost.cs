// Does on a real runtime (Mono) what the launcher does through the hosting interfaces, on a tree that the
// launcher unpacked: a domain "Entryway" over the tree, named for the product; the core assembly loaded by
// name; the entry type looked up with throw-on-error; the entry method invoked with the flags 0x118, no
// binder, no target and (product, (ulong)0). Then it reports the entry's result with the exit code the
// launcher gives for it, and checks where the core assembly and the demo's second assembly came from.
// Usage: EntrywayHost FOLDER PRODUCT ASSEMBLY TYPE METHOD [SECOND-ASSEMBLY]
// Exit code: 0 the entry ran and every check passed, 1 a check failed, 2 usage, 3 the entry could not run.
using System;
using System.IO;
using System.Reflection;

// The launcher's calls on a domain's interfaces run inside that domain; from managed code the same needs an
// object that lives there (a call through an Assembly handed across would load it into the caller's domain).
public sealed class EntrywayCall : MarshalByRefObject
{
    public int Invoke(string assemblyName, string typeName, string methodName, string product)
    {
        Assembly assembly = AppDomain.CurrentDomain.Load(assemblyName);
        Type type = assembly.GetType(typeName, true);
        object result = type.InvokeMember(methodName, (BindingFlags)0x118, null, null, new object[] { product, 0UL });
        return Convert.ToInt32(result);
    }

    public string LocationOf(string simpleName)
    {
        foreach (Assembly assembly in AppDomain.CurrentDomain.GetAssemblies())
            if (assembly.GetName().Name == simpleName)
                return assembly.Location;
        return null;
    }
}

static class EntrywayHost
{
    static int Main(string[] args)
    {
        if (args.Length != 5 && args.Length != 6)
        {
            Console.Error.WriteLine("usage: EntrywayHost FOLDER PRODUCT ASSEMBLY TYPE METHOD [SECOND-ASSEMBLY]");
            return 2;
        }
        string folder = Path.GetFullPath(args[0]), product = args[1];
        EntrywayCall call;
        int result;
        try
        {
            AppDomainSetup setup = new AppDomainSetup();
            setup.ApplicationBase = folder;
            setup.ApplicationName = product;
            AppDomain domain = AppDomain.CreateDomain("Entryway", null, setup);
            call = (EntrywayCall)domain.CreateInstanceFromAndUnwrap(
                typeof(EntrywayCall).Assembly.Location, typeof(EntrywayCall).FullName);
            result = call.Invoke(args[2], args[3], args[4], product);
        }
        catch (Exception e)
        {
            Console.WriteLine("The entry could not run: " + e);
            return 3;
        }
        // The launcher ends with a negative result as it is and with 0 for any other.
        Console.WriteLine("{0} returned {1}: the launcher ends with exit code 0x{2:X8}", args[4], result,
                          result < 0 ? result : 0);
        string core = call.LocationOf(args[2]);
        Console.WriteLine("{0} loaded from {1}", args[2], core ?? "nowhere");

        int failures = 0;
        failures += Expect(core == Path.Combine(folder, args[2] + ".dll"), "the core assembly is the tree's");
        // An assembly the application resolves itself from a subfolder (the demo's bin\), when one is named.
        if (args.Length == 6)
        {
            string second = call.LocationOf(args[5]);
            Console.WriteLine("{0} loaded from {1}", args[5], second ?? "nowhere");
            failures += Expect(second != null && second.StartsWith(folder + Path.DirectorySeparatorChar) &&
                                   Path.GetDirectoryName(second) != folder,
                               "the second assembly comes from a subfolder of the tree");
        }
        return failures == 0 ? 0 : 1;
    }

    static int Expect(bool condition, string what)
    {
        if (condition)
            return 0;
        Console.WriteLine("FAILED: " + what);
        return 1;
    }
}
