# SPDX-License-Identifier: ISC
# Shared by every test file: each test runs the real client, named by
# EX2_CLIENT, in a scratch directory of its own. Every wait is bounded, and
# teardown kills whatever a test started, whole process groups included.

# shellcheck disable=SC2034 # status, reader and sent_lines are for the test files
setup() {
	client=${EX2_CLIENT:?EX2_CLIENT must name the ex2-client binary}
	scratch=$(mktemp -d "${BATS_TMPDIR:-/tmp}/ex2-test.XXXXXX")
	started=()
	cd "$scratch" || return 1
}

teardown() {
	local pid
	# timeout leads a process group of its own; anything else started in
	# the background is a single process.
	for pid in "${started[@]}"; do
		kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || :
	done
	cd / && rm -rf "$scratch"
}

# run_client [ARGS...]: run the client here; its stdout, stderr and exit
# status land in ./stdout, ./stderr and $status.
run_client() {
	status=0
	timeout 10 "$client" "$@" >stdout 2>stderr 3>&- || status=$?
}

# start_client [WRAPPER...]: start the client in the background, with its
# stdout and stderr in ./stdout and ./stderr, and its PID (the client's own:
# a wrapper must exec it) in $pid.
start_client() {
	"$@" "$client" >stdout 2>stderr 3>&- &
	pid=$!
	started+=("$pid")
}

# wait_client: wait, at most 10 s, for the client of start_client to end;
# its exit status lands in $status.
wait_client() {
	local end=$((SECONDS + 10))
	while ((SECONDS < end)) && kill -0 "$pid" 2>/dev/null; do
		sleep 0.01
	done
	if kill -0 "$pid" 2>/dev/null; then
		echo "the client ($pid) still runs after 10 s: killed" >&2
		kill "$pid"
	fi
	status=0
	wait "$pid" || status=$?
}

# wait_in PID FUNCTION: wait, at most 10 s, until process PID sleeps in the
# kernel function FUNCTION, a glob: wait_for_partner (an open of a FIFO with
# no peer) or *pipe_write (a write to a full FIFO; anon_pipe_write on newer
# kernels).
wait_in() {
	local end=$((SECONDS + 10)) wchan=
	while ((SECONDS < end)); do
		wchan=$(cat "/proc/$1/wchan" 2>/dev/null) || wchan=
		# shellcheck disable=SC2053 # FUNCTION is a glob on purpose
		[[ $wchan == $2 ]] && return 0
		sleep 0.01
	done
	echo "process $1 never waited in $2 (last seen in '$wchan')" >&2
	return 1
}

# start_reader: play the server, reading fifo-2 to end-of-file into
# ./received in the background.
start_reader() {
	timeout 10 cat fifo-2 >received 3>&- &
	reader=$!
	started+=("$reader")
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

# open_gone_pipe: open descriptor 5 for writing on a pipe (the FIFO ./out)
# whose reader has gone, as a stdout whose reader has left.
open_gone_pipe() {
	mkfifo out
	# Read-write first, so the open for writing does not wait.
	exec 4<>out
	exec 5>out
	exec 4<&-
}

# The two progress lines of a successful send.
sent_lines='client: fifo opened for write\nwrote 5 bytes to server\n'
