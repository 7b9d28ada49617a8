# Shared by the helper benchmarks in bench/run: sourced with the release build folder as $1.
# Sets $checkout, $build and $client (the admitted benchmark client, when built).
set -euo pipefail
checkout=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:?usage: $(basename "$0") RELEASE_BUILD_DIR}" && pwd)
client=$build/bench/HelperClientBench

need_client() {
  local program
  for program in "$client" "$@"; do
    if [[ ! -x $program ]]; then
      echo "$(basename "$0"): $program is missing; build the benchmarks" >&2
      exit 1
    fi
  done
}

# Runs a bash script inside the sandbox with the benchmark client installed as root
# at /usr/local/libexec/HelperClientBench (admission wants a root-owned path,
# set-group-ID sorvane as the client is installed). The
# script finds the release build folder in $build.
in_sandbox() {
  "$checkout/script/sandbox" --build-dir "$build" -- bash -c '
    set -euo pipefail
    if [[ -x $0 ]]; then install -o root -g sorvane -m 2755 "$0" /usr/local/libexec/HelperClientBench; fi
    export build=$1
    eval "$2"' "$client" "$build" "$1"
}
