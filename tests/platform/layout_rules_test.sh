#!/usr/bin/env bash
# scripts/check-layout on a made-up tree: a ring of three files (each a header and its source)
# and a system header in the core are both found; the same tree without them passes.
set -euo pipefail
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/scripts" "$tree/catalogue"
cp "$(dirname "$0")/../../scripts/check-layout" "$tree/scripts/"
for f in A B C; do printf '#pragma once\n' >"$tree/catalogue/$f.h"; done
printf '#include "A.h"\n#include "B.h"\n' >"$tree/catalogue/A.cpp"
printf '#include "B.h"\n#include "C.h"\n' >"$tree/catalogue/B.cpp"
printf '#include "C.h"\n#include <vector>\n' >"$tree/catalogue/C.cpp"
bash "$tree/scripts/check-layout" >/dev/null

printf '#include "C.h"\n#include "A.h"\n#include <unistd.h>\n' >"$tree/catalogue/C.cpp"
if out=$(bash "$tree/scripts/check-layout"); then
  echo "check-layout passed a ring and a system header"; exit 1
fi
grep -q 'a ring.*catalogue/A' <<<"$out" || { echo "ring not named: $out"; exit 1; }
grep -q 'catalogue/C.cpp includes the system header <unistd.h>' <<<"$out" ||
  { echo "system header not named: $out"; exit 1; }
echo "layout rules: ring and system header found"
