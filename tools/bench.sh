#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Benchmarks the client against what a script would use instead,
# sh -c 'printf hello >fifo-2': each command is spawned many times against
# one reader that holds fifo-2 open. Prints, per command, the median wall
# time (hyperfine), runs per second, the ratio to sh, instructions per run
# (callgrind, when valgrind is installed) and peak resident memory (GNU
# time, median of many runs). Checks that the reader received exactly one
# "hello" per run, and fails if not.
#
# usage: bench.sh CLIENT [STATIC-CLIENT]     (BENCH_RUNS sets the run count)
set -euo pipefail

runs=${BENCH_RUNS:-2000}
warmup=50
rss_runs=200

die() { printf 'bench: %s\n' "$*" >&2; exit 1; }
abspath() { case $1 in /*) printf '%s' "$1" ;; *) printf '%s/%s' "$PWD" "$1" ;; esac; }

(($# >= 1)) || die "usage: bench.sh CLIENT [STATIC-CLIENT]"
command -v hyperfine >/dev/null || die "hyperfine is needed (apt-get install hyperfine)"
[ -x /usr/bin/time ] || die "GNU time is needed (apt-get install time)"

# Commands are shell words (hyperfine splits them, eval runs them), so the
# client paths are quoted.
names=(ex2-client) commands=("$(printf %q "$(abspath "$1")")")
if [ -n "${2:-}" ]; then
	names+=(ex2-client-static) commands+=("$(printf %q "$(abspath "$2")")")
fi
names+=("sh -c printf") commands+=("sh -c 'printf hello >fifo-2'")

dir=$(mktemp -d "${TMPDIR:-/tmp}/ex2-bench.XXXXXX")
cleanup() {
	exec 3>&-
	[ -z "${reader:-}" ] || kill "$reader" 2>/dev/null || :
	rm -rf "$dir"
}
trap cleanup EXIT
cd "$dir"
mkfifo fifo-2
cat fifo-2 >received &
reader=$!
# Hold a write end too, so the reader sees no end-of-file between runs.
exec 3<>fifo-2

sent=0
# expect_received: the reader has exactly $sent payloads, all whole.
expect_received() {
	local want=$((sent * 5)) i
	for ((i = 0; i < 100; i++)); do
		[ "$(stat -c %s received)" -ge "$want" ] && break
		sleep 0.05
	done
	[ "$(stat -c %s received)" -eq "$want" ] ||
		die "the reader received $(stat -c %s received) bytes after $sent runs, not $want"
	[ "$(sed 's/hello//g' received | wc -c)" -eq 0 ] ||
		die "the reader received something other than whole hello payloads"
}

valgrind_ok=0
command -v valgrind >/dev/null && valgrind_ok=1

medians=() means=() instrs=() rsss=()
for cmd in "${commands[@]}"; do
	hyperfine --shell=none --warmup "$warmup" --runs "$runs" \
	    --export-csv timing.csv --style none "$cmd" >/dev/null 2>hyperfine.log ||
		{ cat hyperfine.log >&2; die "hyperfine failed on: $cmd"; }
	sent=$((sent + warmup + runs))
	expect_received
	# command,mean,stddev,median,user,system,min,max (seconds)
	IFS=, read -r _ mean _ median _ < <(sed -n 2p timing.csv)
	medians+=("$median") means+=("$mean")

	instr=n/a
	if ((valgrind_ok)); then
		instr=$(eval "valgrind --tool=callgrind --callgrind-out-file=/dev/null $cmd" \
		    2>&1 >/dev/null | sed -n 's/.*Collected : \([0-9]*\).*/\1/p')
		sent=$((sent + 1))
	fi
	instrs+=("$instr")

	rsss+=("$(for ((r = 0; r < rss_runs; r++)); do
		eval "/usr/bin/time -f %M $cmd" 2>&1 >/dev/null
	done | sort -n | sed -n "$((rss_runs / 2))p")")
	sent=$((sent + rss_runs))
	expect_received
done

printf '%s; %s; %s runs per command after %s warm-up runs\n' "$(uname -sr)" \
    "$(nproc) cores, $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -n 1)" \
    "$runs" "$warmup"
printf '%-18s %10s %9s %7s %13s %8s\n' command 'median µs' 'runs/s' 'vs sh' \
    instructions 'peak KB'
for i in "${!commands[@]}"; do
	awk -v name="${names[$i]}" -v median="${medians[$i]}" -v mean="${means[$i]}" \
	    -v base="${medians[-1]}" -v instr="${instrs[$i]}" -v rss="${rsss[$i]}" \
	    'BEGIN { printf "%-18s %10.1f %9.0f %6.2fx %13s %8s\n",
	        name, median * 1e6, 1 / mean, median / base, instr, rss }'
done
printf 'payload check: the reader received %d bytes, %d whole "hello" payloads, one per run\n' \
    "$(stat -c %s received)" "$sent"
