#!/usr/bin/env bash
# Runs a command beside an unlocked GNOME Keyring, as a desktop sign-in leaves
# it, on a private session bus; and a second private bus on which no Secret
# Service runs. HOME and the XDG directories, the buses and the keyring live in
# one temporary directory, removed afterwards with the daemons.
#   keyringsession.sh COMMAND [ARGS...]
# The command sees DBUS_SESSION_BUS_ADDRESS (the keyring's bus),
# VEK_TEST_EMPTY_BUS (the other bus), VEK_TEST_KEYRING_PID and
# VEK_TEST_KEYRING_PASSWORD.
set -euo pipefail

work=$(mktemp -d "${TMPDIR:-/tmp}/vek-keyring.XXXXXX")
pids=()
cleanup() {
    local pid
    # The keyring first, then the buses; a test may have left it stopped.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid=${pids[i]}
        kill -CONT "$pid" 2>/dev/null || true
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# Polls a condition, at most about ten seconds.
wait_for() {
    local tries
    for ((tries = 0; tries < 200; tries++)); do
        if eval "$1"; then return 0; fi
        sleep 0.05
    done
    echo "keyringsession: gave up waiting for: $1" >&2
    return 1
}

# A bus of its own: only the daemons started here serve it. Nothing is
# started on demand (no second keyring, no password prompt).
mkdir -p "$work/services"
start_bus() {
    cat >"$work/$1.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$work</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$work/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
    dbus-daemon --config-file="$work/$1.conf" --nofork --print-address=3 \
        3>"$work/$1.address" 2>"$work/$1.log" &
    pids+=($!)
    wait_for "grep -qs . '$work/$1.address'" || { cat "$work/$1.log" >&2; exit 1; }
}
start_bus keyring
start_bus empty

export HOME="$work/home"
export XDG_DATA_HOME="$HOME/.local/share" XDG_CONFIG_HOME="$HOME/.config"
export XDG_CACHE_HOME="$HOME/.cache" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export DBUS_SESSION_BUS_ADDRESS VEK_TEST_EMPTY_BUS
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/keyring.address")
VEK_TEST_EMPTY_BUS=$(head -n 1 "$work/empty.address")
export VEK_TEST_KEYRING_PASSWORD=keyring-test-password

# As at sign-in: the login keyring is created or unlocked with the password.
printf %s "$VEK_TEST_KEYRING_PASSWORD" \
    | gnome-keyring-daemon --foreground --unlock --components=secrets >"$work/keyring.log" 2>&1 &
pids+=($!)
export VEK_TEST_KEYRING_PID=$!
wait_for "dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets \
    org.freedesktop.Secret.Service.ReadAlias string:default 2>/dev/null | grep -q collection/login" \
    || { cat "$work/keyring.log" >&2; exit 1; }

set +e
"$@"
status=$?
set -e
exit $status
