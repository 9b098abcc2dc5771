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

        Native(IntPtr handle, string name)
        {
            Collect = Function<CollectFunction>(handle, name, "kolvex_collect");
            CollectExplained = Function<CollectExplainedFunction>(handle, name, "kolvex_collect_explained");
            Version = Function<VersionFunction>(handle, name, "kolvex_version");
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
                    if (handle == IntPtr.Zero)
                    {
                        string why = Windows ? "Windows error " + Marshal.GetLastWin32Error() : Text(dlerror());
                        throw new DllNotFoundException("kolvex: cannot load " + name + " (" + why +
                                                       "); the environment variable KOLVEX_LIBRARY names the library's file");
                    }
                    loaded = new Native(handle, name);
                }
                return loaded;
            }
        }

        static T Function<T>(IntPtr handle, string name, string symbol)
        {
            IntPtr address = Windows ? GetProcAddress(handle, symbol) : dlsym(handle, symbol);
            if (address == IntPtr.Zero)
                throw new EntryPointNotFoundException("kolvex: " + name + " has no " + symbol);
            return Marshal.GetDelegateForFunctionPointer<T>(address);
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

        [DllImport("kernel32.dll", CallingConvention = CallingConvention.Winapi, CharSet = CharSet.Unicode,
                   SetLastError = true)]
        static extern IntPtr LoadLibraryW(string file);

        [DllImport("kernel32.dll", CallingConvention = CallingConvention.Winapi, CharSet = CharSet.Ansi,
                   ExactSpelling = true)]
        static extern IntPtr GetProcAddress(IntPtr module, string symbol);
    }
}
