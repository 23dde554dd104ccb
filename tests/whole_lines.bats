#!/usr/bin/env bats
# SPDX-License-Identifier: ISC
# Each diagnostic line goes to stderr whole, in one write(2), on every C
# library, so that the lines of clients failing at once into one log never
# break into one another.

# shellcheck source=tests/helper.bash
source "$BATS_TEST_DIRNAME/helper.bash"

# stderr_writes [WRAPPER...]: run the client under strace (and WRAPPER),
# with stdout and stderr going nowhere, and leave in ./writes one line per
# call that wrote to stderr: its bytes, quoted as strace quotes them (a
# writev's pieces joined in order), and what the call returned.
stderr_writes() {
	needs strace strace
	needs perl perl-base
	status=0
	ASAN_OPTIONS=detect_leaks=0 timeout "$client_limit" env --default-signal \
	    strace -qq -s 256 -e trace=write,writev \
	    -o trace "$@" "${emulator[@]}" "$client_bin" >/dev/null 2>/dev/null 3>&- || status=$?
	perl -ne 'next unless /^writev?\(2, (.*)\) += (.*)$/;
	    my ($args, $returned) = ($1, $2);
	    my $bytes = join "", $args =~ /(?:^|iov_base=)"((?:[^"\\]|\\.)*)"/g;
	    print "\"$bytes\" = $returned\n"' trace >writes
}

@test "each diagnostic line is one write: open, write, short write" {
	stderr_writes
	has_status 1
	printf '%s\n' '"open: No such file or directory\n" = 32' | diff - writes

	ln -s /dev/full fifo-2
	stderr_writes
	has_status 1
	printf '%s\n' '"write: No space left on device\n" = 31' | diff - writes

	# A file size limit that lets three bytes of the payload through; the
	# limit does not bind stderr, which is not a regular file.
	rm fifo-2
	: >fifo-2
	needs prlimit util-linux
	stderr_writes prlimit --fsize=3
	has_status 1
	printf '%s\n' '"write: short write (3 of 5 bytes)\n" = 34' | diff - writes
}

@test "300 clients failing at once into one stderr: 300 whole lines" {
	local n=300 i pids=() others=() end child
	# No fifo-2: each client fails in its open. Their common stderr is a
	# pipe held full, so that every one of them is seen waiting in its
	# first write to it; once a reader drains it, they all write at once.
	hold_full err
	for ((i = 0; i < n; i++)); do
		timeout "$crowd_limit" "${client[@]}" >/dev/null 2>&4 3>&- 4>&- &
		pids+=($!)
		started+=($!)
	done
	for i in "${pids[@]}"; do
		# timeout's child is the client (or its emulator).
		child=
		end=$((SECONDS + wait_limit))
		while [ -z "$child" ] && ((SECONDS < end)); do
			read -r child _ <"/proc/$i/task/$i/children" || :
			[ -n "$child" ] || sleep 0.01
		done
		wait_in "$child" '*pipe_write'
	done

	drain received
	# Each one failed as it should, none by the time-out (124).
	for i in "${pids[@]}"; do
		status=0
		wait "$i" || status=$?
		[ "$status" -eq 1 ] || others+=("$i:$status")
	done
	[ "${#others[@]}" -eq 0 ] ||
	    { echo "${#others[@]} of $n clients (PID:status) did not exit 1: ${others[*]}" >&2; false; }
	wait "$drainer"
	grep -v -x x received >lines || :
	has_bytes lines "$(printf 'open: No such file or directory\\n%.0s' $(seq "$n"))"
}
