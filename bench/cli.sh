#!/usr/bin/env bash
# Times "tarvok run" as a whole process on a 12625 x 128 table (1 cluster,
# 3 permuted copies, 1 thread, with exports, figures and report) against the
# same analysis in memory, and the parts of the run one by one
# (bench_cli_parts, in one process: read, analysis in memory, analysis with
# the classic files, records, summary, exports, figures, report). Each run in
# turn; prints medians and the ratio of the whole run to the analysis.
#
# Usage: bench/cli.sh [RUNS]   (default 7)
#   TARVOK=path   the program to time (default build/release/host/tarvok)
#   PARTS=path    bench_cli_parts (default build/bench/bench/bench_cli_parts,
#                 built when missing)
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

/usr/bin/python3 - "$file" "$runs" "$tarvok" "$parts" "$out" <<'PY'
import os, resource, statistics, subprocess, sys, time
file, runs, tarvok, parts, out = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]
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
print(f"file: {file}, {runs} runs each, in turn; load average {os.getloadavg()[0]:.1f}")
print(f"tarvok run (whole process)  wall median {statistics.median(wall):.3f} s (min {min(wall):.3f}), "
      f"CPU median {statistics.median(cpu):.3f} s")
for name, times in part.items():
    print(f"  {name:24s} median {statistics.median(times):.3f} s (min {min(times):.3f})")
analysis = statistics.median(part["analysis in memory"])
print(f"tarvok run / analysis in memory: wall {statistics.median(wall) / analysis:.2f}, "
      f"CPU {statistics.median(cpu) / analysis:.2f} (target at most 1.30)")
PY
