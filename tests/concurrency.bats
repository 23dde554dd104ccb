#!/usr/bin/env bats
# SPDX-License-Identifier: ISC
# Many clients at once through one server: each five-byte write reaches the
# server whole, never interleaved with another, and none is lost. The
# server is tools/server.sh, the one the README shows.

# shellcheck source=tests/helper.bash
source "$BATS_TEST_DIRNAME/helper.bash"

@test "300 clients at once through the example server: 300 messages, every client exits 0" {
	local n=300 i pids=() failed=()
	mkfifo fifo-2
	timeout "$reader_limit" bash "$BATS_TEST_DIRNAME/../tools/server.sh" "$n" >received 3>&- &
	reader=$!
	started+=("$reader")
	for ((i = 0; i < n; i++)); do
		timeout "$crowd_limit" "${client[@]}" >/dev/null 2>>stderr 3>&- &
		pids+=($!)
		started+=($!)
	done
	for i in "${pids[@]}"; do
		status=0
		wait "$i" || status=$?
		[ "$status" -eq 0 ] || failed+=("$i:$status")
	done
	[ "${#failed[@]}" -eq 0 ] ||
	    { echo "${#failed[@]} of $n clients (PID:status) did not exit 0: ${failed[*]}" >&2; false; }
	has_bytes stderr ''
	reader_got "$(printf 'hello\\n%.0s' $(seq "$n"))"
}
