#!/usr/bin/env bash
# Rebuilds the resource-compiler fixtures from their .rc sources (Debian package
# binutils-mingw-w64-x86-64). The .dll files are kept in the tree so that the tests do not
# need these tools.
set -euo pipefail
cd "$(dirname "$0")"
for rc in *.rc; do
  name=${rc%.rc}
  x86_64-w64-mingw32-windres --preprocessor=cpp --preprocessor-arg=-P -c 65001 "$rc" -O coff -o "$name.o"
  x86_64-w64-mingw32-ld --dll --no-entry -s -o "$name.dll" "$name.o" 2>/dev/null ||
    x86_64-w64-mingw32-ld --dll -e 0 -s -o "$name.dll" "$name.o"
  rm -f "$name.o"
done
