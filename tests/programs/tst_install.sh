#!/usr/bin/env bash
# An installation as a user makes it, and the Debian package: installs the
# build into a temporary prefix, opens the installed settings window there
# (under the test run's private X server and bus), checks the login item it
# writes, the launcher and the metainfo, and lists the package's files.
# Usage: tst_install.sh BUILD_DIR
set -uo pipefail
build=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillvane-install.XXXXXX")
children=()
cleanup() {
    for pid in "${children[@]}"; do kill -9 "$pid" 2>/dev/null; done
    # What the installed page started: the installed cursor program.
    pkill -9 -f "^$scratch/" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
passed=0
failed=0
check() { # check NAME COMMAND...
    local name=$1
    shift
    if "$@" >"$scratch/out" 2>&1; then
        passed=$((passed + 1))
        echo "PASS   : $name"
    else
        failed=$((failed + 1))
        echo "FAIL!  : $name"
        sed 's/^/    /' "$scratch/out" | head -n 20
    fi
}

prefix=$scratch/prefix
export XDG_CONFIG_HOME=$scratch/config HOME=$scratch/home
mkdir -p "$XDG_CONFIG_HOME" "$HOME"

check "cmake --install puts everything under the prefix" \
    cmake --install "$build" --prefix "$prefix"
app=$prefix/lib/quillvane/Quillvane.prefPane/Contents/Resources/Quillvane.app/Contents/Linux/Quillvane

check "the installed settings-host opens the installed page without arguments" \
    "$prefix/bin/settings-host" --screenshot "$scratch/window.png"
check "the screenshot was saved" test -s "$scratch/window.png"
entry=$XDG_CONFIG_HOME/autostart/org.quillvane.Quillvane.desktop
check "the login item runs the installed cursor program" grep -qxF "Exec=\"$app\"" "$entry"
check "the login item tries its program first" grep -qxF "TryExec=$app" "$entry"
check "the login item is a valid desktop entry" desktop-file-validate "$entry"
check "the launcher is valid" desktop-file-validate "$prefix/share/applications/org.quillvane.Quillvane.desktop"
check "the launcher opens the installed settings-host" \
    grep -qxF "Exec=$prefix/bin/settings-host" "$prefix/share/applications/org.quillvane.Quillvane.desktop"
check "the metainfo is valid" appstreamcli validate --no-net "$prefix/share/metainfo/org.quillvane.Quillvane.metainfo.xml"
for program in "$prefix/bin/settings-host" "$app"; do
    for option in --help --version; do
        check "$(basename "$program") $option answers and exits" timeout 10 "$program" "$option"
    done
done
"$prefix/bin/settings-host" --help >"$scratch/help" 2>&1
check "settings-host --help lists its options" grep -q -- "--screenshot" "$scratch/help"

check "cpack builds the Debian package" cpack --config "$build/CPackConfig.cmake" -B "$scratch/package"
deb=$(ls "$scratch"/package/quillvane_*.deb 2>/dev/null | head -n 1)
dpkg-deb -c "$deb" >"$scratch/contents" 2>&1
for file in /usr/bin/settings-host \
    /usr/lib/quillvane/Quillvane.prefPane/Contents/Linux/QuillvanePref.so \
    /usr/lib/quillvane/Quillvane.prefPane/Contents/Resources/Quillvane.app/Contents/Linux/Quillvane \
    /usr/share/applications/org.quillvane.Quillvane.desktop \
    /usr/share/icons/hicolor/scalable/apps/org.quillvane.Quillvane.svg \
    /usr/share/man/man1/settings-host.1.gz /usr/share/man/man1/Quillvane.1.gz \
    /usr/share/metainfo/org.quillvane.Quillvane.metainfo.xml; do
    check "the package holds $file" grep -q " \.$file\$" "$scratch/contents"
done
check "the package's launcher opens /usr/bin/settings-host" \
    sh -c "dpkg-deb --fsys-tarfile '$deb' | tar -xO ./usr/share/applications/org.quillvane.Quillvane.desktop | grep -qxF Exec=/usr/bin/settings-host"

echo "Totals: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
