#!/usr/bin/env bats
# Whatever standard streams the client starts with, the server receives
# exactly "hello": the FIFO never takes the number of a closed stream.

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

@test "no descriptor above the standard streams: a failed open, and nothing reaches the reader" {
	[ "${EX2_SANITIZED:-0}" != 1 ] ||
	    skip "the sanitizer runtime cannot start with only three descriptors"
	mkfifo fifo-2

	# With three descriptors allowed, the FIFO cannot be moved off 1.
	start_reader
	status=0
	prlimit --nofile=3 "$client" </dev/null >&- 2>stderr 3>&- || status=$?
	[ "$status" -eq 1 ]
	has_bytes stderr 'open: Invalid argument\n'
	reader_got ''

	# Nor off 2, where the report itself must not go into the FIFO.
	start_reader
	status=0
	prlimit --nofile=3 "$client" </dev/null >stdout 2>&- 3>&- || status=$?
	[ "$status" -eq 1 ]
	has_bytes stdout ''
	reader_got ''
}
