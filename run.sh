#!/usr/bin/env bash
# Installs what building and running needs and is missing, builds the two programs
# (quillmart, quillmart-cli) and starts Quillmart on a demo working directory
# (demo-work/, made from demo/products.csv). Without a display it builds the demo
# catalog headless with quillmart-cli and says where the pages are.
#
# Safe to run again and again, also after a run that failed half-way: the demo table
# and the demo setup are each made in a scratch place and moved in whole, so they are
# either complete or absent, and made only while absent.
# QM_BUILD_DIR=DIR uses an existing build there instead of installing and building.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

if [ -n "${QM_BUILD_DIR:-}" ]; then
  build=$(cd "$QM_BUILD_DIR" && pwd)
else
  build="$root/build"
  ./scripts/install-deps.sh  # the packages to build and run; ./test.sh adds the test ones
  # Configured once: ninja runs CMake again by itself when a CMakeLists.txt changes.
  if [ ! -f "$build/CMakeCache.txt" ]; then
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
  fi
  # The two programs only; the tests and benchmarks are ./test.sh's.
  cmake --build "$build" -j "$(nproc)" --target quillmart quillmart-cli
fi
cli="$build/bin/quillmart-cli"
work="$root/demo-work"
mkdir -p "$work"
scratch_dirs=()
trap 'rm -rf "${scratch_dirs[@]}"' EXIT

# The engine names the table CATALOG.DBF; a catalog.dbf from elsewhere serves too.
table_present() { find "$1" -maxdepth 1 -iname catalog.dbf | grep -q .; }

if ! table_present "$work"; then
  scratch=$(mktemp -d "$root/demo-work.new.XXXXXX")
  scratch_dirs+=("$scratch")
  "$cli" -C "$scratch" create CODE:8 NAME:30 PRICE:10 COLOUR:12 STOCK:6
  "$cli" -C "$scratch" import "$root/demo/products.csv"
  rm -f "$work/CATALOG.NDX"
  mv -f "$scratch/CATALOG.DBT" "$work/"
  mv -f "$scratch/CATALOG.DBF" "$work/"  # last: its presence means the demo is whole
else
  echo "Using the demo table already in $work"
fi

# A first run gets a demo setup (every column, one page per product); an
# existing Quillmart.ini is left as it is.
config="${XDG_CONFIG_HOME:-$HOME/.config}"
store="$config/Quillmart.ini"
if [ ! -e "$store" ]; then
  mkdir -p "$config"
  setup=$(mktemp -d "$config/.quillmart-setup.XXXXXX")
  scratch_dirs+=("$setup")
  demo_set() { XDG_CONFIG_HOME="$setup" "$cli" settings set "$1" "$2" "$3"; }
  demo_set "Company Info" Name "Lumenfold Demo Shop"
  demo_set "Company Info" Address "12 Harbour Lane"
  demo_set "Company Info" City "Port Elm"
  demo_set "Company Info" Prov "NS"
  demo_set "Company Info" Pcode "B0J 1A0"
  demo_set "Company Info" Tel "902-555-0100"
  demo_set "Company Info" Email "shop@example.com"
  demo_set "Web Page Setup" pagetitle "Lumenfold Demo Shop - Catalog"
  demo_set "Web Page Setup" pagecolor "Ivory"
  demo_set "Web Page Setup" pagefontcolor "Black"
  demo_set "Web Page Setup" pageheading "Our Products"
  demo_set "Web Page Setup" pageparagraph $'Everything we keep in stock.\r\nClick a product code for its page.'
  demo_set "Table Setup" tableheadingfontcolor "White"
  demo_set "Table Setup" tableheadingbkcolor "Navy"
  demo_set "Table Setup" tablecellfontcolor "Black"
  demo_set "Table Setup" tablecellbkcolor "Silver"
  for f in 1:Code 2:Product 3:Price 4:Colour 5:Stock; do demo_set Database "Field${f%%:*}" "${f#*:}"; done
  demo_set Database Columns 5
  demo_set "Stacked Pages" usestackedpages 1
  mv "$setup/Quillmart.ini" "$store"
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/bin/quillmart" ]; then
  echo "Starting Quillmart in $work"
  cd "$work"
  exec "$build/bin/quillmart" "$work"
fi

"$cli" -C "$work" build
echo "No display: the demo catalog was built headless."
echo "Open $work/catalog.htm in a browser."
