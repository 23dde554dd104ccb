#!/usr/bin/env bats
# SPDX-License-Identifier: ISC
# What the binary loads and how it is hardened. The client must start as
# fast as a C program: at run time it loads the C library and nothing else,
# never the C++ runtime; a static build loads nothing and stays a PIE.

# shellcheck source=tests/helper.bash
source "$BATS_TEST_DIRNAME/helper.bash"

needed() { readelf -dW "$client" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p'; }

@test "the default build needs libc.so.6 alone; a static build needs nothing" {
	[ "${EX2_SANITIZED:-0}" != 1 ] || skip "the sanitizers bring their own runtimes"
	case ${EX2_LINK:?} in
	dynamic)
		[ "$(needed)" = libc.so.6 ]
		readelf -lW "$client" | grep -q INTERP
		;;
	static | static-pie)
		[ -z "$(needed)" ]
		! readelf -lW "$client" | grep -q INTERP || false
		;;
	*) false ;;
	esac
}

@test "hardened: a PIE with full RELRO (the plain -static link excepted), printf fortified where asked" {
	[ "${EX2_SANITIZED:-0}" != 1 ] || skip "the sanitized build is not the shipped one"
	[ "$EX2_LINK" != static ] || skip "a plain -static link is a fixed-address EXEC, by choice"
	[ "${EX2_HARDENED:-1}" = 1 ] || skip "hardening is left to the packager's flags here"
	readelf -hW "$client" | grep -q 'Type: *DYN'
	readelf -lW "$client" | grep -q GNU_RELRO
	readelf -dW "$client" | grep -q 'FLAGS_1.*NOW.*PIE'
	if [ "${EX2_FORTIFIED:-0}" = 1 ]; then
		readelf -sW "$client" | grep -q __printf_chk
	fi
}
