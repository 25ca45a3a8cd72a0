#!/usr/bin/env python3
"""Writes starting inputs for each fuzz target into CORPUS/<target>/, each seed that is not
there yet, beside what the fuzzer has grown. Usage: make_seeds.py CORPUS"""
import bz2, io, lzma, os, struct, subprocess, sys, tempfile, zipfile, zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import crafted  # noqa: E402
import crafted_methods  # noqa: E402

SEPARATOR = b'\n--tessera-fuzz-file--\n'
DATE = (2021, 6, 15, 13, 45, 30)


def archive(entries, comment=b'', **kw):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, 'w', **kw) as z:
        z.comment = comment
        for name, data, method, extra in entries:
            i = zipfile.ZipInfo(name, DATE)
            i.compress_type = method
            for k, v in extra.items():
                setattr(i, k, v)
            z.writestr(i, data)
    return buf.getvalue()


def link(name, target):
    return (name, target.encode(), zipfile.ZIP_STORED, {'create_system': 3, 'external_attr': 0o120777 << 16})


def plain_archives():
    text = b'the quick brown fox jumps over the lazy dog\n' * 20
    out = {
        'stored': archive([('a.txt', text, zipfile.ZIP_STORED, {}), ('dir/', b'', zipfile.ZIP_STORED, {})]),
        'deflated': archive([('a.txt', text, zipfile.ZIP_DEFLATED, {}), ('b/c.bin', bytes(range(256)),
                                                                         zipfile.ZIP_DEFLATED, {})], b'comment'),
        'links': archive([('lib/real.txt', b'real', zipfile.ZIP_STORED, {}), link('lib/same', 'real.txt'),
                          link('up', 'lib/real.txt'), link('lib/out', '../../x')]),
        'unix': archive([('run.sh', b'echo hi\n', zipfile.ZIP_DEFLATED,
                          {'create_system': 3, 'external_attr': 0o100755 << 16})]),
    }
    # Zip64 records on small entries.
    old = zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT
    zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT = 10, 1
    out['zip64'] = archive([('n%d' % k, b'q' * 50 * k, zipfile.ZIP_DEFLATED, {}) for k in range(3)])
    zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT = old
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, 'data.txt'), 'wb') as f:
            f.write(text)
        # Encrypted with the password the stub target gives, and a data descriptor.
        subprocess.run(['zip', '-q', '-P', 'password', 'enc.zip', 'data.txt'], cwd=d, check=True)
        subprocess.run('zip -q -fd - data.txt < /dev/null > streamed.zip', shell=True, cwd=d, check=True)
        for name in ('enc', 'streamed'):
            with open(os.path.join(d, name + '.zip'), 'rb') as f:
                out[name] = f.read()
    return out


def header(bits=0x20, caption=b'Caption', folder=b'inst', command=b''):
    h = b'MPU' + bytes([bits, len(caption), len(folder), len(command)]) + caption + folder + command
    return h + bytes(256 - len(h))


def shifted(data, delta):
    """The archive with every stored offset moved up by delta, as the conversion writes it."""
    data = bytearray(data)
    end = data.rfind(b'PK\x05\x06')
    count, size, start = struct.unpack_from('<HII', data, end + 10)
    p = start
    for _ in range(count):
        if p + 46 > end or data[p:p + 4] != b'PK\x01\x02':
            break  # a damaged directory stays as damaged as it was
        struct.pack_into('<I', data, p + 42, struct.unpack_from('<I', data, p + 42)[0] + delta)
        n, e, c = struct.unpack_from('<HHH', data, p + 28)
        p += 46 + n + e + c
    struct.pack_into('<I', data, end + 16, start + delta)
    return bytes(data)


def span_sets():
    sets = {}
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, 'noise.bin'), 'wb') as f:
            f.write(os.urandom(90000))
        with open(os.path.join(d, 'small.txt'), 'wb') as f:
            f.write(b'small\n' * 100)
        subprocess.run(['zip', '-q', '-s', '64k', 'set.zip', 'noise.bin', 'small.txt'], cwd=d, check=True)
        names = sorted(n for n in os.listdir(d) if n.startswith('set.z') and n != 'set.zip') + ['set.zip']
        sets['infozip'] = SEPARATOR.join(open(os.path.join(d, n), 'rb').read() for n in names)
    sets['single'] = plain_archives()['deflated']
    return sets


# Deflate64 as 7-Zip never writes it: length code 285, distance codes 30 and 31, codes of
# up to 15 bits in a dynamic block.
DEFLATE64 = {
    'd64-long': [{'type': 'fixed', 'tokens': ['a', [1000, 1], 'bc', [70, 3, 'long']]}],
    'd64-far': [{'type': 'stored', 'random': 40000, 'seed': 1}, {'type': 'stored', 'random': 30000, 'seed': 2},
                {'type': 'fixed', 'tokens': [[65538, 65536], [300, 32769], [4, 49153], 'xyz', [3, 7, 'long']]}],
    'd64-dynamic': [{'type': 'dynamic',
                     'lit': {'97': 1, '285': 2, '98': 3, '256': 4, '99': 5, '100': 6, '101': 7, '102': 8, '103': 9,
                             '104': 10, '105': 11, '106': 12, '107': 13, '108': 14, '109': 15, '257': 15},
                     'dist': {'31': 1, '30': 2, '0': 3, '1': 4, '2': 5, '3': 6, '4': 7, '5': 8, '6': 9, '7': 10,
                              '8': 11, '9': 12, '10': 13, '11': 14, '12': 15, '13': 15},
                     'tokens': ['abcdefghijklm' * 8, [100, 70, 'long'], [3, 13], 'm', [2000, 97, 'long']]},
                    {'type': 'fixed', 'tokens': ['end', [300, 2000]]}],
}


def method_streams():
    """Each method's data, as the codec fuzzer takes it: method, read size, declared size."""
    text = b''.join(b'%d the data of an entry, and more\n' % (i * 7 % 1000) for i in range(3000))
    c = zlib_raw(text)
    return {
        'd64-long': bytes([0, 3, 4]) + crafted_methods.deflate64(DEFLATE64['d64-long'])[0],
        'd64-far': bytes([0, 3, 255]) + crafted_methods.deflate64(DEFLATE64['d64-far'])[0],
        'd64-dynamic': bytes([0, 0, 100]) + crafted_methods.deflate64(DEFLATE64['d64-dynamic'])[0],
        'd64-from-deflate': bytes([0, 2, 0]) + c,
        'deflate': bytes([5, 3, 110]) + c,
        'deflate-declared-short': bytes([5, 4, 20]) + c,
        'bzip2-streams': bytes([1, 3, 0]) + bz2.compress(text[:50000]) + bz2.compress(text[50000:]),
        'lzma-marker': bytes([0x82, 3, 0]) + crafted_methods.lzma_entry(text),
        'zstd-frames': bytes([3, 3, 0]) + crafted_methods.zstd(text, 2),
        'xz-streams': bytes([4, 2, 0]) + lzma.compress(text[:9000], lzma.FORMAT_XZ) + bytes(4) +
                      lzma.compress(text[9000:], lzma.FORMAT_XZ),
    }


def zlib_raw(data):
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def method_archives():
    text = b'some text of an entry, ' * 300
    entries = lambda method, **kw: [dict(name='e.txt', method=method, text=text.decode(), **kw)]
    out = {name: crafted_methods.archive([{'name': 'e.bin', 'method': 9, 'd64': blocks}])
           for name, blocks in DEFLATE64.items()}
    out['bzip2-streams'] = crafted_methods.archive(entries(12, parts=2))
    out['lzma'] = crafted_methods.archive(entries(14))
    out['zstd'] = crafted_methods.archive(entries(93, parts=2))
    out['xz'] = crafted_methods.archive(entries(95, parts=2))
    # Damage of each kind the decoders must name, Deflate64 with bytes after its final block.
    damage = [{'name': 'trailing', 'append': 'junk!'}, {'name': 'cut', 'cut': 20},
              {'name': 'large', 'declare': 70000}, {'name': 'crc', 'crcxor': 1}]
    out['d64-damaged'] = crafted_methods.archive(
        [dict(d, method=9, d64=DEFLATE64['d64-long']) for d in damage])
    return out


def main():
    corpus = sys.argv[1]
    plain = plain_archives()
    plain.update({'crafted-' + name: make() for name, make in crafted.ARCHIVES.items()})
    seeds = {
        'marlin_list_fuzzer': dict(plain, prefixed=b'S' * 300 + plain['deflated']),
        'marlin_convert_fuzzer': dict(plain, program=b'S' * 300 + header() + shifted(plain['deflated'], 556),
                                      unshifted=b'S' * 300 + plain['stored']),
        'marlin_span_fuzzer': span_sets(),
        'sluice_fuzzer': dict(plain, **method_archives()),
        'sluice_codec_fuzzer': method_streams(),
        'stub_extract_fuzzer': {k: header() + shifted(v, 256) for k, v in plain.items()
                                if k not in ('zip64', 'crafted-two-zip64-ends')},
    }
    for target, files in seeds.items():
        folder = os.path.join(corpus, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in files.items():
            path = os.path.join(folder, 'seed-' + name)
            if not os.path.exists(path):
                with open(path, 'wb') as f:
                    f.write(data)


main()
