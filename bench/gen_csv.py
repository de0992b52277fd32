#!/usr/bin/env python3
"""Writes a delimited file of N rows (with a header) for the bulk-insert benchmark.

gen_csv.py N FILE [orders|typed|zoned|longtext|sparse]
  orders: 8 columns, mostly text (the default)
  typed:  10 columns of many types: quoted texts with commas, doubled quotes and backslashes,
          empty and quoted empty fields, dates with empty fields, time stamps with milliseconds,
          booleans, floating point, small and big integers, decimals
  zoned:  8 columns: time stamps with a time zone (offsets, Z, none), times, UUIDs, JSON
          documents, texts
  longtext: 3 columns: an id and two quoted texts, the second of about 400 bytes with commas
          and doubled quotes
  sparse: 12 columns, 70 % of them empty, the others short quoted texts and integers
"""
import random
import sys

rows = int(sys.argv[1])
out = sys.argv[2]
shape = sys.argv[3] if len(sys.argv) > 3 else "orders"
cities = ["Lyon", "Porto", "Graz", "Tartu", "Ghent", "Malmö", "Cork", "Brno"]


def orders(f, rnd):
    f.write("id,customer,city,order_date,quantity,amount,status,note\n")
    for i in range(1, rows + 1):
        note = '"late, by ""truck"""' if i % 97 == 0 else "ok"
        f.write(
            f"{i},C{rnd.randrange(100000):05d},{cities[i % 8]},"
            f"2026-{1 + i % 12:02d}-{1 + i % 28:02d},{rnd.randrange(1, 500)},"
            f"{rnd.randrange(100, 10000000) / 100:.2f},{'open' if i % 3 else 'shipped'},{note}\n"
        )


def typed(f, rnd):
    f.write("id,name,note,d,ts,flag,price,qty,big,amount\n")
    for i in range(1, rows + 1):
        name = '"Smith, ""J"" \\ Köln"' if i % 5 == 0 else f"n{rnd.randrange(10**6)}"
        note = "" if i % 3 == 0 else ('""' if i % 7 == 0 else "x\ty")
        d = "" if i % 11 == 0 else f"20{rnd.randrange(10, 30)}-{1 + i % 12:02d}-{1 + i % 28:02d}"
        ts = f"2026-01-{1 + i % 28:02d} {i % 24:02d}:{i % 60:02d}:{(i * 7) % 60:02d}.{i % 1000:03d}"
        flag = ["t", "false", "yes", ""][i % 4]
        price = f"{rnd.uniform(-1e6, 1e6):.6g}"
        qty = str(rnd.randrange(-32768, 32768))
        big = str(rnd.randrange(-2**63, 2**63))
        amount = f"{rnd.randrange(-10**9, 10**9) / 1000:.3f}" if i % 13 else "-0.000"
        f.write(",".join([str(i), name, note, d, ts, flag, price, qty, big, amount]) + "\n")


def zoned(f, rnd):
    f.write("id,event_at,logged_at,at_time,ref,payload,source,note\n")
    for i in range(1, rows + 1):
        zone = ["+01:00", "Z", "-05:30", ""][i % 4]
        event = f"2026-{1 + i % 12:02d}-{1 + i % 28:02d}T{i % 24:02d}:{i % 60:02d}:{(i * 7) % 60:02d}{zone}"
        logged = f"2026-06-{1 + i % 28:02d} 12:{i % 60:02d}:00.{i % 1000000:06d}+02"
        at_time = f"{i % 24:02d}:{(i * 3) % 60:02d}:{(i * 11) % 60:02d}"
        ref = "%08x-%04x-%04x-%04x-%012x" % (rnd.getrandbits(32), rnd.getrandbits(16),
                                            rnd.getrandbits(16), rnd.getrandbits(16),
                                            rnd.getrandbits(48))
        payload = '"{""qty"": %d, ""tags"": [""a"", ""b""]}"' % (i % 500) if i % 6 else ""
        note = '"late, ""again"""' if i % 9 == 0 else f"n{i % 1000}"
        f.write(",".join([str(i), event, logged, at_time, ref, payload, cities[i % 8], note]) + "\n")


def longtext(f, rnd):
    f.write("id,title,body\n")
    words = ["alpha", "beta", "gamma, delta", '""quoted""', "x" * 12]
    for i in range(1, rows + 1):
        body = " ".join(rnd.choice(words) for _ in range(40))
        f.write(f'{i},"Title {i}","{body}"\n')


def sparse(f, rnd):
    f.write("id," + ",".join(f"c{i}" for i in range(1, 12)) + "\n")
    for i in range(1, rows + 1):
        values = [str(i)]
        for c in range(1, 12):
            if rnd.random() < 0.7:
                values.append("")
            else:
                values.append(f'"t{rnd.randrange(10000)}"' if c % 2 else str(rnd.randrange(100000)))
        f.write(",".join(values) + "\n")


shapes = {"orders": orders, "typed": typed, "zoned": zoned, "longtext": longtext, "sparse": sparse}
with open(out, "w", encoding="utf-8", newline="") as f:
    shapes[shape](f, random.Random(1976 if shape == "orders" else 7))
