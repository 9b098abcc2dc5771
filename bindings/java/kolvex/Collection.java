package kolvex;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.EnumSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/** One terminal record and what goes with it. */
public final class Collection {
  // The record's items in order; a Windows record adds the system disk.
  private static final String[] NAMES = {
    "terminal_type", "time", "ip1", "ip2", "mac1", "mac2", "device_name",
    "os_version", "disk_serial", "cpu_id", "bios_serial", "system_disk",
  };
  // The flag an empty item sets, by position (the type and the second
  // addresses set none).
  private static final int[] FLAGS = {0, 0x2, 0x4, 0, 0x8, 0, 0x10, 0x20, 0x40, 0x80, 0x100, 0x200};

  private final byte[] recordBytes;
  private final String record;
  private final int missing;
  private final byte[] header;
  private final Map<String, String> items;
  private final String explanation;

  // record: the record's bytes; missing: the collection's flags, or null to
  // compute them from the empty items. Throws IllegalArgumentException for
  // what is not a record.
  Collection(byte[] record, Integer missing, byte[] header, String explanation) {
    // Split the bytes first: decoding a cut UTF-8 character before
    // splitting could swallow an '@'. An empty item is one without
    // bytes, whatever a decoder makes of the others.
    List<String> values = new ArrayList<>();
    int found = 0;
    int start = 0;
    for (int i = 0; i <= record.length; i++) {
      if (i == record.length || record[i] == '@') {
        if (i == start && values.size() < FLAGS.length) {
          found |= FLAGS[values.size()];
        }
        values.add(decode(record, start, i - start));
        start = i + 1;
      }
    }
    int expected = values.get(0).equals("2") ? 11 : values.get(0).equals("1") ? 12 : -1;
    if (values.size() != expected) {
      throw new IllegalArgumentException("not a terminal record (11 items of type 2 or 12 of type 1)");
    }
    Map<String, String> named = new LinkedHashMap<>();
    for (int i = 0; i < values.size(); i++) {
      named.put(NAMES[i], values.get(i));
    }
    this.recordBytes = record.clone();
    this.record = String.join("@", values);
    this.missing = missing != null ? missing : found;
    this.header = header;
    this.items = Collections.unmodifiableMap(named);
    this.explanation = explanation;
  }

  // One item's bytes as UTF-8: one U+FFFD for each maximal subpart of an
  // invalid sequence, a BOM kept as U+FEFF. Java's own decoder reads an
  // encoded surrogate as one U+FFFD where the other bindings read three.
  static String decode(byte[] bytes, int start, int length) {
    StringBuilder text = new StringBuilder(length);
    int end = start + length;
    for (int i = start; i < end; ) {
      int b = bytes[i++] & 0xff;
      // The trailing bytes a lead byte needs, and the range of the first.
      int need = b >= 0xc2 && b <= 0xdf ? 1 : b >= 0xe0 && b <= 0xef ? 2 : b >= 0xf0 && b <= 0xf4 ? 3 : 0;
      int low = b == 0xe0 ? 0xa0 : b == 0xf0 ? 0x90 : 0x80;
      int high = b == 0xed ? 0x9f : b == 0xf4 ? 0x8f : 0xbf;
      int code = b < 0x80 ? b : b & (0x3f >> need);
      int got = 0;
      for (; got < need && i < end && (bytes[i] & 0xff) >= low && (bytes[i] & 0xff) <= high; got++) {
        code = code << 6 | (bytes[i++] & 0x3f);
        low = 0x80;
        high = 0xbf;
      }
      text.appendCodePoint(b < 0x80 || (need > 0 && got == need) ? code : 0xfffd);
    }
    return text.toString();
  }

  /** The record as text: each item's bytes read as UTF-8 (U+FFFD for what is not). */
  public String record() {
    return record;
  }

  /** The record's bytes as collected (a copy). */
  public byte[] recordBytes() {
    return recordBytes.clone();
  }

  /** The missing-item flags, a sum of KOLVEX_MISSING_* values; recomputed from the empty items for a parsed record. */
  public int missing() {
    return missing;
  }

  /** The missing-item flags as a set. */
  public EnumSet<Missing> missingItems() {
    return Missing.of(missing);
  }

  /** The 8-byte status header (a copy); null for a parsed record. */
  public byte[] header() {
    return header == null ? null : header.clone();
  }

  /** The items by name (terminal_type, time, ip1, ... bios_serial, system_disk on Windows), in record order. */
  public Map<String, String> items() {
    return items;
  }

  /** Where each item came from: collect(true) only, else null. */
  public String explanation() {
    return explanation;
  }

  @Override
  public String toString() {
    return record;
  }

  static byte[] upToNul(byte[] text) {
    int end = 0;
    while (end < text.length && text[end] != 0) {
      end++;
    }
    return Arrays.copyOf(text, end);
  }
}
