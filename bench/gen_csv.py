#!/usr/bin/env python3
"""Writes a delimited file of N rows and 8 columns (with a header) for the bulk-insert benchmark."""
import random
import sys

rows = int(sys.argv[1])
out = sys.argv[2]
rnd = random.Random(1976)
cities = ["Lyon", "Porto", "Graz", "Tartu", "Ghent", "Malmö", "Cork", "Brno"]
with open(out, "w", encoding="utf-8", newline="") as f:
    f.write("id,customer,city,order_date,quantity,amount,status,note\n")
    for i in range(1, rows + 1):
        note = '"late, by ""truck"""' if i % 97 == 0 else "ok"
        f.write(
            f"{i},C{rnd.randrange(100000):05d},{cities[i % 8]},"
            f"2026-{1 + i % 12:02d}-{1 + i % 28:02d},{rnd.randrange(1, 500)},"
            f"{rnd.randrange(100, 10000000) / 100:.2f},{'open' if i % 3 else 'shipped'},{note}\n"
        )
