'use strict';
// The kolvex terminal identity collector from Node: a thin binding over the
// C interface of libkolvex (kolvex_c.h) through koffi.
//
//   const kolvex = require('kolvex');
//   const c = await kolvex.collectAsync();   // off the event loop
//   c.record; c.items.disk_serial; c.missing & kolvex.Missing.BIOS_SERIAL
//
// The library is the file the environment variable KOLVEX_LIBRARY names;
// else the package's own, prebuilds/<platform>-<arch>/; else the system's,
// libkolvex.so.1 on Linux and kolvex.dll on Windows. A library older than
// this package is refused. A collection prints nothing; collections of one process take
// turns, from any thread. parse() needs no library.

const path = require('path');
const koffi = require('koffi');
const { version: VERSION } = require('./package.json');

const RECORD_SIZE = 256;
const HEADER_SIZE = 8;
const EXPLANATION_SIZE = 24576;
const SEPARATOR = 0x40; // '@'

// The missing-item flags: one bit for each item that came out empty.
const Missing = Object.freeze({
  TIME: 0x2,
  IP1: 0x4,
  MAC1: 0x8,
  DEVICE_NAME: 0x10,
  OS_VERSION: 0x20,
  DISK_SERIAL: 0x40,
  CPU_ID: 0x80,
  BIOS_SERIAL: 0x100,
  SYSTEM_DISK: 0x200, // Windows only
});

// The record's items in order; Windows adds the system disk.
const LINUX_ITEMS = Object.freeze([
  'terminal_type', 'time', 'ip1', 'ip2', 'mac1', 'mac2',
  'device_name', 'os_version', 'disk_serial', 'cpu_id', 'bios_serial',
]);
const WINDOWS_ITEMS = Object.freeze([...LINUX_ITEMS, 'system_disk']);
const TERMINAL_TYPES = new Map([['2', LINUX_ITEMS], ['1', WINDOWS_ITEMS]]);

// The items an empty value flags; the second addresses and the type may be
// empty without a flag.
const ITEM_FLAGS = {
  time: Missing.TIME, ip1: Missing.IP1, mac1: Missing.MAC1,
  device_name: Missing.DEVICE_NAME, os_version: Missing.OS_VERSION,
  disk_serial: Missing.DISK_SERIAL, cpu_id: Missing.CPU_ID,
  bios_serial: Missing.BIOS_SERIAL, system_disk: Missing.SYSTEM_DISK,
};

const ERRORS = {
  '-1': ['KOLVEX_ERROR_ARGUMENT', 'record is NULL or record_size is 0'],
  '-2': ['KOLVEX_ERROR_SPACE', 'record_size too small for the record and its NUL'],
};

// A negative result of the C interface: code is its KOLVEX_ERROR_* name,
// errno the number.
class KolvexError extends Error {
  constructor(errno) {
    const [code, text] = ERRORS[errno] || ['KOLVEX_ERROR_UNKNOWN', 'unknown error'];
    super(`${code} (${errno}): ${text}`);
    this.name = 'KolvexError';
    this.code = code;
    this.errno = errno;
  }
}

// One item's bytes as UTF-8: one U+FFFD for each maximal subpart of an
// invalid sequence, a BOM kept as U+FEFF.
const utf8 = new TextDecoder('utf-8', { ignoreBOM: true });

// Splits on the separator's byte before decoding anything, so that no
// multi-byte decoding can take an '@' into a character.
function splitItems(bytes) {
  const values = [];
  let start = 0;
  for (let i = 0; i <= bytes.length; i++) {
    if (i === bytes.length || bytes[i] === SEPARATOR) {
      values.push(utf8.decode(bytes.subarray(start, i)));
      start = i + 1;
    }
  }
  const names = TERMINAL_TYPES.get(values[0]);
  if (!names || values.length !== names.length) {
    const err = new TypeError(
      `not a terminal record (11 items of type 2 or 12 of type 1): ${JSON.stringify(values.join('@').slice(0, 80))}`);
    err.code = 'ERR_INVALID_ARG_VALUE';
    throw err;
  }
  const items = {};
  names.forEach((name, i) => { items[name] = values[i]; });
  return { values, items };
}

// One terminal record and what goes with it: record (text), recordBytes
// (Buffer, as collected), missing (a sum of Missing values), header (the
// 8-byte status header, null for a parsed record), items (by name, in record
// order), explanation (collect({ explain: true }) only, else null).
class Collection {
  constructor(recordBytes, missing, header = null, explanation = null) {
    const { values, items } = splitItems(recordBytes);
    this.record = values.join('@');
    this.recordBytes = Buffer.from(recordBytes);
    this.missing = missing;
    this.header = header;
    this.items = items;
    this.explanation = explanation;
  }

  toString() {
    return this.record;
  }
}

// The Collection of a record received from elsewhere (string or Buffer):
// the flags are recomputed from the empty items, the header is null.
function parse(text) {
  let bytes;
  if (typeof text === 'string') bytes = Buffer.from(text, 'utf8');
  else if (text instanceof Uint8Array) bytes = Buffer.from(text);
  else throw new TypeError('parse() takes a string or a Buffer');
  const c = new Collection(bytes, 0);
  for (const [name, value] of Object.entries(c.items)) {
    if (value === '') c.missing |= ITEM_FLAGS[name] || 0;
  }
  return c;
}

let library = null;

// A version's numbers, for comparing.
function numbers(text) {
  return text.split('.').map((part) => (/^\d+$/.test(part) ? Number(part) : 0));
}

function older(found, wanted) {
  const [a, b] = [numbers(found), numbers(wanted)];
  for (let i = 0; i < Math.max(a.length, b.length); i++) {
    if ((a[i] || 0) !== (b[i] || 0)) return (a[i] || 0) < (b[i] || 0);
  }
  return false;
}

// The library and its three functions, or an exception; a file without them
// is unloaded again. koffi's default convention is cdecl, the C interface's
// on every platform.
function open(name) {
  let lib = null;
  try {
    lib = koffi.load(name);
    return {
      lib,
      collect: lib.func('int kolvex_collect(uint8_t *record, size_t record_size, uint8_t *header)'),
      explained: lib.func('int kolvex_collect_explained(uint8_t *record, size_t record_size, uint8_t *header, ' +
        'uint8_t *explanation, size_t explanation_size)'),
      version: lib.func('const char *kolvex_version(void)'),
    };
  } catch (e) { // no such file, or not the C interface
    if (lib) lib.unload();
    throw e;
  }
}

// The system's library: by its soname on Linux. On Windows never a bare
// name, which Windows would also look for in the current directory and on
// PATH: kolvex.dll beside the program (node.exe) or in the system folder.
function systemLibraries() {
  if (process.platform !== 'win32') return ['libkolvex.so.1'];
  const root = process.env.SystemRoot || 'C:\\Windows';
  return [path.win32.join(path.win32.dirname(process.execPath), 'kolvex.dll'),
    path.win32.join(root, 'System32', 'kolvex.dll')];
}

function load() {
  if (library) return library;
  const own = path.join(__dirname, 'prebuilds', `${process.platform}-${process.arch}`,
    process.platform === 'win32' ? 'kolvex.dll' : 'libkolvex.so');
  const names = process.env.KOLVEX_LIBRARY ? [process.env.KOLVEX_LIBRARY] : [own, ...systemLibraries()];
  const tried = [];
  let found = null;
  let name;
  for (name of names) {
    try {
      found = open(name);
      break;
    } catch (e) {
      tried.push(`${name} (${e.message})`);
    }
  }
  if (!found) {
    throw new Error(`kolvex: cannot load ${tried.join(', nor ')}; install it, or set KOLVEX_LIBRARY to its path`);
  }
  const version = found.version();
  if (older(version, VERSION)) {
    found.lib.unload();
    throw new Error(`kolvex: ${name} is kolvex ${version}, older than this package (${VERSION}); ` +
      `install kolvex ${VERSION} or later, or set KOLVEX_LIBRARY to its path`);
  }
  library = found;
  return library;
}

// One collection with a record buffer of recordSize bytes, on the calling
// thread or (async) on one of koffi's worker threads. Every buffer stays
// referenced here until the call has returned.
function run(explain, recordSize, async) {
  const lib = load();
  const record = Buffer.alloc(recordSize);
  const header = Buffer.alloc(HEADER_SIZE);
  const explanation = explain ? Buffer.alloc(EXPLANATION_SIZE) : null;
  const args = explain ? [record, recordSize, header, explanation, EXPLANATION_SIZE] : [record, recordSize, header];
  const fn = explain ? lib.explained : lib.collect;
  const upToNul = (buffer) => buffer.subarray(0, buffer.indexOf(0) < 0 ? buffer.length : buffer.indexOf(0));
  const finish = (result) => {
    if (result < 0) throw new KolvexError(result);
    const text = explain ? upToNul(explanation).toString('latin1') : null;
    return new Collection(upToNul(record), result, header, text);
  };
  if (!async) return finish(fn(...args));
  return new Promise((resolve, reject) => {
    fn.async(...args, (err, result) => {
      if (err) return reject(err);
      try {
        resolve(finish(result));
      } catch (e) {
        reject(e);
      }
    });
  });
}

function collect({ explain = false } = {}) {
  return run(explain, RECORD_SIZE, false);
}

function collectAsync({ explain = false } = {}) {
  try {
    return run(explain, RECORD_SIZE, true);
  } catch (e) {
    return Promise.reject(e);
  }
}

// The library's product version, e.g. "1.1.2".
function version() {
  return load().version();
}

module.exports = {
  Collection, KolvexError, Missing, LINUX_ITEMS, WINDOWS_ITEMS,
  collect, collectAsync, parse, version,
  _run: run, // for the binding's tests: record sizes the library rejects
  _sizes: { RECORD: RECORD_SIZE, HEADER: HEADER_SIZE, EXPLANATION: EXPLANATION_SIZE }, // and the buffers'
};
