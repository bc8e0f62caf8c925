#!/usr/bin/env bash
# Runs the built tool in scratch folders and compares its console bytes, the
# bytes of code_new.txt and its exit status exactly.
#
#   tool_test.sh [--portable] COMMAND [ARGS...]
#
# COMMAND runs the tool, e.g. build/release/codelist, or a Windows build
# through wine. --portable leaves out the cases that only POSIX has: a device,
# /proc or a FIFO where a file should be, a file size limit, a umask, another
# user, a second mount, a lock held with flock(1).
set -u

portable=0
if [ "${1-}" = --portable ]; then
  portable=1
  shift
fi
[ $# -gt 0 ] || { echo "usage: $0 [--portable] COMMAND [ARGS...]" >&2; exit 2; }
tool=("$@")
# Every case runs in a folder of its own, so a relative path in the command
# must not depend on the folder the script was started in.
for i in "${!tool[@]}"; do
  if [[ ${tool[i]} == */* && ${tool[i]} != /* && -e ${tool[i]} ]]; then
    tool[i]="$(cd "$(dirname "${tool[i]}")" && pwd)/$(basename "${tool[i]}")"
  fi
done

# Files and pipes get the console texts as their Shift-JIS bytes whatever
# the locale; everything runs under the UTF-8 locale most systems have.
unset LC_ALL LC_CTYPE
export LANG=C.UTF-8

scratch=$(mktemp -d)
trap 'umount "$scratch/full" 2> /dev/null; rm -rf "$scratch"' EXIT
cases=0
passed=0
failed=0
skipped=0

# The console texts, as printf formats with the tool's CR LF line ends.
open_failure='\x83\x74\x83\x40\x83\x43\x83\x8B\x83\x49\x81\x5B\x83\x76\x83\x93\x83\x47\x83\x89\x81\x5B\r\n'
read_failure='\x83\x74\x83\x40\x83\x43\x83\x8B\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x83\x47\x83\x89\x81\x5B\r\n'
write_failure='\x83\x74\x83\x40\x83\x43\x83\x8B\x8F\x91\x82\xAB\x8D\x9E\x82\xDD\x83\x47\x83\x89\x81\x5B\r\n'
rule="\\r\\n$(for _ in $(seq 22); do printf '%s' '\x84\xAA'; done)\\r\\n\\r\\n"
completion='\x8F\xE3\x8B\x4C\x82\xCCcode_new.txt \x82\xF0\x8D\xEC\x90\xAC\x82\xB5\x82\xDC\x82\xB5\x82\xBD\r\n\r\n'
x199=$(printf 'x%.0s' $(seq 199))

# A fresh folder for one case, holding code.txt made from a printf format
# (or no code.txt for the format NONE).
new_case() {
  case_name=$1
  cases=$((cases + 1))
  dir="$scratch/$cases"
  mkdir "$dir"
  [ "$2" = NONE ] || printf "$2" > "$dir/code.txt"
}

# Runs the tool in the case's folder. The console and the expected bytes are
# kept outside the case folders, since one of them is a full disk.
run_tool() {
  (cd "$dir" && "${tool[@]}" "$@" > "$scratch/console")
  status=$?
}

fail() {
  echo "FAIL: $case_name: $*"
  failed=$((failed + 1))
}

# Compares a file of the case with a printf format; ABSENT means the file
# must not exist.
expect_bytes() {
  compare "$1" "$dir/$1" "$2"
}

expect_console() {
  compare console "$scratch/console" "$1"
}

compare() {
  local what=$1 file=$2 format=$3
  if [ "$format" = ABSENT ]; then
    [ ! -e "$file" ] || { fail "$what exists"; return 1; }
    return 0
  fi
  printf "$format" > "$scratch/expected"
  if [ ! -f "$file" ] || ! cmp -s "$scratch/expected" "$file"; then
    fail "$what differs"
    echo "  expected: $(od -An -c "$scratch/expected" | head -5)"
    [ -f "$file" ] && echo "  actual:   $(od -An -c "$file" | head -5)"
    return 1
  fi
}

expect_status() {
  [ "$status" = "$1" ] || { fail "exit status $status, expected $1"; return 1; }
}

pass() { passed=$((passed + 1)); }

# One row: name | code.txt | console | code_new.txt | exit status.
# The console of a normal run is the file, the rule and the completion.
ok_run() { printf '%s' "$1$rule$completion"; }

example_file='TITLE1\r\nGame\r\n\r\nCode\r\n0123ABCD 89ABCDEF\r\n'
rows=(
  "example of the run|TITLE1\nGame\njunk\n0123ABCD 89ABCDEF ; note\n0123ABCD 89abcdef\n|$(ok_run "$example_file")|$example_file|0"
  "CR LF input gives one CR LF|TITLE1\r\nGame\r\n0123ABCD 89ABCDEF\r\n|$(ok_run "$example_file")|$example_file|0"
  "no header line|abc\n0123ABCD 89ABCDEF\n|||0"
  "empty code.txt||||0"
  "no code.txt|NONE|$open_failure|ABSENT|1"
  "codes before the header are dropped|0123ABCD 89ABCDEF\nTITLE1\nGame\n|$(ok_run 'TITLE1\r\nGame\r\n\r\nCode\r\n')|TITLE1\r\nGame\r\n\r\nCode\r\n|0"
  "code after the header is copied whole|TITLE1\n0123ABCD 89ABCDEF ; x\n|$(ok_run 'TITLE1\r\n0123ABCD 89ABCDEF ; x\r\n\r\nCode\r\n')|TITLE1\r\n0123ABCD 89ABCDEF ; x\r\n\r\nCode\r\n|0"
  "header is the last line|junk\nTITLE1\n|$(ok_run 'TITLE1\r\n\r\nCode\r\n')|TITLE1\r\n\r\nCode\r\n|0"
  "header is the last line, without a line end|ABCDEFl|$(ok_run 'ABCDEFl\r\nCode\r\n')|ABCDEFl\r\nCode\r\n|0"
  "six bytes at the end are no header|ABCDEF|||0"
  "l as seventh byte|123456lx\nsub\n0123ABCD 89ABCDEF\n|$(ok_run '123456lx\r\nsub\r\n\r\nCode\r\n0123ABCD 89ABCDEF\r\n')|123456lx\r\nsub\r\n\r\nCode\r\n0123ABCD 89ABCDEF\r\n|0"
  "a later header-like line is no code|TITLE1\nGame\nTITLE2\nGame 2\n0123ABCD 89ABCDEF\n|$(ok_run "$example_file")|$example_file|0"
  "last code without a line end|TITLE1\nGame\n0123ABCD 89ABCDEF|$(ok_run "$example_file")|$example_file|0"
  "near misses are dropped|TITLE1\nGame\n0123abcd 89ABCDEF\n0123ABCD  89ABCDEF\n0123ABCD\t89ABCDEF\n 0123ABCD 89ABCDEF\n0123ABCD 89ABCDE\n0123ABCD 89ABCDEF\n|$(ok_run "$example_file")|$example_file|0"
  "NUL bytes pass whole|TI\x00LE1\nGa\x00me\n0123ABCD 89ABCDEF\x00tail\n|$(ok_run 'TI\x00LE1\r\nGa\x00me\r\n\r\nCode\r\n0123ABCD 89ABCDEF\r\n')|TI\x00LE1\r\nGa\x00me\r\n\r\nCode\r\n0123ABCD 89ABCDEF\r\n|0"
  "Ctrl-Z ends the input|TITLE1\nGame\n0123ABCD 89ABCDEF\n\x1A""00000000 00000000\n|$(ok_run "$example_file")|$example_file|0"
  "a piece of a long line is a line|TITLE1\nGame\n${x199}0123ABCD 89ABCDEF\n|$(ok_run "$example_file")|$example_file|0"
  "percent signs are data|TITLE%%\n%%s%%d%%n\n|$(ok_run 'TITLE%%\r\n%%s%%d%%n\r\n\r\nCode\r\n')|TITLE%%\r\n%%s%%d%%n\r\n\r\nCode\r\n|0"
  "Shift-JIS passes unchanged|\x83\x5E\x83\x43\x83\x67\n\x83\x51\x81\x5B\x83\x80\n0123ABCD 89ABCDEF \x83\x81\x83\x82\n|$(ok_run '\x83\x5E\x83\x43\x83\x67\r\n\x83\x51\x81\x5B\x83\x80\r\n\r\nCode\r\n0123ABCD 89ABCDEF\r\n')|\x83\x5E\x83\x43\x83\x67\r\n\x83\x51\x81\x5B\x83\x80\r\n\r\nCode\r\n0123ABCD 89ABCDEF\r\n|0"
)

for row in "${rows[@]}"; do
  IFS='|' read -r name input console file want <<< "$row"
  new_case "$name" "$input"
  run_tool
  expect_status "$want" && expect_console "$console" && expect_bytes code_new.txt "$file" && pass
done

new_case "arguments are ignored" 'TITLE1\nGame\n0123ABCD 89ABCDEF\n'
run_tool --help extra
expect_status 0 && expect_console "$(ok_run "$example_file")" &&
  expect_bytes code_new.txt "$example_file" && pass

new_case "an old code_new.txt is emptied even without a header" 'no header here\n'
printf 'old contents\r\n' > "$dir/code_new.txt"
run_tool
expect_status 0 && expect_console '' && expect_bytes code_new.txt '' && pass

new_case "code_new.txt is a folder" 'TITLE1\nGame\n'
mkdir "$dir/code_new.txt"
run_tool
expect_status 1 && expect_console "$open_failure" && expect_bytes code.txt 'TITLE1\nGame\n' && pass

new_case "code.txt is a folder" NONE
mkdir "$dir/code.txt"
run_tool
expect_status 1 && expect_console "$open_failure" && expect_bytes code_new.txt ABSENT && pass

# Many codes, so that the echo fills any pipe and every buffer several times.
many_codes=$(for i in $(seq 10000 29999); do printf '%08X 89ABCDEF ; %d\\n' "$i" "$i"; done)
many_codes_file=$(for i in $(seq 10000 29999); do printf '%08X 89ABCDEF\\r\\n' "$i"; done)
many_file="TITLE1\\r\\nGame\\r\\n\\r\\nCode\\r\\n$many_codes_file"
new_case "many codes" "TITLE1\\nGame\\n$many_codes"
run_tool
expect_status 0 && expect_bytes code_new.txt "$many_file" && expect_console "$(ok_run "$many_file")" && pass

for link in "ln" "ln -s"; do
  new_case "code_new.txt is code.txt ($link)" 'TITLE1\nGame\n'
  (cd "$dir" && $link code.txt code_new.txt)
  run_tool
  expect_status 1 && expect_console "$open_failure" && expect_bytes code.txt 'TITLE1\nGame\n' && pass
done

new_case "code_new.txt is a link that leads nowhere" 'TITLE1\nGame\n0123ABCD 89ABCDEF\n'
ln -s result.txt "$dir/code_new.txt"
run_tool
expect_status 0 && expect_bytes result.txt "$example_file" && pass

# A name that cannot be looked up cannot be the console: the refusal is said.
for name in code.txt code_new.txt; do
  new_case "$name is a link to itself" 'TITLE1\nGame\n'
  (cd "$dir" && rm -f "$name" && ln -s "$name" "$name")
  run_tool
  [ "$name" = code.txt ] && other=(code_new.txt ABSENT) || other=(code.txt 'TITLE1\nGame\n')
  expect_status 1 && expect_console "$open_failure" && expect_bytes "${other[@]}" &&
    { [ "$(readlink "$dir/$name")" = "$name" ] || fail "the link changed"; } && pass
done

# The console never costs the file, nor the exit status.
for console in "closed" "and input closed" "full" "broken pipe"; do
  new_case "console $console" "TITLE1\\nGame\\n$many_codes"
  case $console in
    closed) (cd "$dir" && "${tool[@]}" >&-) ;;
    "and input closed") (cd "$dir" && "${tool[@]}" <&- >&-) ;;
    full) (cd "$dir" && "${tool[@]}" > /dev/full) ;;
    "broken pipe") (cd "$dir" && "${tool[@]}" | head -c1 > /dev/null; exit "${PIPESTATUS[0]}") ;;
  esac
  status=$?
  expect_status 0 && expect_bytes code_new.txt "$many_file" && pass
done

# A console that is one of the two files stays silent: the echo would grow
# code.txt, or take the place of the result in code_new.txt.
new_case "console appended to code.txt" 'TITLE1\nGame\n0123ABCD 89ABCDEF\n'
(cd "$dir" && "${tool[@]}" >> code.txt)
status=$?
expect_status 0 && expect_bytes code.txt 'TITLE1\nGame\n0123ABCD 89ABCDEF\n' &&
  expect_bytes code_new.txt "$example_file" && pass

new_case "console sent to code_new.txt" 'TITLE1\nGame\n0123ABCD 89ABCDEF\n'
(cd "$dir" && "${tool[@]}" > code_new.txt)
status=$?
expect_status 0 && expect_bytes code_new.txt "$example_file" && pass

new_case "no code.txt, console appended to code_new.txt" NONE
printf 'old result\r\n' > "$dir/code_new.txt"
(cd "$dir" && "${tool[@]}" >> code_new.txt)
status=$?
expect_status 1 && expect_bytes code_new.txt 'old result\r\n' && pass

# One run at a time: a second run while the first writes code_new.txt
# touches nothing. The first is held up by a console that is read only once
# it has begun, and so after it has code_new.txt.
new_case "a second run while the first writes" "TITLE1\\nGame\\n$many_codes"
mkfifo "$scratch/held"
(cd "$dir" && exec "${tool[@]}" > "$scratch/held") &
first=$!
exec 4< "$scratch/held"
head -c1 <&4 > /dev/null
run_tool
second=$status
cat <&4 > /dev/null
exec 4<&-
wait "$first"
status=$?
expect_status 0 && expect_bytes code_new.txt "$many_file" && status=$second &&
  expect_status 1 && expect_console "$open_failure" && pass

# A full disk: a tiny file system that is filled up once code.txt is in it.
# Mounting it takes root; elsewhere the case is skipped, and says so.
mkdir "$scratch/full"
if mount -t tmpfs -o size=64k tmpfs "$scratch/full" 2> /dev/null; then
  case_name="a full disk is a write failure"
  dir="$scratch/full/case"
  mkdir "$dir"
  printf 'TITLE1\nGame\n0123ABCD 89ABCDEF\n' > "$dir/code.txt"
  head -c 100000 /dev/zero > "$scratch/full/filler" 2> /dev/null
  run_tool
  expect_status 1 &&
    expect_console "TITLE1\\r\\nGame\\r\\n\\r\\nCode\\r\\n0123ABCD 89ABCDEF\\r\\n$rule$write_failure" && pass
else
  echo "SKIP: a full disk (no tmpfs can be mounted here)"
  skipped=$((skipped + 1))
fi

# On a terminal the tool's own texts are shown as characters where the
# terminal takes UTF-8; data stays bytes, which a Windows console shows in its
# code page (437 under wine here). script(1) gives the tool a terminal; wine
# wraps its console writes in cursor codes, which are taken out.
on_terminal() {
  local command
  command="stty -onlcr; cd $(printf '%q' "$dir") && env $(printf '%q ' "$@" "${tool[@]}")"
  script -qfec "$command" /dev/null > "$scratch/terminal"
  sed 's/\x1b\[?25[lh]//g' "$scratch/terminal" > "$scratch/console"
}
# A printf format for the bytes that a printf format gives, seen in another
# character set.
recoded() {
  printf "$1" | iconv -f "$2" -t UTF-8 | od -An -tx1 -v | tr -d ' \n' | sed 's/../\\x&/g'
}
utf8() { recoded "$1" CP932; }

sjis_header='\x83\x5E\x83\x43\x83\x67l\r\n'
terminal_block='Game\r\n\r\nCode\r\n0123ABCD 89ABCDEF\r\n'
if [ "$portable" = 0 ]; then shown_header=$sjis_header; else shown_header=$(recoded "$sjis_header" CP437); fi
terminal_rows=(
  "no code.txt, UTF-8 terminal|NONE|LANG=C.UTF-8|$(utf8 "$open_failure")"
  "a run, UTF-8 terminal|${sjis_header}Game\n0123ABCD 89ABCDEF\n|LANG=C.UTF-8|$shown_header$terminal_block$(utf8 "$rule$completion")"
)
[ "$portable" = 0 ] && terminal_rows+=(
  "no code.txt, C terminal|NONE|LC_ALL=C|$open_failure"
  "a run, C terminal|${sjis_header}Game\n0123ABCD 89ABCDEF\n|LC_ALL=C|$sjis_header$terminal_block$rule$completion"
  "many codes, UTF-8 terminal|TITLE1\\nGame\\n$many_codes|LANG=C.UTF-8|$many_file$(utf8 "$rule$completion")"
  "a UTF-8 locale that is not installed|NONE|LANG=xx_XX.utf8|$(utf8 "$open_failure")"
  "LC_ALL names a locale that is not installed|NONE|LC_ALL=xx_XX.ISO-8859-1|$open_failure"
  "a codeset of five letters that is not UTF-8|NONE|LC_ALL=xx_XX.EUCJP|$open_failure"
  "LC_CTYPE is a bare UTF-8|NONE|LANG=C LC_CTYPE=UTF-8|$(utf8 "$open_failure")"
  "LC_CTYPE is a bare utf8|NONE|LANG=C LC_CTYPE=utf8|$(utf8 "$open_failure")"
)
for row in "${terminal_rows[@]}"; do
  IFS='|' read -r name input settings console <<< "$row"
  new_case "$name" "$input"
  # shellcheck disable=SC2086 # one word for each setting
  on_terminal $settings
  expect_console "$console" && pass
done

# What only POSIX has.
if [ "$portable" = 0 ]; then
  new_case "a full device is a write failure" 'TITLE1\nGame\n0123ABCD 89ABCDEF\n'
  ln -s /dev/full "$dir/code_new.txt"
  run_tool
  expect_status 1 && expect_console "TITLE1\\r\\nGame\\r\\n\\r\\nCode\\r\\n0123ABCD 89ABCDEF\\r\\n$rule$write_failure" && pass

  new_case "a read error is no end of input" NONE
  ln -s /proc/self/mem "$dir/code.txt"
  run_tool
  expect_status 1 && expect_console "$read_failure" && expect_bytes code_new.txt '' && pass
  on_terminal LANG=C.UTF-8
  expect_console "$(utf8 "$read_failure")" && pass

  new_case "a full device on a UTF-8 terminal" 'TITLE1\nGame\n'
  ln -s /dev/full "$dir/code_new.txt"
  on_terminal LANG=C.UTF-8
  expect_console "TITLE1\\r\\nGame\\r\\n\\r\\nCode\\r\\n$(utf8 "$rule$write_failure")" && pass

  # A file size limit makes a write fail; it must not end the run.
  new_case "a file size limit is a write failure" "TITLE1\\nGame\\n$many_codes"
  (cd "$dir" && ulimit -f 30 && exec "${tool[@]}") | cat > "$scratch/console"
  status=${PIPESTATUS[0]}
  printf "$many_file" | head -c 30720 > "$scratch/expected_start"
  expect_status 1 && expect_console "$many_file$rule$write_failure" &&
    { cmp -s "$scratch/expected_start" "$dir/code_new.txt" || fail "not the first 30 KiB"; } && pass

  new_case "a new code_new.txt follows the umask" 'TITLE1\nGame\n'
  (umask 002 && run_tool)
  [ "$(stat -c %a "$dir/code_new.txt")" = 664 ] && pass || fail "mode $(stat -c %a "$dir/code_new.txt")"

  # Root reads anything, so there the cases that need a file or folder the
  # tool may not use run it as nobody.
  chmod o+x "$scratch"
  as_user=()
  [ "$(id -u)" = 0 ] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)

  # A code.txt that may be written but not read: its message must not land in
  # it.
  new_case "console appended to a code.txt that may not be read" 'TITLE1\nGame\n'
  chmod 222 "$dir/code.txt"
  chmod 777 "$dir"
  (cd "$dir" && exec "${as_user[@]}" "${tool[@]}" >> code.txt)
  status=$?
  expect_status 1 && expect_bytes code.txt 'TITLE1\nGame\n' && expect_bytes code_new.txt ABSENT && pass

  # A file behind a folder that may not be entered cannot be looked up, nor
  # be the console: the refusal is said.
  for name in code.txt code_new.txt; do
    new_case "$name lies in a folder that may not be entered" 'TITLE1\nGame\n'
    mkdir "$dir/closed"
    printf 'kept\r\n' > "$dir/closed/file"
    chmod 000 "$dir/closed"
    ln -sf closed/file "$dir/$name"
    (cd "$dir" && exec "${as_user[@]}" "${tool[@]}" > "$scratch/console")
    status=$?
    chmod 700 "$dir/closed"
    [ "$name" = code.txt ] && other=(code_new.txt ABSENT) || other=(code.txt 'TITLE1\nGame\n')
    expect_status 1 && expect_console "$open_failure" && expect_bytes "${other[@]}" &&
      expect_bytes closed/file 'kept\r\n' && pass
  done

  # A run that reads a file holds a shared lock on it: another run may still
  # read that code.txt, but not write that code_new.txt.
  for row in "code.txt|0|$(ok_run "$example_file")|$example_file" \
             "code_new.txt|1|$open_failure|old\\r\\n"; do
    IFS='|' read -r name want console file <<< "$row"
    new_case "another run reads $name" 'TITLE1\nGame\n0123ABCD 89ABCDEF\n'
    printf 'old\r\n' > "$dir/code_new.txt"
    exec 5< "$dir/$name"
    flock -s 5
    run_tool
    exec 5<&-
    expect_status "$want" && expect_console "$console" && expect_bytes code_new.txt "$file" &&
      pass
  done

  # On a terminal every print is shown at once: the header block is there
  # while the tool still waits for the rest of code.txt.
  new_case "a terminal is written at once" NONE
  mkfifo "$dir/code.txt"
  rm -f "$scratch/terminal" "$scratch/shown"
  (
    exec 3> "$dir/code.txt"
    printf 'TITLE1\nGame\n' >&3
    for _ in $(seq 100); do
      grep -q Code "$scratch/terminal" 2> /dev/null && touch "$scratch/shown" && break
      sleep 0.1
    done
  ) &
  on_terminal LANG=C.UTF-8
  wait
  [ -e "$scratch/shown" ] && expect_console "TITLE1\r\nGame\r\n\r\nCode\r\n$(utf8 "$rule$completion")" &&
    pass || fail "the header block was not shown before the end of the input"

  # One file seen through two mounts. Each case runs its bash code in a
  # mount namespace of its own, on a tmpfs at $m, with the tool as "$@"; the
  # code copies what is checked to "$m/..", the case's folder, since the
  # mounts go with the namespace. Mounting takes root, an overlay and FUSE;
  # where they are missing the code exits with 99, and the case is skipped,
  # and says so.
  in_own_mounts() {
    mkdir "$dir/mount"
    status=99
    if unshare -m true 2> /dev/null; then
      unshare -m bash -c 'm=$1 && shift && mount -t tmpfs tmpfs "$m" || exit 99
        '"$1" bash "$dir/mount" "${tool[@]}" 2> /dev/null
      status=$?
    fi
    if [ "$status" = 99 ]; then
      echo "SKIP: $case_name (no mount namespace, overlay or FUSE here)"
      skipped=$((skipped + 1))
      return 1
    fi
    [ ! -e "$dir/console" ] || mv "$dir/console" "$scratch/console"
  }

  # An overlay and the folder under it show two devices for one file.
  new_case "code_new.txt is code.txt through a second mount" NONE
  in_own_mounts '
    mkdir "$m/lower" "$m/upper" "$m/work" "$m/merged" &&
      mount -t overlay overlay -o "lowerdir=$m/lower,upperdir=$m/upper,workdir=$m/work" "$m/merged" ||
      exit 99
    printf "TITLE1\nGame\n" > "$m/merged/code.txt"
    ln -s "$m/upper/code.txt" "$m/merged/code_new.txt"
    (cd "$m/merged" && exec "$@" > "$m/../console")
    status=$?
    cp "$m/merged/code.txt" "$m/.."
    exit "$status"' &&
    expect_status 1 && expect_console "$open_failure" && expect_bytes code.txt 'TITLE1\nGame\n' && pass

  # An overlay over layers on two file systems numbers its files anew (xino):
  # code.txt of its lower layer shows another inode number through it.
  overlay='mkdir "$m/a" "$m/b" "$m/merged" && mount -t tmpfs tmpfs "$m/a" &&
      mount -t tmpfs tmpfs "$m/b" && mkdir "$m/a/lower" "$m/b/upper" "$m/b/work" &&
      mount -t overlay overlay -o "lowerdir=$m/a/lower,upperdir=$m/b/upper,workdir=$m/b/work,xino=on" "$m/merged" ||
      exit 99
    lower=$m/a/lower/code.txt
    printf "TITLE1\nGame\n" > "$lower"'
  new_case "code_new.txt is code.txt under an overlay that numbers it anew" NONE
  in_own_mounts "$overlay"'
    ln -s "$lower" "$m/merged/code_new.txt"
    (cd "$m/merged" && exec "$@" > "$m/../console")
    status=$?
    cp "$lower" "$m/.."
    exit "$status"' &&
    expect_status 1 && expect_console "$open_failure" && expect_bytes code.txt 'TITLE1\nGame\n' && pass

  new_case "console appended to code.txt under an overlay that numbers it anew" NONE
  in_own_mounts "$overlay"'
    (cd "$m/merged" && exec "$@" >> "$lower")
    status=$?
    cp "$lower" "$m/.."
    exit "$status"' &&
    expect_status 0 && expect_bytes code.txt 'TITLE1\nGame\n' && pass

  # A FUSE pass-through keeps the inode number, but shows the size that it
  # took when code.txt was last looked up through it.
  new_case "code_new.txt is code.txt, grown since a FUSE view took its size" NONE
  in_own_mounts '
    mkdir "$m/real" "$m/view" && printf "TITLE1\nGame\n" > "$m/real/code.txt" &&
      bindfs -o attr_timeout=60 "$m/real" "$m/view" && stat "$m/view/code.txt" > /dev/null ||
      exit 99
    printf "0123ABCD 89ABCDEF\n" >> "$m/real/code.txt"
    ln -s "$m/real/code.txt" "$m/view/code_new.txt"
    (cd "$m/view" && exec "$@" > "$m/../console")
    status=$?
    umount "$m/view"
    cp "$m/real/code.txt" "$m/.."
    exit "$status"' &&
    expect_status 1 && expect_console "$open_failure" &&
    expect_bytes code.txt 'TITLE1\nGame\n0123ABCD 89ABCDEF\n' && pass

  # Two files in one folder of a view, each with one link, the same size and
  # the same time, are still two files.
  new_case "two files of one size and time in an overlay" NONE
  in_own_mounts "$overlay"'
    printf "TITLE9\nGame\n" > "$m/merged/code_new.txt"
    touch -r "$lower" "$m/merged/code_new.txt" && cp "$lower" "$m/merged/code.txt" &&
      touch -r "$lower" "$m/merged/code.txt"
    (cd "$m/merged" && exec "$@" > "$m/../console")
    status=$?
    cp "$m/merged/code_new.txt" "$m/.."
    exit "$status"' &&
    expect_status 0 && expect_bytes code_new.txt 'TITLE1\r\nGame\r\n\r\nCode\r\n' && pass

  # A FUSE view that numbers each name on its own (unionfs-fuse without
  # use_ino) shows two names of one file as two inode numbers, and keeps what
  # it took of a file for a second.
  view='mkdir "$m/real" "$m/view" && printf "TITLE1\nGame\n" > "$m/real/code.txt" &&
      unionfs "$m/real=RW" "$m/view" && cd "$m/view" || exit 99'
  for row in "code_new.txt is a hard link of code.txt|ln code.txt code_new.txt|exec \"\$@\"|1" \
             "console appended to a hard link of code.txt|ln code.txt log.txt|exec \"\$@\" >> log.txt|0" \
             "code_new.txt is code.txt, grown since the view took its size|ln -s \"\$m/real/code.txt\" code_new.txt|exec \"\$@\"|1" \
             "console appended to code.txt, grown since the view took its size|:|exec \"\$@\" >> \"\$m/real/code.txt\"|0"; do
    IFS='|' read -r name link run want <<< "$row"
    new_case "$name in a FUSE view" NONE
    in_own_mounts "$view"'
      '"$link"' && stat code.txt > /dev/null && printf "0123ABCD 89ABCDEF\n" >> "$m/real/code.txt"
      ('"$run"') > "$m/../console"
      status=$?
      cd / && umount "$m/view"
      cp "$m/real/code.txt" "$m/.."
      exit "$status"' &&
      expect_status "$want" && expect_bytes code.txt 'TITLE1\nGame\n0123ABCD 89ABCDEF\n' &&
      { [ "$want" = 0 ] || expect_console "$open_failure"; } && pass
  done

  # Under the kernel's overlay with two file systems and no xino, a file of
  # the lower layer and one of the upper layer show each their own file
  # system's inode number, and those may be the same: two files all the same.
  collided='
    for i in $(seq 40); do : > "$m/a/lower/padding$i"; done
    printf "TITLE1\nGame\n" > "$m/a/lower/code.txt"
    mount -t overlay overlay -o "lowerdir=$m/a/lower,upperdir=$m/b/upper,workdir=$m/b/work,xino=off" "$m/merged" || exit 99
    cd "$m/merged" && want=$(stat -c %i code.txt)
    while :; do
      : > next && at=$(stat -c %i next)
      [ "$at" -lt "$want" ] || break
      mv next "next$at"
    done
    [ "$at" = "$want" ] || exit 99'
  split_overlay='mkdir "$m/a" "$m/b" "$m/merged" && mount -t tmpfs tmpfs "$m/a" &&
      mount -t tmpfs tmpfs "$m/b" && mkdir "$m/a/lower" "$m/b/upper" "$m/b/work" || exit 99'
  for name in code_new.txt log.txt; do
    new_case "$name numbered as code.txt by another layer of an overlay" NONE
    in_own_mounts "$split_overlay$collided"'
      mv next '"$name"'
      "$@" >> log.txt
      status=$?
      cp log.txt "$m/../console" && cp code_new.txt "$m/.."
      exit "$status"' &&
      expect_status 0 && expect_console "$(ok_run 'TITLE1\r\nGame\r\n\r\nCode\r\n')" &&
      expect_bytes code_new.txt 'TITLE1\r\nGame\r\n\r\nCode\r\n' && pass
  done

  new_case "code.txt is a pipe" NONE
  mkfifo "$dir/code.txt"
  # The writer gives up if the tool never opens the pipe.
  timeout 20 sh -c 'printf "TITLE1\nGame\n0123ABCD 89ABCDEF\n" > "$1"' sh "$dir/code.txt" &
  run_tool
  wait
  expect_status 0 && expect_bytes code_new.txt "$example_file" && pass
fi

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
