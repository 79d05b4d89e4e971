#!/usr/bin/env bash
# Makes the Debian package from an already built tree and checks it:
#
#   package_test.sh BUILD_DIR WITH_PROGRAM
#
# WITH_PROGRAM is 1 when the build has the windowed program. Exit status 0
# when every check passes, 1 on the first failure (named on stderr), 77 when
# a tool the test cannot do without is missing.
set -uo pipefail

build=$1
with_program=$2
for tool in cpack dpkg-deb; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool not found"
        exit 77
    fi
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# A package made from a sanitizer build runs its programs under the
# sanitizers; the leak checker's report is not what this test is about.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# --- the package ------------------------------------------------------------
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    echo "FAIL: cpack failed" >&2
    exit 1
fi
debs=("$scratch"/out/veltra-log_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "FAIL: cpack made no single veltra-log_*.deb: ${debs[*]}" >&2
    exit 1
fi
deb=${debs[0]}
echo "package: $deb"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = veltra-log ] || fail "Package field is '$(field Package)'"
for f in Version Maintainer Description Section Homepage Architecture; do
    [ -n "$(field "$f")" ] || fail "the $f field is empty"
done
# dpkg-shlibdeps named the libraries the programs link against.
depends=$(field Depends)
echo "Depends: $depends"
for lib in libc6 libstdc++6 libicu; do
    grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib"
done
if [ "$with_program" = 1 ]; then
    grep -q libqt6widgets6 <<<"$depends" || fail "Depends lacks libqt6widgets6"
fi

# --- what it installs where ---------------------------------------------------
dpkg-deb --contents "$deb" | awk '{print $6}' | sed -e 's|^\./||' -e 's|/$||' >"$scratch/contents"
expected=(
    usr/bin/vltable
    usr/share/man/man1/vltable.1.gz
    usr/share/doc/veltra-log/copyright
    usr/share/doc/veltra-log/changelog.gz
)
with_program_files=(
    usr/bin/veltra-log
    usr/bin/veltra-log-setup-folder
    usr/share/applications/veltra-log.desktop
    usr/share/icons/hicolor/scalable/apps/veltra-log.svg
    usr/share/metainfo/veltra-log.metainfo.xml
    usr/share/man/man1/veltra-log.1.gz
    usr/share/man/man1/veltra-log-setup-folder.1.gz
    usr/share/veltra-log/datamast.dat
    usr/share/veltra-log/datamast.idx
    usr/share/veltra-log/datamast.blb
    usr/share/veltra-log/sys1.dat
    usr/share/veltra-log/sys1.idx
    usr/share/veltra-log/sys2.dat
    usr/share/veltra-log/sys2.idx
    usr/share/veltra-log/faq.txt
    usr/share/veltra-log/veltrahelp.hlp
    usr/share/veltra-log/veltra-log.svg
)
if [ "$with_program" = 1 ]; then
    expected+=("${with_program_files[@]}")
    if command -v rsvg-convert >/dev/null; then
        expected+=(usr/share/icons/hicolor/48x48/apps/veltra-log.png)
    fi
else
    # Without the program the package holds none of the files that serve it.
    for path in "${with_program_files[@]}"; do
        grep -qx "$path" "$scratch/contents" && fail "a package without the program holds /$path"
    done
fi
for path in "${expected[@]}"; do
    grep -qx "$path" "$scratch/contents" || fail "the package lacks /$path"
done
# The template of a team folder holds no logs, no last user and nothing of a
# program that was run from the build tree.
if grep -E '^usr/share/veltra-log/(data(/|$)|user\.txt$|kesh_1_1\.ini$)' "$scratch/contents"; then
    fail "the team folder template holds files of a folder in use"
fi

# --- the unpacked programs ----------------------------------------------------
root=$scratch/root
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb -x failed" >&2; exit 1; }
vltable=$root/usr/bin/vltable
"$vltable" --help >"$scratch/help.out" 2>"$scratch/help.err"
rc=$?
[ $rc -eq 0 ] || fail "vltable --help exited with $rc: $(cat "$scratch/help.err")"
grep -q '^usage:' "$scratch/help.out" || fail "vltable --help printed no usage"
grep -q 'vltable verify TABLE' "$scratch/help.out" || fail "vltable --help does not list verify"
"$vltable" --no-such-option >/dev/null 2>&1
rc=$?
[ $rc -eq 2 ] || fail "vltable with a bad option exited with $rc, not 2"
if [ "$with_program" = 1 ]; then
    [ -x "$root/usr/bin/veltra-log" ] || fail "veltra-log is not executable"
    # Without a display the program explains itself instead of aborting.
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/veltra-log" \
        >/dev/null 2>"$scratch/gui.err"
    rc=$?
    [ $rc -eq 2 ] || fail "veltra-log without a display exited with $rc, not 2"
    grep -q 'needs a graphical display' "$scratch/gui.err" ||
        fail "veltra-log without a display said: $(cat "$scratch/gui.err")"
    # Its command line works without a display.
    "$root/usr/bin/veltra-log" --help >"$scratch/gui.out" 2>&1 || fail "veltra-log --help failed"
    grep -q -- '--folder FOLDER' "$scratch/gui.out" || fail "veltra-log --help said: $(cat "$scratch/gui.out")"
    "$root/usr/bin/veltra-log" --bogus >/dev/null 2>&1
    rc=$?
    [ $rc -eq 2 ] || fail "veltra-log with a bad option exited with $rc, not 2"
fi

# --- the installed data files -------------------------------------------------
if [ "$with_program" != 1 ]; then
    :
elif command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/usr/share/applications/veltra-log.desktop" ||
        fail "desktop-file-validate rejects the desktop entry"
else
    echo "note: desktop-file-validate not found (package desktop-file-utils): desktop entry not validated"
fi
if [ "$with_program" != 1 ]; then
    :
elif command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$root/usr/share/metainfo/veltra-log.metainfo.xml" ||
        fail "appstreamcli rejects the metainfo"
else
    echo "note: appstreamcli not found (package appstream): metainfo not validated"
fi
pages=(vltable)
[ "$with_program" = 1 ] && pages+=(veltra-log veltra-log-setup-folder)
for page in "${pages[@]}"; do
    gz=$root/usr/share/man/man1/$page.1.gz
    if ! gzip -t "$gz" 2>/dev/null; then
        fail "$page.1.gz is not gzip data"
        continue
    fi
    gzip -dc "$gz" | grep -q '^\.TH ' || fail "$page.1.gz has no .TH line"
    gzip -dc "$gz" | grep -q '^\.SH NAME' || fail "$page.1.gz has no NAME section"
done
png=$root/usr/share/icons/hicolor/48x48/apps/veltra-log.png
if [ -f "$png" ]; then
    # PNG signature, then the IHDR chunk: width and height as 32-bit big-endian.
    header=$(od -An -tx1 -N24 "$png" | tr -d ' \n')
    [ "${header:0:16}" = 89504e470d0a1a0a ] || fail "the 48x48 icon is not a PNG"
    [ "${header:32:16}" = 0000003000000030 ] || fail "the 48x48 icon is not 48x48 (IHDR ${header:32:16})"
fi

# --- the installed tables and a team folder laid out from them ----------------
if [ "$with_program" = 1 ]; then
    setup=$root/usr/bin/veltra-log-setup-folder
    team="$scratch/shared drive/team"
    "$setup" "$team" >"$scratch/setup.out" 2>&1 || fail "setup-folder failed: $(cat "$scratch/setup.out")"
    for f in datamast.dat datamast.idx datamast.blb sys1.dat sys2.dat faq.txt veltrahelp.hlp \
        veltra-log.desktop; do
        [ -f "$team/$f" ] || fail "the team folder lacks $f"
    done
    [ -d "$team/data" ] || fail "the team folder lacks its data folder"
    [ -e "$team/veltra-log" ] && fail "the team folder holds a copy of the program"
    for t in datamast sys1 sys2; do
        "$vltable" verify "$team/$t.dat" >"$scratch/verify.out" 2>&1 ||
            fail "vltable verify $t: $(cat "$scratch/verify.out")"
    done
    [ "$("$vltable" count "$team/sys1.dat" 2>&1)" = 0 ] || fail "the users table is not empty"
    [ "$("$vltable" count "$team/datamast.dat" 2>&1)" = 0 ] || fail "the ticket template is not empty"
    groups=$("$vltable" dump "$team/sys2.dat" --format jsonl 2>&1)
    for g in Managers Developers Reporters Viewers; do
        grep -q "\"$g\"" <<<"$groups" || fail "the groups table lacks $g"
    done
    desktop=$team/veltra-log.desktop
    grep -qx "Exec=veltra-log --folder \"$team\"" "$desktop" ||
        fail "the team desktop entry starts: $(grep ^Exec= "$desktop")"
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the team desktop entry"
    fi

    # A folder in use is refused and left as it was.
    echo "someone" >"$team/user.txt"
    "$vltable" insert "$team/sys1.dat" <<<'{"username": "ANNA", "admin": true}' >/dev/null 2>"$scratch/insert.err" ||
        fail "inserting a user: $(cat "$scratch/insert.err")"
    before=$(cd "$team" && sha256sum sys1.* sys2.* user.txt)
    "$setup" "$team" >/dev/null 2>"$scratch/again.err"
    rc=$?
    [ $rc -eq 1 ] || fail "setting up a folder in use exited with $rc, not 1"
    grep -q 'refusing' "$scratch/again.err" || fail "setting up a folder in use said: $(cat "$scratch/again.err")"
    [ "$(cd "$team" && sha256sum sys1.* sys2.* user.txt)" = "$before" ] ||
        fail "setting up a folder in use changed its tables"

    # Updating the help keeps the tables.
    echo "old" >"$team/veltrahelp.hlp"
    "$setup" --update "$team" >/dev/null 2>&1 || fail "--update failed"
    cmp -s "$team/veltrahelp.hlp" "$root/usr/share/veltra-log/veltrahelp.hlp" || fail "--update left the old help file"
    [ "$(cd "$team" && sha256sum sys1.* sys2.* user.txt)" = "$before" ] ||
        fail "--update changed the tables"
    "$setup" --update "$scratch/not-a-team" >/dev/null 2>&1
    rc=$?
    [ $rc -eq 1 ] || fail "--update on a folder that is no team folder exited with $rc, not 1"
    [ ! -e "$scratch/not-a-team" ] || fail "--update created a folder"
    "$setup" >/dev/null 2>&1
    rc=$?
    [ $rc -eq 2 ] || fail "setup-folder without a folder exited with $rc, not 2"
fi

# --- lintian ------------------------------------------------------------------
if command -v lintian >/dev/null; then
    lintian --tag-display-limit 0 "$deb" >"$scratch/lintian.out" 2>&1
    cat "$scratch/lintian.out"
    if grep -q '^E:' "$scratch/lintian.out"; then
        fail "lintian reports errors"
    fi
else
    echo "note: lintian not found: the package is not linted"
fi

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package checks passed"
