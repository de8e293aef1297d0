#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the seed corpus of every fuzz target into fuzz/corpus/<target>, made
# with the system's tar and gzip: small valid projects, archives and XML files
# from which the fuzzer starts. Run again after changing it; the output is
# committed. Usage: fuzz/make-seed-corpus.sh
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
corpus="$here/corpus"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export LC_ALL=C TZ=UTC

rm -rf "$corpus"
mkdir -p "$corpus"/{fuzz_mac,fuzz_tarheaders,fuzz_load_tgz,fuzz_load_tar,fuzz_xml,fuzz_csv}

# --- fuzz_mac: the first byte picks the separator (0 ":", 1 "_", 2 "-", 3 ".", 4 " ")
mac() { printf "$1" > "$corpus/fuzz_mac/$2"; }
mac '\000''00:1A:2B:3C:4D:5E' colon-upper
mac '\001''a-b-c-d-e-f' one-digit-dashes
mac '\000''00.1a.2b.3c.4d.5e' dots
mac '\002''aa bb cc dd ee ff' spaces
mac '\000''aa::bb:cc:dd:ee' empty-piece
mac '\001''00_1a_2b_3c_4d_5e' underscore

# --- a small project tree
tree="$work/tree"
ap="$tree/active-project"
mkdir -p "$ap/devices/ksb12/00:1a:2b:00:00:01" "$ap/devices/tando/00:1a:2b:3c:4d:5e/profiles"
printf '<?xml version="1.0" encoding="UTF-8"?>\n<project>\n <name>Hall</name>\n <author>Ann</author>\n <description>Show</description>\n</project>\n' > "$ap/project.xml"
printf 'Stage\0\0\0\0\0\0\0\0\0\0\0KSB12' > "$ap/devices/ksb12/00:1a:2b:00:00:01/prefs"
printf '<prefs>\n <UnitName>Front</UnitName>\n</prefs>\n' > "$ap/devices/tando/00:1a:2b:3c:4d:5e/prefs"
printf '<profile>\n <unit><mac>00:1a:2b:00:00:01</mac><unitname>Stage</unitname></unit>\n</profile>\n' \
  > "$ap/devices/tando/00:1a:2b:3c:4d:5e/profiles/default.xml"
ln -s project.xml "$ap/settings-link"
ln "$ap/project.xml" "$ap/project-twin.xml"

pack() { # format output [members...]
  local format="$1" out="$2"; shift 2
  local pax=()
  [ "$format" = pax ] && pax=(--pax-option=delete=atime,delete=ctime)
  tar -C "$tree" --format="$format" --blocking-factor=1 --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner \
    "${pax[@]}" -cf "$out" "$@"
}
pack ustar "$work/ustar.tar" active-project
pack gnu "$work/gnu.tar" active-project
pack pax "$work/pax.tar" active-project
# A name too long for the header: a GNU long-name entry and a pax path record.
long="$ap/devices/tando/00:1a:2b:3c:4d:5e/profiles/$(printf 'n%.0s' $(seq 120)).xml"
printf '<profile/>\n' > "$long"
pack gnu "$work/gnu-long.tar" active-project
pack pax "$work/pax-long.tar" active-project
rm "$long"

for t in ustar gnu pax gnu-long pax-long; do
  cp "$work/$t.tar" "$corpus/fuzz_load_tar/$t.tar"
  cp "$work/$t.tar" "$corpus/fuzz_load_tgz/$t.tar"  # fuzz_load_tgz gzips its inputs itself
  cp "$work/$t.tar" "$corpus/fuzz_tarheaders/$t.tar"
done
# The gzip layer as raw bytes (fuzz_load_tar takes any bytes, gzip told by
# the content): with the original name, without it, and two members.
cp "$work/ustar.tar" "$work/project.tar"
touch -d @1600000000 "$work/project.tar"  # gzip -N keeps the time: the same bytes on every run
gzip -9 -N -c "$work/project.tar" > "$corpus/fuzz_load_tar/named.tgz"
gzip -9 -n -c "$work/gnu.tar" > "$corpus/fuzz_load_tar/unnamed.tgz"
head -c 3072 "$work/pax.tar" > "$work/first" && tail -c +3073 "$work/pax.tar" > "$work/rest"
{ gzip -n -c "$work/first"; gzip -n -c "$work/rest"; } > "$corpus/fuzz_load_tar/two-members.tgz"

# --- fuzz_xml
cp "$ap/project.xml" "$corpus/fuzz_xml/project.xml"
cp "$ap/devices/tando/00:1a:2b:3c:4d:5e/prefs" "$corpus/fuzz_xml/prefs.xml"
cp "$ap/devices/tando/00:1a:2b:3c:4d:5e/profiles/default.xml" "$corpus/fuzz_xml/profile.xml"
printf '<?xml version="1.0" encoding="ISO-8859-1"?>\n<project><name>B\374hne</name><description><![CDATA[a <b> &c]]></description></project>\n' \
  > "$corpus/fuzz_xml/latin1.xml"
printf '<?xml version="1.0"?>\n<!DOCTYPE project [<!ELEMENT project ANY>]>\n<!-- c --><project a="1"><name>x&amp;y&#x20ac;</name><?pi data?></project>\n' \
  > "$corpus/fuzz_xml/doctype.xml"
printf '<project>\n <name>  </name>\n <notes><![CDATA[<!ENTITY x "y">]]></notes>\n</project>\n' \
  > "$corpus/fuzz_xml/blank-name-entity-look-alike.xml"
printf '<?xml version="1.0" encoding="ISO-8859-1"?>\n<project a="1" b="&#9;&quot;"><name><!--c-->&#x1F600;</name><e>&#xd;</e></project>\n' \
  > "$corpus/fuzz_xml/latin1-beyond-bmp.xml"
printf '<!DOCTYPE p [<!ENTITY e "x">]><p><name>&e;</name></p>' > "$corpus/fuzz_xml/entity-declared.xml"
printf '<!DOCTYPE p SYSTEM "x.dtd"><p><name>a&foo;b</name></p>' > "$corpus/fuzz_xml/external-entity-reference.xml"
{ printf '<p><name>x</name>'; for _ in $(seq 300); do printf '<d>'; done; for _ in $(seq 300); do printf '</d>'; done
  printf '</p>\n'; } > "$corpus/fuzz_xml/too-deep.xml"
# Inputs that once broke a check, kept as seeds so that every run tries them.
printf '<?xml version="1\0470" encoding="ISO-8859-1"?>\n<project><name>B\374hne</name></project>\n' \
  > "$corpus/fuzz_xml/found-quote-in-version.xml"
printf '<?xmljips version="1.0" encoding="ISO-8859-1"?>\n<project><name>x</name></project>\n' \
  > "$corpus/fuzz_xml/found-look-alike-declaration.xml"
printf '<?xml version="1.0" encoding="ISO-8-->859-1"?>\n<project><name>\n<project><name>B\374hne</name></project>x</name></project>\n' \
  > "$corpus/fuzz_xml/found-element-first-child.xml"
utf="$work/utf"
mkdir -p "$utf/active-project/devices/tando/00_1a_2b_"$'\x8b'"c_4d_5e"
cp "$ap/project.xml" "$utf/active-project/"
printf '<prefs/>\n' > "$utf/active-project/devices/tando/00_1a_2b_"$'\x8b'"c_4d_5e/prefs"
tar -C "$utf" --format=ustar --blocking-factor=1 --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner \
  -cf "$corpus/fuzz_load_tar/found-name-not-utf8.tar" active-project
cp "$corpus/fuzz_load_tar/found-name-not-utf8.tar" "$corpus/fuzz_load_tgz/"
cp "$work/ustar.tar" "$work/B"$'\xfc'"hne.tar"
touch -d @1600000000 "$work/B"$'\xfc'"hne.tar"
(cd "$work" && gzip -9 -N -c "B"$'\xfc'"hne.tar") > "$corpus/fuzz_load_tar/found-member-name-not-utf8.tgz"

# --- fuzz_csv: changes files for the target's project (00:1a:2b:00:00:01,
# 00:1a:2b:3c:4d:5e, 0a:0b:0c:0d:0e:0f)
printf 'type,label,mac,new_label,new_mac\nKSB12,Front,00:1a:2b:00:00:01,Stage,00:00:ff\n' > "$corpus/fuzz_csv/comma.csv"
printf '\xef\xbb\xbfmac;new_mac\r\n"0a-0B-0c-0d-0e-0f";0a:0b:0c:01:02:03\r\n' > "$corpus/fuzz_csv/semicolon-bom.csv"
printf 'mac,new_label\n00:1a:2b:3c:4d:5e,"a ""b"", c"\n' > "$corpus/fuzz_csv/quoted.csv"

echo "seed corpus written to $corpus"
