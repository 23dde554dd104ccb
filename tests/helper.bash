# Shared by every test file: each test runs the real client, named by
# EX2_CLIENT, in a scratch directory of its own. Every wait is bounded.

# shellcheck disable=SC2034 # status, reader and sent_lines are for the test files
setup() {
	client=${EX2_CLIENT:?EX2_CLIENT must name the ex2-client binary}
	scratch=$(mktemp -d "${BATS_TMPDIR:-/tmp}/ex2-test.XXXXXX")
	cd "$scratch" || return 1
}

teardown() {
	if [ -n "${reader:-}" ]; then
		kill "$reader" 2>/dev/null || :
	fi
	cd / && rm -rf "$scratch"
}

# run_client [ARGS...]: run the client here; its stdout, stderr and exit
# status land in ./stdout, ./stderr and $status.
run_client() {
	status=0
	timeout 10 "$client" "$@" >stdout 2>stderr 3>&- || status=$?
}

# start_reader: play the server, reading fifo-2 to end-of-file into
# ./received in the background.
start_reader() {
	timeout 10 cat fifo-2 >received 3>&- &
	reader=$!
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

# The two progress lines of a successful send.
sent_lines='client: fifo opened for write\nwrote 5 bytes to server\n'
