#!/usr/bin/env bash
# Times "tarvok run" as a whole process on a 12625 x 128 table (1 cluster,
# 3 permuted copies, 1 thread, with exports, figures and report) against the
# same analysis in memory, and the parts of the run one by one
# (bench_cli_parts, in one process: read, analysis in memory, analysis with
# the classic files, records, summary, exports, figures, report). Each run in
# turn; prints medians and the ratio of the whole run to the analysis.
# With PYTHON set, also the Python package's fit on the array already
# loaded (a fresh interpreter each run, the fit alone timed): the analysis
# in memory as a user meets it, which the target of 1.3x refers to.
#
# Usage: bench/cli.sh [RUNS]   (default 7)
#   TARVOK=path   the program to time (default build/release/host/tarvok)
#   PARTS=path    bench_cli_parts (default build/bench/bench/bench_cli_parts,
#                 built when missing)
#   PYTHON=path   an interpreter with the tarvok package installed
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
tarvok=${TARVOK:-build/release/host/tarvok}
parts=${PARTS:-build/bench/bench/bench_cli_parts}
if [ ! -x "$parts" ]; then
  cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVOK_BUILD_BENCH=ON \
    -DTARVOK_BUILD_TESTS=OFF -DTARVOK_BUILD_MPI=OFF >/dev/null
  cmake --build build/bench --target bench_cli_parts >/dev/null
fi
bench/read.sh 1 >/dev/null  # makes the table
file=build/bench-read/read-12625x128.tsv
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

/usr/bin/python3 - "$file" "$runs" "$tarvok" "$parts" "$out" "${PYTHON:-}" <<'PY'
import os, resource, statistics, subprocess, sys, time
file, runs, tarvok, parts, out, python = sys.argv[1:7]
runs = int(runs)
FIT = """
import sys, time, numpy, pandas, tarvok
X = numpy.ascontiguousarray(pandas.read_csv(sys.argv[1], sep="\\t", index_col=0,
                                            float_precision="round_trip").to_numpy())
start = time.perf_counter()
tarvok.GeneShaving(n_clusters=1, n_permutations=3, n_jobs=1).fit(X)
print(time.perf_counter() - start)
"""
fits = []
run = [tarvok, "run", file, "--clusters", "1", "--permutations", "3", "--threads", "1", "--out", out + "/run",
       "--force", "-q"]
wall, cpu, part = [], [], {}
for _ in range(runs):
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(run, check=True, stdout=subprocess.DEVNULL)
    wall.append(time.perf_counter() - start)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu.append(after.ru_utime + after.ru_stime - used.ru_utime - used.ru_stime)
    lines = subprocess.run([parts, file, "1", "3", out + "/parts"], check=True, capture_output=True,
                           text=True).stdout.splitlines()
    for line in lines:
        name, seconds = line.rsplit(None, 2)[0], float(line.split()[-2])
        part.setdefault(name, []).append(seconds)
    if python:
        fits.append(float(subprocess.run([python, "-c", FIT, os.path.abspath(file)], check=True, capture_output=True, text=True,
                                         cwd="/").stdout))
print(f"file: {file}, {runs} runs each, in turn; load average {os.getloadavg()[0]:.1f}")
print(f"tarvok run (whole process)  wall median {statistics.median(wall):.3f} s (min {min(wall):.3f}), "
      f"CPU median {statistics.median(cpu):.3f} s")
for name, times in part.items():
    print(f"  {name:24s} median {statistics.median(times):.3f} s (min {min(times):.3f})")
analysis = statistics.median(part["analysis in memory"])
# The ratios run by run too: each run and its references are timed back to
# back, so their median holds when the machine's speed drifts during the call.
paired = statistics.median(w / a for w, a in zip(wall, part["analysis in memory"]))
print(f"tarvok run / analysis in memory (the core alone, stricter): wall {statistics.median(wall) / analysis:.2f}, "
      f"CPU {statistics.median(cpu) / analysis:.2f}; run by run {paired:.2f}")
if fits:
    paired = statistics.median(w / f for w, f in zip(wall, fits))
    print(f"Python fit on the loaded array: median {statistics.median(fits):.3f} s (min {min(fits):.3f}); "
          f"tarvok run / fit: wall {statistics.median(wall) / statistics.median(fits):.2f}, run by run {paired:.2f} "
          f"(target at most 1.30)")
PY
