#!/usr/bin/env bats
# SPDX-License-Identifier: ISC
# What the binary loads and how it is hardened. The client must start as
# fast as a C program: at run time it loads the C library and nothing else,
# never the C++ runtime; a static build loads nothing and carries no C++
# runtime either.

# shellcheck source=tests/helper.bash
source "$BATS_TEST_DIRNAME/helper.bash"

# elf OPTION...: what readelf says of the client, read whole (grep -q
# leaving early must not fail readelf by SIGPIPE).
elf() { readelf -W "$@" "$client_bin"; }

@test "the default build needs the C library alone; a static build needs nothing; no C++ runtime in either" {
	needs readelf binutils
	[ "${EX2_SANITIZED:-0}" != 1 ] || skip "the sanitizers bring their own runtimes"
	local needed headers symbols
	needed=$(elf -d | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
	headers=$(elf -l)
	symbols=$(elf -s --dyn-syms)
	case ${EX2_LINK:?} in
	dynamic)
		# libc.so.6, and on some CPUs (arm64: the stack guard) the
		# loader, which is glibc's too.
		local loader
		loader=$(sed -n 's|.*program interpreter: .*/\(.*\)\]$|\1|p' <<<"$headers")
		[ -n "$loader" ]
		[ "$(grep -v -x -F "$loader" <<<"$needed")" = libc.so.6 ]
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

@test "hardened: full RELRO, a PIE unless linked -no-pie or -static, printf fortified where it can be" {
	needs readelf binutils
	[ "${EX2_SANITIZED:-0}" != 1 ] || skip "the sanitized build is not the shipped one"
	[ "${EX2_HARDENED:-1}" = 1 ] || skip "hardening is left to the packager's flags here"
	local header headers dynamic symbols
	header=$(elf -h)
	headers=$(elf -l)
	dynamic=$(elf -d)
	symbols=$(elf -s --dyn-syms)
	grep -q GNU_RELRO <<<"$headers"
	if [ "${EX2_PIE:?}" = 1 ]; then
		grep -q 'Type: *DYN' <<<"$header"
		grep -q 'FLAGS_1.*NOW.*PIE' <<<"$dynamic"
	else
		grep -q 'Type: *EXEC' <<<"$header"
		# A fixed-address static binary binds nothing at run time.
		[ "$EX2_LINK" = static ] || grep -q 'FLAGS_1.*NOW' <<<"$dynamic"
	fi
	# Where this compiler and C library fortify printf at all (CMake built
	# a probe to find out), the client's printf and dprintf are fortified.
	if [ "${EX2_FORTIFIED:?}" = 1 ]; then
		grep -q __printf_chk <<<"$symbols"
		grep -q __dprintf_chk <<<"$symbols"
	fi
}
