#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a while.
#
#   scripts/fuzz.sh [SECONDS]        (default 30 seconds per target)
#
# Each target fuzz/fuzz_<name>.cpp runs on a scratch copy of fuzz/corpus/<name>/ (with the
# dictionary fuzz/fuzz_<name>.dict when there is one), so the inputs libFuzzer finds never
# land in the repository. A crash, leak or sanitizer report makes the script exit non-zero and
# leaves the reproducer under build-fuzz/artifacts/. Environment:
#   ZAPUM_FUZZ_CXX        the clang++ to use (default: clang++-14, else clang++)
#   ZAPUM_FUZZ_BUILD_DIR  the build folder (default: build-fuzz in the repository)
#   ZAPUM_FUZZ_JOBS       build parallelism (default 2)
set -euo pipefail

seconds="${1:-30}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [[ "$seconds" -eq 0 ]]; then
    echo "usage: $0 [SECONDS]" >&2
    exit 2
fi

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZAPUM_FUZZ_BUILD_DIR:-$root/build-fuzz}"
jobs="${ZAPUM_FUZZ_JOBS:-2}"
cxx="${ZAPUM_FUZZ_CXX:-$(command -v clang++-14 || command -v clang++ || true)}"
if [[ -z "$cxx" ]]; then
    echo "fuzz.sh: clang++ not found (Debian: apt-get install clang-14 libclang-rt-14-dev)" >&2
    exit 2
fi

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S "$root" -B "$build" "${generator[@]}" \
    -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZAPUM_FUZZ=ON -DZAPUM_BUILD_TESTS=OFF -DZAPUM_BUILD_BENCH=OFF
cmake --build "$build" --target zapum_fuzzers -j "$jobs"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

failed=()
for source in "$root"/fuzz/fuzz_*.cpp; do
    name="$(basename "$source" .cpp)"
    binary="$build/fuzz/$name"
    seeds="$root/fuzz/corpus/${name#fuzz_}"
    corpus="$scratch/$name"
    artifacts="$build/artifacts/$name/"
    mkdir -p "$corpus" "$artifacts"
    [[ -d "$seeds" ]] && cp -r "$seeds"/. "$corpus"/

    options=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts")
    [[ -f "$root/fuzz/$name.dict" ]] && options+=(-dict="$root/fuzz/$name.dict")

    echo "== $name for ${seconds}s"
    # Qt stays quiet about anything the harness provokes; libFuzzer prints its own stats.
    # libFuzzer's progress lines are long; keep them in a log and show them only on failure.
    log="$build/artifacts/$name.log"
    if QT_LOGGING_RULES='*=false' "$binary" "${options[@]}" "$corpus" >"$log" 2>&1; then
        echo "== $name: no crash ($(grep -o 'Done [0-9]* runs' "$log" || echo 'finished'))"
    else
        tail -n 60 "$log" >&2
        echo "== $name: FAILED; reproducer in $artifacts" >&2
        failed+=("$name")
    fi
done

if [[ ${#failed[@]} -gt 0 ]]; then
    echo "fuzz.sh: failing targets: ${failed[*]}" >&2
    exit 1
fi
