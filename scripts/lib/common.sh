# Shared by scripts/run, scripts/test and scripts/bench: installs what is missing, builds, and
# starts the display, sound server and Wine that the programs and tests need.
# Every start function records what it started so that sw_stop_started ends only that.

SW_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
SW_BUILD=${SW_BUILD_DIR:-$SW_ROOT/build}
SW_STARTED_PIDS=()

sw_log() { printf '[%s] %s\n' "$(basename "$0")" "$*" >&2; }

sw_as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

SW_PACKAGES=(wine wine32:i386 wine64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64
    libz-mingw-w64-dev googletest cmake ninja-build g++ zlib1g-dev libfftw3-dev
    xvfb xauth pulseaudio pulseaudio-utils sox python3 imagemagick)

sw_missing_packages() {
    local pkg
    for pkg in "${SW_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q '^install ok installed$' ||
            printf '%s\n' "$pkg"
    done
}

sw_install_deps() {
    local missing
    missing=$(sw_missing_packages)
    [ -z "$missing" ] && return 0
    sw_log "installing: $(echo $missing)"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        sw_as_root dpkg --add-architecture i386
    fi
    sw_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    # shellcheck disable=SC2086
    sw_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        $missing >/dev/null
}

sw_jobs() { nproc 2>/dev/null || echo 2; }

# sw_build_win [targets...]: configures once and builds the cross tree (all targets by default).
sw_build_win() {
    local dir=$SW_BUILD/win
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$SW_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$SW_ROOT/cmake/mingw-i686.cmake" >/dev/null
    fi
    if [ $# -gt 0 ]; then
        cmake --build "$dir" -j "$(sw_jobs)" --target "$@"
    else
        cmake --build "$dir" -j "$(sw_jobs)"
    fi
}

# sw_build_host [targets...]: the native tree (pure code only, with sanitizers).
sw_build_host() {
    local dir=$SW_BUILD/host
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$SW_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    if [ $# -gt 0 ]; then
        cmake --build "$dir" -j "$(sw_jobs)" --target "$@"
    else
        cmake --build "$dir" -j "$(sw_jobs)"
    fi
}

sw_start_display() {
    if [ -n "${DISPLAY:-}" ] && [ -S "/tmp/.X11-unix/X${DISPLAY#:}" ]; then
        return 0
    fi
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    SW_STARTED_PIDS+=($!)
    export DISPLAY=":$n"
    local i
    for i in $(seq 50); do
        [ -S "/tmp/.X11-unix/X$n" ] && return 0
        sleep 0.1
    done
    sw_log "Xvfb did not start on :$n"
    return 1
}

sw_pulse_answers() { pactl info >/dev/null 2>&1; }

# A private PulseAudio server with a null sink and source, unless one already answers.
sw_start_pulse() {
    if sw_pulse_answers; then
        return 0
    fi
    local dir=$SW_BUILD/pulse
    mkdir -p "$dir"
    rm -f "$dir/native"
    export PULSE_RUNTIME_PATH=$dir
    export PULSE_STATE_PATH=$dir
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
        --log-target=file:"$dir/log.txt" \
        --load="module-null-sink sink_name=sw_sink" \
        --load="module-null-source source_name=sw_source" \
        --load="module-native-protocol-unix auth-anonymous=1 socket=$dir/native" \
        >/dev/null 2>&1 &
    SW_STARTED_PIDS+=($!)
    export PULSE_SERVER=unix:$dir/native
    local i
    for i in $(seq 100); do
        sw_pulse_answers && return 0
        sleep 0.1
    done
    sw_log "PulseAudio did not start (see $dir/log.txt)"
    return 1
}

sw_wine_env() {
    export WINEPREFIX=${WINEPREFIX:-$SW_BUILD/wineprefix}
    export WINEARCH=win32
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
}

# Creates the private prefix once and keeps one wineserver alive for the whole run.
sw_start_wine() {
    sw_wine_env
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        sw_log "creating Wine prefix $WINEPREFIX"
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w
    fi
    wineserver -p >/dev/null 2>&1 || true
    # Wine's helper processes outlive the program that starts them; start them here, detached
    # from our output, or CTest would wait for them to close the pipe of the first test.
    wineboot >/dev/null 2>&1 </dev/null || true
    SW_WINE_STARTED=1
}

sw_stop_started() {
    if [ -n "${SW_WINE_STARTED:-}" ]; then
        wineserver -k >/dev/null 2>&1 || true
    fi
    local pid
    for pid in "${SW_STARTED_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${SW_STARTED_PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
}

# sw_start_runtime: display, sound and Wine, stopped again when the calling script exits.
sw_start_runtime() {
    trap sw_stop_started EXIT
    sw_start_display
    sw_start_pulse
    sw_start_wine
}
