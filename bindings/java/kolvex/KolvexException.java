package kolvex;

/** A negative result of the C interface. */
public final class KolvexException extends RuntimeException {
  private static final long serialVersionUID = 1L;
  private final int code;
  private final String name;

  KolvexException(int code) {
    super(describe(code));
    this.code = code;
    this.name = describe(code).split(" ")[0];
  }

  /** The code, e.g. -2. */
  public int code() {
    return code;
  }

  /** Its name in kolvex_c.h, e.g. KOLVEX_ERROR_SPACE. */
  public String name() {
    return name;
  }

  private static String describe(int code) {
    switch (code) {
      case -1:
        return "KOLVEX_ERROR_ARGUMENT (-1): record is NULL or record_size is 0";
      case -2:
        return "KOLVEX_ERROR_SPACE (-2): record_size too small for the record and its NUL";
      default:
        return "KOLVEX_ERROR_UNKNOWN (" + code + ")";
    }
  }
}
