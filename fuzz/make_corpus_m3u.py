#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_m3u: playlists of the kinds the player reads and writes."""
import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "fuzz_m3u")

SEEDS = {
    "current.m3u": "/home/u/Music/a.mp3\r\nSong*/home/u/Music/song.mp3\r\nhttp://host/s.mp3\r\n",
    "relative.m3u": "one.mp3\nsub/two.flac\nsub\\deep\\three.wav\n../up.mp3\n",
    "extended.m3u": "#EXTM3U\n#EXTINF:123,Artist - Title\nsong.mp3\n#EXTINF:-1\nhttp://radio/live\n",
    "bom_crlf.m3u": "\ufeff\u97f3\u697d.mp3\r\n\r\n   \r\n\t\r\nC:\\Music\\win.mp3\r\n",
    "cr_only.m3u": "a.mp3\rb.mp3\r\rc.mp3",
    "titles.m3u": "T*rel.mp3\n*empty-title.mp3\nnoloc*\na*b*c.mp3\n#comment*x\n",
    "nested.m3u": "other.m3u\nfav.mxp\nmusic.M3U\n",
    "lone.m3u": "inner.m3u\n",
    "odd.m3u": "x\0y.mp3\n\xff\xfe.mp3\nfolder.m3u/file\n",
    "empty.m3u": "",
}

os.makedirs(OUT, exist_ok=True)
for name, text in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(text.encode("utf-8", "surrogateescape") if "\xff" not in text else text.encode("latin-1"))
