#!/usr/bin/env bats
# SPDX-License-Identifier: ISC
# Whatever standard streams the client starts with, the server receives
# exactly "hello", or nothing at all: the FIFO never takes the number of a
# closed stream, and nothing done with stdout comes before the payload.

# shellcheck source=tests/helper.bash
source "$BATS_TEST_DIRNAME/helper.bash"

# start_closing STREAMS: start the client with the standard streams named
# (0, 1, 2 or all) closed, the others in ./stdout and ./stderr.
start_closing() {
	case $1 in
	0) "${client[@]}" <&- >stdout 2>stderr 3>&- & ;;
	1) "${client[@]}" >&- 2>stderr 3>&- & ;;
	2) "${client[@]}" >stdout 2>&- 3>&- & ;;
	all) "${client[@]}" <&- >&- 2>&- 3>&- & ;;
	esac
	pid=$!
	started+=("$pid")
}

@test "standard input, output, error or all three closed: /dev/null takes their place before the FIFO's open" {
	local closed fd
	mkfifo fifo-2
	for closed in 0 1 2 all; do
		: >stdout
		: >stderr
		start_closing "$closed"
		# Held in the FIFO's open: every closed stream is /dev/null by now,
		# so the FIFO cannot take its number.
		wait_in "$pid" wait_for_partner
		for fd in 0 1 2; do
			[ "$closed" = all ] || [ "$closed" = "$fd" ] || continue
			[ "$(readlink "/proc/$pid/fd/$fd")" = /dev/null ]
		done
		start_reader
		wait_client
		[ "$status" -eq 0 ]
		reader_got 'hello'
		if [ "$closed" != 1 ] && [ "$closed" != all ]; then
			has_bytes stdout "$sent_lines"
		fi
		has_bytes stderr ''
	done
}

# start_waiting_reader: a reader of its own (not timeout's child, so that
# wait_in sees it), seen waiting for its first writer.
start_waiting_reader() {
	cat fifo-2 >received 3>&- &
	reader=$!
	started+=("$reader")
	wait_in "$reader" wait_for_partner
}

@test "out of descriptors: open's EMFILE, and the server is never woken" {
	[ "${EX2_SANITIZED:-0}" != 1 ] ||
	    skip "the sanitizer runtime cannot start with only three descriptors"
	native_only "the emulator needs descriptors of its own"
	mkfifo fifo-2

	# One descriptor to spare is enough: the FIFO's, once /dev/null is
	# closed again.
	start_reader
	status=0
	timeout 10 env --default-signal prlimit --nofile=4 "$client_bin" \
	    </dev/null >stdout 2>stderr 3>&- || status=$?
	[ "$status" -eq 0 ]
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	reader_got 'hello'

	start_waiting_reader

	# Three descriptors allowed and stdout closed: /dev/null takes
	# descriptor 1, and then there is no room for the FIFO.
	status=0
	timeout 10 env --default-signal prlimit --nofile=3 "$client_bin" </dev/null >&- 2>stderr 3>&- ||
	    status=$?
	[ "$status" -eq 1 ]
	has_line stderr 'open: Too many open files' 'open: No file descriptors available'

	# Stderr closed, and the loader reporting on it down to the exit.
	status=0
	LD_DEBUG=all timeout 10 env --default-signal prlimit --nofile=3 "$client_bin" \
	    </dev/null >stdout 2>&- 3>&- || status=$?
	[ "$status" -eq 1 ]
	has_bytes stdout ''

	# All three open: a dynamic build's loader finds no descriptor for the
	# C library and never reaches the client; a static one has nothing to
	# load.
	status=0
	timeout 10 env --default-signal prlimit --nofile=3 "$client_bin" \
	    </dev/null >stdout 2>stderr 3>&- || status=$?
	has_bytes stdout ''
	if [ "${EX2_LINK:?}" = dynamic ]; then
		[ "$status" -eq 127 ]
		grep -q 'error while loading shared libraries: libc\.so' stderr
	else
		[ "$status" -eq 1 ]
		has_line stderr 'open: Too many open files' 'open: No file descriptors available'
	fi

	# The reader still waits for its first writer.
	wait_in "$reader" wait_for_partner
	: >fifo-2
	reader_got ''
}

@test "no /dev/null to fill a closed stream: refused at once, the server never woken" {
	needs unshare util-linux
	# In a mount namespace of its own, /dev is empty, as in a bare chroot.
	# A user namespace lets a plain user mount there too, where the system
	# allows one; its root reaches only what the caller owns.
	in_ns() { unshare --map-root-user --mount sh -c 'mount -t tmpfs tmpfs /dev && exec "$@"' sh "$@"; }
	in_ns true 2>/dev/null || skip "no user and mount namespace to hide /dev/null in"
	own_client
	mkfifo fifo-2

	# With the standard streams open, /dev/null is not needed.
	start_reader
	status=0
	in_ns timeout 10 "${client[@]}" </dev/null >stdout 2>stderr 3>&- || status=$?
	[ "$status" -eq 0 ]
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	reader_got 'hello'

	# With any one closed, the FIFO would take its number: the client
	# refuses before it opens the FIFO, so a reader is never woken, and
	# without a reader the client does not wait.
	start_waiting_reader
	status=0
	in_ns timeout 10 "${client[@]}" <&- >stdout 2>stderr 3>&- || status=$?
	[ "$status" -eq 1 ]
	has_bytes stdout ''
	has_bytes stderr '/dev/null: No such file or directory\n'

	status=0
	in_ns timeout 10 "${client[@]}" </dev/null >&- 2>stderr 3>&- || status=$?
	[ "$status" -eq 1 ]
	has_bytes stderr '/dev/null: No such file or directory\n'

	status=0
	in_ns timeout 10 "${client[@]}" </dev/null >stdout 2>&- 3>&- || status=$?
	[ "$status" -eq 1 ]
	has_bytes stdout ''

	wait_in "$reader" wait_for_partner
	: >fifo-2
	reader_got ''
}

# trace_writes [WRAPPER...]: send hello to a reader with the client under
# strace (and WRAPPER), and leave in ./writes what the kernel was asked to
# write, in order: "payload" for the five bytes into the FIFO, "stdout N"
# for N bytes to stdout in one call (write, or writev as musl does it).
trace_writes() {
	needs strace strace
	start_reader
	status=0
	ASAN_OPTIONS=detect_leaks=0 timeout 10 env --default-signal \
	    strace -qq -e trace=write,writev -o trace "$@" "${emulator[@]}" "$client_bin" \
	    >stdout 2>stderr 3>&- || status=$?
	[ "$status" -eq 0 ]
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	reader_got 'hello'
	sed -E 's/^write\([0-9]+, "hello", 5\) += 5$/payload/
	    s/^writev?\(1, .*\) += ([0-9]+)$/stdout \1/' trace >writes
}

@test "stdout is written once, after the payload: a reader of stdout that has gone costs nothing" {
	mkfifo fifo-2

	trace_writes
	printf 'payload\nstdout 54\n' | diff - writes

	# Stdout is a pipe whose reader left before the client started.
	start_reader
	run_to_gone_stdout
	[ "$status" -eq 0 ]
	has_bytes stderr ''
	reader_got 'hello'

	# A reader of stdout that takes one line and leaves.
	start_reader
	timeout 10 "${client[@]}" 2>stderr 3>&- | head -n 1 >first
	[ "${PIPESTATUS[*]}" = '0 0' ]
	has_bytes first 'client: fifo opened for write\n'
	has_bytes stderr ''
	reader_got 'hello'
}

@test "stdout's buffering is the client's own: stdbuf -oL and an address-space limit change nothing" {
	[ "${EX2_SANITIZED:-0}" != 1 ] || skip "the sanitizer runtime needs address space without limit"
	native_only "stdbuf preloads a library of this CPU, and qemu needs address space of its own"
	needs stdbuf coreutils
	needs prlimit util-linux
	mkfifo fifo-2

	# stdbuf asks the C library for a line-buffered stdout (a static
	# build does not load its library at all).
	trace_writes stdbuf -oL
	printf 'payload\nstdout 54\n' | diff - writes

	start_reader
	run_to_gone_stdout stdbuf -oL
	[ "$status" -eq 0 ]
	has_bytes stderr ''
	reader_got 'hello'

	# An address space as large as the client's peak on its way to the
	# open, and 16 KiB for the stack: no room left for a heap, so a
	# C library that allocated stdout's buffer would go unbuffered.
	start_client
	wait_in "$pid" wait_for_partner
	local peak
	peak=$(sed -n 's/^VmPeak:[[:space:]]*\([0-9]*\) kB$/\1/p' "/proc/$pid/status")
	[ -n "$peak" ]
	start_reader
	wait_client
	[ "$status" -eq 0 ]
	reader_got 'hello'

	start_reader
	run_to_gone_stdout prlimit --as=$(((peak + 16) * 1024))
	[ "$status" -eq 0 ]
	has_bytes stderr ''
	reader_got 'hello'
}
