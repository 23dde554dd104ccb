#!/usr/bin/env bats
# SPDX-License-Identifier: ISC
# Whatever standard streams the client starts with, the server receives
# exactly "hello", or nothing at all: the FIFO never takes the number of a
# closed stream, and nothing done with stdout comes before the payload.

# shellcheck source=tests/helper.bash
source "$BATS_TEST_DIRNAME/helper.bash"

@test "standard input, output, error or all three closed: the reader gets exactly hello" {
	mkfifo fifo-2

	start_reader
	status=0
	timeout 10 "$client" <&- >stdout 2>stderr 3>&- || status=$?
	[ "$status" -eq 0 ]
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	reader_got 'hello'

	start_reader
	status=0
	timeout 10 "$client" </dev/null >&- 2>stderr 3>&- || status=$?
	[ "$status" -eq 0 ]
	has_bytes stderr ''
	reader_got 'hello'

	start_reader
	status=0
	timeout 10 "$client" </dev/null >stdout 2>&- 3>&- || status=$?
	[ "$status" -eq 0 ]
	has_bytes stdout "$sent_lines"
	reader_got 'hello'

	start_reader
	status=0
	timeout 10 "$client" <&- >&- 2>&- 3>&- || status=$?
	[ "$status" -eq 0 ]
	reader_got 'hello'
}

@test "out of descriptors: open's EMFILE, and the server is never woken" {
	[ "${EX2_SANITIZED:-0}" != 1 ] ||
	    skip "the sanitizer runtime cannot start with only three descriptors"
	mkfifo fifo-2
	# A reader of its own (not timeout's child), to see where it waits.
	cat fifo-2 >received 3>&- &
	reader=$!
	started+=("$reader")

	# Three descriptors allowed and stdout closed: /dev/null takes
	# descriptor 1, and then there is no room for the FIFO.
	status=0
	timeout 10 prlimit --nofile=3 "$client" </dev/null >&- 2>stderr 3>&- || status=$?
	[ "$status" -eq 1 ]
	has_bytes stderr 'open: Too many open files\n'

	# Stderr closed, and the loader reporting on it down to the exit.
	status=0
	LD_DEBUG=all timeout 10 prlimit --nofile=3 "$client" </dev/null >stdout 2>&- 3>&- ||
	    status=$?
	[ "$status" -eq 1 ]
	has_bytes stdout ''

	# The reader still waits for its first writer.
	wait_in "$reader" wait_for_partner
	: >fifo-2
	reader_got ''
}

@test "no /dev/null to fill a closed stream: nothing is sent, and the reason is given" {
	command -v unshare >/dev/null || skip "unshare (util-linux) is not installed"
	# In a mount namespace of its own, /dev is empty, as in a bare chroot.
	# A user namespace lets a plain user mount there too, where the system
	# allows one.
	in_ns() { unshare --map-root-user --mount sh -c 'mount -t tmpfs tmpfs /dev && exec "$@"' sh "$@"; }
	in_ns true 2>/dev/null || skip "no user and mount namespace to hide /dev/null in"
	mkfifo fifo-2

	# With the standard streams open, /dev/null is not needed.
	start_reader
	status=0
	in_ns timeout 10 "$client" </dev/null >stdout 2>stderr 3>&- || status=$?
	[ "$status" -eq 0 ]
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	reader_got 'hello'

	# With stdin closed, the FIFO would take descriptor 0.
	start_reader
	status=0
	in_ns timeout 10 "$client" <&- >stdout 2>stderr 3>&- || status=$?
	[ "$status" -eq 1 ]
	has_bytes stdout ''
	has_bytes stderr '/dev/null: No such file or directory\n'
	reader_got ''
}

@test "stdout is written once, after the payload: a reader of stdout that has gone costs nothing" {
	mkfifo fifo-2

	# The order of writes, as the kernel sees them.
	start_reader
	status=0
	ASAN_OPTIONS=detect_leaks=0 timeout 10 strace -qq -e trace=write -o trace \
	    "$client" >stdout 2>stderr 3>&- || status=$?
	[ "$status" -eq 0 ]
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	reader_got 'hello'
	grep '^write(' trace | sed 's/  */ /g; s/^write([0-9]*, "hello"/write(FIFO, "hello"/' >writes
	printf '%s\n' 'write(FIFO, "hello", 5) = 5' \
	    'write(1, "client: fifo opened for write\nwr"..., 54) = 54' | diff - writes

	# Stdout is a pipe whose reader left before the client started.
	open_gone_pipe
	start_reader
	status=0
	timeout 10 "$client" >&5 2>stderr 3>&- 5>&- || status=$?
	exec 5>&-
	[ "$status" -eq 0 ]
	has_bytes stderr ''
	reader_got 'hello'

	# A reader of stdout that takes one line and leaves.
	start_reader
	timeout 10 "$client" 2>stderr 3>&- | head -n 1 >first
	[ "${PIPESTATUS[*]}" = '0 0' ]
	has_bytes first 'client: fifo opened for write\n'
	has_bytes stderr ''
	reader_got 'hello'
}
