// The Java binding against the real library.
//   java kolvex.KolvexTest test VERSION   errors, parse, threads, a collection
//   java kolvex.KolvexTest unloadable     with KOLVEX_LIBRARY naming no file
//   java kolvex.KolvexTest machine        the stand-in machine's four lines
package kolvex;

import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.EnumSet;
import java.util.List;
import java.util.concurrent.atomic.AtomicInteger;

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

  private static byte[] bytes(Object... parts) {
    ByteArrayOutputStream out = new ByteArrayOutputStream();
    for (Object p : parts) {
      byte[] b = p instanceof String ? ((String) p).getBytes(StandardCharsets.US_ASCII) : (byte[]) p;
      out.write(b, 0, b.length);
    }
    return out.toByteArray();
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

  // A parse case: the input, an item and its value (item null: not a record), flags, item count.
  private static Object[] row(byte[] input, String item, String value, int flags, int count) {
    return new Object[] {input, item, value, flags, count};
  }

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
      System.out.println("threads=" + Arrays.stream(records).filter(r -> r != null && r.startsWith("2@")).count());
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

    // Parse: records of both platforms, per-item decoding of split bytes,
    // and what is not a record (item null: IllegalArgumentException expected).
    byte[] gbk = {(byte) 0xd6, (byte) 0xd0, (byte) 0xce, (byte) 0xc4}; // GBK for U+4E2D U+6587
    byte[] utf8 = {(byte) 0xe4, (byte) 0xb8, (byte) 0xad}; // UTF-8 for U+4E2D
    List<Object[]> parses = List.of(
        row(bytes("2@2026-03-15 09:30:12@192.168.1.23@10.20.0.7@5254001a2b3c@5254001a2b3d@build-ser@5.15.@S3Z9NB0K123456A9@57060500FFFBEBBF@"),
            "disk_serial", "S3Z9NB0K123456A9", 0x100, 11),
        row(bytes("1@t@@@@@h@10.0@d@c@b@C:"), "system_disk", "C:", 0x4 | 0x8, 12),
        row(bytes("2@@@@@@@@@@"), "bios_serial", "", 0x1fe, 11),
        row(bytes("1@@@@@@@@@@@"), "system_disk", "", 0x3fe, 12),
        // A host name cut inside a UTF-8 character: 0xC3 '@' is one GBK character.
        row(bytes("2@t@i@@m@@", new byte[] {(byte) 0xc3}, "@v@d@c@b"), "os_version", "v", 0, 11),
        row(bytes("1@t@i@@m@@", utf8, "@v@", gbk, "@c@b@C:"), "disk_serial", "\u4e2d\u6587", 0, 12),
        row(bytes(""), null, "", 0, 0),
        row(bytes("2@t@i@@m@@h@v@d@c"), null, "", 0, 0),
        row(bytes("2@t@i@@m@@h@v@d@c@b@C:"), null, "", 0, 0),
        row(bytes("1@t@i@@m@@h@v@d@c@b"), null, "", 0, 0),
        row(bytes("3@t@i@@m@@h@v@d@c@b"), null, "", 0, 0));
    for (Object[] p : parses) {
      byte[] input = (byte[]) p[0];
      String item = (String) p[1];
      String what = "parse " + Arrays.toString(input);
      try {
        Collection c = Kolvex.parse(input);
        check(item != null, what + " raises");
        if (item == null) {
          continue;
        }
        check(c.items().size() == (Integer) p[4] && c.items().get(item).equals(p[2]) && c.missing() == (Integer) p[3] && c.header() == null,
            what + ": " + c.items().size() + " items, " + item + "=" + c.items().get(item) + ", " + c.missing());
        check(Arrays.equals(c.recordBytes(), input) && c.record().equals(String.join("@", c.items().values())), what + ": record");
      } catch (IllegalArgumentException e) {
        check(item == null, what + " is a record");
      }
    }
    Collection windows = Kolvex.parse("1@t@@@m@@h\u00e9@v@d@c@@C:");
    check(String.join(",", windows.items().keySet()).equals(
            "terminal_type,time,ip1,ip2,mac1,mac2,device_name,os_version,disk_serial,cpu_id,bios_serial,system_disk")
            && windows.items().get("device_name").equals("h\u00e9")
            && windows.missingItems().equals(EnumSet.of(Missing.IP1, Missing.BIOS_SERIAL)),
        "items in record order, text round trip, flag names");

    // A collection, explained, and four at once from threads.
    Collection one = Kolvex.collect();
    Collection explained = Kolvex.collect(true);
    check(one.missing() == Kolvex.parse(one.record()).missing(), "flags match the empty items: " + one.record() + " " + one.missing());
    byte[] header = one.header();
    check(header.length == 8 && header[0] == 1 && header[1] == (one.missing() == 0 ? '0' : '3'), "status header");
    check(one.explanation() == null && explained.explanation().contains("disk serial"), "explanation");
    check(withoutTime(explained.record()).equals(withoutTime(one.record())), "explained record");
    check(Arrays.stream(fourAtOnce()).allMatch(r -> r != null && withoutTime(r).equals(withoutTime(one.record()))), "four threads at once");
    check(Kolvex.version().equals(args[1]), "version " + Kolvex.version());
    System.out.println("java binding: " + (failures == 0 ? "ok" : failures + " failed") + " (" + one.record() + ")");
    System.exit(failures == 0 ? 0 : 1);
  }
}
