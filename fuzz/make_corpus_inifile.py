#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_inifile: small INI files of the kinds the player reads."""
import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "fuzz_inifile")

SEEDS = {
    "setting.ini": (
        "[Output]\nnDriverType=0\nbFreq0=1\nszChName0=\"L  \"\nfLevel0=-12.5\nfDelay1=0.1\n"
        "[Filter]\nBufms=500\nHSCMode=2\n[EQ]\n-1_Count=1\n-1_0=-1/100/0/0/-6\n0_Count=3\n"
        "0_0=0/1000/3/-0.5/6\n0_1=2/40/1/0/0\n[Matrix]\nfLevel0_1=1.5\n[Operation]\n"
        "ShortCut_Play=0x4050\n[Status]\nHSC=1\n[Global]\nIniVersion=117\n"
    ),
    "crlf_bom.ini": "\ufeff[音楽]\r\nフォルダ=/home/ü/音楽/\r\nn = 5 \r\n",
    "comments.ini": "; top\n# hash\n\n[A]\nx=1\n; about y\ny=2\n\n[B]\nz=3",
    "duplicates.ini": "[a]\nk=1\nK=2\n[A]\nk=3\n[b]\n=novalue\nnoequals\n",
    "odd.ini": "orphan=1\n[ spaced ]\n  key  =  v  \n[unclosed\n[]\nq=\"  quoted  \"\ne=\n\r\r\n",
    "numbers.ini": "[N]\na=0x\nb=-0x80000000\nc=2147483648\nd=1e-05\ne=nan\nf=inf\ng=1,5\nh=+7\n",
    "empty.ini": "",
}

os.makedirs(OUT, exist_ok=True)
for name, text in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(text.encode("utf-8"))
