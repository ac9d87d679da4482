#!/usr/bin/env bash
# Times reading a table: `tarvok probe FILE` (the whole process) against
# pandas.read_csv on the same file, each run in turn, and prints the median
# of each and their ratio. The file is 12625 genes x 128 samples (~30 MB),
# laid out like the example tables (corner cell "gene", sample names, then
# a gene label and its values per line), values with 17 significant digits.
#
# Usage: bench/read.sh [RUNS]   (default 7)
#   TARVOK=path    the program to time (default build/release/host/tarvok)
#   BEFORE=path    another tarvok to time beside it (say, a build of an
#                  older commit)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
tarvok=${TARVOK:-build/release/host/tarvok}
before=${BEFORE:-}
dir=build/bench-read
mkdir -p "$dir"
file=$dir/read-12625x128.tsv
if [ ! -s "$file" ]; then
  /usr/bin/python3 - "$file" <<'PY'
import random, sys
random.seed(20261209)
genes, samples = 12625, 128
with open(sys.argv[1], "w") as out:
    out.write("gene\t" + "\t".join(f"S{s + 1:03d}" for s in range(samples)) + "\n")
    for g in range(genes):
        values = "\t".join("%.17g" % random.gauss(0.0, 1.5) for _ in range(samples))
        out.write(f"G{g + 1:05d}_at\t{values}\n")
PY
fi

/usr/bin/python3 - "$file" "$runs" "$tarvok" "$before" <<'PY'
import os, resource, statistics, subprocess, sys, time
file, runs, tarvok, before = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
commands = {"tarvok probe": [tarvok, "probe", file]}
if before:
    commands["tarvok probe (before)"] = [before, "probe", file]
commands["pandas.read_csv"] = ["/usr/bin/python3", "-c",
                               "import pandas, sys; pandas.read_csv(sys.argv[1], sep='\\t', index_col=0)", file]
wall = {name: [] for name in commands}
cpu = {name: [] for name in commands}  # user + system: steadier than wall time on a shared machine
for _ in range(runs):
    for name, command in commands.items():
        used = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        wall[name].append(time.perf_counter() - start)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu[name].append(after.ru_utime + after.ru_stime - used.ru_utime - used.ru_stime)
print(f"file: {file} ({os.path.getsize(file) / 1e6:.1f} MB), {runs} runs each, in turn; "
      f"load average {os.getloadavg()[0]:.1f}")
for name in commands:
    print(f"{name:24s} wall median {statistics.median(wall[name]):.3f} s (min {min(wall[name]):.3f} s), "
          f"CPU median {statistics.median(cpu[name]):.3f} s")
for label, times in (("wall", wall), ("CPU", cpu)):
    ours, theirs = statistics.median(times["tarvok probe"]), statistics.median(times["pandas.read_csv"])
    line = f"{label}: tarvok / pandas {ours / theirs:.2f} (target at most 0.50)"
    if before:
        line += f"; before / now {statistics.median(times['tarvok probe (before)']) / ours:.1f}x"
    print(line)
PY
