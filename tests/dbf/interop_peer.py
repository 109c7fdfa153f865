#!/usr/bin/python3
"""Independent DBF readers and writers for the interop tests.

  interop_peer.py check TABLE EXPECTED [--dbfread-only]
      Reads TABLE with python3-dbf and with python3-dbfread and compares every
      record with EXPECTED: one line per record in file order, the deletion
      flag ("*" or "-") and then each field's text (trailing blanks removed,
      memo text for memo fields) as hex of its UTF-8 bytes, tab separated.
      python3-dbf opens no dBASE IV table with memo: --dbfread-only for those.
  interop_peer.py check-list LIST
      Checks every line "TABLE<TAB>EXPECTED[<TAB>HEADER COUNT]" of LIST like
      check (one python3 start for many tables): per peer the first difference,
      then the table. python3-dbf is expected to read only the header's count.
  interop_peer.py write DIR
      Writes DIR/PEERS.DBF with its memo file through python3-dbf: a dBASE III
      table with deleted records, code page 437 letters and awkward memos.
  interop_peer.py check-dump TABLE FORMAT DUMP
      Compares the output of "quillmart-cli dump" (FORMAT csv, json,
      csv-deleted or json-deleted) with TABLE as python3-dbfread reads it.
  interop_peer.py vfp-write DIR
      Writes DIR/VFP.DBF with its .FPT through python3-dbf: a Visual FoxPro
      table with a memo field (python3-dbf leaves the header's memo flag clear).
  interop_peer.py vfp-read TABLE
      Prints "CODE|NOTES" per record as python3-dbf reads TABLE, then a line
      "--", then the same as python3-dbfread reads it.

Exit status 0 when everything agrees; otherwise the differences on stdout, 1.
"""
import csv
import io
import json
import sys

import dbf
import dbfread

PEER_ROWS = [
    # (deleted, CODE, NAME, SNOTES)
    (False, "P-001", "Café crème", "First line\r\nSecond line, with a comma"),
    (True, "P-002", "Zürich tweed", 'Deleted but intact: "quoted"'),
    (False, "P-003", "Señor £ sign", "ü" * 700),  # spans two memo blocks
    (False, "P-004", "", ""),
    (True, "P-005", "Ñandú", "gone\ttoo"),
    (False, "P-006", "Trailing blanks   ", "é\nlast"),
]


def read_with_dbf(path):
    table = dbf.Table(path, codepage="cp437")
    table.open(dbf.READ_ONLY)
    try:
        rows = []
        for record in table:
            values = [str(value).rstrip(" ") for value in record]
            rows.append((dbf.is_deleted(record), values))
        return rows
    finally:
        table.close()


def read_with_dbfread(path):
    """dbfread gives live and deleted records apart, each in file order."""
    def load(records):
        return [[str(value if value is not None else "").rstrip(" ") for value in rec.values()]
                for rec in records]
    table = dbfread.DBF(path, encoding="cp437", load=True, char_decode_errors="strict")
    return load(table.records), load(table.deleted), list(table.field_names)


def parse_expected(path):
    rows = []
    with open(path, encoding="ascii") as handle:
        for line in handle:
            parts = line.rstrip("\n").split("\t")
            rows.append((parts[0] == "*", [bytes.fromhex(p).decode("utf-8") for p in parts[1:]]))
    return rows


def report(name, expected, got):
    if expected == got:
        return 0
    print(f"{name} differs:\n  expected {expected!r}\n  got      {got!r}")
    return 1


def check(table, expected_path, dbfread_only):
    expected = parse_expected(expected_path)
    failures = 0 if dbfread_only else report("python3-dbf", expected, read_with_dbf(table))
    live, deleted, _ = read_with_dbfread(table)
    if dbfread_only:
        # dbfread takes a dBASE IV block header's length as the text length,
        # though it counts the 8 header bytes too: it reads 8 bytes of the
        # zero padding behind each memo. Nothing else may differ.
        live, deleted = ([[v.rstrip("\0") for v in rec] for rec in rows] for rows in (live, deleted))
    failures += report("dbfread live", [v for d, v in expected if not d], live)
    failures += report("dbfread deleted", [v for d, v in expected if d], deleted)
    return failures


def first_difference(name, expected, got):
    """One line naming the count or the first record that differs; 0 when equal."""
    if expected == got:
        return 0
    if len(expected) != len(got):
        print(f"{name}: {len(got)} records, expected {len(expected)}")
    else:
        at = next(i for i, (e, g) in enumerate(zip(expected, got)) if e != g)
        print(f"{name}: record {at + 1} is {str(got[at])[:200]}, expected {str(expected[at])[:200]}")
    return 1


def check_list(list_path):
    failures = checked = 0
    with open(list_path, encoding="utf-8") as handle:
        for line in handle:
            table, expected_path, *count = line.rstrip("\n").split("\t")
            expected = parse_expected(expected_path)
            # python3-dbf reads as many records as the header counts; dbfread reads
            # up to the end-of-file marker, a record written past the count included.
            counted = expected[:int(count[0])] if count else expected
            checked += 1
            try:
                failed = first_difference("python3-dbf", counted, read_with_dbf(table))
                live, deleted, _ = read_with_dbfread(table)
                failed += first_difference("dbfread live", [v for d, v in expected if not d], live)
                failed += first_difference("dbfread deleted", [v for d, v in expected if d], deleted)
            except Exception as error:  # a peer that cannot read the table at all
                print(f"{type(error).__name__}: {error}")
                failed = 1
            if failed:
                print(f"^^ {table}")
            failures += 1 if failed else 0
    print(f"{checked} tables checked, {failures} differ")
    return failures


def write(directory):
    table = dbf.Table(directory + "/PEERS.DBF", "CODE C(8); NAME C(20); SNOTES M",
                      dbf_type="db3", codepage="cp437")
    table.open(dbf.READ_WRITE)
    for deleted, code, name, notes in PEER_ROWS:
        table.append((code, name, notes))
        if deleted:
            dbf.delete(table[-1])
    table.close()
    # The peer must itself read back what it wrote, or the comparison proves nothing.
    live, gone, _ = read_with_dbfread(directory + "/PEERS.DBF")
    rows = [(d, [c, n.rstrip(" "), m]) for d, c, n, m in PEER_ROWS]
    return (report("written live", [v for d, v in rows if not d], live) +
            report("written deleted", [v for d, v in rows if d], gone))


def check_dump(table, fmt, dump_path):
    with open(dump_path, encoding="utf-8", newline="") as handle:
        text = handle.read()
    live, deleted, names = read_with_dbfread(table)
    with_deleted = fmt.endswith("-deleted")
    if fmt.startswith("csv"):
        rows = list(csv.reader(io.StringIO(text)))
        header = (["_deleted"] if with_deleted else []) + names
        failures = report("csv header", header, rows[0])
        got = [(r[0] == "*", r[1:]) if with_deleted else (False, r) for r in rows[1:]]
    else:
        objects = [json.loads(line) for line in text.splitlines()]
        failures = 0
        got = []
        for obj in objects:
            flag = obj.pop("_deleted") if with_deleted else False
            failures += report("json keys", names, list(obj.keys()))
            got.append((flag, list(obj.values())))
    failures += report("dump live", live, [v for d, v in got if not d])
    failures += report("dump deleted", deleted if with_deleted else [], [v for d, v in got if d])
    return failures


def vfp_write(directory):
    table = dbf.Table(directory + "/VFP.DBF", "CODE C(8); NOTES M", dbf_type="vfp",
                      codepage="cp437")
    table.open(dbf.READ_WRITE)
    table.append(("V-1", "memo written by python3-dbf"))
    table.append(("V-2", ""))
    table.close()
    return 0


def vfp_read(path):
    table = dbf.Table(path, codepage="cp437")
    table.open(dbf.READ_ONLY)
    for record in table:
        print(f"{record.code.rstrip()}|{record.notes}")
    table.close()
    print("--")
    for record in dbfread.DBF(path, encoding="cp437"):
        print(f"{record['CODE']}|{record['NOTES'] or ''}")
    return 0


def main(argv):
    if argv[1] == "check":
        return check(argv[2], argv[3], "--dbfread-only" in argv[4:])
    if argv[1] == "check-list":
        return check_list(argv[2])
    if argv[1] == "write":
        return write(argv[2])
    if argv[1] == "vfp-write":
        return vfp_write(argv[2])
    if argv[1] == "vfp-read":
        return vfp_read(argv[2])
    if argv[1] == "check-dump":
        return check_dump(argv[2], argv[3], argv[4])
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(1 if main(sys.argv) else 0)
