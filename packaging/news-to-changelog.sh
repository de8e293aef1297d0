#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the package's changelog.gz from NEWS.md. The package is native, so
# dpkg tools and lintian read changelog.gz as a Debian changelog: each
# "## VERSION (YYYY-MM-DD)" section becomes an entry, its "- " items become
# "  * " items. gzip -9n and dates from NEWS.md keep the output the same on
# every build.
#   news-to-changelog.sh NEWS.md PACKAGE VERSION MAINTAINER OUTPUT.gz
set -euo pipefail
news="$1" package="$2" version="$3" maintainer="$4" output="$5"
export LC_ALL=C

text="$(awk -v package="$package" -v maintainer="$maintainer" '
  function fail(why) { printf "%s:%d: %s\n", FILENAME, FNR, why > "/dev/stderr"; failed = 1; exit 1 }
  function close_entry() {
    if (!open) return
    if (!items) fail("version " version " lists nothing")
    printf "\n -- %s  %s\n\n", maintainer, date
    open = 0
  }
  /^## / {
    if (!match($0, /^## [0-9][0-9A-Za-z.+~]* \([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]\)$/))
      fail("a version heading is \"## VERSION (YYYY-MM-DD)\"")
    close_entry()
    version = $2
    day = substr($3, 2, 10)
    command = "date -u -R -d " day " 2>/dev/null"
    date = ""
    command | getline date
    close(command)
    if (date == "") fail("no such day: " day)
    printf "%s (%s) unstable; urgency=medium\n\n", package, version
    open = 1; items = 0
    next
  }
  !open { next }  # the introduction above the first version
  /^$/ { next }
  length($0) > 76 { fail("longer than 76 characters") }
  /^- / { print "  * " substr($0, 3); items++; next }
  /^  [^ ]/ { if (!items) fail("a continuation line before any item"); print "    " substr($0, 3); next }
  { fail("neither a \"- \" item nor its continuation indented by two spaces") }
  END { if (!failed) close_entry() }
' "$news")"

newest="$(sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p' <<<"$text")"
if [ "$newest" != "$version" ]; then
  echo "$news: the newest version is \"$newest\", the project is $version: say what $version brings" >&2
  exit 1
fi
printf '%s\n' "$text" | gzip -9n >"$output.tmp"
mv "$output.tmp" "$output"
