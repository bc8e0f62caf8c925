#!/usr/bin/env bash
# Times the tool against cat copying the same large code list, in alternating
# pairs within one run, and prints medians and ratios of CPU time (user +
# system, as the kernel accounts it) and of wall time; grep is timed beside
# them as a reference. Then the tool's peak memory on a 512 MB list and the
# cost of a tiny list.
#
#   bench/run.sh [SIZE_MB] [PAIRS] [TOOL]
#
# SIZE_MB defaults to 64, PAIRS to 11, TOOL to build/release/codelist. The
# generated lists are kept in $BENCH_DATA (default /tmp/codelist-bench).
set -euo pipefail

size_mb=${1:-64}
pairs=${2:-11}
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

# Appends "wall cpu" in milliseconds for one run of the command to FILE.
timed() {
  local file=$1
  shift
  local TIMEFORMAT='%3R %3U %3S'
  { time "$@" > /dev/null 2>&1; } 2> "$work/last"
  awk '{ printf "%.3f %.3f\n", $1 * 1000, ($2 + $3) * 1000 }' "$work/last" >> "$file"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
column() { awk -v c="$1" '{ print $c }' "$2" | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

list="$data/list-$size_mb.txt"
generate "$size_mb" "$list"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$list" "$work/code.txt"
cd "$work"

# Each writes its output file, as the tool does; the console goes to
# /dev/null. The order within a pair alternates, since a cat run's write-back
# lands on whichever run comes next.
: > tool.t; : > cat.t; : > grep.t
run_cat() { cat code.txt > out.txt; }
run_grep() { LC_ALL=C grep -E '^[0-9A-F]{8} [0-9A-F]{8}' code.txt > out.txt || true; }
for i in $(seq "$pairs"); do
  if [ $((i % 2)) = 1 ]; then
    timed tool.t "$tool"; timed cat.t run_cat
  else
    timed cat.t run_cat; timed tool.t "$tool"
  fi
  timed grep.t run_grep
done

echo "input: $(stat -c %s code.txt) bytes, $(wc -l < code.txt) lines; $pairs alternating pairs"
for what in tool cat grep; do
  printf '%-5s median CPU %7.1f ms, wall %7.1f ms\n' "$what" "$(column 2 $what.t)" "$(column 1 $what.t)"
done
echo "tool/cat: CPU $(ratio "$(column 2 tool.t)" "$(column 2 cat.t)"), wall $(ratio "$(column 1 tool.t)" "$(column 1 cat.t)")"
echo "tool/grep: CPU $(ratio "$(column 2 tool.t)" "$(column 2 grep.t)"), wall $(ratio "$(column 1 tool.t)" "$(column 1 grep.t)") (reference)"

# Peak memory must not grow with the input.
big="$data/list-512.txt"
generate 512 "$big"
cp "$big" code.txt
/usr/bin/time -f '%M' -o rss.txt "$tool" > /dev/null
echo "peak memory on $(stat -c %s code.txt) bytes: $(cat rss.txt) KiB"

# A tiny list: start-up and finish are the whole cost.
rm -f code.txt code_new.txt out.txt
printf 'GAME01\r\nTiny\r\n0123ABCD 89ABCDEF\r\n' > code.txt
tiny() { for _ in $(seq 200); do "$tool" > /dev/null; done; }
: > tiny.t
for _ in $(seq 5); do timed tiny.t tiny; done
awk '{ print $1 / 200 * 1000 " " $2 / 200 * 1000 }' tiny.t > tiny_each.t
printf 'tiny list, per run: wall %.0f us, CPU %.0f us\n' "$(column 1 tiny_each.t)" "$(column 2 tiny_each.t)"
