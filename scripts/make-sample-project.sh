#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes a small sample project archive (two KSB12 and three Tando devices)
# with the system's tar and gzip: scripts/make-sample-project.sh OUT.tgz
set -euo pipefail
out="${1:?usage: make-sample-project.sh OUT.tgz}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
ap="$work/active-project"
mkdir -p "$ap/devices/ksb12" "$ap/devices/tando"

cat > "$ap/project.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<project>
  <name>Main Hall</name>
  <author>Ann Example</author>
  <description>Spring show, stage and foyer</description>
</project>
XML

ksb12() { # mac label
  mkdir -p "$ap/devices/ksb12/$1"
  { printf '%s' "$2"; head -c $((16 - ${#2})) /dev/zero; printf 'KSB12-SETTINGS-V1'; } > "$ap/devices/ksb12/$1/prefs"
}
tando() { # mac label peers...
  local mac="$1" label="$2"; shift 2
  mkdir -p "$ap/devices/tando/$mac/profiles"
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<prefs>\n  <UnitName>%s</UnitName>\n</prefs>\n' "$label" \
    > "$ap/devices/tando/$mac/prefs"
  {
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<profile>\n'
    while [ $# -gt 1 ]; do
      printf '  <unit>\n    <mac>%s</mac>\n    <unitname>%s</unitname>\n  </unit>\n' "$1" "$2"
      shift 2
    done
    printf '</profile>\n'
  } > "$ap/devices/tando/$mac/profiles/default.xml"
  head -c 4096 /dev/urandom > "$ap/devices/tando/$mac/firmware.bin"
}

ksb12 "00:1a:2b:00:00:01" "Stage Left"
ksb12 "00:1a:2b:00:00:02" "Stage Right"
tando "00:1a:2b:3c:4d:5e" "Front" "00:1a:2b:00:00:01" "Stage Left" "00:1a:2b:3c:4d:5f" "Foyer"
tando "00:1a:2b:3c:4d:5f" "Foyer" "00:1a:2b:3c:4d:5e" "Front"
tando "00:1a:2b:3c:4d:60" "Balcony" "00:1a:2b:3c:4d:5e" "Front" "00:1a:2b:00:00:02" "Stage Right"

tar -C "$work" -cf "$work/project.tar" active-project
gzip -N -9 -c "$work/project.tar" > "$out"
echo "$out"
