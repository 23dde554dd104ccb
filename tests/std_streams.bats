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

# read_write FDINFO: the descriptor that /proc/PID/fdinfo/FD describes is
# open for reading and writing.
read_write() {
	local flags
	flags=$(sed -n 's/^flags:[[:space:]]*//p' "$1")
	(((8#$flags & 3) == 2)) || { echo "$1: flags $flags, not O_RDWR" >&2; return 1; }
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
			# Open for reading and writing (O_RDWR is 2), as either
			# direction of a standard stream may be used.
			read_write "/proc/$pid/fdinfo/$fd"
		done
		start_reader
		wait_client
		has_status 0
		reader_got 'hello'
		if [ "$closed" != 1 ] && [ "$closed" != all ]; then
			has_bytes stdout "$sent_lines"
		fi
		has_bytes stderr ''
	done
}

# start_waiting_reader: a reader of its own (not timeout's child, so that
# wait_in sees it), seen waiting for its first writer. Teardown kills it.
start_waiting_reader() {
	cat fifo-2 >received 3>&- &
	reader=$!
	started+=("$reader")
	wait_in "$reader" wait_for_partner
}

# What the man page tells of closed streams at a descriptor limit, one row
# per case: the stream closed at the start (- for none), the limit
# (RLIMIT_NOFILE), and what happens, first on a build whose C library needs no
# descriptor to load (musl's, or a static build's), then on one
# dynamically linked against glibc, whose loader needs a free descriptor
# below the limit to open the C library, before the client runs:
#   sent   the server gets hello, status 0
#   open   the FIFO's open finds no descriptor: "open: " and EMFILE's text
#   null   /dev/null finds none for the closed stream: "/dev/null: " and
#          EMFILE's text
#   loader glibc's loader finds none: status 127, and its own message
descriptor_table='
	-	1	open	loader
	-	2	open	loader
	-	3	open	loader
	-	4	sent	sent
	0	1	open	open
	0	2	open	open
	0	3	open	open
	0	4	sent	sent
	1	1	null	loader
	1	2	open	open
	1	3	open	open
	1	4	sent	sent
	2	1	null	loader
	2	2	null	loader
	2	3	open	open
	2	4	sent	sent
'

# run_limited CLOSED LIMIT: run the client with the standard stream CLOSED
# (0, 1, 2 or - for none) closed, no other descriptor open below 4, and
# at most LIMIT descriptors allowed.
run_limited() {
	local limited=(timeout "$client_limit" env --default-signal prlimit --nofile="$2" "$client_bin")
	: >stdout
	: >stderr
	status=0
	case $1 in
	-) "${limited[@]}" </dev/null >stdout 2>stderr 3>&- || status=$? ;;
	0) "${limited[@]}" <&- >stdout 2>stderr 3>&- || status=$? ;;
	1) "${limited[@]}" </dev/null >&- 2>stderr 3>&- || status=$? ;;
	2) "${limited[@]}" </dev/null >stdout 2>&- 3>&- || status=$? ;;
	esac
}

@test "out of descriptors, each standard stream closed in turn: the right line and status, and no server woken but to be sent hello" {
	[ "${EX2_SANITIZED:-0}" != 1 ] ||
	    skip "the sanitizer runtime cannot start with only three descriptors"
	native_only "the emulator needs descriptors of its own"
	needs prlimit util-linux
	local closed limit outcome glibc_outcome emfile
	case ${EX2_LIBC:?} in
	glibc) emfile='Too many open files' ;;
	musl) emfile='No file descriptors available' ;;
	esac
	mkfifo fifo-2

	start_waiting_reader
	while read -r closed limit outcome glibc_outcome; do
		[ -n "$closed" ] || continue
		if [ "${EX2_LINK:?}" = dynamic ] && [ "$EX2_LIBC" = glibc ]; then
			outcome=$glibc_outcome
		fi
		echo "stream $closed closed, $limit descriptors allowed: $outcome" >&2
		run_limited "$closed" "$limit"
		case $outcome in
		sent)
			has_status 0
			[ "$closed" = 1 ] || has_bytes stdout "$sent_lines"
			has_bytes stderr ''
			# The waiting reader was sent hello, and a new one waits.
			reader_got 'hello'
			start_waiting_reader
			continue
			;;
		open)
			has_status 1
			[ "$closed" = 2 ] || has_bytes stderr "open: $emfile\n"
			;;
		null)
			has_status 1
			[ "$closed" = 2 ] || has_bytes stderr "/dev/null: $emfile\n"
			;;
		loader)
			has_status 127
			[ "$closed" = 2 ] ||
			    grep -q 'error while loading shared libraries: libc\.so' stderr
			;;
		esac
		[ "$closed" = 1 ] || has_bytes stdout ''
		# Nothing has woken the reader.
		waits_in "$reader" wait_for_partner
	done <<<"$descriptor_table"

	# Stderr closed, and the loader reporting on it down to the exit: at
	# three descriptors /dev/null takes 2, and nothing the loader says
	# reaches stdout.
	status=0
	LD_DEBUG=all timeout "$client_limit" env --default-signal prlimit --nofile=3 "$client_bin" \
	    </dev/null >stdout 2>&- 3>&- || status=$?
	has_status 1
	has_bytes stdout ''

	# Every descriptor below the limit in use, at three and at six: glibc's
	# loader opens the C library before the client runs, finds no
	# descriptor, and ends the process itself. musl's loader is the C
	# library, and a static build has nothing to load: there the FIFO's
	# open reports.
	for limit in 3 6; do
		status=0
		timeout "$client_limit" env --default-signal prlimit --nofile="$limit" "$client_bin" \
		    </dev/null >stdout 2>stderr 3</dev/null 4</dev/null 5</dev/null || status=$?
		has_bytes stdout ''
		if [ "$EX2_LINK" = dynamic ] && [ "$EX2_LIBC" = glibc ]; then
			has_status 127
			grep -q 'error while loading shared libraries: libc\.so' stderr
		else
			has_status 1
			has_bytes stderr "open: $emfile\n"
		fi
	done

	# The reader still waits for its first writer.
	waits_in "$reader" wait_for_partner
	: >fifo-2
	reader_got ''
}

@test "no /dev/null, or a directory in its place, to fill a closed stream: refused at once, the server never woken" {
	needs unshare util-linux
	# In a mount namespace of its own, /dev is empty, as in a bare chroot,
	# or holds a directory named null. A user namespace lets a plain user
	# mount there too, where the system allows one; its root reaches only
	# what the caller owns.
	in_ns() {
		local make_null=:
		[ "$1" = absent ] || make_null='mkdir /dev/null'
		shift
		unshare --map-root-user --mount \
		    sh -c "mount -t tmpfs tmpfs /dev && $make_null && exec \"\$@\"" sh "$@"
	}
	in_ns absent true 2>/dev/null || skip "no user and mount namespace to hide /dev/null in"
	own_client
	mkfifo fifo-2

	# With the standard streams open, /dev/null is not needed.
	start_reader
	status=0
	in_ns directory timeout "$client_limit" "${client[@]}" </dev/null >stdout 2>stderr 3>&- || status=$?
	has_status 0
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	reader_got 'hello'

	# With any one closed, the FIFO would take its number: the client
	# refuses before it opens the FIFO, so a reader is never woken, and
	# without a reader the client does not wait.
	start_waiting_reader
	local null reason
	for null in 'absent:No such file or directory' 'directory:Is a directory'; do
		reason=${null#*:}
		null=${null%%:*}
		: >stdout
		status=0
		in_ns "$null" timeout "$client_limit" "${client[@]}" <&- >stdout 2>stderr 3>&- || status=$?
		has_status 1
		has_bytes stdout ''
		has_bytes stderr "/dev/null: $reason\n"

		status=0
		in_ns "$null" timeout "$client_limit" "${client[@]}" </dev/null >&- 2>stderr 3>&- || status=$?
		has_status 1
		has_bytes stderr "/dev/null: $reason\n"

		: >stderr
		status=0
		in_ns "$null" timeout "$client_limit" "${client[@]}" </dev/null >stdout 2>&- 3>&- || status=$?
		has_status 1
		has_bytes stdout ''
		waits_in "$reader" wait_for_partner
	done

	: >fifo-2
	reader_got ''
}

# "${path_stdin[@]}" PATH COMMAND...: run COMMAND with standard input an
# O_PATH descriptor of PATH, which neither reads nor writes, and no
# descriptor open above 2. COMMAND starts with python's ignored SIGPIPE
# and SIGXFSZ: the client is started through env --default-signal.
path_stdin=(python3 -c 'import os, sys
fd = os.open(sys.argv[1], os.O_PATH)
if fd != 0:
    os.dup2(fd, 0)
    os.close(fd)
os.closerange(3, os.sysconf("SC_OPEN_MAX"))
os.execvp(sys.argv[2], sys.argv[2:])')

# start_path_stdin PATH: start the client as start_client does, but with
# standard input an O_PATH descriptor of PATH.
start_path_stdin() {
	"${path_stdin[@]}" "$1" "${client[@]}" >stdout 2>stderr 3>&- &
	pid=$!
	started+=("$pid")
}

@test "an O_PATH descriptor on stdin is an open stream: left alone, and nothing opened for it" {
	needs python3 python3
	native_only "the emulator holds descriptors of its own"
	mkfifo fifo-2
	: >target

	# Held in the FIFO's open: 0 is still the O_PATH descriptor, and
	# nothing else is open, /dev/null least of all.
	start_path_stdin target
	wait_in "$pid" wait_for_partner
	local fd fds=
	for fd in "/proc/$pid/fd/"*; do
		fds+="${fd##*/} "
	done
	[ "$fds" = '0 1 2 ' ] || { echo "open descriptors: $fds" >&2; false; }
	[ "$(readlink "/proc/$pid/fd/0")" = "$(pwd -P)/target" ]
	send_to_new_reader

	# With stdout closed as well, at four descriptors: /dev/null takes 1
	# and the FIFO 3, the last one allowed.
	needs prlimit util-linux
	start_reader
	status=0
	: >stdout
	timeout "$client_limit" "${path_stdin[@]}" target prlimit --nofile=4 "${client[@]}" \
	    >&- 2>stderr 3>&- || status=$?
	has_status 0
	has_bytes stderr ''
	reader_got 'hello'
}

# to_writes: what the kernel was asked to write, read from ./trace (strace
# -e trace=write,writev), in order, into ./writes: "payload" for the five
# bytes into the FIFO, "stdout N" for N bytes to stdout in one call (write,
# or writev as musl does it).
to_writes() {
	sed -E 's/^write\([0-9]+, "hello", 5\) += 5$/payload/
	    s/^writev?\(1, .*\) += ([0-9]+)$/stdout \1/' trace >writes
}

# trace_writes [WRAPPER...]: send hello to a reader with the client under
# strace (and WRAPPER), and leave in ./writes what it wrote (to_writes).
trace_writes() {
	needs strace strace
	start_reader
	status=0
	ASAN_OPTIONS=detect_leaks=0 timeout "$client_limit" env --default-signal \
	    strace -qq -e trace=write,writev -o trace "$@" "${emulator[@]}" "$client_bin" \
	    >stdout 2>stderr 3>&- || status=$?
	has_status 0
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	reader_got 'hello'
	to_writes
}

@test "stdout is written once, after the payload: a reader of stdout that has gone costs nothing" {
	mkfifo fifo-2

	trace_writes
	printf 'payload\nstdout 54\n' | diff - writes

	# Stdout is a pipe whose reader left before the client started.
	start_reader
	run_to_gone_stdout
	has_status 0
	has_bytes stderr ''
	reader_got 'hello'

	# A reader of stdout that takes one line and leaves.
	start_reader
	timeout "$client_limit" "${client[@]}" 2>stderr 3>&- | head -n 1 >first
	[ "${PIPESTATUS[*]}" = '0 0' ]
	has_bytes first 'client: fifo opened for write\n'
	has_bytes stderr ''
	reader_got 'hello'
}

# on_terminal REDIRECTION: send hello to a reader with the client under
# strace, on a terminal of its own (script(1) makes one) but for the
# stream that REDIRECTION, a shell redirection, takes off it. What it
# wrote lands in ./writes (to_writes), what the terminal showed in ./shown.
on_terminal() {
	needs script bsdutils
	needs strace strace
	local command
	printf -v command '%q ' env --default-signal \
	    strace -qq -e trace=write,writev -o trace "${emulator[@]}" "$client_bin"
	start_reader
	status=0
	ASAN_OPTIONS=detect_leaks=0 SHELL=/bin/bash timeout "$client_limit" \
	    script -qec "$command $1 2>stderr" /dev/null </dev/null >shown 3>&- || status=$?
	has_status 0
	has_bytes stderr ''
	reader_got 'hello'
	to_writes
}

@test "on a terminal each line comes as it is printed, the first before the payload; a terminal on stdin alone changes nothing" {
	mkfifo fifo-2

	on_terminal '</dev/null'
	printf 'stdout 30\npayload\nstdout 24\n' | diff - writes
	has_bytes shown 'client: fifo opened for write\r\nwrote 5 bytes to server\r\n'

	on_terminal '>stdout'
	printf 'payload\nstdout 54\n' | diff - writes
	has_bytes stdout "$sent_lines"
	has_bytes shown ''
}

@test "stdbuf -oL changes nothing: stdout's buffering is the client's own" {
	[ "${EX2_LIBC:?}" = glibc ] || skip "stdbuf preloads a library built for glibc"
	[ "${EX2_SANITIZED:-0}" != 1 ] || skip "the sanitizer runtime must be loaded before stdbuf's library"
	native_only "stdbuf preloads a library of this CPU"
	needs stdbuf coreutils
	mkfifo fifo-2

	# stdbuf asks the C library for a line-buffered stdout (a static
	# build does not load its library at all).
	trace_writes stdbuf -oL
	printf 'payload\nstdout 54\n' | diff - writes

	start_reader
	run_to_gone_stdout stdbuf -oL
	has_status 0
	has_bytes stderr ''
	reader_got 'hello'
}

@test "an address space with no room for a heap changes nothing: stdout's buffer is the client's own" {
	[ "${EX2_SANITIZED:-0}" != 1 ] || skip "the sanitizer runtime needs address space without limit"
	native_only "qemu needs address space of its own"
	needs prlimit util-linux
	mkfifo fifo-2

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
	has_status 0
	reader_got 'hello'

	start_reader
	run_to_gone_stdout prlimit --as=$(((peak + 16) * 1024))
	has_status 0
	has_bytes stderr ''
	reader_got 'hello'
}
