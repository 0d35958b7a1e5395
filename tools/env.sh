# Shared settings of the project's scripts; sourced, never run.
VELMORA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VELMORA_BUILD=${VELMORA_BUILD:-$VELMORA_ROOT/build}
VELMORA_CROSS=$VELMORA_BUILD/cross
export VELMORA_ROOT VELMORA_BUILD VELMORA_CROSS
# Wine: a project-local prefix, quiet, fixed locale (ANSI code page 1252).
export WINEPREFIX=${WINEPREFIX:-$VELMORA_BUILD/wine}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}
export LANG=C.UTF-8 LC_ALL=C.UTF-8
# Debian's Python (python3-pytest, python3-zeroconf), whatever python3 is first on PATH.
VELMORA_PYTHON=${VELMORA_PYTHON:-/usr/bin/python3}
export VELMORA_PYTHON

velmora_say() { printf '== %s\n' "$*"; }

# Creates the Wine prefix once; later calls return at once. Safe to call from parallel processes.
velmora_wine_prefix() {
    local prefix=$1
    [ -f "$prefix/.velmora-ready" ] && return 0
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        [ -f "$prefix/.velmora-ready" ] && exit 0
        velmora_say "creating the Wine prefix $prefix (once, about 30 s)" >&2
        WINEPREFIX=$prefix wineboot -i >/dev/null 2>&1 || true
        # A crashing program must end with a backtrace on stderr, never wait in a dialog.
        WINEPREFIX=$prefix wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
        WINEPREFIX=$prefix wineserver -w
        touch "$prefix/.velmora-ready"
    ) 9>"$prefix.lock"
}

# Starts Xvfb when no display is set; exports DISPLAY and VELMORA_XVFB_PID.
velmora_display() {
    [ -n "${DISPLAY:-}" ] && return 0
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    VELMORA_XVFB_PID=$!
    local number
    read -r number <"$fifo"
    rm -f "$fifo"
    export DISPLAY=:$number VELMORA_XVFB_PID
}

velmora_build() {
    velmora_say "configuring and building in $VELMORA_CROSS"
    local generator=()
    command -v ninja >/dev/null && generator=(-G Ninja)
    if [ ! -f "$VELMORA_CROSS/CMakeCache.txt" ]; then
        cmake -S "$VELMORA_ROOT" -B "$VELMORA_CROSS" "${generator[@]}" \
            -DCMAKE_TOOLCHAIN_FILE="$VELMORA_ROOT/cmake/mingw32-toolchain.cmake" >/dev/null
    fi
    cmake --build "$VELMORA_CROSS" -j "$(nproc)"
}
