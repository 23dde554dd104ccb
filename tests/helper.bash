# SPDX-License-Identifier: ISC
# Shared by every test file: each test runs the real client, named by
# EX2_CLIENT, in a scratch directory of its own. Every wait is bounded, and
# teardown kills whatever a test started and still runs, whole process
# groups included.
#
# The bounds are far beyond what a run takes on an idle machine, and each
# outlasts what it waits for: a client gets client_limit, valgrind's run of
# it twice that, each client of a crowd (hundreds started at once)
# crowd_limit, which covers the whole crowd from its first start to its
# last exit, and a reader, which may serve a whole crowd, reader_limit.
# wait_limit bounds the wait for a process to reach a point. With them the
# suite passed twice in a row under "ctest -j8" while 64 busy loops ran on
# 2 cores, where the crowd of whole_lines took up to 86 s (see doc/ci.md);
# a heavier load than that may still make a test red.
#
# A tool the tests need is required: its absence fails the test with a
# message naming its package. Only valgrind is optional. A feature of the
# kernel or the CPU that a test needs and this machine lacks skips that
# test with the reason.

# shellcheck disable=SC2034 # status, reader, pid, drainer and sent_lines are for the test files
client_limit=60
crowd_limit=300
reader_limit=420
wait_limit=60

setup() {
	client_bin=${EX2_CLIENT:?EX2_CLIENT must name the ex2-client binary}
	# A binary for another CPU runs under its emulator (qemu-user).
	read -r -a emulator <<<"${EX2_EMULATOR:-}"
	set_client
	scratch=$(mktemp -d "${BATS_TMPDIR:-/tmp}/ex2-test.XXXXXX")
	started=()
	cd "$scratch" || return 1
}

# set_client: the command line that starts the client, in ${client[@]}.
# Every signal is at its default there, whatever this shell inherited:
# bash cannot undo an ignored SIGPIPE it was started with, and a client
# that inherits one would pass tests of what it must do on its own.
set_client() {
	client=(env --default-signal "${emulator[@]}" "$client_bin")
}

# own_client: run a copy of the client kept in the scratch directory, for a
# test whose client runs as another user or as root in a user namespace,
# where the original's directory may be out of reach.
own_client() {
	chmod 755 "$scratch"
	cp "$client_bin" "$scratch/client"
	client_bin=$scratch/client
	set_client
}

teardown() {
	local pid running
	# Only what still runs: a PID already reaped may have been reused.
	# timeout leads a process group of its own; anything else started in
	# the background is a single process.
	running=" $(jobs -rp | tr '\n' ' ') "
	for pid in "${started[@]}"; do
		[[ $running == *" $pid "* ]] || continue
		kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || :
	done
	cd / && rm -rf "$scratch"
}

# needs COMMAND PACKAGE: fail, naming the package, unless COMMAND is here.
needs() {
	command -v "$1" >/dev/null && return 0
	echo "this test needs $1: apt-get install $2" >&2
	return 1
}

# native_only REASON: skip the test where the client runs under an emulator.
native_only() {
	[ "${#emulator[@]}" -eq 0 ] || skip "$1 (the client runs under ${emulator[0]})"
}

# run_client [ARGS...]: run the client here; its stdout, stderr and exit
# status land in ./stdout, ./stderr and $status.
run_client() {
	status=0
	timeout "$client_limit" "${client[@]}" "$@" >stdout 2>stderr 3>&- || status=$?
}

# start_client [ENV-OPTION...]: start the client in the background, with
# its stdout and stderr in ./stdout and ./stderr, and its PID in $pid. The
# options (--ignore-signal=PIPE, say) go to the env that starts it.
start_client() {
	env --default-signal "$@" "${emulator[@]}" "$client_bin" >stdout 2>stderr 3>&- &
	pid=$!
	started+=("$pid")
}

# wait_client: wait, at most client_limit seconds, for the client of
# start_client to end; its exit status lands in $status.
wait_client() {
	local end=$((SECONDS + client_limit))
	while ((SECONDS < end)) && kill -0 "$pid" 2>/dev/null; do
		sleep 0.01
	done
	if kill -0 "$pid" 2>/dev/null; then
		# SIGKILL: a client that blocks SIGTERM must not hold the wait.
		echo "the client ($pid) still runs after $client_limit s: killed" >&2
		kill -KILL "$pid"
	fi
	status=0
	wait "$pid" || status=$?
}

# need_symbolic_wchan: skip unless /proc/PID/wchan names the kernel function
# a process sleeps in, as wait_in reads it. Asked of a stopped process,
# which stays where it is: a kernel without symbols says "0".
need_symbolic_wchan() {
	[ -z "${wchan_named:-}" ] || return 0
	local probe state='' wchan=0 end=$((SECONDS + wait_limit))
	sleep 30 &
	probe=$!
	# Ours to kill below, and stopped, so it cannot end before that; out
	# of the job table, so its end is not reported.
	disown "$probe"
	kill -STOP "$probe"
	while ((SECONDS < end)); do
		read -r _ _ state _ <"/proc/$probe/stat" || :
		if [ "$state" = T ]; then
			# Stopped; give it the moment it takes to leave the CPU.
			for _ in {1..100}; do
				wchan=$(cat "/proc/$probe/wchan") || :
				[ "$wchan" = 0 ] || break
				sleep 0.01
			done
			break
		fi
		sleep 0.01
	done
	kill -KILL "$probe"
	[ "$state" = T ] || { echo "process $probe never stopped" >&2; return 1; }
	[ "$wchan" != 0 ] || skip "this kernel's /proc/PID/wchan names no functions"
	wchan_named=1
}

# wait_in PID FUNCTION: wait, at most wait_limit s, until process PID sleeps in the
# kernel function FUNCTION, a glob: wait_for_partner (an open of a FIFO with
# no peer) or *pipe_write (a write to a full FIFO; anon_pipe_write on newer
# kernels).
wait_in() {
	local end=$((SECONDS + wait_limit)) wchan=
	need_symbolic_wchan
	while ((SECONDS < end)); do
		# Read by the shell itself: a process for each look at 300
		# clients is what a loaded machine can least afford. The file
		# ends without a newline, so read returns 1 with the value set.
		wchan=
		{ read -r wchan <"/proc/$1/wchan"; } 2>/dev/null || :
		# shellcheck disable=SC2053 # FUNCTION is a glob on purpose
		[[ $wchan == $2 ]] && return 0
		sleep 0.01
	done
	echo "process $1 never waited in $2 (last seen in '$wchan')" >&2
	return 1
}

# waits_in PID FUNCTION: process PID sleeps in the kernel function
# FUNCTION now. Asked of a process already seen there (wait_in), it says
# whether anything has woken it since.
waits_in() {
	local wchan
	wchan=
	{ read -r wchan <"/proc/$1/wchan"; } 2>/dev/null || :
	# shellcheck disable=SC2053 # FUNCTION is a glob on purpose
	[[ $wchan == $2 ]] && return 0
	echo "process $1 no longer waits in $2 (it is in '$wchan')" >&2
	return 1
}

# hold_full FIFO: make FIFO, hold it open read-write on descriptor 4, and
# fill it with whole lines "x" until it takes no more, so that a write to
# it waits (in *pipe_write) until a reader drains it.
hold_full() {
	held=$1
	mkfifo "$held"
	exec 4<>"$held"
	# In blocks the pipe takes whole or not at all, through an open of
	# dd's own, as it makes that one non-blocking.
	yes x | head -c $((1024 * 1024)) |
	    dd bs=4096 iflag=fullblock oflag=nonblock of="$held" status=none 2>/dev/null || :
}

# drain FILE: a reader, its PID in $drainer, drains the FIFO of hold_full
# to end-of-file into FILE, in the background; this shell lets go of it.
drain() {
	# The reader's end is opened here, before the shell's own is closed:
	# a FIFO left without a reader for a moment fails its writers (EPIPE).
	exec 5<"$held"
	timeout "$reader_limit" cat <&5 >"$1" 3>&- 4>&- 5<&- &
	drainer=$!
	started+=("$drainer")
	exec 4>&- 5<&-
}

# start_reader: play the server, reading fifo-2 to end-of-file into
# ./received in the background.
start_reader() {
	timeout "$reader_limit" cat fifo-2 >received 3>&- &
	reader=$!
	started+=("$reader")
}

# send_to_new_reader: a reader comes for the client of start_client, held
# in its open: the client sends as any other run does, and exits 0.
send_to_new_reader() {
	start_reader
	wait_client
	has_status 0
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	reader_got 'hello'
}

# reader_got BYTES: the reader reached end-of-file having received exactly
# BYTES (a printf format), nothing before, after or in between.
reader_got() {
	wait "$reader"
	local rc=$?
	reader=
	[ "$rc" -eq 0 ] || { echo "reader ended with status $rc" >&2; return 1; }
	has_bytes received "$1"
}

# has_status N: the client's exit status, $status, is N. If not, say what
# it was, and what the client left in ./stdout, ./stderr or ./merged.
has_status() {
	[ "$status" -eq "$1" ] && return 0
	echo "exit status $status, expected $1" >&2
	local file
	for file in stdout stderr merged; do
		[ -f "$file" ] || continue
		echo "$file held:" >&2
		od -c "$file" >&2
	done
	return 1
}

# has_bytes FILE BYTES: FILE holds exactly BYTES (a printf format).
has_bytes() {
	# shellcheck disable=SC2059 # BYTES is a format on purpose
	if ! printf "$2" | cmp -s - "$1"; then
		printf 'expected %s to hold:\n' "$1" >&2
		printf "$2" | od -c >&2
		printf 'but it holds:\n' >&2
		od -c "$1" >&2
		return 1
	fi
}

# has_line FILE LINE...: FILE holds exactly one line, one of LINEs. Where
# the C library words a message its own way, each wording is named.
has_line() {
	local file=$1 line
	shift
	[ "$(wc -l <"$file")" -eq 1 ] || { cat "$file" >&2; return 1; }
	for line in "$@"; do
		[ "$(cat "$file")" = "$line" ] && return 0
	done
	echo "$file holds '$(cat "$file")', none of: $*" >&2
	return 1
}

# run_to_gone_stdout [WRAPPER...]: run the client here, under WRAPPER, with
# stdout a pipe (the FIFO ./out) whose reader left before it started; its
# stderr lands in ./stderr, its exit status in $status.
run_to_gone_stdout() {
	[ -p out ] || mkfifo out
	# Read-write first, so the open for writing does not wait.
	exec 4<>out
	exec 5>out
	exec 4<&-
	status=0
	timeout "$client_limit" env --default-signal "$@" "${emulator[@]}" "$client_bin" \
	    >&5 2>stderr 3>&- 5>&- || status=$?
	exec 5>&-
}

# The two progress lines of a successful send.
sent_lines='client: fifo opened for write\nwrote 5 bytes to server\n'
