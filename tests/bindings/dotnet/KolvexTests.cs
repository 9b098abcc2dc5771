// The C# binding against the real library.
//   mono KolvexTests.exe test VERSION KOLVEX_C_H RECORD_BYTES_TSV   errors, parse, threads, a collection
//   mono KolvexTests.exe unloadable     with KOLVEX_LIBRARY naming no library of the C interface
//   mono KolvexTests.exe machine        the stand-in machine's four lines
using System;
using System.IO;
using System.Linq;
using System.Text;
using System.Text.RegularExpressions;
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

    static byte[] Bytes(string text)
    {
        return Encoding.ASCII.GetBytes(text);
    }

    static readonly string[] Names = {
        "terminal_type", "time", "ip1", "ip2", "mac1", "mac2", "device_name", "os_version", "disk_serial", "cpu_id",
        "bios_serial", "system_disk",
    };

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
            Console.WriteLine("threads=" + threads.Count(t => WithoutTime(t.Result.Record) == WithoutTime(c.Record)));
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

        // The shared table of record bytes: Parse gives the same items and flags in every binding.
        foreach (string line in File.ReadAllLines(args[3], Encoding.ASCII).Where(l => !l.StartsWith("#")))
        {
            string[] row = line.Split('\t');
            byte[] input = Regex.Split(row[1], @"(\\x..)").SelectMany(
                part => part.StartsWith(@"\x") ? new[] { Convert.ToByte(part.Substring(2), 16) } : Bytes(part)).ToArray();
            string want = Regex.Replace(row[2], @"\\u(....)", m => ((char)Convert.ToInt32(m.Groups[1].Value, 16)).ToString());
            try
            {
                Collection c = Collector.Parse(input);
                Check(want != "-" && c.Record == want && (int)c.Missing == Convert.ToInt32(row[3], 16) && c.Header == null,
                      "parse " + row[0] + ": " + c.Record + " " + c.Missing);
                Check(c.Items.Keys.SequenceEqual(Names.Take(input[0] == '1' ? 12 : 11)) &&
                      string.Join("@", c.Items.Values) == c.Record && Collector.Parse(c.Record).Record == c.Record &&
                      c.RecordBytes.SequenceEqual(input), "parse " + row[0] + ": items");
            }
            catch (ArgumentException)
            {
                Check(want == "-", "parse " + row[0] + " is a record");
            }
        }
        // The flags, by name and value, and the buffer sizes are the C header's.
        string header = File.ReadAllText(args[2], Encoding.ASCII);
        var flags = Regex.Matches(header, @"#define KOLVEX_MISSING_(\w+) 0x(\w+)").Cast<Match>().ToList();
        foreach (Match f in flags)
            Check((int)Enum.Parse(typeof(Missing), f.Groups[1].Value.Replace("_", ""), true) == Convert.ToInt32(f.Groups[2].Value, 16),
                  "Missing " + f.Groups[1].Value);
        Check(flags.Count == Enum.GetValues(typeof(Missing)).Length - 1, flags.Count + " flags in the C header");
        Check(header.Contains("#define KOLVEX_EXPLANATION_SIZE " + Collector.ExplanationSize + "\n"), "explanation size");

        // A collection, explained, and four at once from Tasks.
        DateTime before = DateTime.Now;
        Collection one = Collector.Collect();
        DateTime after = DateTime.Now;
        byte[] h = one.Header;
        var at = new DateTime(2000 + h[2], h[3], h[4], h[5], h[6], h[7]);
        Check(at >= before.AddTicks(-(before.Ticks % TimeSpan.TicksPerSecond)) && at <= after,
              "header clock " + at.ToString("s") + " not in " + before.ToString("s") + ".." + after.ToString("s"));
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
