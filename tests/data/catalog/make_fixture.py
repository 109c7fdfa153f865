#!/usr/bin/python3
# Makes the small product table of the catalog tests with python3-dbf, an
# independent writer: catalog.dbf (dBASE III with memo) and CATALOG.DBT.
# Record 2 is deleted; record 3 holds CP437 text and a two-line memo.
import os
import dbf

here = os.path.dirname(os.path.abspath(__file__))
path = os.path.join(here, "catalog.dbf")
table = dbf.Table(path, "CODE C(8); NAME C(20); PRICE C(8); SNOTES M",
                  dbf_type="db3", codepage="cp437")
table.open(dbf.READ_WRITE)
table.append(("A100", "Rope", "12.50", "Strong rope."))
table.append(("B200", "Net", "40.00", "gone"))
table.append(("C300", "Caf\u00e9 cr\u00e8me", "1.00", "First line\r\nSecond line"))
table.append(("D400", "Hook", "0.75", ""))
dbf.delete(table[1])
table.close()
