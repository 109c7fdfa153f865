#!/usr/bin/python3
"""One product per key under every writer at once: the key model run.

  key_model.py CLI SHOP SECONDS [WORKERS]

SHOP "-" works in a fresh temporary folder, removed after a PASS. Makes a product table of base products in SHOP, then for SECONDS runs at once:
WORKERS quillmart-cli workers, each adding products (set --new and import) on a
small pool of keys every worker wants ("C007"), and on keys of its own, and
changing, renaming (to fresh keys and to contested ones), deleting, recalling
and reindexing what it won; python3-dbf appending products now and then (under
the header lock, as appenders share a table); and a reader running
dump --index CATALOG.NDX without pause.

Afterwards: every key is held by exactly one record; every live product is
there with what the last command that reported success on it wrote; every
contested key was won at most once; no command failed except for a lock
refused (in plain words); every reader run succeeded and listed its keys in
strictly ascending order; and Perl XBase walks CATALOG.NDX whole, each record's
key once, in key order. Prints the figures and "verdict: PASS" or "verdict:
FAIL"; the exit status is 0 only for PASS.
"""
import csv
import fcntl
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time

import dbf
import dbfread

CONTESTED = [f"C{n:03d}" for n in range(24)]
BASE = 60
HEADER_LOCK = (0, 32)
PLAIN_FAILURE = ("exists already", "holds the key", "No product has the key", "is deleted; recall it first",
                 "given again", "was changed by another program meanwhile")


def run(cli, shop, *args):
    return subprocess.run([cli, *args], cwd=shop, capture_output=True, text=True, timeout=120,
                          env=dict(os.environ, LC_ALL="C.UTF-8"))


class Worker(threading.Thread):
    """Owns the keys it won; what it last wrote to each is its expectation."""

    def __init__(self, number, cli, shop, end, faults, lock):
        super().__init__()
        self.n, self.cli, self.shop, self.end = number, cli, shop, end
        self.faults, self.lock = faults, lock
        self.owned = {}  # key -> {"NAME": ..., "deleted": bool}
        self.won = []    # contested keys this worker won
        self.fresh = 0
        self.counts = {}
        self.random = random.Random(number * 7919 + os.getpid())

    def new_key(self):
        self.fresh += 1
        return f"W{self.n}-{self.fresh:04d}"

    def command(self, kind, *args):
        result = run(self.cli, self.shop, *args)
        count = self.counts.setdefault(kind, [0, 0, 0])
        count[0] += 1
        if result.returncode == 0:
            count[1] += 1
            return True
        message = result.stderr.strip()
        if "lock" in message.lower():
            count[2] += 1
        elif not any(words in message for words in PLAIN_FAILURE) or "Bramble Error" in message:
            with self.lock:
                self.faults.append(f"worker {self.n}: {' '.join(args)}: {message!r}")
        return False

    def token(self, seq):
        return f"w{self.n}s{seq}"

    def step(self, seq):
        roll = self.random.randrange(100)
        mine = [k for k in self.owned if not k.startswith("C")]
        if roll < 20 or not self.owned:
            key = self.random.choice(CONTESTED) if roll % 2 else self.new_key()
            if self.command("new", "set", "--new", key, f"NAME={self.token(seq)}"):
                self.claim(key, self.token(seq))
        elif roll < 30:
            rows = [self.new_key(), self.new_key(), self.random.choice(CONTESTED)]
            with open(os.path.join(self.shop, f"import-{self.n}.csv"), "w") as out:
                out.write("CODE,NAME\n" + "".join(f"{k},{self.token(seq)}\n" for k in rows))
            if self.command("import", "import", f"import-{self.n}.csv"):
                for key in rows:
                    self.claim(key, self.token(seq))
        elif roll < 40 and mine:
            old = self.random.choice(mine)
            key = self.random.choice(CONTESTED) if roll % 2 else self.new_key()
            if self.owned[old]["deleted"]:
                return
            if self.command("rename", "set", old, f"CODE={key}", f"NAME={self.token(seq)}"):
                del self.owned[old]
                self.claim(key, self.token(seq))
        elif roll < 70:
            key = self.random.choice(list(self.owned))
            if not self.owned[key]["deleted"] and self.command("set", "set", key, f"NAME={self.token(seq)}"):
                self.owned[key]["NAME"] = self.token(seq)
        elif roll < 82:
            key = self.random.choice(list(self.owned))
            if not self.owned[key]["deleted"] and self.command("delete", "delete", key):
                self.owned[key]["deleted"] = True
        elif roll < 96:
            key = self.random.choice(list(self.owned))
            if self.owned[key]["deleted"] and self.command("recall", "recall", key):
                self.owned[key]["deleted"] = False
        else:
            self.command("reindex", "reindex")

    def claim(self, key, name):
        self.owned[key] = {"NAME": name, "deleted": False}
        if key.startswith("C"):
            self.won.append(key)

    def run(self):
        seq = 0
        while time.monotonic() < self.end:
            seq += 1
            self.step(seq)


class Appender(threading.Thread):
    """python3-dbf appending products of its own, under the header lock."""

    def __init__(self, shop, end):
        super().__init__()
        self.shop, self.end, self.keys = shop, end, []

    def run(self):
        path = os.path.join(self.shop, "CATALOG.DBF")
        while time.monotonic() < self.end:
            time.sleep(random.uniform(0.5, 2.0))
            key = f"P{len(self.keys):03d}"
            fd = os.open(path, os.O_RDWR)
            try:
                # A lock of the open file description: python3-dbf opens and closes the
                # table file itself, and closing any descriptor would drop a plain
                # fcntl lock of this process, letting the append run unlocked.
                fcntl.fcntl(fd, fcntl.F_OFD_SETLKW,
                            struct.pack("hh4xqqi4x", fcntl.F_WRLCK, os.SEEK_SET, HEADER_LOCK[0], HEADER_LOCK[1], 0))
                table = dbf.Table(path)
                table.open(dbf.READ_WRITE)
                table.append({"code": key, "name": "appended"})
                table.close()
            finally:
                os.close(fd)
            self.keys.append(key)


class Reader(threading.Thread):
    def __init__(self, cli, shop, end):
        super().__init__()
        self.cli, self.shop, self.end = cli, shop, end
        self.runs, self.failures = 0, []

    def run(self):
        while time.monotonic() < self.end:
            result = run(self.cli, self.shop, "dump", "--index", "CATALOG.NDX")
            self.runs += 1
            keys = [row[0] for row in list(csv.reader(io.StringIO(result.stdout)))[1:]]
            if result.returncode != 0:
                self.failures.append(result.stderr.strip())
            elif keys != sorted(set(keys)):
                self.failures.append(f"keys out of order or twice: {keys[:8]}...")


def main():
    cli, shop, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
    workers = int(sys.argv[4]) if len(sys.argv) > 4 else 6
    scratch = shop == "-"
    shop = tempfile.mkdtemp(prefix="key-model-") if scratch else shop
    os.makedirs(shop, exist_ok=True)
    with open(os.path.join(shop, "base.csv"), "w") as out:
        out.write("CODE,NAME\n" + "".join(f"B{n:03d},base {n}\n" for n in range(BASE)))
    for args in (["create", "CODE:10", "NAME:16", "PRICE:8"], ["import", "base.csv"], ["reindex"]):
        assert run(cli, shop, *args).returncode == 0, args

    faults, lock = [], threading.Lock()
    end = time.monotonic() + seconds
    crew = [Worker(n, cli, shop, end, faults, lock) for n in range(workers)]
    appender, reader = Appender(shop, end), Reader(cli, shop, end)
    for thread in crew + [appender, reader]:
        thread.start()
    for thread in crew + [appender, reader]:
        thread.join()

    # Every record's key once; the live ones as their owners last wrote them.
    table = dbf.Table(os.path.join(shop, "CATALOG.DBF"))
    table.open(dbf.READ_ONLY)
    records = [(rec["code"].rstrip(), rec["name"].rstrip(), dbf.is_deleted(rec)) for rec in table]
    table.close()
    seen = {}
    for key, name, deleted in records:
        if key in seen:
            faults.append(f"two records hold the key {key}")
        seen[key] = (name, deleted)
    due = {f"B{n:03d}": (f"base {n}", False) for n in range(BASE)}
    due.update({key: ("appended", False) for key in appender.keys})
    for worker in crew:
        due.update({key: (state["NAME"], state["deleted"]) for key, state in worker.owned.items()})
    for key, state in due.items():
        if seen.get(key) != state:
            faults.append(f"{key} is {seen.get(key)!r}, its last reported change says {state!r}")
    for key in set(seen) - set(due):
        if not seen[key][1]:
            faults.append(f"a live product {key} that no reported command left there")
    won = [key for worker in crew for key in worker.won]
    for key in set(won):
        if won.count(key) > 1:
            faults.append(f"the contested key {key} was won {won.count(key)} times")
    faults += [f"reader: {failure}" for failure in reader.failures[:10]]
    peer = dbfread.DBF(os.path.join(shop, "CATALOG.DBF"), load=True)
    if len(peer.records) + len(peer.deleted) != len(records):
        faults.append("dbfread and python3-dbf disagree on the record count")

    # The index whole: brought up to date by a reader first (python3-dbf appended last).
    last = run(cli, shop, "dump", "--index", "CATALOG.NDX", "--deleted")
    if last.returncode != 0:
        faults.append(f"dump --index after the run: {last.stderr.strip()}")
    walk_ndx = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "index", "walk_ndx.pl")
    walk = subprocess.run(["/usr/bin/perl", walk_ndx, "CATALOG.NDX"], cwd=shop, capture_output=True, text=True)
    entries = [tuple(line.split("\t")) for line in walk.stdout.splitlines()]
    every = {(key, str(n)) for n, (key, _, _) in enumerate(records, 1)}
    live = {(key, str(n)) for n, (key, _, deleted) in enumerate(records, 1) if not deleted}
    # A rebuild leaves deleted products out; a delete since keeps their entries.
    if walk.returncode != 0 or entries != sorted(entries) or not live <= set(entries) <= every:
        faults.append(f"Perl XBase walk of CATALOG.NDX ({len(entries)} entries, {walk.stderr.strip()!r}) "
                      f"is not every live record's key once in key order ({len(live)})")

    for kind in ("new", "import", "rename", "set", "delete", "recall", "reindex"):
        runs = [w.counts.get(kind, [0, 0, 0]) for w in crew]
        print(f"{kind:8} {sum(r[0] for r in runs):5} run, {sum(r[1] for r in runs):5} done, "
              f"{sum(r[2] for r in runs):3} lock refusals")
    print(f"contested keys won: {len(set(won))} of {len(CONTESTED)}; python3-dbf appended {len(appender.keys)}; "
          f"reader runs {reader.runs}, failed {len(reader.failures)}; records {len(records)}")
    for fault in faults[:30]:
        print("FAULT:", fault)
    print("verdict:", "FAIL" if faults else "PASS")
    if scratch and not faults:
        shutil.rmtree(shop)
    elif scratch:
        print("the shop is kept in", shop)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
