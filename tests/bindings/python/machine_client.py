"""The Python binding's lines for the stand-in machine (tests/bindings/machine.sh)."""
import threading

import kolvex

c = kolvex.collect()
records = []


def run():
    records.append(kolvex.collect().record)


threads = [threading.Thread(target=run) for _ in range(4)]
for t in threads:
    t.start()
for t in threads:
    t.join()
print("record=%s\nmissing=%d\nheader=%s\nthreads=%d"
      % (c.record, c.missing, c.header.hex(), sum(r.startswith("2@") for r in records)))
