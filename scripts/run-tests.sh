#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test inside a private desktop session
# (scripts/test-session.sh), and checks the .deb packages installed on this machine
# (tests/package/check-package.sh; root or sudo only). Then the same tests under AddressSanitizer +
# UBSan, and a short run of each fuzz target. ctest's JUnit report lands in build/test-results.xml.
#   --quick   only the ordinary build, its tests and the package check
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=false
[ "${1:-}" = "--quick" ] && quick=true

"$root/scripts/install-deps.sh"

# Each step's line says how long the step before it took, and the time since the start.
phase="install"; phase_start=0
step() {
  printf '\n== %s (%s took %d s; %d s in all)\n' "$*" "$phase" $((SECONDS - phase_start)) "$SECONDS"
  phase=$*; phase_start=$SECONDS
}
log=$(mktemp)
trap 'rm -f "$log"' EXIT

step "build"
"$root/scripts/build.sh" "$root/build"
step "tests"
status=0
"$root/scripts/test-session.sh" ctest --test-dir "$root/build" --output-on-failure \
  --output-junit "$root/build/test-results.xml" 2>&1 | tee -a "$log" || status=$?
step "packages: build, lintian, install, the installed app, removal"
"$root/tests/package/check-package.sh" "$root/build" || status=$?

if ! $quick; then
  step "build with AddressSanitizer + UndefinedBehaviorSanitizer"
  "$root/scripts/build.sh" "$root/build-asan" -DZAPUM_SANITIZE=ON -DZAPUM_BUILD_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=Debug
  step "tests under the sanitizers"
  # No retries: the real-window tests wait on conditions and hold the bee still where timing would matter.
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$root/scripts/test-session.sh" ctest --test-dir "$root/build-asan" --output-on-failure \
    --output-junit "$root/build-asan/test-results.xml" 2>&1 | tee -a "$log" || status=$?
  step "fuzz targets, a short run each"
  "$root/scripts/fuzz.sh" "${ZAPUM_FUZZ_SECONDS:-20}" || status=$?
fi
step "done"
# One closing line over both runs, from ctest's own "N% tests passed, F tests failed out of T".
awk '/tests passed, .* tests failed out of/ { failed += $4; total += $NF }
     END { printf "ctest: %d passed, %d failed\n", total - failed, failed }' "$log"
exit $status
