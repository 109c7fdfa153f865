#!/usr/bin/env bash
# Unpacks proftpd (with its TLS module) and vsftpd into a scratch folder for the
# publishing tests, without installing them: as Debian packages they conflict
# with pure-ftpd, which the tests use too. The daemons run from the folder on
# loopback with configs the tests write.
#
# Usage: scripts/ftp-test-servers.sh [FOLDER]   (default: /tmp/quillmart-ftp-servers)
# Prints the folder; its usr/sbin holds proftpd and vsftpd, its
# usr/lib/x86_64-linux-gnu the libraries proftpd needs beyond the system's.
# Idempotent: a folder already filled is left as it is. Exit 1 when the
# packages cannot be fetched (no network, no apt): the tests then skip.
set -euo pipefail

folder="${1:-/tmp/quillmart-ftp-servers}"
done_mark="$folder/.unpacked"
if [ -f "$done_mark" ]; then
  echo "$folder"
  exit 0
fi

packages=(proftpd-core proftpd-mod-crypto vsftpd libmemcached11 libmemcachedutil2 libhashkit2 libpcre2-posix3)
scratch="$(mktemp -d "${TMPDIR:-/tmp}/qm-ftp-debs.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
chmod 0777 "$scratch"  # apt's download user writes there
(cd "$scratch" && apt-get download -qq "${packages[@]}" >/dev/null 2>&1) || {
  echo "could not download ${packages[*]}" >&2
  exit 1
}
mkdir -p "$folder"
for deb in "$scratch"/*.deb; do dpkg -x "$deb" "$folder"; done
[ -x "$folder/usr/sbin/proftpd" ] && [ -x "$folder/usr/sbin/vsftpd" ] && [ -f "$folder/usr/lib/proftpd/mod_tls.so" ]
touch "$done_mark"
echo "$folder"
