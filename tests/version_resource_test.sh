#!/usr/bin/env bash
# Reads the version resource back out of codelist.exe: the texts that Windows
# shows in the program's details (UTF-16 in the file), and the file version
# that it compares, major.minor.patch.0.
#
#   version_resource_test.sh STRINGS PROGRAM VERSION
set -u
strings_command=$1 program=$2 version=$3
texts=$("$strings_command" -el "$program")
status=0
for want in FileVersion ProductVersion "$version" codelist.exe "MIT License" \
  "the codelist authors"; do
  grep -qF -- "$want" <<< "$texts" || { echo "FAIL: no \"$want\""; status=1; }
done
# The fixed part: its signature and structure version, then the version as
# two little-endian 32-bit numbers, (major << 16 | minor) and (patch << 16),
# the build number 0.
IFS=. read -r major minor patch <<< "$version"
fixed=$(printf 'bd04effe00000100%02x%02x%02x%02x0000%02x%02x' \
  $((minor & 255)) $((minor >> 8)) $((major & 255)) $((major >> 8)) \
  $((patch & 255)) $((patch >> 8)))
od -An -tx1 -v "$program" | tr -d ' \n' | grep -q "$fixed" ||
  { echo "FAIL: the file version is not $version.0"; status=1; }
[ "$status" = 0 ] && echo "version resource: $version"
exit "$status"
