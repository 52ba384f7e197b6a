// The part of mscorlib 2.0 that the demo uses, as a reference assembly: signatures only, as .NET Framework
// 2.0 declares them. Debian's Mono ships no 2.0 reference assemblies; compiled against this one (built with
// the v2.0.50727 metadata version and mscorlib's public key), the demo binds to mscorlib 2.0.0.0 and runs on
// every runtime from 2.0 on, which the runtime unifies to its own mscorlib.
using System.Reflection;
using System.Runtime.InteropServices;

[assembly: AssemblyVersion("2.0.0.0")]

namespace System
{
public class Object
{
}
public abstract class ValueType
{
}
public abstract class Enum : ValueType
{
}
public struct Void
{
}
public struct Boolean
{
}
public struct Char
{
}
public struct SByte
{
}
public struct Byte
{
}
public struct Int16
{
}
public struct UInt16
{
}
public struct Int32
{
}
public struct UInt32
{
}
public struct Int64
{
}
public struct UInt64
{
}
public struct Single
{
}
public struct Double
{
}
public struct Decimal
{
}
public struct UIntPtr
{
}
public struct IntPtr
{
    public static readonly IntPtr Zero;
    public IntPtr(int value)
    {
    }
    public IntPtr(long value)
    {
    }
    public static explicit operator int(IntPtr value)
    {
        throw null;
    }
}
public struct RuntimeTypeHandle
{
}
public struct RuntimeFieldHandle
{
}
public struct RuntimeMethodHandle
{
}
public sealed class String
{
    public static string Concat(string a, string b)
    {
        throw null;
    }
    public static bool operator ==(string a, string b)
    {
        throw null;
    }
    public static bool operator !=(string a, string b)
    {
        throw null;
    }
}
public abstract class Array
{
}
public abstract class Type
{
    public static Type GetTypeFromHandle(RuntimeTypeHandle handle)
    {
        throw null;
    }
    public abstract Assembly Assembly { get; }
}
public abstract class Attribute
{
}
public sealed class ParamArrayAttribute : Attribute
{
}
public abstract class Delegate
{
}
public abstract class MulticastDelegate : Delegate
{
}
public interface IAsyncResult
{
}
public delegate void AsyncCallback(IAsyncResult ar);
public interface IDisposable
{
    void Dispose();
}
public class Exception
{
}
public class EventArgs
{
}
public class ResolveEventArgs : EventArgs
{
    public string Name { get { throw null; } }
}
public delegate Assembly ResolveEventHandler(object sender, ResolveEventArgs args);
public sealed class AppDomain
{
    public static AppDomain CurrentDomain { get { throw null; } }
    public string BaseDirectory { get { throw null; } }
    public event ResolveEventHandler AssemblyResolve
    {
        add
        {
        }
        remove
        {
        }
    }
}
public static class Environment
{
    public static string GetEnvironmentVariable(string variable)
    {
        throw null;
    }
}
public static class Console
{
    public static void WriteLine(string value)
    {
    }
}
namespace Collections
{
public interface IEnumerable
{
    IEnumerator GetEnumerator();
}
public interface IEnumerator
{
    bool MoveNext();
    object Current { get; }
    void Reset();
}
} // namespace Collections
namespace IO
{
public static class Path
{
    public static string Combine(string path1, string path2)
    {
        throw null;
    }
}
public static class File
{
    public static bool Exists(string path)
    {
        throw null;
    }
}
} // namespace IO
namespace Reflection
{
public class Assembly
{
    public static Assembly LoadFrom(string assemblyFile)
    {
        throw null;
    }
    public virtual string Location { get { throw null; } }
}
public sealed class AssemblyName
{
    public AssemblyName(string assemblyName)
    {
    }
    public string Name { get { throw null; } }
}
public sealed class AssemblyVersionAttribute : Attribute
{
    public AssemblyVersionAttribute(string version)
    {
    }
}
} // namespace Reflection
namespace Runtime.CompilerServices
{
public enum MethodImplOptions
{
    NoInlining = 8
}
public sealed class MethodImplAttribute : Attribute
{
    public MethodImplAttribute(MethodImplOptions methodImplOptions)
    {
    }
}
} // namespace Runtime.CompilerServices
namespace Runtime.InteropServices
{
public enum CharSet
{
    None = 1,
    Ansi = 2,
    Unicode = 3,
    Auto = 4
}
public enum LayoutKind
{
    Sequential = 0,
    Explicit = 2,
    Auto = 3
}
public sealed class DllImportAttribute : Attribute
{
    public DllImportAttribute(string dllName)
    {
    }
    public CharSet CharSet;
    public bool SetLastError;
    public string EntryPoint;
}
public sealed class StructLayoutAttribute : Attribute
{
    public StructLayoutAttribute(LayoutKind layoutKind)
    {
    }
    public CharSet CharSet;
    public int Pack;
    public int Size;
}
public sealed class OutAttribute : Attribute
{
}
} // namespace Runtime.InteropServices
} // namespace System
