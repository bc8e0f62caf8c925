#!/usr/bin/env bash
# Times the tool against grep and cat on the same large code list, in one run
# and alternately, and prints median wall times and ratios; then the tool's
# peak memory on a 512 MB list and the cost of a tiny list.
#
#   bench/run.sh [SIZE_MB] [RUNS] [TOOL]
#
# SIZE_MB defaults to 64, RUNS to 5, TOOL to build/release/codelist. The
# generated lists are kept in $BENCH_DATA (default /tmp/codelist-bench).
set -euo pipefail

size_mb=${1:-64}
runs=${2:-5}
tool=$(realpath "${3:-build/release/codelist}")
data=${BENCH_DATA:-/tmp/codelist-bench}
mkdir -p "$data"

# A deterministic list of about SIZE_MB megabytes with CR LF line ends: about
# half code lines, with and without comments, then code names, blank lines,
# lower-case near misses, Shift-JIS comments and lines over 199 bytes.
generate() {
  local mb=$1 file=$2
  [ -f "$file" ] && return
  awk -v limit=$((mb * 1024 * 1024)) 'BEGIN {
    ORS = "\r\n"
    print "GAME01"; print "Benchmark list"; print ""
    seed = 12345; written = 0
    long = sprintf("%250s", ""); gsub(/ /, "=", long)
    while (written < limit) {
      seed = (seed * 48271) % 2147483647
      kind = seed % 20
      a = seed % 4294967296; b = (seed * 7) % 4294967296
      if (kind < 5)       line = sprintf("%08X %08X", a, b)
      else if (kind < 8)  line = sprintf("%08X %08X ; value %d", a, b, seed % 1000)
      else if (kind < 10) line = sprintf("%08X %08X ; \x83\x81\x83\x82 %d", a, b, seed % 100)
      else if (kind < 14) line = sprintf("Infinite item %d", seed % 10000)
      else if (kind < 16) line = ""
      else if (kind < 17) line = sprintf("%08x %08x", a, b)
      else if (kind < 19) line = sprintf("\x83\x81\x83\x82: note %d", seed % 1000)
      else                line = "note " long
      print line
      written += length(line) + 2
    }
  }' > "$file.tmp"
  mv "$file.tmp" "$file"
}

now() { date +%s%N; }

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

list="$data/list-$size_mb.txt"
generate "$size_mb" "$list"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$list" "$work/code.txt"
cd "$work"

: > tool.t; : > grep.t; : > cat.t
for _ in $(seq "$runs"); do
  t=$(now); "$tool" > /dev/null; echo $(( $(now) - t )) >> tool.t
  t=$(now); LC_ALL=C grep -E '^[0-9A-F]{8} [0-9A-F]{8}' code.txt > out.txt || true; echo $(( $(now) - t )) >> grep.t
  t=$(now); cat code.txt > out.txt; echo $(( $(now) - t )) >> cat.t
done
tool_ns=$(median < tool.t); grep_ns=$(median < grep.t); cat_ns=$(median < cat.t)

echo "input: $(stat -c %s code.txt) bytes, $(wc -l < code.txt) lines; $runs runs each, alternating"
printf 'median wall time: tool %.1f ms, grep %.1f ms, cat %.1f ms\n' \
  "$(bc -l <<< "$tool_ns / 1000000")" "$(bc -l <<< "$grep_ns / 1000000")" "$(bc -l <<< "$cat_ns / 1000000")"
printf 'tool/grep %.3f   tool/cat %.3f\n' "$(bc -l <<< "$tool_ns / $grep_ns")" "$(bc -l <<< "$tool_ns / $cat_ns")"

# Peak memory must not grow with the input.
big="$data/list-512.txt"
generate 512 "$big"
cp "$big" code.txt
/usr/bin/time -f '%M' -o rss.txt "$tool" > /dev/null
echo "peak memory on $(stat -c %s code.txt) bytes: $(cat rss.txt) KiB"

# A tiny list: start-up and finish dominate.
rm -f code.txt code_new.txt
printf 'GAME01\r\nTiny\r\n0123ABCD 89ABCDEF\r\n' > code.txt
tiny() {
  local t; t=$(now)
  for _ in $(seq 200); do "$@" > /dev/null || true; done
  echo $(( ($(now) - t) / 200 ))
}
: > tiny_tool.t; : > tiny_grep.t
for _ in $(seq "$runs"); do
  tiny "$tool" >> tiny_tool.t
  tiny env LC_ALL=C grep -E '^[0-9A-F]{8} [0-9A-F]{8}' code.txt >> tiny_grep.t
done
tiny_tool=$(median < tiny_tool.t); tiny_grep=$(median < tiny_grep.t)
printf 'tiny list, per run: tool %.0f us, grep %.0f us, tool/grep %.3f\n' \
  "$(bc -l <<< "$tiny_tool / 1000")" "$(bc -l <<< "$tiny_grep / 1000")" "$(bc -l <<< "$tiny_tool / $tiny_grep")"
