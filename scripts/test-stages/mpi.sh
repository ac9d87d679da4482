#!/usr/bin/env bash
# tarvok-mpi on three ranks of this machine (Open MPI from Debian): the
# files of unsupervised, supervised and fast-solver runs are the bytes of
# one tarvok process for several ranks x threads; a failure on rank 2 and a
# bad argument are each reported once, by rank 0, with a non-zero status;
# a rank killed from outside ends the job instead of leaving it hanging;
# SIGINT or SIGTERM to the job leaves the partial results tarvok leaves.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)

scripts/setup.sh

dir=build/release
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVOK_BUILD_TESTS=ON \
  -DTARVOK_BUILD_HOST=ON >/dev/null
cmake --build "$dir" -j "$(nproc)" --target tarvok tarvok-mpi >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=examples/data/golub.tsv
classes=examples/data/golub.classes
mpi() {  # mpi RANKS ARGS...: tarvok-mpi on RANKS ranks
  local ranks=$1; shift
  timeout 300 mpirun --allow-run-as-root --oversubscribe -n "$ranks" -x TARVOK_MPI_FAIL_RANK \
    "$dir/mpi/tarvok-mpi" "$@"
}
export TARVOK_MPI_FAIL_RANK=

fail() { echo "mpi: $*" >&2; exit 1; }

# Byte identity with one process: every file (the report's time of writing
# and the lock file's process id aside), and the printed summary but for the
# report's path.
for mode in "plain:" "supervised:--supervise 60 --classes $classes" "fast:--solver fast"; do
  name=${mode%%:*}
  read -r -a extra <<<"${mode#*:}"
  args=(run "$data" --clusters 2 --permutations 7 --quiet "${extra[@]}")
  mkdir -p "$work/one-$name"
  "$dir/host/tarvok" "${args[@]}" --threads 2 --out "$work/one-$name/out" >"$work/one-$name.txt"
  for shape in "3 1" "3 2" "2 3"; do
    read -r ranks threads <<<"$shape"
    run="$work/$name-$ranks-$threads"
    mkdir -p "$run"
    mpi "$ranks" "${args[@]}" --threads "$threads" --out "$run/out" >"$run.txt"
    diff -r -x .tarvok.lock -I "<th>Written</th>" "$work/one-$name/out" "$run/out" >&2 || fail "$name on $ranks ranks x $threads threads differs"
    diff <(grep -v '^Report:' "$work/one-$name.txt") <(grep -v '^Report:' "$run.txt") >/dev/null ||
      fail "$name on $ranks ranks: summary differs"
  done
done

# A failure on rank 2: every rank ends, rank 0 alone says why.
status=0
TARVOK_MPI_FAIL_RANK=2 mpi 3 run "$data" --clusters 2 --permutations 7 --quiet --out "$work/failed" \
  >"$work/failed.txt" 2>"$work/failed.err" || status=$?
[ "$status" -ne 0 ] || fail "a failure on rank 2 exited with 0"
[ "$(grep -c '^tarvok:' "$work/failed.err")" -eq 1 ] || fail "rank 2's failure not reported once: $(cat "$work/failed.err")"
grep -qx 'tarvok: analysis failed: rank 2: failure injected for testing' "$work/failed.err" ||
  fail "rank 2's failure: $(cat "$work/failed.err")"

# A bad argument: rank 0 alone reads the command line.
status=0
mpi 3 run "$data" --clusters 0 --out "$work/bad" >"$work/bad.txt" 2>"$work/bad.err" || status=$?
[ "$status" -ne 0 ] || fail "a bad argument exited with 0"
[ "$(grep -c -- '--clusters' "$work/bad.err")" -eq 1 ] || fail "bad argument not reported once: $(cat "$work/bad.err")"

# SIGINT or SIGTERM to mpirun: it passes SIGTERM on to every rank, and
# kills them odls_base_sigkill_timeout seconds later (1 by default; raised
# here so that a loaded machine cannot make this a race). Rank 0 presents
# the finished clusters like tarvok, marked incomplete, and the lock goes.
for sig in INT TERM; do
  out="$work/stopped-$sig"
  # A background job of a script starts with SIGINT ignored; env gives it back.
  timeout 300 env --default-signal=INT mpirun --allow-run-as-root --oversubscribe \
    --mca odls_base_sigkill_timeout 10 -n 3 "$dir/mpi/tarvok-mpi" run "$data" --clusters 20 \
    --permutations 400 --quiet --out "$out" >"$out.txt" 2>"$out.err" &
  launcher=$!
  for _ in $(seq 1200); do [ -s "$out/clusterlengths.txt" ] && break; sleep 0.1; done
  [ -s "$out/clusterlengths.txt" ] || fail "SIG$sig: no cluster finished"
  kill -"$sig" "$launcher"
  status=0
  wait "$launcher" || status=$?
  [ "$status" -ne 124 ] || fail "SIG$sig: the job hung"
  for file in summary.json summary.tsv report.html; do [ -f "$out/$file" ] || fail "SIG$sig: no $file"; done
  grep -q '"complete": false' "$out/summary.json" || fail "SIG$sig: summary.json not marked incomplete"
  grep -q "Incomplete results:</strong> interrupted by SIGTERM" "$out/report.html" ||
    fail "SIG$sig: report.html not marked incomplete"
  [ ! -e "$out/.tarvok.lock" ] || fail "SIG$sig: the lock file stayed"
done

# A rank killed from outside: mpirun ends the others.
timeout 120 mpirun --allow-run-as-root --oversubscribe -n 3 "$dir/mpi/tarvok-mpi" run "$data" --clusters 5 \
  --permutations 400 --quiet --out "$work/killed" >/dev/null 2>&1 &
launcher=$!
victim=""
for _ in $(seq 100); do
  # timeout's child is mpirun, whose children are the ranks.
  for pid in $(pgrep -P "$(pgrep -P "$launcher" | head -1)" || true); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx 'OMPI_COMM_WORLD_RANK=1'; then victim=$pid; fi
  done
  [ -n "$victim" ] && break
  sleep 0.1
done
[ -n "$victim" ] || fail "rank 1 not found"
sleep 1
kill -KILL "$victim"
status=0
wait "$launcher" || status=$?
[ "$status" -ne 0 ] || fail "the job with a killed rank exited with 0"
[ "$status" -ne 124 ] || fail "the job with a killed rank hung"
echo "mpi: all checks passed"
