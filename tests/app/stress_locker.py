#!/usr/bin/python3
"""Another program in the mixed-load stress that holds the product table's locks.

  stress_locker.py SHOP SECONDS

Until SECONDS have passed, now and then holds for 2.5 s (longer than the
companion's two-second retry) either the lock every index write takes on
CATALOG.NDX or the header lock of CATALOG.DBF, so that some commands of the
workers meet a lock they must give up on: refused in plain words, nothing
changed. Prints how often it held each.
"""
import fcntl
import os
import random
import sys
import time

INDEX_LOCK = (0x40000000, 0x3FFFFFFF)  # offset, length: the index file lock of the default protocol
HEADER_LOCK = (0, 32)


def hold(path, region, seconds):
    fd = os.open(path, os.O_RDWR)
    try:
        fcntl.lockf(fd, fcntl.LOCK_EX, region[1], region[0])  # waits for a writer under way
        time.sleep(seconds)
    finally:
        os.close(fd)  # gives the lock back


def main():
    shop, seconds = sys.argv[1], float(sys.argv[2])
    end = time.monotonic() + seconds
    held = {"CATALOG.NDX": 0, "CATALOG.DBF": 0}
    while time.monotonic() + 3.5 < end:
        time.sleep(random.uniform(0.5, 2.0))
        name, region = random.choice([("CATALOG.NDX", INDEX_LOCK), ("CATALOG.DBF", HEADER_LOCK)])
        hold(os.path.join(shop, name), region, 2.5)
        held[name] += 1
    print(f"locks held by another program: CATALOG.NDX {held['CATALOG.NDX']}, CATALOG.DBF {held['CATALOG.DBF']}")


if __name__ == "__main__":
    main()
