'use strict';
// The Node binding's lines for the stand-in machine (tests/bindings/machine.sh).
const kolvex = require('kolvex');

(async () => {
  const c = kolvex.collect();
  const all = await Promise.allSettled([0, 1, 2, 3].map(() => kolvex.collectAsync()));
  const withoutTime = (record) => record.split('@').filter((_, i) => i !== 1).join('@');
  const threads = all.filter((r) => r.status === 'fulfilled' &&
    withoutTime(r.value.record) === withoutTime(c.record)).length;
  process.stdout.write(`record=${c.record}\nmissing=${c.missing}\nheader=${c.header.toString('hex')}\n` +
    `threads=${threads}\n`);
})();
