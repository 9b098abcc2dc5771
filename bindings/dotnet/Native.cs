using System;
using System.Runtime.InteropServices;

namespace Kolvex
{
    // The three functions of kolvex_c.h. The library is opened by its file
    // name, not through DllImport's name probing, which on Linux looks for
    // libkolvex.so, the development link, and cannot honour KOLVEX_LIBRARY:
    // libkolvex.so.1 on Linux, kolvex.dll on Windows, or the file that
    // KOLVEX_LIBRARY names. The functions are cdecl on every platform, 32-bit
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

        // The library, opened on first use; a failed load is tried again on
        // the next call.
        internal static Native Get()
        {
            lock (Guard)
            {
                if (loaded == null)
                {
                    string name = Environment.GetEnvironmentVariable("KOLVEX_LIBRARY");
                    if (string.IsNullOrEmpty(name))
                        name = Windows ? "kolvex.dll" : "libkolvex.so.1";
                    IntPtr handle = Windows ? LoadLibraryW(name) : dlopen(name, RtldNow);
                    string absent = handle == IntPtr.Zero ? null
                                    : Array.Find(Symbols, symbol => Address(handle, symbol) == IntPtr.Zero);
                    if (handle == IntPtr.Zero || absent != null)
                    {
                        string why = absent != null ? "it has no " + absent
                                     : Windows ? "Windows error " + Marshal.GetLastWin32Error() : Text(dlerror());
                        if (absent != null && Windows)
                            FreeLibrary(handle);
                        else if (absent != null)
                            dlclose(handle);
                        throw new DllNotFoundException("kolvex: cannot load " + name + " (" + why +
                                                       "); install it, or set KOLVEX_LIBRARY to its path");
                    }
                    loaded = new Native(handle);
                }
                return loaded;
            }
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
