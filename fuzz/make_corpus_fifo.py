#!/usr/bin/env python3
"""Writes the seed scripts for fuzz_fifo: a header (capacity, mode, step, fraction,
half-width) followed by operation bytes (two high bits: write, read, drain, fill; six
low bits: an amount)."""
import os
import random

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "fuzz_fifo")
os.makedirs(out, exist_ok=True)
rng = random.Random(1234)

# (capacity-1, mode, step byte, fraction byte, half-width): steps are (byte+1)/32.
headers = [
    (3, 0, 31, 0, 0),    # plain ring of 4
    (15, 0, 31, 0, 0),   # plain ring of 16
    (9, 1, 15, 0, 0),    # linear, step 0.5
    (40, 1, 23, 0, 3),   # linear, step 0.75
    (63, 2, 31, 0, 7),   # Gaussian, step 1
    (63, 2, 127, 0, 5),  # Gaussian, step 4
    (50, 2, 29, 25, 7),  # Gaussian, step ~0.92
    (20, 2, 10, 7, 2),   # Gaussian, step ~0.34, small ring
    (63, 1, 116, 38, 1), # linear, step ~3.66
]
for n, h in enumerate(headers):
    ops = bytes(rng.randrange(256) for _ in range(rng.randrange(20, 120)))
    with open(os.path.join(out, "seed%02d" % n), "wb") as f:
        f.write(bytes(h) + ops)
