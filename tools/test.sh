#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: unit tests (ctest, under Wine) and
# end-to-end tests (pytest, the program under Wine in network namespaces).
#   tools/test.sh                 everything
#   tools/test.sh unit [ctest args]   only the unit tests, e.g. tools/test.sh unit -R string_test
#   tools/test.sh e2e [pytest args]   only the end-to-end tests, e.g. tools/test.sh e2e -k probe
#   tools/test.sh fuzz [seconds]      only the fuzz targets (30 s each when CI=true, else 5)
set -uo pipefail
if [ "$(id -u)" -ne 0 ]; then
    exec sudo -E "$0" "$@"
fi
source "$(dirname "$0")/env.sh"

what=${1:-all}
[ $# -gt 0 ] && shift

"$VELMORA_ROOT/tools/setup.sh" || exit 1
velmora_build || exit 1
velmora_wine_prefix "$WINEPREFIX"
velmora_display

cleanup() {
    wineserver -k >/dev/null 2>&1
    [ -n "${VELMORA_XVFB_PID:-}" ] && kill "$VELMORA_XVFB_PID" 2>/dev/null
}
trap cleanup EXIT
# One persistent wineserver for the unit tests, so each program starts quickly. Wine's own
# services start with the first program; start them here, detached from ctest's output pipes,
# or ctest would wait for them to close those pipes.
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1

unit_rc=-1
e2e_rc=-1
fuzz_rc=-1
if [ "$what" = all ] || [ "$what" = unit ]; then
    velmora_say "unit tests (ctest, under Wine)"
    ctest --test-dir "$VELMORA_CROSS" --output-on-failure -j "$(nproc)" "$@"
    unit_rc=$?
fi
wineserver -k >/dev/null 2>&1
if [ "$what" = all ] || [ "$what" = e2e ]; then
    velmora_say "end-to-end tests (pytest, network namespaces)"
    (cd "$VELMORA_ROOT" && "$VELMORA_PYTHON" -m pytest tests/e2e -v -p no:cacheprovider "$@")
    e2e_rc=$?
fi

if [ "$what" = all ] || [ "$what" = fuzz ]; then
    velmora_say "fuzz targets (native, libFuzzer with sanitizers)"
    "$VELMORA_ROOT/tools/fuzz.sh" "$@"
    fuzz_rc=$?
fi

verdict() { case $1 in -1) echo "not run" ;; 0) echo passed ;; *) echo FAILED ;; esac; }
velmora_say "summary: unit tests $(verdict $unit_rc), end-to-end tests $(verdict $e2e_rc), fuzz targets $(verdict $fuzz_rc)"
[ $unit_rc -le 0 ] && [ $e2e_rc -le 0 ] && [ $fuzz_rc -le 0 ]
