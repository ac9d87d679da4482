#!/usr/bin/env bash
# Times whole runs of this engine (one thread) beside the NumPy peer
# (../shared/peers/numpy_shave.py: LAPACK's symmetric eigen-solver per step,
# on OpenBLAS, one thread) on the table shapes users have, and prints the
# rows of a markdown table. Both programs run in turn, REPEATS times each,
# keeping each one's smallest CPU time (user + system) and wall time: on a
# shared machine CPU time is the steadier measure of a single thread.
#
# Usage: bench/peer.sh BENCH_WHOLE_RUN [REPEATS]   (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
ours=$1
repeats=${2:-3}
peer=${TARVOK_PEER:-/work/shared/peers/numpy_shave.py}
[ -r "$peer" ] || { echo "no peer at $peer (set TARVOK_PEER)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The peer reads G lines of N numbers; the engine's bench program reads the
# same values from a table (or makes them itself for random:G:N).
/usr/bin/python3 - "$work" <<'PY'
import sys
work = sys.argv[1]

def strip(src, dst, tsv=None):
    # Lines with a missing value are left out of both copies.
    with open(src) as f, open(dst, "w") as out, open(tsv or "/dev/null", "w") as table:
        table.write(next(f))
        for line in f:
            cells = line.rstrip("\n").split("\t")
            if "NA" in cells[1:]:
                continue
            out.write(" ".join(cells[1:]) + "\n")
            table.write(line)

def random_table(G, N, dst):
    # The table bench_whole_run makes for random:G:N (same generator).
    state = 12345
    def uniform():
        nonlocal state
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        return (state >> 8) / 16777216.0 - 0.5
    pattern = [2 * uniform() for _ in range(N)]
    with open(dst, "w") as out:
        for g in range(G):
            out.write(" ".join("%.17g" % ((pattern[s] if g < G // 50 else 0.0) + uniform()) for s in range(N)) + "\n")

strip("examples/data/golub.tsv", f"{work}/golub.txt")
strip("/work/shared/data/khan_missing.tsv", f"{work}/khan.txt", f"{work}/khan.tsv")
random_table(12625, 128, f"{work}/r128.txt")
random_table(500, 189, f"{work}/r189.txt")
PY

# cputime COMMAND...: "wall cpu" of one run.
cputime() {
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; return 1; }
  awk '{printf "%.3f %.3f\n", $1, $2 + $3}' "$work/time"
}

configs=(
  "Golub 3051 x 38|3|10|20|examples/data/golub.tsv|golub.txt"
  "Khan 2086 x 63 (genes with missing values left out)|3|10|10|$work/khan.tsv|khan.txt"
  "random 12625 x 128, planted block|1|10|3|random:12625:128|r128.txt"
  "random 500 x 189, planted block|1|20|3|random:500:189|r189.txt"
)
blas_checked=""
for config in "${configs[@]}"; do
  IFS='|' read -r name K shave B table peer_table <<<"$config"
  best_ours="999999 999999" best_peer="999999 999999"
  for _ in $(seq "$repeats"); do
    o=$(TARVOK_THREADS=1 cputime "$ours" "$table" "$K" "$shave" "$B")
    p=$(cputime env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE /usr/bin/python3 "$peer" "$work/$peer_table" \
        --clusters "$K" --shave "$shave" --perms "$B" --tol 0 --seed 1 --out "$work/out" --threads 1)
    if [ -z "$blas_checked" ]; then
      grep -qi openblas "$work/stderr" || echo "warning: the peer does not report OpenBLAS" >&2
      blas_checked=1
    fi
    best_ours=$(awk -v a="$best_ours" -v b="$o" 'BEGIN {split(a, x, " "); split(b, y, " ");
      printf "%.3f %.3f", (y[1] < x[1] ? y[1] : x[1]), (y[2] < x[2] ? y[2] : x[2])}')
    best_peer=$(awk -v a="$best_peer" -v b="$p" 'BEGIN {split(a, x, " "); split(b, y, " ");
      printf "%.3f %.3f", (y[1] < x[1] ? y[1] : x[1]), (y[2] < x[2] ? y[2] : x[2])}')
  done
  read -r ours_wall ours_cpu <<<"$best_ours"
  read -r peer_wall peer_cpu <<<"$best_peer"
  awk -v n="$name" -v k="$K" -v s="$shave" -v b="$B" -v ow="$ours_wall" -v oc="$ours_cpu" -v pw="$peer_wall" \
      -v pc="$peer_cpu" 'BEGIN { printf "| %s | %s, %s %%, %s | %.2f s | %.2f s | %.2f s | %.2f s | **%.2fx** | %.2fx |\n",
      n, k, s, b, oc, pc, ow, pw, pc / oc, pw / ow }'
done
