#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# tools/release.sh [--no-tests] OUTDIR [SOURCE-TARBALL]
#
# Builds a release of ex2-client into OUTDIR (doc/packaging.md lists the
# files), each part in a Debian root made afresh by mmdebstrap from the
# archive this machine's apt uses. From a git checkout the source tarball
# is made of HEAD, which must hold every change; given SOURCE-TARBALL, as
# tools/verify-release.sh does, the release is rebuilt from it without git.
# Each root builds from the tarball alone, at /build, under umask 022, with
# the commit's time, so the output is the same byte for byte wherever it
# is built. Each binary is tested as it ships, unless --no-tests.
#
# Runs as root on an amd64 Debian machine with mmdebstrap, and installs
# and registers nothing there.
set -Eeuo pipefail
umask 022
export LC_ALL=C.UTF-8 TZ=UTC

die() { printf 'release.sh: %s\n' "$*" >&2; exit 1; }
trap 'die "failed at line $LINENO: $BASH_COMMAND"' ERR
step() { printf '\n=== release: %s\n' "$*"; }

# Debian architectures, this machine's first: a static binary of each from
# Debian 13, a package from Debian 12 (riscv64's from 13: 12 has none).
archs=(amd64 arm64 ppc64el s390x riscv64)
bookworm_debs=(amd64 arm64 ppc64el s390x)
trixie_debs=(riscv64)
# What the suite runs besides the compiler: the roots install it.
test_tools=bats,binutils,python3,strace,qemu-user-static,autopkgtest

# --- in a root --------------------------------------------------------------

# record SUITE: this root's paragraph of the buildinfo, before any build.
record() {
	local list
	printf 'Root: %s\nArchive-Dates:\n' "$1"
	for list in /var/lib/apt/lists/*_InRelease; do
		printf ' %s %s\n' "$(sed -n 's/^Codename: //p' "$list" | head -n 1)" \
		    "$(sed -n 's/^Date: //p' "$list" | head -n 1)"
	done | sort
	printf 'Installed:\n'
	dpkg-query -W -f ' ${binary:Package} ${Version}\n' | sort
	printf '\n'
}

# test_shipped BUILD FILE: the whole suite against FILE, as BUILD runs it.
test_shipped() {
	[ "$tests" = yes ] || return 0
	cmake -DEX2_TEST_CLIENT="$2" "$1" >/dev/null
	ctest --test-dir "$1" -j8 --output-on-failure
}

# autopkgtest_deb DEB: DEB installed here, the suite run against it.
autopkgtest_deb() {
	[ "$tests" = yes ] || return 0
	autopkgtest "$1" "$tree" -- null
}

# packages ARCH...: the Debian package for each ARCH, cross-built but for
# amd64, whose build makes the source package too and runs the suite;
# the others' suite runs against the binary in the package, under qemu.
# Then lintian on all of them.
packages() {
	local arch options
	options="noautodbgsym parallel=$(nproc)"
	[ "$tests" = yes ] || options+=" nocheck"
	cd "$tree"
	for arch in "$@"; do
		step "Debian package for $arch (debhelper)"
		if [ "$arch" = amd64 ]; then
			DEB_BUILD_OPTIONS=$options dpkg-buildpackage -us -uc
			continue
		fi
		DEB_BUILD_OPTIONS="$options nocheck" dpkg-buildpackage -B -us -uc -a"$arch" -Pcross,nocheck
		dpkg-deb -x "/build/ex2-client_${version}_$arch.deb" "/build/root-$arch"
		cmake -S "$tree" -B "/build/test-$arch" --toolchain cmake/toolchain-cross.cmake \
		    -DEX2_ARCH="$arch" >/dev/null
		test_shipped "/build/test-$arch" "/build/root-$arch/usr/bin/ex2-client"
	done
	step "lintian --pedantic on the packages built here"
	lintian --pedantic --fail-on error,warning /build/*.changes
	cp /build/*.deb /build/out/
}

in_bookworm() {
	record bookworm >/build/out/root.info
	packages "${bookworm_debs[@]}"
	cp /build/*.dsc /build/*.tar.xz /build/out/
	step "the amd64 package installed in Debian 12 (autopkgtest)"
	autopkgtest_deb "/build/ex2-client_${version}_amd64.deb"
}

# readme_commands NAME: the commands between README.md's markers
# <!-- NAME --> and <!-- /NAME -->.
readme_commands() {
	sed -n "/^<!-- $1 -->\$/,/^<!-- \/$1 -->\$/p" "$tree/README.md" | grep -v -e '^<!--' -e '^```'
}

in_trixie() {
	record trixie >/build/out/root.info
	local arch build cpu name
	for arch in "${archs[@]}"; do
		step "static binary for $arch"
		build=/build/static-$arch
		cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
		    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON --toolchain "$tree/cmake/toolchain-musl.cmake" \
		    -DEX2_ARCH="$arch" >"$build.log" || { cat "$build.log"; die "cannot configure $build"; }
		cmake --build "$build" >>"$build.log" || { cat "$build.log"; die "cannot build $build"; }
		cpu=$(sed -n 's/^set(CMAKE_SYSTEM_PROCESSOR "\(.*\)")$/\1/p' "$build"/CMakeFiles/*/CMakeSystem.cmake)
		name=ex2-client-$version-$cpu-linux
		cmake --install "$build" --prefix "/build/stage-$arch" --strip >>"$build.log"
		mkdir -p "/build/pack/$name"
		install -m 755 "/build/stage-$arch/bin/ex2-client" "/build/pack/$name/"
		install -m 644 "$tree/ex2-client.1" "$tree/LICENSE" "$tree/README.md" "/build/pack/$name/"
		test_shipped "$build" "/build/pack/$name/ex2-client"
		tar -C /build/pack --sort=name --format=ustar --owner=0 --group=0 --numeric-owner \
		    --mtime="@$SOURCE_DATE_EPOCH" -cf - "$name" | gzip -9n >"/build/out/$name.tar.gz"
	done
	step "the README's install and removal of the x86_64 tarball leave /usr/local as it was"
	local before said status=0
	before=$(find /usr/local | sort)
	(cd /build/pack && readme_commands install | sh -ex)
	said=$(cd /build && ex2-client 2>&1) || status=$?
	if [ "$status" -ne 1 ] || [ "$said" != 'open: No such file or directory' ]; then
		die "the installed client said '$said', status $status"
	fi
	test -f /usr/local/share/man/man1/ex2-client.1
	readme_commands remove | sh -ex
	[ "$(find /usr/local | sort)" = "$before" ] ||
		die "removal left /usr/local changed: $(diff <(echo "$before") <(find /usr/local | sort))"
	packages "${trixie_debs[@]}"
	step "the amd64 package installed in Debian 13 (autopkgtest)"
	autopkgtest_deb "/build/in/ex2-client_${version}_amd64.deb"
}

if [ "${1:-}" = --in-root ]; then
	tests=$2 version=$3 tree=/build/ex2-client-$3
	mkdir /build/out
	"in_$4"
	exit 0
fi

# --- on this machine ----------------------------------------------------------

tests=yes
if [ "${1:-}" = --no-tests ]; then
	tests=no
	shift
fi
[ $# -eq 1 ] || [ $# -eq 2 ] || die "usage: release.sh [--no-tests] OUTDIR [SOURCE-TARBALL]"
[ "$(id -u)" -eq 0 ] || die "run me as root: mmdebstrap makes the roots"
command -v mmdebstrap >/dev/null || die "apt-get install mmdebstrap"
mkdir -p "$1"
out=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/ex2-release.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"

if [ $# -eq 2 ]; then
	tarball=$2
	version=$(basename "$tarball" .tar.gz)
	version=${version#ex2-client-}
	cp "$tarball" "$work/in/"
else
	src=$(cd "$(dirname "$0")/.." && pwd)
	[ -z "$(git -C "$src" status --porcelain)" ] ||
		die "the checkout has changes that no commit holds: a release is made of a commit"
	version=$(sed -n 's/^  VERSION \([0-9.]*\)$/\1/p' "$src/CMakeLists.txt")
	commit=$(git -C "$src" rev-parse HEAD)
	epoch=$(git -C "$src" log -1 --format=%ct)
	printf 'commit %s\nsource_date_epoch %s\n' "$commit" "$epoch" >"$work/COMMIT"
	chmod 644 "$work/COMMIT"
	touch -d "@$epoch" "$work/COMMIT"
	step "source tarball of $commit"
	git -C "$src" -c tar.umask=022 archive --format=tar --prefix="ex2-client-$version/" \
	    --add-file="$work/COMMIT" HEAD | gzip -9n >"$work/in/ex2-client-$version.tar.gz"
fi
tarball=$work/in/ex2-client-$version.tar.gz
read -r commit epoch < <(tar -xzOf "$tarball" "ex2-client-$version/COMMIT" |
    sed -n 's/^commit //p; s/^source_date_epoch //p' | paste -s -d ' ')
[ -n "$epoch" ] || die "$tarball holds no COMMIT"

# The archive this machine's apt uses, for the suite named. Only the
# suite itself: its -updates and -security may not serve every CPU at
# once, and a library that is Multi-Arch: same must be of one version on
# all of them.
. /etc/os-release
sources() {
	# shellcheck disable=SC2016 # apt's own $(FIELD) syntax
	apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Identifier: Packages' |
	    sort -u | while read -r uri release component; do
		[ "$release" = "$VERSION_CODENAME" ] || continue
		printf 'deb %s %s %s\n' "$uri" "$1" "$component"
	done
}

# in_root SUITE ARCHS PACKAGES: a root of SUITE for ARCHS that runs the
# tarball's own in_SUITE; its /build/out lands in $work/SUITE.
in_root() {
	local suite=$1 list
	list=$(sources "$suite")
	[ -n "$list" ] || die "no Debian archive in this machine's apt sources"
	mkdir "$work/$suite"
	# The root unpacks the tarball and runs the script inside it.
	printf 'tar -C /build -xzf /build/in/ex2-client-%s.tar.gz &&\n    exec env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 TZ=UTC SOURCE_DATE_EPOCH=%s bash /build/ex2-client-%s/tools/release.sh --in-root %s %s %s\n' \
	    "$version" "$epoch" "$version" "$tests" "$version" "$suite" >"$work/in/run"
	step "a Debian $suite root"
	# shellcheck disable=SC2016 # mmdebstrap's hooks expand $1, the root
	mmdebstrap --variant=buildd --architectures="$2" \
	    --skip=check/qemu --include="$3,$test_tools" \
	    --customize-hook='mkdir "$1/build"' \
	    --customize-hook="copy-in $work/in /build" \
	    --customize-hook='chroot "$1" sh /build/in/run' \
	    --customize-hook="sync-out /build/out $work/$suite" \
	    "$suite" /dev/null "$list"
	rm "$work/in/run"
}

# with PREFIX ARCH...: PREFIXARCH for each ARCH but amd64, comma-led.
with() {
	local arch
	for arch in "${@:2}"; do
		[ "$arch" = amd64 ] || printf ',%s%s' "$1" "$arch"
	done
}
tools=debhelper,cmake,ninja-build,lintian
in_root bookworm "$(IFS=,; echo "${bookworm_debs[*]}")" \
    "$tools$(with crossbuild-essential- "${bookworm_debs[@]}")$(with libc6-dev: "${bookworm_debs[@]}")"
cp "$work/bookworm/ex2-client_${version}_amd64.deb" "$work/in/"
in_root trixie "$(IFS=,; echo "${archs[*]}")" \
    "$tools,lld$(with crossbuild-essential- "${archs[@]}")$(with libc6-dev: "${trixie_debs[@]}"),musl-dev$(with musl-dev: "${archs[@]}")"

step "the release in $out"
cp "$tarball" "$work"/bookworm/*.dsc "$work"/bookworm/*.tar.xz "$work"/bookworm/*.deb \
    "$work"/trixie/*.deb "$work"/trixie/*.tar.gz "$out/"
buildinfo=ex2-client-$version.buildinfo
{
	printf 'Source: ex2-client\nVersion: %s\nCommit: %s\nSource-Date-Epoch: %s\n\n' \
	    "$version" "$commit" "$epoch"
	cat "$work/bookworm/root.info" "$work/trixie/root.info"
} >"$out/$buildinfo"
(cd "$out" && sha256sum ex2-client-"$version".tar.gz ex2-client_"$version".* \
    ex2-client_"$version"_*.deb ex2-client-"$version"-*-linux.tar.gz "$buildinfo" >SHA256SUMS &&
    cat SHA256SUMS)
