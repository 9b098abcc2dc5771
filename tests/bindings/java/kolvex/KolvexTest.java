// The Java binding against the real library.
//   java kolvex.KolvexTest test VERSION KOLVEX_C_H RECORD_BYTES_TSV   errors, parse, threads, a collection
//   java kolvex.KolvexTest unloadable     with KOLVEX_LIBRARY naming no library of the C interface
//   java kolvex.KolvexTest machine        the stand-in machine's four lines
package kolvex;

import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.time.LocalDateTime;
import java.util.Arrays;
import java.util.EnumSet;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

public final class KolvexTest {
  private static int failures;

  private static void check(boolean ok, String what) {
    if (!ok) {
      failures++;
      System.out.println("FAIL: " + what);
    }
  }

  private static String withoutTime(String record) {
    int first = record.indexOf('@');
    return record.substring(0, first) + record.substring(record.indexOf('@', first + 1));
  }

  // Four collections on threads of their own; the records they returned.
  private static String[] fourAtOnce() throws InterruptedException {
    String[] records = new String[4];
    Thread[] threads = new Thread[4];
    for (int i = 0; i < 4; i++) {
      final int n = i;
      threads[i] = new Thread(() -> records[n] = Kolvex.collect().record());
      threads[i].start();
    }
    for (Thread t : threads) {
      t.join();
    }
    return records;
  }

  private static final String[] NAMES = {
    "terminal_type", "time", "ip1", "ip2", "mac1", "mac2", "device_name", "os_version", "disk_serial", "cpu_id",
    "bios_serial", "system_disk",
  };

  public static void main(String[] args) throws Exception {
    if (args[0].equals("machine")) {
      Collection c = Kolvex.collect();
      String[] records = fourAtOnce();
      StringBuilder header = new StringBuilder();
      for (byte b : c.header()) {
        header.append(String.format("%02x", b & 0xff));
      }
      System.out.println("record=" + c.record());
      System.out.println("missing=" + c.missing());
      System.out.println("header=" + header);
      System.out.println("threads=" + Arrays.stream(records).filter(r -> r != null && withoutTime(r).equals(withoutTime(c.record()))).count());
      return;
    }
    if (args[0].equals("unloadable")) {
      String name = System.getenv("KOLVEX_LIBRARY");
      try {
        Kolvex.version();
        check(false, "an unloadable library raises");
      } catch (UnsatisfiedLinkError e) {
        check(e.getMessage().contains(name) && e.getMessage().contains("KOLVEX_LIBRARY"), "load error names " + name + ": " + e.getMessage());
        System.out.println("java binding: UnsatisfiedLinkError: " + e.getMessage().split("\n")[0]);
      }
      check(Kolvex.parse("2@t@i@@m@@h@v@d@c@b").items().get("bios_serial").equals("b"), "parse needs no library");
      System.exit(failures == 0 ? 0 : 1);
    }

    // Errors: the real library's codes through a record buffer too small.
    Object[][] errors = {{0, -1, "KOLVEX_ERROR_ARGUMENT"}, {1, -2, "KOLVEX_ERROR_SPACE"}};
    for (Object[] e : errors) {
      for (boolean explain : new boolean[] {false, true}) {
        try {
          Kolvex.collect(explain, (Integer) e[0]);
          check(false, "record size " + e[0] + " raises");
        } catch (KolvexException x) {
          check(x.code() == (Integer) e[1] && x.name().equals(e[2]) && x.getMessage().startsWith((String) e[2]),
              "record size " + e[0] + ": " + x.code() + " " + x.name());
        }
      }
    }

    // The shared table of record bytes: parse() gives the same items and flags in every binding.
    for (String line : Files.readAllLines(Paths.get(args[3]), StandardCharsets.US_ASCII)) {
      if (line.startsWith("#")) {
        continue;
      }
      String[] row = line.split("\t", -1);
      ByteArrayOutputStream raw = new ByteArrayOutputStream();
      for (int i = 0; i < row[1].length(); i++) {
        boolean escaped = row[1].startsWith("\\x", i);
        raw.write(escaped ? Integer.parseInt(row[1].substring(i + 2, i + 4), 16) : row[1].charAt(i));
        i += escaped ? 3 : 0;
      }
      byte[] input = raw.toByteArray();
      String want = Pattern.compile("\\\\u(....)").matcher(row[2]).replaceAll(m -> String.valueOf((char) Integer.parseInt(m.group(1), 16)));
      try {
        Collection c = Kolvex.parse(input);
        check(!want.equals("-") && c.record().equals(want) && c.missing() == Integer.decode(row[3]) && c.header() == null,
            "parse " + row[0] + ": " + c.record() + " " + c.missing());
        check(String.join(",", c.items().keySet()).equals(String.join(",", Arrays.copyOf(NAMES, input[0] == '1' ? 12 : 11)))
                && String.join("@", c.items().values()).equals(c.record())
                && Kolvex.parse(c.record()).record().equals(c.record())
                && Arrays.equals(c.recordBytes(), input),
            "parse " + row[0] + ": items");
      } catch (IllegalArgumentException e) {
        check(want.equals("-"), "parse " + row[0] + " is a record");
      }
    }
    Collection windows = Kolvex.parse("1@t@@@m@@h\u00e9@v@d@c@@C:");
    check(windows.missingItems().equals(EnumSet.of(Missing.IP1, Missing.BIOS_SERIAL)), "flag names");
    // The flags, by name and value, and the buffer sizes are the C header's.
    String header = new String(Files.readAllBytes(Paths.get(args[2])), StandardCharsets.ISO_8859_1);
    Matcher flags = Pattern.compile("#define KOLVEX_MISSING_(\\w+) (0x\\w+)").matcher(header);
    int count = 0;
    for (; flags.find(); count++) {
      check(Missing.valueOf(flags.group(1)).value() == Integer.decode(flags.group(2)), "Missing." + flags.group(1));
    }
    check(count == Missing.values().length, count + " flags in the C header");
    check(header.contains("#define KOLVEX_EXPLANATION_SIZE " + Kolvex.EXPLANATION_SIZE + "\n"), "explanation size");

    // A collection, explained, and four at once from threads.
    LocalDateTime before = LocalDateTime.now().withNano(0);
    Collection one = Kolvex.collect();
    LocalDateTime after = LocalDateTime.now();
    byte[] h = one.header();
    LocalDateTime at = LocalDateTime.of(2000 + h[2], h[3], h[4], h[5], h[6], h[7]);
    check(!at.isBefore(before) && !at.isAfter(after), "header clock " + at + " not in " + before + ".." + after);
    Collection explained = Kolvex.collect(true);
    check(one.missing() == Kolvex.parse(one.record()).missing(), "flags match the empty items: " + one.record() + " " + one.missing());
    check(h.length == 8 && h[0] == 1 && h[1] == (one.missing() == 0 ? '0' : '3'), "status header");
    check(one.explanation() == null && explained.explanation().contains("disk serial"), "explanation");
    check(withoutTime(explained.record()).equals(withoutTime(one.record())), "explained record");
    check(Arrays.stream(fourAtOnce()).allMatch(r -> r != null && withoutTime(r).equals(withoutTime(one.record()))), "four threads at once");
    check(Kolvex.version().equals(args[1]), "version " + Kolvex.version());
    System.out.println("java binding: " + (failures == 0 ? "ok" : failures + " failed") + " (" + one.record() + ")");
    System.exit(failures == 0 ? 0 : 1);
  }
}
