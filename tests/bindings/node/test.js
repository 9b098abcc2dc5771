'use strict';
// The Node binding against the real library (found as libkolvex.so.1 on the
// library path): node test.js VERSION KOLVEX_C_H LIBRARY_PATH
// Run where require('kolvex') finds the installed package.
const assert = require('node:assert');
const fs = require('node:fs');
const { spawnSync } = require('node:child_process');
const kolvex = require('kolvex');

const [version, header, libraryPath] = process.argv.slice(2);
const cases = [];
const test = (name, fn) => cases.push([name, fn]);
const withoutTime = (record) => record.split('@').filter((_, i) => i !== 1).join('@');
const bytes = (text) => Buffer.from(text, 'latin1');

// parse(): input, then the items that must come out (a subset), the flags,
// or the error it must throw.
const L = '2@2026-03-15 09:30:12@192.168.1.23@@5254001a2b3c@@build-ser@5.15.@S3Z9NB0K@57060500FFFBEBBF@';
[
  ['Linux record', L, { ip2: '', bios_serial: '', cpu_id: '57060500FFFBEBBF' }, kolvex.Missing.BIOS_SERIAL],
  ['Windows record', '1@t@@@@@h@10.0@d@c@b@C:', { system_disk: 'C:', device_name: 'h' },
    kolvex.Missing.IP1 | kolvex.Missing.MAC1],
  ['every item empty', '1@@@@@@@@@@@', { system_disk: '' }, 0x3fe],
  // A lone UTF-8 lead byte before '@': a GBK decoder of the whole record
  // would read 0xC3 0x40 as one character and lose a separator. The item
  // alone is no UTF-8, so it reads as GBK.
  ["'@' after a cut UTF-8 character", bytes('2@t@i@@m@@b\xc3\xb6rse-b\xc3@6.1.@d@c@b'),
    { device_name: 'b\u679arse-b\ufffd', os_version: '6.1.' }, 0],
  ['UTF-8 host name', bytes('1@t@i@@m@@b\xc3\xb6rse@10.0@d@c@b@C:'), { device_name: 'b\u00f6rse' }, 0],
  ['GBK item', bytes('2@t@i@@m@@\xc4\xe3@v@d@c@b'), { device_name: '\u4f60' }, 0],
  ['empty text', '', TypeError],
  ['Windows type with eleven items', `1${L.slice(1)}`, TypeError],
  ['unknown terminal type', `3${L.slice(1)}`, TypeError],
  ['not text', 42, TypeError],
].forEach(([name, input, want, flags]) => test(`parse: ${name}`, () => {
  if (want === TypeError) return assert.throws(() => kolvex.parse(input), TypeError);
  const c = kolvex.parse(input);
  const names = c.items.system_disk === undefined ? kolvex.LINUX_ITEMS : kolvex.WINDOWS_ITEMS;
  assert.deepStrictEqual(Object.keys(c.items), [...names]);
  for (const [k, v] of Object.entries(want)) assert.strictEqual(c.items[k], v, k);
  assert.strictEqual(c.missing, flags);
  assert.strictEqual(c.record, Object.values(c.items).join('@'));
  assert.ok(Buffer.isBuffer(c.recordBytes) && c.header === null && c.explanation === null);
}));

// Every flag and error of the C header, by name and value.
test('flags and error codes are the C header\'s', () => {
  const defined = [...fs.readFileSync(header, 'latin1').matchAll(/#define KOLVEX_(MISSING|ERROR)_(\w+) \(?(-?\w+)\)?/g)];
  const flags = defined.filter((m) => m[1] === 'MISSING').map((m) => [m[2], Number(m[3])]);
  assert.deepStrictEqual(Object.entries(kolvex.Missing), flags);
  assert.ok(Object.isFrozen(kolvex.Missing));
  for (const [, , name, value] of defined.filter((m) => m[1] === 'ERROR')) {
    const e = new kolvex.KolvexError(Number(value));
    assert.deepStrictEqual([e.code, e.errno, e instanceof Error], [`KOLVEX_ERROR_${name}`, Number(value), true]);
  }
});

test('the declarations name every export', () => {
  const declared = fs.readFileSync(require.resolve('kolvex/index.d.ts'), 'utf8')
    .match(/^export declare (?:const|class|function) \w+/gm).map((d) => d.split(' ').pop());
  assert.deepStrictEqual(declared.sort(), Object.keys(kolvex).filter((k) => !k.startsWith('_')).sort());
});

// Negative results of the real library, from both calls.
[[0, 'KOLVEX_ERROR_ARGUMENT', -1], [8, 'KOLVEX_ERROR_SPACE', -2]].forEach(([size, code, errno]) => {
  const like = (e) => e instanceof kolvex.KolvexError && e.code === code && e.errno === errno;
  test(`record of ${size} bytes: ${code}`, async () => {
    assert.throws(() => kolvex._run(false, size, false), like);
    await assert.rejects(kolvex._run(true, size, true), like);
  });
});

test('version', () => assert.strictEqual(kolvex.version(), version));

test('collect and collectAsync agree; the async call leaves the event loop free', async () => {
  const c = kolvex.collect();
  let turned = false;
  const pending = kolvex.collectAsync({ explain: true });
  setImmediate(() => { turned = true; });
  const a = await pending;
  assert.ok(turned, 'the event loop did not turn while collecting');
  assert.strictEqual(withoutTime(a.record), withoutTime(c.record));
  assert.strictEqual(a.missing, kolvex.parse(a.record).missing);
  assert.ok(a.header.length === 8 && a.header[0] === 1 && a.header[1] === (a.missing ? 0x33 : 0x30));
  assert.match(a.explanation, /disk serial/);
  assert.strictEqual(c.explanation, null);
});

test('four concurrent collections', async () => {
  const all = await Promise.all([0, 1, 2, 3].map(() => kolvex.collectAsync()));
  assert.ok(all.every((c) => c.items.terminal_type === '2' && c.header !== null));
});

// The library by the override variable, and a library that is not there.
[
  ['KOLVEX_LIBRARY names the library', { KOLVEX_LIBRARY: libraryPath, LD_LIBRARY_PATH: '' }, version],
  ['a library that cannot be loaded', { KOLVEX_LIBRARY: '/nonexistent/libkolvex.so.1' },
    /cannot load \/nonexistent\/libkolvex\.so\.1 .*KOLVEX_LIBRARY/],
  ['no library on the search path', { LD_LIBRARY_PATH: '' }, /cannot load libkolvex\.so\.1 .*KOLVEX_LIBRARY/],
].forEach(([name, env, want]) => test(name, () => {
  const run = spawnSync(process.execPath, ['-e',
    'try { console.log(require("kolvex").version()) } catch (e) { console.log(e.message) }'],
  { env: { ...process.env, KOLVEX_LIBRARY: '', ...env }, encoding: 'utf8' });
  assert.strictEqual(run.stderr, '');
  if (typeof want === 'string') assert.strictEqual(run.stdout.trim(), want);
  else assert.match(run.stdout, want);
}));

(async () => {
  let failed = 0;
  for (const [name, fn] of cases) {
    try {
      await fn();
      if (process.env.KOLVEX_TEST_VERBOSE) console.log(`ok   ${name}`);
    } catch (e) {
      failed++;
      console.log(`FAIL ${name}: ${e.message}`);
    }
  }
  console.log(`node binding: ${cases.length - failed} of ${cases.length} cases passed`);
  process.exit(failed ? 1 : 0);
})();
