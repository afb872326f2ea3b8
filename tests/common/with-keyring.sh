#!/bin/sh
# Runs a command on a private D-Bus session with an unlocked GNOME keyring of its own, kept in a
# temporary home; when the command ends, however it ends, neither the keyring nor the bus is left
# running and the home is gone. The command sees ORVANE_TEST_KEYRING=1.
if [ -z "${ORVANE_KEYRING_BUS:-}" ]; then
    exec dbus-run-session -- env ORVANE_KEYRING_BUS=1 "$0" "$@"
fi

home=$(mktemp -d) || exit 1
keyring=
cleanup() {
    if [ -n "$keyring" ]; then
        kill "$keyring" 2>/dev/null
        wait "$keyring" 2>/dev/null
    fi
    rm -rf "$home"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/run"
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

# --unlock reads the keyring's password from standard input and creates the keyring when missing.
printf 'orvane-test' | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null &
keyring=$!

tries=0
until dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q 'boolean true'; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ] || ! kill -0 "$keyring" 2>/dev/null; then
        echo "with-keyring: the keyring daemon did not start" >&2
        exit 1
    fi
    sleep 0.1
done

ORVANE_TEST_KEYRING=1 "$@"
