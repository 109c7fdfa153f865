#!/usr/bin/env bash
# Installs what is missing, builds Quillmart and starts it on a demo working directory
# (demo-work/, made from demo/products.csv). Without a display it builds the demo
# catalog headless with quillmart-cli and says where the pages are.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

root=$(pwd)
work="$root/demo-work"
cli="$root/build/bin/quillmart-cli"
mkdir -p "$work"
cd "$work"
if [ ! -f catalog.dbf ]; then
  "$cli" create CODE:8 NAME:30 PRICE:10 COLOUR:12 STOCK:6
  "$cli" import "$root/demo/products.csv"
fi

# A first run gets a demo setup (every column, one page per product); an
# existing Quillmart.ini is left as it is.
store="${XDG_CONFIG_HOME:-$HOME/.config}/Quillmart.ini"
if [ ! -f "$store" ] && "$cli" help | grep -q '^  settings'; then
  demo_set() { "$cli" settings set "$1" "$2" "$3"; }
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
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$root/build/bin/quillmart" ]; then
  echo "Starting Quillmart in $work"
  exec "$root/build/bin/quillmart" "$work"
fi

if "$cli" help | grep -q '^  build'; then
  "$cli" build
  echo "No display: the demo catalog was built headless."
  echo "Open $work/catalog.htm in a browser."
else
  "$cli" dump
  echo "The demo table is $work/catalog.dbf."
fi
