#!/usr/bin/env bash
# Measures the tool on a large normal code list and on hostile input shapes,
# all from one run:
#   - the normal list: user ns per line, CPU (user + system, as the kernel
#     accounts it) and wall time, with cat and grep on the same list as
#     reference lines, in alternating rounds;
#   - each hostile shape (no line feed, CR-only ends, lone CRs, long lines,
#     a late Ctrl-Z, binary): CPU per MB against the normal list's;
#   - peak memory on every input, and on a 512 MB list;
#   - a tiny list against an empty static program;
#   - where the web preset has built the page (WEB_BUILD, default
#     build/web): the WebAssembly program under node, CPU per MB on a 32 MB
#     normal list against the native program's; in each browser (Chromium,
#     Firefox, WebKit), the time from choosing the 32 MB and the 512 MB
#     normal list to the result, beside the native program's, and the
#     browser's CPU and peak memory; the page's size.
#
#   bench/run.sh [SIZE_MB] [ROUNDS] [TOOL]
#
# SIZE_MB (default 64) is the normal list's size; the hostile shapes are
# half of it. ROUNDS defaults to 11, TOOL to build/release/codelist. The
# generated inputs are kept in $BENCH_DATA (default /tmp/codelist-bench).
set -euo pipefail
export LC_ALL=C

size_mb=${1:-64}
rounds=${2:-11}
tool=$(realpath "${3:-build/release/codelist}")
root=$(cd "$(dirname "$0")/.." && pwd)
web=$(realpath -m "${WEB_BUILD:-build/web}")
data=${BENCH_DATA:-/tmp/codelist-bench}
mkdir -p "$data"
shape_mb=$((size_mb / 2))

# A deterministic list of about MB megabytes with CR LF line ends: about
# half code lines, with and without comments, then code names, blank lines,
# lower-case near misses, Shift-JIS comments and lines over 199 bytes.
normal_list() {
  awk -v limit=$(($1 * 1024 * 1024)) 'BEGIN {
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
  }'
}

# Lines of exactly N bytes before their CR LF, each starting with a code.
lines_of() {
  awk -v n="$1" -v limit=$(($2 * 1024 * 1024)) 'BEGIN {
    ORS = "\r\n"; print "GAME01"; print "Benchmark list"
    for (pad = "x"; length(pad) < n; ) pad = pad pad
    for (written = 0; written < limit; written += n + 2) {
      line = sprintf("%08X 89ABCDEF ", written % 4294967296) pad
      print substr(line, 1, n)
    }
  }'
}

# Random bytes but Ctrl-Z, which would end the input, in lines of 1000
# bytes; 1 MB of them, repeated.
binary() {
  awk 'BEGIN { srand(1); for (i = 0; i < 1048; i++) {
    for (j = 0; j < 999; j++) { c = int(rand() * 255); printf "%c", c < 26 ? c : c + 1 }
    printf "\n" } }' > "$work/mb"
  printf 'GAME01\r\nBenchmark list\r\n'
  for _ in $(seq "$1"); do cat "$work/mb"; done
}

# Writes input NAME once, from the generator and its arguments.
make_input() {
  local file="$data/$1"
  shift
  [ -f "$file" ] || { "$@" > "$file.tmp" && mv "$file.tmp" "$file"; }
}

# Appends "wall cpu user" in milliseconds for one run of the command to FILE.
timed() {
  local file=$1
  shift
  local TIMEFORMAT='%3R %3U %3S'
  { time "$@" > /dev/null 2>&1; } 2> "$work/last"
  awk '{ printf "%.3f %.3f %.3f\n", $1 * 1000, ($2 + $3) * 1000, $2 * 1000 }' "$work/last" >> "$file"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
column() { awk -v c="$1" '{ print $c }' "$2" | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
peak_kib() { /usr/bin/time -f '%M' -o "$work/rss" "$tool" > /dev/null; cat "$work/rss"; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_input "normal-$size_mb.txt" normal_list "$size_mb"
make_input "normal-$shape_mb.txt" normal_list "$shape_mb"
make_input normal-512.txt normal_list 512
make_input "no-line-feed-$shape_mb.txt" sh -c "printf 'GAME01\r\nBenchmark list\r\n'; head -c $((shape_mb * 1024 * 1024)) /dev/zero"
make_input "cr-only-$shape_mb.txt" tr -d '\n' < "$data/normal-$shape_mb.txt"
make_input "lone-crs-$shape_mb.txt" sed 's/^\(.\{4\}\)/\1\r/' "$data/normal-$shape_mb.txt"
for n in 199 200 400 70000; do make_input "lines-$n-$shape_mb.txt" lines_of "$n" "$shape_mb"; done
make_input "ctrl-z-late-$shape_mb.txt" sh -c "cat '$data/normal-$shape_mb.txt'; printf '\032'; head -c 1048576 '$data/normal-$shape_mb.txt'"
make_input "binary-$shape_mb.txt" binary "$shape_mb"

cd "$work"

# The normal list against cat and grep; each writes its output file, as the
# tool does, and the console goes to /dev/null. The order within a round
# alternates, since a run's write-back lands on whichever run comes next.
cp "$data/normal-$size_mb.txt" code.txt
: > tool.t; : > cat.t; : > grep.t
run_cat() { cat code.txt > out.txt; }
run_grep() { LC_ALL=C grep -E '^[0-9A-F]{8} [0-9A-F]{8}' code.txt > out.txt || true; }
for i in $(seq "$rounds"); do
  if [ $((i % 2)) = 1 ]; then
    timed tool.t "$tool"; timed cat.t run_cat
  else
    timed cat.t run_cat; timed tool.t "$tool"
  fi
  timed grep.t run_grep
done
lines=$(wc -l < code.txt)
echo "normal list: $(stat -c %s code.txt) bytes, $lines lines; $rounds rounds"
for what in tool cat grep; do
  printf '%-5s median CPU %7.1f ms, wall %7.1f ms\n' "$what" "$(column 2 $what.t)" "$(column 1 $what.t)"
done
echo "tool/cat (reference): CPU $(ratio "$(column 2 tool.t)" "$(column 2 cat.t)"), wall $(ratio "$(column 1 tool.t)" "$(column 1 cat.t)")"
echo "tool/grep (reference): CPU $(ratio "$(column 2 tool.t)" "$(column 2 grep.t)"), wall $(ratio "$(column 1 tool.t)" "$(column 1 grep.t)")"

# User time per line, on the 512 MB list.
cp "$data/normal-512.txt" code.txt
: > big.t
for _ in 1 2 3; do timed big.t "$tool"; done
awk -v ms="$(column 3 big.t)" -v lines="$(wc -l < code.txt)" \
  'BEGIN { printf "512 MB list: user %.2f ns per line\n", ms * 1e6 / lines }'
echo "peak memory on 512 MB: $(peak_kib) KiB"

# Each hostile shape against a normal list of the same size, CPU per MB, in
# alternating rounds; and the peak memory on each.
shapes="no-line-feed cr-only lone-crs lines-199 lines-200 lines-400 lines-70000 ctrl-z-late binary"
per_mb() { awk -v c="$(column 2 "$1")" -v b="$(stat -c %s "$2")" 'BEGIN { print c / (b / 1048576) }'; }
cp "$data/normal-$shape_mb.txt" normal.txt
: > normal.t
printf '%-14s %8s %9s %10s %10s\n' input MB "CPU ms" "x normal" "peak KiB"
for shape in $shapes; do
  cp "$data/$shape-$shape_mb.txt" shape.txt
  : > normal.here.t; : > shape.t
  for i in $(seq "$rounds"); do
    if [ $((i % 2)) = 1 ]; then
      cp normal.txt code.txt; timed normal.here.t "$tool"; cp shape.txt code.txt; timed shape.t "$tool"
    else
      cp shape.txt code.txt; timed shape.t "$tool"; cp normal.txt code.txt; timed normal.here.t "$tool"
    fi
  done
  cat normal.here.t >> normal.t
  cp shape.txt code.txt
  printf '%-14s %8.1f %9.1f %10s %10s\n' "$shape" "$(awk -v b="$(stat -c %s shape.txt)" 'BEGIN { print b / 1048576 }')" \
    "$(column 2 shape.t)" "$(ratio "$(per_mb shape.t shape.txt)" "$(per_mb normal.here.t normal.txt)")" "$(peak_kib)"
done
cp normal.txt code.txt
printf '%-14s %8.1f %9.1f %10s %10s\n' normal "$(awk -v b="$(stat -c %s normal.txt)" 'BEGIN { print b / 1048576 }')" \
  "$(column 2 normal.t)" 1.00 "$(peak_kib)"

# A tiny list: start-up and finish are the whole cost, against a program
# that does nothing, linked the same way.
printf 'int main(void) { return 0; }\n' > empty.c
cc -O2 -static -o empty empty.c
rm -f code.txt code_new.txt out.txt
printf 'GAME01\r\nTiny\r\n0123ABCD 89ABCDEF\r\n' > code.txt
tiny() { for _ in $(seq 200); do "$1" > /dev/null; done; }
: > tiny.t; : > empty.t
for _ in $(seq 5); do timed tiny.t tiny "$tool"; timed empty.t tiny ./empty; done
printf 'tiny list, per run: wall %.0f us, CPU %.0f us; empty program: wall %.0f us; tiny/empty wall %s\n' \
  "$(column 1 tiny.t | awk '{ print $1 * 5 }')" "$(column 2 tiny.t | awk '{ print $1 * 5 }')" \
  "$(column 1 empty.t | awk '{ print $1 * 5 }')" "$(ratio "$(column 1 tiny.t)" "$(column 1 empty.t)")"

# The web page's program, run by node on the list in memory: the CPU of the
# run alone (node's start and the reading of the list left out), and the same
# for a tiny list, which is what starting a module costs. Per MB, the native
# program's CPU on the same list is the reference.
if [ -f "$web/codelist.js" ] && command -v node > /dev/null; then
  make_input normal-32.txt normal_list 32
  cp "$data/normal-32.txt" code.txt
  printf 'GAME01\r\nTiny\r\n0123ABCD 89ABCDEF\r\n' > tiny.txt
  : > web.t; : > web-tiny.t; : > native.t
  for _ in $(seq "$rounds"); do
    node "$root/bench/web_node.js" "$web/codelist.js" "$root/web/run.js" code.txt >> web.t
    node "$root/bench/web_node.js" "$web/codelist.js" "$root/web/run.js" tiny.txt >> web-tiny.t
    timed native.t "$tool"
  done
  web_ms=$(median < web.t) tiny_ms=$(median < web-tiny.t) native_ms=$(column 2 native.t)
  awk -v w="$web_ms" -v t="$tiny_ms" -v n="$native_ms" 'BEGIN {
    printf "web under node, 32 MB normal list: CPU %.1f ms, of which %.1f ms starting the module; native CPU %.1f ms\n", w, t, n
    printf "web/native CPU per MB: %.2f without the module start, %.2f with it\n", (w - t) / n, w / n }'
  # Each browser from choosing the list to the result (it needs the browser
  # test's puppeteer-core, npm ci --prefix tests/web, and xvfb-run for
  # WebKit), beside the native program on the same list.
  if [ -f "$web/page/index.html" ] && [ -d "$root/tests/web/node_modules/puppeteer-core" ] &&
     command -v xvfb-run > /dev/null; then
    printf '%-9s %6s %10s %10s %12s %10s %10s %11s\n' browser "MB" "wall s" "CPU s" "native wall" "x native" "page MiB" "all MiB"
    for mb in 32 512; do
      cp "$data/normal-$mb.txt" code.txt
      : > native-$mb.t
      for _ in 1 2 3; do timed native-$mb.t "$tool"; done
      native_s=$(column 1 native-$mb.t | awk '{ printf "%.3f", $1 / 1000 }')
      xvfb-run -a node "$root/bench/web_browsers.js" "$web/page" "$data/normal-$mb.txt" |
        awk -v mb="$mb" -v n="$native_s" '{ printf "%-9s %6d %10.2f %10.2f %12.3f %10.1f %10d %11d\n", $1, mb, $2, $3, n, $2 / n, $5, $6 }'
    done
  fi
  echo "web page: $(cat "$web"/page/* | wc -c) bytes in $(ls "$web/page" | wc -l) files"
fi
