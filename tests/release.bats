#!/usr/bin/env bats
# SPDX-License-Identifier: ISC
# The version lives in CMakeLists.txt's project() alone; the man page and
# the changelog that ship with the package must name the same one.

@test "the man page and the CHANGELOG name the project's version" {
	local src=${EX2_SOURCE_DIR:?} version=${EX2_VERSION:?} man changelog
	man=$(sed -n 's/^\.TH EX2-CLIENT 1 [0-9-]* "ex2-client \([^"]*\)".*/\1/p' "$src/ex2-client.1")
	changelog=$(sed -n '1s/^ex2-client (\([^)]*\)) .*/\1/p' "$src/CHANGELOG")
	[ "$man" = "$version" ] && [ "$changelog" = "$version" ] || {
		echo "project() says '$version', the man page '$man', the CHANGELOG '$changelog'" >&2
		false
	}
}
