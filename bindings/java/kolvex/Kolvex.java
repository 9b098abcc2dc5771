package kolvex;

import com.sun.jna.IntegerType;
import com.sun.jna.Library;
import com.sun.jna.Native;
import com.sun.jna.NativeLibrary;
import com.sun.jna.Platform;
import com.sun.jna.Pointer;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.net.URL;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.StandardCopyOption;
import java.util.Objects;

/**
 * The kolvex terminal identity collector: a thin layer over the C interface of libkolvex, through
 * JNA. The library is the file the environment variable KOLVEX_LIBRARY names; else the jar's own
 * native for this platform (JNA's resource layout: linux-x86-64/libkolvex.so, win32-x86/kolvex.dll,
 * ...); else the system's, libkolvex.so.1 (Linux) or kolvex.dll (Windows). A library older than
 * this binding is refused. A collection prints nothing; collections of one process take turns, from any
 * thread. A library that cannot be loaded raises UnsatisfiedLinkError.
 */
public final class Kolvex {
  private static final int RECORD_SIZE = 256; // KOLVEX_RECORD_SIZE
  private static final int HEADER_SIZE = 8; // KOLVEX_HEADER_SIZE
  static final int EXPLANATION_SIZE = 24576; // KOLVEX_EXPLANATION_SIZE
  // The product version this binding was made with: an older library lacks what it relies on.
  static final String VERSION = "1.1.2";

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

  // The library and its three functions; a file without them stays open once (JNA keeps one
  // NativeLibrary per name, however often it is tried).
  private static C open(String name) {
    NativeLibrary found = NativeLibrary.getInstance(name);
    for (String function : new String[] {"kolvex_collect", "kolvex_collect_explained", "kolvex_version"}) {
      found.getFunction(function);
    }
    return Native.load(name, C.class);
  }

  // The platform's folder of the jar's natives, and the library's file name.
  static final String OWN_NATIVE = Platform.RESOURCE_PREFIX + "/" + System.mapLibraryName("kolvex");

  // The jar's own native for this platform, copied out to a file. Only the jar (or class folder)
  // this class came from is looked in: a library of that name in another class path entry, a
  // folder such as ".", is never loaded.
  private static String own() throws IOException {
    URL self = Kolvex.class.getResource("Kolvex.class");
    if (self == null) {
      throw new IOException("this class's own location is not known");
    }
    InputStream in;
    try {
      in = new URL(self, "../" + OWN_NATIVE).openStream();
    } catch (IOException e) {
      throw new IOException("not in " + self.toString().replaceFirst("!?/kolvex/Kolvex\\.class$", ""), e);
    }
    try (InputStream library = in) {
      File file = File.createTempFile("kolvex", "-" + System.mapLibraryName("kolvex"));
      file.deleteOnExit();
      Files.copy(library, file.toPath(), StandardCopyOption.REPLACE_EXISTING);
      return file.getAbsolutePath();
    }
  }

  private static int[] numbers(String version) {
    String[] parts = version.split("\\.");
    int[] numbers = new int[parts.length];
    for (int i = 0; i < parts.length; i++) {
      numbers[i] = parts[i].matches("[0-9]{1,9}") ? Integer.parseInt(parts[i]) : 0;
    }
    return numbers;
  }

  static boolean older(String found, String wanted) {
    int[] a = numbers(found);
    int[] b = numbers(wanted);
    for (int i = 0; i < Math.max(a.length, b.length); i++) {
      int x = i < a.length ? a[i] : 0;
      int y = i < b.length ? b[i] : 0;
      if (x != y) {
        return x < y;
      }
    }
    return false;
  }

  // The system's library: by its soname on Linux. On Windows never a bare name, which Windows
  // would also look for in the current directory and on PATH: kolvex.dll beside the program
  // (the Java runtime's) or in the system folder, by full path.
  static String[] systemLibraries() {
    if (!Platform.isWindows()) {
      return new String[] {"libkolvex.so.1"};
    }
    String root = System.getenv("SystemRoot");
    return new String[] {
      new File(new File(System.getProperty("java.home"), "bin"), "kolvex.dll").getPath(),
      new File(new File(root == null || root.isEmpty() ? "C:\\Windows" : root, "System32"), "kolvex.dll")
          .getPath()
    };
  }

  // Opened on first use by its file name (JNA would map "kolvex" to libkolvex.so, the
  // development link), its functions looked up at once; a failed load is tried again on the
  // next call.
  private static synchronized C library() {
    if (library == null) {
      String override = System.getenv("KOLVEX_LIBRARY");
      String[] system = systemLibraries();
      boolean overridden = override != null && !override.isEmpty();
      StringBuilder tried = new StringBuilder();
      UnsatisfiedLinkError last = null;
      C found = null;
      String name = null;
      for (int i = 0; found == null && i < (overridden ? 1 : 1 + system.length); i++) {
        try {
          if (overridden) {
            name = override;
          } else if (i == 0) {
            // So named in the error when the jar has none.
            name = OWN_NATIVE;
            name = own();
          } else {
            name = system[i - 1];
          }
          found = open(name);
        } catch (IOException | UnsatisfiedLinkError e) {
          tried.append(tried.length() == 0 ? "" : ", nor ").append(name).append(" (").append(e.getMessage()).append(')');
          last = e instanceof UnsatisfiedLinkError ? (UnsatisfiedLinkError) e : last;
        }
      }
      if (found == null) {
        UnsatisfiedLinkError named =
            new UnsatisfiedLinkError(
                "kolvex: cannot load " + tried + "; install it, or set KOLVEX_LIBRARY to its path");
        named.initCause(last);
        throw named;
      }
      String version = found.kolvex_version().getString(0, "US-ASCII");
      if (older(version, VERSION)) {
        NativeLibrary.getInstance(name).close();
        throw new UnsatisfiedLinkError(
            "kolvex: " + name + " is kolvex " + version + ", older than this binding (" + VERSION
                + "); install kolvex " + VERSION + " or later, or set KOLVEX_LIBRARY to its path");
      }
      library = found;
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
