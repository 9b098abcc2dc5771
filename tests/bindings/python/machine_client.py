"""The Python binding's lines for the stand-in machine (tests/bindings/machine.sh)."""
import threading

import kolvex

c = kolvex.collect()
records = []


def without_time(record):
    items = record.split("@")
    return items[:1] + items[2:]


def run():
    records.append(kolvex.collect().record)


threads = [threading.Thread(target=run) for _ in range(4)]
for t in threads:
    t.start()
for t in threads:
    t.join()
print("record=%s\nmissing=%d\nheader=%s\nthreads=%d"
      % (c.record, c.missing, c.header.hex(), sum(without_time(r) == without_time(c.record) for r in records)))
