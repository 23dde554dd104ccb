# SPDX-License-Identifier: ISC
# Sourced by .ci/check and .ci/run: from the project root, steps that name
# themselves when they fail, the tools the checks use (.ci/tools), and the
# suite run so that what it skipped is told.
set -Eeuo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

me=.ci/$(basename "$0")
current=setup
step() {
	current=$*
	printf '\n=== %s\n' "$*"
}
trap 'printf "\n%s: step \"%s\" failed: %s (line %d)\n" "$me" "$current" "$BASH_COMMAND" "$LINENO" >&2' ERR
die() {
	printf '%s: step "%s" failed: %s\n' "$me" "$current" "$*" >&2
	exit 1
}

# missing_tools: the package of each command in .ci/tools that is not here.
missing_tools() {
	local command package
	while read -r command package; do
		[[ -z $command || $command == '#'* ]] || command -v "$command" >/dev/null ||
			echo "$package"
	done <.ci/tools | sort -u
}

# suite BUILD [CTEST-OPTION...]: the whole suite built in BUILD, then each
# test that skipped, and why.
suite() {
	local build=$1 skipped
	shift
	ctest --test-dir "$build" --output-on-failure "$@"
	skipped=$(sed -n 's/^ok [0-9]* \(.* # skip.*\)$/  skipped: \1/p' \
	    "$build/Testing/Temporary/LastTest.log" | sort -u)
	printf '%s\n' "${skipped:-  nothing skipped}"
}
