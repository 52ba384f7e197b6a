// Writes C++ declarations of the managed COM interfaces the launcher calls, laid out as a type library export
// does (IUnknown or IDispatch slots, then the methods in metadata order), from Mono's assemblies.
// Usage: ManagedComDeclarations.exe OUT.h RUNTIME_MSCORLIB REFERENCE_MSCORLIB...
// The order comes from Mono's runtime mscorlib: the reference assemblies list members sorted by name, so
// they give the member set, the GUIDs and the interface kinds but no slot order. Members a reference has and
// the runtime lacks have no known place; each interface says how many (the test then allows that much
// slack after the runtime's slot). Mono.Cecil reads the files: reflection would hand back the running mscorlib.
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Text;
using Mono.Cecil;

static class ManagedComDeclarations
{
    static readonly string[] Interfaces = {
        "System.IAppDomainSetup", "System._AppDomain",
        "System.Runtime.InteropServices._Assembly", "System.Runtime.InteropServices._Type" };

    // Types with a fixed COM form; other classes and interfaces become IUnknown*, other value types opaque structs.
    static readonly Dictionary<string, string> Fixed = new Dictionary<string, string> {
        { "System.String", "BSTR" }, { "System.Boolean", "VARIANT_BOOL" }, { "System.Object", "VARIANT" },
        { "System.Byte", "unsigned char" }, { "System.SByte", "signed char" }, { "System.Char", "unsigned short" },
        { "System.Int16", "short" }, { "System.UInt16", "unsigned short" },
        { "System.Int32", "long" }, { "System.UInt32", "unsigned long" },
        { "System.Int64", "LONGLONG" }, { "System.UInt64", "ULONGLONG" },
        { "System.Single", "float" }, { "System.Double", "double" },
        { "System.IntPtr", "LONG_PTR" }, { "System.UIntPtr", "ULONG_PTR" },
        { "System.Guid", "GUID" }, { "System.DateTime", "DATE" }, { "System.Decimal", "DECIMAL" },
        // The classes whose COM face is one of the interfaces declared here.
        { "System.Type", "_Type*" }, { "System.Reflection.Assembly", "_Assembly*" }, { "System.AppDomain", "_AppDomain*" },
    };

    static readonly SortedSet<string> Opaque = new SortedSet<string>();

    static string Com(TypeReference t)
    {
        if (t is ByReferenceType) return Com(((ByReferenceType)t).ElementType) + "*";
        if (t is ArrayType) return "SAFEARRAY*";
        string name;
        if (Fixed.TryGetValue(t.FullName, out name)) return name;
        if (Interfaces.Contains(t.FullName)) return t.Name + "*";
        var def = t.Resolve() ?? Fail<TypeDefinition>("cannot resolve " + t.FullName);
        if (def.IsEnum) return Com(def.Fields.First(f => !f.IsStatic).FieldType);
        if (!def.IsValueType) return "IUnknown*";
        Opaque.Add(t.Name);
        return t.Name;
    }

    static T Fail<T>(string message)
    {
        Console.Error.WriteLine("ManagedComDeclarations: " + message);
        Environment.Exit(1);
        return default(T);
    }

    static string Signature(MethodDefinition m)
    {
        return m.ReturnType.FullName + " " + m.Name + "(" + string.Join(",", m.Parameters.Select(p => p.ParameterType.FullName)) + ")";
    }

    // What must agree between the runtime and every reference: the GUID and InterfaceTypeAttribute's value
    // (1 is InterfaceIsIUnknown; dual, 0 and the default, and 2 sit on IDispatch).
    static string Identity(TypeDefinition type)
    {
        var kind = type.CustomAttributes.FirstOrDefault(a => a.AttributeType.Name == "InterfaceTypeAttribute");
        var guid = type.CustomAttributes.First(a => a.AttributeType.Name == "GuidAttribute").ConstructorArguments[0].Value;
        return Guid.Parse((string)guid).ToString("X") + (kind != null && Convert.ToInt32(kind.ConstructorArguments[0].Value) == 1 ? " IUnknown" : " IDispatch");
    }

    static void Declare(StringBuilder s, TypeDefinition type, List<TypeDefinition> references)
    {
        var identity = Identity(type);
        var unplaced = new SortedSet<string>();
        foreach (var r in references)
        {
            if (Identity(r) != identity) Fail<int>(type.FullName + ": " + Identity(r) + " in " + r.Module.FileName + ", " + identity + " in the runtime");
            var set = new HashSet<string>(r.Methods.Select(Signature));
            foreach (var m in type.Methods.Where(m => !set.Contains(Signature(m))))
                Fail<int>(type.FullName + ": " + Signature(m) + " is not in " + r.Module.FileName);
            unplaced.UnionWith(set.Except(type.Methods.Select(Signature)));
        }
        var fields = identity.Split(' ');
        // Format "X" is already a GUID initializer: {0x...,0x...,0x...,{0x..,...}}.
        s.AppendFormat("inline constexpr IID IID_{0} = {1};\n", type.Name, fields[0]);
        s.AppendFormat("// Not in the runtime, so of unknown place: {0}\n", unplaced.Count == 0 ? "none" : string.Join("; ", unplaced));
        s.AppendFormat("inline constexpr size_t Unplaced_{0} = {1};\n", type.Name, unplaced.Count);
        s.AppendFormat("struct {0} : public {1}\n{{\n", type.Name, fields[1]);
        int slot = fields[1] == "IUnknown" ? 3 : 7;
        var seen = new Dictionary<string, int>();
        foreach (var m in type.Methods) // metadata order
        {
            if (m.Parameters.Any(p => p.HasMarshalInfo) || m.MethodReturnType.HasMarshalInfo)
                Fail<int>(type.FullName + "." + m.Name + ": MarshalAs is not handled");
            // The names a type library gives: setters are put_, the second and later overloads get _2, _3...
            var name = m.Name.StartsWith("set_") ? "put_" + m.Name.Substring(4) : m.Name;
            int n;
            seen[name] = n = seen.TryGetValue(name, out n) ? n + 1 : 1;
            if (n > 1) name += "_" + n;
            var args = m.Parameters.Select(p => Com(p.ParameterType) + " " + p.Name).ToList();
            var ret = m.ReturnType.FullName == "System.Void" ? "HRESULT" : Com(m.ReturnType);
            if (!m.IsPreserveSig && ret != "HRESULT")
            {
                args.Add(ret + "* pRetVal");
                ret = "HRESULT";
            }
            s.AppendFormat("    virtual {0} STDMETHODCALLTYPE {1}({2}) = 0; // slot {3}\n", ret, name, string.Join(", ", args), slot++);
        }
        s.Append("};\n");
    }

    static void Main(string[] argv)
    {
        var runtime = ModuleDefinition.ReadModule(argv[1]);
        var references = argv.Skip(2).Select(path => ModuleDefinition.ReadModule(path)).ToList();
        var decls = new StringBuilder();
        foreach (var name in Interfaces)
        {
            Func<ModuleDefinition, TypeDefinition> find = m => m.GetType(name) ?? Fail<TypeDefinition>(name + " is not in " + m.FileName);
            Declare(decls, find(runtime), references.Select(find).ToList());
        }
        var s = new StringBuilder();
        s.Append("// Generated by ManagedComDeclarations.exe; do not edit. Order: ").Append(argv[1]).Append("; members checked in:");
        foreach (var path in argv.Skip(2)) s.Append("\n//   ").Append(path);
        s.Append("\n#pragma once\nnamespace mono\n{\n");
        s.Append(string.Concat(Interfaces.Select(i => "struct " + i.Substring(i.LastIndexOf('.') + 1) + ";\n")));
        s.Append(string.Concat(Opaque.Select(o => "struct " + o + ";\n")));
        File.WriteAllText(argv[0], s.Append(decls).Append("}\n").ToString());
    }
}
