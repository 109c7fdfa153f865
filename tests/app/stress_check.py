#!/usr/bin/python3
"""Checks a shop after the mixed-load stress (stress_run.sh).

  stress_check.py SHOP CLI WALK_NDX_PL

SHOP holds CATALOG.DBF/.DBT/.NDX, base.csv (the products imported before the
workers started, which no worker touches) and worker-*.log (stress_worker.sh).
Replays each worker's log in order: every command's outcome must be what the
product's state at that point calls for (a refusal for lack of a lock is
allowed anywhere, but only as a failure with a plain message), and the last
successful command of a key decides its fields, notes and deletion mark (a rename,
a set with CODE=NEWKEY, moves the product to the new key).
Then the table must hold exactly that, one record per key, as quillmart-cli
dump, python3-dbf and dbfread read it; Perl XBase must walk CATALOG.NDX with
every key once, in key order, pointing at its record; and dump --index must
walk it too. Prints the figures and a last line "verdict: PASS" or
"verdict: FAIL"; the exit status is 0 only for PASS.
"""
import collections
import csv
import glob
import io
import json
import os
import re
import subprocess
import sys

import dbf
import dbfread

LOCK_REFUSAL = re.compile(r"lock", re.IGNORECASE)
# A bare engine report ("Bramble Error 33, ...") instead of words; the plain
# message keeps the report in brackets after them.
UNPLAIN = re.compile(r"terminate called|Sanitizer|Segmentation|Aborted|core dumped|(^|: )Bramble Error")
FIELDS = ("NAME", "PRICE", "SNOTES")


class Product:
    def __init__(self, values, deleted=False):
        self.values = dict(values)
        self.deleted = deleted

    def image(self):
        return (self.deleted,) + tuple(self.values.get(f, "").rstrip() for f in FIELDS)


def expected_refusal(kind, product):
    """The refusal a command meets on a product in this state; None: it succeeds."""
    if kind == "new":
        if product is None:
            return None
        return "A deleted product holds the key" if product.deleted else "exists already"
    if product is None:
        return "No product has the key"
    if kind in ("set", "rename"):
        return "is deleted; recall it first" if product.deleted else None
    if kind == "delete":
        return "No product has the key" if product.deleted else None
    return None  # recall: a live product is "not deleted", which is no failure


def apply(kind, product, words, shop):
    if kind == "delete":
        product.deleted = True
        return product
    if kind == "recall":
        product.deleted = False
        return product
    product = product or Product({f: "" for f in FIELDS})
    for word in words.split(" ") if words else []:
        field, value = word.split("=", 1)
        if field == "SNOTES" and value.startswith("@"):
            with open(os.path.join(shop, value[1:]), encoding="utf-8") as handle:
                value = handle.read()
        product.values[field] = value
    return product


def replay(shop, expected, stats, faults):
    for path in sorted(glob.glob(os.path.join(shop, "worker-*.log"))):
        with open(path, encoding="utf-8", errors="replace") as handle:
            for line in handle:
                seq, kind, key, status, words, message = line.rstrip("\n").split("\t", 5)
                status = int(status)
                where = f"{os.path.basename(path)} #{seq} {kind} {key}"
                stats[kind]["runs"] += 1
                if status not in (0, 1) or UNPLAIN.search(message) or (status and not message):
                    faults.append(f"{where}: exit {status} \"{message}\" is no plain failure")
                    continue
                refusal = expected_refusal(kind, expected.get(key))
                if status == 0:
                    if refusal:
                        faults.append(f"{where}: succeeded (\"{message}\") where \"{refusal}\" was due")
                    stats[kind]["ok"] += 1
                    product = apply(kind, expected.pop(key, None), words, shop)
                    expected[product.values.pop("CODE", key)] = product
                elif refusal and refusal in message:
                    stats[kind]["refused as due"] += 1
                elif LOCK_REFUSAL.search(message):
                    stats[kind]["lock refusals"] += 1
                else:
                    faults.append(f"{where}: failed with \"{message}\"; due: {refusal or 'success'}")


def base_products(shop):
    with open(os.path.join(shop, "base.csv"), encoding="utf-8", newline="") as handle:
        return {row["CODE"]: Product({f: row[f] for f in FIELDS}) for row in csv.DictReader(handle)}


def run(args, shop):
    return subprocess.run(args, cwd=shop, capture_output=True, text=True, encoding="utf-8", errors="replace")


def engine_rows(shop, cli):
    done = run([cli, "dump", "--json", "--deleted"], shop)
    if done.returncode != 0:
        return None, f"quillmart-cli dump failed: {done.stderr.strip()}"
    rows = []
    for line in done.stdout.splitlines():
        record = json.loads(line)
        rows.append((record["CODE"].rstrip(), Product({f: record[f] for f in FIELDS}, record["_deleted"])))
    return rows, None


def dbf_rows(shop):
    table = dbf.Table(os.path.join(shop, "CATALOG.DBF"), codepage="cp437")
    table.open(dbf.READ_ONLY)
    try:
        return [(str(r["code"]).rstrip(), Product({f: str(r[f.lower()]) for f in FIELDS}, dbf.is_deleted(r)))
                for r in table]
    finally:
        table.close()


def dbfread_rows(shop):
    table = dbfread.DBF(os.path.join(shop, "CATALOG.DBF"), encoding="cp437", load=True, char_decode_errors="strict")
    def rows(records, deleted):
        return [(str(r["CODE"]).rstrip(), Product({f: str(r[f] or "") for f in FIELDS}, deleted)) for r in records]
    return rows(table.records, False) + rows(table.deleted, True)


def compare_table(reader, rows, expected, faults):
    counts = collections.Counter(key for key, _ in rows)
    for key, n in counts.items():
        if n > 1:
            faults.append(f"{reader}: {n} records hold the key {key}")
    got = {key: product for key, product in rows}
    for key in sorted(set(expected) | set(got)):
        if key not in got:
            faults.append(f"{reader}: no record for {key}")
        elif key not in expected:
            faults.append(f"{reader}: a record for {key}, which no command added")
        elif got[key].image() != expected[key].image():
            faults.append(f"{reader}: {key} is {got[key].image()!r}, due {expected[key].image()!r}")


def check_index(shop, cli, walk_ndx, table_rows, faults):
    walk = run(["/usr/bin/perl", walk_ndx, "CATALOG.NDX"], shop)
    if walk.returncode != 0:
        faults.append(f"Perl XBase cannot walk CATALOG.NDX: {walk.stderr.strip()}")
        return 0
    entries = [tuple(line.split("\t")) for line in walk.stdout.splitlines()]
    due = sorted((key, str(recno)) for recno, (key, _) in enumerate(table_rows, 1))
    if entries != due:
        missing = sorted(set(due) - set(entries))[:5]
        extra = sorted(set(entries) - set(due))[:5]
        order = "" if entries == sorted(entries) else "; not in key order"
        faults.append(f"CATALOG.NDX walk ({len(entries)} entries) is not the table's {len(due)} keys in key order: "
                      f"missing {missing}, extra {extra}{order}")
    dump = run([cli, "dump", "--index", "CATALOG.NDX", "--deleted"], shop)
    if dump.returncode != 0:
        faults.append(f"quillmart-cli dump --index CATALOG.NDX failed: {dump.stderr.strip()}")
    elif [row[1] for row in list(csv.reader(io.StringIO(dump.stdout)))[1:]] != [key for key, _ in due]:
        faults.append("quillmart-cli dump --index CATALOG.NDX does not give the table's keys in key order")
    return len(entries)


def main():
    shop, cli, walk_ndx = sys.argv[1:4]
    faults = []
    stats = collections.defaultdict(collections.Counter)
    expected = base_products(shop)
    replay(shop, expected, stats, faults)
    engine, failure = engine_rows(shop, cli)
    if failure:
        faults.append(failure)
        engine = []
    readers = {"engine": engine, "python3-dbf": dbf_rows(shop), "dbfread": dbfread_rows(shop)}
    for reader, rows in readers.items():
        compare_table(reader, rows, expected, faults)
    walked = check_index(shop, cli, walk_ndx, readers["python3-dbf"], faults)

    for kind in ("new", "set", "rename", "delete", "recall"):
        s = stats[kind]
        print(f"{kind:7} {s['runs']:6} run, {s['ok']:6} done, {s['refused as due']:5} refused as due, "
              f"{s['lock refusals']:4} lock refusals")
    counts = ", ".join(f"{reader} {len(rows)}" for reader, rows in readers.items())
    print(f"records: {counts}; due {len(expected)} "
          f"({sum(p.deleted for p in expected.values())} deleted); index entries {walked}")
    for fault in faults[:40]:
        print("FAULT:", fault)
    if len(faults) > 40:
        print(f"... and {len(faults) - 40} more faults")
    print("verdict:", "FAIL" if faults else "PASS")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
