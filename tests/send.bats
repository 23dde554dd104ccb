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
