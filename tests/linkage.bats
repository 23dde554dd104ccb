#!/usr/bin/env bats
# SPDX-License-Identifier: ISC
# What the binary loads and how it is hardened. The client must start as
# fast as a C program: at run time it loads the C library and nothing else,
# never the C++ runtime; a static build loads nothing and carries no C++
# runtime either.

# bats runs each test in a subshell of its own; status is set and read
# within one.
# shellcheck disable=SC2030,SC2031
# shellcheck source=tests/helper.bash
source "$BATS_TEST_DIRNAME/helper.bash"

# elf OPTION...: what readelf says of the client, read whole (grep -q
# leaving early must not fail readelf by SIGPIPE).
elf() { readelf -W "$@" "$client_bin"; }

@test "a dynamic build needs its C library alone; a static build needs nothing; no C++ runtime in either" {
	needs readelf binutils
	[ "${EX2_SANITIZED:-0}" != 1 ] || skip "the sanitizers bring their own runtimes"
	local needed headers symbols loader
	needed=$(elf -d | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
	headers=$(elf -l)
	symbols=$(elf -s --dyn-syms)
	case ${EX2_LINK:?} in
	dynamic)
		loader=$(sed -n 's|.*program interpreter: .*/\(.*\)\]$|\1|p' <<<"$headers")
		case ${EX2_LIBC:?} in
		glibc)
			# libc.so.6, and on some CPUs (arm64: the stack guard)
			# the loader, which is glibc's too.
			[[ $loader == ld-linux*.so.* || $loader == ld64.so.* ]]
			[ "$(grep -v -x -F "$loader" <<<"$needed")" = libc.so.6 ]
			;;
		musl)
			# musl's loader is its C library.
			[[ $loader == ld-musl-*.so.1 ]]
			[ "$needed" = libc.so ]
			;;
		*) false ;;
		esac
		;;
	static)
		[ -z "$needed" ]
		! grep -q INTERP <<<"$headers" || false
		;;
	*) false ;;
	esac
	# The C++ runtime's own: exceptions, operator new and delete, std::.
	! grep -E '__gxx_personality|__cxa_(throw|begin_catch|guard)|_Zn[wa]|_Zd[la]|_ZN?St' <<<"$symbols" || false
}

# relro_honoured: the client, held in its open, has the start of its RELRO
# region mapped read-only, then sends as any other run does.
relro_honoured() {
	local relro type base=0 start end first_load maps line range perms offset path
	relro=$(elf -l | awk '$1 == "GNU_RELRO" { print $3, $6 }')
	type=$(elf -h | awk '$1 == "Type:" { print $2 }')
	first_load=$(elf -l | awk '$1 == "LOAD" { print $3; exit }')
	mkfifo fifo-2
	start_client
	wait_in "$pid" wait_for_partner
	maps=$(cat "/proc/$pid/maps")
	if [ "$type" = DYN ]; then
		# Where the kernel placed it: its first segment's mapping.
		while read -r range perms offset _ _ path; do
			if [ "$path" = "$(readlink -f "$client_bin")" ] && [ "$offset" = 00000000 ]; then
				base=$((16#${range%-*} - (first_load & ~0xfff)))
				break
			fi
		done <<<"$maps"
		[ "$base" -ne 0 ]
	fi
	read -r start end <<<"$relro"
	end=$(((base + start + end) & ~0xfff))
	start=$(((base + start) & ~0xfff))
	# The linker ends the region at a page boundary: there is a page.
	((start < end))
	line=$(while read -r range perms _; do
		if ((16#${range%-*} <= start && start < 16#${range#*-})); then
			echo "$range $perms"
		fi
	done <<<"$maps")
	echo "RELRO from $(printf %x "$start"): ${line:-not mapped}"
	[[ $line == *' r-'?p ]]
	send_to_new_reader
}

@test "hardened: full RELRO, made read-only at run time; a PIE unless linked -no-pie or -static; printf fortified where it can be" {
	needs readelf binutils
	[ "${EX2_SANITIZED:-0}" != 1 ] || skip "the sanitized build is not the shipped one"
	[ "${EX2_HARDENED:-1}" = 1 ] || skip "hardening is left to the packager's flags here"
	local header headers dynamic symbols
	header=$(elf -h)
	headers=$(elf -l)
	dynamic=$(elf -d)
	symbols=$(elf -s --dyn-syms)
	# Where the C library's start-up would not apply RELRO (musl's in a
	# static PIE), the build claims none.
	if [ "${EX2_RELRO:?}" = 1 ]; then
		grep -q GNU_RELRO <<<"$headers"
		if [ "${#emulator[@]}" -eq 0 ]; then
			relro_honoured
		fi
	else
		[ "$EX2_LIBC" = musl ] && [ "$EX2_LINK" = static ]
		! grep -q GNU_RELRO <<<"$headers" || false
	fi
	if [ "${EX2_PIE:?}" = 1 ]; then
		grep -q 'Type: *DYN' <<<"$header"
		grep -q 'FLAGS_1.*NOW.*PIE' <<<"$dynamic"
	else
		grep -q 'Type: *EXEC' <<<"$header"
		# A fixed-address static binary binds nothing at run time.
		[ "$EX2_LINK" = static ] || grep -q 'FLAGS_1.*NOW' <<<"$dynamic"
	fi
	# No loadable segment is both executable and holds read-only data.
	local exec_rodata
	exec_rodata=$(awk '/^Program Headers:/ { headers = 1; next }
	    /Section to Segment mapping/ { headers = 0; mapping = 1; next }
	    headers && /^  [A-Z]/ && $1 != "Type" {
		if ($1 == "LOAD") for (i = 7; i < NF; i++) if ($i ~ /E/) exec[n + 0] = 1
		n++ }
	    mapping && $1 ~ /^[0-9]+$/ && exec[$1 + 0] {
		for (i = 2; i <= NF; i++) if ($i == ".rodata") print "segment " $1 }' <<<"$headers")
	[ -z "$exec_rodata" ] || { echo "executable, with .rodata: $exec_rodata" >&2; false; }
	# Where this compiler and C library fortify printf at all (CMake built
	# a probe to find out), the client's printf and snprintf are fortified.
	if [ "${EX2_FORTIFIED:?}" = 1 ]; then
		grep -q __printf_chk <<<"$symbols"
		grep -q __snprintf_chk <<<"$symbols"
	fi
}
