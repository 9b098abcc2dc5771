package kolvex;

import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.Charset;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
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
  private static final Charset GBK = Charset.forName("GBK");

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
    // Split the bytes first: decoding a cut UTF-8 character or GBK text
    // before splitting could swallow an '@'. An empty item is one without
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

  // UTF-8 when the item is valid UTF-8 (a host name), else GBK.
  private static String decode(byte[] bytes, int start, int length) {
    try {
      return StandardCharsets.UTF_8
          .newDecoder()
          .onMalformedInput(CodingErrorAction.REPORT)
          .onUnmappableCharacter(CodingErrorAction.REPORT)
          .decode(ByteBuffer.wrap(bytes, start, length))
          .toString();
    } catch (CharacterCodingException e) {
      return new String(bytes, start, length, GBK);
    }
  }

  /** The record as text: ASCII but for a host name, which may be UTF-8 (else GBK). */
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
