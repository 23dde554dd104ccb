#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# tools/release.sh OUTDIR: build, test and pack everything a release of
# ex2-client ships, from this source tree, into OUTDIR:
#
#   ex2-client-<version>-<cpu>-linux.tar.gz  per CPU (<cpu> as uname -m
#       names it): a static ex2-client, ex2-client.1, LICENSE, README.md
#   ex2-client_<version>_<arch>.deb  per Debian architecture
#   SHA256SUMS  over all of them, for sha256sum -c
#
# Each binary is tested before it is packed: the whole suite runs against
# the very file that ships, under qemu-user for another CPU. The output is
# the same byte for byte whoever builds it, wherever and under whatever
# umask: times are the last commit's, modes and owners are set here.
#
# musl-dev for each CPU is fetched with apt-get into a scratch directory
# and unpacked there: nothing is installed or registered with the system.
# Needs: cmake, ninja, g++, g++-{aarch64,powerpc64le,s390x,riscv64}-linux-gnu,
# qemu-user-static, dpkg-dev, lintian, git, and the suite's tools (README).
set -Eeuo pipefail
umask 022
export LC_ALL=C TZ=UTC

die() {
	printf 'release.sh: %s\n' "$*" >&2
	exit 1
}
trap 'die "failed at line $LINENO: $BASH_COMMAND"' ERR

[ $# -eq 1 ] || die "usage: release.sh OUTDIR"
src=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct)
export SOURCE_DATE_EPOCH

work=$(mktemp -d "${TMPDIR:-/tmp}/ex2-release.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Debian architecture, and the CPU as uname -m names it.
cpus=(amd64:x86_64 arm64:aarch64 ppc64el:ppc64le s390x:s390x riscv64:riscv64)
# Debian 12 has musl-dev for all but riscv64.
musl_archs=(amd64 arm64 ppc64el s390x)

step() { printf '\n=== release: %s\n' "$*"; }

# configure DIR CMAKE-ARGUMENTS...: a Release build, warnings as errors.
configure() {
	local dir=$1
	shift
	cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON "$@" >"$dir.log" ||
		{ cat "$dir.log"; die "cannot configure $dir"; }
}

# test_shipped BUILD FILE: the whole suite, run against FILE.
test_shipped() {
	cmake -DEX2_TEST_CLIENT="$2" "$1" >>"$1.log"
	ctest --test-dir "$1" -j8 --output-on-failure
}

step "fetching musl-dev for ${musl_archs[*]}"
apt_dir=$work/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial" "$apt_dir/cache"
apt=(apt-get -q -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
    -o "Dir::Cache::Archives=$apt_dir/archives" -o "APT::Sandbox::User=$(id -un)")
for arch in "${musl_archs[@]}"; do
	apt+=(-o "APT::Architectures::=$arch")
done
"${apt[@]}" update >"$apt_dir/update.log" || { cat "$apt_dir/update.log"; die "apt-get update"; }
(cd "$apt_dir" && "${apt[@]}" download "${musl_archs[@]/#/musl-dev:}")
for arch in "${musl_archs[@]}"; do
	dpkg-deb -x "$apt_dir"/musl-dev_*_"$arch".deb "$work/musl-$arch"
	printf '%s\n' "$(dpkg-deb -f "$apt_dir"/musl-dev_*_"$arch".deb Package Version Architecture | tr '\n' ' ')"
done

version=
for pair in "${cpus[@]}"; do
	arch=${pair%:*}
	cpu=${pair#*:}
	step "static binary for $cpu"
	build=$work/static-$arch
	if [[ " ${musl_archs[*]} " == *" $arch "* ]]; then
		configure "$build" --toolchain "$src/cmake/toolchain-musl.cmake" \
		    -DEX2_ARCH="$arch" -DEX2_MUSL_ROOT="$work/musl-$arch"
	else
		# No musl here: glibc, statically, and at a fixed address, as
		# Debian's cross glibc has no start file for a static PIE.
		LDFLAGS=-static configure "$build" \
		    --toolchain "$src/cmake/toolchain-cross.cmake" -DEX2_ARCH="$arch"
	fi
	cmake --build "$build" >>"$build.log"
	[ -n "$version" ] || version=$(sed -n 's/^EX2_VERSION=//p' "$build/tests.env")
	name=ex2-client-$version-$cpu-linux
	cmake --install "$build" --prefix "$work/stage-$arch" --strip \
	    --component Unspecified >>"$build.log"
	mkdir -p "$work/pack/$name"
	install -m 755 "$work/stage-$arch/bin/ex2-client" "$work/pack/$name/ex2-client"
	install -m 644 "$src/ex2-client.1" "$src/LICENSE" "$src/README.md" "$work/pack/$name/"
	test_shipped "$build" "$work/pack/$name/ex2-client"
	tar -C "$work/pack" --sort=name --format=ustar --owner=0 --group=0 --numeric-owner \
	    --mtime="@$SOURCE_DATE_EPOCH" -cf - "$name" | gzip -9n >"$out/$name.tar.gz"
done

for pair in "${cpus[@]}"; do
	arch=${pair%:*}
	step "Debian package for $arch"
	build=$work/deb-$arch
	if [ "$arch" = amd64 ]; then
		configure "$build"
	else
		configure "$build" --toolchain "$src/cmake/toolchain-cross.cmake" -DEX2_ARCH="$arch"
	fi
	cmake --build "$build" >>"$build.log"
	(cd "$build" && cpack -G DEB >>"$build.log")
	deb=$build/ex2-client_${version}_$arch.deb
	[ -f "$deb" ] || die "cpack made no $(basename "$deb")"
	dpkg-deb -x "$deb" "$work/root-$arch"
	test_shipped "$build" "$work/root-$arch/usr/bin/ex2-client"
	# lintian leaves its caches in TMPDIR.
	TMPDIR=$work lintian --info --pedantic --fail-on error,warning "$deb"
	cp "$deb" "$out/"
done

step "SHA256SUMS"
(cd "$out" && sha256sum ex2-client-"$version"-*-linux.tar.gz ex2-client_"$version"_*.deb >SHA256SUMS &&
    cat SHA256SUMS)
