#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The desktop entry: valid without warnings, and launching the editor bare, so
# that it is offered in no "Open with" list for files it would not open.
# tst_desktop_entry.sh DESKTOP_FILE_VALIDATE ENTRY
set -uo pipefail
validate="$1" entry="$2"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

command -v "$validate" >/dev/null || { echo "FAIL: desktop-file-validate not found (scripts/setup-deps.sh installs it)"; exit 1; }

report="$("$validate" "$entry" 2>&1)"
status=$?
[ $status -eq 0 ] || fail "desktop-file-validate exited with $status"
[ -z "$report" ] || fail "desktop-file-validate reported: $report"

# The value of KEY in the [Desktop Entry] group.
value() {
  awk -F= -v key="$1" '/^\[/ { group = $0; next }
    group == "[Desktop Entry]" && $1 == key { sub(/^[^=]*=/, ""); print; exit }' "$entry"
}

[ "$(value Type)" = Application ] || fail "Type is not Application"
[ "$(value Name)" = "Tando Project Editor" ] || fail "Name is \"$(value Name)\""
[ -n "$(value Comment)" ] || fail "no Comment"
[ -n "$(value Categories)" ] || fail "no Categories"
icon="$(value Icon)"
[ "$icon.desktop" = "$(basename "$entry")" ] || fail "Icon \"$icon\" is not the entry's id"
[ "$(value Exec)" = "tando-project-editor %f" ] || fail "Exec is \"$(value Exec)\", not the editor with one file"
grep -Eq '^MimeType' "$entry" && fail "MimeType declared: the editor claims no file type"

[ $failures -eq 0 ] && echo "desktop entry OK: $(basename "$entry")"
exit $((failures > 0))
