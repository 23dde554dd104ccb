#!/bin/sh
# Runs the client end to end: a scratch directory with a FIFO "fifo-2",
# a reader on it, the client, then what the reader received.
set -eu

client=${1:?usage: demo.sh PATH-TO-EX2-CLIENT}
case $client in
/*) ;;
*) client=$PWD/$client ;;
esac

dir=$(mktemp -d "${TMPDIR:-/tmp}/ex2-demo.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cd "$dir"
mkfifo fifo-2

# The server's part: read until the client closes its end.
timeout 10 cat fifo-2 >received &
reader=$!

echo "--- client output:"
status=0
"$client" || status=$?
if [ "$status" -ne 0 ]; then
	kill "$reader" 2>/dev/null || :
	wait "$reader" 2>/dev/null || :
	echo "demo: the client failed with status $status" >&2
	exit 1
fi
wait "$reader"

echo "--- the reader received $(wc -c <received) bytes:"
cat received
echo
