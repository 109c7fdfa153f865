#!/usr/bin/env bash
# Unpacks build/quillmart_<version>_amd64.deb into a scratch folder, as dpkg
# would lay it under /, and checks that it holds both programs, the man page,
# help.htm, the desktop entry and its icon, names the libraries the programs
# need in Depends, and that the programs answer from there.
# Usage: deb_package_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
deb="$build/quillmart_${version}_amd64.deb"
fail() { echo "FAIL: $*" >&2; exit 1; }

[ -f "$deb" ] || fail "$deb is missing: make it with cmake --build $build --target package"
for program in quillmart quillmart-cli; do
  [ "$deb" -nt "$build/bin/$program" ] || fail "$deb is older than bin/$program: make the package again"
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/root"
root="$scratch/root/usr"

for f in bin/quillmart bin/quillmart-cli share/man/man1/quillmart-cli.1 share/quillmart/help.htm \
         share/applications/quillmart.desktop share/icons/hicolor/scalable/apps/quillmart.svg \
         share/bash-completion/completions/quillmart-cli; do
  [ -s "$root/$f" ] || fail "the package lacks /usr/$f"
done
# The desktop entry starts the program and shows the icon by the names the package installs.
grep -qx 'Exec=quillmart' "$root/share/applications/quillmart.desktop" || fail "desktop entry: Exec is not quillmart"
grep -qx 'Icon=quillmart' "$root/share/applications/quillmart.desktop" || fail "desktop entry: Icon is not quillmart"
zcat -f "$root/share/man/man1/quillmart-cli.1" | grep -q '^\.TH' || fail "the man page is not roff"

[ "$(dpkg-deb -f "$deb" Package)" = quillmart ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Architecture)" = amd64 ] || fail "architecture"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$deb" Version), not $version"
depends=$(dpkg-deb -f "$deb" Depends)
# Computed from the programs' libraries, plus what they start at run time.
for dep in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libssl3 qt6-qpa-plugins xdg-utils; do
  [[ ", $depends," == *", $dep"[\ ,]* ]] || fail "Depends lacks $dep: $depends"
done

out=$("$root/bin/quillmart-cli" --version) || fail "quillmart-cli --version failed"
[[ "$out" == *"$version"* ]] || fail "quillmart-cli --version says \"$out\", not $version"
out=$(QT_QPA_PLATFORM=offscreen "$root/bin/quillmart" --help) || fail "quillmart --help failed"
[[ "$out" == *"FOLDER"* ]] || fail "quillmart --help says \"$out\""
out=$(QT_QPA_PLATFORM=offscreen "$root/bin/quillmart" --version) || fail "quillmart --version failed"
[[ "$out" == *"$version"* ]] || fail "quillmart --version says \"$out\", not $version"
echo "PASS: $(basename "$deb"), Depends: $depends"
