#!/usr/bin/env bash
# Regenerates the seed corpora of the fuzz targets in OUT: the package writer's seeds
# (make_seeds) plus packages that `ambrel build` makes from two small trees, in both forms.
# Usage: make_seeds.sh MAKE_SEEDS AMBREL OUT
set -euo pipefail
make_seeds=$1 ambrel=$2 out=$3
rm -rf "$out"
"$make_seeds" "$out"
for form in plain compressed; do
  extra=()
  [ $form = compressed ] && extra=(--compress)
  "$ambrel" build "$out/trees/old" "$out/trees/new" -o "$out/built-$form.upg" --no-check \
    --warning-policy 0 --error-policy 0 --title "Built seed" "${extra[@]}" >/dev/null
  cp "$out/built-$form.upg" "$out/package_open/"
  cp "$out/built-$form.upg" "$out/apply/"
done
# The compressed body after its six-byte marker, with the zlib target's mode byte in front.
{ printf '\000'; tail -c +7 "$out/built-compressed.upg"; } >"$out/zlib_stream/built-compressed"
rm -rf "$out/trees" "$out"/built-*.upg
