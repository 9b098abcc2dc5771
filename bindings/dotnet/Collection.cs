using System;
using System.Collections;
using System.Collections.Generic;
using System.Text;

namespace Kolvex
{
    /// <summary>The missing-item flags: one bit for each item that came out empty.</summary>
    [Flags]
    public enum Missing
    {
        None = 0,
        Time = 0x2,
        IP1 = 0x4,
        Mac1 = 0x8,
        DeviceName = 0x10,
        OSVersion = 0x20,
        DiskSerial = 0x40,
        CpuId = 0x80,
        BiosSerial = 0x100,
        /// <summary>Windows records only.</summary>
        SystemDisk = 0x200,
    }

    /// <summary>One terminal record and what goes with it.</summary>
    public sealed class Collection
    {
        // The record's items in order; a Windows record adds the system disk.
        static readonly string[] Names = {
            "terminal_type", "time", "ip1", "ip2", "mac1", "mac2", "device_name",
            "os_version", "disk_serial", "cpu_id", "bios_serial", "system_disk",
        };

        // The flag an empty item sets, by position (the type and the second
        // addresses set none).
        static readonly Missing[] Flags = {
            Missing.None, Missing.Time, Missing.IP1, Missing.None, Missing.Mac1, Missing.None,
            Missing.DeviceName, Missing.OSVersion, Missing.DiskSerial, Missing.CpuId,
            Missing.BiosSerial, Missing.SystemDisk,
        };

        readonly byte[] recordBytes;
        readonly byte[] header;

        /// <summary>The record as text: each item's bytes read as UTF-8 (U+FFFD for what is not).</summary>
        public string Record { get; private set; }

        /// <summary>The record's bytes as collected (a copy).</summary>
        public byte[] RecordBytes
        {
            get { return (byte[])recordBytes.Clone(); }
        }

        /// <summary>The missing-item flags; recomputed from the empty items for a parsed record.</summary>
        public Missing Missing { get; private set; }

        /// <summary>The 8-byte status header (a copy); null for a parsed record.</summary>
        public byte[] Header
        {
            get { return header == null ? null : (byte[])header.Clone(); }
        }

        /// <summary>The items by name (terminal_type, time, ip1, ... bios_serial, system_disk on Windows), in record order.</summary>
        public IReadOnlyDictionary<string, string> Items { get; private set; }

        /// <summary>Where each item came from: Collect(explain: true) only, else null.</summary>
        public string Explanation { get; private set; }

        // record: the record's bytes. missing: the collection's flags, or null
        // to compute them from the empty items. Throws ArgumentException for
        // what is not a record.
        internal Collection(byte[] record, Missing? missing, byte[] header, string explanation)
        {
            // Split the bytes first: decoding a cut UTF-8 character before
            // splitting could swallow an '@'.
            // An empty item is one without bytes, whatever a decoder makes of
            // the others.
            var values = new List<string>();
            Missing found = Missing.None;
            int start = 0;
            for (int i = 0; i <= record.Length; i++)
            {
                if (i == record.Length || record[i] == (byte)'@')
                {
                    if (i == start && values.Count < Flags.Length)
                        found |= Flags[values.Count];
                    values.Add(Decode(record, start, i - start));
                    start = i + 1;
                }
            }
            int expected = values[0] == "2" ? 11 : values[0] == "1" ? 12 : -1;
            if (values.Count != expected)
                throw new ArgumentException("not a terminal record (11 items of type 2 or 12 of type 1)", "record");
            recordBytes = (byte[])record.Clone();
            this.header = header;
            Record = string.Join("@", values);
            Missing = missing ?? found;
            Items = new ItemMap(Names, values);
            Explanation = explanation;
        }

        public override string ToString()
        {
            return Record;
        }

        // One item's bytes as UTF-8: one U+FFFD for each maximal subpart of
        // an invalid sequence, a BOM kept as U+FEFF. Decoded here, for the
        // decoders of mono and .NET Framework place U+FFFD otherwise.
        internal static string Decode(byte[] bytes, int start, int count)
        {
            var text = new StringBuilder(count);
            int end = start + count;
            for (int i = start; i < end;)
            {
                int b = bytes[i++];
                // The trailing bytes a lead byte needs, and the range of the first.
                int need = b >= 0xc2 && b <= 0xdf ? 1 : b >= 0xe0 && b <= 0xef ? 2 : b >= 0xf0 && b <= 0xf4 ? 3 : 0;
                int low = b == 0xe0 ? 0xa0 : b == 0xf0 ? 0x90 : 0x80;
                int high = b == 0xed ? 0x9f : b == 0xf4 ? 0x8f : 0xbf;
                int code = b < 0x80 ? b : b & (0x3f >> need);
                int got = 0;
                for (; got < need && i < end && bytes[i] >= low && bytes[i] <= high; got++)
                {
                    code = code << 6 | (bytes[i++] & 0x3f);
                    low = 0x80;
                    high = 0xbf;
                }
                text.Append(char.ConvertFromUtf32(b < 0x80 || (need > 0 && got == need) ? code : 0xfffd));
            }
            return text.ToString();
        }
    }

    // A read-only dictionary that enumerates in record order.
    internal sealed class ItemMap : IReadOnlyDictionary<string, string>
    {
        readonly List<KeyValuePair<string, string>> items = new List<KeyValuePair<string, string>>();
        readonly Dictionary<string, string> index = new Dictionary<string, string>();

        internal ItemMap(string[] names, List<string> values)
        {
            for (int i = 0; i < values.Count; i++)
            {
                items.Add(new KeyValuePair<string, string>(names[i], values[i]));
                index.Add(names[i], values[i]);
            }
        }

        public string this[string key]
        {
            get { return index[key]; }
        }

        public int Count
        {
            get { return items.Count; }
        }

        public IEnumerable<string> Keys
        {
            get { foreach (var item in items) yield return item.Key; }
        }

        public IEnumerable<string> Values
        {
            get { foreach (var item in items) yield return item.Value; }
        }

        public bool ContainsKey(string key)
        {
            return index.ContainsKey(key);
        }

        public bool TryGetValue(string key, out string value)
        {
            return index.TryGetValue(key, out value);
        }

        public IEnumerator<KeyValuePair<string, string>> GetEnumerator()
        {
            return items.GetEnumerator();
        }

        IEnumerator IEnumerable.GetEnumerator()
        {
            return GetEnumerator();
        }
    }
}
