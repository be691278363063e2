#!/usr/bin/env python3
"""Writes the seed corpus of the dir_loader fuzz target into fuzz/corpus/dir_loader/."""
import os
import struct

def name_hash(name):
    h = 0
    for b in name:
        h = ((h << 1) & 1023) | (h >> 9)
        h = (h + b) & 1023
    return h

def archive(entries):
    data, offsets, q = b"", [], 12
    for i, (_, block) in enumerate(entries):
        offsets.append(q)
        data += block
        q += len(block)
        if i < len(entries) - 1:
            data += b"\x1a"
            q += 1
    heads, last, nexts, records, r = [0] * 1024, {}, [0] * len(entries), [], 4100
    positions = []
    for i, (name, _) in enumerate(entries):
        h = name_hash(name)
        positions.append(r)
        if heads[h] == 0:
            heads[h] = r
        else:
            nexts[last[h]] = r
        last[h] = i
        r += len(name) - len(name) % 4 + 16
    for i, (name, block) in enumerate(entries):
        pad = len(name) - len(name) % 4 + 4 - len(name)
        records.append(struct.pack("<III", nexts[i], offsets[i], len(block)) + name + b"\0" * pad)
    body = struct.pack("<I", 10) + b"".join(struct.pack("<I", x) for x in heads) + b"".join(records)
    return b"DIR\x1a" + struct.pack("<II", q + r, q) + data + body

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "corpus", "dir_loader")
os.makedirs(out, exist_ok=True)
seeds = {
    "two.DIR": archive([(b"x.img", b"abc"), (b"yy.spr", b"12345")]),
    "mixed.DIR": archive([(b"ab", b"1"), (b"", b""), (b"b`", b"22"), (b"ab", b"333"),
                          (b"n" * 30, b"\x1a"), (b"gfx\\HERO.SPR", b"")]),
    "header-only.DIR": b"DIR\x1a" + struct.pack("<II", 12, 0),
    "short.DIR": b"DIR\x1a\x10",
}
for name, content in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(content)
