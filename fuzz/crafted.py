#!/usr/bin/env python3
"""Hand-made archives that each once got past a check of the extractors. The tests write
them with `crafted.py NAME OUTPUT`; make_seeds.py hands all of them to the fuzzers."""
import struct, sys, zlib

TIME = 0x5021  # 10:01:02
DATE = 0x52CF  # 2021-06-15
FILE, LINK, FOLDER = 0o100644, 0o120777, 0o040755


def local(name, method, flags, crc, packed, size):
    name = name.encode()
    return struct.pack('<IHHHHHIIIHH', 0x04034B50, 20, flags, method, TIME, DATE, crc, packed, size,
                       len(name), 0) + name


def central(name, method, flags, crc, packed, size, offset, mode=FILE):
    name = name.encode()
    return struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 0x0314, 20, flags, method, TIME, DATE, crc, packed,
                       size, len(name), 0, 0, 0, 0, mode << 16, offset) + name


def end(count, size, start):
    return struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, count, count, size, start, 0)


def zip64_end(count, size, start):
    return struct.pack('<IQHHIIQQQQ', 0x06064B50, 44, 45, 45, 0, 0, count, count, size, start)


def deflate(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def simple(entries):
    """entries: (name, data, mode, method); a plain archive with Unix modes."""
    out, directory = b'', b''
    for name, data, mode, method in entries:
        packed = deflate(data) if method == 8 else data
        crc = zlib.crc32(data)
        directory += central(name, method, 0, crc, len(packed), len(data), len(out), mode)
        out += local(name, method, 0, crc, len(packed), len(data)) + packed
    return out + directory + end(len(entries), len(directory), len(out))


def two_zip64_ends(count=3, size=10 << 20):
    """Two Zip64 end records: the one before the locator lists small encrypted entries, each
    at its own offset; the one the locator points at lists the same names, all on one
    stream of zeros."""
    zeros = bytes(size)
    stream, crc = deflate(zeros), zlib.crc32(zeros)
    out = local('bomb', 8, 0, crc, len(stream), size) + stream
    spread = b''
    for i in range(count):
        spread += central('e%d' % i, 8, 1, crc, 12, size, len(out))
        out += local('e%d' % i, 8, 1, crc, 12, size) + bytes(range(12))
    shared = b''.join(central('e%d' % i, 8, 0, crc, len(stream), size, 0) for i in range(count))
    shared_at = len(out)
    out += shared
    shared_end = len(out)
    out += zip64_end(count, len(shared), shared_at)
    spread_at = len(out)
    out += spread + zip64_end(count, len(spread), spread_at)
    out += struct.pack('<IIQI', 0x07064B50, 0, shared_end, 1)
    return out + struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)


def shared_stream(count=30, size=1 << 20):
    """Many central records on one stream of zeros."""
    zeros = bytes(size)
    stream, crc = deflate(zeros), zlib.crc32(zeros)
    out = local('z0', 8, 0, crc, len(stream), size) + stream
    directory = b''.join(central('z%d' % i, 8, 0, crc, len(stream), size, 0) for i in range(count))
    return out + directory + end(count, len(directory), len(out))


def short_encrypted():
    """An entry flagged encrypted whose data is shorter than the 12-byte encryption header."""
    data = b'short'
    crc = zlib.crc32(b'')
    out = local('e', 0, 1, crc, len(data), 0) + data
    directory = central('e', 0, 1, crc, len(data), 0, 0)
    return out + directory + end(1, len(directory), len(out))


def link_then_file():
    """A link and then a file of the same name."""
    return simple([('sub/', b'', FOLDER, 0), ('l', b'sub', LINK, 0), ('l', b'the file\n', FILE, 0)])


def open_modes():
    """A file and a folder that anyone may write."""
    return simple([('open/', b'', 0o040777, 0), ('open/all.txt', b'anyone\n', 0o100666, 8),
                   ('run.sh', b'echo run\n', 0o100777, 0)])


def empty():
    return end(0, 0, 0)


def damaged_directories():
    """Archives whose end record is there but whose directory is not what it says."""
    good = simple([('a.txt', b'a' * 100, FILE, 8), ('b.txt', b'b' * 100, FILE, 0)])
    at = good.rfind(b'PK\x05\x06')
    count, size, start = struct.unpack_from('<HII', good, at + 10)
    out = {}
    bad = bytearray(good)
    struct.pack_into('<I', bad, start, 0x12345678)  # no central header where it says
    out['signature'] = bytes(bad)
    bad = bytearray(good)
    struct.pack_into('<I', bad, at + 12, size + 1000)  # larger than the file before it
    out['size'] = bytes(bad)
    bad = bytearray(good)
    struct.pack_into('<HH', bad, at + 8, 50, 50)  # more entries than the directory holds
    out['count'] = bytes(bad)
    return out


ARCHIVES = {
    'two-zip64-ends': two_zip64_ends,
    'shared-stream': shared_stream,
    'short-encrypted': short_encrypted,
    'link-then-file': link_then_file,
    'open-modes': open_modes,
    'empty': empty,
}
for _kind, _data in damaged_directories().items():
    ARCHIVES['damaged-' + _kind] = (lambda d: lambda: d)(_data)


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ARCHIVES:
        sys.exit('usage: crafted.py {%s} OUTPUT' % ','.join(sorted(ARCHIVES)))
    with open(sys.argv[2], 'wb') as f:
        f.write(ARCHIVES[sys.argv[1]]())


if __name__ == '__main__':
    main()
