#!/usr/bin/env bats
# SPDX-License-Identifier: ISC
# What the binary loads and how it is hardened. The client must start as
# fast as a C program: at run time it loads the C library and nothing else,
# never the C++ runtime.

# shellcheck source=tests/helper.bash
source "$BATS_TEST_DIRNAME/helper.bash"

needed() { readelf -dW "$client" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p'; }

@test "the default build needs libc.so.6 alone; a static build needs nothing" {
	[ "${EX2_SANITIZED:-0}" != 1 ] || skip "the sanitizers bring their own runtimes"
	if [ "${EX2_STATIC:-0}" = 1 ]; then
		[ -z "$(needed)" ]
		! readelf -lW "$client" | grep -q INTERP || false
	else
		[ "$(needed)" = libc.so.6 ]
	fi
}

@test "the default build is hardened: PIE, full RELRO, fortified printf" {
	[ "${EX2_SANITIZED:-0}" != 1 ] || skip "the sanitized build is not the shipped one"
	[ "${EX2_STATIC:-0}" != 1 ] || skip "a static binary binds nothing at run time"
	readelf -hW "$client" | grep -q 'Type: *DYN'
	readelf -lW "$client" | grep -q GNU_RELRO
	readelf -dW "$client" | grep -q 'FLAGS_1.*NOW.*PIE'
	readelf -sW --dyn-syms "$client" | grep -q __printf_chk
}
