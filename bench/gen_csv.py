#!/usr/bin/env python3
"""Writes a delimited file of N rows (with a header) for the bulk-insert benchmark.

gen_csv.py N FILE [orders|typed]
  orders: 8 columns, mostly text (the default)
  typed:  10 columns of many types: quoted texts with commas, doubled quotes and backslashes,
          empty and quoted empty fields, dates with empty fields, time stamps with milliseconds,
          booleans, floating point, small and big integers, decimals
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


with open(out, "w", encoding="utf-8", newline="") as f:
    {"orders": orders, "typed": typed}[shape](f, random.Random(1976 if shape == "orders" else 7))
