#!/usr/bin/env bats
# When the write fails or falls short: the first line is already out, the
# reason follows on stderr, status 1. Merged logs keep that order.

# shellcheck source=tests/helper.bash
source "$BATS_TEST_DIRNAME/helper.bash"

@test "the write fails (fifo-2 leads to /dev/full): first line, then write's ENOSPC" {
	ln -s /dev/full fifo-2
	run_client
	[ "$status" -eq 1 ]
	has_bytes stdout 'client: fifo opened for write\n'
	has_bytes stderr 'write: No space left on device\n'

	status=0
	timeout 10 "$client" >merged 2>&1 || status=$?
	[ "$status" -eq 1 ]
	has_bytes merged 'client: fifo opened for write\nwrite: No space left on device\n'
}

# The size limit binds every file the client writes, so its stdout and
# stderr go through pipes. MERGED=1 sends both down one.
run_client_fsize_limited() {
	mkfifo out.pipe err.pipe
	timeout 10 cat out.pipe >stdout 3>&- &
	timeout 10 cat err.pipe >stderr 3>&- &
	status=0
	if [ "${MERGED:-0}" = 1 ]; then
		prlimit --fsize=3 timeout 10 "$client" >out.pipe 2>&1 3>&- || status=$?
		: >err.pipe
	else
		prlimit --fsize=3 timeout 10 "$client" >out.pipe 2>err.pipe 3>&- || status=$?
	fi
	wait
	rm out.pipe err.pipe
}

@test "a short write (file size limit of 3 bytes) is reported and fails" {
	: >fifo-2
	run_client_fsize_limited
	[ "$status" -eq 1 ]
	has_bytes stdout 'client: fifo opened for write\nwrote 3 bytes to server\n'
	has_bytes stderr 'write: short write (3 of 5 bytes)\n'
	has_bytes fifo-2 'hel'

	: >fifo-2
	MERGED=1 run_client_fsize_limited
	[ "$status" -eq 1 ]
	has_bytes stdout 'client: fifo opened for write\nwrote 3 bytes to server\nwrite: short write (3 of 5 bytes)\n'
}

# The reader opens and leaves at once, while strace holds the client just
# after its open has returned: the write then finds no reader.
run_client_reader_gone() {
	mkfifo fifo-2
	timeout 10 sh -c ': <fifo-2' 3>&- &
	reader=$!
	status=0
	# LeakSanitizer, in a sanitized build, refuses to run under ptrace.
	ASAN_OPTIONS=detect_leaks=0 timeout 10 "$@" strace -o /dev/null -P "$PWD/fifo-2" -e trace=openat \
	    -e inject=openat:delay_exit=1000000 \
	    "$client" >stdout 2>stderr 3>&- || status=$?
}

@test "the reader has gone: SIGPIPE ends the client, its first line survives" {
	run_client_reader_gone env --default-signal=PIPE
	[ "$status" -eq $((128 + 13)) ]
	has_bytes stdout 'client: fifo opened for write\n'
	has_bytes stderr ''
}

@test "the reader has gone and SIGPIPE is ignored: write's EPIPE, status 1" {
	trap '' PIPE
	run_client_reader_gone
	trap - PIPE
	[ "$status" -eq 1 ]
	has_bytes stdout 'client: fifo opened for write\n'
	has_bytes stderr 'write: Broken pipe\n'
}
