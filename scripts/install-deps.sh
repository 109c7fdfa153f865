#!/usr/bin/env bash
# Installs, from Debian's packages, whatever Quillmart's build, tests and benchmarks
# need and the machine lacks. Idempotent: does nothing when everything is present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgtest-dev libgmock-dev
  # Preview and Help > Contents hand pages to the desktop's browser through xdg-open
  xdg-utils
  # test peers: independent DBF/NDX readers, a real FTP server, FTP client, SQLite
  python3-dbf python3-dbfread libdbd-xbase-perl python3-pyftpdlib curl sqlite3
  # windows under Xvfb, screenshots (xdotool drives the menus), peak-memory figures
  xvfb xauth imagemagick xdotool fonts-dejavu-core time netbase
  # publishing: TLS library, a second FTP server, a mirroring client, test certificates
  libssl-dev pure-ftpd lftp openssl python3-openssl
  # fuzz/run.sh: clang with libFuzzer and the sanitizer runtimes
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
