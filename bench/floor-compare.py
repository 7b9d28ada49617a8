# Runs a helper benchmark client against the running helper and against the floor
# server (bench/FloorServer, started here), alternating, RUNS times each (at least 5),
# and prints one JSON line a figure with the floor as its anchor: the medians and
# their ratio. A figure is KEY:UNIT[:METRIC], KEY naming it in the client's output.
#
#   python3 floor-compare.py BENCH BUILD_DIR RUNS FIGURE... -- CLIENT_ARG...
import json, os, statistics, subprocess, sys, time

bench, build, runs = sys.argv[1], sys.argv[2], max(5, int(sys.argv[3]))
split = sys.argv.index("--")
figures_wanted = [(f.split(":") + [f.split(":")[0]])[:3] for f in sys.argv[4:split]]
arguments = sys.argv[split + 1:]
client = "/usr/local/libexec/HelperClientBench"
socket = "/var/run/bench-floor"

floor = subprocess.Popen([os.path.join(build, "bench/FloorServer"), socket], stdin=subprocess.PIPE)
try:
    for _ in range(100):
        if os.path.exists(socket):
            break
        time.sleep(0.05)
    figures = {"helper": [], "floor": []}
    for run in range(runs):
        for who in ("helper", "floor"):
            extra = ["--socket", socket] if who == "floor" else []
            out = subprocess.run([client] + extra + arguments, check=True, capture_output=True, text=True).stdout
            figures[who].append(json.loads(out))
finally:
    floor.stdin.close()
    floor.wait()

# Every run on standard error, for a look at the spread, then the figures.
for who in ("helper", "floor"):
    for run, figure in enumerate(figures[who], 1):
        if "windows" in figure:
            print(f"{bench} {who} run {run}, requests a second in each half second:",
                  " ".join(str(w) for w in figure["windows"]), file=sys.stderr)
for key, unit, metric in figures_wanted:
    pairs = list(zip((f[key] for f in figures["helper"]), (f[key] for f in figures["floor"])))
    ratios = sorted(ours / anchor for ours, anchor in pairs)
    print(f"{bench} {metric} runs (helper / floor):", " ".join(f"{ours:g}/{anchor:g}" for ours, anchor in pairs),
          file=sys.stderr)
    print(f"{bench} {metric} ratio of each run's pair: median {statistics.median(ratios):.3f},"
          f" from {ratios[0]:.3f} to {ratios[-1]:.3f}", file=sys.stderr)

for key, unit, metric in figures_wanted:
    value = statistics.median(f[key] for f in figures["helper"])
    anchor = statistics.median(f[key] for f in figures["floor"])
    print(json.dumps({"bench": bench, "metric": metric, "value": value, "unit": unit,
                      "anchor": "floor server", "anchor_value": anchor, "ratio": round(value / anchor, 3)}))
