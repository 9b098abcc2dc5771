using System;
using System.Runtime.CompilerServices;
using System.Text;

[assembly: InternalsVisibleTo("KolvexTests")]

namespace Kolvex
{
    /// <summary>
    /// The kolvex terminal identity collector: a thin layer over the C
    /// interface of libkolvex.so.1 (Linux) or kolvex.dll (Windows); the
    /// environment variable KOLVEX_LIBRARY names another file. A collection
    /// prints nothing; collections of one process take turns, from any thread.
    /// A library that cannot be loaded raises DllNotFoundException.
    /// </summary>
    public static class Collector
    {
        const int RecordSize = 256;         // KOLVEX_RECORD_SIZE
        const int HeaderSize = 8;           // KOLVEX_HEADER_SIZE
        internal const int ExplanationSize = 24576;  // KOLVEX_EXPLANATION_SIZE

        /// <summary>Runs one collection; with explain, Explanation tells where each item came from.</summary>
        /// <exception cref="KolvexException">The library returned an error code.</exception>
        public static Collection Collect(bool explain = false)
        {
            return Collect(explain, RecordSize);
        }

        internal static Collection Collect(bool explain, int recordSize)
        {
            Native library = Native.Get();
            var record = new byte[recordSize];
            var header = new byte[HeaderSize];
            byte[] explanation = explain ? new byte[ExplanationSize] : null;
            int result = explain
                ? library.CollectExplained(record, (UIntPtr)record.Length, header, explanation,
                                           (UIntPtr)explanation.Length)
                : library.Collect(record, (UIntPtr)record.Length, header);
            if (result < 0)
                throw new KolvexException(result);
            return new Collection(UpToNul(record), (Missing)result, header,
                                  explain ? Encoding.ASCII.GetString(UpToNul(explanation)) : null);
        }

        /// <summary>The Collection of a record received from elsewhere; needs no library.</summary>
        /// <remarks>The flags are recomputed from the empty items; Header is null.</remarks>
        /// <exception cref="ArgumentException">The text is not a terminal record.</exception>
        public static Collection Parse(string record)
        {
            if (record == null)
                throw new ArgumentNullException("record");
            return Parse(Encoding.UTF8.GetBytes(record));
        }

        /// <summary>As Parse(string), for a record's bytes (each item read as UTF-8).</summary>
        public static Collection Parse(byte[] record)
        {
            if (record == null)
                throw new ArgumentNullException("record");
            return new Collection(record, null, null, null);
        }

        /// <summary>The library's product version, e.g. "1.1.2".</summary>
        public static string Version()
        {
            return Native.Text(Native.Get().Version());
        }

        static byte[] UpToNul(byte[] text)
        {
            int end = Array.IndexOf(text, (byte)0);
            if (end < 0)
                end = text.Length;
            var bytes = new byte[end];
            Array.Copy(text, bytes, end);
            return bytes;
        }
    }

    /// <summary>A negative result of the C interface.</summary>
    public sealed class KolvexException : Exception
    {
        /// <summary>The code, e.g. -2.</summary>
        public int Code { get; private set; }

        /// <summary>Its name in kolvex_c.h, e.g. KOLVEX_ERROR_SPACE.</summary>
        public string Name { get; private set; }

        internal KolvexException(int code) : base(Describe(code))
        {
            Code = code;
            Name = Describe(code).Split(' ')[0];
        }

        static string Describe(int code)
        {
            switch (code)
            {
            case -1:
                return "KOLVEX_ERROR_ARGUMENT (-1): record is NULL or record_size is 0";
            case -2:
                return "KOLVEX_ERROR_SPACE (-2): record_size too small for the record and its NUL";
            default:
                return "KOLVEX_ERROR_UNKNOWN (" + code + ")";
            }
        }
    }
}
