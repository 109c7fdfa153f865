#!/usr/bin/env bash
# Installs, from Debian's packages, what Quillmart needs and the machine lacks.
# Idempotent: does nothing when everything is present.
#
#   scripts/install-deps.sh           what building and running the two programs needs (./run.sh)
#   scripts/install-deps.sh --tests   that and what the tests, benchmarks and fuzzers need (./test.sh)
set -euo pipefail

# Building and running quillmart and quillmart-cli.
run_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev
  # publishing over TLS
  libssl-dev
  # Preview and Help > Contents hand pages to the desktop's browser through xdg-open
  xdg-utils
  # a font for the windows; service names such as "ftp" from /etc/services
  fonts-dejavu-core netbase
)

# The tests, the benchmarks and the fuzzers.
test_packages=(
  libgtest-dev libgmock-dev
  # test peers: independent DBF/NDX readers, a real FTP server, FTP client, SQLite
  python3-dbf python3-dbfread libdbd-xbase-perl python3-pyftpdlib curl sqlite3
  # windows under Xvfb, screenshots (xdotool drives the menus), peak-memory figures
  xvfb xauth imagemagick xdotool time
  # publishing: a second FTP server, a mirroring client, test certificates
  pure-ftpd lftp openssl python3-openssl
  # fuzz/run.sh: clang with libFuzzer and the sanitizer runtimes
  clang libclang-rt-14-dev
)

packages=("${run_packages[@]}")
case "${1:-}" in
  "") ;;
  --tests) packages+=("${test_packages[@]}") ;;
  *) echo "usage: $0 [--tests]" >&2; exit 2 ;;
esac

# One dpkg-query for all, so a run with nothing to install stays quick.
mapfile -t installed < <(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' "${packages[@]}" 2>/dev/null |
                         awk '$1 == "ii" { print $2 }')
missing=()
for p in "${packages[@]}"; do
  [[ " ${installed[*]} " == *" $p "* ]] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
