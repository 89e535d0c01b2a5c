#!/usr/bin/env bash
# Installs the Debian packages that Tarnlight needs to build, run and test.
# Runs apt-get as root, or through sudo for another user.
set -euo pipefail

PACKAGES=(
    build-essential cmake pkg-config
    libdsk4 libdsk4-dev
    libcli11-dev nlohmann-json3-dev libpng-dev libspectrum-dev
    qt6-base-dev libgl-dev fonts-dejavu-core
    libgtest-dev
    # The fuzz targets: clang with libFuzzer and the sanitizers' runtime.
    clang-14 libclang-rt-14-dev
    # Test oracles: LibDsk's own utilities, cpmtools, and Fuse's listbasic
    # with zmakebas for BASIC listings.
    libdsk-utils cpmtools fuse-emulator-utils zmakebas
    # Failing system calls on purpose in the saving tests.
    strace
    # The window under a virtual X server, and its screenshots.
    xvfb xauth imagemagick
    # A real drag out of the window onto another program, under a window manager.
    openbox xdotool
    # The Debian packages and their check: the source package's build,
    # lintian, hardening-check, AppStream, the desktop's file-type database
    # and tools.
    dpkg-dev debhelper bash-completion git lintian devscripts appstream
    file shared-mime-info desktop-file-utils xdg-utils libfile-mimeinfo-perl man-db
)

missing=()
for package in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null; then
    as_root=(sudo)
else
    echo "ERROR: installing ${missing[*]} needs root: run this as root or install sudo" >&2
    exit 1
fi
"${as_root[@]}" apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}"
