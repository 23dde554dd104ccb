#!/usr/bin/env bats
# SPDX-License-Identifier: ISC
# When the open fails: the reason on stderr, nothing on stdout, status 1.

# shellcheck source=tests/helper.bash
source "$BATS_TEST_DIRNAME/helper.bash"

@test "no fifo-2: reports open's ENOENT and creates nothing" {
	run_client
	has_status 1
	has_bytes stdout ''
	has_bytes stderr 'open: No such file or directory\n'
	[ ! -e fifo-2 ]
	[ ! -L fifo-2 ]
}

@test "fifo-2 is a directory: reports open's EISDIR" {
	mkdir fifo-2
	run_client
	has_status 1
	has_bytes stdout ''
	has_bytes stderr 'open: Is a directory\n'
}

# Root passes every permission check, so as root the client runs as nobody.
@test "permissions: write-only access suffices, no write access is EACCES" {
	local as_user=()
	if [ "$(id -u)" -eq 0 ]; then
		needs setpriv util-linux
		own_client
		as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
		"${as_user[@]}" test -x "$client_bin" ||
		    skip "user nobody cannot reach $scratch"
	fi

	# The client asks only for write access: a file it may write but not
	# read still takes the payload.
	printf 'abcdefg' >fifo-2
	[ "$(id -u)" -ne 0 ] || chown 65534:65534 fifo-2
	chmod 200 fifo-2
	status=0
	"${as_user[@]}" timeout "$client_limit" "${client[@]}" >stdout 2>stderr || status=$?
	has_status 0
	has_bytes stdout "$sent_lines"
	has_bytes stderr ''
	chmod 600 fifo-2
	has_bytes fifo-2 'hellofg'

	# A FIFO the client may read but not write.
	rm fifo-2
	mkfifo -m 444 fifo-2
	status=0
	"${as_user[@]}" timeout "$client_limit" "${client[@]}" >stdout 2>stderr || status=$?
	has_status 1
	has_bytes stdout ''
	has_bytes stderr 'open: Permission denied\n'
}
