#!/usr/bin/python3
"""Zip files for the extraction tests, written with python's zipfile and, for
the hostile cases, byte-patched copies of what zipfile wrote.

    zipcraft.py CASE OUT.zip

Every case writes one archive; `zipcraft.py list` prints the cases.

    zipcraft.py corpus SRC OUT

decodes every uuencoded archive under SRC into OUT and prints, as JSON, what
zipfile reads of each member: its name, the name it lands under, whether it
is a directory or encrypted, and its data (base64) where zipfile can read it.
"""
import base64
import binascii
import io
import json
import pathlib
import re
import struct
import sys
import zipfile
import zlib

LOCAL = b"PK\x03\x04"
CENTRAL = b"PK\x01\x02"
END = b"PK\x05\x06"

# A fixed time keeps the listings of the tests exact.
WHEN = (2021, 11, 22, 9, 30, 0)


def text(n, seed=1):
    """n bytes of text that deflates to about half (not a run of one byte)."""
    out = bytearray()
    x = seed
    while len(out) < n:
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out += b"%08x line %d\n" % (x, len(out))
    return bytes(out[:n])


def archive(members):
    """members: (name, data, method, date_time or None, external_attr or None,
    extra field, host system)."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        for name, data, method, when, attr, extra, host in members:
            info = zipfile.ZipInfo(name, date_time=when or WHEN)
            info.compress_type = method
            info.extra = extra
            if attr is not None:
                info.create_system = host
                info.external_attr = attr
            z.writestr(info, data)
    return bytearray(buf.getvalue())


def plain(name, data, method=zipfile.ZIP_STORED, when=None, attr=None, extra=b"", host=3):
    return (name, data, method, when, attr, extra, host)


def central_entries(d):
    """Offsets of the central headers, in order."""
    end = d.rfind(END)
    count, size, offset = struct.unpack_from("<HII", d, end + 10)
    out, pos = [], offset
    for _ in range(count):
        assert d[pos:pos + 4] == CENTRAL
        out.append(pos)
        n, e, c = struct.unpack_from("<HHH", d, pos + 28)
        pos += 46 + n + e + c
    return out


def entry_named(d, name):
    for pos in central_entries(d):
        n = struct.unpack_from("<H", d, pos + 28)[0]
        if d[pos + 46:pos + 46 + n] == name:
            local = struct.unpack_from("<I", d, pos + 42)[0]
            return pos, local
    raise KeyError(name)


def data_offset(d, local):
    n, e = struct.unpack_from("<HH", d, local + 26)
    return local + 30 + n + e


# Where a field lies in the central header and in the local header.
FIELDS = {"flags": ("<H", 8, 6), "method": ("<H", 10, 8), "crc": ("<I", 16, 14),
          "compressed": ("<I", 20, 18), "size": ("<I", 24, 22)}


def patch(d, name, **values):
    """Patches fields of a member in both its headers."""
    central, local = entry_named(d, name)
    for field, value in values.items():
        fmt, at_central, at_local = FIELDS[field]
        struct.pack_into(fmt, d, central + at_central, value)
        struct.pack_into(fmt, d, local + at_local, value)


def rename(d, placeholder, name):
    """Replaces a placeholder name (same length) in both headers."""
    assert len(placeholder) == len(name) and d.count(placeholder) == 2
    return bytearray(bytes(d).replace(placeholder, name))


def case_basic():
    return archive([
        plain("top.txt", text(5000), zipfile.ZIP_DEFLATED),
        plain("dir/", b""),
        plain("dir/sub/", b""),
        plain("dir/sub/deep.txt", b"deep\n" * 9),
        plain("dir/zeros.bin", bytes(200000), zipfile.ZIP_DEFLATED),
        plain("dated.txt", b"x" * 45, when=(1999, 3, 7, 14, 5, 0)),
    ])


# Names that must not lead outside the directory, each with the bare name it
# lands under ("" = skipped). Placeholders of the same length are patched.
HOSTILE_NAMES = [
    (b"../evil1.txt", b"evil1.txt"),
    (b"../../evil2.txt", b"evil2.txt"),
    (b"/tmp/abs.txt", b"abs.txt"),
    (b"C:\\win\\drive.txt", b"drive.txt"),
    (b"C:cdrive.txt", b"cdrive.txt"),
    (b"a\\b\\back.txt", b"back.txt"),
    (b"dir\\..\\..\\up.txt", b"up.txt"),
    (b"..", b""),
    (b"a/..", b""),
    (b"a\\..", b""),
    (b".", b""),
    (b"C:", b""),
    (b"C:..", b""),
    (b"x\x00y.txt", b""),
    (b"ctl\x01\x7f.txt", b"ctl__.txt"),
    (b"esc\x1b[1m.txt", b"esc_[1m.txt"),
    (b"sj/x\\y.txt", b"x\\y.txt"),
]


def case_names():
    members, patches = [], []
    for i, (name, _) in enumerate(HOSTILE_NAMES):
        placeholder = (b"P%02d" % i + b"#" * len(name))[:len(name)] if len(name) >= 3 else None
        if placeholder is None:
            members.append(plain(name.decode("latin-1"), b"content %d\n" % i))
        else:
            members.append(plain(placeholder.decode("latin-1"), b"content %d\n" % i))
            patches.append((placeholder, name))
    d = archive(members)
    for placeholder, name in patches:
        d = rename(d, placeholder, name)
    return d


def case_links():
    return archive([
        plain("link.txt", b"../../../etc/passwd", attr=(0o120777 << 16)),
        plain("dir/abs-link", b"/etc/shadow", attr=(0o120777 << 16)),
        plain("fifo", b"", attr=(0o010644 << 16)),
        plain("device", b"", attr=(0o020644 << 16)),
        plain("plain.txt", b"plain\n", attr=(0o100644 << 16)),
    ])


def case_dupes():
    return archive([
        plain("a/same.txt", b"first\n"),
        plain("b/same.txt", b"second, and longer\n", zipfile.ZIP_DEFLATED),
    ])


def flip_data_byte(d, name):
    _, local = entry_named(d, name)
    d[data_offset(d, local)] ^= 0x20


def case_dupes_bad():
    d = archive([plain("a/same.txt", b"first\n"), plain("b/same.txt", b"second\n")])
    flip_data_byte(d, b"b/same.txt")
    return d


def case_badcrc():
    d = archive([plain("good.txt", b"good\n"), plain("bad.txt", b"bad data\n"),
                 plain("inflated.txt", text(4000), zipfile.ZIP_DEFLATED), plain("after.txt", b"after\n")])
    flip_data_byte(d, b"bad.txt")
    # A flipped byte late in a deflate stream: it still inflates, to other bytes.
    central, local = entry_named(d, b"inflated.txt")
    compressed = struct.unpack_from("<I", d, central + 20)[0]
    d[data_offset(d, local) + compressed - 8] ^= 0x01
    return d


def case_truncated_member():
    d = archive([plain("cut.txt", text(100000), zipfile.ZIP_DEFLATED), plain("after.txt", b"after\n")])
    central, _ = entry_named(d, b"cut.txt")
    compressed = struct.unpack_from("<I", d, central + 20)[0]
    patch(d, b"cut.txt", compressed=compressed // 2)
    return d


def case_truncated_file():
    d = case_basic()
    return d[:len(d) // 2]


def case_size_lies():
    d = archive([
        plain("over.bin", bytes(100000), zipfile.ZIP_DEFLATED),
        plain("under.txt", text(3000), zipfile.ZIP_DEFLATED),
        plain("stored.txt", b"stored data\n"),
        plain("after.txt", b"after\n"),
    ])
    patch(d, b"over.bin", size=1000)     # inflates past what it declares
    patch(d, b"under.txt", size=6000)    # ends before what it declares
    patch(d, b"stored.txt", size=6)      # stored, its two sizes disagree
    return d


def case_ratio():
    """One member over the bound of a member; with noise.bin the archive as a
    whole stays under 1000:1."""
    import random
    noise = random.Random(26).randbytes(310_000)
    d = archive([plain("bomb.bin", text(2000), zipfile.ZIP_DEFLATED), plain("noise.bin", noise),
                 plain("after.txt", b"after\n")])
    patch(d, b"bomb.bin", size=300_000_000)
    return d


def case_total_ratio():
    """Five bzip2 members that claim 99,999,999 bytes each, none over the
    bound of one member; the whole archive writes 500 MB from 1 KB."""
    members = [plain("bomb%d.bin" % i, b"\0" * 1000, zipfile.ZIP_BZIP2) for i in range(5)]
    d = archive(members)
    for i in range(5):
        patch(d, b"bomb%d.bin" % i, size=99_999_999)
    return d


def case_total_size():
    """Two stored members of 2.2 MB that claim 2.1 GB each: a ratio under
    1000:1, but 4.2 GB for the whole."""
    import random
    noise = random.Random(25).randbytes(2_200_000)
    d = archive([plain("half%d.bin" % i, noise) for i in range(2)])
    for i in range(2):
        patch(d, b"half%d.bin" % i, size=2_100_000_000)
    return d


def case_many_members():
    return archive([plain("m%05d.txt" % i, b"") for i in range(10_001)])


def case_overlap():
    """Entries that share one member's data: a small archive claiming many
    times its size (the overlapping-file kind of Zip bomb)."""
    d = archive([plain("kernel.bin", bytes(50000), zipfile.ZIP_DEFLATED)])
    end = d.rfind(END)
    count, size, offset = struct.unpack_from("<HII", d, end + 10)
    entry = bytes(d[offset:offset + size])
    copies = [entry.replace(b"kernel.bin", b"copy%02d.bin" % i) for i in range(20)]
    tail = bytes(d[end:])
    d = d[:offset] + entry + b"".join(copies)
    new_end = bytearray(tail)
    struct.pack_into("<HHII", new_end, 8, count + 20, count + 20, size * 21, offset)
    return d + new_end


def case_overlap_tail():
    """The last member's data reaches into the central directory."""
    d = archive([plain("first.txt", b"first\n"), plain("last.txt", b"last data\n")])
    patch(d, b"last.txt", compressed=40, size=40)
    return d


def case_unicode_path():
    """Info-ZIP Unicode Path fields: one made for its code-page name, one
    left from an older name (its CRC is of another name)."""
    def field(text, stored):
        u = text.encode()
        return struct.pack("<HHBI", 0x7075, 5 + len(u), 1, zlib.crc32(stored)) + u
    d = archive([plain("Gr##e.txt", b"umlauts\n", extra=field("Grüße.txt", b"Gr\x81\xe1e.txt")),
                 plain("stale.txt", b"stale\n", extra=field("renamed.txt", b"older.txt")),
                 plain("plain.txt", b"plain\n")])
    return rename(d, b"Gr##e.txt", b"Gr\x81\xe1e.txt")


def case_cp437_names():
    """Names without the UTF-8 flag: code page 437, or UTF-8 where they are valid UTF-8."""
    d = archive([plain("caf#.txt", b"cafe\n"), plain("##rger.txt", b"utf-8\n")])
    return rename(rename(d, b"caf#.txt", b"caf\x82.txt"), b"##rger.txt", b"\xc3\xa4rger.txt")


def case_dos_directories():
    """Directories as MS-DOS and Windows tools write them: attribute 0x10, no slash."""
    return archive([plain("docs", b"", attr=0x10, host=0), plain("docs/readme.txt", b"readme\n", attr=0x20, host=0),
                    plain("bin", b"", attr=0x10, host=11)])


def case_aes_neighbours():
    """A short WinZip AES-128 member in the AE-2 form (no CRC) between plain
    ones: salt, password check, data, authentication code."""
    aes = struct.pack("<HHH2sBH", 0x9901, 7, 2, b"AE", 1, 0)
    d = archive([plain("before.txt", b"before\n"), plain("secret.txt", bytes(range(8 + 2 + 10 + 10)), extra=aes),
                 plain("after.txt", b"after\n")])
    patch(d, b"secret.txt", flags=1, method=99, crc=0, size=10)
    return d


def case_encrypted_directory():
    """A Zip64 end record of version 2: the central directory is encrypted."""
    d = archive([plain("a.txt", b"a\n")])
    end = d.rfind(END)
    count, size, offset = struct.unpack_from("<HII", d, end + 10)
    record = struct.pack("<4sQHHIIQQQQ", b"PK\x06\x06", 44 + 28, 0x3F, 62, 0, 0, count, count, size, offset)
    record += struct.pack("<HQQHHHHH", 8, size, size, 0x660E, 128, 1, 0, 0)  # AES-128, no hash
    locator = struct.pack("<4sIQI", b"PK\x06\x07", 0, end, 1)
    return d[:end] + record + locator + d[end:]


def case_empty():
    return archive([])


def case_not_zip():
    return bytearray(b"This is not a Zip file at all.\n" * 40)


CASES = {name[5:].replace("_", "-"): fn for name, fn in globals().items() if name.startswith("case_")}


def read(z, info):
    try:
        return base64.b64encode(z.read(info)).decode()
    except Exception:
        return None


def corpus(src, out):
    report = []
    for uu in sorted(pathlib.Path(src).rglob("*.uu")):
        lines = uu.read_bytes().splitlines()
        first = next(i for i, line in enumerate(lines) if line.startswith(b"begin "))
        data = b"".join(binascii.a2b_uu(line) for line in lines[first + 1:lines.index(b"end")])
        (pathlib.Path(out) / uu.stem).write_bytes(data)
        try:
            z = zipfile.ZipFile(io.BytesIO(data))
        except Exception:
            z = None
        members = []
        for info in z.infolist() if z else []:
            n = info.filename
            bare = n[(n.rfind("/") if "/" in n else n.rfind("\\")) + 1:]
            dos_directory = info.external_attr & 0x10 and info.create_system in (0, 6, 10, 11, 14)
            members.append({"name": n, "bare": re.sub("[\x00-\x1f\x7f-\x9f]", "_", bare),
                            "directory": bool(info.is_dir() or dos_directory),
                            "encrypted": bool(info.flag_bits & 1), "data": read(z, info)})
        report.append({"archive": uu.stem, "members": members})
    json.dump(report, sys.stdout)


def main():
    if sys.argv[1] == "corpus":
        corpus(sys.argv[2], sys.argv[3])
        return
    if sys.argv[1:] == ["list"]:
        print("\n".join(sorted(CASES)))
        return
    case, out = sys.argv[1:3]
    with open(out, "wb") as f:
        f.write(CASES[case]())


if __name__ == "__main__":
    main()
