#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# A server for ex2-client that loses no message: it holds fifo-2 open for
# reading and writing, so the FIFO never reaches end-of-file between
# clients, and reads in units of five bytes, so messages that arrive
# together come apart again. Prints each message on a line of its own.
#
# usage: server.sh [COUNT]   in the directory of fifo-2 (made if missing);
#                            stops after COUNT messages, or runs until killed
set -eu
export LC_ALL=C # read -N counts bytes, not characters

[ -p fifo-2 ] || mkfifo fifo-2
exec 3<>fifo-2
count=0
while IFS= read -r -N 5 message <&3; do
	printf '%s\n' "$message"
	count=$((count + 1))
	[ "$count" != "${1:-}" ] || break
done
