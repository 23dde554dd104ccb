#!/usr/bin/env bats
# SPDX-License-Identifier: ISC
# Sending through a FIFO: the reader gets exactly "hello", then end-of-file.

# shellcheck source=tests/helper.bash
source "$BATS_TEST_DIRNAME/helper.bash"

@test "with a reader: two progress lines, status 0, reader gets hello and EOF" {
	mkfifo fifo-2
	start_reader
	run_client
	has_status 0
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	reader_got 'hello'
	[ -p fifo-2 ]
}

@test "with no reader yet: waits in the open, silent, until a reader comes" {
	mkfifo fifo-2
	start_client
	wait_in "$pid" wait_for_partner
	has_bytes stdout ''
	has_bytes stderr ''

	send_to_new_reader
}

# start_client_into FILE: start the client as start_client does, but with
# its stdout into FILE, and without the descriptor that hold_full holds.
start_client_into() {
	"${client[@]}" >"$1" 2>stderr 3>&- 4>&- &
	pid=$!
	started+=("$pid")
}

@test "the FIFO is closed before stdout is written: the server has end-of-file while the client still waits on stdout" {
	mkfifo fifo-2
	# Stdout a pipe held full: the client, having written the payload,
	# waits in its write of the two lines.
	hold_full out
	start_reader
	start_client_into out
	wait_in "$pid" '*pipe_write'
	local fd open_fds=()
	for fd in "/proc/$pid/fd/"*; do
		open_fds+=("${fd##*/} -> $(readlink "$fd")")
	done
	if [[ ${open_fds[*]} == *fifo-2* ]]; then
		printf 'the client holds the FIFO open while it writes stdout:\n' >&2
		printf '%s\n' "${open_fds[@]}" >&2
		false
	fi
	reader_got 'hello'

	drain drained
	wait_client
	has_status 0
	wait "$drainer"
	grep -v -x x drained >stdout || :
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
}

@test "held on a full stdout after the payload, the client still ends at SIGTERM, as timeout sends it" {
	mkfifo fifo-2
	hold_full out
	start_reader
	start_client_into out
	wait_in "$pid" '*pipe_write'
	reader_got 'hello'
	# Only SIGPIPE and SIGXFSZ are blocked after the write.
	kill -TERM "$pid"
	wait_client
	has_status $((128 + 15))
}

@test "arguments change nothing, on success and on failure" {
	run_client --help -v fifo-1 ''
	has_status 1
	has_bytes stdout ''
	has_bytes stderr 'open: No such file or directory\n'

	mkfifo fifo-2
	start_reader
	run_client --help -v fifo-1 ''
	has_status 0
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	reader_got 'hello'
}

@test "a signal the caller blocked stays blocked to the end, though it is pending" {
	mkfifo fifo-2
	start_client --block-signal=USR1
	wait_in "$pid" wait_for_partner
	kill -USR1 "$pid"
	if [ "${#emulator[@]}" -eq 0 ]; then
		# Held pending by the kernel (SIGUSR1 is bit 10, 0x200).
		local pending
		pending=$(sed -n 's/^ShdPnd:[[:space:]]*//p' "/proc/$pid/status")
		(((16#$pending & 0x200) != 0))
	fi
	send_to_new_reader
}
