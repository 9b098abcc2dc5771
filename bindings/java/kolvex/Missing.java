package kolvex;

import java.util.EnumSet;

/** The missing-item flags: one bit for each item that came out empty. */
public enum Missing {
  TIME(0x2),
  IP1(0x4),
  MAC1(0x8),
  DEVICE_NAME(0x10),
  OS_VERSION(0x20),
  DISK_SERIAL(0x40),
  CPU_ID(0x80),
  BIOS_SERIAL(0x100),
  /** Windows records only. */
  SYSTEM_DISK(0x200);

  private final int value;

  Missing(int value) {
    this.value = value;
  }

  /** The flag's value, a KOLVEX_MISSING_* constant of kolvex_c.h. */
  public int value() {
    return value;
  }

  /** The flags set in a bit set. */
  public static EnumSet<Missing> of(int flags) {
    EnumSet<Missing> set = EnumSet.noneOf(Missing.class);
    for (Missing m : values()) {
      if ((flags & m.value) != 0) {
        set.add(m);
      }
    }
    return set;
  }
}
