#!/bin/sh
# Installs every Debian package the project needs (lists in tools/deps/*.txt).
# Idempotent: does nothing when all are present. Runs apt-get as root or through sudo.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
pkgs=$(cat "$here"/deps/*.txt | sed -e 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
missing=""
for p in $pkgs; do
  st=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$st" = "installed" ] || missing="$missing $p"
done
if [ -z "$missing" ]; then
  echo "setup-deps: all $(echo "$pkgs" | wc -l) packages present"
  exit 0
fi
echo "setup-deps: installing:$missing"
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
