// Type declarations of the kolvex module (index.js).
/// <reference types="node" />

/** The missing-item flags: one bit for each item that came out empty. */
export declare const Missing: Readonly<{
  TIME: 0x2;
  IP1: 0x4;
  MAC1: 0x8;
  DEVICE_NAME: 0x10;
  OS_VERSION: 0x20;
  DISK_SERIAL: 0x40;
  CPU_ID: 0x80;
  BIOS_SERIAL: 0x100;
  /** Windows only. */
  SYSTEM_DISK: 0x200;
}>;

export type ItemName =
  | 'terminal_type' | 'time' | 'ip1' | 'ip2' | 'mac1' | 'mac2'
  | 'device_name' | 'os_version' | 'disk_serial' | 'cpu_id' | 'bios_serial'
  | 'system_disk';

/** The record's items by name, in record order; system_disk on Windows records only. */
export type Items = { [name in Exclude<ItemName, 'system_disk'>]: string } & { system_disk?: string };

export declare const LINUX_ITEMS: readonly ItemName[];
export declare const WINDOWS_ITEMS: readonly ItemName[];

/** One terminal record and what goes with it. */
export declare class Collection {
  /** The record as text. */
  readonly record: string;
  /** The record's bytes as collected or received. */
  readonly recordBytes: Buffer;
  /** A sum of Missing values, 0 when every item was collected. */
  readonly missing: number;
  /** The 8-byte status header; null for a parsed record. */
  readonly header: Buffer | null;
  readonly items: Items;
  /** Where each item came from (collect({ explain: true }) only), else null. */
  readonly explanation: string | null;
  toString(): string;
}

/** A negative result of the C interface. */
export declare class KolvexError extends Error {
  /** Its KOLVEX_ERROR_* name, e.g. 'KOLVEX_ERROR_SPACE'. */
  readonly code: string;
  /** The C interface's number, e.g. -2. */
  readonly errno: number;
}

export interface CollectOptions {
  /** Also fill Collection.explanation. */
  explain?: boolean;
}

/** Runs one collection on the calling thread. */
export declare function collect(options?: CollectOptions): Collection;
/** Runs one collection on a worker thread, off the event loop. */
export declare function collectAsync(options?: CollectOptions): Promise<Collection>;
/** Reads a record received from elsewhere; throws TypeError on what is not a record. Needs no library. */
export declare function parse(text: string | Uint8Array): Collection;
/** The library's product version, e.g. "1.1.2". */
export declare function version(): string;
