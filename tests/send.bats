#!/usr/bin/env bats
# Sending through a FIFO: the reader gets exactly "hello", then end-of-file.

# shellcheck source=tests/helper.bash
source "$BATS_TEST_DIRNAME/helper.bash"

@test "with a reader: two progress lines, status 0, reader gets hello and EOF" {
	mkfifo fifo-2
	start_reader
	run_client
	[ "$status" -eq 0 ]
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	reader_got 'hello'
	[ -p fifo-2 ]
}

@test "with no reader yet: waits in the open, silent, until a reader comes" {
	mkfifo fifo-2
	timeout 10 "$client" >stdout 2>stderr 3>&- &
	local pid=$!
	sleep 0.5
	# Still waiting, and nothing said yet.
	kill -0 "$pid"
	has_bytes stdout ''
	has_bytes stderr ''

	start_reader
	status=0
	wait "$pid" || status=$?
	[ "$status" -eq 0 ]
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	reader_got 'hello'
}

@test "arguments change nothing, on success and on failure" {
	run_client --help -v fifo-1 ''
	[ "$status" -eq 1 ]
	has_bytes stdout ''
	has_bytes stderr 'open: No such file or directory\n'

	mkfifo fifo-2
	start_reader
	run_client --help -v fifo-1 ''
	[ "$status" -eq 0 ]
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	reader_got 'hello'
}
