#!/usr/bin/python3
# Writes the seed corpora of the fuzz targets that are not plain text files:
# tables with memo files in the three memo layouts, written by python3-dbf (an
# independent writer) and the catalog fixture of tests/data. A table seed is
# two bytes giving the table's length (big-endian), the table, then the memo.
import os
import shutil
import struct
import sys
import tempfile

import dbf

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(here)
out = os.path.join(here, "corpus", "table_memo")
os.makedirs(out, exist_ok=True)


def seed(name, table_path, memo_path):
    table = open(table_path, "rb").read()
    memo = open(memo_path, "rb").read() if memo_path and os.path.exists(memo_path) else b""
    with open(os.path.join(out, name), "wb") as f:
        f.write(struct.pack(">H", len(table)) + table + memo)


def seed_db4(db4_path, db3_path):
    # python3-dbf writes no dBASE IV tables: the dBASE III one it wrote, laid out
    # again by hand as version 0x8B with its memos in dBASE IV blocks.
    raw = bytearray(open(db3_path, "rb").read())
    header_length, record_length = struct.unpack_from("<HH", raw, 8)
    offset, memo_offset = 1, None
    for at in range(32, header_length - 1, 32):
        if raw[at] == 0x0D:
            break
        if chr(raw[at + 11]) == "M":
            memo_offset = offset
        offset += raw[at + 16]
    raw[0] = 0x8B
    memo = bytearray(512)
    table = dbf.Table(db3_path)
    table.open()
    for n, record in enumerate(table):
        text = record.notes.encode("cp437") if record.notes else b""
        field = header_length + n * record_length + memo_offset
        if not text:
            raw[field:field + 10] = b" " * 10
            continue
        block = len(memo) // 512
        raw[field:field + 10] = b"%10d" % block
        memo += b"\xff\xff\x08\x00" + struct.pack("<I", len(text) + 8) + text
        memo += bytes(-len(memo) % 512)
    table.close()
    struct.pack_into("<I", memo, 0, len(memo) // 512)
    memo[18:20] = b"\x02\x01"
    struct.pack_into("<I", memo, 20, 512)
    open(db4_path, "wb").write(raw)
    open(db4_path[:-4] + ".dbt", "wb").write(memo)
    seed("handmade_db4", db4_path, db4_path[:-4] + ".dbt")


fixture = os.path.join(root, "tests", "data", "catalog")
seed("fixture_db3", os.path.join(fixture, "catalog.dbf"), os.path.join(fixture, "catalog.dbt"))

work = tempfile.mkdtemp()
try:
    for kind, memo_ext in (("db3", ".dbt"), ("fp", ".fpt")):
        path = os.path.join(work, "t_" + kind + ".dbf")
        spec = "CODE C(8); NAME C(20); PRICE N(8,2); ADDED D; OK L; NOTES M"
        table = dbf.Table(path, spec, dbf_type=kind, codepage="cp437")
        table.open(dbf.READ_WRITE)
        table.append(("A100", "Rope", 12.5, dbf.Date(2024, 3, 1), True, "Strong rope."))
        table.append(("B200", "Net", 40, None, False, "x" * 700))
        table.append(("C300", "Caf\u00e9", 1, dbf.Date(1999, 12, 31), None, "First\r\nSecond"))
        table.append(("D400", "Hook", 0.75, None, True, ""))
        dbf.delete(table[1])
        table.close()
        seed("python_dbf_" + kind, path, path[:-4] + memo_ext)
        if kind == "db3":
            seed_db4(os.path.join(work, "t_db4.dbf"), path)
finally:
    shutil.rmtree(work)


def ndx_page(entries, last_child=None):
    # entries: (child, record, key bytes); an inner page adds a last child.
    page = struct.pack("<I", len(entries))
    for child, record, key, size in entries:
        page += struct.pack("<II", child, record) + key.ljust(size - 8, b"\0")
    if last_child is not None:
        page += struct.pack("<II", last_child, 0)
    return page.ljust(512, b"\0")


def ndx_file(expression, key_length, root, pages):
    size = (key_length + 8 + 3) // 4 * 4
    header = struct.pack("<IIIHHHH", root, len(pages) + 1, 0, key_length, 504 // size, 0, size)
    header = header.ljust(23, b"\0") + b"\1" + expression + b"\0"
    blocks = header.ljust(512, b"\0")
    for page in pages:
        blocks += page(size)
    return blocks


# Indexes over the catalog fixture of tests/data (CODE C(8), NAME C(20)), laid
# out by hand from the format: a single leaf, and a root over two leaves.
ndx_out = os.path.join(here, "corpus", "ndx_walk")
os.makedirs(ndx_out, exist_ok=True)
codes = [(b"A100", 1), (b"B200", 2), (b"C300", 3), (b"D400", 4)]
names = sorted([(b"Rope", 1), (b"Net", 2), ("Caf\u00e9 cr\u00e8me".encode("cp437"), 3), (b"Hook", 4)])
leaf = lambda keys, length: (lambda size: ndx_page([(0, r, k.ljust(length), size) for k, r in keys]))
seeds = {
    "code_one_leaf": ndx_file(b"CODE", 8, 1, [leaf(codes, 8)]),
    "code_two_levels": ndx_file(b"CODE", 8, 3, [
        leaf(codes[:2], 8), leaf(codes[2:], 8),
        lambda size: ndx_page([(1, 0, b"B200".ljust(8), size)], last_child=2)]),
    "name_one_leaf": ndx_file(b"NAME", 20, 1, [leaf(names, 20)]),
}
for name, data in seeds.items():
    open(os.path.join(ndx_out, name), "wb").write(data)
