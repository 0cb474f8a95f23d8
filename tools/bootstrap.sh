#!/usr/bin/env bash
# Installs every Debian package that building and testing need. Safe to run
# again: packages already present are left as they are.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-pdf-dev
    # Qt6HttpServerConfig asks for Qt6WebSockets, which Debian's
    # qt6-httpserver-dev does not pull in.
    qt6-httpserver-dev qt6-websockets-dev
    nlohmann-json3-dev libcups2-dev libssl-dev
    cups cups-client cups-bsd
    g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix wine64
    doctest-dev xvfb trayer xdotool clang-format
    # Tests encrypt a PDF of their own with it.
    qpdf
    # Checks the autostart entry the agent writes.
    desktop-file-utils
    # Tests sign the installers they build with it.
    osslsigncode
    # Renders the clinic simulator's status page in its browser test.
    chromium-headless-shell
    # The credential goes to the desktop keyring through QtKeychain, which
    # loads libsecret at run time.
    qtkeychain-qt6-dev libsecret-1-0
    # The keyring tests run a real GNOME Keyring on private session buses.
    gnome-keyring dbus-daemon dbus-bin
    # tools/package.sh: the package's library dependencies come from
    # dpkg-shlibdeps (dpkg-dev); lintian checks the package.
    dpkg-dev lintian
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done

sudo=""
[ "$(id -u)" = 0 ] || sudo="sudo"

# Every booted Linux system has a machine id; a root that never booted (a
# container or a chroot) may lack it, and the workstation identity and the
# sealed credential are derived from it.
if [ ! -s /etc/machine-id ]; then
    tr -d '-' </proc/sys/kernel/random/uuid | $sudo tee /etc/machine-id >/dev/null
fi

[ ${#missing[@]} -gt 0 ] || exit 0
# The network is touched only when something is missing.
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
