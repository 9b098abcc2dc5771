package kolvex;

import com.sun.jna.IntegerType;
import com.sun.jna.Library;
import com.sun.jna.Native;
import com.sun.jna.NativeLibrary;
import com.sun.jna.Platform;
import com.sun.jna.Pointer;
import java.nio.charset.StandardCharsets;
import java.util.Objects;

/**
 * The kolvex terminal identity collector: a thin layer over the C interface of libkolvex.so.1
 * (Linux) or kolvex.dll (Windows), through JNA; the environment variable KOLVEX_LIBRARY names
 * another file. A collection prints nothing; collections of one process take turns, from any
 * thread. A library that cannot be loaded raises UnsatisfiedLinkError.
 */
public final class Kolvex {
  private static final int RECORD_SIZE = 256; // KOLVEX_RECORD_SIZE
  private static final int HEADER_SIZE = 8; // KOLVEX_HEADER_SIZE
  static final int EXPLANATION_SIZE = 24576; // KOLVEX_EXPLANATION_SIZE

  private Kolvex() {}

  /** size_t: as wide as a pointer. */
  public static final class SizeT extends IntegerType {
    private static final long serialVersionUID = 1L;

    public SizeT() {
      this(0);
    }

    public SizeT(long value) {
      super(Native.SIZE_T_SIZE, value, true);
    }
  }

  // kolvex_c.h. A plain Library is cdecl, as the functions are everywhere.
  interface C extends Library {
    int kolvex_collect(byte[] record, SizeT recordSize, byte[] header);

    int kolvex_collect_explained(
        byte[] record, SizeT recordSize, byte[] header, byte[] explanation, SizeT explanationSize);

    Pointer kolvex_version();
  }

  private static C library;

  // Opened on first use by its file name (JNA would map "kolvex" to libkolvex.so, the
  // development link), its functions looked up at once; a failed load is tried again on the
  // next call.
  private static synchronized C library() {
    if (library == null) {
      String name = System.getenv("KOLVEX_LIBRARY");
      if (name == null || name.isEmpty()) {
        name = Platform.isWindows() ? "kolvex.dll" : "libkolvex.so.1";
      }
      try {
        // JNA keeps one NativeLibrary per name: a library without the C
        // interface stays open once, however often it is tried.
        NativeLibrary found = NativeLibrary.getInstance(name);
        for (String function : new String[] {"kolvex_collect", "kolvex_collect_explained", "kolvex_version"}) {
          found.getFunction(function);
        }
        library = Native.load(name, C.class);
      } catch (UnsatisfiedLinkError e) {
        UnsatisfiedLinkError named =
            new UnsatisfiedLinkError(
                "kolvex: cannot load "
                    + name
                    + " ("
                    + e.getMessage()
                    + "); install it, or set KOLVEX_LIBRARY to its path");
        named.initCause(e);
        throw named;
      }
    }
    return library;
  }

  /** Runs one collection; raises KolvexException on an error code. */
  public static Collection collect() {
    return collect(false);
  }

  /** Runs one collection; with explain, explanation() tells where each item came from. */
  public static Collection collect(boolean explain) {
    return collect(explain, RECORD_SIZE);
  }

  static Collection collect(boolean explain, int recordSize) {
    C c = library();
    byte[] record = new byte[recordSize];
    byte[] header = new byte[HEADER_SIZE];
    byte[] explanation = explain ? new byte[EXPLANATION_SIZE] : null;
    int result =
        explain
            ? c.kolvex_collect_explained(
                record,
                new SizeT(record.length),
                header,
                explanation,
                new SizeT(explanation.length))
            : c.kolvex_collect(record, new SizeT(record.length), header);
    if (result < 0) {
      throw new KolvexException(result);
    }
    return new Collection(
        Collection.upToNul(record),
        result,
        header,
        explain ? new String(Collection.upToNul(explanation), StandardCharsets.US_ASCII) : null);
  }

  /**
   * The Collection of a record received from elsewhere; needs no library. The flags are
   * recomputed from the empty items; header() is null.
   *
   * @throws IllegalArgumentException when the text is not a terminal record
   */
  public static Collection parse(String record) {
    return parse(Objects.requireNonNull(record, "record").getBytes(StandardCharsets.UTF_8));
  }

  /** As parse(String), for a record's bytes (each item read as UTF-8). */
  public static Collection parse(byte[] record) {
    return new Collection(Objects.requireNonNull(record, "record"), null, null, null);
  }

  /** The library's product version, e.g. "1.1.2". */
  public static String version() {
    return library().kolvex_version().getString(0, "US-ASCII");
  }
}
