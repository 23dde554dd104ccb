#!/usr/bin/env bats
# SPDX-License-Identifier: ISC
# Under valgrind's memcheck a successful send makes no memory error,
# allocates nothing (stdout's buffer is the client's own) and leaves no
# descriptor it opened (the FIFO, /dev/null) open at exit.

# shellcheck source=tests/helper.bash
source "$BATS_TEST_DIRNAME/helper.bash"
bats_require_minimum_version 1.5.0

@test "memcheck: a send is clean, allocates nothing, and closes what it opened" {
	[ "${EX2_SANITIZED:-0}" != 1 ] || skip "valgrind cannot run a sanitized binary"
	# In a static binary memcheck cannot replace malloc, and flags glibc's
	# own start-up code.
	[ "${EX2_LINK:-dynamic}" = dynamic ] || skip "memcheck does not support static binaries"
	native_only "valgrind runs programs of its own CPU only"
	command -v valgrind >/dev/null || skip "valgrind (optional) is not installed"
	mkfifo fifo-2
	start_reader
	status=0
	timeout $((2 * client_limit)) env --default-signal valgrind --error-exitcode=99 --leak-check=full --track-fds=yes \
	    --log-file=valgrind.log "$client_bin" >stdout 2>stderr 3>&- || status=$?
	cat valgrind.log
	has_status 0
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	reader_got 'hello'
	grep -q 'ERROR SUMMARY: 0 errors' valgrind.log
	grep -q 'total heap usage: 0 allocs, 0 frees, 0 bytes allocated' valgrind.log
	grep -q 'FILE DESCRIPTORS: ' valgrind.log
	# Each descriptor open at exit is listed, then where it was opened:
	# all were inherited, none opened by the client.
	awk '/Open file descriptor/ { getline at; if (at !~ /inherited from parent/) bad = 1 }
	    END { exit bad }' valgrind.log
}
