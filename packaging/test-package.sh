#!/bin/sh
# Builds the Debian package from a finished build tree, unpacks it into a
# scratch root and runs the installed command line from there.
#   test-package.sh BUILD_DIR TEMPLATE
set -eu
build=$1
template=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) || {
    cat "$scratch/cpack.log" >&2
    exit 1
}
deb=$(ls "$scratch"/out/*.deb)
dpkg-deb --info "$deb" | grep -q "Package: phrasemill" || { echo "package has no name" >&2; exit 1; }
mkdir "$scratch/root"
dpkg-deb -x "$deb" "$scratch/root"

cli="$scratch/root/usr/bin/phrasemill-cli"
"$cli" --version | grep -q "^phrasemill-cli " || { echo "installed CLI does not start" >&2; exit 1; }
versions=$("$cli" generate -n 3 --seed 1 --format jsonl "$template" | wc -l)
[ "$versions" -eq 3 ] || { echo "installed CLI generated $versions versions, not 3" >&2; exit 1; }

for f in usr/share/man/man1/phrasemill-cli.1.gz usr/share/man/man1/phrasemill-cli.1; do
    [ -e "$scratch/root/$f" ] && man_found=1
done
[ "${man_found:-0}" -eq 1 ] || { echo "man page missing" >&2; exit 1; }
if [ -e "$scratch/root/usr/bin/phrasemill" ]; then
    for f in usr/share/applications/com.quillbrook.Phrasemill.desktop \
             usr/share/metainfo/com.quillbrook.Phrasemill.metainfo.xml \
             usr/share/icons/hicolor/scalable/apps/com.quillbrook.Phrasemill.svg \
             usr/share/icons/hicolor/48x48/apps/com.quillbrook.Phrasemill.png \
             usr/share/phrasemill/phrasemill-help.html \
             usr/share/phrasemill/phrasemill-help_ru.html; do
        [ -s "$scratch/root/$f" ] || { echo "$f missing from the package" >&2; exit 1; }
    done
fi
echo "package $(basename "$deb") installs and runs"
