#!/bin/sh
# Renders the scene pictures from src/*.svg at the size each SVG declares.
# Needs rsvg-convert (Debian package librsvg2-bin). Run after editing a source and commit
# the PNGs: the build uses the committed files.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
for svg in "$here"/src/*.svg; do
  name=$(basename "$svg" .svg)
  rsvg-convert --format=png --output="$here/$name.png" "$svg"
done
# The application logo lives in its own resource tree.
rsvg-convert --format=png --output="$here/../resources/logo.png" "$here/../resources/logo.svg"
