#!/usr/bin/env bash
# The AppStream metainfo: appstreamcli accepts it (no network: URLs are not
# fetched), and its newest release is the version being built.
# tst_metainfo.sh APPSTREAMCLI METAINFO PROJECT_VERSION
set -uo pipefail
appstreamcli="$1" metainfo="$2" version="$3"
command -v "$appstreamcli" >/dev/null || { echo "FAIL: appstreamcli not found (scripts/setup-deps.sh installs it)"; exit 1; }

"$appstreamcli" validate --no-net --explain "$metainfo" || { echo "FAIL: appstreamcli validate"; exit 1; }

newest="$(grep -o '<release [^>]*version="[^"]*"' "$metainfo" | head -n 1 | sed 's/.*version="\([^"]*\)"/\1/')"
if [ "$newest" != "$version" ]; then
  echo "FAIL: the newest release in the metainfo is \"$newest\", the project is $version: add a <release>"
  exit 1
fi
echo "metainfo OK: release $newest"
