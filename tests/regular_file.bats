#!/usr/bin/env bats
# SPDX-License-Identifier: ISC
# A regular file named fifo-2 is written in place: neither truncated nor
# appended to.

# shellcheck source=tests/helper.bash
source "$BATS_TEST_DIRNAME/helper.bash"

@test "a longer file: its first five bytes are overwritten, the rest kept" {
	printf 'abcdefghij' >fifo-2
	run_client
	has_status 0
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	has_bytes fifo-2 'hellofghij'
}

@test "a shorter file grows to five bytes; an empty one takes them too" {
	printf 'ab' >fifo-2
	run_client
	has_status 0
	has_bytes stdout "$sent_lines"
	has_bytes fifo-2 'hello'

	: >fifo-2
	run_client
	has_status 0
	has_bytes fifo-2 'hello'
}

@test "a file over 2 GiB: written in place all the same, on a 32-bit build too" {
	# Sparse, so it takes no room on disk.
	truncate -s 3G fifo-2
	run_client
	has_status 0
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	[ "$(head -c 5 fifo-2)" = hello ]
	[ "$(stat -c %s fifo-2)" -eq $((3 * 1024 * 1024 * 1024)) ]
}
