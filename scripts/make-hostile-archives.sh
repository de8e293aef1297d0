#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes a corpus of hostile and broken project archives into OUTDIR, made with
# the system's tar and gzip and, where no honest tool writes such a thing, with
# tar headers put together byte by byte here. Each archive holds a valid
# project ("Hostile", one Tando device 00:1a:2b:3c:4d:5e) before its hostile
# part, so that a refusal comes in the middle of an unpacking. ESCAPE is the
# absolute directory the escaping entries aim at (it is never written here).
#
#   scripts/make-hostile-archives.sh OUTDIR [ESCAPE]
#
# tests/workspace/tst_hostile.cpp states the expected outcome of each file.
set -euo pipefail
out="${1:?usage: make-hostile-archives.sh OUTDIR [ESCAPE]}"
escape="${2:-/tmp/tando-escape}"
case "$escape" in /*) ;; *) echo "ESCAPE must be absolute" >&2; exit 2 ;; esac
mkdir -p "$out"
out="$(cd "$out" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export LC_ALL=C TZ=UTC

# ------------------------------------------------------------- byte helpers

# put FILE OFFSET FORMAT: writes printf's output of FORMAT (escapes allowed) at OFFSET.
put() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }

# Sets the checksum of the header at OFFSET of FILE: six octal digits, NUL, space.
fix_checksum() {
  put "$1" $(($2 + 148)) '        '
  local sum
  sum=$(od -An -v -tu1 -j "$2" -N 512 "$1" | awk '{ for (i = 1; i <= NF; i++) s += $i } END { print s }')
  put "$1" $(($2 + 148)) "$(printf '%06o' "$sum")\\0 "
}

# header NAME TYPE SIZE [LINK [MAJOR MINOR]]: a ustar header on standard output.
header() {
  local h="$work/header"
  head -c 512 /dev/zero > "$h"
  printf '%s' "$1" | head -c 100 | dd of="$h" bs=1 seek=0 conv=notrunc status=none
  put "$h" 100 "$( [ "$2" = 5 ] && echo 0000755 || echo 0000644)"
  put "$h" 108 '0000000'
  put "$h" 116 '0000000'
  put "$h" 124 "$(printf '%011o' "$3")"
  put "$h" 136 '13200000000'
  put "$h" 156 "$2"
  [ -n "${4:-}" ] && { printf '%s' "$4" | head -c 100 | dd of="$h" bs=1 seek=157 conv=notrunc status=none; }
  put "$h" 257 'ustar\0''00'
  put "$h" 329 "$(printf '%07o' "${5:-0}")"
  put "$h" 337 "$(printf '%07o' "${6:-0}")"
  fix_checksum "$h" 0
  cat "$h"
}

# data BYTES: the bytes padded with zeros to whole blocks.
data() {
  printf '%s' "$1"
  head -c $(( (512 - ${#1} % 512) % 512 )) /dev/zero
}

trailer() { head -c 1024 /dev/zero; }

# ------------------------------------------------------------ the project

src="$work/src"
mkdir -p "$src/active-project/devices/tando/00:1a:2b:3c:4d:5e"
printf '<?xml version="1.0" encoding="UTF-8"?>\n<project>\n <name>Hostile</name>\n <author>Test</author>\n <description>x</description>\n</project>\n' \
  > "$src/active-project/project.xml"
printf '<prefs>\n <UnitName>Front</UnitName>\n</prefs>\n' > "$src/active-project/devices/tando/00:1a:2b:3c:4d:5e/prefs"

# systar ARGS...: GNU tar over the project source, in 512-byte records.
systar() { tar -C "$src" --format=gnu --blocking-factor=1 --sort=name --owner=0 --group=0 --numeric-owner "$@"; }
# The project as the first entries of an archive, without the end blocks.
systar -cf "$work/project.tar" active-project
head -c -1024 "$work/project.tar" > "$work/head.tar"

# hostile NAME: the project, then standard input, then the end blocks.
hostile() { { cat "$work/head.tar"; cat; trailer; } > "$out/$1"; }

# ------------------------------------------------------------ refused

# Names that leave the tree.
{ header "active-project/../../escaped.txt" 0 6; data "escape"; } | hostile dotdot.tar
gzip -n -c "$out/dotdot.tar" > "$out/dotdot.tgz"
{ header "$escape/absolute.txt" 0 6; data "escape"; } | hostile absolute.tar

# A symbolic link out of the tree, then a file written through it.
{ header "active-project/out" 2 0 "$escape"; header "active-project/out/through.txt" 0 6; data "escape"; } \
  | hostile symlink-absolute.tar
{ header "active-project/up" 2 0 "../../.."; header "active-project/up/through.txt" 0 6; data "escape"; } \
  | hostile symlink-climbing.tar
# A link that stays inside, and a file written through it.
{ header "active-project/inner" 2 0 "devices"; header "active-project/inner/through.txt" 0 6; data "escape"; } \
  | hostile symlink-through.tar

# Hard links to files outside the tree (made by GNU tar, the target rewritten).
mkdir -p "$work/links/active-project"
echo first > "$work/links/active-project/first"
ln "$work/links/active-project/first" "$work/links/active-project/second"
tar -C "$work/links" --format=gnu --blocking-factor=1 --sort=name -P \
  --transform='s,^active-project/first$,../../first,RSh' -cf "$work/hardlink.tar" active-project
{ cat "$work/head.tar"; head -c -1024 "$work/hardlink.tar"; trailer; } > "$out/hardlink-climbing.tar"
tar -C "$work/links" --format=gnu --blocking-factor=1 --sort=name -P \
  --transform="s,^active-project/first\$,$escape/first,RSh" -cf "$work/hardlink.tar" active-project
{ cat "$work/head.tar"; head -c -1024 "$work/hardlink.tar"; trailer; } > "$out/hardlink-absolute.tar"

# One entry, two names: a GNU long name, then a pax path leaving the tree.
# GNU tar and BusyBox take the pax path, libarchive and Python the long name.
long="active-project/harmless.txt"
record=" path=active-project/../../escaped.txt"$'\n'
record="$(( ${#record} + 2 ))$record"
{ header "././@LongLink" L ${#long}; data "$long"; header "PaxHeaders/escaped" x ${#record}; data "$record"
  header "active-project/harmless.txt" 0 6; data "escape"; } | hostile two-names.tar

# Device nodes and a FIFO.
header "active-project/null" 3 0 "" 1 3 | hostile chardev.tar
header "active-project/disk" 4 0 "" 8 0 | hostile blockdev.tar
header "active-project/pipe" 6 0 | hostile fifo.tar

# A header whose checksum is wrong by one.
cp "$work/project.tar" "$out/bad-checksum.tar"
off=$(( $(stat -c %s "$work/head.tar") - 1024 ))  # the last entry's header: the prefs file
put "$out/bad-checksum.tar" $((off + 148)) "$(printf '%06o' $(( $(od -An -j $((off + 148)) -N 6 -c "$out/bad-checksum.tar" | tr -d ' ') + 1 )))"

# A size field in base-256 form declaring 1 TiB, with a few bytes of data.
header "active-project/huge.bin" 0 0 > "$work/huge"
put "$work/huge" 124 '\x80\0\0\0\0\0\x01\0\0\0\0\0'
fix_checksum "$work/huge" 0
{ cat "$work/huge"; data "not a terabyte"; } | hostile base256-terabyte.tar

# A sparse file of 1 TiB: a few hundred bytes of archive, a terabyte on disk.
mkdir -p "$work/sparse/active-project"
cp "$src/active-project/project.xml" "$work/sparse/active-project/"
truncate -s 1T "$work/sparse/active-project/sparse.bin"
tar -C "$work/sparse" --format=gnu --sparse -cf "$out/sparse-terabyte.tar" active-project
rm "$work/sparse/active-project/sparse.bin"

# A gzip bomb: 256 MiB of zeros in a tar, about 250 KiB compressed.
{
  cat "$work/head.tar"
  header "active-project/zeros.bin" 0 $((256 << 20))
  head -c $((256 << 20)) /dev/zero
  trailer
} | gzip -9 -n > "$out/bomb.tgz"

# A path deeper than PATH_MAX allows.
deep=$(printf 'd/%.0s' $(seq 2100))
printf 'deep\n' > "$src/f"
systar --transform "s,^f\$,active-project/${deep}f," -cf "$out/path-too-long.tar" active-project f
rm "$src/f"

# gzip with garbage after the member: right after it, and after zero padding.
gzip -n -c "$work/project.tar" > "$work/project.tgz"
{ cat "$work/project.tgz"; printf 'GARBAGE'; } > "$out/trailing-garbage.tgz"
{ cat "$work/project.tgz"; head -c 100 /dev/zero; printf 'GARBAGE'; } > "$out/padded-garbage.tgz"

# gzip whose trailer does not match its data: the CRC's first byte changed.
cp "$work/project.tgz" "$out/bad-crc.tgz"
crc=$(( $(stat -c %s "$out/bad-crc.tgz") - 8 ))
put "$out/bad-crc.tgz" "$crc" "$(printf '\\x%02x' $(( $(od -An -tu1 -j "$crc" -N 1 "$out/bad-crc.tgz") ^ 0xff )))"

# Deflate data damaged after the project: the project in a stored block, then
# a block of the type that does not exist, at byte 15 + the project's size.
len=$(stat -c %s "$work/head.tar")
{
  printf '\x1f\x8b\x08\0\0\0\0\0\0\x03\0'
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((len & 255)) $((len >> 8)) $((~len & 255)) $(((~len >> 8) & 255)))"
  cat "$work/head.tar"
  printf '\x07'
  head -c 64 /dev/zero
} > "$out/bad-deflate.tgz"

# ------------------------------------------------------------ loaded

# gzip padded with zeros after the member, as tape tools write it.
{ cat "$work/project.tgz"; head -c 1000 /dev/zero; } > "$out/zero-padded.tgz"

# The tar split into two gzip members.
size=$(stat -c %s "$work/project.tar")
head -c $((size / 2)) "$work/project.tar" > "$work/first"
tail -c +$((size / 2 + 1)) "$work/project.tar" > "$work/rest"
{ gzip -n -c "$work/first"; gzip -n -c "$work/rest"; } > "$out/concatenated.tgz"

# A size field in base-256 form for a small file.
header "active-project/base256.txt" 0 0 > "$work/b256"
put "$work/b256" 124 '\x80\0\0\0\0\0\0\0\0\0\0\x0c'
fix_checksum "$work/b256" 0
{ cat "$work/b256"; data "twelve bytes"; } | hostile base256-size.tar

# Names that are not valid UTF-8: a device, a file, and the gzip member.
mkdir -p "$work/utf/active-project/devices/tando/00:1a:2b:3c:4d:5e" "$work/utf/active-project/notes"
cp "$src/active-project/project.xml" "$work/utf/active-project/"
cp "$src/active-project/devices/tando/00:1a:2b:3c:4d:5e/prefs" "$work/utf/active-project/devices/tando/00:1a:2b:3c:4d:5e/"
mkdir -p "$work/utf/active-project/devices/tando/"$'\xff\xfe'
printf '<prefs><UnitName>Bad</UnitName></prefs>\n' > "$work/utf/active-project/devices/tando/"$'\xff\xfe/prefs'
printf 'Latin-1 name\n' > "$work/utf/active-project/notes/B"$'\xfc'"hne.txt"
tar -C "$work/utf" --format=gnu --sort=name -cf "$out/invalid-utf8.tar" active-project
cp "$work/project.tar" "$work/B"$'\xfc'"hne.tar"
(cd "$work" && gzip -N -c "B"$'\xfc'"hne.tar") > "$out/invalid-utf8-member.tgz"

# 1000 nested directories, well inside PATH_MAX.
nested=$(printf 'n/%.0s' $(seq 1000))
printf 'nested\n' > "$src/f"
systar --transform "s,^f\$,active-project/${nested}deep.txt," -cf "$out/deep-nesting.tar" active-project f
rm "$src/f"

# A project of a few hundred MB must still load: a sparse file of 400 MiB
# (its holes cost no space in the archive, nor when unpacked).
mkdir -p "$work/large/active-project"
cp "$src/active-project/project.xml" "$work/large/active-project/"
truncate -s 400M "$work/large/active-project/video.bin"
printf 'start' | dd of="$work/large/active-project/video.bin" conv=notrunc status=none
tar -C "$work/large" --format=gnu --sparse --sort=name -cf "$out/large-sparse.tar" active-project
rm -rf "$work/large"

# 10 000 devices.
many="$work/many/active-project/devices/tando"
mkdir -p "$many"
cp "$src/active-project/project.xml" "$work/many/active-project/"
for ((i = 0; i < 10000; i++)); do printf '00:1a:2b:%02x:%02x:%02x\n' $((i >> 16)) $(((i >> 8) & 255)) $((i & 255)); done > "$work/macs"
(cd "$many" && xargs mkdir < "$work/macs")
while read -r mac; do printf '<prefs><UnitName>D%s</UnitName></prefs>\n' "${mac//:/}" > "$many/$mac/prefs"; done < "$work/macs"
tar -C "$work/many" --format=gnu --sort=name -cf - active-project | gzip -n > "$out/10000-devices.tgz"

echo "hostile archives written to $out"
