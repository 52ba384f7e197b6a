#!/usr/bin/env bash
# Installs what building and testing need, from Debian's archive, only when something is missing.
set -euo pipefail

need=()
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
# The launcher itself links with the win32 thread model's runtime (the tests need the posix one).
command -v i686-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-i686-win32)
command -v x86_64-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-x86-64-win32)
[ -x /usr/lib/wine/wine64 ] || need+=(wine wine64)
dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
command -v Xvfb >/dev/null || need+=(xvfb)
command -v cmake >/dev/null || need+=(cmake)
command -v extract_chmLib >/dev/null || need+=(libchm-bin)
command -v 7z >/dev/null || need+=(p7zip-full)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v xwd >/dev/null || need+=(x11-apps)
command -v python3 >/dev/null || need+=(python3)
command -v mcs >/dev/null || need+=(mono-mcs)
command -v mono >/dev/null || need+=(mono-runtime)
# Signing a launcher, as the tests do.
command -v osslsigncode >/dev/null || need+=(osslsigncode)
command -v openssl >/dev/null || need+=(openssl)
# The interface tests: Wine's headers (metahost.h, itss.h), Mono's reference assemblies and Mono.Cecil.
[ -f /usr/include/wine/wine/windows/metahost.h ] || need+=(libwine-dev)
[ -f /usr/lib/mono/4.8-api/mscorlib.dll ] || need+=(mono-devel)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
if [ ${#need[@]} -gt 0 ]; then
    echo "Installing: ${need[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
    fi
    export DEBIAN_FRONTEND=noninteractive
    # One index that fails to download (a mirror in mid-sync) leaves the others usable: say so and go on.
    # Its suite's packages for the other architecture may then be missing, so that i386 and amd64 versions
    # of one library no longer match; a second try takes the release's own suite, whose indexes agree.
    # Only an install that fails both ways ends the set-up.
    $SUDO apt-get update -qq || echo "warning: some package indexes could not be refreshed; installing from the rest" >&2
    install=($SUDO apt-get install -y -qq --no-install-recommends)
    if ! "${install[@]}" "${need[@]}" >/dev/null 2>&1; then
        codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
        echo "warning: the install failed; trying again with the versions of the $codename suite" >&2
        if ! "${install[@]}" ${codename:+-t "$codename"} "${need[@]}" >/dev/null; then
            echo "error: could not install ${need[*]} from Debian's archive (apt-get's messages are above)" >&2
            exit 1
        fi
    fi
fi

# The 32-bit product runs under CPU emulation, since these kernels execute no 32-bit code: qemu-i386 from
# qemu-user 10 of bookworm-backports (Debian 12's own 7.2 ignores Wine's address-space reservation hints
# and spends over a minute starting each 32-bit process). It is unpacked into the build folder through a
# private package list: nothing is installed, registered or added to apt's sources system-wide.
BUILD=${BUILD:-$(pwd)/build}

# The address of Debian's main archive as this machine's own apt sources give it (deb822 or one-line form),
# so that the backports suite comes from whatever mirror the machine uses.
debian_archive() {
    apt-get indextargets --no-release-info --format '$(SITE) $(RELEASE)' 'Created-By: Packages' 2>/dev/null |
        awk '$2 ~ /^bookworm(-updates)?$/ { print $1; exit }'
}

qemu=$BUILD/emu/bin/qemu-i386
if [ ! -x "$qemu" ]; then
    apt=$BUILD/emu/apt
    archive=$(debian_archive)
    if [ -z "$archive" ]; then
        echo "error: this machine's apt sources name no Debian bookworm archive to take bookworm-backports from" >&2
        exit 1
    fi
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources" "$(dirname "$qemu")"
    printf '%s\n' 'Types: deb' "URIs: $archive" 'Suites: bookworm-backports' \
        'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' >"$apt/sources/backports.sources"
    opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt/sources" -o "Dir::State::Lists=$apt/lists"
          -o "Dir::Cache=$apt/cache" -o APT::Architectures=amd64 -o APT::Sandbox::User=root)
    echo "Fetching qemu-user from bookworm-backports into $BUILD/emu"
    apt-get "${opts[@]}" update -qq
    (cd "$apt" && apt-get "${opts[@]}" download -qq qemu-user)
    dpkg-deb --fsys-tarfile "$apt"/qemu-user_*.deb | tar -x -O ./usr/bin/qemu-i386 >"$qemu.part"
    chmod +x "$qemu.part" && mv "$qemu.part" "$qemu"
    rm -rf "$apt"
fi
