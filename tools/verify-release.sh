#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# tools/verify-release.sh [--tests] DIR
#
# Proves that the release in DIR was built from its own source, from DIR's
# files alone and without git: checks them against SHA256SUMS (damage),
# rebuilds the release in fresh Debian roots from DIR's source tarball with
# the tools/release.sh inside it (without its tests, unless --tests), and
# prints each file with "identical" or "DIFFERS", then each package of the
# roots whose version is not the one DIR's .buildinfo recorded. Exits 0
# only when every file is identical. Runs as root, as the release does.
set -Eeuo pipefail
export LC_ALL=C.UTF-8

die() { printf 'verify-release.sh: %s\n' "$*" >&2; exit 2; }

tests=(--no-tests)
if [ "${1:-}" = --tests ]; then
	tests=()
	shift
fi
if [ $# -ne 1 ] || [ ! -d "$1" ]; then
	die "usage: verify-release.sh [--tests] DIR"
fi
dir=$(cd "$1" && pwd)

tarball=
for file in "$dir"/ex2-client-*.tar.gz; do
	[[ $file == *-linux.tar.gz ]] || tarball=$file
done
[ -f "$tarball" ] || die "no source tarball ex2-client-<version>.tar.gz in $dir"
version=$(basename "$tarball" .tar.gz)
version=${version#ex2-client-}
buildinfo=ex2-client-$version.buildinfo
[ -f "$dir/$buildinfo" ] || die "no $buildinfo in $dir"

echo "=== SHA256SUMS"
(cd "$dir" && sha256sum --strict -c SHA256SUMS) || die "$dir does not match its SHA256SUMS"

work=$(mktemp -d "${TMPDIR:-/tmp}/ex2-verify.XXXXXX")
trap 'rm -rf "$work"' EXIT
tar -C "$work" -xzf "$tarball"
printf '\n=== rebuilding ex2-client %s from %s\n' "$version" "$tarball"
[ "${#tests[@]}" -eq 0 ] || echo "(the tests are skipped: --tests runs them too)"
bash "$work/ex2-client-$version/tools/release.sh" "${tests[@]}" "$work/out" "$tarball" >"$work/release.log" 2>&1 ||
	{ cat "$work/release.log"; die "the rebuild failed"; }
grep '^=== release' "$work/release.log"

# What the release is: every file either SHA256SUMS names, but the
# buildinfo, a record of the build, which a rebuild in roots whose
# packages have moved on writes differently.
printf '\n=== each file against its rebuild\n'
mapfile -t files < <(cat "$dir/SHA256SUMS" "$work/out/SHA256SUMS" |
    awk '{ sub(/^\*/, "", $2); print $2 }' | grep -v -x -F "$buildinfo" | sort -u)
differ=0
for file in "${files[@]}"; do
	if cmp -s "$dir/$file" "$work/out/$file"; then
		printf '%-45s identical\n' "$file"
	else
		printf '%-45s DIFFERS\n' "$file"
		differ=$((differ + 1))
	fi
done

# root package version, one line each, from a buildinfo.
installed() {
	awk '/^Root:/ { root = $2 } /^[^ ]/ { listing = /^Installed:/; next }
	    listing && NF == 2 { print root, $1, $2 }' "$1"
}
printf '\n=== the roots against those that built the release\n'
installed "$dir/$buildinfo" >"$work/was"
installed "$work/out/$buildinfo" >"$work/now"
awk 'NR == FNR { was[$1 " " $2] = $3; next }
    { key = $1 " " $2
      if (!(key in was)) print key ": not there, now " $3
      else if (was[key] != $3) print key ": " was[key] ", now " $3
      delete was[key] }
    END { for (key in was) print key ": " was[key] ", now not there" }' \
    "$work/was" "$work/now" | sort >"$work/moved"
if [ -s "$work/moved" ]; then
	cat "$work/moved"
else
	echo "every package at the version recorded"
fi

if [ "$differ" -ne 0 ]; then
	printf '\n%d of %d files DIFFER from their rebuild\n' "$differ" "${#files[@]}"
	exit 1
fi
printf '\nall %d files identical to their rebuild\n' "${#files[@]}"
