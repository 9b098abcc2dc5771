// The C# binding against the real library.
//   mono KolvexTests.exe test VERSION   errors, parse, threads, a collection
//   mono KolvexTests.exe unloadable     with KOLVEX_LIBRARY naming no file
//   mono KolvexTests.exe machine        the stand-in machine's four lines
using System;
using System.Linq;
using System.Text;
using System.Threading.Tasks;
using Kolvex;

static class KolvexTests
{
    static int failures;

    static void Check(bool ok, string what)
    {
        if (!ok)
        {
            failures++;
            Console.WriteLine("FAIL: " + what);
        }
    }

    static string WithoutTime(string record)
    {
        var items = record.Split('@').ToList();
        items.RemoveAt(1);
        return string.Join("@", items);
    }

    static byte[] Bytes(params object[] parts)
    {
        return parts.SelectMany(p => p is string ? Encoding.ASCII.GetBytes((string)p) : (byte[])p).ToArray();
    }

    static int Main(string[] args)
    {
        if (args[0] == "machine")
        {
            Collection c = Collector.Collect();
            var threads = Enumerable.Range(0, 4).Select(i => Task.Run(() => Collector.Collect())).ToArray();
            Task.WaitAll(threads);
            Console.WriteLine("record=" + c.Record);
            Console.WriteLine("missing=" + (int)c.Missing);
            Console.WriteLine("header=" + string.Concat(c.Header.Select(b => b.ToString("x2"))));
            Console.WriteLine("threads=" + threads.Count(t => t.Result.Record.StartsWith("2@")));
            return 0;
        }
        if (args[0] == "unloadable")
        {
            string name = Environment.GetEnvironmentVariable("KOLVEX_LIBRARY");
            try
            {
                Collector.Version();
                Check(false, "an unloadable library raises");
            }
            catch (DllNotFoundException e)
            {
                Check(e.Message.Contains(name) && e.Message.Contains("KOLVEX_LIBRARY"), "load error names " + name + ": " + e.Message);
                Console.WriteLine("dotnet binding: " + e.GetType().Name + ": " + e.Message);
            }
            Check(Collector.Parse("2@t@i@@m@@h@v@d@c@b").Items["bios_serial"] == "b", "parse needs no library");
            return failures == 0 ? 0 : 1;
        }

        // Errors: the real library's codes through a record buffer too small.
        var errors = new[] { new { Size = 0, Code = -1, Name = "KOLVEX_ERROR_ARGUMENT" },
                             new { Size = 1, Code = -2, Name = "KOLVEX_ERROR_SPACE" } };
        foreach (var e in errors)
            foreach (bool explain in new[] { false, true })
            {
                try
                {
                    Collector.Collect(explain, e.Size);
                    Check(false, "record size " + e.Size + " raises");
                }
                catch (KolvexException x)
                {
                    Check(x.Code == e.Code && x.Name == e.Name && x.Message.StartsWith(e.Name),
                          "record size " + e.Size + ": " + x.Code + " " + x.Name);
                }
            }

        // Parse: records of both platforms, per-item decoding of split bytes,
        // and what is not a record (null items: ArgumentException expected).
        byte[] gbk = { 0xd6, 0xd0, 0xce, 0xc4 };   // GBK for U+4E2D U+6587
        byte[] utf8 = { 0xe4, 0xb8, 0xad };         // UTF-8 for U+4E2D
        var parses = new[] {
            new { Input = Bytes("2@2026-03-15 09:30:12@192.168.1.23@10.20.0.7@5254001a2b3c@5254001a2b3d@build-ser@5.15.@S3Z9NB0K123456A9@57060500FFFBEBBF@"),
                  Item = "disk_serial", Value = "S3Z9NB0K123456A9", Flags = Missing.BiosSerial, Count = 11 },
            new { Input = Bytes("1@t@@@@@h@10.0@d@c@b@C:"), Item = "system_disk", Value = "C:", Flags = Missing.IP1 | Missing.Mac1, Count = 12 },
            new { Input = Bytes("2@@@@@@@@@@"), Item = "bios_serial", Value = "", Flags = (Missing)0x1fe, Count = 11 },
            new { Input = Bytes("1@@@@@@@@@@@"), Item = "system_disk", Value = "", Flags = (Missing)0x3fe, Count = 12 },
            // A host name cut inside a UTF-8 character: 0xC3 '@' is one GBK character.
            new { Input = Bytes("2@t@i@@m@@", new byte[] { 0xc3 }, "@v@d@c@b"), Item = "os_version", Value = "v", Flags = Missing.None, Count = 11 },
            new { Input = Bytes("1@t@i@@m@@", utf8, "@v@", gbk, "@c@b@C:"), Item = "disk_serial", Value = "\u4e2d\u6587", Flags = Missing.None, Count = 12 },
            new { Input = Bytes(""), Item = (string)null, Value = "", Flags = Missing.None, Count = 0 },
            new { Input = Bytes("2@t@i@@m@@h@v@d@c"), Item = (string)null, Value = "", Flags = Missing.None, Count = 0 },
            new { Input = Bytes("2@t@i@@m@@h@v@d@c@b@C:"), Item = (string)null, Value = "", Flags = Missing.None, Count = 0 },
            new { Input = Bytes("1@t@i@@m@@h@v@d@c@b"), Item = (string)null, Value = "", Flags = Missing.None, Count = 0 },
            new { Input = Bytes("3@t@i@@m@@h@v@d@c@b"), Item = (string)null, Value = "", Flags = Missing.None, Count = 0 },
        };
        foreach (var p in parses)
        {
            string what = "parse " + BitConverter.ToString(p.Input);
            try
            {
                Collection c = Collector.Parse(p.Input);
                Check(p.Item != null, what + " raises");
                if (p.Item == null)
                    continue;
                Check(c.Items.Count == p.Count && c.Items[p.Item] == p.Value && c.Missing == p.Flags && c.Header == null,
                      what + ": " + c.Items.Count + " items, " + p.Item + "=" + c.Items[p.Item] + ", " + c.Missing);
                Check(c.RecordBytes.SequenceEqual(p.Input) && c.Record == string.Join("@", c.Items.Values), what + ": record");
            }
            catch (ArgumentException)
            {
                Check(p.Item == null, what + " is a record");
            }
        }
        Check(Collector.Parse("1@t@i@@m@@h\u00e9@v@d@c@b@C:").Items.Keys.SequenceEqual(
                  new[] { "terminal_type", "time", "ip1", "ip2", "mac1", "mac2", "device_name", "os_version",
                          "disk_serial", "cpu_id", "bios_serial", "system_disk" }) &&
              Collector.Parse("1@t@i@@m@@h\u00e9@v@d@c@b@C:").Items["device_name"] == "h\u00e9",
              "items in record order, text round trip");

        // A collection, explained, and four at once from Tasks.
        Collection one = Collector.Collect();
        Collection explained = Collector.Collect(explain: true);
        Check(one.Missing == Collector.Parse(one.Record).Missing, "flags match the empty items: " + one.Record + " " + one.Missing);
        Check(one.Header.Length == 8 && one.Header[0] == 1 && one.Header[1] == (one.Missing == 0 ? '0' : '3'), "status header");
        Check(one.Explanation == null && explained.Explanation.Contains("disk serial"), "explanation");
        Check(WithoutTime(explained.Record) == WithoutTime(one.Record), "explained record");
        var tasks = Enumerable.Range(0, 4).Select(i => Task.Run(() => Collector.Collect().Record)).ToArray();
        Task.WaitAll(tasks);
        Check(tasks.All(t => WithoutTime(t.Result) == WithoutTime(one.Record)), "four Tasks at once");
        Check(Collector.Version() == args[1], "version " + Collector.Version());
        Console.WriteLine("dotnet binding: " + (failures == 0 ? "ok" : failures + " failed") + " (" + one.Record + ")");
        return failures == 0 ? 0 : 1;
    }
}
