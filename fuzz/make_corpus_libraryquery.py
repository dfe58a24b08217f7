#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_libraryquery: search queries the player sends, and hostile ones."""
import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "fuzz_libraryquery")

SEEDS = {
    "plain": "Max=10&Sort=Random&Open=1",
    "all": "Max=100&Sort=Rank3&Artist=Bach&Title=Air&Genre=Classical&Open=3&Ext=wav",
    "new": "Max=5&Sort=New&Open=1",
    "escaped": "Artist=%E6%AD%8C%E6%89%8B&Title=100%25&Open=1",
    "sql": "Artist=%27%20OR%201=1--&Title=%22%3B%20DROP%20TABLE%20tracks",
    "like": "Artist=%25&Title=_&Open=1",
    "huge_max": "Max=999999999999999999999999&Open=1",
    "bad_escape": "Artist=%zz&Max=1",
    "short_escape": "Title=%4",
    "nul": "Artist=a%00b",
    "report": "00000000ABCDEFGH\rabcdefghijklmnopq",
    "separators": "&&=&Max&=1&Sort=&Open=2",
}

os.makedirs(OUT, exist_ok=True)
for name, text in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(text.encode("utf-8"))
