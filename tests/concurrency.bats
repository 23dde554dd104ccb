#!/usr/bin/env bats
# SPDX-License-Identifier: ISC
# Many clients at once through one reader: each five-byte write reaches the
# reader whole, never interleaved with another, and none is lost.

# shellcheck source=tests/helper.bash
source "$BATS_TEST_DIRNAME/helper.bash"

@test "300 clients at once: 300 whole payloads, every client exits 0" {
	local n=300 i pids=() failed=0
	mkfifo fifo-2
	start_reader
	# Hold a write end so the reader sees no end-of-file between clients;
	# read-write keeps this open from waiting.
	exec 4<>fifo-2
	for ((i = 0; i < n; i++)); do
		timeout 20 "$client" >/dev/null 2>>stderr 3>&- 4>&- &
		pids+=($!)
	done
	for i in "${pids[@]}"; do
		wait "$i" || failed=$((failed + 1))
	done
	exec 4>&-
	[ "$failed" -eq 0 ]
	has_bytes stderr ''
	reader_got "$(printf 'hello%.0s' $(seq "$n"))"
}
