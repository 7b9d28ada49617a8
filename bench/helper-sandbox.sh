# Shared by the helper benchmarks in bench/run: sourced with the release build folder as $1.
# Sets $checkout, $build and $client (the admitted benchmark client, when built).
set -euo pipefail
checkout=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:?usage: $(basename "$0") RELEASE_BUILD_DIR}" && pwd)
client=$build/bench/HelperClientBench

need_client() {
  if [[ ! -x $client ]]; then
    echo "$(basename "$0"): $client is missing; build the benchmarks" >&2
    exit 1
  fi
}

# Runs a bash script inside the sandbox with the benchmark client installed as root
# at /usr/local/libexec/HelperClientBench, set-group-ID sorvane as the client is installed.
in_sandbox() {
  "$checkout/script/sandbox" --build-dir "$build" -- bash -c '
    set -euo pipefail
    if [[ -x $0 ]]; then install -o root -g sorvane -m 2755 "$0" /usr/local/libexec/HelperClientBench; fi
    eval "$1"' "$client" "$1"
}
