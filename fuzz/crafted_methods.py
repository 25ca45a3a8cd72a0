#!/usr/bin/env python3
"""Hand-made archives of every compression method: a ZIP archive written byte by byte from a
list of entries, with each method's data made by the reference library of the method (zlib,
bz2, lzma, the zstd tool) or, for Deflate64, by the small encoder below from a list of
tokens. Sizes, CRCs and data can be made wrong on purpose. The decompressor's tests write
them with `crafted_methods.py OUTPUT 'JSON'`; make_seeds.py hands some to the fuzzers.

Each entry: name, method, and its data from one of
  "file": a path, "text" (latin-1) with "repeat", or "d64": a list of Deflate64 blocks
  ({"type": "stored", "random": N, "seed": S}, {"type": "fixed", "tokens": [...]},
  {"type": "dynamic", "lit": {symbol: length}, "dist": {symbol: length}, "tokens": [...]};
  a token is a literal string or [length, distance] or [length, distance, "long"], the
  last forcing length code 285);
and optionally "parts" (bzip2 streams, xz streams or Zstandard frames to cut the data into),
"cut" (bytes dropped from the end of the packed data), "append" (latin-1 text added after
it), "declare" (the size to declare), "crcxor", "share" (the index of an earlier entry
whose data to point at), "expect" (a path the decoded data is written to)."""
import bz2
import json
import lzma
import random
import struct
import subprocess
import sys
import zlib

from crafted import central, end, local

LENGTH_BASE = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131,
               163, 195, 227, 3]
LENGTH_EXTRA = [0] * 8 + [1] * 4 + [2] * 4 + [3] * 4 + [4] * 4 + [5] * 4 + [16]
DIST_BASE = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769, 1025, 1537, 2049,
             3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153]
DIST_EXTRA = [0, 0] + [k // 2 - 1 for k in range(2, 32)]
FIXED_LIT = [8] * 144 + [9] * 112 + [7] * 24 + [8] * 8


class Bits:
    def __init__(self):
        self.out, self.acc, self.n = bytearray(), 0, 0

    def put(self, value, n):
        self.acc |= value << self.n
        self.n += n
        while self.n >= 8:
            self.out.append(self.acc & 255)
            self.acc >>= 8
            self.n -= 8

    def code(self, code, n):  # Huffman codes go most significant bit first
        assert n > 0, 'a symbol without a code'
        self.put(int(format(code, '0%db' % n)[::-1], 2), n)

    def align(self):
        if self.n:
            self.put(0, 8 - self.n)


def canonical(lengths):
    count = [0] * 16
    for n in lengths:
        count[n] += 1
    count[0] = 0
    code, first = 0, [0] * 16
    for n in range(1, 16):
        code = (code + count[n - 1]) << 1
        first[n] = code
    codes = []
    for n in lengths:
        codes.append((first[n], n))
        if n:
            first[n] += 1
    return codes


def deflate64(blocks):
    """The stream and what it decodes to."""
    bits, data = Bits(), bytearray()
    for k, block in enumerate(blocks):
        bits.put(int(k == len(blocks) - 1), 1)
        kind = block['type']
        if kind == 'stored':
            raw = random.Random(block['seed']).randbytes(block['random'])
            bits.put(0, 2)
            bits.align()
            bits.put(len(raw), 16)
            bits.put(len(raw) ^ 0xFFFF, 16)
            for byte in raw:
                bits.put(byte, 8)
            data += raw
            continue
        if kind == 'fixed':
            bits.put(1, 2)
            lit, dist = canonical(FIXED_LIT), canonical([5] * 32)
        else:
            bits.put(2, 2)
            lit_lengths = [0] * (max(int(s) for s in block['lit']) + 1)
            for s, n in block['lit'].items():
                lit_lengths[int(s)] = n
            dist_lengths = [0] * (max(int(s) for s in block['dist']) + 1)
            for s, n in block['dist'].items():
                dist_lengths[int(s)] = n
            pre = canonical([4] * 16)  # every length written with a 4-bit code
            bits.put(len(lit_lengths) - 257, 5)
            bits.put(len(dist_lengths) - 1, 5)
            bits.put(19 - 4, 4)
            for s in [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15]:
                bits.put(4 if s < 16 else 0, 3)
            for n in lit_lengths + dist_lengths:
                bits.code(*pre[n])
            lit, dist = canonical(lit_lengths), canonical(dist_lengths)
        for token in block['tokens']:
            if isinstance(token, str):
                for byte in token.encode('latin-1'):
                    bits.code(*lit[byte])
                    data.append(byte)
                continue
            length, distance = token[0], token[1]
            i = 28 if length > 258 or len(token) > 2 else max(j for j in range(28) if LENGTH_BASE[j] <= length)
            bits.code(*lit[257 + i])
            bits.put(length - LENGTH_BASE[i], LENGTH_EXTRA[i])
            j = max(j for j in range(32) if DIST_BASE[j] <= distance)
            bits.code(*dist[j])
            bits.put(distance - DIST_BASE[j], DIST_EXTRA[j])
            for _ in range(length):
                data.append(data[-distance])
        bits.code(*lit[256])
    bits.align()
    return bytes(bits.out), bytes(data)


def split(data, parts):
    step = max(1, -(-len(data) // parts))
    return [data[i:i + step] for i in range(0, len(data), step)] or [b'']


def zstd(data, parts):
    out = b''
    for k, part in enumerate(split(data, parts)):
        out += subprocess.run(['zstd', '-q', '-c', '-3'], input=part, stdout=subprocess.PIPE, check=True).stdout
        if k == 0:  # a skippable frame, which readers pass over
            out += struct.pack('<II', 0x184D2A53, 5) + b'skip!'
    return out


def lzma_entry(data):
    # The LZMA SDK's version, the size of the properties, the properties, the raw stream.
    filters = [{'id': lzma.FILTER_LZMA1, 'dict_size': 1 << 20}]
    props = lzma._encode_filter_properties(filters[0])
    return struct.pack('<BBH', 9, 20, len(props)) + props + lzma.compress(data, lzma.FORMAT_RAW, filters=filters)


def pack(e, data):
    method, parts = e['method'], e.get('parts', 1)
    if method == 0:
        return data, 0
    if method == 8:
        c = zlib.compressobj(9, zlib.DEFLATED, -15)
        return c.compress(data) + c.flush(), 0
    if method == 12:
        return b''.join(bz2.compress(p) for p in split(data, parts)), 0
    if method == 14:
        return lzma_entry(data), 2  # flag bit 1: the stream ends with a marker
    if method == 93:
        return zstd(data, parts), 0
    if method == 95:
        return b''.join(lzma.compress(p, lzma.FORMAT_XZ) for p in split(data, parts)), 0
    raise SystemExit('no packer for method %d' % method)


def archive(entries):
    out, directory, offsets = b'', b'', []
    for e in entries:
        if 'd64' in e:
            packed, data = deflate64(e['d64'])
            flags = 0
        else:
            if 'file' in e:
                data = open(e['file'], 'rb').read()
            else:
                data = e.get('text', '').encode('latin-1') * e.get('repeat', 1)
            packed, flags = pack(e, data)
        if 'expect' in e:
            open(e['expect'], 'wb').write(data)
        packed = packed[:len(packed) - e.get('cut', 0)] + e.get('append', '').encode('latin-1')
        crc = zlib.crc32(data) ^ e.get('crcxor', 0)
        size = e.get('declare', len(data))
        if 'share' in e:
            offset = offsets[e['share']]
        else:
            offset = len(out)
            out += local(e['name'], e['method'], flags, crc, len(packed), size) + packed
        offsets.append(offset)
        directory += central(e['name'], e['method'], flags, crc, len(packed), size, offset)
    return out + directory + end(len(entries), len(directory), len(out))


def main():
    data = archive(json.loads(sys.argv[2]))
    with open(sys.argv[1], 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()
