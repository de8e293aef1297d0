#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The AppStream metainfo: appstreamcli accepts it (no network: URLs are not
# fetched), its newest release is the version being built, and its licence is
# the one the package's copyright file gives all files.
# tst_metainfo.sh APPSTREAMCLI METAINFO PROJECT_VERSION COPYRIGHT
set -uo pipefail
appstreamcli="$1" metainfo="$2" version="$3" copyright="$4"
command -v "$appstreamcli" >/dev/null || { echo "FAIL: appstreamcli not found (scripts/setup-deps.sh installs it)"; exit 1; }

"$appstreamcli" validate --no-net --explain "$metainfo" || { echo "FAIL: appstreamcli validate"; exit 1; }

newest="$(grep -o '<release [^>]*version="[^"]*"' "$metainfo" | head -n 1 | sed 's/.*version="\([^"]*\)"/\1/')"
if [ "$newest" != "$version" ]; then
  echo "FAIL: the newest release in the metainfo is \"$newest\", the project is $version: add a <release>"
  exit 1
fi

project_license="$(sed -n 's|^ *<project_license>\(.*\)</project_license>$|\1|p' "$metainfo")"
files_license="$(awk '/^Files: \*$/ { all = 1; next } all && /^License: / { print $2; exit } /^$/ { all = 0 }' "$copyright")"
if [ -z "$project_license" ] || [ "$project_license" != "$files_license" ]; then
  echo "FAIL: the metainfo's project_license is \"$project_license\", the copyright file gives \"Files: *\" \"$files_license\""
  exit 1
fi
echo "metainfo OK: release $newest, licence $project_license"
