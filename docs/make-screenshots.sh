#!/usr/bin/env bash
# Takes the screenshots of docs/ from the real program under Xvfb: a demo
# catalog folder and a demo setup are made in a temporary folder, quillmart is
# started on it, and xdotool drives the menus and dialogs by keyboard.
#   docs/make-screenshots.sh [BUILD_DIR]   (needs xvfb, xdotool, imagemagick)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)

if [ -z "${QM_SHOTS_INNER:-}" ]; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  mkdir -p "$tmp/work" "$tmp/config"
  export XDG_CONFIG_HOME="$tmp/config" QM_SHOTS_INNER="$tmp"
  cli="$build/bin/quillmart-cli"
  (cd "$tmp/work" && "$cli" create CODE:8 NAME:30 PRICE:10 COLOUR:12 STOCK:6 >/dev/null &&
     "$cli" import "$root/demo/products.csv" >/dev/null)
  while IFS='|' read -r section ident value; do
    "$cli" settings set "$section" "$ident" "$value"
  done <<'SETUP'
Company Info|Name|Lumenfold Demo Shop
Company Info|City|Port Elm
Company Info|Tel|902-555-0100
Web Page Setup|pagetitle|Lumenfold Demo Shop - Catalog
Web Page Setup|pagecolor|White
Web Page Setup|pageheading|Our Products
Table Setup|tableheadingbkcolor|Navy
Table Setup|tableheadingfontcolor|White
Site Setup|remote address|127.0.0.1
Site Setup|remote directory|onlinecatalog/
Database|Field1|Code
Database|Field2|Product
Database|Field3|Price
SETUP
  exec xvfb-run -a -s "-screen 0 1280x900x24" "$0" "$build"
fi

shot() { import -window "$1" "$root/docs/$2.png"; echo "docs/$2.png"; }
# Without a window manager nothing gives a new window the keyboard: park the pointer on it and focus it.
focus() {
  local id
  id=$(xdotool search --sync --name "$1" | tail -1)
  eval "$(xdotool getwindowgeometry --shell "$id")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
  xdotool windowfocus "$id" 2>/dev/null || true
  sleep 0.6
  echo "$id"
}
keys() { for k in "$@"; do xdotool key "$k"; sleep 0.4; done; }

"$build/bin/quillmart" "$QM_SHOTS_INNER/work" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT

shot "$(focus '^Quillmart - ')" main-window
keys alt+s
setup=$(focus '^Quillmart Setup$')
shot "$setup" setup-company-info
keys ctrl+Tab
shot "$setup" setup-web-page
keys Tab Tab space
shot "$(focus '^Color Picker$')" color-picker
keys Escape
focus '^Quillmart Setup$' >/dev/null
for tab in table site database stacked-pages; do
  keys ctrl+Tab
  shot "$setup" "setup-$tab"
  if [ "$tab" = database ]; then
    keys alt+h
    shot "$(focus '^Help on Database Creation$')" database-help
    keys Escape
    focus '^Quillmart Setup$' >/dev/null
  fi
done
keys Escape
focus '^Quillmart - ' >/dev/null
keys alt+h a
shot "$(focus '^About Quillmart$')" about-box
keys Escape
# The product window over the demo table, in key order.
focus '^Quillmart - /' >/dev/null
keys alt+p c
shot "$(focus '^Quillmart - Product Database$')" product-window

# The six tabs of the setup dialog side by side in one picture.
cd "$root/docs"
tabs=(setup-company-info setup-web-page setup-table setup-site setup-database setup-stacked-pages)
montage "${tabs[@]/%/.png}" -tile 2x3 -geometry +4+4 setup-dialog.png && rm "${tabs[@]/%/.png}"
echo docs/setup-dialog.png
