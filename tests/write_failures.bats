#!/usr/bin/env bats
# SPDX-License-Identifier: ISC
# When the write fails or falls short: the reason on stderr, status 1, and a
# merged log shows the first line before it.

# shellcheck source=tests/helper.bash
source "$BATS_TEST_DIRNAME/helper.bash"

@test "the write fails (fifo-2 leads to /dev/full): write's own ENOSPC, after the first line" {
	ln -s /dev/full fifo-2
	run_client
	has_status 1
	has_bytes stdout 'client: fifo opened for write\n'
	has_bytes stderr 'write: No space left on device\n'

	status=0
	timeout "$client_limit" "${client[@]}" >merged 2>&1 3>&- || status=$?
	has_status 1
	has_bytes merged 'client: fifo opened for write\nwrite: No space left on device\n'

	# Stdout a pipe whose reader has gone: flushing it fails with EPIPE and
	# no signal, and the report still names the write's own error.
	run_to_gone_stdout
	has_status 1
	has_bytes stderr 'write: No space left on device\n'
}

# The size limit binds every file the client writes, so its stdout and
# stderr go through pipes. MERGED=1 sends both down one.
run_client_fsize_limited() {
	mkfifo out.pipe err.pipe
	timeout "$reader_limit" cat out.pipe >stdout 3>&- &
	timeout "$reader_limit" cat err.pipe >stderr 3>&- &
	status=0
	if [ "${MERGED:-0}" = 1 ]; then
		prlimit --fsize="$1" timeout "$client_limit" "${client[@]}" >out.pipe 2>&1 3>&- || status=$?
		: >err.pipe
	else
		prlimit --fsize="$1" timeout "$client_limit" "${client[@]}" >out.pipe 2>err.pipe 3>&- || status=$?
	fi
	wait
	rm out.pipe err.pipe
}

@test "a file size limit: 3 bytes is a short write, reported; 0 is SIGXFSZ; on stdout it costs nothing" {
	needs prlimit util-linux
	: >fifo-2
	run_client_fsize_limited 3
	has_status 1
	has_bytes stdout 'client: fifo opened for write\nwrote 3 bytes to server\n'
	has_bytes stderr 'write: short write (3 of 5 bytes)\n'
	has_bytes fifo-2 'hel'

	: >fifo-2
	MERGED=1 run_client_fsize_limited 3
	has_status 1
	has_bytes stdout 'client: fifo opened for write\nwrote 3 bytes to server\nwrite: short write (3 of 5 bytes)\n'

	# Both streams into one file that the limit binds as well: its first
	# 3 bytes, and no room for the report; the status still tells.
	: >fifo-2
	status=0
	prlimit --fsize=3 timeout "$client_limit" "${client[@]}" >merged 2>&1 3>&- || status=$?
	has_status 1
	has_bytes merged 'cli'
	has_bytes fifo-2 'hel'

	# The write starts at offset 0: a limit of 0 lets nothing through and
	# the kernel raises SIGXFSZ, which ends the client.
	: >fifo-2
	run_client_fsize_limited 0
	has_status $((128 + 25))
	has_bytes stdout ''
	has_bytes stderr ''
	has_bytes fifo-2 ''

	# Stdout a file with room for 10 bytes of the 54: the payload is
	# delivered first, and the limit met after it changes nothing.
	rm fifo-2
	mkfifo fifo-2
	start_reader
	status=0
	prlimit --fsize=10 timeout "$client_limit" "${client[@]}" >stdout 2>stderr 3>&- || status=$?
	has_status 0
	has_bytes stdout 'client: fi'
	has_bytes stderr ''
	reader_got 'hello'
}

# The server leaves while the client waits in its write. Deterministically:
# the FIFO is full, held open read-write by this shell alone, so the open
# returns at once and the write waits for room; once the client is seen
# waiting in the write, the shell closes its end, and the write finds no
# reader left. Its stdout and stderr both go to ./merged. The arguments
# are options of the env that starts the client.
run_client_reader_gone() {
	mkfifo fifo-2
	exec 4<>fifo-2
	# Fill it whatever its capacity: write until the FIFO refuses more.
	dd if=/dev/zero bs=4096 count=1024 oflag=nonblock status=none >&4 2>/dev/null || :
	env --default-signal "$@" "${emulator[@]}" "$client_bin" >merged 2>&1 3>&- 4>&- &
	pid=$!
	started+=("$pid")
	wait_in "$pid" "*pipe_write"
	exec 4>&-
	wait_client
}

@test "the reader has gone, SIGPIPE at its default: the signal ends the client" {
	run_client_reader_gone
	has_status $((128 + 13))
	# The first line was still in stdout's buffer.
	has_bytes merged ''
}

@test "the reader has gone, SIGPIPE ignored or blocked: write's EPIPE, status 1" {
	local how
	for how in --ignore-signal=PIPE --block-signal=PIPE; do
		run_client_reader_gone "$how"
		has_status 1
		has_bytes merged 'client: fifo opened for write\nwrite: Broken pipe\n'
		rm fifo-2
	done
}
