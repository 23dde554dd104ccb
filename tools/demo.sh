#!/bin/sh
# SPDX-License-Identifier: ISC
# Runs the client end to end: a scratch directory with a FIFO "fifo-2",
# the example server (server.sh) reading it, the client, then what the
# server received.
set -eu

client=${1:?usage: demo.sh PATH-TO-EX2-CLIENT}
case $client in
/*) ;;
*) client=$PWD/$client ;;
esac
server=$(cd "$(dirname "$0")" && pwd)/server.sh

dir=$(mktemp -d "${TMPDIR:-/tmp}/ex2-demo.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cd "$dir"
mkfifo fifo-2

# The server's part: stop after one message.
timeout 10 bash "$server" 1 >received &
pid=$!

echo "--- client output:"
status=0
"$client" || status=$?
if [ "$status" -ne 0 ]; then
	kill "$pid" 2>/dev/null || :
	wait "$pid" 2>/dev/null || :
	echo "demo: the client failed with status $status" >&2
	exit 1
fi
wait "$pid"

echo "--- the server received:"
cat received
