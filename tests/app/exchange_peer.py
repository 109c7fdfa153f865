"""Independent peer for the dump/import round trip: python3-dbf writes the
table, dbfread and the raw record bytes judge the copy.

  exchange_peer.py make DIR [full]   CATALOG table in DIR, three records with 'full'
  exchange_peer.py compare A B       exit 0 when every field of every record agrees
"""
import datetime
import struct
import sys

import dbf
import dbfread

SPEC = 'CODE C(8); BORN D; PRICE N(9,2); QTY N(5,0); ACTIVE L; NOTES M'
ROWS = [
    ('A1', datetime.date(1899, 12, 31), 12.5, 3, True, 'memo one\r\nline two, "quoted"'),
    ('B2', datetime.date(1999, 12, 31), -0.75, 0, False, ''),
    ('C3', datetime.date(2099, 1, 2), 123456.89, 99999, True, 'caf\xe9 \xa3 \u2502'),
]


def make(folder, full):
    table = dbf.Table(folder + '/catalog.dbf', SPEC, dbf_type='db3', codepage='cp437')
    table.open(dbf.READ_WRITE)
    for row in ROWS if full else []:
        table.append(row)
    table.close()


def records(path):
    """(field bytes without memo pointers, memo texts) per record."""
    data = open(path, 'rb').read()
    header_len, record_len = struct.unpack('<HH', data[8:12])
    fields, offset = [], 1
    for at in range(32, header_len - 1, 32):
        name = data[at:at + 11].split(b'\0')[0]
        kind, length = chr(data[at + 11]), data[at + 16]
        fields.append((name, kind, offset, length))
        offset += length
    count = struct.unpack('<I', data[4:8])[0]
    out = []
    for n in range(count):
        rec = data[header_len + n * record_len:header_len + (n + 1) * record_len]
        out.append([rec[o:o + l] for (_, k, o, l) in fields if k != 'M'])
    # A memo left empty is a blank pointer to one writer, an empty block to another.
    memos = [r['NOTES'] or '' for r in dbfread.DBF(path, encoding='cp437')]
    return out, memos


def compare(a, b):
    left, right = records(a + '/catalog.dbf'), records(b + '/catalog.dbf')
    if left != right:
        print('differ:', left, right)
        return 1
    return 0


if __name__ == '__main__':
    if sys.argv[1] == 'make':
        make(sys.argv[2], len(sys.argv) > 3)
    else:
        sys.exit(compare(sys.argv[2], sys.argv[3]))
