#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package with cpack, has lintian check it, unpacks it with
# dpkg -x into a fresh directory and checks what an installation would get:
# the file list, modes and owners, the control fields, dependencies that name
# installed Debian packages, the installed tools running and naming their
# licence, the metadata of the installed tree, and an editor that starts with
# only QML modules its dependencies bring.
# tst_package.sh CPACK CPACK_CONFIG WORK_DIR APPSTREAMCLI EXPECTED_FILES LINTIAN
set -uo pipefail
cpack="$1" config="$2" work="$3" appstreamcli="$4" expected_files="$5" lintian="$6"
app_id=org.norvel.TandoProjectEditor
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
die() { echo "FAIL: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
"$cpack" -G DEB --config "$config" -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; die "cpack -G DEB"; }
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || die "cpack made ${#debs[@]} .deb files"
deb="${debs[0]}"
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

# Debian's checks of a package: no error and no warning; informational tags
# are shown.
if command -v "$lintian" >/dev/null; then
  "$lintian" --fail-on error,warning --display-info "$deb" >"$work/lintian.log" 2>&1
  code=$?
  cat "$work/lintian.log"
  if [ $code -eq 0 ]; then
    echo "lintian: no errors or warnings"
  else
    fail "lintian exited with $code: errors or warnings above"
  fi
else
  echo "SKIP lintian: not installed (scripts/setup-deps.sh test installs it)"
fi

root="$work/root"
dpkg -x "$deb" "$root" || die "dpkg -x"

# The file list, exactly.
diff <(LC_ALL=C sort "$expected_files") <(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort) \
  || fail "the package's files differ from $(basename "$expected_files") (< expected, > packaged)"

# Owners and modes as dpkg will install them.
while read -r mode owner _ _ _ path; do
  case "$path" in
    ./usr/bin/?*) want=-rwxr-xr-x ;;
    */) want=drwxr-xr-x ;;
    *) want=-rw-r--r-- ;;
  esac
  [ "$mode" = "$want" ] || fail "$path has mode $mode, not $want"
  [ "$owner" = root/root ] || fail "$path is owned by $owner"
done < <(dpkg-deb --contents "$deb")

for program in tando-project tando-project-editor; do
  file -b "$root/usr/bin/$program" | grep -q 'ELF.*, stripped' || fail "usr/bin/$program is not a stripped executable"
done
for png in "$root"/usr/share/icons/hicolor/*x*/apps/$app_id.png; do
  size="$(basename "$(dirname "$(dirname "$png")")")"
  file -b "$png" | grep -q "^PNG image data, ${size/x/ x }," || fail "$png is not a $size PNG: $(file -b "$png")"
done
for page in "$root"/usr/share/man/man1/*.1.gz; do
  gzip -t "$page" || fail "$page is not gzip data"
done

# Control fields.
field() { dpkg-deb --field "$deb" "$1"; }
version="$(field Version)"
[ "$(field Package)" = tando-project-editor ] || fail "Package is \"$(field Package)\""
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is \"$(field Architecture)\""
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends="$(field Depends)"
echo "Depends: $depends"

# Every dependency is a Debian package (they are all installed here, where the
# package was built and its programs run); the libraries come versioned from
# dpkg-shlibdeps.
mapfile -t dependency_names < <(tr ',' '\n' <<<"$depends" | sed -E 's/^ *//; s/[ (:].*//' | grep .)
for name in "${dependency_names[@]}"; do
  dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'install ok installed' \
    || fail "dependency $name is not an installed Debian package"
done
for library in libqt5core5a libqt5quick5 libqt5widgets5 libarchive13; do
  grep -Eq "(^|, )$library \(>= [^)]+\)" <<<"$depends" || fail "no versioned dependency on $library (dpkg-shlibdeps)"
done
grep -Eq '(^|, )fonts-liberation(,|$| )' <<<"$depends" || fail "no dependency on fonts-liberation, the window's font"

# The installed command-line tool runs and reports the package's version.
reported="$("$root/usr/bin/tando-project" --version)" || fail "installed tando-project --version exited with $?"
[[ "$reported" == "tando-project $version (revision "* ]] || fail "tando-project --version says \"$reported\", the package is $version"
echo "installed: $(head -n 1 <<<"$reported")"
# It names the licence and where its text is: in Debian's common licences and
# in the package's copyright file, whose "Files: *" licence is the one named.
grep -qF GPL-3.0-or-later <<<"$reported" || fail "tando-project --version names no GPL-3.0-or-later"
for path in /usr/share/common-licenses/GPL-3 /usr/share/doc/tando-project-editor/copyright; do
  grep -qF "$path" <<<"$reported" || fail "tando-project --version does not name $path"
done
[ -f /usr/share/common-licenses/GPL-3 ] || fail "/usr/share/common-licenses/GPL-3 is missing here"
copyright="$root/usr/share/doc/tando-project-editor/copyright"
grep -qx 'Files: \*' "$copyright" && grep -qx 'License: GPL-3.0-or-later' "$copyright" \
  || fail "the copyright file gives no \"Files: *\" under GPL-3.0-or-later"

# The installed tree's metadata: metainfo, the desktop entry it launches, icons.
if command -v "$appstreamcli" >/dev/null; then
  "$appstreamcli" validate-tree --no-net "$root" || fail "appstreamcli validate-tree"
else
  fail "appstreamcli not found (scripts/setup-deps.sh installs it)"
fi

# The installed editor starts headless. Its QML imports are resolved as the
# window's document compiles; a document that fails makes it exit at once.
# Each QML module it loads must come from a package that the .deb depends on,
# directly or through one of its dependencies.
trace="$work/editor.log"
QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software QML_IMPORT_TRACE=1 \
  "$root/usr/bin/tando-project-editor" >"$trace" 2>&1 &
editor=$!
started=no
for _ in $(seq 1 300); do
  kill -0 $editor 2>/dev/null || break
  if grep -q 'QtQuick.Dialogs' "$trace"; then
    sleep 2
    kill -0 $editor 2>/dev/null && started=yes
    break
  fi
  sleep 0.1
done
kill $editor 2>/dev/null
wait $editor 2>/dev/null
if [ $started = yes ]; then
  echo "installed editor started"
else
  fail "the installed editor did not start:"
  grep -v 'QQmlImport' "$trace" | head -n 20
fi

mapfile -t qmldirs < <(grep -oE '"/[^"]+/qmldir"' "$trace" | tr -d '"' | sort -u)
[ ${#qmldirs[@]} -gt 0 ] || fail "the editor loaded no QML module from the system"
reachable=" ${dependency_names[*]} "
for name in "${dependency_names[@]}"; do
  for indirect in $(dpkg-query -W -f='${Depends}' "$name" 2>/dev/null | tr ',|' '\n\n' | sed -E 's/^ *//; s/[ (:].*//'); do
    reachable+="$indirect "
  done
done
for qmldir in "${qmldirs[@]}"; do
  owner="$(dpkg-query -S "$qmldir" 2>/dev/null | head -n 1 | cut -d: -f1)"
  if [ -z "$owner" ]; then
    fail "QML module $qmldir belongs to no package"
  elif [[ "$reachable" != *" $owner "* ]]; then
    fail "QML module $qmldir comes from $owner, which the package does not depend on"
  fi
done
# And no QML module package is declared that the editor does not load.
for name in "${dependency_names[@]}"; do
  [[ "$name" == qml-module-* ]] || continue
  grep -qxF -f <(dpkg-query -L "$name" | grep '/qmldir$') <(printf '%s\n' "${qmldirs[@]}") \
    || fail "the package depends on $name, but the editor loads no QML module of it"
done
echo "QML modules loaded: ${#qmldirs[@]}, all from dependencies"

[ $failures -eq 0 ] && echo "package OK: $(basename "$deb")"
exit $((failures > 0))
