using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;

namespace Kolvex
{
    // The three functions of kolvex_c.h. The library is opened by its path,
    // not through DllImport's name probing, which on Linux looks for
    // libkolvex.so, the development link, and cannot honour KOLVEX_LIBRARY:
    // the file KOLVEX_LIBRARY names; else the package's own native for this
    // platform, runtimes/<rid>/native/ beside this assembly (as a restored
    // package lays it out, for runtimes that do not resolve native assets
    // themselves: mono, .NET Framework) or beside it (a RID-specific
    // publish); else the system's, libkolvex.so.1 on Linux, on Windows
    // kolvex.dll beside the application or in the system folder (by full
    // path: never the current directory). A library older than this binding is refused. The functions are cdecl on every platform, 32-bit
    // Windows included, where P/Invoke would otherwise assume stdcall.
    internal sealed class Native
    {
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate int CollectFunction([Out] byte[] record, UIntPtr recordSize, [Out] byte[] header);

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate int CollectExplainedFunction([Out] byte[] record, UIntPtr recordSize, [Out] byte[] header,
                                                       [Out] byte[] explanation, UIntPtr explanationSize);

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate IntPtr VersionFunction();

        internal readonly CollectFunction Collect;
        internal readonly CollectExplainedFunction CollectExplained;
        internal readonly VersionFunction Version;

        static readonly object Guard = new object();
        static Native loaded;

        static bool Windows
        {
            get { return Environment.OSVersion.Platform == PlatformID.Win32NT; }
        }

        static readonly string[] Symbols = { "kolvex_collect", "kolvex_collect_explained", "kolvex_version" };

        Native(IntPtr handle)
        {
            Collect = Function<CollectFunction>(handle, Symbols[0]);
            CollectExplained = Function<CollectExplainedFunction>(handle, Symbols[1]);
            Version = Function<VersionFunction>(handle, Symbols[2]);
        }

        // The product version this binding was made with: an older library
        // lacks what it relies on.
        internal const string BindingVersion = "1.1.2";

        // The library, opened on first use; a failed load is tried again on
        // the next call.
        internal static Native Get()
        {
            lock (Guard)
            {
                if (loaded == null)
                {
                    string[] names = Candidates();
                    var tried = new StringBuilder();
                    IntPtr handle = IntPtr.Zero;
                    string name = null;
                    for (int i = 0; handle == IntPtr.Zero && i < names.Length; i++)
                    {
                        name = names[i];
                        string why = Open(name, out handle);
                        if (why != null)
                            tried.Append(tried.Length == 0 ? "" : ", nor ").Append(name + " (" + why + ")");
                    }
                    if (handle == IntPtr.Zero)
                        throw new DllNotFoundException("kolvex: cannot load " + tried +
                                                       "; install it, or set KOLVEX_LIBRARY to its path");
                    var found = new Native(handle);
                    string version = Text(found.Version());
                    if (Older(version, BindingVersion))
                    {
                        Close(handle);
                        throw new DllNotFoundException("kolvex: " + name + " is kolvex " + version +
                                                       ", older than this binding (" + BindingVersion +
                                                       "); install kolvex " + BindingVersion +
                                                       " or later, or set KOLVEX_LIBRARY to its path");
                    }
                    loaded = found;
                }
                return loaded;
            }
        }

        static string[] Candidates()
        {
            string name = Environment.GetEnvironmentVariable("KOLVEX_LIBRARY");
            if (!string.IsNullOrEmpty(name))
                return new[] { name };
            string file = Windows ? "kolvex.dll" : "libkolvex.so";
            string here = Path.GetDirectoryName(typeof(Native).Assembly.Location);
            if (string.IsNullOrEmpty(here))
                here = AppDomain.CurrentDomain.BaseDirectory;
            string own = Path.Combine(here, "runtimes", Rid(), "native", file);
            if (!Windows)
                return new[] { own, Path.Combine(here, file), "libkolvex.so.1" };
            // Never a bare name, which Windows would also look for in the
            // current directory and on PATH: the system's kolvex.dll is the
            // one beside the application or in the system folder.
            return new[] { own, Path.Combine(here, file),
                           Path.Combine(AppDomain.CurrentDomain.BaseDirectory, file),
                           Path.Combine(Environment.SystemDirectory, file) };
        }

        // The runtime identifier of this process: win-x64, win-x86, linux-x64,
        // linux-arm64.
        static string Rid()
        {
            if (Windows)
                return IntPtr.Size == 8 ? "win-x64" : "win-x86";
            var names = new byte[390]; // struct utsname: six fields of 65 bytes
            string machine = uname(names) == 0 ? Encoding.ASCII.GetString(names, 4 * 65, 65).TrimEnd('\0') : "";
            return "linux-" + (machine == "x86_64" ? "x64" : machine == "aarch64" ? "arm64" : machine);
        }

        // Opens the library with its three functions: null, or why not.
        static string Open(string name, out IntPtr handle)
        {
            handle = Windows ? LoadLibraryW(name) : dlopen(name, RtldNow);
            if (handle == IntPtr.Zero)
                return Windows ? "Windows error " + Marshal.GetLastWin32Error() : Text(dlerror());
            IntPtr opened = handle;
            string absent = Array.Find(Symbols, symbol => Address(opened, symbol) == IntPtr.Zero);
            if (absent == null)
                return null;
            Close(handle);
            handle = IntPtr.Zero;
            return "it has no " + absent;
        }

        static void Close(IntPtr handle)
        {
            if (Windows)
                FreeLibrary(handle);
            else
                dlclose(handle);
        }

        static int[] Numbers(string version)
        {
            return Array.ConvertAll(version.Split('.'), part => {
                int n;
                return int.TryParse(part, System.Globalization.NumberStyles.None, null, out n) ? n : 0;
            });
        }

        internal static bool Older(string found, string wanted)
        {
            int[] a = Numbers(found), b = Numbers(wanted);
            for (int i = 0; i < Math.Max(a.Length, b.Length); i++)
            {
                int x = i < a.Length ? a[i] : 0, y = i < b.Length ? b[i] : 0;
                if (x != y)
                    return x < y;
            }
            return false;
        }

        static IntPtr Address(IntPtr handle, string symbol)
        {
            return Windows ? GetProcAddress(handle, symbol) : dlsym(handle, symbol);
        }

        static T Function<T>(IntPtr handle, string symbol)
        {
            return Marshal.GetDelegateForFunctionPointer<T>(Address(handle, symbol));
        }

        // NUL-terminated ASCII text owned by the library.
        internal static string Text(IntPtr text)
        {
            return text == IntPtr.Zero ? "" : Marshal.PtrToStringAnsi(text);
        }

        const int RtldNow = 2;

        [DllImport("libdl.so.2", CallingConvention = CallingConvention.Cdecl)]
        static extern IntPtr dlopen(string file, int mode);

        [DllImport("libdl.so.2", CallingConvention = CallingConvention.Cdecl)]
        static extern IntPtr dlsym(IntPtr handle, string symbol);

        [DllImport("libdl.so.2", CallingConvention = CallingConvention.Cdecl)]
        static extern IntPtr dlerror();

        [DllImport("libdl.so.2", CallingConvention = CallingConvention.Cdecl)]
        static extern int dlclose(IntPtr handle);

        [DllImport("libc.so.6", CallingConvention = CallingConvention.Cdecl)]
        static extern int uname([Out] byte[] names);

        [DllImport("kernel32.dll", CallingConvention = CallingConvention.Winapi, CharSet = CharSet.Unicode,
                   SetLastError = true)]
        static extern IntPtr LoadLibraryW(string file);

        [DllImport("kernel32.dll", CallingConvention = CallingConvention.Winapi, CharSet = CharSet.Ansi,
                   ExactSpelling = true)]
        static extern IntPtr GetProcAddress(IntPtr module, string symbol);

        [DllImport("kernel32.dll", CallingConvention = CallingConvention.Winapi)]
        static extern bool FreeLibrary(IntPtr module);
    }
}
