#!/usr/bin/env bash
# Builds the agent's Debian package in build-release/ and checks it with
# lintian (any error fails).
#   tools/package.sh           build and lint the package
#   tools/package.sh --check   then also install it with apt-get, start the
#                              installed program on a private X server with a
#                              notification area until it shows its setup
#                              dialog, and remove it again (run as root)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-release

check=0
case "${1:-}" in
'') ;;
--check) check=1 ;;
*)
    echo "usage: tools/package.sh [--check]" >&2
    exit 2
    ;;
esac

sudo=""
[ "$(id -u)" = 0 ] || sudo="sudo"

"$root/tools/bootstrap.sh"

# The changelog's date is the last commit's, so that the same commit makes the
# same package.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct)
    export SOURCE_DATE_EPOCH
fi

cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEK_WINDOWS_BACKEND=OFF
# cpack installs what is built; it builds nothing itself.
cmake --build "$build" --target VekPrintAgent -j "$(nproc)"
rm -f "$build"/*.deb
(cd "$build" && cpack --config CPackConfig.cmake)
debs=("$build"/*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || {
    echo "package: cpack made no single .deb in $build" >&2
    exit 1
}
deb=${debs[0]}
package=$(dpkg-deb -f "$deb" Package)

echo "package: $deb"
dpkg-deb -c "$deb"
# The program and its files under /usr/share, nothing else: no test, harness
# or simulator.
mapfile -t files < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./|/|')
programs=$(printf '%s\n' "${files[@]}" | grep -c '^/usr/bin/' || true)
others=$(printf '%s\n' "${files[@]}" | grep -v '^/usr/bin/[^/]*$' | grep -v '^/usr/share/' || true)
if [ "$programs" != 1 ] || [ -n "$others" ]; then
    echo "package: the package should hold one program and files under /usr/share only" >&2
    exit 1
fi
program=$(printf '%s\n' "${files[@]}" | grep '^/usr/bin/')
lintian --fail-on error --display-info --tag-display-limit 0 "$deb"
echo "package: lintian found no errors"

[ "$check" = 1 ] || exit 0

if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    echo "package: $package is installed already; the check removes it at its end," \
        "so remove it first (apt-get remove --purge $package)" >&2
    exit 1
fi

work=$(mktemp -d)
installed=0
cleanup() {
    local status=$?
    if [ "$installed" = 1 ]; then
        DEBIAN_FRONTEND=noninteractive $sudo apt-get remove --purge -y -q "$package" >/dev/null || true
    fi
    rm -rf "$work"
    exit $status
}
trap cleanup EXIT

# Through apt-get, so that the dependencies resolve as on a clinic's machine.
installed=1
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "$deb"
dpkg-query -W "$package"
[ -x "$program" ] || {
    echo "package: $program was not installed" >&2
    exit 1
}

# The installed program with a home of its own, on a private X server with a
# notification area. Not set up yet, it opens its setup dialog.
mkdir -m 700 "$work/home" "$work/runtime"
start_installed() {
    env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME -u WAYLAND_DISPLAY \
        HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb \
        "$program" >"$work/agent.log" 2>&1 &
    local pid=$!
    local shown=0
    timeout 30 xdotool search --sync --onlyvisible --name '^Set up this workstation$' >/dev/null && shown=1
    local running=0
    kill -0 "$pid" 2>/dev/null && running=1
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    if [ "$shown" = 0 ] || [ "$running" = 0 ]; then
        echo "package: the installed program did not show its setup dialog:" >&2
        cat "$work/agent.log" >&2
        return 1
    fi
    echo "package: the installed program shows its setup dialog"
}
export -f start_installed
export work program
"$root/tests/gui/run-under-xvfb.sh" bash -c start_installed

DEBIAN_FRONTEND=noninteractive $sudo apt-get remove --purge -y -q "$package"
installed=0
if dpkg -L "$package" >/dev/null 2>&1; then
    echo "package: dpkg still knows $package after its removal" >&2
    exit 1
fi
# None of the files the package brought is left.
left=()
for file in "${files[@]}"; do
    [ ! -e "$file" ] && [ ! -L "$file" ] || left+=("$file")
done
if [ ${#left[@]} -gt 0 ]; then
    echo "package: left after removal: ${left[*]}" >&2
    exit 1
fi
echo "package: installed, started and removed $package cleanly"
