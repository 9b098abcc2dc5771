'use strict';
// The Node binding against the real library (found as libkolvex.so.1 on the
// library path): node test.js VERSION KOLVEX_C_H LIBRARY_PATH
// Run where require('kolvex') finds the installed package.
const assert = require('node:assert');
const fs = require('node:fs');
const { spawnSync } = require('node:child_process');
const kolvex = require('kolvex');

const [version, header, libraryPath, table] = process.argv.slice(2);
const cases = [];
const test = (name, fn) => cases.push([name, fn]);
const withoutTime = (record) => record.split('@').filter((_, i) => i !== 1).join('@');

// The shared table of record bytes: parse() gives the same items and flags
// in every binding.
fs.readFileSync(table, 'ascii').split('\n').filter((line) => line && !line.startsWith('#')).forEach((line) => {
  const [name, raw, want, flags] = line.split('\t');
  const input = Buffer.from(raw.replace(/\\x(..)/g, (_, h) => String.fromCharCode(parseInt(h, 16))), 'latin1');
  test(`parse: ${name}`, () => {
    if (want === '-') return assert.throws(() => kolvex.parse(input), TypeError);
    const c = kolvex.parse(input);
    assert.strictEqual(c.record, want.replace(/\\u(....)/g, (_, h) => String.fromCharCode(parseInt(h, 16))));
    assert.deepStrictEqual(Object.keys(c.items), [...(raw[0] === '1' ? kolvex.WINDOWS_ITEMS : kolvex.LINUX_ITEMS)]);
    assert.strictEqual(c.record, Object.values(c.items).join('@'));
    assert.strictEqual(kolvex.parse(c.record).record, c.record);
    assert.deepStrictEqual([c.missing, c.recordBytes, c.header, c.explanation], [Number(flags), input, null, null]);
  });
});
test('parse: not text', () => assert.throws(() => kolvex.parse(42), TypeError));

// Every flag and error of the C header, by name and value.
test('flags and error codes are the C header\'s', () => {
  const defined = [...fs.readFileSync(header, 'latin1').matchAll(/#define KOLVEX_(MISSING|ERROR)_(\w+) \(?(-?\w+)\)?/g)];
  const flags = defined.filter((m) => m[1] === 'MISSING').map((m) => [m[2], Number(m[3])]);
  assert.deepStrictEqual(Object.entries(kolvex.Missing), flags);
  assert.ok(Object.isFrozen(kolvex.Missing));
  const sizes = [...fs.readFileSync(header, 'latin1').matchAll(/#define KOLVEX_(\w+)_SIZE (\d+)/g)];
  assert.deepStrictEqual(Object.fromEntries(sizes.map((m) => [m[1], Number(m[2])])), kolvex._sizes);
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
  // The header's clock fields, local time read after the collection (node.sh
  // runs this where the local hour is 0), as numbers yymmddhhmmss.
  const stamp = (fields) => fields.reduce((n, v) => n * 100 + v, 0);
  const clock = (d = new Date()) => stamp([d.getFullYear() - 2000, d.getMonth() + 1, d.getDate(),
    d.getHours(), d.getMinutes(), d.getSeconds()]);
  const before = clock();
  const c = kolvex.collect();
  const after = clock();
  const at = c.header.length === 8 ? stamp([...c.header.subarray(2)]) : -1;
  assert.ok(before <= at && at <= after, `header ${c.header.toString('hex')}: ${at} is not in ${before}..${after}`);
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
  const one = withoutTime(kolvex.collect().record);
  const all = await Promise.all([0, 1, 2, 3].map(() => kolvex.collectAsync()));
  assert.deepStrictEqual(all.map((c) => withoutTime(c.record)), [one, one, one, one]);
});

// The library by the override variable, and a library that is not there.
[
  ['KOLVEX_LIBRARY names the library', { KOLVEX_LIBRARY: libraryPath, LD_LIBRARY_PATH: '' }, version],
  ['a library that cannot be loaded', { KOLVEX_LIBRARY: '/nonexistent/libkolvex.so.1' },
    /cannot load \/nonexistent\/libkolvex\.so\.1 .*KOLVEX_LIBRARY/],
  ['no library on the search path', { LD_LIBRARY_PATH: '' }, /cannot load libkolvex\.so\.1 .*KOLVEX_LIBRARY.*\nrejected\n/],
  ['a library without the C interface', { KOLVEX_LIBRARY: 'libc.so.6' }, /cannot load libc\.so\.6 .*KOLVEX_LIBRARY/],
].forEach(([name, env, want]) => test(name, () => {
  const run = spawnSync(process.execPath, ['-e',
    'const k = require("kolvex"); try { console.log(k.version()) } catch (e) { console.log(e.message) }\n' +
    'try { k.collectAsync().catch(() => console.log("rejected")) } catch (e) { console.log("threw") }'],
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
