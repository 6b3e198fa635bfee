#!/usr/bin/env bash
# Builds the project, generates a small album with dsdgen, packs it into an
# SACD image, verifies the image against its manifest and dumps the TOC.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target varntessel dsdgen
mkdir -p out
build/tools/dsdgen --format dsf --seconds 4 --signal music --title "Morning" --track 1 out/01.dsf
build/tools/dsdgen --format dsf --seconds 3 --signal chirp --title "Sweep" --track 2 out/02.dsf
build/tools/dsdgen --format dff --channels 6 --seconds 3 --signal music out/03.dff
build/app/varntessel -o out/demo.iso --album "Demo Album" --artist "Varn" out/01.dsf out/02.dsf out/03.dff
build/app/varntessel --verify out/demo.iso
build/app/varntessel -o out/toc/ out/01.dsf out/02.dsf
ls -l out
