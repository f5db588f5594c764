# The LiveUpdate lane against the downloaders a power user would pick instead; sourced by
# bench/run, which sets work, tb, build, raw, reps and the helpers figures, timed, med, show,
# calc and verdict.
#
# On each catalogue and link (the update-server simulator, on loopback or with --rtt), into
# empty stores on disk: tandel-cli liveupdate (fetching ahead, and with
# TANDEL_LIVEUPDATE_PARALLEL=1), the window's START, curl fetching one file at a time on one
# connection, curl --parallel --parallel-max 8, and aria2c -j 8. All fetch the same lists,
# descriptions and files.

vs_rtt="${RTT_MS:-40}"
vs_reps="${RTT_REPS:-3}"
vs_shapes=("20 50 $vs_rtt" "5 12 $vs_rtt" "20 50 0")

# Runs the command in the current folder; appends "<name>_ms" (wall time) and "<name>_rss_kib"
# (peak memory, from GNU time).
vs_measured() {
  local name="$1" t0 t1 rss
  shift
  t0=$EPOCHREALTIME
  if ! rss="$(/usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1)"; then
    echo "bench: failed: $*" >&2
    exit 1
  fi
  t1=$EPOCHREALTIME
  awk -v n="$name" -v a="$t0" -v b="$t1" -v m="$rss" \
    'BEGIN { printf "%s_ms %.3f\n%s_rss_kib %d\n", n, (b - a) * 1000, n, m }' >>"$raw"
}

vs_lane() {
  local shape st sf rtt tag dir base pid i
  for shape in "${vs_shapes[@]}"; do
    read -r st sf rtt <<<"$shape"
    tag="vs_${st}x${sf}_${rtt}"
    dir="$work/$tag"
    mkdir -p "$dir"
    "$tb" make-catalogue "$dir/server" "$dir" "$st" "$sf"
    "$build/sim/updateserver/tandel-updateserver" --rtt "$rtt" "$dir/server" >"$dir/server.out" &
    pid=$!
    children+=("$pid")
    for _ in $(seq 1000); do
      if [ -s "$dir/server.out" ]; then break; fi
      sleep 0.01
    done
    base="$(head -n 1 "$dir/server.out")"
    "$tb" curl-config "$dir/curl.cfg" "$base" "$dir/OUT" "$st" "$sf"
    # The same requests as an aria2c input file: each address with its folder and file name.
    awk -F'"' '/^url/ { url = $2 } /^output/ { n = split($2, p, "/"); d = substr($2, 1, length($2) - length(p[n]) - 1)
      printf "%s\n  dir=%s\n  out=%s\n", url, d, p[n] }' "$dir/curl.cfg" >"$dir/aria2.txt"
    for i in $(seq "$vs_reps"); do
      for who in cli cli1 window; do
        mkdir -p "$dir/$who-$i"
        cp "$dir/init.cfg" "$dir/$who-$i/"
      done
      (cd "$dir/cli-$i" && TANDEL_LIVEUPDATE_URL="$base" vs_measured "${tag}_cli" "$build/tandel-cli" liveupdate)
      (cd "$dir/cli1-$i" && TANDEL_LIVEUPDATE_URL="$base" TANDEL_LIVEUPDATE_PARALLEL=1 \
        vs_measured "${tag}_cli1" "$build/tandel-cli" liveupdate)
      out="$(cd "$dir/window-$i" && TANDEL_LIVEUPDATE_URL="$base" "$tb" liveupdate "$st" "$sf")"
      printf '%s\n' "$out" | sed -n "s/^lu_empty_wall_ms /${tag}_window_ms /p; s/^lu_maxrss_kib /${tag}_window_rss_kib /p" >>"$raw"
      sed "s|$dir/OUT/|$dir/curl1-$i/|" "$dir/curl.cfg" >"$dir/run.cfg"
      timed "${tag}_curl1_ms" curl -s -S --fail --create-dirs --config "$dir/run.cfg"
      sed "s|$dir/OUT/|$dir/curl8-$i/|" "$dir/curl.cfg" >"$dir/run.cfg"
      timed "${tag}_curl8_ms" curl -s -S --no-progress-meter --fail --create-dirs --parallel --parallel-max 8 \
        --config "$dir/run.cfg"
      sed "s|$dir/OUT/|$dir/aria2-$i/|" "$dir/aria2.txt" >"$dir/run.txt"
      timed "${tag}_aria2_ms" aria2c -q -j 8 --file-allocation=none --auto-file-renaming=false \
        --allow-overwrite=true -i "$dir/run.txt"
      for who in cli cli1 window curl1 curl8 aria2; do
        got="$(find "$dir/$who-$i" -name '*.bin' -size 15180c | wc -l)"
        if [ "$got" -ne $((st * sf)) ]; then
          echo "bench: $who stored $got of $((st * sf)) files ($tag)" >&2
          exit 1
        fi
      done
    done
    kill "$pid" 2>/dev/null || true
    rm -rf "$dir"
  done
}

# "a / b" of two medians, to three decimals.
vs_ratio() { calc "$(med "$1") / $(med "$2")" %.3f; }

vs_table() {
  local shape st sf rtt tag floor link
  echo "### Against the parallel downloaders"
  echo
  echo "Into empty stores on disk, the same requests from each: \`tandel-cli liveupdate\`"
  echo "(fetching ahead, 8 at a time), the same with \`TANDEL_LIVEUPDATE_PARALLEL=1\`, the window's"
  echo "START (\`tandel-bench liveupdate\`), \`curl --config\` (one connection, one file at a time),"
  echo "\`curl --parallel --parallel-max 8\` and \`aria2c -j 8\`, against \`tandel-updateserver\`"
  echo "on loopback or with \`--rtt $vs_rtt\`. Seconds, median (min–max) of $vs_reps runs."
  echo
  echo "| Catalogue | Link | tandel-cli | one at a time | window | curl | curl --parallel-max 8 | aria2c -j 8 | floor, 8 at a time |"
  echo "|---|---|---|---|---|---|---|---|---|"
  for shape in "${vs_shapes[@]}"; do
    read -r st sf rtt <<<"$shape"
    tag="vs_${st}x${sf}_${rtt}"
    link="loopback"
    floor=""
    if [ "$rtt" -gt 0 ]; then
      link="$rtt ms"
      # Every request one round trip on 8 connections, the lists of the next types fetched
      # ahead, and one more round trip for the connections.
      floor=$(calc "((int(($st * ($sf + 2) + 7) / 8)) + 1) * $rtt / 1000" %.2f)
      echo "${tag}_floor_ms $(calc "$floor * 1000")" >>"$raw"
    fi
    echo "| $st × $sf | $link | $(show "${tag}_cli_ms" 2 0.001) | $(show "${tag}_cli1_ms" 2 0.001) |" \
      "$(show "${tag}_window_ms" 2 0.001) | $(show "${tag}_curl1_ms" 2 0.001) |" \
      "$(show "${tag}_curl8_ms" 2 0.001) | $(show "${tag}_aria2_ms" 2 0.001) | $floor |"
  done
  local big="vs_20x50_${vs_rtt}" small="vs_5x12_${vs_rtt}" loop="vs_20x50_0" peak
  peak=$(awk -v r="$raw" 'BEGIN { m = 0; while ((getline l < r) > 0) { split(l, a, " "); if (a[1] ~ /^vs_.*_(cli|cli1|window)_rss_kib$/ && a[2] > m) m = a[2] } printf "%.1f", m / 1024 }')
  echo
  echo "| Ratio | Measured | Target | |"
  echo "|---|---|---|---|"
  # One row: label, measured key, reference key, comparison, target.
  row() {
    local r shown=$4
    r=$(vs_ratio "$2" "$3")
    [ "$4" = "<=" ] && shown="≤"
    echo "| $1 | $r | $shown $5 | $(verdict "$r $4 $5") |"
  }
  row "1000 files, $vs_rtt ms: tandel-cli / curl --parallel-max 8" "${big}_cli_ms" "${big}_curl8_ms" "<=" 1.0
  row "1000 files, $vs_rtt ms: tandel-cli / aria2c -j 8" "${big}_cli_ms" "${big}_aria2_ms" "<" 1.0
  row "1000 files, $vs_rtt ms: tandel-cli / floor" "${big}_cli_ms" "${big}_floor_ms" "<=" 1.2
  row "1000 files, $vs_rtt ms: window / curl --parallel-max 8" "${big}_window_ms" "${big}_curl8_ms" "<=" 1.0
  row "60 files, $vs_rtt ms: tandel-cli / curl --parallel-max 8" "${small}_cli_ms" "${small}_curl8_ms" "<=" 1.0
  row "60 files, $vs_rtt ms: window / curl --parallel-max 8" "${small}_window_ms" "${small}_curl8_ms" "<=" 1.0
  row "1000 files, loopback, store on disk: tandel-cli / curl" "${loop}_cli_ms" "${loop}_curl1_ms" "<=" 1.1
  row "1000 files, loopback, store on disk: window / curl" "${loop}_window_ms" "${loop}_curl1_ms" "<=" 1.1
  for tagged in "$big" "$small"; do
    r=$(vs_ratio "${tagged}_cli1_ms" "${tagged}_curl1_ms")
    echo "| ${tagged#vs_}: one at a time / curl, one connection | $r | ≤ 1.05 | $(verdict "$r <= 1.05") |"
  done
  echo "| peak memory of the TANDEL runs (ru_maxrss) | $peak MiB | < 64 MiB | $(verdict "$peak < 64") |"
  echo
  echo "curl and aria2c write their files without flushing them; TANDEL flushes every stored"
  echo "file before it is renamed into place."
  echo
}
