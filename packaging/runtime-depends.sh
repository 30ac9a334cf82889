#!/bin/sh
# Prints the Debian packages (comma-separated) that hold what the player loads at run
# time and the linker cannot see: the QML modules its scenes import and the libVLC
# modules in vlc-plugins.txt. Fails when one of them is not installed here.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/.." && pwd)
qmldir=$(pkg-config --variable=libdir Qt5Core)/qt5/qml
vlcdir=$(pkg-config --variable=libdir libvlc)/vlc/plugins
scanner=$(command -v qmlimportscanner || echo /usr/lib/qt5/bin/qmlimportscanner)

files=$(mktemp)
trap 'rm -f "$files"' EXIT
# Modules of the system's QML folder; our own (registered from C++) have no path.
"$scanner" -rootPath "$src/qml" -importPath "$qmldir" | python3 -c '
import json, os, sys
for m in json.load(sys.stdin):
    p = m.get("path")
    if m.get("type") == "module" and p and os.path.isfile(os.path.join(p, "qmldir")):
        print(os.path.join(p, "qmldir"))
' >> "$files"
sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$here/vlc-plugins.txt" | while read -r plugin; do
  if [ ! -f "$vlcdir/$plugin" ]; then
    echo "runtime-depends: libVLC module $plugin is not installed" >&2
    exit 1
  fi
  echo "$vlcdir/$plugin"
done >> "$files"

# dpkg -S answers "package:arch: path" (or "pkg1, pkg2: path" for shared paths).
xargs dpkg -S < "$files" | sed -e 's/: .*//' -e 's/:[a-z0-9]*//g' | tr ',' '\n' |
  sed -e 's/^ *//' -e '/^$/d' | sort -u | paste -sd, - | sed 's/,/, /g'
