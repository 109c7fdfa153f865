# Sourced by the upload benchmarks (bench/run-net*.sh); needs WORK set.
pages() {  # DIR COUNT: pages with a build-date line, catalog.htm and upload.txt
  /usr/bin/python3 - "$1" "$2" <<'PY'
import os, sys
d, n = sys.argv[1], int(sys.argv[2])
os.makedirs(d, exist_ok=True)
body = "<P><B>Price: </B>10\r\n" + "<P>" + "y" * 3000 + "\r\n"
for i in range(n):
    with open(os.path.join(d, "P%05d.htm" % i), "w", newline="") as f:
        f.write("<!-- Built with Quillmart from Lumenfold\r\nfor Shop\r\nLast Update ... 8/12/26  -->\r\n" + body)
with open(os.path.join(d, "catalog.htm"), "w") as f:
    f.write("".join('<A HREF="P%05d.htm">P%05d</A>\n' % (i, i) for i in range(n)))
with open(os.path.join(d, "upload.txt"), "w", newline="") as f:
    f.write("catalog.htm\r\n" + "".join("P%05d.htm\r\n" % i for i in range(n)))
PY
}
site() {  # REMOTE_DIR: the store quillmart-cli reads, in $WORK/config
  mkdir -p "$WORK/config"
  printf '[Site Setup]\nremote address=127.0.0.1\nuser name=user\nremote directory=%s\nremote password=secret\n' "$1" \
    > "$WORK/config/Quillmart.ini"
}
