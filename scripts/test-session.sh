#!/usr/bin/env bash
# Runs a command the way the tests expect the desktop to be: a private D-Bus
# session with an unlocked GNOME Keyring, the offscreen Qt platform, and a
# throw-away home so nothing touches the user's own settings, caches or keys.
set -euo pipefail

if [ -z "${VOCALITH_TEST_SESSION:-}" ]; then
    scratch=$(mktemp -d -t vocalith-test.XXXXXX)
    trap 'rm -rf "$scratch"' EXIT
    mkdir -p "$scratch"/{home,config,cache,data,runtime}
    chmod 700 "$scratch/runtime"
    export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_CACHE_HOME="$scratch/cache" \
        XDG_DATA_HOME="$scratch/data" XDG_RUNTIME_DIR="$scratch/runtime" \
        QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" VOCALITH_TEST_SESSION=1
    # Only a caller that asks for a real display (screenshots) keeps one.
    [ "$QT_QPA_PLATFORM" = offscreen ] && unset DISPLAY WAYLAND_DISPLAY
    dbus-run-session -- "$0" "$@"
    exit $?
fi

# Inside the session: a keyring whose login collection is created and unlocked.
printf 'vocalith-test' | gnome-keyring-daemon --unlock --components=secrets >/dev/null
# A sound server whose only output is a null sink, "speech": what is played there can
# be recorded from its monitor.
pulseaudio -n --daemonize=yes --exit-idle-time=-1 -L module-native-protocol-unix \
    -L "module-null-sink sink_name=speech" -L module-always-sink >/dev/null 2>&1
trap 'pulseaudio --kill >/dev/null 2>&1 || true' EXIT
# A microphone, "TestMic", that hears whatever is played into "speech".
pactl load-module module-remap-source master=speech.monitor source_name=mic \
    source_properties=device.description=TestMic >/dev/null
"$@"
