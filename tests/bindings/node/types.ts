// The binding's declarations as a TypeScript application uses them:
// tsc --strict must accept every line, and reject each @ts-expect-error one.
import kolvex = require('kolvex');

const c: kolvex.Collection = kolvex.collect({ explain: true });
const parts: [string, Buffer, Buffer | null, string | null] = [c.record, c.recordBytes, c.header, c.explanation];
const items: [string, string | undefined] = [c.items.disk_serial, c.items.system_disk];
const bios: boolean = (c.missing & kolvex.Missing.BIOS_SERIAL) !== 0;
const later: Promise<string> = kolvex.collectAsync().then((a) => a.record);
const parsed: kolvex.Collection[] = [kolvex.parse('2@t@i@@m@@h@v@d@c@b'), kolvex.parse(Buffer.from(''))];
const versionText: string = kolvex.version();
try {
  kolvex.collect();
} catch (e) {
  if (e instanceof kolvex.KolvexError) console.log(e.code.startsWith('KOLVEX_ERROR_'), e.errno < 0);
}
// @ts-expect-error Missing is read-only
kolvex.Missing.TIME = 0x2;
// @ts-expect-error no such item
console.log(c.items.serial);
// @ts-expect-error parse takes text or bytes
kolvex.parse(42);
// @ts-expect-error the header is not always there
console.log(c.header.length);
console.log(parts, items, bios, later, parsed, versionText);
