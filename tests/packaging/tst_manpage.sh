#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The manual pages format without warnings and state the licence in their
# COPYRIGHT section; the command-line tool's page documents every option that
# "tando-project --help" lists.
# tst_manpage.sh TANDO_PROJECT MANPAGE [OTHER_MANPAGE...]
set -uo pipefail
tool="$1" page="$2"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for each in "${@:2}"; do
  warnings="$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$each" 2>&1 >/dev/null)"
  [ -z "$warnings" ] || fail "$(basename "$each"): man reports: $warnings"
  copyright="$(LC_ALL=C.UTF-8 MANWIDTH=250 man -l "$each" 2>/dev/null | sed -n '/^COPYRIGHT$/,/^[A-Z]/p')"
  for needed in GPL-3.0-or-later /usr/share/common-licenses/GPL-3 /usr/share/doc/tando-project-editor/copyright; do
    grep -qF -- "$needed" <<<"$copyright" || fail "$(basename "$each"): the COPYRIGHT section does not name $needed"
  done
done

# Wide lines keep option names whole.
text="$(LC_ALL=C.UTF-8 MANWIDTH=250 man -l "$page" 2>/dev/null)"
[ -n "$text" ] || fail "the page renders empty"

options="$("$tool" --help | grep -oE -- '(^|[^a-z-])(--[a-z][a-z-]*|-[a-z])\b' | grep -oE -- '-+[a-z-]+' | sort -u)"
[ -n "$options" ] || fail "found no options in --help"
for option in $options; do
  grep -qE -- "(^|[^-[:alnum:]])$option([^-[:alnum:]]|\$)" <<<"$text" || fail "option $option of --help is not in the manual page"
  # Typed with "\-" so that it prints as a minus that can be copied, not as a hyphen.
  grep -qF -- "${option//-/\\-}" "$page" || fail "option $option is not written as ${option//-/\\-} in the source"
done
for command in show edit diff check; do
  grep -q "tando-project $command" <<<"$text" || fail "command $command missing from the synopsis"
done

[ $failures -eq 0 ] && echo "manual pages OK: $(( $# - 1 )); options:" $options
exit $((failures > 0))
